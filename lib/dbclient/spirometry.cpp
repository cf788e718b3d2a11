#include "lib/dbclient/spirometry.h"

#include <bit>

#include "lib/byte_cursor.h"

// Data() hands the block's memory to the section writer as the record bytes,
// which are little-endian; so is every target of this library.
static_assert(std::endian::native == std::endian::little);

// Words are read little-endian; bytes the record lacks are zero.
template <uint32_t N>
int32_t SpirometryWords<N>::Read(std::span<const uint8_t> record) {
  const ByteReader in(record, PastEnd::kZeroFill);
  for (uint32_t k = 0; k < N; ++k) words[k] = in.U32At(size_t{4} * k);
  return in.Has(0, size_t{kBlockBytes}) ? 1 : 0;
}

template class SpirometryWords<106>;
template class SpirometryWords<1566>;

const uint8_t* SpirometryData::Data(uint32_t* length) const {
  if (length != nullptr) *length = kBlockBytes;
  return reinterpret_cast<const uint8_t*>(words);
}
