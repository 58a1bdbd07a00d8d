// The parts of the input helpers that every system shares.
#include "os/input_file.h"

#include <cerrno>
#include <cstring>

#include "os/temporary_stream.h"

bool same_identity(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.number == b.number;
}

bool same_stamp(const FileStamp& a, const FileStamp& b) {
  return a.known && b.known && same_identity(a.identity, b.identity) && a.size == b.size &&
         a.modified == b.modified && a.changed == b.changed;
}

FILE* spool_to_temporary_file(const void* head, size_t head_size, FILE* source, int& error,
                              bool& read_failed) {
  read_failed = false;
  FILE* copy = open_temporary_stream(error);
  if (!copy) return nullptr;
  if (head_size && std::fwrite(head, 1, head_size, copy) != head_size) {
    error = errno ? errno : EIO;
    std::fclose(copy);
    return nullptr;
  }
  char buffer[65536];
  size_t got;
  do {
    got = std::fread(buffer, 1, sizeof buffer, source);
    if (got < sizeof buffer && std::ferror(source)) {
      error = errno ? errno : EIO;
      read_failed = true;
    } else if (got && std::fwrite(buffer, 1, got, copy) != got) {
      error = errno ? errno : EIO;
    }
  } while (!error && !read_failed && got == sizeof buffer);
  if (!error && !read_failed && (std::fflush(copy) != 0 || std::fseek(copy, 0, SEEK_SET) != 0)) {
    error = errno ? errno : EIO;
  }
  if (!error && !read_failed) return copy;
  std::fclose(copy);
  return nullptr;
}

const char* system_error_text(int error) { return std::strerror(error); }
