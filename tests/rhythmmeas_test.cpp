#include "lib/dbclient/rhythmmeas.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "lib/bytes.h"

namespace {

// A record of the given length whose first word is that length, second word
// the version and the rest a recognisable pattern.
std::vector<uint8_t> Record(uint32_t length, uint32_t version) {
  std::vector<uint8_t> out(length);
  for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(i * 7 + 3);
  StoreU32(out.data(), length);
  StoreU32(out.data() + 4, version);
  return out;
}

TEST(RhythmMeasurementBlock, NewBlockIsCleared) {
  RhythmMeasurement m;
  EXPECT_EQ(m.GetSize(), 672u);
  EXPECT_EQ(m.GetVersion(), 4u);
  const uint8_t* b = m.Bytes();
  EXPECT_EQ(LoadU32(b), 672u);  // little-endian in memory, as in the file
  EXPECT_EQ(LoadU32(b + 4), 4u);
  for (uint32_t i = 8; i < 672; ++i) ASSERT_EQ(b[i], 0) << i;
}

TEST(RhythmMeasurementBlock, DataIsTheBlockItselfWithItsSizeWord) {
  RhythmMeasurement m;
  uint32_t length = 0;
  EXPECT_EQ(m.Data(&length), m.Bytes());
  EXPECT_EQ(length, 672u);
  m.SetSize(600);
  EXPECT_EQ(m.Data(&length), m.Bytes());
  EXPECT_EQ(length, 600u);
  // A size the block cannot back is refused, so no writer copies past it.
  m.SetSize(673);
  length = 5;
  EXPECT_EQ(m.Data(&length), nullptr);
  EXPECT_EQ(length, 0u);
}

TEST(RhythmMeasurementRead, CurrentFormReplacesTheWholeBlock) {
  RhythmMeasurement m;
  auto record = Record(672, 9);
  ASSERT_TRUE(m.Read(record, 672));
  EXPECT_EQ(0, std::memcmp(m.Bytes(), record.data(), 672));
  EXPECT_EQ(m.GetVersion(), 9u);
}

class OlderForms : public ::testing::TestWithParam<uint32_t> {};
TEST_P(OlderForms, AreLaidOverAClearedFullSizeBlock) {
  const uint32_t length = GetParam();
  RhythmMeasurement m;
  std::memset(m.Bytes(), 0xEE, 672);  // old content must not survive
  auto record = Record(length, 3);
  ASSERT_TRUE(m.Read(record, length));
  EXPECT_EQ(m.GetSize(), 672u);
  EXPECT_EQ(m.GetVersion(), 3u);  // the record's own second word
  EXPECT_EQ(0, std::memcmp(m.Bytes() + 8, record.data() + 8, length - 8));
  for (uint32_t i = length; i < 672; ++i) ASSERT_EQ(m.Bytes()[i], 0) << i;
}
INSTANTIATE_TEST_SUITE_P(Lengths, OlderForms, ::testing::Values(644u, 652u));

class RefusedLengths : public ::testing::TestWithParam<uint32_t> {};
TEST_P(RefusedLengths, ReadNothing) {
  RhythmMeasurement m;
  m.Bytes()[100] = 0x5A;
  auto record = Record(700, 1);
  EXPECT_FALSE(m.Read(record, GetParam()));
  EXPECT_EQ(m.Bytes()[100], 0x5A);
  EXPECT_EQ(m.GetSize(), 672u);
  EXPECT_EQ(m.GetVersion(), 4u);
}
INSTANTIATE_TEST_SUITE_P(Lengths, RefusedLengths,
                         ::testing::Values(0u, 8u, 643u, 648u, 653u, 671u, 673u, 700u));

TEST(RhythmMeasurementRead, RecordShorterThanItsLengthIsRefused) {
  RhythmMeasurement m;
  auto record = Record(672, 7);
  std::vector<uint8_t> cut(record.begin(), record.begin() + 660);
  EXPECT_FALSE(m.Read(cut, 672));
  EXPECT_EQ(m.GetVersion(), 4u);
  std::vector<uint8_t> cutOld(record.begin(), record.begin() + 651);
  EXPECT_FALSE(m.Read(cutOld, 652));
}

TEST(RhythmMeasurementRead, OlderRecordFollowedByFourBytesThenACurrentOne) {
  // The layout a section reader walks: 652 bytes, four pad bytes, 672 bytes.
  auto first = Record(652, 2);
  auto second = Record(672, 4);
  second[300] = 0x42;
  std::vector<uint8_t> data = first;
  data.insert(data.end(), 4, 0);
  data.insert(data.end(), second.begin(), second.end());
  RhythmMeasurement a, b;
  std::span<const uint8_t> all(data);
  ASSERT_TRUE(a.Read(all, LoadU32(all.data())));
  const size_t next = 652 + 4;
  ASSERT_TRUE(b.Read(all.subspan(next), LoadU32(all.data() + next)));
  EXPECT_EQ(a.GetVersion(), 2u);
  EXPECT_EQ(b.Bytes()[300], 0x42);
}

}  // namespace
