// ADIF reading: the record model, its field tree and the line reader.
//
// A record holds its fields in an AA tree keyed by name (strcmp order), plus
// shortcut slots for the fields the rest of Ledgerly looks at most. The
// conversion's block reader (adif_reader.h) lists a record's fields instead,
// as the conversion looks fields up by name number and never walks them in
// order; find_record_field finds a field in either kind of record. The line
// reader, parse_ADIF, turns one input line per call into fields of the
// pending record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

struct AdifStorage;

// One field of one record: `<NAME:length>value`.
struct AdifField {
  char* name;           // upper-cased tag name; points into the record's storage
  char* value;          // exactly `length` bytes, NUL-terminated; record's storage
  int32_t length;       // length declared in the tag, never negative
  int32_t level;        // AA-tree level, 0 for a leaf
  AdifField* left;      // fields whose names sort before this one
  AdifField* right;     // fields whose names sort after this one
  uint32_t name_hash;   // field_name_hash of `name`, set by the reader; 0 when not known
  int32_t name_length;  // bytes of `name` when `name_hash` is set
  AdifField* next;      // in a record without a tree: the field read before this one
  int32_t name_id;      // the block reader's number of `name` (see AdifRecord::name_table), or 0
};

// One record (one contact, or the header's fields).
struct AdifRecord {
  AdifField* root;          // root of the field tree
  AdifField* call;          // newest field named exactly "CALL", or null
  AdifField* dxcc;          // newest "DXCC", or null
  AdifField* qso_date;      // newest "QSO_DATE", or null
  AdifField* time_on;       // newest "TIME_ON", or null
  AdifField* band;          // newest "BAND", or null
  AdifField* mode;          // newest "MODE", or null
  AdifField* submode;       // newest "SUBMODE", or null
  int32_t call_count;       // record index only: records seen under this CALL
  int32_t index_level;      // record index only: AA-tree level
  AdifRecord* index_left;   // record index only: CALL values sorting before
  AdifRecord* index_right;  // record index only: CALL values sorting after
  AdifStorage* storage;     // memory of the record, its fields and their texts
  AdifField* fields;        // a record without a tree (see read_ADIF): its newest field,
                            // the others linked through `next`; null for a tree
  uint64_t name_table;      // the serial of the table that numbered its fields' names, or 0
};

// Result of one parse_ADIF call.
enum ParseStatus {
  ADIF_CONTINUE = 0,  // line used up without <EOH> or <EOR>, or it ended inside a tag
  ADIF_EOH = 1,       // <EOH> (a tag EOH without length) was met
  ADIF_EOR = 2,       // <EOR> (a tag EOR without length) was met
  ADIF_EOF = 3,       // no line could be read, or the input ended inside a value
  ADIF_TRUNCATED = 4  // the line did not fit the buffer (no line end within it)
};

// Inserts `field` (level 0, no children) into the tree at `root` and returns
// the new root. A name already in the tree keeps the old field, leaves the new
// one unlinked and puts "Duplicate field: <%s:%d>%s" into `message`, replacing
// any text there; the text is malloc'ed and belongs to the caller. When
// memory for that text runs out, `message` is left null and `*unreported`
// (when given) set true.
AdifField* insert_field(AdifField* root, AdifField* field, char*& message,
                        bool* unreported = nullptr);

// Puts "Duplicate field: <%s:%d>%s" of `field` into `message`, as
// insert_field does; when memory for the text runs out, `message` is left
// null and `*unreported` set true.
void report_duplicate(const AdifField* field, char*& message, bool* unreported);

// Returns the field named exactly `name` in the tree at `root`, or null.
AdifField* find_field(AdifField* root, const char* name);

// Returns the field named exactly `name` in `record`: from its tree, or
// from its list when it has one instead (see AdifRecord::fields); or null.
const AdifField* find_record_field(const AdifRecord* record, const char* name);

// Reads one line of `stream` into `line` (of `size` bytes) and adds its fields
// to the pending `record`, creating the record with its first field. Returns
// how the line ended. A message, if any, is left malloc'ed in `message`
// (owned by the caller, who passes it in null).
ParseStatus parse_ADIF(FILE* stream, AdifRecord*& record, char* line, int size, char*& message);

// Adds a field `name` (upper-cased while it is copied) with the value
// `value` (copied whole) to the pending `record`, creating the record when it
// is null, and sets its shortcut slot. A name already in the record gives the
// duplicate message in `message`, as a second tag of that name in a line
// does. Returns false when memory runs out: nothing is added then, or the
// field was a duplicate whose message could not be made.
bool add_field(AdifRecord*& record, const char* name, size_t name_length, const char* value,
               size_t value_length, char*& message);

// Releases a record made by parse_ADIF with all its fields and texts (also
// duplicate fields that are in no tree). Null is allowed.
void free_record(AdifRecord* record);

// Replaces the text in a message slot with a new malloc'ed text formatted
// from `format`; the old text is freed. The slot is left null when memory runs out.
void set_slot_message(char*& slot, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Returns true when `name` is exactly `wanted` (the same bytes as strcmp's
// equality), inlined for the hot paths where a call to strcmp would cost more.
inline bool is_name(const char* name, const char* wanted) {
  while (*name && *name == *wanted) {
    ++name;
    ++wanted;
  }
  return *name == *wanted;
}

// The steps of field_name_hash, for the reader, which hashes a name's words
// as it copies them. A word is up to 8 bytes of a name, the first byte in the
// lowest 8 bits, zeros past the name's end. The hash starts from a key drawn
// afresh by every process, so that no log can be made whose names all fall
// on one bucket of a table; the end mixes every bit of the state into the
// 32 bits kept.
constexpr uint64_t name_hash_start(uint64_t key, size_t length) { return key ^ length; }
constexpr uint64_t name_hash_step(uint64_t hash, uint64_t word) {
  return (hash ^ word) * 0xFF51AFD7ED558CCDu;
}
constexpr uint32_t name_hash_end(uint64_t hash) {
  auto mixed = static_cast<uint32_t>(((hash ^ (hash >> 29)) * 0xC4CEB9FE1A85EC53u) >> 32);
  return mixed ? mixed : 1;
}

// Returns the hash of the `length` bytes of a field name under `key`, never 0.
constexpr uint32_t keyed_name_hash(uint64_t key, const char* name, size_t length) {
  uint64_t hash = name_hash_start(key, length);
  size_t at = 0;
  do {
    uint64_t word = 0;
    for (size_t i = 0; i < 8 && at + i < length; ++i) {
      word |= static_cast<uint64_t>(static_cast<unsigned char>(name[at + i])) << (8 * i);
    }
    hash = name_hash_step(hash, word);
    at += 8;
  } while (at < length);
  return name_hash_end(hash);
}

// This process's key of the name hash, drawn when it starts (see
// parse_adif.cc); read through name_hash_key.
extern const uint64_t name_hash_key_value;

// Returns this process's key of the name hash.
inline uint64_t name_hash_key() { return name_hash_key_value; }

// Returns the hash of the `length` bytes of an (upper-cased) field name,
// never 0, taken 8 bytes at a time, under this process's key. The reader
// keeps it with each field it makes; the column index compares it, and the
// length, before any name's bytes.
inline uint32_t field_name_hash(const char* name, size_t length) {
  return keyed_name_hash(name_hash_key(), name, length);
}

// True when the `length` bytes at `a` and `b` are the same, compared eight
// at a time: names are short, so this costs less than a library call. Both
// must be readable up to `length` rounded up to 8 (the reader copies names
// so; the bytes past `length` may differ).
inline bool same_name_words(const char* a, const char* b, int32_t length) {
  int32_t at = 0;
  for (; at + 8 <= length; at += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + at, 8);
    std::memcpy(&y, b + at, 8);
    if (x != y) return false;
  }
  if (at == length) return true;
  uint64_t x, y;
  std::memcpy(&x, a + at, 8);
  std::memcpy(&y, b + at, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint64_t mask = (uint64_t{1} << (8 * (length - at))) - 1;
#else
  uint64_t mask = ~uint64_t{0} << (8 * (8 - (length - at)));
#endif
  return ((x ^ y) & mask) == 0;
}

// Returns the decimal number at the start of `text` by the rules of atoi
// (leading white space, an optional sign, digits up to the first other byte;
// no digits gives 0), saturated to the int32 range instead of overflowing.
int32_t parse_decimal(const char* text);
