// The column list: names in order of first appearance, with the index that
// finds a name's slot in constant time and places a record's fields in their
// cells.
#include <cstdlib>
#include <cstring>

#include "convert/column_index.h"
#include "convert/convert.h"

namespace {

// The index makes collecting the columns (and, in the writer, placing a
// record's fields) cost the same per field however many columns there are.
uint32_t hash_name(const char* name) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (; *name; ++name) hash = (hash ^ static_cast<unsigned char>(*name)) * 16777619u;
  return hash;
}

// Returns the bucket that holds `name`, or the empty bucket where it belongs.
uint32_t find_bucket(const ColumnList& columns, const char* name) {
  const ColumnIndex& index = *columns.index;
  uint32_t mask = index.buckets - 1;
  uint32_t bucket = hash_name(name) & mask;
  while (index.slots[bucket] && !is_name(columns.names[index.slots[bucket] - 1], name)) {
    bucket = (bucket + 1) & mask;
  }
  return bucket;
}

bool grow_index(ColumnList& columns, int name_count) {
  ColumnIndex& index = *columns.index;
  uint32_t buckets = index.buckets * 2;
  auto* slots = static_cast<int32_t*>(std::calloc(buckets, sizeof(int32_t)));
  if (!slots) {
    index.out_of_memory = true;
    return false;
  }
  std::free(index.slots);
  index.slots = slots;
  index.buckets = buckets;
  for (int slot = 0; slot < name_count; ++slot) {
    slots[find_bucket(columns, columns.names[slot])] = slot + 1;
  }
  return true;
}

// Makes room for one more name while keeping a null slot after the last.
bool reserve_slot(ColumnList& columns, int name_count) {
  if (name_count + 1 < columns.capacity) return true;
  int32_t capacity = columns.capacity * 2;
  auto* names = static_cast<char**>(std::realloc(columns.names, sizeof(char*) * capacity));
  if (!names) return false;
  std::memset(names + columns.capacity, 0, sizeof(char*) * (capacity - columns.capacity));
  columns.names = names;
  columns.capacity = capacity;
  return true;
}

void add_column(const char* name, ColumnList& columns, int& name_count) {
  if (columns.index->out_of_memory) return;  // the index may be too full to search
  uint32_t bucket = find_bucket(columns, name);
  if (columns.index->slots[bucket]) return;  // already a column
  size_t length = std::strlen(name);
  char* copy =
      reserve_slot(columns, name_count) ? static_cast<char*>(std::malloc(length + 1)) : nullptr;
  if (!copy) {
    columns.index->out_of_memory = true;
    return;
  }
  std::memcpy(copy, name, length + 1);
  columns.names[name_count] = copy;
  columns.index->slots[bucket] = ++name_count;
  columns.index->held = name_count;
  columns.index->names = columns.names;
  if (static_cast<uint32_t>(name_count) * 2 > columns.index->buckets) {
    grow_index(columns, name_count);
  }
}

void place_fields(const AdifField* node, const ColumnList& columns, const AdifField** cells) {
  while (node) {
    place_fields(node->left, columns, cells);
    int32_t slot = column_slot(columns, node->name);
    if (slot >= 0) cells[slot] = node;
    node = node->right;
  }
}

}  // namespace

int32_t column_slot(const ColumnList& columns, const char* name) {
  return columns.index->slots[find_bucket(columns, name)] - 1;
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
  place_fields(record->root, columns, index->cells);
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
        static_cast<int32_t*>(std::calloc(columns.index->buckets, sizeof(int32_t)));
  }
  if (!columns.names || !columns.index || !columns.index->slots) {
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
    std::free(columns.index->cells);
  }
  std::free(columns.index);
  columns = ColumnList{};
}

bool add_column_name(const char* name, ColumnList& columns) {
  int name_count = columns.index->held;
  add_column(name, columns, name_count);
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
    add_column(root->name, columns, name_count);
    root = root->right;
  }
}
