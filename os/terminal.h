// Whether a stream shows terminal escape sequences.
#pragma once

#include <cstdio>

// Returns true when `stream` writes to a terminal that renders ECMA-48
// sequences (on Windows, a console that accepts virtual-terminal processing,
// which this call switches on); false for files, pipes and other devices.
bool is_terminal(FILE* stream);
