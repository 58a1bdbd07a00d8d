// What a failed conversion tells the user, for both programs: one sentence
// per failure, naming the output's format and the log's kind as they are
// (the window's string table holds the same sentences), and the command
// line's line, which adds the file concerned and the system's reason.
#include <cstdio>
#include <cstring>

#include "convert/convert.h"
#include "convert/output_format.h"
#include "os/input_file.h"

namespace {

// Which names a sentence takes, in this order: the output's format, then the
// log's kind.
enum FailureWords { WORDS_NONE, WORDS_INPUT, WORDS_OUTPUT, WORDS_BOTH };

struct FailureRow {
  ConversionFailure failure;
  const char* sentence;  // null ends the table
  FailureWords words;
};

const FailureRow failure_rows[] = {
    {FAILED_NO_INPUT, "Could not open %s input file.", WORDS_INPUT},
    {FAILED_NO_OUTPUT, "Could not open %s output file.", WORDS_OUTPUT},
    {FAILED_SAME_FILE, "Output %s file is the same as the input %s file.", WORDS_BOTH},
    {FAILED_NOT_A_LOG, "The input file is not an ADIF or ADX log.", WORDS_NONE},
    {FAILED_READING, "Could not read %s input file.", WORDS_INPUT},
    {FAILED_LOG_CHANGED, "The %s file changed while it was converted. Try again.", WORDS_INPUT},
    {FAILED_OUT_OF_MEMORY, "Not enough memory to convert the %s file.", WORDS_INPUT},
    {FAILED_WRITING, "Could not write %s output file.", WORDS_OUTPUT},
    {FAILED_TOO_WIDE, "The log has more columns than a workbook can hold (16,384).", WORDS_NONE},
    {FAILED_STOPPED, "The conversion was stopped; the previous output is kept.", WORDS_NONE},
    {FAILED_NO_RECORDS, "The log held no QSOs: nothing was written.", WORDS_NONE},
    {FAILED_OUTPUT_IS_LOG, "The output file is an ADIF or ADX log; it was kept.", WORDS_NONE},
    {FAILED_NOTHING, nullptr, WORDS_NONE},
};

}  // namespace

LogKind failed_log_kind(const ConversionResult& result, const char* input) {
  if (result.failure != FAILED_NO_INPUT || !input) return result.kind;
  size_t length = std::strlen(input);
  if (length < 4) return LOG_ADIF;
  const char* tail = input + length - 4;
  bool adx = tail[0] == '.' && (tail[1] | 0x20) == 'a' && (tail[2] | 0x20) == 'd' &&
             (tail[3] | 0x20) == 'x';
  return adx ? LOG_ADX : LOG_ADIF;
}

const char* log_kind_name(LogKind kind) { return kind == LOG_ADX ? "ADX" : "ADIF"; }

const char* output_format_name(OutputFormat format) { return output_format(format).kind; }

void compose_failure_sentence(const ConversionResult& result, OutputFormat format,
                              const char* input, char* text, size_t size) {
  const FailureRow* row = failure_rows;
  while (row->sentence && row->failure != result.failure) ++row;
  const char* kind = log_kind_name(failed_log_kind(result, input));
  const char* output = output_format_name(format);
  switch (row->sentence ? row->words : WORDS_NONE) {
    case WORDS_INPUT:
      std::snprintf(text, size, row->sentence, kind);
      break;
    case WORDS_OUTPUT:
      std::snprintf(text, size, row->sentence, output);
      break;
    case WORDS_BOTH:
      std::snprintf(text, size, row->sentence, output, kind);
      break;
    case WORDS_NONE:
      std::snprintf(text, size, "%s", row->sentence ? row->sentence : result.detail);
      break;
  }
}

void compose_failure_line(const ConversionResult& result, OutputFormat format, const char* input,
                          const char* output, char* text, size_t size) {
  char sentence[160];
  compose_failure_sentence(result, format, input, sentence, sizeof sentence);
  const char* reason = result.detail[0] ? result.detail : system_error_text(result.error);
  const char* kind = log_kind_name(result.kind);
  const char* kept = "; the output was not replaced";
  bool piped = std::strcmp(output, "-") == 0;
  switch (result.failure) {
    case FAILED_NO_INPUT:
      std::snprintf(text, size, "%s %s: %s", sentence, input, system_error_text(result.error));
      break;
    case FAILED_NO_OUTPUT:
      std::snprintf(text, size, "%s %s: %s", sentence, output, reason);
      break;
    case FAILED_SAME_FILE:
      sentence[std::strlen(sentence) - 1] = '\0';  // the file's name follows
      std::snprintf(text, size, "%s: %s", sentence, output);
      break;
    case FAILED_NOT_A_LOG:
      std::snprintf(text, size, "%s is not an ADIF or ADX log (%s); nothing was written", input,
                    result.detail);
      break;
    case FAILED_READING:
      std::snprintf(text, size, "%s %s: %s%s", sentence, input, reason, kept);
      break;
    case FAILED_LOG_CHANGED:
      std::snprintf(text, size,
                    "the %s log %s changed while it was being converted%s; "
                    "convert it again when nothing is writing to it",
                    kind, input, kept);
      break;
    case FAILED_OUT_OF_MEMORY:
      std::snprintf(text, size, "out of memory converting the %s log %s%s", kind, input, kept);
      break;
    case FAILED_WRITING:
      std::snprintf(text, size, "%s %s: %s%s", sentence, output, reason, piped ? "" : kept);
      break;
    case FAILED_OUTPUT_IS_LOG:
      std::snprintf(text, size, "%s is an ADIF or ADX log, not an output; it was left as it was",
                    output);
      break;
    case FAILED_STOPPED:
    case FAILED_NO_RECORDS:
      std::snprintf(text, size, "%s", sentence);
      break;
    case FAILED_TOO_WIDE:
    case FAILED_NOTHING:
      std::snprintf(text, size, "%s%s", result.detail[0] ? result.detail : sentence, kept);
      break;
  }
}
