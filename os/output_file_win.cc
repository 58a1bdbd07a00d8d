// Output files on Windows: a file created beside the target, or in the
// temporary folder for a scratch file (shared for deletion, so that a
// console control handler can remove it while it is open), FlushFileBuffers,
// and MoveFileExW over the target, every path in UTF-16. The C runtime's
// stream forgets why a write failed; a full disk is told from the free space
// left.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "os/file_path.h"
#include "os/input_file.h"
#include "os/output_file.h"
#include "os/pending_files.h"
#include "os/win32.h"

namespace {

// Returns the length of the folder part of `path`, separator included.
size_t folder_length(const char* path) {
  size_t folder = 0;
  for (size_t i = 0; path[i]; ++i) {
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') folder = i + 1;
  }
  return folder;
}

// Creates the file `name`, the six X before its last `suffix_length` bytes
// replaced by unique letters, for writing; a name already taken is tried
// again with other letters.
HANDLE create_temporary(char* name, size_t suffix_length) {
  char* letters = name + std::strlen(name) - suffix_length - 6;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fill_unique_letters(letters, 6);
    HANDLE file =
        CreateFileW(wide_path(name).get(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

// Opens an existing `path` for writing, once: a device or pipe is kept open
// to be written in place; a disk file is closed again (it could be written,
// so it may be replaced) and INVALID_HANDLE_VALUE returned. False with
// `error` for a folder, or a file that is read-only or locked by another
// program; a missing file is no error.
bool open_existing(const char* path, HANDLE& device, int& error) {
  device = INVALID_HANDLE_VALUE;
  DWORD attributes = GetFileAttributesW(wide_path(path).get());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = EISDIR;
    return false;
  }
  HANDLE handle =
      CreateFileW(wide_path(path).get(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    error = errno_of_win32_error(code);
    return code == ERROR_FILE_NOT_FOUND;
  }
  if (GetFileType(handle) == FILE_TYPE_DISK) {
    CloseHandle(handle);
  } else {
    device = handle;
  }
  return true;
}

// The cause of a failed write, which the stream did not keep: a full disk
// when hardly any space is left in the target's folder, else an input/output
// error.
int write_error(const char* target_path) {
  size_t folder = folder_length(target_path);
  char* name = static_cast<char*>(std::malloc(folder + 2));
  if (!name) return EIO;
  std::memcpy(name, target_path, folder);
  std::strcpy(name + folder, folder ? "" : ".");
  ULARGE_INTEGER available{};
  bool full = GetDiskFreeSpaceExW(wide_path(name).get(), &available, nullptr, nullptr) &&
              available.QuadPart < 65536;
  std::free(name);
  return full ? ENOSPC : EIO;
}

// Flushes the file `path` to disk through a handle of its own.
bool flush_by_path(const char* path) {
  HANDLE file =
      CreateFileW(wide_path(path).get(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool flushed = FlushFileBuffers(file) != 0;
  DWORD code = GetLastError();
  CloseHandle(file);
  SetLastError(code);
  return flushed;
}

// Frees what `file` owns once its stream is closed, leaving it zero-filled.
void release(OutputFile& file) {
  drop_pending_file(file.pending_slot);
  std::free(file.target_path);
  std::free(file.temporary_path);
  file = OutputFile{};
}

// Opens `file.stream` on `handle` (marking a temporary file for removal on a
// console event first). False with `error`, nothing left behind, when that
// fails.
bool open_stream(OutputFile& file, HANDLE handle, int& error) {
  if (file.temporary_path) file.pending_slot = add_pending_file(file.temporary_path);
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
  } else if ((file.stream = _fdopen(descriptor, "wb")) == nullptr) {
    _close(descriptor);
  }
  if (file.stream) return true;
  error = ENOMEM;
  output_file_discard(file);
  return false;
}

// Creates `file.temporary_path` (its letters before the last `suffix_length`
// bytes made unique) and opens the stream on it. False with `error`, `file`
// empty, when it cannot be made.
bool make_temporary(OutputFile& file, size_t suffix_length, int& error) {
  HANDLE handle = file.temporary_path ? create_temporary(file.temporary_path, suffix_length)
                                      : INVALID_HANDLE_VALUE;
  if (handle == INVALID_HANDLE_VALUE) {
    error = file.temporary_path ? errno_of_win32_error(GetLastError()) : ENOMEM;
    std::free(file.temporary_path);
    file.temporary_path = nullptr;
    release(file);
    return false;
  }
  return open_stream(file, handle, error);
}

}  // namespace

bool output_file_begin(OutputFile& file, const char* target_path, int& error) {
  file = OutputFile{};
  if (!*target_path) {
    error = ENOENT;
    return false;
  }
  HANDLE device = INVALID_HANDLE_VALUE;
  if (!open_existing(target_path, device, error)) return false;
  file.target_path = _strdup(target_path);
  if (!file.target_path) {
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    error = ENOMEM;
    return false;
  }
  if (device != INVALID_HANDLE_VALUE) return open_stream(file, device, error);
  file.temporary_path = temporary_output_name(target_path, folder_length(target_path));
  return make_temporary(file, sizeof ".part" - 1, error);
}

bool output_file_begin_scratch(OutputFile& file, const char* suffix, int& error) {
  file = OutputFile{};
  static const char pattern[] = "\\ledgerly-XXXXXX";
  char folder[MAX_PATH + 1];
  size_t suffix_length = std::strlen(suffix);
  if (!temporary_folder(folder, sizeof folder - sizeof pattern - suffix_length)) {
    error = ENAMETOOLONG;
    return false;
  }
  file.temporary_path = scratch_file_name(folder, '\\', suffix);
  return make_temporary(file, suffix_length, error);
}

const char* output_file_path(const OutputFile& file) {
  return file.temporary_path ? file.temporary_path : file.target_path;
}

bool output_file_commit(OutputFile& file, int& error) {
  if (!file.target_path) {
    error = EINVAL;
    return false;
  }
  error = 0;
  const char* temporary = file.temporary_path;
  if (file.stream) {
    if (std::fflush(file.stream) != 0 || std::ferror(file.stream)) {
      error = write_error(file.target_path);
    }
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.stream)));
    if (!error && temporary && !FlushFileBuffers(handle)) {
      error = errno_of_win32_error(GetLastError());
    }
    if (std::fclose(file.stream) != 0 && !error) error = errno ? errno : EIO;
    file.stream = nullptr;
  } else if (temporary && !flush_by_path(temporary)) {
    error = errno_of_win32_error(GetLastError());
  }
  if (!error && temporary &&
      !MoveFileExW(wide_path(temporary).get(), wide_path(file.target_path).get(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = errno_of_win32_error(GetLastError());
  }
  if (error && temporary) DeleteFileW(wide_path(temporary).get());
  release(file);
  return !error;
}

void output_file_discard(OutputFile& file) {
  if (file.stream) std::fclose(file.stream);
  file.stream = nullptr;
  if (file.temporary_path) DeleteFileW(wide_path(file.temporary_path).get());
  release(file);
}

namespace {

// Removes the pending files and lets the next handler, in the end the
// system's own, end the process.
BOOL WINAPI remove_on_control(DWORD) {
  remove_pending_files();
  return FALSE;
}

}  // namespace

void remove_output_files_on_signals() { SetConsoleCtrlHandler(remove_on_control, TRUE); }
