// The conversion driver: pass 1 discovers the columns, the header is written,
// pass 2 writes one CSV line per record.
#include <cstdlib>
#include <cstring>

#include "convert/column_index.h"
#include "convert/convert.h"

namespace {

// Size of each pass's line buffer: the longest line read whole is 8190
// characters and its line end.
constexpr int line_buffer_bytes = 8192;

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
  if (!slots) return false;
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
  uint32_t bucket = find_bucket(columns, name);
  if (columns.index->slots[bucket]) return;  // already a column
  if (!reserve_slot(columns, name_count)) return;
  size_t length = std::strlen(name);
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return;
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

void collect_field_names(const AdifField* root, ColumnList& columns, int& name_count) {
  // In order: left subtree, the field, right subtree, so a record's new names
  // join in ascending byte order.
  while (root) {
    collect_field_names(root->left, columns, name_count);
    add_column(root->name, columns, name_count);
    root = root->right;
  }
}

int process_ADIF_records(FILE* input, FILE* output, ColumnList& columns, bool collect_columns,
                         MessageLog& log, ParseStatus* end_status) {
  char* line = static_cast<char*>(std::calloc(line_buffer_bytes, 1));
  if (!line) {
    if (end_status) *end_status = ADIF_EOF;
    return 0;
  }
  AdifRecord* record = nullptr;
  char* message = nullptr;
  int records = 0;
  int name_count = 0;
  if (collect_columns) {
    while (columns.names && columns.names[name_count]) ++name_count;
  }

  ParseStatus status;
  bool going = true;
  do {
    status = parse_ADIF(input, record, line, line_buffer_bytes, message);
    if (message) {
      add_record_message(log, record, message);
      std::free(message);
      message = nullptr;
    }
    switch (status) {
      case ADIF_CONTINUE:
        break;
      case ADIF_EOR:
        // An end of record without any field since the last one is no record.
        if (record) {
          if (collect_columns) {
            collect_field_names(record->root, columns, name_count);
          } else {
            write_CSV_record(output, record, columns);
          }
          ++records;
        }
        [[fallthrough]];
      case ADIF_EOH:
        free_record(record);
        record = nullptr;
        break;
      case ADIF_EOF:
      case ADIF_TRUNCATED:
        going = false;
        break;
      default:
        std::fprintf(stderr, "ERROR:\tUnrecognized status %0d returned from parse_ADIF()\n",
                     static_cast<int>(status));
        going = false;
        break;
    }
  } while (going);

  free_record(record);  // fields after the last end of record are dropped
  std::free(line);
  if (end_status) *end_status = status;
  return records;
}

int convert_ADIF_file(FILE* input, FILE* output, MessageLog& log, ParseStatus* end_status) {
  ColumnList columns{};
  if (!init_column_list(columns)) {
    if (end_status) *end_status = ADIF_EOF;
    return 0;
  }
  process_ADIF_records(input, output, columns, true, log);
  write_CSV_header(output, columns);
  std::rewind(input);
  int records = process_ADIF_records(input, output, columns, false, log, end_status);
  std::fflush(output);
  free_column_list(columns);
  return records;
}
