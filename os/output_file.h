// An output written under a temporary name in its target's own folder and put
// in place only when complete: a failed or interrupted run leaves the previous
// target as it was, and a replaced file keeps its owner, group and permission
// bits. A target that exists but is not a regular file (a device such as
// /dev/null or NUL, a pipe) cannot be replaced: it is opened once and written
// in place. Also a scratch file in the temporary folder for an output that is
// copied elsewhere once written.
#pragma once

#include <cstddef>
#include <cstdio>

struct OutputWriter;

// One output being written. Create it zero-filled; output_file_begin (or
// output_file_begin_scratch) fills it, output_file_commit or
// output_file_discard empties it again. It owns its paths and its stream.
struct OutputFile {
  // Open for binary writing (with the GNU C library through a cookie, so its
  // fileno is -1); the caller may close it itself and set it null.
  FILE* stream;
  char* target_path;     // the file to replace (malloc'd copy), null for a scratch file
  char* temporary_path;  // the file being written (malloc'd), null when written in place
  OutputWriter* writer;  // what records the first write error of `stream` (internal)
  int pending_slot;      // where a signal finds `temporary_path` to remove it, 0 for nowhere
};

// Creates a new temporary file beside `target_path` (exclusively, named
// .NAME.XXXXXX.part in the same folder, NAME cut short when it is long) and
// opens `file.stream` on it for binary writing. An existing regular target
// must be open to writing (it is opened and closed again to see, which a
// regular file does not notice); any other existing target is opened once,
// here, and written in place. A target that is a symbolic link stays one
// (POSIX): the file it names is replaced, or made when the link dangles (the
// folder it points into must then exist). False with `error` (an errno
// value: ENOENT for a missing folder, EISDIR for a folder, EACCES for a
// read-only or locked target, ELOOP for links in a loop) when it cannot be
// made; nothing is left behind then.
bool output_file_begin(OutputFile& file, const char* target_path, int& error);

// Creates a new file in the temporary folder, named ledgerly-XXXXXX followed
// by `suffix` (such as ".xlsx"), and opens `file.stream` on it as
// output_file_begin does: for an output that is copied elsewhere once
// written. It is never committed: output_file_discard, or a signal, removes
// it. False with `error` (ENAMETOOLONG when the temporary folder's path is
// too long) when it cannot be made.
bool output_file_begin_scratch(OutputFile& file, const char* suffix, int& error);

// Returns the path being written: the temporary file, or the target itself
// when it is written in place. Owned by `file`; for a library that writes a
// file by its path after the caller closed `file.stream` and set it null.
const char* output_file_path(const OutputFile& file);

// Flushes and checks the stream (if still open), syncs the data to disk,
// closes it, gives it the owner, group and permission bits of the existing
// target (or those of a new file under the umask) and renames it over the
// target, then syncs the folder. A target of another user that this one may
// not give files to keeps its permission bits but for set-user-ID and
// set-group-ID, which the new file, this user's own, does not get. On any
// failure the temporary file is removed, the target is untouched and false
// returned with the errno value of the first failure (ENOSPC for a full
// disk). `file` is empty afterwards either way.
bool output_file_commit(OutputFile& file, int& error);

// Closes the stream and removes the temporary file; the target is untouched.
// Safe on an empty `file`, so twice or after commit.
void output_file_discard(OutputFile& file);

// Installs handlers for every signal that ends the process by default and
// can be caught (INT, TERM, HUP, QUIT, PIPE, XFSZ, ALRM, USR1, USR2, VTALRM,
// PROF, the real-time signals, the faults such as SEGV; Windows: a console
// control handler) that remove the temporary file of every output not yet
// committed or discarded, then end the process as the signal would. A signal
// that was ignored or already handled when this is called is left as it
// was. Up to 16 outputs at a time are covered.
void remove_output_files_on_signals();

// Returns a malloc'd copy of `path` with its last component NAME (the bytes
// from `folder` on) replaced by .NAME.XXXXXX.part, NAME cut to its first
// temporary_name_keeps bytes (at a UTF-8 character's start) so that the name
// fits wherever the target's does; null when memory runs out. Shared by the
// implementations.
char* temporary_output_name(const char* path, size_t folder);

// Returns a malloc'd FOLDER/ledgerly-XXXXXX followed by `suffix` (with
// `separator` between), the name mkstemps-style creation fills in; null when
// memory runs out. Shared by the implementations.
char* scratch_file_name(const char* folder, char separator, const char* suffix);

// Bytes of the target's file name that a temporary name keeps at most.
constexpr size_t temporary_name_keeps = 128;
