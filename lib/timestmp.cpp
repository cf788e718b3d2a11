#include "lib/timestmp.h"

#include "platform/platform.h"

namespace {

// Days before the first of each month in a common year.
constexpr int32_t kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// Leap years in [1, year].
constexpr int32_t LeapYearsThrough(int32_t year) { return year / 4 - year / 100 + year / 400; }

}  // namespace

DateTime::DateTime() {
  plat::SystemTime now{};
  plat::GetLocalTime(&now);
  year = now.year;
  month = static_cast<uint8_t>(now.month);
  day = static_cast<uint8_t>(now.day);
  hour = static_cast<uint8_t>(now.hour);
  minute = static_cast<uint8_t>(now.minute);
  second = static_cast<uint8_t>(now.second);
  hundredths = static_cast<uint8_t>(now.milliseconds / 10);
}

int DateTime::SetDate(const CalendarDate& date) {
  *this = DateTime(date.year, date.month, date.day);
  return 1;
}

int DateTime::IsLeapYear(uint32_t y) {
  if (y % 4 != 0) return 0;
  if (y % 100 != 0) return 1;
  return y % 400 == 0 ? 1 : 0;
}

int32_t DateTime::DayCount() {
  int32_t count = 0;
  if (year > 1800) {
    // 365 per year from 1800 to year - 1 plus one per leap year among them.
    const int32_t y = year;
    count = 365 * (y - 1800) + LeapYearsThrough(y - 1) - LeapYearsThrough(1799);
  }
  if (IsLeapYear(year) && month > 2) count += 1;
  if (month < 1) month = 1;
  // A month above 12 has no entry of its own; it counts as December and is
  // left as it is, so a bad date still yields a bounded count.
  const int index = month > 12 ? 11 : month - 1;
  count += kDaysBeforeMonth[index];
  count += day;
  return count;
}

int32_t DateTime::DayDifference(DateTime& other) {
  const int32_t mine = DayCount();
  return mine - other.DayCount();
}
