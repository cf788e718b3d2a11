#include "log_capture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_util.h"

namespace {

// A JSON string at s[i] (i on the opening quote); the stand-in writes bytes
// above 127 as \u00XX, which come back as the one byte they stand for.
bool ParseString(const std::string& s, size_t& i, std::string* out) {
  out->clear();
  if (s[i++] != '"') return false;
  for (; i < s.size() && s[i] != '"'; ++i) {
    if (s[i] != '\\') {
      out->push_back(s[i]);
    } else if (++i < s.size()) {
      const char e = s[i];
      if (e == 'u' && i + 4 < s.size()) out->push_back(static_cast<char>(std::stoul(s.substr(i + 1, 4), nullptr, 16)));
      else out->push_back(e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e);
      if (e == 'u') i += 4;
    }
  }
  return i++ < s.size();
}

// One line of the stand-in's output; false when it is not such a line.
bool ParseLogLine(const std::string& s, LogLine* out) {
  *out = LogLine{};
  if (s.empty() || s[0] != '{') return false;
  for (size_t i = 1; i < s.size();) {
    if (s[i] == ' ' || s[i] == ',') {
      ++i;
      continue;
    }
    if (s[i] == '}') return !out->call.empty();
    std::string key, value;
    if (!ParseString(s, i, &key) || i >= s.size() || s[i++] != ':') return false;
    if (key == "text") out->hasText = true;
    if (s.compare(i, 4, "null") == 0) {
      i += 4;
    } else if (s[i] == '"') {
      if (!ParseString(s, i, &value)) return false;
      (key == "call" ? out->call : key == "source" ? out->source : key == "text" ? out->text : key) = value;
    } else {
      const size_t end = s.find_first_not_of("-0123456789", i);
      if (end == i || end == std::string::npos) return false;
      if (key == "line") out->line = std::stoi(s.substr(i, end - i));
      i = end;
    }
  }
  return false;
}

}  // namespace

LogCapture::LogCapture() {
  static int serial = 0;
  path_ = TempPath("evtlog" + std::to_string(++serial) + ".jsonl");
  std::remove(path_.c_str());
  if (const char* p = std::getenv("EVTLIB03_LOG")) {
    previous_ = p;
    hadPrevious_ = true;
  }
  SetEnv("EVTLIB03_LOG", path_.c_str());
}

LogCapture::~LogCapture() {
  if (hadPrevious_) SetEnv("EVTLIB03_LOG", previous_.c_str());
  else UnsetEnv("EVTLIB03_LOG");
  std::remove(path_.c_str());
}

std::vector<LogLine> LogCapture::Lines() const {
  std::vector<LogLine> lines;
  std::ifstream in(path_, std::ios::binary);
  std::string text;
  while (std::getline(in, text)) {
    LogLine l;
    if (ParseLogLine(text, &l)) lines.push_back(l);
  }
  return lines;
}

std::vector<LogLine> LogCapture::Messages() const {
  std::vector<LogLine> out;
  for (auto& l : Lines())
    if (l.call != "LIBSTART" && l.call != "LIBSTOP" && l.call != "LOGSERVICESTART" && l.call != "LOGSERVICESTOP")
      out.push_back(l);
  return out;
}

void LogCapture::Clear() const { std::ofstream(path_, std::ios::binary | std::ios::trunc); }

bool LogCapture::Has(const std::string& call, const std::string& source, int line, const std::string& text) const {
  for (auto& l : Lines())
    if (l.call == call && l.source == source && l.line == line && l.text == text) return true;
  return false;
}

bool LogCapture::HasText(const std::string& call, const std::string& text) const {
  for (auto& l : Lines())
    if (l.call == call && l.text == text) return true;
  return false;
}

size_t LogCapture::Count(const std::string& call) const {
  size_t n = 0;
  for (auto& l : Lines()) n += l.call == call;
  return n;
}

std::string LogCapture::Dump() const {
  std::ostringstream os;
  for (auto& l : Lines()) {
    os << l.call;
    if (!l.source.empty() || l.line >= 0) os << ' ' << l.source << ':' << l.line;
    if (l.hasText) os << " \"" << l.text << '"';
    os << '\n';
  }
  return os.str();
}
