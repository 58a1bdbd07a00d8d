// ledgerly-convert, run in-process with temporary files for its streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "cli/convert_command.h"
#include "ledgerly_version.h"
#include "tests/test_streams.h"

namespace {

const char two_records[] =
    "Test log\n<ADIF_VER:5>3.1.4<EOH>\n"
    "<CALL:6>N0CALL<QSO_DATE:8>20240105<TIME_ON:4>0930<BAND:3>20m<BAND:3>40m<EOR>\n"
    "<CALL:5>K1ABC<QSO_DATE:8>20241231<TIME_ON:6>235959<MODE:3>FT8<EOR>\n";
const char two_records_csv[] =
    "BAND,CALL,QSO_DATE,TIME_ON,MODE\n"
    "20m,N0CALL,5-Jan-2024,\"0930\",\n"
    ",K1ABC,31-Dec-2024,\"235959\",FT8\n";

// `csv` as the converter writes it to a stream: on Windows its lines end in
// CR LF.
std::string as_written(const std::string& csv) {
#ifdef _WIN32
  std::string lines;
  for (char c : csv) lines += c == '\n' ? "\r\n" : std::string(1, c);
  return lines;
#else
  return csv;
#endif
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome run(std::initializer_list<std::string> arguments, const std::string& input = "") {
  std::vector<std::string> words = {"ledgerly-convert"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  StreamPtr in = stream_with(input);
  StreamPtr out = empty_stream();
  StreamPtr err = empty_stream();
  Outcome result{};
  result.status = run_convert_command(static_cast<int>(words.size()), argv.data(), in.get(),
                                      out.get(), err.get());
  result.out = stream_bytes(out.get());
  result.err = stream_bytes(err.get());
  return result;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A scratch ADIF file, removed with its derived CSV file at the end.
struct ScratchLog {
  std::string adif;
  std::string csv;
  explicit ScratchLog(const std::string& name, const std::string& content = two_records)
      : adif(scratch_path(name + ".adi")), csv(scratch_path(name + ".CSV")) {
    std::remove(csv.c_str());
    write_file(adif, content);
  }
  ~ScratchLog() {
    std::remove(adif.c_str());
    std::remove(csv.c_str());
  }
};

TEST(Cli, ConvertsToTheDerivedPathAndReportsTheLog) {
  ScratchLog log("derived");
  Outcome result = run({log.adif});
  EXPECT_EQ(result.status, EXIT_CONVERTED);
  EXPECT_EQ(text_file_bytes(log.csv), two_records_csv);
  EXPECT_EQ(result.out, "");
  const std::string duplicate = "N0CALL on 20240105 at 0930: Duplicate field: <BAND:3>40m\n";
  // Each message once, as it is found, then the summary.
  EXPECT_EQ(result.err, duplicate + "\nConverted 2 ADIF records to CSV format\n");
}

TEST(Cli, WritesToAGivenPathOrToStandardOutput) {
  ScratchLog log("explicit");
  std::string chosen = scratch_path("chosen.csv");
  EXPECT_EQ(run({log.adif, chosen}).status, EXIT_CONVERTED);
  EXPECT_EQ(text_file_bytes(chosen), two_records_csv);
  std::remove(chosen.c_str());

  Outcome to_stdout = run({log.adif, "-"});
  EXPECT_EQ(to_stdout.status, EXIT_CONVERTED);
  EXPECT_EQ(to_stdout.out, as_written(two_records_csv));
  EXPECT_EQ(file_bytes(log.csv), "");  // no CSV file was made beside the log
}

TEST(Cli, ReadsStandardInputAndWritesStandardOutputByDefault) {
  Outcome result = run({"-"}, two_records);
  EXPECT_EQ(result.status, EXIT_CONVERTED);
  EXPECT_EQ(result.out, as_written(two_records_csv));
  EXPECT_TRUE(contains(result.err, "Converted 2 ADIF records to CSV format\n"));
}

TEST(Cli, RefusesToWriteOverTheInput) {
  ScratchLog log("same");
  size_t name_start = log.adif.find_last_of("/\\") + 1;
  // The same file spelled through "./" in its folder.
  std::string respelled =
      log.adif.substr(0, name_start) + "." + log.adif[name_start - 1] + log.adif.substr(name_start);
  for (const std::string& output : {log.adif, respelled}) {
    Outcome result = run({log.adif, output});
    EXPECT_EQ(result.status, EXIT_FAILED) << output;
    EXPECT_TRUE(contains(result.err, "Output CSV file is the same as the input ADIF file"));
    EXPECT_EQ(file_bytes(log.adif), two_records);
  }
}

TEST(Cli, AMissingInputLeavesAnExistingCsvAlone) {
  std::string missing = scratch_path("missing.adi");
  std::string csv = scratch_path("missing.CSV");
  std::remove(missing.c_str());
  write_file(csv, "kept\n");
  Outcome result = run({missing});
  EXPECT_EQ(result.status, EXIT_FAILED);
  EXPECT_TRUE(contains(result.err, "Could not open ADIF input file."));
  EXPECT_TRUE(contains(result.err, missing));
  EXPECT_EQ(file_bytes(csv), "kept\n");
  std::remove(csv.c_str());
}

TEST(Cli, AnOutputThatCannotBeOpenedFails) {
  ScratchLog log("unwritable");
  std::string output = scratch_path("no_such_folder/out.csv");
  Outcome result = run({log.adif, output});
  EXPECT_EQ(result.status, EXIT_FAILED);
  EXPECT_TRUE(contains(result.err, "Could not open CSV output file."));
  EXPECT_TRUE(contains(result.err, output));
}

// The same records in every encoding and form a log comes in; what is not
// a log is refused and leaves the previous output alone.
TEST(Cli, ReadsEveryFormOfLogAndRefusesTheRest) {
  const std::string adif = "<EOH>\r\n<CALL:5>K1ABC<NAME:4>J\xC3\xB6rg<EOR>\r\n";
  const std::string csv = "CALL,NAME\nK1ABC,J\xC3\xB6rg\n";
  // UTF-16 from the UTF-8 text above (ASCII and one 2-byte character).
  auto utf16 = [](const std::string& text, bool big_endian) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      unsigned code = static_cast<unsigned char>(text[i]);
      if (code >= 0xC0)
        code = ((code & 0x1F) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F);
      char high = static_cast<char>(code >> 8), low = static_cast<char>(code & 0xFF);
      out += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return out;
  };
  const std::string adx =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ADX><HEADER><ADIF_VER>3.1.4</ADIF_VER></HEADER>"
      "<RECORDS><RECORD><CALL>K1ABC</CALL><NAME>J\xC3\xB6rg</NAME></RECORD></RECORDS></ADX>\n";
  struct Row {
    const char* what;
    std::string log;
    int status;
    std::string csv;
  } rows[] = {
      {"UTF-16LE with a byte-order mark", "\xFF\xFE" + utf16(adif, false), EXIT_CONVERTED, csv},
      {"UTF-16LE without one", utf16(adif, false), EXIT_CONVERTED, csv},
      {"UTF-16BE with a byte-order mark", "\xFE\xFF" + utf16(adif, true), EXIT_CONVERTED, csv},
      {"UTF-16BE without one", utf16(adif, true), EXIT_CONVERTED, csv},
      {"ADX in UTF-8", adx, EXIT_CONVERTED, csv},
      {"ADX in UTF-16LE, no mark, no encoding", utf16(adx.substr(adx.find('>') + 2), false),
       EXIT_CONVERTED, csv},
      {"a PDF", "%PDF-1.4\n%\xE2\xE3\n1 0 obj\n", EXIT_FAILED, "kept\n"},
      {"a zip", std::string("PK\x03\x04\x14\0\0\0", 8), EXIT_FAILED, "kept\n"},
      {"text without a tag", "Just some notes\n", EXIT_FAILED, "kept\n"},
  };
  for (const Row& row : rows) {
    ScratchLog log("forms", row.log);
    write_file(log.csv, "kept\n");
    Outcome result = run({log.adif});
    EXPECT_EQ(result.status, row.status) << row.what << result.err;
    EXPECT_EQ(text_file_bytes(log.csv), row.csv) << row.what;
  }
}

TEST(Cli, StopsWithStatusThreeAtAnOverLongLine) {
  ScratchLog log("long", "<CALL:1>A<EOR>\n" + std::string(10000, 'x') + "\n<CALL:1>B<EOR>\n");
  Outcome result = run({log.adif});
  EXPECT_EQ(result.status, EXIT_STOPPED);
  EXPECT_EQ(text_file_bytes(log.csv), "CALL\nA\n");
  EXPECT_TRUE(contains(result.err, "Converted 1 ADIF records to CSV format\n"));
  EXPECT_TRUE(contains(result.err, "part of the log is not in the CSV"));
}

TEST(Cli, UsageAndInformation) {
  struct Row {
    std::initializer_list<std::string> arguments;
    int status;
    const char* out;
    const char* err;
  } rows[] = {
      {{}, EXIT_USAGE, "", "no INPUT given"},
      {{"a.adi", "b.csv", "c.csv"}, EXIT_USAGE, "", "too many arguments"},
      {{"--frobnicate"}, EXIT_USAGE, "", "unknown option --frobnicate"},
      {{"--version"}, EXIT_CONVERTED, "ledgerly-convert " LEDGERLY_FULL_VERSION "\n", ""},
      {{"--help"}, EXIT_CONVERTED, "Usage: ledgerly-convert [OPTION]... INPUT [OUTPUT]", ""},
      {{"--format", "ods", "a.adi"}, EXIT_USAGE, "", "unknown format ods"},
      {{"--separator=|", "a.adi"}, EXIT_USAGE, "", "unknown separator |"},
      {{"--dates", "us", "a.adi"}, EXIT_USAGE, "", "unknown date form us"},
      {{"--order", "abc", "a.adi"}, EXIT_USAGE, "", "unknown column order abc"},
      {{"a.adi", "--columns"}, EXIT_USAGE, "", "missing value for --columns"},
      {{"--bom", "a.adi", "b.xlsx"}, EXIT_USAGE, "", "are for CSV output"},
      {{"--decimal-comma", "--format", "xlsx", "a.adi"}, EXIT_USAGE, "", "are for CSV output"},
  };
  for (const Row& row : rows) {
    Outcome result = run(row.arguments);
    EXPECT_EQ(result.status, row.status) << row.err << row.out;
    EXPECT_TRUE(contains(result.out, row.out)) << result.out;
    EXPECT_TRUE(contains(result.err, row.err)) << result.err;
    EXPECT_EQ(contains(result.err, "Usage:"), row.status == EXIT_USAGE);
  }
}

}  // namespace

// The log's code page: the CSV keeps the log's bytes unless --encoding with
// --utf8 asks for UTF-8; a name the system does not share and --utf8 alone
// are usage errors.
TEST(Cli, EncodingAndUtf8) {
  const std::string cyrillic = "<NAME:4>\xCF\xE5\xF0\xF2<EOR>\n";  // Windows-1251
  const std::string gbk = "<QTH:2>\xB1\xB1\xBE\xA9<EOR>\n";        // counted in characters
  struct Row {
    std::vector<std::string> options;
    std::string log;
    int status;
    std::string out;
  } rows[] = {
      {{"--encoding", "windows-1251", "--utf8"},
       cyrillic,
       EXIT_CONVERTED,
       "NAME\n\xD0\x9F\xD0\xB5\xD1\x80\xD1\x82\n"},
      {{"--encoding", "WINDOWS_1251"}, cyrillic, EXIT_CONVERTED, "NAME\n\xCF\xE5\xF0\xF2\n"},
      {{"--encoding", "gbk", "--utf8"}, gbk, EXIT_CONVERTED, "QTH\n\xE5\x8C\x97\xE4\xBA\xAC\n"},
      {{"--utf8"}, cyrillic, EXIT_USAGE, ""},
      {{"--encoding", "klingon"}, cyrillic, EXIT_USAGE, ""},
  };
  for (const Row& row : rows) {
    std::vector<std::string> words = {"ledgerly-convert"};
    words.insert(words.end(), row.options.begin(), row.options.end());
    words.push_back("-");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    StreamPtr in = stream_with(row.log);
    StreamPtr out = empty_stream();
    StreamPtr err = empty_stream();
    int status = run_convert_command(static_cast<int>(argv.size()), argv.data(), in.get(),
                                     out.get(), err.get());
    EXPECT_EQ(status, row.status) << row.options[0];
    EXPECT_EQ(stream_bytes(out.get()), as_written(row.out)) << row.options[0];
  }
}
