// Manufacturer sections of one record each: annotations (130), episodes
// (131), pacemaker (138), blood pressure readings (139) and results (140),
// spirometry (144, and its items 145, read only), P annotations (146) and
// the audit trail (147). The framing and every message come from
// mfr_framing; what is left here is which sub-record each section carries.
#include <memory>
#include <span>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "scp/mfr_framing.h"
#include "scp/scpecg.h"

namespace {

constexpr const mfr::SectionMessages& kAnnotations = mfr::Messages(130);
constexpr const mfr::SectionMessages& kEpisodes = mfr::Messages(131);
constexpr const mfr::SectionMessages& kPacemaker = mfr::Messages(138);
constexpr const mfr::SectionMessages& kBloodPressureData = mfr::Messages(139);
constexpr const mfr::SectionMessages& kBloodPressureResults = mfr::Messages(140);
constexpr const mfr::SectionMessages& kSpirometry = mfr::Messages(144);
constexpr const mfr::SectionMessages& kSpirometryItems = mfr::Messages(145);
constexpr const mfr::SectionMessages& kPAnnotations = mfr::Messages(146);
constexpr const mfr::SectionMessages& kAuditTrail = mfr::Messages(147);

// Framing 2 as 139, 140, 144 and 145 use it: four bytes behind each record.
constexpr mfr::CountedFraming kRecordsWithGap{false, 4, false};
// Framing 3 as 147 uses it: W is the payload length.
constexpr mfr::CountedFraming kLengthWordPayload{true, 0, false};

// The procedure type of a Holter recording selects the annotation reader
// that also fills extension arrays 17 to 19.
constexpr uint32_t kHolterProcedure = 4;

// The record whole as the sub-record serializes it, then a zero word.
template <class SubRecord>
void PutSerialized(ScpEcg& codec, const mfr::SectionMessages& m, const SubRecord* sub) {
  if (sub == nullptr) return;
  uint32_t length = 0;
  std::unique_ptr<uint8_t[]> owned = sub->Serialize(&length);
  const bool held = owned != nullptr && length > 0;
  mfr::PutSingleRecord(codec, m, std::nullopt, held ? std::span(owned.get(), length) : std::span<uint8_t>(), true);
}

// Framing 1 into the one sub-record, when there is one.
template <class SubRecord>
void ReadInto(ScpEcg& codec, const mfr::SectionMessages& m, SubRecord* sub) {
  if (sub != nullptr) mfr::ReadSingleRecord(codec, m, [&](std::span<const uint8_t> r) { sub->Read(r); });
}

void ReadAnnotations(ScpEcg& codec, const mfr::SectionMessages& m, AnnotationList* list, bool holter) {
  if (list == nullptr) return;
  mfr::ReadSingleRecord(codec, m, [&](std::span<const uint8_t> record) {
    if (holter)
      list->ReadHolter(record, codec.log());
    else
      list->Read(record, codec.log());
  });
}

// Framing 2 with every record read into the one sub-record (when there is
// one): the last record read is what it keeps.
template <class SubRecord>
int ReadEachInto(ScpEcg& codec, const mfr::SectionMessages& m, SubRecord* sub) {
  return mfr::ReadCountedRecords(codec, m, kRecordsWithGap, [&](uint32_t, std::span<const uint8_t> r, uint32_t) {
    if (sub != nullptr) sub->Read(r);
  });
}

bool IsHolter(const TestRecord* record) { return record->GetProcedureType() == kHolterProcedure; }

}  // namespace

// ------------------------------------------------------------ 130 and 146

void ScpEcg::PutAnnotationData(TestRecord* record) {
  if (record != nullptr) PutSerialized(*this, kAnnotations, record->GetAnnotations());
}

void ScpEcg::GetAnnotationData(TestRecord* record) {
  if (record != nullptr) ReadAnnotations(*this, kAnnotations, record->GetAnnotations(), IsHolter(record));
}

void ScpEcg::PutPAnnotationData(TestRecord* record) {
  if (record != nullptr) PutSerialized(*this, kPAnnotations, record->GetPAnnotations());
}

void ScpEcg::GetPAnnotationData(TestRecord* record) {
  if (record != nullptr) ReadAnnotations(*this, kPAnnotations, record->GetPAnnotations(), IsHolter(record));
}

// -------------------------------------------------------------------- 131

void ScpEcg::PutEpisodeData(TestRecord* record) {
  if (record != nullptr) PutSerialized(*this, kEpisodes, record->GetEpisodes());
}

void ScpEcg::GetEpisodeData(TestRecord* record) {
  if (record != nullptr) ReadInto(*this, kEpisodes, record->GetEpisodes());
}

// -------------------------------------------------------------------- 138

void ScpEcg::PutPacemakerData(TestRecord* record) {
  if (record != nullptr) PutSerialized(*this, kPacemaker, record->GetPacemakerList());
}

void ScpEcg::GetPacemakerData(TestRecord* record) {
  if (record != nullptr) ReadInto(*this, kPacemaker, record->GetPacemakerList());
}

// ------------------------------------------------------------ 139 and 140

void ScpEcg::PutBloodPressureData(TestRecord* record) {
  if (record != nullptr) PutSerialized(*this, kBloodPressureData, record->GetBloodPressureDataRecord());
}

int ScpEcg::GetBloodPressureData(TestRecord* record) {
  return ReadEachInto(*this, kBloodPressureData, record != nullptr ? record->GetBloodPressureDataRecord() : nullptr);
}

void ScpEcg::PutBloodPressureResults(TestRecord* record) {
  if (record != nullptr) PutSerialized(*this, kBloodPressureResults, record->GetBloodPressureResultsRecord());
}

int ScpEcg::GetBloodPressureResults(TestRecord* record) {
  return ReadEachInto(*this, kBloodPressureResults,
                      record != nullptr ? record->GetBloodPressureResultsRecord() : nullptr);
}

// ------------------------------------------------------------ 144 and 145

void ScpEcg::PutSpirometryData(TestRecord* record) {
  const SpirometryData* data = record != nullptr ? record->GetSpirometryDataRecord() : nullptr;
  if (data == nullptr) return;
  uint32_t length = 0;
  const uint8_t* block = data->Data(&length);
  // The record is the block with its first word replaced by the record
  // length, so the word goes out on its own and the block from byte 4.
  const bool held = block != nullptr && length >= 4;
  mfr::PutSingleRecord(*this, kSpirometry, length, held ? std::span(block + 4, length - 4) : std::span<const uint8_t>(),
                       true);
}

// Both spirometry readers hand on only the record's own L bytes: a record
// shorter than its block fills what it holds and leaves the rest of the
// block zero, rather than taking in the gap and the next record.
int ScpEcg::GetSpirometryData(TestRecord* record) {
  return ReadEachInto(*this, kSpirometry, record != nullptr ? record->GetSpirometryDataRecord() : nullptr);
}

int ScpEcg::GetSpirometryItems(TestRecord* record) {
  return mfr::ReadCountedRecords(*this, kSpirometryItems, kRecordsWithGap,
                                 [&](uint32_t i, std::span<const uint8_t> r, uint32_t) {
                                   // Indexes from 2^31 on are negative here and name no item.
                                   SpirometryItem* item =
                                       record != nullptr ? record->GetSpirometryItemAt(static_cast<int32_t>(i)) : nullptr;
                                   if (item != nullptr) item->Read(r);
                                 });
}

// -------------------------------------------------------------------- 147

void ScpEcg::PutAuditTrail(TestRecord* record) {
  const AuditTrail* trail = record != nullptr ? record->GetAuditTrailRecord() : nullptr;
  if (trail == nullptr) return;
  // The trail refuses to serialize (and the section is left out without a
  // message) when its count is above 16 or a slot up to the count is empty;
  // an action code outside 0..3 goes out as 0xFF, which a reader ignores.
  // The buffer holds W and then the payload; W is written as the length
  // word, the payload behind it.
  uint32_t w = 0;
  std::unique_ptr<uint8_t[]> owned = trail->Serialize(&w);
  const bool held = owned != nullptr && w > 0;
  mfr::PutSingleRecord(*this, kAuditTrail, w, held ? std::span(owned.get() + 4, w) : std::span<uint8_t>(), false);
}

int ScpEcg::GetAuditTrail(TestRecord* record) {
  AuditTrail* trail = record != nullptr ? record->GetAuditTrailRecord() : nullptr;
  return mfr::ReadCountedRecords(*this, kAuditTrail, kLengthWordPayload,
                                 [&](uint32_t, std::span<const uint8_t> payload, uint32_t w) {
                                   if (trail != nullptr) trail->Read(payload, w);
                                 });
}
