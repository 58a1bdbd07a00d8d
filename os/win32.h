// What the Windows implementations of the operating-system helpers share.
#pragma once

#include <windows.h>

// Returns the errno value that stands for the Win32 error `code` (EIO for one
// without a counterpart), as the C library's own functions would set it.
int errno_of_win32_error(DWORD code);

// Writes `count` lowercase letters and digits to `letters` (no terminating
// NUL), different on every call and in every process: the unique part of the
// name of a new temporary file.
void fill_unique_letters(char* letters, int count);
