// The parts of the output files that every system shares: the temporary
// file's name.
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
