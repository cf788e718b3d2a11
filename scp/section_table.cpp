#include "scp/section_table.h"

#include <memory>
#include <type_traits>

#include "lib/dbclient/testrecord.h"
#include "scp/lead_table.h"
#include "scp/messages.h"
#include "scp/sample_codec.h"
#include "scp/scpsrv.h"

// Rows name only the operations their section has; the rest stay null.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

template <auto Put>
void PutOf(ScpEcg& codec, TestRecord* record) {
  (codec.*Put)(record);
}

template <auto Get>
constexpr bool kGivesResult = !std::is_void_v<decltype((std::declval<ScpEcg&>().*Get)(nullptr))>;

template <auto Get>
int GetOf(ScpEcg& codec, TestRecord* record) {
  if constexpr (kGivesResult<Get>) {
    return (codec.*Get)(record);
  } else {
    (codec.*Get)(record);
    return 1;
  }
}

template <auto Probe>
uint32_t ProbeOf(ScpEcg& codec) {
  return (codec.*Probe)();
}

// A section saved and fetched through one member each.
template <auto Put, auto Get>
constexpr SectionOps Row(uint16_t id, const char* getName) {
  SectionOps row{.id = id, .get = &GetOf<Get>, .getName = getName, .getGivesResult = kGivesResult<Get>};
  // A section without a writer passes nullptr itself: comparing a member
  // pointer with null is no constant expression in sanitized GCC builds.
  if constexpr (!std::is_null_pointer_v<decltype(Put)>) row.put = &PutOf<Put>;
  return row;
}

// The same with the format check's probe.
template <auto Put, auto Get, auto Probe>
constexpr SectionOps Row(uint16_t id, const char* getName, uint32_t ValidFormatInfo::*field) {
  SectionOps row = Row<Put, Get>(id, getName);
  row.probe = &ProbeOf<Probe>;
  row.probeField = field;
  return row;
}

// Section 2 is written for every record; sections 3 and 6 only with a
// waveform, and are read back, with section 2's tables, only into one.
void PutWaveform(ScpEcg& codec, TestRecord* record) {
  if (record->GetWaveform() == nullptr) return;
  if (EcgWaveform* wave = codec.PutLeadDefinition(record))
    codec.PutRhythmData(wave);
  else
    LogOem(codec.log(), msg::kSaveLeadDefinition);
}

int GetWaveform(ScpEcg& codec, TestRecord* record) {
  if (EcgWaveform* wave = record->GetWaveform()) {
    std::unique_ptr<HuffmanMode> mode = codec.GetHuffmanTables();
    std::unique_ptr<LeadTable> leads = codec.GetLeadDefinition();
    if (leads) codec.GetRhythmData(wave, leads.get(), mode.get());
  }
  return 1;
}

using S = ScpEcg;
using I = ValidFormatInfo;

const SectionOps kSections[] = {
    Row<&S::PutDemographics, &S::GetDemographics>(1, "GetDemographics"),
    {.id = 2, .put = [](ScpEcg& codec, TestRecord*) { codec.PutHuffmanTables(); }},
    {.id = 3, .put = &PutWaveform, .get = &GetWaveform, .getName = "GetRhythmData"},
    Row<&S::PutInterpretation, &S::GetInterpretation>(8, "GetInterpretation"),
    Row<&S::PutTrendData, &S::GetTrendData>(129, "GetTrendData"),
    Row<&S::PutAnnotationData, &S::GetAnnotationData>(130, "GetAnnotationData"),
    Row<&S::PutEpisodeData, &S::GetEpisodeData>(131, "GetEpisodeData"),
    Row<&S::PutComplexData, &S::GetComplexData, &S::GetComplexCount>(133, "GetComplexData", &I::complexCount),
    Row<&S::PutRhythmMeasData, &S::GetRhythmMeasData, &S::GetRhythmMeasCount>(137, "GetRhythmMeasData",
                                                                              &I::rhythmMeasCount),
    Row<&S::PutPacemakerData, &S::GetPacemakerData>(138, "GetPacemakerData"),
    Row<&S::PutBloodPressureData, &S::GetBloodPressureData>(139, "GetBloodPressureData"),
    Row<&S::PutBloodPressureResults, &S::GetBloodPressureResults>(140, "GetBloodPressureResults"),
    Row<&S::PutSpirometryData, &S::GetSpirometryData>(144, "GetSpirometryData"),
    // The spirometry items are saved with section 144.
    Row<nullptr, &S::GetSpirometryItems>(145, "GetSpirometryItems"),
    Row<&S::PutPAnnotationData, &S::GetPAnnotationData>(146, "GetPAnnotationData"),
    Row<&S::PutAuditTrail, &S::GetAuditTrail>(147, "GetAuditTrail"),
    Row<&S::PutDiaryPDF, &S::GetDiaryPDF, &S::GetDiaryPDFSize>(148, "GetDiaryPDF", &I::diaryPdfSize),
    Row<&S::PutReportPDF, &S::GetReportPDF, &S::GetReportPDFSize>(149, "GetReportPDF", &I::reportPdfSize),
    Row<&S::PutHolterCfgData, &S::GetHolterCfgData, &S::GetHolterCfgSize>(150, "GetHolterCfgData",
                                                                          &I::holterCfgSize),
    Row<&S::PutHolterCfgBlock, &S::GetHolterCfgBlock, &S::GetHolterCfgBlockSize>(151, "GetHolterCfgBlock",
                                                                                 &I::holterCfgBlockSize),
};

}  // namespace

std::span<const SectionOps> SectionTable() { return kSections; }

const SectionOps* FindSection(uint16_t id) {
  for (const SectionOps& row : kSections)
    if (row.id == id) return &row;
  return nullptr;
}
