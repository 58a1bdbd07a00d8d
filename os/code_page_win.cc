// Code pages to UTF-8 on Windows: MultiByteToWideChar, then UTF-16 to UTF-8.
#include <windows.h>

#include <climits>
#include <cstdlib>

#include "os/code_page.h"

struct CodePageDecoder {
  UINT code_page;
};

CodePageDecoder* code_page_decoder_open(const char*, unsigned windows) {
  if (!IsValidCodePage(windows)) return nullptr;
  auto* decoder = static_cast<CodePageDecoder*>(std::malloc(sizeof(CodePageDecoder)));
  if (decoder) decoder->code_page = windows;
  return decoder;
}

char* code_page_decode(CodePageDecoder* decoder, const char* text, size_t length,
                       size_t* out_length) {
  if (length > INT_MAX / 4) return nullptr;
  int count = static_cast<int>(length);
  // Each byte gives at most one UTF-16 unit, each unit at most three bytes.
  auto* wide = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
  auto* out = static_cast<char*>(std::malloc(length * 3 + 1));
  if (!wide || !out) {
    std::free(wide);
    std::free(out);
    return nullptr;
  }
  int units = count ? MultiByteToWideChar(decoder->code_page, 0, text, count, wide, count) : 0;
  int bytes =
      units ? WideCharToMultiByte(CP_UTF8, 0, wide, units, out, count * 3, nullptr, nullptr) : 0;
  std::free(wide);
  out[bytes] = '\0';
  *out_length = static_cast<size_t>(bytes);
  return out;
}

void code_page_decoder_close(CodePageDecoder* decoder) { std::free(decoder); }
