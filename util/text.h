// Text and call-sign helpers of the companion library: CSV field splitting,
// trimming and deleting characters in place, call-sign checks, GMT dates, the
// about text and an edit distance. Texts are NUL-terminated 8-bit bytes;
// letters are A to Z and a to z only.
#pragma once

#include <cstdint>

// The words of an identification text: words 3, 4 and 5 of a text of words
// separated by runs of spaces.
struct IdentificationWords {
  const char* version;  // points into the split text, or "" when missing
  const char* date;     // points into the split text, or "" when missing
  const char* time;     // points into the split text, or "" when missing
};

// Splits `text` in place into fields at `separator` and stores each field's
// start in `fields`, which needs a slot for every field (separators + 1).
// With a comma separator a field that starts with a double quote runs to the
// next quote directly followed by a comma (both quotes dropped), or else to
// the end of the text (closing quote and line end kept). Line ends are not
// removed. Returns the number of fields (at least 1).
int split_CSV_line(char* text, char** fields, char separator);

// Returns 1 when the first two characters of `call` are a call-sign series of
// Canada (CF-CK, CY-CZ, VA-VG, VO, VX, VY, XJ-XO, upper case only), else 0.
int has_Canadian_prefix(const char* call);

// Returns "Bad character [%c]" for the first character of `text` that is not
// a letter, a digit or '/', in a new 32-byte text the caller frees; null when
// there is none (or memory ran out).
char* find_bad_character(const char* text);

// Overwrites with terminators the characters of `leading` at the start of
// `text` and those of `trailing` at its end; returns the first kept
// character, inside `text`. Null sets count as empty.
char* trim_characters(char* text, const char* leading, const char* trailing);

// Deletes the first character of the leftmost occurrence of `pattern` in
// `text` until there is none, so "  " shortens runs of spaces to one. An
// empty pattern changes nothing.
void squeeze_text(char* text, const char* pattern);

// Deletes every space (0x20) of `text`; other white space stays.
void remove_spaces(char* text);

// Deletes the second character of the leftmost occurrence of `first` until
// there is none, then the first character of the leftmost occurrence of
// `second` until there is none. A `first` shorter than two characters or an
// empty `second` skips its step.
void squeeze_text_pair(char* text, const char* first, const char* second);

// Copies `count` bytes of `source` from position `start` into `destination`
// and terminates it; returns the terminator written. The caller guarantees
// start + count bytes of source and count + 1 bytes of room.
char* copy_substring(char* destination, int start, const char* source, int count);

// Returns 1 when `call` has the shape of a call sign: letters, digits and '/',
// optionally ended by "(EX)", "(SK)", "(O)" or "(B)", not starting with 'Q'.
// The byte 0xD8 (slashed zero) is rewritten to '0' in `call`. `letters` and
// `digits` receive the counts up to where the scan stopped.
int check_call_shape(char* call, int& letters, int& digits);

// Returns the seconds since 1970-01-01 00:00:00 UTC of a GMT date such as
// "Sun, 06 Nov 1994 08:49:37 GMT", whatever the machine's time zone. `text` is
// split in place. An unknown month word gives January, missing numbers count
// as 0, a date before 1970 or past the int32 range gives -1.
int32_t parse_GMT_date(char* text);

// Returns a new text (the caller frees it) with the notice, the authors and
// their e-mail, an empty line, then the version, date and time from words 3, 4
// and 5 of the identification text `id_text` (missing words show empty).
// Null when memory runs out.
char* build_about_text(const char* id_text, const char* notice);

// Returns the optimal string alignment distance of `a` and `b` (insertions,
// deletions, substitutions and swaps of adjacent bytes cost 1, no substring
// edited twice); -1 when memory runs out.
int edit_distance(const char* a, const char* b);

// Splits `text` in place at runs of spaces and returns its words 3, 4 and 5;
// a null text has no words.
IdentificationWords split_identification_text(char* text);
