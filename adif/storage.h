// Memory of one record: a chain of chunks from which the reader takes the
// record, its fields, the line copies and the joined values, all released at
// once when the record is dropped.
#pragma once

#include <cstddef>

#include "adif/adif.h"

// One chunk of a record's memory; the chunk's bytes follow this header.
struct alignas(16) AdifStorage {
  AdifStorage* next;  // the chunk made before this one, or null
  size_t used;        // bytes handed out from this chunk
  size_t capacity;    // bytes that follow the header
};

// A point in a storage chain that allocations can be rolled back to.
struct StorageMark {
  AdifStorage* chunk;  // chunk that was newest when marked (null: empty chain)
  size_t used;         // its `used` at that time
};

// Adds a chunk of at least `size` bytes (a multiple of 8) to the chain at
// `storage` and returns its first `size` bytes; null when out of memory. The
// slow path of storage_allocate.
void* storage_allocate_chunk(AdifStorage*& storage, size_t size);

// Returns `size` bytes (8-byte aligned, not cleared) from the chain at
// `storage`, adding a chunk when the newest one is full; null when out of
// memory. Inline: the reader takes several pieces per field.
inline void* storage_allocate(AdifStorage*& storage, size_t size) {
  size = (size + 7) & ~static_cast<size_t>(7);
  if (storage && storage->capacity - storage->used >= size) {
    void* bytes = reinterpret_cast<char*>(storage + 1) + storage->used;
    storage->used += size;
    return bytes;
  }
  return storage_allocate_chunk(storage, size);
}

// Returns the current end of the chain, for storage_rollback.
StorageMark storage_mark(const AdifStorage* storage);

// Releases everything allocated from the chain after `mark` was taken.
void storage_rollback(AdifStorage*& storage, StorageMark mark);

// Releases every chunk of the chain. Null is allowed.
void storage_release(AdifStorage* storage);

// A growable text whose memory can later join a storage chain as a chunk of
// its own, for values that run over line ends.
struct JoinedText {
  AdifStorage* chunk;  // null until the first append
};

// Appends `count` bytes and a NUL to `text`; false when out of memory.
bool joined_append(JoinedText& text, const char* bytes, size_t count);

// Returns the text's bytes (NUL-terminated), or null when nothing was appended.
char* joined_data(const JoinedText& text);

// Returns the text's length in bytes, terminator not counted.
size_t joined_length(const JoinedText& text);

// Hands the text's memory to the chain at `storage`; `text` is empty afterwards.
void joined_adopt(JoinedText& text, AdifStorage*& storage);

// Releases the text's memory; `text` is empty afterwards.
void joined_release(JoinedText& text);
