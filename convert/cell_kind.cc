// Cell kinds and the value checks behind typed spreadsheet cells.
#include "convert/cell_kind.h"

#include <cstdint>
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

bool read_number(const char* value, size_t length, double& number, int& decimals) {
  // At most 15 digits, so the digits make an integer a double holds exactly
  // and one division by an exact power of ten gives the nearest double.
  static const double powers[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const char* end = value + length;
  const char* c = value;
  bool negative = c != end && *c == '-';
  if (negative) ++c;
  const char* integer = c;
  while (c != end && *c >= '0' && *c <= '9') ++c;
  size_t integer_digits = static_cast<size_t>(c - integer);
  if (integer_digits == 0 || (integer_digits > 1 && *integer == '0')) return false;
  const char* fraction = c;
  if (c != end && *c == '.') {
    fraction = ++c;
    while (c != end && *c >= '0' && *c <= '9') ++c;
    if (c == fraction) return false;
  }
  if (c != end) return false;
  int places = static_cast<int>(c - fraction);
  if (integer_digits + static_cast<size_t>(places) > 15) return false;
  int64_t digits = 0;
  for (const char* d = integer; d != c; ++d) {
    if (*d != '.') digits = digits * 10 + (*d - '0');
  }
  if (negative && digits == 0) return false;
  number = static_cast<double>(negative ? -digits : digits) / powers[places];
  decimals = places;
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
