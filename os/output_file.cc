// The parts of the output files that every system shares: the temporary
// file's name and the scratch file's.
#include "os/output_file.h"

#include <cstdlib>
#include <cstring>

char* temporary_output_name(const char* path, size_t folder) {
  static const char ending[] = ".XXXXXX.part";
  size_t keep = std::strlen(path + folder);
  if (keep > temporary_name_keeps) {
    keep = temporary_name_keeps;
    // Back to the first byte of a character, so that the name stays UTF-8.
    while (keep > 0 && (static_cast<unsigned char>(path[folder + keep]) & 0xC0) == 0x80) --keep;
  }
  char* name = static_cast<char*>(std::malloc(folder + 1 + keep + sizeof ending));
  if (!name) return nullptr;
  std::memcpy(name, path, folder);
  name[folder] = '.';
  std::memcpy(name + folder + 1, path + folder, keep);
  std::memcpy(name + folder + 1 + keep, ending, sizeof ending);
  return name;
}

char* scratch_file_name(const char* folder, char separator, const char* suffix) {
  static const char pattern[] = "ledgerly-XXXXXX";
  size_t length = std::strlen(folder);
  size_t suffix_length = std::strlen(suffix);
  char* name = static_cast<char*>(std::malloc(length + 1 + sizeof pattern + suffix_length));
  if (!name) return nullptr;
  std::memcpy(name, folder, length);
  name[length] = separator;
  std::memcpy(name + length + 1, pattern, sizeof pattern - 1);
  std::memcpy(name + length + sizeof pattern, suffix, suffix_length + 1);
  return name;
}
