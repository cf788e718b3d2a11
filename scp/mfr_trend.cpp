// Trends (section 129): all 32 trend slots of the test record, each a trend
// record followed by a zero word, or a single zero word for an empty slot.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "scp/mfr_framing.h"
#include "scp/scpecg.h"

namespace {

constexpr const mfr::SectionMessages& kTrend = mfr::Messages(129);

constexpr uint32_t kSlots = 32;

// Adds every sample of a trend read from the file to the host's trend, as
// many values per sample as the host's trend has (missing ones are 0).
// Samples beyond what the host's trend can take are dropped.
void AddSamples(const TrendRecord& from, TrendRecord& to) {
  std::vector<int32_t> values(to.GetValueCount());
  const uint32_t samples = from.GetSampleCount();
  for (uint32_t s = 0; s < samples; ++s) {
    for (uint32_t j = 0; j < values.size(); ++j) values[j] = from.GetValue(s, j);
    if (!to.AddSample(from.GetTime(s), values)) break;
  }
}

}  // namespace

void ScpEcg::PutTrendData(TestRecord* record) {
  if (record == nullptr) return;
  SectionWriter out(*this);
  if (!out || !out.U32(kSlots)) return;
  uint32_t written = 0;
  for (uint32_t i = 0; i < kSlots && out.Fits(1); ++i) {
    const TrendRecord* trend = record->GetTrendAt(static_cast<int32_t>(i));
    if (trend == nullptr) {
      // An empty slot's zero word needs four bytes; with fewer the writing
      // ends short of 32 slots like any other shortage of room.
      if (!out.U32(0)) break;
      ++written;
      continue;
    }
    uint32_t length = 0;
    std::unique_ptr<uint8_t[]> bytes = trend->Serialize(&length);
    if (bytes == nullptr) {
      LogMemory(log(), kTrend.empty);
      break;
    }
    if (length < 1 || !out.Fits(size_t{length} + 4)) {
      LogOem(log(), kTrend.sizeLimit);
      break;
    }
    out.Bytes(bytes.get(), length);
    out.U32(0);
    ++written;
  }
  if (written < kSlots) {
    LogOem(log(), msg::kTrendSlotsMissing);
    return;
  }
  // Every part is a whole number of words, so the section has even length
  // and needs no pad byte beyond the room already checked.
  out.End(kTrend.id);
}

int ScpEcg::GetTrendData(TestRecord* record) {
  SectionData data(*this, kTrend.id);
  if (!data || data.size() < 4) return 0;
  const uint32_t n = data.U32At(0);
  auto step = [&](uint32_t i, std::span<const uint8_t> r, uint32_t length) -> uint64_t {
    TrendRecord* target = record != nullptr ? record->GetTrendAt(static_cast<int32_t>(i)) : nullptr;
    if (length > 0 && target != nullptr) {
      std::unique_ptr<const TrendRecord> from = TrendRecord::BuildFromRecord(r.first(length));
      // A record too short for its own sample and value counts cannot be
      // laid out as a trend: it ends the reading like a record that
      // reaches past the section.
      if (from == nullptr) {
        LogOem(log(), kTrend.tooShort2);
        return mfr::kStop;
      }
      AddSamples(*from, *target);
    }
    return uint64_t{length} + 4;
  };
  try {
    // A count beyond the 32 slots is reported once the slots are read.
    const uint32_t walked = mfr::WalkRecords(*this, kTrend, data, std::min(n, kSlots), 0, step);
    if (walked == kSlots && n > kSlots) LogOem(log(), msg::kTooManyTrends);
    return walked == n ? 1 : 0;
  } catch (...) {
    LogMemory(log(), msg::kTrendBuildFailed);
    return 0;
  }
}
