// The framing that the counted sub-records (annotations, episodes,
// pacemaker values, blood pressure readings) share in their records: the
// record's length L, the count n, then what each kind holds.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <span>

#include "lib/byte_cursor.h"

// The items a writer takes: a count above the capacity (set by the host by
// mistake) is cut to the capacity, so that no item beyond the array is read;
// none without an array.
inline uint32_t StoredCount(const void* items, uint32_t count, uint32_t capacity) {
  return items != nullptr ? std::min(count, capacity) : 0;
}

// A record of `total` bytes that opens with its length word and n, the rest
// written by fill. Null, and *length 0, when n is 0, the total does not fit
// 32 bits or allocation fails; otherwise *length gets the total.
template <typename Fill>
std::unique_ptr<uint8_t[]> SerializeCounted(uint32_t* length, uint32_t n, uint64_t total, Fill&& fill) {
  if (length != nullptr) *length = 0;
  if (n < 1 || total > UINT32_MAX) return nullptr;
  const auto len = static_cast<uint32_t>(total);
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[len]);
  if (!buf) return nullptr;
  ByteWriter out(buf.get(), len);
  out.U32(len);
  out.U32(n);
  fill(out);
  if (length != nullptr) *length = len;
  return buf;
}

// Reads a record of L, n, a format mark and n items of itemBytes each:
// read(in, offset, i) takes item i, and count follows the items read. A
// record too short to say how many items it holds, or with another mark,
// gives 0; n of 0 or above the capacity reads nothing and gives 1. A record
// that ends before its n items yields the whole items that it holds and
// gives 0.
template <typename ReadItem>
int32_t ReadCounted(std::span<const uint8_t> record, uint32_t capacity, uint32_t mark, uint32_t itemBytes,
                    uint32_t& count, ReadItem&& read) {
  constexpr size_t kHeaderBytes = 12;
  const ByteReader in(record);
  if (record.size() < 8) return 0;
  const uint32_t n = in.U32At(4);
  if (n == 0 || n > capacity) return 1;
  if (record.size() < kHeaderBytes || in.U32At(8) != mark) return 0;
  const auto m = static_cast<uint32_t>(std::min<size_t>(n, (record.size() - kHeaderBytes) / itemBytes));
  for (uint32_t i = 0; i < m; ++i) {
    read(in, kHeaderBytes + size_t{itemBytes} * i, i);
    count = i + 1;
  }
  return m == n ? 1 : 0;
}
