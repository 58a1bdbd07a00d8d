// Output files on Windows: a file created beside the target (shared for
// deletion, so that a console control handler can remove it while it is
// open), FlushFileBuffers, and MoveFileExA over the target. The C runtime's
// stream forgets why a write failed; a full disk is told from the free space
// left.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

// Creates the file `name`, its XXXXXX replaced by unique letters, for
// writing; a name already taken is tried again with other letters.
HANDLE create_temporary(char* name) {
  char* letters = name + std::strlen(name) - sizeof "XXXXXX.part" + 1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fill_unique_letters(letters, 6);
    HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

// Whether `path` names an existing device or pipe, which is written in place.
bool is_device(const char* path) {
  HANDLE probe = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  bool device = GetFileType(probe) != FILE_TYPE_DISK;
  CloseHandle(probe);
  return device;
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
  bool full = GetDiskFreeSpaceExA(name, &available, nullptr, nullptr) && available.QuadPart < 65536;
  std::free(name);
  return full ? ENOSPC : EIO;
}

// Flushes the file `path` to disk through a handle of its own.
bool flush_by_path(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

}  // namespace

bool output_file_begin(OutputFile& file, const char* target_path, int& error) {
  file = OutputFile{};
  if (!*target_path) {
    error = ENOENT;
    return false;
  }
  bool device = is_device(target_path);
  DWORD attributes = GetFileAttributesA(target_path);
  if (!device && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = EISDIR;
    return false;
  }
  file.target_path = _strdup(target_path);
  if (!device && file.target_path)
    file.temporary_path = temporary_output_name(target_path, folder_length(target_path));
  if (!file.target_path || (!device && !file.temporary_path)) {
    release(file);
    error = ENOMEM;
    return false;
  }
  HANDLE handle = device
                      ? CreateFileA(target_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                      : create_temporary(file.temporary_path);
  if (handle == INVALID_HANDLE_VALUE) {
    error = errno_of_win32_error(GetLastError());
    std::free(file.temporary_path);
    file.temporary_path = nullptr;
    release(file);
    return false;
  }
  if (!device) file.pending_slot = add_pending_file(file.temporary_path);
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
      !MoveFileExA(temporary, file.target_path,
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = errno_of_win32_error(GetLastError());
  }
  if (error && temporary) DeleteFileA(temporary);
  release(file);
  return !error;
}

void output_file_discard(OutputFile& file) {
  if (file.stream) std::fclose(file.stream);
  file.stream = nullptr;
  if (file.temporary_path) DeleteFileA(file.temporary_path);
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
