// File paths as the program holds them: UTF-8 everywhere. On Windows they
// become UTF-16 for the system's wide calls, so that a name holding any
// character opens; elsewhere they go to the system as they are.
#pragma once

#include <cstdio>
#include <memory>

// Opens the file at the UTF-8 `path` as std::fopen does with `mode`
// (Windows: _wfopen of its UTF-16 form). Null with errno set on failure.
FILE* open_file(const char* path, const char* mode);

// Returns a malloc'd copy of the UTF-8 `path` of an existing file or folder
// that a library opening files with the C runtime's narrow calls opens:
// `path` itself elsewhere; on Windows its ANSI form, or the ANSI form of its
// short name when the ANSI code page cannot hold it. Null when neither can
// (or memory runs out).
char* narrow_call_path(const char* path);

// Makes the program's arguments UTF-8 (Windows: from the UTF-16 command line,
// which holds every character of a file name; elsewhere `argv` itself).
// Returns the arguments, owned by the process, and sets `argc`.
char** utf8_arguments(int& argc, char** argv);

#ifdef _WIN32
#include <wchar.h>

struct FreeWidePath {
  void operator()(wchar_t* path) const;
};
using WidePath = std::unique_ptr<wchar_t[], FreeWidePath>;

// Returns the UTF-16 form of the UTF-8 `path` (of the ANSI code page when it
// is not UTF-8), owned by the caller; null when memory runs out.
WidePath wide_path(const char* path);

// Writes the UTF-8 form of `wide` into `path` of `size` bytes; false, with
// `path` empty, when it does not fit.
bool utf8_path(const wchar_t* wide, char* path, size_t size);
#endif
