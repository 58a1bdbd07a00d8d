// Text and call-sign helpers, GMT dates, the about text and the edit distance.
#include "util/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "adif/adif.h"
#include "os/gmt_time.h"

namespace {

bool is_letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Whether `c` (not the terminator) is one of the characters of `set`.
bool in_set(char c, const char* set) { return set && c != '\0' && std::strchr(set, c); }

// Deletes the character `offset` places into the leftmost occurrence of
// `pattern` until `pattern` no longer occurs. After a deletion only
// occurrences that reach the deleted place can be new, so the search goes on
// from there instead of from the start.
void delete_in_matches(char* text, const char* pattern, size_t offset) {
  size_t length = std::strlen(pattern);
  if (length <= offset) return;
  char* from = text;
  while (char* found = std::strstr(from, pattern)) {
    char* gone = found + offset;
    std::memmove(gone, gone + 1, std::strlen(gone + 1) + 1);
    size_t back = length - 1 - offset;
    from = static_cast<size_t>(found - text) > back ? found - back : text;
  }
}

// Splits at runs of the characters of `separators` like strtok, but keeps
// its position in `*next` so that no other strtok user is disturbed.
char* next_token(char** next, const char* separators) {
  char* start = *next;
  if (!start) return nullptr;
  start += std::strspn(start, separators);
  if (*start == '\0') {
    *next = nullptr;
    return nullptr;
  }
  char* end = start + std::strcspn(start, separators);
  if (*end != '\0') {
    *end = '\0';
    *next = end + 1;
  } else {
    *next = nullptr;
  }
  return start;
}

const char* const month_names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",  "Jul",
                                   "Aug", "Sep", "Oct", "Nov", "Dec", nullptr};

const char* const call_suffixes[] = {"(EX)", "(SK)", "(O)", "(B)", nullptr};

const char about_author[] = "The Ledgerly authors";
const char about_email[] = "ledgerly@example.org";
const char about_format[] =
    "Notice:  %s\n"
    "Author:  %s\n"
    "E-mail:  %s\n"
    "\n"
    "Version: %s\n"
    "Date:    %s\n"
    "Time:    %s";

}  // namespace

int split_CSV_line(char* text, char** fields, char separator) {
  int count = 0;
  char* at = text;
  for (;;) {
    char* end = nullptr;
    if (separator == ',' && *at == '"') {
      ++at;
      end = std::strstr(at, "\",");
      fields[count++] = at;
      if (!end) return count;
      *end = '\0';
      at = end + 2;
      continue;
    }
    fields[count++] = at;
    // A NUL separator never matches: the terminator ends the text.
    end = separator == '\0' ? nullptr : std::strchr(at, separator);
    if (!end) return count;
    *end = '\0';
    at = end + 1;
  }
}

int has_Canadian_prefix(const char* call) {
  char first = call[0];
  if (first != 'C' && first != 'V' && first != 'X') return 0;
  char second = call[1];
  switch (first) {
    case 'C':
      return (second >= 'F' && second <= 'K') || second == 'Y' || second == 'Z';
    case 'V':
      return (second >= 'A' && second <= 'G') || second == 'O' || second == 'X' || second == 'Y';
    default:
      return second >= 'J' && second <= 'O';
  }
}

char* find_bad_character(const char* text) {
  for (const char* at = text; *at; ++at) {
    unsigned char c = static_cast<unsigned char>(*at);
    if (is_letter(c) || is_digit(c) || c == '/') continue;
    char* message = static_cast<char*>(std::malloc(32));
    if (message) std::snprintf(message, 32, "Bad character [%c]", *at);
    return message;
  }
  return nullptr;
}

char* trim_characters(char* text, const char* leading, const char* trailing) {
  while (in_set(*text, leading)) *text++ = '\0';
  size_t length = std::strlen(text);
  while (length > 0 && in_set(text[length - 1], trailing)) text[--length] = '\0';
  return text;
}

void squeeze_text(char* text, const char* pattern) { delete_in_matches(text, pattern, 0); }

void remove_spaces(char* text) {
  char* kept = text;
  for (const char* at = text; *at; ++at) {
    if (*at != ' ') *kept++ = *at;
  }
  *kept = '\0';
}

void squeeze_text_pair(char* text, const char* first, const char* second) {
  delete_in_matches(text, first, 1);
  delete_in_matches(text, second, 0);
}

char* copy_substring(char* destination, int start, const char* source, int count) {
  if (count < 0) count = 0;
  std::memcpy(destination, source + start, static_cast<size_t>(count));
  destination[count] = '\0';
  return destination + count;
}

int check_call_shape(char* call, int& letters, int& digits) {
  letters = 0;
  digits = 0;
  char* at = call;
  do {
    unsigned char c = static_cast<unsigned char>(*at);
    if (is_letter(c)) {
      ++letters;
    } else if (is_digit(c)) {
      ++digits;
    } else if (c == 0xD8) {
      *at = '0';
      ++digits;
    } else if (c == '(') {
      bool known = false;
      for (const char* const* suffix = call_suffixes; *suffix; ++suffix) {
        if (std::strcmp(at, *suffix) == 0) known = true;
      }
      if (!known) return 0;
      break;
    } else if (c != '/') {
      return 0;
    }
  } while (*++at);
  return call[0] == 'Q' ? 0 : 1;
}

int32_t parse_GMT_date(char* text) {
  const char* separators = " :,";
  char* next = text;
  next_token(&next, separators);  // the weekday
  CalendarTime when{};
  const char* token = next_token(&next, separators);
  when.day = token ? parse_decimal(token) : 0;
  token = next_token(&next, separators);
  for (int month = 0; token && month_names[month]; ++month) {
    if (std::strcmp(token, month_names[month]) == 0) {
      when.month = month;
      break;
    }
  }
  token = next_token(&next, separators);
  when.year = token ? parse_decimal(token) : 0;
  int64_t* clock[3] = {&when.hour, &when.minute, &when.second};
  for (int64_t* part : clock) {
    token = next_token(&next, separators);
    *part = token ? parse_decimal(token) : 0;
  }
  int64_t seconds = 0;
  if (!GMT_calendar_seconds(when, seconds)) return -1;
  if (seconds < 0 || seconds > INT32_MAX) return -1;
  return static_cast<int32_t>(seconds);
}

IdentificationWords split_identification_text(char* text) {
  IdentificationWords words{"", "", ""};
  char* next = text;
  next_token(&next, " ");
  next_token(&next, " ");
  const char** wanted[3] = {&words.version, &words.date, &words.time};
  for (const char** word : wanted) {
    const char* token = next_token(&next, " ");
    if (!token) break;
    *word = token;
  }
  return words;
}

char* build_about_text(const char* id_text, const char* notice) {
  if (!id_text) id_text = "";
  if (!notice) notice = "";
  std::unique_ptr<char, decltype(&std::free)> copy(
      static_cast<char*>(std::malloc(std::strlen(id_text) + 1)), &std::free);
  if (!copy) return nullptr;
  std::strcpy(copy.get(), id_text);
  IdentificationWords words = split_identification_text(copy.get());
  size_t size = sizeof about_format + std::strlen(notice) + sizeof about_author +
                sizeof about_email + std::strlen(words.version) + std::strlen(words.date) +
                std::strlen(words.time);
  char* about = static_cast<char*>(std::malloc(size));
  if (!about) return nullptr;
  std::snprintf(about, size, about_format, notice, about_author, about_email, words.version,
                words.date, words.time);
  return about;
}

int edit_distance(const char* a, const char* b) {
  // The distance is symmetric, so the rows run over the shorter text.
  size_t m = std::strlen(a);
  size_t n = std::strlen(b);
  if (n > m) {
    std::swap(a, b);
    std::swap(m, n);
  }
  // Three rows: the one being filled, the one above, and the one above that
  // for the swap of two adjacent characters.
  std::unique_ptr<int, decltype(&std::free)> rows(
      static_cast<int*>(std::calloc(3 * (n + 1), sizeof(int))), &std::free);
  if (!rows) return -1;
  int* before = rows.get();       // row i - 2
  int* above = before + (n + 1);  // row i - 1
  int* row = above + (n + 1);     // row i
  for (size_t j = 0; j <= n; ++j) above[j] = static_cast<int>(j);
  for (size_t i = 1; i <= m; ++i) {
    row[0] = static_cast<int>(i);
    for (size_t j = 1; j <= n; ++j) {
      int cost = a[i - 1] == b[j - 1] ? 0 : 1;
      int best = above[j - 1] + cost;
      if (row[j - 1] + 1 < best) best = row[j - 1] + 1;
      if (above[j] + 1 < best) best = above[j] + 1;
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1] &&
          before[j - 2] + cost < best) {
        best = before[j - 2] + cost;
      }
      row[j] = best;
    }
    int* oldest = before;
    before = above;
    above = row;
    row = oldest;
  }
  return above[n];
}
