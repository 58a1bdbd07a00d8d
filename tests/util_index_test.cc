// The record index by call sign, ADIF field writing and field-tree dumps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "tests/test_streams.h"
#include "util/record_index.h"

namespace {

// Records with one CALL field each, kept at fixed addresses for the test.
struct Records {
  std::deque<std::string> texts;
  std::deque<AdifField> fields;
  std::deque<AdifRecord> records;

  AdifField* field(const char* name, const char* value) {
    texts.emplace_back(name);
    char* stored_name = &texts.back()[0];
    char* stored_value = nullptr;
    if (value) {
      texts.emplace_back(value);
      stored_value = &texts.back()[0];
    }
    fields.push_back(AdifField{});
    AdifField* made = &fields.back();
    made->name = stored_name;
    made->value = stored_value;
    made->length = value ? static_cast<int32_t>(std::string(value).size()) : 0;
    return made;
  }

  AdifRecord* with_call(const char* call) {
    records.push_back(AdifRecord{});
    AdifRecord* record = &records.back();
    if (call) {
      record->call = field("CALL", call);
      record->root = record->call;
    }
    return record;
  }
};

struct Slot {
  char* text = nullptr;
  ~Slot() { std::free(text); }
};

// The index as text: "(left key:level right)", "." for an empty subtree.
std::string shape(const AdifRecord* root) {
  if (!root) return ".";
  return "(" + shape(root->index_left) + " " + root->call->value + ":" +
         std::to_string(root->index_level) + " " + shape(root->index_right) + ")";
}

// Checks the AA properties and the key order of the index at `root` and
// returns how many records it holds.
int check_index(const AdifRecord* root, const char* low, const char* high) {
  if (!root) return 0;
  const char* key = root->call->value;
  if (low) {
    EXPECT_LT(std::string(low), key);
  }
  if (high) {
    EXPECT_GT(std::string(high), key);
  }
  const AdifRecord* left = root->index_left;
  const AdifRecord* right = root->index_right;
  if (!left && !right) {
    EXPECT_EQ(root->index_level, 0) << key;
  }
  if (left) {
    EXPECT_EQ(left->index_level, root->index_level - 1) << key;
  }
  if (right) {
    EXPECT_TRUE(right->index_level == root->index_level ||
                right->index_level == root->index_level - 1)
        << key;
    if (right->index_right) {
      EXPECT_LT(right->index_right->index_level, root->index_level) << key;
    }
  }
  if (root->index_level > 0) {
    EXPECT_TRUE(left && right) << key;
  }
  return 1 + check_index(left, low, key) + check_index(right, key, high);
}

TEST(RecordIndex, EmptyIndex) {
  Records made;
  AdifRecord* record = made.with_call("K1ABC");
  EXPECT_EQ(find_record(nullptr, record), nullptr);
  Slot message;
  AdifRecord* root = insert_record(nullptr, record, message.text);
  EXPECT_EQ(root, record);
  EXPECT_EQ(record->index_level, 0);
  EXPECT_EQ(record->call_count, 1);
  EXPECT_EQ(message.text, nullptr);
  EXPECT_EQ(find_record(root, record), record);
}

TEST(RecordIndex, Shapes) {
  struct Case {
    std::vector<const char*> calls;
    const char* shape;
  } cases[] = {
      {{"AA1A", "BB2B", "CC3C"}, "((. AA1A:0 .) BB2B:1 (. CC3C:0 .))"},
      {{"CC3C", "BB2B", "AA1A"}, "((. AA1A:0 .) BB2B:1 (. CC3C:0 .))"},
      {{"A", "B", "C", "D", "E", "F", "G"},
       "(((. A:0 .) B:1 (. C:0 .)) D:2 ((. E:0 .) F:1 (. G:0 .)))"},
      {{"G", "F", "E", "D", "C", "B", "A"},
       "(((. A:0 .) B:1 (. C:0 .)) D:2 ((. E:0 .) F:1 (. G:0 .)))"},
      {{"K1ABC", "DL1XX"}, "(. DL1XX:0 (. K1ABC:0 .))"},
      // Byte order: digits before upper case before lower case.
      {{"w1aw", "W1AW", "9A1A"}, "((. 9A1A:0 .) W1AW:1 (. w1aw:0 .))"},
  };
  for (const Case& c : cases) {
    Records made;
    AdifRecord* root = nullptr;
    Slot message;
    for (const char* call : c.calls) root = insert_record(root, made.with_call(call), message.text);
    EXPECT_EQ(shape(root), c.shape);
    EXPECT_EQ(message.text, nullptr);
  }
}

TEST(RecordIndex, ManyCallsStayBalancedAndFound) {
  Records made;
  AdifRecord* root = nullptr;
  Slot message;
  std::vector<std::string> calls;
  unsigned seed = 12345;
  for (int i = 0; i < 500; ++i) {
    seed = seed * 1103515245u + 12345u;
    calls.push_back("K" + std::to_string((seed >> 8) % 100000));
  }
  int distinct = 0;
  for (const std::string& call : calls) {
    AdifRecord* record = made.with_call(call.c_str());
    AdifRecord* existing = find_record(root, record);
    root = insert_record(root, record, message.text);
    if (!existing) ++distinct;
    EXPECT_EQ(find_record(root, record), existing ? existing : record);
  }
  EXPECT_EQ(check_index(root, nullptr, nullptr), distinct);
  EXPECT_LE(root->index_level, 2 * 9);  // height stays logarithmic
}

TEST(RecordIndex, DuplicatesAreCountedAndReported) {
  Records made;
  Slot message;
  AdifRecord* first = made.with_call("K1ABC");
  AdifRecord* other = made.with_call("N0CALL");
  AdifRecord* second = made.with_call("K1ABC");
  AdifRecord* third = made.with_call("K1ABC");
  AdifRecord* root = insert_record(nullptr, first, message.text);
  root = insert_record(root, other, message.text);
  EXPECT_EQ(message.text, nullptr);
  root = insert_record(root, second, message.text);
  ASSERT_NE(message.text, nullptr);
  EXPECT_STREQ(message.text, "Duplicate callsign: K1ABC");
  EXPECT_EQ(first->call_count, 2);
  EXPECT_EQ(second->call_count, 0);
  EXPECT_EQ(second->index_left, nullptr);
  EXPECT_EQ(second->index_right, nullptr);
  EXPECT_EQ(find_record(root, first), first);
  EXPECT_EQ(find_record(root, second), first);

  // A later duplicate replaces the message left in the slot.
  std::free(message.text);
  message.text = static_cast<char*>(std::malloc(4));
  std::strcpy(message.text, "old");
  root = insert_record(root, third, message.text);
  EXPECT_STREQ(message.text, "Duplicate callsign: K1ABC");
  EXPECT_EQ(first->call_count, 3);
  EXPECT_EQ(third->call_count, 0);
  EXPECT_EQ(shape(root), "(. K1ABC:0 (. N0CALL:0 .))");  // duplicates change no link
}

TEST(RecordIndex, CaseMakesSeparateEntries) {
  Records made;
  Slot message;
  AdifRecord* upper = made.with_call("W1AW");
  AdifRecord* lower = made.with_call("w1aw");
  AdifRecord* root = insert_record(nullptr, upper, message.text);
  root = insert_record(root, lower, message.text);
  EXPECT_EQ(message.text, nullptr);
  EXPECT_EQ(find_record(root, upper), upper);
  EXPECT_EQ(find_record(root, lower), lower);
  EXPECT_EQ(upper->call_count, 1);
  EXPECT_EQ(lower->call_count, 1);
}

TEST(RecordIndex, RecordsWithoutCallAreIgnored) {
  Records made;
  Slot message;
  AdifRecord* root = insert_record(nullptr, made.with_call("K1ABC"), message.text);
  std::string before = shape(root);
  AdifRecord* no_call = made.with_call(nullptr);
  no_call->root = made.field("BAND", "20M");
  AdifRecord* no_value = made.with_call("x");
  no_value->call->value = nullptr;
  for (AdifRecord* record : {no_call, no_value, static_cast<AdifRecord*>(nullptr)}) {
    EXPECT_EQ(insert_record(root, record, message.text), root);
    EXPECT_EQ(insert_record(nullptr, record, message.text), nullptr);
    EXPECT_EQ(find_record(root, record), nullptr);
  }
  EXPECT_EQ(shape(root), before);
  EXPECT_EQ(no_call->call_count, 0);
  EXPECT_EQ(message.text, nullptr);
}

TEST(WriteADIFField, Forms) {
  Records made;
  struct Case {
    AdifField* field;
    const char* expected;
  } cases[] = {
      {made.field("BAND", "20M"), "<BAND:3>20M "},
      {made.field("COMMENT", ""), "<COMMENT:0> "},
      {made.field("EOR", nullptr), "<EOR> "},
      {made.field("NAME", "Jo, \"Al\" <x>"), "<NAME:12>Jo, \"Al\" <x> "},
  };
  // The length written is the value's own, whatever the field says.
  cases[0].field->length = 7;
  for (const Case& c : cases) {
    StreamPtr stream = empty_stream();
    write_ADIF_field(stream.get(), c.field);
    EXPECT_EQ(stream_bytes(stream.get()), c.expected);
  }
}

TEST(DumpFieldTree, NameOrder) {
  Records made;
  AdifField* root = nullptr;
  char* message = nullptr;
  root = insert_field(root, made.field("TIME_ON", "0930"), message);
  root = insert_field(root, made.field("CALL", "K1ABC"), message);
  root = insert_field(root, made.field("BAND", "20M"), message);
  root = insert_field(root, made.field("TIME_OFF", "0945"), message);
  EXPECT_EQ(message, nullptr);
  StreamPtr stream = empty_stream();
  dump_field_tree(stream.get(), root);
  EXPECT_EQ(stream_bytes(stream.get()), "<BAND>20M <CALL>K1ABC <TIME_OFF>0945 <TIME_ON>0930 ");
  StreamPtr empty = empty_stream();
  dump_field_tree(empty.get(), nullptr);
  EXPECT_EQ(stream_bytes(empty.get()), "");
}

}  // namespace
