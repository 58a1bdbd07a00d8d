// CSV conversion: the two-pass driver with column discovery, the CSV record
// writer and the message log.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "adif/adif.h"
#include "adif/adif_reader.h"
#include "adif/log_source.h"

struct ColumnIndex;
struct FormatWriter;

// The CSV columns in column order: a table of name pointers ended by its first
// null slot. The table grows as names arrive, so no name is ever dropped.
struct ColumnList {
  char** names;        // slots in column order; owned copies; null after the last
  int32_t capacity;    // slots allocated, always more than the names held
  ColumnIndex* index;  // finds a name's slot in constant time while collecting
};

// One message of a conversion.
struct MessageLine {
  char* text;         // the line's own malloc'ed copy of the message
  int count;          // 0 when made; set only by the console printers
  MessageLine* next;  // the next older line of the same list, or null
};

// What a conversion tells the user: three lists, each newest line first.
// The conversion fills list 2 only; every reader shows a list oldest first.
struct MessageLog {
  MessageLine* lists[3];  // newest line of lists 0, 1 and 2, or null
};

// How a conversion ended.
enum ConversionStatus {
  CONVERSION_DONE = 0,    // the whole log is in the output
  CONVERSION_FAILED = 1,  // no output was made (see ConversionFailure); the old one is kept
  CONVERSION_INCOMPLETE =
      3  // the output holds the log up to a point; the messages say what is missing
};

// Why a conversion failed.
enum ConversionFailure {
  FAILED_NOTHING = 0,
  FAILED_NO_INPUT,       // the log could not be opened (`error`)
  FAILED_NO_OUTPUT,      // the output could not be made (`error`)
  FAILED_SAME_FILE,      // the output is the log itself
  FAILED_NOT_A_LOG,      // the input is empty, not text, or holds no ADIF tag (`detail`)
  FAILED_READING,        // reading the log failed (`error`)
  FAILED_LOG_CHANGED,    // the log changed while it was being converted
  FAILED_OUT_OF_MEMORY,  // memory ran out
  FAILED_WRITING,        // the output could not be written whole (`error`, `detail`)
  FAILED_TOO_WIDE,       // a workbook cannot hold that many columns
  FAILED_STOPPED,        // the caller asked the conversion to stop (MessageSink::stop)
  FAILED_NO_RECORDS,     // the log held no record (only when the request needs records)
  FAILED_OUTPUT_IS_LOG   // the output named is an ADIF or ADX log, kept (see keep_logs)
};

// The outcome of a conversion: what happened and, on failure, what failed and why.
struct ConversionResult {
  ConversionStatus status;
  ConversionFailure failure;
  int error;                // errno value of a failed open, read or write, or 0
  int records;              // records written
  ParseStatus end;          // status that ended the second pass
  char detail[160];         // more on a failure, for the user (may be empty)
  ValueReadings recovered;  // values read whole although their lengths were counted otherwise
  int64_t stray_records;    // records with text outside their tags (each has its message)
  int log;                  // of several logs, the one a failure concerns (from 0)
  LogKind kind;             // what that log is, when known (ADIF until identified)
};

// Writes into `text` (of `size` bytes) the line that says how many values
// were read whole although their lengths were counted in characters (`kind`
// 0) or one or two bytes off (`kind` 1), and in how many records. False,
// with nothing written, when there were none.
bool compose_recovery_summary(const ValueReadings& readings, int kind, char* text, size_t size);

// Marks `result` as failed for `failure`, with the errno value `error` and the
// text `detail` (may be null), cut to the result's buffer.
void fail_conversion(ConversionResult& result, ConversionFailure failure, int error,
                     const char* detail);

// The output formats: the rows of output_formats (output_format.h).
enum OutputFormat {
  FORMAT_CSV = 0,  // the CSV file, in the style of `csv`
  FORMAT_XLSX = 1  // an Excel workbook with typed cells
};

// The order of the columns found in a log (see column_order.h).
enum ColumnOrder {
  ORDER_DEFAULT = 0,  // the format's own
  ORDER_LOG = 1,      // as the names first appear in the log
  ORDER_QSO = 2       // the QSO's own columns first, application fields last
};

// Returns "ADIF" or "ADX", as failure texts name a log of `kind`.
const char* log_kind_name(LogKind kind);

// Returns "CSV" or "workbook", as failure texts name an output of `format`.
const char* output_format_name(OutputFormat format);

// Returns the kind of the log that the failure of `result` concerns: what it
// was found to be or, when it could not be opened, what the extension of its
// name `input` says.
LogKind failed_log_kind(const ConversionResult& result, const char* input);

// Writes into `text` (`size` bytes) the sentence that says why `result`
// failed, as the window shows it ("Could not open ADX input file."), naming
// the output's format and the kind of the log concerned (the log `input`,
// when it could not be opened, by its extension).
void compose_failure_sentence(const ConversionResult& result, OutputFormat format,
                              const char* input, char* text, size_t size);

// Writes into `text` (`size` bytes) the command line's line for the failure
// of `result`: the sentence, the file concerned (the log `input` or the
// output `output`, "-" for standard output) and the system's reason.
void compose_failure_line(const ConversionResult& result, OutputFormat format, const char* input,
                          const char* output, char* text, size_t size);

// How a conversion writes its output.
struct OutputOptions {
  OutputFormat format;
  const char* columns;   // comma-separated names choosing and ordering the columns, or null
  ColumnOrder order;     // of the columns found, when `columns` is null
  bool no_summary;       // workbook: no summary sheet
  char separator;        // CSV: ',' (also 0), ';' or '\t'
  bool iso_dates;        // CSV: real dates of every date column as 2024-01-05
  bool bom;              // CSV: a UTF-8 byte-order mark first
  bool crlf;             // CSV: lines end in CR LF (set by run_conversion on Windows)
  bool decimal_comma;    // CSV: decimals of the number fields with a comma; the separator,
                         // unless given, ';'
  const char* encoding;  // the log's code page as the user named it (see code_pages), or null
  bool utf8;             // CSV: values written in UTF-8 from `encoding`, not as the log has them
};

// Where a conversion's messages go: every message of both passes into list 2
// of `log` (the window), or, when `print` is set, each message once as it is
// found (the command line). A window converting on a thread of its own also
// hears how far the conversion got and can ask it to stop.
struct MessageSink {
  MessageLog* log;
  void (*print)(void* context, const char* text);
  void* context;
  bool lost;  // set by the conversion when memory ran out for a message of `log`
  // Called with `context` at the start of each pass and every few hundred
  // records with the share (0 to 100) of the bytes of both passes read; or null.
  void (*progress)(void* context, int percent);
  // Set by another thread to stop the conversion at its next report: it then
  // fails with FAILED_STOPPED and writes nothing. Null when it cannot be stopped.
  const std::atomic<bool>* stop;
  const char* source;  // set by the conversion of several logs: the one each message is from
};

// The log a conversion reads: the reader of its kind over one stream, which
// must be repositionable.
struct LogSource {
  FILE* input;       // the caller's; read from, rewound, never closed here
  const char* name;  // what messages call it when there are several logs (the caller's)
  LogIdentity identity;
  const LogSourceKind* kind;  // the reader's functions (see adif/log_source.h)
  void* reader;
};

// Sets `source` up to read `input` (at its start) as `identity` says, text
// that is not UTF-8 in `code_page` (an index in code_pages, or -1 to tell
// from the log). False when memory runs out.
bool open_log_source(LogSource& source, FILE* input, const LogIdentity& identity,
                     int code_page = -1);

// What the reader of `source` tells of its pass.
SourceState log_source_state(const LogSource& source);

// Releases the reader of `source` (not its stream).
void close_log_source(LogSource& source);

// Where the records go: a writer of `format`, begun by the caller (the
// format's begin), ended or discarded by the conversion.
struct OutputTarget {
  OutputFormat format;
  FormatWriter* writer;
};

// Converts the log of `source` into `target` in two passes (columns first,
// then one row per record) as `options` say, sending messages to `sink`.
// The passes must agree (same records, same end) and read the log whole;
// otherwise, or when memory runs out or a write fails, the conversion fails.
ConversionResult convert_log(LogSource& source, OutputTarget& target, const OutputOptions& options,
                             MessageSink& sink);

// Converts the `count` logs of `sources` into the one `target` as
// convert_log does one: pass 1 over every log finds the columns of all of
// them, the header is written, pass 2 writes the rows of each log in turn.
// With more than one log every message names its log (LogSource::name), and
// a failure says which log it concerns (ConversionResult::log).
ConversionResult convert_logs(LogSource* sources, int count, OutputTarget& target,
                              const OutputOptions& options, MessageSink& sink);

// What a user asks a conversion to do.
struct ConversionRequest {
  const char* input_path;  // the log, or "-" for `standard_input`, when `input_paths` is null
  const char* const* input_paths;  // or the logs to convert into one output, in order
  int input_count;                 // paths in `input_paths`
  const char* output_path;         // the output, or "-" for `standard_output`
  FILE* standard_input;            // the command line's standard streams; null in the window
  FILE* standard_output;
  OutputOptions options;
  bool needs_records;  // a log without records fails (FAILED_NO_RECORDS), keeping the output
  bool keep_logs;      // refuse an existing output that is itself an ADIF or ADX log
};

// Runs a conversion as both programs do: opens each log in binary (copying
// one to a temporary file when it cannot be read twice from its start),
// refuses an output that is one of the logs, an input that is not a log and,
// with `keep_logs`, an output that is a log, converts them into a temporary
// file beside the output and puts that in place only when the conversion did
// not fail. Messages go to `sink`.
ConversionResult run_conversion(const ConversionRequest& request, MessageSink& sink);

// Slots a new ColumnList starts with (the first null slot ends the table).
constexpr int32_t initial_column_slots = 128;

// Converts the ADIF text of `input` (which must be repositionable) into CSV on
// `output`: pass 1 finds the columns, the header is written, the input is
// rewound and pass 2 writes one line per record. Reader messages go to list 2
// of `log`. Returns the number of records written. When `end_status` is given
// it receives the status that ended pass 2 (ADIF_TRUNCATED when an over-long
// line stopped the conversion early). The streams stay open.
int convert_ADIF_file(FILE* input, FILE* output, MessageLog& log,
                      ParseStatus* end_status = nullptr);

// Runs one pass over `input` and returns its record count. With
// `collect_columns` the names of every record go into `columns` and nothing is
// written; without, one CSV line per record goes to `output`. `end_status`,
// when given, receives the status that ended the pass.
int process_ADIF_records(FILE* input, FILE* output, ColumnList& columns, bool collect_columns,
                         MessageLog& log, ParseStatus* end_status = nullptr);

// Appends the names of the field tree at `root` that `columns` lacks, in name
// order; `name_count` is the number of names held and grows with each one.
void collect_field_names(const AdifField* root, ColumnList& columns, int& name_count);

// Makes an empty column table of initial_column_slots null slots; false when
// out of memory.
bool init_column_list(ColumnList& columns);

// Releases the table and its names; the list is empty afterwards.
void free_column_list(ColumnList& columns);

// Adds `name` as the last column unless it is one already; false when memory
// runs out (the list is then incomplete, see column_list_failed).
bool add_column_name(const char* name, ColumnList& columns);

// Returns true when a name could not be added to `columns` for want of memory.
bool column_list_failed(const ColumnList& columns);

// How a CSV file is written. Zero-filled, it is the plain CSV: comma
// separated, QSO_DATE as 5-Jan-2024, no byte-order mark.
struct CsvStyle {
  char separator;      // ',' (also 0), ';' or '\t'; any other byte counts as ','
  bool iso_dates;      // every date column's real YYYYMMDD dates as 2024-01-05,
                       // its other values as text (see column_kind in cell_kind.h)
  bool bom;            // the header line starts with the UTF-8 byte-order mark
  bool crlf;           // each line ends in CR LF, as Windows text files do (values unchanged)
  bool decimal_comma;  // the decimal point of a plain decimal in a number field (see
                       // number_field_names) written as a comma
};

// Writes the header line: the column names separated by ",", then "\n".
void write_CSV_header(FILE* output, const ColumnList& columns);

// Writes the header line in `style`: the byte-order mark if asked for, the
// column names separated by the separator, then "\n".
void write_CSV_header(FILE* output, const ColumnList& columns, const CsvStyle& style);

// Writes `record` as one CSV line, one cell per column, then "\n".
void write_CSV_record(FILE* output, const AdifRecord* record, const ColumnList& columns);

// Writes `record` as one CSV line in `style`. A value holding the separator is
// quoted as one holding a comma is (a ';' alone never quotes a value of a
// comma-separated line).
void write_CSV_record(FILE* output, const AdifRecord* record, const ColumnList& columns,
                      const CsvStyle& style);

// Writes `value` as one CSV text cell: in double quotes when it holds a comma,
// apostrophe, carriage return, line feed or double quote, or when
// `always_quoted`; every double quote in it doubled.
void write_CSV_text(FILE* output, const char* value, bool always_quoted);

// Writes the ADIF date `date` (YYYYMMDD as a number) as day-month-year, such
// as 5-Jan-2024. Only for months 1 to 12 (see QSO_date_has_month); for any
// other number it writes the number as it is.
void format_QSO_date(FILE* output, int date);

// Returns true when the month digits of `date` (YYYYMMDD) are 1 to 12.
bool QSO_date_has_month(int date);

// Adds a copy of `text` as the newest line of list `list` (0, 1 or 2).
// False when memory runs out (nothing is added).
bool add_message(int list, MessageLog& log, const char* text);

// Adds a reader message to list 2 as compose_record_message gives it.
// `record` may be null. False when memory runs out.
bool add_record_message(MessageLog& log, const AdifRecord* record, const char* text);

// Returns the text of a reader message about `record` as the log shows it:
// prefixed with what the record has of its call sign, date and time ("K1ABC
// on 20240105 at 0930: ", "K1ABC: ", "QSO on 20240105: ") and cut to 79
// characters in `composed` (80 bytes), or `text` itself, whole (for texts
// with "Truncated", when `record` is null or has none of the three).
const char* compose_record_message(const AdifRecord* record, const char* text, char* composed);

// Releases every line of the three lists; the log is empty afterwards.
void free_message_log(MessageLog& log);

// Writes into `output` (of `size` bytes) the CSV path for the ADIF file
// `input`: the extension of the file name replaced by ".CSV", or ".CSV"
// appended when the file name has none ('/' and '\' end folder names).
// Returns false, leaving `output` empty, when the path does not fit.
bool derive_CSV_path(const char* input, char* output, size_t size);

// Returns true when `path` ends in .xlsx, in any case: the output is then a
// workbook unless the user says otherwise.
bool is_workbook_path(const char* path);

// Returns the extension (".ods", ".adi", ...) that ends `path`, in any case,
// when it promises a format that is not written (a log's, another
// spreadsheet's), as a static text; null for any other name.
const char* unwritten_format_extension(const char* path);

// Returns true when `extension`, a result of unwritten_format_extension, is
// that of a log (.adi, .adif, .adx).
bool is_log_extension(const char* extension);
