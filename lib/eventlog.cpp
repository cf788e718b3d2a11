#include "lib/eventlog.h"

#include <string>

#include "platform/resources.h"

namespace {
using LogText = int32_t(SCP_STDCALL*)(const char*);
using LogSourceLine = int32_t(SCP_STDCALL*)(const char*, int32_t);
using LogSourceLineText = int32_t(SCP_STDCALL*)(const char*, int32_t, const char*);
using LogNone = int32_t(SCP_STDCALL*)();

std::string& LibraryName() {
  static std::string name = "evtlib03.dll";
  return name;
}

// Calls a logging entry of one text, when the library has it.
int32_t CallText(void* fn, const char* text) { return fn ? reinterpret_cast<LogText>(fn)(text) : 0; }
}  // namespace

void EventLog::SetLibraryNameForTesting(const char* name) {
  LibraryName() = name ? name : "evtlib03.dll";
}

EventLog::EventLog(plat::ModuleHandle self) : self_(self) {
  library_ = plat::LoadLibrary(LibraryName().c_str());
  if (library_ == nullptr) return;
  plat::FileVersion version{};
  uint32_t packed = plat::GetModuleFileVersion(library_, &version) ? version.Packed() : 0;
  if (packed < kMinimumVersion) {
    failed_ = true;
    plat::FreeLibrary(library_);
    library_ = nullptr;
    return;
  }
  if (auto start = reinterpret_cast<LogNone>(plat::GetProcAddress(library_, "LIBSTART"))) start();
}

EventLog::~EventLog() {
  failed_ = false;
  if (library_ == nullptr) return;
  if (auto stop = reinterpret_cast<LogNone>(plat::GetProcAddress(library_, "LIBSTOP"))) stop();
  plat::FreeLibrary(library_);
  library_ = nullptr;
}

void* EventLog::Lookup(const char* name) {
  if (failed_ || library_ == nullptr) return nullptr;
  void* fn = plat::GetProcAddress(library_, name);
  if (fn == nullptr) failed_ = true;
  return fn;
}

int32_t EventLog::LogOemError(const char* source, int32_t line, const char* text) {
  auto fn = reinterpret_cast<LogSourceLineText>(Lookup("LOGOEMERROR"));
  return fn ? fn(source, line, text) : 0;
}

int32_t EventLog::LogMemoryError(const char* source, int32_t line) {
  auto fn = reinterpret_cast<LogSourceLine>(Lookup("LOGMEMORYERROR"));
  return fn ? fn(source, line) : 0;
}

int32_t EventLog::LogException(const char* text) { return CallText(Lookup("LOGEXCEPTION"), text); }
int32_t EventLog::LogInformation(const char* text) { return CallText(Lookup("LOGINFORMATION"), text); }
int32_t EventLog::LogSystemError(const char* text) { return CallText(Lookup("LOGSYSTEMERROR"), text); }
int32_t EventLog::LogOemMessage(const char* text) { return CallText(Lookup("LOGOEMMESSAGE"), text); }
int32_t EventLog::LogServiceStart(const char* name) { return CallText(Lookup("LOGSERVICESTART"), name); }
int32_t EventLog::LogServiceStop(const char* name) { return CallText(Lookup("LOGSERVICESTOP"), name); }

int32_t EventLog::LogMessage7100() {
  char text[256];
  plat::LoadString(self_, plat::kMessageSaveFailed, text, sizeof text);
  return LogSystemError(text);
}

void LogOem(EventLog* log, const Message& m) {
  if (log != nullptr) log->LogOemError(m.source, m.line, m.text);
}

void LogOem(EventLog* log, const Message& m, const char* text) {
  if (log != nullptr) log->LogOemError(m.source, m.line, text);
}

void LogMemory(EventLog* log, const Message& m) {
  if (log != nullptr) log->LogMemoryError(m.source, m.line);
}

void LogSystem(EventLog* log, const Message& m) {
  if (log != nullptr) log->LogSystemError(m.text);
}
