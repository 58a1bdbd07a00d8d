// ledgerly-convert: converts an ADIF log into a CSV file from the command line.
#include <cstdio>

#include "cli/convert_command.h"

int main(int argc, char** argv) { return run_convert_command(argc, argv, stdin, stdout, stderr); }
