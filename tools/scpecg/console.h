// What the tool says on standard error: errors, the library's log lines and
// a progress bar, which gives way to any other line.
#pragma once

#include <cstddef>
#include <string>

namespace scpecg {

class Console {
 public:
  static Console& Get();

  void SetVerbose(bool verbose) { verbose_ = verbose; }
  bool verbose() const { return verbose_; }

  // "scpecg: " + text, always.
  void Error(const std::string& text);
  // A line as it is, always.
  void Line(const std::string& text);
  // A line only with -v.
  void Detail(const std::string& text);

  // Only when standard error is a terminal; otherwise does nothing.
  void Progress(size_t done, size_t total, const std::string& label);
  void EndProgress();

 private:
  Console();
  void ClearBar();

  bool verbose_ = false;
  bool tty_ = false;
  bool barShown_ = false;
  size_t done_ = 0, total_ = 0;
  std::string label_;
};

}  // namespace scpecg
