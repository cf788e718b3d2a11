// The ECG waveform of a test record: the object, and one owned heap block
// made of a 280-byte header followed by the sample storage.
//
// The object layout is shared with the host: keep member order and widths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "lib/natural_layout.h"

// Members in memory order: sampleStorage is block + 280 (null when there is
// no block), block is owned, storageSize is allocated samples per lead *
// lead count * 2.
#define SCP_ECG_WAVEFORM_MEMBERS(X)                                                                      \
  X(sampleStorage, int16_t*) X(block, uint8_t*) X(storageSize, uint32_t) X(validSampleCount, uint32_t) \
  X(channels, int16_t*[EcgWaveform::kChannelSlots])

class EcgWaveform {
 public:
  static constexpr uint32_t kChannelSlots = 14;
  static constexpr uint32_t kHeaderBytes = 280;
  // The header has room for this many lead records.
  static constexpr uint32_t kHeaderLeadRecords = 11;

  // Host constructor: leadCount leads (at most 14) of samplesPerLead samples,
  // each lead with room for samplesPerLead + samplingRate samples (one second
  // beyond the recording), lead i recorded on channel slot channelSlots[i].
  // When the arguments are inconsistent (more than 14 leads, fewer slots than
  // leads, a slot of 14 or more, a slot used twice) or the block cannot be
  // made, the waveform has no block: every accessor then gives 0 or null.
  EcgWaveform(uint32_t leadCount, uint32_t samplesPerLead, uint32_t samplingRate,
              uint32_t amplitudeResolution, std::span<const uint8_t> channelSlots);
  ~EcgWaveform();
  EcgWaveform(const EcgWaveform&) = delete;
  EcgWaveform& operator=(const EcgWaveform&) = delete;

  bool HasStorage() const { return sampleStorage != nullptr; }
  uint32_t LeadCount() const;
  uint32_t SamplesPerLead() const;
  uint32_t AllocatedSamplesPerLead() const;
  uint32_t SamplingRate() const;
  uint32_t AmplitudeResolution() const;
  uint32_t GetValidSampleCount() const { return validSampleCount; }
  // Sets the count in the object and in the block header.
  void SetValidSampleCount(uint32_t count);
  // The sample array on channel slot k; null without storage, for k of 14 or
  // more, or for an empty slot.
  int16_t* Channel(uint32_t k) const;
  // Channel slot of lead i (0..13), or -1 when i is not a lead.
  int32_t LeadChannelSlot(uint32_t lead) const;
  // The block header as bytes (null without a block).
  const uint8_t* Header() const { return block; }

  SCP_ECG_WAVEFORM_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(EcgWaveform, SCP_ECG_WAVEFORM_MEMBERS, 72, 136)
// The last of the 11 lead records (16 + 24 * 10, 24 bytes) ends the header.
static_assert(16 + 24 * EcgWaveform::kHeaderLeadRecords == EcgWaveform::kHeaderBytes);
