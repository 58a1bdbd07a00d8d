// The first pass's survey of a log for the workbook: time displays and the
// summary's counts.
#include "convert/log_survey.h"

#include <cstdlib>
#include <cstring>

#include "convert/cell_kind.h"

const BandRow band_rows[] = {{"2190m", 0.1357, 0.1378},
                             {"630m", 0.472, 0.479},
                             {"560m", 0.501, 0.504},
                             {"160m", 1.8, 2.0},
                             {"80m", 3.5, 4.0},
                             {"60m", 5.06, 5.45},
                             {"40m", 7.0, 7.3},
                             {"30m", 10.1, 10.15},
                             {"20m", 14.0, 14.35},
                             {"17m", 18.068, 18.168},
                             {"15m", 21.0, 21.45},
                             {"12m", 24.89, 24.99},
                             {"10m", 28.0, 29.7},
                             {"8m", 40.0, 45.0},
                             {"6m", 50.0, 54.0},
                             {"5m", 54.000001, 69.9},
                             {"4m", 70.0, 71.0},
                             {"2m", 144.0, 148.0},
                             {"1.25m", 222.0, 225.0},
                             {"70cm", 420.0, 450.0},
                             {"33cm", 902.0, 928.0},
                             {"23cm", 1240.0, 1300.0},
                             {"13cm", 2300.0, 2450.0},
                             {"9cm", 3300.0, 3500.0},
                             {"6cm", 5650.0, 5925.0},
                             {"3cm", 10000.0, 10500.0},
                             {"1.25cm", 24000.0, 24250.0},
                             {"6mm", 47000.0, 47200.0},
                             {"4mm", 75500.0, 81000.0},
                             {"2.5mm", 119980.0, 123000.0},
                             {"2mm", 134000.0, 149000.0},
                             {"1mm", 241000.0, 250000.0},
                             {"submm", 300000.0, 7500000.0},
                             {nullptr, 0, 0}};

static_assert(sizeof band_rows / sizeof band_rows[0] == survey_bands + 1, "a row per band");

namespace {

constexpr uint32_t first_buckets = 1024;

// Makes an empty set of `limit` hashes at most; false when memory runs out.
bool init_set(HashSet& set, uint32_t limit) {
  set = HashSet{};
  set.slots = static_cast<uint64_t*>(std::calloc(first_buckets, sizeof(uint64_t)));
  set.buckets = first_buckets;
  set.limit = limit;
  return set.slots != nullptr;
}

// Puts `hash` into the first free slot from its own on (for a table that
// does not hold it).
void place(uint64_t* slots, uint32_t buckets, uint64_t hash) {
  uint32_t at = static_cast<uint32_t>(hash) & (buckets - 1);
  while (slots[at] && slots[at] != hash) at = (at + 1) & (buckets - 1);
  slots[at] = hash;
}

// Adds `hash` (not 0); false when memory for a bigger table ran out.
bool add_hash(HashSet& set, uint64_t hash) {
  uint32_t at = static_cast<uint32_t>(hash) & (set.buckets - 1);
  while (set.slots[at]) {
    if (set.slots[at] == hash) return true;
    at = (at + 1) & (set.buckets - 1);
  }
  if (set.held >= set.limit) {
    set.full = true;
    return true;
  }
  set.slots[at] = hash;
  if (++set.held * 2 <= set.buckets) return true;
  uint32_t buckets = set.buckets * 2;
  auto* slots = static_cast<uint64_t*>(std::calloc(buckets, sizeof(uint64_t)));
  if (!slots) return false;
  for (uint32_t i = 0; i < set.buckets; ++i) {
    if (set.slots[i]) place(slots, buckets, set.slots[i]);
  }
  std::free(set.slots);
  set.slots = slots;
  set.buckets = buckets;
  return true;
}

// A 64-bit hash of a value upper-cased, spaces around it left out; never 0.
uint64_t value_hash(const char* value, size_t length) {
  while (length && value[length - 1] == ' ') --length;
  while (length && *value == ' ') ++value, --length;
  uint64_t hash = 0xCBF29CE484222325u ^ length;
  for (size_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(value[i]);
    if (byte >= 'a' && byte <= 'z') byte = static_cast<unsigned char>(byte - 'a' + 'A');
    hash = (hash ^ byte) * 0x100000001B3u;
  }
  hash ^= hash >> 29;
  return hash ? hash : 1;
}

// The column of mode `value` (upper-cased, cut to 15 bytes), added when new.
int mode_column(LogSurvey& survey, const char* value, size_t length) {
  char name[16] = "(NONE)";
  if (length) {
    if (length > 15) length = 15;
    for (size_t i = 0; i < length; ++i) {
      char byte = value[i];
      name[i] = byte >= 'a' && byte <= 'z' ? static_cast<char>(byte - 'a' + 'A') : byte;
    }
    name[length] = '\0';
  }
  for (int column = 0; column < survey.mode_count; ++column) {
    if (std::strcmp(survey.mode_names[column], name) == 0) return column;
  }
  if (survey.mode_count == survey_modes - 1) {
    std::memcpy(survey.mode_names[survey_modes - 1], "OTHER", 6);
    survey.mode_count = survey_modes;
  }
  if (survey.mode_count == survey_modes) return survey_modes - 1;
  std::memcpy(survey.mode_names[survey.mode_count], name, sizeof name);
  return survey.mode_count++;
}

// The fields the shortcut slots lack: TIME_OFF, FREQ and COUNTRY.
struct OtherFields {
  const AdifField* time_off;
  const AdifField* freq;
  const AdifField* country;
};

// Finds them in one walk of a listed record's fields, by name hash.
OtherFields other_fields(const AdifRecord* record) {
  // (The hash's key is the process's own: known when it runs, not before.)
  static const uint32_t time_off_hash = field_name_hash("TIME_OFF", 8);
  static const uint32_t freq_hash = field_name_hash("FREQ", 4);
  static const uint32_t country_hash = field_name_hash("COUNTRY", 7);
  OtherFields found{};
  if (!record->fields) {
    found.time_off = find_record_field(record, "TIME_OFF");
    found.freq = find_record_field(record, "FREQ");
    found.country = find_record_field(record, "COUNTRY");
    return found;
  }
  for (const AdifField* field = record->fields; field; field = field->next) {
    uint32_t hash = field->name_hash ? field->name_hash
                                     : field_name_hash(field->name, std::strlen(field->name));
    if (hash == time_off_hash && is_name(field->name, "TIME_OFF")) found.time_off = field;
    if (hash == freq_hash && is_name(field->name, "FREQ")) found.freq = field;
    if (hash == country_hash && is_name(field->name, "COUNTRY")) found.country = field;
  }
  return found;
}

// True when `field` (may be null) is a real time of six digits.
bool has_seconds(const AdifField* field) {
  int hour, minute, second;
  return field && field->length == 6 && read_time(field->value, 6, hour, minute, second);
}

// The band row of `record`: by its BAND, else by its FREQ (may be null).
int band_of(const AdifRecord* record, const AdifField* freq) {
  if (record->band) {
    int row = band_row_named(record->band->value, static_cast<size_t>(record->band->length));
    if (row != survey_no_band) return row;
  }
  double megahertz;
  int decimals, digits;
  if (freq &&
      read_number(freq->value, static_cast<size_t>(freq->length), megahertz, decimals, digits)) {
    return band_row_of_frequency(megahertz);
  }
  return survey_no_band;
}

// Counts the QSO_DATE `date` (may be null) into the dates and years.
void count_date(LogSurvey& survey, const AdifField* date) {
  int year, month, day;
  if (!date || !read_date(date->value, static_cast<size_t>(date->length), year, month, day)) {
    ++survey.undated;
    return;
  }
  int32_t ymd = year * 10000 + month * 100 + day;
  if (!survey.first_date || ymd < survey.first_date) survey.first_date = ymd;
  if (ymd > survey.last_date) survey.last_date = ymd;
  if (year - survey_first_year < survey_years) {
    ++survey.by_year[year - survey_first_year];
  } else {
    ++survey.undated;  // so that the years add up to the QSOs
  }
}

// Marks the entity of the DXCC field `dxcc` (may be null) as seen.
void count_dxcc(LogSurvey& survey, const AdifField* dxcc) {
  if (!dxcc) return;
  survey.has_dxcc = true;
  double number;
  int decimals, digits;
  if (read_number(dxcc->value, static_cast<size_t>(dxcc->length), number, decimals, digits) &&
      decimals == 0 && number >= 1 && number < 1024) {
    auto entity = static_cast<unsigned>(number);
    survey.dxcc_seen[entity / 64] |= uint64_t{1} << (entity % 64);
  }
}

}  // namespace

int band_row_named(const char* name, size_t length) {
  for (int row = 0; band_rows[row].name; ++row) {
    const char* band = band_rows[row].name;
    size_t i = 0;
    while (i < length && band[i] && (name[i] | 0x20) == band[i]) ++i;
    if (i == length && !band[i]) return row;
  }
  return survey_no_band;
}

int band_row_of_frequency(double megahertz) {
  for (int row = 0; band_rows[row].name; ++row) {
    if (megahertz >= band_rows[row].lowest && megahertz <= band_rows[row].highest) return row;
  }
  return survey_no_band;
}

bool init_log_survey(LogSurvey& survey) {
  survey = LogSurvey{};
  bool made =
      init_set(survey.calls, survey_call_limit) && init_set(survey.countries, survey_country_limit);
  if (!made) free_log_survey(survey);
  return made;
}

void free_log_survey(LogSurvey& survey) {
  std::free(survey.calls.slots);
  std::free(survey.countries.slots);
  survey.calls = HashSet{};
  survey.countries = HashSet{};
}

void survey_record(LogSurvey& survey, const AdifRecord* record) {
  ++survey.records;
  OtherFields other = other_fields(record);
  if (!survey.time_on_seconds) survey.time_on_seconds = has_seconds(record->time_on);
  if (!survey.time_off_seconds) survey.time_off_seconds = has_seconds(other.time_off);
  const AdifField* mode = record->mode;
  int column = mode_column(survey, mode ? mode->value : "", mode ? mode->length : 0);
  ++survey.by_band_mode[band_of(record, other.freq)][column];
  count_date(survey, record->qso_date);
  count_dxcc(survey, record->dxcc);
  const AdifField* call = record->call;
  if (call && call->length &&
      !add_hash(survey.calls, value_hash(call->value, static_cast<size_t>(call->length)))) {
    survey.out_of_memory = true;
  }
  if (other.country) {
    survey.has_country = true;
    auto length = static_cast<size_t>(other.country->length);
    if (length && !add_hash(survey.countries, value_hash(other.country->value, length))) {
      survey.out_of_memory = true;
    }
  }
}

int survey_dxcc_count(const LogSurvey& survey) {
  int count = 0;
  for (uint64_t bits : survey.dxcc_seen) count += __builtin_popcountll(bits);
  return count;
}
