// ADX reading: logs in the XML form of ADIF, streamed through expat into the
// same records as the line reader makes.
//
// Inside <HEADER> and inside each <RECORD>, every element is a field named
// by its element name (upper-cased); <APP PROGRAMID="P" FIELDNAME="F"> is the
// field APP_P_F, a record's <USERDEF FIELDNAME="F"> the field F and a
// header's <USERDEF FIELDID="n"> the field USERDEFn. A field's value is its
// character data in UTF-8. One record is held at a time.
#pragma once

#include <cstddef>
#include <cstdio>

#include "adif/adif.h"

struct AdxReader;

// Returns a reader of the ADX document that starts at the current position
// of `input` (which stays the caller's), or null when memory runs out.
// `encoding` names the document's encoding when the caller found it by
// sniffing ("UTF-16LE", "UTF-16BE"; it overrides any encoding= of the
// declaration), or is null to let the document say.
AdxReader* adx_open(FILE* input, const char* encoding);

// Reads on to the next end of the header (ADIF_EOH) or of a record (ADIF_EOR),
// with that header's or record's fields in `record` (made through add_field;
// null when it had none), or to the end of the document (ADIF_EOF). A field
// whose name the record already holds puts the duplicate-field message into
// `message` and returns ADIF_CONTINUE at once, the record still pending, so
// that each such message comes out on its own. Malformed XML or a read error
// gives ADIF_TRUNCATED with "ERROR: Malformed ADX log at line %d: %s" or
// "ERROR: Could not read the ADX log" in `message` (a malloc'ed text owned by
// the caller, who passes it in null), and running out of memory gives
// ADIF_TRUNCATED with "ERROR: Out of memory" (see adx_out_of_memory); the
// unfinished record is then freed and `record` set to null. Every call after
// the end returns ADIF_EOF.
ParseStatus adx_read(AdxReader* reader, AdifRecord*& record, char*& message);

// Returns true when the reader stopped because memory ran out (or a value
// grew past INT32_MAX bytes), rather than at malformed or unreadable input.
bool adx_out_of_memory(const AdxReader* reader);

// Puts `input` back at the position where adx_open found it and starts the
// document again, for a second pass. Returns false when memory runs out; the
// reader then returns ADIF_TRUNCATED (out of memory) on its next read. A
// position that cannot be restored shows as a read error on the next read.
bool adx_restart(AdxReader* reader);

// Releases the reader; the stream stays open. Null is allowed.
void adx_close(AdxReader* reader);

// Returns true when `bytes` (the first `count` bytes of a file, after any
// byte-order mark) start with `<?xml` or `<ADX`, as single bytes or as
// UTF-16LE or UTF-16BE text.
bool looks_like_ADX(const char* bytes, size_t count);
