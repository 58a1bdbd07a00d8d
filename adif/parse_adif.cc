// The ADIF line reader: one input line per call, tags `<NAME:length>value`
// turned into fields of the pending record.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "adif/adif.h"
#include "adif/adif_reader.h"
#include "adif/log_source.h"
#include "adif/storage.h"
#include "adif/value_end.h"

#if defined(__SSE2__) && !defined(LEDGERLY_PORTABLE_SCAN)
#include <emmintrin.h>
#endif

namespace {

// A tag name byte's upper-case form: a..z only, whatever the locale, so
// names compare the same on every system.
inline char upper_byte(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The number at `text` by the rules of parse_decimal, inlined into the reader.
inline int32_t decimal_value(const char* text) {
  // Nearly every length is one to four digits, and a date eight: no sign,
  // and up to nine digits no overflow.
  unsigned digit = static_cast<unsigned char>(*text) - '0';
  if (digit <= 9) {
    int32_t short_value = static_cast<int32_t>(digit);
    for (int i = 1; i < 9; ++i) {
      unsigned next = static_cast<unsigned char>(text[i]) - '0';
      if (next > 9) return short_value;
      short_value = short_value * 10 + static_cast<int32_t>(next);
    }
  }
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

// The record's shortcut slots by name, found by the name's hash: a table of
// 64 entries indexed by six bits of the hash, chosen when the process draws
// its hash key so that the seven names fall on entries of their own; a
// field costs one look-up and rarely a comparison of a word, instead of a
// branch on its first letter.
struct ShortcutName {
  const char* name;  // the slot's field name, at most 8 bytes
  AdifField* AdifRecord::*slot;
};

constexpr ShortcutName shortcut_names[] = {
    {"BAND", &AdifRecord::band},         {"CALL", &AdifRecord::call},
    {"DXCC", &AdifRecord::dxcc},         {"MODE", &AdifRecord::mode},
    {"QSO_DATE", &AdifRecord::qso_date}, {"SUBMODE", &AdifRecord::submode},
    {"TIME_ON", &AdifRecord::time_on},   {nullptr, nullptr}};

struct ShortcutEntry {
  uint32_t hash;   // field_name_hash of the name; 0 for an unused entry
  int32_t length;  // its bytes
  char name[8];    // the name, zeros after it, to be compared as one word
  AdifField* AdifRecord::*slot;
};

struct ShortcutTable {
  ShortcutEntry entry[64];
  int shift;  // a hash's entry is (hash >> shift) & 63
};

// Fills `table` under `key` with the first shift of the hash that sets the
// seven names apart; false when none does.
bool fill_shortcut_table(ShortcutTable& table, uint64_t key) {
  for (int shift = 0; shift <= 26; ++shift) {
    table = ShortcutTable{};
    table.shift = shift;
    bool apart = true;
    for (const ShortcutName* named = shortcut_names; named->name && apart; ++named) {
      size_t length = std::strlen(named->name);
      uint32_t hash = keyed_name_hash(key, named->name, length);
      ShortcutEntry& entry = table.entry[(hash >> shift) & 63];
      apart = !entry.slot;
      entry.hash = hash;
      entry.length = static_cast<int32_t>(length);
      std::memcpy(entry.name, named->name, length);
      entry.slot = named->slot;
    }
    if (apart) return true;
  }
  return false;
}

ShortcutTable shortcut_table;

// A key no log can know in advance: the system's random source, mixed with
// the time and where the stack lies (should the source give little); drawn
// again in the rare case that no shift sets the shortcut names apart, so
// that the table above is filled for it.
uint64_t draw_name_hash_key() {
  std::random_device device;
  for (uint64_t round = 1;; ++round) {
    uint64_t key = (static_cast<uint64_t>(device()) << 32) ^ device();
    auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key ^= (now + round) * 0x9E3779B97F4A7C15u;
    key ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&key)) * 0xC2B2AE3D27D4EB4Fu;
    if (fill_shortcut_table(shortcut_table, key)) return key;
  }
}

}  // namespace

extern const uint64_t name_hash_key_value = draw_name_hash_key();

namespace {

// Points the record's shortcut slot for `field`'s name, if it has one, at
// `field`. The field was made by the reader: its hash and length are set,
// and its name can be read in whole words.
void set_shortcut(AdifRecord* record, AdifField* field) {
  const ShortcutEntry& entry =
      shortcut_table.entry[(field->name_hash >> shortcut_table.shift) & 63];
  if (entry.hash == field->name_hash && entry.length == field->name_length &&
      same_name_words(entry.name, field->name, entry.length)) {
    record->*entry.slot = field;
  }
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

namespace {

// Copies the eight bytes of a name at `at` to `out`, a..z upper-cased, and
// returns them as a word in memory order.
inline uint64_t copy_name_word(char* out, const char* name, size_t at) {
  const uint64_t ones = 0x0101010101010101u;
  const uint64_t highs = 0x8080808080808080u;
  uint64_t word;
  std::memcpy(&word, name + at, 8);
  uint64_t low7 = word & ~highs;
  uint64_t from_a = low7 + ones * (0x80 - 'a');  // high bit: low 7 bits >= 'a'
  uint64_t past_z = low7 + ones * (0x7F - 'z');  // high bit: low 7 bits > 'z'
  uint64_t lower = (from_a ^ past_z) & ~word & highs;
  word ^= lower >> 2;  // 0x80 >> 2 is the case bit 0x20
  std::memcpy(out + at, &word, 8);
  return word;
}

// Copies the `length` bytes of a tag name to `out`, a..z upper-cased, eight
// bytes at a time, and returns its field_name_hash, made from the same words.
// `out` must be 8-byte aligned with room for `length` rounded up to 8 (the
// bytes past `length` are left undefined).
// `padded`: `name` may also be read in whole words past its end (the block
// reader's buffer), which saves a library call.
uint32_t copy_name(char* out, const char* name, size_t length, bool padded) {
  if (!padded) {
    std::memcpy(out, name, length);
    name = out;
  }
  uint64_t hash = name_hash_start(name_hash_key(), length);
  if (length == 0) hash = name_hash_step(hash, 0);
  size_t at = 0;
  for (; at + 8 <= length; at += 8) hash = name_hash_step(hash, copy_name_word(out, name, at));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // In memory order the last word is the hash's word once the bytes past the
  // name are cleared.
  if (at < length) {
    uint64_t word = copy_name_word(out, name, at);
    hash = name_hash_step(hash, word & (~uint64_t{0} >> (64 - 8 * (length - at))));
  }
  return name_hash_end(hash);
#else
  if (at < length) copy_name_word(out, name, at);
  return field_name_hash(out, length);
#endif
}

// Copies the `length` bytes at `value` to `out` in whole blocks: both may be
// read or written up to 15 bytes past `length`.
inline void copy_words(char* out, const char* value, size_t length) {
#if defined(__SSE2__) && !defined(LEDGERLY_PORTABLE_SCAN)
  for (size_t at = 0; at < length; at += 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(value + at));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), block);
  }
#else
  for (size_t at = 0; at < length; at += 8) {
    uint64_t word;
    std::memcpy(&word, value + at, 8);
    std::memcpy(out + at, &word, 8);
  }
#endif
}

// Links `field` into `record`: into its list when the reader keeps a table
// of `names`, else into its tree. A duplicate is left out and reported.
// False when memory runs out for a new name or for the message.
bool link_field(AdifRecord* record, AdifField* field, NameTable* names, char*& message) {
  bool unreported = false;
  NameMet met = names ? name_table_meet(*names, field) : NAME_FIRST_IN_RECORD;
  if (!names) {
    record->root = insert_field(record->root, field, message, &unreported);
  } else if (met == NAME_REPEATED) {
    report_duplicate(field, message, &unreported);
  } else if (met == NAME_FIRST_IN_RECORD) {
    field->next = record->fields;
    record->fields = field;
  }
  return met != NAME_NO_MEMORY && !unreported;  // a duplicate that cannot be reported is a loss
}

// Makes a field of `name` (upper-cased as it is copied) with the value copied
// from `value`, or, when `joined` holds a text, with that text, which the
// record takes over. `padded`: name and value may be read in whole words past
// their ends (see copy_name). `names`: the block reader's table, which makes
// a record without a tree; null for a tree. False when memory runs out: nothing
// is added then, or the field was a duplicate whose message could not be made.
bool make_field(AdifRecord*& record, const char* name, size_t name_length, const char* value,
                size_t value_length, JoinedText* joined, bool padded, NameTable* names,
                char*& message) {
  if (value_length > static_cast<size_t>(INT32_MAX)) return false;
  if (names && !record) name_table_next_record(*names);
  if (names && !name_table_reserve(*names)) return false;
  bool adopt = joined && joined->chunk;
  AdifStorage* storage = record ? record->storage : nullptr;
  StorageMark start{storage, storage ? storage->used : 0};
  // 15 bytes to spare after the value, for copy_words.
  size_t text_bytes = name_length + 1 + (adopt ? 0 : value_length + 16);
  auto* field = static_cast<AdifField*>(storage_allocate(storage, sizeof(AdifField) + text_bytes));
  AdifRecord* made = record;
  if (field && !made) {
    made = static_cast<AdifRecord*>(storage_allocate(storage, sizeof(AdifRecord)));
    if (made) std::memset(made, 0, sizeof(AdifRecord));
    if (made && names) made->name_table = names->serial;
  }
  if (!field || !made) {
    if (record) {
      storage_rollback(storage, start);
    } else {
      storage_release(storage);
      storage = nullptr;
    }
    return false;
  }
  char* text = reinterpret_cast<char*>(field + 1);
  uint32_t hash = copy_name(text, name, name_length, padded);
  text[name_length] = '\0';
  char* copy = text + name_length + 1;
  if (adopt) {
    copy = joined_data(*joined);
    joined_adopt(*joined, storage);
  } else {
    if (padded) {
      copy_words(copy, value, value_length);
    } else {
      std::memcpy(copy, value, value_length);
    }
    copy[value_length] = '\0';
  }
  field->name = text;
  field->value = copy;
  field->length = static_cast<int32_t>(value_length);
  field->level = 0;
  field->left = nullptr;
  field->right = nullptr;
  field->name_hash = hash;
  field->name_length = static_cast<int32_t>(name_length);
  field->next = nullptr;
  field->name_id = 0;
  record = made;
  record->storage = storage;
  set_shortcut(record, field);
  return link_field(record, field, names, message);
}

// The longest line read whole: 8190 characters before its line end, the
// most that the classic 8192-byte line buffer held.
constexpr size_t longest_line = 8190;
// Bytes read in one block, and the data kept ahead of a line's start so that
// a value counted in characters can be measured without reading again.
constexpr size_t block_bytes = size_t{1} << 18;
constexpr size_t lookahead_bytes = size_t{1} << 16;

// Bytes readable past the end of the block reader's buffer.
constexpr size_t word_slack = 16;

constexpr char truncated_format[] = "ERROR: Truncated input line: %.*s";

// Reads UTF-16 input and puts it after `reader.end` as UTF-8, at most `want`
// bytes. Returns the bytes added.
size_t fill_utf16(AdifReader& reader, size_t want) {
  unsigned char raw[16384];
  size_t added = 0;
  bool big_endian = reader.encoding == TEXT_UTF16BE;
  for (;;) {
    // Every two bytes in give at most three out.
    size_t allowed = (want - added) / 3 * 2;
    if (allowed > sizeof raw) allowed = sizeof raw;
    if (allowed <= reader.carried) break;
    std::memcpy(raw, reader.carry, reader.carried);
    size_t take = allowed - reader.carried;
    size_t got = std::fread(raw + reader.carried, 1, take, reader.input);
    size_t count = reader.carried + got;
    size_t consumed = 0;
    size_t made = utf16_to_utf8(raw, count, big_endian, got < take, reader.buffer + reader.end,
                                want - added, consumed);
    reader.end += made;
    added += made;
    reader.carried = count - consumed;
    std::memcpy(reader.carry, raw + consumed, reader.carried);
    if (got < take) break;
  }
  return added;
}

// Moves `clean_end` past the data from `from` that holds no NUL byte.
void check_for_nul(AdifReader& reader, size_t from) {
  const void* nul = std::memchr(reader.buffer + from, '\0', reader.end - from);
  reader.clean_end =
      nul ? static_cast<size_t>(static_cast<const char*>(nul) - reader.buffer) : reader.end;
}

size_t fill(AdifReader& reader, size_t want) {
  size_t start = reader.end;
  size_t room = reader.capacity - reader.end;
  if (want > room) want = room;
  size_t added = 0;
  if (want > 0 && !reader.input_ended && !reader.read_failed) {
    if (reader.encoding == TEXT_BYTES) {
      added = std::fread(reader.buffer + reader.end, 1, want, reader.input);
      reader.end += added;
    } else {
      added = fill_utf16(reader, want);
    }
    if (added < want) {
      if (std::ferror(reader.input)) {
        reader.read_failed = true;
        reader.read_error = errno ? errno : EIO;
      } else if (std::feof(reader.input)) {
        reader.input_ended = true;
      }
    }
  }
  // The NUL after the data, and defined bytes for word-at-a-time reads past it.
  std::memset(reader.buffer + reader.end, 0, 1 + word_slack);
  // Checked once as it is read, the data spares each line a search for NUL.
  if (reader.clean_end == start) check_for_nul(reader, start);
  return added;
}

// Moves the unread data to the start of the buffer.
void compact(AdifReader& reader) {
  if (reader.pos == 0) return;
  reader.line_tag_known = false;  // its place moves
  size_t kept = reader.end - reader.pos;
  std::memmove(reader.buffer, reader.buffer + reader.pos, kept);
  if (reader.in_line) {
    reader.line_end -= reader.pos;
    reader.line_next -= reader.pos;
  }
  // A NUL before `pos` was read past: the data kept is searched again.
  bool searched = reader.clean_end >= reader.pos;
  reader.clean_end = searched ? reader.clean_end - reader.pos : 0;
  reader.pos = 0;
  reader.end = kept;
  reader.buffer[kept] = '\0';
  if (!searched) check_for_nul(reader, 0);
}

// Makes at least `ahead` bytes available after `pos`, or all that is left.
void read_ahead(AdifReader& reader, size_t ahead) {
  if (reader.end - reader.pos >= ahead || reader.input_ended || reader.read_failed) return;
  compact(reader);
  while (reader.end - reader.pos < ahead && fill(reader, reader.capacity) > 0) {
  }
}

// Returns the start of the line text holding offset `at`, not before `from`.
size_t line_start_before(const AdifReader& reader, size_t from, size_t at) {
  size_t start = at;
  while (start > from && reader.buffer[start - 1] != '\n' && reader.buffer[start - 1] != '\r') {
    --start;
  }
  return start;
}

// Puts the truncation message for the text from `from` to the first NUL byte
// in [from, to) into `message`, showing no more of its line than a line may
// hold; returns false when there is no NUL there.
bool report_nul(const AdifReader& reader, size_t from, size_t to, char*& message) {
  const void* nul = std::memchr(reader.buffer + from, '\0', to - from);
  if (!nul) return false;
  size_t at = static_cast<size_t>(static_cast<const char*>(nul) - reader.buffer);
  size_t start = line_start_before(reader, from, at);
  size_t shown = at - start < reader.longest + 1 ? at - start : reader.longest + 1;
  set_slot_message(message, truncated_format, static_cast<int>(shown), reader.buffer + start);
  return true;
}

// Returns the first CR or LF of the `count` bytes at `text`, or their end.
// The buffer may be read in blocks of 16 bytes up to 16 bytes past them.
inline const char* line_stop(const char* text, size_t count) {
#if defined(__SSE2__) && !defined(LEDGERLY_PORTABLE_SCAN)
  const __m128i feeds = _mm_set1_epi8('\n');
  const __m128i returns = _mm_set1_epi8('\r');
  for (size_t at = 0; at < count; at += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    auto flags = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, feeds), _mm_cmpeq_epi8(bytes, returns))));
    if (flags) {
      size_t found = at + static_cast<size_t>(__builtin_ctz(flags));
      return text + (found < count ? found : count);
    }
  }
  return text + count;
#else
  const char* feed = static_cast<const char*>(std::memchr(text, '\n', count));
  const char* stop = feed ? feed : text + count;
  const char* ret =
      static_cast<const char*>(std::memchr(text, '\r', static_cast<size_t>(stop - text)));
  return ret ? ret : stop;
#endif
}

// Finds the next line from `pos`: its text must be whole in the buffer, at
// most longest_line characters before a line end (a last line without one
// may take one more), and free of NUL bytes. Returns ADIF_CONTINUE with the
// line in hand, ADIF_EOF when the input is used up, or ADIF_TRUNCATED with
// the message.
ParseStatus next_line(AdifReader& reader, char*& message) {
  read_ahead(reader, reader.longest + 2 + lookahead_bytes);
  if (reader.pos == reader.end) return ADIF_EOF;
  const char* text = reader.buffer + reader.pos;
  size_t count = reader.end - reader.pos;
  const char* stop = line_stop(text, count);
  size_t length = static_cast<size_t>(stop - text);
  bool terminated = stop != text + count;
  size_t next = reader.pos + length;
  if (terminated) next += (*stop == '\r' && next + 1 < reader.end && stop[1] == '\n') ? 2 : 1;
  reader.line_next = next;  // also for a line that is not read: parse_ADIF skips it
  // A line cut short by a failed read is no over-long line: the pass ends,
  // and the conversion fails on the read error.
  if (!terminated && reader.read_failed) return ADIF_EOF;
  size_t shown = length < reader.longest + 1 ? length : reader.longest + 1;
  if (reader.pos + shown > reader.clean_end &&
      report_nul(reader, reader.pos, reader.pos + shown, message)) {
    return ADIF_TRUNCATED;
  }
  bool fits =
      terminated ? length <= reader.longest : reader.input_ended && length <= reader.longest + 1;
  if (!fits) {
    set_slot_message(message, truncated_format, static_cast<int>(shown), text);
    return ADIF_TRUNCATED;
  }
  reader.in_line = true;
  reader.line_end = reader.pos + length;
  reader.line_next = next;
  return ADIF_CONTINUE;
}

// How completing a value longer than the data in the buffer ended.
enum ValueEnd {
  VALUE_WHOLE,        // the value holds its declared length
  VALUE_INPUT_ENDED,  // the input ended first
  VALUE_CUT_BY_NUL,   // a NUL byte stands in it (the message is made)
  VALUE_FAILED        // reading failed, or memory ran out (see the reader's flags)
};

// Reads the rest of a value longer than the data in the buffer into
// `joined`, block by block (line by line for parse_ADIF, each read taking
// no more than is missing, so the value ends exactly at its length).
ValueEnd complete_value(AdifReader& reader, size_t value, int32_t length, JoinedText& joined,
                        char*& message) {
  size_t missing = static_cast<size_t>(length);
  size_t have = reader.end - value;
  if (!joined_append(joined, reader.buffer + value, have)) {
    reader.out_of_memory = true;
    return VALUE_FAILED;
  }
  missing -= have;
  while (missing > 0) {
    reader.pos = reader.end = reader.clean_end = 0;
    reader.in_line = false;
    size_t got = fill(reader, missing);
    if (got == 0) return reader.read_failed ? VALUE_FAILED : VALUE_INPUT_ENDED;
    if (report_nul(reader, 0, got, message)) return VALUE_CUT_BY_NUL;
    if (!joined_append(joined, reader.buffer, got)) {
      reader.out_of_memory = true;
      return VALUE_FAILED;
    }
    missing -= got;
    reader.pos = got;
  }
  return VALUE_WHOLE;
}

// Ends the line in hand: the next call reads the next line.
ParseStatus finish_line(AdifReader& reader) {
  reader.pos = reader.line_next;
  reader.in_line = false;
  return ADIF_CONTINUE;
}

// The block reader makes records without trees (see read_ADIF); parse_ADIF,
// one line a call, makes trees.
NameTable* names_of(AdifReader& reader) { return reader.line_by_line ? nullptr : &reader.names; }

// Reads a value of `length` bytes at `value` that goes on past the data in
// the buffer, joined block by block; see read_value. Kept apart, so that
// the usual value's path has no room for a name on its stack.
ParseStatus read_long_value(AdifReader& reader, const char* name, size_t name_length, size_t value,
                            int32_t length, AdifRecord*& record, char*& message) {
  // The buffer is reused below: the name is kept apart.
  std::unique_ptr<char, decltype(&std::free)> kept(static_cast<char*>(std::malloc(name_length + 1)),
                                                   &std::free);
  if (!kept) {
    reader.out_of_memory = true;
    return ADIF_EOF;
  }
  char* kept_name = kept.get();
  std::memcpy(kept_name, name, name_length);
  kept_name[name_length] = '\0';
  JoinedText joined{};
  ValueEnd ending = complete_value(reader, value, length, joined, message);
  ParseStatus status = ending == VALUE_WHOLE    ? ADIF_CONTINUE
                       : ending == VALUE_FAILED ? ADIF_EOF
                                                : ADIF_TRUNCATED;
  if (ending == VALUE_INPUT_ENDED) {
    set_slot_message(message, "The log ends inside the value of <%s:%d>", kept_name,
                     static_cast<int>(length));
  }
  if (ending == VALUE_WHOLE &&
      !make_field(record, kept_name, name_length, nullptr, static_cast<size_t>(length), &joined,
                  false, names_of(reader), message)) {
    reader.out_of_memory = true;
    status = ADIF_EOF;
  }
  joined_release(joined);
  reader.in_line = false;
  return status;
}

// Reads the value of `length` bytes at `value`, makes the field and moves on:
// within the line when the value ends on it, else past the value, where the
// next call starts a line of its own. A value that goes on past the data in
// the buffer is joined block by block. `next` is the tag found right after
// the value when its declared end was checked, else its length is -2.
template <bool line_by_line>
inline ParseStatus read_value(AdifReader& reader, const char* name, size_t name_length,
                              size_t value, int32_t length, AdifRecord*& record, char*& message,
                              KnownTag& next) {
  next.length = -2;
  size_t end = value + static_cast<size_t>(length);
  if (end > reader.end) {
    return read_long_value(reader, name, name_length, value, length, record, message);
  }
  if (end > reader.line_next && end > reader.clean_end &&
      report_nul(reader, reader.line_next, end, message)) {
    return ADIF_TRUNCATED;
  }
  if (!declared_end_fits(reader.buffer, end, next)) end = value_end(reader, value, length);
  if (!make_field(record, name, name_length, reader.buffer + value, end - value, nullptr,
                  !line_by_line, line_by_line ? nullptr : &reader.names, message)) {
    reader.out_of_memory = true;
    return ADIF_EOF;
  }
  reader.pos = end;
  if (end > reader.line_next) reader.in_line = false;
  return ADIF_CONTINUE;
}

// The status of a tag without a length: the end of the header or of a record
// (named EOH or EOR in any case), or nothing.
ParseStatus tag_status(const char* name, size_t length) {
  if (length != 3 || upper_byte(name[0]) != 'E' || upper_byte(name[1]) != 'O') return ADIF_CONTINUE;
  char last = upper_byte(name[2]);
  return last == 'H' ? ADIF_EOH : last == 'R' ? ADIF_EOR : ADIF_CONTINUE;
}

// Bytes that end the scan for a tag's `>`: the line ends and NUL, which end
// the text of every line in the buffer (the line in hand holds none of them
// before its end, and a NUL follows the data read), and `>`. One look-up a
// byte finds a tag's end within its line without also comparing the
// position with the line's end.
struct CloseStops {
  bool stop[256];
};

constexpr CloseStops make_close_stops() {
  CloseStops stops{};
  stops.stop[0] = true;
  stops.stop[static_cast<int>('\n')] = true;
  stops.stop[static_cast<int>('\r')] = true;
  stops.stop[static_cast<int>('>')] = true;
  return stops;
}

constexpr CloseStops close_stops = make_close_stops();

// Returns the first `>` in [at, end), or `end`.
inline size_t next_close(const char* buffer, size_t at, size_t end) {
  while (!close_stops.stop[static_cast<unsigned char>(buffer[at])]) ++at;
  return at < end ? at : end;
}

// Returns the position of the first byte from `at` on that ends a tag's name
// (`:`, `>`, `<`, or the line end, which ends every line in the buffer).
inline size_t name_stop(const char* buffer, size_t at) {
  const auto* text = reinterpret_cast<const unsigned char*>(buffer);
  return static_cast<size_t>(name_end(text + at) - text);
}

// Returns the position of the first '<' in [at, end), or `end`. The next tag
// is nearly always a byte or two past a value, closer than a library call
// would be worth; a longer stretch of text is left to memchr.
inline size_t next_open(const char* buffer, size_t at, size_t end) {
  size_t near = end - at < 8 ? end : at + 8;
  for (; at < near; ++at) {
    if (buffer[at] == '<') return at;
  }
  if (at == end) return end;
  const void* open = std::memchr(buffer + at, '<', end - at);
  return open ? static_cast<size_t>(static_cast<const char*>(open) - buffer) : end;
}

// True when [from, to) holds blanks only (nearly always the one blank
// between two fields).
inline bool is_blank_gap(const char* buffer, size_t from, size_t to) {
  for (; from < to; ++from) {
    char c = buffer[from];
    if (c != ' ' && c != '\t' && c != '\f' && c != '\v') return false;
  }
  return true;
}

// Keeps a message of the line in hand, to be handed out when the line is
// done (see read_ADIF); false when memory runs out (the message is dropped).
bool queue_message(AdifReader& reader, char*& message) {
  if (reader.queued_count == reader.queued_room) {
    size_t room = reader.queued_room ? reader.queued_room * 2 : 8;
    auto* grown = static_cast<char**>(std::realloc(reader.queued, room * sizeof(char*)));
    if (!grown) {
      std::free(message);
      message = nullptr;
      return false;
    }
    reader.queued = grown;
    reader.queued_room = room;
  }
  reader.queued[reader.queued_count++] = message;
  message = nullptr;
  return true;
}

// Hands out the next kept message; the last goes with the status of its line.
ParseStatus next_queued(AdifReader& reader, char*& message) {
  message = reader.queued[reader.queued_taken++];
  if (reader.queued_taken < reader.queued_count) return ADIF_CONTINUE;
  reader.queued_taken = reader.queued_count = 0;
  return reader.queued_status;
}

// Scans the line in hand from `pos` for tags, making fields, until the line
// is used up or an <EOH> or <EOR> is met. A tag's name holds no `<`: a tag
// starts at the last `<` before its `:` or `>`, and what stands before it
// on the line is text outside tags, as is a tag not closed on its line.
// `line_by_line` is the reader's (a parameter, so that each reader's scan
// has no test of it for every tag).
template <bool line_by_line>
ParseStatus scan_line(AdifReader& reader, AdifRecord*& record, char*& message) {
  const char* buffer = reader.buffer;
  constexpr bool strays = !line_by_line;
  // The tag after the last value, when read_value found it; that after the
  // last line's last value when it starts this line.
  KnownTag known = reader.line_tag;
  if (!reader.line_tag_known || known.open != reader.pos) known.length = -2;
  reader.line_tag_known = false;
  for (;;) {
    size_t line_end = reader.line_end;
    if (reader.pos >= line_end) {
      reader.line_tag = known;
      reader.line_tag_known = known.length >= -1;
      return finish_line(reader);
    }
    size_t name;  // the tag's name
    size_t name_length;
    size_t close;  // its `>`
    int32_t length = -1;
    if (known.length >= -1 && known.open < line_end) {
      // Found with nothing but a blank or a line end before it.
      name = known.open + 1;
      name_length = known.colon - name;
      length = known.length;
      close = known.close;
      known.length = -2;
    } else {
      size_t open = next_open(buffer, reader.pos, line_end);
      if (strays && open > reader.pos && !is_blank_gap(buffer, reader.pos, open)) {
        note_stray_text(reader, reader.pos, open);
      }
      if (open == line_end) return finish_line(reader);
      name = open + 1;
      size_t q = name_stop(buffer, name);
      if (buffer[q] == '<') {
        size_t first = open;
        do {
          open = q;
          name = q + 1;
          q = name_stop(buffer, name);
        } while (buffer[q] == '<');
        if (strays) note_stray_text(reader, first, open);
      }
      if (q < line_end && buffer[q] == ':') {
        length = decimal_value(buffer + q + 1);  // a data-type indicator after it is skipped
        name_length = q - name;
        q = next_close(buffer, q + 1, line_end);
      } else {
        name_length = q - name;
      }
      if (q == line_end) {  // tag not closed on its line
        if (strays) note_stray_text(reader, open, line_end);
        return finish_line(reader);
      }
      close = q;
    }
    ++reader.tags;
    reader.pos = close + 1;
    if (length < 0) {
      ParseStatus end = tag_status(buffer + name, name_length);
      if (end == ADIF_CONTINUE) continue;  // any other tag without a length is ignored
      reader.seen_tag = true;
      if (reader.pos >= line_end) finish_line(reader);
      return end;
    }
    reader.seen_tag = true;  // text from here on is no header's free text
    ParseStatus status = read_value<line_by_line>(reader, buffer + name, name_length, close + 1,
                                                  length, record, message, known);
    if (status != ADIF_CONTINUE || !reader.in_line) return status;
    // A conversion hears of every duplicate, with the record as it stands
    // at the end of the line: its message waits for the line to be done
    // (parse_ADIF keeps the classic last message of the line).
    if (message && !line_by_line && !queue_message(reader, message)) {
      reader.out_of_memory = true;
      return ADIF_EOF;
    }
    buffer = reader.buffer;
  }
}

// Settles the record or header that an <EOR> or <EOH> ended: its values read
// other than declared join the counts, and text outside its tags gives its
// message (a header's free text gives none). False when memory runs out.
bool end_record(AdifReader& reader, ParseStatus status, char*& message) {
  ValueReadings& counts = reader.in_record;
  reader.recovered.counted_values += counts.counted_values;
  reader.recovered.counted_records += counts.counted_values > 0;
  reader.recovered.near_values += counts.near_values;
  reader.recovered.near_records += counts.near_values > 0;
  counts = ValueReadings{};
  if (!reader.stray_held) return true;
  reader.stray_held = false;
  if (status != ADIF_EOR) return true;
  ++reader.stray_records;
  if (message && !queue_message(reader, message)) return false;
  set_slot_message(message, "Text outside tags: %s", reader.stray_text);
  return message != nullptr;
}

}  // namespace

bool add_field(AdifRecord*& record, const char* name, size_t name_length, const char* value,
               size_t value_length, char*& message) {
  return make_field(record, name, name_length, value, value_length, nullptr, false, nullptr,
                    message);
}

bool adif_reader_open(AdifReader& reader, FILE* input, TextEncoding encoding) {
  reader = AdifReader{};
  reader.input = input;
  reader.encoding = encoding;
  reader.capacity = block_bytes;
  reader.longest = longest_line;
  reader.code_page = -1;
  name_table_open(reader.names);
  // The NUL after the data, then word_slack bytes that word-at-a-time scans
  // and copies may read (cleared, so that what they read is defined).
  reader.buffer = static_cast<char*>(std::calloc(block_bytes + 1 + word_slack, 1));
  if (!reader.buffer) return false;
  reader.buffer[0] = '\0';
  return true;
}

ParseStatus read_ADIF(AdifReader& reader, AdifRecord*& record, char*& message) {
  if (reader.queued_taken < reader.queued_count) return next_queued(reader, message);
  if (!reader.buffer || reader.out_of_memory) return ADIF_EOF;
  ParseStatus status;
  do {
    status = reader.in_line ? ADIF_CONTINUE : next_line(reader, message);
    if (status == ADIF_CONTINUE) {
      status = reader.line_by_line ? scan_line<true>(reader, record, message)
                                   : scan_line<false>(reader, record, message);
    }
    // The block reader goes on to the next line until there is something to
    // hand over; parse_ADIF stops after its line.
  } while (status == ADIF_CONTINUE && !message && !reader.queued_count && !reader.line_by_line &&
           !reader.out_of_memory);
  if ((status == ADIF_EOR || status == ADIF_EOH) && !end_record(reader, status, message)) {
    reader.out_of_memory = true;
  }
  if (status == ADIF_TRUNCATED && !message && !reader.line_by_line) {
    // What was left out cannot be told: memory ran out for its message.
    reader.out_of_memory = true;
  }
  if (reader.out_of_memory) {
    std::free(message);
    message = nullptr;
    return ADIF_EOF;
  }
  if (!reader.queued_count) return status;
  if (message && !queue_message(reader, message)) {
    reader.out_of_memory = true;
    return ADIF_EOF;
  }
  reader.queued_status = status;
  return next_queued(reader, message);
}

namespace {

// Frees the messages not handed out.
void drop_queued(AdifReader& reader) {
  for (size_t i = reader.queued_taken; i < reader.queued_count; ++i) std::free(reader.queued[i]);
  std::free(reader.queued);
  reader.queued = nullptr;
  reader.queued_count = reader.queued_taken = reader.queued_room = 0;
}

}  // namespace

bool adif_reader_restart(AdifReader& reader, long start) {
  std::clearerr(reader.input);
  if (std::fseek(reader.input, start, SEEK_SET) != 0) return false;
  drop_queued(reader);
  AdifReader kept = reader;
  reader = AdifReader{};
  reader.names = kept.names;
  reader.input = kept.input;
  reader.encoding = kept.encoding;
  reader.line_by_line = kept.line_by_line;
  reader.buffer = kept.buffer;
  reader.capacity = kept.capacity;
  reader.longest = kept.longest;
  reader.code_page = kept.code_page;
  // The code page the lengths told stays the log's (the next pass decodes by it).
  std::memcpy(reader.page_hits, kept.page_hits, sizeof reader.page_hits);
  if (reader.buffer) reader.buffer[0] = '\0';
  return true;
}

void adif_reader_close(AdifReader& reader) {
  drop_queued(reader);
  std::free(reader.buffer);
  name_table_release(reader.names);
  reader = AdifReader{};
}

ParseStatus parse_ADIF(FILE* stream, AdifRecord*& record, char* line, int size, char*& message) {
  (void)line;  // the reader keeps its own buffer, with room to look past the line
  if (size < 2) return ADIF_EOF;
  AdifReader reader{};
  reader.input = stream;
  reader.line_by_line = true;
  reader.code_page = -1;
  reader.longest = static_cast<size_t>(size) - 2;
  reader.capacity = reader.longest + 2 + lookahead_bytes;
  reader.buffer = static_cast<char*>(std::malloc(reader.capacity + 1 + word_slack));
  if (!reader.buffer) return ADIF_EOF;
  std::memset(reader.buffer, 0, 1 + word_slack);
  size_t start = reader.pos;
  ParseStatus status = read_ADIF(reader, record, message);
  // What was read past the line (or past what follows an end of record on
  // it) goes back to the stream, for the next call. An over-long line gives
  // up as much of itself as the classic buffer held.
  size_t used = reader.pos;
  if (status == ADIF_TRUNCATED && reader.pos == start) {
    size_t line = reader.line_next - reader.pos;
    used =
        reader.pos + (line < static_cast<size_t>(size) - 1 ? line : static_cast<size_t>(size) - 1);
  }
  if (reader.end > used) std::fseek(stream, -static_cast<long>(reader.end - used), SEEK_CUR);
  adif_reader_close(reader);
  return status;
}

namespace {

// The ADIF reader as a source: the reader and where the log starts.
struct AdifSource {
  AdifReader reader;
  long start;
};

void* open_adif_source(FILE* input, const LogIdentity& identity, int code_page) {
  auto* source = static_cast<AdifSource*>(std::calloc(1, sizeof(AdifSource)));
  if (!source) return nullptr;
  source->start = static_cast<long>(identity.skip);
  if (!adif_reader_open(source->reader, input, identity.encoding)) {
    adif_reader_close(source->reader);
    std::free(source);
    return nullptr;
  }
  source->reader.code_page = code_page;
  return source;
}

ParseStatus read_adif_source(void* source, AdifRecord*& record, char*& message) {
  return read_ADIF(static_cast<AdifSource*>(source)->reader, record, message);
}

bool restart_adif_source(void* source) {
  auto* adif = static_cast<AdifSource*>(source);
  return adif_reader_restart(adif->reader, adif->start);
}

void adif_source_state(const void* source, SourceState& state) {
  const AdifReader& reader = static_cast<const AdifSource*>(source)->reader;
  state = SourceState{};
  state.out_of_memory = reader.out_of_memory;
  state.read_failed = reader.read_failed || std::ferror(reader.input) != 0;
  state.read_error = reader.read_failed ? reader.read_error : errno ? errno : EIO;
  state.tags = reader.tags;
  state.recovered = reader.recovered;
  state.stray_records = reader.stray_records;
  // Not named by the user: the double-byte code page whose characters made
  // the most lengths come out right, if any did.
  state.code_page = reader.code_page;
  for (int page = 0; reader.code_page < 0 && code_pages[page].name; ++page) {
    int32_t best = state.code_page < 0 ? 0 : reader.page_hits[state.code_page];
    if (reader.page_hits[page] > best) state.code_page = page;
  }
}

void close_adif_source(void* source) {
  if (!source) return;
  adif_reader_close(static_cast<AdifSource*>(source)->reader);
  std::free(source);
}

}  // namespace

const LogSourceKind adif_source = {LOG_ADIF,          open_adif_source,
                                   read_adif_source,  restart_adif_source,
                                   adif_source_state, close_adif_source};

void free_record(AdifRecord* record) {
  if (record) storage_release(record->storage);
}
