// A catalogue of hostile inputs and what the conversion makes of each: the
// status that ended it, the records written, the CSV bytes and the messages.
// One group per kind of damage. Every CSV must also read back under RFC 4180
// with one row per record, all as wide as the header.
//
// The very large cases (a 300 MB file without line ends, memory bounds) are
// in scripts/test-stages/40-stress.sh.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/convert_command.h"
#include "convert/convert.h"
#include "tests/conversion_run.h"
#include "tests/fuzz/csv_reader.h"
#include "tests/test_streams.h"

using namespace std::string_literals;

namespace {

const std::string truncated = "ERROR: Truncated input line: ";
const std::string cut_record = "W1AW: The log ends inside a record, which was not converted";

struct HostileCase {
  const char* what;
  std::string adif;
  ParseStatus end;
  int records;
  std::string csv;
  std::vector<std::string> messages;  // of one pass; the log holds them twice
};

void expect_outcomes(const std::vector<HostileCase>& cases) {
  for (const HostileCase& expected : cases) {
    SCOPED_TRACE(expected.what);
    ConversionRun outcome = convert(expected.adif);
    EXPECT_EQ(outcome.end, expected.end);
    EXPECT_EQ(outcome.records, expected.records);
    EXPECT_EQ(outcome.csv, expected.csv);
    std::vector<std::string> twice = expected.messages;
    twice.insert(twice.end(), expected.messages.begin(), expected.messages.end());
    EXPECT_EQ(outcome.messages, twice);

    std::vector<CsvRow> rows;
    ASSERT_TRUE(read_CSV(outcome.csv, rows));
    ASSERT_EQ(rows.size(), static_cast<size_t>(outcome.records) + 1);
    for (const CsvRow& row : rows) EXPECT_EQ(row.size(), rows[0].size());
  }
}

// `count` copies of `text`.
std::string times(int count, const std::string& text) {
  std::string all;
  for (int i = 0; i < count; ++i) all += text;
  return all;
}

// A line of exactly `size` characters (line end not counted) that holds one
// NOTES field filling it, then <EOR>; `value` receives the field's value.
std::string notes_line(size_t size, std::string* value = nullptr) {
  std::string tail = "<EOR>";
  // The tag's length has four digits for every size used here.
  size_t length = size - std::string("<NOTES:0000>").size() - tail.size();
  std::string text(length, 'n');
  if (value) *value = text;
  return "<NOTES:" + std::to_string(length) + ">" + text + tail;
}

TEST(Hostile, EmptyAndHeaderOnlyLogs) {
  expect_outcomes({
      {"empty file", "", ADIF_EOF, 0, "\n", {}},
      {"header only",
       "Club log\n<ADIF_VER:5>3.1.4 <PROGRAMID>Tool\n<EOH>\n",
       ADIF_EOF,
       0,
       "\n",
       {}},
      {"header cut before its end", "Club log\n<ADIF_VER:5>3.1.4\n", ADIF_EOF, 0, "\n", {}},
      {"<EOR> alone", "<EOR>\n", ADIF_EOF, 0, "\n", {}},
      {"<EOR> alone without a line end", "<EOR>", ADIF_EOF, 0, "\n", {}},
      {"ends of record with no record around one",
       "<EOR>\n<EOR>\n<CALL:4>K1AB<EOR>\n<EOR>\n",
       ADIF_EOF,
       1,
       "CALL\nK1AB\n",
       {}},
      {"blank lines and free text only", "\n\n\r\njust text\n", ADIF_EOF, 0, "\n", {}},
  });
}

TEST(Hostile, DeclaredLengths) {
  expect_outcomes({
      {"length 0", "<CALL:0><BAND:3>20m<EOR>\n", ADIF_EOF, 1, "BAND,CALL\n20m,\n", {}},
      {"length -1 makes a tag without length",
       "<CALL:-1>K1AB<BAND:3>20m<EOR>\n",
       ADIF_EOF,
       1,
       "BAND\n20m\n",
       {}},
      {"<EOR:-1> ends a record", "<CALL:4>K1AB<EOR:-1>\n", ADIF_EOF, 1, "CALL\nK1AB\n", {}},
      {"<EOR:0> is a field", "<EOR:0><CALL:4>K1AB<EOR>\n", ADIF_EOF, 1, "CALL,EOR\nK1AB,\n", {}},
      {"length without digits reads as 0",
       "<CALL:>K1AB<BAND: x>20m<EOR>\n",
       ADIF_EOF,
       1,
       "BAND,CALL\n,\n",
       {"Text outside tags: K1AB"}},
      {"length 2147483647 swallows the rest of the input",
       "<CALL:4>K1AB<EOR>\n<CALL:4>W1AW<NOTES:2147483647>short\n<EOR>\n",
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {"W1AW: The log ends inside the value of <NOTES:2147483647>"}},
      {"length 99999999999999999999 saturates and swallows the rest",
       "<CALL:4>K1AB<EOR>\n<NOTES:99999999999999999999>x<EOR>\n<CALL:4>W1AW<EOR>\n",
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {"The log ends inside the value of <NOTES:2147483647>"}},
      {"length -99999999999999999999 makes a tag without length",
       "<CALL:4>K1AB<NOTES:-99999999999999999999>abc<EOR>\n",
       ADIF_EOF,
       1,
       "CALL\nK1AB\n",
       {"K1AB: Text outside tags: abc"}},
      {"length longer than its value takes the next tag",
       "<CALL:10>K1AB<BAND:3>20m<EOR>\n",
       ADIF_EOF,
       1,
       "CALL\nK1AB<BAND:\n",
       {"K1AB<BAND:: Text outside tags: 3>20m"}},
  });
}

TEST(Hostile, InputCutOff) {
  expect_outcomes({
      {"tag cut at the end of the input",
       "<CALL:4>K1AB<EOR>\n<CALL:4>W1AW<BA",
       ADIF_EOF,
       1,
       "CALL\nK1AB\n",
       {cut_record}},
      {"tag cut after its colon",
       "<CALL:4>K1AB<EOR>\n<CALL:4>W1AW<BAND:3",
       ADIF_EOF,
       1,
       "CALL\nK1AB\n",
       {cut_record}},
      {"tag cut within a line: the rest of the line is dropped and reported",
       "<CALL:4>K1AB<BAND\n<MODE:2>CW<EOR>\n",
       ADIF_EOF,
       1,
       "CALL,MODE\nK1AB,CW\n",
       {"K1AB: Text outside tags: <BAND"}},
      {"value running past the end of the input",
       "<CALL:4>K1AB<EOR>\n<CALL:4>W1AW<NOTES:50>only a few bytes\n",
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {"W1AW: The log ends inside the value of <NOTES:50>"}},
      {"last record without a line end",
       "<CALL:4>K1AB<EOR>\n<CALL:4>W1AW<EOR>",
       ADIF_EOF,
       2,
       "CALL\nK1AB\nW1AW\n",
       {}},
      {"last record without its end of record",
       "<CALL:4>K1AB<EOR>\n<CALL:4>W1AW\n",
       ADIF_EOF,
       1,
       "CALL\nK1AB\n",
       {cut_record}},
      {"no end of record at all, repeated fields said once",
       "<CALL:4>K1AB <BAND:3>20m\n<CALL:4>W1AW <BAND:3>40m\n",
       ADIF_EOF,
       0,
       "\n",
       {"The log has no <EOR>, so no QSO in it was converted"}},
  });
}

TEST(Hostile, NulBytes) {
  // Past the reader's first block (the data is checked for NUL as it is read).
  std::string many;
  std::string rows = "CALL\n";
  for (int k = 0; k < 20000; ++k) {
    many += "<CALL:4>K1AB<EOR>\n";
    rows += "K1AB\n";
  }
  expect_outcomes({
      {"NUL in a line of a later block",
       many + "<CALL:4>W1\0AW<EOR>\n"s,
       ADIF_TRUNCATED,
       20000,
       rows,
       {truncated + "<CALL:4>W1"}},
      {"NUL inside a line ends its text: the line counts as cut",
       "<CALL:4>K1AB<EOR>\n<CALL:4>W1\0AW<EOR>\n<CALL:4>N0CA<EOR>\n"s,
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {truncated + "<CALL:4>W1"}},
      {"NUL at a line's start",
       "<CALL:4>K1AB<EOR>\n\0<CALL:4>W1AW<EOR>\n"s,
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {truncated}},
      {"NUL as the first byte of the file",
       "\0<CALL:4>K1AB<EOR>\n"s,
       ADIF_TRUNCATED,
       0,
       "\n",
       {truncated}},
      {"NUL in the last line, nothing after it",
       "<CALL:4>K1AB<EOR>\n<CALL:4>W1AW<EOR>\0tail"s,
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {truncated + "<CALL:4>W1AW<EOR>"}},
      {"NUL inside a value that runs over lines",
       "<CALL:4>K1AB<EOR>\n<CALL:4>W1AW<NOTES:6>ab\n\0cdef<EOR>\n<CALL:4>N0CA<EOR>\n"s,
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {truncated}},
      {"NUL later in a line that completes a value",
       "<NOTES:6>ab\ncd\0ef<EOR>\n<CALL:4>N0CA<EOR>\n"s,
       ADIF_TRUNCATED,
       0,
       "\n",
       {truncated + "cd"}},
  });
}

TEST(Hostile, LineLengths) {
  std::string value_8190;
  std::string line_8190 = notes_line(8190, &value_8190);
  std::string line_8191 = notes_line(8191);
  std::string line_8192 = notes_line(8192);
  std::string line_100000 = "<CALL:4>W1AW" + std::string(100000 - 17, ' ') + "<EOR>";
  std::string first = "<CALL:4>K1AB<EOR>\n";
  std::string after = "\n<CALL:4>N0CA<EOR>\n";
  expect_outcomes({
      {"8190 characters: read whole",
       first + line_8190 + after,
       ADIF_EOF,
       3,
       "CALL,NOTES\nK1AB,\n," + value_8190 + "\nN0CA,\n",
       {}},
      {"8190 characters before CR LF: read whole",
       line_8190 + "\r\n",
       ADIF_EOF,
       1,
       "NOTES\n" + value_8190 + "\n",
       {}},
      {"8191 characters: stops the conversion",
       first + line_8191 + after,
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {truncated + line_8191}},
      {"8192 characters: the message holds the first 8191",
       first + line_8192 + after,
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {truncated + line_8192.substr(0, 8191)}},
      {"100,000 characters",
       first + line_100000 + after,
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {truncated + line_100000.substr(0, 8191)}},
      {"last line of 8191 characters without a line end: read whole",
       first + line_8191,
       ADIF_EOF,
       2,
       "CALL,NOTES\nK1AB,\n," + line_8191.substr(12, 8174) + "\n",
       {}},
      {"last line of 8192 characters without a line end",
       first + line_8192,
       ADIF_TRUNCATED,
       1,
       "CALL\nK1AB\n",
       {truncated + line_8192.substr(0, 8191)}},
      {"a value of 100,000 characters over short lines",
       "<NOTES:100000>" + times(1000, std::string(99, 'v') + "\n") + "<EOR>\n",
       ADIF_EOF,
       1,
       "NOTES\n\"" + times(1000, std::string(99, 'v') + "\n") + "\"\n",
       {}},
  });
}

TEST(Hostile, LineEnds) {
  std::string long_cr_log = times(600, "<CALL:4>K1AB<EOR>\r");  // 10,800 bytes, no LF
  expect_outcomes({
      {"CR LF line ends",
       "<CALL:4>K1AB<EOR>\r\n<CALL:4>W1AW<EOR>\r\n",
       ADIF_EOF,
       2,
       "CALL\nK1AB\nW1AW\n",
       {}},
      {"CR LF and LF mixed, value over a CR LF",
       "head\r\n<EOH>\n<ADDRESS:10>1 Main\r\nSt<EOR>\r\n<ADDRESS:2>x\n<EOR>\n",
       ADIF_EOF,
       2,
       "ADDRESS\n\"1 Main\r\nSt\"\n\"x\n\"\n",
       {}},
      {"CR-only line ends", long_cr_log, ADIF_EOF, 600, "CALL\n" + times(600, "K1AB\n"), {}},
      {"records on one line",
       times(20, "<CALL:4>K1AB<EOR>") + "\n",
       ADIF_EOF,
       20,
       "CALL\n" + times(20, "K1AB\n"),
       {}},
  });
}

TEST(Hostile, TenThousandFieldsInOneRecord) {
  std::string adif;
  std::string header;
  std::string row;
  char name[16];
  for (int i = 0; i < 10000; ++i) {
    std::snprintf(name, sizeof name, "F%04d", i);
    std::string value = std::to_string(i % 7);
    adif += "<" + std::string(name) + ":1>" + value + "\n";
    header += (i ? "," : "") + std::string(name);
    row += (i ? "," : "") + value;
  }
  std::string same_name = "<CALL:4>K1AB\n" + times(9999, "<CALL:4>W1AW\n") + "<EOR>\n";
  // The message names the record by its newest CALL, the duplicate itself.
  std::vector<std::string> duplicates(9999, "W1AW: Duplicate field: <CALL:4>W1AW");
  expect_outcomes({
      {"10,000 distinct names, one per line",
       adif + "<EOR>\n",
       ADIF_EOF,
       1,
       header + "\n" + row + "\n",
       {}},
      {"10,000 fields of one name: the first wins, each later one is reported", same_name, ADIF_EOF,
       1, "CALL\nK1AB\n", duplicates},
  });
}

TEST(Hostile, AThousandDistinctFieldNames) {
  // Record i holds one field named N<999-i>, so that column order (first
  // appearance) differs from name order.
  std::string adif;
  std::string header;
  std::vector<std::string> rows(1000);
  char name[16];
  for (int i = 0; i < 1000; ++i) {
    std::snprintf(name, sizeof name, "N%03d", 999 - i);
    adif += "<" + std::string(name) + ":1>x<EOR>\n";
    header += (i ? "," : "") + std::string(name);
  }
  std::string csv = header + "\n";
  for (int i = 0; i < 1000; ++i) {
    csv += std::string(static_cast<size_t>(i), ',') + "x" + std::string(999 - i, ',') + "\n";
  }
  expect_outcomes({{"1,000 names, one per record", adif, ADIF_EOF, 1000, csv, {}}});
}

// The header cell of a name: quoted, with quotes doubled, when it holds a
// comma, apostrophe, carriage return or double quote.
std::string header_cell(const std::string& name) {
  if (name.find_first_of(",'\r\"") == std::string::npos) return name;
  std::string cell = "\"";
  for (char c : name) cell += c == '"' ? "\"\"" : std::string(1, c);
  return cell + "\"";
}

TEST(Hostile, EveryByteInANameAndInAValue) {
  // Names: bytes that end a name (':' '>' and the line end) or its line (NUL)
  // cannot stand in one; the others are kept, a to z upper-cased, so that
  // "Na" is the column of "NA".
  std::string adif;
  std::vector<std::string> columns;
  std::vector<size_t> column_of_record;
  for (int byte = 1; byte < 256; ++byte) {
    char c = static_cast<char>(byte);
    if (c == ':' || c == '>' || c == '\n' || c == '\r') continue;  // these end a name
    adif += "<N"s + c + ":1>v<EOR>\n";
    // A name holds no `<`: that tag starts at it, with an empty name.
    std::string name =
        c == '<' ? ""s : "N"s + ((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
    size_t column = 0;
    while (column < columns.size() && columns[column] != name) ++column;
    if (column == columns.size()) columns.push_back(name);
    column_of_record.push_back(column);
  }
  std::string names_csv;
  for (size_t i = 0; i < columns.size(); ++i) names_csv += (i ? "," : "") + header_cell(columns[i]);
  names_csv += "\n";
  for (size_t column : column_of_record) {
    names_csv +=
        std::string(column, ',') + "v" + std::string(columns.size() - 1 - column, ',') + "\n";
  }
  ASSERT_EQ(columns.size(), 251u - 26u);
  // Values: every byte but NUL (see NulBytes) goes through as it is; the line
  // feed makes the value run over two lines.
  std::string values_adif;
  std::string values_csv = "V\n";
  for (int byte = 1; byte < 256; ++byte) {
    std::string value = "a"s + static_cast<char>(byte) + "b";
    values_adif += "<V:3>" + value + "<EOR>\n";
    bool quoted = value.find_first_of(",'\r\n\"") != std::string::npos;
    std::string cell = byte == '"' ? "a\"\"b" : value;
    values_csv += quoted ? "\"" + cell + "\"\n" : cell + "\n";
  }
  std::string all_bytes;
  for (int byte = 0; byte < 256; ++byte) all_bytes += static_cast<char>(byte);
  expect_outcomes({
      {"bytes 0x01 to 0xFF in names", adif, ADIF_EOF, 251, names_csv, {"Text outside tags: <N"}},
      {"bytes 0x01 to 0xFF in values", values_adif, ADIF_EOF, 255, values_csv, {}},
      {"bytes 0x00 to 0xFF in a row: stops at the NUL",
       all_bytes,
       ADIF_TRUNCATED,
       0,
       "\n",
       {truncated}},
      {"bytes 0x01 to 0xFF, then a record",
       all_bytes.substr(1) + "\n<CALL:4>K1AB<EOR>\n",
       ADIF_EOF,
       1,
       "CALL\nK1AB\n",
       {}},
  });
}

TEST(Hostile, NamesThatWouldSplitTheHeaderAreQuoted) {
  expect_outcomes({
      {"comma, quote and apostrophe in names",
       "<A,B:1>x<C\"D:1>y<E'F:1>z<EOR>\n",
       ADIF_EOF,
       1,
       "\"A,B\",\"C\"\"D\",\"E'F\"\nx,y,z\n",
       {}},
      {"an empty name is a column too",
       "<:1>e<CALL:4>K1AB<EOR>\n",
       ADIF_EOF,
       1,
       ",CALL\ne,K1AB\n",
       {}},
  });
}

// A header's free text of at least `bytes` bytes, in lines of 60.
std::string free_text(size_t bytes) {
  std::string text;
  while (text.size() < bytes)
    text += "Exported for the club's award check, all bands, all modes.\n";
  return text;
}

// ledgerly-convert on a hostile file: exit status, CSV written, what standard
// error says.
TEST(HostileCli, ExitStatusesForDamagedLogs) {
  struct Row {
    const char* what;
    std::string adif;
    int status;
    const char* csv;
    const char* err_holds;
  };
  const Row rows[] = {
      {"empty file", "", EXIT_FAILED, "", "is not an ADIF or ADX log (the log is empty)"},
      {"cut off inside a value", "<CALL:4>K1AB<EOR>\n<NOTES:99999999999>x", EXIT_STOPPED,
       "CALL\nK1AB\n", "The log ends inside the value of <NOTES:2147483647>"},
      {"no end of record", "<CALL:4>K1AB\n", EXIT_STOPPED, "\n",
       "The log has no <EOR>, so no QSO in it was converted"},
      {"over-long line", "<CALL:4>K1AB<EOR>\n" + std::string(9000, 'x') + "\n", EXIT_STOPPED,
       "CALL\nK1AB\n", "part of the log is not in the CSV"},
      {"over-long first line", std::string(9000, 'x') + "\n<CALL:4>K1AB<EOR>\n", EXIT_STOPPED, "\n",
       "Truncated input line"},
      {"a header's free text over 4 KiB", free_text(6000) + "<EOH>\n<CALL:4>K1AB<EOR>\n",
       EXIT_CONVERTED, "CALL\nK1AB\n", ""},
      {"no tag in the first 64 KiB", free_text(70000) + "<CALL:4>K1AB<EOR>\n", EXIT_FAILED, "",
       "it holds no ADIF tag"},
      {"NUL byte inside a line", "<CALL:4>K1AB<EOR>\n<CALL:4>W1\0AW<EOR>\n"s, EXIT_STOPPED,
       "CALL\nK1AB\n", "part of the log is not in the CSV"},
      {"a PDF", "%PDF-1.7\n<</Type /Catalog>>\n", EXIT_FAILED, "", "(a PDF document)"},
      {"text outside tags", "<CALL:4>K1AB<GRIDSQUARE:0>FN31<EOR>\n", EXIT_STOPPED,
       "CALL,GRIDSQUARE\nK1AB,\n",
       "K1AB: Text outside tags: FN31\n\nConverted 1 ADIF records to CSV format\n"
       "ledgerly-convert: text outside the tags of 1 record is not in the CSV"},
      {"the summary of values read whole, right before the count", "<NAME:4>J\xC3\xB6rg<EOR>\n",
       EXIT_CONVERTED, "NAME\nJ\xC3\xB6rg\n",
       "1 value in 1 record had a length counted in characters and was read whole\n"
       "Converted 1 ADIF records"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string adif_path = scratch_path("hostile.adi");
    std::string csv_path = scratch_path("hostile.CSV");
    write_file(adif_path, row.adif);
    std::vector<std::string> words = {"ledgerly-convert", adif_path, csv_path};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    StreamPtr in = empty_stream();
    StreamPtr out = empty_stream();
    StreamPtr err = empty_stream();
    int status = run_convert_command(3, argv.data(), in.get(), out.get(), err.get());
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(text_file_bytes(csv_path), row.csv);
    std::string err_text = stream_bytes(err.get());
    EXPECT_NE(err_text.find(row.err_holds), std::string::npos) << err_text;
    std::remove(adif_path.c_str());
    std::remove(csv_path.c_str());
  }
}

}  // namespace
