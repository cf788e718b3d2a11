#include "lib/dbclient/audit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/bytes.h"

namespace {

constexpr uint32_t kEntry = 44;

void Fill(AuditEntry* e, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
          int32_t ms, int32_t code, const char* text) {
  e->year = year;
  e->month = month;
  e->day = day;
  e->hour = hour;
  e->minute = minute;
  e->milliseconds = ms;
  e->actionCode = code;
  std::memset(e->text, 0, sizeof e->text);
  std::memcpy(e->text, text, std::strlen(text) < 32 ? std::strlen(text) : 32);
}

// A payload (from the count word on) built by hand, one raw entry per item.
struct RawEntry {
  uint16_t year;
  uint8_t month, day, hour, minute;
  uint16_t ms;
  uint8_t code;
  char text[32];
};

std::vector<uint8_t> Payload(uint32_t announced, const std::vector<RawEntry>& entries) {
  std::vector<uint8_t> out(4 + kEntry * entries.size(), 0);
  StoreU32(out.data(), announced);
  for (size_t i = 0; i < entries.size(); ++i) {
    uint8_t* p = out.data() + 4 + i * kEntry;
    const RawEntry& e = entries[i];
    StoreU16(p, e.year);
    p[2] = e.month;
    p[3] = e.day;
    p[4] = e.hour;
    p[5] = e.minute;
    StoreU16(p + 6, e.ms);
    p[8] = e.code;
    std::memcpy(p + 12, e.text, 32);
  }
  return out;
}

RawEntry Raw(uint16_t year, uint8_t hour = 10, uint8_t minute = 20, uint16_t ms = 30000,
             uint8_t code = 2) {
  RawEntry e{year, 6, 15, hour, minute, ms, code, {}};
  std::snprintf(e.text, sizeof e.text, "entry %d", static_cast<int>(year));
  return e;
}

TEST(AuditTrailNew, HasSixteenDefaultEntriesAndNoCount) {
  AuditTrail trail;
  EXPECT_EQ(trail.GetCount(), 0);
  for (int32_t i = 0; i < 16; ++i) {
    const AuditEntry* e = trail.GetEntry(i);
    ASSERT_NE(e, nullptr) << i;
    EXPECT_EQ(e->year, 0);
    EXPECT_EQ(e->month, 0);
    EXPECT_EQ(e->day, 0);
    EXPECT_EQ(e->hour, 0);
    EXPECT_EQ(e->minute, 0);
    EXPECT_EQ(e->milliseconds, 0);
    EXPECT_EQ(e->actionCode, 1);
    EXPECT_EQ(e->text[0], '\0');
  }
  EXPECT_EQ(trail.GetEntry(16), nullptr);
  EXPECT_EQ(trail.GetEntry(-1), nullptr);
  EXPECT_EQ(trail.GetLastEntry(), nullptr);
}

TEST(AuditTrailSerialize, NothingWithoutEntries) {
  AuditTrail trail;
  uint32_t length = 77;
  EXPECT_EQ(trail.Serialize(&length), nullptr);
  trail.count = -3;
  EXPECT_EQ(trail.Serialize(&length), nullptr);
  EXPECT_EQ(length, 77u);
}

TEST(AuditTrailSerialize, TwoEntriesGiveW92AndTheByteLayout) {
  AuditTrail trail;
  Fill(trail.entries[0], 2021, 3, 4, 5, 6, 7890, 0, "created");
  Fill(trail.entries[1], 2022, 12, 31, 23, 59, 59999, 3,
       "0123456789abcdef0123456789ABCDEF");  // all 32 bytes, no NUL
  trail.count = 2;
  uint32_t w = 0;
  auto buffer = trail.Serialize(&w);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(w, 92u);
  // W + 4 bytes: the W word, then the payload; with the section's count word
  // that is the 100 bytes of section 147's data.
  const uint8_t* b = buffer.get();
  EXPECT_EQ(LoadU32(b), 92u);
  EXPECT_EQ(LoadU32(b + 4), 2u);
  const uint8_t* e0 = b + 8;
  EXPECT_EQ(LoadU16(e0), 2021);
  EXPECT_EQ(e0[2], 3);
  EXPECT_EQ(e0[3], 4);
  EXPECT_EQ(e0[4], 5);
  EXPECT_EQ(e0[5], 6);
  EXPECT_EQ(LoadU16(e0 + 6), 7890);
  EXPECT_EQ(e0[8], 0);
  EXPECT_EQ(e0[9] | e0[10] | e0[11], 0);
  EXPECT_EQ(0, std::memcmp(e0 + 12, "created\0\0\0", 10));
  const uint8_t* e1 = e0 + 44;
  EXPECT_EQ(LoadU16(e1), 2022);
  EXPECT_EQ(LoadU16(e1 + 6), 59999);
  EXPECT_EQ(e1[8], 3);
  EXPECT_EQ(0, std::memcmp(e1 + 12, "0123456789abcdef0123456789ABCDEF", 32));
}

TEST(AuditTrailSerialize, RefusesWhatTheSlotsCannotHold) {
  AuditTrail trail;
  uint32_t w = 0;
  trail.count = 17;
  EXPECT_EQ(trail.Serialize(&w), nullptr);
  trail.count = 3;
  delete trail.entries[1];
  trail.entries[1] = nullptr;
  EXPECT_EQ(trail.Serialize(&w), nullptr);
  trail.count = 1;  // slot 2 is outside the count: fine
  EXPECT_NE(trail.Serialize(&w), nullptr);
  EXPECT_EQ(w, 48u);
}

TEST(AuditTrailSerialize, SixteenEntriesFillTheLargestRecord) {
  AuditTrail trail;
  for (int i = 0; i < 16; ++i) Fill(trail.entries[i], 2000 + i, 1, 1, 0, 0, 0, 1, "x");
  trail.count = 16;
  uint32_t w = 0;
  auto buffer = trail.Serialize(&w);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(w, 4u + 16 * 44);
  EXPECT_EQ(LoadU16(buffer.get() + 8 + 15 * 44), 2015);
}

TEST(AuditTrailRoundTrip, ReadGivesBackWhatWasWritten) {
  AuditTrail source;
  for (int i = 0; i < 5; ++i) {
    char text[40];
    std::snprintf(text, sizeof text, "step %d of the audit", i);
    Fill(source.entries[i], 1990 + i, 1 + i, 10 + i, i, 2 * i, 1000 * i + 7, i % 4, text);
  }
  source.count = 5;
  uint32_t w = 0;
  auto buffer = source.Serialize(&w);
  ASSERT_NE(buffer, nullptr);
  // The reader gets exactly the payload: from behind W to the end.
  std::vector<uint8_t> payload(buffer.get() + 4, buffer.get() + 4 + w);
  AuditTrail target;
  ASSERT_TRUE(target.Read(payload, w));
  EXPECT_EQ(target.count, 5);
  for (int i = 0; i < 5; ++i) {
    const AuditEntry* a = source.entries[i];
    const AuditEntry* b = target.entries[i];
    EXPECT_EQ(a->year, b->year);
    EXPECT_EQ(a->month, b->month);
    EXPECT_EQ(a->day, b->day);
    EXPECT_EQ(a->hour, b->hour);
    EXPECT_EQ(a->minute, b->minute);
    EXPECT_EQ(a->milliseconds, b->milliseconds);
    EXPECT_EQ(a->actionCode, b->actionCode);
    EXPECT_EQ(0, std::memcmp(a->text, b->text, 32));
  }
  // Slots behind the count keep their defaults.
  EXPECT_EQ(target.entries[5]->actionCode, 1);
  EXPECT_EQ(target.entries[5]->year, 0);
}

TEST(AuditTrailRoundTrip, ActionCodeOutsideRangeIsNotCarriedOver) {
  AuditTrail source;
  Fill(source.entries[0], 2020, 1, 1, 0, 0, 0, 256, "a");  // low byte 0
  Fill(source.entries[1], 2020, 1, 1, 0, 0, 0, -1, "b");
  source.count = 2;
  uint32_t w = 0;
  auto buffer = source.Serialize(&w);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer[8 + 8], 0xFF);
  EXPECT_EQ(buffer[8 + 44 + 8], 0xFF);
  AuditTrail target;
  target.entries[0]->actionCode = 2;
  ASSERT_TRUE(target.Read(std::span<const uint8_t>(buffer.get() + 4, w), w));
  EXPECT_EQ(target.entries[0]->actionCode, 2);  // kept
  EXPECT_EQ(target.entries[1]->actionCode, 1);  // kept default
}

TEST(AuditTrailRead, YearIsSignExtended) {
  auto payload = Payload(2, {Raw(0xFFFF), Raw(0x8000)});
  AuditTrail trail;
  ASSERT_TRUE(trail.Read(payload, static_cast<uint32_t>(payload.size())));
  EXPECT_EQ(trail.entries[0]->year, -1);
  EXPECT_EQ(trail.entries[1]->year, -32768);
}

struct RangeCase {
  uint8_t hour, minute;
  uint16_t ms;
  int32_t expectHour, expectMinute, expectMs;
};
class AuditTimeRanges : public ::testing::TestWithParam<RangeCase> {};
TEST_P(AuditTimeRanges, OutOfRangeFieldsReadAsZero) {
  const RangeCase& c = GetParam();
  auto payload = Payload(1, {Raw(2001, c.hour, c.minute, c.ms)});
  AuditTrail trail;
  trail.entries[0]->hour = trail.entries[0]->minute = trail.entries[0]->milliseconds = 99;
  ASSERT_TRUE(trail.Read(payload, static_cast<uint32_t>(payload.size())));
  EXPECT_EQ(trail.entries[0]->hour, c.expectHour);
  EXPECT_EQ(trail.entries[0]->minute, c.expectMinute);
  EXPECT_EQ(trail.entries[0]->milliseconds, c.expectMs);
}
INSTANTIATE_TEST_SUITE_P(
    Bounds, AuditTimeRanges,
    ::testing::Values(RangeCase{25, 30, 100, 0, 30, 100},       // hour 25
                      RangeCase{24, 30, 100, 0, 30, 100},       // hour 24
                      RangeCase{23, 59, 59999, 23, 59, 59999},  // all at their maximum
                      RangeCase{0, 60, 100, 0, 0, 100},         // minute 60
                      RangeCase{12, 255, 100, 12, 0, 100},
                      RangeCase{12, 1, 60000, 12, 1, 0},        // ms 60000
                      RangeCase{255, 255, 65535, 0, 0, 0}));

class AuditActionCodes : public ::testing::TestWithParam<uint8_t> {};
TEST_P(AuditActionCodes, OnlyZeroToThreeReplaceTheCode) {
  const uint8_t code = GetParam();
  auto payload = Payload(1, {Raw(2001, 1, 1, 1, code)});
  AuditTrail trail;
  trail.entries[0]->actionCode = 2;
  ASSERT_TRUE(trail.Read(payload, static_cast<uint32_t>(payload.size())));
  EXPECT_EQ(trail.entries[0]->actionCode, code <= 3 ? code : 2);
}
INSTANTIATE_TEST_SUITE_P(Codes, AuditActionCodes, ::testing::Values(0, 1, 3, 4, 9, 0xFF));

TEST(AuditTrailRead, AnnouncedTwentyFillsSixteen) {
  std::vector<RawEntry> entries;
  for (int i = 0; i < 20; ++i) entries.push_back(Raw(static_cast<uint16_t>(2000 + i)));
  auto payload = Payload(20, entries);
  AuditTrail trail;
  ASSERT_TRUE(trail.Read(payload, static_cast<uint32_t>(payload.size())));
  EXPECT_EQ(trail.count, 16);
  EXPECT_EQ(trail.entries[15]->year, 2015);
}

TEST(AuditTrailRead, NegativeCountReadsSixteen) {
  std::vector<RawEntry> entries;
  for (int i = 0; i < 16; ++i) entries.push_back(Raw(static_cast<uint16_t>(1900 + i)));
  auto payload = Payload(0xFFFFFFFFu, entries);
  AuditTrail trail;
  ASSERT_TRUE(trail.Read(payload, static_cast<uint32_t>(payload.size())));
  EXPECT_EQ(trail.count, 16);
  EXPECT_EQ(trail.entries[15]->year, 1915);
}

TEST(AuditTrailRead, TooShortForTheAnnouncedEntriesFillsWhatFitsAndFails) {
  // W = 48 announces 2 entries but holds one.
  auto payload = Payload(2, {Raw(2011), Raw(2012)});
  AuditTrail trail;
  trail.count = 7;
  EXPECT_FALSE(trail.Read(payload, 48));
  EXPECT_EQ(trail.entries[0]->year, 2011);
  EXPECT_EQ(trail.entries[1]->year, 0);
  EXPECT_EQ(trail.count, 7);  // unchanged
}

TEST(AuditTrailRead, NeverReadsPastTheSpanWhateverWSays) {
  // W claims two entries, the section data ends after one.
  auto full = Payload(2, {Raw(2011), Raw(2012)});
  std::vector<uint8_t> cut(full.begin(), full.begin() + 4 + 44);
  AuditTrail trail;
  EXPECT_FALSE(trail.Read(cut, 92));
  EXPECT_EQ(trail.entries[0]->year, 2011);
  EXPECT_EQ(trail.count, 0);
  // An entry one byte short.
  std::vector<uint8_t> shortByOne(full.begin(), full.begin() + 4 + 43);
  AuditTrail other;
  EXPECT_FALSE(other.Read(shortByOne, 92));
  EXPECT_EQ(other.entries[0]->year, 0);
}

TEST(AuditTrailRead, PayloadWithoutCountWordFails) {
  std::vector<uint8_t> three = {1, 0, 0};
  AuditTrail trail;
  trail.count = 4;
  EXPECT_FALSE(trail.Read(three, 3));
  EXPECT_FALSE(trail.Read(std::span<const uint8_t>(), 0));
  EXPECT_EQ(trail.count, 4);
}

TEST(AuditTrailRead, ZeroEntriesSucceedsWithCountZero) {
  auto payload = Payload(0, {});
  AuditTrail trail;
  trail.count = 5;
  EXPECT_TRUE(trail.Read(payload, 4));
  EXPECT_EQ(trail.count, 0);
}

TEST(AuditTrailRead, StopsAtAnEmptySlot) {
  auto payload = Payload(3, {Raw(2001), Raw(2002), Raw(2003)});
  AuditTrail trail;
  delete trail.entries[1];
  trail.entries[1] = nullptr;
  trail.count = 9;
  EXPECT_FALSE(trail.Read(payload, static_cast<uint32_t>(payload.size())));
  EXPECT_EQ(trail.entries[0]->year, 2001);  // already overwritten
  EXPECT_EQ(trail.entries[2]->year, 0);
  EXPECT_EQ(trail.count, 9);
}

}  // namespace
