// The pending-file table: each slot is claimed with an atomic exchange, filled,
// then marked ready; the handler removes only ready slots.
#include "os/pending_files.h"

#include <atomic>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr int pending_slots = 16;
constexpr size_t pending_path_bytes = 4096;

enum SlotState { slot_free, slot_filling, slot_ready };

struct PendingSlot {
  std::atomic<int> state;
  char path[pending_path_bytes];
};

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slots");

PendingSlot pending[pending_slots];

void remove_file(const char* path) {
#ifdef _WIN32
  // UTF-8, made UTF-16 without the heap: this may run in a control handler.
  wchar_t wide[4096];
  if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 4096) > 0) DeleteFileW(wide);
#else
  unlink(path);
#endif
}

}  // namespace

int add_pending_file(const char* path) {
  size_t length = std::strlen(path);
  if (length >= pending_path_bytes) return 0;
  for (int i = 0; i < pending_slots; ++i) {
    int expected = slot_free;
    if (!pending[i].state.compare_exchange_strong(expected, slot_filling)) continue;
    std::memcpy(pending[i].path, path, length + 1);
    pending[i].state.store(slot_ready);
    return i + 1;
  }
  return 0;
}

void drop_pending_file(int slot) {
  if (slot > 0 && slot <= pending_slots) pending[slot - 1].state.store(slot_free);
}

void remove_pending_files() {
  for (PendingSlot& slot : pending) {
    if (slot.state.load() == slot_ready) remove_file(slot.path);
  }
}
