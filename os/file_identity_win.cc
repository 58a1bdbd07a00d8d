// same_file for Windows: the full paths compared without regard to case, and
// the volume serial number and file index of both files when both exist.
#include <windows.h>

#include <cstring>

#include "os/file_identity.h"

namespace {

bool file_number(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BOOL ok = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  return ok != 0;
}

}  // namespace

bool same_file(const char* first, const char* second) {
  char full_first[MAX_PATH * 4];
  char full_second[MAX_PATH * 4];
  DWORD a = GetFullPathNameA(first, sizeof full_first, full_first, nullptr);
  DWORD b = GetFullPathNameA(second, sizeof full_second, full_second, nullptr);
  if (a && b && a < sizeof full_first && b < sizeof full_second &&
      lstrcmpiA(full_first, full_second) == 0) {
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info_first{};
  BY_HANDLE_FILE_INFORMATION info_second{};
  if (!file_number(first, info_first) || !file_number(second, info_second)) return false;
  return info_first.dwVolumeSerialNumber == info_second.dwVolumeSerialNumber &&
         info_first.nFileIndexHigh == info_second.nFileIndexHigh &&
         info_first.nFileIndexLow == info_second.nFileIndexLow;
}
