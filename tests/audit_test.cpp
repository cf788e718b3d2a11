// Audit trail: the payload against bytes built here, the round trip, and
// the reader's outcomes as a table.
#include "lib/dbclient/audit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "lib/bytes.h"

namespace {

struct RawEntry {
  uint16_t year;
  uint8_t month, day, hour, minute;
  uint16_t ms;
  uint8_t code;
  const char* text;
};

// A payload (from the count word on) built byte by byte, one entry per item.
std::vector<uint8_t> Payload(uint32_t announced, const std::vector<RawEntry>& entries) {
  std::vector<uint8_t> out(4 + 44 * entries.size(), 0);
  StoreU32(out.data(), announced);
  for (size_t i = 0; i < entries.size(); ++i) {
    uint8_t* p = out.data() + 4 + i * 44;
    const RawEntry& e = entries[i];
    StoreU16(p, e.year);
    p[2] = e.month, p[3] = e.day, p[4] = e.hour, p[5] = e.minute;
    StoreU16(p + 6, e.ms);
    p[8] = e.code;
    std::memcpy(p + 12, e.text, std::min<size_t>(32, std::strlen(e.text)));
  }
  return out;
}

RawEntry Raw(uint16_t year, uint8_t hour = 10, uint8_t minute = 20, uint16_t ms = 30000, uint8_t code = 2) {
  return RawEntry{year, 6, 15, hour, minute, ms, code, "entry"};
}

void Fill(AuditEntry* e, const RawEntry& r, int32_t code) {
  e->year = r.year, e->month = r.month, e->day = r.day, e->hour = r.hour, e->minute = r.minute;
  e->milliseconds = r.ms;
  e->actionCode = code;
  std::memset(e->text, 0, sizeof e->text);
  std::memcpy(e->text, r.text, std::min<size_t>(32, std::strlen(r.text)));
}

TEST(AuditTrail, NewTrailHasSixteenDefaultEntriesAndNoCount) {
  AuditTrail trail;
  EXPECT_EQ(trail.GetCount(), 0);
  for (int32_t i = 0; i < 16; ++i) {
    const AuditEntry* e = trail.GetEntry(i);
    ASSERT_NE(e, nullptr) << i;
    EXPECT_TRUE(e->year == 0 && e->month == 0 && e->day == 0 && e->hour == 0 && e->minute == 0 &&
                e->milliseconds == 0 && e->actionCode == 1 && e->text[0] == '\0')
        << i;
  }
  EXPECT_EQ(trail.GetEntry(16), nullptr);
  EXPECT_EQ(trail.GetEntry(-1), nullptr);
  EXPECT_EQ(trail.GetLastEntry(), nullptr);
}

// Both directions against payloads built here: the writer gives W and the
// payload byte for byte, the reader gives back every field of every entry.
TEST(AuditTrail, SerializeAndReadAgainstBytesBuiltHere) {
  const std::vector<RawEntry> raw = {{2021, 3, 4, 5, 6, 7890, 0, "created"},
                                     {2022, 12, 31, 23, 59, 59999, 3, "0123456789abcdef0123456789ABCDEF"},
                                     {1990, 1, 10, 0, 0, 7, 1, "step"}};
  for (size_t n : {size_t{1}, size_t{2}, size_t{3}, size_t{16}}) {
    AuditTrail trail, back;
    std::vector<RawEntry> want;
    for (size_t i = 0; i < n; ++i) want.push_back(i < 3 ? raw[i] : Raw(static_cast<uint16_t>(2000 + i)));
    for (size_t i = 0; i < n; ++i) Fill(trail.entries[i], want[i], want[i].code);
    trail.count = static_cast<int32_t>(n);
    uint32_t w = 0;
    auto buffer = trail.Serialize(&w);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(w, 4 + 44 * n);  // 92 for two: section 147 holds 100 bytes of data
    std::vector<uint8_t> expected(4, 0);
    StoreU32(expected.data(), w);
    const std::vector<uint8_t> payload = Payload(static_cast<uint32_t>(n), want);
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_EQ(std::vector<uint8_t>(buffer.get(), buffer.get() + w + 4), expected) << n;

    ASSERT_TRUE(back.Read(payload, w));
    EXPECT_EQ(back.count, static_cast<int32_t>(n));
    for (size_t i = 0; i < n; ++i) {
      const AuditEntry* a = trail.entries[i];
      const AuditEntry* b = back.entries[i];
      EXPECT_TRUE(a->year == b->year && a->month == b->month && a->day == b->day && a->hour == b->hour &&
                  a->minute == b->minute && a->milliseconds == b->milliseconds && a->actionCode == b->actionCode &&
                  std::memcmp(a->text, b->text, 32) == 0)
          << i;
    }
    EXPECT_TRUE(n == 16 || (back.entries[n]->actionCode == 1 && back.entries[n]->year == 0)) << "default kept";
  }
}

// Writing needs 1 to 16 entries in filled slots; an action code outside 0
// to 3 is written as 0xFF, which the reader does not take.
TEST(AuditTrail, SerializeRefusesWhatTheSlotsCannotHold) {
  AuditTrail trail;
  uint32_t w = 77;
  for (int32_t count : {0, -3, 17}) {
    trail.count = count;
    EXPECT_EQ(trail.Serialize(&w), nullptr) << count;
  }
  EXPECT_EQ(w, 77u);
  trail.count = 3;
  delete trail.entries[1];
  trail.entries[1] = nullptr;
  EXPECT_EQ(trail.Serialize(&w), nullptr);
  trail.count = 1;  // slot 2 is outside the count: fine
  Fill(trail.entries[0], Raw(2020), 256);
  auto buffer = trail.Serialize(&w);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(w, 48u);
  EXPECT_EQ(buffer[8 + 8], 0xFF);
}

// The reader's outcomes: the payload and the W given with it, the result,
// the count afterwards (7 before) and what the first entries hold.
struct ReadCase {
  const char* name;
  std::vector<uint8_t> payload;
  uint32_t w;  // 0: the payload's size
  bool result;
  int32_t count;
  std::function<void(const AuditTrail&)> check;
};

TEST(AuditTrail, ReadOutcomes) {
  std::vector<RawEntry> twenty;
  for (int i = 0; i < 20; ++i) twenty.push_back(Raw(static_cast<uint16_t>(2000 + i)));
  const std::vector<uint8_t> two = Payload(2, {Raw(2011), Raw(2012)});
  auto year = [](int slot, int32_t y) {
    return [=](const AuditTrail& t) { EXPECT_EQ(t.entries[slot]->year, y) << "slot " << slot; };
  };
  const ReadCase cases[] = {
      {"year sign-extended", Payload(2, {Raw(0xFFFF), Raw(0x8000)}), 0, true, 2,
       [&](const AuditTrail& t) { year(0, -1)(t), year(1, -32768)(t); }},
      {"twenty announced", Payload(20, twenty), 0, true, 16, year(15, 2015)},
      {"negative count", Payload(0xFFFFFFFFu, twenty), 0, true, 16, year(15, 2015)},
      // W = 48 announces two entries but holds one.
      {"W too short", two, 48, false, 7, [&](const AuditTrail& t) { year(0, 2011)(t), year(1, 0)(t); }},
      {"data ends after one", std::vector<uint8_t>(two.begin(), two.begin() + 48), 92, false, 7, year(0, 2011)},
      {"entry one byte short", std::vector<uint8_t>(two.begin(), two.begin() + 47), 92, false, 7, year(0, 0)},
      {"no count word", {1, 0, 0}, 3, false, 7, year(0, 0)},
      {"nothing", {}, 0, false, 7, year(0, 0)},
      {"zero entries", Payload(0, {}), 4, true, 0, year(0, 0)},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    AuditTrail trail;
    trail.count = 7;
    EXPECT_EQ(trail.Read(c.payload, c.w ? c.w : static_cast<uint32_t>(c.payload.size())), c.result);
    EXPECT_EQ(trail.count, c.count);
    c.check(trail);
  }
}

TEST(AuditTrail, ReadTakesTimesAndCodesOnlyInRange) {
  struct Case {
    uint8_t hour, minute;
    uint16_t ms;
    int32_t hourRead, minuteRead, msRead;
  };
  for (const Case& c : {Case{25, 30, 100, 0, 30, 100}, Case{24, 30, 100, 0, 30, 100},
                        Case{23, 59, 59999, 23, 59, 59999}, Case{0, 60, 100, 0, 0, 100}, Case{12, 255, 100, 12, 0, 100},
                        Case{12, 1, 60000, 12, 1, 0}, Case{255, 255, 65535, 0, 0, 0}}) {
    AuditTrail trail;
    ASSERT_TRUE(trail.Read(Payload(1, {Raw(2001, c.hour, c.minute, c.ms)}), 48));
    const AuditEntry* e = trail.entries[0];
    EXPECT_TRUE(e->hour == c.hourRead && e->minute == c.minuteRead && e->milliseconds == c.msRead)
        << int{c.hour} << ":" << int{c.minute} << " " << c.ms;
  }
  for (uint8_t code : {0, 1, 3, 4, 9, 0xFF}) {
    AuditTrail trail;
    trail.entries[0]->actionCode = 2;
    ASSERT_TRUE(trail.Read(Payload(1, {Raw(2001, 1, 1, 1, code)}), 48));
    EXPECT_EQ(trail.entries[0]->actionCode, code <= 3 ? code : 2) << int{code};
  }
}

TEST(AuditTrail, ReadStopsAtAnEmptySlot) {
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
