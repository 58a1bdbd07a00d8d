// The ADIF reader a conversion uses: the input read in large blocks and
// scanned in place, one line (or what follows an end of record on it) per
// call, with the line rules of parse_ADIF. It also reads UTF-16 logs,
// transcoded to UTF-8 as they are read, and recovers values whose lengths
// were counted in characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "adif/adif.h"

// How the bytes of a log are encoded.
enum TextEncoding {
  TEXT_BYTES = 0,    // UTF-8, Windows-1252 or any 8-bit text: read as it stands
  TEXT_UTF16LE = 1,  // UTF-16, little-endian: transcoded to UTF-8
  TEXT_UTF16BE = 2   // UTF-16, big-endian: transcoded to UTF-8
};

// What a file is, judged from its first bytes.
enum LogKind {
  LOG_ADIF = 0,  // ADIF text: at least one tag with a length (<NAME:N>), or an <EOH>
  LOG_ADX = 1,   // ADX, the XML form of ADIF
  LOG_OTHER = 2  // not a log: a document, an archive, a picture, a program...
};

// The result of identify_log.
struct LogIdentity {
  LogKind kind;
  TextEncoding encoding;
  size_t skip;       // bytes to skip before reading: a byte-order mark, or what comes
                     // before an ADX log's XML (white space, comments)
  const char* what;  // for LOG_OTHER: what the file looks like ("a PDF document",
                     // "an XML file with root gpx"; static storage)
};

// Judges a file from its first `count` bytes (up to 64 KiB are looked at, or
// 4,096 characters of UTF-16): a
// UTF-16 byte-order mark, or the NUL bytes of UTF-16 text, gives a UTF-16
// encoding; the root element ADX after an XML prolog (declaration, comments,
// DOCTYPE, white space) an ADX log; a tag with a length, or an <EOH>, an ADIF
// log, whatever free text comes first (even `<?xml`-like); anything else is
// LOG_OTHER, saying what it looks like: a common document, archive or
// program by its signature, binary data, an HTML page, an XML file with
// another root, tags without lengths, or text without a tag.
LogIdentity identify_log(const unsigned char* bytes, size_t count);

// A code page a log may be written in: the name iconv and Windows share, the
// Windows code page number, and for a double-byte code page the ranges of
// its lead and trail bytes (inclusive pairs; a pair of zeros is unused).
struct CodePage {
  const char* name;
  unsigned windows;
  unsigned char lead[2][2];
  unsigned char trail[3][2];
};

// The code pages known, ended by a null name: UTF-8 first, then
// Windows-1252, then the double-byte ones (GBK, Shift-JIS, Big5, EUC-KR) in
// the order a log's lengths are tried in them, then single-byte ones.
extern const CodePage code_pages[];

// The index in code_pages of `name` (any case, `_` for `-`, a few common
// other names), or -1.
int find_code_page(const char* name);

// True when `byte` is a lead byte (trail byte) of the double-byte `page`.
inline bool in_ranges(const unsigned char (*ranges)[2], int count, unsigned char byte) {
  for (int i = 0; i < count; ++i) {
    if (ranges[i][0] && byte >= ranges[i][0] && byte <= ranges[i][1]) return true;
  }
  return false;
}
inline bool is_lead_byte(const CodePage& page, unsigned char byte) {
  return in_ranges(page.lead, 2, byte);
}
inline bool is_trail_byte(const CodePage& page, unsigned char byte) {
  return in_ranges(page.trail, 3, byte);
}

// The code points of the Windows-1252 bytes 0x80 to 0x9F, U+FFFD for the
// five that the code page leaves undefined; every other byte is the code
// point of its own value.
extern const uint16_t windows_1252_high[32];

// Returns the code point of the well-formed UTF-8 sequence at `text` (before
// `end`) and moves `text` past it; -1, without moving `text`, for a byte that
// starts none (overlong forms, surrogates and values past U+10FFFF are not
// UTF-8).
int32_t next_UTF8(const unsigned char*& text, const unsigned char* end);

// Transcodes the UTF-16 text `in` (`count` bytes, big-endian or not) to UTF-8
// at `out` (`room` bytes), stopping before a unit or surrogate pair that is
// not whole, unless `final`, or that would not fit; an unpaired surrogate or
// a lone last byte becomes U+FFFD. `consumed` receives the input bytes used.
// Returns the bytes written.
size_t utf16_to_utf8(const unsigned char* in, size_t count, bool big_endian, bool final, char* out,
                     size_t room, size_t& consumed);

// A bucket of a NameTable: one name met in the log.
struct NameEntry {
  const char* name;  // a copy of the name, zeros up to a multiple of 8 bytes; null: empty
  uint32_t hash;     // its field_name_hash
  int32_t length;    // its bytes
  int32_t id;        // its number, from 1 in the order the names were met
  uint32_t stamp;    // the record it was last met in
};

// Every name met in the log, numbered, so that a field's name is looked up
// once: the reader finds a duplicate by the stamp of the record that last
// had the name, and the conversion finds a name's column by its number (see
// AdifField::name_id).
struct NameTable {
  NameEntry* buckets;  // open-addressed, `size` of them
  size_t size;         // a power of two, at least twice `count`
  size_t count;        // names held
  uint32_t stamp;      // the current record's; never 0 once in use
  uint64_t serial;     // tells this table's numbers from another's (AdifRecord::name_table)
  AdifStorage* texts;  // the names' copies
};

// Makes an empty table with a serial no other table of the process has.
void name_table_open(NameTable& names);

// Starts a new record.
void name_table_next_record(NameTable& names);

// Doubles the buckets; false when memory runs out. The slow path of name_table_reserve.
bool name_table_grow(NameTable& names);

// Makes room for one more name; false when memory runs out.
inline bool name_table_reserve(NameTable& names) {
  return (names.count + 1) * 2 <= names.size || name_table_grow(names);
}

// Adds a name not in the table at bucket `at`; false when memory runs out.
bool name_table_insert(NameTable& names, size_t at, AdifField* field);

// How name_table_meet found a name.
enum NameMet {
  NAME_FIRST_IN_RECORD = 0,  // the record had no field of the name before
  NAME_REPEATED = 1,         // the record has a field of the name: a duplicate
  NAME_NO_MEMORY = 2         // a new name could not be added
};

// Looks up the name of `field` (made by the reader: name_hash and
// name_length set, its name readable in whole words), adds it when new and
// sets the field's name_id. name_table_reserve must have made room.
inline NameMet name_table_meet(NameTable& names, AdifField* field) {
  size_t mask = names.size - 1;
  size_t at = field->name_hash & mask;
  for (; names.buckets[at].name; at = (at + 1) & mask) {
    NameEntry& entry = names.buckets[at];
    if (entry.hash == field->name_hash && entry.length == field->name_length &&
        same_name_words(entry.name, field->name, field->name_length)) {
      field->name_id = entry.id;
      if (entry.stamp == names.stamp) return NAME_REPEATED;
      entry.stamp = names.stamp;
      return NAME_FIRST_IN_RECORD;
    }
  }
  return name_table_insert(names, at, field) ? NAME_FIRST_IN_RECORD : NAME_NO_MEMORY;
}

// Releases the table and its names.
void name_table_release(NameTable& names);

// Where a well-formed tag stands: its `<`, the end of its name (the `:`, or
// the `>` of EOR and EOH), its `>`, and the length it declares (-1 for none).
struct KnownTag {
  size_t open;
  size_t colon;
  size_t close;
  int32_t length;
};

// How many values were read other than their lengths declared, and in how
// many records.
struct ValueReadings {
  int64_t counted_values;  // counted in characters (or code-page characters, or CR LF)
  int64_t counted_records;
  int64_t near_values;  // one or two bytes off
  int64_t near_records;
};

// The state of one reader. Zero-filled before adif_reader_open.
struct AdifReader {
  FILE* input;            // the log; read from, never closed here
  TextEncoding encoding;  // how `input` is encoded
  bool line_by_line;      // read no further than the line in hand (parse_ADIF)
  char* buffer;           // the data read: `capacity` bytes and a NUL after them
  size_t capacity;
  size_t pos;        // next byte to scan
  size_t end;        // end of the data read
  size_t clean_end;  // the data before it holds no NUL byte (checked as it was read)
  size_t line_end;   // while `in_line`: end of the line's text
  size_t line_next;  // while `in_line`: start of the next line
  bool in_line;      // a line is being scanned (text after <EOR> is left)
  bool input_ended;  // the input has no more bytes
  bool read_failed;  // reading the input failed; `read_error` has errno
  int read_error;
  bool out_of_memory;       // memory ran out: the pass cannot be trusted
  size_t longest;           // longest line read whole (8190; parse_ADIF: its buffer's)
  int code_page;            // index in code_pages of the log's code page, or -1 when not given
  int32_t page_hits[16];    // values read whole in each double-byte code page
  ValueReadings in_record;  // values of the pending record read other than declared
  ValueReadings recovered;  // the same, of the records (and headers) ended so far
  int64_t tags;             // tags met (`<` followed by a name and `:` or `>`)
  bool seen_tag;            // a tag was met: text from here on is no header's free text
  bool stray_held;          // the pending record has text outside tags (in `stray_text`)
  char stray_text[31];      // its first 30 characters
  int64_t stray_records;    // records with text outside tags (each reported)
  char** queued;            // messages of the line in hand, handed out one a call
  size_t queued_count;
  size_t queued_taken;
  size_t queued_room;
  ParseStatus queued_status;  // the status to return with the last of them
  unsigned char carry[4];     // UTF-16: bytes of a unit or pair not yet complete
  size_t carried;
  NameTable names;      // the names met, and those of the pending record
  bool line_tag_known;  // the tag that starts the next line was found after a value
  KnownTag line_tag;    // where (scan_line takes it from here)
};

// Sets `reader` up to read `input` (at its current position) encoded as
// `encoding`. Returns false when memory runs out. The stream stays the caller's.
bool adif_reader_open(AdifReader& reader, FILE* input, TextEncoding encoding);

// Reads lines up to an <EOH> or <EOR>, a message or the end of the input,
// adding the fields met to the pending `record` (made with its first field),
// and returns how it stopped, as parse_ADIF does for one line (ADIF_CONTINUE
// with a message, which the caller takes before the next call). The record
// has no field tree: a conversion needs none, and building one for every
// record twice would be most of its work. Its fields are linked newest first
// from `fields` (the first of each name, as a tree keeps it) and found with
// find_record_field; the shortcut slots are set as usual. The next call goes
// on with the text after an <EOR>. A message, if any, is left malloc'ed in
// `message` (owned by the caller, who passes it in null). After ADIF_EOF
// check `read_failed` and `out_of_memory`: either means the pass did not see
// the whole log.
ParseStatus read_ADIF(AdifReader& reader, AdifRecord*& record, char*& message);

// Rewinds the input and starts reading again from `start` bytes into it (a
// byte-order mark's size, or 0), keeping the code page its lengths told.
// Returns false when the input cannot be repositioned.
bool adif_reader_restart(AdifReader& reader, long start);

// Releases the reader's memory (not the stream).
void adif_reader_close(AdifReader& reader);
