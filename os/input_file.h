// What a conversion needs to know of its input: which file it is, whether it
// changed while it was read, whether it can be read twice, and a temporary
// copy for a stream that cannot; plus the standard streams and error texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Which file a stream or path is: device and file number (Windows: volume
// serial number and file index). Zero-filled, it is unknown.
struct FileIdentity {
  uint64_t device;
  uint64_t number;
  bool known;
};

// Sets `id` to the identity of the file under the open `stream`; false (and
// `id` unknown) when the system cannot tell.
bool stream_identity(FILE* stream, FileIdentity& id);

// Sets `id` to the identity of the existing file `path`; false (and `id`
// unknown) when there is none.
bool path_identity(const char* path, FileIdentity& id);

// Returns true when both identities are known and the same file.
bool same_identity(const FileIdentity& a, const FileIdentity& b);

// What tells whether a file changed while it was read: its identity, size,
// time of last write and time of last change of any kind (POSIX: the ctime,
// which a rewrite changes even when it puts the modification time back;
// Windows: the change time). Zero-filled, it is unknown.
struct FileStamp {
  FileIdentity identity;
  int64_t size;      // bytes
  int64_t modified;  // in the system's own units (ns on POSIX, 100 ns on Windows)
  int64_t changed;   // the same
  bool known;
};

// Sets `stamp` to that of the file under the open `stream`; false (and
// `stamp` unknown) when the system cannot tell.
bool stream_stamp(FILE* stream, FileStamp& stamp);

// Returns the position of `stream` in bytes from the file's start, or -1 when
// the system cannot tell (64-bit on every system).
int64_t stream_position(FILE* stream);

// Returns true when both stamps are known and equal in every part.
bool same_stamp(const FileStamp& a, const FileStamp& b);

// Returns true when `stream` is a regular file positioned at its start (both
// the descriptor's offset and the stream's position are 0), so that it can be
// read twice from its start.
bool is_regular_file_at_start(FILE* stream);

// Returns true when `path` names an existing regular file (a symbolic link
// to one included), which can be opened and read without waiting, as a FIFO
// or a device could make it.
bool is_regular_path(const char* path);

// Copies the `head_size` bytes at `head` (those already read from `source`)
// and then what remains of `source` into a new temporary file in the
// temporary folder that the system removes once it is closed, and returns it
// (owned by the caller, to fclose) positioned at its start. Null when that
// fails, with `error` (an errno value) and `read_failed`: true when reading
// `source` failed, false when making or writing the copy did.
FILE* spool_to_temporary_file(const void* head, size_t head_size, FILE* source, int& error,
                              bool& read_failed);

// Copies the temporary folder's path, without a trailing separator, into
// `folder` of `size` bytes: $TMPDIR or /tmp (Windows: GetTempPathA, never a
// drive's root). False when it does not fit or there is none.
bool temporary_folder(char* folder, size_t size);

// Reopens each closed standard descriptor 0, 1 or 2 (Windows: each invalid
// standard handle) on the null device the other way round (descriptor 0 for
// writing, 1 and 2 for reading), so that no file opened later takes its
// number and receives what is meant for a standard stream, and every use of
// a stream closed at start fails (EBADF) instead of passing for a success.
void reopen_closed_standard_streams();

// Returns false when `stream` is known not to take writes: its descriptor is
// closed, or open for reading only (a standard stream closed at start, see
// reopen_closed_standard_streams). A stream of no descriptor is taken to be
// writable.
bool stream_can_write(FILE* stream);

// Switches `stream` (standard input or output) to binary mode on Windows, so
// that bytes pass unchanged; does nothing elsewhere.
void set_binary_mode(FILE* stream);

// Returns the system's text for the errno value `error` (static storage).
const char* system_error_text(int error);
