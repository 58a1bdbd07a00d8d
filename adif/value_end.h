// The reading rules of the ADIF reader: where a value ends when its declared
// length does not fit, and the text that stands outside every tag.
#pragma once

#include <cstddef>
#include <cstdint>

#include "adif/adif_reader.h"

// True for the bytes that count as blanks between fields (and that a
// name may not start or end with).
inline bool is_blank_byte(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The bytes of a tag's name as a well-formed tag may hold them: 1 for a
// byte that may stand in a name, 0 for one that ends it (`:`, `>`, `<`, the
// line ends and NUL).
struct NameBytes {
  unsigned char in_name[256];
};

constexpr NameBytes make_name_bytes() {
  NameBytes bytes{};
  for (int byte = 0; byte < 256; ++byte) bytes.in_name[byte] = 1;
  const char stops[] = ":><\n\r";  // and the NUL that ends it
  for (char stop : stops) bytes.in_name[static_cast<unsigned char>(stop)] = 0;
  return bytes;
}

constexpr NameBytes name_bytes = make_name_bytes();

// True when a well-formed tag <NAME:N> or <NAME:N:T> (a name without blanks
// at its ends, N digits, T letters) starts at `at` in `text`, which ends in
// a NUL somewhere after it; `tag` then says where it stands. The common
// case of value_end's test, inlined: false also when value_end must look
// further.
inline bool length_tag_at(const char* text, size_t at, KnownTag& tag) {
  const auto* start = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* open = start + at;
  if (*open != '<') return false;
  const unsigned char* stop = open + 1;
  while (name_bytes.in_name[*stop]) ++stop;
  // (A name that starts or ends with any byte up to the blank is left to
  // value_end; an empty name passes, its `<` and `:` being no blanks.)
  if (*stop != ':' || open[1] <= ' ' || stop[-1] <= ' ') return false;
  const unsigned char* colon = stop;
  auto digit = static_cast<unsigned>(*++stop) - '0';
  if (digit > 9) return false;
  uint32_t length = digit;
  for (int digits = 1; (digit = static_cast<unsigned>(*++stop) - '0') <= 9;) {
    if (++digits > 9) return false;  // past what a quick look reads
    length = length * 10 + digit;
  }
  if (*stop == ':') {
    const unsigned char* type = ++stop;
    while (((*stop | 0x20) >= 'a' && (*stop | 0x20) <= 'z')) ++stop;
    if (stop == type) return false;
  }
  if (*stop != '>') return false;
  tag.open = at;
  tag.colon = static_cast<size_t>(colon - start);
  tag.close = static_cast<size_t>(stop - start);
  tag.length = static_cast<int32_t>(length);
  return true;
}

// True when the declared end at `end` is right at a glance: a tag with a
// length follows it directly, or after one blank or line end (`tag` then
// says where). The rest is value_end's to tell.
inline bool declared_end_fits(const char* text, size_t end, KnownTag& tag) {
  char next = text[end];
  size_t at = end + (next == ' ' || next == '\n' || next == '\t');
  if (next == '\r') at = end + 1 + (text[end + 1] == '\n');
  return length_tag_at(text, at, tag);
}

// Returns where the value of `length` declared bytes at `value` (both in the
// reader's buffer, the value whole in it) ends. The declared bytes stand
// whenever a tag (or the end of the input) follows them, past blanks, line
// ends and `//` comments, and also when the data read ends before that can
// be told; otherwise the first other count whose end a tag follows (UTF-8
// characters, Windows-1252 counted as UTF-8, the characters of a double-byte
// code page, LF counted as CR LF), then an end one or two bytes off (nearest
// first, shorter first), then the declared bytes after all. A reading other
// than the declared one is counted in `reader.in_record`, a double-byte one
// also in `reader.page_hits`. No longer reading takes in a `<`.
size_t value_end(AdifReader& reader, size_t value, int32_t length);

// Keeps the first 30 characters of the text in [from, to) of the reader's
// buffer for the record's message, when it is more than blanks and `//`
// comments, the record has none kept yet and a tag was met before.
void note_stray_text(AdifReader& reader, size_t from, size_t to);
