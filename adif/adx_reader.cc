// The ADX reader: expat's callbacks turn the elements inside <HEADER> and
// inside each <RECORD> into fields of the pending record, and parsing is
// suspended at each end of the header or of a record, so that the caller
// takes every record as soon as it is complete.
#include "adif/adx_reader.h"

#include <expat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adif/adif_reader.h"
#include "adif/log_source.h"

// Expat from 2.4 on limits how far entity references may expand a document.
static_assert(XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 4),
              "expat 2.4 or later is needed");
static_assert(sizeof(XML_Char) == 1, "expat must hand out UTF-8, not wide characters");

namespace {

// Bytes read from the input per parse call.
constexpr int read_chunk_bytes = 64 * 1024;

// A growable text: a field's name or value as it is gathered.
struct Text {
  char* bytes;  // malloc'ed, not NUL-terminated; null until the first byte
  size_t length;
  size_t capacity;
};

}  // namespace

struct AdxReader {
  FILE* input;          // the caller's stream
  fpos_t start;         // where adx_open found `input`
  bool start_known;     // false when that position could not be taken
  char* encoding;       // adx_open's `encoding` (malloc'ed copy), or null
  XML_Parser parser;    // null only after a restart ran out of memory
  AdifRecord** record;  // the caller's record slot, during adx_read
  char** message;       // the caller's message slot, during adx_read
  int depth;            // elements open
  int header_depth;     // depth of the open <HEADER>, or 0
  int record_depth;     // depth of the open <RECORD>, or 0
  int field_depth;      // depth of the open field element, or 0
  Text name;            // the open field's name
  Text value;           // the open field's value so far
  ParseStatus pending;  // what adx_read returns when the parser suspends
  bool suspended;       // the parser waits for XML_ResumeParser
  bool ended;           // the end, an error or a failure was returned
  bool out_of_memory;   // memory ran out, or a value passed INT32_MAX bytes
  bool read_failed;     // the input could not be read or put back
};

namespace {

// Appends `count` bytes to `text`; false when memory runs out or the text
// would pass INT32_MAX bytes (the longest value a field holds).
bool text_append(Text& text, const char* bytes, size_t count) {
  if (count > static_cast<size_t>(INT32_MAX) - text.length) return false;
  if (count == 0) return true;
  size_t needed = text.length + count;
  if (needed > text.capacity) {
    size_t capacity = text.capacity ? text.capacity : 64;
    while (capacity < needed) capacity *= 2;
    auto* grown = static_cast<char*>(std::realloc(text.bytes, capacity));
    if (!grown) return false;
    text.bytes = grown;
    text.capacity = capacity;
  }
  std::memcpy(text.bytes + text.length, bytes, count);
  text.length = needed;
  return true;
}

// Appends the NUL-terminated `string` to `text`, as the above.
bool text_append(Text& text, const char* string) {
  return text_append(text, string, std::strlen(string));
}

// True when `name` is `upper` in any mix of ASCII case.
bool same_name(const char* name, const char* upper) {
  for (; *name && *upper; ++name, ++upper) {
    char c = *name;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != *upper) return false;
  }
  return *name == *upper;
}

// Returns the value of the attribute `name` (any case) in expat's
// name/value list, or null.
const char* attribute(const XML_Char** attributes, const char* name) {
  for (; attributes[0]; attributes += 2) {
    if (same_name(attributes[0], name)) return attributes[1];
  }
  return nullptr;
}

// Puts the field name of `element` into the reader's name: APP_<PROGRAMID>_
// <FIELDNAME> for APP, a record's USERDEF by its FIELDNAME, a header's by
// USERDEF<FIELDID>, any other element (or one lacking those attributes) by
// its own name. False when memory runs out.
bool name_field(AdxReader& reader, const char* element, const XML_Char** attributes) {
  Text& name = reader.name;
  name.length = 0;
  if (same_name(element, "APP")) {
    const char* program = attribute(attributes, "PROGRAMID");
    const char* field = attribute(attributes, "FIELDNAME");
    if (program && field) {
      return text_append(name, "APP_") && text_append(name, program) && text_append(name, "_") &&
             text_append(name, field);
    }
  } else if (same_name(element, "USERDEF")) {
    if (reader.record_depth) {
      const char* field = attribute(attributes, "FIELDNAME");
      if (field) return text_append(name, field);
    } else {
      const char* id = attribute(attributes, "FIELDID");
      if (id) return text_append(name, "USERDEF") && text_append(name, id);
    }
  }
  return text_append(name, element);
}

// Stops the parser for good after memory ran out.
void fail_for_memory(AdxReader& reader) {
  reader.out_of_memory = true;
  XML_StopParser(reader.parser, XML_FALSE);
}

// Suspends the parser so that adx_read returns `status`.
void suspend(AdxReader& reader, ParseStatus status) {
  reader.pending = status;
  XML_StopParser(reader.parser, XML_TRUE);
}

// Adds the field just closed to the caller's record; a duplicate-field
// message suspends the parser so that it reaches the caller at once.
void end_field(AdxReader& reader) {
  char*& message = *reader.message;
  bool had_message = message != nullptr;
  const char* value = reader.value.bytes ? reader.value.bytes : "";
  const char* name = reader.name.bytes ? reader.name.bytes : "";
  if (!add_field(*reader.record, name, reader.name.length, value, reader.value.length, message)) {
    fail_for_memory(reader);
  } else if (!had_message && message) {
    suspend(reader, ADIF_CONTINUE);
  }
}

// Expat's start of an element: opens the header, a record or a field.
void XMLCALL on_start(void* data, const XML_Char* element, const XML_Char** attributes) {
  AdxReader& reader = *static_cast<AdxReader*>(data);
  int depth = ++reader.depth;
  if (reader.field_depth) return;  // inside a value: only its text counts
  if (reader.header_depth || reader.record_depth) {
    reader.value.length = 0;
    if (!name_field(reader, element, attributes)) {
      fail_for_memory(reader);
      return;
    }
    reader.field_depth = depth;
  } else if (same_name(element, "HEADER")) {
    reader.header_depth = depth;
  } else if (same_name(element, "RECORD")) {
    reader.record_depth = depth;
  }
}

// Expat's end of an element: completes a field, or suspends at the end of a
// record or of the header.
void XMLCALL on_end(void* data, const XML_Char*) {
  AdxReader& reader = *static_cast<AdxReader*>(data);
  int depth = reader.depth--;
  if (depth == reader.field_depth) {
    reader.field_depth = 0;
    end_field(reader);
  } else if (depth == reader.record_depth) {
    reader.record_depth = 0;
    suspend(reader, ADIF_EOR);
  } else if (depth == reader.header_depth) {
    reader.header_depth = 0;
    suspend(reader, ADIF_EOH);
  }
}

// Expat's character data: kept when it stands inside a field.
void XMLCALL on_text(void* data, const XML_Char* text, int length) {
  AdxReader& reader = *static_cast<AdxReader*>(data);
  if (!reader.field_depth) return;  // white space between elements
  if (!text_append(reader.value, text, static_cast<size_t>(length))) fail_for_memory(reader);
}

// Windows-1252 for documents that declare it (expat knows only UTF-8,
// UTF-16, ISO-8859-1 and US-ASCII): the bytes 0x80 to 0x9F as Windows maps
// them, every other byte as the code point of the same number.
int XMLCALL on_unknown_encoding(void*, const XML_Char* name, XML_Encoding* info) {
  if (!same_name(name, "WINDOWS-1252") && !same_name(name, "CP1252")) return XML_STATUS_ERROR;
  for (int byte = 0; byte < 256; ++byte) {
    int code = byte >= 0x80 && byte < 0xA0 ? windows_1252_high[byte - 0x80] : byte;
    info->map[byte] =
        code == 0xFFFD ? byte : code;  // the five undefined bytes as Windows maps them
  }
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return XML_STATUS_OK;
}

// Returns a parser for the reader's document with the reader's callbacks, or
// null when memory runs out. No external entity is ever loaded (there is no
// handler for them), nor any external DTD.
XML_Parser make_parser(AdxReader& reader) {
  XML_Parser parser = XML_ParserCreate(reader.encoding);
  if (!parser) return nullptr;
  XML_SetUserData(parser, &reader);
  XML_SetElementHandler(parser, on_start, on_end);
  XML_SetCharacterDataHandler(parser, on_text);
  XML_SetUnknownEncodingHandler(parser, on_unknown_encoding, nullptr);
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
  return parser;
}

// True when the parser has taken its final buffer and finished with it.
bool finished(XML_Parser parser) {
  XML_ParsingStatus status;
  XML_GetParsingStatus(parser, &status);
  return status.parsing == XML_FINISHED;
}

// Ends the reading with ADIF_TRUNCATED and the message of what stopped it;
// the unfinished record is dropped.
ParseStatus stop(AdxReader& reader, AdifRecord*& record, char*& message) {
  reader.ended = true;
  free_record(record);
  record = nullptr;
  XML_Error code = reader.parser ? XML_GetErrorCode(reader.parser) : XML_ERROR_NO_MEMORY;
  if (reader.out_of_memory || code == XML_ERROR_NO_MEMORY) {
    reader.out_of_memory = true;
    set_slot_message(message, "ERROR: Out of memory");
  } else if (reader.read_failed) {
    set_slot_message(message, "ERROR: Could not read the ADX log");
  } else {
    XML_Size line = XML_GetCurrentLineNumber(reader.parser);
    const char* text = XML_ErrorString(code);
    set_slot_message(message, "ERROR: Malformed ADX log at line %d: %s",
                     line > INT_MAX ? INT_MAX : static_cast<int>(line), text ? text : "error");
  }
  if (!message) reader.out_of_memory = true;  // what stopped it cannot be told
  return ADIF_TRUNCATED;
}

}  // namespace

AdxReader* adx_open(FILE* input, const char* encoding) {
  auto* reader = static_cast<AdxReader*>(std::calloc(1, sizeof(AdxReader)));
  if (!reader) return nullptr;
  reader->input = input;
  reader->start_known = std::fgetpos(input, &reader->start) == 0;
  if (encoding) {
    size_t size = std::strlen(encoding) + 1;
    reader->encoding = static_cast<char*>(std::malloc(size));
    if (reader->encoding) std::memcpy(reader->encoding, encoding, size);
  }
  if (encoding && !reader->encoding) {
    adx_close(reader);
    return nullptr;
  }
  reader->parser = make_parser(*reader);
  if (!reader->parser) {
    adx_close(reader);
    return nullptr;
  }
  return reader;
}

ParseStatus adx_read(AdxReader* reader, AdifRecord*& record, char*& message) {
  if (reader->ended) return ADIF_EOF;
  if (!reader->parser || reader->read_failed) return stop(*reader, record, message);
  reader->record = &record;
  reader->message = &message;
  XML_Parser parser = reader->parser;
  XML_Status status = XML_STATUS_OK;
  if (reader->suspended) {
    reader->suspended = false;
    status = XML_ResumeParser(parser);
  }
  while (status == XML_STATUS_OK && !finished(parser)) {
    void* buffer = XML_GetBuffer(parser, read_chunk_bytes);
    if (!buffer) {
      status = XML_STATUS_ERROR;
      break;
    }
    size_t got = std::fread(buffer, 1, read_chunk_bytes, reader->input);
    if (std::ferror(reader->input)) {
      reader->read_failed = true;
      break;
    }
    bool final = got < static_cast<size_t>(read_chunk_bytes);
    status = XML_ParseBuffer(parser, static_cast<int>(got), final ? XML_TRUE : XML_FALSE);
  }
  reader->record = nullptr;
  reader->message = nullptr;
  if (status == XML_STATUS_SUSPENDED) {
    reader->suspended = true;
    return reader->pending;
  }
  if (status == XML_STATUS_OK && !reader->read_failed) {
    reader->ended = true;
    return ADIF_EOF;
  }
  return stop(*reader, record, message);
}

bool adx_out_of_memory(const AdxReader* reader) { return reader->out_of_memory; }

bool adx_restart(AdxReader* reader) {
  XML_ParserFree(reader->parser);
  reader->parser = nullptr;
  reader->depth = reader->header_depth = reader->record_depth = reader->field_depth = 0;
  reader->suspended = reader->ended = reader->out_of_memory = false;
  std::clearerr(reader->input);
  bool placed = reader->start_known ? std::fsetpos(reader->input, &reader->start) == 0
                                    : std::fseek(reader->input, 0, SEEK_SET) == 0;
  reader->read_failed = !placed;
  reader->parser = make_parser(*reader);
  if (!reader->parser) reader->out_of_memory = true;
  return reader->parser != nullptr;
}

void adx_close(AdxReader* reader) {
  if (!reader) return;
  XML_ParserFree(reader->parser);
  std::free(reader->name.bytes);
  std::free(reader->value.bytes);
  std::free(reader->encoding);
  std::free(reader);
}

namespace {

// True when `bytes` start with `text` written in units of `width` bytes, each
// character at `place` within its unit and zero bytes in the rest.
bool starts_with_text(const char* bytes, size_t count, const char* text, size_t width,
                      size_t place) {
  size_t length = std::strlen(text);
  if (count < length * width) return false;
  for (size_t i = 0; i < length * width; ++i) {
    char wanted = i % width == place ? text[i / width] : '\0';
    if (bytes[i] != wanted) return false;
  }
  return true;
}

}  // namespace

bool looks_like_ADX(const char* bytes, size_t count) {
  static const char* const starts[] = {"<?xml", "<ADX", nullptr};
  for (const char* const* start = starts; *start; ++start) {
    if (starts_with_text(bytes, count, *start, 1, 0) ||
        starts_with_text(bytes, count, *start, 2, 0) ||
        starts_with_text(bytes, count, *start, 2, 1)) {
      return true;
    }
  }
  return false;
}

namespace {

void* open_adx_source(FILE* input, const LogIdentity& identity, int) {
  const char* encoding = identity.encoding == TEXT_UTF16LE   ? "UTF-16LE"
                         : identity.encoding == TEXT_UTF16BE ? "UTF-16BE"
                                                             : nullptr;
  return adx_open(input, encoding);
}

ParseStatus read_adx_source(void* reader, AdifRecord*& record, char*& message) {
  return adx_read(static_cast<AdxReader*>(reader), record, message);
}

bool restart_adx_source(void* reader) { return adx_restart(static_cast<AdxReader*>(reader)); }

void adx_source_state(const void* source, SourceState& state) {
  const auto* reader = static_cast<const AdxReader*>(source);
  state = SourceState{};
  state.out_of_memory = reader->out_of_memory;
  state.read_failed = reader->read_failed || std::ferror(reader->input) != 0;
  state.read_error = state.read_failed ? (errno ? errno : EIO) : 0;
  state.code_page = -1;
}

void close_adx_source(void* reader) { adx_close(static_cast<AdxReader*>(reader)); }

}  // namespace

const LogSourceKind adx_source = {LOG_ADX,          open_adx_source,
                                  read_adx_source,  restart_adx_source,
                                  adx_source_state, close_adx_source};
