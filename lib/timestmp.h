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

#include "lib/natural_layout.h"

// The host reads these bytes directly; the layouts must not move.
#define SCP_CALENDAR_DATE_MEMBERS(X) X(year, uint16_t) X(day, uint8_t) X(month, uint8_t)
#define SCP_DATE_TIME_MEMBERS(X) \
  SCP_CALENDAR_DATE_MEMBERS(X) X(minute, uint8_t) X(hour, uint8_t) X(hundredths, uint8_t) X(second, uint8_t)

struct CalendarDate {
  SCP_CALENDAR_DATE_MEMBERS(SCP_DECLARE_MEMBER)
};

struct DateTime {
  SCP_DATE_TIME_MEMBERS(SCP_DECLARE_MEMBER)

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

SCP_CHECK_LAYOUT(CalendarDate, SCP_CALENDAR_DATE_MEMBERS, 4, 4)
SCP_CHECK_LAYOUT(DateTime, SCP_DATE_TIME_MEMBERS, 8, 8)
