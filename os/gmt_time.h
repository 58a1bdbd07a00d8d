// Seconds since 1970 of a calendar date and time taken as GMT: the part of
// parse_GMT_date that depends on the operating system.
#pragma once

#include <cstdint>

// A date and time as written, not yet normalised: day 0 or hour 25 carry
// into the neighbouring units as with mktime.
struct CalendarTime {
  int64_t year;   // full year, such as 1994
  int64_t month;  // 0 for January to 11 for December
  int64_t day;    // day of the month, 1 for the first
  int64_t hour;   // hours, minutes and seconds of the day
  int64_t minute;
  int64_t second;
};

// Sets `seconds` to the seconds from 1970-01-01 00:00:00 UTC to `when` read
// as GMT (negative before 1970), whatever the machine's time zone; returns
// false when the date cannot be converted.
bool GMT_calendar_seconds(const CalendarTime& when, int64_t& seconds);
