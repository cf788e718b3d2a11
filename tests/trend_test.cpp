#include "lib/dbclient/trend.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "lib/bytes.h"

namespace {

std::unique_ptr<uint8_t[]> Exact(const uint8_t* src, size_t n) {
  std::unique_ptr<uint8_t[]> out(new uint8_t[n > 0 ? n : 1]);
  if (n > 0) std::memcpy(out.get(), src, n);
  return out;
}

// A record written by hand: c samples of v values, with L given.
std::vector<uint8_t> HandRecord(uint16_t c, uint16_t v, uint32_t L) {
  std::vector<uint8_t> r(L < 8 ? 8 : L);
  StoreU32(r.data(), L);
  StoreU16(r.data() + 4, c);
  StoreU16(r.data() + 6, v);
  for (size_t i = 8; i + 4 <= r.size(); i += 4) StoreU32(r.data() + i, static_cast<uint32_t>(i));
  return r;
}

TEST(TrendRecord, TwoSamplesOfThreeValuesGiveA52ByteRecord) {
  TrendRecord trend(3);
  const int32_t s0[3] = {1, -2, 3};
  const int32_t s1[3] = {4, 5, -6};
  ASSERT_TRUE(trend.AddSample(1000, s0));
  ASSERT_TRUE(trend.AddSample(2000, s1));
  trend.SetPerValue(0, 0xA0);
  trend.SetPerValue(2, 0xA2);
  uint32_t L = 0;
  auto r = trend.Serialize(&L);
  ASSERT_NE(nullptr, r);
  ASSERT_EQ(52u, L);
  const uint8_t* p = r.get();
  EXPECT_EQ(52u, LoadU32(p));
  EXPECT_EQ(2, LoadU16(p + 4));
  EXPECT_EQ(3, LoadU16(p + 6));
  EXPECT_EQ(1000u, LoadU32(p + 8));
  EXPECT_EQ(2000u, LoadU32(p + 12));
  const int32_t values[6] = {1, -2, 3, 4, 5, -6};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(values[i], static_cast<int32_t>(LoadU32(p + 16 + 4 * i))) << i;
  EXPECT_EQ(0xA0u, LoadU32(p + 40));
  EXPECT_EQ(0u, LoadU32(p + 44));
  EXPECT_EQ(0xA2u, LoadU32(p + 48));
}

TEST(TrendRecord, EmptyTrendSerializesHeaderAndPerValueWords) {
  TrendRecord trend(2);
  uint32_t L = 0;
  auto r = trend.Serialize(&L);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(16u, L);
  EXPECT_EQ(0, LoadU16(r.get() + 4));
  EXPECT_EQ(2, LoadU16(r.get() + 6));
}

TEST(TrendRecord, BaseTimeIsTakenOffEveryAddedTime) {
  TrendRecord trend(1, 100);
  const int32_t v[1] = {7};
  trend.AddSample(100, v);
  trend.AddSample(1100, v);
  trend.AddSample(50, v);  // before the base: wraps like the 32-bit word it is
  EXPECT_EQ(0u, trend.GetTime(0));
  EXPECT_EQ(1000u, trend.GetTime(1));
  EXPECT_EQ(static_cast<uint32_t>(-50), trend.GetTime(2));
}

TEST(TrendRecord, AddSampleFillsMissingValuesWithZeroAndIgnoresExtra) {
  TrendRecord trend(3);
  const int32_t two[2] = {8, 9};
  const int32_t five[5] = {1, 2, 3, 4, 5};
  trend.AddSample(1, two);
  trend.AddSample(2, five);
  trend.AddSample(3, {});
  EXPECT_EQ(8, trend.GetValue(0, 0));
  EXPECT_EQ(9, trend.GetValue(0, 1));
  EXPECT_EQ(0, trend.GetValue(0, 2));
  EXPECT_EQ(3, trend.GetValue(1, 2));
  EXPECT_EQ(0, trend.GetValue(2, 0));
  EXPECT_EQ(3u, trend.GetSampleCount());
}

// Word 0 of the block is the host's: it limits nothing.
TEST(TrendRecord, HoldsAtMost16384SamplesWhateverItsFirstWord) {
  TrendRecord trend(2);
  reinterpret_cast<uint32_t*>(trend.dataBlock)[0] = 0;
  for (uint32_t i = 0; i < TrendRecord::kMaxSamples; ++i) {
    const int32_t v[2] = {static_cast<int32_t>(i), -static_cast<int32_t>(i)};
    ASSERT_TRUE(trend.AddSample(i * 10, v)) << i;
  }
  const int32_t v[2] = {1, 1};
  EXPECT_FALSE(trend.AddSample(5, v));
  EXPECT_EQ(16384u, trend.GetSampleCount());
  EXPECT_EQ(16383 * 10u, trend.GetTime(16383));
  EXPECT_EQ(-16383, trend.GetValue(16383, 1));
  uint32_t L = 0;
  auto r = trend.Serialize(&L);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(8u + 4 * 16384 + 4 * 16384 * 2 + 8, L);
}

TEST(TrendRecord, OutOfRangeAccessorsGiveZero) {
  TrendRecord trend(2);
  const int32_t v[2] = {5, 6};
  trend.AddSample(77, v);
  EXPECT_EQ(0, trend.GetValue(1, 0));
  EXPECT_EQ(0, trend.GetValue(0, 2));
  EXPECT_EQ(0u, trend.GetTime(1));
  EXPECT_EQ(0u, trend.GetPerValue(2));
  trend.SetPerValue(2, 99);  // ignored
  EXPECT_EQ(0u, trend.GetPerValue(2));
}

struct ScaleCase {
  int32_t value, numerator, denominator, expected;
};

class TrendScaleTest : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(TrendScaleTest, ScalesWithMulDivRounding) {
  const ScaleCase& c = GetParam();
  TrendRecord trend(1);
  const int32_t v[1] = {c.value};
  trend.AddSample(0, v);
  trend.SetScale(c.numerator, c.denominator);
  EXPECT_EQ(c.expected, trend.GetValue(0, 0));
}

INSTANTIATE_TEST_SUITE_P(
    Rounding, TrendScaleTest,
    ::testing::Values(ScaleCase{2, 1, 3, 1},          // 0.67 up
                      ScaleCase{1, 1, 3, 0},          // 0.33 down
                      ScaleCase{3, 1, 2, 2},          // half away from zero
                      ScaleCase{-3, 1, 2, -2},        // half away from zero, negative
                      ScaleCase{-2, 1, 3, -1},
                      ScaleCase{7, 5, 5, 7},          // equal: no scaling
                      ScaleCase{0x40000000, 4, 2, -1},  // does not fit: MulDiv's -1
                      ScaleCase{100000, 100000, 1000, 10000000},  // 64-bit intermediate
                      ScaleCase{5, 1, 0, -1}));         // zero denominator

TEST(TrendRecord, RoundTripsThroughARecord) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<uint32_t> w;
  for (uint32_t v : {0u, 1u, 3u, 16u}) {
    for (uint32_t c : {0u, 1u, 2u, 257u}) {
      TrendRecord source(v, w(rng) % 1000);
      std::vector<int32_t> values(v);
      for (uint32_t s = 0; s < c; ++s) {
        for (int32_t& x : values) x = static_cast<int32_t>(w(rng));
        source.AddSample(w(rng), values);
      }
      for (uint32_t j = 0; j < v; ++j) source.SetPerValue(j, w(rng));
      uint32_t L = 0;
      auto r = source.Serialize(&L);
      ASSERT_NE(nullptr, r);
      auto exact = Exact(r.get(), L);
      auto built = TrendRecord::BuildFromRecord({exact.get(), L});
      ASSERT_NE(nullptr, built);
      EXPECT_EQ(c, built->GetSampleCount());
      EXPECT_EQ(v, built->GetValueCount());
      EXPECT_EQ(1, built->scaleNumerator);
      EXPECT_EQ(1, built->scaleDenominator);
      EXPECT_EQ(0u, built->field1 | built->field2 | built->field3 | built->baseTime);
      for (uint32_t s = 0; s < c; ++s) {
        ASSERT_EQ(source.GetTime(s), built->GetTime(s));
        for (uint32_t j = 0; j < v; ++j) ASSERT_EQ(source.GetValue(s, j), built->GetValue(s, j));
      }
      for (uint32_t j = 0; j < v; ++j) EXPECT_EQ(source.GetPerValue(j), built->GetPerValue(j));
      uint32_t L2 = 0;
      auto r2 = built->Serialize(&L2);
      ASSERT_EQ(L, L2);
      EXPECT_EQ(0, std::memcmp(r.get(), r2.get(), L));
    }
  }
}

struct BuildCase {
  uint16_t c, v;
  uint32_t L;
  size_t spanBytes;
  bool built;
};

class TrendBuildTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(TrendBuildTest, BuildsOnlyWhenTheArraysFitTheRecord) {
  const BuildCase& b = GetParam();
  auto r = HandRecord(b.c, b.v, b.L);
  r.resize(b.spanBytes);
  auto exact = Exact(r.data(), r.size());
  auto built = TrendRecord::BuildFromRecord({exact.get(), r.size()});
  EXPECT_EQ(b.built, built != nullptr);
  if (built) {
    // The arrays are where the record puts them.
    for (uint32_t s = 0; s < b.c; ++s) EXPECT_EQ(8 + 4 * s, built->GetTime(s));
    if (b.c > 0 && b.v > 0) {
      EXPECT_EQ(static_cast<int32_t>(8 + 4 * b.c), built->GetValue(0, 0));
    }
    if (b.v > 0) {
      EXPECT_EQ(8 + 4u * b.c + 4u * b.c * b.v, built->GetPerValue(0));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Records, TrendBuildTest,
    ::testing::Values(BuildCase{2, 3, 52, 52, true}, BuildCase{2, 3, 51, 52, false},   // L one short
                      BuildCase{2, 3, 56, 56, true},                                   // spare bytes
                      BuildCase{2, 3, 52, 51, false},                                  // section ends first
                      BuildCase{0, 0, 8, 8, true}, BuildCase{0, 0, 7, 8, false},
                      BuildCase{0, 0, 8, 7, false}, BuildCase{0, 4, 24, 24, true},
                      BuildCase{0, 4, 23, 24, false}, BuildCase{5, 0, 28, 28, true},
                      BuildCase{5, 0, 27, 28, false},
                      BuildCase{0xFFFF, 0xFFFF, 64, 64, false},  // c * v far beyond L
                      BuildCase{1, 0xFFFF, 0x80004, 0x80004, true},  // 8 + 4 + 8 * 65535
                      BuildCase{1, 0xFFFF, 0x80003, 0x80004, false}));

TEST(TrendRecord, EveryTruncationAndDamageStaysInsideTheRecord) {
  std::mt19937 rng(8);
  std::uniform_int_distribution<uint32_t> w;
  TrendRecord source(4);
  for (int s = 0; s < 30; ++s) {
    const int32_t v[4] = {s, -s, s * s, 7};
    source.AddSample(s * 3, v);
  }
  uint32_t L = 0;
  auto r = source.Serialize(&L);
  ASSERT_NE(nullptr, r);
  for (uint32_t cut = 0; cut <= L; ++cut) {
    auto exact = Exact(r.get(), cut);
    auto built = TrendRecord::BuildFromRecord({exact.get(), cut});
    EXPECT_EQ(cut == L, built != nullptr) << cut;
  }
  int builtCount = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes(r.get(), r.get() + L);
    for (int f = 0; f < 1 + round % 4; ++f) {
      const uint32_t at = round % 2 ? w(rng) % 8 : w(rng) % L;
      bytes[at] ^= static_cast<uint8_t>(1u << (w(rng) % 8));
    }
    const size_t size = w(rng) % 4 == 0 ? w(rng) % (L + 1) : L;
    auto exact = Exact(bytes.data(), size);
    auto built = TrendRecord::BuildFromRecord({exact.get(), size});
    if (!built) continue;
    ++builtCount;
    // Walk every array the trend claims to have.
    int64_t sum = 0;
    for (uint32_t s = 0; s < built->GetSampleCount(); ++s) {
      sum += built->GetTime(s);
      for (uint32_t j = 0; j < built->GetValueCount(); ++j) sum += built->GetValue(s, j);
    }
    for (uint32_t j = 0; j < built->GetValueCount(); ++j) sum += built->GetPerValue(j);
    uint32_t L2 = 0;
    auto again = built->Serialize(&L2);
    ASSERT_NE(nullptr, again);
    EXPECT_LE(L2, size);
    (void)sum;
  }
  EXPECT_GT(builtCount, 0);
}

}  // namespace
