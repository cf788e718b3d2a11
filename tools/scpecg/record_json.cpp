#include "tools/scpecg/record_json.h"

#include <cstring>

#include "lib/byte_cursor.h"
#include "lib/dbclient/testrecord.h"
#include "tools/scpecg/record_parts.h"

namespace scpecg {

namespace {

// One sub-record slot: its key, how it is dumped and how it is built. The
// table's order is the order of the dump and of the build's checks.
struct SubRecordSpec {
  const char* key;
  Json (*dump)(const TestRecord& r);
  void (*build)(In& in, const Json& j, const std::string& p, TestRecord& r);
};

Json DumpComplexes(const TestRecord& r) {
  Json complexes = Json::array();
  for (int32_t i = 0; i < r.GetComplexDataCount(); ++i)
    if (const ComplexData* c = r.GetComplexAt(i)) complexes.push_back(DumpComplex(*c));
  return complexes;
}

Json DumpTrends(const TestRecord& r) {
  Json trends = Json::object();
  for (int32_t i = 0; i < TestRecord::kTrendSlots; ++i)
    if (const TrendRecord* t = r.GetTrendAt(i)) trends[std::to_string(i)] = DumpTrend(*t);
  return trends;
}

Json DumpRhythms(const TestRecord& r) {
  Json rhythms = Json::array();
  for (int32_t i = 0; i < r.GetRhythmCount(); ++i)
    if (const RhythmMeasurement* m = r.GetRhythmAt(i)) {
      Json words = Json::array();
      const ByteReader block(m->Bytes(), RhythmMeasurement::kBlockSize);
      for (uint32_t k = 0; k < RhythmMeasurement::kBlockSize / 4; ++k) words.push_back(block.U32At(4 * k));
      rhythms.push_back(std::move(words));
    }
  return rhythms;
}

void RefuseSpirometryItems(In& in, const Json& s, const std::string& p, TestRecord&) {
  if (!s.is_null() && !(s.is_array() && s.empty()))
    in.Fail(p, "spirometry items are only read from files (no save writes them); use []");
}

template <void (TestRecord::*Attach)(DocumentBuffer*)>
void BuildDocumentInto(In& in, const Json& j, const std::string& p, TestRecord& r) {
  BuildDocument(in, j, p, r, Attach);
}

using R = const TestRecord&;
const SubRecordSpec kSubRecords[] = {
    {"waveform", [](R r) { return DumpWaveform(r.GetWaveform()); }, &BuildWaveform},
    {"annotations", [](R r) { return DumpAnnotations(r.GetAnnotations()); },
     [](In& in, const Json& j, const std::string& p, TestRecord& r) { BuildAnnotations(in, j, p, r, false); }},
    {"pAnnotations", [](R r) { return DumpAnnotations(r.GetPAnnotations()); },
     [](In& in, const Json& j, const std::string& p, TestRecord& r) { BuildAnnotations(in, j, p, r, true); }},
    {"pacemakerList", [](R r) { return DumpPacemaker(r.GetPacemakerList()); }, &BuildPacemaker},
    {"episodes", [](R r) { return DumpEpisodes(r.GetEpisodes()); }, &BuildEpisodes},
    {"complexes", &DumpComplexes, &BuildComplexes},
    {"trends", &DumpTrends, &BuildTrends},
    {"rhythms", &DumpRhythms, &BuildRhythms},
    {"spirometryItems", &DumpSpirometryItems, &RefuseSpirometryItems},
    {"bloodPressureDataRecord", [](R r) { return DumpBloodPressureData(r.GetBloodPressureDataRecord()); },
     &BuildBloodPressureData},
    {"bloodPressureResultsRecord", [](R r) { return DumpBloodPressureResults(r.GetBloodPressureResultsRecord()); },
     &BuildBloodPressureResults},
    {"spirometryDataRecord", [](R r) { return DumpSpirometry(r.GetSpirometryDataRecord()); }, &BuildSpirometry},
    {"auditTrailRecord", [](R r) { return DumpAudit(r.GetAuditTrailRecord()); }, &BuildAudit},
    {"diaryDocument", [](R r) { return DumpDocument(r.GetDiaryDocument()); },
     &BuildDocumentInto<&TestRecord::SetDiaryDocument>},
    {"reportDocument", [](R r) { return DumpDocument(r.GetReportDocument()); },
     &BuildDocumentInto<&TestRecord::SetReportDocument>},
    {"holterConfig", [](R r) { return DumpHolterConfig(r.GetHolterConfig()); }, &BuildHolterConfig},
    {"holterConfigBlock", [](R r) { return DumpDocument(r.GetHolterConfigBlock()); },
     &BuildDocumentInto<&TestRecord::SetHolterConfigBlock>},
};

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
  for (const SubRecordSpec& s : kSubRecords) o[s.key] = s.dump(r);
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
  for (const SubRecordSpec& s : kSubRecords) allowed.push_back(s.key);
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

  for (const SubRecordSpec& s : kSubRecords)
    if (j.contains(s.key)) s.build(in, j[s.key], std::string("$.") + s.key, *r);

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
