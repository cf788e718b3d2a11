#include "lib/dbclient/pacemaker.h"

#include <cstring>
#include <new>

#include "lib/dbclient/counted_record.h"

PacemakerList::PacemakerList(uint32_t cap) : capacity(cap) {
  if (capacity > 0) values = new (std::nothrow) uint32_t[capacity]();
}

PacemakerList::~PacemakerList() { delete[] values; }

std::unique_ptr<uint8_t[]> PacemakerList::Serialize(uint32_t* length) const {
  const uint32_t n = StoredCount(values, count, capacity);
  return SerializeCounted(length, n, uint64_t{kBytesPerValue} * n + kHeaderBytes, [&](ByteWriter& out) {
    out.U32(kFormatMark);
    for (uint32_t i = 0; i < n; ++i) out.U32(values[i]);
    out.Zeros(size_t{kBytesPerValue - 4} * n);
  });
}

int32_t PacemakerList::Read(std::span<const uint8_t> record) {
  if (values == nullptr) return 0;
  count = 0;
  // The zero tail behind the values is not needed for reading.
  return ReadCounted(record, capacity, kFormatMark, 4, count,
                     [&](const ByteReader& in, size_t at, uint32_t i) { values[i] = in.U32At(at); });
}
