#include "scp/crc.h"

#include <array>

#include "scp/scpecg.h"

#if SCP_CRC_CARRYLESS
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace scpcrc {

namespace {

uint16_t PortableFrom(uint16_t crc, const uint8_t* data, size_t count) {
  auto hi = static_cast<uint8_t>(crc >> 8);
  auto lo = static_cast<uint8_t>(crc & 0xFF);
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

}  // namespace

uint16_t Portable(const uint8_t* data, size_t count) { return PortableFrom(0xFFFF, data, count); }

namespace {

// tables[k][b]: the CRC contribution of byte b followed by k zero bytes.
constexpr int kSlices = 16;
using Tables = std::array<std::array<uint16_t, 256>, kSlices>;

// The register after eight bit steps with no message bits coming in.
constexpr uint16_t EightSteps(uint16_t r) {
  for (int bit = 0; bit < 8; ++bit) r = static_cast<uint16_t>((r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1);
  return r;
}

constexpr Tables MakeTables() {
  Tables t{};
  for (unsigned b = 0; b < 256; ++b) t[0][b] = EightSteps(static_cast<uint16_t>(b << 8));
  for (unsigned b = 0; b < 256; ++b)
    for (int k = 1; k < kSlices; ++k)
      t[k][b] = static_cast<uint16_t>((t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 8]);
  return t;
}

constexpr Tables kTables = MakeTables();
static_assert(kTables[0][1] == 0x1021);

// The table routine from any register value.
uint16_t Sliced(uint16_t crc, const uint8_t* data, size_t count) {
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

}  // namespace

uint16_t Fast(const uint8_t* data, size_t count) { return Sliced(0xFFFF, data, count); }

#if SCP_CRC_CARRYLESS
namespace {

// x^n mod the generator, for the folding constants.
constexpr uint64_t PowerMod(unsigned n) {
  uint32_t r = 1;
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & 0x10000u) r ^= 0x11021u;
  }
  return r;
}

// A 128-bit block H x^64 + L moved d bits further along the message keeps
// its remainder as H (x^(d+64) mod G) + L (x^d mod G): two carry-less
// products of at most 79 bits, xored into the block d bits on.
#define SCP_CRC_TARGET __attribute__((target("pclmul,ssse3")))

SCP_CRC_TARGET inline __m128i FoldConstants(unsigned d) {
  return _mm_set_epi64x(static_cast<long long>(PowerMod(d + 64)), static_cast<long long>(PowerMod(d)));
}

SCP_CRC_TARGET inline __m128i Fold(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00));
}

// Sixteen bytes as one polynomial, the first byte's top bit highest, and
// back.
SCP_CRC_TARGET inline __m128i Reversed(__m128i v) {
  return _mm_shuffle_epi8(v, _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
}
SCP_CRC_TARGET inline __m128i LoadBlock(const uint8_t* p) {
  return Reversed(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

}  // namespace

SCP_CRC_TARGET uint16_t CarrylessFrom(uint16_t crc, const uint8_t* data, size_t count) {
  if (count < 64) return Sliced(crc, data, count);
  // Four blocks in flight; the initial register enters as an xor into the
  // first two bytes, which is what the register does to them.
  __m128i acc[4];
  for (int j = 0; j < 4; ++j) acc[j] = LoadBlock(data + 16 * j);
  acc[0] = _mm_xor_si128(acc[0], _mm_set_epi16(static_cast<int16_t>(crc), 0, 0, 0, 0, 0, 0, 0));
  data += 64;
  count -= 64;
  const __m128i by512 = FoldConstants(512);
  while (count >= 64) {
    _mm_prefetch(reinterpret_cast<const char*>(data + 1024), _MM_HINT_T0);
    for (int j = 0; j < 4; ++j) acc[j] = _mm_xor_si128(Fold(acc[j], by512), LoadBlock(data + 16 * j));
    data += 64;
    count -= 64;
  }
  const __m128i by128 = FoldConstants(128);
  __m128i r = acc[0];
  for (int j = 1; j < 4; ++j) r = _mm_xor_si128(Fold(r, by128), acc[j]);
  while (count >= 16) {
    r = _mm_xor_si128(Fold(r, by128), LoadBlock(data));
    data += 16;
    count -= 16;
  }
  // What is left has the message's remainder: its 16 bytes, then the tail,
  // through the table routine from a zero register.
  uint8_t rest[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), Reversed(r));
  return Sliced(Sliced(0, rest, sizeof rest), data, count);
}

uint16_t Carryless(const uint8_t* data, size_t count) { return CarrylessFrom(0xFFFF, data, count); }

bool HasCarryless() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & (1u << 1)) != 0 && (ecx & (1u << 9)) != 0;  // PCLMULQDQ, SSSE3
}
#else
uint16_t CarrylessFrom(uint16_t crc, const uint8_t* data, size_t count) { return Sliced(crc, data, count); }
uint16_t Carryless(const uint8_t* data, size_t count) { return Sliced(0xFFFF, data, count); }
bool HasCarryless() { return false; }
#endif

uint16_t Continue(uint16_t crc, const uint8_t* data, size_t count) {
  // The processor query runs once; the choice never changes within a process.
  static const int routine = HasCarryless() ? 2 : plat::HasMmx() ? 1 : 0;
  if (routine == 2) return CarrylessFrom(crc, data, count);
  return routine == 1 ? Sliced(crc, data, count) : PortableFrom(crc, data, count);
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
  for (int i = 0; i < 16; ++i) m.column[i] = EightSteps(static_cast<uint16_t>(1u << i));
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
  if (buffer == nullptr) return 0xFFFF;
  return scpcrc::Continue(0xFFFF, buffer + first, count);
}
