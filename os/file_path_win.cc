// File paths on Windows: UTF-8 in the program, UTF-16 for the wide calls
// (_wfopen, CreateFileW and the like), and the command line read in UTF-16.
// <windows.h> must come before the other Windows headers.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cerrno>
#include <cstdlib>

#include "os/file_path.h"

void FreeWidePath::operator()(wchar_t* path) const { std::free(path); }

WidePath wide_path(const char* path) {
  // Bytes that are not UTF-8 are taken in the ANSI code page, as the ANSI
  // calls took every path before.
  UINT code_page = CP_UTF8;
  int units = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (units <= 0) {
    code_page = CP_ACP;
    units = MultiByteToWideChar(code_page, 0, path, -1, nullptr, 0);
  }
  if (units <= 0) return nullptr;
  WidePath wide(static_cast<wchar_t*>(std::malloc(units * sizeof(wchar_t))));
  if (wide) MultiByteToWideChar(code_page, 0, path, -1, wide.get(), units);
  return wide;
}

bool utf8_path(const wchar_t* wide, char* path, size_t size) {
  int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, path, static_cast<int>(size), nullptr, nullptr);
  if (bytes > 0) return true;
  if (size > 0) path[0] = '\0';
  return false;
}

FILE* open_file(const char* path, const char* mode) {
  WidePath wide = wide_path(path);
  WidePath wide_mode = wide_path(mode);
  if (!wide || !wide_mode) {
    errno = wide_mode ? ENOENT : ENOMEM;
    return nullptr;
  }
  return _wfopen(wide.get(), wide_mode.get());
}

namespace {

// Returns a malloc'd ANSI form of `wide`, or null when the ANSI code page
// cannot hold every character of it.
char* ansi_form(const wchar_t* wide) {
  BOOL lossy = FALSE;
  int bytes =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &lossy);
  if (bytes <= 0 || lossy) return nullptr;
  char* path = static_cast<char*>(std::malloc(bytes));
  if (path)
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, path, bytes, nullptr, nullptr);
  return path;
}

}  // namespace

char* narrow_call_path(const char* path) {
  WidePath wide = wide_path(path);
  if (!wide) return nullptr;
  char* narrow = ansi_form(wide.get());
  if (narrow) return narrow;
  DWORD units = GetShortPathNameW(wide.get(), nullptr, 0);
  if (units == 0) return nullptr;
  WidePath short_name(static_cast<wchar_t*>(std::malloc(units * sizeof(wchar_t))));
  if (!short_name || GetShortPathNameW(wide.get(), short_name.get(), units) == 0) return nullptr;
  return ansi_form(short_name.get());
}

char** utf8_arguments(int& argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return argv;
  char** arguments = static_cast<char**>(std::calloc(count + 1, sizeof(char*)));
  int made = 0;
  for (; arguments && made < count; ++made) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[made], -1, nullptr, 0, nullptr, nullptr);
    arguments[made] = bytes > 0 ? static_cast<char*>(std::malloc(bytes)) : nullptr;
    if (!arguments[made]) break;
    WideCharToMultiByte(CP_UTF8, 0, wide[made], -1, arguments[made], bytes, nullptr, nullptr);
  }
  LocalFree(wide);
  if (arguments && made == count) {
    argc = count;
    return arguments;
  }
  // Out of memory at the start: the ANSI arguments will do.
  for (int i = 0; arguments && i < made; ++i) std::free(arguments[i]);
  std::free(arguments);
  return argv;
}
