#include "tools/scpecg/host.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "lib/dbclient/c_test.h"
#include "tools/scpecg/console.h"
#include "tools/scpecg/text.h"

namespace scpecg {

bool ParseLogEntry(const std::string& line, LogEntry* out) {
  Json j = Json::parse(line, nullptr, false);
  if (j.is_discarded() || !j.is_object() || !j.contains("call") || !j["call"].is_string()) return false;
  LogEntry e;
  e.raw = line;
  e.call = j["call"].get<std::string>();
  if (j.contains("source") && j["source"].is_string()) e.source = j["source"].get<std::string>();
  if (j.contains("line") && j["line"].is_number_integer()) e.line = j["line"].get<int>();
  if (j.contains("text")) {
    if (j["text"].is_string()) {
      uint32_t bad = 0;
      if (!Utf8ToLatin1(j["text"].get<std::string>(), &e.text, &bad)) e.text = j["text"].get<std::string>();
      e.hasText = true;
    }
  }
  *out = std::move(e);
  return true;
}

bool IsProblem(const LogEntry& e) {
  return e.call == "LOGOEMERROR" || e.call == "LOGMEMORYERROR" || e.call == "LOGSYSTEMERROR" ||
         e.call == "LOGEXCEPTION";
}

std::string FormatLogEntry(const LogEntry& e) {
  std::string where;
  if (!e.source.empty() || e.line >= 0) {
    where = e.source.empty() ? "?" : e.source;
    if (e.line >= 0) where += ":" + std::to_string(e.line);
  }
  if (e.call == "LOGMEMORYERROR") return where + " memory error";
  if (e.call == "LOGOEMERROR") return where + " " + Printable(e.text);
  std::string kind;
  if (e.call == "LOGSYSTEMERROR") kind = "system";
  else if (e.call == "LOGEXCEPTION") kind = "exception";
  else if (e.call == "LOGINFORMATION") kind = "info";
  else if (e.call == "LOGOEMMESSAGE") kind = "message";
  else if (e.call == "LOGSERVICESTART") kind = "start";
  else if (e.call == "LOGSERVICESTOP") kind = "stop";
  else kind = e.call;
  if (!e.hasText) return kind;
  return kind + ": " + Printable(e.text);
}

Library::Library() {
  if (const char* previous = std::getenv("EVTLIB03_LOG")) {
    hadPrevious_ = true;
    forwardPath_ = previous;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "scpecg-log-XXXXXX").string();
  int fd = mkstemp(pattern.data());
  if (fd >= 0) {
    close(fd);
    logPath_ = pattern;
    setenv("EVTLIB03_LOG", logPath_.c_str(), 1);
  }
  LIBSTART();
  Collect("LIBSTART");
}

Library::~Library() {
  LIBSTOP();
  Collect("LIBSTOP");
  if (!logPath_.empty()) std::remove(logPath_.c_str());
  if (hadPrevious_)
    setenv("EVTLIB03_LOG", forwardPath_.c_str(), 1);
  else
    unsetenv("EVTLIB03_LOG");
}

int32_t Library::Save(TestRecord* record, const std::string& path) {
  const int32_t r = SAVETESTRECORD(record, path.c_str());
  Collect("SAVETESTRECORD", path);
  return r;
}

int32_t Library::Fetch(TestRecord* record) {
  const int32_t r = FETCHTEST(record);
  Collect("FETCHTEST", record != nullptr ? record->GetFilePath() : "");
  return r;
}

int32_t Library::IsValidFormat(const std::string& path, ValidFormatInfo* info) {
  const int32_t r = ISVALIDFORMAT(path.c_str(), info);
  Collect("ISVALIDFORMAT", path);
  return r;
}

int32_t Library::GetProcedureType(const std::string& path) {
  const int32_t r = GETPROCEDURETYPE(path.c_str());
  Collect("GETPROCEDURETYPE", path);
  return r;
}

void Library::Collect(const char* exportName, const std::string& file) {
  last_.clear();
  if (logPath_.empty()) return;
  std::ifstream in(logPath_, std::ios::binary);
  if (!in) return;
  in.seekg(static_cast<std::streamoff>(offset_));
  std::string line;
  std::string forwarded;
  // Only whole lines count; a partial last line is read on the next call.
  while (std::getline(in, line)) {
    if (in.eof()) break;
    offset_ += line.size() + 1;
    LogEntry e;
    if (!ParseLogEntry(line, &e)) continue;
    forwarded += line + "\n";
    const std::string shown =
        (file.empty() ? std::string() : file + ": ") + "[" + exportName + "] " + FormatLogEntry(e);
    if (IsProblem(e) && !problemsAsDetail_)
      Console::Get().Line(shown);
    else
      Console::Get().Detail(shown);
    last_.push_back(std::move(e));
  }
  if (hadPrevious_ && !forwardPath_.empty() && !forwarded.empty()) {
    std::ofstream out(forwardPath_, std::ios::binary | std::ios::app);
    out << forwarded;
  }
}

}  // namespace scpecg
