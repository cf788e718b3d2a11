// The fast encoder's AVX-512 variant, for x86-64 processors that have it;
// chosen at run time, so the same build runs on those that do not.
//
// Blocks of sixteen values in 32-bit lanes: each value's code and length
// from two lane permutes (values -16 to 15) or computed (escapes); codes
// merged pairwise in 64-bit lanes, to pairs, fours and eights. An eight of
// at most 56 bits goes to the bit buffer in one append, so a block usually
// takes two; a longer eight goes as its four pairs (at most 52 bits each).

#include "scp/sample_encode_variants.h"

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

// Code and length of each value from -16 to 15 at index value + 16.
struct alignas(64) ShortCodes {
  uint32_t code[32];
  uint32_t length[32];
};

constexpr ShortCodes BuildShortCodes() {
  ShortCodes t{};
  for (uint32_t i = 0; i < 32; ++i) {
    t.code[i] = kEncode.at(i - 16 + 128) >> 5;
    t.length[i] = kEncode.at(i - 16 + 128) & 31;
  }
  return t;
}

constexpr ShortCodes kShort = BuildShortCodes();

constexpr uint32_t kBlock = 16;
// What a block may need in the worst case: eight flushes of a pair of
// 26-bit codes (7 bytes forward each), the last store 8 bytes wide.
constexpr uint32_t kBlockRoom = 7 * 7 + 8;
// The longest eight that one append takes: 7 held bits and 56 stay below
// the buffer's 64.
constexpr uint64_t kWholeEight = 56;

// Codes in 64-bit lanes: pairs (at most 52 bits, the first code above the
// second), and eights in lanes 0 and 4. An eight (or four) longer than 64
// bits comes out wrong, but such an eight is not used.
struct Merged {
  __m512i pair, pairLength, eight, eightLength;
};

ScpAvx512 inline __attribute__((always_inline)) Merged Merge(__m512i code, __m512i length, __m512i low32) {
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

template <bool kSecondDiff>
ScpAvx512 uint32_t EncodeHuffman(uint8_t* out, uint32_t room, const int16_t* x, uint32_t count) {
  Packer packer(out, room);
  uint32_t n = count < 2 ? count : 2;
  if (!PutEach<kSecondDiff>(packer, x, 0, n)) return 0;
  const __m512i codeLow = _mm512_load_si512(kShort.code), codeHigh = _mm512_load_si512(kShort.code + 16);
  const __m512i lengthLow = _mm512_load_si512(kShort.length);
  const __m512i lengthHigh = _mm512_load_si512(kShort.length + 16);
  // GCC rebuilds splatted constants in the loop, two instructions each,
  // unless they are opaque.
  __m512i low32 = _mm512_set1_epi64(0xFFFFFFFF), bias16 = _mm512_set1_epi32(16), bias128 = _mm512_set1_epi32(128);
  __m512i short32 = _mm512_set1_epi32(32), short256 = _mm512_set1_epi32(256);
  __m512i low8 = _mm512_set1_epi32(0xFF), prefix8 = _mm512_set1_epi32(0x3FE00);
  __m512i low16 = _mm512_set1_epi32(0xFFFF), prefix16 = _mm512_set1_epi32(0x3FF0000);
  __m512i length8 = _mm512_set1_epi32(18), length16 = _mm512_set1_epi32(kLongestCode);
  __m512i wholeEight = _mm512_set1_epi64(kWholeEight);
  __asm__("" : "+v"(low32), "+v"(bias16), "+v"(bias128), "+v"(short32), "+v"(short256), "+v"(low8), "+v"(prefix8));
  __asm__("" : "+v"(low16), "+v"(prefix16), "+v"(length8), "+v"(length16), "+v"(wholeEight));
  alignas(64) uint64_t codes[8], lengths[8];
  // The loop's bounds: values enough for a block and the tail after it,
  // room enough for a block's stores.
  const uint32_t lastBlock = count >= kBlock + kBulkTail ? count - kBlock - kBulkTail : 0;
  const uint32_t lastWritten = room >= kBlockRoom ? room - kBlockRoom : 0;
  const bool bulk = count >= kBlock + kBulkTail && room >= kBlockRoom;
  while (bulk && n <= lastBlock && packer.Written() <= lastWritten) {
    // 1 KB ahead, as the baseline does.
    ScpPrefetch(x + n + 512);
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + n));
    if constexpr (kSecondDiff) {
      const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + n - 1));
      const __m256i before2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + n - 2));
      d = _mm256_add_epi16(_mm256_sub_epi16(_mm256_sub_epi16(d, before), before), before2);
    }
    const __m512i v = _mm512_cvtepi16_epi32(d);
    const __m512i index = _mm512_add_epi32(v, bias16);
    __m512i code = _mm512_permutex2var_epi32(codeLow, index, codeHigh);
    __m512i length = _mm512_permutex2var_epi32(lengthLow, index, lengthHigh);
    const __mmask16 escape = _mm512_cmpge_epu32_mask(index, short32);
    // Usually no value lies outside the table and both eights fit.
    Merged m;
    if (escape == 0) {
      m = Merge(code, length, low32);
      if (_mm512_mask_cmpgt_epu64_mask(0x11, m.eightLength, wholeEight) == 0) {
        _mm512_store_si512(codes, m.eight);
        _mm512_store_si512(lengths, m.eightLength);
        packer.Append(codes[0], static_cast<uint32_t>(lengths[0]));
        packer.Flush();
        packer.Append(codes[4], static_cast<uint32_t>(lengths[4]));
        packer.Flush();
        n += kBlock;
        continue;
      }
    } else {
      // Escapes ((A & B) | C: the value's low bits after the prefix): 8
      // bits for -128 to 127, else 16.
      const __mmask16 escape16 = _mm512_cmpge_epu32_mask(_mm512_add_epi32(v, bias128), short256);
      code = _mm512_mask_mov_epi32(code, escape, _mm512_ternarylogic_epi32(v, low8, prefix8, 0xEA));
      code = _mm512_mask_mov_epi32(code, escape16, _mm512_ternarylogic_epi32(v, low16, prefix16, 0xEA));
      length = _mm512_mask_mov_epi32(length, escape, length8);
      length = _mm512_mask_mov_epi32(length, escape16, length16);
      m = Merge(code, length, low32);
    }
    // Each eight whole if it fits, else as its four pairs.
    _mm512_store_si512(codes, m.pair);
    _mm512_store_si512(lengths, m.pairLength);
    alignas(64) uint64_t eights[8], eightLengths[8];
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
    n += kBlock;
  }
  if (!PutEach<kSecondDiff>(packer, x, n, count)) return 0;
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
