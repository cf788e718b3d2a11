#include "tools/scpecg/console.h"

#include <unistd.h>

#include <cstdio>

namespace scpecg {

Console& Console::Get() {
  static Console console;
  return console;
}

Console::Console() : tty_(isatty(STDERR_FILENO) != 0) {}

void Console::ClearBar() {
  if (!barShown_) return;
  std::fputs("\r\033[K", stderr);
  barShown_ = false;
}

void Console::Error(const std::string& text) { Line("scpecg: " + text); }

void Console::Line(const std::string& text) {
  const bool redraw = barShown_;
  ClearBar();
  std::fputs(text.c_str(), stderr);
  std::fputc('\n', stderr);
  if (redraw) Progress(done_, total_, label_);
  std::fflush(stderr);
}

void Console::Detail(const std::string& text) {
  if (verbose_) Line(text);
}

void Console::Progress(size_t done, size_t total, const std::string& label) {
  if (!tty_ || total == 0) return;
  done_ = done;
  total_ = total;
  label_ = label;
  constexpr size_t kWidth = 30;
  const size_t filled = done * kWidth / total;
  std::string bar(filled, '#');
  bar.append(kWidth - filled, '-');
  std::string shown = label.size() > 40 ? "..." + label.substr(label.size() - 37) : label;
  std::fprintf(stderr, "\r\033[K[%s] %zu/%zu %s", bar.c_str(), done, total, shown.c_str());
  std::fflush(stderr);
  barShown_ = true;
}

void Console::EndProgress() {
  ClearBar();
  std::fflush(stderr);
}

}  // namespace scpecg
