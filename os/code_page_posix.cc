// Code pages to UTF-8 on POSIX systems: the C library's iconv.
#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "os/code_page.h"

struct CodePageDecoder {
  iconv_t converter;
};

CodePageDecoder* code_page_decoder_open(const char* name, unsigned) {
  iconv_t converter = iconv_open("UTF-8", name);
  if (converter == reinterpret_cast<iconv_t>(-1)) return nullptr;
  auto* decoder = static_cast<CodePageDecoder*>(std::malloc(sizeof(CodePageDecoder)));
  if (!decoder) {
    iconv_close(converter);
    return nullptr;
  }
  decoder->converter = converter;
  return decoder;
}

char* code_page_decode(CodePageDecoder* decoder, const char* text, size_t length,
                       size_t* out_length) {
  // Four bytes of UTF-8 for each byte in is more than any code page needs.
  size_t room = length * 4 + 4;
  auto* out = static_cast<char*>(std::malloc(room));
  if (!out) return nullptr;
  iconv(decoder->converter, nullptr, nullptr, nullptr, nullptr);  // a fresh start
  char* in = const_cast<char*>(text);
  size_t in_left = length;
  char* put = out;
  size_t out_left = room - 1;
  while (in_left > 0) {
    if (iconv(decoder->converter, &in, &in_left, &put, &out_left) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG || out_left < 3) break;
    // A byte that starts no character here: U+FFFD in its place.
    std::memcpy(put, "\xEF\xBF\xBD", 3);
    put += 3;
    out_left -= 3;
    ++in;
    --in_left;
  }
  *put = '\0';
  *out_length = static_cast<size_t>(put - out);
  return out;
}

void code_page_decoder_close(CodePageDecoder* decoder) {
  if (!decoder) return;
  iconv_close(decoder->converter);
  std::free(decoder);
}
