#include "scp/crc.h"

#include <array>

#include "scp/scpecg.h"

namespace scpcrc {

uint16_t Portable(const uint8_t* data, size_t count) {
  uint8_t hi = 0xFF;
  uint8_t lo = 0xFF;
  for (size_t i = 0; i < count; ++i) {
    uint8_t a = static_cast<uint8_t>(data[i] ^ hi);
    hi = a;
    a = static_cast<uint8_t>(a >> 4);
    a = static_cast<uint8_t>(a ^ hi);
    hi = lo;
    lo = a;
    a = static_cast<uint8_t>((a << 4) | (a >> 4));  // rotate left by 4
    uint8_t b = a;
    a = static_cast<uint8_t>((a << 1) | (a >> 7));  // rotate left by 1
    a &= 0x1F;
    hi ^= a;
    a = b & 0xF0;
    hi ^= a;
    b = static_cast<uint8_t>((b << 1) | (b >> 7));
    b &= 0xE0;
    lo ^= b;
  }
  return static_cast<uint16_t>(hi << 8 | lo);
}

namespace {

// tables[k][b]: the CRC contribution of byte b followed by k zero bytes.
constexpr int kSlices = 16;
using Tables = std::array<std::array<uint16_t, 256>, kSlices>;

constexpr Tables MakeTables() {
  Tables t{};
  for (unsigned b = 0; b < 256; ++b) {
    uint16_t crc = static_cast<uint16_t>(b << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    t[0][b] = crc;
  }
  for (unsigned b = 0; b < 256; ++b)
    for (int k = 1; k < kSlices; ++k)
      t[k][b] = static_cast<uint16_t>((t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 8]);
  return t;
}

constexpr Tables kTables = MakeTables();
static_assert(kTables[0][1] == 0x1021);

}  // namespace

uint16_t Fast(const uint8_t* data, size_t count) {
  uint16_t crc = 0xFFFF;
  const auto& t = kTables;
  while (count >= kSlices) {
#if defined(__GNUC__)
    // Large buffers stream from memory, and this CPU's own prefetching does
    // not keep up (64 MB ran at well under half the cached rate without it).
    __builtin_prefetch(data + 1024);
#endif
    // The running CRC folds into the first two bytes of the block; the other
    // fourteen lookups are independent of it and overlap in the pipeline.
    uint8_t b0 = static_cast<uint8_t>(data[0] ^ (crc >> 8));
    uint8_t b1 = static_cast<uint8_t>(data[1] ^ (crc & 0xFF));
    crc = static_cast<uint16_t>(
        t[15][b0] ^ t[14][b1] ^ t[13][data[2]] ^ t[12][data[3]] ^ t[11][data[4]] ^ t[10][data[5]] ^
        t[9][data[6]] ^ t[8][data[7]] ^ t[7][data[8]] ^ t[6][data[9]] ^ t[5][data[10]] ^ t[4][data[11]] ^
        t[3][data[12]] ^ t[2][data[13]] ^ t[1][data[14]] ^ t[0][data[15]]);
    data += kSlices;
    count -= kSlices;
  }
  while (count--) crc = static_cast<uint16_t>((crc << 8) ^ t[0][(crc >> 8) ^ *data++]);
  return crc;
}

namespace {

// The register after one zero byte, as a 16x16 matrix over GF(2): column i
// is the image of bit i.
struct ZeroMap {
  uint16_t column[16];
  uint16_t Apply(uint16_t v) const {
    uint16_t out = 0;
    for (int i = 0; v != 0; ++i, v >>= 1)
      if (v & 1) out ^= column[i];
    return out;
  }
  ZeroMap Squared() const {
    ZeroMap sq{};
    for (int i = 0; i < 16; ++i) sq.column[i] = Apply(column[i]);
    return sq;
  }
};

ZeroMap OneZeroByte() {
  ZeroMap m{};
  for (int i = 0; i < 16; ++i) {
    uint16_t r = static_cast<uint16_t>(1u << i);
    for (int bit = 0; bit < 8; ++bit) r = static_cast<uint16_t>((r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1);
    m.column[i] = r;
  }
  return m;
}

}  // namespace

uint16_t Combine(uint16_t crcA, uint16_t crcB, uint64_t lengthB) {
  static const ZeroMap kOneByte = OneZeroByte();
  uint16_t delta = static_cast<uint16_t>(crcA ^ 0xFFFF);
  ZeroMap step = kOneByte;
  while (lengthB != 0 && delta != 0) {
    if (lengthB & 1) delta = step.Apply(delta);
    lengthB >>= 1;
    if (lengthB != 0) step = step.Squared();
  }
  return static_cast<uint16_t>(crcB ^ delta);
}

}  // namespace scpcrc

uint16_t ScpEcg::ComputeCrc(const uint8_t* buffer, uint32_t first, uint32_t count) {
  // The processor query runs once; the choice never changes within a process.
  static const bool fast = plat::HasMmx();
  if (buffer == nullptr) return 0xFFFF;
  return fast ? scpcrc::Fast(buffer + first, count) : scpcrc::Portable(buffer + first, count);
}
