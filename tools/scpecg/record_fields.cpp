// The record's scalar fields in JSON: one row each, dump and build.
#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <type_traits>
#include <utility>

#include "lib/dbclient/testrecord.h"
#include "tools/scpecg/record_json.h"
#include "tools/scpecg/record_parts.h"

namespace scpecg {

namespace {

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

// The fields whose JSON form is their own (Own in the field list).
const FieldSpec& OwnRow(const std::string& name) {
  static const std::vector<FieldSpec> kOwn = {
      FieldSpec{
      "patientName", [](const TestRecord& r) -> Json { return FieldText(r.patientName, sizeof r.patientName); },
      [](In& in, const Json& j, const std::string& p, TestRecord& r) {
        std::string t;
        if (!in.Text(j, p, sizeof(TestRecord::patientName) - 1, &t)) return;
        const size_t a = t.find('^');
        const size_t b = a == std::string::npos ? a : t.find('^', a + 1);
        if (b == std::string::npos || t.find('^', b + 1) != std::string::npos) {
          in.Fail(p, "expected last^first^second-last (exactly two '^')");
          return;
        }
        const std::string last = t.substr(0, a), first = t.substr(a + 1, b - a - 1), second = t.substr(b + 1);
        r.SetPatientName(first.c_str(), second.c_str(), last.c_str());
      }},
      FieldSpec{
      "storedPatientId",
      [](const TestRecord& r) -> Json { return FieldText(r.storedPatientId, sizeof r.storedPatientId); },
      [](In& in, const Json& j, const std::string& p, TestRecord& r) {
        std::string t;
        if (in.Text(j, p, sizeof(TestRecord::storedPatientId) - 1, &t)) r.SetStoredPatientId(t.c_str());
      }},
      FieldSpec{"weight", [](const TestRecord& r) -> Json { return r.weight; },
                        [](In& in, const Json& j, const std::string& p, TestRecord& r) {
                          BuildConverted(in, j, p, &r.weight, 16, 100, "ounces", 100, 16);
                        }},
      FieldSpec{"height", [](const TestRecord& r) -> Json { return r.height; },
                        [](In& in, const Json& j, const std::string& p, TestRecord& r) {
                          BuildConverted(in, j, p, &r.height, 254, 1000, "millimetres", 1000, 254);
                        }},
      FieldSpec{
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
      }},
      FieldSpec{"bloodPressure",
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
                        }},
  };
  return *std::find_if(kOwn.begin(), kOwn.end(), [&](const FieldSpec& f) { return f.name == name; });
}

// The JSON column of the field list.
struct JsonForm {
  enum Kind { kSkip, kPlain, kOwn } kind;
  int64_t max = -1;  // the largest number or the longest text; -1: what the member holds
  bool hundredths = false;
};
struct JsonAs {
  static constexpr JsonForm Skip{JsonForm::kSkip}, Plain{JsonForm::kPlain}, Own{JsonForm::kOwn};
  static constexpr JsonForm Hundredths{JsonForm::kPlain, -1, true};
  static constexpr JsonForm Max(int64_t max) { return {JsonForm::kPlain, max}; }
};

// A field's row, its JSON form following from the member's type: a text,
// a number from 0, a date or a time stamp.
template <auto Member>
void AddRow(std::vector<FieldSpec>* rows, const char* name, JsonForm form) {
  using T = std::remove_reference_t<decltype(std::declval<TestRecord&>().*Member)>;
  using Build = std::function<void(In&, const Json&, const std::string&, TestRecord&)>;
  if (form.kind == JsonForm::kSkip) return;
  if (form.kind == JsonForm::kOwn) {
    rows->push_back(OwnRow(name));
  } else if constexpr (std::is_array_v<T> && std::is_same_v<std::remove_extent_t<T>, char>) {
    const size_t maxChars = form.max >= 0 ? static_cast<size_t>(form.max) : sizeof(T) - 1;
    rows->push_back({name, [](const TestRecord& r) -> Json { return FieldText(r.*Member, sizeof(T)); },
                     Build([maxChars](In& in, const Json& j, const std::string& p, TestRecord& r) {
                       std::string t;
                       if (in.Text(j, p, maxChars, &t)) CopyText(r.*Member, sizeof(T), t);
                     })});
  } else if constexpr (std::is_integral_v<T>) {
    const int64_t hi = form.max >= 0 ? form.max : int64_t{std::numeric_limits<T>::max()};
    rows->push_back({name, [](const TestRecord& r) -> Json { return r.*Member; },
                     Build([hi](In& in, const Json& j, const std::string& p, TestRecord& r) {
                       in.Number(j, p, 0, hi, &(r.*Member));
                     })});
  } else if constexpr (std::is_same_v<T, CalendarDate*> || std::is_same_v<T, DateTime*>) {
    constexpr bool kDate = std::is_same_v<T, CalendarDate*>;
    const bool hs = form.hundredths;
    const DateKind kind = kDate ? DateKind::kDate : hs ? DateKind::kDateTimeHundredths : DateKind::kDateTime;
    auto store = [](T target, const DateParts& d) {
      if constexpr (kDate) StoreDate(target, d); else StoreDateTime(target, d);
    };
    rows->push_back({name,
                     [hs](const TestRecord& r) -> Json {
                       if constexpr (kDate) return DateJson(r.*Member); else return DateTimeJson(r.*Member, hs);
                     },
                     Build([kind, store](In& in, const Json& j, const std::string& p, TestRecord& r) {
                       DateParts d;
                       if (j.is_null() || ParseDate(in, j, p, kind, &d)) store(r.*Member, d);
                     })});
  }
}

}  // namespace

std::vector<FieldSpec> RecordFields() {
  std::vector<FieldSpec> rows;
#define SCP_JSON_ROW(name, json, ...) AddRow<&TestRecord::name>(&rows, #name, JsonAs::json);
  SCP_TEST_RECORD_FIELDS(SCP_JSON_ROW)
#undef SCP_JSON_ROW
  // The form gives the interpretation's status before its text, which the
  // record's layout keeps the other way round.
  auto text = std::find_if(rows.begin(), rows.end(), [](const FieldSpec& f) { return f.name == "interpretationText"; });
  std::iter_swap(text, text + 1);
  return rows;
}

}  // namespace scpecg
