// The Holter configuration (section 150): a size word, a version and six
// blocks. Blocks 1 and 4 hold pointers to entry objects that they own.
//
// The class layouts are shared with the host: keep member order and widths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "lib/natural_layout.h"

struct HolterCodedEntry {
  uint32_t code;  // 1..13; anything else is stored as 0
  uint32_t value;
};
static_assert(sizeof(HolterCodedEntry) == 8);

struct HolterFlaggedEntry {
  uint8_t flag;  // 1 or 0
  uint32_t values[3];
};
static_assert(offsetof(HolterFlaggedEntry, values) == 4);
static_assert(sizeof(HolterFlaggedEntry) == 16);

// Block 1: three values and eight coded entries (76 bytes in the record).
#define SCP_HOLTER_BLOCK1_MEMBERS(X) X(values, uint32_t[3]) X(entries, HolterCodedEntry*[HolterBlock1::kEntries])
class HolterBlock1 {
 public:
  static constexpr uint32_t kEntries = 8;
  static constexpr uint32_t kRecordBytes = 76;
  HolterBlock1();  // makes all eight entries, zeroed
  ~HolterBlock1();
  HolterBlock1(const HolterBlock1&) = delete;
  HolterBlock1& operator=(const HolterBlock1&) = delete;

  static uint32_t MapCode(uint32_t code) { return code >= 1 && code <= 13 ? code : 0; }

  SCP_HOLTER_BLOCK1_MEMBERS(SCP_DECLARE_MEMBER)  // the entries owned
};
SCP_CHECK_LAYOUT(HolterBlock1, SCP_HOLTER_BLOCK1_MEMBERS, 44, 80)

// Block 2 (36 bytes, the same layout in memory and in the record); each
// flag is 1 or 0.
#define SCP_HOLTER_BLOCK2_MEMBERS(X) \
  X(flags, uint8_t[5]) X(zero, uint8_t[3]) X(values, uint32_t[5]) X(extra, uint32_t[2])
struct HolterBlock2 {
  static constexpr uint32_t kRecordBytes = 36;
  SCP_HOLTER_BLOCK2_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(HolterBlock2, SCP_HOLTER_BLOCK2_MEMBERS, 36, 36)

// Block 3: 76 bytes from version 13 on, 72 before (no word at 68).
#define SCP_HOLTER_BLOCK3_MEMBERS(X) X(values, uint32_t[17]) X(value68, uint32_t) X(flags, uint32_t)
struct HolterBlock3 {
  static constexpr uint32_t kRecordBytes = 76;
  static constexpr uint32_t kOldRecordBytes = 72;
  static constexpr uint32_t kStoredFlagBits = 0x01FFFFFFu;  // bits 0..24
  SCP_HOLTER_BLOCK3_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(HolterBlock3, SCP_HOLTER_BLOCK3_MEMBERS, 76, 76)

// Block 4: a value and 25 flagged entries (404 bytes in the record).
#define SCP_HOLTER_BLOCK4_MEMBERS(X) X(value, uint32_t) X(entries, HolterFlaggedEntry*[HolterBlock4::kEntries])
class HolterBlock4 {
 public:
  static constexpr uint32_t kEntries = 25;
  static constexpr uint32_t kRecordBytes = 404;
  HolterBlock4();  // makes all 25 entries, zeroed
  ~HolterBlock4();
  HolterBlock4(const HolterBlock4&) = delete;
  HolterBlock4& operator=(const HolterBlock4&) = delete;

  SCP_HOLTER_BLOCK4_MEMBERS(SCP_DECLARE_MEMBER)  // the entries owned
};
SCP_CHECK_LAYOUT(HolterBlock4, SCP_HOLTER_BLOCK4_MEMBERS, 104, 208)

struct HolterBlock5 {
  static constexpr uint32_t kRecordBytes = 16;
  uint32_t values[4];
};
static_assert(sizeof(HolterBlock5) == 16);

// Block 6: in the record four zero bytes precede the eighteen words.
struct HolterBlock6 {
  static constexpr uint32_t kRecordBytes = 76;
  uint32_t values[18];
};
static_assert(sizeof(HolterBlock6) == 72);

// Members in memory order: blocks 1 to 6 are owned; closingFlag is 0 or 1,
// kept as a full word.
#define SCP_HOLTER_CONFIG_MEMBERS(X)                                                                    \
  X(sizeWord, uint32_t) X(version, uint32_t) X(block1, HolterBlock1*) X(block2, HolterBlock2*)          \
  X(block3, HolterBlock3*) X(block4, HolterBlock4*) X(block5, HolterBlock5*) X(block6, HolterBlock6*) \
  X(closingFlag, uint32_t)

class HolterConfig {
 public:
  static constexpr uint32_t kCurrentVersion = 13;
  static constexpr uint32_t kPayloadBytes = 700;     // version-13 payload
  static constexpr uint32_t kMinimumSizeWord = 696;  // size word + 4 holds the payload

  // All six blocks made and zeroed, size word 696, version 13, flag 0.
  HolterConfig();
  ~HolterConfig();
  HolterConfig(const HolterConfig&) = delete;
  HolterConfig& operator=(const HolterConfig&) = delete;

  // A buffer holding the version-13 payload, and *length = 700; the size
  // word is written as held. Null when allocation fails.
  // A block that is missing is written as zero bytes.
  std::unique_ptr<uint8_t[]> Serialize(uint32_t* length) const;

  // Fills the configuration from a payload of payloadLength bytes; data
  // starts at the payload and ends at the end of the section data. Sets the
  // version to 13. Never refuses a payload: returns true.
  bool Read(std::span<const uint8_t> data, uint32_t payloadLength);

  // Deletes the six blocks (null ones are skipped).
  void FreeBlocks();

  SCP_HOLTER_CONFIG_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(HolterConfig, SCP_HOLTER_CONFIG_MEMBERS, 36, 64)
