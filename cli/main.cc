// ledgerly-convert: converts an ADIF log into a CSV file or a workbook from
// the command line.
#include <cstdio>

#include "cli/convert_command.h"
#include "os/input_file.h"
#include "os/output_file.h"

int main(int argc, char** argv) {
  // Before any file is opened: a closed standard stream must not lend its
  // number to the output, and Ctrl-C must not leave a temporary file behind.
  reopen_closed_standard_streams();
  remove_output_files_on_signals();
  return run_convert_command(argc, argv, stdin, stdout, stderr);
}
