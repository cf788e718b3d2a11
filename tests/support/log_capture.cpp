#include "log_capture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_util.h"

namespace {

bool ParseString(const std::string& s, size_t& i, std::string* out) {
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  out->clear();
  while (i < s.size() && s[i] != '"') {
    char c = s[i++];
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (i >= s.size()) return false;
    char e = s[i++];
    switch (e) {
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case 't': out->push_back('\t'); break;
      case 'u': {
        if (i + 4 > s.size()) return false;
        unsigned v = static_cast<unsigned>(std::stoul(s.substr(i, 4), nullptr, 16));
        i += 4;
        out->push_back(static_cast<char>(v & 0xFF));  // the stand-in escapes Latin-1 bytes
        break;
      }
      default: out->push_back(e);
    }
  }
  if (i >= s.size()) return false;
  ++i;
  return true;
}

}  // namespace

bool ParseLogLine(const std::string& s, LogLine* out) {
  size_t i = 0;
  auto skip = [&] { while (i < s.size() && (s[i] == ' ' || s[i] == ',')) ++i; };
  if (s.empty() || s[0] != '{') return false;
  ++i;
  *out = LogLine{};
  while (true) {
    skip();
    if (i >= s.size()) return false;
    if (s[i] == '}') return !out->call.empty();
    std::string key;
    if (!ParseString(s, i, &key)) return false;
    if (i >= s.size() || s[i] != ':') return false;
    ++i;
    if (s.compare(i, 4, "null") == 0) {
      i += 4;
      if (key == "text") out->hasText = true;
      continue;
    }
    if (s[i] == '"') {
      std::string value;
      if (!ParseString(s, i, &value)) return false;
      if (key == "call") out->call = value;
      else if (key == "source") out->source = value;
      else if (key == "text") { out->text = value; out->hasText = true; }
      continue;
    }
    size_t end = i;
    while (end < s.size() && (s[end] == '-' || (s[end] >= '0' && s[end] <= '9'))) ++end;
    if (end == i) return false;
    if (key == "line") out->line = std::stoi(s.substr(i, end - i));
    i = end;
  }
}

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
