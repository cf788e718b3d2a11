#include "tools/scpecg/text.h"

#include <cstdio>

namespace scpecg {

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

bool Utf8ToLatin1(std::string_view utf8, std::string* out, uint32_t* bad) {
  out->clear();
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = 0;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      if (bad) *bad = c;
      return false;
    }
    if (i + len > utf8.size()) {
      if (bad) *bad = c;
      return false;
    }
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    if (cp > 0xFF) {
      if (bad) *bad = cp;
      return false;
    }
    out->push_back(static_cast<char>(cp));
    i += len;
  }
  return true;
}

std::string Printable(std::string_view latin1) {
  std::string out;
  for (unsigned char c : latin1) {
    if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out += Latin1ToUtf8(std::string_view(reinterpret_cast<const char*>(&c), 1));
    }
  }
  return out;
}

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string Base64Encode(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest == 1) {
    const uint32_t v = uint32_t{bytes[i]} << 16;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    const uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

bool Base64Decode(std::string_view text, std::vector<uint8_t>* out) {
  out->clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=') {
        // Padding only at the very end, in the last one or two places.
        if (i + 4 != text.size() || k < 2) return false;
        v[k] = 0;
        ++pad;
      } else {
        if (pad > 0) return false;
        v[k] = Base64Value(c);
        if (v[k] < 0) return false;
      }
    }
    const uint32_t w = (uint32_t(v[0]) << 18) | (uint32_t(v[1]) << 12) | (uint32_t(v[2]) << 6) | uint32_t(v[3]);
    out->push_back(static_cast<uint8_t>(w >> 16));
    if (pad < 2) out->push_back(static_cast<uint8_t>(w >> 8));
    if (pad < 1) out->push_back(static_cast<uint8_t>(w));
  }
  return true;
}

namespace {

bool IsFlat(const Json& array) {
  for (const auto& e : array)
    if (e.is_structured()) return false;
  return true;
}

void Print(const Json& v, int indent, int depth, std::string& out) {
  const std::string pad(static_cast<size_t>(indent * (depth + 1)), ' ');
  const std::string closePad(static_cast<size_t>(indent * depth), ' ');
  if (v.is_object()) {
    if (v.empty()) {
      out += "{}";
      return;
    }
    out += "{\n";
    bool first = true;
    for (auto it = v.begin(); it != v.end(); ++it) {
      if (!first) out += ",\n";
      first = false;
      out += pad;
      out += Json(it.key()).dump();
      out += ": ";
      Print(it.value(), indent, depth + 1, out);
    }
    out += "\n" + closePad + "}";
  } else if (v.is_array()) {
    if (v.empty()) {
      out += "[]";
      return;
    }
    if (IsFlat(v)) {
      out += '[';
      bool first = true;
      for (const auto& e : v) {
        if (!first) out += ',';
        first = false;
        out += e.dump(-1, ' ', false, Json::error_handler_t::strict);
      }
      out += ']';
      return;
    }
    out += "[\n";
    bool first = true;
    for (const auto& e : v) {
      if (!first) out += ",\n";
      first = false;
      out += pad;
      Print(e, indent, depth + 1, out);
    }
    out += "\n" + closePad + "]";
  } else {
    out += v.dump();
  }
}

}  // namespace

std::string PrintJson(const Json& value, int indent) {
  std::string out;
  Print(value, indent, 0, out);
  out += '\n';
  return out;
}

int64_t MulDivRound(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return -1;
  const int64_t p = a * b;
  const bool negative = (p < 0) != (c < 0);
  const int64_t ap = p < 0 ? -p : p;
  const int64_t ac = c < 0 ? -c : c;
  const int64_t q = (ap + ac / 2) / ac;
  return negative ? -q : q;
}

}  // namespace scpecg
