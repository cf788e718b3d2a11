#include "lib/dbclient/waveform.h"

#include <new>

#include "lib/byte_cursor.h"

// Lead records in the block header: lead i at 16 + 24i, for i = 0..10.
//
// The header has room for eleven lead records, yet 12- and 14-lead
// waveforms are common. All leads share S, the allocated samples, the rate
// and the resolution, and everything that reads them takes them from lead
// 0's record, so the header records leads 0..10 only and is never written
// past its 280 bytes. Where a lead beyond the eleventh is recorded is known
// from the object: its channel slot points at its array in the storage.

namespace {

constexpr size_t kLeadRecordAt = 16;
constexpr size_t kLeadRecordBytes = 24;

size_t LeadRecord(uint32_t i) { return kLeadRecordAt + kLeadRecordBytes * i; }

uint32_t HeaderWord(const uint8_t* block, size_t at) {
  return ByteReader(block, EcgWaveform::kHeaderBytes).U32At(at);
}

// Word k of lead 0's record, which every lead shares. A waveform without
// leads has no lead record: S, rate and resolution are 0.
uint32_t SharedLeadWord(const EcgWaveform& w, size_t k) {
  return w.LeadCount() > 0 ? HeaderWord(w.block, LeadRecord(0) + k) : 0;
}

}  // namespace

EcgWaveform::EcgWaveform(uint32_t n, uint32_t s, uint32_t rate, uint32_t resolution,
                         std::span<const uint8_t> channelSlots) {
  if (n > kChannelSlots || channelSlots.size() < n) return;
  bool used[kChannelSlots] = {};
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t slot = channelSlots[i];
    if (slot >= kChannelSlots || used[slot]) return;
    used[slot] = true;
  }
  const uint64_t allocated = uint64_t{s} + rate;
  const uint64_t storage = allocated * n * 2;
  if (allocated > UINT32_MAX || storage > UINT32_MAX - kHeaderBytes) return;

  // Held as 16-bit units: the header is 280 bytes, so the storage behind it
  // is suitably aligned for the samples.
  static_assert(kHeaderBytes % 2 == 0);
  int16_t* units = new (std::nothrow) int16_t[(kHeaderBytes + storage) / 2]();
  if (units == nullptr) return;
  block = reinterpret_cast<uint8_t*>(units);
  sampleStorage = units + kHeaderBytes / 2;
  storageSize = static_cast<uint32_t>(storage);

  ByteWriter header(block, kHeaderBytes);
  header.U32(static_cast<uint32_t>(kHeaderBytes + storage));
  header.U32(n);
  header.U32(0);
  header.U32(0);
  for (uint32_t i = 0; i < n; ++i) {
    int16_t* array = sampleStorage + allocated * i;
    channels[channelSlots[i]] = array;
    if (i >= kHeaderLeadRecords) continue;
    // Lead records follow one another from kLeadRecordAt.
    header.U32(s);
    header.U32(static_cast<uint32_t>(allocated));
    header.U32(rate);
    header.U32(resolution);
    header.U32(channelSlots[i]);
    header.U16(0);
    header.U16(0);
  }
}

EcgWaveform::~EcgWaveform() { delete[] reinterpret_cast<int16_t*>(block); }

uint32_t EcgWaveform::LeadCount() const { return block ? HeaderWord(block, 4) : 0; }

uint32_t EcgWaveform::SamplesPerLead() const { return SharedLeadWord(*this, 0); }
uint32_t EcgWaveform::AllocatedSamplesPerLead() const { return SharedLeadWord(*this, 4); }
uint32_t EcgWaveform::SamplingRate() const { return SharedLeadWord(*this, 8); }
uint32_t EcgWaveform::AmplitudeResolution() const { return SharedLeadWord(*this, 12); }

void EcgWaveform::SetValidSampleCount(uint32_t count) {
  validSampleCount = count;
  if (block != nullptr) ByteWriter(block, kHeaderBytes, 12).U32(count);
}

int16_t* EcgWaveform::Channel(uint32_t k) const {
  if (sampleStorage == nullptr || k >= kChannelSlots) return nullptr;
  return channels[k];
}

int32_t EcgWaveform::LeadChannelSlot(uint32_t lead) const {
  const uint32_t n = LeadCount();
  if (lead >= n) return -1;
  const uint32_t lastRecorded = n < kHeaderLeadRecords ? n : kHeaderLeadRecords;
  if (lead < lastRecorded) {
    const uint32_t slot = HeaderWord(block, LeadRecord(lead) + 16);
    return slot < kChannelSlots ? static_cast<int32_t>(slot) : -1;
  }
  const int16_t* array = sampleStorage + size_t{AllocatedSamplesPerLead()} * lead;
  for (uint32_t k = 0; k < kChannelSlots; ++k)
    if (channels[k] == array) return static_cast<int32_t>(k);
  return -1;
}
