// Fuzz harness for the companion library's text and call-sign routines.
//
// The input is an option byte, then up to four texts separated by NUL bytes:
// the subject text and three patterns (character sets, separator runs, a
// second text). Each routine runs on its own copy of the texts and is checked
// against a plain model written here from the routine's description, or
// against properties that hold whatever the text: fields of a split lie in the
// text and, without quotes, join back to it; a trim keeps a run of the text;
// distances are symmetric and bounded by the lengths.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "util/text.h"

namespace {

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A writable NUL-terminated copy of `text`.
std::vector<char> writable(const std::string& text) {
  std::vector<char> copy(text.begin(), text.end());
  copy.push_back('\0');
  return copy;
}

void check_split(const std::string& text, char separator) {
  std::vector<char> copy = writable(text);
  size_t separators = 0;
  for (char c : text) separators += c == separator ? 1 : 0;
  std::vector<char*> fields(separators + 1, nullptr);
  int count = split_CSV_line(copy.data(), fields.data(), separator);
  FUZZ_CHECK(count >= 1 && static_cast<size_t>(count) <= separators + 1);
  const char* begin = copy.data();
  const char* end = begin + copy.size();
  for (int i = 0; i < count; ++i) {
    FUZZ_CHECK(fields[i] >= begin && fields[i] < end);
    FUZZ_CHECK(fields[i] + std::strlen(fields[i]) < end);
  }
  bool quotes_count = separator == ',' && text.find('"') != std::string::npos;
  if (!quotes_count && separator != '\0') {
    std::string joined;
    for (int i = 0; i < count; ++i) joined += (i ? std::string(1, separator) : "") + fields[i];
    FUZZ_CHECK(joined == text);
    FUZZ_CHECK(static_cast<size_t>(count) == separators + 1);
  }
}

void check_prefix(const std::string& text) {
  char first = text.empty() ? '\0' : text[0];
  char second = text.size() < 2 ? '\0' : text[1];
  bool canadian =
      (first == 'C' && ((second >= 'F' && second <= 'K') || second == 'Y' || second == 'Z')) ||
      (first == 'V' &&
       ((second >= 'A' && second <= 'G') || second == 'O' || second == 'X' || second == 'Y')) ||
      (first == 'X' && second >= 'J' && second <= 'O');
  FUZZ_CHECK(has_Canadian_prefix(text.c_str()) == (canadian ? 1 : 0));
}

void check_bad_character(const std::string& text) {
  char* message = find_bad_character(text.c_str());
  size_t bad = 0;
  while (bad < text.size() && (is_letter(text[bad]) || is_digit(text[bad]) || text[bad] == '/')) {
    ++bad;
  }
  if (bad == text.size()) {
    FUZZ_CHECK(message == nullptr);
  } else {
    FUZZ_CHECK(message != nullptr);
    FUZZ_CHECK(std::string(message) == "Bad character [" + std::string(1, text[bad]) + "]");
  }
  std::free(message);
}

void check_trim(const std::string& text, const std::string& leading, const std::string& trailing) {
  std::vector<char> copy = writable(text);
  char* kept = trim_characters(copy.data(), leading.c_str(), trailing.c_str());
  size_t start = 0;
  while (start < text.size() && leading.find(text[start]) != std::string::npos) ++start;
  size_t stop = text.size();
  while (stop > start && trailing.find(text[stop - 1]) != std::string::npos) --stop;
  FUZZ_CHECK(kept == copy.data() + start);
  FUZZ_CHECK(std::string(kept) == text.substr(start, stop - start));
}

// Deletes the character `offset` into the leftmost occurrence of `pattern`
// while there is one: the model of the squeeze routines.
std::string squeezed(std::string text, const std::string& pattern, size_t offset) {
  if (pattern.size() <= offset) return text;
  for (size_t at; (at = text.find(pattern)) != std::string::npos;) text.erase(at + offset, 1);
  return text;
}

void check_squeeze(const std::string& text, const std::string& first, const std::string& second) {
  std::vector<char> copy = writable(text);
  squeeze_text(copy.data(), first.c_str());
  FUZZ_CHECK(std::string(copy.data()) == squeezed(text, first, 0));

  copy = writable(text);
  squeeze_text_pair(copy.data(), first.c_str(), second.c_str());
  FUZZ_CHECK(std::string(copy.data()) == squeezed(squeezed(text, first, 1), second, 0));

  copy = writable(text);
  remove_spaces(copy.data());
  std::string without = text;
  without.erase(std::remove(without.begin(), without.end(), ' '), without.end());
  FUZZ_CHECK(std::string(copy.data()) == without);
}

void check_copy(const std::string& text, uint8_t option) {
  int start = text.empty() ? 0 : option % static_cast<int>(text.size() + 1);
  int count = static_cast<int>(text.size()) - start - (option >> 4) % 3;
  std::vector<char> destination(static_cast<size_t>(count > 0 ? count : 0) + 1, 'x');
  char* end = copy_substring(destination.data(), start, text.c_str(), count);
  size_t copied = count > 0 ? static_cast<size_t>(count) : 0;
  FUZZ_CHECK(end == destination.data() + copied && *end == '\0');
  FUZZ_CHECK(std::memcmp(destination.data(), text.data() + start, copied) == 0);
}

void check_call(const std::string& text) {
  // The model: scan letters, digits, 0xD8 and '/', stop at a known suffix.
  static const char* const suffixes[] = {"(EX)", "(SK)", "(O)", "(B)", nullptr};
  int letters = 0;
  int digits = 0;
  int result = -1;
  std::string rewritten = text;
  size_t at = 0;
  do {
    unsigned char c = at < text.size() ? static_cast<unsigned char>(text[at]) : 0;
    if (is_letter(static_cast<char>(c))) {
      ++letters;
    } else if (is_digit(static_cast<char>(c))) {
      ++digits;
    } else if (c == 0xD8) {
      rewritten[at] = '0';
      ++digits;
    } else if (c == '(') {
      bool known = false;
      for (const char* const* suffix = suffixes; *suffix; ++suffix) {
        known = known || text.compare(at, std::string::npos, *suffix) == 0;
      }
      if (!known) result = 0;
      break;
    } else if (c != '/') {
      result = 0;
      break;
    }
  } while (++at < text.size());
  if (result < 0) result = !text.empty() && text[0] == 'Q' ? 0 : 1;

  std::vector<char> copy = writable(text);
  int got_letters = -1;
  int got_digits = -1;
  FUZZ_CHECK(check_call_shape(copy.data(), got_letters, got_digits) == result);
  FUZZ_CHECK(got_letters == letters && got_digits == digits);
  if (result == 1) FUZZ_CHECK(std::string(copy.data()) == rewritten);
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t of_era = year - era * 400;
  int64_t of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t of_era_day = of_era * 365 + of_era / 4 - of_era / 100 + of_year;
  return era * 146097 + of_era_day - 719468;
}

void check_GMT_date(const std::string& text, const uint8_t* data, size_t size) {
  std::vector<char> copy = writable(text);
  int32_t seconds = parse_GMT_date(copy.data());
  FUZZ_CHECK(seconds >= -1);

  // A well-formed date made of the input's bytes against the model.
  if (size < 7) return;
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int year = 1900 + (data[1] | (data[2] & 1) << 8) % 300;
  int month = data[3] % 12;
  int day = 1 + data[4] % 28;
  int hour = data[5] % 24;
  int minute = data[6] % 60;
  int second = data[0] % 60;
  char date[80];
  std::snprintf(date, sizeof date, "Sun, %02d %s %d %02d:%02d:%02d GMT", day, months[month], year,
                hour, minute, second);
  int64_t expected =
      days_from_civil(year, month + 1, day) * 86400 + hour * 3600 + minute * 60 + second;
  if (expected < 0 || expected > INT32_MAX) expected = -1;
  FUZZ_CHECK(parse_GMT_date(date) == expected);
}

void check_about(const std::string& id_text, const std::string& notice) {
  char* about = build_about_text(id_text.c_str(), notice.c_str());
  FUZZ_CHECK(about != nullptr);
  std::string text(about);
  FUZZ_CHECK(text.find(notice) != std::string::npos);
  std::vector<char> copy = writable(id_text);
  IdentificationWords words = split_identification_text(copy.data());
  std::string tail = std::string("Version: ") + words.version + "\nDate:    " + words.date +
                     "\nTime:    " + words.time;
  FUZZ_CHECK(text.size() >= tail.size() &&
             text.compare(text.size() - tail.size(), tail.size(), tail) == 0);
  std::free(about);
}

// The optimal string alignment distance with the whole matrix.
int distance_model(const std::string& a, const std::string& b) {
  size_t m = a.size();
  size_t n = b.size();
  std::vector<std::vector<int>> d(m + 1, std::vector<int>(n + 1));
  for (size_t i = 0; i <= m; ++i) d[i][0] = static_cast<int>(i);
  for (size_t j = 0; j <= n; ++j) d[0][j] = static_cast<int>(j);
  for (size_t i = 1; i <= m; ++i) {
    for (size_t j = 1; j <= n; ++j) {
      int cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j - 1] + cost, d[i][j - 1] + 1, d[i - 1][j] + 1});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + cost);
      }
    }
  }
  return d[m][n];
}

void check_distance(const std::string& a, const std::string& b) {
  int distance = edit_distance(a.c_str(), b.c_str());
  FUZZ_CHECK(distance == edit_distance(b.c_str(), a.c_str()));
  int longer = static_cast<int>(std::max(a.size(), b.size()));
  int shorter = static_cast<int>(std::min(a.size(), b.size()));
  FUZZ_CHECK(distance >= longer - shorter && distance <= longer);
  FUZZ_CHECK((distance == 0) == (a == b));
  if (a.size() <= 200 && b.size() <= 200) FUZZ_CHECK(distance == distance_model(a, b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  uint8_t option = data[0];
  std::string texts[4];
  size_t piece = 0;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0 && piece < 3) {
      ++piece;
    } else if (data[i] != 0) {
      texts[piece] += static_cast<char>(data[i]);
    }
  }
  const std::string& text = texts[0];
  const char separators[] = {',', ';', '\t', static_cast<char>(option)};

  check_split(text, separators[option % 4]);
  check_split(text, ',');
  check_prefix(text);
  check_bad_character(text);
  check_trim(text, texts[1], texts[2]);
  check_squeeze(text, texts[1], texts[2]);
  check_copy(text, option);
  check_call(text);
  check_GMT_date(text, data, size);
  check_about(text, texts[1]);
  check_distance(text, texts[3]);
  return 0;
}
