// The platform part of spooling: a new, empty temporary file.
#pragma once

#include <cstdio>

// Returns a new empty file in the temporary folder, open for reading and
// writing in binary mode, that the system removes once it is closed (owned by
// the caller, to fclose); null with `error` (an errno value) when it cannot
// be made.
FILE* open_temporary_stream(int& error);
