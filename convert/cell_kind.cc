// Cell kinds and the value checks behind typed spreadsheet cells.
#include "convert/cell_kind.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adif/adif.h"

const char* const number_field_names[] = {
    "FREQ", "FREQ_RX",    "TX_PWR",      "RX_PWR",  "DISTANCE", "ANT_AZ",  "ANT_EL",
    "AGE",  "SFI",        "A_INDEX",     "K_INDEX", "DXCC",     "MY_DXCC", "CQZ",
    "ITUZ", "MY_CQ_ZONE", "MY_ITU_ZONE", "SRX",     "STX",      nullptr};

namespace {

bool all_digits(const char* value, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (value[i] < '0' || value[i] > '9') return false;
  }
  return true;
}

// The number of the `count` digits at `digits`.
int digits_value(const char* digits, int count) {
  int number = 0;
  for (int i = 0; i < count; ++i) number = number * 10 + (digits[i] - '0');
  return number;
}

int days_in_month(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

// Writes `number` as `count` digits, zeros in front, at `out`.
void put_digits(int number, int count, char* out) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + number % 10);
    number /= 10;
  }
}

}  // namespace

CellKind column_kind(const char* name) {
  size_t length = std::strlen(name);
  if (length >= 4 && std::memcmp(name + length - 4, "DATE", 4) == 0) return CELL_DATE;
  if (is_name(name, "QSO_DATE_OFF")) return CELL_DATE;
  if (is_name(name, "TIME_ON") || is_name(name, "TIME_OFF")) return CELL_TIME;
  for (const char* const* number = number_field_names; *number; ++number) {
    if (is_name(name, *number)) return CELL_NUMBER;
  }
  return CELL_TEXT;
}

bool read_date(const char* value, size_t length, int& year, int& month, int& day) {
  if (length != 8 || !all_digits(value, length)) return false;
  int y = digits_value(value, 4), m = digits_value(value + 4, 2), d = digits_value(value + 6, 2);
  if (y < 1900 || m < 1 || m > 12 || d < 1 || d > days_in_month(y, m)) return false;
  year = y;
  month = m;
  day = d;
  return true;
}

bool read_time(const char* value, size_t length, int& hour, int& minute, int& second) {
  if ((length != 4 && length != 6) || !all_digits(value, length)) return false;
  int h = digits_value(value, 2), m = digits_value(value + 2, 2);
  int s = length == 6 ? digits_value(value + 4, 2) : 0;
  if (h > 23 || m > 59 || s > 59) return false;
  hour = h;
  minute = m;
  second = s;
  return true;
}

bool read_number(const char* value, size_t length, double& number, int& decimals,
                 int& integer_digits) {
  // The first 15 significant digits make an integer a double holds exactly;
  // one multiplication or division by an exact power of ten then gives the
  // nearest double, and strtod the rest.
  static const double powers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* end = value + length;
  const char* c = value;
  bool negative = c != end && *c == '-';
  if (c != end && (*c == '-' || *c == '+')) ++c;
  const char* integer = c;
  while (c != end && *c >= '0' && *c <= '9') ++c;
  int whole_digits = static_cast<int>(c - integer);
  int places = 0;
  if (c != end && *c == '.') {
    const char* fraction = ++c;
    while (c != end && *c >= '0' && *c <= '9') ++c;
    places = static_cast<int>(c - fraction);
    if (places == 0) return false;
  }
  if (c != end || whole_digits + places == 0) return false;
  int64_t kept = 0;
  int significant = 0;
  int next_digit = 0;  // the first digit past the 15th significant one
  for (const char* d = integer; d != end; ++d) {
    if (*d == '.' || (significant == 0 && *d == '0')) continue;
    if (++significant <= 15) {
      kept = kept * 10 + (*d - '0');
    } else if (significant == 16) {
      next_digit = *d - '0';
    }
  }
  if (negative && significant == 0) return false;
  int dropped = significant > 15 ? significant - 15 : 0;
  if (next_digit >= 5) ++kept;
  int exponent = dropped - places;
  double magnitude;
  if (exponent >= 0 && exponent <= 22) {
    magnitude = static_cast<double>(kept) * powers[exponent];
  } else if (exponent < 0 && exponent >= -22) {
    magnitude = static_cast<double>(kept) / powers[-exponent];
  } else {
    char text[48];
    std::snprintf(text, sizeof text, "%llde%d", static_cast<long long>(kept), exponent);
    magnitude = std::strtod(text, nullptr);
  }
  number = negative ? -magnitude : magnitude;
  decimals = exponent < 0 ? -exponent : 0;
  for (int64_t rest = kept; dropped && decimals > 0 && rest % 10 == 0; rest /= 10) --decimals;
  integer_digits = whole_digits > 1 && *integer == '0' ? whole_digits : 1;
  return true;
}

bool read_date_time(const char* value, size_t length, int& year, int& month, int& day, int& hour,
                    int& minute, int& second) {
  if (length > 0 && value[length - 1] == 'Z') --length;
  if ((length != 16 && length != 19) || value[4] != '-' || value[7] != '-' ||
      (value[10] != ' ' && value[10] != 'T') || value[13] != ':' ||
      (length == 19 && value[16] != ':')) {
    return false;
  }
  char date[8];
  char time[6];
  std::memcpy(date, value, 4);
  std::memcpy(date + 4, value + 5, 2);
  std::memcpy(date + 6, value + 8, 2);
  std::memcpy(time, value + 11, 2);
  std::memcpy(time + 2, value + 14, 2);
  if (length == 19) std::memcpy(time + 4, value + 17, 2);
  int y, mo, d, h, mi, s;
  if (!read_date(date, 8, y, mo, d) || !read_time(time, length == 19 ? 6 : 4, h, mi, s)) {
    return false;
  }
  year = y;
  month = mo;
  day = d;
  hour = h;
  minute = mi;
  second = s;
  return true;
}

size_t iso_date_text(int year, int month, int day, char* out) {
  put_digits(year, 4, out);
  out[4] = '-';
  put_digits(month, 2, out + 5);
  out[7] = '-';
  put_digits(day, 2, out + 8);
  out[10] = '\0';
  return 10;
}
