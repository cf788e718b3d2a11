#include "lib/dbclient/rhythmmeas.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "lib/bytes.h"

namespace {

// A record whose first word is its length, second word the version and the
// rest a recognisable pattern.
std::vector<uint8_t> Record(uint32_t length, uint32_t version) {
  std::vector<uint8_t> out(length);
  for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(i * 7 + 3);
  StoreU32(out.data(), length);
  StoreU32(out.data() + 4, version);
  return out;
}

TEST(RhythmMeasurement, NewBlockIsClearedAndDataIsTheBlockWithItsSizeWord) {
  RhythmMeasurement m;
  EXPECT_EQ(m.GetSize(), 672u);
  EXPECT_EQ(m.GetVersion(), 4u);
  const uint8_t* b = m.Bytes();
  EXPECT_EQ(LoadU32(b), 672u);  // little-endian in memory, as in the file
  EXPECT_EQ(LoadU32(b + 4), 4u);
  for (uint32_t i = 8; i < 672; ++i) ASSERT_EQ(b[i], 0) << i;
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

// The current form replaces the whole block; the older forms (644 and 652
// bytes) are laid over a cleared full-size block with their own version.
TEST(RhythmMeasurement, ReadsTheCurrentAndTheOlderForms) {
  for (uint32_t length : {672u, 644u, 652u}) {
    RhythmMeasurement m;
    std::memset(m.Bytes(), 0xEE, 672);  // old content must not survive
    const auto record = Record(length, 3);
    ASSERT_TRUE(m.Read(record, length)) << length;
    EXPECT_EQ(m.GetSize(), 672u);
    EXPECT_EQ(m.GetVersion(), 3u);
    EXPECT_EQ(0, std::memcmp(m.Bytes() + 8, record.data() + 8, length - 8)) << length;
    for (uint32_t i = length; i < 672; ++i) ASSERT_EQ(m.Bytes()[i], 0) << i;
  }
}

TEST(RhythmMeasurement, OtherLengthsAndShortRecordsReadNothing) {
  const auto record = Record(700, 1);
  for (uint32_t length : {0u, 8u, 643u, 648u, 653u, 671u, 673u, 700u}) {
    RhythmMeasurement m;
    m.Bytes()[100] = 0x5A;
    EXPECT_FALSE(m.Read(record, length)) << length;
    EXPECT_EQ(m.Bytes()[100], 0x5A);
    EXPECT_EQ(m.GetSize(), 672u);
    EXPECT_EQ(m.GetVersion(), 4u);
  }
  RhythmMeasurement m;
  const auto full = Record(672, 7);
  EXPECT_FALSE(m.Read(std::vector<uint8_t>(full.begin(), full.begin() + 660), 672));
  EXPECT_EQ(m.GetVersion(), 4u);
  EXPECT_FALSE(m.Read(std::vector<uint8_t>(full.begin(), full.begin() + 651), 652));
}

TEST(RhythmMeasurement, OlderRecordFollowedByFourBytesThenACurrentOne) {
  // The layout a section reader walks: 652 bytes, four pad bytes, 672 bytes.
  auto data = Record(652, 2);
  auto second = Record(672, 4);
  second[300] = 0x42;
  data.insert(data.end(), 4, 0);
  data.insert(data.end(), second.begin(), second.end());
  RhythmMeasurement a, b;
  std::span<const uint8_t> all(data);
  ASSERT_TRUE(a.Read(all, LoadU32(all.data())));
  ASSERT_TRUE(b.Read(all.subspan(656), LoadU32(all.data() + 656)));
  EXPECT_EQ(a.GetVersion(), 2u);
  EXPECT_EQ(b.Bytes()[300], 0x42);
}

}  // namespace
