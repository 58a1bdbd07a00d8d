// The conversion driver: pass 1 reads the log and discovers the columns, the
// header is written, pass 2 reads the log again and writes one row per
// record. The two passes must see the same log.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "adif/storage.h"
#include "convert/column_index.h"
#include "convert/column_order.h"
#include "convert/convert.h"
#include "convert/log_survey.h"
#include "convert/output_format.h"
#include "os/code_page.h"
#include "os/input_file.h"

namespace {

// Records between two progress reports (and stop checks) of a pass.
constexpr int records_per_report = 256;

// What one pass saw.
struct Pass {
  int records;               // ends of record with a record
  ParseStatus end;           // the status that ended it
  bool incomplete;           // something of the log is not in the output
  bool write_failed;         // the output could not be written
  OutputFault fault;         // why (its detail malloc'ed)
  int64_t log_bytes;         // size of the log, for progress reports; 0 when unknown
  bool stopped;              // the sink asked the conversion to stop
  CodePageDecoder* decoder;  // values not UTF-8 go to the writer in UTF-8 from this code page
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
  return source.kind->read(source.reader, record, message);
}

bool restart_log(LogSource& source) { return source.kind->restart(source.reader); }

bool source_out_of_memory(const LogSource& source) {
  return log_source_state(source).out_of_memory;
}

bool source_read_failed(const LogSource& source, int& error) {
  SourceState state = log_source_state(source);
  if (state.read_failed) error = state.read_error;
  return state.read_failed;
}

// Tells the sink how far pass `number` got in the log; returns false when
// the sink asks the conversion to stop.
bool report_progress(const LogSource& source, int number, MessageSink& sink, const Pass& pass) {
  if (sink.progress && pass.log_bytes > 0) {
    int64_t at = stream_position(source.input);
    at = at < 0 ? 0 : at > pass.log_bytes ? pass.log_bytes : at;
    int64_t read = (number == 2 ? pass.log_bytes : 0) + at;
    sink.progress(sink.context, static_cast<int>(read * 100 / (2 * pass.log_bytes)));
  }
  return !(sink.stop && sink.stop->load(std::memory_order_relaxed));
}

// Writes the header row; false when the output cannot take it.
bool write_header(OutputTarget& target, const ColumnList& columns, const LogSurvey* survey,
                  Pass& pass) {
  if (output_format(target.format).header(target.writer, columns, survey, pass.fault)) return true;
  pass.write_failed = true;
  return false;
}

// True when the `length` bytes at `text` are UTF-8.
bool is_utf8_text(const char* text, size_t length) {
  const auto* at = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = at + length;
  while (at != end) {
    if (next_UTF8(at, end) < 0) return false;
  }
  return true;
}

// Puts each value of `record` (a record of the block reader) that is not
// UTF-8 into UTF-8 from the code page of `decoder`, in the record's own
// memory. False when memory runs out.
bool decode_values(AdifRecord* record, CodePageDecoder* decoder) {
  for (AdifField* field = record->fields; field; field = field->next) {
    auto length = static_cast<size_t>(field->length);
    if (is_utf8_text(field->value, length)) continue;
    size_t decoded_length = 0;
    char* decoded = code_page_decode(decoder, field->value, length, &decoded_length);
    char* kept = decoded && decoded_length <= INT32_MAX
                     ? static_cast<char*>(storage_allocate(record->storage, decoded_length + 8))
                     : nullptr;
    if (kept) {
      std::memcpy(kept, decoded, decoded_length);
      std::memset(kept + decoded_length, 0, 8);
      field->value = kept;
      field->length = static_cast<int32_t>(decoded_length);
    }
    std::free(decoded);
    if (!kept) return false;
  }
  return true;
}

// The converter to UTF-8 of the log's code page, as the user named it or as
// pass 1 found it, when text that is not UTF-8 is to be shown in its real
// characters: always in a workbook (whose writer reads Windows-1252 by
// itself), in a CSV when asked for. Null otherwise, or when the system
// lacks it. Pass 2 hands the writer such values already in UTF-8.
CodePageDecoder* log_decoder(const LogSource& source, const OutputOptions& options, bool workbook) {
  if (!workbook && !options.utf8) return nullptr;
  int page = log_source_state(source).code_page;
  if (page < 0 || std::strcmp(code_pages[page].name, "utf-8") == 0) return nullptr;
  if (workbook && std::strcmp(code_pages[page].name, "windows-1252") == 0) return nullptr;
  return code_page_decoder_open(code_pages[page].name, code_pages[page].windows);
}

// Writes one record's row; false when the output failed (the pass then stops).
bool write_row(OutputTarget& target, const AdifRecord* record, const ColumnList& columns,
               MessageSink& sink, Pass& pass) {
  if (pass.decoder && !decode_values(const_cast<AdifRecord*>(record), pass.decoder)) {
    pass.write_failed = true;
    pass.fault.error = ENOMEM;
    return false;
  }
  char* message = nullptr;
  bool written =
      output_format(target.format).row(target.writer, record, columns, message, pass.fault);
  take_message(sink, 0, record, message);
  pass.write_failed = !written;
  return written;
}

// Runs one pass. Pass 1 (`columns` being collected) writes nothing; pass 2
// writes a row per record into `target`.
void run_pass(LogSource& source, int number, ColumnList& columns, const ColumnList& written,
              OutputTarget& target, LogSurvey* survey, MessageSink& sink, Pass& pass) {
  AdifRecord* record = nullptr;
  char* message = nullptr;
  int name_count = columns.index ? columns.index->held : 0;
  pass.stopped = !report_progress(source, number, sink, pass);
  while (!pass.stopped) {
    ParseStatus status = read_log(source, record, message);
    take_message(sink, number, record, message);
    if (status == ADIF_EOR && record) {
      if (number == 1) {
        collect_record_names(record, columns, name_count);
        if (survey) survey_record(*survey, record);
      } else if (!write_row(target, record, written, sink, pass)) {
        status = ADIF_EOF;
      }
      ++pass.records;
      if (pass.records % records_per_report == 0) {
        pass.stopped = !report_progress(source, number, sink, pass);
      }
    }
    if (pass.stopped) break;
    if (status == ADIF_EOR || status == ADIF_EOH) {
      free_record(record);
      record = nullptr;
      continue;
    }
    if (status == ADIF_CONTINUE) continue;
    pass.end = status;
    break;
  }
  pass.incomplete = pass.end == ADIF_TRUNCATED || log_source_state(source).stray_records > 0;
  // A pass that stopped for want of memory or on a read error did not reach
  // the end of the log: the conversion fails, and says why.
  int error = 0;
  bool stopped = pass.stopped || pass.write_failed || source_out_of_memory(source) ||
                 source_read_failed(source, error);
  if (record && pass.end == ADIF_EOF && !stopped) {
    deliver(sink, number, record, "The log ends inside a record, which was not converted");
    pass.incomplete = true;
  }
  free_record(record);
}

// Ends the output, or discards it when the conversion failed; the writer is
// gone afterwards either way.
void end_output(OutputTarget& target, ConversionResult& result) {
  if (!target.writer) return;
  const OutputFormatRow& format = output_format(target.format);
  OutputFault fault{};
  if (result.status == CONVERSION_FAILED) {
    format.discard(target.writer);
  } else if (!format.end(target.writer, fault)) {
    fail_conversion(result, FAILED_WRITING, fault.error, fault.detail);
  }
  std::free(fault.detail);
  target.writer = nullptr;
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

namespace {

// The input kinds, one row each: the reader for each LogKind.
const LogSourceKind* const source_kinds[] = {&adif_source, &adx_source, nullptr};

}  // namespace

bool open_log_source(LogSource& source, FILE* input, const LogIdentity& identity, int code_page) {
  source = LogSource{};
  source.input = input;
  source.identity = identity;
  if (std::fseek(input, static_cast<long>(identity.skip), SEEK_SET) != 0) std::clearerr(input);
  for (const LogSourceKind* const* kind = source_kinds; *kind; ++kind) {
    if ((*kind)->kind == identity.kind) source.kind = *kind;
  }
  if (!source.kind) source.kind = &adif_source;
  source.reader = source.kind->open(input, identity, code_page);
  return source.reader != nullptr;
}

SourceState log_source_state(const LogSource& source) {
  SourceState state{};
  state.code_page = -1;
  if (source.reader) source.kind->state(source.reader, state);
  return state;
}

void close_log_source(LogSource& source) {
  if (source.kind) source.kind->close(source.reader);
  source = LogSource{};
}

ConversionResult convert_log(LogSource& source, OutputTarget& target, const OutputOptions& options,
                             MessageSink& sink) {
  ConversionResult result{};
  ColumnList found{};
  ColumnList chosen{};
  LogSurvey survey{};
  bool surveying = output_format(target.format).surveys_log;
  Pass first{};
  Pass second{};
  int error = 0;
  sink.lost = false;
  FileStamp stamp{};
  if (sink.progress && stream_stamp(source.input, stamp)) {
    first.log_bytes = second.log_bytes = stamp.size;
  }
  bool ready = init_column_list(found) &&
               (!options.columns || choose_columns(options.columns, chosen)) &&
               (!surveying || init_log_survey(survey));
  if (ready) {
    run_pass(source, 1, found, found, target, surveying ? &survey : nullptr, sink, first);
    result.recovered = log_source_state(source).recovered;
    char text[120];
    for (int kind = 0; kind < 2; ++kind) {
      if (!compose_recovery_summary(result.recovered, kind, text, sizeof text)) continue;
      if (sink.log && !add_record_message(*sink.log, nullptr, text)) sink.lost = true;
    }
  }
  ColumnOrder order = options.order ? options.order : output_format(target.format).order;
  bool reorder = ready && !options.columns && order == ORDER_QSO;
  if (reorder && !column_list_failed(found) && !order_columns_for_QSO(found, chosen)) ready = false;
  const ColumnList& columns = options.columns || reorder ? chosen : found;
  CodePageDecoder* decoder =
      ready ? log_decoder(source, options, target.format == FORMAT_XLSX) : nullptr;
  second.decoder = decoder;
  if (first.stopped) {
    fail_conversion(result, FAILED_STOPPED, 0, nullptr);
  } else if (!ready || column_list_failed(found) || source_out_of_memory(source) || sink.lost ||
             survey.out_of_memory) {
    fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
  } else if (source_read_failed(source, error)) {
    fail_conversion(result, FAILED_READING, error, nullptr);
  } else if (!write_header(target, columns, surveying ? &survey : nullptr, second)) {
    fail_conversion(result, FAILED_TOO_WIDE, 0, second.fault.detail);
  } else if (!restart_log(source)) {
    fail_conversion(result, FAILED_READING, errno ? errno : EIO, nullptr);
  } else {
    run_pass(source, 2, found, columns, target, nullptr, sink, second);
    if (second.stopped) {
      fail_conversion(result, FAILED_STOPPED, 0, nullptr);
    } else if (source_out_of_memory(source) || sink.lost) {
      fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
    } else if (source_read_failed(source, error)) {
      fail_conversion(result, FAILED_READING, error, nullptr);
    } else if (second.write_failed) {
      fail_conversion(result, FAILED_WRITING, second.fault.error, second.fault.detail);
    } else if (second.records != first.records || second.end != first.end) {
      fail_conversion(result, FAILED_LOG_CHANGED, 0, nullptr);
    }
  }
  end_output(target, result);
  if (result.status != CONVERSION_FAILED) {
    result.status = second.incomplete ? CONVERSION_INCOMPLETE : CONVERSION_DONE;
  }
  result.records = second.records;
  result.end = second.end;
  result.stray_records = log_source_state(source).stray_records;
  code_page_decoder_close(decoder);
  std::free(first.fault.detail);
  std::free(second.fault.detail);
  free_column_list(found);
  free_column_list(chosen);
  free_log_survey(survey);
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
      : source{},
        sink{&log, nullptr, nullptr, false, nullptr, nullptr},
        target{FORMAT_CSV, nullptr} {
    char* error = nullptr;
    target.writer =
        csv_output_begin(OutputPlace{output, nullptr, nullptr, nullptr}, OutputOptions{}, error);
    std::free(error);
    opened = target.writer && open_log_source(source, input, LogIdentity{});
  }
  ~StreamConversion() {
    close_log_source(source);
    csv_output_discard(target.writer);
  }
};

}  // namespace

int process_ADIF_records(FILE* input, FILE* output, ColumnList& columns, bool collect_columns,
                         MessageLog& log, ParseStatus* end_status) {
  StreamConversion conversion(input, output, log);
  Pass pass{};
  pass.end = ADIF_EOF;
  if (conversion.opened) {
    run_pass(conversion.source, collect_columns ? 1 : 2, columns, columns, conversion.target,
             nullptr, conversion.sink, pass);
  }
  std::free(pass.fault.detail);
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
