// Where a value ends. The length declared in its tag is read as bytes first;
// when what follows that end is not the next tag, the value is counted again
// the other ways writers count, in the order of the table below, and then
// one or two bytes either side. Text that no reading places between fields
// is kept for a message (see note_stray_text).
#include "adif/value_end.h"

#include <cstring>

namespace {

bool is_blank(char c) { return is_blank_byte(c); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// True when `name` (of `length` bytes) is EOR or EOH in any case.
bool is_end_tag(const char* name, size_t length) {
  if (length != 3 || (name[0] | 0x20) != 'e' || (name[1] | 0x20) != 'o') return false;
  char last = static_cast<char>(name[2] | 0x20);
  return last == 'r' || last == 'h';
}

// What the data from a place on holds.
enum Follows {
  FOLLOWS_TAG,     // blanks, comments, then a well-formed tag or the end of the input
  FOLLOWS_OTHER,   // anything else
  FOLLOWS_UNKNOWN  // the data read ends before that can be told
};

// Skips a `//` comment at `at` (after a blank, or at the start: `http://` is
// no comment) up to its line end. Returns the place after it, or `at`.
size_t skip_comment(const AdifReader& reader, size_t at) {
  const char* buffer = reader.buffer;
  if (at + 1 >= reader.end || buffer[at] != '/' || buffer[at + 1] != '/') return at;
  if (at > 0 && !is_blank(buffer[at - 1])) return at;
  while (at < reader.end && buffer[at] != '\n' && buffer[at] != '\r') ++at;
  return at;
}

// What follows `at`: after blanks, line ends, `//` comments and any `<` left
// alone at the end of its line, a tag <NAME:N>, <NAME:N:T>, <EOR> or <EOH>
// whose name holds no `<`, no line end and no blank at its ends, or the end
// of the input.
Follows what_follows(const AdifReader& reader, size_t at) {
  const char* buffer = reader.buffer;
  size_t end = reader.end;
  for (;;) {
    while (at < end && is_blank(buffer[at])) ++at;
    size_t after = skip_comment(reader, at);
    if (after != at) {
      at = after;
      continue;
    }
    if (at >= end) return reader.input_ended ? FOLLOWS_TAG : FOLLOWS_UNKNOWN;
    if (buffer[at] != '<') return FOLLOWS_OTHER;
    size_t name = at + 1;
    size_t stop = name;
    while (stop < end && buffer[stop] != ':' && buffer[stop] != '>' && buffer[stop] != '<' &&
           buffer[stop] != '\n' && buffer[stop] != '\r' && buffer[stop] != '\0') {
      ++stop;
    }
    if (stop >= end) return reader.input_ended ? FOLLOWS_OTHER : FOLLOWS_UNKNOWN;
    if (buffer[stop] == '\n' || buffer[stop] == '\r') {
      at = stop;  // a `<` at the end of its line: stray text, looked past
      continue;
    }
    size_t length = stop - name;
    if (buffer[stop] == '<' || buffer[stop] == '\0' ||
        (length > 0 && (is_blank(buffer[name]) || is_blank(buffer[stop - 1])))) {
      return FOLLOWS_OTHER;
    }
    if (buffer[stop] == '>') return is_end_tag(buffer + name, length) ? FOLLOWS_TAG : FOLLOWS_OTHER;
    size_t digits = ++stop;
    while (stop < end && is_digit(buffer[stop])) ++stop;
    if (stop == digits) return FOLLOWS_OTHER;
    if (stop < end && buffer[stop] == ':') {
      size_t type = ++stop;
      while (stop < end && is_letter(buffer[stop])) ++stop;
      if (stop == type) return FOLLOWS_OTHER;
    }
    if (stop >= end) return reader.input_ended ? FOLLOWS_OTHER : FOLLOWS_UNKNOWN;
    return buffer[stop] == '>' ? FOLLOWS_TAG : FOLLOWS_OTHER;
  }
}

// The bytes of the well-formed UTF-8 sequence at `text` (at most `count`
// bytes; an ASCII byte is one), or 0 when none starts there.
size_t utf8_sequence(const unsigned char* text, size_t count) {
  const unsigned char* next = text;
  return next_UTF8(next, text + count) < 0 ? 0 : static_cast<size_t>(next - text);
}

// True when a reading that ends at `end`, past the declared `declared`, takes
// in no `<` and no NUL beyond the declared bytes (it would swallow a tag).
bool takes_no_tag(const AdifReader& reader, size_t declared, size_t end) {
  for (size_t at = declared; at < end; ++at) {
    if (reader.buffer[at] == '<' || reader.buffer[at] == '\0') return false;
  }
  return true;
}

// The counting units. Each returns where `length` of its units from `value`
// end, or 0 when the data ends first or the count does not come out even.

// UTF-8 characters, a well-formed sequence (or CR LF) as one; any other byte as one.
size_t count_utf8_characters(const AdifReader& reader, size_t value, int32_t length,
                             const CodePage*) {
  const auto* text = reinterpret_cast<const unsigned char*>(reader.buffer);
  size_t at = value;
  for (int32_t counted = 0; counted < length; ++counted) {
    if (at >= reader.end) return 0;
    size_t sequence = utf8_sequence(text + at, reader.end - at);
    if (text[at] == '\r' && at + 1 < reader.end && text[at + 1] == '\n') sequence = 2;
    at += sequence ? sequence : 1;
  }
  return at;
}

// Windows-1252 text counted as the bytes of its UTF-8 form.
size_t count_windows_1252_as_utf8(const AdifReader& reader, size_t value, int32_t length,
                                  const CodePage*) {
  const auto* text = reinterpret_cast<const unsigned char*>(reader.buffer);
  size_t at = value;
  size_t counted = 0;
  while (counted < static_cast<size_t>(length) && at < reader.end) {
    size_t sequence = text[at] < 0x80 ? 1 : utf8_sequence(text + at, reader.end - at);
    if (sequence) {
      counted += sequence;
      at += sequence;
      continue;
    }
    unsigned char byte = text[at++];
    counted += byte >= 0xA0 || windows_1252_high[byte - 0x80] < 0x800 ? 2 : 3;
  }
  return counted == static_cast<size_t>(length) ? at : 0;
}

// Characters of a double-byte code page: a lead byte and its trail byte as one.
size_t count_double_byte(const AdifReader& reader, size_t value, int32_t length,
                         const CodePage* page) {
  const auto* text = reinterpret_cast<const unsigned char*>(reader.buffer);
  size_t at = value;
  for (int32_t counted = 0; counted < length; ++counted) {
    if (at >= reader.end) return 0;
    bool pair =
        at + 1 < reader.end && is_lead_byte(*page, text[at]) && is_trail_byte(*page, text[at + 1]);
    at += pair ? 2 : 1;
  }
  return at;
}

// A line feed counted as the CR LF it was before the line ends were changed.
size_t count_lf_as_crlf(const AdifReader& reader, size_t value, int32_t length, const CodePage*) {
  size_t at = value;
  size_t counted = 0;
  while (counted < static_cast<size_t>(length) && at < reader.end) {
    bool bare = reader.buffer[at] == '\n' && (at == value || reader.buffer[at - 1] != '\r');
    counted += bare ? 2 : 1;
    ++at;
  }
  return counted == static_cast<size_t>(length) ? at : 0;
}

// A way writers count a length, tried in table order when the bytes do not
// fit. `double_byte`: once for each double-byte code page that may be the log's.
struct CountingUnit {
  size_t (*end)(const AdifReader& reader, size_t value, int32_t length, const CodePage* page);
  bool double_byte;
};

const CountingUnit counting_units[] = {
    {count_utf8_characters, false},
    {count_windows_1252_as_utf8, false},
    {count_double_byte, true},
    {count_lf_as_crlf, false},
    {nullptr, false},
};

// Ends tried near the declared one, nearest first, shorter before longer.
const int near_ends[] = {-1, 1, -2, 2};

// True when a reading of the value at `value` that ends at `end` (other than
// the declared end `declared`) is followed by a tag.
bool reading_fits(const AdifReader& reader, size_t value, size_t declared, size_t end) {
  if (end < value || end > reader.end || end == declared) return false;
  if (end > declared && !takes_no_tag(reader, declared, end)) return false;
  return what_follows(reader, end) == FOLLOWS_TAG;
}

// The end by the counting units, or 0; notes the code page of a double-byte reading.
size_t counted_end(AdifReader& reader, size_t value, int32_t length, size_t declared) {
  for (const CountingUnit* unit = counting_units; unit->end; ++unit) {
    if (!unit->double_byte) {
      size_t end = unit->end(reader, value, length, nullptr);
      if (end && reading_fits(reader, value, declared, end)) return end;
      continue;
    }
    for (int page = 0; code_pages[page].name; ++page) {
      if (!code_pages[page].lead[0][0]) continue;  // not a double-byte code page
      if (reader.code_page >= 0 && reader.code_page != page) continue;
      size_t end = unit->end(reader, value, length, &code_pages[page]);
      if (end && reading_fits(reader, value, declared, end)) {
        ++reader.page_hits[page];
        return end;
      }
    }
  }
  return 0;
}

}  // namespace

size_t value_end(AdifReader& reader, size_t value, int32_t length) {
  size_t declared = value + static_cast<size_t>(length);
  if (what_follows(reader, declared) != FOLLOWS_OTHER) return declared;
  size_t end = counted_end(reader, value, length, declared);
  if (end) {
    ++reader.in_record.counted_values;
    return end;
  }
  // A length of 0 is an empty value written on purpose, not a miscount.
  for (int near : near_ends) {
    if (length == 0) break;
    if (near < 0 && static_cast<size_t>(-near) > static_cast<size_t>(length)) continue;
    end = declared + static_cast<size_t>(static_cast<ptrdiff_t>(near));
    if (reading_fits(reader, value, declared, end)) {
      ++reader.in_record.near_values;
      return end;
    }
  }
  return declared;
}

void note_stray_text(AdifReader& reader, size_t from, size_t to) {
  if (reader.stray_held || !reader.seen_tag) return;
  const char* buffer = reader.buffer;
  size_t at = from;
  for (;;) {
    while (at < to && is_blank(buffer[at])) ++at;
    if (at == to) return;
    size_t after = skip_comment(reader, at);
    if (after == at) break;
    at = after;
  }
  size_t kept = 0;
  for (; at < to && kept < sizeof reader.stray_text - 1; ++at) {
    char c = buffer[at];
    if (c == '\n' || c == '\r') break;
    reader.stray_text[kept++] = c == '\t' ? ' ' : c;
  }
  while (kept > 0 && is_blank(reader.stray_text[kept - 1])) --kept;
  reader.stray_text[kept] = '\0';
  reader.stray_held = true;
}
