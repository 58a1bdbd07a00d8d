// Cell kinds: what the values of a column become in a spreadsheet, decided
// once per column by its name, and the checks a value must pass to be written
// as a date, a time, a number or (in any column) a date and time rather than
// as text.
#pragma once

#include <cstddef>

// The kind of a column's cells.
enum CellKind {
  CELL_TEXT = 0,   // every value a text cell
  CELL_DATE = 1,   // YYYYMMDD values of real dates are date cells
  CELL_TIME = 2,   // HHMM and HHMMSS values of real times are time cells
  CELL_NUMBER = 3  // plain decimals are number cells
};

// The names of the number fields, ended by a null entry.
extern const char* const number_field_names[];

// Returns the kind of the column named `name`: CELL_DATE for QSO_DATE_OFF and
// every name ending in DATE, CELL_TIME for TIME_ON and TIME_OFF, CELL_NUMBER
// for the names of number_field_names, otherwise CELL_TEXT.
CellKind column_kind(const char* name);

// Returns true when the `length` bytes at `value` are exactly 8 digits YYYYMMDD
// of a real calendar date from 1900-01-01 on, and then sets `year`, `month`
// and `day`; leaves them untouched otherwise.
bool read_date(const char* value, size_t length, int& year, int& month, int& day);

// Returns true when the `length` bytes at `value` are exactly 4 digits HHMM or
// 6 digits HHMMSS of a real time (hours 00-23, minutes and seconds 00-59), and
// then sets `hour`, `minute` and `second` (0 for 4 digits).
bool read_time(const char* value, size_t length, int& hour, int& minute, int& second);

// Returns true when the `length` bytes at `value` are a plain decimal: an
// optional sign, digits (leading zeros allowed), and an optional point with
// digits after it (".5" is one, "5." is not), not a negative zero. Then sets
// `number` to its value, rounded to 15 significant digits when it has more,
// `decimals` to the decimals to show (those written, fewer when the rounding
// cut some off, and never the zeros it left at the end) and `integer_digits`
// to the integer digits to show (those written when there are leading zeros,
// as in 05, else 1).
bool read_number(const char* value, size_t length, double& number, int& decimals,
                 int& integer_digits);

// Returns true when the `length` bytes at `value` are an ISO date and time
// of a real date from 1900 on: YYYY-MM-DD, a space or T, HH:MM or HH:MM:SS,
// and an optional Z; then sets its parts (`second` 0 without seconds).
bool read_date_time(const char* value, size_t length, int& year, int& month, int& day, int& hour,
                    int& minute, int& second);

// Writes the ISO text of a date, such as 2024-01-05, and a NUL at `out` (at
// least 11 bytes); `year` must be 0 to 9999. Returns the length, 10.
size_t iso_date_text(int year, int month, int day, char* out);
