// The CSV record writer: one line per record, one cell per column.
#include <cstring>

#include "convert/convert.h"

namespace {

const char* const month_names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void put_text(FILE* output, const char* text, size_t length) {
  if (length) std::fwrite(text, 1, length, output);
}

// TIME_ON and TIME_OFF are always quoted, so a spreadsheet keeps their
// leading zeros.
bool is_time_name(const char* name) {
  return std::strcmp(name, "TIME_ON") == 0 || std::strcmp(name, "TIME_OFF") == 0;
}

}  // namespace

void write_CSV_text(FILE* output, const char* value, bool always_quoted) {
  bool quoted = always_quoted || value[std::strcspn(value, ",'\r\n\"")] != '\0';
  if (quoted) std::fputc('"', output);
  for (;;) {
    const char* quote = std::strchr(value, '"');
    if (!quote) {
      put_text(output, value, std::strlen(value));
      break;
    }
    put_text(output, value, static_cast<size_t>(quote - value) + 1);
    std::fputc('"', output);
    value = quote + 1;
  }
  if (quoted) std::fputc('"', output);
}

bool QSO_date_has_month(int date) {
  int month = (date / 100) % 100;
  return month >= 1 && month <= 12;
}

void format_QSO_date(FILE* output, int date) {
  if (!QSO_date_has_month(date)) {
    std::fprintf(output, "%d", date);
    return;
  }
  std::fprintf(output, "%d-%s-%d", date % 100, month_names[(date / 100) % 100 - 1], date / 10000);
}

void write_CSV_record(FILE* output, const AdifRecord* record, const ColumnList& columns) {
  for (char** column = columns.names; column && *column; ++column) {
    if (column != columns.names) std::fputc(',', output);
    const AdifField* field = find_field(record->root, *column);
    if (!field) continue;
    if (std::strcmp(field->name, "QSO_DATE") == 0) {
      int date = parse_decimal(field->value);
      // A date without a real month keeps its stored text, so nothing is lost.
      if (QSO_date_has_month(date)) {
        format_QSO_date(output, date);
        continue;
      }
    }
    write_CSV_text(output, field->value, is_time_name(field->name));
  }
  std::fputc('\n', output);
}
