// Fuzz harness for the whole two-pass conversion: arbitrary bytes converted
// from a memory stream into a memory stream.
//
// Checked: pass 1 counts as many records as pass 2 writes; the CSV text reads
// back under RFC 4180 with the header's cell count in every row and one row
// per record; each row states its record (every cell is the record's value of
// that column, or empty when the record lacks it, and the date column holds
// the day-month-year form or, without a real month, the stored text); every
// name of every record is a column and no column is named twice; list 2 of
// the log holds the texts of pass 1, then the same texts again from pass 2,
// and the other lists stay empty.
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "adif/adif.h"
#include "convert/convert.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Returns list `list` of `log` oldest first.
std::vector<std::string> lines_of(const MessageLog& log, int list) {
  std::vector<std::string> lines;
  for (const MessageLine* line = log.lists[list]; line; line = line->next) {
    FUZZ_CHECK(line->text != nullptr && line->count == 0);
    lines.insert(lines.begin(), line->text);
  }
  return lines;
}

// The records of the input as the conversion sees them: each pending record
// at an end of record, until the input ends or a line is too long. The
// caller releases them with free_record.
std::vector<AdifRecord*> read_records(const uint8_t* data, size_t size) {
  std::vector<AdifRecord*> records;
  MemoryInput input(data, size);
  FUZZ_CHECK(input.stream != nullptr);
  AdifReader reader{};
  FUZZ_CHECK(adif_reader_open(reader, input.stream, TEXT_BYTES));
  AdifRecord* record = nullptr;
  char* message = nullptr;
  for (;;) {
    ParseStatus status = read_ADIF(reader, record, message);
    std::free(message);
    message = nullptr;
    if (status == ADIF_EOR && record) records.push_back(record);
    if (status == ADIF_EOR || status == ADIF_EOH) {
      if (!records.empty() && records.back() == record) {
        record = nullptr;
      } else {
        free_record(record);
        record = nullptr;
      }
    }
    if (status == ADIF_EOF || status == ADIF_TRUNCATED) break;
  }
  free_record(record);
  adif_reader_close(reader);
  return records;
}

// The cell that a record's date value gives: day-month-year when its month
// digits are 1 to 12, else the value as stored.
std::string date_cell(const char* value) {
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int32_t date = parse_decimal(value);
  int month = (date / 100) % 100;
  if (month < 1 || month > 12) return value;
  char cell[64];
  std::snprintf(cell, sizeof cell, "%d-%s-%d", static_cast<int>(date % 100), months[month - 1],
                static_cast<int>(date / 10000));
  return cell;
}

// The block reader lists a record's fields instead of building a tree.
void collect_names(const AdifRecord* record, std::vector<const char*>& names) {
  for (const AdifField* field = record->fields; field; field = field->next) {
    names.push_back(field->name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryInput input(data, size);
  MemoryOutput output;
  FUZZ_CHECK(input.stream && output.stream);
  MessageLog log{};
  ParseStatus end_status = ADIF_CONTINUE;
  int written = convert_ADIF_file(input.stream, output.stream, log, &end_status);
  FUZZ_CHECK(end_status == ADIF_EOF || end_status == ADIF_TRUNCATED);
  std::string csv = output.text();

  // Pass 1 on its own: the same count and the same texts as the first half.
  std::rewind(input.stream);
  ColumnList columns{};
  FUZZ_CHECK(init_column_list(columns));
  MessageLog first_log{};
  int collected = process_ADIF_records(input.stream, nullptr, columns, true, first_log);
  FUZZ_CHECK(collected == written);

  std::vector<std::string> messages = lines_of(log, 2);
  std::vector<std::string> first_messages = lines_of(first_log, 2);
  FUZZ_CHECK(lines_of(log, 0).empty() && lines_of(log, 1).empty());
  // Each reader message once per pass; between the passes, once each, the
  // counts of values read whole although counted in characters or a byte
  // or two off, if any were.
  size_t between = messages.size() - 2 * first_messages.size();
  FUZZ_CHECK(between <= 2);
  for (size_t i = 0; i < between; ++i) {
    const std::string& count = messages[first_messages.size() + i];
    FUZZ_CHECK(count.find(" read whole") != std::string::npos);
  }
  for (size_t i = 0; i < first_messages.size(); ++i) {
    FUZZ_CHECK(messages[i] == first_messages[i]);
    FUZZ_CHECK(messages[first_messages.size() + between + i] == first_messages[i]);
  }
  if (end_status == ADIF_TRUNCATED) {
    FUZZ_CHECK(!first_messages.empty());
    const std::string& last = first_messages.back();
    // (A message with its record's context is cut to 79 characters.)
    FUZZ_CHECK(last.compare(0, 29, "ERROR: Truncated input line: ") == 0 ||
               last.find("The log ends inside the value of <") != std::string::npos ||
               last.size() == 79);
  }

  // The CSV reads back: a header, then one row per record, all as wide.
  std::vector<CsvRow> rows;
  FUZZ_CHECK(read_CSV(csv, rows));
  FUZZ_CHECK(rows.size() == static_cast<size_t>(written) + 1);
  const CsvRow& header = rows[0];
  int column_count = 0;
  while (columns.names[column_count]) ++column_count;
  FUZZ_CHECK(header.size() == static_cast<size_t>(column_count > 0 ? column_count : 1));
  for (int i = 0; i < column_count; ++i) FUZZ_CHECK(header[i] == columns.names[i]);
  std::set<std::string> unique(header.begin(), header.end());
  FUZZ_CHECK(unique.size() == header.size());
  for (const CsvRow& row : rows) FUZZ_CHECK(row.size() == header.size());

  // Each row states its record, and every name of a record is a column.
  std::vector<AdifRecord*> records = read_records(data, size);
  FUZZ_CHECK(records.size() == static_cast<size_t>(written));
  for (size_t r = 0; r < records.size(); ++r) {
    const CsvRow& row = rows[r + 1];
    for (int c = 0; c < column_count; ++c) {
      const AdifField* field = find_record_field(records[r], columns.names[c]);
      if (!field) {
        FUZZ_CHECK(row[c].empty());
      } else if (std::strcmp(field->name, "QSO_DATE") == 0) {
        FUZZ_CHECK(row[c] == date_cell(field->value));
      } else {
        FUZZ_CHECK(row[c] == field->value);
      }
    }
    std::vector<const char*> names;
    collect_names(records[r], names);
    for (const char* name : names) FUZZ_CHECK(unique.count(name) == 1);
  }

  for (AdifRecord* record : records) free_record(record);
  free_column_list(columns);
  free_message_log(first_log);
  free_message_log(log);
  return 0;
}
