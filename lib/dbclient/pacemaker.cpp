#include "lib/dbclient/pacemaker.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "lib/byte_cursor.h"

PacemakerList::PacemakerList(uint32_t cap) : capacity(cap), count(0), values(nullptr) {
  if (capacity > 0) values = new (std::nothrow) uint32_t[capacity]();
}

PacemakerList::~PacemakerList() { delete[] values; }

std::unique_ptr<uint8_t[]> PacemakerList::Serialize(uint32_t* length) const {
  if (length != nullptr) *length = 0;
  // A count above the capacity is cut to the capacity, so that no value
  // beyond the array is read.
  const uint32_t n = std::min(count, capacity);
  if (n < 1 || values == nullptr) return nullptr;
  const uint64_t total = uint64_t{kBytesPerValue} * n + kHeaderBytes;
  if (total > UINT32_MAX) return nullptr;
  const uint32_t len = static_cast<uint32_t>(total);

  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[len]);
  if (!buf) return nullptr;
  ByteWriter out(buf.get(), len);
  out.U32(len);
  out.U32(n);
  out.U32(kFormatMark);
  for (uint32_t i = 0; i < n; ++i) out.U32(values[i]);
  out.Zeros(len - kHeaderBytes - size_t{4} * n);
  if (length != nullptr) *length = len;
  return buf;
}

int32_t PacemakerList::Read(std::span<const uint8_t> record) {
  if (values == nullptr) return 0;
  count = 0;
  const ByteReader in(record);
  const size_t size = record.size();
  // A record too short to say how many values it holds is refused.
  if (size < 8) return 0;
  const uint32_t n = in.U32At(4);
  if (n == 0 || n > capacity) return 1;
  if (size < kHeaderBytes || in.U32At(8) != kFormatMark) return 0;
  // A record that ends before its n values yields the whole values that it
  // holds and is reported with 0. The zero tail is not needed for reading.
  const uint32_t m = static_cast<uint32_t>(std::min<size_t>(n, (size - kHeaderBytes) / 4));
  for (uint32_t i = 0; i < m; ++i) {
    values[i] = in.U32At(kHeaderBytes + size_t{4} * i);
    count = i + 1;
  }
  return m == n ? 1 : 0;
}
