// Episode, pacemaker, blood pressure and spirometry records: layouts, both
// directions, and reading of cut or damaged records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "lib/dbclient/bloodpressure.h"
#include "lib/dbclient/episodes.h"
#include "lib/dbclient/pacemaker.h"
#include "lib/dbclient/spirometry.h"

namespace {

// Little-endian record builder, independent of the library's own helpers.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& u8(uint8_t x) {
    v.push_back(x);
    return *this;
  }
  Bytes& u16(uint16_t x) { return u8(x & 0xFF).u8(x >> 8); }
  Bytes& u32(uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
  Bytes& text(const std::string& s) {
    v.insert(v.end(), s.begin(), s.end());
    return *this;
  }
};

uint32_t Word(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
uint16_t Half(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

template <class T>
std::vector<uint8_t> SerializeToVector(const T& obj) {
  uint32_t len = 0;
  auto buf = obj.Serialize(&len);
  if (!buf) return {};
  return std::vector<uint8_t>(buf.get(), buf.get() + len);
}

// An exactly sized heap copy, so that the sanitizer sees any read past it.
std::unique_ptr<uint8_t[]> Exact(const std::vector<uint8_t>& v, size_t len) {
  std::unique_ptr<uint8_t[]> p(new uint8_t[len]);
  if (len > 0) std::memcpy(p.get(), v.data(), len);
  return p;
}

// ================================================================ episodes

void SetEpisode(EpisodeList& l, uint32_t i, uint32_t base, uint32_t type) {
  EpisodeEntry& e = l.entries[i];
  e.value1 = base + 1;
  e.value2 = base + 2;
  e.value3 = base + 3;
  e.value4 = base + 4;
  e.value5 = base + 5;
  e.typeCode = type;
}

TEST(EpisodeSerialize, TwoEpisodesWithoutTextAre60Bytes) {
  EpisodeList l(4, 0);
  l.count = 2;
  SetEpisode(l, 0, 100, 3);
  SetEpisode(l, 1, 200, 35);
  std::vector<uint8_t> r = SerializeToVector(l);
  ASSERT_EQ(r.size(), 60u);
  EXPECT_EQ(Word(&r[0]), 60u);
  EXPECT_EQ(Word(&r[4]), 2u);
  // Item order on file: value 1, 2, 3, 4, type, value 5, text length.
  const uint32_t want[2][6] = {{101, 102, 103, 104, 3, 105}, {201, 202, 203, 204, 35, 205}};
  for (int i = 0; i < 2; ++i) {
    const uint8_t* item = &r[8 + 26 * i];
    for (int k = 0; k < 6; ++k) EXPECT_EQ(Word(item + 4 * k), want[i][k]) << i << "/" << k;
    EXPECT_EQ(Half(item + 24), 0u);
  }
}

struct TypeCase {
  uint32_t in;
  uint32_t out;
};
void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.in << "->" << c.out; }
class EpisodeTypeCode : public ::testing::TestWithParam<TypeCase> {};

TEST_P(EpisodeTypeCode, MappedOnWriteAndOnRead) {
  EpisodeList l(1, 0);
  l.count = 1;
  SetEpisode(l, 0, 0, GetParam().in);
  std::vector<uint8_t> r = SerializeToVector(l);
  ASSERT_EQ(r.size(), 34u);
  EXPECT_EQ(Word(&r[8 + 16]), GetParam().out);

  // A record written elsewhere with the raw code reads as the mapped one.
  Bytes raw;
  raw.u32(34).u32(1).u32(1).u32(2).u32(3).u32(4).u32(GetParam().in).u32(5).u16(0);
  EpisodeList dst(1, 0);
  ASSERT_EQ(dst.Read(raw.v), 1);
  EXPECT_EQ(dst.entries[0].typeCode, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Codes, EpisodeTypeCode,
                         ::testing::Values(TypeCase{0, 0}, TypeCase{35, 35}, TypeCase{36, 36}, TypeCase{40, 36},
                                           TypeCase{0xFFFFFFFFu, 36}));

TEST(EpisodeSerialize, TextStItemIs28BytesAndStoreHoldsIt) {
  EpisodeList l(2, 0);
  l.count = 1;
  SetEpisode(l, 0, 10, 7);
  ASSERT_TRUE(l.SetText(0, "ST"));
  std::vector<uint8_t> r = SerializeToVector(l);
  ASSERT_EQ(r.size(), 8u + 28u);
  EXPECT_EQ(Word(&r[0]), 36u);
  EXPECT_EQ(Half(&r[8 + 24]), 2u);
  EXPECT_EQ(r[8 + 26], 'S');
  EXPECT_EQ(r[8 + 27], 'T');

  EpisodeList dst(2, 100);
  ASSERT_EQ(dst.Read(r), 1);
  EXPECT_EQ(dst.count, 1u);
  const uint8_t want[] = {0, 0, 0, 0, 2, 0, 'S', 'T', 1, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(dst.textStore, want, sizeof want));
  for (uint32_t i = sizeof want; i < 100; ++i) EXPECT_EQ(dst.textStore[i], 0) << i;
  EXPECT_EQ(dst.GetText(0), nullptr);  // reading leaves the entries' own texts alone
}

TEST(EpisodeRead, StoreOfEightBytesKeepsNoTextAndNoCount) {
  EpisodeList l(1, 0);
  l.count = 1;
  l.SetText(0, "ST");
  std::vector<uint8_t> r = SerializeToVector(l);
  EpisodeList dst(1, 8);
  std::memset(dst.textStore, 0xEE, 8);
  ASSERT_EQ(dst.Read(r), 1);
  EXPECT_EQ(dst.count, 1u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(dst.textStore[i], 0xEE) << i;
}

// The trailing count needs s + 4 below the capacity: with 12 bytes the text
// (8 bytes) fits and the count does not.
TEST(EpisodeRead, TrailingCountNeedsRoomBelowCapacity) {
  EpisodeList l(1, 0);
  l.count = 1;
  l.SetText(0, "ST");
  std::vector<uint8_t> r = SerializeToVector(l);
  for (uint32_t cap : {12u, 13u}) {
    EpisodeList dst(1, cap);
    std::memset(dst.textStore, 0xEE, cap);
    ASSERT_EQ(dst.Read(r), 1);
    EXPECT_EQ(dst.textStore[6], 'S');
    EXPECT_EQ(Word(dst.textStore + 8), cap == 12 ? 0xEEEEEEEEu : 1u) << cap;
  }
}

TEST(EpisodeRead, FirstTextThatDoesNotFitDropsAllLaterTexts) {
  EpisodeList l(4, 0);
  l.count = 4;
  l.SetText(0, "abc");       // 9 bytes in the store
  l.SetText(1, "too long text");  // 9 + 13 + 6 is not below 24
  l.SetText(3, "x");         // would fit, but is dropped after the miss
  std::vector<uint8_t> r = SerializeToVector(l);
  EpisodeList dst(4, 24);
  std::memset(dst.textStore, 0xEE, 24);
  ASSERT_EQ(dst.Read(r), 1);
  EXPECT_EQ(dst.count, 4u);
  const uint8_t want[] = {0, 0, 0, 0, 3, 0, 'a', 'b', 'c'};
  EXPECT_EQ(0, std::memcmp(dst.textStore, want, sizeof want));
  for (int i = sizeof want; i < 24; ++i) EXPECT_EQ(dst.textStore[i], 0xEE) << i;  // no trailing count
}

TEST(EpisodeRead, StoreFillsInIndexOrderWithTrailingCount) {
  EpisodeList l(5, 0);
  l.count = 5;
  l.SetText(1, "one");
  l.SetText(4, "four");
  std::vector<uint8_t> r = SerializeToVector(l);
  EXPECT_EQ(r.size(), 8u + 5 * 26 + 3 + 4);
  EpisodeList dst(5, 64);
  ASSERT_EQ(dst.Read(r), 1);
  Bytes want;
  want.u32(1).u16(3).text("one").u32(4).u16(4).text("four").u32(5);
  EXPECT_EQ(0, std::memcmp(dst.textStore, want.v.data(), want.v.size()));
}

TEST(EpisodeRead, MoreEpisodesThanCapacityReadsNothing) {
  EpisodeList src(3, 0);
  src.count = 3;
  std::vector<uint8_t> r = SerializeToVector(src);
  EpisodeList dst(2, 32);
  dst.count = 2;
  dst.readerReset = 9;
  SetEpisode(dst, 0, 900, 1);
  EXPECT_EQ(dst.Read(r), 1);
  EXPECT_EQ(dst.count, 0u);
  EXPECT_EQ(dst.readerReset, 0u);
  EXPECT_EQ(dst.entries[0].value1, 901u);
  EXPECT_EQ(dst.textStore[0], 0u);
}

TEST(EpisodeRead, ZeroEpisodesAndMissingArray) {
  Bytes zero;
  zero.u32(8).u32(0);
  EpisodeList a(2, 16);
  EXPECT_EQ(a.Read(zero.v), 1);
  EXPECT_EQ(a.count, 0u);

  EpisodeList src(1, 0);
  src.count = 1;
  std::vector<uint8_t> r = SerializeToVector(src);
  EpisodeList b(2, 16);
  delete[] b.entries;
  b.entries = nullptr;
  EXPECT_EQ(b.Read(r), 0);
}

TEST(EpisodeSerialize, EmptyListGivesNothing) {
  EpisodeList l(3, 10);
  uint32_t len = 5;
  EXPECT_FALSE(l.Serialize(&len));
  EXPECT_EQ(len, 0u);
}

TEST(EpisodeSerialize, TextLongerThan65535IsCut) {
  std::string big(70000, 'q');
  big[65534] = 'E';
  EpisodeList l(1, 0);
  l.count = 1;
  l.SetText(0, big.c_str());
  std::vector<uint8_t> r = SerializeToVector(l);
  ASSERT_EQ(r.size(), 8u + 26 + 65535);
  EXPECT_EQ(Half(&r[8 + 24]), 65535u);
  EXPECT_EQ(r.back(), 'E');
  EpisodeList dst(1, 70000);
  ASSERT_EQ(dst.Read(r), 1);
  EXPECT_EQ(Half(dst.textStore + 4), 65535u);
  EXPECT_EQ(dst.textStore[6 + 65534], 'E');
  EXPECT_EQ(Word(dst.textStore + 6 + 65535), 1u);
}

TEST(EpisodeText, SetTextOwnsACopy) {
  EpisodeList l(2, 0);
  std::string s = "abc";
  EXPECT_TRUE(l.SetText(1, s.c_str()));
  s[0] = 'z';
  EXPECT_STREQ(l.GetText(1), "abc");
  EXPECT_TRUE(l.SetText(1, "longer text"));
  EXPECT_STREQ(l.GetText(1), "longer text");
  EXPECT_TRUE(l.SetText(1, nullptr));
  EXPECT_EQ(l.GetText(1), nullptr);
  EXPECT_FALSE(l.SetText(2, "x"));
  EXPECT_EQ(l.GetText(2), nullptr);
}

TEST(EpisodeRoundTrip, VariedEpisodesAndTexts) {
  std::mt19937 rng(42);
  const uint32_t n = 40;
  EpisodeList src(n, 0);
  src.count = n;
  std::vector<std::string> texts(n);
  for (uint32_t i = 0; i < n; ++i) {
    SetEpisode(src, i, static_cast<uint32_t>(rng()), static_cast<uint32_t>(rng() % 37));
    if (rng() % 3) {
      texts[i].assign(rng() % 40 + 1, 'a');
      for (char& c : texts[i]) c = static_cast<char>(' ' + rng() % 95);
      src.SetText(i, texts[i].c_str());
    }
  }
  std::vector<uint8_t> r = SerializeToVector(src);
  ASSERT_FALSE(r.empty());
  EpisodeList dst(n, 4096);
  ASSERT_EQ(dst.Read(r), 1);
  ASSERT_EQ(dst.count, n);
  size_t s = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const EpisodeEntry &a = src.entries[i], &b = dst.entries[i];
    EXPECT_EQ(b.value1, a.value1);
    EXPECT_EQ(b.value2, a.value2);
    EXPECT_EQ(b.value3, a.value3);
    EXPECT_EQ(b.value4, a.value4);
    EXPECT_EQ(b.value5, a.value5);
    EXPECT_EQ(b.typeCode, a.typeCode);
    if (texts[i].empty()) continue;
    ASSERT_EQ(Word(dst.textStore + s), i);
    ASSERT_EQ(Half(dst.textStore + s + 4), texts[i].size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(dst.textStore + s + 6), texts[i].size()), texts[i]);
    s += 6 + texts[i].size();
  }
  EXPECT_EQ(Word(dst.textStore + s), n);
}

// Every cut of a valid record: count is the number of items whose 26 fixed
// bytes are present; the result is 1 only for the whole record; the store
// holds only texts that were wholly present, and nothing beyond its end is
// touched (the sanitizer build watches the store and the record).
TEST(EpisodeCut, EveryTruncationStaysInBounds) {
  EpisodeList src(3, 0);
  src.count = 3;
  for (uint32_t i = 0; i < 3; ++i) SetEpisode(src, i, 10 * i, i);
  src.SetText(0, "hello");
  src.SetText(2, "world!");
  std::vector<uint8_t> full = SerializeToVector(src);
  const size_t itemEnd[3] = {8 + 26 + 5, 8 + 26 + 5 + 26, full.size()};
  for (size_t len = 0; len <= full.size(); ++len) {
    auto buf = Exact(full, len);
    EpisodeList dst(3, 64);
    int32_t rc = dst.Read(std::span<const uint8_t>(buf.get(), len));
    uint32_t whole = 0;
    for (size_t start : {size_t{8}, itemEnd[0], itemEnd[1]})
      if (len >= start + 26) ++whole;
    ASSERT_EQ(dst.count, len < 8 ? 0u : whole) << len;
    ASSERT_EQ(rc, len == full.size() ? 1 : 0) << len;
    const bool firstText = len >= itemEnd[0];
    ASSERT_EQ(Half(dst.textStore + 4), firstText ? 5u : 0u) << len;
  }
}

// =============================================================== pacemaker

TEST(PacemakerSerialize, TwoValuesGive148BytesWithZeroTail) {
  PacemakerList l(4);
  l.count = 2;
  l.values[0] = 0xDEADBEEF;
  l.values[1] = 17;
  std::vector<uint8_t> r = SerializeToVector(l);
  ASSERT_EQ(r.size(), 148u);
  EXPECT_EQ(Word(&r[0]), 148u);
  EXPECT_EQ(Word(&r[4]), 2u);
  EXPECT_EQ(Word(&r[8]), 0xFF000001u);
  EXPECT_EQ(Word(&r[12]), 0xDEADBEEFu);
  EXPECT_EQ(Word(&r[16]), 17u);
  for (size_t i = 20; i < 148; ++i) ASSERT_EQ(r[i], 0) << i;
}

TEST(PacemakerSerialize, EmptyGivesNothing) {
  PacemakerList l(4);
  uint32_t len = 3;
  EXPECT_FALSE(l.Serialize(&len));
  EXPECT_EQ(len, 0u);
}

TEST(PacemakerRead, RoundTripAndRefusals) {
  std::mt19937 rng(7);
  PacemakerList src(30);
  src.count = 30;
  for (uint32_t i = 0; i < 30; ++i) src.values[i] = static_cast<uint32_t>(rng());
  std::vector<uint8_t> r = SerializeToVector(src);

  PacemakerList dst(30);
  ASSERT_EQ(dst.Read(r), 1);
  ASSERT_EQ(dst.count, 30u);
  EXPECT_EQ(0, std::memcmp(dst.values, src.values, 30 * 4));

  PacemakerList small(29);  // more values than capacity: nothing read, still 1
  small.count = 5;
  EXPECT_EQ(small.Read(r), 1);
  EXPECT_EQ(small.count, 0u);
  EXPECT_EQ(small.values[0], 0u);

  std::vector<uint8_t> bad = r;
  bad[8] = 2;  // mark 0xFF000002
  EXPECT_EQ(dst.Read(bad), 0);
  EXPECT_EQ(dst.count, 0u);

  PacemakerList none(0);
  none.count = 4;
  EXPECT_EQ(none.Read(r), 0);
  EXPECT_EQ(none.count, 4u);  // untouched: no array to fill

  Bytes zero;
  zero.u32(12).u32(0).u32(0);  // n of 0 is nothing to read, whatever the mark
  EXPECT_EQ(dst.Read(zero.v), 1);
}

TEST(PacemakerCut, EveryTruncationStaysInBounds) {
  PacemakerList src(3);
  src.count = 3;
  src.values[0] = 1, src.values[1] = 2, src.values[2] = 3;
  std::vector<uint8_t> full = SerializeToVector(src);
  for (size_t len = 0; len <= full.size(); ++len) {
    auto buf = Exact(full, len);
    PacemakerList dst(3);
    int32_t rc = dst.Read(std::span<const uint8_t>(buf.get(), len));
    const size_t whole = len < 12 ? 0 : std::min<size_t>(3, (len - 12) / 4);
    ASSERT_EQ(dst.count, whole) << len;
    // The zero tail is not needed: all values present reads as success.
    ASSERT_EQ(rc, len >= 24 ? 1 : 0) << len;
    for (size_t i = 0; i < whole; ++i) ASSERT_EQ(dst.values[i], i + 1);
  }
}

// ========================================================= blood pressure

BloodPressureReading Reading(uint32_t seed) {
  BloodPressureReading r{};
  for (uint32_t w = 0; w < 70; ++w) r.words[w] = seed * 1000003u + w;
  return r;
}

TEST(BloodPressureDataSerialize, ThreeReadingsAre852Bytes) {
  BloodPressureData d(5);
  d.count = 3;
  for (uint32_t i = 0; i < 3; ++i) d.readings[i] = Reading(i + 1);
  std::vector<uint8_t> r = SerializeToVector(d);
  ASSERT_EQ(r.size(), 852u);
  EXPECT_EQ(Word(&r[0]), 852u);
  EXPECT_EQ(Word(&r[4]), 3u);
  EXPECT_EQ(Word(&r[8]), 0xFF000001u);
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t w = 0; w < 70; ++w) ASSERT_EQ(Word(&r[12 + 280 * i + 4 * w]), Reading(i + 1).words[w]);
}

TEST(BloodPressureDataRead, RoundTripAndRefusals) {
  BloodPressureData src(4);
  src.count = 4;
  for (uint32_t i = 0; i < 4; ++i) src.readings[i] = Reading(i + 9);
  std::vector<uint8_t> r = SerializeToVector(src);

  BloodPressureData dst(4);
  ASSERT_EQ(dst.Read(r), 1);
  ASSERT_EQ(dst.count, 4u);
  EXPECT_EQ(0, std::memcmp(dst.readings, src.readings, 4 * 280));

  BloodPressureData small(3);
  small.count = 1;
  EXPECT_EQ(small.Read(r), 1);
  EXPECT_EQ(small.count, 0u);

  BloodPressureData none(0);  // no reading array: nothing to read
  none.count = 2;
  EXPECT_EQ(none.Read(r), 1);
  EXPECT_EQ(none.count, 0u);

  std::vector<uint8_t> bad = r;
  bad[11] = 0xFE;
  EXPECT_EQ(dst.Read(bad), 0);
  EXPECT_EQ(dst.count, 0u);

  BloodPressureData empty(2);
  uint32_t len = 1;
  EXPECT_FALSE(empty.Serialize(&len));
  EXPECT_EQ(len, 0u);
}

TEST(BloodPressureDataCut, EveryTruncationStaysInBounds) {
  BloodPressureData src(2);
  src.count = 2;
  src.readings[0] = Reading(1);
  src.readings[1] = Reading(2);
  std::vector<uint8_t> full = SerializeToVector(src);
  for (size_t len = 0; len <= full.size(); ++len) {
    auto buf = Exact(full, len);
    BloodPressureData dst(2);
    int32_t rc = dst.Read(std::span<const uint8_t>(buf.get(), len));
    const size_t whole = len < 12 ? 0 : std::min<size_t>(2, (len - 12) / 280);
    ASSERT_EQ(dst.count, whole) << len;
    ASSERT_EQ(rc, len == full.size() ? 1 : 0) << len;
  }
}

void FillResults(BloodPressureResults& b, uint32_t seed) {
  b.value1 = seed;
  b.value2 = seed + 1;
  for (uint32_t g = 0; g < 12; ++g) {
    for (uint32_t j = 0; j < 7; ++j) b.groups[g].values[j] = seed + 100 * g + j;
    b.groups[g].extra[0] = seed + 100 * g + 50;
    b.groups[g].extra[1] = seed + 100 * g + 51;
  }
}

TEST(BloodPressureResultsSerialize, CurrentFormLayout) {
  BloodPressureResults b;
  FillResults(b, 1000);
  std::vector<uint8_t> r = SerializeToVector(b);
  ASSERT_EQ(r.size(), 448u);
  EXPECT_EQ(Word(&r[0]), 448u);
  EXPECT_EQ(Word(&r[4]), 0xFF000002u);
  EXPECT_EQ(Word(&r[8]), 1000u);
  EXPECT_EQ(Word(&r[12]), 1001u);
  for (uint32_t g = 0; g < 12; ++g) {
    const uint8_t* p = &r[16 + 36 * g];
    for (uint32_t j = 0; j < 7; ++j) EXPECT_EQ(Word(p + 4 * j), 1000 + 100 * g + j);
    EXPECT_EQ(Word(p + 28), 1000 + 100 * g + 50);
    EXPECT_EQ(Word(p + 32), 1000 + 100 * g + 51);
  }
  BloodPressureResults back;
  ASSERT_EQ(back.Read(r), 1);
  EXPECT_EQ(0, std::memcmp(&back, &b, sizeof b));
}

class BloodPressureOlderForm : public ::testing::TestWithParam<uint32_t> {};

TEST_P(BloodPressureOlderForm, GroupGetsTableExtraWords) {
  const uint32_t g = GetParam();
  Bytes r;
  r.u32(352).u32(0xFF000001u).u32(11).u32(22);
  for (uint32_t k = 0; k < 12; ++k)
    for (uint32_t j = 0; j < 7; ++j) r.u32(5000 + 10 * k + j);
  ASSERT_EQ(r.v.size(), 352u);
  BloodPressureResults b;
  FillResults(b, 1);
  ASSERT_EQ(b.Read(r.v), 1);
  EXPECT_EQ(b.value1, 11u);
  EXPECT_EQ(b.value2, 22u);
  for (uint32_t j = 0; j < 7; ++j) EXPECT_EQ(b.groups[g].values[j], 5000 + 10 * g + j);
  static const uint32_t extra[12][2] = {{120, 105}, {80, 65}, {0, 0}, {0, 0}, {120, 105}, {80, 65},
                                        {0, 0},     {0, 0},   {110, 95}, {70, 55}, {0, 0}, {0, 0}};
  EXPECT_EQ(b.groups[g].extra[0], extra[g][0]);
  EXPECT_EQ(b.groups[g].extra[1], extra[g][1]);
}

INSTANTIATE_TEST_SUITE_P(Groups, BloodPressureOlderForm, ::testing::Range(0u, 12u));

bool AllZero(const BloodPressureResults& b) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&b);
  for (size_t i = 0; i < sizeof b; ++i)
    if (p[i]) return false;
  return true;
}

TEST(BloodPressureResultsRead, RefusedRecordsLeaveBlockCleared) {
  BloodPressureResults src;
  FillResults(src, 3);
  std::vector<uint8_t> r = SerializeToVector(src);

  std::vector<uint8_t> len8 = r;
  len8[0] = 8;
  len8[1] = 0;
  BloodPressureResults a;
  FillResults(a, 9);
  EXPECT_EQ(a.Read(len8), 0);
  EXPECT_TRUE(AllZero(a));

  std::vector<uint8_t> len9 = r;  // the smallest length word that is taken
  len9[0] = 9;
  len9[1] = 0;
  EXPECT_EQ(a.Read(len9), 1);
  EXPECT_EQ(a.value1, 3u);

  std::vector<uint8_t> other = r;
  other[4] = 3;  // mark 0xFF000003
  FillResults(a, 9);
  EXPECT_EQ(a.Read(other), 0);
  EXPECT_TRUE(AllZero(a));
}

TEST(BloodPressureResultsCut, EveryTruncationOfBothFormsStaysInBounds) {
  BloodPressureResults src;
  FillResults(src, 77);
  std::vector<uint8_t> current = SerializeToVector(src);
  Bytes older;
  older.u32(352).u32(0xFF000001u).u32(1).u32(2);
  for (uint32_t k = 0; k < 84; ++k) older.u32(k + 10);
  for (const std::vector<uint8_t>* full : {&current, &older.v}) {
    for (size_t len = 0; len <= full->size(); ++len) {
      auto buf = Exact(*full, len);
      BloodPressureResults b;
      int32_t rc = b.Read(std::span<const uint8_t>(buf.get(), len));
      ASSERT_EQ(rc, len == full->size() ? 1 : 0) << len;
      // The words present are kept: the first value once its word is there.
      ASSERT_EQ(b.value1, len >= 12 ? Word(full->data() + 8) : 0u) << len;
    }
  }
}

// ============================================================== spirometry

TEST(Spirometry, DataIsTheBlockAndReadRestoresAllButFirstWord) {
  SpirometryData src;
  for (uint32_t i = 0; i < 106; ++i) src.words[i] = 0x01020304u * (i + 1);
  uint32_t len = 0;
  const uint8_t* block = src.Data(&len);
  EXPECT_EQ(len, 424u);
  EXPECT_EQ(static_cast<const void*>(block), static_cast<const void*>(src.words));

  // What the section writer puts: word 424, bytes 4..423, then a zero word.
  Bytes rec;
  rec.u32(424);
  rec.v.insert(rec.v.end(), block + 4, block + 424);
  rec.u32(0);
  SpirometryData dst;
  ASSERT_EQ(dst.Read(rec.v), 1);
  EXPECT_EQ(dst.words[0], 424u);
  EXPECT_EQ(0, std::memcmp(dst.words + 1, src.words + 1, 420));
}

TEST(Spirometry, ItemCopies6264BytesWhateverTheLengthWordSays) {
  Bytes rec;
  rec.u32(12);  // a length word that disagrees
  for (uint32_t i = 1; i < 1566; ++i) rec.u32(i * 3);
  rec.u32(0xAAAAAAAA);  // beyond the item: not taken
  SpirometryItem item;
  ASSERT_EQ(item.Read(rec.v), 1);
  EXPECT_EQ(item.words[0], 12u);
  EXPECT_EQ(item.words[1565], 1565u * 3);
}

struct SpiroCutCase {
  const char* name;
  uint32_t words;
  std::function<int32_t(std::span<const uint8_t>, const uint32_t**)> read;
};
void PrintTo(const SpiroCutCase& c, std::ostream* os) { *os << c.name; }
class SpirometryCut : public ::testing::TestWithParam<SpiroCutCase> {};

// A short record: the bytes present are copied, the rest of the block is
// zero (not left from an older read), and the result is 0.
TEST_P(SpirometryCut, EveryTruncationStaysInBounds) {
  const uint32_t words = GetParam().words;
  std::vector<uint8_t> full(words * 4);
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(i * 7 + 1);
  for (size_t len = 0; len <= full.size(); ++len) {
    auto buf = Exact(full, len);
    const uint32_t* block = nullptr;
    int32_t rc = GetParam().read(std::span<const uint8_t>(buf.get(), len), &block);
    ASSERT_EQ(rc, len == full.size() ? 1 : 0) << len;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(block);
    ASSERT_EQ(0, std::memcmp(bytes, full.data(), len)) << len;
    ASSERT_TRUE(std::all_of(bytes + len, bytes + full.size(), [](uint8_t b) { return b == 0; })) << len;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, SpirometryCut,
    ::testing::Values(SpiroCutCase{"Data", 106,
                                   [](std::span<const uint8_t> s, const uint32_t** out) {
                                     static SpirometryData d;
                                     std::memset(d.words, 0x99, sizeof d.words);
                                     *out = d.words;
                                     return d.Read(s);
                                   }},
                      SpiroCutCase{"Item", 1566,
                                   [](std::span<const uint8_t> s, const uint32_t** out) {
                                     static SpirometryItem d;
                                     std::memset(d.words, 0x99, sizeof d.words);
                                     *out = d.words;
                                     return d.Read(s);
                                   }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
