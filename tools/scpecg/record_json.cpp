#include "tools/scpecg/record_json.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <regex>

#include "lib/byte_cursor.h"
#include "lib/dbclient/testrecord.h"
#include "tools/scpecg/scpfile.h"

namespace scpecg {

namespace {

constexpr int64_t kU32 = 0xFFFFFFFFll;
constexpr size_t kMaxErrors = 30;

// ------------------------------------------------------------ dump helpers

std::string FieldText(const char* field, size_t capacity) {
  return Latin1ToUtf8(std::string_view(field, strnlen(field, capacity)));
}

// Raw bytes with trailing NULs dropped (NULs inside are kept).
std::string TrimmedBytes(const char* bytes, size_t n) {
  while (n > 0 && bytes[n - 1] == '\0') --n;
  return Latin1ToUtf8(std::string_view(bytes, n));
}

Json DateJson(const CalendarDate* d) {
  if (d == nullptr || (d->year == 0 && d->month == 0 && d->day == 0)) return nullptr;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", d->year, d->month, d->day);
  return buf;
}

// The acquisition time and the interpretation time stamps are stored
// without hundredths; the overread time stamp (tag 230) keeps them.
Json DateTimeJson(const DateTime* d, bool hundredths) {
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
Json Numbers(const T* values, size_t n) {
  Json a = Json::array();
  for (size_t i = 0; i < n; ++i) a.push_back(values[i]);
  return a;
}

// ------------------------------------------------------------- build helpers

std::string TypeName(const Json& j) {
  if (j.is_null()) return "null";
  if (j.is_boolean()) return "a boolean";
  if (j.is_number_integer()) return "an integer";
  if (j.is_number()) return "a fraction";
  if (j.is_string()) return "a string";
  if (j.is_array()) return "an array";
  return "an object";
}

std::string Key(const std::string& path, const std::string& key) { return path + "." + key; }
std::string At(const std::string& path, size_t i) { return path + "[" + std::to_string(i) + "]"; }

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

bool ParseDate(In& in, const Json& j, const std::string& path, DateKind kind, DateParts* d) {
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

void StoreDate(CalendarDate* target, const DateParts& d) {
  if (target == nullptr) return;
  target->year = static_cast<uint16_t>(d.year);
  target->month = static_cast<uint8_t>(d.month);
  target->day = static_cast<uint8_t>(d.day);
}

void StoreDateTime(DateTime* target, const DateParts& d) {
  if (target == nullptr) return;
  target->year = static_cast<uint16_t>(d.year);
  target->month = static_cast<uint8_t>(d.month);
  target->day = static_cast<uint8_t>(d.day);
  target->hour = static_cast<uint8_t>(d.hour);
  target->minute = static_cast<uint8_t>(d.minute);
  target->second = static_cast<uint8_t>(d.second);
  target->hundredths = static_cast<uint8_t>(d.hundredths);
}

void CopyText(char* field, size_t capacity, const std::string& text) {
  std::memset(field, 0, capacity);
  std::memcpy(field, text.data(), std::min(text.size(), capacity - 1));
}

// ------------------------------------------------------------ field table

// One scalar field of the record: how it is dumped and how it is built.
struct FieldSpec {
  std::string name;
  std::function<Json(const TestRecord&)> dump;
  std::function<void(In&, const Json&, const std::string&, TestRecord&)> build;
};

#define SCP_TEXT(member, maxChars)                                                                  \
  FieldSpec{#member, [](const TestRecord& r) -> Json { return FieldText(r.member, sizeof r.member); }, \
            [](In& in, const Json& j, const std::string& p, TestRecord& r) {                       \
              std::string t;                                                                        \
              if (in.Text(j, p, maxChars, &t)) CopyText(r.member, sizeof r.member, t);              \
            }}

#define SCP_NUMBER(member, lo, hi)                                                     \
  FieldSpec{#member, [](const TestRecord& r) -> Json { return r.member; },             \
            [](In& in, const Json& j, const std::string& p, TestRecord& r) {          \
              in.Number(j, p, lo, hi, &r.member);                                      \
            }}

#define SCP_DATE(member, kind, store, dumpExpr)                                        \
  FieldSpec{#member, [](const TestRecord& r) -> Json { return dumpExpr; },             \
            [](In& in, const Json& j, const std::string& p, TestRecord& r) {          \
              DateParts d;                                                             \
              if (j.is_null()) { store(r.member, d); return; }                         \
              if (ParseDate(in, j, p, kind, &d)) store(r.member, d);                   \
            }}

// Height and weight travel in millimetres and ounces; only values that come
// back unchanged are accepted, so that nothing is altered silently.
void BuildConverted(In& in, const Json& j, const std::string& p, uint32_t* member, int64_t toFile,
                    int64_t fromFile, const char* unit, int64_t fromFileNum, int64_t fromFileDen) {
  int64_t v = 0;
  if (!in.Int(j, p, 0, kU32, &v)) return;
  const int64_t stored = MulDivRound(v, toFile, fromFile);
  if (stored > 32767) {
    in.Fail(p, std::to_string(v) + " is out of range (at most 32767 " + unit + " in the file)");
    return;
  }
  const int64_t back = MulDivRound(stored, fromFileNum, fromFileDen);
  if (back != v) {
    in.Fail(p, std::to_string(v) + " does not survive the file's " + unit + " (it reads back as " +
                   std::to_string(back) + ")");
    return;
  }
  *member = static_cast<uint32_t>(v);
}

std::vector<FieldSpec> RecordFields() {
  std::vector<FieldSpec> f;
  f.push_back(SCP_TEXT(tag186Text, 31));
  f.push_back(SCP_DATE(acquisitionDateTime, DateKind::kDateTime, StoreDateTime,
                       DateTimeJson(r.acquisitionDateTime, false)));
  f.push_back(SCP_NUMBER(tag211Value, 0, kU32));
  f.push_back(FieldSpec{
      "patientName", [](const TestRecord& r) -> Json { return FieldText(r.patientName, sizeof r.patientName); },
      [](In& in, const Json& j, const std::string& p, TestRecord& r) {
        std::string t;
        if (!in.Text(j, p, 29, &t)) return;
        const size_t a = t.find('^');
        const size_t b = a == std::string::npos ? a : t.find('^', a + 1);
        if (b == std::string::npos || t.find('^', b + 1) != std::string::npos) {
          in.Fail(p, "expected last^first^second-last (exactly two '^')");
          return;
        }
        const std::string last = t.substr(0, a), first = t.substr(a + 1, b - a - 1), second = t.substr(b + 1);
        r.SetPatientName(first.c_str(), second.c_str(), last.c_str());
      }});
  f.push_back(FieldSpec{
      "storedPatientId",
      [](const TestRecord& r) -> Json { return FieldText(r.storedPatientId, sizeof r.storedPatientId); },
      [](In& in, const Json& j, const std::string& p, TestRecord& r) {
        std::string t;
        if (in.Text(j, p, 15, &t)) r.SetStoredPatientId(t.c_str());
      }});
  f.push_back(SCP_TEXT(accessionNumber, 31));
  f.push_back(SCP_TEXT(tag185Text, 31));
  f.push_back(SCP_TEXT(street, 63));
  f.push_back(SCP_TEXT(city, 31));
  f.push_back(SCP_TEXT(state, 7));
  f.push_back(SCP_TEXT(postalCode, 11));
  f.push_back(SCP_DATE(birthDate, DateKind::kDate, StoreDate, DateJson(r.birthDate)));
  f.push_back(SCP_TEXT(tag221Text, 31));
  f.push_back(SCP_TEXT(confirmingPhysician, 38));
  f.push_back(SCP_NUMBER(sex, 0, 2));
  f.push_back(SCP_NUMBER(age, 0, 65535));
  f.push_back(FieldSpec{"weight", [](const TestRecord& r) -> Json { return r.weight; },
                        [](In& in, const Json& j, const std::string& p, TestRecord& r) {
                          BuildConverted(in, j, p, &r.weight, 16, 100, "ounces", 100, 16);
                        }});
  f.push_back(FieldSpec{"height", [](const TestRecord& r) -> Json { return r.height; },
                        [](In& in, const Json& j, const std::string& p, TestRecord& r) {
                          BuildConverted(in, j, p, &r.height, 254, 1000, "millimetres", 1000, 254);
                        }});
  f.push_back(SCP_NUMBER(race, 0, 4));
  f.push_back(SCP_TEXT(technician, 63));
  f.push_back(SCP_TEXT(diagnosis, 255));
  f.push_back(SCP_TEXT(drugs, 255));
  f.push_back(SCP_TEXT(tag240Text, 511));
  f.push_back(SCP_NUMBER(interpretationStatus, 0, 2));
  f.push_back(FieldSpec{
      "interpretationText",
      [](const TestRecord& r) -> Json {
        Json a = Json::array();
        const std::string text(r.interpretationText, strnlen(r.interpretationText, sizeof r.interpretationText));
        for (const std::string& s : SplitStatements(text)) a.push_back(Latin1ToUtf8(s));
        return a;
      },
      [](In& in, const Json& j, const std::string& p, TestRecord& r) {
        if (!in.Array(j, p, 1, 255)) return;
        std::string text;
        bool good = true;
        for (size_t i = 0; i < j.size(); ++i) {
          std::string line;
          if (!in.Text(j[i], At(p, i), 4095, &line)) {
            good = false;
            continue;
          }
          if (line.find('\r') != std::string::npos) {
            in.Fail(At(p, i), "a statement cannot hold a carriage return (each element is one statement)");
            good = false;
            continue;
          }
          if (i > 0) text += "\r\n";
          text += line;
        }
        // The fetch appends CR LF to every statement; all of it must fit.
        size_t readBack = 0;
        for (const auto& e : j) readBack += (e.is_string() ? e.get<std::string>().size() : 0) + 2;
        if (good && readBack > TestRecord::kInterpretationCapacity - 1) {
          in.Fail(p, "the statements take " + std::to_string(readBack) +
                         " bytes with their line ends, more than the record's 4095");
          return;
        }
        if (good) CopyText(r.interpretationText, sizeof r.interpretationText, text);
      }});
  f.push_back(SCP_TEXT(overreadingPhysician, 63));
  f.push_back(SCP_DATE(originalDateTime, DateKind::kDateTime, StoreDateTime, DateTimeJson(r.originalDateTime, false)));
  f.push_back(SCP_DATE(overreadDateTime, DateKind::kDateTimeHundredths, StoreDateTime,
                       DateTimeJson(r.overreadDateTime, true)));
  f.push_back(
      SCP_DATE(confirmedDateTime, DateKind::kDateTime, StoreDateTime, DateTimeJson(r.confirmedDateTime, false)));
  f.push_back(SCP_TEXT(tag229Text, 63));
  f.push_back(SCP_NUMBER(room, 0, 65535));
  f.push_back(SCP_NUMBER(smoking, 0, 3));
  f.push_back(SCP_NUMBER(alcohol, 0, 3));
  f.push_back(SCP_NUMBER(family, 0, 2));
  f.push_back(SCP_NUMBER(pacemaker, 0, 4));
  f.push_back(SCP_NUMBER(ambulatory, 0, 2));
  f.push_back(SCP_DATE(tag209Date, DateKind::kDate, StoreDate, DateJson(r.tag209Date)));
  f.push_back(SCP_TEXT(tag225Text, 11));
  f.push_back(FieldSpec{"bloodPressure",
                        [](const TestRecord& r) -> Json {
                          Json o;
                          o["systolic"] = r.bloodPressure >> 16;
                          o["diastolic"] = r.bloodPressure & 0xFFFF;
                          return o;
                        },
                        [](In& in, const Json& j, const std::string& p, TestRecord& r) {
                          if (!in.Object(j, p, {"systolic", "diastolic"}, {"systolic", "diastolic"})) return;
                          int64_t s = 0, d = 0;
                          const bool a = in.Int(j["systolic"], Key(p, "systolic"), 0, 65535, &s);
                          const bool b = in.Int(j["diastolic"], Key(p, "diastolic"), 0, 65535, &d);
                          if (a && b) r.bloodPressure = static_cast<uint32_t>((s << 16) | d);
                        }});
  f.push_back(SCP_NUMBER(heartRate, 0, kU32));
  f.push_back(SCP_NUMBER(tag187Value, 0, kU32));
  f.push_back(SCP_NUMBER(tag188Value, 0, kU32));
  f.push_back(SCP_TEXT(referringPhysician, 31));
  f.push_back(SCP_TEXT(tag222Text, 31));
  f.push_back(SCP_TEXT(tag223Text, 63));
  f.push_back(SCP_TEXT(tag224Text, 31));
  f.push_back(SCP_TEXT(tag231Text, 31));
  f.push_back(SCP_TEXT(deviceName, 63));
  f.push_back(SCP_TEXT(deviceSerial, 63));
  f.push_back(SCP_TEXT(deviceRevision, 63));
  f.push_back(SCP_NUMBER(tag220Value, 0, kU32));
  f.push_back(SCP_NUMBER(tag218Value, 0, kU32));
  f.push_back(SCP_NUMBER(tag219Value, 0, kU32));
  // Filters and the target rate are 16-bit in the file and read back signed.
  f.push_back(SCP_NUMBER(highPassFilter, 0, 32767));
  f.push_back(SCP_NUMBER(lowPassFilter, 0, 32767));
  f.push_back(SCP_NUMBER(filterBitmap, 0, 255));
  f.push_back(SCP_TEXT(originalInterpreter, 63));
  f.push_back(SCP_TEXT(tag232Text, 31));
  f.push_back(SCP_NUMBER(targetHeartRate, 0, 32767));
  f.push_back(SCP_NUMBER(exerciseType, 0, 1));
  f.push_back(SCP_NUMBER(exerciseFlag, 0, 1));
  f.push_back(SCP_TEXT(tag253Text, 63));
  f.push_back(SCP_TEXT(tag254Text, 63));
  f.push_back(SCP_NUMBER(tag235Value, 0, kU32));
  f.push_back(SCP_NUMBER(tag236Value, 0, kU32));
  f.push_back(SCP_NUMBER(tag237Value, 0, kU32));
  f.push_back(SCP_NUMBER(tag238Value, 0, kU32));
  f.push_back(SCP_NUMBER(pairValue1, 0, kU32));
  f.push_back(SCP_NUMBER(pairTime1, 0, kU32));
  f.push_back(SCP_NUMBER(pairValue2, 0, kU32));
  f.push_back(SCP_NUMBER(pairTime2, 0, kU32));
  f.push_back(SCP_NUMBER(pairValue3, 0, kU32));
  f.push_back(SCP_NUMBER(pairTime3, 0, kU32));
  f.push_back(SCP_NUMBER(pairValue4, 0, kU32));
  f.push_back(SCP_NUMBER(pairTime4, 0, kU32));
  f.push_back(SCP_NUMBER(pairValue5, 0, kU32));
  f.push_back(SCP_NUMBER(pairTime5, 0, kU32));
  f.push_back(SCP_NUMBER(pairValue6, 0, kU32));
  f.push_back(SCP_NUMBER(pairTime6, 0, kU32));
  f.push_back(SCP_NUMBER(measureValueA, 0, kU32));
  f.push_back(SCP_NUMBER(measureTimeA, 0, kU32));
  f.push_back(SCP_NUMBER(measureLeadA, 0, 11));
  f.push_back(SCP_NUMBER(measureExtraA, 0, kU32));
  f.push_back(SCP_NUMBER(measureValueB, 0, kU32));
  f.push_back(SCP_NUMBER(measureTimeB, 0, kU32));
  f.push_back(SCP_NUMBER(measureLeadB, 0, 11));
  f.push_back(SCP_NUMBER(measureExtraB, 0, kU32));
  f.push_back(SCP_NUMBER(tag199Value, 0, kU32));
  f.push_back(SCP_NUMBER(tag198Value, 0, kU32));
  f.push_back(SCP_NUMBER(tag197Value, 0, kU32));
  f.push_back(SCP_TEXT(tag227Text, 31));
  f.push_back(SCP_TEXT(tag228Text, 31));
  f.push_back(SCP_NUMBER(tag183Value, 0, kU32));
  f.push_back(SCP_NUMBER(procedureType, 0, 7));
  f.push_back(SCP_NUMBER(tag212Flag, 0, 1));
  f.push_back(SCP_TEXT(scrambleKey, 47));
  f.push_back(SCP_NUMBER(tag181Value, 0, kU32));
  return f;
}

#undef SCP_TEXT
#undef SCP_NUMBER
#undef SCP_DATE

// ------------------------------------------------------------ sub-records

Json DumpWaveform(const EcgWaveform* w) {
  if (w == nullptr || !w->HasStorage() || w->LeadCount() == 0) return nullptr;
  const uint32_t s = w->SamplesPerLead();
  std::vector<int> channels;
  for (uint32_t i = 0; i < w->LeadCount(); ++i) {
    const int32_t ch = w->LeadChannelSlot(i);
    if (ch >= 0 && w->Channel(static_cast<uint32_t>(ch)) != nullptr) channels.push_back(ch);
  }
  std::sort(channels.begin(), channels.end());
  Json o;
  o["samplingRate"] = w->SamplingRate();
  o["amplitudeResolution"] = w->AmplitudeResolution();
  o["samplesPerLead"] = s;
  Json leads = Json::array();
  for (int ch : channels) {
    Json lead;
    lead["channel"] = ch;
    lead["lead"] = ChannelName(ch);
    lead["samples"] = Numbers(w->Channel(static_cast<uint32_t>(ch)), s);
    leads.push_back(std::move(lead));
  }
  o["leads"] = std::move(leads);
  return o;
}

void BuildWaveform(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"samplingRate", "amplitudeResolution", "samplesPerLead", "leads"},
                 {"samplingRate", "amplitudeResolution", "samplesPerLead", "leads"}))
    return;
  int64_t rate = 0, resolution = 0, s = 0;
  bool good = in.Int(j["samplingRate"], Key(p, "samplingRate"), 1, 1000000, &rate);
  if (good) {
    // The file keeps the sample interval in whole microseconds (16-bit).
    const int64_t interval = 1000000 / rate;
    if (interval > 32767 || 1000000 / interval != rate) {
      in.Fail(Key(p, "samplingRate"), std::to_string(rate) +
                                          " Hz cannot be stored: the file keeps the sample interval in whole "
                                          "microseconds (1 to 32767), which gives this rate back only for some rates");
      good = false;
    }
  }
  good = in.Int(j["amplitudeResolution"], Key(p, "amplitudeResolution"), 1, 32767, &resolution) && good;
  good = in.Int(j["samplesPerLead"], Key(p, "samplesPerLead"), 1, 100000000, &s) && good;
  const Json& leads = j["leads"];
  if (!in.Array(leads, Key(p, "leads"), 1, EcgWaveform::kChannelSlots) || !good) return;
  std::vector<uint8_t> channels;
  std::vector<std::vector<int16_t>> samples(leads.size());
  for (size_t i = 0; i < leads.size(); ++i) {
    const std::string lp = At(Key(p, "leads"), i);
    if (!in.Object(leads[i], lp, {"channel", "lead", "samples"}, {"channel", "samples"})) return;
    int64_t ch = 0;
    if (!in.Int(leads[i]["channel"], Key(lp, "channel"), 0, 13, &ch)) return;
    if (!channels.empty() && ch <= channels.back()) {
      in.Fail(Key(lp, "channel"), "leads must be listed in ascending channel order, each channel once");
      return;
    }
    if (leads[i].contains("lead")) {
      std::string name;
      if (!in.Text(leads[i]["lead"], Key(lp, "lead"), 16, &name)) return;
      if (name != ChannelName(static_cast<int>(ch))) {
        in.Fail(Key(lp, "lead"), "channel " + std::to_string(ch) + " records lead " + ChannelName(static_cast<int>(ch)) +
                                     ", not " + name);
        return;
      }
    }
    channels.push_back(static_cast<uint8_t>(ch));
    if (!in.Numbers(leads[i]["samples"], Key(lp, "samples"), static_cast<size_t>(s), static_cast<size_t>(s), -32768,
                    32767, &samples[i]))
      return;
  }
  auto w = std::make_unique<EcgWaveform>(static_cast<uint32_t>(channels.size()), static_cast<uint32_t>(s),
                                         static_cast<uint32_t>(rate), static_cast<uint32_t>(resolution), channels);
  if (!w->HasStorage()) {
    in.Fail(p, "no memory for the waveform");
    return;
  }
  for (size_t i = 0; i < channels.size(); ++i)
    std::copy(samples[i].begin(), samples[i].end(), w->Channel(channels[i]));
  w->SetValidSampleCount(static_cast<uint32_t>(s));
  r.SetWaveform(w.release());
}

Json DumpAnnotations(const AnnotationList* a) {
  if (a == nullptr || a->count == 0 || a->entries == nullptr) return nullptr;
  const uint32_t n = std::min(a->count, a->capacity);
  Json o;
  o["valueA"] = a->valueA;
  o["valueB"] = a->valueB;
  Json entries = Json::array();
  for (uint32_t i = 0; i < n; ++i) {
    const AnnotationEntry& e = a->entries[i];
    entries.push_back(Json::array({e.value, e.code1, e.code2, e.word}));
  }
  o["entries"] = std::move(entries);
  Json ext = Json::object();
  for (uint32_t k = AnnotationList::kFirstStoredExtension; k < AnnotationList::kExtensionArrays; ++k) {
    const AnnotationExtension* x = a->extensions[k];
    if (x == nullptr) continue;
    Json arr = Json::array();
    for (uint32_t i = 0; i < n; ++i) {
      Json t = Json::array();
      for (uint8_t b : x[i].bytes) t.push_back(b);
      for (uint16_t w : x[i].words) t.push_back(w);
      arr.push_back(std::move(t));
    }
    ext[std::to_string(k)] = std::move(arr);
  }
  if (!ext.empty()) o["extensions"] = std::move(ext);
  return o;
}

void BuildAnnotations(In& in, const Json& j, const std::string& p, TestRecord& r, bool pList) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"valueA", "valueB", "entries", "extensions"}, {"entries"})) return;
  uint32_t valueA = 0, valueB = 0;
  if (j.contains("valueA") && !in.Number(j["valueA"], Key(p, "valueA"), 0, kU32, &valueA)) return;
  if (j.contains("valueB") && !in.Number(j["valueB"], Key(p, "valueB"), 0, kU32, &valueB)) return;
  const Json& entries = j["entries"];
  const std::string ep = Key(p, "entries");
  if (!in.Array(entries, ep, 0, 10000000)) return;
  if (entries.empty()) {
    in.Fail(ep, "an empty list is not stored; use null for no annotations");
    return;
  }
  const uint32_t n = static_cast<uint32_t>(entries.size());
  uint32_t mask = 0;
  std::vector<std::pair<uint32_t, const Json*>> exts;
  if (j.contains("extensions")) {
    const Json& e = j["extensions"];
    const std::string xp = Key(p, "extensions");
    if (!in.Object(e, xp, {"17", "18", "19"})) return;
    for (auto it = e.begin(); it != e.end(); ++it) {
      const uint32_t k = static_cast<uint32_t>(std::stoul(it.key()));
      mask |= AnnotationList::ExtensionBit(k);
      exts.emplace_back(k, &it.value());
    }
  }
  auto list = std::make_unique<AnnotationList>(n, mask);
  if (list->entries == nullptr) {
    in.Fail(p, "no memory for the annotations");
    return;
  }
  list->valueA = valueA;
  list->valueB = valueB;
  std::vector<int64_t> t;
  for (uint32_t i = 0; i < n; ++i) {
    const std::string ip = At(ep, i);
    if (!in.Array(entries[i], ip, 4, 4)) return;
    int64_t v[4];
    const int64_t hi[4] = {kU32, 255, 255, 65535};
    for (int k = 0; k < 4; ++k)
      if (!in.Int(entries[i][k], At(ip, k), 0, hi[k], &v[k])) return;
    list->entries[i] = AnnotationEntry{static_cast<uint32_t>(v[0]), static_cast<uint8_t>(v[1]),
                                       static_cast<uint8_t>(v[2]), static_cast<uint16_t>(v[3])};
  }
  for (auto& [k, arr] : exts) {
    const std::string xp = Key(Key(p, "extensions"), std::to_string(k));
    if (!in.Array(*arr, xp, n, n)) return;
    AnnotationExtension* x = list->extensions[k];
    if (x == nullptr) {
      in.Fail(xp, "no memory for the extension entries");
      return;
    }
    for (uint32_t i = 0; i < n; ++i) {
      const std::string ip = At(xp, i);
      if (!in.Array((*arr)[i], ip, 13, 13)) return;
      for (int b = 0; b < 13; ++b) {
        int64_t v = 0;
        if (!in.Int((*arr)[i][b], At(ip, b), 0, b < 6 ? 255 : 65535, &v)) return;
        if (b < 6)
          x[i].bytes[b] = static_cast<uint8_t>(v);
        else
          x[i].words[b - 6] = static_cast<uint16_t>(v);
      }
    }
  }
  list->count = n;
  if (pList)
    r.SetPAnnotations(list.release());
  else
    r.SetAnnotations(list.release());
}

// Texts of a fetched list live in its text store: runs of u32 index, u16
// length and the bytes, closed by the u32 episode count.
std::vector<std::string> StoredEpisodeTexts(const EpisodeList& e) {
  std::vector<std::string> texts(e.count);
  if (e.textStore == nullptr) return texts;
  const uint8_t* s = e.textStore;
  const size_t cap = e.textStoreCapacity;
  const ByteReader store(s, cap);
  size_t pos = 0;
  int64_t last = -1;
  while (pos + 6 <= cap) {
    const uint32_t index = store.U32At(pos);
    const uint32_t len = store.U16At(pos + 4);
    if (index >= e.count || static_cast<int64_t>(index) <= last || len == 0 || pos + 6 + len > cap) break;
    texts[index].assign(reinterpret_cast<const char*>(s + pos + 6), len);
    last = index;
    pos += 6 + len;
  }
  return texts;
}

Json DumpEpisodes(const EpisodeList* e) {
  if (e == nullptr || e->count == 0 || e->entries == nullptr) return nullptr;
  const uint32_t n = std::min(e->count, e->capacity);
  const std::vector<std::string> stored = StoredEpisodeTexts(*e);
  Json entries = Json::array();
  for (uint32_t i = 0; i < n; ++i) {
    const EpisodeEntry& x = e->entries[i];
    Json o;
    o["value1"] = x.value1;
    o["value2"] = x.value2;
    o["value3"] = x.value3;
    o["value4"] = x.value4;
    o["value5"] = x.value5;
    o["typeCode"] = x.typeCode;
    std::string text = x.text != nullptr ? std::string(x.text) : std::string();
    if (text.empty() && i < stored.size()) text = stored[i];
    o["text"] = text.empty() ? Json(nullptr) : Json(Latin1ToUtf8(text));
    entries.push_back(std::move(o));
  }
  Json o;
  o["entries"] = std::move(entries);
  return o;
}

void BuildEpisodes(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"entries"}, {"entries"})) return;
  const Json& entries = j["entries"];
  const std::string ep = Key(p, "entries");
  if (!in.Array(entries, ep, 0, 1000000)) return;
  if (entries.empty()) {
    in.Fail(ep, "an empty list is not stored; use null for no episodes");
    return;
  }
  auto list = std::make_unique<EpisodeList>(static_cast<uint32_t>(entries.size()), 0);
  if (list->entries == nullptr) {
    in.Fail(p, "no memory for the episodes");
    return;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string ip = At(ep, i);
    const Json& x = entries[i];
    if (!in.Object(x, ip, {"value1", "value2", "value3", "value4", "value5", "typeCode", "text"}, {"typeCode"}))
      return;
    EpisodeEntry& e = list->entries[i];
    const char* keys[] = {"value1", "value2", "value3", "value4", "value5"};
    uint32_t* members[] = {&e.value1, &e.value2, &e.value3, &e.value4, &e.value5};
    for (int k = 0; k < 5; ++k)
      if (x.contains(keys[k]) && !in.Number(x[keys[k]], Key(ip, keys[k]), 0, kU32, members[k])) return;
    if (!in.Number(x["typeCode"], Key(ip, "typeCode"), 0, EpisodeList::kOtherType, &e.typeCode)) return;
    if (x.contains("text") && !x["text"].is_null()) {
      std::string t;
      if (!in.Text(x["text"], Key(ip, "text"), EpisodeList::kMaxTextLength, &t)) return;
      if (!t.empty() && !list->SetText(static_cast<uint32_t>(i), t.c_str())) {
        in.Fail(Key(ip, "text"), "no memory for the text");
        return;
      }
    }
  }
  list->count = static_cast<uint32_t>(entries.size());
  r.SetEpisodes(list.release());
}

Json DumpPacemaker(const PacemakerList* l) {
  if (l == nullptr || l->count == 0 || l->values == nullptr) return nullptr;
  Json o;
  o["values"] = Numbers(l->values, std::min(l->count, l->capacity));
  return o;
}

void BuildPacemaker(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"values"}, {"values"})) return;
  std::vector<uint32_t> v;
  if (j["values"].is_array() && j["values"].empty())
    return in.Fail(Key(p, "values"), "an empty list is not stored; use null for no pacemaker data");
  if (!in.Numbers(j["values"], Key(p, "values"), 1, 1000000, 0, kU32, &v)) return;
  auto l = std::make_unique<PacemakerList>(static_cast<uint32_t>(v.size()));
  if (l->values == nullptr) return in.Fail(p, "no memory");
  std::copy(v.begin(), v.end(), l->values);
  l->count = static_cast<uint32_t>(v.size());
  r.SetPacemakerList(l.release());
}

Json DumpBloodPressureData(const BloodPressureData* d) {
  if (d == nullptr || d->count == 0 || d->readings == nullptr) return nullptr;
  Json readings = Json::array();
  for (uint32_t i = 0; i < std::min(d->count, d->capacity); ++i)
    readings.push_back(Numbers(d->readings[i].words, BloodPressureReading::kWords));
  Json o;
  o["readings"] = std::move(readings);
  return o;
}

void BuildBloodPressureData(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"readings"}, {"readings"})) return;
  const Json& readings = j["readings"];
  const std::string rp = Key(p, "readings");
  if (!in.Array(readings, rp, 0, 100000)) return;
  if (readings.empty()) return in.Fail(rp, "an empty list is not stored; use null for no readings");
  auto d = std::make_unique<BloodPressureData>(static_cast<uint32_t>(readings.size()));
  if (d->readings == nullptr) return in.Fail(p, "no memory");
  for (size_t i = 0; i < readings.size(); ++i) {
    std::vector<uint32_t> w;
    if (!in.Numbers(readings[i], At(rp, i), BloodPressureReading::kWords, BloodPressureReading::kWords, 0, kU32, &w))
      return;
    std::copy(w.begin(), w.end(), d->readings[i].words);
  }
  d->count = static_cast<uint32_t>(readings.size());
  r.SetBloodPressureDataRecord(d.release());
}

Json DumpBloodPressureResults(const BloodPressureResults* b) {
  if (b == nullptr) return nullptr;
  Json o;
  o["value1"] = b->value1;
  o["value2"] = b->value2;
  Json groups = Json::array();
  for (const BloodPressureGroup& g : b->groups) {
    Json go;
    go["values"] = Numbers(g.values, BloodPressureGroup::kValues);
    go["extra"] = Numbers(g.extra, 2);
    groups.push_back(std::move(go));
  }
  o["groups"] = std::move(groups);
  return o;
}

void BuildBloodPressureResults(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"value1", "value2", "groups"}, {"groups"})) return;
  auto b = std::make_unique<BloodPressureResults>();
  if (j.contains("value1") && !in.Number(j["value1"], Key(p, "value1"), 0, kU32, &b->value1)) return;
  if (j.contains("value2") && !in.Number(j["value2"], Key(p, "value2"), 0, kU32, &b->value2)) return;
  const std::string gp = Key(p, "groups");
  if (!in.Array(j["groups"], gp, BloodPressureResults::kGroups, BloodPressureResults::kGroups)) return;
  for (uint32_t g = 0; g < BloodPressureResults::kGroups; ++g) {
    const std::string ip = At(gp, g);
    const Json& x = j["groups"][g];
    if (!in.Object(x, ip, {"values", "extra"}, {"values", "extra"})) return;
    std::vector<uint32_t> v, e;
    if (!in.Numbers(x["values"], Key(ip, "values"), 7, 7, 0, kU32, &v)) return;
    if (!in.Numbers(x["extra"], Key(ip, "extra"), 2, 2, 0, kU32, &e)) return;
    std::copy(v.begin(), v.end(), b->groups[g].values);
    std::copy(e.begin(), e.end(), b->groups[g].extra);
  }
  r.SetBloodPressureResultsRecord(b.release());
}

Json DumpSpirometry(const SpirometryData* s) {
  if (s == nullptr) return nullptr;
  Json o;
  o["words"] = Numbers(s->words, SpirometryData::kWords);
  return o;
}

void BuildSpirometry(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"words"}, {"words"})) return;
  std::vector<uint32_t> w;
  if (!in.Numbers(j["words"], Key(p, "words"), SpirometryData::kWords, SpirometryData::kWords, 0, kU32, &w)) return;
  // The writer puts the record length in place of the first word.
  if (w[0] != SpirometryData::kBlockBytes)
    return in.Fail(At(Key(p, "words"), 0), "the first word is the record length and is always 424");
  auto s = std::make_unique<SpirometryData>();
  std::copy(w.begin(), w.end(), s->words);
  r.SetSpirometryDataRecord(s.release());
}

Json DumpSpirometryItems(const TestRecord& r) {
  Json a = Json::array();
  for (int32_t i = 0; i < r.GetSpirometryItemCount(); ++i) {
    const SpirometryItem* item = r.GetSpirometryItemAt(i);
    if (item == nullptr) continue;
    Json o;
    o["words"] = Numbers(item->words, SpirometryItem::kWords);
    a.push_back(std::move(o));
  }
  return a;
}

Json DumpComplex(const ComplexData& c) {
  Json o;
  o["recordLength"] = c.recordLength;
  o["value1"] = static_cast<int16_t>(c.value1);
  o["leadCount"] = c.leadCount;
  o["sampleCount"] = c.sampleCount;
  o["codeA"] = c.codeA;
  o["value5"] = c.value5;
  o["codeB"] = c.codeB;
  o["values7to15"] = Numbers(c.values7to15, 9);
  Json leads = Json::array();
  for (uint32_t k = 0; k < std::min<uint32_t>(c.leadCount, ComplexData::kMaxLeads); ++k) {
    const ComplexLead* lead = c.leads[k];
    Json l;
    l["leadCode"] = lead != nullptr ? lead->leadCode : 0;
    l["samples"] = lead != nullptr && lead->samples != nullptr ? Numbers(lead->samples, c.sampleCount) : Json::array();
    leads.push_back(std::move(l));
  }
  o["leads"] = std::move(leads);
  const ComplexMeasurements& m = c.measurements;
  Json mo;
  mo["m1"] = m.m1;
  mo["flag"] = m.flag;
  mo["m2to9"] = Numbers(m.m2to9, 8);
  mo["m10"] = m.m10;
  mo["m11to17"] = Numbers(m.m11to17, 7);
  Json groups = Json::array();
  for (const auto& g : m.groups) groups.push_back(Numbers(g, 61));
  mo["groups"] = std::move(groups);
  o["measurements"] = std::move(mo);
  const ComplexText& t = c.textBlock;
  Json to;
  to["t1"] = t.t1;
  to["t2"] = t.t2;
  to["text"] = FieldText(t.text, sizeof t.text);
  to["code"] = FieldText(t.code, sizeof t.code);
  to["t3"] = t.t3;
  to["t4"] = t.t4;
  o["text"] = std::move(to);
  return o;
}

void BuildComplexes(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Array(j, p, 0, TestRecord::kComplexSlots)) return;
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string cp = At(p, i);
    const Json& x = j[i];
    if (!in.Object(x, cp,
                   {"recordLength", "value1", "leadCount", "sampleCount", "codeA", "value5", "codeB", "values7to15",
                    "leads", "measurements", "text"},
                   {"sampleCount", "leads"}))
      return;
    int64_t s = 0;
    if (!in.Int(x["sampleCount"], Key(cp, "sampleCount"), 0, 1000000, &s)) return;
    const Json& leads = x["leads"];
    if (!in.Array(leads, Key(cp, "leads"), 0, ComplexData::kMaxLeads)) return;
    auto c = std::make_unique<ComplexData>(static_cast<uint32_t>(leads.size()), static_cast<uint32_t>(s));
    if (x.contains("leadCount")) {
      int64_t n = 0;
      if (!in.Int(x["leadCount"], Key(cp, "leadCount"), 0, ComplexData::kMaxLeads, &n)) return;
      if (n != static_cast<int64_t>(leads.size()))
        return in.Fail(Key(cp, "leadCount"), "is " + std::to_string(n) + " but \"leads\" holds " +
                                                 std::to_string(leads.size()));
    }
    if (x.contains("value1")) {
      int32_t v = 0;
      if (!in.Number(x["value1"], Key(cp, "value1"), -32768, 32767, &v)) return;
      c->value1 = v;
    }
    if (x.contains("codeA") && !in.Number(x["codeA"], Key(cp, "codeA"), 0, 4, &c->codeA)) return;
    if (x.contains("value5") && !in.Number(x["value5"], Key(cp, "value5"), 0, kU32, &c->value5)) return;
    if (x.contains("codeB") && !in.Number(x["codeB"], Key(cp, "codeB"), 0, 2, &c->codeB)) return;
    if (x.contains("values7to15")) {
      std::vector<uint32_t> v;
      if (!in.Numbers(x["values7to15"], Key(cp, "values7to15"), 9, 9, 0, kU32, &v)) return;
      std::copy(v.begin(), v.end(), c->values7to15);
    }
    for (size_t k = 0; k < leads.size(); ++k) {
      const std::string lp = At(Key(cp, "leads"), k);
      if (!in.Object(leads[k], lp, {"leadCode", "samples"}, {"samples"})) return;
      ComplexLead* lead = c->leads[k];
      if (lead == nullptr || (s > 0 && lead->samples == nullptr)) return in.Fail(lp, "no memory");
      if (leads[k].contains("leadCode") && !in.Number(leads[k]["leadCode"], Key(lp, "leadCode"), 0, 20, &lead->leadCode))
        return;
      std::vector<int16_t> v;
      if (!in.Numbers(leads[k]["samples"], Key(lp, "samples"), static_cast<size_t>(s), static_cast<size_t>(s), -32768,
                      32767, &v))
        return;
      std::copy(v.begin(), v.end(), lead->samples);
    }
    if (x.contains("measurements")) {
      const std::string mp = Key(cp, "measurements");
      const Json& m = x["measurements"];
      if (!in.Object(m, mp, {"m1", "flag", "m2to9", "m10", "m11to17", "groups"})) return;
      ComplexMeasurements& cm = c->measurements;
      if (m.contains("m1") && !in.Number(m["m1"], Key(mp, "m1"), 0, kU32, &cm.m1)) return;
      if (m.contains("flag") && !in.Number(m["flag"], Key(mp, "flag"), 0, 1, &cm.flag)) return;
      if (m.contains("m10") && !in.Number(m["m10"], Key(mp, "m10"), 0, kU32, &cm.m10)) return;
      std::vector<uint16_t> v;
      if (m.contains("m2to9")) {
        if (!in.Numbers(m["m2to9"], Key(mp, "m2to9"), 8, 8, 0, 65535, &v)) return;
        std::copy(v.begin(), v.end(), cm.m2to9);
      }
      if (m.contains("m11to17")) {
        if (!in.Numbers(m["m11to17"], Key(mp, "m11to17"), 7, 7, 0, 65535, &v)) return;
        std::copy(v.begin(), v.end(), cm.m11to17);
      }
      if (m.contains("groups")) {
        const std::string gp = Key(mp, "groups");
        if (!in.Array(m["groups"], gp, 15, 15)) return;
        for (size_t g = 0; g < 15; ++g) {
          if (!in.Numbers(m["groups"][g], At(gp, g), 61, 61, 0, 65535, &v)) return;
          std::copy(v.begin(), v.end(), cm.groups[g]);
        }
      }
    }
    if (x.contains("text")) {
      const std::string tp = Key(cp, "text");
      const Json& t = x["text"];
      if (!in.Object(t, tp, {"t1", "t2", "text", "code", "t3", "t4"})) return;
      ComplexText& ct = c->textBlock;
      if (t.contains("t1") && !in.Number(t["t1"], Key(tp, "t1"), 0, kU32, &ct.t1)) return;
      if (t.contains("t2") && !in.Number(t["t2"], Key(tp, "t2"), 0, kU32, &ct.t2)) return;
      if (t.contains("t3") && !in.Number(t["t3"], Key(tp, "t3"), 0, kU32, &ct.t3)) return;
      if (t.contains("t4") && !in.Number(t["t4"], Key(tp, "t4"), 0, kU32, &ct.t4)) return;
      std::string s2;
      if (t.contains("text")) {
        if (!in.Text(t["text"], Key(tp, "text"), sizeof ct.text, &s2)) return;
        std::memset(ct.text, 0, sizeof ct.text);
        std::memcpy(ct.text, s2.data(), s2.size());
      }
      if (t.contains("code")) {
        if (!in.Text(t["code"], Key(tp, "code"), sizeof ct.code, &s2)) return;
        std::memset(ct.code, 0, sizeof ct.code);
        std::memcpy(ct.code, s2.data(), s2.size());
      }
    }
    const uint32_t required = c->RequiredLength();
    if (x.contains("recordLength")) {
      int64_t len = 0;
      if (!in.Int(x["recordLength"], Key(cp, "recordLength"), 0, kU32, &len)) return;
      if (len < required)
        return in.Fail(Key(cp, "recordLength"), std::to_string(len) + " is too small for this complex (at least " +
                                                    std::to_string(required) + ")");
      c->recordLength = static_cast<uint32_t>(len);
    } else {
      c->recordLength = required;
    }
    if (!r.AddComplex(c.release())) return in.Fail(cp, "too many complexes");
  }
}

void BuildRhythms(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Array(j, p, 0, TestRecord::kRhythmSlots)) return;
  for (size_t i = 0; i < j.size(); ++i) {
    std::vector<uint32_t> w;
    if (!in.Numbers(j[i], At(p, i), RhythmMeasurement::kBlockSize / 4, RhythmMeasurement::kBlockSize / 4, 0, kU32, &w))
      return;
    if (w[0] != RhythmMeasurement::kBlockSize)
      return in.Fail(At(At(p, i), 0), "the first word is the block size and must be 672");
    auto m = std::make_unique<RhythmMeasurement>();
    ByteWriter block(m->Bytes(), RhythmMeasurement::kBlockSize);
    for (const uint32_t word : w) block.U32(word);
    if (!r.AddRhythm(m.release())) return in.Fail(At(p, i), "too many rhythm measurements");
  }
}

Json DumpTrend(const TrendRecord& t) {
  const uint32_t c = t.GetSampleCount(), v = t.GetValueCount();
  Json o;
  o["valueCount"] = v;
  Json times = Json::array(), values = Json::array();
  for (uint32_t s = 0; s < c; ++s) {
    times.push_back(t.GetTime(s));
    Json row = Json::array();
    for (uint32_t k = 0; k < v; ++k) row.push_back(t.values != nullptr ? t.values[size_t{s} * v + k] : 0);
    values.push_back(std::move(row));
  }
  o["times"] = std::move(times);
  o["values"] = std::move(values);
  return o;
}

void BuildTrends(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  std::vector<std::string> slots;
  for (int i = 0; i < TestRecord::kTrendSlots; ++i) slots.push_back(std::to_string(i));
  if (!in.Object(j, p, slots)) return;
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string tp = Key(p, it.key());
    const Json& x = it.value();
    if (x.is_null()) continue;
    if (!in.Object(x, tp, {"valueCount", "times", "values"}, {"valueCount", "times", "values"})) return;
    int64_t v = 0;
    if (!in.Int(x["valueCount"], Key(tp, "valueCount"), 0, TrendRecord::kMaxHostValues, &v)) return;
    std::vector<uint32_t> times;
    if (!in.Numbers(x["times"], Key(tp, "times"), 0, TrendRecord::kMaxSamples, 0, kU32, &times)) return;
    if (!in.Array(x["values"], Key(tp, "values"), times.size(), times.size())) return;
    auto t = std::make_unique<TrendRecord>(static_cast<uint32_t>(v));
    if (t->dataBlock == nullptr) return in.Fail(tp, "no memory");
    for (size_t s = 0; s < times.size(); ++s) {
      std::vector<int32_t> row;
      if (!in.Numbers(x["values"][s], At(Key(tp, "values"), s), static_cast<size_t>(v), static_cast<size_t>(v),
                      INT32_MIN, INT32_MAX, &row))
        return;
      t->AddSample(times[s], row);
    }
    r.SetTrendAt(std::stoi(it.key()), t.release());
  }
}

Json DumpAudit(const AuditTrail* a) {
  if (a == nullptr || a->count < 1) return nullptr;
  Json entries = Json::array();
  for (int32_t i = 0; i < std::min<int32_t>(a->count, AuditTrail::kSlots); ++i) {
    const AuditEntry* e = a->entries[i];
    if (e == nullptr) continue;
    Json o;
    o["year"] = e->year;
    o["month"] = e->month;
    o["day"] = e->day;
    o["hour"] = e->hour;
    o["minute"] = e->minute;
    o["milliseconds"] = e->milliseconds;
    o["actionCode"] = e->actionCode;
    o["text"] = TrimmedBytes(e->text, sizeof e->text);
    entries.push_back(std::move(o));
  }
  Json o;
  o["entries"] = std::move(entries);
  return o;
}

void BuildAudit(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"entries"}, {"entries"})) return;
  const std::string ep = Key(p, "entries");
  const Json& entries = j["entries"];
  if (!in.Array(entries, ep, 1, AuditTrail::kSlots)) return;
  AuditTrail* trail = r.GetAuditTrailRecord();
  if (trail == nullptr) return in.Fail(p, "the record has no audit trail");
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string ip = At(ep, i);
    const Json& x = entries[i];
    if (!in.Object(x, ip, {"year", "month", "day", "hour", "minute", "milliseconds", "actionCode", "text"},
                   {"year", "month", "day"}))
      return;
    AuditEntry* e = trail->entries[i];
    if (e == nullptr) return in.Fail(ip, "no memory");
    if (!in.Number(x["year"], Key(ip, "year"), -32768, 32767, &e->year)) return;
    if (!in.Number(x["month"], Key(ip, "month"), 0, 12, &e->month)) return;
    if (!in.Number(x["day"], Key(ip, "day"), 0, 31, &e->day)) return;
    e->hour = e->minute = e->milliseconds = 0;
    e->actionCode = 1;
    std::memset(e->text, 0, sizeof e->text);
    if (x.contains("hour") && !in.Number(x["hour"], Key(ip, "hour"), 0, 23, &e->hour)) return;
    if (x.contains("minute") && !in.Number(x["minute"], Key(ip, "minute"), 0, 59, &e->minute)) return;
    if (x.contains("milliseconds") && !in.Number(x["milliseconds"], Key(ip, "milliseconds"), 0, 59999, &e->milliseconds))
      return;
    if (x.contains("actionCode") && !in.Number(x["actionCode"], Key(ip, "actionCode"), 0, 3, &e->actionCode)) return;
    if (x.contains("text")) {
      std::string t;
      if (!in.Text(x["text"], Key(ip, "text"), sizeof e->text, &t, true)) return;
      std::memcpy(e->text, t.data(), t.size());
    }
  }
  trail->SetCount(static_cast<int32_t>(entries.size()));
}

Json DumpDocument(const DocumentBuffer* d) {
  if (d == nullptr || d->length == 0 || d->data == nullptr) return nullptr;
  return Base64Encode(std::span<const uint8_t>(d->data, std::min(d->length, d->capacity)));
}

void BuildDocument(In& in, const Json& j, const std::string& p, TestRecord& r,
                   void (TestRecord::*attach)(DocumentBuffer*)) {
  if (j.is_null()) return;
  if (!j.is_string()) return in.Fail(p, "expected a base64 string or null, got " + TypeName(j));
  std::vector<uint8_t> bytes;
  if (!Base64Decode(j.get<std::string>(), &bytes)) return in.Fail(p, "is not valid base64");
  if (bytes.empty()) return in.Fail(p, "an empty document is not stored; use null");
  auto d = std::make_unique<DocumentBuffer>(static_cast<uint32_t>(bytes.size()));
  if (!d->SetContent(bytes)) return in.Fail(p, "no memory for the document");
  (r.*attach)(d.release());
}

Json DumpHolterConfig(const HolterConfig* h) {
  if (h == nullptr) return nullptr;
  Json o;
  o["sizeWord"] = h->sizeWord;
  o["version"] = h->version;
  if (h->block1) {
    Json b;
    b["values"] = Numbers(h->block1->values, 3);
    Json e = Json::array();
    for (const HolterCodedEntry* x : h->block1->entries)
      e.push_back(x ? Json::array({x->code, x->value}) : Json::array({0, 0}));
    b["entries"] = std::move(e);
    o["block1"] = std::move(b);
  }
  if (h->block2) {
    Json b;
    b["flags"] = Numbers(h->block2->flags, 5);
    b["values"] = Numbers(h->block2->values, 5);
    b["extra"] = Numbers(h->block2->extra, 2);
    o["block2"] = std::move(b);
  }
  if (h->block3) {
    Json b;
    b["values"] = Numbers(h->block3->values, 17);
    b["value68"] = h->block3->value68;
    b["flags"] = h->block3->flags;
    o["block3"] = std::move(b);
  }
  if (h->block4) {
    Json b;
    b["value"] = h->block4->value;
    Json e = Json::array();
    for (const HolterFlaggedEntry* x : h->block4->entries)
      e.push_back(x ? Json::array({x->flag, x->values[0], x->values[1], x->values[2]}) : Json::array({0, 0, 0, 0}));
    b["entries"] = std::move(e);
    o["block4"] = std::move(b);
  }
  if (h->block5) o["block5"] = Numbers(h->block5->values, 4);
  if (h->block6) o["block6"] = Numbers(h->block6->values, 18);
  o["closingFlag"] = h->closingFlag;
  return o;
}

void BuildHolterConfig(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p,
                 {"sizeWord", "version", "block1", "block2", "block3", "block4", "block5", "block6", "closingFlag"}))
    return;
  auto h = std::make_unique<HolterConfig>();
  if (!h->block1 || !h->block2 || !h->block3 || !h->block4 || !h->block5 || !h->block6) return in.Fail(p, "no memory");
  if (j.contains("sizeWord") &&
      !in.Number(j["sizeWord"], Key(p, "sizeWord"), HolterConfig::kMinimumSizeWord, 16 * 1024 * 1024, &h->sizeWord))
    return;
  // A fetch always reads the current layout and reports version 13.
  if (j.contains("version") && !in.Number(j["version"], Key(p, "version"), HolterConfig::kCurrentVersion,
                                          HolterConfig::kCurrentVersion, &h->version))
    return;
  if (j.contains("closingFlag") && !in.Number(j["closingFlag"], Key(p, "closingFlag"), 0, 1, &h->closingFlag)) return;
  std::vector<uint32_t> v;
  if (j.contains("block1")) {
    const std::string bp = Key(p, "block1");
    const Json& b = j["block1"];
    if (!in.Object(b, bp, {"values", "entries"})) return;
    if (b.contains("values")) {
      if (!in.Numbers(b["values"], Key(bp, "values"), 3, 3, 0, kU32, &v)) return;
      std::copy(v.begin(), v.end(), h->block1->values);
    }
    if (b.contains("entries")) {
      const std::string ep = Key(bp, "entries");
      if (!in.Array(b["entries"], ep, HolterBlock1::kEntries, HolterBlock1::kEntries)) return;
      for (size_t i = 0; i < HolterBlock1::kEntries; ++i) {
        if (!in.Numbers(b["entries"][i], At(ep, i), 2, 2, 0, kU32, &v)) return;
        if (v[0] > 13) return in.Fail(At(At(ep, i), 0), std::to_string(v[0]) + " is out of range (0 to 13)");
        h->block1->entries[i]->code = v[0];
        h->block1->entries[i]->value = v[1];
      }
    }
  }
  if (j.contains("block2")) {
    const std::string bp = Key(p, "block2");
    const Json& b = j["block2"];
    if (!in.Object(b, bp, {"flags", "values", "extra"})) return;
    if (b.contains("flags")) {
      if (!in.Numbers(b["flags"], Key(bp, "flags"), 5, 5, 0, 1, &v)) return;
      for (int i = 0; i < 5; ++i) h->block2->flags[i] = static_cast<uint8_t>(v[i]);
    }
    if (b.contains("values")) {
      if (!in.Numbers(b["values"], Key(bp, "values"), 5, 5, 0, kU32, &v)) return;
      std::copy(v.begin(), v.end(), h->block2->values);
    }
    if (b.contains("extra")) {
      if (!in.Numbers(b["extra"], Key(bp, "extra"), 2, 2, 0, kU32, &v)) return;
      std::copy(v.begin(), v.end(), h->block2->extra);
    }
  }
  if (j.contains("block3")) {
    const std::string bp = Key(p, "block3");
    const Json& b = j["block3"];
    if (!in.Object(b, bp, {"values", "value68", "flags"})) return;
    if (b.contains("values")) {
      if (!in.Numbers(b["values"], Key(bp, "values"), 17, 17, 0, kU32, &v)) return;
      std::copy(v.begin(), v.end(), h->block3->values);
    }
    if (b.contains("value68") && !in.Number(b["value68"], Key(bp, "value68"), 0, kU32, &h->block3->value68)) return;
    if (b.contains("flags") &&
        !in.Number(b["flags"], Key(bp, "flags"), 0, HolterBlock3::kStoredFlagBits, &h->block3->flags))
      return;
  }
  if (j.contains("block4")) {
    const std::string bp = Key(p, "block4");
    const Json& b = j["block4"];
    if (!in.Object(b, bp, {"value", "entries"})) return;
    if (b.contains("value") && !in.Number(b["value"], Key(bp, "value"), 0, kU32, &h->block4->value)) return;
    if (b.contains("entries")) {
      const std::string ep = Key(bp, "entries");
      if (!in.Array(b["entries"], ep, HolterBlock4::kEntries, HolterBlock4::kEntries)) return;
      for (size_t i = 0; i < HolterBlock4::kEntries; ++i) {
        if (!in.Numbers(b["entries"][i], At(ep, i), 4, 4, 0, kU32, &v)) return;
        if (v[0] > 1) return in.Fail(At(At(ep, i), 0), std::to_string(v[0]) + " is out of range (0 to 1)");
        h->block4->entries[i]->flag = static_cast<uint8_t>(v[0]);
        for (int k = 0; k < 3; ++k) h->block4->entries[i]->values[k] = v[k + 1];
      }
    }
  }
  if (j.contains("block5")) {
    if (!in.Numbers(j["block5"], Key(p, "block5"), 4, 4, 0, kU32, &v)) return;
    std::copy(v.begin(), v.end(), h->block5->values);
  }
  if (j.contains("block6")) {
    if (!in.Numbers(j["block6"], Key(p, "block6"), 18, 18, 0, kU32, &v)) return;
    std::copy(v.begin(), v.end(), h->block6->values);
  }
  r.SetHolterConfig(h.release());
}

const std::vector<std::string>& SubRecordKeys() {
  static const std::vector<std::string> keys = {
      "waveform",    "annotations",  "pAnnotations",     "pacemakerList",
      "episodes",    "complexes",    "trends",           "rhythms",
      "spirometryItems", "bloodPressureDataRecord", "bloodPressureResultsRecord", "spirometryDataRecord",
      "auditTrailRecord", "diaryDocument", "reportDocument", "holterConfig", "holterConfigBlock"};
  return keys;
}

bool HasAllHolterExtensions(const Json& list) {
  if (!list.is_object() || !list.contains("extensions") || !list["extensions"].is_object()) return false;
  const Json& e = list["extensions"];
  return e.contains("17") && e.contains("18") && e.contains("19");
}

}  // namespace

std::vector<std::string> SplitStatements(const std::string& text) {
  std::vector<std::string> out;
  size_t scan = 0, start = 0;
  const size_t n = text.size();
  for (;;) {
    while (scan < n && text[scan] != '\r') ++scan;
    out.push_back(text.substr(start, scan - start));
    if (scan >= n) break;
    ++scan;  // the carriage return
    if (scan < n && text[scan] == '\n') ++scan;
    start = scan;
    if (scan >= n) break;
  }
  return out;
}

Json DumpRecord(const TestRecord& r) {
  Json o;
  o["format"] = kFormatName;
  for (const FieldSpec& f : RecordFields()) o[f.name] = f.dump(r);
  o["waveform"] = DumpWaveform(r.GetWaveform());
  o["annotations"] = DumpAnnotations(r.GetAnnotations());
  o["pAnnotations"] = DumpAnnotations(r.GetPAnnotations());
  o["pacemakerList"] = DumpPacemaker(r.GetPacemakerList());
  o["episodes"] = DumpEpisodes(r.GetEpisodes());
  Json complexes = Json::array();
  for (int32_t i = 0; i < r.GetComplexDataCount(); ++i)
    if (const ComplexData* c = r.GetComplexAt(i)) complexes.push_back(DumpComplex(*c));
  o["complexes"] = std::move(complexes);
  Json trends = Json::object();
  for (int32_t i = 0; i < TestRecord::kTrendSlots; ++i)
    if (const TrendRecord* t = r.GetTrendAt(i)) trends[std::to_string(i)] = DumpTrend(*t);
  o["trends"] = std::move(trends);
  Json rhythms = Json::array();
  for (int32_t i = 0; i < r.GetRhythmCount(); ++i)
    if (const RhythmMeasurement* m = r.GetRhythmAt(i)) {
      Json words = Json::array();
      const ByteReader block(m->Bytes(), RhythmMeasurement::kBlockSize);
      for (uint32_t k = 0; k < RhythmMeasurement::kBlockSize / 4; ++k) words.push_back(block.U32At(4 * k));
      rhythms.push_back(std::move(words));
    }
  o["rhythms"] = std::move(rhythms);
  o["spirometryItems"] = DumpSpirometryItems(r);
  o["bloodPressureDataRecord"] = DumpBloodPressureData(r.GetBloodPressureDataRecord());
  o["bloodPressureResultsRecord"] = DumpBloodPressureResults(r.GetBloodPressureResultsRecord());
  o["spirometryDataRecord"] = DumpSpirometry(r.GetSpirometryDataRecord());
  o["auditTrailRecord"] = DumpAudit(r.GetAuditTrailRecord());
  o["diaryDocument"] = DumpDocument(r.GetDiaryDocument());
  o["reportDocument"] = DumpDocument(r.GetReportDocument());
  o["holterConfig"] = DumpHolterConfig(r.GetHolterConfig());
  o["holterConfigBlock"] = DumpDocument(r.GetHolterConfigBlock());
  Json derived;
  derived["patientId"] = FieldText(r.patientId, sizeof r.patientId);
  derived["identityReadable"] = r.identityReadable;
  o["derived"] = std::move(derived);
  return o;
}

std::unique_ptr<TestRecord> BuildRecord(const Json& j, std::vector<std::string>* errors) {
  In in(errors);
  const std::vector<FieldSpec> fields = RecordFields();
  std::vector<std::string> allowed = {"format", "derived"};
  for (const FieldSpec& f : fields) allowed.push_back(f.name);
  for (const std::string& k : SubRecordKeys()) allowed.push_back(k);
  if (!in.Object(j, "$", allowed)) {
    // Go on with the known keys, to report every problem at once.
    if (!j.is_object()) return nullptr;
  }
  auto r = std::make_unique<TestRecord>();
  if (j.contains("format")) {
    std::string f;
    if (in.Text(j["format"], "$.format", 64, &f) && f != kFormatName)
      in.Fail("$.format", "\"" + f + "\" is not a format this tool reads (expected \"" + kFormatName + "\")");
  }
  if (j.contains("derived") && !j["derived"].is_object() && !j["derived"].is_null())
    in.Fail("$.derived", "expected an object, got " + TypeName(j["derived"]));
  for (const FieldSpec& f : fields)
    if (j.contains(f.name)) f.build(in, j[f.name], "$." + f.name, *r);

  if (j.contains("waveform")) BuildWaveform(in, j["waveform"], "$.waveform", *r);
  if (j.contains("annotations")) BuildAnnotations(in, j["annotations"], "$.annotations", *r, false);
  if (j.contains("pAnnotations")) BuildAnnotations(in, j["pAnnotations"], "$.pAnnotations", *r, true);
  if (j.contains("pacemakerList")) BuildPacemaker(in, j["pacemakerList"], "$.pacemakerList", *r);
  if (j.contains("episodes")) BuildEpisodes(in, j["episodes"], "$.episodes", *r);
  if (j.contains("complexes")) BuildComplexes(in, j["complexes"], "$.complexes", *r);
  if (j.contains("trends")) BuildTrends(in, j["trends"], "$.trends", *r);
  if (j.contains("rhythms")) BuildRhythms(in, j["rhythms"], "$.rhythms", *r);
  if (j.contains("spirometryItems")) {
    const Json& s = j["spirometryItems"];
    if (!s.is_null() && !(s.is_array() && s.empty()))
      in.Fail("$.spirometryItems", "spirometry items are only read from files (no save writes them); use []");
  }
  if (j.contains("bloodPressureDataRecord"))
    BuildBloodPressureData(in, j["bloodPressureDataRecord"], "$.bloodPressureDataRecord", *r);
  if (j.contains("bloodPressureResultsRecord"))
    BuildBloodPressureResults(in, j["bloodPressureResultsRecord"], "$.bloodPressureResultsRecord", *r);
  if (j.contains("spirometryDataRecord")) BuildSpirometry(in, j["spirometryDataRecord"], "$.spirometryDataRecord", *r);
  if (j.contains("auditTrailRecord")) BuildAudit(in, j["auditTrailRecord"], "$.auditTrailRecord", *r);
  if (j.contains("diaryDocument"))
    BuildDocument(in, j["diaryDocument"], "$.diaryDocument", *r, &TestRecord::SetDiaryDocument);
  if (j.contains("reportDocument"))
    BuildDocument(in, j["reportDocument"], "$.reportDocument", *r, &TestRecord::SetReportDocument);
  if (j.contains("holterConfig")) BuildHolterConfig(in, j["holterConfig"], "$.holterConfig", *r);
  if (j.contains("holterConfigBlock"))
    BuildDocument(in, j["holterConfigBlock"], "$.holterConfigBlock", *r, &TestRecord::SetHolterConfigBlock);

  // What the file can carry depends on other fields.
  const uint32_t status = r->interpretationStatus;
  if (status != 0 && j.contains("originalDateTime") && !j["originalDateTime"].is_null())
    in.Fail("$.originalDateTime", "is stored only with interpretationStatus 0; use null");
  if (status != 2 && j.contains("confirmedDateTime") && !j["confirmedDateTime"].is_null())
    in.Fail("$.confirmedDateTime", "is stored only with interpretationStatus 2; use null");
  if (status == 1 && r->overreadDateTime != nullptr && r->overreadDateTime->hundredths != 0)
    in.Fail("$.overreadDateTime",
            "with interpretationStatus 1 the interpretation's time stamp (kept without hundredths) replaces it; "
            "use .00");
  for (const char* key : {"annotations", "pAnnotations"}) {
    if (!j.contains(key) || !j[key].is_object()) continue;
    const bool holter = r->procedureType == 4;
    const std::string p = std::string("$.") + key + ".extensions";
    if (!holter && j[key].contains("extensions"))
      in.Fail(p, "extension arrays are read back only for a Holter record (procedureType 4)");
    if (holter && !HasAllHolterExtensions(j[key]))
      in.Fail(p, "a Holter record (procedureType 4) reads extension arrays 17, 18 and 19: give all three");
  }
  if (!in.ok()) return nullptr;
  r->ClearModified();
  return r;
}

namespace {

std::string Short(const Json& v) {
  std::string s = v.dump();
  if (s.size() > 60) s = s.substr(0, 57) + "...";
  return s;
}

void Diff(const Json& a, const Json& b, const std::string& path, size_t limit, std::vector<std::string>* out) {
  if (out->size() >= limit) return;
  if (a.type() != b.type() && !(a.is_number_integer() && b.is_number_integer())) {
    out->push_back(path + ": " + Short(a) + " / " + Short(b));
    return;
  }
  if (a.is_object()) {
    for (auto it = a.begin(); it != a.end(); ++it) {
      if (!b.contains(it.key()))
        out->push_back(Key(path, it.key()) + ": only in the first");
      else
        Diff(it.value(), b[it.key()], Key(path, it.key()), limit, out);
      if (out->size() >= limit) return;
    }
    for (auto it = b.begin(); it != b.end(); ++it)
      if (!a.contains(it.key()) && out->size() < limit) out->push_back(Key(path, it.key()) + ": only in the second");
  } else if (a.is_array()) {
    if (a.size() != b.size()) {
      out->push_back(path + ": " + std::to_string(a.size()) + " / " + std::to_string(b.size()) + " elements");
      return;
    }
    for (size_t i = 0; i < a.size() && out->size() < limit; ++i) Diff(a[i], b[i], At(path, i), limit, out);
  } else if (a != b) {
    out->push_back(path + ": " + Short(a) + " / " + Short(b));
  }
}

}  // namespace

std::vector<std::string> DiffJson(const Json& a, const Json& b, size_t limit, const std::set<std::string>& ignore) {
  std::vector<std::string> out;
  if (a.is_object() && b.is_object()) {
    Json x = a, y = b;
    for (const std::string& k : ignore) {
      x.erase(k);
      y.erase(k);
    }
    Diff(x, y, "$", limit, &out);
  } else {
    Diff(a, b, "$", limit, &out);
  }
  return out;
}

}  // namespace scpecg
