// The table of temporary files that a signal removes: paths kept in fixed
// slots of static memory, so that a signal handler can walk it without taking
// a lock or calling malloc. Shared by the output-file implementations.
#pragma once

// Returns 1 plus the slot now holding a copy of `path`, or 0 when every slot
// is taken or the path does not fit (the file is then not removed on a
// signal). The table keeps its own copy.
int add_pending_file(const char* path);

// Empties the slot that add_pending_file returned; 0 does nothing.
void drop_pending_file(int slot);

// Removes every file in the table. Async-signal-safe: only reads the static
// slots and calls unlink (Windows: DeleteFileA).
void remove_pending_files();
