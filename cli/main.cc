// ledgerly-convert: converts an ADIF log into a CSV file or a workbook from
// the command line.
#include <cstdio>

#include "cli/convert_command.h"
#include "os/file_path.h"
#include "os/input_file.h"
#include "os/output_file.h"

int main(int argc, char** argv) {
  // Before any file is opened: a closed standard stream must not lend its
  // number to the output, and Ctrl-C must not leave a temporary file behind.
  reopen_closed_standard_streams();
  remove_output_files_on_signals();
  // A CSV written to standard output goes out in blocks of 256 KiB, not of
  // the 4 KiB that a pipe or a file gets by default. (Without a buffer of
  // its own, setvbuf would keep the default size.)
  static char output_buffer[size_t{1} << 18];
  std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
  // File names with any character (Windows: read from the UTF-16 command line).
  char** arguments = utf8_arguments(argc, argv);
  return run_convert_command(argc, arguments, stdin, stdout, stderr);
}
