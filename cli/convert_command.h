// ledgerly-convert: the command-line front end of the conversion.
#pragma once

#include <cstdio>

// Exit statuses of ledgerly-convert.
enum ConvertExit {
  EXIT_CONVERTED = 0,  // the whole log was read and converted
  EXIT_FAILED = 1,     // nothing was written: a file could not be opened, read or written,
                       // OUTPUT is INPUT, INPUT is no log, it changed meanwhile, or memory ran out
  EXIT_USAGE = 2,      // the command line was not understood
  EXIT_STOPPED = 3     // part of the log is not in the output, which holds what came before
};

// Runs the converter with `argc`/`argv` as a command line, `in`, `out` and
// `err` standing for the standard streams; returns the exit status.
int run_convert_command(int argc, char** argv, FILE* in, FILE* out, FILE* err);
