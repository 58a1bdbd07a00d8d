// The conversion driver: pass 1 reads each log and discovers the columns of
// all of them, the header is written, pass 2 reads each log again and writes
// one row per record. The two passes must see the same logs.
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
#include "convert/xlsx_writer.h"
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
  bool ended_record;         // an <EOR> or <EOH> was met
  MessageLog held;           // messages about the first record, until it ends (list 2)
};

// Hands `line`, composed, to the sink: every message of both passes to the
// log, or each message once (pass 1, or `pass` 0 for the writer's own). With
// several logs it names its log first.
void deliver_line(MessageSink& sink, int pass, const char* line) {
  char* named = nullptr;
  if (sink.source) {
    size_t size = std::strlen(sink.source) + std::strlen(line) + 3;
    named = static_cast<char*>(std::malloc(size));
    if (!named) {
      sink.lost = true;
      return;
    }
    std::snprintf(named, size, "%s: %s", sink.source, line);
    line = named;
  }
  if (sink.log && !add_message(2, *sink.log, line)) sink.lost = true;
  if (sink.print && pass != 2) sink.print(sink.context, line);
  std::free(named);
}

// Hands `text`, about `record`, to the sink (see deliver_line).
void deliver(MessageSink& sink, int pass, const AdifRecord* record, const char* text) {
  char composed[80];
  deliver_line(sink, pass, compose_record_message(record, text, composed));
}

// Delivers the held messages, oldest first, and empties `pass.held`.
void release_held(MessageSink& sink, int number, Pass& pass) {
  MessageLine* oldest = nullptr;
  while (MessageLine* line = pass.held.lists[2]) {  // reversed into oldest first
    pass.held.lists[2] = line->next;
    line->next = oldest;
    oldest = line;
  }
  pass.held.lists[2] = oldest;
  for (const MessageLine* line = oldest; line; line = line->next) {
    deliver_line(sink, number, line->text);
  }
  free_message_log(pass.held);
}

// Delivers the reader's message, if any, and frees it. Until the first record
// ends, messages about it are held: a log without any <EOR> is one record,
// and is reported once rather than by a message per repeated field.
void take_message(MessageSink& sink, int pass, const AdifRecord* record, char*& message,
                  Pass* held = nullptr) {
  if (!message) return;
  char composed[80];
  if (held && !held->ended_record && record) {
    if (!add_message(2, held->held, compose_record_message(record, message, composed))) {
      sink.lost = true;
    }
  } else {
    deliver(sink, pass, record, message);
  }
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

// Returns the number of names in `columns`.
int32_t column_count(const ColumnList& columns) {
  int32_t count = 0;
  while (columns.names && columns.names[count]) ++count;
  return count;
}

// Writes the header row; false when the output cannot take it (with the
// errno value of the failure in `pass`, ENOMEM when memory ran out).
bool write_header(OutputTarget& target, const ColumnList& columns, const LogSurvey* survey,
                  Pass& pass) {
  errno = 0;
  if (output_format(target.format).header(target.writer, columns, survey, pass.fault)) return true;
  if (!pass.fault.error) pass.fault.error = errno;
  pass.write_failed = true;
  return false;
}

// Why the header could not be written: too many columns for a workbook,
// memory, or the output itself.
ConversionFailure header_failure(const OutputTarget& target, const ColumnList& columns,
                                 const Pass& pass) {
  if (target.format == FORMAT_XLSX && column_count(columns) > xlsx_max_columns) {
    return FAILED_TOO_WIDE;
  }
  return pass.fault.error == ENOMEM ? FAILED_OUT_OF_MEMORY : FAILED_WRITING;
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
  if (message) pass.incomplete = true;  // a value was cut to fit its cell
  take_message(sink, 0, record, message);
  pass.write_failed = !written;
  return written;
}

// True when `record` holds a field that only a QSO has.
bool holds_QSO(const AdifRecord* record) {
  return record->call || record->qso_date || record->time_on;
}

// Says what became of the record left pending at the end of the log.
void end_inside_record(MessageSink& sink, int number, const AdifRecord* record, Pass& pass) {
  if (pass.ended_record) {
    deliver(sink, number, record, "The log ends inside a record, which was not converted");
    pass.incomplete = true;
  } else if (holds_QSO(record)) {
    // The whole log is that record: its repeated fields are not worth a message each.
    free_message_log(pass.held);
    deliver(sink, number, nullptr, "The log has no <EOR>, so no QSO in it was converted");
    pass.incomplete = true;
  } else {
    // Header fields without an <EOH>, as an empty download has them: no QSOs.
    release_held(sink, number, pass);
  }
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
    take_message(sink, number, record, message, &pass);
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
      if (!pass.ended_record) {
        pass.ended_record = true;
        release_held(sink, number, pass);
      }
      free_record(record);
      record = nullptr;
      continue;
    }
    if (status == ADIF_CONTINUE) continue;
    pass.end = status;
    break;
  }
  pass.incomplete =
      pass.incomplete || pass.end == ADIF_TRUNCATED || log_source_state(source).stray_records > 0;
  // A pass that stopped for want of memory or on a read error did not reach
  // the end of the log: the conversion fails, and says why.
  int error = 0;
  bool stopped = pass.stopped || pass.write_failed || source_out_of_memory(source) ||
                 source_read_failed(source, error);
  if (record && pass.end == ADIF_EOF && !stopped) {
    end_inside_record(sink, number, record, pass);
  } else {
    release_held(sink, number, pass);
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

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The columns the user chose, in the order given (upper-cased like field
// names, without the blanks around them). False when memory runs out.
bool choose_columns(const char* chosen, ColumnList& columns) {
  if (!init_column_list(columns)) return false;
  char* name = static_cast<char*>(std::malloc(std::strlen(chosen) + 1));
  size_t length = 0;
  for (const char* c = chosen; name; ++c) {
    if (*c && *c != ',') {
      if (length == 0 && is_blank(*c)) continue;
      name[length++] = (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
      continue;
    }
    while (length > 0 && is_blank(name[length - 1])) --length;
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
  return convert_logs(&source, 1, target, options, sink);
}

namespace {

// The passes over each log of a conversion, and the columns they share.
struct Passes {
  Pass* first;   // pass 1 of each log (calloc'ed)
  Pass* second;  // pass 2 of each log
  int count;
  ColumnList found;   // every field name of every log
  ColumnList chosen;  // the user's columns, or the found ones in QSO order
  LogSurvey survey;   // what the summary of a format that surveys needs
  bool surveying;
  ~Passes() {
    for (int i = 0; first && second && i < count; ++i) {
      std::free(first[i].fault.detail);
      std::free(second[i].fault.detail);
    }
    std::free(first);
    std::free(second);
    free_column_list(found);
    free_column_list(chosen);
    free_log_survey(survey);
  }
};

// Makes log `i` of `count` the one that messages and a failure are about:
// messages name it when there are several logs.
void enter_log(const LogSource* sources, int i, int count, MessageSink& sink,
               ConversionResult& result) {
  result.log = i;
  result.kind = sources[i].identity.kind;
  sink.source = count > 1 ? sources[i].name : nullptr;
}

// Reads the logs once, collecting their columns; false after `fail`.
bool collect_columns(LogSource* sources, OutputTarget& target, MessageSink& sink, Passes& passes,
                     ConversionResult& result) {
  for (int i = 0; i < passes.count; ++i) {
    LogSource& source = sources[i];
    Pass& pass = passes.first[i];
    enter_log(sources, i, passes.count, sink, result);
    FileStamp stamp{};
    if (sink.progress && stream_stamp(source.input, stamp)) {
      pass.log_bytes = passes.second[i].log_bytes = stamp.size;
    }
    run_pass(source, 1, passes.found, passes.found, target,
             passes.surveying ? &passes.survey : nullptr, sink, pass);
    result.recovered = log_source_state(source).recovered;
    char text[120];
    for (int kind = 0; kind < 2; ++kind) {
      if (!compose_recovery_summary(result.recovered, kind, text, sizeof text)) continue;
      if (sink.log && !add_record_message(*sink.log, nullptr, text)) sink.lost = true;
    }
    int error = 0;
    if (pass.stopped) {
      fail_conversion(result, FAILED_STOPPED, 0, nullptr);
    } else if (column_list_failed(passes.found) || source_out_of_memory(source) || sink.lost ||
               passes.survey.out_of_memory) {
      fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
    } else if (source_read_failed(source, error)) {
      fail_conversion(result, FAILED_READING, error, nullptr);
    } else if (passes.count > 1 && pass.records == 0 && !pass.incomplete) {
      deliver(sink, 1, nullptr, "The log holds no QSOs");
    }
    if (result.status == CONVERSION_FAILED) return false;
  }
  return true;
}

// Reads the logs again, writing their rows; false after `fail`.
bool write_rows(LogSource* sources, OutputTarget& target, const ColumnList& columns,
                const OutputOptions& options, MessageSink& sink, Passes& passes,
                ConversionResult& result) {
  for (int i = 0; i < passes.count; ++i) {
    LogSource& source = sources[i];
    Pass& pass = passes.second[i];
    enter_log(sources, i, passes.count, sink, result);
    if (!restart_log(source)) {
      fail_conversion(result, FAILED_READING, errno ? errno : EIO, nullptr);
      return false;
    }
    pass.end = ADIF_EOF;
    pass.decoder = log_decoder(source, options, target.format == FORMAT_XLSX);
    run_pass(source, 2, passes.found, columns, target, nullptr, sink, pass);
    code_page_decoder_close(pass.decoder);
    result.stray_records += log_source_state(source).stray_records;
    int error = 0;
    if (pass.stopped) {
      fail_conversion(result, FAILED_STOPPED, 0, nullptr);
    } else if (source_out_of_memory(source) || sink.lost) {
      fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
    } else if (source_read_failed(source, error)) {
      fail_conversion(result, FAILED_READING, error, nullptr);
    } else if (pass.write_failed) {
      fail_conversion(result, FAILED_WRITING, pass.fault.error, pass.fault.detail);
    } else if (pass.records != passes.first[i].records || pass.end != passes.first[i].end) {
      fail_conversion(result, FAILED_LOG_CHANGED, 0, nullptr);
    }
    if (result.status == CONVERSION_FAILED) return false;
    result.records += pass.records;
    result.end = pass.end;
    if (pass.incomplete) result.status = CONVERSION_INCOMPLETE;
  }
  return true;
}

// Says of each chosen column that no record has that its column is empty.
void warn_of_empty_columns(const Passes& passes, MessageSink& sink) {
  for (int32_t i = 0; passes.chosen.names[i]; ++i) {
    const char* name = passes.chosen.names[i];
    if (column_slot(passes.found, name) >= 0) continue;
    char text[200];
    std::snprintf(text, sizeof text, "No record has a field %.120s: its column is empty", name);
    deliver(sink, 1, nullptr, text);
  }
}

}  // namespace

ConversionResult convert_logs(LogSource* sources, int count, OutputTarget& target,
                              const OutputOptions& options, MessageSink& sink) {
  ConversionResult result{};
  result.end = ADIF_EOF;
  Passes passes{};
  passes.count = count;
  passes.first = static_cast<Pass*>(std::calloc(count > 0 ? count : 1, sizeof(Pass)));
  passes.second = static_cast<Pass*>(std::calloc(count > 0 ? count : 1, sizeof(Pass)));
  passes.surveying = output_format(target.format).surveys_log;
  sink.lost = false;
  bool ready = passes.first && passes.second && init_column_list(passes.found) &&
               (!options.columns || choose_columns(options.columns, passes.chosen)) &&
               (!passes.surveying || init_log_survey(passes.survey));
  ColumnOrder order = options.order ? options.order : output_format(target.format).order;
  bool reorder = !options.columns && order == ORDER_QSO;
  const ColumnList& columns = options.columns || reorder ? passes.chosen : passes.found;
  Pass header{};
  if (!ready) {
    fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
  } else if (collect_columns(sources, target, sink, passes, result)) {
    sink.source = nullptr;
    if (options.columns) warn_of_empty_columns(passes, sink);
    if (reorder && !order_columns_for_QSO(passes.found, passes.chosen)) {
      fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
    } else if (!write_header(target, columns, passes.surveying ? &passes.survey : nullptr,
                             header)) {
      fail_conversion(result, header_failure(target, columns, header), header.fault.error,
                      header.fault.detail);
    } else {
      write_rows(sources, target, columns, options, sink, passes, result);
    }
  }
  std::free(header.fault.detail);
  end_output(target, result);
  sink.source = nullptr;
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
        sink{&log, nullptr, nullptr, false, nullptr, nullptr, nullptr},
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
