// Pacemaker list: 32-bit values of a recording (section 138), stored and
// restored unchanged.
//
// Layout is shared with the host: keep member order and widths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "lib/natural_layout.h"

#define SCP_PACEMAKER_LIST_MEMBERS(X) X(capacity, uint32_t) X(count, uint32_t) X(values, uint32_t*)

class PacemakerList {
 public:
  static constexpr uint32_t kFormatMark = 0xFF000001u;
  static constexpr uint32_t kHeaderBytes = 12;
  // Each value is followed in the record by this many zero bytes' worth of
  // length: L = 68 n + 12, the values first, then 64 n zero bytes.
  static constexpr uint32_t kBytesPerValue = 68;

  // A list of `capacity` zeroed values; null array on allocation failure or
  // capacity 0.
  explicit PacemakerList(uint32_t capacity);
  ~PacemakerList();
  PacemakerList(const PacemakerList&) = delete;
  PacemakerList& operator=(const PacemakerList&) = delete;

  // Null when the list holds no value or allocation fails; *length gets L.
  std::unique_ptr<uint8_t[]> Serialize(uint32_t* length) const;
  // 1 on success or when there is nothing to read (n of 0 or above
  // capacity), 0 when there is no value array, the mark is wrong or the
  // record ended before its n values.
  int32_t Read(std::span<const uint8_t> record);

  uint32_t GetCapacity() const { return capacity; }
  uint32_t GetCount() const { return count; }

  SCP_PACEMAKER_LIST_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(PacemakerList, SCP_PACEMAKER_LIST_MEMBERS, 12, 16)
