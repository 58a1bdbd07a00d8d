// is_terminal for POSIX systems: a stream on a terminal device.
#include <unistd.h>

#include "os/terminal.h"

bool is_terminal(FILE* stream) { return stream && isatty(fileno(stream)) != 0; }
