// The column list: names in order of first appearance, with the index that
// finds a name's slot in constant time and places a record's fields in their
// cells.
#include <cstdlib>
#include <cstring>

#include "convert/cell_kind.h"
#include "convert/column_index.h"
#include "convert/column_order.h"
#include "convert/convert.h"

namespace {

// A name's hash and length: those the reader kept with a field, or worked
// out here for a name that came another way.
struct NameKey {
  uint32_t hash;
  int32_t length;
};

NameKey key_of(const char* name) {
  size_t length = std::strlen(name);
  return NameKey{field_name_hash(name, length), static_cast<int32_t>(length)};
}

NameKey key_of(const AdifField* field) {
  if (field->name_hash) return NameKey{field->name_hash, field->name_length};
  return key_of(field->name);
}

// True when the `length` bytes at `a` and `b` are the same, one at a time,
// for a name that may end anywhere.
inline bool same_bytes(const char* a, const char* b, int32_t length) {
  for (int32_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Returns the bucket that holds `name` (of `key`), or the empty bucket where
// it belongs. Hashes and lengths are compared before the bytes, so a name
// costs one hash per field, made by the reader, and one comparison. `words`:
// `name` may be read in whole words (see same_name_words).
uint32_t find_bucket(const ColumnList& columns, const char* name, NameKey key, bool words) {
  const ColumnIndex& index = *columns.index;
  uint32_t mask = index.buckets - 1;
  uint32_t bucket = key.hash & mask;
  for (;; bucket = (bucket + 1) & mask) {
    const ColumnBucket& entry = index.slots[bucket];
    if (!entry.slot) return bucket;
    int32_t slot = entry.slot - 1;
    if (entry.hash == key.hash && index.lengths[slot] == key.length &&
        (words ? same_name_words(columns.names[slot], name, key.length)
               : same_bytes(columns.names[slot], name, key.length))) {
      return bucket;
    }
  }
}

// Doubles the buckets, moving each entry by the hash it keeps.
bool grow_index(ColumnList& columns) {
  ColumnIndex& index = *columns.index;
  uint32_t buckets = index.buckets * 2;
  auto* slots = static_cast<ColumnBucket*>(std::calloc(buckets, sizeof(ColumnBucket)));
  if (!slots) {
    index.out_of_memory = true;
    return false;
  }
  ColumnBucket* old = index.slots;
  uint32_t old_buckets = index.buckets;
  index.slots = slots;
  index.buckets = buckets;
  for (uint32_t bucket = 0; bucket < old_buckets; ++bucket) {
    if (!old[bucket].slot) continue;
    uint32_t at = old[bucket].hash & (buckets - 1);
    while (slots[at].slot) at = (at + 1) & (buckets - 1);
    slots[at] = old[bucket];
  }
  std::free(old);
  return true;
}

// Makes room for one more name while keeping a null slot after the last, and
// for its length and traits.
bool reserve_slot(ColumnList& columns, int name_count) {
  ColumnIndex& index = *columns.index;
  if (name_count + 1 >= columns.capacity) {
    int32_t capacity = columns.capacity * 2;
    auto* names = static_cast<char**>(std::realloc(columns.names, sizeof(char*) * capacity));
    if (!names) return false;
    std::memset(names + columns.capacity, 0, sizeof(char*) * (capacity - columns.capacity));
    columns.names = names;
    columns.capacity = capacity;
  }
  if (name_count + 1 >= index.key_capacity) {
    int32_t capacity = columns.capacity;
    auto* lengths = static_cast<int32_t*>(std::realloc(index.lengths, sizeof(int32_t) * capacity));
    if (lengths) index.lengths = lengths;
    auto* traits = static_cast<unsigned char*>(std::realloc(index.traits, capacity));
    if (traits) index.traits = traits;
    if (!lengths || !traits) return false;
    index.key_capacity = capacity;
  }
  return true;
}

void add_column(const char* name, NameKey key, bool words, ColumnList& columns, int& name_count) {
  if (columns.index->out_of_memory) return;  // the index may be too full to search
  uint32_t bucket = find_bucket(columns, name, key, words);
  if (columns.index->slots[bucket].slot) return;  // already a column
  auto length = static_cast<size_t>(key.length);
  // Zeros up to a multiple of 8 bytes after the name, for same_name_words.
  size_t padded = (length + 8) & ~size_t{7};
  char* copy =
      reserve_slot(columns, name_count) ? static_cast<char*>(std::calloc(padded, 1)) : nullptr;
  if (!copy) {
    columns.index->out_of_memory = true;
    return;
  }
  std::memcpy(copy, name, length);
  columns.names[name_count] = copy;
  columns.index->lengths[name_count] = key.length;
  columns.index->traits[name_count] = column_traits(copy);
  columns.index->slots[bucket].slot = ++name_count;
  columns.index->slots[bucket].hash = key.hash;
  columns.index->held = name_count;
  columns.index->names = columns.names;
  if (static_cast<uint32_t>(name_count) * 2 > columns.index->buckets) {
    grow_index(columns);
  }
}

// The entry of `id_slots` for `field` of `record`, or null when its name has
// no number or the table cannot take it (the name is then looked up by hash).
// A record numbered by another table than the last one empties the table.
int32_t* id_entry(ColumnIndex& index, const AdifRecord* record, const AdifField* field) {
  int32_t id = field->name_id;
  if (id <= 0 || !record->name_table) return nullptr;
  if (index.id_table != record->name_table) {
    if (index.id_slots) std::memset(index.id_slots, 0, sizeof(int32_t) * index.id_capacity);
    index.id_table = record->name_table;
  }
  if (id >= index.id_capacity) {
    int32_t capacity = index.id_capacity ? index.id_capacity : 64;
    while (capacity <= id) capacity *= 2;
    auto* grown = static_cast<int32_t*>(
        std::realloc(index.id_slots, sizeof(int32_t) * static_cast<size_t>(capacity)));
    if (!grown) return nullptr;
    std::memset(grown + index.id_capacity, 0, sizeof(int32_t) * (capacity - index.id_capacity));
    index.id_slots = grown;
    index.id_capacity = capacity;
  }
  return &index.id_slots[id];
}

// The slot of `field`'s column (a field of `record`), or -1 when it has none:
// by the number of its name when the reader gave one and its column was
// found before, else by its hash. Only columns are kept by number, as a name
// that is none may become one (columns are never removed).
int32_t find_slot(const ColumnList& columns, const AdifRecord* record, const AdifField* field) {
  int32_t* known = id_entry(*columns.index, record, field);
  if (known && *known) return *known - 1;
  uint32_t bucket = find_bucket(columns, field->name, key_of(field), field->name_hash != 0);
  int32_t slot = columns.index->slots[bucket].slot - 1;
  if (known && slot >= 0) *known = slot + 1;
  return slot;
}

// The slot of `field`'s column, or -1: read inline from `id_slots` when the
// number's column is known, else by find_slot.
inline int32_t slot_of(const ColumnList& columns, const AdifRecord* record,
                       const AdifField* field) {
  const ColumnIndex& index = *columns.index;
  int32_t id = field->name_id;
  if (record->name_table == index.id_table && id > 0 && id < index.id_capacity &&
      index.id_slots[id]) {
    return index.id_slots[id] - 1;
  }
  return find_slot(columns, record, field);
}

void place_tree(const AdifRecord* record, const AdifField* node, const ColumnList& columns,
                const AdifField** cells) {
  while (node) {
    place_tree(record, node->left, columns, cells);
    int32_t slot = slot_of(columns, record, node);
    if (slot >= 0) cells[slot] = node;
    node = node->right;
  }
}

void place_fields(const AdifRecord* record, const ColumnList& columns, const AdifField** cells) {
  if (!record->fields) return place_tree(record, record->root, columns, cells);
  for (const AdifField* field = record->fields; field; field = field->next) {
    int32_t slot = slot_of(columns, record, field);
    if (slot >= 0) cells[slot] = field;
  }
}

// Orders names as strcmp does, for a record's new columns.
int compare_names(const void* a, const void* b) {
  return std::strcmp((*static_cast<const AdifField* const*>(a))->name,
                     (*static_cast<const AdifField* const*>(b))->name);
}

}  // namespace

unsigned char column_traits(const char* name) {
  unsigned char traits = 0;
  if (is_name(name, "QSO_DATE")) traits |= COLUMN_QSO_DATE;
  if (is_name(name, "TIME_ON") || is_name(name, "TIME_OFF")) traits |= COLUMN_TIME;
  CellKind kind = column_kind(name);
  if (kind == CELL_DATE) traits |= COLUMN_DATE;
  if (kind == CELL_NUMBER) traits |= COLUMN_NUMBER;
  return traits;
}

int32_t column_slot(const ColumnList& columns, const char* name) {
  return columns.index->slots[find_bucket(columns, name, key_of(name), false)].slot - 1;
}

const AdifField** cells_of(const AdifRecord* record, const ColumnList& columns) {
  ColumnIndex* index = columns.index;
  if (!index || index->names != columns.names || !columns.names) return nullptr;
  int32_t held = index->held;
  if (columns.names[held] || (held > 0 && !columns.names[held - 1])) return nullptr;
  if (index->cell_capacity < held) {
    // Grown to the column list's capacity, so it is grown a few times at most.
    auto* cells = static_cast<const AdifField**>(
        std::calloc(static_cast<size_t>(columns.capacity), sizeof(AdifField*)));
    if (!cells) return nullptr;
    std::free(index->cells);
    index->cells = cells;
    index->cell_capacity = columns.capacity;
  }
  place_fields(record, columns, index->cells);
  return index->cells;
}

bool init_column_list(ColumnList& columns) {
  columns = ColumnList{};
  columns.names = static_cast<char**>(std::calloc(initial_column_slots, sizeof(char*)));
  columns.index = static_cast<ColumnIndex*>(std::calloc(1, sizeof(ColumnIndex)));
  if (columns.index) {
    columns.index->buckets = 2 * initial_column_slots;
    columns.index->names = columns.names;
    columns.index->slots =
        static_cast<ColumnBucket*>(std::calloc(columns.index->buckets, sizeof(ColumnBucket)));
    columns.index->lengths =
        static_cast<int32_t*>(std::calloc(initial_column_slots, sizeof(int32_t)));
    columns.index->traits = static_cast<unsigned char*>(std::calloc(initial_column_slots, 1));
    columns.index->key_capacity = initial_column_slots;
  }
  if (!columns.names || !columns.index || !columns.index->slots || !columns.index->lengths ||
      !columns.index->traits) {
    free_column_list(columns);
    return false;
  }
  columns.capacity = initial_column_slots;
  return true;
}

void free_column_list(ColumnList& columns) {
  for (char** name = columns.names; name && *name; ++name) std::free(*name);
  std::free(columns.names);
  if (columns.index) {
    std::free(columns.index->slots);
    std::free(columns.index->lengths);
    std::free(columns.index->traits);
    std::free(columns.index->cells);
    std::free(columns.index->fresh);
    std::free(columns.index->id_slots);
  }
  std::free(columns.index);
  columns = ColumnList{};
}

bool add_column_name(const char* name, ColumnList& columns) {
  int name_count = columns.index->held;
  add_column(name, key_of(name), false, columns, name_count);
  return !columns.index->out_of_memory;
}

bool column_list_failed(const ColumnList& columns) {
  return !columns.index || columns.index->out_of_memory;
}

void collect_field_names(const AdifField* root, ColumnList& columns, int& name_count) {
  // In order: left subtree, the field, right subtree, so a record's new names
  // join in ascending byte order.
  while (root) {
    collect_field_names(root->left, columns, name_count);
    add_column(root->name, key_of(root), root->name_hash != 0, columns, name_count);
    root = root->right;
  }
}

void collect_record_names(const AdifRecord* record, ColumnList& columns, int& name_count) {
  if (!record->fields) return collect_field_names(record->root, columns, name_count);
  // A record of the block reader lists its fields in no order: the names that
  // are new join the columns sorted, as a walk of a tree would add them.
  ColumnIndex& index = *columns.index;
  int32_t fresh = 0;
  for (const AdifField* field = record->fields; field; field = field->next) {
    if (index.out_of_memory || slot_of(columns, record, field) >= 0) continue;
    if (fresh == index.fresh_capacity) {
      int32_t capacity = fresh ? fresh * 2 : 16;
      auto* grown = static_cast<const AdifField**>(
          std::realloc(index.fresh, sizeof(AdifField*) * static_cast<size_t>(capacity)));
      if (!grown) {
        index.out_of_memory = true;
        return;
      }
      index.fresh = grown;
      index.fresh_capacity = capacity;
    }
    index.fresh[fresh++] = field;
  }
  if (fresh > 1)
    std::qsort(index.fresh, static_cast<size_t>(fresh), sizeof(AdifField*), compare_names);
  for (int32_t k = 0; k < fresh; ++k) {
    add_column(index.fresh[k]->name, key_of(index.fresh[k]), true, columns, name_count);
  }
}

bool order_columns_for_QSO(const ColumnList& found, ColumnList& ordered) {
  if (!init_column_list(ordered)) return false;
  bool added = true;
  for (const char* const* name = QSO_first_columns; *name && added; ++name) {
    if (column_slot(found, *name) >= 0) added = add_column_name(*name, ordered);
  }
  for (int pass = 0; pass < 2 && added; ++pass) {
    for (char** name = found.names; *name && added; ++name) {
      if (is_ADIF_field(*name) == (pass == 0)) added = add_column_name(*name, ordered);
    }
  }
  return added;
}
