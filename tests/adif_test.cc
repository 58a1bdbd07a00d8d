// The record model, its field tree and the line reader.
#include "adif/adif.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/test_streams.h"

namespace {

// Fields made by hand for the tree tests; the texts live as long as the set.
struct FieldSet {
  std::vector<std::unique_ptr<std::string>> texts;
  std::vector<std::unique_ptr<AdifField>> fields;

  AdifField* make(const std::string& name, const std::string& value = "") {
    texts.push_back(std::make_unique<std::string>(name));
    char* name_text = &(*texts.back())[0];
    texts.push_back(std::make_unique<std::string>(value));
    char* value_text = &(*texts.back())[0];
    fields.push_back(std::make_unique<AdifField>());
    AdifField* field = fields.back().get();
    field->name = name_text;
    field->value = value_text;
    field->length = static_cast<int32_t>(value.size());
    return field;
  }
};

// The tree as text: "(left NAME/level right)", leaves as "NAME/level".
std::string shape(const AdifField* node) {
  if (!node) return "";
  std::string self = std::string(node->name) + "/" + std::to_string(node->level);
  if (!node->left && !node->right) return self;
  return "(" + shape(node->left) + " " + self + " " + shape(node->right) + ")";
}

AdifField* insert_all(FieldSet& set, const std::vector<std::string>& names,
                      std::string* last_message) {
  AdifField* root = nullptr;
  char* message = nullptr;
  for (const std::string& name : names) root = insert_field(root, set.make(name), message);
  if (last_message) *last_message = message ? message : "";
  std::free(message);
  return root;
}

TEST(FieldTree, EmptyTreeFindsNothingAndTakesTheFirstFieldAsItIs) {
  FieldSet set;
  EXPECT_EQ(find_field(nullptr, "CALL"), nullptr);
  AdifField* field = set.make("CALL", "N0CALL");
  char* message = nullptr;
  EXPECT_EQ(insert_field(nullptr, field, message), field);
  EXPECT_EQ(field->level, 0);
  EXPECT_EQ(message, nullptr);
}

TEST(FieldTree, BalancesToTheSameShapeWhateverTheInsertionOrder) {
  struct Row {
    std::vector<std::string> names;
    std::string shape;
  } rows[] = {
      {{"CALL", "QSO_DATE", "TIME_ON"}, "(CALL/0 QSO_DATE/1 TIME_ON/0)"},
      {{"TIME_ON", "QSO_DATE", "CALL"}, "(CALL/0 QSO_DATE/1 TIME_ON/0)"},
      {{"A", "B", "C", "D", "E", "F", "G"}, "((A/0 B/1 C/0) D/2 (E/0 F/1 G/0))"},
      {{"G", "F", "E", "D", "C", "B", "A"}, "((A/0 B/1 C/0) D/2 (E/0 F/1 G/0))"},
      // Byte order: the underscore sorts after the letters, a prefix first.
      {{"A_INDEX", "ADDRESS"}, "( ADDRESS/0 A_INDEX/0)"},
      {{"CALL_2", "CALL", ""}, "(/0 CALL/1 CALL_2/0)"},
  };
  for (const Row& row : rows) {
    FieldSet set;
    EXPECT_EQ(shape(insert_all(set, row.names, nullptr)), row.shape) << row.names[0];
  }
}

TEST(FieldTree, KeepsAValidAaTreeForManyNames) {
  FieldSet set;
  AdifField* root = nullptr;
  char* message = nullptr;
  for (int i = 0; i < 1000; ++i) {
    root = insert_field(root, set.make("F" + std::to_string((i * 7919) % 1000)), message);
  }
  EXPECT_EQ(message, nullptr);
  // Every name is found, and the AA rules hold at every node.
  for (int i = 0; i < 1000; ++i) {
    std::string name = "F" + std::to_string(i);
    AdifField* found = find_field(root, name.c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, name);
  }
  std::vector<const AdifField*> pending = {root};
  while (!pending.empty()) {
    const AdifField* node = pending.back();
    pending.pop_back();
    int left = node->left ? node->left->level : -1;
    int right = node->right ? node->right->level : -1;
    int right_right = node->right && node->right->right ? node->right->right->level : -1;
    if (node->level == 0) {
      EXPECT_EQ(left, -1);
    } else {
      EXPECT_EQ(left, node->level - 1) << node->name;
      EXPECT_GE(right, node->level - 1) << node->name;
    }
    EXPECT_LE(right, node->level) << node->name;
    EXPECT_LT(right_right, node->level) << node->name;
    if (node->left) pending.push_back(node->left);
    if (node->right) pending.push_back(node->right);
  }
}

TEST(FieldTree, DuplicateKeepsTheFirstFieldAndReportsTheLater) {
  FieldSet set;
  char* message = nullptr;
  AdifField* first = set.make("BAND", "20m");
  AdifField* root = insert_field(nullptr, first, message);
  root = insert_field(root, set.make("CALL", "N0CALL"), message);
  AdifField* second = set.make("BAND", "40m");
  root = insert_field(root, second, message);
  EXPECT_EQ(find_field(root, "BAND"), first);
  EXPECT_EQ(second->left, nullptr);
  ASSERT_NE(message, nullptr);
  EXPECT_STREQ(message, "Duplicate field: <BAND:3>40m");
  // A second duplicate in the same call replaces the first message.
  root = insert_field(root, set.make("CALL", "K1ABC"), message);
  EXPECT_STREQ(message, "Duplicate field: <CALL:5>K1ABC");
  std::free(message);
}

TEST(FieldTree, DuplicateMessageHoldsALongValueWhole) {
  FieldSet set;
  std::string value(1500, 'x');
  std::string message_text;
  char* message = nullptr;
  AdifField* root = insert_field(nullptr, set.make("NOTES", "short"), message);
  root = insert_field(root, set.make("NOTES", value), message);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(std::string(message), "Duplicate field: <NOTES:1500>" + value);
  std::free(message);
}

TEST(FieldTree, LookupIsExactAndCaseSensitive) {
  FieldSet set;
  AdifField* root = insert_all(set, {"CALL", "CALL_2"}, nullptr);
  EXPECT_EQ(find_field(root, "call"), nullptr);
  EXPECT_EQ(find_field(root, "CAL"), nullptr);
  EXPECT_STREQ(find_field(root, "CALL_2")->name, "CALL_2");
}

TEST(ParseDecimal, ReadsLikeAtoiAndSaturatesInsteadOfOverflowing) {
  struct Row {
    const char* text;
    int32_t value;
  } rows[] = {
      {"6", 6},
      {"  12>", 12},
      {"+7", 7},
      {"-1", -1},
      {"", 0},
      {"D", 0},
      {"8:D", 8},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"99999999999999999999", 2147483647},
      {"-99999999999999999999", -2147483647 - 1},
  };
  for (const Row& row : rows) EXPECT_EQ(parse_decimal(row.text), row.value) << row.text;
}

// What one parse_ADIF call gave: its status, its message and the pending
// record afterwards, written as "NAME=value,..." in tree order (or "-").
struct Step {
  ParseStatus status;
  std::string record;
  std::string message;
};

std::string fields_in_order(const AdifField* node) {
  if (!node) return "";
  std::string left = fields_in_order(node->left);
  std::string self = std::string(node->name) + "=" + node->value;
  std::string right = fields_in_order(node->right);
  std::string text = left;
  if (!text.empty()) text += ",";
  text += self;
  if (!right.empty()) text += "," + right;
  return text;
}

std::string describe(const AdifRecord* record) {
  return record ? fields_in_order(record->root) : "-";
}

// Calls parse_ADIF until the input ends, dropping the record at every end of
// header or record, as the conversion does.
std::vector<Step> read_all(const std::string& input, int size = 8192) {
  StreamPtr stream = stream_with(input);
  std::vector<char> line(static_cast<size_t>(size));
  AdifRecord* record = nullptr;
  std::vector<Step> steps;
  for (;;) {
    char* message = nullptr;
    ParseStatus status = parse_ADIF(stream.get(), record, line.data(), size, message);
    steps.push_back({status, describe(record), message ? message : ""});
    std::free(message);
    if (status == ADIF_EOH || status == ADIF_EOR) {
      free_record(record);
      record = nullptr;
    }
    if (status != ADIF_CONTINUE && status != ADIF_EOH && status != ADIF_EOR) break;
    if (steps.size() > 100) break;
  }
  free_record(record);
  return steps;
}

std::string show(const std::vector<Step>& steps) {
  static const char* const names[] = {"CONTINUE", "EOH", "EOR", "EOF", "TRUNCATED"};
  std::string text;
  for (const Step& step : steps) {
    text += names[step.status];
    text += "{" + step.record + "}";
    if (!step.message.empty()) text += "[" + step.message + "]";
    text += " ";
  }
  return text;
}

// A string literal's bytes, NUL bytes included.
template <size_t N>
std::string bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

struct ReaderRow {
  const char* what;
  std::string input;
  std::string steps;
};

void check_rows(const std::vector<ReaderRow>& rows) {
  for (const ReaderRow& row : rows) EXPECT_EQ(show(read_all(row.input)), row.steps) << row.what;
}

TEST(Reader, LinesAndRecords) {
  check_rows({
      {"empty input", "", "EOF{-} "},
      {"blank line", "\n", "CONTINUE{-} EOF{-} "},
      {"text without tags", "Log of N0CALL\n", "CONTINUE{-} EOF{-} "},
      {"one record", "<CALL:6>N0CALL <BAND:3>20m <EOR>\n", "EOR{BAND=20m,CALL=N0CALL} EOF{-} "},
      {"lower case, no blanks", "<call:6>N0CALL<band:3>20m<eor>\n",
       "EOR{BAND=20m,CALL=N0CALL} EOF{-} "},
      {"mixed case and CR LF", "<Call:6>N0CALL<Qso_Date:8>20240105<Eor>\r\n",
       "EOR{CALL=N0CALL,QSO_DATE=20240105} EOF{-} "},
      {"two records on a line: both are read", "<CALL:1>A<EOR><CALL:1>B<EOR>\n",
       "EOR{CALL=A} EOR{CALL=B} EOF{-} "},
      {"a carriage return alone ends a line", "<CALL:1>A<EOR>\r<CALL:1>B\r<EOR>\r",
       "EOR{CALL=A} CONTINUE{CALL=B} EOR{CALL=B} EOF{-} "},
      {"record over several lines", "<CALL:1>A\n<BAND:3>20m\n\n<MODE:2>CW <EOR>\n",
       "CONTINUE{CALL=A} CONTINUE{BAND=20m,CALL=A} CONTINUE{BAND=20m,CALL=A} "
       "EOR{BAND=20m,CALL=A,MODE=CW} EOF{-} "},
      {"end of record with nothing pending", "<EOR>\n", "EOR{-} EOF{-} "},
      {"header of text and fields", "Exported log\n<ADIF_VER:5>3.1.4\n<EOH>\n<CALL:1>A<EOR>\n",
       "CONTINUE{-} CONTINUE{ADIF_VER=3.1.4} EOH{ADIF_VER=3.1.4} EOR{CALL=A} EOF{-} "},
      {"text after the end of header starts the first record", "<EOH> <CALL:1>A\n<EOR>\n",
       "EOH{-} CONTINUE{CALL=A} EOR{CALL=A} EOF{-} "},
  });
}

TEST(Reader, TagsAndLengths) {
  check_rows({
      {"data-type indicator skipped", "<QSO_DATE:8:D>20240105<FREQ:6:N>14.074<EOR>\n",
       "EOR{FREQ=14.074,QSO_DATE=20240105} EOF{-} "},
      {"length 0", "<COMMENT:0><EOR>\n", "EOR{COMMENT=} EOF{-} "},
      {"length without digits", "<COMMENT:>x<EOR>\n", "EOR{COMMENT=} EOF{-} "},
      {"blanks before the length", "<CALL: 3>ABC<EOR>\n", "EOR{CALL=ABC} EOF{-} "},
      {"EOR with a length is a field", "<EOR:0><CALL:1>A\n",
       "CONTINUE{CALL=A,EOR=} EOF{CALL=A,EOR=} "},
      {"EOH with a length is a field", "<EOH:2>xy<EOR>\n", "EOR{EOH=xy} EOF{-} "},
      {"negative length ends a record", "<CALL:1>A<EOR:-1>\n", "EOR{CALL=A} EOF{-} "},
      {"negative length ignores the tag", "<X:-1>val<CALL:1>A<EOR>\n", "EOR{CALL=A} EOF{-} "},
      {"other tag without length ignored", "<APP_X_EOF><CALL:1>A<EOR>\n", "EOR{CALL=A} EOF{-} "},
      {"a < inside a value", "<COMMENT:5>a<b>c<EOR>\n", "EOR{COMMENT=a<b>c} EOF{-} "},
      {"long length swallows the next tag", "<CALL:9>N0CALL<BAND:3>20m<EOR>\n",
       "EOR{CALL=N0CALL<BA} EOF{-} "},
      {"short length leaves text outside", "<CALL:2>N0CALL<BAND:3>20m<EOR>\n",
       "EOR{BAND=20m,CALL=N0} EOF{-} "},
      {"name taken as written", "<MY NAME:2>Jo<EOR>\n", "EOR{MY NAME=Jo} EOF{-} "},
      {"tag cut at the line end", "<CALL:1>A <CAL\n<EOR>\n",
       "CONTINUE{CALL=A} EOR{CALL=A} EOF{-} "},
      {"colon but no closing bracket", "<CALL:1>A <BAND:3 20m\n<EOR>\n",
       "CONTINUE{CALL=A} EOR{CALL=A} EOF{-} "},
  });
}

TEST(Reader, ValuesOverSeveralLines) {
  check_rows({
      {"two lines, the rest read by the next call", "<NOTES:20>0123456789\nabcdefghiXYZ<EOR>\n",
       "CONTINUE{NOTES=0123456789\nabcdefghi} EOR{NOTES=0123456789\nabcdefghi} EOF{-} "},
      {"three lines", "<NOTES:8>ab\ncd\nef<EOR>\n",
       "CONTINUE{NOTES=ab\ncd\nef} EOR{NOTES=ab\ncd\nef} EOF{-} "},
      {"input ends inside a value", "<CALL:1>A <NOTES:50>short\nnot enough\n",
       "TRUNCATED{CALL=A}[The log ends inside the value of <NOTES:50>] "},
      {"length past any input", "<CALL:1>A <NOTES:99999999999999999999>x\n",
       "TRUNCATED{CALL=A}[The log ends inside the value of <NOTES:2147483647>] "},
  });
}

TEST(Reader, ShortcutSlotsFollowTheNewestField) {
  StreamPtr stream = stream_with(
      "<CALL:5>K1ABC<DXCC:3>291<QSO_DATE:8>20240105<TIME_ON:4>0930<BAND:3>20m<MODE:3>SSB"
      "<SUBMODE:3>USB<CALL:5>K2XYZ<EOR>\n");
  char line[8192];
  AdifRecord* record = nullptr;
  char* message = nullptr;
  ASSERT_EQ(parse_ADIF(stream.get(), record, line, sizeof line, message), ADIF_EOR);
  ASSERT_NE(record, nullptr);
  EXPECT_STREQ(record->call->value, "K2XYZ");
  EXPECT_STREQ(find_field(record->root, "CALL")->value, "K1ABC");
  EXPECT_STREQ(record->dxcc->value, "291");
  EXPECT_STREQ(record->qso_date->value, "20240105");
  EXPECT_STREQ(record->time_on->value, "0930");
  EXPECT_STREQ(record->band->value, "20m");
  EXPECT_STREQ(record->mode->value, "SSB");
  EXPECT_STREQ(record->submode->value, "USB");
  EXPECT_EQ(record->call_count, 0);
  EXPECT_EQ(record->index_left, nullptr);
  ASSERT_NE(message, nullptr);
  EXPECT_STREQ(message, "Duplicate field: <CALL:5>K2XYZ");
  std::free(message);
  free_record(record);
}

TEST(Reader, DuplicatesReportTheLastOfTheLine) {
  check_rows({
      {"duplicate of length 0", "<A:1>x<A:0><EOR>\n", "EOR{A=x}[Duplicate field: <A:0>] EOF{-} "},
      {"two duplicates in one call", "<A:1>x<A:1>y<B:1>z<B:2>zz<EOR>\n",
       "EOR{A=x,B=z}[Duplicate field: <B:2>zz] EOF{-} "},
  });
}

TEST(Reader, OverLongAndUnterminatedLines) {
  std::string fits = "<CALL:1>A<EOR>" + std::string(8190 - 14, ' ');
  std::string too_long = std::string(8191, 'x');
  std::string buffer_full = "<CALL:1>A<EOR>" + std::string(8191 - 14, ' ');
  check_rows({
      {"8190 characters and a line feed", fits + "\n", "EOR{CALL=A} CONTINUE{-} EOF{-} "},
      {"8191 characters and a line feed", too_long + "\n<CALL:1>B<EOR>\n",
       "TRUNCATED{-}[ERROR: Truncated input line: " + too_long + "] "},
      {"last line without line end", "<CALL:1>A<EOR>", "EOR{CALL=A} EOF{-} "},
      {"last line of only text", "trailer", "CONTINUE{-} EOF{-} "},
      {"last line exactly fills the buffer", buffer_full, "EOR{CALL=A} CONTINUE{-} EOF{-} "},
      {"a NUL byte on a last line without line end", bytes("<CALL:1>A<EOR>\0"),
       "TRUNCATED{-}[ERROR: Truncated input line: <CALL:1>A<EOR>] "},
      {"a NUL byte cuts a line short", bytes("<CALL:1>A\0x\n<EOR>\n"),
       "TRUNCATED{-}[ERROR: Truncated input line: <CALL:1>A] "},
      {"a NUL byte at a line's start", bytes("\0<CALL:1>A\n<EOR>\n"),
       "TRUNCATED{-}[ERROR: Truncated input line: ] "},
  });
}

TEST(Reader, TruncationLeavesThePendingRecordAsItWas) {
  std::string input = "<CALL:1>A\n" + std::string(9000, 'y') + "\n<EOR>\n";
  std::vector<Step> steps = read_all(input);
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[1].status, ADIF_TRUNCATED);
  EXPECT_EQ(steps[1].record, "CALL=A");
  EXPECT_EQ(steps[1].message, "ERROR: Truncated input line: " + std::string(8191, 'y'));
}

TEST(Reader, ValuesHoldExactlyTheirDeclaredLength) {
  // A value whose next line is longer than the buffer is read in pieces of
  // at most 8191 bytes that never overshoot, so what follows it stays for
  // the next call.
  std::string input = "<NOTES:12000>\n" + std::string(11999, 'v') + "<CALL:1>Q<EOR>\n";
  StreamPtr stream = stream_with(input);
  char line[8192];
  AdifRecord* record = nullptr;
  char* message = nullptr;
  ASSERT_EQ(parse_ADIF(stream.get(), record, line, sizeof line, message), ADIF_CONTINUE);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->root->length, 12000);
  EXPECT_EQ(std::strlen(record->root->value), 12000u);
  EXPECT_EQ(parse_ADIF(stream.get(), record, line, sizeof line, message), ADIF_EOR);
  EXPECT_STREQ(record->call->value, "Q");
  EXPECT_EQ(message, nullptr);
  free_record(record);
}

}  // namespace

namespace {

// Names that differ only in their last two bytes of a word: with a hash
// whose low bits see only low bits, all of them would share one bucket.
TEST(NameHash, NamesAlikeButForTheirHighBytesSpreadOverTheBuckets) {
  std::vector<bool> used(4096);
  size_t buckets = 0;
  for (int i = 0; i < 4096; ++i) {
    char name[8] = {
        'A', 'P', 'P', '_', 'X', '_', static_cast<char>(i >> 6), static_cast<char>(i & 63)};
    uint32_t bucket = field_name_hash(name, sizeof name) & 4095;
    buckets += !used[bucket];
    used[bucket] = true;
  }
  EXPECT_GT(buckets, 2000u);  // 4096 names thrown at random fill about 2590
}

TEST(NameHash, TheKeyDecides) {
  const char name[] = "QSO_DATE";
  EXPECT_EQ(field_name_hash(name, 8), keyed_name_hash(name_hash_key(), name, 8));
  int same = 0;
  for (uint64_t key = 1; key <= 64; ++key)
    same += keyed_name_hash(key, name, 8) == keyed_name_hash(key + 1, name, 8);
  EXPECT_LT(same, 2);
}

}  // namespace
