// The output file name that goes with an ADIF file name, and what a name says
// of the output's format: a workbook, or one that is not written.
#include <cstring>

#include "convert/convert.h"

namespace {

// Extensions of output names that promise a format this program does not
// write, the logs' own first; null ends the table.
const char* const unwritten_extensions[] = {".adi", ".adif", ".adx", ".ods",
                                            ".xls", ".json", ".xml", nullptr};
constexpr int log_extensions = 3;  // the first three: a log's

// True when `path` ends in `extension` (lower case), in any case.
bool ends_in(const char* path, const char* extension) {
  size_t length = std::strlen(path);
  size_t size = std::strlen(extension);
  if (length < size) return false;
  const char* tail = path + length - size;
  for (size_t i = 0; i < size; ++i) {
    char c = tail[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != extension[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

const char* unwritten_format_extension(const char* path) {
  for (const char* const* extension = unwritten_extensions; *extension; ++extension) {
    if (ends_in(path, *extension)) return *extension;
  }
  return nullptr;
}

bool is_log_extension(const char* extension) {
  for (int i = 0; i < log_extensions; ++i) {
    if (extension == unwritten_extensions[i]) return true;
  }
  return false;
}

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
