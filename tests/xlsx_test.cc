// The workbook writer: logs made in memory are written through the writer to
// a scratch workbook, which tests/read_workbook.py (openpyxl) reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "convert/xlsx_writer.h"
#include "convert/zip_writer.h"
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
  bool going = writer && xlsx_write_header(writer, columns, error, nullptr,
                                           static_cast<int64_t>(records.size()) * count);
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
  EXPECT_EQ(run.messages,
            (std::vector<std::string>{"<NOTES:40000> cut to 32767 characters in the workbook"}));
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

// Writes `records` (`count` times over, `rows` rows a sheet) both ways: the
// sheets streamed, and libxlsxwriter writing them. Returns the two runs.
std::pair<WorkbookRun, WorkbookRun> both_ways(const std::vector<Record>& records, long count,
                                              uint32_t rows) {
  xlsx_rows_per_sheet = rows;
  WorkbookRun streamed = write_workbook(records, count, "--parts");
  xlsx_library_sheets = true;
  WorkbookRun library = write_workbook(records, count, "--parts");
  xlsx_library_sheets = false;
  xlsx_rows_per_sheet = 1048576;
  return {streamed, library};
}

// A LoTW report, a contest logger's log with awkward values, and a long log
// over several sheets: every part of the workbook the same both ways.
TEST(XlsxWriter, StreamedSheetsAreWhatTheLibraryWrites) {
  std::vector<Record> lotw = {
      {{"APP_LoTW_OWNCALL", "DL1ABC"},
       {"APP_LoTW_STATION_CALLSIGN", "DL1ABC"},
       {"CALL", "W7XYZ"},
       {"BAND", "20M"},
       {"FREQ", "14.07400"},
       {"MODE", "FT8"},
       {"APP_LoTW_MODEGROUP", "DATA"},
       {"QSO_DATE", "20221106"},
       {"TIME_ON", "174643"},
       {"QSL_RCVD", "Y"},
       {"QSLRDATE", "20221107"},
       {"DXCC", "291"},
       {"COUNTRY", "UNITED STATES OF AMERICA"},
       {"CQZ", "05"},
       {"ITUZ", "06"},
       {"STATE", "WA"},
       {"CNTY", "WA,KING"},
       {"APP_LoTW_RXQSO", "2022-11-06 17:46:43"}},
      {{"CALL", "JA1QRP"},
       {"BAND", "40M"},
       {"FREQ", "7.0745"},
       {"MODE", "CW"},
       {"QSO_DATE", "20221231"},
       {"TIME_ON", "2359"},
       {"DXCC", "339"},
       {"CQZ", "25"},
       {"ITUZ", "45"}},
  };
  std::vector<Record> contest = {
      {{"CALL", "F5ABC"},
       {"NAME", "Jos\xc3\xa9 & <Ana>"},
       {"QTH", " Lyon "},
       {"COMMENT", "\rfirst line\r\nsecond\n"},
       {"NOTES", "tab at the end\t"},
       {"FREQ", "9.99"},
       {"FREQ_RX", "0.00001"},
       {"TX_PWR", "123456789012345"},
       {"DISTANCE", "-0.5"},
       {"RX_PWR", "0.0001"},
       {"SRX", "001"},
       {"STX", "8.1"},
       {"QSO_DATE", "20230230"},
       {"TIME_ON", "0930"},
       {"TIME_OFF", "2460"}},
      {{"CALL", "OK1\xe9X"},
       {"QTH", "_x0041_ and 1 < 2 > 0"},
       {"NOTES", std::string(40000, 'n') + "\r"},
       {"FREQ", "432.1"},
       {"SFI", "0"},
       {"A_INDEX", "99.999999999999"},
       {"QSO_DATE", "19991231"},
       {"TIME_ON", "000000"}},
  };
  std::vector<Record> long_log;
  for (int i = 0; i < 13; ++i) {
    Record record = {{"CALL", "K" + std::to_string(i) + "AB"},
                     {"FREQ", std::to_string(3 + i) + "." + std::to_string(i * 37)},
                     {"TIME_ON", i % 2 ? "1205" : "120559"},
                     {"GRIDSQUARE", std::string(static_cast<size_t>(i), 'x')}};
    if (i % 3) record.push_back({"RST_SENT", "599"});
    long_log.push_back(record);
  }
  struct Case {
    const char* what;
    const std::vector<Record>& records;
    long count;
    uint32_t rows;  // a sheet's, the header's included
  };
  // 13 records 20 times: 4 sheets of 60 rows and a fifth; the first ends
  // before the widths are known, the second when they become known.
  const Case cases[] = {{"LoTW report", lotw, 1, 1048576},
                        {"contest log", contest, 1, 1048576},
                        {"several sheets", long_log, 20, 60}};
  for (const Case& c : cases) {
    auto runs = both_ways(c.records, c.count, c.rows);
    ASSERT_TRUE(runs.first.written && runs.second.written) << c.what;
    EXPECT_GT(runs.first.lines.size(), 20u) << c.what;
    const std::vector<std::string>& ours = runs.first.lines;
    const std::vector<std::string>& library = runs.second.lines;
    size_t line = 0;
    while (line < ours.size() && line < library.size() && ours[line] == library[line]) ++line;
    EXPECT_TRUE(line == ours.size() && line == library.size())
        << c.what << ", line " << line
        << ":\n  streamed: " << (line < ours.size() ? ours[line].substr(0, 400) : "(end)")
        << "\n  library:  " << (line < library.size() ? library[line].substr(0, 400) : "(end)");
  }
}

// A workbook whose sizes and offsets take the zip64 form (as past 4 GiB),
// all of them or those past its first entry, reads back as the plain one.
TEST(XlsxWriter, TheZip64FormReadsBackTheSame) {
  std::vector<Record> records = {{{"CALL", "W1AW"}, {"FREQ", "14.074"}, {"QSO_DATE", "20240105"}}};
  WorkbookRun plain = write_workbook(records, 3);
  EXPECT_EQ(plain.lines.size(), 13u);
  for (uint64_t from : {uint64_t{0}, uint64_t{600}}) {
    zip64_from = from;
    WorkbookRun zip64 = write_workbook(records, 3);
    zip64_from = 0xffffffff;
    EXPECT_TRUE(zip64.written) << zip64.error;
    EXPECT_EQ(zip64.lines, plain.lines) << from;
  }
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

// Converts the ADIF text `log` (saved as report.adi) into a workbook as both
// programs do, with `options`, and returns what read_workbook.py printed.
std::vector<std::string> convert_log_text(const std::string& log, OutputOptions options,
                                          const char* reader_options = "") {
  std::string input = scratch_path("report.adi");
  std::string output = scratch_path("report.xlsx");
  write_file(input, log);
  ConversionRequest request{};
  request.input_path = input.c_str();
  request.output_path = output.c_str();
  options.format = FORMAT_XLSX;
  request.options = options;
  MessageLog messages{};
  MessageSink sink{};
  sink.log = &messages;
  ConversionResult result = run_conversion(request, sink);
  free_message_log(messages);
  EXPECT_EQ(result.status, CONVERSION_DONE);
  std::vector<std::string> lines = read_workbook(output, reader_options);
  std::remove(input.c_str());
  std::remove(output.c_str());
  return lines;
}

// The cells of `sheet` in `lines`: coordinate to "type\tvalue\tformat".
std::map<std::string, std::string> cells_of_sheet(const std::vector<std::string>& lines,
                                                  const std::string& sheet) {
  std::map<std::string, std::string> cells;
  for (const std::string& line : lines) {
    if (line.compare(0, sheet.size() + 1, sheet + "\t") != 0) continue;
    size_t tab = line.find('\t', sheet.size() + 1);
    std::string rest = line.substr(tab + 1);
    if (rest.size() > 5 && rest.compare(rest.size() - 5, 5, "\tbold") == 0) {
      rest.erase(rest.size() - 5);
    }
    cells[line.substr(sheet.size() + 1, tab - sheet.size() - 1)] = rest;
  }
  return cells;
}

// The header row of the sheet QSOs, names joined by ','.
std::string header_of(const std::vector<std::string>& lines) {
  std::map<std::string, std::string> cells = cells_of_sheet(lines, "QSOs");
  std::string header;
  for (char column = 'A'; column <= 'Z'; ++column) {
    auto cell = cells.find(std::string(1, column) + "1");
    if (cell == cells.end()) break;
    std::string value = cell->second.substr(3, cell->second.find('\t', 3) - 4);
    header += (header.empty() ? "" : ",") + value;
  }
  return header;
}

TEST(XlsxWriter, ColumnsComeInTheOrderAsked) {
  const std::string log =
      "<APP_X_ID:1>7 <ZZ_MINE:1>z <COMMENT:2>hi <MY_GRIDSQUARE:4>JO62 <TIME_ON:4>0930 "
      "<FREQ:5>7.074 <QSO_DATE:8>20240105 <CALL:4>K1AB <EOR>\n<SUBMODE:3>USB <RST_RCVD:2>59 "
      "<CALL:4>W1AW <EOR>\n";
  struct Row {
    ColumnOrder order;
    const char* columns;
    const char* header;
  } rows[] = {
      {ORDER_DEFAULT, nullptr,
       "CALL,QSO_DATE,TIME_ON,FREQ,SUBMODE,RST_RCVD,COMMENT,MY_GRIDSQUARE,APP_X_ID,ZZ_MINE"},
      {ORDER_LOG, nullptr,
       "APP_X_ID,CALL,COMMENT,FREQ,MY_GRIDSQUARE,QSO_DATE,TIME_ON,ZZ_MINE,RST_RCVD,SUBMODE"},
      {ORDER_QSO, "zz_mine,call", "ZZ_MINE,CALL"},
  };
  for (const Row& row : rows) {
    OutputOptions options{};
    options.order = row.order;
    options.columns = row.columns;
    EXPECT_EQ(header_of(convert_log_text(log, options)), row.header) << row.order;
  }
}

TEST(XlsxWriter, NumbersTimesAndDateTimesAsASpreadsheetNeedsThem) {
  const std::string log =
      "<CALL:4>K1AB <TIME_ON:4>1746 <TIME_OFF:4>1750 <CQZ:2>05 <FREQ:5>.1357 <TX_PWR:2>+5 "
      "<APP_LOTW_RXQSO:19>2022-11-06 17:46:43 <EOR>\n"
      "<CALL:4>W1AW <TIME_ON:6>174643 <FREQ:18>14.280000000000001 <TX_PWR:3>5 W "
      "<APP_LOTW_RXQSO:20>2022-11-07T08:01:00Z <EOR>\n";
  std::map<std::string, std::string> cells = cells_of_sheet(convert_log_text(log, {}), "QSOs");
  // CALL, TIME_ON, TIME_OFF, FREQ, CQZ, TX_PWR, APP_LOTW_RXQSO
  const std::map<std::string, std::string> expected = {
      {"B2", "d\t17:46:00\thh:mm:ss"},
      {"B3", "d\t17:46:43\thh:mm:ss"},
      {"C2", "d\t17:50:00\thh:mm"},
      {"D2", "n\t0.1357\t0.0000"},
      {"D3", "n\t14.28\t0.00"},
      {"E2", "n\t5\t00"},
      {"F2", "n\t5\t0"},
      {"F3", "s\t\"5 W\"\tGeneral"},
      {"G2", "d\t2022-11-06T17:46:43\tyyyy-mm-dd hh:mm:ss"},
      {"G3", "d\t2022-11-07T08:01:00\tyyyy-mm-dd hh:mm:ss"},
  };
  for (const auto& cell : expected) EXPECT_EQ(cells[cell.first], cell.second) << cell.first;
}

// Text in a code page other than UTF-8 shows its real characters: GBK told
// by lengths that count its characters, a code page named, Windows-1252 when
// nothing else fits.
TEST(XlsxWriter, TextOfTheLogsCodePageShowsItsRealCharacters) {
  struct Row {
    const char* encoding;
    std::string log;
    std::string cell;  // B2
  } rows[] = {
      {nullptr, "<CALL:4>BY1A <COMMENT:17>Distance: 3436 \xB9\xAB\xC0\xEF<EOR>\n",
       "s\t\"Distance: 3436 \xE5\x85\xAC\xE9\x87\x8C\"\tGeneral"},
      {"windows-1251", "<CALL:4>UA3A <NAME:4>\xCF\xE5\xF0\xF2<EOR>\n",
       "s\t\"\xD0\x9F\xD0\xB5\xD1\x80\xD1\x82\"\tGeneral"},
      {nullptr, "<CALL:4>SM7A <NAME:5>Bj\xF6rn<EOR>\n", "s\t\"Bj\xC3\xB6rn\"\tGeneral"},
  };
  for (const Row& row : rows) {
    OutputOptions options{};
    options.encoding = row.encoding;
    EXPECT_EQ(cells_of_sheet(convert_log_text(row.log, options), "QSOs")["B2"], row.cell)
        << row.log;
  }
}

TEST(XlsxWriter, TheSummaryCountsWhatTheRowsHold) {
  // 60 QSOs over bands given by name, by frequency alone and by neither,
  // four modes, three years, 17 calls (some in lower case), two entities.
  const char* bands[] = {"20M", "", "160m", "70CM", ""};
  const char* frequencies[] = {"", "7.074", "", "", ""};
  const char* modes[] = {"FT8", "CW", "ssb", "FT8", ""};
  std::string log = "<PROGRAMID:4>test <EOH>\n";
  std::map<std::string, int> by_band, by_mode, by_year;
  std::map<std::string, bool> calls;
  for (int i = 0; i < 60; ++i) {
    std::string band = bands[i % 5], frequency = frequencies[i % 5];
    std::string mode = modes[i % 4 == 3 ? 4 : i % 3];
    std::string call = (i % 2 ? "k" : "K") + std::to_string(i % 17) + "AB";
    std::string year = std::to_string(2021 + i % 3);
    auto field = [](const std::string& name, const std::string& value) {
      return value.empty() ? "" : "<" + name + ":" + std::to_string(value.size()) + ">" + value;
    };
    log += field("CALL", call) + field("BAND", band) + field("FREQ", frequency) +
           field("MODE", mode) + field("QSO_DATE", year + "0704") +
           field("DXCC", i % 2 ? "291" : "230") + "<EOR>\n";
    for (char& c : band) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ++by_band[!band.empty() ? band : !frequency.empty() ? "40m" : "(no band)"];
    ++by_mode[mode.empty() ? "(no mode)" : mode == "ssb" ? "SSB" : mode];
    ++by_year[year];
    calls[std::string(1, 'K') + call.substr(1)] = true;
  }
  std::map<std::string, std::string> cells = cells_of_sheet(convert_log_text(log, {}), "Summary");
  std::string name = scratch_path("report.adi");
  EXPECT_EQ(cells["B1"], "s\t\"" + name.substr(name.rfind('/') + 1) + "\"\tGeneral");
  EXPECT_EQ(cells["B2"], "d\t2021-07-04T00:00:00\tyyyy-mm-dd");
  EXPECT_EQ(cells["B3"], "d\t2023-07-04T00:00:00\tyyyy-mm-dd");
  EXPECT_EQ(cells["A4"] + cells["B4"], "s\t\"QSOs\"\tGeneraln\t60\tGeneral");
  EXPECT_EQ(cells["B5"], "n\t" + std::to_string(calls.size()) + "\tGeneral");
  EXPECT_EQ(cells["B6"], "n\t2\tGeneral");
  // Rows of the band table from row 10: bands in band order, then the total.
  const char* order[] = {"160m", "40m", "20m", "70cm", "(no band)"};
  int row = 10;
  for (const char* band : order) {
    std::string total;
    for (char column = 'B'; column <= 'F'; ++column) {
      std::string head = cells[std::string(1, column) + "9"];
      if (head.find("Total") != std::string::npos) total = std::string(1, column);
    }
    ASSERT_FALSE(total.empty());
    std::string shown = cells["A" + std::to_string(row)];
    EXPECT_EQ(shown.substr(3, shown.size() - 12), band);
    EXPECT_EQ(cells[total + std::to_string(row)],
              "n\t" + std::to_string(by_band[band]) + "\tGeneral")
        << band;
    ++row;
  }
  for (char column = 'B'; column <= 'E'; ++column) {
    std::string head = cells[std::string(1, column) + "9"];
    std::string mode = head.substr(3, head.size() - 12);
    EXPECT_EQ(cells[std::string(1, column) + std::to_string(row)],
              "n\t" + std::to_string(by_mode[mode]) + "\tGeneral")
        << mode;
  }
  row += 4;  // the total row, a blank row, the title, the column names
  for (const auto& year : by_year) {
    EXPECT_EQ(cells["A" + std::to_string(row)], "n\t" + year.first + "\tGeneral");
    EXPECT_EQ(cells["B" + std::to_string(row)], "n\t" + std::to_string(year.second) + "\tGeneral");
    ++row;
  }
  OutputOptions none{};
  none.no_summary = true;
  EXPECT_TRUE(cells_of_sheet(convert_log_text(log, none), "Summary").empty());
}

TEST(XlsxWriter, ColumnsFitTheirHeaderWithItsButtonAndTheValuesAsShown) {
  struct Row {
    const char* name;
    const char* value;
    double least;  // characters the column must hold at least
  } rows[] = {
      {"CQZ", "05", 3 + 3},  // a short header with its filter button
      {"TIME_ON", "174643", 7 + 3},
      {"FREQ", "1234567.1234567", 15 + 1},  // a number, with room to spare
      {"APP_LOTW_RXQSO", "2022-11-06 17:46:43", 19 + 1},
      {"QSO_DATE", "20221106", 10 + 1},
  };
  std::string log;
  for (const Row& row : rows) {
    log += "<" + std::string(row.name) + ":" + std::to_string(std::strlen(row.value)) + ">" +
           row.value + " ";
  }
  OutputOptions options{};
  options.order = ORDER_LOG;
  std::vector<std::string> lines = convert_log_text(log + "<EOR>\n", options, "--widths");
  // The log's order is the names' byte order: APP_LOTW_RXQSO, CQZ, FREQ, QSO_DATE, TIME_ON.
  const int columns[] = {2, 5, 3, 1, 4};
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    double width = 0;
    for (const std::string& line : lines) {
      int first = 0, last = 0;
      double shown = 0;
      if (std::sscanf(line.c_str(), "QSOs\twidth\t%d\t%d\t%lf", &first, &last, &shown) == 3 &&
          first <= columns[i] && columns[i] <= last) {
        width = shown;
      }
    }
    EXPECT_GE(width, rows[i].least) << rows[i].name;
  }
}

// A whole conversion, its summary sheet and chart included: every part the
// same when the library writes the QSO sheets.
TEST(XlsxWriter, AConversionWithItsSummaryIsWhatTheLibraryWrites) {
  std::string log = "Log4OM export <ADIF_VER:5>3.1.4 <EOH>\n";
  const char* times[] = {"1230", "123045", "0001"};
  const char* modes[] = {"FT8", "SSB", "CW", "FT4"};
  for (int i = 0; i < 150; ++i) {
    std::string call = "DL" + std::to_string(i % 23) + "XYZ";
    std::string day = std::to_string(20230101 + i % 28);
    std::string time = times[i % 3];
    std::string mode = modes[i % 4];
    std::string freq = std::to_string(7 + i % 7 * 7) + ".0" + std::to_string(i % 97);
    log += "<CALL:" + std::to_string(call.size()) + ">" + call + "<QSO_DATE:8>" + day +
           "<TIME_ON:" + std::to_string(time.size()) + ">" + time +
           "<MODE:" + std::to_string(mode.size()) + ">" + mode +
           "<FREQ:" + std::to_string(freq.size()) + ">" + freq +
           "<APP_LOG4OM_QSO_ID:" + std::to_string(std::to_string(i).size()) + ">" +
           std::to_string(i) + "<COUNTRY:7>Germany<DXCC:3>230<EOR>\n";
  }
  std::vector<std::string> ours = convert_log_text(log, {}, "--parts");
  xlsx_library_sheets = true;
  std::vector<std::string> library = convert_log_text(log, {}, "--parts");
  xlsx_library_sheets = false;
  EXPECT_GT(ours.size(), 30u);
  EXPECT_TRUE(std::find(ours.begin(), ours.end(), "== xl/charts/chart1.xml") != ours.end());
  EXPECT_TRUE(ours == library);
}

}  // namespace
