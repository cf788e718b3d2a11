#include "lib/dbclient/complex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "lib/bytes.h"

namespace {

// A complex with leads in the given slots, s samples each.
std::unique_ptr<ComplexData> MakeComplex(std::initializer_list<uint32_t> slots, uint32_t n, uint32_t s) {
  auto c = std::make_unique<ComplexData>();
  for (uint32_t k : slots) c->SetLead(k, new ComplexLead(k + 1, s));
  c->leadCount = n;
  c->sampleCount = s;
  c->recordLength = c->RequiredLength();
  return c;
}

std::vector<uint8_t> ToVector(const std::unique_ptr<uint8_t[]>& p, uint32_t length) {
  return std::vector<uint8_t>(p.get(), p.get() + length);
}

void FillRandom(ComplexData& c, std::mt19937& rng) {
  std::uniform_int_distribution<uint32_t> word;
  c.value1 = static_cast<int16_t>(word(rng));
  c.codeA = word(rng) % 6;
  c.codeB = word(rng) % 4;
  c.value5 = word(rng);
  for (uint32_t& v : c.values7to15) v = word(rng);
  for (ComplexLead* lead : c.leads) {
    if (lead == nullptr) continue;
    lead->leadCode = word(rng) % 22;
    for (uint32_t i = 0; i < c.sampleCount; ++i) lead->samples[i] = static_cast<int16_t>(word(rng));
  }
  c.measurements.m1 = word(rng);
  c.measurements.flag = word(rng) % 3;
  for (uint16_t& v : c.measurements.m2to9) v = static_cast<uint16_t>(word(rng));
  c.measurements.m10 = word(rng);
  for (uint16_t& v : c.measurements.m11to17) v = static_cast<uint16_t>(word(rng));
  for (auto& g : c.measurements.groups)
    for (uint16_t& v : g) v = static_cast<uint16_t>(word(rng));
  c.textBlock.t1 = word(rng);
  c.textBlock.t2 = word(rng);
  c.textBlock.t3 = word(rng);
  c.textBlock.t4 = word(rng);
  const size_t textLen = word(rng) % 1025;
  std::memset(c.textBlock.text, 0, sizeof c.textBlock.text);
  for (size_t i = 0; i < textLen; ++i) c.textBlock.text[i] = static_cast<char>('a' + word(rng) % 26);
  std::memset(c.textBlock.code, 0, sizeof c.textBlock.code);
  for (size_t i = 0, n = word(rng) % 5; i < n; ++i) c.textBlock.code[i] = static_cast<char>('A' + i);
}

void ExpectSameContent(const ComplexData& a, const ComplexData& b) {
  EXPECT_EQ(a.recordLength, b.recordLength);
  EXPECT_EQ(a.value1, b.value1);
  EXPECT_EQ(a.leadCount, b.leadCount);
  EXPECT_EQ(a.sampleCount, b.sampleCount);
  EXPECT_EQ(ComplexData::MapCodeA(a.codeA), b.codeA);
  EXPECT_EQ(ComplexData::MapCodeB(a.codeB), b.codeB);
  EXPECT_EQ(a.value5, b.value5);
  EXPECT_EQ(0, std::memcmp(a.values7to15, b.values7to15, sizeof a.values7to15));
  for (uint32_t k = 0; k < ComplexData::kMaxLeads; ++k) {
    ASSERT_EQ(a.leads[k] == nullptr, b.leads[k] == nullptr) << k;
    if (a.leads[k] == nullptr) continue;
    EXPECT_EQ(ComplexLead::MapLeadCode(a.leads[k]->leadCode), b.leads[k]->leadCode) << k;
    if (k < a.leadCount) {
      EXPECT_EQ(0, std::memcmp(a.leads[k]->samples, b.leads[k]->samples, 2 * a.sampleCount)) << k;
    }
  }
  EXPECT_EQ(a.measurements.flag != 0 ? 1u : 0u, b.measurements.flag);
  EXPECT_EQ(a.measurements.m1, b.measurements.m1);
  EXPECT_EQ(a.measurements.m10, b.measurements.m10);
  EXPECT_EQ(0, std::memcmp(a.measurements.m2to9, b.measurements.m2to9, sizeof a.measurements.m2to9));
  EXPECT_EQ(0, std::memcmp(a.measurements.m11to17, b.measurements.m11to17, sizeof a.measurements.m11to17));
  EXPECT_EQ(0, std::memcmp(a.measurements.groups, b.measurements.groups, sizeof a.measurements.groups));
  EXPECT_EQ(0, std::memcmp(&a.textBlock, &b.textBlock, sizeof a.textBlock));
}

// ---------------------------------------------------------------- sizes

struct SizeCase {
  std::vector<uint32_t> slots;
  uint32_t n;
  uint32_t s;
  uint32_t expected;
};

class ComplexSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ComplexSizeTest, NeedsExactlyTheComputedLength) {
  const SizeCase& c = GetParam();
  ComplexData complex;
  for (uint32_t k : c.slots) complex.SetLead(k, new ComplexLead(3, c.s));
  complex.leadCount = c.n;
  complex.sampleCount = c.s;
  EXPECT_EQ(c.expected, complex.RequiredLength());

  uint32_t length = 1;
  complex.recordLength = c.expected;
  auto record = complex.Serialize(&length);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(c.expected, length);
  EXPECT_EQ(c.expected, LoadU32(record.get()));

  complex.recordLength = c.expected - 1;
  EXPECT_EQ(nullptr, complex.Serialize(&length));
  EXPECT_EQ(0u, length);

  // A longer record is zero-filled behind the samples.
  complex.recordLength = c.expected + 10;
  record = complex.Serialize(&length);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(c.expected + 10, length);
  for (uint32_t i = c.expected; i < length; ++i) EXPECT_EQ(0, record[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ComplexSizeTest,
    ::testing::Values(SizeCase{{}, 0, 0, 2984}, SizeCase{{0, 1}, 2, 600, 5400},
                      SizeCase{{0, 1}, 1, 600, 2984 + 16 + 1200}, SizeCase{{5, 9}, 0, 40, 2984 + 16},
                      SizeCase{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 12, 500, 2984 + 96 + 12000},
                      SizeCase{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                22, 23},
                               24, 3, 2984 + 192 + 144}));

TEST(ComplexSerialize, NothingForZeroLength) {
  ComplexData complex;
  uint32_t length = 5;
  EXPECT_EQ(nullptr, complex.Serialize(&length));
  EXPECT_EQ(0u, length);
}

TEST(ComplexSerialize, RefusesLeadCountAbove24OrEmptySlotBelowN) {
  auto all = MakeComplex({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23},
                         24, 2);
  uint32_t length = 0;
  EXPECT_NE(nullptr, all->Serialize(&length));
  all->leadCount = 25;
  all->recordLength = 100000;
  EXPECT_EQ(nullptr, all->Serialize(&length));

  auto gap = MakeComplex({0, 2}, 2, 4);
  gap->recordLength = 100000;
  EXPECT_EQ(nullptr, gap->Serialize(&length));
  gap->leadCount = 1;
  EXPECT_NE(nullptr, gap->Serialize(&length));
}

// ---------------------------------------------------------------- bytes

TEST(ComplexSerialize, WritesTheRecordLayout) {
  auto c = MakeComplex({0, 1, 4}, 2, 3);
  c->value1 = -2;
  c->codeA = 9;  // stored as 4
  c->codeB = 7;  // stored as 2
  c->value5 = 0x55667788;
  for (uint32_t i = 0; i < 9; ++i) c->values7to15[i] = 700 + i;
  c->leads[0]->leadCode = 19;
  c->leads[1]->leadCode = 25;  // stored as 20
  c->leads[4]->leadCode = 0;
  for (uint32_t i = 0; i < 3; ++i) {
    c->leads[0]->samples[i] = static_cast<int16_t>(-1 - i);
    c->leads[1]->samples[i] = static_cast<int16_t>(100 + i);
    c->leads[4]->samples[i] = 9999;  // slot 4 is not below n: no samples
  }
  c->measurements.m1 = 0xA1;
  c->measurements.flag = 42;  // written as 1
  c->measurements.m2to9[0] = 0x0102;
  c->measurements.m10 = 0xB2;
  c->measurements.m11to17[6] = 0x0304;
  c->measurements.groups[0][0] = 0x1111;
  c->measurements.groups[14][60] = 0x2222;
  c->textBlock.t1 = 1;
  c->textBlock.t2 = 2;
  std::strcpy(c->textBlock.text, "hello");
  c->textBlock.text[7] = 'X';  // behind the NUL: not written
  std::memcpy(c->textBlock.code, "ABCD", 4);  // no NUL: written whole
  c->textBlock.t3 = 3;
  c->textBlock.t4 = 4;

  uint32_t L = 0;
  auto r = c->Serialize(&L);
  ASSERT_NE(nullptr, r);
  ASSERT_EQ(2984u + 24 + 12, L);
  const uint8_t* p = r.get();
  EXPECT_EQ(L, LoadU32(p));
  EXPECT_EQ(0, LoadU16(p + 4));
  EXPECT_EQ(0xFFFE, LoadU16(p + 6));
  EXPECT_EQ(2u, LoadU32(p + 8));
  EXPECT_EQ(3u, LoadU32(p + 12));
  EXPECT_EQ(4u, LoadU32(p + 16));
  EXPECT_EQ(0x55667788u, LoadU32(p + 20));
  EXPECT_EQ(2u, LoadU32(p + 24));
  for (uint32_t i = 0; i < 9; ++i) EXPECT_EQ(700 + i, LoadU32(p + 28 + 4 * i));
  // Lead entries: code and k * s, for slots 0, 1, 4.
  EXPECT_EQ(19u, LoadU32(p + 64));
  EXPECT_EQ(0u, LoadU32(p + 68));
  EXPECT_EQ(20u, LoadU32(p + 72));
  EXPECT_EQ(3u, LoadU32(p + 76));
  EXPECT_EQ(0u, LoadU32(p + 80));
  EXPECT_EQ(12u, LoadU32(p + 84));
  EXPECT_EQ(0u, LoadU32(p + 88));  // the zero word
  const uint8_t* m = p + 92;
  EXPECT_EQ(0xA1u, LoadU32(m));
  EXPECT_EQ(1u, LoadU32(m + 4));
  EXPECT_EQ(0x0102, LoadU16(m + 8));
  EXPECT_EQ(0xB2u, LoadU32(m + 24));
  EXPECT_EQ(0x0304, LoadU16(m + 40));
  EXPECT_EQ(0x1111, LoadU16(m + 42));
  EXPECT_EQ(0x2222, LoadU16(m + 1870));
  const uint8_t* t = m + 1872;
  EXPECT_EQ(1u, LoadU32(t));
  EXPECT_EQ(2u, LoadU32(t + 4));
  EXPECT_EQ(0, std::memcmp(t + 8, "hello", 6));
  for (int i = 6; i < 1024; ++i) ASSERT_EQ(0, t[8 + i]) << i;
  EXPECT_EQ(0, std::memcmp(t + 1032, "ABCD", 4));
  EXPECT_EQ(3u, LoadU32(t + 1036));
  EXPECT_EQ(4u, LoadU32(t + 1040));
  const uint8_t* s = t + 1044;
  ASSERT_EQ(s + 12, p + L);
  const int16_t expected[6] = {-1, -2, -3, 100, 101, 102};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(expected[i], LoadI16(s + 2 * i)) << i;
}

TEST(ComplexRead, MapsCodesAndSignExtendsValue1) {
  auto c = MakeComplex({0}, 1, 1);
  uint32_t L = 0;
  auto r = c->Serialize(&L);
  ASSERT_NE(nullptr, r);
  StoreU16(r.get() + 4, 0xBEEF);  // not used
  StoreU16(r.get() + 6, 0x8001);
  StoreU32(r.get() + 16, 77);
  StoreU32(r.get() + 24, 3);
  StoreU32(r.get() + 64, 1000);
  StoreU32(r.get() + 64 + 8 + 4 + 4, 5);  // measurement flag (entry, zero word, M1)
  auto target = MakeComplex({0}, 1, 1);
  EXPECT_TRUE(target->Read({r.get(), L}));
  EXPECT_EQ(-32767, target->value1);
  EXPECT_EQ(4u, target->codeA);
  EXPECT_EQ(2u, target->codeB);
  EXPECT_EQ(20u, target->leads[0]->leadCode);
  EXPECT_EQ(1u, target->measurements.flag);
}

// ----------------------------------------------------------- round trips

struct RoundTripCase {
  std::vector<uint32_t> slots;
  uint32_t n;
  uint32_t s;
  uint32_t extra;
};

class ComplexRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(ComplexRoundTripTest, ReadGivesBackWhatWasWritten) {
  const RoundTripCase& rc = GetParam();
  std::mt19937 rng(rc.n * 1000 + rc.s + rc.extra);
  for (int round = 0; round < 5; ++round) {
    ComplexData source;
    ComplexData target;
    for (uint32_t k : rc.slots) {
      source.SetLead(k, new ComplexLead(0, rc.s));
      target.SetLead(k, new ComplexLead(0, rc.s));
    }
    source.leadCount = rc.n;
    source.sampleCount = rc.s;
    target.sampleCount = rc.s;
    FillRandom(source, rng);
    source.recordLength = source.RequiredLength() + rc.extra;
    uint32_t L = 0;
    auto r = source.Serialize(&L);
    ASSERT_NE(nullptr, r);
    EXPECT_TRUE(target.Read({r.get(), L}));
    // Codes come back mapped; compare against a mapped source.
    ExpectSameContent(source, target);
    uint32_t L2 = 0;
    auto r2 = target.Serialize(&L2);
    ASSERT_NE(nullptr, r2);
    EXPECT_EQ(ToVector(r, L), ToVector(r2, L2));
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ComplexRoundTripTest,
                         ::testing::Values(RoundTripCase{{}, 0, 0, 0}, RoundTripCase{{0}, 1, 1, 0},
                                           RoundTripCase{{0, 1}, 2, 600, 0}, RoundTripCase{{0, 1, 7}, 2, 50, 13},
                                           RoundTripCase{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 12, 300, 0},
                                           RoundTripCase{{3, 22}, 0, 17, 2}));

// ---------------------------------------------------------- mismatches

TEST(ComplexRead, SlotBelowNThatTheComplexLacksIsSkipped) {
  std::mt19937 rng(7);
  auto source = MakeComplex({0, 1}, 2, 8);
  FillRandom(*source, rng);
  uint32_t L = 0;
  auto r = source->Serialize(&L);
  ASSERT_NE(nullptr, r);
  // Same number of filled slots, so the lead entries line up; slot 1 missing.
  auto target = MakeComplex({0, 2}, 0, 8);
  std::vector<int16_t> before(target->leads[2]->samples, target->leads[2]->samples + 8);
  EXPECT_FALSE(target->Read({r.get(), L}));
  EXPECT_EQ(nullptr, target->leads[1]);
  EXPECT_EQ(0, std::memcmp(source->leads[0]->samples, target->leads[0]->samples, 16));
  EXPECT_EQ(ComplexLead::MapLeadCode(source->leads[1]->leadCode), target->leads[2]->leadCode);
  EXPECT_EQ(before, std::vector<int16_t>(target->leads[2]->samples, target->leads[2]->samples + 8));
  EXPECT_EQ(0, std::memcmp(&source->textBlock, &target->textBlock, sizeof source->textBlock));
  // The result cannot be written back: slot 1 is below n and empty.
  uint32_t L2 = 0;
  EXPECT_EQ(nullptr, target->Serialize(&L2));
}

// The record's s holds: lead arrays made for fewer samples (or none, the
// count left to the file) grow to it; a record without all its samples
// cuts s to the arrays.
TEST(ComplexRead, MoreSamplesThanTheLeadArraysHoldGrowThem) {
  auto source = MakeComplex({0, 1}, 2, 20);
  for (int i = 0; i < 20; ++i) {
    source->leads[0]->samples[i] = static_cast<int16_t>(i);
    source->leads[1]->samples[i] = static_cast<int16_t>(1000 + i);
  }
  uint32_t L = 0;
  auto r = source->Serialize(&L);
  ASSERT_NE(nullptr, r);
  for (uint32_t before : {10u, 0u}) {
    auto target = MakeComplex({0, 1}, 2, before);
    EXPECT_TRUE(target->Read({r.get(), L}));
    EXPECT_EQ(20u, target->sampleCount);
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(i, target->leads[0]->samples[i]);
      EXPECT_EQ(1000 + i, target->leads[1]->samples[i]);
    }
  }
  auto target = MakeComplex({0, 1}, 2, 10);
  EXPECT_FALSE(target->Read({r.get(), L - 2}));
  EXPECT_EQ(10u, target->sampleCount);
  target->recordLength = target->RequiredLength();
  uint32_t L2 = 0;
  EXPECT_NE(nullptr, target->Serialize(&L2));
}

TEST(ComplexRead, FewerSamplesShrinkTheCount) {
  auto source = MakeComplex({0}, 1, 4);
  for (int i = 0; i < 4; ++i) source->leads[0]->samples[i] = static_cast<int16_t>(-i);
  uint32_t L = 0;
  auto r = source->Serialize(&L);
  auto target = MakeComplex({0}, 1, 10);
  EXPECT_TRUE(target->Read({r.get(), L}));
  EXPECT_EQ(4u, target->sampleCount);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(-i, target->leads[0]->samples[i]);
}

TEST(ComplexRead, LeadCountAbove24IsCut) {
  auto source = MakeComplex({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23},
                            24, 2);
  source->recordLength += 100;  // room that a 25th lead would take
  uint32_t L = 0;
  auto r = source->Serialize(&L);
  ASSERT_NE(nullptr, r);
  StoreU32(r.get() + 8, 0xFFFFFFFF);
  auto target = MakeComplex({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23},
                            0, 2);
  EXPECT_FALSE(target->Read({r.get(), L}));
  EXPECT_EQ(24u, target->leadCount);
}

TEST(ComplexRead, LengthWordBeyondTheSectionIsBoundedBySection) {
  auto source = MakeComplex({0}, 1, 100);
  for (int i = 0; i < 100; ++i) source->leads[0]->samples[i] = static_cast<int16_t>(i + 1);
  uint32_t L = 0;
  auto r = source->Serialize(&L);
  StoreU32(r.get(), 0xFFFFFFF0);
  std::vector<uint8_t> cut(r.get(), r.get() + L - 2);  // last sample missing
  auto target = MakeComplex({0}, 1, 100);
  EXPECT_FALSE(target->Read(cut));
  // The lead's samples are taken whole or not at all.
  for (int i = 0; i < 100; ++i) EXPECT_EQ(0, target->leads[0]->samples[i]);
  EXPECT_EQ(0, std::memcmp(&source->textBlock, &target->textBlock, sizeof source->textBlock));
}

TEST(ComplexRead, ShortLengthWordEndsTheRecordEarly) {
  auto source = MakeComplex({0}, 1, 100);
  for (int i = 0; i < 100; ++i) source->leads[0]->samples[i] = static_cast<int16_t>(i + 1);
  uint32_t L = 0;
  auto r = source->Serialize(&L);
  StoreU32(r.get(), L - 1);  // the section still holds the bytes
  auto target = MakeComplex({0}, 1, 100);
  EXPECT_FALSE(target->Read({r.get(), L}));
  EXPECT_EQ(0, target->leads[0]->samples[99]);
}

// ------------------------------------------------- truncation and damage

TEST(ComplexRead, EveryTruncationStopsInsideTheRecord) {
  std::mt19937 rng(11);
  auto source = MakeComplex({0, 1, 5}, 2, 60);
  FillRandom(*source, rng);
  uint32_t L = 0;
  auto r = source->Serialize(&L);
  ASSERT_NE(nullptr, r);
  for (uint32_t cut = 0; cut <= L; ++cut) {
    // An exact-size heap copy lets the address sanitizer see any overrun.
    std::unique_ptr<uint8_t[]> part(new uint8_t[cut > 0 ? cut : 1]);
    std::memcpy(part.get(), r.get(), cut);
    auto target = MakeComplex({0, 1, 5}, 0, 60);
    const bool complete = target->Read({part.get(), cut});
    EXPECT_EQ(cut == L, complete) << cut;
    if (cut >= 64) {
      EXPECT_EQ(source->value5, target->value5) << cut;
    }
    if (cut == L) ExpectSameContent(*source, *target);
  }
}

}  // namespace
