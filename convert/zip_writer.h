// A small zip writer: entries deflated on a second thread as they are
// written, entries copied raw from another zip, and the central directory,
// in zip64 form when an entry or the archive passes 4 GiB.
#pragma once

#include <cstdint>
#include <cstdio>

#include "convert/deflate_thread.h"

// One zip being written; opaque.
struct ZipWriter;

// Creates (or empties) the file at `path` for a zip. Returns the writer,
// owned by the caller until zip_close or zip_abandon, or null with the errno
// in `error`.
ZipWriter* zip_create(const char* path, int& error);

// Starts a deflated entry named `name` and returns the block to write its
// bytes into (see deflate_thread.h), or null with zip_error set.
DeflateBlock* zip_begin_entry(ZipWriter* zip, const char* name);

// Hands a filled block of the open entry on; returns the next one, or null
// with zip_error set.
DeflateBlock* zip_next_block(ZipWriter* zip);

// Ends the open entry. False with zip_error set when it could not be written.
bool zip_end_entry(ZipWriter* zip);

// Copies each entry of the zip file `source` (opened for reading by the
// caller) whose name `keep` accepts, compressed as it is. False with
// zip_error set on a read or write error (EINVAL for a zip it cannot read).
bool zip_copy_entries(ZipWriter* zip, FILE* source, bool (*keep)(const char* name, void* context),
                      void* context);

// Writes the central directory and closes the file; false with the errno in
// `error` when anything was not written. Frees the writer in either case.
bool zip_close(ZipWriter* zip, int& error);

// Closes the file as it is and frees the writer. Null is allowed.
void zip_abandon(ZipWriter* zip);

// The errno of the zip's first failure, 0 while all is well.
int zip_error(const ZipWriter* zip);

// Sizes and offsets from this one on are written in zip64 form (0xffffffff,
// the most the plain form holds; the tests lower it).
extern uint64_t zip64_from;
