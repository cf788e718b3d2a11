// Date and time: the current time, the date copy, leap years and the day
// difference against the standard calendar (the layout is pinned where the
// types are declared).
#include "lib/timestmp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "platform/platform.h"

namespace {

DateTime D(int y, int m, int d) {
  return DateTime(static_cast<uint16_t>(y), static_cast<uint8_t>(m), static_cast<uint8_t>(d));
}

TEST(DateTime, ZeroIsNotSetAndSetDateClearsTheTime) {
  EXPECT_TRUE(DateTime(0, 0, 0).IsZero());
  EXPECT_FALSE(DateTime(0, 0, 0, 0, 0, 0, 1).IsZero());
  EXPECT_FALSE(DateTime(0, 1, 0).IsZero());
  DateTime t(1999, 5, 6, 7, 8, 9, 10);
  EXPECT_EQ(1, t.SetDate(CalendarDate{2004, 29, 2}));
  EXPECT_TRUE(t.year == 2004 && t.day == 29 && t.month == 2);
  EXPECT_TRUE(t.hour == 0 && t.minute == 0 && t.second == 0 && t.hundredths == 0);
  t.SetDate(CalendarDate{7, 200, 99});  // bytes go over as they are, also nonsense ones
  EXPECT_TRUE(t.year == 7 && t.day == 200 && t.month == 99);
}

TEST(DateTime, NowMatchesTheSystemLocalTime) {
  // Retried in the unlikely case that a second boundary falls between the
  // two readings.
  for (int attempt = 0; attempt < 3; ++attempt) {
    plat::SystemTime before{}, after{};
    plat::GetLocalTime(&before);
    DateTime now;
    plat::GetLocalTime(&after);
    if (before.second != after.second) continue;
    EXPECT_TRUE(now.year == after.year && now.month == after.month && now.day == after.day);
    EXPECT_TRUE(now.hour == after.hour && now.minute == after.minute && now.second == after.second);
    EXPECT_GE(now.hundredths, before.milliseconds / 10);
    EXPECT_LE(now.hundredths, after.milliseconds / 10);
    return;
  }
  ADD_FAILURE() << "clock kept crossing second boundaries";
}

TEST(DateTime, LeapYearsFollowTheGregorianRule) {
  for (auto [year, leap] : {std::pair{1900u, 0}, {2000u, 1}, {2004u, 1}, {2001u, 0}, {2100u, 0}, {2400u, 1},
                            {1800u, 0}, {1804u, 1}, {1996u, 1}, {0u, 1}, {65535u, 0}})
    EXPECT_EQ(DateTime::IsLeapYear(year), leap) << year;
}

TEST(DayDifference, AgreesWithTheCalendarFrom1800On) {
  using namespace std::chrono;
  auto days = [](int y, int m, int d) {
    return sys_days{year{y} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)}}.time_since_epoch().count();
  };
  std::mt19937 rng(20240607);
  for (int i = 0; i < 2000; ++i) {
    const int y1 = 1800 + rng() % 501, m1 = 1 + rng() % 12, d1 = 1 + rng() % 28;
    const int y2 = 1800 + rng() % 501, m2 = 1 + rng() % 12, d2 = 1 + rng() % 28;
    DateTime a = D(y1, m1, d1), b = D(y2, m2, d2);
    ASSERT_EQ(a.DayDifference(b), days(y1, m1, d1) - days(y2, m2, d2))
        << y1 << "-" << m1 << "-" << d1 << " vs " << y2 << "-" << m2 << "-" << d2;
  }
}

TEST(DayDifference, EdgesOfTheCount) {
  struct Case {
    int y1, m1, d1, y2, m2, d2;
    int32_t expected;
  };
  for (const Case& c : {Case{2000, 3, 1, 2000, 2, 28, 2}, Case{1900, 3, 1, 1900, 2, 28, 1},
                        Case{1999, 12, 31, 1999, 1, 1, 364}, Case{1999, 1, 1, 1999, 12, 31, -364},
                        Case{1801, 1, 1, 1800, 12, 31, 1}, Case{2024, 2, 29, 2024, 2, 29, 0},
                        // Before 1800 all years share one base, but a leap day still counts.
                        Case{1700, 5, 10, 1750, 5, 10, 0}, Case{1650, 6, 1, 1799, 5, 31, 1},
                        Case{1796, 3, 1, 1797, 3, 1, 1}, Case{65535, 1, 1, 65534, 1, 1, 365},
                        // No day validation: in a common year 31 February counts as 3 March.
                        Case{2001, 2, 31, 2001, 3, 3, 0},
                        // Month 0 counts as January, a month above 12 as December.
                        Case{2010, 0, 15, 2010, 1, 15, 0}, Case{2010, 2, 1, 2010, 0, 1, 31},
                        Case{2010, 13, 1, 2010, 12, 1, 0}, Case{2010, 255, 1, 2010, 12, 1, 0}}) {
    DateTime a = D(c.y1, c.m1, c.d1), b = D(c.y2, c.m2, c.d2);
    EXPECT_EQ(a.DayDifference(b), c.expected) << c.y1 << "-" << c.m1 << "-" << c.d1;
    // Month 0 is raised to 1 in both operands; months above 12 stay.
    EXPECT_EQ(a.month, c.m1 == 0 ? 1 : c.m1);
    EXPECT_EQ(b.month, c.m2 == 0 ? 1 : c.m2);
  }
}

}  // namespace
