// The pieces of the record's JSON form: the scalar fields (record_fields.cpp)
// and each sub-record's dump and build (subrecord_lists_json.cpp,
// subrecord_blocks_json.cpp). record_json.cpp puts them together.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "tools/scpecg/json_in.h"

namespace scpecg {

// One scalar field of the record: how it is dumped and how it is built.
struct FieldSpec {
  std::string name;
  std::function<Json(const TestRecord&)> dump;
  std::function<void(In&, const Json&, const std::string&, TestRecord&)> build;
};

// Every scalar field, in the order of the dump.
std::vector<FieldSpec> RecordFields();

Json DumpWaveform(const EcgWaveform* w);
void BuildWaveform(In& in, const Json& j, const std::string& p, TestRecord& r);
Json DumpAnnotations(const AnnotationList* a);
void BuildAnnotations(In& in, const Json& j, const std::string& p, TestRecord& r, bool pList);
Json DumpEpisodes(const EpisodeList* e);
void BuildEpisodes(In& in, const Json& j, const std::string& p, TestRecord& r);
Json DumpPacemaker(const PacemakerList* l);
void BuildPacemaker(In& in, const Json& j, const std::string& p, TestRecord& r);
Json DumpBloodPressureData(const BloodPressureData* d);
void BuildBloodPressureData(In& in, const Json& j, const std::string& p, TestRecord& r);
Json DumpBloodPressureResults(const BloodPressureResults* b);
void BuildBloodPressureResults(In& in, const Json& j, const std::string& p, TestRecord& r);
Json DumpSpirometry(const SpirometryData* s);
void BuildSpirometry(In& in, const Json& j, const std::string& p, TestRecord& r);
Json DumpSpirometryItems(const TestRecord& r);
Json DumpComplex(const ComplexData& c);
void BuildComplexes(In& in, const Json& j, const std::string& p, TestRecord& r);
void BuildRhythms(In& in, const Json& j, const std::string& p, TestRecord& r);
Json DumpTrend(const TrendRecord& t);
void BuildTrends(In& in, const Json& j, const std::string& p, TestRecord& r);
Json DumpAudit(const AuditTrail* a);
void BuildAudit(In& in, const Json& j, const std::string& p, TestRecord& r);
Json DumpDocument(const DocumentBuffer* d);
void BuildDocument(In& in, const Json& j, const std::string& p, TestRecord& r,
                   void (TestRecord::*attach)(DocumentBuffer*));
Json DumpHolterConfig(const HolterConfig* h);
void BuildHolterConfig(In& in, const Json& j, const std::string& p, TestRecord& r);

}  // namespace scpecg
