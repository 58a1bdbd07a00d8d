// File paths on POSIX systems: bytes, handed to the system as they are.
#include <cstring>

#include "os/file_path.h"

FILE* open_file(const char* path, const char* mode) { return std::fopen(path, mode); }

char* narrow_call_path(const char* path) { return strdup(path); }

char** utf8_arguments(int&, char** argv) { return argv; }
