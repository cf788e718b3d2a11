// What the record's JSON form is made of, both ways: texts, dates and
// numbers as JSON, and In, which checks a JSON value against what a field
// can hold and collects "$.path: what is wrong" lines.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "lib/timestmp.h"
#include "tools/scpecg/text.h"

namespace scpecg {

constexpr int64_t kU32 = 0xFFFFFFFFll;
constexpr size_t kMaxErrors = 30;

// ------------------------------------------------------------ dump helpers

// Raw bytes with trailing NULs dropped (NULs inside are kept).
inline std::string TrimmedBytes(const char* bytes, size_t n) {
  while (n > 0 && bytes[n - 1] == '\0') --n;
  return Latin1ToUtf8(std::string_view(bytes, n));
}

inline Json DateJson(const CalendarDate* d) {
  if (d == nullptr || (d->year == 0 && d->month == 0 && d->day == 0)) return nullptr;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", d->year, d->month, d->day);
  return buf;
}

// The acquisition time and the interpretation time stamps are stored
// without hundredths; the overread time stamp (tag 230) keeps them.
inline Json DateTimeJson(const DateTime* d, bool hundredths) {
  if (d == nullptr) return nullptr;
  const bool zero = d->year == 0 && d->month == 0 && d->day == 0 && d->hour == 0 && d->minute == 0 &&
                    d->second == 0 && (!hundredths || d->hundredths == 0);
  if (zero) return nullptr;
  char buf[48];
  if (hundredths)
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%02u", d->year, d->month, d->day, d->hour,
                  d->minute, d->second, d->hundredths);
  else
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u", d->year, d->month, d->day, d->hour,
                  d->minute, d->second);
  return buf;
}

template <typename T>
inline Json Numbers(const T* values, size_t n) {
  Json a = Json::array();
  for (size_t i = 0; i < n; ++i) a.push_back(values[i]);
  return a;
}

// ------------------------------------------------------------- build helpers

inline std::string TypeName(const Json& j) {
  if (j.is_null()) return "null";
  if (j.is_boolean()) return "a boolean";
  if (j.is_number_integer()) return "an integer";
  if (j.is_number()) return "a fraction";
  if (j.is_string()) return "a string";
  if (j.is_array()) return "an array";
  return "an object";
}

inline std::string Key(const std::string& path, const std::string& key) { return path + "." + key; }
inline std::string At(const std::string& path, size_t i) { return path + "[" + std::to_string(i) + "]"; }

class In {
 public:
  explicit In(std::vector<std::string>* errors) : errors_(errors) {}

  bool ok() const { return failures_ == 0; }

  void Fail(const std::string& path, const std::string& message) {
    ++failures_;
    if (errors_->size() < kMaxErrors)
      errors_->push_back(path + ": " + message);
    else if (errors_->size() == kMaxErrors)
      errors_->push_back("... (more problems not shown)");
  }

  bool Object(const Json& j, const std::string& path, const std::vector<std::string>& allowed,
              const std::vector<std::string>& required = {}) {
    if (!j.is_object()) {
      Fail(path, "expected an object, got " + TypeName(j));
      return false;
    }
    bool good = true;
    for (auto it = j.begin(); it != j.end(); ++it) {
      if (std::find(allowed.begin(), allowed.end(), it.key()) == allowed.end()) {
        Fail(Key(path, it.key()), "unknown key");
        good = false;
      }
    }
    for (const std::string& k : required) {
      if (!j.contains(k)) {
        Fail(Key(path, k), "missing");
        good = false;
      }
    }
    return good;
  }

  bool Int(const Json& j, const std::string& path, int64_t lo, int64_t hi, int64_t* out) {
    if (!j.is_number_integer()) {
      Fail(path, "expected an integer, got " + TypeName(j));
      return false;
    }
    int64_t v = 0;
    if (j.is_number_unsigned()) {
      const uint64_t u = j.get<uint64_t>();
      if (u > static_cast<uint64_t>(INT64_MAX)) {
        Fail(path, std::to_string(u) + " is out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")");
        return false;
      }
      v = static_cast<int64_t>(u);
    } else {
      v = j.get<int64_t>();
    }
    if (v < lo || v > hi) {
      Fail(path, std::to_string(v) + " is out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")");
      return false;
    }
    *out = v;
    return true;
  }

  template <typename T>
  bool Number(const Json& j, const std::string& path, int64_t lo, int64_t hi, T* out) {
    int64_t v = 0;
    if (!Int(j, path, lo, hi, &v)) return false;
    *out = static_cast<T>(v);
    return true;
  }

  // A text of at most maxChars 8-bit characters. NUL is refused unless allowed.
  bool Text(const Json& j, const std::string& path, size_t maxChars, std::string* out, bool allowNul = false) {
    if (!j.is_string()) {
      Fail(path, "expected a string, got " + TypeName(j));
      return false;
    }
    uint32_t bad = 0;
    if (!Utf8ToLatin1(j.get<std::string>(), out, &bad)) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "U+%04X", bad);
      Fail(path, std::string("character ") + buf + " cannot be stored (texts are 8-bit, Latin-1)");
      return false;
    }
    if (!allowNul && out->find('\0') != std::string::npos) {
      Fail(path, "a text cannot hold the character U+0000");
      return false;
    }
    if (out->size() > maxChars) {
      Fail(path, "text of " + std::to_string(out->size()) + " characters is too long (at most " +
                     std::to_string(maxChars) + ")");
      return false;
    }
    return true;
  }

  // An array of n elements (n = exact when exact >= 0, else within lo..hi).
  bool Array(const Json& j, const std::string& path, size_t lo, size_t hi) {
    if (!j.is_array()) {
      Fail(path, "expected an array, got " + TypeName(j));
      return false;
    }
    if (j.size() < lo || j.size() > hi) {
      if (lo == hi)
        Fail(path, "expected " + std::to_string(lo) + " elements, got " + std::to_string(j.size()));
      else
        Fail(path, std::to_string(j.size()) + " elements is out of range (" + std::to_string(lo) + " to " +
                       std::to_string(hi) + ")");
      return false;
    }
    return true;
  }

  // An optional key of obj: true when it is absent or holds a number in
  // lo..hi (then in *out).
  template <typename T>
  bool Field(const Json& obj, const std::string& path, const char* key, int64_t lo, int64_t hi, T* out) {
    return !obj.contains(key) || Number(obj[key], Key(path, key), lo, hi, out);
  }

  // An optional key of obj that fills the whole of out, each value in lo..hi.
  template <typename T, size_t N>
  bool Fill(const Json& obj, const std::string& path, const char* key, int64_t lo, int64_t hi, T (&out)[N]) {
    std::vector<T> v;
    if (!obj.contains(key)) return true;
    if (!Numbers(obj[key], Key(path, key), N, N, lo, hi, &v)) return false;
    std::copy(v.begin(), v.end(), out);
    return true;
  }

  // A list of at most max elements that holds something: null, not an
  // empty list, stands for none.
  bool List(const Json& j, const std::string& path, size_t max, const std::string& what) {
    if (!Array(j, path, 0, max)) return false;
    if (j.empty()) Fail(path, "an empty list is not stored; use null for no " + what);
    return !j.empty();
  }

  template <typename T>
  bool Numbers(const Json& j, const std::string& path, size_t lo, size_t hi, int64_t vlo, int64_t vhi,
               std::vector<T>* out) {
    if (!Array(j, path, lo, hi)) return false;
    out->assign(j.size(), T{});
    bool good = true;
    for (size_t i = 0; i < j.size(); ++i) {
      int64_t v = 0;
      // Fast path for the long sample arrays.
      if (j[i].is_number_integer() && !j[i].is_number_unsigned()) {
        v = j[i].get<int64_t>();
        if (v >= vlo && v <= vhi) {
          (*out)[i] = static_cast<T>(v);
          continue;
        }
      }
      if (Int(j[i], At(path, i), vlo, vhi, &v))
        (*out)[i] = static_cast<T>(v);
      else
        good = false;
      if (failures_ > kMaxErrors) return false;
    }
    return good;
  }

 private:
  std::vector<std::string>* errors_;
  size_t failures_ = 0;
};

struct DateParts {
  int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, hundredths = 0;
};

enum class DateKind { kDate, kDateTime, kDateTimeHundredths };

inline bool ParseDate(In& in, const Json& j, const std::string& path, DateKind kind, DateParts* d) {
  if (!j.is_string()) {
    in.Fail(path, "expected a date string or null, got " + TypeName(j));
    return false;
  }
  static const std::regex kDate(R"(^(\d{4,5})-(\d{2})-(\d{2})$)");
  static const std::regex kDateTime(R"(^(\d{4,5})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})$)");
  static const std::regex kDateTimeHs(R"(^(\d{4,5})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})\.(\d{2})$)");
  const std::string s = j.get<std::string>();
  std::smatch m;
  const char* form = kind == DateKind::kDate           ? "YYYY-MM-DD"
                     : kind == DateKind::kDateTime     ? "YYYY-MM-DDThh:mm:ss"
                                                       : "YYYY-MM-DDThh:mm:ss.hh";
  const std::regex& re = kind == DateKind::kDate ? kDate : kind == DateKind::kDateTime ? kDateTime : kDateTimeHs;
  if (!std::regex_match(s, m, re)) {
    in.Fail(path, "\"" + s + "\" is not a date of the form " + form);
    return false;
  }
  d->year = std::stoll(m[1]);
  d->month = std::stoll(m[2]);
  d->day = std::stoll(m[3]);
  if (kind != DateKind::kDate) {
    d->hour = std::stoll(m[4]);
    d->minute = std::stoll(m[5]);
    d->second = std::stoll(m[6]);
  }
  if (kind == DateKind::kDateTimeHundredths) d->hundredths = std::stoll(m[7]);
  std::string problem;
  if (d->year > 65535) problem = "year above 65535";
  else if (d->month > 12) problem = "month above 12";
  else if (d->day > 31) problem = "day above 31";
  else if (d->hour > 23) problem = "hour above 23";
  else if (d->minute > 59) problem = "minute above 59";
  else if (d->second > 59) problem = "second above 59";
  if (!problem.empty()) {
    in.Fail(path, "\"" + s + "\" is out of range (" + problem + ")");
    return false;
  }
  return true;
}

inline void StoreDate(CalendarDate* target, const DateParts& d) {
  if (target == nullptr) return;
  target->year = static_cast<uint16_t>(d.year);
  target->month = static_cast<uint8_t>(d.month);
  target->day = static_cast<uint8_t>(d.day);
}

inline void StoreDateTime(DateTime* target, const DateParts& d) {
  if (target == nullptr) return;
  target->year = static_cast<uint16_t>(d.year);
  target->month = static_cast<uint8_t>(d.month);
  target->day = static_cast<uint8_t>(d.day);
  target->hour = static_cast<uint8_t>(d.hour);
  target->minute = static_cast<uint8_t>(d.minute);
  target->second = static_cast<uint8_t>(d.second);
  target->hundredths = static_cast<uint8_t>(d.hundredths);
}

inline void CopyText(char* field, size_t capacity, const std::string& text) {
  std::memset(field, 0, capacity);
  std::memcpy(field, text.data(), std::min(text.size(), capacity - 1));
}

}  // namespace scpecg
