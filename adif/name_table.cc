// The table of the names met in a log: numbered in the order met, and
// stamped with the record that last had them.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "adif/adif_reader.h"
#include "adif/storage.h"

namespace {

std::atomic<uint64_t> last_serial{0};

}  // namespace

void name_table_open(NameTable& names) {
  names = NameTable{};
  names.serial = ++last_serial;
}

void name_table_next_record(NameTable& names) {
  if (++names.stamp != 0) return;
  // Wrapped: a name last met four billion records ago would count as met.
  for (size_t at = 0; at < names.size; ++at) names.buckets[at].stamp = 0;
  names.stamp = 1;
}

bool name_table_grow(NameTable& names) {
  size_t size = names.size ? names.size * 2 : 256;
  auto* buckets = static_cast<NameEntry*>(std::calloc(size, sizeof(NameEntry)));
  if (!buckets) return false;
  for (size_t old = 0; old < names.size; ++old) {
    const NameEntry& entry = names.buckets[old];
    if (!entry.name) continue;
    size_t at = entry.hash & (size - 1);
    while (buckets[at].name) at = (at + 1) & (size - 1);
    buckets[at] = entry;
  }
  std::free(names.buckets);
  names.buckets = buckets;
  names.size = size;
  return true;
}

bool name_table_insert(NameTable& names, size_t at, AdifField* field) {
  auto length = static_cast<size_t>(field->name_length);
  size_t padded = (length + 8) & ~size_t{7};
  auto* copy = static_cast<char*>(storage_allocate(names.texts, padded));
  if (!copy) return false;
  std::memset(copy + padded - 8, 0, 8);
  std::memcpy(copy, field->name, length);
  names.buckets[at] = NameEntry{copy, field->name_hash, field->name_length,
                                static_cast<int32_t>(++names.count), names.stamp};
  field->name_id = static_cast<int32_t>(names.count);
  return true;
}

void name_table_release(NameTable& names) {
  storage_release(names.texts);
  std::free(names.buckets);
  names = NameTable{};
}
