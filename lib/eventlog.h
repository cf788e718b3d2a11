// Binding to the workstation's event-log library (evtlib03).
//
// The library is loaded once, at construction; every call looks its export
// up by name again, and one missing export silences the binding until it is
// torn down. Logging never fails an operation.
#pragma once

#include <cstdint>

#include "lib/messages.h"
#include "platform/platform.h"

class EventLog {
 public:
  explicit EventLog(plat::ModuleHandle self);
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  int32_t LogOemError(const char* source, int32_t line, const char* text);
  int32_t LogMemoryError(const char* source, int32_t line);
  int32_t LogException(const char* text);
  int32_t LogInformation(const char* text);
  int32_t LogSystemError(const char* text);
  int32_t LogOemMessage(const char* text);
  int32_t LogServiceStart(const char* name);
  int32_t LogServiceStop(const char* name);
  // Loads string 7100 of this library's string table and sends it through
  // LOGSYSTEMERROR.
  int32_t LogMessage7100();

  bool loaded() const { return library_ != nullptr; }
  bool failed() const { return failed_; }

  // The oldest log library accepted, as a packed file version.
  static constexpr uint32_t kMinimumVersion = 0x40008;
  // Tests load variants of the log library from an explicit path.
  static void SetLibraryNameForTesting(const char* name);

 private:
  void* Lookup(const char* name);

  plat::ModuleHandle library_ = nullptr;
  bool failed_ = false;
  plat::ModuleHandle self_ = nullptr;
};
