// The workbook writer: logs made in memory are written through the writer to
// a scratch workbook, which tests/read_workbook.py (openpyxl) reads back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/xlsx_writer.h"
#include "tests/test_streams.h"

namespace {

// One field of a record made in memory.
struct Field {
  std::string name;
  std::string value;
};

using Record = std::vector<Field>;

// What the writer made of a log.
struct WorkbookRun {
  bool written = false;               // every writer call succeeded
  std::string error;                  // the error text of the call that failed
  std::vector<std::string> messages;  // the record messages, in order
  std::vector<std::string> lines;     // what read_workbook.py printed
};

AdifRecord* make_record(const Record& fields) {
  AdifRecord* record = nullptr;
  char* message = nullptr;
  for (const Field& field : fields) {
    EXPECT_TRUE(add_field(record, field.name.data(), field.name.size(), field.value.data(),
                          field.value.size(), message));
  }
  std::free(message);
  return record;
}

std::vector<std::string> read_workbook(const std::string& path, const std::string& options) {
  std::string command = std::string(LEDGERLY_PYTHON) + " " + LEDGERLY_READ_WORKBOOK + " " +
                        options + " '" + path + "'";
  std::vector<std::string> lines;
  FILE* reader = popen(command.c_str(), "r");
  if (!reader) return lines;
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, reader)) > 0) text.append(buffer, got);
  EXPECT_EQ(pclose(reader), 0) << command;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// Writes `records` (`count` times over) as a workbook the way a conversion
// does: the columns of every record, the header, one row per record; then
// reads it back with `reader_options` (null: not at all).
WorkbookRun write_workbook(const std::vector<Record>& records, long count = 1,
                           const char* reader_options = "") {
  WorkbookRun run;
  ColumnList columns{};
  EXPECT_TRUE(init_column_list(columns));
  int names = 0;
  std::vector<AdifRecord*> made;
  for (const Record& fields : records) {
    made.push_back(make_record(fields));
    collect_field_names(made.back()->root, columns, names);
  }
  std::string path = scratch_path("workbook.xlsx");
  char* error = nullptr;
  XlsxWriter* writer = xlsx_begin(path.c_str(), nullptr, error);
  bool going = writer && xlsx_write_header(writer, columns, error);
  for (long round = 0; round < count && going; ++round) {
    for (size_t i = 0; i < made.size() && going; ++i) {
      char* message = nullptr;
      going = xlsx_write_record(writer, made[i], columns, message, error);
      if (message) run.messages.push_back(message);
      std::free(message);
    }
  }
  if (going) {
    run.written = xlsx_end(writer, error);
  } else {
    xlsx_discard(writer);
  }
  if (error) run.error = error;
  std::free(error);
  for (AdifRecord* record : made) free_record(record);
  free_column_list(columns);
  if (run.written && reader_options) run.lines = read_workbook(path, reader_options);
  std::remove(path.c_str());
  return run;
}

TEST(XlsxWriter, CellsAreTypedByColumnAndValue) {
  struct Row {
    const char* name;
    std::string value;
    const char* cell;  // data type, value, number format
  } rows[] = {
      {"QSO_DATE", "20240105", "d\t2024-01-05T00:00:00\tyyyy-mm-dd"},
      {"QSO_DATE", "20240231", "s\t\"20240231\"\tGeneral"},
      {"QSLRDATE", "20241120", "d\t2024-11-20T00:00:00\tyyyy-mm-dd"},
      {"TIME_ON", "0930", "d\t09:30:00\thh:mm"},
      {"TIME_ON", "093015", "d\t09:30:15\thh:mm:ss"},
      {"TIME_ON", "2460", "s\t\"2460\"\tGeneral"},
      {"FREQ", "14.0740", "n\t14.074\t0.0000"},
      {"DXCC", "291", "n\t291\t0"},
      {"DXCC", "007", "n\t7\t000"},
      {"RST_RCVD", "-08", "s\t\"-08\"\tGeneral"},
      {"COMMENT", "=1+1", "s\t\"=1+1\"\tGeneral"},
      {"NAME", "J\xc3\xbcrgen \xe2\x82\xac", "s\t\"J\xc3\xbcrgen \xe2\x82\xac\"\tGeneral"},
      {"NAME", "M\xfcller \x80\x81", "s\t\"M\xc3\xbcller \xe2\x82\xac\xef\xbf\xbd\"\tGeneral"},
      {"COMMENT", "bell\x07 tab\t", "s\t\"bell\xef\xbf\xbd tab\\t\"\tGeneral"},
  };
  std::vector<Record> records;
  std::vector<std::string> names;
  std::vector<std::string> expected;
  for (const Row& row : rows) {
    records.push_back({{row.name, row.value}});
    size_t column = 0;
    while (column < names.size() && names[column] != row.name) ++column;
    if (column == names.size()) names.push_back(row.name);
    expected.push_back("QSOs\t" + std::string(1, static_cast<char>('A' + column)) +
                       std::to_string(records.size() + 1) + "\t" + row.cell);
  }
  WorkbookRun run = write_workbook(records);
  ASSERT_TRUE(run.written) << run.error;
  EXPECT_TRUE(run.messages.empty());
  ASSERT_EQ(run.lines.size(), names.size() + expected.size() + 1);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(run.lines[names.size() + i], expected[i]) << rows[i].name << " " << rows[i].value;
  }
}

TEST(XlsxWriter, HeaderIsBoldFrozenAndFiltered) {
  WorkbookRun run = write_workbook({{{"CALL", "N0CALL"}, {"MODE", "CW"}}, {{"CALL", "K1ABC"}}});
  ASSERT_TRUE(run.written) << run.error;
  EXPECT_EQ(run.lines, (std::vector<std::string>{
                           "QSOs\tA1\ts\t\"CALL\"\tGeneral\tbold",
                           "QSOs\tB1\ts\t\"MODE\"\tGeneral\tbold",
                           "QSOs\tA2\ts\t\"N0CALL\"\tGeneral",
                           "QSOs\tB2\ts\t\"CW\"\tGeneral",
                           "QSOs\tA3\ts\t\"K1ABC\"\tGeneral",
                           "QSOs\tfrozen\tA2\tfilter\tA1:B3",
                       }));
}

TEST(XlsxWriter, AValueOverTheCellLimitIsCutWithAMessage) {
  std::string notes;
  while (notes.size() < 40000) notes += std::string(99, 'n') + "\n";
  WorkbookRun run = write_workbook({{{"CALL", "N0CALL"}, {"NOTES", notes}}});
  ASSERT_TRUE(run.written) << run.error;
  EXPECT_EQ(
      run.messages,
      (std::vector<std::string>{"Value over 32767 characters cut in the workbook: <NOTES:40000>"}));
  ASSERT_EQ(run.lines.size(), 5u);
  EXPECT_EQ(run.lines[3],
            "QSOs\tB2\ts\t[32767 characters] \"" + std::string(20, 'n') + "\"\tGeneral");
}

TEST(XlsxWriter, RecordsPastTheLastRowContinueOnTheNextSheet) {
  WorkbookRun run = write_workbook({{{"CALL", "N0CALL"}}}, 1048576, "--rows 2");
  ASSERT_TRUE(run.written) << run.error;
  EXPECT_EQ(run.lines, (std::vector<std::string>{
                           "QSOs\tA1\ts\t\"CALL\"\tGeneral\tbold",
                           "QSOs\tA2\ts\t\"N0CALL\"\tGeneral",
                           "QSOs 2\tA1\ts\t\"CALL\"\tGeneral\tbold",
                           "QSOs 2\tA2\ts\t\"N0CALL\"\tGeneral",
                       }));
}

TEST(XlsxWriter, MoreColumnsThanASheetHoldsIsAnError) {
  for (int columns : {16384, 16385}) {
    Record record;
    for (int i = 0; i < columns; ++i) record.push_back({"F" + std::to_string(i), "x"});
    WorkbookRun run = write_workbook({record}, 1, nullptr);
    EXPECT_EQ(run.written, columns == 16384) << columns;
    EXPECT_EQ(run.error, columns == 16384 ? ""
                                          : "The log has 16385 different fields, more than the "
                                            "16384 columns of a worksheet");
  }
}

TEST(XlsxWriter, AWorkbookThatCannotBeMadeIsAnError) {
  char* error = nullptr;
  EXPECT_EQ(xlsx_begin("/nonexistent-folder/log.xlsx", nullptr, error), nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(std::string(error),
            "Could not create /nonexistent-folder/log.xlsx: No such file or directory");
  std::free(error);
}

}  // namespace
