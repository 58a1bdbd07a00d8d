// The conversion as both programs run it: each log opened in binary and made
// readable twice, told apart (ADIF, UTF-16, ADX, or not a log), checked
// against the output (never the log itself, nor, when asked, any other log),
// converted, and the output put in place only when complete, so that a
// failure never costs the user a log or the previous output.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "convert/convert.h"
#include "convert/output_format.h"
#include "os/file_path.h"
#include "os/input_file.h"
#include "os/output_file.h"

namespace {

// Bytes read to tell what the input is: room for a header whose free text
// runs long before its first tag.
constexpr size_t identify_bytes = size_t{1} << 16;

// A buffer of identify_bytes, or null when memory runs out.
std::unique_ptr<unsigned char[]> identify_buffer() {
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[identify_bytes]);
}

// Buffer of the CSV stream written to a file.
constexpr size_t output_buffer_bytes = size_t{1} << 18;

bool is_dash(const char* path) { return path[0] == '-' && path[1] == '\0'; }

struct FreeText {
  void operator()(char* text) const { std::free(text); }
};

// One log of a run.
struct RunInput {
  const char* path;       // as given; "-" for standard input
  FILE* opened;           // the log, when opened here
  FILE* spooled;          // its temporary copy, when it could not be read twice
  FILE* stream;           // what is converted: the log or its copy
  FileIdentity identity;  // which file it is
  FileStamp before;       // its size and times before the conversion
  LogIdentity kind;       // what it is and how it is encoded
};

// The streams of one run, closed however it ends.
struct RunFiles {
  std::unique_ptr<char[]> buffer;  // the CSV stream's buffer; outlives the streams
  std::unique_ptr<RunInput[]> inputs;
  std::unique_ptr<LogSource[]> sources;  // the reader of each input
  int input_count = 0;
  OutputFile output{};  // the output being written, unless standard output
  OutputFile piped{};   // a file-writing format's output for standard output or a
                        // device, until copied there
  ~RunFiles() {
    for (int i = 0; i < input_count; ++i) {
      RunInput& input = inputs[i];
      close_log_source(sources[i]);
      if (input.opened) std::fclose(input.opened);
      if (input.spooled) std::fclose(input.spooled);
    }
    output_file_discard(output);
    output_file_discard(piped);
  }
};

// Opens the log. Returns its stream, or null after `fail`.
FILE* open_log(const ConversionRequest& request, RunInput& log, FileIdentity& identity,
               ConversionResult& result) {
  FILE* input = request.standard_input;
  if (is_dash(log.path)) {
    if (input) set_binary_mode(input);
  } else {
    input = log.opened = open_file(log.path, "rb");
  }
  if (!input) {
    fail_conversion(result, FAILED_NO_INPUT, errno ? errno : EBADF, nullptr);
    return nullptr;
  }
  stream_identity(input, identity);
  return input;
}

// Tells what the log is from its first bytes, before anything else is read,
// so that an endless stream that is no log (/dev/zero) is refused at once;
// then makes it readable twice from its start: a stream that cannot be (a
// pipe, a device) is copied, those first bytes and the rest, to a temporary
// file. Returns the stream to convert, or null after `fail`.
FILE* identify(FILE* input, RunInput& log, LogIdentity& identity, ConversionResult& result) {
  bool twice = is_regular_file_at_start(input);
  std::unique_ptr<unsigned char[]> buffer = identify_buffer();
  if (!buffer) {
    fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
    return nullptr;
  }
  unsigned char* head = buffer.get();
  size_t got = std::fread(head, 1, identify_bytes, input);
  if (std::ferror(input)) {
    fail_conversion(result, FAILED_READING, errno ? errno : EIO, nullptr);
    return nullptr;
  }
  if (got == 0) {
    fail_conversion(result, FAILED_NOT_A_LOG, 0, "the log is empty");
    return nullptr;
  }
  identity = identify_log(head, got);
  if (identity.kind == LOG_OTHER) {
    fail_conversion(result, FAILED_NOT_A_LOG, 0, identity.what);
    return nullptr;
  }
  if (twice) return input;
  int error = 0;
  bool read_failed = false;
  log.spooled = spool_to_temporary_file(head, got, input, error, read_failed);
  if (!log.spooled) {
    char detail[120] = "";  // a full temporary folder says why
    if (!read_failed) {
      std::snprintf(detail, sizeof detail, "no temporary copy of the log could be made: %s",
                    system_error_text(error));
    }
    fail_conversion(result, FAILED_READING, error, detail);
  }
  return log.spooled;
}

// True when the output is the log itself: the same file by identity, however
// it is spelled, a link, or a standard stream redirected to it.
bool output_is_input(const ConversionRequest& request, const FileIdentity& input) {
  FileIdentity output{};
  bool known = is_dash(request.output_path)
                   ? request.standard_output && stream_identity(request.standard_output, output)
                   : path_identity(request.output_path, output);
  return known && same_identity(input, output);
}

// Starts the writer of the output's format at `place`; false after `fail`.
bool begin_writer(const ConversionRequest& request, const OutputPlace& place, OutputTarget& target,
                  ConversionResult& result) {
  char* detail = nullptr;
  OutputPlace at = place;
  at.log_path = request.input_path;
  target.format = request.options.format;
  target.writer = output_format(target.format).begin(at, request.options, detail);
  if (!target.writer && !detail) {
    fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
  } else if (!target.writer) {
    fail_conversion(result, FAILED_NO_OUTPUT, errno, detail);
  }
  std::free(detail);
  return target.writer != nullptr;
}

// Starts a scratch file for `format` (named with its first extension) in the
// temporary folder; false after `fail`.
bool begin_scratch(const OutputFormatRow& format, OutputFile& scratch, ConversionResult& result) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%.*s",
                static_cast<int>(std::strcspn(format.extensions, ";")), format.extensions);
  int error = 0;
  if (output_file_begin_scratch(scratch, suffix, error)) return true;
  char detail[120];
  std::snprintf(detail, sizeof detail, "no %s could be made in the temporary folder: %s",
                format.kind, system_error_text(error));
  fail_conversion(result, FAILED_NO_OUTPUT, error, detail);
  return false;
}

// Starts the output: a temporary file beside the target, or the target
// itself when it is a device or pipe (opened once, here). A format written by
// path, bound for standard output or such a target, is written to a scratch
// file in the temporary folder first. False after `fail`.
bool begin_output(const ConversionRequest& request, RunFiles& files, OutputTarget& target,
                  ConversionResult& result) {
  const OutputFormatRow& format = output_format(request.options.format);
  bool to_standard_output = is_dash(request.output_path);
  int error = 0;
  if (to_standard_output && !stream_can_write(request.standard_output)) {
    fail_conversion(result, FAILED_NO_OUTPUT, EBADF, "standard output is closed");
    return false;
  }
  if (to_standard_output && !format.writes_by_path) {
    set_binary_mode(request.standard_output);
    return begin_writer(request, OutputPlace{request.standard_output, nullptr, nullptr, nullptr},
                        target, result);
  }
  OutputFile& file = files.output;
  if (!to_standard_output && !output_file_begin(file, request.output_path, error)) {
    fail_conversion(result, FAILED_NO_OUTPUT, error, nullptr);
    return false;
  }
  if (!format.writes_by_path) {
    // Large blocks: a write call per 256 KiB rather than per 8 KiB.
    files.buffer.reset(new (std::nothrow) char[output_buffer_bytes]);
    if (files.buffer) std::setvbuf(file.stream, files.buffer.get(), _IOFBF, output_buffer_bytes);
    return begin_writer(request, OutputPlace{file.stream, nullptr, nullptr, nullptr}, target,
                        result);
  }
  bool scratch = to_standard_output || !file.temporary_path;
  if (scratch && !begin_scratch(format, files.piped, result)) return false;
  OutputFile& written = scratch ? files.piped : file;
  std::fclose(written.stream);  // the writer writes the file by its path
  written.stream = nullptr;
  // Only a format that asks for it gets the temporary folder for its scratch files.
  char folder[1024] = "";
  bool have_folder = format.uses_temp_folder && temporary_folder(folder, sizeof folder);
  // A writer of its own files (the workbook library) opens them with the
  // narrow calls.
  std::unique_ptr<char, FreeText> narrow(narrow_call_path(output_file_path(written)));
  std::unique_ptr<char, FreeText> rows(have_folder ? narrow_call_path(folder) : nullptr);
  const char* rows_folder = rows ? rows.get() : have_folder ? folder : nullptr;
  return begin_writer(
      request,
      OutputPlace{nullptr, narrow ? narrow.get() : output_file_path(written), rows_folder, nullptr},
      target, result);
}

// Copies the finished output at `path` to `output`; false after `fail`.
bool copy_to(const char* path, FILE* output, ConversionResult& result) {
  FILE* file = open_file(path, "rb");
  char block[65536];
  size_t got = 0;
  bool copied = file != nullptr;
  while (copied && (got = std::fread(block, 1, sizeof block, file)) > 0) {
    copied = std::fwrite(block, 1, got, output) == got;
  }
  if (file) std::fclose(file);
  if (copied && std::fflush(output) == 0) return true;
  fail_conversion(result, FAILED_WRITING, errno ? errno : EIO, nullptr);
  return false;
}

// Puts the output in place, or keeps the previous one when the run failed.
// A scratch file is copied to its destination and removed.
void finish_output(const ConversionRequest& request, RunFiles& files, ConversionResult& result) {
  int error = 0;
  if (result.status == CONVERSION_FAILED) return;  // RunFiles removes what was written
  if (files.piped.temporary_path) {
    FILE* destination = files.output.stream ? files.output.stream : request.standard_output;
    if (!files.output.stream) set_binary_mode(destination);
    bool copied = copy_to(output_file_path(files.piped), destination, result);
    output_file_discard(files.piped);
    if (!copied) return;
  }
  if (files.output.target_path) {
    if (!output_file_commit(files.output, error))
      fail_conversion(result, FAILED_WRITING, error, nullptr);
  } else if (std::fflush(request.standard_output) != 0 || std::ferror(request.standard_output)) {
    fail_conversion(result, FAILED_WRITING, errno ? errno : EIO, nullptr);
  }
}

// True when the existing output `path` is itself an ADIF or ADX log (a
// regular file only: a FIFO or a device is never opened to look).
bool output_is_a_log(const char* path) {
  if (is_dash(path) || !is_regular_path(path)) return false;
  std::unique_ptr<unsigned char[]> head = identify_buffer();
  FILE* file = head ? open_file(path, "rb") : nullptr;
  if (!file) return false;
  size_t got = std::fread(head.get(), 1, identify_bytes, file);
  std::fclose(file);
  return got > 0 && identify_log(head.get(), got).kind != LOG_OTHER;
}

// Opens, checks and identifies each log of the request; false after `fail`.
bool open_logs(const ConversionRequest& request, RunFiles& files, ConversionResult& result) {
  for (int i = 0; i < files.input_count; ++i) {
    RunInput& input = files.inputs[i];
    result.log = i;
    FILE* opened = open_log(request, input, input.identity, result);
    if (!opened) return false;
    // Identified first, so that a refusal names what the log is; nothing has
    // been written yet.
    input.stream = identify(opened, input, input.kind, result);
    if (!input.stream) return false;
    result.kind = input.kind.kind;
    if (output_is_input(request, input.identity)) {
      fail_conversion(result, FAILED_SAME_FILE, 0, nullptr);
      return false;
    }
    stream_stamp(input.stream, input.before);
  }
  return true;
}

// Makes a reader for each log; false after `fail`.
bool open_sources(const ConversionRequest& request, RunFiles& files, ConversionResult& result) {
  int code_page = request.options.encoding ? find_code_page(request.options.encoding) : -1;
  for (int i = 0; i < files.input_count; ++i) {
    RunInput& input = files.inputs[i];
    if (!open_log_source(files.sources[i], input.stream, input.kind, code_page)) {
      fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
      return false;
    }
    files.sources[i].name = is_dash(input.path) ? "standard input" : input.path;
  }
  return true;
}

// Checks each log after the conversion: unchanged, holding a tag, and
// holding records when the request needs them.
void check_logs(const ConversionRequest& request, RunFiles& files, ConversionResult& result) {
  for (int i = 0; i < files.input_count && result.status != CONVERSION_FAILED; ++i) {
    RunInput& input = files.inputs[i];
    // A log whose first line already stopped the conversion has shown no tag
    // either; it is reported as the truncated log it is.
    bool tagless = input.kind.kind == LOG_ADIF && log_source_state(files.sources[i]).tags == 0 &&
                   result.status == CONVERSION_DONE;
    FileStamp after{};
    stream_stamp(input.stream, after);
    result.log = i;
    result.kind = input.kind.kind;
    if (input.before.known && !same_stamp(input.before, after)) {
      fail_conversion(result, FAILED_LOG_CHANGED, 0, nullptr);
    } else if (tagless) {
      fail_conversion(result, FAILED_NOT_A_LOG, 0, "it holds no ADIF tag");
    }
  }
  if (result.status != CONVERSION_FAILED && request.needs_records && result.records == 0) {
    fail_conversion(result, FAILED_NO_RECORDS, 0, nullptr);
  }
}

}  // namespace

ConversionResult run_conversion(const ConversionRequest& given, MessageSink& sink) {
  ConversionRequest request = given;
#ifdef _WIN32
  // The file is written in binary, so that values keep their bytes; its line
  // ends stay those of a Windows text file, as they always were.
  request.options.crlf = true;
#endif
  ConversionResult result{};
  result.end = ADIF_EOF;
  RunFiles files;
  int count = request.input_paths ? request.input_count : 1;
  files.inputs.reset(new (std::nothrow) RunInput[count > 0 ? count : 1]());
  files.sources.reset(new (std::nothrow) LogSource[count > 0 ? count : 1]());
  if (!files.inputs || !files.sources) {
    fail_conversion(result, FAILED_OUT_OF_MEMORY, ENOMEM, nullptr);
    return result;
  }
  files.input_count = count;
  for (int i = 0; i < count; ++i) {
    files.inputs[i].path = request.input_paths ? request.input_paths[i] : request.input_path;
  }
  if (!open_logs(request, files, result)) return result;
  if (request.keep_logs && output_is_a_log(request.output_path)) {
    fail_conversion(result, FAILED_OUTPUT_IS_LOG, 0, nullptr);
    return result;
  }
  OutputTarget target{};
  if (!begin_output(request, files, target, result)) return result;
  if (!open_sources(request, files, result)) {
    output_format(target.format).discard(target.writer);
    return result;
  }
  result = convert_logs(files.sources.get(), count, target, request.options, sink);
  check_logs(request, files, result);
  finish_output(request, files, result);
  return result;
}
