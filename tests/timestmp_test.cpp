#include "lib/timestmp.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstring>
#include <random>

#include "lib/bytes.h"
#include "platform/platform.h"

namespace {

DateTime D(int y, int m, int d) {
  return DateTime(static_cast<uint16_t>(y), static_cast<uint8_t>(m), static_cast<uint8_t>(d));
}

// Reference day number from the standard calendar library.
int64_t ChronoDays(int y, int m, int d) {
  using namespace std::chrono;
  return sys_days{year{y} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)}}
      .time_since_epoch()
      .count();
}

TEST(DateTimeLayout, WordsReadAsTheHostSeesThem) {
  DateTime t(2023, 11, 27, 14, 35, 48, 93);
  uint8_t bytes[8];
  std::memcpy(bytes, &t, sizeof t);
  // The in-memory form is what the host shares: compare as LE words on the
  // little-endian targets this library is built for.
  if (std::endian::native == std::endian::little) {
    EXPECT_EQ(LoadU16(bytes + 0), 2023);
    EXPECT_EQ(LoadU16(bytes + 2), 11 * 256 + 27);
    EXPECT_EQ(LoadU16(bytes + 4), 14 * 256 + 35);
    EXPECT_EQ(LoadU16(bytes + 6), 48 * 256 + 93);
  }
  CalendarDate date = t.Date();
  uint8_t dateBytes[4];
  std::memcpy(dateBytes, &date, sizeof date);
  EXPECT_EQ(0, std::memcmp(dateBytes, bytes, 4));
}

TEST(DateTimeLayout, ZeroValueIsNotSet) {
  EXPECT_TRUE(DateTime(0, 0, 0).IsZero());
  EXPECT_FALSE(DateTime(0, 0, 0, 0, 0, 0, 1).IsZero());
  EXPECT_FALSE(DateTime(0, 1, 0).IsZero());
}

TEST(DateTimeNow, MatchesTheSystemLocalTime) {
  // Retry once in the unlikely case that a second boundary falls between
  // the two readings.
  for (int attempt = 0; attempt < 3; ++attempt) {
    plat::SystemTime before{};
    plat::GetLocalTime(&before);
    DateTime now;
    plat::SystemTime after{};
    plat::GetLocalTime(&after);
    if (before.second != after.second) continue;
    EXPECT_EQ(now.year, after.year);
    EXPECT_EQ(now.month, after.month);
    EXPECT_EQ(now.day, after.day);
    EXPECT_EQ(now.hour, after.hour);
    EXPECT_EQ(now.minute, after.minute);
    EXPECT_EQ(now.second, after.second);
    EXPECT_GE(now.hundredths, before.milliseconds / 10);
    EXPECT_LE(now.hundredths, after.milliseconds / 10);
    EXPECT_LT(now.hundredths, 100);
    return;
  }
  ADD_FAILURE() << "clock kept crossing second boundaries";
}

TEST(DateTimeSetDate, CopiesTheDateAndClearsTheTime) {
  DateTime t(1999, 5, 6, 7, 8, 9, 10);
  CalendarDate date{2004, 29, 2};
  EXPECT_EQ(1, t.SetDate(date));
  EXPECT_EQ(t.year, 2004);
  EXPECT_EQ(t.day, 29);
  EXPECT_EQ(t.month, 2);
  EXPECT_EQ(t.hour, 0);
  EXPECT_EQ(t.minute, 0);
  EXPECT_EQ(t.second, 0);
  EXPECT_EQ(t.hundredths, 0);
  // Bytes go over as they are, also nonsense ones.
  CalendarDate odd{7, 200, 99};
  t.SetDate(odd);
  EXPECT_EQ(t.year, 7);
  EXPECT_EQ(t.day, 200);
  EXPECT_EQ(t.month, 99);
}

struct LeapCase {
  uint32_t year;
  int expected;
};
class LeapYear : public ::testing::TestWithParam<LeapCase> {};
TEST_P(LeapYear, FollowsTheGregorianRule) {
  EXPECT_EQ(DateTime::IsLeapYear(GetParam().year), GetParam().expected) << GetParam().year;
}
INSTANTIATE_TEST_SUITE_P(Years, LeapYear,
                         ::testing::Values(LeapCase{1900, 0}, LeapCase{2000, 1}, LeapCase{2004, 1},
                                           LeapCase{2001, 0}, LeapCase{2100, 0}, LeapCase{2400, 1},
                                           LeapCase{1800, 0}, LeapCase{1804, 1}, LeapCase{1996, 1},
                                           LeapCase{0, 1}, LeapCase{65535, 0}));

struct DiffCase {
  int y1, m1, d1, y2, m2, d2;
  int32_t expected;
};
class DayDifference : public ::testing::TestWithParam<DiffCase> {};
TEST_P(DayDifference, CountsDays) {
  const DiffCase& c = GetParam();
  DateTime a = D(c.y1, c.m1, c.d1);
  DateTime b = D(c.y2, c.m2, c.d2);
  EXPECT_EQ(a.DayDifference(b), c.expected);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, DayDifference,
    ::testing::Values(DiffCase{2000, 3, 1, 2000, 2, 28, 2},      // 2000 is leap
                      DiffCase{1900, 3, 1, 1900, 2, 28, 1},      // 1900 is not
                      DiffCase{1999, 12, 31, 1999, 1, 1, 364},
                      DiffCase{1999, 1, 1, 1999, 12, 31, -364},
                      DiffCase{1801, 1, 1, 1800, 12, 31, 1},
                      DiffCase{2001, 1, 1, 2000, 1, 1, 366},
                      DiffCase{2024, 2, 29, 2024, 2, 29, 0},
                      // Before 1800 all years share one base.
                      DiffCase{1700, 5, 10, 1750, 5, 10, 0},
                      DiffCase{1650, 6, 1, 1799, 5, 31, 1},
                      // ...but the leap day of a leap year still counts.
                      DiffCase{1796, 3, 1, 1797, 3, 1, 1},
                      // Largest year the field holds.
                      DiffCase{65535, 1, 1, 65534, 1, 1, 365}));

TEST(DayDifferenceProperty, AgreesWithTheCalendarFrom1800On) {
  std::mt19937 rng(20240607);
  std::uniform_int_distribution<int> year(1800, 2300);
  std::uniform_int_distribution<int> month(1, 12);
  for (int i = 0; i < 2000; ++i) {
    const int y1 = year(rng), m1 = month(rng), y2 = year(rng), m2 = month(rng);
    const int d1 = 1 + static_cast<int>(rng() % 28), d2 = 1 + static_cast<int>(rng() % 28);
    DateTime a = D(y1, m1, d1), b = D(y2, m2, d2);
    ASSERT_EQ(a.DayDifference(b), ChronoDays(y1, m1, d1) - ChronoDays(y2, m2, d2))
        << y1 << "-" << m1 << "-" << d1 << " vs " << y2 << "-" << m2 << "-" << d2;
  }
}

TEST(DayDifferenceMonths, MonthZeroCountsAsJanuaryAndIsRaisedInBothOperands) {
  DateTime a = D(2010, 0, 15);
  DateTime b = D(2010, 1, 15);
  EXPECT_EQ(a.DayDifference(b), 0);
  EXPECT_EQ(a.month, 1);
  DateTime c = D(2010, 2, 1);
  DateTime d = D(2010, 0, 1);
  EXPECT_EQ(c.DayDifference(d), 31);
  EXPECT_EQ(d.month, 1);
  EXPECT_EQ(c.month, 2);
}

TEST(DayDifferenceMonths, MonthAboveTwelveCountsAsDecemberAndStays) {
  for (int month : {13, 99, 255}) {
    DateTime a = D(2010, month, 1);
    DateTime dec = D(2010, 12, 1);
    EXPECT_EQ(a.DayDifference(dec), 0) << month;
    EXPECT_EQ(a.month, month);
  }
}

TEST(DayDifferenceMonths, DayIsAddedAsItIs) {
  // No day validation: in a common year 31 February counts as 3 March.
  DateTime a = D(2001, 2, 31);
  DateTime b = D(2001, 3, 3);
  EXPECT_EQ(a.DayDifference(b), 0);
}

}  // namespace
