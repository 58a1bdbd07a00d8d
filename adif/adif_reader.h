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
  LOG_ADIF = 0,  // ADIF text (also anything that is not recognised as something else)
  LOG_ADX = 1,   // ADX, the XML form of ADIF
  LOG_OTHER = 2  // not a log: a document, an archive, a picture, a program...
};

// The result of identify_log.
struct LogIdentity {
  LogKind kind;
  TextEncoding encoding;
  size_t skip;       // bytes of a byte-order mark to skip before reading
  const char* what;  // for LOG_OTHER: what the file looks like ("a PDF document")
};

// Judges a file from its first `count` bytes (a few KiB are enough): a UTF-16
// byte-order mark, or the NUL bytes of UTF-16 text, gives a UTF-16 encoding;
// `<?xml` or `<ADX` at the start an ADX log; the signature of a common
// document, archive or program, or NUL bytes in 8-bit text, LOG_OTHER.
LogIdentity identify_log(const unsigned char* bytes, size_t count);

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

// A bucket of a NameSet: a name of the pending record.
struct NameBucket {
  uint32_t stamp;  // the record it belongs to; any other stamp is an empty bucket
  uint32_t hash;   // the field's name_hash
  const AdifField* field;
};

// The names of the record being read, hashed, so that a duplicate is found
// in one look-up instead of a walk of a tree.
struct NameSet {
  NameBucket* buckets;  // open-addressed, `size` of them
  size_t size;          // a power of two, at least twice `count`
  size_t count;         // names of the current record
  uint32_t stamp;       // marks the current record's buckets; never 0 once in use
};

// Starts an empty set for a new record.
void name_set_clear(NameSet& names);

// Doubles the buckets; false when memory runs out. The slow path of name_set_reserve.
bool name_set_grow(NameSet& names);

// Makes room for one more name; false when memory runs out.
inline bool name_set_reserve(NameSet& names) {
  return (names.count + 1) * 2 <= names.size || name_set_grow(names);
}

// Adds the name of `field` (made by the reader: its name_hash and
// name_length are set) and returns null, or returns the field already holding
// that name; then nothing is added. name_set_reserve must have made room.
inline const AdifField* name_set_add(NameSet& names, const AdifField* field) {
  size_t mask = names.size - 1;
  size_t at = field->name_hash & mask;
  for (; names.buckets[at].stamp == names.stamp; at = (at + 1) & mask) {
    const AdifField* held = names.buckets[at].field;
    if (names.buckets[at].hash == field->name_hash && held->name_length == field->name_length &&
        std::memcmp(held->name, field->name, static_cast<size_t>(field->name_length)) == 0) {
      return held;
    }
  }
  names.buckets[at] = NameBucket{names.stamp, field->name_hash, field};
  ++names.count;
  return nullptr;
}

// Releases the set's memory.
void name_set_release(NameSet& names);

// The state of one reader. Zero-filled before adif_reader_open.
struct AdifReader {
  FILE* input;            // the log; read from, never closed here
  TextEncoding encoding;  // how `input` is encoded
  bool line_by_line;      // read no further than the line in hand (parse_ADIF)
  char* buffer;           // the data read: `capacity` bytes and a NUL after them
  size_t capacity;
  size_t pos;        // next byte to scan
  size_t end;        // end of the data read
  size_t line_end;   // while `in_line`: end of the line's text
  size_t line_next;  // while `in_line`: start of the next line
  bool in_line;      // a line is being scanned (text after <EOR> is left)
  bool input_ended;  // the input has no more bytes
  bool read_failed;  // reading the input failed; `read_error` has errno
  int read_error;
  bool out_of_memory;      // memory ran out: the pass cannot be trusted
  int64_t recovered;       // values read whole by counting characters
  int64_t tags;            // tags met (`<` followed by a name and `:` or `>`)
  unsigned char carry[4];  // UTF-16: bytes of a unit or pair not yet complete
  size_t carried;
  NameSet names;  // the names of the pending record
};

// Sets `reader` up to read `input` (at its current position) encoded as
// `encoding`. Returns false when memory runs out. The stream stays the caller's.
bool adif_reader_open(AdifReader& reader, FILE* input, TextEncoding encoding);

// Reads on to the end of the line in hand, or to an <EOH> or <EOR> on it,
// adding the fields met to the pending `record` (made with its first field),
// and returns how it stopped, as parse_ADIF does. The record has no field
// tree: a conversion needs none, and building one for every record twice
// would be most of its work. Its fields are linked newest first from
// `fields` (the first of each name, as a tree keeps it) and found with
// find_record_field; the shortcut slots are set as usual; the next call goes on with
// the text after an <EOR>. A message, if any, is left malloc'ed in `message`
// (owned by the caller, who passes it in null). After ADIF_EOF check
// `read_failed` and `out_of_memory`: either means the pass did not see the
// whole log.
ParseStatus read_ADIF(AdifReader& reader, AdifRecord*& record, char*& message);

// Rewinds the input and starts reading again from `start` bytes into it (a
// byte-order mark's size, or 0). Returns false when the input cannot be
// repositioned.
bool adif_reader_restart(AdifReader& reader, long start);

// Releases the reader's memory (not the stream).
void adif_reader_close(AdifReader& reader);
