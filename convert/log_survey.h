// What the first pass learns of a log beyond its columns, for a workbook:
// whether its times have seconds, and the counts of its summary sheet (QSOs
// by band and mode, per year, first and last date, distinct calls, DXCC
// entities and countries). Memory is bounded: the distinct calls are
// counted exactly up to survey_call_limit, as 64-bit hashes (4 MiB at most).
#pragma once

#include <cstdint>

#include "adif/adif.h"

// Distinct calls counted exactly; past this the summary says "at least".
constexpr uint32_t survey_call_limit = 262144;
// Distinct countries counted exactly.
constexpr uint32_t survey_country_limit = 4096;
// Modes given a column of their own; the others share the last one.
constexpr int survey_modes = 24;
// Years counted: 1900 to 2099.
constexpr int survey_first_year = 1900;
constexpr int survey_years = 200;

// A set of 64-bit hashes, open-addressed, grown up to a limit.
struct HashSet {
  uint64_t* slots;   // 0 marks an empty slot
  uint32_t buckets;  // a power of two
  uint32_t held;
  uint32_t limit;  // hashes held at most
  bool full;       // a hash was not added: `held` is a lower bound
};

// The bands in order, longest wave first, with their edges in MHz; ended by
// a null name.
struct BandRow {
  const char* name;
  double lowest;
  double highest;
};
extern const BandRow band_rows[];
// Rows of band_rows, and the row for QSOs of no known band.
constexpr int survey_bands = 33;
constexpr int survey_no_band = survey_bands;

// What the first pass counted. Zero-filled, then init_log_survey.
struct LogSurvey {
  int64_t records;
  bool time_on_seconds;   // a TIME_ON value has six digits
  bool time_off_seconds;  // a TIME_OFF value has six digits
  int32_t first_date;     // YYYYMMDD of the earliest real QSO_DATE, or 0
  int32_t last_date;      // and of the latest
  int64_t by_band_mode[survey_bands + 1][survey_modes];
  char mode_names[survey_modes][16];  // upper-cased; "" when unused; the last is "OTHER"
  int mode_count;                     // columns used
  int64_t by_year[survey_years];
  int64_t undated;         // records without a real QSO_DATE of 1900 to 2099
  HashSet calls;           // upper-cased CALL values
  bool has_dxcc;           // some record has a DXCC field
  uint64_t dxcc_seen[16];  // bits of DXCC entity numbers 0 to 1023
  bool has_country;        // some record has a COUNTRY field
  HashSet countries;       // upper-cased COUNTRY values
  bool out_of_memory;      // a set could not grow: the counts are not whole
};

// Makes the sets of an empty survey; false when memory runs out.
bool init_log_survey(LogSurvey& survey);

// Releases the sets.
void free_log_survey(LogSurvey& survey);

// Counts `record` (pass 1).
void survey_record(LogSurvey& survey, const AdifRecord* record);

// Returns the number of distinct DXCC entities seen.
int survey_dxcc_count(const LogSurvey& survey);

// Returns the row of band_rows for the band named `name` (`length` bytes, any
// case), or survey_no_band.
int band_row_named(const char* name, size_t length);

// Returns the row of band_rows whose edges hold `megahertz`, or survey_no_band.
int band_row_of_frequency(double megahertz);
