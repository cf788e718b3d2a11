// One rhythm measurement: a 672-byte block whose first little-endian word is
// its size (672) and whose second is a version (4 in a cleared block). The
// other 664 bytes belong to the host and travel unchanged; the block is its
// own record in section 137.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class RhythmMeasurement {
 public:
  static constexpr uint32_t kBlockSize = 672;
  static constexpr uint32_t kClearedVersion = 4;
  // Older record forms that are widened to a full block on reading.
  static constexpr uint32_t kOldSizeA = 644;
  static constexpr uint32_t kOldSizeB = 652;

  // A cleared block: size 672, version 4, the rest zero.
  RhythmMeasurement() { Clear(); }
  ~RhythmMeasurement() = default;
  RhythmMeasurement(const RhythmMeasurement&) = delete;
  RhythmMeasurement& operator=(const RhythmMeasurement&) = delete;

  void Clear();

  // The block itself (no copy) and, in *length, the size from its first
  // word, which is what a writer copies. Null with *length 0 when that word
  // claims more than the 672 bytes the block has, so nobody copies past it.
  const uint8_t* Data(uint32_t* length) const;

  // record starts at the record's length word and ends no later than the end
  // of the section data; length is that word. 672 replaces the block; 644
  // and 652 are older forms laid over a cleared block with the size word put
  // back to 672 (their second word is kept). Any other length, or a record
  // shorter than length, reads nothing and returns false.
  bool Read(std::span<const uint8_t> record, uint32_t length);

  uint32_t GetSize() const;
  uint32_t GetVersion() const;
  void SetSize(uint32_t size);
  void SetVersion(uint32_t version);
  // The whole block for the host's own fields (little-endian words).
  uint8_t* Bytes() { return block; }
  const uint8_t* Bytes() const { return block; }

  // Kept as bytes so that the stored words are little-endian on any machine;
  // aligned like the host's block of 32-bit words.
  alignas(4) uint8_t block[kBlockSize];
};

static_assert(sizeof(RhythmMeasurement) == RhythmMeasurement::kBlockSize);
static_assert(alignof(RhythmMeasurement) == 4);
static_assert(offsetof(RhythmMeasurement, block) == 0);
