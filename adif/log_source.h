// The source interface through which a conversion reads a log, whatever its
// kind: read a record, start again, say what went wrong and what was
// recovered. Each input kind is one LogSourceKind, defined in its reader's
// file; the conversion picks the one for the log's LogKind.
#pragma once

#include <cstdint>
#include <cstdio>

#include "adif/adif.h"
#include "adif/adif_reader.h"

// What a reader can tell of the pass it is in, or just ended.
struct SourceState {
  bool out_of_memory;  // memory ran out: the pass did not see the whole log
  bool read_failed;    // reading the input failed (`read_error` has errno)
  int read_error;
  int64_t tags;             // ADIF tags met (a log with none is no ADIF log); 0 for ADX
  ValueReadings recovered;  // values read whole although counted otherwise
  int64_t stray_records;    // records with text outside their tags, each reported
  int code_page;            // index in code_pages of the log's code page as read, or -1
};

// One kind of input.
struct LogSourceKind {
  LogKind kind;
  // Returns a reader of `input` (at the start of the log, after any
  // byte-order mark, as `identity` says), reading text that is not UTF-8 in
  // `code_page` (an index in code_pages, or -1 to tell from the log); null
  // when memory runs out. The stream stays the caller's.
  void* (*open)(FILE* input, const LogIdentity& identity, int code_page);
  // Reads on to the next end of header or record, or a message, as read_ADIF does.
  ParseStatus (*read)(void* reader, AdifRecord*& record, char*& message);
  // Starts the log again for a second pass; false when it cannot be.
  bool (*restart)(void* reader);
  // Fills `state` with what the reader tells of its pass.
  void (*state)(const void* reader, SourceState& state);
  // Releases the reader (not the stream); null is allowed.
  void (*close)(void* reader);
};

extern const LogSourceKind adif_source;  // adif/parse_adif.cc
extern const LogSourceKind adx_source;   // adif/adx_reader.cc
