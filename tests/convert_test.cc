// The conversion: CSV cells and lines, the message log, the two-pass driver
// and the derived CSV file name.
#include "convert/convert.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "convert/cell_kind.h"
#include "tests/conversion_run.h"
#include "tests/test_streams.h"

namespace {

// A column table holding `names`, released with the object.
struct Columns {
  ColumnList list{};
  explicit Columns(const std::vector<std::string>& names) {
    EXPECT_TRUE(init_column_list(list));
    int count = 0;
    for (const std::string& name : names) {
      AdifField field{};
      field.name = const_cast<char*>(name.c_str());
      collect_field_names(&field, list, count);
    }
  }
  ~Columns() { free_column_list(list); }
};

// Reads the one record of `adif`, which ends in <EOR>.
struct ParsedRecord {
  AdifRecord* record = nullptr;
  explicit ParsedRecord(const std::string& adif) {
    StreamPtr stream = stream_with(adif);
    char line[8192];
    char* message = nullptr;
    ParseStatus status;
    do {
      status = parse_ADIF(stream.get(), record, line, sizeof line, message);
      std::free(message);
      message = nullptr;
    } while (status == ADIF_CONTINUE);
    EXPECT_EQ(status, ADIF_EOR) << adif;
  }
  ~ParsedRecord() { free_record(record); }
};

std::string csv_line(const std::string& adif, const std::vector<std::string>& names) {
  Columns columns(names);
  ParsedRecord parsed(adif);
  StreamPtr out = empty_stream();
  write_CSV_record(out.get(), parsed.record, columns.list);
  return stream_bytes(out.get());
}

// The ADIF tag for `name` with `value`, its length counted.
std::string tag(const std::string& name, const std::string& value) {
  return "<" + name + ":" + std::to_string(value.size()) + ">" + value;
}

std::string cell(const std::string& name, const std::string& value) {
  std::string line = csv_line(tag(name, value) + "<EOR>\n", {name});
  EXPECT_EQ(line.back(), '\n');
  return line.substr(0, line.size() - 1);
}

TEST(CsvWriter, WorkedExampleComesOutByteForByte) {
  Columns columns({"BAND", "CALL", "COMMENT", "MODE", "QSO_DATE", "TIME_ON", "FREQ"});
  ParsedRecord first(
      "<CALL:6>N0CALL<QSO_DATE:8>20240105<TIME_ON:4>0930<BAND:3>20m<MODE:2>CW"
      "<COMMENT:14>said \"hi\", bye<EOR>\n");
  ParsedRecord second(
      "<CALL:6>N0CALL<QSO_DATE:8>20241231<TIME_ON:6>235959<FREQ:6>14.074<MODE:3>FT8<EOR>\n");
  StreamPtr out = empty_stream();
  write_CSV_header(out.get(), columns.list);
  write_CSV_record(out.get(), first.record, columns.list);
  write_CSV_record(out.get(), second.record, columns.list);
  EXPECT_EQ(stream_bytes(out.get()),
            "BAND,CALL,COMMENT,MODE,QSO_DATE,TIME_ON,FREQ\n"
            "20m,N0CALL,\"said \"\"hi\"\", bye\",CW,5-Jan-2024,\"0930\",\n"
            ",N0CALL,,FT8,31-Dec-2024,\"235959\",14.074\n");
}

TEST(CsvWriter, TextCells) {
  struct Row {
    const char* name;
    std::string value;
    std::string cell;
  } rows[] = {
      {"CALL", "N0CALL", "N0CALL"},
      {"COMMENT", "", ""},
      {"TIME_ON", "", "\"\""},
      {"TIME_OFF", "0002", "\"0002\""},
      {"COMMENT", "\"", "\"\"\"\""},
      {"NAME", "O'Brien", "\"O'Brien\""},
      {"COMMENT", "a, b", "\"a, b\""},
      {"COMMENT", "  spaced; out\t", "  spaced; out\t"},
      {"NOTES", "line one\nline two", "\"line one\nline two\""},
      {"NOTES", "cr\rhere", "\"cr\rhere\""},
      {"COMMENT", "say \"73\"", "\"say \"\"73\"\"\""},
      {"QSO_DATE_OFF", "20240105", "20240105"},
      {"QTH", "M\xfcnchen", "M\xfcnchen"},
  };
  for (const Row& row : rows) EXPECT_EQ(cell(row.name, row.value), row.cell) << row.value;
}

TEST(CsvWriter, DateCells) {
  struct Row {
    std::string value;
    std::string cell;
  } rows[] = {
      {"20240423", "23-Apr-2024"},
      {"20240105", "5-Jan-2024"},
      {"19991231", "31-Dec-1999"},
      {"240105", "5-Jan-24"},
      {"20240400", "0-Apr-2024"},
      {"20240432", "32-Apr-2024"},
      {"20240105 x", "5-Jan-2024"},
      {"20240105,x", "5-Jan-2024"},
      // Dates without a month 1 to 12 keep their stored text.
      {"", ""},
      {"unknown", "unknown"},
      {"2024", "2024"},
      {"2024-01-05", "2024-01-05"},
      {"20241305", "20241305"},
      {"-20240105", "-20240105"},
      {"2024,13", "\"2024,13\""},
      {"99999999999999999999", "99999999999999999999"},
  };
  for (const Row& row : rows) EXPECT_EQ(cell("QSO_DATE", row.value), row.cell) << row.value;
}

TEST(CsvWriter, MissingFieldsLeaveEmptyCellsWithEverySeparator) {
  EXPECT_EQ(csv_line("<MODE:2>CW<EOR>\n", {"BAND", "CALL", "MODE", "QSO_DATE", "TIME_ON"}),
            ",,CW,,\n");
  EXPECT_EQ(csv_line("<MODE:2>CW<EOR>\n", {}), "\n");
}

TEST(CsvWriter, FormatQsoDateNeverReadsPastTheMonthTable) {
  struct Row {
    int date;
    bool has_month;
    const char* text;
  } rows[] = {{20240105, true, "5-Jan-2024"},  {20241231, true, "31-Dec-2024"},
              {20241300, false, "20241300"},   {20240005, false, "20240005"},
              {-20240105, false, "-20240105"}, {0, false, "0"}};
  for (const Row& row : rows) {
    StreamPtr out = empty_stream();
    format_QSO_date(out.get(), row.date);
    EXPECT_EQ(stream_bytes(out.get()), row.text);
    EXPECT_EQ(QSO_date_has_month(row.date), row.has_month) << row.date;
  }
}

// The header and the line of the one record of `adif` in `style`.
std::string styled_csv(const CsvStyle& style, const std::string& adif,
                       const std::vector<std::string>& names) {
  Columns columns(names);
  ParsedRecord parsed(adif);
  StreamPtr out = empty_stream();
  write_CSV_header(out.get(), columns.list, style);
  write_CSV_record(out.get(), parsed.record, columns.list, style);
  return stream_bytes(out.get());
}

TEST(CsvWriter, Styles) {
  const CsvStyle semicolon{';', false, false, false, false}, tab{'\t', false, false, false, false},
      iso{0, true, false, false, false};
  const std::string dates = "<QSO_DATE:8>20240105<QSLRDATE:8>20241120<QSO_DATE_OFF:8>20240231";
  struct Row {
    CsvStyle style;
    std::string adif;
    std::vector<std::string> names;
    std::string csv;
  } rows[] = {
      {semicolon,
       "<CALL:3>A;B<COMMENT:3>a,b<RST_RCVD:3>-08<EOR>",
       {"CALL", "COMMENT", "RST_RCVD"},
       "CALL;COMMENT;RST_RCVD\n\"A;B\";\"a,b\";-08\n"},
      {semicolon, "<X;Y:1>1<EOR>", {"X;Y"}, "\"X;Y\"\n1\n"},
      {tab,
       "<CALL:3>A\tB<COMMENT:3>a;b<EOR>",
       {"CALL", "COMMENT"},
       "CALL\tCOMMENT\n\"A\tB\"\ta;b\n"},
      {iso,
       dates + "<TIME_ON:4>0930<EOR>",
       {"QSO_DATE", "QSLRDATE", "QSO_DATE_OFF", "TIME_ON"},
       "QSO_DATE,QSLRDATE,QSO_DATE_OFF,TIME_ON\n2024-01-05,2024-11-20,20240231,\"0930\"\n"},
      {iso, "<QSO_DATE:8>20241305<EOR>", {"QSO_DATE"}, "QSO_DATE\n20241305\n"},
      {iso, "<QSO_DATE:8>20240231<EOR>", {"QSO_DATE"}, "QSO_DATE\n20240231\n"},
      {iso, "<QSO_DATE:10>2024,01,05<EOR>", {"QSO_DATE"}, "QSO_DATE\n\"2024,01,05\"\n"},
      {{0, false, true, false, false},
       "<CALL:1>A<EOR>",
       {"CALL"},
       "\xEF\xBB\xBF"
       "CALL\nA\n"},
      {{0, false, false, true, false},
       "<CALL:1>A<NOTES:3>x\ny<EOR>",
       {"CALL", "NOTES"},
       "CALL,NOTES\r\nA,\"x\ny\"\r\n"},
      {{';', true, true, false, false},
       "<QSO_DATE:8>20240105<EOR>",
       {"QSO_DATE"},
       "\xEF\xBB\xBF"
       "QSO_DATE\n2024-01-05\n"},
      {{0, false, false, false, true},
       "<FREQ:5>3.573<TX_PWR:4>+2.5<CQZ:2>05<COMMENT:3>1.5<FREQ_RX:3>1e3<EOR>",
       {"FREQ", "TX_PWR", "CQZ", "COMMENT", "FREQ_RX"},
       "FREQ,TX_PWR,CQZ,COMMENT,FREQ_RX\n\"3,573\",\"+2,5\",05,1.5,1e3\n"},
      {{';', false, false, false, true},
       "<FREQ:5>3.573<TX_PWR:4>+2.5<FREQ_RX:5>1,573<EOR>",
       {"FREQ", "TX_PWR", "FREQ_RX"},
       "FREQ;TX_PWR;FREQ_RX\n3,573;+2,5;\"1,573\"\n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(styled_csv(row.style, row.adif + "\n", row.names), row.csv) << row.adif;
  }
}

TEST(CellKind, ColumnsByName) {
  struct Row {
    const char* name;
    CellKind kind;
  } rows[] = {
      {"QSO_DATE", CELL_DATE},      {"QSO_DATE_OFF", CELL_DATE}, {"QSLRDATE", CELL_DATE},
      {"TIME_ON", CELL_TIME},       {"TIME_OFF", CELL_TIME},     {"FREQ", CELL_NUMBER},
      {"MY_ITU_ZONE", CELL_NUMBER}, {"STX", CELL_NUMBER},        {"STX_STRING", CELL_TEXT},
      {"DATES", CELL_TEXT},         {"TIME", CELL_TEXT},         {"CALL", CELL_TEXT},
  };
  for (const Row& row : rows) EXPECT_EQ(column_kind(row.name), row.kind) << row.name;
}

TEST(CellKind, Dates) {
  struct Row {
    const char* value;
    int date;  // YYYYMMDD read back, or 0 for a value that is no date
  } rows[] = {
      {"20240105", 20240105}, {"19000101", 19000101},
      {"18991231", 0},        {"20240229", 20240229},
      {"20230229", 0},        {"19000229", 0},
      {"20000229", 20000229}, {"20240231", 0},
      {"20241301", 0},        {"20240100", 0},
      {"2024010", 0},         {"202401050", 0},
      {"2024-1-5", 0},        {"", 0},
  };
  for (const Row& row : rows) {
    int year = 0, month = 0, day = 0;
    bool date = read_date(row.value, std::strlen(row.value), year, month, day);
    EXPECT_EQ(date ? year * 10000 + month * 100 + day : 0, row.date) << row.value;
  }
  char text[11];
  EXPECT_EQ(iso_date_text(2024, 1, 5, text), 10u);
  EXPECT_STREQ(text, "2024-01-05");
}

TEST(CellKind, Times) {
  struct Row {
    const char* value;
    int time;  // HHMMSS read back, or -1 for a value that is no time
  } rows[] = {
      {"0930", 93000}, {"093015", 93015}, {"0000", 0},   {"235959", 235959},
      {"2400", -1},    {"2460", -1},      {"0960", -1},  {"235960", -1},
      {"930", -1},     {"09301", -1},     {"09:30", -1},
  };
  for (const Row& row : rows) {
    int hour = 0, minute = 0, second = 0;
    bool time = read_time(row.value, std::strlen(row.value), hour, minute, second);
    EXPECT_EQ(time ? hour * 10000 + minute * 100 + second : -1, row.time) << row.value;
  }
}

TEST(CellKind, Numbers) {
  struct Row {
    const char* value;
    bool number;
    double read;
    int decimals;
    int integer_digits;
  } rows[] = {
      {"14.0740", true, 14.074, 4, 1},
      {"0", true, 0, 0, 1},
      {"-0.25", true, -0.25, 2, 1},
      {"0.00000000000001", true, 1e-14, 14, 1},
      {"05", true, 5, 0, 2},
      {"00.5", true, 0.5, 1, 2},
      {"+5", true, 5, 0, 1},
      {".1357", true, 0.1357, 4, 1},
      {"-.5", true, -0.5, 1, 1},
      {"123456789012345", true, 123456789012345.0, 0, 1},
      {"1234567890123456", true, 1234567890123460.0, 0, 1},
      {"14.280000000000001", true, 14.28, 2, 1},
      {"14.2800000000000019", true, 14.28, 2, 1},
      {"0.99999999999999999", true, 1, 0, 1},
      {"0.123456789012345678", true, 0.123456789012346, 15, 1},
      {"1e3", false, 0, 0, 0},
      {"14.", false, 0, 0, 0},
      {".", false, 0, 0, 0},
      {"+", false, 0, 0, 0},
      {"-0", false, 0, 0, 0},
      {"-0.0", false, 0, 0, 0},
      {"", false, 0, 0, 0},
      {"1,5", false, 0, 0, 0},
      {" 5", false, 0, 0, 0},
      {"--5", false, 0, 0, 0},
  };
  for (const Row& row : rows) {
    double read = 0;
    int decimals = 0, integer_digits = 0;
    EXPECT_EQ(read_number(row.value, std::strlen(row.value), read, decimals, integer_digits),
              row.number)
        << row.value;
    EXPECT_EQ(read, row.read) << row.value;
    EXPECT_EQ(decimals, row.decimals) << row.value;
    EXPECT_EQ(integer_digits, row.integer_digits) << row.value;
  }
}

TEST(CellKind, DateTimes) {
  struct Row {
    const char* value;
    long long read;  // YYYYMMDDHHMMSS, or -1 for no date and time
  } rows[] = {
      {"2022-11-06 17:46:43", 20221106174643},
      {"2022-11-06T17:46:00Z", 20221106174600},
      {"2022-11-06 17:46", 20221106174600},
      {"2022-11-31 17:46:43", -1},
      {"2022-11-06 24:00:00", -1},
      {"2022-11-06", -1},
      {"2022/11/06 17:46:43", -1},
      {"2022-11-06 17:46:43 ", -1},
  };
  for (const Row& row : rows) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    bool read = read_date_time(row.value, std::strlen(row.value), y, mo, d, h, mi, s);
    long long got = ((y * 100LL + mo) * 100 + d) * 1000000LL + h * 10000 + mi * 100 + s;
    EXPECT_EQ(read ? got : -1, row.read) << row.value;
  }
}

// The lines of one list, oldest first.
std::vector<std::string> lines_of(const MessageLog& log, int list) {
  std::vector<std::string> lines;
  for (const MessageLine* line = log.lists[list]; line; line = line->next) {
    lines.insert(lines.begin(), line->text);
  }
  return lines;
}

TEST(MessageLog, KeepsLinesNewestFirstAndReadsOldestFirst) {
  MessageLog log{};
  add_message(2, log, "A");
  add_message(2, log, "B");
  add_message(2, log, "C");
  add_message(0, log, "zero");
  add_message(3, log, "ignored");
  EXPECT_STREQ(log.lists[2]->text, "C");
  EXPECT_EQ(lines_of(log, 2), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(lines_of(log, 0), (std::vector<std::string>{"zero"}));
  EXPECT_EQ(log.lists[1], nullptr);
  EXPECT_EQ(log.lists[2]->count, 0);
  free_message_log(log);
  EXPECT_EQ(log.lists[2], nullptr);
}

TEST(MessageLog, RecordMessagesCarryContextAndAreCutTo79Characters) {
  ParsedRecord full("<CALL:6>N0CALL<QSO_DATE:8>20240105<TIME_ON:4>0930<EOR>\n");
  ParsedRecord bare("<BAND:3>20m<EOR>\n");
  const std::string prefix = "N0CALL on 20240105 at 0930: ";  // 28 characters
  const std::string long_line = "ERROR: Truncated input line: " + std::string(300, 'x');
  struct Row {
    const AdifRecord* record;
    std::string text;
    std::string stored;
  } rows[] = {
      {full.record, "Duplicate field: <BAND:3>40m", prefix + "Duplicate field: <BAND:3>40m"},
      {full.record, std::string(51, 'd'), prefix + std::string(51, 'd')},
      {full.record, std::string(52, 'd'), prefix + std::string(51, 'd')},
      {full.record, std::string(200, 'd'), prefix + std::string(51, 'd')},
      {full.record, long_line, long_line},
      {full.record, "Duplicate field: <NOTES:9>Truncated", "Duplicate field: <NOTES:9>Truncated"},
      {nullptr, "no record here", "no record here"},
      {bare.record, "Duplicate field: <BAND:3>40m", "Duplicate field: <BAND:3>40m"},
  };
  for (const Row& row : rows) {
    MessageLog log{};
    add_record_message(log, row.record, row.text.c_str());
    ASSERT_NE(log.lists[2], nullptr);
    EXPECT_EQ(std::string(log.lists[2]->text), row.stored);
    EXPECT_EQ(log.lists[0], nullptr);
    EXPECT_EQ(log.lists[1], nullptr);
    free_message_log(log);
  }
}

TEST(Conversion, WholeFiles) {
  struct Row {
    const char* what;
    std::string adif;
    int records;
    std::string csv;
  } rows[] = {
      {"empty input", "", 0, "\n"},
      {"header without records", "Log\n<ADIF_VER:5>3.1.4\n<EOH>\n", 0, "\n"},
      {"header fields are neither columns nor cells", "<PROGRAMID:7>HandLog<EOH>\n<CALL:1>A<EOR>\n",
       1, "CALL\nA\n"},
      {"no header at all", "<CALL:1>A<EOR>\n<CALL:1>B<EOR>\n", 2, "CALL\nA\nB\n"},
      {"column order: first appearance, then byte order",
       "<CALL:1>A<QSO_DATE:8>20240105<TIME_ON:4>0930<BAND:3>20m<MODE:2>CW<EOR>\n"
       "<CALL:1>B<FREQ:5>7.074<RST_SENT:3>599<COMMENT:2>hi<EOR>\n",
       2,
       "BAND,CALL,MODE,QSO_DATE,TIME_ON,COMMENT,FREQ,RST_SENT\n"
       "20m,A,CW,5-Jan-2024,\"0930\",,,\n"
       ",B,,,,hi,7.074,599\n"},
      {"a name only in the last record",
       "<CALL:1>A<EOR>\n<CALL:1>B<EOR>\n<CALL:1>C<NAME:3>Eun<EOR>\n", 3,
       "CALL,NAME\nA,\nB,\nC,Eun\n"},
      {"end of record with nothing pending is no record", "<EOR>\n<CALL:1>A<EOR>\n<EOR>\n", 1,
       "CALL\nA\n"},
      {"last line without a line end", "<CALL:1>A<EOR>\n<CALL:1>B<EOR>", 2, "CALL\nA\nB\n"},
      {"CR LF line ends", "<EOH>\r\n<CALL:1>A<EOR>\r\n<CALL:1>B\r\n<EOR>\r\n", 2, "CALL\nA\nB\n"},
  };
  for (const Row& row : rows) {
    ConversionRun result = convert(row.adif);
    EXPECT_EQ(result.records, row.records) << row.what;
    EXPECT_EQ(result.csv, row.csv) << row.what;
    EXPECT_EQ(result.end, ADIF_EOF) << row.what;
    EXPECT_TRUE(result.messages.empty()) << row.what;
  }
}

TEST(Conversion, EachReaderMessageIsLoggedOnceInEachPass) {
  ConversionRun result = convert(
      "<CALL:6>N0CALL<QSO_DATE:8>20240105<TIME_ON:4>0930<BAND:3>20m<BAND:3>40m<EOR>\n"
      "<CALL:5>K1ABC<MODE:2>CW<MODE:3>SSB<EOR>\n");
  EXPECT_EQ(result.records, 2);
  const std::vector<std::string> pass = {"N0CALL on 20240105 at 0930: Duplicate field: <BAND:3>40m",
                                         "K1ABC: Duplicate field: <MODE:3>SSB"};
  EXPECT_EQ(result.messages, (std::vector<std::string>{pass[0], pass[1], pass[0], pass[1]}));
  EXPECT_EQ(result.csv,
            "BAND,CALL,QSO_DATE,TIME_ON,MODE\n20m,N0CALL,5-Jan-2024,\"0930\",\n,K1ABC,,,CW\n");
}

TEST(Conversion, EveryDuplicateOfALineIsReported) {
  ConversionRun result = convert("<CALL:4>K1AB<BAND:3>20m<BAND:3>40m<BAND:3>80m<MODE:2>CW<EOR>\n");
  const std::string first = "K1AB: Duplicate field: <BAND:3>40m";
  const std::string second = "K1AB: Duplicate field: <BAND:3>80m";
  EXPECT_EQ(result.messages, (std::vector<std::string>{first, second, first, second}));
  EXPECT_EQ(result.csv, "BAND,CALL,MODE\n20m,K1AB,CW\n");
}

TEST(Conversion, AnOverLongLineEndsBothPassesAtTheSamePlace) {
  std::string long_line(9000, 'z');
  ConversionRun result = convert("<CALL:1>A<EOR>\n<CALL:1>B<BAND:3>20m<EOR>\n" + long_line +
                                 "\n<CALL:1>C<MODE:2>CW<EOR>\n");
  EXPECT_EQ(result.records, 2);
  EXPECT_EQ(result.end, ADIF_TRUNCATED);
  EXPECT_EQ(result.csv, "CALL,BAND\nA,\nB,20m\n");
  std::string text = "ERROR: Truncated input line: " + std::string(8191, 'z');
  EXPECT_EQ(result.messages, (std::vector<std::string>{text, text}));
}

TEST(Conversion, ColumnsGrowPastTheFirstTable) {
  for (int names : {127, 128, 300}) {
    std::string record;
    std::string header;
    std::string cells;
    for (int i = 0; i < names; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "F%03d", i);
      record += tag(name, std::to_string(i));
      header += (i ? "," : "") + std::string(name);
      cells += (i ? "," : "") + std::to_string(i);
    }
    ConversionRun result = convert(record + "<EOR>\n");
    EXPECT_EQ(result.records, 1);
    EXPECT_EQ(result.csv, header + "\n" + cells + "\n") << names;
  }
}

TEST(Conversion, CountsPassTwoOnly) {
  std::string adif;
  for (int i = 0; i < 5; ++i) adif += "<CALL:1>" + std::to_string(i) + "<EOR>\n";
  EXPECT_EQ(convert(adif).records, 5);
}

TEST(Conversion, TextModeFilesRoundTrip) {
  // Files opened as the window opens them ("r" and "w"): on Windows the
  // stream turns CR LF into "\n" on reading and "\n" into CR LF on writing.
  std::string in_path = scratch_path("text_mode.adi");
  std::string out_path = scratch_path("text_mode.csv");
  write_file(in_path, "Log\r\n<EOH>\r\n<CALL:1>A<NOTES:3>x\ny<EOR>\r\n<CALL:1>B<EOR>\r\n");
  FILE* in = std::fopen(in_path.c_str(), "r");
  FILE* out = std::fopen(out_path.c_str(), "w");
  ASSERT_TRUE(in && out);
  MessageLog log{};
  EXPECT_EQ(convert_ADIF_file(in, out, log), 2);
  std::fclose(in);
  std::fclose(out);
#ifdef _WIN32
  const char* expected = "CALL,NOTES\r\nA,\"x\r\ny\"\r\nB,\r\n";
#else
  const char* expected = "CALL,NOTES\nA,\"x\ny\"\nB,\n";
#endif
  EXPECT_EQ(file_bytes(out_path), expected);
  EXPECT_EQ(log.lists[2], nullptr);
  std::remove(in_path.c_str());
  std::remove(out_path.c_str());
}

TEST(DeriveCsvPath, ReplacesTheFileNamesExtensionOnly) {
  struct Row {
    const char* input;
    const char* output;
  } rows[] = {
      {"log.adi", "log.CSV"},
      {"log.adif", "log.CSV"},
      {"C:\\logs\\day1.adi", "C:\\logs\\day1.CSV"},
      {"/home/op/logs/field.day.adi", "/home/op/logs/field.day.CSV"},
      {"/home/op/logs.2024/contest", "/home/op/logs.2024/contest.CSV"},
      {"C:\\logs.old\\contest", "C:\\logs.old\\contest.CSV"},
      {"noext", "noext.CSV"},
      {"trailing.", "trailing.CSV"},
      {"", ".CSV"},
  };
  for (const Row& row : rows) {
    char output[260];
    EXPECT_TRUE(derive_CSV_path(row.input, output, sizeof output)) << row.input;
    EXPECT_STREQ(output, row.output);
  }
}

TEST(DeriveCsvPath, LeavesTheOutputEmptyWhenThePathDoesNotFit) {
  char output[260];
  std::string fits = std::string(251, 'a') + ".adi";    // 251 + 4 = 255 characters
  std::string too_long = std::string(256, 'a') + ".a";  // needs 260 + 1 bytes
  EXPECT_TRUE(derive_CSV_path(fits.c_str(), output, sizeof output));
  EXPECT_EQ(std::strlen(output), 255u);
  std::string exact = std::string(255, 'b');  // 255 + 4 + 1 = 260 bytes exactly
  EXPECT_TRUE(derive_CSV_path(exact.c_str(), output, sizeof output));
  EXPECT_FALSE(derive_CSV_path(too_long.c_str(), output, sizeof output));
  EXPECT_STREQ(output, "");
}

}  // namespace

// Writers that counted a length in characters (a UTF-8 sequence, or CR LF,
// as one), or in UTF-8 bytes over Windows-1252 text: the value is read whole
// when the declared length would cut it, and nothing else changes.
TEST(Conversion, LengthsCountedInCharactersAreReadWhole) {
  const std::vector<std::string> recovered = {
      "1 value in 1 record had a length counted in characters and was read whole"};
  const std::string stray = "K1AB: Text outside tags: xyz";
  struct Row {
    const char* what;
    std::string adif;
    std::string csv;
    std::vector<std::string> messages;
  } rows[] = {
      {"2-byte characters", "<NAME:4>J\xC3\xB6rg<QTH:4>Brno<EOR>\n", "NAME,QTH\nJ\xC3\xB6rg,Brno\n",
       recovered},
      {"3-byte characters only", "<QTH:3>\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC <EOR>\n",
       "QTH\n\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\n", recovered},
      {"U+FFFD counted as one", "<NAME:4>J\xEF\xBF\xBDrg<EOR>\n", "NAME\nJ\xEF\xBF\xBDrg\n",
       recovered},
      {"CR LF counted as one", "<NOTES:11>line1\r\nline2<EOR>\r\n", "NOTES\n\"line1\r\nline2\"\n",
       recovered},
      {"UTF-8 bytes over Windows-1252 text", "<NAME:5>J\xF6rg<QTH:4>Brno<EOR>\n",
       "NAME,QTH\nJ\xF6rg,Brno\n", recovered},
      {"a right length with < and non-ASCII inside stays",
       "<COMMENT:9>a<b> \xC3\xB6 c<EOR>\n",
       "COMMENT\na<b> \xC3\xB6 c\n",
       {}},
      {"a short ASCII length stays short, its rest reported",
       "<CALL:4>K1ABxyz<EOR>\n",
       "CALL\nK1AB\n",
       {stray, stray}},
  };
  for (const Row& row : rows) {
    ConversionRun result = convert(row.adif);
    EXPECT_EQ(result.csv, row.csv) << row.what;
    EXPECT_EQ(result.messages, row.messages) << row.what;
  }
}

namespace {

// What a conversion told its sink's progress report, and when to ask it to stop.
struct ProgressSeen {
  std::vector<int> percents;
  int stop_at;  // percent at which the stop flag is set; over 100: never
  std::atomic<bool> stop{false};
};

void note_progress(void* context, int percent) {
  ProgressSeen& seen = *static_cast<ProgressSeen*>(context);
  seen.percents.push_back(percent);
  if (percent >= seen.stop_at) seen.stop = true;
}

}  // namespace

// A window converts on a thread of its own: it hears how far both passes got
// and may stop the conversion, which then keeps the previous output.
TEST(Conversion, ReportsProgressAndStopsWhenAsked) {
  const int records = 20000;
  std::string adif = "<EOH>\n";
  for (int i = 0; i < records; ++i) adif += "<CALL:5>G4ABC <QSO_DATE:8>20240105 <EOR>\n";
  std::string input = scratch_path("progress.adi");
  std::string output = scratch_path("progress.csv");
  write_file(input, adif);
  // Reports at the start of each pass, then every 256 records.
  const size_t all_reports = 2 + 2 * (records / 256);
  struct Row {
    int stop_at;     // over 100: never
    int last_below;  // the last report is below this
  } rows[] = {
      {101, 101},
      {0, 1},     // before the first record
      {30, 50},   // in the first pass
      {70, 101},  // in the second pass
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stop_at);
    write_file(output, "the previous output\n");
    ProgressSeen seen{};
    seen.stop_at = row.stop_at;
    MessageSink sink{};
    sink.progress = note_progress;
    sink.context = &seen;
    sink.stop = &seen.stop;
    ConversionRequest request{};
    request.input_path = input.c_str();
    request.output_path = output.c_str();
    ConversionResult result = run_conversion(request, sink);
    ASSERT_FALSE(seen.percents.empty());
    EXPECT_EQ(seen.percents.front(), 0);
    for (size_t i = 1; i < seen.percents.size(); ++i) {
      EXPECT_LE(seen.percents[i - 1], seen.percents[i]);
    }
    EXPECT_LT(seen.percents.back(), row.last_below);
    if (row.stop_at > 100) {
      EXPECT_EQ(result.status, CONVERSION_DONE);
      EXPECT_EQ(seen.percents.size(), all_reports);
      EXPECT_GE(seen.percents.back(), 90);
      EXPECT_EQ(file_bytes(output).substr(0, 13), "CALL,QSO_DATE");
    } else {
      EXPECT_EQ(result.status, CONVERSION_FAILED);
      EXPECT_EQ(result.failure, FAILED_STOPPED);
      EXPECT_GE(seen.percents.back(), row.stop_at);
      EXPECT_LT(seen.percents.size(), all_reports);
      EXPECT_EQ(file_bytes(output), "the previous output\n");
    }
  }
  std::remove(input.c_str());
  std::remove(output.c_str());
}

// The window asks for records: a log without any keeps the previous output.
TEST(Conversion, ARequestThatNeedsRecordsKeepsTheOutputOfALogWithout) {
  std::string input = scratch_path("no_records.adi");
  std::string output = scratch_path("no_records.csv");
  write_file(input, "A header only <EOH>\n");
  write_file(output, "the previous output\n");
  ConversionRequest request{};
  request.input_path = input.c_str();
  request.output_path = output.c_str();
  request.needs_records = true;
  MessageSink sink{};
  ConversionResult result = run_conversion(request, sink);
  EXPECT_EQ(result.status, CONVERSION_FAILED);
  EXPECT_EQ(result.failure, FAILED_NO_RECORDS);
  EXPECT_EQ(file_bytes(output), "the previous output\n");
  std::remove(input.c_str());
  std::remove(output.c_str());
}

// Where each value ends: the damaged logs real writers make, each read whole
// or its stray text reported, and correct logs that must read as declared.
// Record messages come once from each pass, the summary once between them.
TEST(Conversion, ValuesEndWhereATagFollows) {
  const std::string counted =
      "1 value in 1 record had a length counted in characters and was read whole";
  auto twice = [](const std::string& message) {
    return std::vector<std::string>{message, message};
  };
  struct Row {
    const char* what;
    std::string adif;
    std::string csv;
    std::vector<std::string> messages;
  } rows[] = {
      // Damaged logs.
      {"characters counted, the bytes ending at a blank",
       "<NAME:12>Ju\xC3\xA1n Mu\xC3\xB1oz \xE2\x9C\x85 <QTH:4>K\xC3\xB6ln<EOR>\n",
       "NAME,QTH\nJu\xC3\xA1n Mu\xC3\xB1oz \xE2\x9C\x85,K\xC3\xB6ln\n",
       {"2 values in 1 record had lengths counted in characters and were read whole"}},
      {"stray text before a tag is no part of its name",
       "<NAME:12>Ju\xC3\xA1n Mu\xC3\xB1oz<c <QSO_DATE:8>20250901<EOR>\n",
       "NAME,QSO_DATE\nJu\xC3\xA1n Mu\xC3\xB1oz,1-Sep-2025\n",
       twice("QSO on 20250901: Text outside tags: <c")},
      {"a < alone on its line after a value counted in characters",
       "<NAME:8>El Ca\xC3\xB1\xC3\xB3n\n<\n<COMMENT:5>hello<EOR>\n",
       "COMMENT,NAME\nhello,El Ca\xC3\xB1\xC3\xB3n\n",
       {"Text outside tags: <", counted, "Text outside tags: <"}},
      {"CR LF turned into LF after the lengths were written",
       "<ADDRESS:7>a\nb\nc\n<QSO_DATE:8>20260122<EOR>\n",
       "ADDRESS,QSO_DATE\n\"a\nb\nc\",22-Jan-2026\n",
       {counted}},
      {"lengths one byte too long and one too short",
       "<FREQ:7>14.250<RST_SENT:2>59<PROP_MODE:2>SAT<EOR>\n",
       "FREQ,PROP_MODE,RST_SENT\n14.250,SAT,59\n",
       {"2 values in 1 record had lengths one or two bytes off and were read whole"}},
      {"the nearest end first",
       "<NAME:4>ab <QTH:2>xyz  <EOR>\n",
       "NAME,QTH\nab ,xyz\n",
       {"2 values in 1 record had lengths one or two bytes off and were read whole"}},
      {"GBK characters counted",
       "<comment:17>Distance: 3436 \xB9\xAB\xC0\xEF<EOR>\n",
       "COMMENT\nDistance: 3436 \xB9\xAB\xC0\xEF\n",
       {counted}},
      {"a tag without a length other than EOR and EOH is no end",
       "<NOTES:12>\xE9\xE9\xE9\xE9\xE9\xE9<A:1>y <EOQ><EOR>\n",
       "A,NOTES\ny,\xE9\xE9\xE9\xE9\xE9\xE9\n",
       {counted}},
      {"a shorter reading never merges two records",
       "<COMMENT:3>\xE9<<x <EOR>\n<CALL:4>W1AW<EOR>\n",
       "COMMENT,CALL\n\xE9<<x,\n,W1AW\n",
       {"1 value in 1 record had a length one or two bytes off and was read whole"}},
      {"a value after a length of 0 is reported", "<CALL:4>W1AW<GRIDSQUARE:0>EL88rc<EOR>\n",
       "CALL,GRIDSQUARE\nW1AW,\n", twice("W1AW: Text outside tags: EL88rc")},
      {"a tag that lost its <", "<CALL:4>K1AB\nmy_name:4>Fred\n<EOR>\n", "CALL\nK1AB\n",
       twice("K1AB: Text outside tags: my_name:4>Fred")},
      {"a duplicate's context is its line's end",
       "<CALL:5>W1AW/<CALL:4>W1AW<QSO_DATE:8>20241231<EOR>\n", "CALL,QSO_DATE\nW1AW/,31-Dec-2024\n",
       twice("W1AW on 20241231: Duplicate field: <CALL:4>W1AW")},
      // Correct logs, read as declared.
      {"values holding < and tags",
       "<NOTES:5>a<b>c<KEY:12><public key><X:14>x <CALL:4>W1AW<EOR>\n",
       "KEY,NOTES,X\n<public key>,a<b>c,x <CALL:4>W1AW\n",
       {}},
      {"a // comment after a value, and a URL",
       "<QSL_RCVD:1>Y // QSL record inserted\n<WEB:13>http://x.org/ <EOR>\n",
       "QSL_RCVD,WEB\nY,http://x.org/\n",
       {}},
      {"values ending in non-ASCII letters",
       "<QTH:6>Malm\xC3\xB6<CALL:4>SM7A<NAME:5>Bj\xF6rn <EOR>\n",
       "CALL,NAME,QTH\nSM7A,Bj\xF6rn,Malm\xC3\xB6\n",
       {}},
      {"a name with inner blanks after a header's free text",
       "Log <of> N0CALL\n<PROGRAMID>Logger\n<EOH>\n<Seq (R):3>001 <EOR>\n",
       "SEQ (R)\n001\n",
       {}},
      {"a tab inside a name",
       "<Seq\t(R):3>001 <CALL:4>W1AW<EOR>\n",
       "CALL,SEQ\t(R)\nW1AW,001\n",
       {}},
  };
  for (const Row& row : rows) {
    ConversionRun result = convert(row.adif);
    EXPECT_EQ(result.csv, row.csv) << row.what;
    EXPECT_EQ(result.messages, row.messages) << row.what;
  }
}

// Without --encoding, a log is read in the double-byte code page whose
// characters alone make its lengths fit; otherwise in none.
TEST(Conversion, TheCodePageIsTheOneWhoseCharactersMakeTheLengthsFit) {
  struct Row {
    const char* what;
    std::string adif;
    const char* code_page;  // null: none found
  } rows[] = {
      {"GBK counted in characters",
       "<QTH:2>\xB1\xB1\xBE\xA9<EOR>\n<QTH:3>a\xB1\xB1\xBE\xA9 <EOR>\n", "gbk"},
      {"UTF-8 counted in characters", "<NAME:4>J\xC3\xB6rg<EOR>\n", nullptr},
      {"GBK counted in bytes", "<QTH:4>\xB1\xB1\xBE\xA9<EOR>\n", nullptr},
      {"Shift-JIS fits GBK too, which is tried first (--encoding tells)",
       "<QTH:2>\x93\x8C\x8B\x9E<EOR>\n", "gbk"},
  };
  for (const Row& row : rows) {
    StreamPtr stream = stream_with(row.adif);
    LogSource source{};
    ASSERT_TRUE(open_log_source(source, stream.get(), LogIdentity{}));
    AdifRecord* record = nullptr;
    char* message = nullptr;
    ParseStatus status;
    while ((status = source.kind->read(source.reader, record, message)) != ADIF_EOF) {
      std::free(message);
      message = nullptr;
      if (status == ADIF_EOR) free_record(record), record = nullptr;
    }
    free_record(record);
    int page = log_source_state(source).code_page;
    EXPECT_STREQ(page < 0 ? nullptr : code_pages[page].name, row.code_page) << row.what;
    close_log_source(source);
  }
}
