// The record's scalar fields in JSON: one row each, dump and build.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "lib/byte_cursor.h"
#include "lib/dbclient/testrecord.h"
#include "tools/scpecg/record_json.h"
#include "tools/scpecg/record_parts.h"
#include "tools/scpecg/scpfile.h"

namespace scpecg {

#define SCP_TEXT_UP_TO(member, maxChars)                                                            \
  FieldSpec{#member, [](const TestRecord& r) -> Json { return FieldText(r.member, sizeof r.member); }, \
            [](In& in, const Json& j, const std::string& p, TestRecord& r) {                       \
              std::string t;                                                                        \
              if (in.Text(j, p, maxChars, &t)) CopyText(r.member, sizeof r.member, t);              \
            }}
// A text as long as its member holds, less the NUL.
#define SCP_TEXT(member) SCP_TEXT_UP_TO(member, sizeof(TestRecord::member) - 1)

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
  f.push_back(SCP_TEXT(tag186Text));
  f.push_back(SCP_DATE(acquisitionDateTime, DateKind::kDateTime, StoreDateTime,
                       DateTimeJson(r.acquisitionDateTime, false)));
  f.push_back(SCP_NUMBER(tag211Value, 0, kU32));
  f.push_back(FieldSpec{
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
      }});
  f.push_back(FieldSpec{
      "storedPatientId",
      [](const TestRecord& r) -> Json { return FieldText(r.storedPatientId, sizeof r.storedPatientId); },
      [](In& in, const Json& j, const std::string& p, TestRecord& r) {
        std::string t;
        if (in.Text(j, p, sizeof(TestRecord::storedPatientId) - 1, &t)) r.SetStoredPatientId(t.c_str());
      }});
  f.push_back(SCP_TEXT(accessionNumber));
  f.push_back(SCP_TEXT(tag185Text));
  f.push_back(SCP_TEXT(street));
  f.push_back(SCP_TEXT(city));
  f.push_back(SCP_TEXT(state));
  f.push_back(SCP_TEXT(postalCode));
  f.push_back(SCP_DATE(birthDate, DateKind::kDate, StoreDate, DateJson(r.birthDate)));
  f.push_back(SCP_TEXT(tag221Text));
  f.push_back(SCP_TEXT(confirmingPhysician));
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
  f.push_back(SCP_TEXT(technician));
  f.push_back(SCP_TEXT_UP_TO(diagnosis, 255));
  f.push_back(SCP_TEXT_UP_TO(drugs, 255));
  f.push_back(SCP_TEXT(tag240Text));
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
  f.push_back(SCP_TEXT(overreadingPhysician));
  f.push_back(SCP_DATE(originalDateTime, DateKind::kDateTime, StoreDateTime, DateTimeJson(r.originalDateTime, false)));
  f.push_back(SCP_DATE(overreadDateTime, DateKind::kDateTimeHundredths, StoreDateTime,
                       DateTimeJson(r.overreadDateTime, true)));
  f.push_back(
      SCP_DATE(confirmedDateTime, DateKind::kDateTime, StoreDateTime, DateTimeJson(r.confirmedDateTime, false)));
  f.push_back(SCP_TEXT(tag229Text));
  f.push_back(SCP_NUMBER(room, 0, 65535));
  f.push_back(SCP_NUMBER(smoking, 0, 3));
  f.push_back(SCP_NUMBER(alcohol, 0, 3));
  f.push_back(SCP_NUMBER(family, 0, 2));
  f.push_back(SCP_NUMBER(pacemaker, 0, 4));
  f.push_back(SCP_NUMBER(ambulatory, 0, 2));
  f.push_back(SCP_DATE(tag209Date, DateKind::kDate, StoreDate, DateJson(r.tag209Date)));
  f.push_back(SCP_TEXT(tag225Text));
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
  f.push_back(SCP_TEXT(referringPhysician));
  f.push_back(SCP_TEXT(tag222Text));
  f.push_back(SCP_TEXT(tag223Text));
  f.push_back(SCP_TEXT(tag224Text));
  f.push_back(SCP_TEXT(tag231Text));
  f.push_back(SCP_TEXT(deviceName));
  f.push_back(SCP_TEXT(deviceSerial));
  f.push_back(SCP_TEXT(deviceRevision));
  f.push_back(SCP_NUMBER(tag220Value, 0, kU32));
  f.push_back(SCP_NUMBER(tag218Value, 0, kU32));
  f.push_back(SCP_NUMBER(tag219Value, 0, kU32));
  // Filters and the target rate are 16-bit in the file and read back signed.
  f.push_back(SCP_NUMBER(highPassFilter, 0, 32767));
  f.push_back(SCP_NUMBER(lowPassFilter, 0, 32767));
  f.push_back(SCP_NUMBER(filterBitmap, 0, 255));
  f.push_back(SCP_TEXT(originalInterpreter));
  f.push_back(SCP_TEXT(tag232Text));
  f.push_back(SCP_NUMBER(targetHeartRate, 0, 32767));
  f.push_back(SCP_NUMBER(exerciseType, 0, 1));
  f.push_back(SCP_NUMBER(exerciseFlag, 0, 1));
  f.push_back(SCP_TEXT(tag253Text));
  f.push_back(SCP_TEXT(tag254Text));
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
  f.push_back(SCP_TEXT(tag227Text));
  f.push_back(SCP_TEXT(tag228Text));
  f.push_back(SCP_NUMBER(tag183Value, 0, kU32));
  f.push_back(SCP_NUMBER(procedureType, 0, 7));
  f.push_back(SCP_NUMBER(tag212Flag, 0, 1));
  f.push_back(SCP_TEXT(scrambleKey));
  f.push_back(SCP_NUMBER(tag181Value, 0, kU32));
  return f;
}

#undef SCP_TEXT
#undef SCP_TEXT_UP_TO
#undef SCP_NUMBER
#undef SCP_DATE

}  // namespace scpecg
