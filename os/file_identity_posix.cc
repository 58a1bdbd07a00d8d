// same_file for POSIX systems: the device and inode numbers of both files.
#include <sys/stat.h>

#include "os/file_identity.h"

bool same_file(const char* first, const char* second) {
  struct stat a {};
  struct stat b {};
  if (stat(first, &a) != 0 || stat(second, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
