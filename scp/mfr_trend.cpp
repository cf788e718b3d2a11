// Trends (section 129): all 32 trend slots of the test record, each a trend
// record followed by a zero word, or a single zero word for an empty slot.
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
  uint32_t start = 0;
  uint32_t free = 0;
  uint32_t at = BeginSection(&start, &free);
  if (at == 0 || free < 4) return;
  at = PutUInt32(at, kSlots);
  uint64_t remaining = free - 4;
  uint32_t written = 0;
  for (uint32_t i = 0; i < kSlots && remaining > 0; ++i) {
    const TrendRecord* trend = record->GetTrendAt(static_cast<int32_t>(i));
    if (trend == nullptr) {
      // An empty slot's zero word needs four bytes; with fewer the writing
      // ends short of 32 slots like any other shortage of room.
      if (remaining < 4) break;
      at = PutUInt32(at, 0);
      remaining -= 4;
      ++written;
      continue;
    }
    uint32_t length = 0;
    std::unique_ptr<uint8_t[]> bytes = trend->Serialize(&length);
    if (bytes == nullptr) {
      LogMemory(log(), kTrend.empty);
      break;
    }
    if (length < 1 || uint64_t{length} + 4 > remaining) {
      LogOem(log(), kTrend.sizeLimit);
      break;
    }
    at = PutBytes(at, bytes.get(), 0, length);
    at = PutUInt32(at, 0);
    remaining -= uint64_t{length} + 4;
    ++written;
  }
  if (written < kSlots) {
    LogOem(log(), msg::kTrendSlotsMissing);
    return;
  }
  // Every part is a whole number of words, so the section has even length
  // and needs no pad byte beyond the room already checked.
  EndSection(at, kTrend.id, start);
}

int ScpEcg::GetTrendData(TestRecord* record) {
  mfr::SectionData data(*this, kTrend.id);
  if (!data || data.size() < 4) return 0;
  const std::span<const uint8_t> bytes = data.bytes();
  const uint32_t n = data.U32At(0);
  uint64_t pos = 4;
  uint32_t i = 0;
  try {
    for (; i < n; ++i) {
      if (i >= kSlots) {
        LogOem(log(), msg::kTooManyTrends);
        break;
      }
      if (pos + 4 > data.size()) {
        LogOem(log(), kTrend.tooShort);
        break;
      }
      const uint32_t length = data.U32At(pos);
      if (pos + length > data.size()) {
        LogOem(log(), kTrend.tooShort2);
        break;
      }
      TrendRecord* target = record != nullptr ? record->GetTrendAt(static_cast<int32_t>(i)) : nullptr;
      if (length > 0 && target != nullptr) {
        std::unique_ptr<const TrendRecord> from = TrendRecord::BuildFromRecord(bytes.subspan(pos, length));
        // A record too short for its own sample and value counts cannot be
        // laid out as a trend: it ends the reading like a record that
        // reaches past the section.
        if (from == nullptr) {
          LogOem(log(), kTrend.tooShort2);
          break;
        }
        AddSamples(*from, *target);
      }
      pos += uint64_t{length} + 4;
    }
  } catch (...) {
    LogMemory(log(), msg::kTrendBuildFailed);
    return 0;
  }
  return i == n ? 1 : 0;
}
