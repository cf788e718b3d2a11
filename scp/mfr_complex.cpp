// Averaged complexes (section 133) and rhythm measurements (section 137):
// counted self-length records with nothing between them. Both writers put
// every item or none: the section is ended only after the last one.
#include <cstdint>
#include <span>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "scp/mfr_framing.h"
#include "scp/scpecg.h"

namespace {

constexpr const mfr::SectionMessages& kComplex = mfr::Messages(133);
constexpr const mfr::SectionMessages& kRhythm = mfr::Messages(137);

// Complexes follow one another with nothing between them.
constexpr mfr::CountedFraming kBackToBack{false, 0, false};
// An older rhythm record is followed by four bytes that belong to it.
constexpr uint32_t kOldRecordGap = 4;
// A test record has this many rhythm slots; see GetRhythmMeasData.
constexpr uint32_t kRhythmSlots = 256;

// The count word of a section, or 0 when the section is absent or cannot
// hold the word.
uint32_t CountWord(ScpEcg& codec, uint16_t id) {
  SectionData data(codec, id);
  return data && data.size() >= 4 ? data.U32At(0) : 0;
}

// Writes `count` items behind the count word, each through put(out, i),
// which logs and gives false for an item that cannot go in. The section is
// ended only after the last one. The odd-length pad byte needs a byte of
// room that the item checks do not always leave (a rhythm block may fill
// the buffer exactly); a section that cannot be closed for it is reported
// like any other that does not fit.
template <class Put>
void PutItems(ScpEcg& codec, const mfr::SectionMessages& m, int32_t count, Put&& put) {
  if (count <= 0) return;
  SectionWriter out(codec);
  if (!out || !out.U32(static_cast<uint32_t>(count))) {
    LogOem(codec.log(), m.beginFail);
    return;
  }
  for (int32_t i = 0; i < count; ++i) {
    if (!put(out, i)) return;
  }
  if (!out.End(m.id)) LogOem(codec.log(), m.sizeLimit);
}

}  // namespace

// -------------------------------------------------------------------- 133

void ScpEcg::PutComplexData(TestRecord* record) {
  if (record == nullptr) return;
  PutItems(*this, kComplex, record->GetComplexDataCount(), [&](SectionWriter& out, int32_t i) {
    const ComplexData* complex = record->GetComplexAt(i);
    if (complex == nullptr) {
      LogOem(log(), msg::kComplexMissing);
      return false;
    }
    uint32_t length = 0;
    std::unique_ptr<uint8_t[]> bytes = complex->Serialize(&length);
    if (bytes == nullptr) {
      LogMemory(log(), kComplex.empty);
      return false;
    }
    if (length < 1 || !out.Fits(size_t{length} + 4)) {
      LogOem(log(), kComplex.sizeLimit);
      return false;
    }
    return out.Bytes(bytes.get(), length);
  });
}

int ScpEcg::GetComplexData(TestRecord* record) {
  // The complex reader is handed only the record's own bytes and checks
  // every part against them; a record that does not match the lead slots of
  // the complex fills what it can and is not reported.
  return mfr::ReadCountedRecords(*this, kComplex, kBackToBack, [&](uint32_t i, std::span<const uint8_t> r, uint32_t) {
    // Indexes from 2^31 on are negative here and name no complex.
    ComplexData* complex = record != nullptr ? record->GetComplexAt(static_cast<int32_t>(i)) : nullptr;
    if (complex != nullptr) complex->Read(r);
  });
}

uint32_t ScpEcg::GetComplexCount() { return CountWord(*this, kComplex.id); }

// -------------------------------------------------------------------- 137

void ScpEcg::PutRhythmMeasData(TestRecord* record) {
  if (record == nullptr) return;
  PutItems(*this, kRhythm, record->GetRhythmCount(), [&](SectionWriter& out, int32_t i) {
    const RhythmMeasurement* rhythm = record->GetRhythmAt(i);
    if (rhythm == nullptr) {
      LogOem(log(), msg::kRhythmSummaryMissing);
      return false;
    }
    uint32_t size = 0;
    const uint8_t* block = rhythm->Data(&size);
    // A size word above 672 claims more than the block holds; it cannot be
    // copied and ends the writing as an item that does not fit.
    if (block == nullptr || !out.Fits(size)) {
      LogOem(log(), kRhythm.sizeLimit);
      return false;
    }
    return out.Bytes(block, size);
  });
}

int ScpEcg::GetRhythmMeasData(TestRecord* record) {
  // Only the first 256 records are walked: no test record has a rhythm
  // slot beyond them, and a record that the walk cannot move past (one of
  // an unknown length, or one meeting a missing measurement) would
  // otherwise be met again for every index up to a count of 2^32 - 1.
  return mfr::WalkSection(*this, kRhythm, kRhythmSlots, 0, [&](uint32_t i, std::span<const uint8_t> r, uint32_t length) {
    RhythmMeasurement* rhythm = record != nullptr ? record->GetRhythmAt(static_cast<int32_t>(i)) : nullptr;
    if (rhythm == nullptr) {
      // The record stays where it is and is offered to the next measurement.
      LogOem(log(), msg::kRhythmSummaryReadMissing);
      return uint64_t{0};
    }
    if (length == RhythmMeasurement::kOldSizeA || length == RhythmMeasurement::kOldSizeB) {
      rhythm->Read(r.first(length), length);
      return uint64_t{length} + kOldRecordGap;
    }
    if (length == RhythmMeasurement::kBlockSize) {
      rhythm->Read(r.first(length), length);
      return uint64_t{length};
    }
    // Any other length reads nothing and leaves the walk where it is.
    return uint64_t{0};
  });
}

uint32_t ScpEcg::GetRhythmMeasCount() { return CountWord(*this, kRhythm.id); }
