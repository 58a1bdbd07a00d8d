// Text of a log's code page turned into UTF-8, by the system's own converter.
#pragma once

#include <cstddef>

// A converter from one code page to UTF-8; opaque.
struct CodePageDecoder;

// Returns a converter from the code page `name` (as iconv names it; Windows
// code page `windows`) to UTF-8, or null when the system does not know it or
// memory runs out. Freed with code_page_decoder_close.
CodePageDecoder* code_page_decoder_open(const char* name, unsigned windows);

// Returns the `length` bytes at `text` as UTF-8 (a malloc'ed text, NUL-ended,
// the caller's to free, its bytes in `*out_length`); a byte sequence that is
// no text of the code page becomes U+FFFD. Null when memory runs out.
char* code_page_decode(CodePageDecoder* decoder, const char* text, size_t length,
                       size_t* out_length);

// Frees the converter. Null is allowed.
void code_page_decoder_close(CodePageDecoder* decoder);
