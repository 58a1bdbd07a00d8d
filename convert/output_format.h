// The output formats: each is one writer behind the same five calls (begin,
// header, row, end, discard) and one row of output_formats, which the
// conversion driver, the conversion path and both programs choose through.
#pragma once

#include "convert/convert.h"

struct LogSurvey;

// One writer's own state; each writer knows what it really is.
struct FormatWriter;

// Where a writer writes: a stream opened by the conversion path, or, for a
// format whose row asks for a file, the path of a file it writes itself.
struct OutputPlace {
  FILE* stream;             // the output stream (formats writing a stream)
  const char* path;         // the file to write (formats writing a file by path)
  const char* temp_folder;  // a folder for the writer's scratch files, or null
  const char* log_path;     // the log being converted ("-": standard input), or null
};

// Why a writer failed: an errno value and, when the writer has more to say,
// its malloc'ed text (the driver's to free).
struct OutputFault {
  int error;
  char* detail;
};

// One output format.
struct OutputFormatRow {
  const char* name;        // as --format takes it
  const char* extensions;  // ';'-separated file-name extensions that choose it, any case;
                           // the first one ends a name derived from the log's
  const char* done_text;   // "Converted N ADIF records to ..." ends with it
  const char* kind;        // what the messages call the output: "CSV", "workbook"
  bool writes_by_path;     // writes a file by its path: standard output gets a copy
  bool uses_temp_folder;   // needs the temporary folder for scratch files
  bool takes_csv_style;    // --dates, --separator, --bom apply to it
  ColumnOrder order;       // its columns' order unless the user chooses
  bool surveys_log;        // pass 1 surveys the log for its header (see log_survey.h)
  // Starts the output at `place` as `options` say. Returns the writer, the
  // caller's until end or discard; or null with a malloc'ed `error` (null
  // when memory ran out).
  FormatWriter* (*begin)(const OutputPlace& place, const OutputOptions& options, char*& error);
  // Writes the header of `columns`; `survey` is what pass 1 found (null
  // unless the row asks for it; it lives until end or discard). False with
  // `fault` when it cannot.
  bool (*header)(FormatWriter* writer, const ColumnList& columns, const LogSurvey* survey,
                 OutputFault& fault);
  // Writes `record` as the next row; a message about the record (a value cut)
  // is left in the message slot `message`. False with `fault` when it fails.
  bool (*row)(FormatWriter* writer, const AdifRecord* record, const ColumnList& columns,
              char*& message, OutputFault& fault);
  // Finishes the output and frees the writer; false with `fault` when the
  // output could not be finished whole.
  bool (*end)(FormatWriter* writer, OutputFault& fault);
  // Frees the writer without finishing the output. Null is allowed.
  void (*discard)(FormatWriter* writer);
};

// The formats, indexed by OutputFormat, ended by a row with a null name.
extern const OutputFormatRow output_formats[];

// Returns the row of `format`.
const OutputFormatRow& output_format(OutputFormat format);

// Returns true, setting `format`, when `name` names a format.
bool output_format_named(const char* name, OutputFormat& format);

// Returns true, setting `format`, when the file name of `path` ends in one of
// a format's extensions (in any case).
bool output_format_of_path(const char* path, OutputFormat& format);

// The CSV writer's calls (csv_writer.cc).
FormatWriter* csv_output_begin(const OutputPlace& place, const OutputOptions& options,
                               char*& error);
bool csv_output_header(FormatWriter* writer, const ColumnList& columns, const LogSurvey* survey,
                       OutputFault& fault);
bool csv_output_row(FormatWriter* writer, const AdifRecord* record, const ColumnList& columns,
                    char*& message, OutputFault& fault);
bool csv_output_end(FormatWriter* writer, OutputFault& fault);
void csv_output_discard(FormatWriter* writer);

// The workbook writer's calls (xlsx_writer.cc).
FormatWriter* xlsx_output_begin(const OutputPlace& place, const OutputOptions& options,
                                char*& error);
bool xlsx_output_header(FormatWriter* writer, const ColumnList& columns, const LogSurvey* survey,
                        OutputFault& fault);
bool xlsx_output_row(FormatWriter* writer, const AdifRecord* record, const ColumnList& columns,
                     char*& message, OutputFault& fault);
bool xlsx_output_end(FormatWriter* writer, OutputFault& fault);
void xlsx_output_discard(FormatWriter* writer);
