// Input helpers for POSIX systems: fstat and stat, lseek, mkstemp in the
// temporary folder with the name unlinked at once, and /dev/null (the other
// way round) for closed standard descriptors.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "os/input_file.h"
#include "os/temporary_stream.h"

bool stream_identity(FILE* stream, FileIdentity& id) {
  id = FileIdentity{};
  struct stat info {};
  int descriptor = stream ? fileno(stream) : -1;
  if (descriptor < 0 || fstat(descriptor, &info) != 0) return false;
  id = FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), true};
  return true;
}

bool path_identity(const char* path, FileIdentity& id) {
  id = FileIdentity{};
  struct stat info {};
  if (stat(path, &info) != 0) return false;
  id = FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), true};
  return true;
}

// Nanoseconds since the epoch of `time`.
int64_t nanoseconds(const struct timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

bool stream_stamp(FILE* stream, FileStamp& stamp) {
  stamp = FileStamp{};
  struct stat info {};
  int descriptor = stream ? fileno(stream) : -1;
  if (descriptor < 0 || fstat(descriptor, &info) != 0) return false;
  stamp.identity =
      FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), true};
  stamp.size = static_cast<int64_t>(info.st_size);
  stamp.modified = nanoseconds(info.st_mtim);
  stamp.changed = nanoseconds(info.st_ctim);
  stamp.known = true;
  return true;
}

int64_t stream_position(FILE* stream) { return static_cast<int64_t>(ftello(stream)); }

bool is_regular_file_at_start(FILE* stream) {
  struct stat info {};
  int descriptor = stream ? fileno(stream) : -1;
  return descriptor >= 0 && fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
         lseek(descriptor, 0, SEEK_CUR) == 0 && ftello(stream) == 0;
}

bool is_regular_path(const char* path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

bool temporary_folder(char* folder, size_t size) {
  const char* path = getenv("TMPDIR");
  if (!path || !*path) path = "/tmp";
  size_t length = std::strlen(path);
  while (length > 1 && path[length - 1] == '/') --length;
  if (length >= size) return false;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  return true;
}

FILE* open_temporary_stream(int& error) {
  char name[4096];
  const char pattern[] = "/ledgerly-XXXXXX";
  if (!temporary_folder(name, sizeof name - sizeof pattern + 1)) {
    error = ENAMETOOLONG;
    return nullptr;
  }
  std::strcat(name, pattern);
  int descriptor = mkstemp(name);
  if (descriptor < 0) {
    error = errno;
    return nullptr;
  }
  unlink(name);
  fcntl(descriptor, F_SETFD, FD_CLOEXEC);
  FILE* stream = fdopen(descriptor, "w+b");
  if (!stream) {
    error = errno;
    close(descriptor);
  }
  return stream;
}

void reopen_closed_standard_streams() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", descriptor == 0 ? O_WRONLY : O_RDONLY);
    if (opened >= 0 && opened != descriptor) {
      dup2(opened, descriptor);
      close(opened);
    }
  }
}

bool stream_can_write(FILE* stream) {
  if (!stream) return false;
  int descriptor = fileno(stream);
  if (descriptor < 0) return true;
  int flags = fcntl(descriptor, F_GETFL);
  return flags != -1 && (flags & O_ACCMODE) != O_RDONLY;
}

void set_binary_mode(FILE*) {}
