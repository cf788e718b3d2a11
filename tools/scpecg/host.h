// The plug-in as a workstation uses it: LIBSTART once, the data exports,
// LIBSTOP at the end. The event log of every call is read back from the
// log stand-in's file and shown on standard error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scp/scpsrv.h"

class TestRecord;

namespace scpecg {

struct LogEntry {
  std::string call;
  std::string source;  // empty when the call carries none
  int line = -1;       // -1 when the call carries none
  std::string text;    // 8-bit text as the library sent it
  bool hasText = false;
  std::string raw;     // the JSON line
};

// Parses one line of the stand-in's output; false when it is not one.
bool ParseLogEntry(const std::string& json, LogEntry* out);
// Errors and warnings; the rest (information, service lines) is shown with -v.
bool IsProblem(const LogEntry& entry);
// "scpecg:4440 SCP-ECG: Buffer overflow", "system: <text>", ...
std::string FormatLogEntry(const LogEntry& entry);

class Library {
 public:
  // Points EVTLIB03_LOG at a fresh file, then LIBSTART. When the caller had
  // EVTLIB03_LOG set, every line is copied there as well.
  Library();
  // LIBSTOP, then removes the file and restores the environment.
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  int32_t Save(TestRecord* record, const std::string& path);
  int32_t Fetch(TestRecord* record);
  int32_t IsValidFormat(const std::string& path, ValidFormatInfo* info);
  int32_t GetProcedureType(const std::string& path);

  // The log lines of the most recent call.
  const std::vector<LogEntry>& lastLines() const { return last_; }
  // Shows the library's problems only with -v, like its other lines: for
  // calls whose waveform the tool's own reader replaces.
  void ProblemsAsDetail(bool on) { problemsAsDetail_ = on; }

 private:
  // Reads what the last call logged and shows it, prefixed with the file
  // the call was about and the export.
  void Collect(const char* exportName, const std::string& file = "");

  std::string logPath_;
  std::string forwardPath_;
  bool hadPrevious_ = false;
  uint64_t offset_ = 0;
  std::vector<LogEntry> last_;
  bool problemsAsDetail_ = false;
};

}  // namespace scpecg
