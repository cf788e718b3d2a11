// The table-driven sample encoder: the baseline variant, and the choice of
// variant (sample_encode_variants.h).
//
// Baseline: blocks of eight values. Their second differences are formed in
// vector lanes; when all eight lie in [-8, 7] one table lookup per pair of
// values gives both codes and their length, otherwise one lookup per value
// (escapes computed). Codes are packed into a 64-bit bit buffer and whole
// bytes leave it in 8-byte stores, only while such a store stays inside the
// room.

#include <array>
#include <cstring>

#include "scp/sample_codec.h"
#include "scp/sample_encode_packer.h"
#include "scp/sample_encode_variants.h"
#include "scp/sample_lanes.h"

namespace scpcodec::fast {
namespace {

// Two values from [-8, 7] at once, indexed by (first + 8) * 16 + second + 8:
// the two codes one after the other (at most 20 bits) and their length.
struct PairTables {
  std::array<uint32_t, 256> code;
  std::array<uint8_t, 256> length;
};

constexpr PairTables BuildPairTables() {
  PairTables t{};
  for (uint32_t first = 0; first < 16; ++first) {
    for (uint32_t second = 0; second < 16; ++second) {
      const uint32_t a = kEncode.at(first - 8 + 128);
      const uint32_t b = kEncode.at(second - 8 + 128);
      const uint32_t index = first * 16 + second;
      t.code.at(index) = ((a >> 5) << (b & 31)) | (b >> 5);
      t.length.at(index) = static_cast<uint8_t>((a & 31) + (b & 31));
    }
  }
  return t;
}

constexpr PairTables kPairs = BuildPairTables();

// The pair table's indices of the four pairs of biased values (each 0 to
// 15): first * 16 + second, formed in the 32-bit lanes that hold the pairs.
inline void PairIndices(U16x8 biased, uint32_t* pairs) {
#if SCP_VECTOR_LANES
  using U32x4 = uint32_t __attribute__((vector_size(16)));
  U32x4 w;
  std::memcpy(&w, &biased, sizeof w);
  if constexpr (std::endian::native == std::endian::little) {
    w = (w << 4 & 0xF0) | w >> 16;
  } else {
    w = (w >> 12 & 0xF0) | (w & 0x0F);
  }
  std::memcpy(pairs, &w, sizeof w);
#else
  for (int i = 0; i < 4; ++i) pairs[i] = static_cast<uint32_t>(biased.v[2 * i] << 4 | biased.v[2 * i + 1]);
#endif
}

// Values coded per block, and what a block may need in the worst case: four
// flushes of two 26-bit codes, each store 8 bytes wide.
constexpr uint32_t kBlock = 8;
constexpr uint32_t kBlockRoom = 3 * 7 + 8;

// Codes x[0, kBlock). Second differences reach back to x[-2].
template <bool kSecondDiff>
inline void PutBlock(Packer& packer, const int16_t* x) {
  U16x8 d = Load(x);
  if constexpr (kSecondDiff) {
    const U16x8 before = Load(x - 1);
    d = d - before - before + Load(x - 2);
  }
  // All eight in [-8, 7] (the common case for an ECG): four pair lookups.
  const U16x8 biased = d + Splat(8);
  uint64_t low, high;
  std::memcpy(&low, &biased, 8);
  std::memcpy(&high, reinterpret_cast<const uint8_t*>(&biased) + 8, 8);
  if (((low | high) & 0xFFF0FFF0FFF0FFF0ull) == 0) {
    uint32_t pairs[4];
    PairIndices(biased, pairs);
    const uint32_t p0 = pairs[0], p1 = pairs[1], p2 = pairs[2], p3 = pairs[3];
    packer.Append(kPairs.code[p0], kPairs.length[p0]);
    packer.Append(kPairs.code[p1], kPairs.length[p1]);
    // Usually the whole block fits the bit buffer (7 + 8 x 6 bits at most
    // when all values lie within +-4); otherwise write out the first half.
    if (packer.Held() + kPairs.length[p2] + kPairs.length[p3] > 64) packer.Flush();
    packer.Append(kPairs.code[p2], kPairs.length[p2]);
    packer.Append(kPairs.code[p3], kPairs.length[p3]);
    packer.Flush();
    return;
  }
  uint16_t values[kBlock];
  std::memcpy(values, &d, sizeof values);
  for (uint32_t i = 0; i < kBlock; i += 2) {
    const uint32_t a = CodeOf(values[i]);
    const uint32_t b = CodeOf(values[i + 1]);
    packer.Append(a >> 5, a & 31);
    packer.Append(b >> 5, b & 31);
    packer.Flush();
  }
}

template <bool kSecondDiff>
uint32_t EncodeHuffman(uint8_t* out, uint32_t room, const int16_t* x, uint32_t count) {
  Packer packer(out, room);
  // Second differences start with the third sample; the first two go as
  // they are.
  uint32_t n = count < 2 ? count : 2;
  if (!PutEach<kSecondDiff>(packer, x, 0, n)) return 0;
  while (count - n >= kBlock + kBulkTail && packer.Room() >= kBlockRoom) {
    // Day-long leads stream from memory faster than the CPU fetches them
    // unasked (see the CRC loop); 1 KB ahead.
    ScpPrefetch(x + n + 512);
    PutBlock<kSecondDiff>(packer, x + n);
    n += kBlock;
  }
  if (!PutEach<kSecondDiff>(packer, x, n, count)) return 0;
  return packer.Finish();
}

}  // namespace

uint32_t encodeLeadBaseline(const RhythmEncoder& encoder, uint8_t* out, uint32_t offset, uint32_t room,
                            const int16_t* samples, uint32_t count) {
  uint32_t settled = 0;
  if (EncodeSettled(encoder, out + offset, room, samples, count, &settled)) return settled;
  return encoder.secondDifference ? EncodeHuffman<true>(out + offset, room, samples, count)
                                  : EncodeHuffman<false>(out + offset, room, samples, count);
}

uint32_t encodeLead(const RhythmEncoder& encoder, uint8_t* out, uint32_t offset, uint32_t room,
                    const int16_t* samples, uint32_t count) {
  // Chosen once: the processor does not change under a running host.
  static const HuffmanEncoder wide = Avx512Encoder();
  if (wide == nullptr) return encodeLeadBaseline(encoder, out, offset, room, samples, count);
  uint32_t settled = 0;
  if (EncodeSettled(encoder, out + offset, room, samples, count, &settled)) return settled;
  return wide(out + offset, room, samples, count, encoder.secondDifference != 0);
}

}  // namespace scpcodec::fast
