// The conversion's fast paths against their plain counterparts: the field
// tree's prefix-skipping comparisons against a plain strcmp insertion, the
// writer's cell placement through the column index against a tree search per
// column,
// the line buffer against long lines and values, the reader's end-of-text
// searches, the record arena's spare chunk, and the workbook's number texts
// against printf.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "adif/adif.h"
#include "adif/adif_reader.h"
#include "convert/convert.h"
#include "convert/sheet_stream.h"
#include "tests/test_streams.h"

namespace {

// The ADIF tag for `name` with `value`, its length counted.
std::string tag(const std::string& name, const std::string& value) {
  return "<" + name + ":" + std::to_string(value.size()) + ">" + value;
}

// Every record of `adif`, read as the conversion reads it; released with
// the object.
struct Records {
  std::vector<AdifRecord*> list;
  explicit Records(const std::string& adif) {
    StreamPtr stream = stream_with(adif);
    char line[8192];
    AdifRecord* record = nullptr;
    char* message = nullptr;
    ParseStatus status;
    while ((status = parse_ADIF(stream.get(), record, line, sizeof line, message)) != ADIF_EOF) {
      std::free(message);
      message = nullptr;
      if (status == ADIF_EOR && record) {
        list.push_back(record);
        record = nullptr;
      }
      EXPECT_NE(status, ADIF_TRUNCATED);
      if (status == ADIF_TRUNCATED) break;
    }
    free_record(record);
  }
  ~Records() {
    for (AdifRecord* record : list) free_record(record);
  }
};

// The columns of `records` as pass 1 collects them (through the index).
struct IndexedColumns {
  ColumnList list{};
  explicit IndexedColumns(const Records& records) {
    EXPECT_TRUE(init_column_list(list));
    int count = 0;
    for (AdifRecord* record : records.list) collect_field_names(record->root, list, count);
  }
  ~IndexedColumns() { free_column_list(list); }
};

// A column table with the same names but no index, as a caller may build
// one by hand: the writer must then search each record's tree.
struct PlainColumns {
  std::vector<char*> names;
  ColumnList list{};
  explicit PlainColumns(const ColumnList& model) {
    for (char** name = model.names; *name; ++name) names.push_back(*name);
    names.push_back(nullptr);
    list.names = names.data();
    list.capacity = static_cast<int32_t>(names.size());
  }
};

std::string written(const Records& records, const ColumnList& columns) {
  StreamPtr out = empty_stream();
  for (AdifRecord* record : records.list) write_CSV_record(out.get(), record, columns);
  return stream_bytes(out.get());
}

// Writes `adif` both ways and expects the same bytes; returns them.
std::string both_ways(const std::string& adif) {
  Records records(adif);
  IndexedColumns indexed(records);
  PlainColumns plain(indexed.list);
  std::string fast = written(records, indexed.list);
  EXPECT_EQ(fast, written(records, plain.list));
  return fast;
}

TEST(CellPlacement, MatchesTheTreeSearchOnMixedRecords) {
  std::string adif = tag("CALL", "N0CALL") + tag("QSO_DATE", "20240105") + tag("TIME_ON", "0930") +
                     tag("COMMENT", "said \"hi\", bye") + "<EOR>\n" + tag("FREQ", "14.074") +
                     tag("call", "K1ABC") + tag("TIME_OFF", "1200") + tag("QSO_DATE", "2024") +
                     "<EOR>\n" + tag("BAND", "20m") + tag("BAND", "40m") + tag("NAME", "O'Brien") +
                     "<EOR>\n" + tag("QSO_DATE_OFF", "20240105") + "<EOR>\n";
  // Columns: CALL, COMMENT, QSO_DATE, TIME_ON, then FREQ, TIME_OFF, then
  // BAND, NAME, then QSO_DATE_OFF. The duplicate BAND keeps the first value.
  EXPECT_EQ(both_ways(adif),
            "N0CALL,\"said \"\"hi\"\", bye\",5-Jan-2024,\"0930\",,,,,\n"
            "K1ABC,,2024,,14.074,\"1200\",,,\n"
            ",,,,,,20m,\"O'Brien\",\n"
            ",,,,,,,,20240105\n");
}

TEST(CellPlacement, ManyColumnsGrowTheIndexAndTheCellTable) {
  // 300 names, more than the table's first 128 slots; each record carries a
  // different third of them, in a different order.
  std::string adif;
  for (int record = 0; record < 3; ++record) {
    for (int k = 0; k < 100; ++k) {
      int field = (k * 37 + record * 100) % 300;
      adif += tag("APP_TEST_" + std::to_string(field), std::to_string(field * record));
    }
    adif += "<EOR>\n";
  }
  std::string csv = both_ways(adif);
  // Each line has 300 cells: 299 separators.
  size_t start = 0;
  for (int line = 0; line < 3; ++line) {
    size_t end = csv.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    std::string text = csv.substr(start, end - start);
    EXPECT_EQ(std::count(text.begin(), text.end(), ','), 299) << line;
    start = end + 1;
  }
}

TEST(CellPlacement, NamesAddedByHandAfterCollectingStillGetTheirCells) {
  Records records(tag("CALL", "N0CALL") + tag("BAND", "20m") + "<EOR>\n");
  ColumnList columns{};
  ASSERT_TRUE(init_column_list(columns));
  AdifField call{};
  call.name = const_cast<char*>("CALL");
  int count = 0;
  collect_field_names(&call, columns, count);
  // A column the index never saw: the writer must not drop its cell.
  const char band[] = "BAND";
  columns.names[1] = static_cast<char*>(std::malloc(sizeof band));
  std::memcpy(columns.names[1], band, sizeof band);
  EXPECT_EQ(written(records, columns), "N0CALL,20m\n");
  free_column_list(columns);
}

// The block reader numbers names in the order it meets them, and the column
// index keeps each number's column: a column list used with a second reader,
// whose numbers mean other names, must not place cells by the first one's.
TEST(CellPlacement, NameNumbersBelongToTheirReader) {
  // (The second record finds its names' columns, which are then kept.)
  StreamPtr first = stream_with(
      "<CALL:4>K1AB<BAND:3>20m<MODE:2>CW<EOR>\n"
      "<CALL:4>W1AW<BAND:3>80m<MODE:2>CW<EOR>\n");
  StreamPtr second = stream_with("<MODE:3>SSB<CALL:4>N0CA<EOR>\n<BAND:3>40m<EOR>\n");
  StreamPtr out = empty_stream();
  ColumnList columns{};
  ASSERT_TRUE(init_column_list(columns));
  MessageLog log{};
  EXPECT_EQ(process_ADIF_records(first.get(), nullptr, columns, true, log), 2);
  EXPECT_EQ(process_ADIF_records(second.get(), out.get(), columns, false, log), 2);
  EXPECT_EQ(stream_bytes(out.get()), ",N0CA,SSB\n40m,,\n");
  free_column_list(columns);
  free_message_log(log);
}

// A record's names are told from earlier records' by a stamp per record;
// when the stamp wraps, a name last met under the stamp that comes round
// again must not count as met in the new record.
TEST(ReaderScan, DuplicatesAcrossTheWrapOfTheRecordStamp) {
  StreamPtr stream =
      stream_with("<CALL:1>A<EOR>\n<CALL:1>B<BAND:3>40m<EOR>\n<CALL:1>C<CALL:1>D<EOR>\n");
  AdifReader reader{};
  ASSERT_TRUE(adif_reader_open(reader, stream.get(), TEXT_BYTES));
  std::vector<std::string> values;
  std::vector<std::string> messages;
  AdifRecord* record = nullptr;
  char* message = nullptr;
  for (ParseStatus status; (status = read_ADIF(reader, record, message)) != ADIF_EOF;) {
    if (message) messages.push_back(message);
    std::free(message);
    message = nullptr;
    if (status != ADIF_EOR) continue;
    values.push_back(std::string(record->call->value) + " " +
                     (record->band ? record->band->value : "-"));
    free_record(record);
    record = nullptr;
    reader.names.stamp = UINT32_MAX;  // as after four billion records
  }
  adif_reader_close(reader);
  EXPECT_EQ(values, (std::vector<std::string>{"A -", "B 40m", "D -"}));
  EXPECT_EQ(messages, (std::vector<std::string>{"Duplicate field: <CALL:1>D"}));
}

TEST(LineBuffer, LinesAndValuesLongerThanTheBufferComeOutWhole) {
  // 600 short fields over lines of about 3000 characters, a 5000-character
  // value with a double quote, and a 9000-character value over nine lines:
  // one CSV line of about 20000 bytes.
  std::string adif, line;
  for (int k = 0; k < 600; ++k) {
    line += tag("F" + std::to_string(k), "abcdefgh");
    if (line.size() > 3000) {
      adif += line + "\n";
      line.clear();
    }
  }
  std::string long_value(5000, 'v');
  long_value[10] = '"';
  std::string lines_value;
  for (int k = 0; k < 9; ++k) lines_value += std::string(999, static_cast<char>('a' + k)) + "\n";
  adif += line + "\n" + tag("LONG", long_value) + "\n" + tag("LINES", lines_value) + "<EOR>\n";

  std::string csv = both_ways(adif);
  std::string long_cell = "\"" + long_value.substr(0, 11) + "\"" + long_value.substr(11) + "\"";
  // Names of one record become columns in byte order: F..., LINES, LONG.
  EXPECT_NE(csv.find(",\"" + lines_value + "\"," + long_cell + "\n"), std::string::npos);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), ','), 601);
  EXPECT_EQ(csv.substr(0, 9), "abcdefgh,");
}

TEST(LineBuffer, TextCellsLongerThanTheBuffer) {
  std::string value(9000, 'a');
  value[4095] = '"';
  value[4096] = ',';
  StreamPtr out = empty_stream();
  write_CSV_text(out.get(), value.c_str(), false);
  std::string expected = "\"" + value.substr(0, 4096) + "\"" + value.substr(4096) + "\"";
  EXPECT_EQ(stream_bytes(out.get()), expected);
}

TEST(DateText, ExtremesAreWrittenAsPrintfWould) {
  struct Case {
    int date;
    const char* text;
  } cases[] = {
      {INT_MIN, "-2147483648"}, {INT_MAX, "2147483647"},   {-20240105, "-20240105"}, {0, "0"},
      {100, "0-Jan-0"},         {20241231, "31-Dec-2024"}, {99991299, "99-Dec-9999"}};
  for (const Case& c : cases) {
    StreamPtr out = empty_stream();
    format_QSO_date(out.get(), c.date);
    EXPECT_EQ(stream_bytes(out.get()), c.text) << c.date;
  }
}

// The field tree starts each comparison past the prefix that the new name
// shares with both bounds of the subtree. A plain AA insertion with strcmp
// must give the same tree, node for node and level for level.
struct PlainNode {
  std::string name;
  int level = 0;
  PlainNode* left = nullptr;
  PlainNode* right = nullptr;
};

PlainNode* plain_insert(PlainNode* root, PlainNode* node) {
  if (!root) return node;
  int order = std::strcmp(node->name.c_str(), root->name.c_str());
  if (order < 0) root->left = plain_insert(root->left, node);
  if (order > 0) root->right = plain_insert(root->right, node);
  if (root->left && root->left->level == root->level) {  // skew
    PlainNode* left = root->left;
    root->left = left->right;
    left->right = root;
    root = left;
  }
  if (root->right && root->right->right && root->right->right->level == root->level) {  // split
    PlainNode* right = root->right;
    root->right = right->left;
    right->left = root;
    right->level += 1;
    root = right;
  }
  return root;
}

void expect_same_tree(const AdifField* field, const PlainNode* node) {
  ASSERT_EQ(field == nullptr, node == nullptr);
  if (!field) return;
  EXPECT_EQ(std::string(field->name), node->name);
  EXPECT_EQ(field->level, node->level) << node->name;
  expect_same_tree(field->left, node->left);
  expect_same_tree(field->right, node->right);
}

// The workbook writes each number as "%.16G" would: random doubles of each
// range the short path takes or leaves, the cell values a log gives
// (decimals of up to 15 digits, times of day, dates), and the edges.
TEST(NumberText, MatchesPrintf) {
  std::vector<double> numbers = {0.0,   -0.0,   1e-4, 9.99999999999999e-5,  1e15, 999999999999999.9,
                                 0.1,   0.3,    9.95, 99999999999999.99,    -1.5, 5e-324,
                                 1e300, -2e-10, 0.5,  0.0001000000000000001};
  uint64_t state = 0x2545F4914F6CDD1Dull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int i = 0; i < 100000; ++i) {
    double bits;
    uint64_t raw = next();
    std::memcpy(&bits, &raw, sizeof bits);
    if (bits == bits) numbers.push_back(bits);
    numbers.push_back(
        std::ldexp(static_cast<double>(next() >> 11), -static_cast<int>(next() % 110)));
    int places = static_cast<int>(next() % 16);
    numbers.push_back(static_cast<double>(next() % 1000000000000000ull) / std::pow(10.0, places));
    numbers.push_back((next() % 86400) / 86400.0);
    numbers.push_back(36526.0 + static_cast<double>(next() % 40000) + (next() % 86400) / 86400.0);
  }
  int wrong = 0;
  for (double number : numbers) {
    char expected[64];
    char ours[64];
    std::snprintf(expected, sizeof expected, "%.16G", number);
    size_t length = number_text(number, ours);
    if (std::string(ours, length) != expected && ++wrong <= 5) {
      ADD_FAILURE() << expected << " written as " << std::string(ours, length);
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST(FieldTree, PrefixSkippingGivesTheTreeOfAPlainInsertion) {
  // Names that share long prefixes, names that are prefixes of others, the
  // empty name and bytes above 0x7F (compared unsigned), in a scrambled
  // order with repeats.
  std::vector<std::string> pool = {"",     "A",        "APP_",        "APP_X",
                                   "CALL", "CALL_2",   "CALL_20",     "\xC3\x89TAT",
                                   "\x7F", "QSO_DATE", "QSO_DATE_OFF"};
  for (int k = 0; k < 120; ++k) {
    pool.push_back("APP_BENCH_" + std::to_string(k % 40) + (k % 3 ? "_X" : "") +
                   std::string(static_cast<size_t>(k % 4), 'Z'));
  }
  std::vector<std::string> names;
  uint32_t seed = 12345;
  for (int k = 0; k < 400; ++k) {
    seed = seed * 1103515245u + 12345u;
    names.push_back(pool[(seed >> 8) % pool.size()]);
  }
  std::vector<AdifField> fields(names.size());
  std::vector<PlainNode> nodes(names.size());
  AdifField* root = nullptr;
  PlainNode* plain = nullptr;
  std::vector<std::string> inserted;
  char value[] = "v";
  for (size_t k = 0; k < names.size(); ++k) {
    fields[k].name = &names[k][0];
    fields[k].value = value;
    fields[k].length = 1;
    char* message = nullptr;
    root = insert_field(root, &fields[k], message);
    bool repeat = std::find(inserted.begin(), inserted.end(), names[k]) != inserted.end();
    if (repeat) {
      ASSERT_NE(message, nullptr) << names[k];
      EXPECT_EQ(std::string(message), "Duplicate field: <" + names[k] + ":1>v");
    } else {
      EXPECT_EQ(message, nullptr) << names[k];
      inserted.push_back(names[k]);
      nodes[k].name = names[k];
      plain = plain_insert(plain, &nodes[k]);
    }
    std::free(message);
  }
  expect_same_tree(root, plain);
  for (const std::string& name : inserted) {
    const AdifField* found = find_field(root, name.c_str());
    ASSERT_NE(found, nullptr) << name;
    EXPECT_EQ(std::string(found->name), name);
  }
  for (const char* absent : {"APP", "APP_BENCH_", "APP_BENCH_1_Y", "CALL_", "QSO_DATE_", "\xC3"}) {
    EXPECT_EQ(find_field(root, absent), nullptr) << absent;
  }
}

// The reader looks for '<' and for the '>' after a length in line for a few
// bytes and with a block search beyond; both must find the same bytes.
TEST(ReaderScan, FarAndNearDelimitersGiveTheSameFields) {
  std::string far_text(40, ' ');
  Records records("<CALL:6:SOME_LONG_TYPE_NAME>N0CALL" + far_text + "<BAND:3>20m<MODE:2>CW" +
                  far_text + "free text without tags" + far_text + "<EOR>\n" +
                  "<NOTES:10>two\nlines <QTH:4>Brno<EOR>\n");
  ASSERT_EQ(records.list.size(), 2u);
  AdifRecord* first = records.list[0];
  ASSERT_NE(first->call, nullptr);
  EXPECT_STREQ(first->call->value, "N0CALL");
  EXPECT_EQ(first->call->length, 6);
  ASSERT_NE(first->band, nullptr);
  EXPECT_STREQ(first->band->value, "20m");
  ASSERT_NE(first->mode, nullptr);
  EXPECT_STREQ(first->mode->value, "CW");
  // A joined value ends exactly at its length; the rest of its last line is
  // read by the next call, so QTH stays in the same record.
  AdifField* notes = find_field(records.list[1]->root, "NOTES");
  ASSERT_NE(notes, nullptr);
  EXPECT_STREQ(notes->value, "two\nlines ");
  AdifField* qth = find_field(records.list[1]->root, "QTH");
  ASSERT_NE(qth, nullptr);
  EXPECT_STREQ(qth->value, "Brno");
}

// Records released and made again reuse a spare chunk; a record spanning
// several chunks, and lines that make no field (inside a record or between
// records), must leave every value intact. Each record is checked at its end
// and released, as the conversion does.
TEST(RecordArena, ValuesSurviveChunkReuseAndRollback) {
  std::string big;
  for (int k = 0; k < 300; ++k) big += tag("APP_ARENA_" + std::to_string(k), std::to_string(k));
  size_t cut = big.find('<', 3000);
  std::string adif = "header text only\n<EOH>\n";
  for (int round = 0; round < 3; ++round) {
    adif += tag("CALL", "K" + std::to_string(round)) + "\nno tags on this line\n";
    adif += big.substr(0, cut) + "\n" + big.substr(cut) + "\n<EOR>\n";
    adif += "no tags between records\n" + tag("CALL", "N" + std::to_string(round)) + "<EOR>\n";
  }
  StreamPtr stream = stream_with(adif);
  char line[8192];
  AdifRecord* record = nullptr;
  char* message = nullptr;
  int records = 0;
  ParseStatus status;
  while ((status = parse_ADIF(stream.get(), record, line, sizeof line, message)) != ADIF_EOF) {
    EXPECT_EQ(message, nullptr);
    ASSERT_NE(status, ADIF_TRUNCATED);
    if (status != ADIF_EOR) continue;
    ASSERT_NE(record, nullptr);
    ASSERT_NE(record->call, nullptr);
    int round = records / 2;
    if (records % 2 == 0) {
      EXPECT_EQ(std::string(record->call->value), "K" + std::to_string(round));
      for (int k = 0; k < 300; k += 13) {
        AdifField* field = find_field(record->root, ("APP_ARENA_" + std::to_string(k)).c_str());
        ASSERT_NE(field, nullptr) << k;
        EXPECT_EQ(std::string(field->value), std::to_string(k));
      }
    } else {
      EXPECT_EQ(std::string(record->call->value), "N" + std::to_string(round));
      EXPECT_EQ(record->root, record->call);
    }
    ++records;
    free_record(record);
    record = nullptr;
  }
  free_record(record);
  EXPECT_EQ(records, 6);
}

}  // namespace
