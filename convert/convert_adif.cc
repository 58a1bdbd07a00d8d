// The conversion driver: pass 1 reads the log and discovers the columns, the
// header is written, pass 2 reads the log again and writes one row per
// record. The two passes must see the same log.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "adif/adx_reader.h"
#include "convert/column_index.h"
#include "convert/convert.h"
#include "convert/xlsx_writer.h"

namespace {

// What one pass saw.
struct Pass {
  int records;         // ends of record with a record
  ParseStatus end;     // the status that ended it
  bool incomplete;     // something of the log is not in the output
  bool write_failed;   // the output could not be written
  int write_error;     // errno value of the failed write
  char* write_detail;  // the workbook library's text of it (malloc'ed)
};

// Hands `text`, about `record`, to the sink: every message of both passes to
// the log, or each message once (pass 1, or `pass` 0 for the writer's own).
void deliver(MessageSink& sink, int pass, const AdifRecord* record, const char* text) {
  if (sink.log && !add_record_message(*sink.log, record, text)) sink.lost = true;
  if (sink.print && pass != 2) {
    char composed[80];
    sink.print(sink.context, compose_record_message(record, text, composed));
  }
}

void take_message(MessageSink& sink, int pass, const AdifRecord* record, char*& message) {
  if (!message) return;
  deliver(sink, pass, record, message);
  std::free(message);
  message = nullptr;
}

ParseStatus read_log(LogSource& source, AdifRecord*& record, char*& message) {
  if (source.adx) return adx_read(source.adx, record, message);
  return read_ADIF(source.adif, record, message);
}

bool restart_log(LogSource& source) {
  if (source.adx) return adx_restart(source.adx);
  return adif_reader_restart(source.adif, static_cast<long>(source.identity.skip));
}

bool source_out_of_memory(const LogSource& source) {
  return source.adx ? adx_out_of_memory(source.adx) : source.adif.out_of_memory;
}

bool source_read_failed(const LogSource& source, int& error) {
  if (source.adif.read_failed) {
    error = source.adif.read_error;
    return true;
  }
  if (!std::ferror(source.input)) return false;
  error = errno ? errno : EIO;
  return true;
}

// Writes the header row; false when the output cannot take it.
bool write_header(OutputTarget& target, const ColumnList& columns, const CsvStyle& style,
                  Pass& pass) {
  if (target.workbook) {
    if (xlsx_write_header(target.workbook, columns, pass.write_detail)) return true;
    pass.write_failed = true;
    return false;
  }
  write_CSV_header(target.stream, columns, style);
  return true;
}

// Writes one record's row; false when the output failed (the pass then stops).
bool write_row(OutputTarget& target, const AdifRecord* record, const ColumnList& columns,
               const CsvStyle& style, MessageSink& sink, Pass& pass) {
  if (target.workbook) {
    char* message = nullptr;
    bool written = xlsx_write_record(target.workbook, record, columns, message, pass.write_detail);
    take_message(sink, 0, record, message);
    pass.write_failed = !written;
    return written;
  }
  write_CSV_record(target.stream, record, columns, style);
  if (!std::ferror(target.stream)) return true;
  pass.write_failed = true;
  pass.write_error = errno ? errno : EIO;
  return false;
}

// Runs one pass. Pass 1 (`columns` being collected) writes nothing; pass 2
// writes a row per record into `target`.
void run_pass(LogSource& source, int number, ColumnList& columns, const ColumnList& written,
              OutputTarget& target, const CsvStyle& style, MessageSink& sink, Pass& pass) {
  AdifRecord* record = nullptr;
  char* message = nullptr;
  int name_count = columns.index ? columns.index->held : 0;
  for (;;) {
    ParseStatus status = read_log(source, record, message);
    take_message(sink, number, record, message);
    if (status == ADIF_EOR && record) {
      if (number == 1) {
        collect_record_names(record, columns, name_count);
      } else if (!write_row(target, record, written, style, sink, pass)) {
        status = ADIF_EOF;
      }
      ++pass.records;
    }
    if (status == ADIF_EOR || status == ADIF_EOH) {
      free_record(record);
      record = nullptr;
      continue;
    }
    if (status == ADIF_CONTINUE) continue;
    pass.end = status;
    break;
  }
  pass.incomplete = pass.end == ADIF_TRUNCATED;
  // A pass that stopped for want of memory or on a read error did not reach
  // the end of the log: the conversion fails, and says why.
  int error = 0;
  bool stopped =
      pass.write_failed || source_out_of_memory(source) || source_read_failed(source, error);
  if (record && pass.end == ADIF_EOF && !stopped) {
    deliver(sink, number, record, "The log ends inside a record, which was not converted");
    pass.incomplete = true;
  }
  free_record(record);
}

// The columns the user chose, in the order given (upper-cased like field
// names). False when memory runs out.
bool choose_columns(const char* chosen, ColumnList& columns) {
  if (!init_column_list(columns)) return false;
  char* name = static_cast<char*>(std::malloc(std::strlen(chosen) + 1));
  size_t length = 0;
  for (const char* c = chosen; name; ++c) {
    if (*c && *c != ',') {
      name[length++] = (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
      continue;
    }
    name[length] = '\0';
    bool added = length == 0 || add_column_name(name, columns);
    length = 0;
    if (!added || !*c) break;
  }
  bool chosen_all = name && !column_list_failed(columns);
  std::free(name);
  return chosen_all;
}

}  // namespace

void fail_conversion(ConversionResult& result, ConversionFailure failure, int error,
                     const char* detail) {
  result.status = CONVERSION_FAILED;
  result.failure = failure;
  result.error = error;
  std::snprintf(result.detail, sizeof result.detail, "%s", detail ? detail : "");
}

bool open_log_source(LogSource& source, FILE* input, const LogIdentity& identity) {
  source = LogSource{};
  source.input = input;
  source.identity = identity;
  if (std::fseek(input, static_cast<long>(identity.skip), SEEK_SET) != 0) std::clearerr(input);
  if (identity.kind == LOG_ADX) {
    const char* encoding = identity.encoding == TEXT_UTF16LE   ? "UTF-16LE"
                           : identity.encoding == TEXT_UTF16BE ? "UTF-16BE"
                                                               : nullptr;
    source.adx = adx_open(input, encoding);
    return source.adx != nullptr;
  }
  return adif_reader_open(source.adif, input, identity.encoding);
}

void close_log_source(LogSource& source) {
  adx_close(source.adx);
  adif_reader_close(source.adif);
  source = LogSource{};
}

ConversionResult convert_log(LogSource& source, OutputTarget& target, const OutputOptions& options,
                             MessageSink& sink) {
  ConversionResult result{};
  CsvStyle style{};
  style.separator = options.separator;
  style.iso_dates = options.iso_dates;
  style.bom = options.bom;
  style.crlf = options.crlf;
  ColumnList found{};
  ColumnList chosen{};
  Pass first{};
  Pass second{};
  int error = 0;
  sink.lost = false;
  bool ready =
      init_column_list(found) && (!options.columns || choose_columns(options.columns, chosen));
  if (ready) {
    run_pass(source, 1, found, found, target, style, sink, first);
    if (source.adif.recovered > 0) {
      char text[120];
      std::snprintf(text, sizeof text,
                    "%lld values had lengths counted in characters and were read whole",
                    static_cast<long long>(source.adif.recovered));
      deliver(sink, 1, nullptr, text);
    }
  }
  const ColumnList& columns = options.columns ? chosen : found;
  if (!ready || column_list_failed(found) || source_out_of_memory(source) || sink.lost) {
    fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
  } else if (source_read_failed(source, error)) {
    fail_conversion(result, FAILED_READING, error, nullptr);
  } else if (!write_header(target, columns, style, second)) {
    fail_conversion(result, FAILED_TOO_WIDE, 0, second.write_detail);
  } else if (!restart_log(source)) {
    fail_conversion(result, FAILED_READING, errno ? errno : EIO, nullptr);
  } else {
    run_pass(source, 2, found, columns, target, style, sink, second);
    if (source_out_of_memory(source) || sink.lost) {
      fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
    } else if (source_read_failed(source, error)) {
      fail_conversion(result, FAILED_READING, error, nullptr);
    } else if (second.write_failed) {
      fail_conversion(result, FAILED_WRITING, second.write_error, second.write_detail);
    } else if (second.records != first.records || second.end != first.end) {
      fail_conversion(result, FAILED_LOG_CHANGED, 0, nullptr);
    }
  }
  if (target.workbook) {
    char* detail = nullptr;
    if (result.status == CONVERSION_FAILED) {
      xlsx_discard(target.workbook);
    } else if (!xlsx_end(target.workbook, detail)) {
      fail_conversion(result, FAILED_WRITING, errno, detail);
    }
    std::free(detail);
    target.workbook = nullptr;
  }
  if (result.status != CONVERSION_FAILED) {
    result.status = second.incomplete ? CONVERSION_INCOMPLETE : CONVERSION_DONE;
  }
  result.records = second.records;
  result.end = second.end;
  std::free(first.write_detail);
  std::free(second.write_detail);
  free_column_list(found);
  free_column_list(chosen);
  return result;
}

namespace {

// The plain conversion of an ADIF stream into a CSV stream, with every
// message in `log`, as the two stream functions below run it.
struct StreamConversion {
  LogSource source;
  MessageSink sink;
  OutputTarget target;
  bool opened;
  StreamConversion(FILE* input, FILE* output, MessageLog& log)
      : source{}, sink{&log, nullptr, nullptr, false}, target{output, nullptr} {
    opened = open_log_source(source, input, LogIdentity{});
  }
  ~StreamConversion() { close_log_source(source); }
};

}  // namespace

int process_ADIF_records(FILE* input, FILE* output, ColumnList& columns, bool collect_columns,
                         MessageLog& log, ParseStatus* end_status) {
  StreamConversion conversion(input, output, log);
  CsvStyle style{};
  Pass pass{};
  pass.end = ADIF_EOF;
  if (conversion.opened) {
    run_pass(conversion.source, collect_columns ? 1 : 2, columns, columns, conversion.target, style,
             conversion.sink, pass);
  }
  std::free(pass.write_detail);
  if (end_status) *end_status = pass.end;
  return pass.records;
}

int convert_ADIF_file(FILE* input, FILE* output, MessageLog& log, ParseStatus* end_status) {
  ConversionResult result{};
  result.end = ADIF_EOF;
  {
    StreamConversion conversion(input, output, log);
    if (conversion.opened) {
      result = convert_log(conversion.source, conversion.target, OutputOptions{}, conversion.sink);
    }
  }
  std::fflush(output);
  if (end_status) *end_status = result.end;
  return result.records;
}
