#include "adif/storage.h"

#include <cstdlib>
#include <cstring>

namespace {

// First chunk of a record: enough for a typical one-line record with its
// fields, so most records cost a single allocation.
constexpr size_t first_chunk_bytes = 4096 - sizeof(AdifStorage);
constexpr size_t later_chunk_bytes = 16384 - sizeof(AdifStorage);

char* chunk_bytes(AdifStorage* chunk) { return reinterpret_cast<char*>(chunk + 1); }

// The last first-size chunk released on this thread, kept for the next
// record: a conversion drops and starts a record at every end of record, and
// the same block taken again saves a trip through the heap each time. Freed
// when the thread ends.
struct SpareChunk {
  AdifStorage* chunk;
  ~SpareChunk() { std::free(chunk); }
};
thread_local SpareChunk spare{};

AdifStorage* new_chunk(size_t capacity, AdifStorage* next) {
  AdifStorage* chunk = nullptr;
  if (capacity == first_chunk_bytes && spare.chunk) {
    chunk = spare.chunk;
    spare.chunk = nullptr;
  } else {
    chunk = static_cast<AdifStorage*>(std::malloc(sizeof(AdifStorage) + capacity));
  }
  if (chunk) {
    chunk->next = next;
    chunk->used = 0;
    chunk->capacity = capacity;
  }
  return chunk;
}

// Releases one chunk, keeping a first-size one as the spare.
void release_chunk(AdifStorage* chunk) {
  if (chunk->capacity == first_chunk_bytes && !spare.chunk) {
    spare.chunk = chunk;
  } else {
    std::free(chunk);
  }
}

}  // namespace

void* storage_allocate_chunk(AdifStorage*& storage, size_t size) {
  size_t capacity = storage ? later_chunk_bytes : first_chunk_bytes;
  if (capacity < size) capacity = size;
  AdifStorage* chunk = new_chunk(capacity, storage);
  if (!chunk) return nullptr;
  storage = chunk;
  storage->used = size;
  return chunk_bytes(storage);
}

StorageMark storage_mark(const AdifStorage* storage) {
  StorageMark mark{};
  mark.chunk = const_cast<AdifStorage*>(storage);
  mark.used = storage ? storage->used : 0;
  return mark;
}

void storage_rollback(AdifStorage*& storage, StorageMark mark) {
  while (storage && storage != mark.chunk) {
    AdifStorage* older = storage->next;
    release_chunk(storage);
    storage = older;
  }
  if (storage) storage->used = mark.used;
}

void storage_release(AdifStorage* storage) {
  while (storage) {
    AdifStorage* older = storage->next;
    release_chunk(storage);
    storage = older;
  }
}

bool joined_append(JoinedText& text, const char* bytes, size_t count) {
  size_t used = text.chunk ? text.chunk->used : 0;
  size_t needed = used + count + 1;
  if (!text.chunk || text.chunk->capacity < needed) {
    size_t capacity = text.chunk ? text.chunk->capacity * 2 : 256;
    if (capacity < needed) capacity = needed;
    auto* grown =
        static_cast<AdifStorage*>(std::realloc(text.chunk, sizeof(AdifStorage) + capacity));
    if (!grown) return false;
    grown->next = nullptr;
    grown->used = used;
    grown->capacity = capacity;
    text.chunk = grown;
  }
  char* data = chunk_bytes(text.chunk);
  std::memcpy(data + used, bytes, count);
  data[used + count] = '\0';
  text.chunk->used = used + count;
  return true;
}

char* joined_data(const JoinedText& text) { return text.chunk ? chunk_bytes(text.chunk) : nullptr; }

size_t joined_length(const JoinedText& text) { return text.chunk ? text.chunk->used : 0; }

void joined_adopt(JoinedText& text, AdifStorage*& storage) {
  AdifStorage* chunk = text.chunk;
  text.chunk = nullptr;
  if (!chunk) return;
  // The joined chunk is full: it goes below the newest chunk so that later
  // small allocations keep using the newest chunk's free space.
  chunk->used = chunk->capacity;
  if (storage) {
    chunk->next = storage->next;
    storage->next = chunk;
  } else {
    chunk->next = nullptr;
    storage = chunk;
  }
}

void joined_release(JoinedText& text) {
  std::free(text.chunk);
  text.chunk = nullptr;
}
