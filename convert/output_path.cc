// The output file name that goes with an ADIF file name, and what a name says
// of the output's format.
#include <cstring>

#include "convert/convert.h"

bool derive_CSV_path(const char* input, char* output, size_t size) {
  if (!output || size == 0) return false;
  output[0] = '\0';
  if (!input) return false;
  size_t length = std::strlen(input);
  // The file name starts after the last folder separator; only a '.' inside
  // it starts an extension.
  size_t name_start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (input[i] == '/' || input[i] == '\\') name_start = i + 1;
  }
  size_t stem = length;
  for (size_t i = length; i > name_start; --i) {
    if (input[i - 1] == '.') {
      stem = i - 1;
      break;
    }
  }
  static const char extension[] = ".CSV";
  if (stem + sizeof extension > size) return false;
  std::memcpy(output, input, stem);
  std::memcpy(output + stem, extension, sizeof extension);
  return true;
}

bool is_workbook_path(const char* path) {
  size_t length = std::strlen(path);
  if (length < 5) return false;
  const char* tail = path + length - 5;
  return tail[0] == '.' && (tail[1] | 0x20) == 'x' && (tail[2] | 0x20) == 'l' &&
         (tail[3] | 0x20) == 's' && (tail[4] | 0x20) == 'x';
}
