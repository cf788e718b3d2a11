// Result of reading the lead definition (section 3): one entry per lead in
// file order, and the mapping between the waveform's 14 channel slots and
// SCP-ECG lead identifiers.
#pragma once

#include <cstdint>
#include <memory>

struct LeadEntry {
  uint32_t startSample = 0;
  uint32_t endSample = 0;
  uint8_t leadId = 0;

  // In the file: start u32, end u32, identifier u8, back to back.
  static constexpr uint32_t kFileSize = 9;
};

// Lead identifier of each of the 14 channel slots.
inline constexpr int kChannelSlotCount = 14;
inline constexpr uint8_t kChannelLeadIds[kChannelSlotCount] = {1, 2, 3, 4, 5, 6, 7, 8, 16, 17, 18, 100, 101, 102};
static_assert(sizeof(kChannelLeadIds) == kChannelSlotCount);

// Channel slot of a lead identifier; identifiers not in the table map to 0.
constexpr int ChannelOfLeadId(uint8_t leadId) {
  for (int k = 0; k < kChannelSlotCount; ++k)
    if (kChannelLeadIds[k] == leadId) return k;
  return 0;
}
static_assert(ChannelOfLeadId(1) == 0 && ChannelOfLeadId(16) == 8 && ChannelOfLeadId(102) == 13);
static_assert(ChannelOfLeadId(61) == 0);

struct LeadTable {
  static constexpr int kMaxEntries = 32;
  uint8_t referenceBeatUsed = 0;
  int32_t count = 0;
  std::unique_ptr<LeadEntry> entries[kMaxEntries];

  LeadTable() = default;
  LeadTable(const LeadTable&) = delete;
  LeadTable& operator=(const LeadTable&) = delete;

  // Appends a copy of e; false (and nothing held) when the table is full.
  bool Append(const LeadEntry& e) {
    if (count >= kMaxEntries) return false;
    entries[count++] = std::make_unique<LeadEntry>(e);
    return true;
  }

  // Length of the longest lead (end minus start), 0 for an empty table.
  uint32_t longestLead() const;
  // Channel slot (0..13) of entry i by its lead identifier; unknown ids, and
  // i outside the table, give 0.
  int channelOf(int i) const;
};
