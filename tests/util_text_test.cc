// Text and call-sign helpers: splitting, trimming, deleting, call-sign
// checks, GMT dates, the about text and the edit distance.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "util/text.h"

namespace {

struct FreeText {
  void operator()(char* text) const { std::free(text); }
};
using TextPtr = std::unique_ptr<char, FreeText>;

// A writable copy of a text, with room behind its terminator.
std::vector<char> buffer_of(const std::string& text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.resize(text.size() + 16, '\0');
  return buffer;
}

TEST(SplitCSVLine, Fields) {
  struct Case {
    const char* text;
    char separator;
    std::vector<std::string> fields;
  } cases[] = {
      {"a,b,,d", ',', {"a", "b", "", "d"}},
      {"", ',', {""}},
      {"a,b,", ',', {"a", "b", ""}},
      {"\"x,y\",z", ',', {"x,y", "z"}},
      {"a,\"quoted last\"\n", ',', {"a", "quoted last\"\n"}},
      {"\"say \"\"hi\"\"\",2", ',', {"say \"\"hi\"\"", "2"}},
      {"\"open", ',', {"open"}},
      {"\"a\",", ',', {"a", ""}},
      {"a,\"b\"c\",d", ',', {"a", "b\"c", "d"}},
      {"a\"b,c", ',', {"a\"b", "c"}},  // a quote inside a field is ordinary
      {"\"a;b\";c", ';', {"\"a", "b\"", "c"}},
      {"a;b,c", ';', {"a", "b,c"}},
      {"a,b", '\0', {"a,b"}},  // a NUL separator never runs past the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<char> text = buffer_of(c.text);
    char* fields[8] = {};
    int count = split_CSV_line(text.data(), fields, c.separator);
    ASSERT_EQ(count, static_cast<int>(c.fields.size()));
    for (int i = 0; i < count; ++i) EXPECT_EQ(fields[i], c.fields[i]) << i;
  }
}

TEST(CanadianPrefix, Series) {
  const char* yes[] = {"CF3AA", "CG", "CK",  "CY0A", "CZ", "VA3X", "VE7",  "VG",
                       "VO1",   "VX", "VY2", "XJ",   "XK", "XO",   nullptr};
  const char* no[] = {"CE", "CL",  "CX", "VH", "VN", "VZ", "XI", "XP",   "cf",
                      "Cf", "W1A", "C",  "V",  "X",  "",   "K",  "\xC3", nullptr};
  for (const char* const* call = yes; *call; ++call)
    EXPECT_EQ(has_Canadian_prefix(*call), 1) << *call;
  for (const char* const* call = no; *call; ++call)
    EXPECT_EQ(has_Canadian_prefix(*call), 0) << *call;
}

TEST(BadCharacter, FirstOffenderOnly) {
  struct Case {
    const char* text;
    const char* message;  // null: none
  } cases[] = {
      {"W1AW/p", nullptr},
      {"", nullptr},
      {"ve3/k1abc/mm", nullptr},
      {"W1-AW", "Bad character [-]"},
      {"K1 ABC", "Bad character [ ]"},
      {"a.b-c", "Bad character [.]"},
      {"D\xC4"
       "1X",
       "Bad character [\xC4]"},
  };
  for (const Case& c : cases) {
    TextPtr message(find_bad_character(c.text));
    if (!c.message) {
      EXPECT_EQ(message, nullptr) << c.text;
    } else {
      ASSERT_NE(message, nullptr) << c.text;
      EXPECT_STREQ(message.get(), c.message);
    }
  }
}

TEST(TrimCharacters, BothEnds) {
  struct Case {
    const char* text;
    const char* leading;
    const char* trailing;
    const char* kept;
    size_t offset;  // of the kept text in the buffer
  } cases[] = {
      {"  \tK1ABC \r\n", " \t", " \r\n", "K1ABC", 3},
      {"xxxx", "x", "x", "", 4},  // all leading: the old terminator
      {"abc", "", "", "abc", 0},
      {"abc", nullptr, nullptr, "abc", 0},
      {"--a--", "-", "", "a--", 2},
      {"--a--", "", "-", "--a", 0},
      {"", " ", " ", "", 0},
  };
  for (const Case& c : cases) {
    std::vector<char> text = buffer_of(c.text);
    char* kept = trim_characters(text.data(), c.leading, c.trailing);
    EXPECT_STREQ(kept, c.kept) << c.text;
    EXPECT_EQ(kept - text.data(), static_cast<ptrdiff_t>(c.offset)) << c.text;
  }
}

// The deletion loops done the slow way: search from the start each time.
std::string squeeze_reference(std::string text, const std::string& pattern, size_t offset) {
  if (pattern.size() <= offset) return text;
  for (size_t at; (at = text.find(pattern)) != std::string::npos;) text.erase(at + offset, 1);
  return text;
}

TEST(SqueezeText, Examples) {
  struct Case {
    const char* text;
    const char* pattern;
    const char* result;
  } cases[] = {
      {"a    b  c ", "  ", "a b c "}, {"aab", "ab", "b"}, {"ababa", "aba", "bba"},
      {"no match", "xy", "no match"}, {"abc", "", "abc"}, {"", "a", ""},
  };
  for (const Case& c : cases) {
    std::vector<char> text = buffer_of(c.text);
    squeeze_text(text.data(), c.pattern);
    EXPECT_STREQ(text.data(), c.result) << c.text << " / " << c.pattern;
  }
}

// The search resumes near the last deletion rather than at the start; every
// text of up to eight a's and b's against every pattern of up to three must
// give what a search from the start gives.
TEST(SqueezeText, SameAsSearchingFromTheStart) {
  std::vector<std::string> words = {""};
  for (size_t length = 1; length <= 8; ++length) {
    for (unsigned bits = 0; bits < (1u << length); ++bits) {
      std::string word;
      for (size_t i = 0; i < length; ++i) word += (bits >> i) & 1 ? 'b' : 'a';
      words.push_back(word);
    }
  }
  for (const std::string& pattern : words) {
    if (pattern.empty() || pattern.size() > 3) continue;
    for (const std::string& word : words) {
      std::vector<char> first = buffer_of(word);
      squeeze_text(first.data(), pattern.c_str());
      ASSERT_EQ(first.data(), squeeze_reference(word, pattern, 0)) << word << " / " << pattern;
      std::vector<char> second = buffer_of(word);
      squeeze_text_pair(second.data(), pattern.c_str(), "x");
      ASSERT_EQ(second.data(), squeeze_reference(word, pattern, 1)) << word << " / " << pattern;
    }
  }
}

TEST(SqueezeTextPair, BothSteps) {
  struct Case {
    const char* text;
    const char* first;
    const char* second;
    const char* result;
  } cases[] = {
      {"a,,b,,,c  d", ",,", "  ", "a,b,c d"},
      {"a,b", ",", "", "a,b"},        // patterns too short skip their step
      {"x-yy-y", "yy", "-y", "xyy"},  // "x-y-y" after the first step
      {"abab", "ab", "b", "aa"},
  };
  for (const Case& c : cases) {
    std::vector<char> text = buffer_of(c.text);
    squeeze_text_pair(text.data(), c.first, c.second);
    EXPECT_STREQ(text.data(), c.result) << c.text;
  }
}

TEST(RemoveSpaces, OnlySpaces) {
  struct Case {
    const char* text;
    const char* result;
  } cases[] = {{"   ", ""}, {"a b\tc ", "ab\tc"}, {"", ""}, {" K1 ABC ", "K1ABC"}};
  for (const Case& c : cases) {
    std::vector<char> text = buffer_of(c.text);
    remove_spaces(text.data());
    EXPECT_STREQ(text.data(), c.result);
  }
}

TEST(CopySubstring, CountsAndTerminator) {
  char destination[16];
  std::memset(destination, 'z', sizeof destination);
  EXPECT_EQ(copy_substring(destination, 3, "abcdef", 0), destination);
  EXPECT_EQ(destination[0], '\0');
  EXPECT_EQ(copy_substring(destination, 2, "abcdef", -4), destination);
  EXPECT_EQ(destination[0], '\0');
  EXPECT_EQ(copy_substring(destination, 6, "Hello world", 5), destination + 5);
  EXPECT_STREQ(destination, "world");
  // The copy runs over a terminator inside the source.
  const char source[] = "ab\0cd";
  EXPECT_EQ(copy_substring(destination, 0, source, 5), destination + 5);
  EXPECT_EQ(std::memcmp(destination, "ab\0cd\0", 6), 0);
}

TEST(CallShape, Shapes) {
  struct Case {
    const char* call;
    int result, letters, digits;
    const char* after;  // the text afterwards
  } cases[] = {
      {"W1AW/P", 1, 4, 1, "W1AW/P"},
      {"VE3/K1ABC/MM", 1, 8, 2, "VE3/K1ABC/MM"},
      {"K1ABC(SK)", 1, 4, 1, "K1ABC(SK)"},
      {"K1ABC(EX)", 1, 4, 1, "K1ABC(EX)"},
      {"K1ABC(O)", 1, 4, 1, "K1ABC(O)"},
      {"K1ABC(B)", 1, 4, 1, "K1ABC(B)"},
      {"K1ABC(XX)", 0, 4, 1, "K1ABC(XX)"},
      {"K1ABC(SK)X", 0, 4, 1, "K1ABC(SK)X"},
      {"Q1ABC", 0, 4, 1, "Q1ABC"},
      {"K\xD8"
       "ABC",
       1, 4, 1, "K0ABC"},
      {"\xD8\xD8", 1, 0, 2, "00"},
      {"K1ABC ", 0, 4, 1, "K1ABC "},
      {"K1-ABC", 0, 1, 1, "K1-ABC"},
      {"", 0, 0, 0, ""},
      {"k1abc", 1, 4, 1, "k1abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    std::vector<char> text = buffer_of(c.call);
    int letters = -1;
    int digits = -1;
    EXPECT_EQ(check_call_shape(text.data(), letters, digits), c.result);
    EXPECT_EQ(letters, c.letters);
    EXPECT_EQ(digits, c.digits);
    EXPECT_STREQ(text.data(), c.after);
  }
}

// Sets the TZ variable (null: removes it) and makes the runtime read it again.
void set_zone_variable(const char* value) {
#ifdef _WIN32
  std::string assignment = std::string("TZ=") + (value ? value : "");
  _putenv(assignment.c_str());
  _tzset();
#else
  if (value) {
    setenv("TZ", value, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
#endif
}

// These run once as they are and again under several TZ values (see
// tests/CMakeLists.txt): the result must not depend on the zone.
void expect_GMT_dates() {
  struct Case {
    const char* text;
    int32_t seconds;
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"Sun, 06 nov 1994 08:49:37 GMT", 757846177},  // unknown month word: January
      {"Sun,06 Nov 1994 08:49:37", 784111777},
      {"Mon, 01 Jul 2024 12:00:00 GMT", 1719835200},  // summer time in many zones
      {"Thu, 29 Feb 2024 12:00:00 GMT", 1709208000},
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Thu, 01 Jan 1970 00:00:01 GMT", 1},
      {"Tue, 19 Jan 2038 03:14:07 GMT", 2147483647},
      {"Tue, 19 Jan 2038 03:14:08 GMT", -1},  // past the int32 range
      {"Wed, 31 Dec 1969 12:00:00 GMT", -1},  // before 1970
      {"Sat, 01 Jan 1800 00:00:00 GMT", -1},
      {"Sun, 06 Nov 1994", 784080000},               // missing clock: midnight
      {"Sun, 31 Nov 1994 08:49:37 GMT", 786271777},  // day 31 carries into December
      {"Sun, 00 Nov 1994 00:00:00 GMT", 783561600},  // day 0: the last of October
      {"Sun, 06 Nov", -1},                           // no year: year 0
      {"", -1},
  };
  for (const Case& c : cases) {
    std::vector<char> text = buffer_of(c.text);
    EXPECT_EQ(parse_GMT_date(text.data()), c.seconds) << c.text;
  }
}

TEST(GmtDate, Seconds) { expect_GMT_dates(); }

// Without the TZ variable the zone comes from the system (under Wine, from
// the TZ that the host gave Wine).
TEST(GmtDate, SecondsInTheSystemZone) {
  const char* zone = std::getenv("TZ");
  std::string saved = zone ? zone : "";
  set_zone_variable(nullptr);
  expect_GMT_dates();
  set_zone_variable(zone ? saved.c_str() : nullptr);
}

TEST(AboutText, Layout) {
  TextPtr about(build_about_text("Ledgerly Convert 2.2.0 2024-01-05 09:30 extra", "Free."));
  ASSERT_NE(about, nullptr);
  EXPECT_STREQ(about.get(),
               "Notice:  Free.\n"
               "Author:  The Ledgerly authors\n"
               "E-mail:  ledgerly@example.org\n"
               "\n"
               "Version: 2.2.0\n"
               "Date:    2024-01-05\n"
               "Time:    09:30");
  TextPtr short_id(build_about_text("  one   two  2.2.0", ""));
  ASSERT_NE(short_id, nullptr);
  EXPECT_STREQ(short_id.get(),
               "Notice:  \n"
               "Author:  The Ledgerly authors\n"
               "E-mail:  ledgerly@example.org\n"
               "\n"
               "Version: 2.2.0\n"
               "Date:    \n"
               "Time:    ");
}

TEST(IdentificationText, Words) {
  std::vector<char> text = buffer_of("  a b  c d e f");
  IdentificationWords words = split_identification_text(text.data());
  EXPECT_STREQ(words.version, "c");
  EXPECT_STREQ(words.date, "d");
  EXPECT_STREQ(words.time, "e");
  words = split_identification_text(nullptr);
  EXPECT_STREQ(words.version, "");
  EXPECT_STREQ(words.time, "");
}

TEST(EditDistance, OptimalStringAlignment) {
  struct Case {
    const char* a;
    const char* b;
    int distance;
  } cases[] = {
      {"", "", 0},         {"K1ABC", "K1ABC", 0},   {"", "abc", 3},
      {"abc", "", 3},      {"flaw", "lawn", 2},     {"ab", "ba", 1},
      {"ca", "abc", 3},    {"abc", "ca", 3},        {"kitten", "sitting", 3},
      {"W1AW", "w1aw", 3}, {"abcdef", "badcfe", 3}, {"a", "b", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(edit_distance(c.a, c.b), c.distance) << c.a << " / " << c.b;
  }
}

TEST(EditDistance, LongTexts) {
  // Rows of the shorter text only: a 200000-byte text against a short one.
  std::string long_text(200000, 'a');
  EXPECT_EQ(edit_distance(long_text.c_str(), "ab"), 199999);
  EXPECT_EQ(edit_distance("ab", long_text.c_str()), 199999);
}

}  // namespace
