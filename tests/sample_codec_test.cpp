// The sample codec: known bit streams, the room rule, plain samples, damaged
// leads, and agreement of the portable and the fast implementation on
// every kind of input.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "scp/sample_codec.h"
#include "support/ecg_synth.h"

namespace {

using Samples = std::vector<int16_t>;
using Bytes = std::vector<uint8_t>;

struct Portable {
  static uint32_t Encode(const RhythmEncoder& e, uint8_t* out, uint32_t offset, uint32_t room,
                         const int16_t* x, uint32_t count) {
    return scpcodec::portable::encodeLead(e, out, offset, room, x, count);
  }
  static uint32_t Decode(const HuffmanMode& m, int16_t* dest, uint32_t destCount, const uint8_t* src,
                         uint32_t offset, uint32_t byteCount, bool sd) {
    return scpcodec::portable::decodeLead(m, dest, destCount, src, offset, byteCount, sd);
  }
};

struct Fast {
  static uint32_t Encode(const RhythmEncoder& e, uint8_t* out, uint32_t offset, uint32_t room,
                         const int16_t* x, uint32_t count) {
    return scpcodec::fast::encodeLead(e, out, offset, room, x, count);
  }
  static uint32_t Decode(const HuffmanMode& m, int16_t* dest, uint32_t destCount, const uint8_t* src,
                         uint32_t offset, uint32_t byteCount, bool sd) {
    return scpcodec::fast::decodeLead(m, dest, destCount, src, offset, byteCount, sd);
  }
};

constexpr RhythmEncoder kSecondDiff{1, 1, 0};
constexpr RhythmEncoder kNoDiff{1, 0, 0};
constexpr HuffmanMode kHuffman{1, 0};
constexpr HuffmanMode kPlain{0, 0};

// Bytes from a string of '0' and '1' (spaces ignored), filled from the most
// significant bit, the last byte padded with zero bits.
Bytes FromBits(const std::string& bits) {
  Bytes out;
  int used = 0;
  for (char c : bits) {
    if (c == ' ') continue;
    if (used % 8 == 0) out.push_back(0);
    if (c == '1') out.back() = static_cast<uint8_t>(out.back() | (0x80 >> (used % 8)));
    ++used;
  }
  return out;
}

// What the encoder must produce for a stream of codes: the bits, and one
// extra zero byte when they end on a byte boundary.
Bytes Closed(const std::string& bits) {
  Bytes out = FromBits(bits);
  const auto count = std::count_if(bits.begin(), bits.end(), [](char c) { return c != ' '; });
  if (count % 8 == 0) out.push_back(0);
  return out;
}

template <class Impl>
Bytes Encode(const Samples& x, const RhythmEncoder& enc = kSecondDiff) {
  Bytes out(4 * x.size() + 8, 0xA5);
  const uint32_t n = Impl::Encode(enc, out.data(), 0, static_cast<uint32_t>(out.size()), x.data(),
                                  static_cast<uint32_t>(x.size()));
  out.resize(n);
  return out;
}

// Decodes with a guard zone behind the destination that must stay intact,
// and the lead's bytes in an exactly sized heap block (overreads show under
// the sanitizer build).
template <class Impl>
Samples Decode(const Bytes& lead, uint32_t count, bool sd = true, const HuffmanMode& mode = kHuffman,
               uint32_t* delivered = nullptr) {
  constexpr int16_t kGuard = 0x5A5A;
  Samples dest(count + 16, kGuard);
  std::vector<uint8_t> exact(lead);
  const uint32_t got = Impl::Decode(mode, dest.data(), count, exact.empty() ? nullptr : exact.data(), 0,
                                    static_cast<uint32_t>(exact.size()), sd);
  for (uint32_t i = count; i < dest.size(); ++i) {
    EXPECT_EQ(dest[i], kGuard) << "decoder wrote past the destination at " << i;
  }
  if (delivered) *delivered = got;
  dest.resize(count);
  return dest;
}

template <class Impl>
class SampleCodecTest : public testing::Test {};

class ImplNames {
 public:
  template <class T>
  static std::string GetName(int) {
    return std::is_same_v<T, Portable> ? "Portable" : "Fast";
  }
};

using Impls = testing::Types<Portable, Fast>;
TYPED_TEST_SUITE(SampleCodecTest, Impls, ImplNames);

// ------------------------------------------------------------ known streams

struct KnownStream {
  const char* name;
  Samples samples;
  std::string bits;
};

const std::vector<KnownStream>& KnownStreams() {
  static const std::vector<KnownStream> streams = {
      {"single +1", {1}, "100"},
      {"+1 then -1", {1, -1}, "100 101"},
      {"eight zeros end on a boundary", {0, 0, 0, 0, 0, 0, 0, 0}, "0 0 0 0 0 0 0 0"},
      {"second difference 200: 16-bit escape", {0, 0, 200}, "0 0 1111111111 0000000011001000"},
      {"second difference -100: 8-bit escape", {0, 0, -100}, "0 0 1111111110 10011100"},
      {"second difference 8: 10-bit code", {0, 0, 8}, "0 0 1111111100"},
      {"second difference -8: 10-bit code", {0, 0, -8}, "0 0 1111111101"},
      {"127 and -128 in 8 bits", {127, -128}, "1111111110 01111111 1111111110 10000000"},
      {"128 and -129 in 16 bits", {128, -129},
       "1111111111 0000000010000000 1111111111 1111111101111111"},
      {"wrap: 32767, -32768, 32767", {32767, -32768, 32767},
       "1111111111 0111111111111111 1111111111 1000000000000000 1101"},
      {"ramp has zero second differences", {3, 5, 7, 9, 11}, "11100 1111100 0 0 0"},
  };
  return streams;
}

TYPED_TEST(SampleCodecTest, KnownStreamsEncodeExactly) {
  for (const KnownStream& s : KnownStreams()) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(Encode<TypeParam>(s.samples), Closed(s.bits));
  }
}

TYPED_TEST(SampleCodecTest, KnownStreamsDecodeBack) {
  for (const KnownStream& s : KnownStreams()) {
    SCOPED_TRACE(s.name);
    uint32_t delivered = 0;
    EXPECT_EQ(Decode<TypeParam>(Closed(s.bits), static_cast<uint32_t>(s.samples.size()), true, kHuffman,
                                &delivered),
              s.samples);
    EXPECT_EQ(delivered, s.samples.size());
  }
}

TYPED_TEST(SampleCodecTest, ReferenceBytes) {
  EXPECT_EQ(Encode<TypeParam>({1}), (Bytes{0x80}));
  EXPECT_EQ(Encode<TypeParam>({1, -1}), (Bytes{0x94}));
  EXPECT_EQ(Encode<TypeParam>(Samples(8, 0)), (Bytes{0x00, 0x00}));
}

TYPED_TEST(SampleCodecTest, WithoutDifferencesSamplesAreCodedAsTheyAre) {
  // 3, 5, 7 would be 3, 5, 0 as second differences.
  EXPECT_EQ(Encode<TypeParam>({3, 5, 7}, kNoDiff), Closed("11100 1111100 111111100"));
  EXPECT_EQ(Decode<TypeParam>(Closed("11100 1111100 111111100"), 3, false), (Samples{3, 5, 7}));
}

TYPED_TEST(SampleCodecTest, WritesAtTheOffsetAndNothingPastTheCount) {
  Bytes out(64, 0xEE);
  const Samples x = {1, -1};
  EXPECT_EQ(TypeParam::Encode(kSecondDiff, out.data(), 10, 20, x.data(), 2), 1u);
  EXPECT_EQ(out[10], 0x94);
  for (size_t i = 0; i < out.size(); ++i) {
    if (i != 10) {
      EXPECT_EQ(out[i], 0xEE) << "byte " << i;
    }
  }
}

TYPED_TEST(SampleCodecTest, ReadsAtTheOffset) {
  Bytes src = {0xFF, 0xFF, 0x94, 0xFF, 0xFF};
  Samples dest(2);
  EXPECT_EQ(TypeParam::Decode(kHuffman, dest.data(), 2, src.data(), 2, 1, true), 2u);
  EXPECT_EQ(dest, (Samples{1, -1}));
}

// ---------------------------------------------------------------- the room

TYPED_TEST(SampleCodecTest, RoomBelowTwoBytesPerSampleFailsWithoutWriting) {
  const Samples x = {1, 2, 3, 4, 5};
  for (uint32_t room : {0u, 1u, 8u, 9u}) {
    Bytes out(32, 0xEE);
    EXPECT_EQ(TypeParam::Encode(kSecondDiff, out.data(), 4, room, x.data(), 5), 0u) << room;
    EXPECT_EQ(out, Bytes(32, 0xEE)) << room;
  }
  Bytes out(32, 0xEE);
  EXPECT_NE(TypeParam::Encode(kSecondDiff, out.data(), 4, 10, x.data(), 5), 0u);
}

TYPED_TEST(SampleCodecTest, CodesLongerThanTheRoomFail) {
  // Four 16-bit escapes take 13 bytes; room 8 passes the first test only.
  const Samples x = {1000, -1000, 30000, -30000};
  Bytes out(32, 0xEE);
  EXPECT_EQ(TypeParam::Encode(kSecondDiff, out.data(), 0, 8, x.data(), 4), 0u);
  EXPECT_EQ(TypeParam::Encode(kSecondDiff, out.data(), 0, 13, x.data(), 4), 0u);
  EXPECT_EQ(TypeParam::Encode(kSecondDiff, out.data(), 0, 14, x.data(), 4), 14u);
  for (size_t i = 14; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << i;
}

TYPED_TEST(SampleCodecTest, ClosingZeroByteNeedsRoomToo) {
  // Eight zeros fill one byte exactly; the closing byte makes two.
  const Samples x(8, 0);
  Bytes out(32, 0xEE);
  EXPECT_EQ(TypeParam::Encode(kSecondDiff, out.data(), 0, 16, x.data(), 8), 2u);
}

TYPED_TEST(SampleCodecTest, EmptyLeadIsOneZeroByte) {
  Bytes out(4, 0xEE);
  EXPECT_EQ(TypeParam::Encode(kSecondDiff, out.data(), 1, 3, nullptr, 0), 1u);
  EXPECT_EQ(out, (Bytes{0xEE, 0x00, 0xEE, 0xEE}));
  EXPECT_EQ(TypeParam::Encode(kSecondDiff, out.data(), 1, 0, nullptr, 0), 0u);
}

// ------------------------------------------------------------ plain samples

TYPED_TEST(SampleCodecTest, PlainLeadLongerThanTheDestinationGivesZero) {
  const Bytes lead = {1, 0, 2, 0, 3, 0, 4, 0};  // four samples
  uint32_t delivered = 99;
  Decode<TypeParam>(lead, 3, false, kPlain, &delivered);
  EXPECT_EQ(delivered, 0u);
  // The second-difference pass is skipped: what was copied stays as is.
  const Samples copied = Decode<TypeParam>(lead, 3, true, kPlain, &delivered);
  EXPECT_EQ(delivered, 0u);
  EXPECT_EQ(copied, (Samples{1, 2, 3}));
}

TYPED_TEST(SampleCodecTest, PlainLeadShorterThanTheDestination) {
  const Bytes lead = {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0x7F};  // 1, -1, -32768, an odd byte
  uint32_t delivered = 0;
  const Samples x = Decode<TypeParam>(lead, 4, false, kPlain, &delivered);
  EXPECT_EQ(delivered, 3u);
  EXPECT_EQ(Samples(x.begin(), x.begin() + 3), (Samples{1, -1, -32768}));
  Decode<TypeParam>(lead, 3, false, kPlain, &delivered);
  EXPECT_EQ(delivered, 3u);
}

TYPED_TEST(SampleCodecTest, PlainSecondDifferencesAreRebuiltOverTheDestination) {
  // d = 10, 20, 0, 5: x = 10, 20, 30, 45, and a fifth place that the lead
  // does not fill is rebuilt from what it held (0): 60.
  const Bytes lead = {10, 0, 20, 0, 0, 0, 5, 0};
  std::vector<int16_t> dest(5, 0);
  EXPECT_EQ(TypeParam::Decode(kPlain, dest.data(), 5, lead.data(), 0, 8, true), 4u);
  EXPECT_EQ(dest, (Samples{10, 20, 30, 45, 60}));
}

TYPED_TEST(SampleCodecTest, PlainEncodingRoundTrips) {
  const Samples x = ecgsynth::RandomWalk(300, 2000, 5);
  for (const RhythmEncoder enc : {RhythmEncoder{0, 1, 0}, RhythmEncoder{0, 0, 0}}) {
    const Bytes lead = Encode<TypeParam>(x, enc);
    ASSERT_EQ(lead.size(), 2 * x.size());
    uint32_t delivered = 0;
    EXPECT_EQ(Decode<TypeParam>(lead, 300, enc.secondDifference != 0, kPlain, &delivered), x);
    EXPECT_EQ(delivered, 300u);
  }
}

// ------------------------------------------------------------------ decoding

TYPED_TEST(SampleCodecTest, EscapesAreAcceptedForAnyValue) {
  // Non-canonical codes: 3 through the 8-bit escape, 5 through the 16-bit
  // one, and 0xFF in 8 bits is -1.
  const Bytes lead = FromBits("1111111110 00000011 1111111111 0000000000000101 1111111110 11111111");
  EXPECT_EQ(Decode<TypeParam>(lead, 3, false), (Samples{3, 5, -1}));
}

TYPED_TEST(SampleCodecTest, ValuesPastTheEndDecodeAsZeroDifferences) {
  const Bytes lead = Encode<TypeParam>({10, 20});
  EXPECT_EQ(Decode<TypeParam>(lead, 6, true), (Samples{10, 20, 30, 40, 50, 60}));
  EXPECT_EQ(Decode<TypeParam>(lead, 4, false), (Samples{10, 20, 0, 0}));
  EXPECT_EQ(Decode<TypeParam>(Bytes{}, 3, true), (Samples{0, 0, 0}));
}

TYPED_TEST(SampleCodecTest, CodesCutShortAreCompletedWithZeroBits) {
  // 1110: +3 whose sign bit is missing.
  EXPECT_EQ(Decode<TypeParam>(FromBits("1110"), 1, false), (Samples{3}));
  // Nine ones: an 8-bit escape whose value is missing.
  EXPECT_EQ(Decode<TypeParam>(FromBits("111111111"), 2, false), (Samples{0, 0}));
  // Ten ones and a one: a 16-bit escape with 15 bits missing.
  EXPECT_EQ(Decode<TypeParam>(FromBits("1111111111 1"), 1, false), (Samples{-32768}));
  // Ones to the end: +8 would need more bits.
  EXPECT_EQ(Decode<TypeParam>(Bytes{0xFF}, 1, false), (Samples{8}));
}

TYPED_TEST(SampleCodecTest, OnlyTheLeadsBytesAreRead) {
  const Samples x = ecgsynth::SynthesizeEcg(ecgsynth::RestingEcg(3), 400);
  const Bytes lead = Encode<TypeParam>(x);
  // The same lead between different neighbours, asked for more samples than
  // it holds: the neighbours must not show through.
  std::vector<Samples> results;
  for (uint8_t fill : {0x00, 0xFF, 0x5A}) {
    Bytes framed(37, fill);
    framed.insert(framed.end(), lead.begin(), lead.end());
    framed.insert(framed.end(), 41, fill);
    Samples dest(450);
    EXPECT_EQ(TypeParam::Decode(kHuffman, dest.data(), 450, framed.data(), 37,
                                static_cast<uint32_t>(lead.size()), true),
              450u);
    results.push_back(dest);
  }
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(results[0], results[2]);
  EXPECT_EQ(Samples(results[0].begin(), results[0].begin() + 400), x);
}

TYPED_TEST(SampleCodecTest, EveryLengthUpTo64RoundTrips) {
  for (uint32_t n = 0; n <= 64; ++n) {
    for (int step : {1, 40, 3000}) {
      const Samples x = ecgsynth::RandomWalk(n, step, 100 + n);
      for (const RhythmEncoder& enc : {kSecondDiff, kNoDiff}) {
        const Bytes lead = Encode<TypeParam>(x, enc);
        ASSERT_FALSE(lead.empty()) << n;
        EXPECT_EQ(Decode<TypeParam>(lead, n, enc.secondDifference != 0), x)
            << "length " << n << " step " << step << " sd " << int(enc.secondDifference);
      }
    }
  }
}

// Every 16-bit value alone: its code length follows from the table.
TYPED_TEST(SampleCodecTest, EverySingleValue) {
  for (int v = -32768; v <= 32767; ++v) {
    const Samples x = {static_cast<int16_t>(v)};
    const int bits = v == 0 ? 1 : (v >= -8 && v <= 8) ? std::abs(v) + 2 : (v >= -128 && v <= 127) ? 18 : 26;
    const Bytes lead = Encode<TypeParam>(x);
    ASSERT_EQ(lead.size(), static_cast<size_t>(bits / 8 + 1)) << v;
    ASSERT_EQ(Decode<TypeParam>(lead, 1), x) << v;
  }
}

// ------------------------------------------------ the two implementations agree

struct SignalCase {
  const char* name;
  Samples (*make)();
};

const SignalCase kSignals[] = {
    {"ecg500", [] { return ecgsynth::SynthesizeEcg(ecgsynth::RestingEcg(11), 5000); }},
    {"ecg500_lead_v2", [] {
       auto shape = ecgsynth::RestingEcg(12);
       shape.gain = -1.7;
       return ecgsynth::SynthesizeEcg(shape, 5000);
     }},
    {"holter200", [] { return ecgsynth::SynthesizeEcg(ecgsynth::HolterEcg(13), 40000); }},
    {"ecg1000_fine", [] {
       auto shape = ecgsynth::RestingEcg(14);
       shape.rateHz = 1000;
       shape.microvoltsPerUnit = 1;
       return ecgsynth::SynthesizeEcg(shape, 8000);
     }},
    {"walk_small", [] { return ecgsynth::RandomWalk(3000, 3, 15); }},
    {"walk_large", [] { return ecgsynth::RandomWalk(3000, 300, 16); }},
    {"white_noise", [] { return ecgsynth::WhiteNoise(3000, 17); }},
    {"flat", [] { return Samples(1000, -7); }},
    {"extremes", [] {
       Samples x(999);
       for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<int16_t>(i % 3 == 1 ? -32768 : 32767);
       return x;
     }},
    {"zero_runs_and_bursts", [] {
       ecgsynth::Random r(18);
       Samples x(4000);
       int16_t v = 0;
       for (auto& s : x) {
         if (r.Between(0, 99) < 3) v = static_cast<int16_t>(r.Between(-32768, 32767));
         s = v;
       }
       return x;
     }},
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class CodecAgreementTest : public testing::TestWithParam<SignalCase> {};

TEST_P(CodecAgreementTest, SameBytesAndSamples) {
  const Samples x = GetParam().make();
  const auto n = static_cast<uint32_t>(x.size());
  for (const RhythmEncoder& enc : {kSecondDiff, kNoDiff}) {
    SCOPED_TRACE(enc.secondDifference ? "second differences" : "no differences");
    const Bytes portable = Encode<Portable>(x, enc);
    const Bytes fast = Encode<Fast>(x, enc);
    ASSERT_FALSE(portable.empty());
    ASSERT_EQ(portable, fast);
    const bool sd = enc.secondDifference != 0;
    EXPECT_EQ(Decode<Portable>(portable, n, sd), x);
    EXPECT_EQ(Decode<Fast>(portable, n, sd), x);
    // Asked for more than the lead holds.
    EXPECT_EQ(Decode<Portable>(portable, n + 37, sd), Decode<Fast>(portable, n + 37, sd));
  }
}

TEST_P(CodecAgreementTest, TruncatedLeadsDecodeAlike) {
  const Samples full = GetParam().make();
  const Samples x(full.begin(), full.begin() + std::min<size_t>(full.size(), 120));
  const Bytes lead = Encode<Portable>(x);
  for (size_t cut = 0; cut <= lead.size(); ++cut) {
    const Bytes part(lead.begin(), lead.begin() + cut);
    for (bool sd : {true, false}) {
      ASSERT_EQ(Decode<Portable>(part, 120, sd), Decode<Fast>(part, 120, sd)) << "cut at " << cut;
    }
  }
}

TEST_P(CodecAgreementTest, SameOutcomeForEveryRoom) {
  // Rooms from 2S up to past the coded size: both succeed or fail alike and
  // leave the same buffer behind, failures included.
  const Samples full = GetParam().make();
  const Samples x(full.begin(), full.begin() + std::min<size_t>(full.size(), 400));
  const auto n = static_cast<uint32_t>(x.size());
  const size_t coded = Encode<Portable>(x).size();
  for (uint32_t room = 2 * n; room <= std::max<uint32_t>(2 * n, static_cast<uint32_t>(coded)) + 9; ++room) {
    Bytes a(room + 16, 0xC3), b(room + 16, 0xC3);
    const uint32_t ra = scpcodec::portable::encodeLead(kSecondDiff, a.data(), 3, room, x.data(), n);
    const uint32_t rb = scpcodec::fast::encodeLead(kSecondDiff, b.data(), 3, room, x.data(), n);
    ASSERT_EQ(ra, rb) << "room " << room;
    ASSERT_EQ(a, b) << "room " << room;
    EXPECT_EQ(ra, room >= coded ? coded : 0u) << "room " << room;
    for (size_t i = 3 + room; i < a.size(); ++i) ASSERT_EQ(a[i], 0xC3) << "room " << room;
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, CodecAgreementTest, testing::ValuesIn(kSignals),
                         [](const testing::TestParamInfo<SignalCase>& info) { return std::string(info.param.name); });

TEST(CodecAgreement, EverySingleValueGivesTheSameBytes) {
  for (int v = -32768; v <= 32767; ++v) {
    const Samples x = {static_cast<int16_t>(v)};
    ASSERT_EQ(Encode<Portable>(x), Encode<Fast>(x)) << v;
    ASSERT_EQ(Encode<Portable>(x, kNoDiff), Encode<Fast>(x, kNoDiff)) << v;
  }
}

TEST(CodecAgreement, EveryValueAfterEveryPrefixLength) {
  // Each value as a second difference at every bit position of a byte, so
  // the fast decoder meets it at every alignment and in every table window.
  for (int shift = 0; shift < 8; ++shift) {
    Samples x;
    for (int i = 0; i < shift; ++i) x.push_back(0);
    for (int v = -200; v <= 200; ++v) {
      const int16_t prev = x.empty() ? 0 : x.back();
      const int16_t prev2 = x.size() < 2 ? 0 : x[x.size() - 2];
      x.push_back(x.size() < 2 ? static_cast<int16_t>(v) : static_cast<int16_t>(2 * prev - prev2 + v));
      x.push_back(static_cast<int16_t>(2 * x.back() - prev));  // a 0 difference between
    }
    const Bytes portable = Encode<Portable>(x);
    ASSERT_EQ(portable, Encode<Fast>(x)) << shift;
    ASSERT_EQ(Decode<Fast>(portable, static_cast<uint32_t>(x.size())), x) << shift;
  }
}

TEST(CodecAgreement, RandomBytesDecodeAlike) {
  ecgsynth::Random r(99);
  for (int round = 0; round < 3000; ++round) {
    Bytes lead(static_cast<size_t>(r.Between(0, 120)));
    // Mostly ones, mostly zeros or uniform, so that escapes, long prefixes
    // and short codes all turn up.
    const int bias = static_cast<int>(r.Between(0, 2));
    for (auto& b : lead) {
      const auto u = static_cast<uint8_t>(r.Next());
      b = bias == 0 ? u : bias == 1 ? static_cast<uint8_t>(u | static_cast<uint8_t>(r.Next()))
                                    : static_cast<uint8_t>(u & static_cast<uint8_t>(r.Next()));
    }
    const auto count = static_cast<uint32_t>(r.Between(0, 400));
    const HuffmanMode mode = r.Between(0, 4) == 0 ? kPlain : kHuffman;
    const bool sd = r.Between(0, 1) == 1;
    uint32_t dp = 0, df = 0;
    const Samples p = Decode<Portable>(lead, count, sd, mode, &dp);
    const Samples f = Decode<Fast>(lead, count, sd, mode, &df);
    ASSERT_EQ(dp, df) << "round " << round;
    ASSERT_EQ(p, f) << "round " << round;
    if (mode.huffman) {
      ASSERT_EQ(dp, count);
    }
  }
}

// Leads decoded together give what one-at-a-time decoding gives: several
// kinds of lead side by side, some cut short, some sharing a destination
// (the later one wins), some without one.
TEST(CodecAgreement, LeadsDecodedTogetherAsOneAtATime) {
  ecgsynth::Random r(41);
  for (int round = 0; round < 60; ++round) {
    const auto count = static_cast<uint32_t>(r.Between(0, 700));
    const auto leads = static_cast<uint32_t>(r.Between(1, 7));
    const bool sd = r.Between(0, 3) != 0;
    const HuffmanMode mode = r.Between(0, 5) == 0 ? kPlain : kHuffman;
    Bytes section(5, 0xEE);  // leads start past a few header bytes
    std::vector<LeadSpan> spans;
    for (uint32_t k = 0; k < leads; ++k) {
      const Samples x = kSignals[r.Between(0, std::size(kSignals) - 1)].make();
      const Samples part(x.begin(), x.begin() + std::min<size_t>(x.size(), count));
      Bytes lead = Encode<Portable>(part, sd ? kSecondDiff : kNoDiff);
      if (r.Between(0, 3) == 0) lead.resize(static_cast<size_t>(r.Between(0, static_cast<int64_t>(lead.size()))));
      spans.push_back(LeadSpan{nullptr, static_cast<uint32_t>(section.size()), static_cast<uint32_t>(lead.size()), 7});
      section.insert(section.end(), lead.begin(), lead.end());
    }
    // Destinations: mostly their own, sometimes another lead's or none.
    std::vector<Samples> dests(2, Samples(leads * (count + 8), 0x5A5A));
    for (uint32_t k = 0; k < leads; ++k) {
      const auto slot = static_cast<uint32_t>(r.Between(0, 9) == 0 ? r.Between(0, leads - 1) : k);
      spans[k].dest = r.Between(0, 11) == 0 ? nullptr : dests[0].data() + slot * (count + 8);
    }
    std::vector<LeadSpan> together = spans;
    for (LeadSpan& l : together) {
      if (l.dest) l.dest = dests[1].data() + (l.dest - dests[0].data());
    }
    for (LeadSpan& l : spans) {
      l.delivered = l.dest ? Portable::Decode(mode, l.dest, count, section.data(), l.offset, l.byteCount, sd) : 0;
    }
    scpcodec::fast::decodeLeads(HuffmanMode{mode.huffman, 1}, together.data(), leads, count, section.data(), sd);
    ASSERT_EQ(dests[0], dests[1]) << "round " << round;
    for (uint32_t k = 0; k < leads; ++k) ASSERT_EQ(spans[k].delivered, together[k].delivered) << "round " << round;
  }
}

// ---------------------------------------------------------------- dispatch

TEST(CodecDispatch, FreeFunctionsFollowTheFastPathFlag) {
  const Samples x = ecgsynth::SynthesizeEcg(ecgsynth::RestingEcg(4), 700);
  const Bytes expected = Encode<Portable>(x);
  for (uint8_t fastPath : {0, 1}) {
    Bytes out(1400);
    const uint32_t n = encodeLead(RhythmEncoder{1, 1, fastPath}, out.data(), 0, 1400, x.data(), 700);
    out.resize(n);
    EXPECT_EQ(out, expected);
    Samples dest(700);
    EXPECT_EQ(decodeLead(HuffmanMode{1, fastPath}, dest.data(), 700, out.data(), 0, n, true), 700u);
    EXPECT_EQ(dest, x);
  }
}

TEST(CodecDispatch, FactoriesSetTheWritersSettings) {
  const RhythmEncoder enc = MakeRhythmEncoder();
  EXPECT_EQ(enc.huffman, 1);
  EXPECT_EQ(enc.secondDifference, 1);
  EXPECT_EQ(enc.fastPath, plat::HasMmx() ? 1 : 0);
  EXPECT_EQ(MakeHuffmanMode(true).huffman, 1);
  EXPECT_EQ(MakeHuffmanMode(false).huffman, 0);
  EXPECT_EQ(MakeHuffmanMode(false).fastPath, enc.fastPath);
}

}  // namespace
