#include "tools/scpecg/fetch.h"

#include <algorithm>
#include <functional>

#include "lib/dbclient/testrecord.h"
#include "tools/scpecg/host.h"
#include "tools/scpecg/scpfile.h"

namespace scpecg {

namespace {

uint32_t DataLength(const ScpFile& file, uint16_t id) {
  const SectionInfo* s = file.Find(id);
  if (s == nullptr || s->length <= ScpFile::kSectionHeaderBytes) return 0;
  return s->length - static_cast<uint32_t>(ScpFile::kSectionHeaderBytes);
}

std::string Problem(const ScpFile& file, uint16_t id) {
  const SectionInfo* s = file.Find(id);
  return s != nullptr && !s->problem.empty() ? s->problem : "not readable";
}

// Channel slots of the leads: the first eight as ISVALIDFORMAT reports them,
// the rest from Section 3's lead identifiers (the block reports only eight).
std::vector<uint8_t> LeadChannels(ScpFile& file, const ValidFormatInfo& info) {
  std::vector<uint8_t> channels;
  const uint32_t n = info.leadCount;
  for (uint32_t i = 0; i < n && i < 8; ++i) channels.push_back(static_cast<uint8_t>(info.channel[i]));
  if (n > 8) {
    const std::vector<uint8_t> ids = LeadIdentifiers(file);
    for (uint32_t i = 8; i < n; ++i) {
      if (i < ids.size()) {
        channels.push_back(static_cast<uint8_t>(ChannelOfLeadId(ids[i])));
      } else {
        // The writer stores leads in ascending channel order.
        channels.push_back(static_cast<uint8_t>(channels.empty() ? 0 : channels.back() + 1));
      }
    }
  }
  return channels;
}

}  // namespace

bool FetchWhole(Library& lib, ScpFile& file, const std::string& path, Fetched* out, std::string* error) {
  ValidFormatInfo info{};
  if (lib.IsValidFormat(path, &info) != 1) {
    *error = "not an SCP-ECG record that the library opens";
    return false;
  }
  out->info = info;
  out->procedureType = lib.GetProcedureType(path);
  auto record = std::make_unique<TestRecord>();
  record->SetFilePath(path.c_str());
  TestRecord& r = *record;

  // Rhythm data.
  if (info.leadCount > 0 && info.leadCount <= EcgWaveform::kChannelSlots && info.longestLead > 0 &&
      info.samplingRate > 0 && info.amplitudeMultiplier > 0) {
    const std::vector<uint8_t> channels = LeadChannels(file, info);
    auto w = new EcgWaveform(info.leadCount, info.longestLead, info.samplingRate, info.amplitudeMultiplier, channels);
    if (w->HasStorage())
      r.SetWaveform(w);
    else {
      delete w;
      out->notes.push_back("rhythm data left out: the leads' channels cannot be told apart");
    }
  } else if (info.leadCount > 0) {
    out->notes.push_back("rhythm data left out: the record does not say its rate, resolution or length");
  }

  const bool holter = out->procedureType == 4;
  const uint32_t holterMask = holter ? AnnotationList::kHolterExtensions : 0;
  if (uint32_t len = DataLength(file, 130)) r.SetAnnotations(new AnnotationList(len / 8 + 1, holterMask));
  if (uint32_t len = DataLength(file, 146)) r.SetPAnnotations(new AnnotationList(len / 8 + 1, holterMask));
  if (uint32_t len = DataLength(file, 131)) {
    const uint32_t cap = len / EpisodeList::kItemFixedBytes + 1;
    r.SetEpisodes(new EpisodeList(cap, len + 6 * cap + 16));
  }
  if (uint32_t len = DataLength(file, 138)) r.SetPacemakerList(new PacemakerList(len / PacemakerList::kBytesPerValue + 1));
  if (uint32_t len = DataLength(file, 139)) r.SetBloodPressureDataRecord(new BloodPressureData(len / 280 + 1));
  if (DataLength(file, 140) > 0) r.SetBloodPressureResultsRecord(new BloodPressureResults());
  if (DataLength(file, 144) > 0) r.SetSpirometryDataRecord(new SpirometryData());
  if (uint32_t len = DataLength(file, 145); len >= 4) {
    const uint32_t n = std::min<uint32_t>((len - 4 + SpirometryItem::kBlockBytes + 3) / (SpirometryItem::kBlockBytes + 4),
                                          TestRecord::kSpirometryItemSlots);
    for (uint32_t i = 0; i < n; ++i) r.AddSpirometryItem(new SpirometryItem());
  }

  const std::vector<ComplexShape> complexShapes = ComplexShapes(file);
  for (uint32_t i = 0; i < std::min<uint32_t>(info.complexCount, TestRecord::kComplexSlots); ++i) {
    ComplexData* c = i < complexShapes.size() && complexShapes[i].leadCount <= ComplexData::kMaxLeads
                         ? new ComplexData(complexShapes[i].leadCount, complexShapes[i].sampleCount)
                         : new ComplexData();
    r.AddComplex(c);
  }
  for (uint32_t i = 0; i < std::min<uint32_t>(info.rhythmMeasCount, TestRecord::kRhythmSlots); ++i)
    r.AddRhythm(new RhythmMeasurement());
  for (const TrendShape& t : TrendShapes(file)) r.SetTrendAt(t.slot, new TrendRecord(t.values));

  // A document is read only into a buffer that already holds something.
  const uint8_t placeholder[1] = {0};
  if (info.diaryPdfSize > 4) {
    auto d = new DocumentBuffer(info.diaryPdfSize - 4);
    d->SetContent(placeholder);
    r.SetDiaryDocument(d);
  }
  if (info.reportPdfSize > 4) {
    auto d = new DocumentBuffer(info.reportPdfSize - 4);
    d->SetContent(placeholder);
    r.SetReportDocument(d);
  }
  if (info.holterCfgSize > 0) r.SetHolterConfig(new HolterConfig());
  if (info.holterCfgBlockSize > 4) r.SetHolterConfigBlock(new DocumentBuffer(info.holterCfgBlockSize - 4));

  if (lib.Fetch(&r) != 1) {
    *error = "the library could not fetch the record";
    return false;
  }

  // Leave out what a damaged section could not fill.
  auto gone = [&](uint16_t id, const char* what) {
    out->notes.push_back("section " + std::to_string(id) + " " + Problem(file, id) + ": " + what + " left out");
  };
  if (!file.Good(1) && file.Find(1) != nullptr && file.Find(1)->length > 0) gone(1, "demographics");
  if (EcgWaveform* w = r.GetWaveform()) {
    for (uint16_t id : {2, 3, 6}) {
      const SectionInfo* s = file.Find(id);
      if (s != nullptr && s->length > 0 && !file.Good(id)) {
        gone(id, "rhythm data");
        r.SetWaveform(nullptr);
        break;
      }
    }
    if (r.GetWaveform() != nullptr && w->GetValidSampleCount() != w->SamplesPerLead()) {
      out->notes.push_back("rhythm data could not be decoded: left out");
      r.SetWaveform(nullptr);
    }
  }
  struct Slot {
    uint16_t id;
    const char* what;
    bool attached;
    std::function<void()> drop;
  };
  const Slot slots[] = {
      {130, "annotations", r.GetAnnotations() != nullptr, [&] { r.SetAnnotations(nullptr); }},
      {146, "P annotations", r.GetPAnnotations() != nullptr, [&] { r.SetPAnnotations(nullptr); }},
      {131, "episodes", r.GetEpisodes() != nullptr, [&] { r.SetEpisodes(nullptr); }},
      {138, "pacemaker data", r.GetPacemakerList() != nullptr, [&] { r.SetPacemakerList(nullptr); }},
      {139, "blood pressure readings", r.GetBloodPressureDataRecord() != nullptr,
       [&] { r.SetBloodPressureDataRecord(nullptr); }},
      {140, "blood pressure results", r.GetBloodPressureResultsRecord() != nullptr,
       [&] { r.SetBloodPressureResultsRecord(nullptr); }},
      {144, "spirometry", r.GetSpirometryDataRecord() != nullptr, [&] { r.SetSpirometryDataRecord(nullptr); }},
      {145, "spirometry items", r.GetSpirometryItemCount() > 0,
       [&] {
         for (int32_t i = 0; i < r.GetSpirometryItemCount(); ++i) r.SetSpirometryItemAt(i, nullptr);
       }},
      {148, "diary document", r.GetDiaryDocument() != nullptr, [&] { r.SetDiaryDocument(nullptr); }},
      {149, "report document", r.GetReportDocument() != nullptr, [&] { r.SetReportDocument(nullptr); }},
      {150, "Holter configuration", r.GetHolterConfig() != nullptr, [&] { r.SetHolterConfig(nullptr); }},
      {151, "Holter configuration block", r.GetHolterConfigBlock() != nullptr,
       [&] { r.SetHolterConfigBlock(nullptr); }},
  };
  for (const Slot& slot : slots) {
    if (!slot.attached || file.Good(slot.id)) continue;
    gone(slot.id, slot.what);
    slot.drop();
  }
  out->record = std::move(record);
  return true;
}

}  // namespace scpecg
