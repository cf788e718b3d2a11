// The fast encoder's AVX-512 variant, for x86-64 processors that have it;
// chosen at run time, so the same build runs on those that do not.
//
// Blocks of 32 values in 16-bit lanes while all lie within [-8, 8] (most of
// an ECG): codes and lengths from two 16-bit lane permutes, merged in lanes
// to pairs (32-bit), fours and eights (64-bit); each eight of at most 56
// bits is one append to the bit buffer, four a block. Otherwise two blocks
// of 16 values in 32-bit lanes, escapes computed when there are any; each
// eight whole if it fits, else as its four pairs (at most 52 bits each).
// The values after the last block go through the same blocks, padded, in a
// scratch buffer.
//
// What did not pay here (measured against this): the whole block's bit
// string built in lanes and written with one masked store, or joined to two
// 112-bit strings each put with a funnel shift and two stores (the lane
// joins cost what the appends save); fallback blocks without
// value-dependent branches (more appends cost more than the mispredictions
// they save); codes and lengths reaching the bit buffer through memory
// instead of lane moves; the values after the bulk blocks coded in pairs
// of scalar codes through a scratch buffer (their cost is per value, not
// per byte).

#include "scp/sample_encode_variants.h"

#include <cstddef>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
// Not on Windows: 64-bit MinGW does not align the stack for spilled 64-byte
// lanes.
#define SCP_ENCODE_AVX512 1
#if !defined(__clang__)
// GCC 12 warns about the undefined lanes of its own intrinsics (its bug
// 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <cpuid.h>
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

#include "scp/sample_encode_packer.h"

namespace scpcodec::fast {

#if defined(SCP_ENCODE_AVX512)
namespace {

#define ScpAvx512 __attribute__((target("avx2,bmi2,movbe,avx512f,avx512bw")))

// Code and length of each value from -16 to 15 at index value + 16, in
// 32-bit lanes; of each value from -8 to 8 at index value + 8, in 16-bit
// lanes (32 entries, the rest unused).
struct alignas(64) ShortCodes {
  uint32_t code[32];
  uint32_t length[32];
  uint16_t code16[32];
  uint16_t length16[32];
};

constexpr ShortCodes BuildShortCodes() {
  ShortCodes t{};
  for (uint32_t i = 0; i < 32; ++i) {
    t.code[i] = kEncode.at(i - 16 + 128) >> 5;
    t.length[i] = kEncode.at(i - 16 + 128) & 31;
    if (i <= 16) {
      t.code16[i] = static_cast<uint16_t>(kEncode.at(i - 8 + 128) >> 5);
      t.length16[i] = static_cast<uint16_t>(kEncode.at(i - 8 + 128) & 31);
    }
  }
  return t;
}

constexpr ShortCodes kShort = BuildShortCodes();
static_assert(sizeof(ShortCodes) == 6 * 64 && alignof(ShortCodes) == 64 && offsetof(ShortCodes, code16) == 4 * 64,
              "six aligned 64-byte lane loads");

// Blocks of 32 values where all lie within [-8, 8] (codes of at most 10
// bits), else two blocks of 16.
constexpr uint32_t kBlock = 16;
// What a block of 16 may need in the worst case: eight flushes of a pair of
// 26-bit codes (7 bytes forward each), the last store 8 bytes wide. A block
// of 32 that falls back to two of 16 needs twice that.
constexpr uint32_t kBlockRoom = 7 * 7 + 8;
// The longest eight that one append takes: 7 held bits and 56 stay below
// the buffer's 64.
constexpr uint64_t kWholeEight = 56;

#define ScpAvx512Inline ScpAvx512 inline __attribute__((always_inline))

// The loop's constants. GCC rebuilds splatted constants in the loop, two
// instructions each, unless they are opaque.
struct Constants {
  __m512i codeLow, codeHigh, lengthLow, lengthHigh, code16, length16;
  __m512i low32, bias16, bias128, short32, short256, low8, prefix8, low16, prefix16, length8, length16Bit;
  __m512i wholeEight, bias8x16, short17x16, ones16;

  ScpAvx512Inline Constants() {
    codeLow = _mm512_load_si512(kShort.code);
    codeHigh = _mm512_load_si512(kShort.code + 16);
    lengthLow = _mm512_load_si512(kShort.length);
    lengthHigh = _mm512_load_si512(kShort.length + 16);
    code16 = _mm512_load_si512(kShort.code16);
    length16 = _mm512_load_si512(kShort.length16);
    low32 = _mm512_set1_epi64(0xFFFFFFFF);
    bias16 = _mm512_set1_epi32(16);
    bias128 = _mm512_set1_epi32(128);
    short32 = _mm512_set1_epi32(32);
    short256 = _mm512_set1_epi32(256);
    low8 = _mm512_set1_epi32(0xFF);
    prefix8 = _mm512_set1_epi32(kNarrowEscapePrefix);
    low16 = _mm512_set1_epi32(0xFFFF);
    prefix16 = _mm512_set1_epi32(kWideEscapePrefix);
    length8 = _mm512_set1_epi32(kNarrowEscapeBits);
    length16Bit = _mm512_set1_epi32(kLongestCode);
    wholeEight = _mm512_set1_epi64(kWholeEight);
    bias8x16 = _mm512_set1_epi16(8);
    short17x16 = _mm512_set1_epi16(17);
    ones16 = _mm512_set1_epi16(1);
    __asm__("" : "+v"(low32), "+v"(bias16), "+v"(bias128), "+v"(short32), "+v"(short256), "+v"(low8), "+v"(prefix8));
    __asm__("" : "+v"(low16), "+v"(prefix16), "+v"(length8), "+v"(length16Bit), "+v"(wholeEight));
    __asm__("" : "+v"(bias8x16), "+v"(short17x16), "+v"(ones16));
  }
};

// Codes in 64-bit lanes: pairs (at most 52 bits, the first code above the
// second), and eights in lanes 0 and 4. An eight (or four) longer than 64
// bits comes out wrong, but such an eight is not used.
struct Merged {
  __m512i pair, pairLength, eight, eightLength;
};

ScpAvx512Inline Merged Merge(__m512i code, __m512i length, __m512i low32) {
  Merged m;
  m.pair = _mm512_or_si512(_mm512_sllv_epi64(_mm512_and_si512(code, low32), _mm512_srli_epi64(length, 32)),
                           _mm512_srli_epi64(code, 32));
  m.pairLength = _mm512_sad_epu8(length, _mm512_setzero_si512());
  // Fours in lanes 0, 2, 4, 6, then eights.
  const __m512i nextLength = _mm512_bsrli_epi128(m.pairLength, 8);
  const __m512i four = _mm512_or_si512(_mm512_sllv_epi64(m.pair, nextLength), _mm512_bsrli_epi128(m.pair, 8));
  const __m512i fourLength = _mm512_add_epi64(m.pairLength, nextLength);
  const __m512i nextFourLength = _mm512_permutex_epi64(fourLength, 0xEE);
  m.eight = _mm512_or_si512(_mm512_sllv_epi64(four, nextFourLength), _mm512_permutex_epi64(four, 0xEE));
  m.eightLength = _mm512_add_epi64(fourLength, nextFourLength);
  return m;
}

// Second differences (or the samples) of x[0, 16) and x[0, 32); they reach
// back to x[-2].
template <bool kSecondDiff>
ScpAvx512Inline __m256i Values16(const int16_t* x) {
  __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x));
  if constexpr (kSecondDiff) {
    const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x - 1));
    const __m256i before2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x - 2));
    d = _mm256_add_epi16(_mm256_sub_epi16(_mm256_sub_epi16(d, before), before), before2);
  }
  return d;
}

template <bool kSecondDiff>
ScpAvx512Inline __m512i Values32(const int16_t* x) {
  __m512i d = _mm512_loadu_si512(x);
  if constexpr (kSecondDiff) {
    const __m512i before = _mm512_loadu_si512(x - 1);
    const __m512i before2 = _mm512_loadu_si512(x - 2);
    d = _mm512_add_epi16(_mm512_sub_epi16(_mm512_sub_epi16(d, before), before), before2);
  }
  return d;
}

// Codes x[0, 16): two appends when no value needs an escape and both eights
// fit, else each eight whole or as its four pairs.
template <bool kSecondDiff>
ScpAvx512Inline void Put16(Packer& packer, const int16_t* x, const Constants& c) {
  alignas(64) uint64_t codes[8], lengths[8];
  const __m512i v = _mm512_cvtepi16_epi32(Values16<kSecondDiff>(x));
  const __m512i index = _mm512_add_epi32(v, c.bias16);
  __m512i code = _mm512_permutex2var_epi32(c.codeLow, index, c.codeHigh);
  __m512i length = _mm512_permutex2var_epi32(c.lengthLow, index, c.lengthHigh);
  const __mmask16 escape = _mm512_cmpge_epu32_mask(index, c.short32);
  Merged m;
  if (escape == 0) {
    m = Merge(code, length, c.low32);
    if (_mm512_mask_cmpgt_epu64_mask(0x11, m.eightLength, c.wholeEight) == 0) {
      _mm512_store_si512(codes, m.eight);
      _mm512_store_si512(lengths, m.eightLength);
      packer.Append(codes[0], static_cast<uint32_t>(lengths[0]));
      packer.Flush();
      packer.Append(codes[4], static_cast<uint32_t>(lengths[4]));
      packer.Flush();
      return;
    }
  } else {
    // Escapes ((A & B) | C: the value's low bits after the prefix): 8 bits
    // for -128 to 127, else 16.
    const __mmask16 escape16 = _mm512_cmpge_epu32_mask(_mm512_add_epi32(v, c.bias128), c.short256);
    code = _mm512_mask_mov_epi32(code, escape, _mm512_ternarylogic_epi32(v, c.low8, c.prefix8, 0xEA));
    code = _mm512_mask_mov_epi32(code, escape16, _mm512_ternarylogic_epi32(v, c.low16, c.prefix16, 0xEA));
    length = _mm512_mask_mov_epi32(length, escape, c.length8);
    length = _mm512_mask_mov_epi32(length, escape16, c.length16Bit);
    m = Merge(code, length, c.low32);
  }
  alignas(64) uint64_t eights[8], eightLengths[8];
  _mm512_store_si512(codes, m.pair);
  _mm512_store_si512(lengths, m.pairLength);
  _mm512_store_si512(eights, m.eight);
  _mm512_store_si512(eightLengths, m.eightLength);
  for (uint32_t k = 0; k < 8; k += 4) {
    if (eightLengths[k] <= kWholeEight) {
      packer.Append(eights[k], static_cast<uint32_t>(eightLengths[k]));
      packer.Flush();
      continue;
    }
    for (uint32_t i = k; i < k + 4; ++i) {
      packer.Append(codes[i], static_cast<uint32_t>(lengths[i]));
      packer.Flush();
    }
  }
}

// Codes x[0, 32) when all lie within [-8, 8] and each eight fits one
// append: codes in 16-bit lanes, pairs in 32-bit ones, fours and eights in
// 64-bit ones. False, with nothing written, otherwise.
template <bool kSecondDiff>
ScpAvx512Inline bool Put32(Packer& packer, const int16_t* x, const Constants& c) {
  const __m512i index = _mm512_add_epi16(Values32<kSecondDiff>(x), c.bias8x16);
  if (_mm512_cmpge_epu16_mask(index, c.short17x16) != 0) return false;
  const __m512i code = _mm512_permutexvar_epi16(index, c.code16);
  const __m512i length = _mm512_permutexvar_epi16(index, c.length16);
  const __m512i pair = _mm512_or_si512(_mm512_sllv_epi32(_mm512_and_si512(code, c.low16), _mm512_srli_epi32(length, 16)),
                                       _mm512_srli_epi32(code, 16));
  const __m512i pairLength = _mm512_madd_epi16(length, c.ones16);
  const __m512i four = _mm512_or_si512(_mm512_sllv_epi64(_mm512_and_si512(pair, c.low32), _mm512_srli_epi64(pairLength, 32)),
                                       _mm512_srli_epi64(pair, 32));
  const __m512i fourLength = _mm512_sad_epu8(pairLength, _mm512_setzero_si512());
  // Eights in lanes 0, 2, 4, 6.
  const __m512i nextLength = _mm512_bsrli_epi128(fourLength, 8);
  const __m512i eight = _mm512_or_si512(_mm512_sllv_epi64(four, nextLength), _mm512_bsrli_epi128(four, 8));
  const __m512i eightLength = _mm512_add_epi64(fourLength, nextLength);
  if (_mm512_mask_cmpgt_epu64_mask(0x55, eightLength, c.wholeEight) != 0) return false;
  alignas(64) uint64_t codes[8], lengths[8];
  _mm512_store_si512(codes, eight);
  _mm512_store_si512(lengths, eightLength);
  for (uint32_t k = 0; k < 8; k += 2) {
    packer.Append(codes[k], static_cast<uint32_t>(lengths[k]));
    packer.Flush();
  }
  return true;
}

// The values after the bulk blocks, at most kTail of them, through the same
// blocks: copied with the two before them and padded to whole blocks with
// values whose code is one 0 bit (second differences of 0, or samples of
// 0), coded into a scratch buffer that needs no room checks; the bytes
// without the padding's bits then go out. False when they do not fit, as
// one code after another leaves it.
constexpr uint32_t kTail = kBulkTail + 4 * kBlock;

template <bool kSecondDiff>
ScpAvx512Inline bool PutTail(Packer& packer, const int16_t* x, uint32_t n, uint32_t count, const Constants& c) {
  constexpr uint32_t kPadded = kTail + 2 * kBlock;
  int16_t values[2 + kPadded];
  const uint32_t real = count - n;
  const uint32_t padded = (real + 2 * kBlock - 1) / (2 * kBlock) * (2 * kBlock);
  std::memcpy(values, x + n - 2, (2 + real) * sizeof(int16_t));
  // Second differences of 0 continue the last two samples' line.
  const int last = values[1 + real], step = last - values[real];
  for (uint32_t k = 2 + real; k < 2 + padded; ++k)
    values[k] = kSecondDiff ? static_cast<int16_t>(last + static_cast<int>(k - 1 - real) * step) : int16_t{0};
  // Each 8-byte store may reach 8 bytes past the codes.
  uint8_t scratch[(7 + kPadded * kLongestCode) / 8 + 8 + 1];
  Packer pass(scratch, sizeof scratch, packer);
  for (uint32_t k = 0; k < padded; k += 2 * kBlock) {
    if (Put32<kSecondDiff>(pass, values + 2 + k, c)) continue;
    Put16<kSecondDiff>(pass, values + 2 + k, c);
    Put16<kSecondDiff>(pass, values + 2 + k + kBlock, c);
  }
  pass.Finish();
  const uint32_t bits = pass.Written() * 8 + pass.Held() - (padded - real);
  const uint32_t held = bits % 8;
  return packer.Take(scratch, bits / 8, scratch[bits / 8] >> (8 - held), held);
}

template <bool kSecondDiff>
ScpAvx512 uint32_t EncodeHuffman(uint8_t* out, uint32_t room, const int16_t* x, uint32_t count) {
  Packer packer(out, room);
  uint32_t n = count < 2 ? count : 2;
  if (!PutEach<kSecondDiff>(packer, x, 0, n)) return 0;
  const Constants c;
  // The loop's bounds: values enough for a block (of 16 and of 32) and the
  // tail after it, room enough for its stores.
  const uint32_t lastBlock = count >= kBlock + kBulkTail ? count - kBlock - kBulkTail : 0;
  const uint32_t lastWritten = room >= kBlockRoom ? room - kBlockRoom : 0;
  const bool bulk = count >= kBlock + kBulkTail && room >= kBlockRoom;
  const uint32_t lastBlock32 = count >= 2 * kBlock + kBulkTail ? count - 2 * kBlock - kBulkTail : 0;
  const uint32_t lastWritten32 = room >= 2 * kBlockRoom ? room - 2 * kBlockRoom : 0;
  const bool bulk32 = count >= 2 * kBlock + kBulkTail && room >= 2 * kBlockRoom;
  while (bulk && n <= lastBlock && packer.Written() <= lastWritten) {
    // 1 KB ahead, as the baseline does.
    ScpPrefetch(x + n + 512);
    if (bulk32 && n <= lastBlock32 && packer.Written() <= lastWritten32) {
      if (Put32<kSecondDiff>(packer, x + n, c)) {
        n += 2 * kBlock;
        continue;
      }
      Put16<kSecondDiff>(packer, x + n, c);
      n += kBlock;
    }
    Put16<kSecondDiff>(packer, x + n, c);
    n += kBlock;
  }
  if (n >= 2 && count - n <= kTail) {
    if (!PutTail<kSecondDiff>(packer, x, n, count, c)) return 0;
  } else if (!PutEach<kSecondDiff>(packer, x, n, count)) {
    return 0;
  }
  return packer.Finish();
}

uint32_t Encode(uint8_t* out, uint32_t room, const int16_t* samples, uint32_t count, bool secondDifference) {
  return secondDifference ? EncodeHuffman<true>(out, room, samples, count)
                          : EncodeHuffman<false>(out, room, samples, count);
}

}  // namespace

HuffmanEncoder Avx512Encoder() {
  __builtin_cpu_init();
  // Clang's __builtin_cpu_supports does not know MOVBE: CPUID leaf 1.
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  const bool movbe = __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_MOVBE) != 0;
  const bool runs = movbe && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") &&
                    __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return runs ? &Encode : nullptr;
}

#else

HuffmanEncoder Avx512Encoder() { return nullptr; }

#endif

}  // namespace scpcodec::fast
