// Input helpers for Windows: GetFileInformationByHandle, the C runtime's
// positions, a temporary file deleted when closed, and NUL (the other way
// round) for invalid standard handles.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "os/file_path.h"
#include "os/input_file.h"
#include "os/temporary_stream.h"
#include "os/win32.h"

namespace {

HANDLE stream_handle(FILE* stream) {
  int descriptor = stream ? _fileno(stream) : -1;
  if (descriptor < 0) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

uint64_t join(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

bool handle_identity(HANDLE handle, FileIdentity& id) {
  id = FileIdentity{};
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return false;
  id = FileIdentity{info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow), true};
  return true;
}

}  // namespace

bool stream_identity(FILE* stream, FileIdentity& id) {
  return handle_identity(stream_handle(stream), id);
}

bool path_identity(const char* path, FileIdentity& id) {
  HANDLE file =
      CreateFileW(wide_path(path).get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  bool known = handle_identity(file, id);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return known;
}

bool stream_stamp(FILE* stream, FileStamp& stamp) {
  stamp = FileStamp{};
  BY_HANDLE_FILE_INFORMATION info{};
  HANDLE handle = stream_handle(stream);
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return false;
  FILETIME written = info.ftLastWriteTime;
  stamp.identity =
      FileIdentity{info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow), true};
  stamp.size = static_cast<int64_t>(join(info.nFileSizeHigh, info.nFileSizeLow));
  stamp.modified = static_cast<int64_t>(join(written.dwHighDateTime, written.dwLowDateTime));
  // The change time, which a rewrite moves even when it puts the write time
  // back; 0 where the file system does not keep it.
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    stamp.changed = basic.ChangeTime.QuadPart;
  }
  stamp.known = true;
  return true;
}

int64_t stream_position(FILE* stream) { return _ftelli64(stream); }

bool is_regular_file_at_start(FILE* stream) {
  HANDLE handle = stream_handle(stream);
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
         _lseeki64(_fileno(stream), 0, SEEK_CUR) == 0 && _ftelli64(stream) == 0;
}

bool is_regular_path(const char* path) {
  HANDLE file =
      CreateFileW(wide_path(path).get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool regular = GetFileType(file) == FILE_TYPE_DISK;
  CloseHandle(file);
  return regular;
}

bool temporary_folder(char* folder, size_t size) {
  wchar_t wide[MAX_PATH + 1];
  DWORD units = GetTempPathW(MAX_PATH + 1, wide);
  char path[4 * MAX_PATH + 1];
  if (units == 0 || units > MAX_PATH || !utf8_path(wide, path, sizeof path)) return false;
  size_t length = std::strlen(path);
  while (length > 0 && (path[length - 1] == '\\' || path[length - 1] == '/')) --length;
  // A drive's root ("C:" once its separator is gone) is no temporary folder.
  if (length <= 2 || length >= size) return false;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  return true;
}

FILE* open_temporary_stream(int& error) {
  char name[4 * MAX_PATH + 1];
  const char pattern[] = "\\ledgerly-XXXXXX.tmp";
  if (!temporary_folder(name, sizeof name - sizeof pattern + 1)) {
    error = ENOENT;
    return nullptr;
  }
  std::strcat(name, pattern);
  char* letters = name + std::strlen(name) - sizeof "XXXXXX.tmp" + 1;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    fill_unique_letters(letters, 6);
    file = CreateFileW(wide_path(name).get(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    error = errno_of_win32_error(GetLastError());
    return nullptr;
  }
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(file);
    error = EMFILE;
    return nullptr;
  }
  FILE* stream = _fdopen(descriptor, "w+b");
  if (!stream) {
    error = errno ? errno : ENOMEM;
    _close(descriptor);
  }
  return stream;
}

void reopen_closed_standard_streams() {
  struct StandardStream {
    DWORD handle_id;
    FILE* stream;
    const char* mode;
  };
  const StandardStream streams[] = {
      {STD_INPUT_HANDLE, stdin, "w"},  // the other way round, so that every use fails
      {STD_OUTPUT_HANDLE, stdout, "r"},
      {STD_ERROR_HANDLE, stderr, "r"},
      {0, nullptr, nullptr},
  };
  for (const StandardStream* standard = streams; standard->stream; ++standard) {
    HANDLE handle = GetStdHandle(standard->handle_id);
    if (_fileno(standard->stream) >= 0 && handle != nullptr && handle != INVALID_HANDLE_VALUE) {
      continue;
    }
    std::freopen("NUL", standard->mode, standard->stream);
  }
}

bool stream_can_write(FILE* stream) {
  // A stream reopened for reading fails its writes, which the conversion
  // reports; the C runtime does not tell its direction beforehand.
  return stream_handle(stream) != INVALID_HANDLE_VALUE;
}

void set_binary_mode(FILE* stream) {
  if (stream && _fileno(stream) >= 0) _setmode(_fileno(stream), _O_BINARY);
}
