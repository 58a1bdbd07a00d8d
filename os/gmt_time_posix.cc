// GMT calendar seconds by plain calendar arithmetic: no time zone is
// consulted, so the result is the same whatever TZ says.
#include "os/gmt_time.h"

namespace {

// Days from 1970-01-01 to the first of `month` (0 to 11) of `year` in the
// proleptic Gregorian calendar. Eras of 400 years repeat exactly.
int64_t days_from_civil(int64_t year, int64_t month) {
  int64_t m = month + 1;  // 1 to 12
  year -= m <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t year_of_era = year - era * 400;                         // 0 to 399
  int64_t day_of_year = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5;  // from March 1
  int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

}  // namespace

bool GMT_calendar_seconds(const CalendarTime& when, int64_t& seconds) {
  // Whole months carry into the year first, as mktime does; the other units
  // add up linearly. The parser gives 32-bit fields, far inside int64 here.
  int64_t year = when.year + when.month / 12;
  int64_t month = when.month % 12;
  if (month < 0) {
    month += 12;
    year -= 1;
  }
  int64_t days = days_from_civil(year, month) + when.day - 1;
  seconds = days * 86400 + when.hour * 3600 + when.minute * 60 + when.second;
  return true;
}
