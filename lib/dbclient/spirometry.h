// Spirometry block (section 144) and spirometry items (section 145, read
// only). Plain blocks stored and restored unchanged: the test record frees
// them without further cleanup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// A block of N words, all zero when made.
template <uint32_t N>
class SpirometryWords {
 public:
  static constexpr uint32_t kWords = N;
  static constexpr uint32_t kBlockBytes = 4 * N;

  SpirometryWords() = default;
  ~SpirometryWords() = default;
  SpirometryWords(const SpirometryWords&) = delete;
  SpirometryWords& operator=(const SpirometryWords&) = delete;

  // Copies the kBlockBytes bytes that begin at the record's length word,
  // whatever that word says, so the first word holds it afterwards. 1 on
  // success; 0 when the record is shorter (the bytes present are copied, the
  // rest is zero rather than an older read's data).
  int32_t Read(std::span<const uint8_t> record);

  uint32_t words[N] = {};
};

class SpirometryData : public SpirometryWords<106> {
 public:
  // The block itself, not a copy (not to be freed), and its length 424. The
  // section writer puts the word 424 in place of the first word.
  const uint8_t* Data(uint32_t* length) const;
};
static_assert(sizeof(SpirometryData) == 424 && SpirometryData::kBlockBytes == 424);

class SpirometryItem : public SpirometryWords<1566> {};
static_assert(sizeof(SpirometryItem) == 6264 && SpirometryItem::kBlockBytes == 6264);
