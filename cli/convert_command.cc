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

const char version_text[] = "ledgerly-convert " LEDGERLY_VERSION "\n";

const char usage_text[] =
    "Usage: ledgerly-convert [OPTION]... INPUT [OUTPUT]\n"
    "       ledgerly-convert --help | --version\n"
    "\n"
    "Converts the ADIF or ADX log INPUT (UTF-8, UTF-16 or a code page) into a CSV\n"
    "file or an Excel workbook. OUTPUT defaults to INPUT with its extension\n"
    "replaced by .CSV (.xlsx with --format xlsx). INPUT - reads standard input\n"
    "(OUTPUT then defaults to -); OUTPUT - writes standard output.\n"
    "\n"
    "  --format csv|xlsx   output format; xlsx when OUTPUT ends in .xlsx, else csv\n"
    "  --columns LIST      the columns to write, in this order (CALL,QSO_DATE,...);\n"
    "                      a name the log lacks gives an empty column\n"
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
    "Exit status: 0 converted; 1 a file could not be opened, read or written,\n"
    "OUTPUT is INPUT, INPUT is not a log, the log changed while it was being\n"
    "converted, or memory ran out (the previous OUTPUT is kept); 2 usage error;\n"
    "3 part of the log is not in the output (a line over 8190 characters, a NUL\n"
    "byte, malformed XML, or a log that ends inside a record): it holds the\n"
    "records before that point, and the messages say what is missing; or text\n"
    "stands outside the tags of a record (the messages show it).\n";

struct FreeText {
  void operator()(char* text) const { std::free(text); }
};

// The command line, read.
struct CommandLine {
  const char* input;
  const char* output;
  std::unique_ptr<char, FreeText> derived;  // the output path made from the input's
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
              std::strcmp(argument, "--order") == 0 || std::strcmp(argument, "--encoding") == 0)) {
    return usage_error(err, "missing value for ", argument);
  } else {
    return usage_error(err, "unknown option ", argument);
  }
  return -1;
}

// Fills in what the command line leaves to defaults; returns -1, or the exit
// status of a usage error.
int settle(CommandLine& line, FILE* err) {
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
int parse_command_line(int argc, char** argv, CommandLine& line, FILE* out, FILE* err) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!options_done && std::strcmp(argument, "--") == 0) {
      options_done = true;
    } else if (!options_done && argument[0] == '-' && argument[1] != '\0') {
      int status = read_option(argc, argv, i, line, out, err);
      if (status >= 0) return status;
    } else if (!line.input) {
      line.input = argument;
    } else if (!line.output) {
      line.output = argument;
    } else {
      return usage_error(err, "too many arguments", "");
    }
  }
  return settle(line, err);
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

// Says why the conversion failed; returns EXIT_FAILED.
int report_failure(FILE* err, const CommandLine& line, const ConversionResult& result) {
  const char* error = system_error_text(result.error);
  const char* kept = "; the output was not replaced";
  switch (result.failure) {
    case FAILED_NO_INPUT:
      std::fprintf(err, "ledgerly-convert: Could not open ADIF input file. %s: %s\n", line.input,
                   error);
      break;
    case FAILED_NO_OUTPUT:
      std::fprintf(err, "ledgerly-convert: Could not open %s output file. %s: %s\n",
                   output_kind(line), line.output, result.detail[0] ? result.detail : error);
      break;
    case FAILED_SAME_FILE:
      std::fprintf(err,
                   "ledgerly-convert: Output CSV file is the same as the input ADIF file: %s\n",
                   line.output);
      break;
    case FAILED_NOT_A_LOG:
      std::fprintf(err,
                   "ledgerly-convert: %s is not an ADIF or ADX log (%s); nothing was written\n",
                   line.input, result.detail);
      break;
    case FAILED_READING:
      std::fprintf(err, "ledgerly-convert: Could not read ADIF input file. %s: %s%s\n", line.input,
                   result.detail[0] ? result.detail : error, kept);
      break;
    case FAILED_LOG_CHANGED:
      std::fprintf(err,
                   "ledgerly-convert: the log %s changed while it was being converted%s; "
                   "convert it again when nothing is writing to it\n",
                   line.input, kept);
      break;
    case FAILED_OUT_OF_MEMORY:
      std::fprintf(err, "ledgerly-convert: out of memory%s\n", kept);
      break;
    case FAILED_WRITING:
      std::fprintf(err, "ledgerly-convert: Could not write %s output file. %s: %s%s\n",
                   output_kind(line), line.output, result.detail[0] ? result.detail : error,
                   is_dash(line.output) ? "" : kept);
      break;
    case FAILED_TOO_WIDE:
    case FAILED_STOPPED:
    case FAILED_NO_RECORDS:
    case FAILED_NOTHING:
      std::fprintf(err, "ledgerly-convert: %s%s\n", result.detail, kept);
      break;
  }
  return EXIT_FAILED;
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
               "ledgerly-convert: stopped early (see the messages above); "
               "the %s holds only the records before it\n",
               output_kind(line));
  return EXIT_STOPPED;
}

}  // namespace

int run_convert_command(int argc, char** argv, FILE* in, FILE* out, FILE* err) {
  CommandLine line{};
  int status = parse_command_line(argc, argv, line, out, err);
  if (status >= 0) return status;
  ConversionRequest request{};
  request.input_path = line.input;
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
