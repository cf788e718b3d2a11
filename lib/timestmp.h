// Date and time values of the test record.
//
// DateTime is 8 bytes shared with the host as part of the test record:
// year (u16), day, month, minute, hour, hundredths, second, in that order.
// Read as four little-endian 16-bit words it is year, month * 256 + day,
// hour * 256 + minute, second * 256 + hundredths. All bytes zero means
// "not set". CalendarDate is the date half (the first four bytes) alone.
#pragma once

#include <cstddef>
#include <cstdint>

struct CalendarDate {
  uint16_t year = 0;
  uint8_t day = 0;
  uint8_t month = 0;
};

struct DateTime {
  uint16_t year;
  uint8_t day;
  uint8_t month;
  uint8_t minute;
  uint8_t hour;
  uint8_t hundredths;
  uint8_t second;

  // The machine's current local date and time; hundredths are the
  // system's milliseconds / 10.
  DateTime();
  // An explicit value; DateTime(0, 0, 0) is the "not set" value.
  constexpr DateTime(uint16_t y, uint8_t mon, uint8_t d, uint8_t h = 0, uint8_t min = 0,
                     uint8_t s = 0, uint8_t hs = 0)
      : year(y), day(d), month(mon), minute(min), hour(h), hundredths(hs), second(s) {}

  // Takes year, day and month from the date (as they are) and sets the
  // time to midnight. Returns 1.
  int SetDate(const CalendarDate& date);

  // Day count of this value minus the day count of other. Either value's
  // month is raised to 1 when it is 0, so both operands may change.
  int32_t DayDifference(DateTime& other);

  // 1 for a leap year of the Gregorian calendar, else 0.
  static int IsLeapYear(uint32_t year);

  // Day count since the start of 1800 as DayDifference forms it (years up
  // to 1800 all share the same base). Raises a month of 0 to 1.
  int32_t DayCount();

  bool IsZero() const {
    return year == 0 && day == 0 && month == 0 && minute == 0 && hour == 0 && hundredths == 0 &&
           second == 0;
  }
  CalendarDate Date() const { return CalendarDate{year, day, month}; }
};

// The host reads these bytes directly; the layout must not move.
static_assert(sizeof(CalendarDate) == 4);
static_assert(offsetof(CalendarDate, year) == 0 && offsetof(CalendarDate, day) == 2 &&
              offsetof(CalendarDate, month) == 3);
static_assert(sizeof(DateTime) == 8);
static_assert(offsetof(DateTime, year) == 0 && offsetof(DateTime, day) == 2 &&
              offsetof(DateTime, month) == 3 && offsetof(DateTime, minute) == 4 &&
              offsetof(DateTime, hour) == 5 && offsetof(DateTime, hundredths) == 6 &&
              offsetof(DateTime, second) == 7);
