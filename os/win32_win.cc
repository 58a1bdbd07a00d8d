// Win32 errors as errno values, and the letters of unique file names.
#include <atomic>
#include <cerrno>
#include <cstdint>

#include "os/win32.h"

namespace {

struct ErrorMapping {
  DWORD code;
  int error;
};

const ErrorMapping error_mappings[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_NAME, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_SHARING_VIOLATION, EACCES},
    {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_WRITE_PROTECT, EROFS},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_BROKEN_PIPE, EPIPE},
    {ERROR_NO_DATA, EPIPE},
    {0, 0},
};

}  // namespace

int errno_of_win32_error(DWORD code) {
  for (const ErrorMapping* mapping = error_mappings; mapping->code; ++mapping) {
    if (mapping->code == code) return mapping->error;
  }
  return EIO;
}

void fill_unique_letters(char* letters, int count) {
  static std::atomic<uint64_t> calls{0};
  LARGE_INTEGER ticks{};
  QueryPerformanceCounter(&ticks);
  uint64_t state = static_cast<uint64_t>(ticks.QuadPart) ^
                   (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
                   (++calls * 0x9E3779B97F4A7C15u);
  for (int i = 0; i < count; ++i) {
    state ^= state >> 33;  // a round of splitmix64 per letter
    state *= 0xFF51AFD7ED558CCDu;
    state ^= state >> 29;
    letters[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[state % 36];
    state += 0x9E3779B97F4A7C15u;
  }
}
