#include "lib/dbclient/spirometry.h"

#include <bit>

#include "lib/byte_cursor.h"

// Data() hands the block's memory to the section writer as the record bytes,
// which are little-endian; so is every target of this library.
static_assert(std::endian::native == std::endian::little);

namespace {

// Fills words from the record bytes, little-endian. Bytes the record lacks
// are zero. Returns whether the record held all of them.
bool CopyWords(uint32_t* words, uint32_t n, std::span<const uint8_t> record) {
  const ByteReader in(record, PastEnd::kZeroFill);
  for (uint32_t k = 0; k < n; ++k) words[k] = in.U32At(size_t{4} * k);
  return in.Has(0, size_t{4} * n);
}

}  // namespace

SpirometryData::SpirometryData() : words{} {}

const uint8_t* SpirometryData::Data(uint32_t* length) const {
  if (length != nullptr) *length = kBlockBytes;
  return reinterpret_cast<const uint8_t*>(words);
}

// A record shorter than the block fills the bytes it holds; the rest of the
// block becomes zero rather than keeping an older read's data.
int32_t SpirometryData::Read(std::span<const uint8_t> record) {
  return CopyWords(words, kWords, record) ? 1 : 0;
}

SpirometryItem::SpirometryItem() : words{} {}

// Same rule as the spirometry block for a record shorter than 6264 bytes.
int32_t SpirometryItem::Read(std::span<const uint8_t> record) {
  return CopyWords(words, kWords, record) ? 1 : 0;
}
