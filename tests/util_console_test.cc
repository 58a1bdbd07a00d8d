// Console printers of the companion library: message logs, rules, banners,
// status lines, durations and the menu.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "os/terminal.h"
#include "tests/test_streams.h"
#include "util/console.h"

namespace {

// A log that frees its lines at the end of the test.
struct OwnedLog {
  MessageLog log{};
  ~OwnedLog() { free_message_log(log); }
  void add(int list, std::initializer_list<const char*> texts) {
    for (const char* text : texts) add_message(list, log, text);
  }
};

template <typename Print>
std::string printed(Print print) {
  StreamPtr stream = empty_stream();
  print(stream.get());
  return stream_bytes(stream.get());
}

const std::string bell_reverse = "\a\x1b[7m";
const std::string attributes_off = "\x1b[0m";

TEST(MessageLogPrint, EmptyLogWritesNothing) {
  OwnedLog owned;
  EXPECT_EQ(printed([&](FILE* s) { print_message_log(s, owned.log); }), "");
  EXPECT_EQ(printed([&](FILE* s) { print_message_log_reversed(s, owned.log); }), "");
  EXPECT_EQ(printed([&](FILE* s) { print_message_log_plain(s, owned.log); }), "");
  EXPECT_EQ(printed([&](FILE* s) { EXPECT_EQ(print_message_list(s, nullptr), 0); }), "");
}

TEST(MessageLogPrint, ListTwoAloneIsFramedInReverseVideo) {
  OwnedLog owned;
  owned.add(2, {"A", "B", "C"});
  std::string expected = bell_reverse + "A\nB\nC\n" + attributes_off + "\n";
  EXPECT_EQ(printed([&](FILE* s) { print_message_log(s, owned.log); }), expected);
  EXPECT_EQ(owned.log.lists[2]->count, 3);
  EXPECT_EQ(printed([&](FILE* s) { print_message_log_reversed(s, owned.log); }), expected);
  EXPECT_EQ(owned.log.lists[2]->count, 3);
  EXPECT_EQ(owned.log.lists[2]->next->count, 0);  // only the newest line holds the count
}

TEST(MessageLogPrint, ListOrderDiffersButEachListReadsOldestFirst) {
  OwnedLog owned;
  owned.add(0, {"zero-a", "zero-b"});
  owned.add(1, {"one-a"});
  owned.add(2, {"two-a", "two-b"});
  std::string list0 = "zero-a\nzero-b\n\n";
  std::string list1 = "one-a\n\n";
  std::string list2_plain = "two-a\ntwo-b\n";
  std::string list2 = bell_reverse + list2_plain + attributes_off + "\n";
  EXPECT_EQ(printed([&](FILE* s) { print_message_log(s, owned.log); }), list0 + list1 + list2);
  EXPECT_EQ(printed([&](FILE* s) { print_message_log_reversed(s, owned.log); }),
            list2 + list1 + list0);
  // The plain form is the window's order without bell or escape sequences.
  EXPECT_EQ(printed([&](FILE* s) { print_message_log_plain(s, owned.log); }),
            list2_plain + "\n" + list1 + list0);
  EXPECT_EQ(owned.log.lists[0]->count, 2);
  EXPECT_EQ(owned.log.lists[1]->count, 1);
  EXPECT_EQ(owned.log.lists[2]->count, 2);
}

TEST(MessageLogPrint, EmptyListTwoWritesNoEscapes) {
  OwnedLog owned;
  owned.add(1, {"only"});
  EXPECT_EQ(printed([&](FILE* s) { print_message_log(s, owned.log); }), "only\n\n");
}

TEST(MessageLogPrint, ListIsLeftIntactAfterPrinting) {
  OwnedLog owned;
  owned.add(0, {"1", "2", "3", "4"});
  std::vector<MessageLine*> before;
  for (MessageLine* line = owned.log.lists[0]; line; line = line->next) before.push_back(line);
  EXPECT_EQ(printed([&](FILE* s) { EXPECT_EQ(print_message_list(s, owned.log.lists[0]), 4); }),
            "1\n2\n3\n4\n");
  std::vector<MessageLine*> after;
  for (MessageLine* line = owned.log.lists[0]; line; line = line->next) after.push_back(line);
  EXPECT_EQ(before, after);
}

TEST(Rule, EndsAroundFill) {
  struct Case {
    char end, fill;
    uint32_t count;
    const char* expected;
  } cases[] = {{'+', '-', 0, "++"}, {'+', '-', 3, "+---+"}, {'|', ' ', 1, "| |"}};
  for (const Case& c : cases) {
    EXPECT_EQ(printed([&](FILE* s) { print_rule(s, c.end, c.fill, c.count); }), c.expected);
  }
}

// Splits output into its lines (without line ends).
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "output must end with a line end";
  return lines;
}

TEST(Banner, ExactBytes) {
  std::string out =
      printed([](FILE* s) { print_banner(s, "Ledgerly", "x y 2.2.0 2024-01-05 09:30"); });
  // Line 1 "Ledgerly - Version 2.2.0" has 24 characters, line 2 has 47: w = 49.
  std::string line2 = "The Ledgerly authors, N0CALL - 2024-01-05 09:30";
  std::string rule = "+" + std::string(51, '-') + "+";
  std::string expected = "\n" + rule + "\n" + "|  Ledgerly - Version 2.2.0" + std::string(25, ' ') +
                         "|\n" + "|  " + line2 + "  |\n" + rule + "\n";
  EXPECT_EQ(out, expected);
}

TEST(Banner, WidthsFollowTheLongerLine) {
  struct Case {
    const char* name;
    const char* id_text;
    size_t line1, line2;  // lengths of the two texts
  } cases[] = {
      // 17 characters against the credit line of 47.
      {"L", "a b 2.2.0 2024-01-05 09:30", 17, 47},
      // Line 1 longer than line 2; runs of spaces and leading spaces separate once.
      {"Ledgerly companion library for logs", "   a   b 2.2.0  d t", 51, 34},
      // Missing words show empty: "x - Version " and "<credit> -  ".
      {"x", "only two", 12, 32},
      {"x", "", 12, 32},
      // 30 characters against the shortest credit line of 32: w = 34.
      {"Ledgerly converter", "a b 2", 30, 32},
      // A name of 300 characters is cut to 255 in its line.
      {nullptr, "a b v d t", 255, 34},
  };
  std::string long_name(300, 'n');
  for (Case& c : cases) {
    if (!c.name) c.name = long_name.c_str();
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id_text);
    std::vector<std::string> lines =
        lines_of(printed([&](FILE* s) { print_banner(s, c.name, c.id_text); }));
    ASSERT_EQ(lines.size(), 5u);
    size_t w = std::max(c.line1, c.line2) + 2;
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "+" + std::string(w + 2, '-') + "+");
    EXPECT_EQ(lines[4], lines[1]);
    for (int row = 0; row < 2; ++row) {
      const std::string& line = lines[2 + row];
      size_t text_length = row == 0 ? c.line1 : c.line2;
      ASSERT_EQ(line.size(), w + 4);  // as wide as the rules
      EXPECT_EQ(line.substr(0, 3), "|  ");
      EXPECT_EQ(line.substr(3 + text_length), std::string(w - text_length, ' ') + "|");
    }
  }
}

struct StatusCase {
  char verb;
  const char* lead;
  int count, count_width;
  const char* item;
  int item_width;
  const char* object;
  const char* tail;
  const char* expected;
};

TEST(StatusLine, Formats) {
  const StatusCase cases[] = {
      {'R', nullptr, 5, -1, "records", -1, "log.adi", "\n", "Read    5 records from log.adi\n"},
      {'A', "> ", 12, -1, "fields", -1, "index", nullptr, "> Added  12 fields  to  index"},
      {'W', "", 1234, -1, "lines", -1, "out.csv", "", "Wrote 1234 lines  to  out.csv"},
      {'P', nullptr, 7, 0, "calls", 0, "x", nullptr, "Replaced 7 calls  in  x"},
      {'F', nullptr, 7, 5, "dupes", 8, "y", nullptr, "Found     7    dupes  in  y"},
      // No verb letter of the table: no verb, preposition nor object.
      {'X', "lead ", 3, -1, "things", -1, "ignored", "!", "lead   3 things!"},
      {'\0', nullptr, 3, -1, "things", -1, "ignored", nullptr, "  3 things"},
      // An empty object still has its preposition; a null one has none.
      {'A', nullptr, 5, -1, "item", -1, "", nullptr, "Added   5 item  to  "},
      {'A', nullptr, 5, -1, "item", -1, nullptr, nullptr, "Added   5 item"},
      {'R', nullptr, -5, -1, "x", -1, nullptr, nullptr, "Read   -5 x"},
  };
  for (const StatusCase& c : cases) {
    EXPECT_EQ(printed([&](FILE* s) {
                print_status_line(s, c.verb, c.lead, c.count, c.count_width, c.item, c.item_width,
                                  c.object, c.tail);
              }),
              c.expected);
  }
}

TEST(StatusLine, RoutinesPassTheirVerb) {
  using Routine =
      void (*)(FILE*, const char*, int, int, const char*, int, const char*, const char*);
  struct Case {
    Routine routine;
    const char* expected;
  } cases[] = {
      {print_added, "Added   2 QSOs  to  log\n"}, {print_found, "Found   2 QSOs  in  log\n"},
      {print_read, "Read    2 QSOs from log\n"},  {print_replaced, "Replaced   2 QSOs  in  log\n"},
      {print_wrote, "Wrote   2 QSOs  to  log\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(printed([&](FILE* s) { c.routine(s, nullptr, 2, -1, "QSOs", -1, "log", "\n"); }),
              c.expected);
  }
}

TEST(StatusLine, ColumnsLineUpAcrossVerbs) {
  const char verbs[] = {'A', 'F', 'R', 'W'};
  const int counts[] = {1, 22, 333, 4};
  size_t count_end = 0;
  size_t object_start = 0;
  for (size_t i = 0; i < 4; ++i) {
    std::string line = printed([&](FILE* s) {
      print_status_line(s, verbs[i], nullptr, counts[i], 4, "QSOs", 6, "log", nullptr);
    });
    size_t end = line.find(" ");
    end = line.find_first_not_of(' ', end);
    end = line.find(' ', end);  // first space after the count
    size_t start = line.rfind("log");
    if (i == 0) {
      count_end = end;
      object_start = start;
    }
    EXPECT_EQ(end, count_end) << line;
    EXPECT_EQ(start, object_start) << line;
  }
  std::string replaced =
      printed([](FILE* s) { print_status_line(s, 'P', nullptr, 1, 4, "QSOs", 6, "log", nullptr); });
  EXPECT_EQ(replaced.rfind("log"), object_start + 3);
}

TEST(StatusLine, ModuleSettingsApplyToNegativeWidths) {
  int32_t saved_count = default_count_width;
  int32_t saved_item = default_item_width;
  EXPECT_EQ(saved_count, 3);
  EXPECT_EQ(saved_item, 0);
  default_count_width = 6;
  default_item_width = -8;  // left-aligned in eight columns
  std::string wide = printed(
      [](FILE* s) { print_status_line(s, 'A', nullptr, 42, -1, "QSOs", -1, "log", nullptr); });
  default_count_width = -2;  // no count width at all
  default_item_width = 8;    // right-aligned
  std::string narrow = printed(
      [](FILE* s) { print_status_line(s, 'A', nullptr, 42, -7, "QSOs", -3, "log", nullptr); });
  default_count_width = saved_count;
  default_item_width = saved_item;
  EXPECT_EQ(wide, "Added     42 QSOs      to  log");
  EXPECT_EQ(narrow, "Added 42     QSOs  to  log");
}

TEST(StatusLine, WideColumnsAreHonouredUpToTheLimit) {
  // Item width -100 (left-aligned in 100 columns) through the setting, and a
  // count width of a million, which is held to 99999 columns.
  int32_t saved_item = default_item_width;
  default_item_width = -100;
  std::string item =
      printed([](FILE* s) { print_status_line(s, 'X', nullptr, 1, 0, "QSOs", -1, nullptr, "|"); });
  default_item_width = saved_item;
  EXPECT_EQ(item, "1 QSOs" + std::string(96, ' ') + "|");
  std::string count = printed(
      [](FILE* s) { print_status_line(s, 'X', nullptr, 1, 1000000, "", 0, nullptr, nullptr); });
  EXPECT_EQ(count.size(), 99999u + 1u);
}

TEST(Duration, Words) {
  struct Case {
    int32_t seconds;
    const char* expected;
  } cases[] = {
      {0, "0 seconds"},
      {1, "1 second"},
      {59, "59 seconds"},
      {60, "1 minute, 0 seconds"},
      {61, "1 minute, 1 second"},
      {3600, "1 hour, 0 minutes"},
      {3725, "1 hour, 2 minutes"},
      {7260, "2 hours, 1 minute"},
      {-1, "-1 seconds"},
      {-61, "-1 minutes, -1 seconds"},
      {INT32_MAX, "596523 hours, 14 minutes"},
      {INT32_MIN, "-596523 hours, -14 minutes"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(printed([&](FILE* s) { print_duration(s, c.seconds); }), c.expected);
  }
}

TEST(Menu, AnswersAndPrompts) {
  struct Case {
    const char* input;
    int count;
    int expected;
    int prompts;
  } cases[] = {
      {"0\n", 3, -1, 1},
      {"00\n", 3, -1, 1},
      {"1\n", 3, 0, 1},
      {"3\n", 3, 2, 1},
      {"4\n3\n", 3, 2, 2},
      {"a\n1\n", 3, 0, 2},
      {" 1\n2\n", 3, 1, 2},
      {"2abc\n", 3, 1, 1},
      {"3", 3, 2, 1},        // a last line without line end
      {"", 3, -1, 1},        // end of input: exit
      {"4\n", 3, -1, 2},     // asked again, then the input ends
      {"x\ny\n", 3, -1, 3},  // never a digit: ends with the input
      // Eight digits: the first read takes seven (too large), the next "8\n".
      {"12345678\n2\n", 3, 1, 3},
      {"1\n", 0, -1, 2},  // no choices: only 0 or the end leaves
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    StreamPtr input = stream_with(c.input);
    StreamPtr output = empty_stream();
    EXPECT_EQ(select_from_menu_on(input.get(), output.get(), "band", c.count), c.expected);
    std::string prompts;
    for (int i = 0; i < c.prompts; ++i) prompts += "Select band (0 to exit): ";
    EXPECT_EQ(stream_bytes(output.get()), prompts);
  }
}

}  // namespace

namespace {

TEST(Terminal, FilesAndNullAreNotTerminals) {
  StreamPtr file = empty_stream();
  EXPECT_FALSE(is_terminal(file.get()));
  EXPECT_FALSE(is_terminal(nullptr));
}

}  // namespace
