// The ADIF line reader: one input line per call, tags `<NAME:length>value`
// turned into fields of the pending record.
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "adif/adif.h"
#include "adif/storage.h"

namespace {

// A tag name byte's upper-case form (a..z only, whatever the locale, so
// names compare the same on every system), or 0 for the bytes that end a
// name: the NUL, ':' and '>'. One table look-up per byte of a name.
struct NameBytes {
  char upper[256];
};

constexpr NameBytes make_name_bytes() {
  NameBytes bytes{};
  for (int c = 0; c < 256; ++c) {
    bytes.upper[c] = static_cast<char>((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c);
  }
  bytes.upper[0] = bytes.upper[static_cast<int>(':')] = bytes.upper[static_cast<int>('>')] = 0;
  return bytes;
}

constexpr NameBytes name_bytes = make_name_bytes();

// The number at `text` by the rules of parse_decimal, inlined into the reader.
inline int32_t decimal_value(const char* text) {
  bool negative = false;
  if (*text < '0' || *text > '9') {  // a length is nearly always digits alone
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
  }
  int64_t value = 0;
  while (*text >= '0' && *text <= '9') {
    if (value <= INT32_MAX) value = value * 10 + (*text - '0');
    ++text;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Returns the first `c` in [from, end), or null. The byte sought usually
// stands within a few bytes (the `<` after a value, the `>` after a length),
// so those are tried in line before the library's block search.
inline char* find_byte(char* from, char* end, char c) {
  for (int tried = 0; tried < 8 && from < end; ++tried, ++from) {
    if (*from == c) return from;
  }
  if (from >= end) return nullptr;
  return static_cast<char*>(std::memchr(from, c, static_cast<size_t>(end - from)));
}

// True when nothing follows in `stream`; the stream is left where it was.
bool at_end_of_input(FILE* stream) {
  int next = std::getc(stream);
  if (next == EOF) return true;
  std::ungetc(next, stream);
  return false;
}

// Points the record's shortcut slot for `field`'s name, if it has one, at `field`.
void set_shortcut(AdifRecord* record, AdifField* field) {
  const char* name = field->name;
  AdifField** slot = nullptr;
  switch (name[0]) {
    case 'B':
      if (is_name(name, "BAND")) slot = &record->band;
      break;
    case 'C':
      if (is_name(name, "CALL")) slot = &record->call;
      break;
    case 'D':
      if (is_name(name, "DXCC")) slot = &record->dxcc;
      break;
    case 'M':
      if (is_name(name, "MODE")) slot = &record->mode;
      break;
    case 'Q':
      if (is_name(name, "QSO_DATE")) slot = &record->qso_date;
      break;
    case 'S':
      if (is_name(name, "SUBMODE")) slot = &record->submode;
      break;
    case 'T':
      if (is_name(name, "TIME_ON")) slot = &record->time_on;
      break;
    default:
      break;
  }
  if (slot) *slot = field;
}

// How completing a value that runs past the end of its line ended.
enum ValueEnd {
  VALUE_COMPLETE,     // the value holds its declared length
  VALUE_INPUT_ENDED,  // the input ended first (or memory ran out)
  VALUE_CUT_BY_NUL    // a read line's text was cut short by a NUL byte
};

// Reads the rest of a value that runs past the end of its line into `joined`,
// starting from the `have` bytes at `start`. Each read takes at most the
// missing count, so the value ends exactly at `length` and what follows it
// stays in the stream. A read that stops short of the missing count without
// a line feed and before the end of the input met a NUL byte: the bytes
// after it are unknown, so the line counts as cut, as a line of its own does.
ValueEnd complete_value(FILE* stream, char* line, int size, const char* start, size_t have,
                        int32_t length, JoinedText& joined) {
  if (!joined_append(joined, start, have)) return VALUE_INPUT_ENDED;
  while (have < static_cast<size_t>(length)) {
    size_t missing = static_cast<size_t>(length) - have;
    size_t limit = static_cast<size_t>(size) - 1;
    if (missing > limit) missing = limit;
    if (!std::fgets(line, static_cast<int>(missing + 1), stream)) return VALUE_INPUT_ENDED;
    size_t got = std::strlen(line);
    if (got < missing && (got == 0 || line[got - 1] != '\n') && !std::feof(stream)) {
      return VALUE_CUT_BY_NUL;
    }
    if (!joined_append(joined, line, got)) return VALUE_INPUT_ENDED;
    have += got;
  }
  return VALUE_COMPLETE;
}

}  // namespace

void set_slot_message(char*& slot, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::free(slot);
  slot = nullptr;
  if (length >= 0) {
    slot = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (slot) std::vsnprintf(slot, static_cast<size_t>(length) + 1, format, again);
  }
  va_end(again);
}

int32_t parse_decimal(const char* text) { return decimal_value(text); }

ParseStatus parse_ADIF(FILE* stream, AdifRecord*& record, char* line, int size, char*& message) {
  if (size < 2 || !std::fgets(line, size, stream)) return ADIF_EOF;

  size_t line_length = std::strlen(line);
  bool terminated =
      line_length > 0 && (line[line_length - 1] == '\n' || line[line_length - 1] == '\r');
  // A last line without a line end is still a whole line: the read met the
  // end of the input, or filled the buffer exactly up to it. A line that runs
  // on past the buffer, or whose text a NUL byte cuts short, is truncated.
  bool last_line = std::feof(stream) ||
                   (line_length + 1 == static_cast<size_t>(size) && at_end_of_input(stream));
  if (!terminated && !last_line) {
    set_slot_message(message, "ERROR: Truncated input line: %s", line);
    return ADIF_TRUNCATED;
  }

  // All memory of this call comes from the pending record's storage, or from
  // a new chain that becomes the record's when the line makes its first field.
  AdifStorage* storage = record ? record->storage : nullptr;
  StorageMark line_start = storage_mark(storage);
  int fields_made = 0;
  ParseStatus status = ADIF_CONTINUE;

  char* copy = static_cast<char*>(storage_allocate(storage, line_length + 1));
  char* p = copy;
  if (copy) std::memcpy(copy, line, line_length + 1);
  // The end of the text being scanned: the copy's terminating NUL, later the
  // end of a joined value. Only NULs that this call writes stand before it,
  // and the scan never looks behind its position, so searches and lengths
  // can run to `text_end` instead of to the next NUL.
  char* text_end = copy ? copy + line_length : nullptr;

  while (p) {
    char* open = find_byte(p, text_end, '<');
    if (!open) break;
    *open = '\0';
    char* name = open + 1;
    char* q = name;
    for (char upper; (upper = name_bytes.upper[static_cast<unsigned char>(*q)]) != 0; ++q) {
      *q = upper;
    }
    if (!*q) break;  // tag not closed on this line

    int32_t length = -1;
    if (*q == ':') {
      *q = '\0';
      length = decimal_value(q + 1);
      q = find_byte(q + 1, text_end, '>');  // skips a data-type indicator
      if (!q) break;
    }
    *q = '\0';
    char* value = q + 1;
    p = value;

    if (length < 0) {
      if (std::strcmp(name, "EOH") == 0) {
        status = ADIF_EOH;
        break;
      }
      if (std::strcmp(name, "EOR") == 0) {
        status = ADIF_EOR;
        break;
      }
      continue;  // any other tag without a length is ignored
    }

    JoinedText joined{};
    size_t have = static_cast<size_t>(text_end - value);
    if (have < static_cast<size_t>(length)) {
      ValueEnd end = complete_value(stream, line, size, value, have, length, joined);
      if (end != VALUE_COMPLETE) {
        joined_release(joined);
        status = ADIF_EOF;
        if (end == VALUE_CUT_BY_NUL) {
          set_slot_message(message, "ERROR: Truncated input line: %s", line);
          status = ADIF_TRUNCATED;
        }
        break;
      }
      value = joined_data(joined);
      text_end = value + joined_length(joined);
    }

    auto* field = static_cast<AdifField*>(storage_allocate(storage, sizeof(AdifField)));
    AdifRecord* made = record;
    if (field && !made) {
      made = static_cast<AdifRecord*>(storage_allocate(storage, sizeof(AdifRecord)));
      if (made) std::memset(made, 0, sizeof(AdifRecord));
    }
    if (!field || !made) {  // out of memory: the tag is dropped
      joined_release(joined);
      break;
    }
    if (joined.chunk) joined_adopt(joined, storage);
    std::memset(field, 0, sizeof(AdifField));
    field->name = name;
    field->value = value;
    field->length = length;
    record = made;
    ++fields_made;

    p = value + length;
    char after = *p;
    if (after) *p++ = '\0';
    record->root = insert_field(record->root, field, message);
    if (after == '<') *--p = '<';  // a tag right after the value is read next
    set_shortcut(record, field);
  }

  // A line that made no field leaves nothing behind.
  if (fields_made == 0) storage_rollback(storage, line_start);
  if (record) {
    record->storage = storage;
  } else {
    storage_release(storage);
  }
  return status;
}

bool add_field(AdifRecord*& record, const char* name, size_t name_length, const char* value,
               size_t value_length, char*& message) {
  if (value_length > static_cast<size_t>(INT32_MAX)) return false;
  AdifStorage* storage = record ? record->storage : nullptr;
  StorageMark start = storage_mark(storage);
  auto* text = static_cast<char*>(storage_allocate(storage, name_length + value_length + 2));
  auto* field = static_cast<AdifField*>(storage_allocate(storage, sizeof(AdifField)));
  AdifRecord* made = record;
  if (text && field && !made) {
    made = static_cast<AdifRecord*>(storage_allocate(storage, sizeof(AdifRecord)));
    if (made) std::memset(made, 0, sizeof(AdifRecord));
  }
  if (!text || !field || !made) {
    if (record) {
      storage_rollback(storage, start);
      record->storage = storage;
    } else {
      storage_release(storage);
    }
    return false;
  }
  for (size_t i = 0; i < name_length; ++i) {
    text[i] = static_cast<char>(name_bytes.upper[static_cast<unsigned char>(name[i])]);
    if (!text[i]) text[i] = name[i];  // ':' and '>' stay as they are
  }
  text[name_length] = '\0';
  char* copy = text + name_length + 1;
  std::memcpy(copy, value, value_length);
  copy[value_length] = '\0';
  std::memset(field, 0, sizeof(AdifField));
  field->name = text;
  field->value = copy;
  field->length = static_cast<int32_t>(value_length);
  record = made;
  record->storage = storage;
  record->root = insert_field(record->root, field, message);
  set_shortcut(record, field);
  return true;
}

void free_record(AdifRecord* record) {
  if (record) storage_release(record->storage);
}
