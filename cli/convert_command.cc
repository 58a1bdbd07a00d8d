#include "cli/convert_command.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "convert/convert.h"
#include "ledgerly_version.h"
#include "util/console.h"
#include "util/file_identity.h"
#include "util/terminal.h"

namespace {

const char version_text[] = "ledgerly-convert " LEDGERLY_VERSION "\n";

const char usage_text[] =
    "Usage: ledgerly-convert INPUT [OUTPUT]\n"
    "       ledgerly-convert --help | --version\n"
    "\n"
    "Converts the ADIF log INPUT into a CSV file that spreadsheets open directly.\n"
    "OUTPUT defaults to INPUT with its extension replaced by .CSV.\n"
    "INPUT - reads the log from standard input (OUTPUT then defaults to -);\n"
    "OUTPUT - writes the CSV to standard output.\n"
    "\n"
    "Exit status: 0 converted, 1 a file could not be opened, read or written\n"
    "(or OUTPUT is INPUT), 2 usage error, 3 stopped early at an over-long line.\n";

struct CloseFile {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, CloseFile>;

bool is_dash(const char* argument) { return std::strcmp(argument, "-") == 0; }

// Buffer size for the streams this command opens itself: the input is read
// twice and the CSV written once, and the C library's default (the file
// system's block size, often 4 KiB) costs a system call every few lines.
constexpr size_t stream_buffer_bytes = size_t{1} << 16;

// Gives `stream`, just opened and not yet used, a buffer of
// stream_buffer_bytes held in `buffer`, which must outlive the stream. When
// memory runs out the stream keeps the library's own buffer.
void use_large_buffer(FILE* stream, std::unique_ptr<char[]>& buffer) {
  buffer.reset(new (std::nothrow) char[stream_buffer_bytes]);
  if (buffer) std::setvbuf(stream, buffer.get(), _IOFBF, stream_buffer_bytes);
}

int report(FILE* err, int status, const char* what, const char* path, int error) {
  std::fprintf(err, "ledgerly-convert: %s %s: %s\n", what, path, std::strerror(error));
  return status;
}

// Copies `source` into a temporary file and returns it at its start: the
// conversion reads its input twice, which a pipe or a terminal cannot give.
// The copy's stream buffer is kept in `stream_buffer`.
FilePtr spool(FILE* source, std::unique_ptr<char[]>& stream_buffer) {
  FilePtr copy(std::tmpfile());
  if (!copy) return nullptr;
  use_large_buffer(copy.get(), stream_buffer);
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, source)) > 0) {
    if (std::fwrite(buffer, 1, got, copy.get()) != got) return nullptr;
  }
  if (std::ferror(source) || std::fflush(copy.get()) != 0) return nullptr;
  std::rewind(copy.get());
  return copy;
}

bool is_repositionable(FILE* stream) {
  long start = std::ftell(stream);
  return start >= 0 && std::fseek(stream, start, SEEK_SET) == 0;
}

// Prints the log as the window shows it: lists 2, 1 and 0, each oldest
// first, with an empty line after each list that has lines. On a terminal
// list 2 stands out in reverse video; a file or pipe gets the plain lines.
void print_log(FILE* err, MessageLog& log) {
  if (is_terminal(err)) {
    print_message_log_reversed(err, log);
  } else {
    print_message_log_plain(err, log);
  }
}

}  // namespace

int run_convert_command(int argc, char** argv, FILE* in, FILE* out, FILE* err) {
  const char* input_path = nullptr;
  const char* output_path = nullptr;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!options_done && argument[0] == '-' && argument[1] != '\0') {
      if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        std::fputs(usage_text, out);
        return EXIT_CONVERTED;
      }
      if (std::strcmp(argument, "--version") == 0) {
        std::fputs(version_text, out);
        return EXIT_CONVERTED;
      }
      if (std::strcmp(argument, "--") == 0) {
        options_done = true;
        continue;
      }
      std::fprintf(err, "ledgerly-convert: unknown option %s\n\n%s", argument, usage_text);
      return EXIT_USAGE;
    }
    if (!input_path) {
      input_path = argument;
    } else if (!output_path) {
      output_path = argument;
    } else {
      std::fprintf(err, "ledgerly-convert: too many arguments\n\n%s", usage_text);
      return EXIT_USAGE;
    }
  }
  if (!input_path) {
    std::fprintf(err, "ledgerly-convert: no INPUT given\n\n%s", usage_text);
    return EXIT_USAGE;
  }

  std::string derived;
  if (!output_path) {
    if (is_dash(input_path)) {
      output_path = "-";
    } else {
      derived.resize(std::strlen(input_path) + 5);
      derive_CSV_path(input_path, &derived[0], derived.size());
      derived.resize(std::strlen(derived.c_str()));
      output_path = derived.c_str();
    }
  }

  // The stream buffers are declared before the streams, so that they are
  // released only after the streams are closed.
  std::unique_ptr<char[]> input_buffer, spool_buffer, output_buffer;

  // The input is opened first and nothing is opened for writing until it
  // has, so a missing log never empties an existing CSV file.
  FilePtr input_file;
  FILE* input = in;
  if (!is_dash(input_path)) {
    input_file.reset(std::fopen(input_path, "r"));
    if (!input_file) {
      return report(err, EXIT_FAILED, "Could not open ADIF input file.", input_path, errno);
    }
    use_large_buffer(input_file.get(), input_buffer);
    input = input_file.get();
  }
  if (!is_repositionable(input)) {
    input_file = spool(input, spool_buffer);
    if (!input_file) {
      return report(err, EXIT_FAILED, "Could not read ADIF input file.", input_path, errno);
    }
    input = input_file.get();
  }

  // A folder or an unreadable device fails here, before any output exists.
  int first = std::getc(input);
  if (first == EOF && std::ferror(input)) {
    return report(err, EXIT_FAILED, "Could not read ADIF input file.", input_path, errno);
  }
  if (first != EOF) std::ungetc(first, input);

  if (!is_dash(input_path) && !is_dash(output_path) && same_file(input_path, output_path)) {
    std::fprintf(err, "ledgerly-convert: Output CSV file is the same as the input ADIF file: %s\n",
                 output_path);
    return EXIT_FAILED;
  }

  FilePtr output_file;
  FILE* output = out;
  if (!is_dash(output_path)) {
    output_file.reset(std::fopen(output_path, "w"));
    if (!output_file) {
      return report(err, EXIT_FAILED, "Could not open CSV output file.", output_path, errno);
    }
    use_large_buffer(output_file.get(), output_buffer);
    output = output_file.get();
  }

  MessageLog log{};
  ParseStatus end_status = ADIF_EOF;
  int records = convert_ADIF_file(input, output, log, &end_status);
  print_log(err, log);
  free_message_log(log);

  if (std::ferror(input)) {
    return report(err, EXIT_FAILED, "Could not read ADIF input file.", input_path, errno);
  }
  errno = 0;
  bool written = std::fflush(output) == 0 && !std::ferror(output);
  if (output_file) written = std::fclose(output_file.release()) == 0 && written;
  if (!written) {
    return report(err, EXIT_FAILED, "Could not write CSV output file.", output_path,
                  errno ? errno : EIO);
  }

  std::fprintf(err, "Converted %0d ADIF records to CSV format\n", records);
  if (end_status == ADIF_TRUNCATED) {
    std::fprintf(err,
                 "ledgerly-convert: stopped at a line longer than 8190 characters "
                 "or holding a NUL byte; "
                 "the CSV holds only the records before it\n");
    return EXIT_STOPPED;
  }
  return EXIT_CONVERTED;
}
