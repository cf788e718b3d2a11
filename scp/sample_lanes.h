// What the table-driven sample codec's encoder and decoder share: eight
// 16-bit lanes with wrapping arithmetic, big-endian 8-byte loads and stores
// of the bit stream, and the hints their loops give the compiler.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>

#if defined(__GNUC__)
#define ScpPrefetch(p) __builtin_prefetch(p)
#define ScpPrefetchForWrite(p) __builtin_prefetch(p, 1)
#define ScpInline inline __attribute__((always_inline))
#else
#define ScpInline inline
#define ScpPrefetch(p) ((void)0)
#define ScpPrefetchForWrite(p) ((void)0)
#endif

namespace scpcodec::fast {

// The longest code: the 16-bit escape; the 8-bit escape (nine ones, a zero
// flag, the value's byte).
constexpr int kLongestCode = 26;
constexpr uint32_t kNarrowEscapeBits = 18;
// The escapes' prefixes above their values: nine ones and a zero flag over
// 8 bits; ten ones over 16.
constexpr uint32_t kNarrowEscapePrefix = 0x3FEu << 8;
constexpr uint32_t kWideEscapePrefix = 0x3FFu << 16;
constexpr int kLanes = 8;

// Eight 16-bit lanes with wrapping arithmetic: compiler vector extensions
// where the target has 128-bit vector registers, else a plain struct
// (SCP_CODEC_SCALAR_LANES forces it, to test it). A 32-bit x86 build has
// both: files compiled for SSE2 hold variants chosen at run time. So each
// kind lives in a namespace of its own, and the inline functions of one
// never stand in for the other's at link time.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__SSE2__) || defined(__ARM_NEON)) && \
    !defined(SCP_CODEC_SCALAR_LANES)
#define SCP_VECTOR_LANES 1
#define SCP_LANES_NAMESPACE vector_lanes
#else
#define SCP_VECTOR_LANES 0
#define SCP_LANES_NAMESPACE plain_lanes
#endif

struct alignas(16) Lanes {
  uint16_t v[kLanes];
};

inline namespace SCP_LANES_NAMESPACE {

#if SCP_VECTOR_LANES
using U16x8 = uint16_t __attribute__((vector_size(16)));
inline U16x8 Splat(uint16_t x) { return U16x8{x, x, x, x, x, x, x, x}; }
// (0, v[0], ..., v[6]) and (0, 0, v[0], ..., v[5]).
inline U16x8 ShiftUp1(U16x8 v) { return __builtin_shufflevector(v, U16x8{}, 8, 0, 1, 2, 3, 4, 5, 6); }
inline U16x8 ShiftUp2(U16x8 v) { return __builtin_shufflevector(v, U16x8{}, 8, 8, 0, 1, 2, 3, 4, 5); }
#else
struct U16x8 {
  uint16_t v[8];
  template <typename Op>
  friend U16x8 Lanewise(U16x8 a, U16x8 b, Op op) {
    for (int j = 0; j < 8; ++j) a.v[j] = static_cast<uint16_t>(op(uint32_t{a.v[j]}, uint32_t{b.v[j]}));
    return a;
  }
  friend U16x8 operator+(U16x8 a, U16x8 b) { return Lanewise(a, b, std::plus<>{}); }
  friend U16x8 operator-(U16x8 a, U16x8 b) { return Lanewise(a, b, std::minus<>{}); }
  friend U16x8 operator*(U16x8 a, U16x8 b) { return Lanewise(a, b, std::multiplies<>{}); }
};
inline U16x8 Splat(uint16_t x) { return U16x8{{x, x, x, x, x, x, x, x}}; }
inline U16x8 ShiftUp1(U16x8 v) { return U16x8{{0, v.v[0], v.v[1], v.v[2], v.v[3], v.v[4], v.v[5], v.v[6]}}; }
inline U16x8 ShiftUp2(U16x8 v) { return U16x8{{0, 0, v.v[0], v.v[1], v.v[2], v.v[3], v.v[4], v.v[5]}}; }
#endif
static_assert(sizeof(U16x8) == 16);
constexpr bool kVectorLanes = SCP_VECTOR_LANES;

// Eight lanes from any 16 bytes: a table's lanes, samples, a splat.
inline U16x8 Load(const void* p) {
  U16x8 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void Store(int16_t* out, U16x8 v) { std::memcpy(out, &v, sizeof v); }

inline uint64_t ByteSwap64(uint64_t v) {
  v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
  v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
  return (v << 32) | (v >> 32);
}

inline uint64_t LoadBE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = ByteSwap64(v);
  return v;
}

inline void StoreBE64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) v = ByteSwap64(v);
  std::memcpy(p, &v, 8);
}

}  // namespace SCP_LANES_NAMESPACE
}  // namespace scpcodec::fast
