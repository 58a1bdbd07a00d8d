// The reading rules of the ADIF reader: where a value ends when its declared
// length does not fit, and the text that stands outside every tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(LEDGERLY_PORTABLE_SCAN)
#include <emmintrin.h>
#endif

#include "adif/adif_reader.h"

// The functions below run for every tag: inlined into the scan even where
// the compiler would rather call them.
#if defined(__GNUC__)
#define LEDGERLY_SCAN_INLINE inline __attribute__((always_inline))
#else
#define LEDGERLY_SCAN_INLINE inline
#endif

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

// Returns the first byte from `name` on that no name holds (see
// name_bytes); the text ends in a NUL, and may be read in blocks of 16
// bytes up to 16 bytes past it.
LEDGERLY_SCAN_INLINE const unsigned char* name_end(const unsigned char* name) {
#if defined(__SSE2__) && !defined(LEDGERLY_PORTABLE_SCAN)
  // Sixteen bytes a look: `:`, `<`, `>` and every byte below 0x0E stop it,
  // and the loop below goes on past those a name holds (a tab).
  const __m128i colons = _mm_set1_epi8(':');
  const __m128i closes = _mm_set1_epi8('>');
  const __m128i opens = _mm_set1_epi8('<');
  const __m128i lows = _mm_set1_epi8(0x0D);
  for (;;) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name));
    __m128i marks =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, colons), _mm_cmpeq_epi8(bytes, closes)),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, opens),
                                  _mm_cmpeq_epi8(_mm_min_epu8(bytes, lows), bytes)));
    auto flags = static_cast<unsigned>(_mm_movemask_epi8(marks));
    if (flags) {
      name += __builtin_ctz(flags);
      break;
    }
    name += 16;
  }
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Eight bytes a look; `8` and every byte below 0x0E stop it too, and the
  // loop below goes on past those a name holds.
  const uint64_t ones = 0x0101010101010101u;
  const uint64_t highs = 0x8080808080808080u;
  for (;;) {
    uint64_t word;
    std::memcpy(&word, name, 8);
    uint64_t marks = (word & ~(ones * 0x06)) ^ (ones * 0x38);  // 0 for `8`, `:`, `<` and `>`
    // The lowest flagged byte of each test is exact (a borrow runs upwards only).
    uint64_t flags = ((marks - ones) & ~marks) | ((word - ones * 0x0E) & ~word);
    flags &= highs;
    if (flags) {
      name += __builtin_ctzll(flags) >> 3;
      break;
    }
    name += 8;
  }
#endif
  while (name_bytes.in_name[*name]) ++name;
  return name;
}

// True when a well-formed tag <NAME:N> or <NAME:N:T> (a name without blanks
// at its ends, N digits, T letters), or <EOR> or <EOH> in any case, starts
// at `at` in `text`, which ends in a NUL somewhere after it; `tag` then says
// where it stands, with a length of -1 for EOR and EOH. The common case of
// value_end's test, inlined: false also when value_end must look further.
LEDGERLY_SCAN_INLINE bool tag_at(const char* text, size_t at, KnownTag& tag) {
  const auto* start = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* open = start + at;
  // (A name that starts or ends with any byte up to the blank is left to
  // value_end; an empty name passes, its `<` and `:` being no blanks.)
  if (*open != '<' || open[1] <= ' ') return false;
  const unsigned char* stop = name_end(open + 1);
  const unsigned char* colon = stop;
  int32_t length = -1;
  if (*stop == ':') {
    if (stop[-1] <= ' ') return false;
    auto digit = static_cast<unsigned>(*++stop) - '0';
    if (digit > 9) return false;
    uint32_t count = digit;
    for (const unsigned char* most = stop + 9;
         (digit = static_cast<unsigned>(*++stop) - '0') <= 9;) {
      if (stop == most) return false;  // past what a quick look reads
      count = count * 10 + digit;
    }
    if (*stop == ':') {
      const unsigned char* type = ++stop;
      while (((*stop | 0x20) >= 'a' && (*stop | 0x20) <= 'z')) ++stop;
      if (stop == type) return false;
    }
    if (*stop != '>') return false;
    length = static_cast<int32_t>(count);
  } else if (*stop != '>' || stop != open + 4 || (open[1] | 0x20) != 'e' ||
             (open[2] | 0x20) != 'o' || ((open[3] | 0x20) != 'r' && (open[3] | 0x20) != 'h')) {
    return false;
  }
  tag.open = at;
  tag.colon = static_cast<size_t>(colon - start);
  tag.close = static_cast<size_t>(stop - start);
  tag.length = length;
  return true;
}

// True when the declared end at `end` is right at a glance: a well-formed
// tag follows it directly, or after one blank or line end (`tag` then says
// where). The rest is value_end's to tell.
LEDGERLY_SCAN_INLINE bool declared_end_fits(const char* text, size_t end, KnownTag& tag) {
  char next = text[end];
  size_t at = end + (next == ' ' || next == '\n' || next == '\t');
  if (next == '\r') at = end + 1 + (text[end + 1] == '\n');
  return tag_at(text, at, tag);
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
