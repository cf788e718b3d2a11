// Spirometry block (section 144) and spirometry items (section 145, read
// only). Plain blocks stored and restored unchanged: the test record frees
// them without further cleanup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class SpirometryData {
 public:
  static constexpr uint32_t kWords = 106;
  static constexpr uint32_t kBlockBytes = 424;

  SpirometryData();  // all zero
  ~SpirometryData() = default;
  SpirometryData(const SpirometryData&) = delete;
  SpirometryData& operator=(const SpirometryData&) = delete;

  // The block itself, not a copy (not to be freed), and its length 424. The
  // section writer puts the word 424 in place of the first word.
  const uint8_t* Data(uint32_t* length) const;
  // Copies the 424 bytes that begin at the record's length word, so the
  // first word holds the record length afterwards. 1 on success; 0 when the
  // record is shorter (the bytes present are copied, the rest is zero).
  int32_t Read(std::span<const uint8_t> record);

  uint32_t words[kWords];
};
static_assert(sizeof(SpirometryData) == SpirometryData::kBlockBytes);

class SpirometryItem {
 public:
  static constexpr uint32_t kWords = 1566;
  static constexpr uint32_t kBlockBytes = 6264;

  SpirometryItem();  // all zero
  ~SpirometryItem() = default;
  SpirometryItem(const SpirometryItem&) = delete;
  SpirometryItem& operator=(const SpirometryItem&) = delete;

  // Copies the 6264 bytes that begin at the record's length word, whatever
  // that word says. 1 on success; 0 when the record is shorter (the bytes
  // present are copied, the rest is zero).
  int32_t Read(std::span<const uint8_t> record);

  uint32_t words[kWords];
};
static_assert(sizeof(SpirometryItem) == SpirometryItem::kBlockBytes);
