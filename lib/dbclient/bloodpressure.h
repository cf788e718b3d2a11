// Blood pressure readings (section 139) and results (section 140).
//
// Both are stored and restored unchanged; the meaning of the words is the
// host's. Layout is shared with the host: keep member order and widths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "lib/natural_layout.h"

// One reading: 70 words, 280 bytes in memory and in the record.
struct BloodPressureReading {
  static constexpr uint32_t kWords = 70;
  uint32_t words[kWords];
};
static_assert(sizeof(BloodPressureReading) == 280);

#define SCP_BLOOD_PRESSURE_DATA_MEMBERS(X) X(capacity, uint32_t) X(count, uint32_t) X(readings, BloodPressureReading*)

class BloodPressureData {
 public:
  static constexpr uint32_t kFormatMark = 0xFF000001u;
  static constexpr uint32_t kHeaderBytes = 12;

  // A list of `capacity` zeroed readings; null array on allocation failure
  // or capacity 0.
  explicit BloodPressureData(uint32_t capacity);
  ~BloodPressureData();
  BloodPressureData(const BloodPressureData&) = delete;
  BloodPressureData& operator=(const BloodPressureData&) = delete;

  // Record: L = 280 n + 12, n, mark, the readings. Null when empty or on
  // allocation failure; *length gets L.
  std::unique_ptr<uint8_t[]> Serialize(uint32_t* length) const;
  // 1 on success or with nothing to read (no reading array, n of 0 or above
  // capacity), 0 when the mark is wrong or the record ended before its n
  // readings.
  int32_t Read(std::span<const uint8_t> record);

  uint32_t GetCapacity() const { return capacity; }
  uint32_t GetCount() const { return count; }

  SCP_BLOOD_PRESSURE_DATA_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(BloodPressureData, SCP_BLOOD_PRESSURE_DATA_MEMBERS, 12, 16)

// One results group: seven values and two extra words.
#define SCP_BLOOD_PRESSURE_GROUP_MEMBERS(X) X(values, uint32_t[BloodPressureGroup::kValues]) X(extra, uint32_t[2])
struct BloodPressureGroup {
  static constexpr uint32_t kValues = 7;
  SCP_BLOOD_PRESSURE_GROUP_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(BloodPressureGroup, SCP_BLOOD_PRESSURE_GROUP_MEMBERS, 36, 36)

// The 440-byte results block: two values, then 12 groups in three sets of
// four. A plain block: the test record frees it without further cleanup.
#define SCP_BLOOD_PRESSURE_RESULTS_MEMBERS(X) \
  X(value1, uint32_t) X(value2, uint32_t) X(groups, BloodPressureGroup[BloodPressureResults::kGroups])
class BloodPressureResults {
 public:
  static constexpr uint32_t kGroups = 12;
  static constexpr uint32_t kBlockBytes = 440;
  static constexpr uint32_t kRecordBytes = 448;
  static constexpr uint32_t kFormatMark = 0xFF000002u;
  static constexpr uint32_t kOlderFormatMark = 0xFF000001u;
  // Extra words that the older form, which lacks them, gets per group.
  static constexpr uint32_t kOlderFormExtra[kGroups][2] = {
      {120, 105}, {80, 65}, {0, 0}, {0, 0},  //
      {120, 105}, {80, 65}, {0, 0}, {0, 0},  //
      {110, 95},  {70, 55}, {0, 0}, {0, 0}};

  BloodPressureResults();  // all zero
  ~BloodPressureResults() = default;
  BloodPressureResults(const BloodPressureResults&) = delete;
  BloodPressureResults& operator=(const BloodPressureResults&) = delete;

  void Clear();
  // Record: 448, mark 0xFF000002, the block. Null only on allocation failure.
  std::unique_ptr<uint8_t[]> Serialize(uint32_t* length) const;
  // Clears the block, then fills it from either record form. 1 on success;
  // 0 for a length word below 9, an unknown mark (block left clear) or a
  // record that ended early (words present are kept, the rest is zero).
  int32_t Read(std::span<const uint8_t> record);

  SCP_BLOOD_PRESSURE_RESULTS_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(BloodPressureResults, SCP_BLOOD_PRESSURE_RESULTS_MEMBERS, BloodPressureResults::kBlockBytes,
                 BloodPressureResults::kBlockBytes)
