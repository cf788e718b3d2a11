// Reads back what the event-log stand-in wrote during a test.
#pragma once

#include <string>
#include <vector>

struct LogLine {
  std::string call;
  std::string source;  // empty when the call has none
  int line = -1;       // -1 when the call has none
  std::string text;    // 8-bit text as the library sent it
  bool hasText = false;
};

// Points EVTLIB03_LOG at a fresh file for its lifetime. Construct it before
// the EventLog (or LIBSTART) whose calls it should see.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogLine> Lines() const;
  // Lines other than LIBSTART/LIBSTOP and the service start/stop lines.
  std::vector<LogLine> Messages() const;
  void Clear() const;
  bool Has(const std::string& call, const std::string& source, int line, const std::string& text) const;
  bool HasText(const std::string& call, const std::string& text) const;
  size_t Count(const std::string& call) const;
  // Every line as "CALL source:line text", one per line, for failure output.
  std::string Dump() const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
  bool hadPrevious_ = false;
};
