// is_terminal for Windows: a stream on a console whose output handle takes
// virtual-terminal processing, so that ECMA-48 sequences are rendered instead
// of shown as text. The NUL device is a character device too, but has no
// console mode.
#include <io.h>
#include <windows.h>

#include "os/terminal.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

bool is_terminal(FILE* stream) {
  if (!stream) return false;
  int descriptor = _fileno(stream);
  if (descriptor < 0 || !_isatty(descriptor)) return false;
  HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
