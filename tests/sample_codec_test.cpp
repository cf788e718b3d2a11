// The sample codec: golden bit streams of the default table, the room rule,
// plain samples and damaged leads on both implementations, then one
// differential of the fast implementation against the portable one over
// generated signals, random bytes and every single value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "scp/sample_codec.h"
#include "scp/sample_encode_variants.h"
#include "support/ecg_synth.h"

namespace {

using Samples = std::vector<int16_t>;
using Bytes = std::vector<uint8_t>;

struct Impl {
  const char* name;
  uint32_t (*encode)(const RhythmEncoder&, uint8_t*, uint32_t, uint32_t, const int16_t*, uint32_t);
  uint32_t (*decode)(const HuffmanMode&, int16_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, bool);
};
const Impl kPortable{"portable", scpcodec::portable::encodeLead, scpcodec::portable::decodeLead};
const Impl kFast{"fast", scpcodec::fast::encodeLead, scpcodec::fast::decodeLead};
// The fast encoder's baseline, which the fast one is where the processor
// has no wider variant.
const Impl kBaseline{"baseline", scpcodec::fast::encodeLeadBaseline, scpcodec::fast::decodeLead};
const Impl kImpls[] = {kPortable, kFast, kBaseline};

constexpr RhythmEncoder kSecondDiff{1, 1, 0};
constexpr RhythmEncoder kNoDiff{1, 0, 0};
constexpr HuffmanMode kHuffman{1, 0};
constexpr HuffmanMode kPlain{0, 0};

// Bytes from '0' and '1' (spaces ignored), most significant bit first, the
// last byte padded with zero bits; `closed` adds the zero byte the encoder
// writes after codes that end on a byte boundary.
Bytes FromBits(const std::string& bits, bool closed = false) {
  Bytes out;
  int used = 0;
  for (char c : bits) {
    if (c == ' ') continue;
    if (used % 8 == 0) out.push_back(0);
    if (c == '1') out.back() = static_cast<uint8_t>(out.back() | (0x80 >> (used % 8)));
    ++used;
  }
  if (closed && used % 8 == 0) out.push_back(0);
  return out;
}

Bytes Encode(const Impl& impl, const Samples& x, const RhythmEncoder& enc = kSecondDiff) {
  Bytes out(4 * x.size() + 8, 0xA5);
  out.resize(impl.encode(enc, out.data(), 0, static_cast<uint32_t>(out.size()), x.data(), static_cast<uint32_t>(x.size())));
  return out;
}

// Decodes the lead from an exactly sized block (overreads show under the
// sanitizers) into a destination followed by a guard that must stay intact.
Samples Decode(const Impl& impl, const Bytes& lead, uint32_t count, bool sd = true, const HuffmanMode& mode = kHuffman,
               uint32_t* delivered = nullptr) {
  constexpr int16_t kGuard = 0x5A5A;
  Samples dest(count + 16, kGuard);
  const Bytes exact(lead);
  const uint32_t got = impl.decode(mode, dest.data(), count, exact.empty() ? nullptr : exact.data(), 0,
                                   static_cast<uint32_t>(exact.size()), sd);
  for (uint32_t i = count; i < dest.size(); ++i) EXPECT_EQ(dest[i], kGuard) << impl.name << " wrote past at " << i;
  if (delivered) *delivered = got;
  dest.resize(count);
  return dest;
}

// ------------------------------------------------ golden streams, both ways

TEST(SampleCodec, GoldenStreamsOfTheDefaultTable) {
  struct Stream {
    Samples samples;
    const char* bits;
  };
  const Stream streams[] = {
      {{1}, "100"},
      {{1, -1}, "100 101"},
      {Samples(8, 0), "0 0 0 0 0 0 0 0"},  // ends on a boundary: a closing byte
      {{0, 0, 200}, "0 0 1111111111 0000000011001000"},
      {{0, 0, -100}, "0 0 1111111110 10011100"},
      {{0, 0, 8}, "0 0 1111111100"},
      {{0, 0, -8}, "0 0 1111111101"},
      {{127, -128}, "1111111110 01111111 1111111110 10000000"},
      {{128, -129}, "1111111111 0000000010000000 1111111111 1111111101111111"},
      {{32767, -32768, 32767}, "1111111111 0111111111111111 1111111111 1000000000000000 1101"},
      {{3, 5, 7, 9, 11}, "11100 1111100 0 0 0"},
  };
  for (const Impl& impl : kImpls)
    for (const Stream& s : streams) {
      SCOPED_TRACE(std::string(impl.name) + " " + s.bits);
      EXPECT_EQ(Encode(impl, s.samples), FromBits(s.bits, true));
      uint32_t delivered = 0;
      EXPECT_EQ(Decode(impl, FromBits(s.bits, true), static_cast<uint32_t>(s.samples.size()), true, kHuffman, &delivered),
                s.samples);
      EXPECT_EQ(delivered, s.samples.size());
    }
  for (const Impl& impl : kImpls) {
    // Without differences the samples are coded as they are (3, 5, 7 would
    // be 3, 5, 0 as second differences).
    EXPECT_EQ(Encode(impl, {3, 5, 7}, kNoDiff), FromBits("11100 1111100 111111100", true)) << impl.name;
    EXPECT_EQ(Decode(impl, FromBits("11100 1111100 111111100"), 3, false), (Samples{3, 5, 7})) << impl.name;
    // Non-canonical escapes decode to their value: 3 in 8 bits, 5 in 16,
    // 0xFF in 8 bits is -1.
    EXPECT_EQ(Decode(impl, FromBits("1111111110 00000011 1111111111 0000000000000101 1111111110 11111111"), 3, false),
              (Samples{3, 5, -1}))
        << impl.name;
  }
}

// ---------------------------------------------------------------- the room

TEST(SampleCodec, RoomRule) {
  for (const Impl& impl : kImpls) {
    SCOPED_TRACE(impl.name);
    // Less than two bytes a sample fails before anything is written.
    const Samples five = {1, 2, 3, 4, 5};
    for (uint32_t room : {0u, 1u, 8u, 9u}) {
      Bytes out(32, 0xEE);
      EXPECT_EQ(impl.encode(kSecondDiff, out.data(), 4, room, five.data(), 5), 0u) << room;
      EXPECT_EQ(out, Bytes(32, 0xEE)) << room;
    }
    Bytes out(32, 0xEE);
    EXPECT_NE(impl.encode(kSecondDiff, out.data(), 4, 10, five.data(), 5), 0u);
    // Four 16-bit escapes take 13 bytes and the closing one 14.
    const Samples wide = {1000, -1000, 30000, -30000};
    out.assign(32, 0xEE);
    EXPECT_EQ(impl.encode(kSecondDiff, out.data(), 0, 8, wide.data(), 4), 0u);
    EXPECT_EQ(impl.encode(kSecondDiff, out.data(), 0, 13, wide.data(), 4), 0u);
    EXPECT_EQ(impl.encode(kSecondDiff, out.data(), 0, 14, wide.data(), 4), 14u);
    for (size_t i = 14; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << i;
    const Samples zeros(8, 0);
    EXPECT_EQ(impl.encode(kSecondDiff, out.data(), 0, 16, zeros.data(), 8), 2u);
    // An empty lead is one zero byte, which needs room too.
    Bytes four(4, 0xEE);
    EXPECT_EQ(impl.encode(kSecondDiff, four.data(), 1, 3, nullptr, 0), 1u);
    EXPECT_EQ(four, (Bytes{0xEE, 0x00, 0xEE, 0xEE}));
    EXPECT_EQ(impl.encode(kSecondDiff, four.data(), 1, 0, nullptr, 0), 0u);
  }
}

// ------------------------------------------------------------ plain samples

TEST(SampleCodec, PlainSamples) {
  for (const Impl& impl : kImpls) {
    SCOPED_TRACE(impl.name);
    // Four samples for three places: nothing delivered, and the
    // second-difference pass is skipped over what was copied.
    const Bytes four = {1, 0, 2, 0, 3, 0, 4, 0};
    uint32_t delivered = 99;
    Decode(impl, four, 3, false, kPlain, &delivered);
    EXPECT_EQ(delivered, 0u);
    EXPECT_EQ(Decode(impl, four, 3, true, kPlain, &delivered), (Samples{1, 2, 3}));
    EXPECT_EQ(delivered, 0u);
    // Fewer samples than places; an odd last byte is no sample.
    const Bytes odd = {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0x7F};
    const Samples x = Decode(impl, odd, 4, false, kPlain, &delivered);
    EXPECT_EQ(delivered, 3u);
    EXPECT_EQ(Samples(x.begin(), x.begin() + 3), (Samples{1, -1, -32768}));
    Decode(impl, odd, 3, false, kPlain, &delivered);
    EXPECT_EQ(delivered, 3u);
    // d = 10, 20, 0, 5 gives 10, 20, 30, 45; the fifth place is rebuilt from
    // what it held (0): 60.
    const Bytes d = {10, 0, 20, 0, 0, 0, 5, 0};
    Samples dest(5, 0);
    EXPECT_EQ(impl.decode(kPlain, dest.data(), 5, d.data(), 0, 8, true), 4u);
    EXPECT_EQ(dest, (Samples{10, 20, 30, 45, 60}));
    const Samples walk = ecgsynth::RandomWalk(300, 2000, 5);
    for (const RhythmEncoder enc : {RhythmEncoder{0, 1, 0}, RhythmEncoder{0, 0, 0}}) {
      const Bytes lead = Encode(impl, walk, enc);
      ASSERT_EQ(lead.size(), 2 * walk.size());
      EXPECT_EQ(Decode(impl, lead, 300, enc.secondDifference != 0, kPlain, &delivered), walk);
      EXPECT_EQ(delivered, 300u);
    }
  }
}

// ------------------------------------------------------------ damaged leads

TEST(SampleCodec, ShortAndCutLeads) {
  for (const Impl& impl : kImpls) {
    SCOPED_TRACE(impl.name);
    // Past the end of the lead come zero differences.
    const Bytes lead = Encode(impl, {10, 20});
    EXPECT_EQ(Decode(impl, lead, 6, true), (Samples{10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(Decode(impl, lead, 4, false), (Samples{10, 20, 0, 0}));
    EXPECT_EQ(Decode(impl, Bytes{}, 3, true), (Samples{0, 0, 0}));
    // A code cut short is completed with zero bits: +3 without its sign, an
    // 8-bit escape without value, a 16-bit escape with one bit, +8 cut.
    EXPECT_EQ(Decode(impl, FromBits("1110"), 1, false), (Samples{3}));
    EXPECT_EQ(Decode(impl, FromBits("111111111"), 2, false), (Samples{0, 0}));
    EXPECT_EQ(Decode(impl, FromBits("1111111111 1"), 1, false), (Samples{-32768}));
    EXPECT_EQ(Decode(impl, Bytes{0xFF}, 1, false), (Samples{8}));
    // Between different neighbours and asked for more than it holds, the
    // lead decodes alike: no neighbour shows through.
    const Samples x = ecgsynth::SynthesizeEcg(ecgsynth::RestingEcg(3), 400);
    const Bytes coded = Encode(impl, x);
    std::vector<Samples> results;
    for (uint8_t fill : {0x00, 0xFF, 0x5A}) {
      Bytes framed(37, fill);
      framed.insert(framed.end(), coded.begin(), coded.end());
      framed.insert(framed.end(), 41, fill);
      Samples dest(450);
      EXPECT_EQ(impl.decode(kHuffman, dest.data(), 450, framed.data(), 37, static_cast<uint32_t>(coded.size()), true), 450u);
      results.push_back(dest);
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
    EXPECT_EQ(Samples(results[0].begin(), results[0].begin() + 400), x);
  }
}

// Every 16-bit value alone: its code length follows from the table, and it
// decodes back; both implementations give the same bytes.
TEST(SampleCodec, EverySingleValue) {
  for (int v = -32768; v <= 32767; ++v) {
    const Samples x = {static_cast<int16_t>(v)};
    const int bits = v == 0 ? 1 : (v >= -8 && v <= 8) ? std::abs(v) + 2 : (v >= -128 && v <= 127) ? 18 : 26;
    const Bytes lead = Encode(kPortable, x);
    ASSERT_EQ(lead.size(), static_cast<size_t>(bits / 8 + 1)) << v;
    ASSERT_EQ(Encode(kFast, x), lead) << v;
    ASSERT_EQ(Encode(kPortable, x, kNoDiff), Encode(kFast, x, kNoDiff)) << v;
    ASSERT_EQ(Decode(kPortable, lead, 1), x) << v;
    ASSERT_EQ(Decode(kFast, lead, 1), x) << v;
  }
}

// ------------------------------------------- fast against portable, generated

// Generated signals of every character: resting and Holter ECGs, fine
// resolution, walks, noise, flat, the extremes, zero runs with bursts, and
// each value at every bit alignment.
std::vector<Samples> Signals() {
  std::vector<Samples> s;
  for (uint64_t seed : {11, 12}) {
    auto shape = ecgsynth::RestingEcg(seed);
    shape.gain = seed == 12 ? -1.7 : shape.gain;
    s.push_back(ecgsynth::SynthesizeEcg(shape, 5000));
  }
  s.push_back(ecgsynth::SynthesizeEcg(ecgsynth::HolterEcg(13), 40000));
  auto fine = ecgsynth::RestingEcg(14);
  fine.rateHz = 1000;
  fine.microvoltsPerUnit = 1;
  s.push_back(ecgsynth::SynthesizeEcg(fine, 8000));
  s.push_back(ecgsynth::RandomWalk(3000, 3, 15));
  s.push_back(ecgsynth::RandomWalk(3000, 300, 16));
  s.push_back(ecgsynth::WhiteNoise(3000, 17));
  s.push_back(Samples(1000, -7));
  Samples extremes(999);
  for (size_t i = 0; i < extremes.size(); ++i) extremes[i] = static_cast<int16_t>(i % 3 == 1 ? -32768 : 32767);
  s.push_back(extremes);
  ecgsynth::Random r(18);
  Samples bursts(4000);
  int16_t v = 0;
  for (auto& b : bursts) b = v = r.Between(0, 99) < 3 ? static_cast<int16_t>(r.Between(-32768, 32767)) : v;
  s.push_back(bursts);
  for (int shift = 0; shift < 8; ++shift) {
    Samples x(static_cast<size_t>(shift), 0);
    for (int d = -200; d <= 200; ++d) {
      const int16_t prev = x.empty() ? 0 : x.back();
      const int16_t prev2 = x.size() < 2 ? 0 : x[x.size() - 2];
      x.push_back(x.size() < 2 ? static_cast<int16_t>(d) : static_cast<int16_t>(2 * prev - prev2 + d));
      x.push_back(static_cast<int16_t>(2 * x.back() - prev));  // a zero difference between
    }
    s.push_back(x);
  }
  Samples every(2, 0);  // second differences through every 16-bit value
  for (int d = -32768; d <= 32767; ++d) every.push_back(static_cast<int16_t>(2 * every.back() - every.end()[-2] + d));
  s.push_back(every);
  for (uint32_t n = 0; n <= 64; ++n)
    for (int step : {1, 40, 3000}) s.push_back(ecgsynth::RandomWalk(n, step, 100 + n));
  return s;
}

TEST(SampleCodecDifferential, GeneratedSignals) {
  const std::vector<Samples> signals = Signals();
  for (size_t k = 0; k < signals.size(); ++k) {
    SCOPED_TRACE("signal " + std::to_string(k));
    const Samples& x = signals[k];
    const auto n = static_cast<uint32_t>(x.size());
    for (const RhythmEncoder& enc : {kSecondDiff, kNoDiff}) {
      const bool sd = enc.secondDifference != 0;
      const Bytes coded = Encode(kPortable, x, enc);
      ASSERT_FALSE(coded.empty());
      for (const Impl& fast : {kFast, kBaseline}) ASSERT_EQ(Encode(fast, x, enc), coded) << fast.name << " " << sd;
      ASSERT_EQ(Decode(kPortable, coded, n, sd), x);
      ASSERT_EQ(Decode(kFast, coded, n, sd), x);
      ASSERT_EQ(Decode(kPortable, coded, n + 37, sd), Decode(kFast, coded, n + 37, sd));
    }
    // The first 120 samples cut at every byte decode alike.
    const Samples head(x.begin(), x.begin() + std::min<size_t>(n, 120));
    const Bytes lead = Encode(kPortable, head);
    for (size_t cut = 0; cut <= lead.size(); ++cut)
      for (bool sd : {true, false})
        ASSERT_EQ(Decode(kPortable, Bytes(lead.begin(), lead.begin() + cut), 120, sd),
                  Decode(kFast, Bytes(lead.begin(), lead.begin() + cut), 120, sd))
            << "cut at " << cut;
    if (k >= 10) continue;  // the room sweep on the first signals only: it is slow
    // Every room from 2S to past the coded size: the same outcome and the
    // same buffer, failures included, and nothing written past the room.
    const Samples part(x.begin(), x.begin() + std::min<size_t>(n, 400));
    const auto m = static_cast<uint32_t>(part.size());
    const auto coded = static_cast<uint32_t>(Encode(kPortable, part).size());
    for (uint32_t room = 2 * m; room <= std::max(2 * m, coded) + 9; ++room) {
      Bytes a(room + 16, 0xC3);
      const uint32_t ra = kPortable.encode(kSecondDiff, a.data(), 3, room, part.data(), m);
      for (const Impl& fast : {kFast, kBaseline}) {
        Bytes b(room + 16, 0xC3);
        ASSERT_EQ(ra, fast.encode(kSecondDiff, b.data(), 3, room, part.data(), m)) << fast.name << " room " << room;
        ASSERT_EQ(a, b) << fast.name << " room " << room;
      }
      ASSERT_EQ(ra, room >= coded ? coded : 0u) << "room " << room;
      for (size_t i = 3 + room; i < a.size(); ++i) ASSERT_EQ(a[i], 0xC3) << "room " << room;
    }
  }
}

TEST(SampleCodecDifferential, RandomBytesDecodeAlike) {
  ecgsynth::Random r(99);
  for (int round = 0; round < 3000; ++round) {
    // Mostly ones, mostly zeros or uniform, so that escapes, long prefixes
    // and short codes all turn up.
    Bytes lead(static_cast<size_t>(r.Between(0, 120)));
    const int bias = static_cast<int>(r.Between(0, 2));
    for (auto& b : lead) {
      const auto u = static_cast<uint8_t>(r.Next()), w = static_cast<uint8_t>(r.Next());
      b = bias == 0 ? u : bias == 1 ? static_cast<uint8_t>(u | w) : static_cast<uint8_t>(u & w);
    }
    const auto count = static_cast<uint32_t>(r.Between(0, 400));
    const HuffmanMode mode = r.Between(0, 4) == 0 ? kPlain : kHuffman;
    const bool sd = r.Between(0, 1) == 1;
    uint32_t dp = 0, df = 0;
    ASSERT_EQ(Decode(kPortable, lead, count, sd, mode, &dp), Decode(kFast, lead, count, sd, mode, &df)) << round;
    ASSERT_EQ(dp, df) << round;
    if (mode.huffman) {
      ASSERT_EQ(dp, count) << round;
    }
  }
}

// Leads decoded together give what one-at-a-time decoding gives: several
// kinds side by side, some cut short, some sharing a destination (the later
// one wins), some without one.
TEST(SampleCodecDifferential, LeadsDecodedTogetherAsOneAtATime) {
  const std::vector<Samples> signals = Signals();
  ecgsynth::Random r(41);
  for (int round = 0; round < 60; ++round) {
    const auto count = static_cast<uint32_t>(r.Between(0, 700));
    const auto leads = static_cast<uint32_t>(r.Between(1, 7));
    const bool sd = r.Between(0, 3) != 0;
    const HuffmanMode mode = r.Between(0, 5) == 0 ? kPlain : kHuffman;
    Bytes section(5, 0xEE);  // leads start past a few header bytes
    std::vector<LeadSpan> spans;
    for (uint32_t k = 0; k < leads; ++k) {
      const Samples& x = signals[static_cast<size_t>(r.Between(0, 9))];
      Bytes lead = Encode(kPortable, Samples(x.begin(), x.begin() + std::min<size_t>(x.size(), count)),
                          sd ? kSecondDiff : kNoDiff);
      if (r.Between(0, 3) == 0) lead.resize(static_cast<size_t>(r.Between(0, static_cast<int64_t>(lead.size()))));
      spans.push_back(LeadSpan{nullptr, static_cast<uint32_t>(section.size()), static_cast<uint32_t>(lead.size()), 7});
      section.insert(section.end(), lead.begin(), lead.end());
    }
    std::vector<Samples> dests(2, Samples(leads * (count + 8), 0x5A5A));
    for (uint32_t k = 0; k < leads; ++k) {
      const auto slot = static_cast<uint32_t>(r.Between(0, 9) == 0 ? r.Between(0, leads - 1) : k);
      spans[k].dest = r.Between(0, 11) == 0 ? nullptr : dests[0].data() + slot * (count + 8);
    }
    std::vector<LeadSpan> together = spans;
    for (LeadSpan& l : together)
      if (l.dest) l.dest = dests[1].data() + (l.dest - dests[0].data());
    for (LeadSpan& l : spans)
      l.delivered = l.dest ? kPortable.decode(mode, l.dest, count, section.data(), l.offset, l.byteCount, sd) : 0;
    scpcodec::fast::decodeLeads(HuffmanMode{mode.huffman, 1}, together.data(), leads, count, section.data(), sd);
    ASSERT_EQ(dests[0], dests[1]) << "round " << round;
    for (uint32_t k = 0; k < leads; ++k) ASSERT_EQ(spans[k].delivered, together[k].delivered) << "round " << round;
  }
}

// The free functions follow the fast-path flag, which the factories set
// from the processor; the writer codes with Huffman and second differences.
TEST(SampleCodecDifferential, DispatchFollowsTheFastPathFlag) {
  const Samples x = ecgsynth::SynthesizeEcg(ecgsynth::RestingEcg(4), 700);
  const Bytes expected = Encode(kPortable, x);
  for (uint8_t fastPath : {0, 1}) {
    Bytes out(1400);
    out.resize(encodeLead(RhythmEncoder{1, 1, fastPath}, out.data(), 0, 1400, x.data(), 700));
    EXPECT_EQ(out, expected);
    Samples dest(700);
    EXPECT_EQ(decodeLead(HuffmanMode{1, fastPath}, dest.data(), 700, out.data(), 0, static_cast<uint32_t>(out.size()), true),
              700u);
    EXPECT_EQ(dest, x);
  }
  const RhythmEncoder enc = MakeRhythmEncoder();
  EXPECT_EQ(enc.huffman, 1);
  EXPECT_EQ(enc.secondDifference, 1);
  EXPECT_EQ(enc.fastPath, plat::HasMmx() ? 1 : 0);
  EXPECT_EQ(MakeHuffmanMode(true).huffman, 1);
  EXPECT_EQ(MakeHuffmanMode(false).huffman, 0);
  EXPECT_EQ(MakeHuffmanMode(false).fastPath, enc.fastPath);
}

}  // namespace
