// GMT calendar seconds on Windows: mktime reads the date as local standard
// time, and the standard offset of the zone that mktime used takes it back
// to GMT.
#include <windows.h>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "os/gmt_time.h"

namespace {

bool fits_int(int64_t value) { return value >= INT_MIN && value <= INT_MAX; }

// Seconds by which UTC is ahead of local standard time, as mktime sees it.
// Without TZ the runtime takes its zone from GetTimeZoneInformation, and so
// does this. With TZ set (as Unix-like shells and Wine do) the runtime
// follows TZ instead, and only its own offset matches what mktime did.
int64_t standard_offset() {
  const char* tz = std::getenv("TZ");
  if (tz && *tz) {
    _tzset();
    return _timezone;
  }
  TIME_ZONE_INFORMATION zone{};
  GetTimeZoneInformation(&zone);
  int64_t minutes = zone.Bias;
  if (zone.StandardDate.wMonth != 0) minutes += zone.StandardBias;
  return minutes * 60;
}

}  // namespace

bool GMT_calendar_seconds(const CalendarTime& when, int64_t& seconds) {
  // The date goes in one day late and the day comes off the result again:
  // a first of January 1970 east of Greenwich would otherwise be a local
  // time before 1970, which mktime refuses.
  int64_t year = when.year - 1900;
  int64_t day = when.day + 1;
  if (!fits_int(year) || !fits_int(when.month) || !fits_int(day) || !fits_int(when.hour) ||
      !fits_int(when.minute) || !fits_int(when.second)) {
    return false;
  }
  std::tm calendar{};  // tm_isdst 0: standard time all year
  calendar.tm_year = static_cast<int>(year);
  calendar.tm_mon = static_cast<int>(when.month);
  calendar.tm_mday = static_cast<int>(day);
  calendar.tm_hour = static_cast<int>(when.hour);
  calendar.tm_min = static_cast<int>(when.minute);
  calendar.tm_sec = static_cast<int>(when.second);
  int64_t offset = standard_offset();
  std::time_t local = std::mktime(&calendar);
  if (local == static_cast<std::time_t>(-1)) return false;
  seconds = static_cast<int64_t>(local) - offset - 86400;
  return true;
}
