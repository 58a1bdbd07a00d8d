#include "cli/convert_command.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "convert/convert.h"
#include "convert/output_format.h"
#include "ledgerly_version.h"
#include "os/input_file.h"
#include "os/terminal.h"

namespace {

const char version_text[] = "ledgerly-convert " LEDGERLY_FULL_VERSION "\n";

const char usage_text[] =
    "Usage: ledgerly-convert [OPTION]... INPUT [OUTPUT]\n"
    "       ledgerly-convert [OPTION]... -o OUTPUT LOG...\n"
    "       ledgerly-convert --help | --version\n"
    "\n"
    "Converts the ADIF or ADX log INPUT (UTF-8, UTF-16 or a code page) into a CSV\n"
    "file or an Excel workbook. OUTPUT defaults to INPUT with its extension\n"
    "replaced by .CSV (.xlsx with --format xlsx). INPUT - reads standard input\n"
    "(OUTPUT then defaults to -); OUTPUT - writes standard output. An OUTPUT that\n"
    "is itself an ADIF or ADX log is never replaced.\n"
    "\n"
    "With -o (--output), every LOG goes into the one OUTPUT: the columns of all of\n"
    "them, then the rows of each in turn; messages name the log they are about.\n"
    "One LOG may be -, standard input.\n"
    "\n"
    "  -o, --output OUTPUT the output of every LOG given\n"
    "  --format csv|xlsx   output format; xlsx when OUTPUT ends in .xlsx, else csv\n"
    "                      (needed for an OUTPUT ending in .ods, .xls, .json, ...)\n"
    "  --columns LIST      the columns to write, in this order (CALL,QSO_DATE,...);\n"
    "                      a name that no record has gives an empty column, and a\n"
    "                      warning\n"
    "  --order log|qso     the columns found: as they first appear in the log (CSV's\n"
    "                      default), or CALL, QSO_DATE, TIME_ON... first and\n"
    "                      application fields last (the workbook's default)\n"
    "  --dates iso         CSV: dates as 2024-01-05 instead of 5-Jan-2024\n"
    "  --separator SEP     CSV: , (default), ; or tab\n"
    "  --bom               CSV: start with a UTF-8 byte-order mark\n"
    "  --decimal-comma     CSV: decimals of the number fields (FREQ, TX_PWR...) as\n"
    "                      3,573, for comma-decimal locales; separator ; unless given\n"
    "  --no-summary        workbook: leave out the sheet Summary (QSOs by band, mode\n"
    "                      and year, distinct calls, DXCC entities and countries)\n"
    "  --encoding NAME     the log's code page when it is not UTF-8: windows-1252,\n"
    "                      gbk, shift-jis, big5, euc-kr, windows-1251, iso-8859-1...\n"
    "                      (without it: UTF-8 when the text is, a double-byte code\n"
    "                      page when only its characters make the lengths fit, else\n"
    "                      Windows-1252); the workbook shows the real characters\n"
    "  --utf8              CSV: write the text in UTF-8 from the --encoding code page\n"
    "                      (without it the CSV keeps the log's bytes)\n"
    "\n"
    "Opening the output in a spreadsheet: pick xlsx. Its times keep their zeros\n"
    "(09:30), dates and frequencies are real dates and numbers, and names keep\n"
    "their accents in every locale. For a CSV, --dates iso --bom (and --decimal-comma\n"
    "where the decimal mark is a comma) come closest; the default CSV is for\n"
    "programs that expect it as it has always been.\n"
    "\n"
    "The output is written under a temporary name and replaces OUTPUT only when\n"
    "complete; a failed or interrupted run leaves the previous OUTPUT as it was.\n"
    "Standard output cannot be replaced that way: a failed run may leave part of\n"
    "a CSV there.\n"
    "\n"
    "Exit status: 0 converted (a log without QSOs gives an empty table); 1 a file\n"
    "could not be opened, read or written, OUTPUT is INPUT, INPUT is not a log,\n"
    "the log changed while it was being converted, or memory ran out (the previous\n"
    "OUTPUT is kept); 2 usage error, also an OUTPUT that is a log or whose\n"
    "extension names a format not written; 3 part of the log is not in the output\n"
    "(a line over 8190 characters, a NUL byte, malformed XML, a log that ends\n"
    "inside a record or has no <EOR>, a workbook cell cut at 32,767 characters):\n"
    "it holds the rest, and the messages say what is missing; or text stands\n"
    "outside the tags of a record (the messages show it).\n";

struct FreeMemory {
  void operator()(void* memory) const { std::free(memory); }
};

// The command line, read.
struct CommandLine {
  const char* input;                                  // the first log
  std::unique_ptr<const char*[], FreeMemory> inputs;  // every log, in order (first, every argument)
  int input_count;
  const char* output;
  bool output_named;  // given with -o, so that every other argument is a log
  std::unique_ptr<char, FreeMemory> derived;  // the output path made from the input's
  OutputOptions options;
  bool format_given;
  bool csv_option_given;
};

bool is_dash(const char* argument) { return std::strcmp(argument, "-") == 0; }

int usage_error(FILE* err, const char* what, const char* argument) {
  std::fprintf(err, "ledgerly-convert: %s%s\n\n%s", what, argument, usage_text);
  return EXIT_USAGE;
}

// Takes the value of option `name` from `--name=VALUE` or the next argument;
// null when it has none.
const char* option_value(const char* name, int argc, char** argv, int& i) {
  size_t length = std::strlen(name);
  const char* argument = argv[i];
  if (std::strncmp(argument, name, length) != 0) return nullptr;
  if (argument[length] == '=') return argument + length + 1;
  if (argument[length] != '\0' || i + 1 >= argc) return nullptr;
  return argv[++i];
}

// Returns what is wrong with the --columns list `list` (the text to show
// before it), or null: every name, blanks around it aside, must be there.
const char* column_list_fault(const char* list) {
  bool name = false;  // the current name has a character that is no blank
  for (const char* c = list;; ++c) {
    if (*c == ',' || *c == '\0') {
      if (!name) return *list ? "an empty column name in --columns " : "no column in --columns";
      if (*c == '\0') return nullptr;
      name = false;
    } else if (*c != ' ' && *c != '\t') {
      name = true;
    }
  }
}

// Reads one option at argv[i] (moving i past its value); returns -1 when it
// was understood, or the exit status to stop with.
int read_option(int argc, char** argv, int& i, CommandLine& line, FILE* out, FILE* err) {
  const char* argument = argv[i];
  const char* value = nullptr;
  if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
    std::fputs(usage_text, out);
    return EXIT_CONVERTED;
  }
  if (std::strcmp(argument, "--version") == 0) {
    std::fputs(version_text, out);
    return EXIT_CONVERTED;
  }
  if (std::strcmp(argument, "--bom") == 0) {
    line.options.bom = line.csv_option_given = true;
  } else if (std::strcmp(argument, "--decimal-comma") == 0) {
    line.options.decimal_comma = line.csv_option_given = true;
  } else if (std::strcmp(argument, "--no-summary") == 0) {
    line.options.no_summary = true;
  } else if ((value = option_value("--output", argc, argv, i)) ||
             (value = option_value("-o", argc, argv, i))) {
    if (line.output_named) return usage_error(err, "more than one OUTPUT given", "");
    line.output = value;
    line.output_named = true;
  } else if ((value = option_value("--format", argc, argv, i))) {
    if (!output_format_named(value, line.options.format)) {
      return usage_error(err, "unknown format ", value);
    }
    line.format_given = true;
  } else if (std::strcmp(argument, "--utf8") == 0) {
    line.options.utf8 = line.csv_option_given = true;
  } else if ((value = option_value("--encoding", argc, argv, i))) {
    if (find_code_page(value) < 0) return usage_error(err, "unknown encoding ", value);
    line.options.encoding = value;
  } else if ((value = option_value("--columns", argc, argv, i))) {
    const char* fault = column_list_fault(value);
    if (fault) return usage_error(err, fault, value);
    line.options.columns = value;
  } else if ((value = option_value("--order", argc, argv, i))) {
    if (std::strcmp(value, "log") != 0 && std::strcmp(value, "qso") != 0) {
      return usage_error(err, "unknown column order ", value);
    }
    line.options.order = value[0] == 'l' ? ORDER_LOG : ORDER_QSO;
  } else if ((value = option_value("--dates", argc, argv, i))) {
    if (std::strcmp(value, "iso") != 0) return usage_error(err, "unknown date form ", value);
    line.options.iso_dates = line.csv_option_given = true;
  } else if ((value = option_value("--separator", argc, argv, i))) {
    if (std::strcmp(value, "tab") == 0) value = "\t";
    if (std::strlen(value) != 1 || !std::strchr(",;\t", value[0])) {
      return usage_error(err, "unknown separator ", value);
    }
    line.options.separator = value[0];
    line.csv_option_given = true;
  } else if (std::strncmp(argument, "--", 2) == 0 && std::strchr(argument, '=') == nullptr &&
             i + 1 >= argc &&
             (std::strcmp(argument, "--format") == 0 || std::strcmp(argument, "--columns") == 0 ||
              std::strcmp(argument, "--dates") == 0 || std::strcmp(argument, "--separator") == 0 ||
              std::strcmp(argument, "--output") == 0 || std::strcmp(argument, "--order") == 0 ||
              std::strcmp(argument, "--encoding") == 0)) {
    return usage_error(err, "missing value for ", argument);
  } else if (std::strcmp(argument, "-o") == 0) {
    return usage_error(err, "missing value for ", argument);
  } else {
    return usage_error(err, "unknown option ", argument);
  }
  return -1;
}

// Checks the logs of the -o form; returns -1, or the exit status of a usage error.
int settle_logs(CommandLine& line, FILE* err) {
  if (line.input_count == 0) return usage_error(err, "no LOG given after -o OUTPUT", "");
  int dashes = 0;
  for (int i = 0; i < line.input_count; ++i) dashes += is_dash(line.inputs[i]);
  if (dashes > 1) return usage_error(err, "standard input (-) given as a LOG more than once", "");
  line.input = line.inputs[0];
  return -1;
}

// Returns true when the existing OUTPUT is the file of INPUT (or of standard
// input, for INPUT -).
bool is_the_input(const CommandLine& line, FILE* in) {
  FileIdentity input{};
  FileIdentity output{};
  bool known = is_dash(line.input) ? stream_identity(in, input) : path_identity(line.input, input);
  return known && path_identity(line.output, output) && same_identity(input, output);
}

// Refuses an OUTPUT whose extension names a format that is not written;
// returns -1, or the exit status of the usage error.
int check_output_name(const CommandLine& line, FILE* in, FILE* err) {
  const char* extension = line.output ? unwritten_format_extension(line.output) : nullptr;
  if (!extension || line.format_given) return -1;
  if (is_log_extension(extension) && !line.output_named) {
    // The output that is the log itself is refused as such by the conversion.
    if (is_the_input(line, in)) return -1;
    std::fprintf(err,
                 "ledgerly-convert: %s would be the OUTPUT, but a name ending in %s is a log's; "
                 "nothing was written.\nTo convert several logs into one output: "
                 "ledgerly-convert -o OUTPUT LOG...\n",
                 line.output, extension);
    return EXIT_USAGE;
  }
  std::fprintf(err,
               "ledgerly-convert: OUTPUT %s ends in %s, a format this program does not write; "
               "give --format csv or --format xlsx to write that anyway\n",
               line.output, extension);
  return EXIT_USAGE;
}

// Fills in what the command line leaves to defaults; returns -1, or the exit
// status of a usage error.
int settle(CommandLine& line, FILE* in, FILE* err) {
  if (line.output_named) {
    int status = settle_logs(line, err);
    if (status >= 0) return status;
  } else if (line.input_count > 2) {
    return usage_error(err, "too many arguments (several logs go into one output with -o OUTPUT)",
                       "");
  } else {
    if (line.input_count == 2) line.output = line.inputs[1];
    if (line.input_count > 0) line.input = line.inputs[0];
    line.input_count = line.input ? 1 : 0;
  }
  if (!line.input) return usage_error(err, "no INPUT given", "");
  if (!line.format_given && line.output) output_format_of_path(line.output, line.options.format);
  const OutputFormatRow& format = output_format(line.options.format);
  if (!format.takes_csv_style && line.csv_option_given) {
    return usage_error(
        err, "--dates, --separator, --bom, --decimal-comma and --utf8 are for CSV output", "");
  }
  if (line.options.utf8 && !line.options.encoding) {
    return usage_error(err, "--utf8 needs --encoding to say what the log is written in", "");
  }
  int status = check_output_name(line, in, err);
  if (status >= 0) return status;
  if (line.output) return -1;
  if (is_dash(line.input)) {
    line.output = "-";
    return -1;
  }
  size_t extension = std::strcspn(format.extensions, ";");
  size_t size = std::strlen(line.input) + extension + 5;  // room for the extension or .CSV
  line.derived.reset(static_cast<char*>(std::malloc(size)));
  if (!line.derived) {
    std::fputs("ledgerly-convert: out of memory; nothing was written\n", err);
    return EXIT_FAILED;
  }
  char* derived = line.derived.get();
  derive_CSV_path(line.input, derived, size);
  size_t length = std::strlen(derived);
  if (length >= 4) {  // the format's own extension in place of .CSV
    std::memcpy(derived + length - 4, format.extensions, extension);
    derived[length - 4 + extension] = '\0';
  }
  line.output = derived;
  return -1;
}

// Reads the command line into `line`; returns -1 to go on, or the exit
// status to stop with (after --help, --version or a usage error).
int parse_command_line(int argc, char** argv, CommandLine& line, FILE* in, FILE* out, FILE* err) {
  line.inputs.reset(static_cast<const char**>(std::malloc(sizeof(const char*) * argc)));
  if (!line.inputs) {
    std::fputs("ledgerly-convert: out of memory; nothing was written\n", err);
    return EXIT_FAILED;
  }
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!options_done && std::strcmp(argument, "--") == 0) {
      options_done = true;
    } else if (!options_done && argument[0] == '-' && argument[1] != '\0') {
      int status = read_option(argc, argv, i, line, out, err);
      if (status >= 0) return status;
    } else {
      line.inputs[line.input_count++] = argument;
    }
  }
  return settle(line, in, err);
}

// Prints one message as it is found; on a terminal it stands out in reverse video.
struct Printer {
  FILE* err;
  bool terminal;
  int printed;
};

void print_message(void* context, const char* text) {
  auto* printer = static_cast<Printer*>(context);
  if (printer->terminal) {
    std::fprintf(printer->err, "\x1b[7m%s\x1b[0m\n", text);
  } else {
    std::fprintf(printer->err, "%s\n", text);
  }
  ++printer->printed;
}

const char* output_kind(const CommandLine& line) { return output_format(line.options.format).kind; }

// Says why the conversion failed; returns the exit status.
int report_failure(FILE* err, const CommandLine& line, const ConversionResult& result) {
  const char* input =
      result.log >= 0 && result.log < line.input_count ? line.inputs[result.log] : line.input;
  char text[1024];
  compose_failure_line(result, line.options.format, input, line.output, text, sizeof text);
  std::fprintf(err, "ledgerly-convert: %s\n", text);
  if (result.failure != FAILED_OUTPUT_IS_LOG) return EXIT_FAILED;
  if (!line.output_named) {
    std::fputs("To convert several logs into one output: ledgerly-convert -o OUTPUT LOG...\n", err);
  }
  return EXIT_USAGE;
}

// Says how the conversion ended; returns the exit status.
int report(FILE* err, const CommandLine& line, const Printer& printer,
           const ConversionResult& result) {
  if (result.status == CONVERSION_FAILED) return report_failure(err, line, result);
  if (printer.printed) std::fputc('\n', err);
  char summary[120];
  for (int kind = 0; kind < 2; ++kind) {
    if (compose_recovery_summary(result.recovered, kind, summary, sizeof summary)) {
      std::fprintf(err, "%s\n", summary);
    }
  }
  if (result.records == 0 && result.status == CONVERSION_DONE) {
    std::fprintf(err, "%s; the %s is an empty table\n",
                 line.input_count > 1 ? "The logs hold no QSOs" : "The log holds no QSOs",
                 output_kind(line));
    return EXIT_CONVERTED;
  }
  std::fprintf(err, "Converted %0d ADIF records to %s\n", result.records,
               output_format(line.options.format).done_text);
  if (result.status == CONVERSION_DONE) return EXIT_CONVERTED;
  if (result.end != ADIF_TRUNCATED && result.stray_records > 0) {
    std::fprintf(err,
                 "ledgerly-convert: text outside the tags of %lld record%s is not in the %s "
                 "(see the messages above)\n",
                 static_cast<long long>(result.stray_records), result.stray_records == 1 ? "" : "s",
                 output_kind(line));
    return EXIT_STOPPED;
  }
  std::fprintf(err,
               "ledgerly-convert: part of the log is not in the %s; the messages above say what\n",
               output_kind(line));
  return EXIT_STOPPED;
}

}  // namespace

int run_convert_command(int argc, char** argv, FILE* in, FILE* out, FILE* err) {
  CommandLine line{};
  int status = parse_command_line(argc, argv, line, in, out, err);
  if (status >= 0) return status;
  ConversionRequest request{};
  request.input_path = line.input;
  request.input_paths = line.inputs.get();
  request.input_count = line.input_count;
  request.keep_logs = true;
  request.output_path = line.output;
  request.standard_input = in;
  request.standard_output = out;
  request.options = line.options;
  Printer printer{err, is_terminal(err), 0};
  MessageSink sink{};
  sink.print = print_message;
  sink.context = &printer;
  ConversionResult result = run_conversion(request, sink);
  return report(err, line, printer, result);
}
