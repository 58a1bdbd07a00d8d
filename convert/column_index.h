// Inside the conversion module only: the index behind ColumnList::index,
// filled by the driver as pass 1 finds names, and used by the record writers
// (CSV and workbook) to put a record's fields into their cells without a
// tree search per column.
#pragma once

#include <cstdint>

#include "convert/convert.h"

// One bucket of the index: the slot of a name and the name's hash, which is
// compared before the name is.
struct ColumnBucket {
  int32_t slot;   // slot number + 1 of a name, or 0 for an empty bucket
  uint32_t hash;  // field_name_hash of that name
};

// What a column's name makes of its CSV cells, decided once when the column
// is added (bits).
enum ColumnTrait {
  COLUMN_QSO_DATE = 1,  // QSO_DATE: real dates written as 5-Jan-2024
  COLUMN_TIME = 2,      // TIME_ON, TIME_OFF: always quoted
  COLUMN_DATE = 4,      // column_kind CELL_DATE: ISO dates under --dates iso
  COLUMN_NUMBER = 8     // column_kind CELL_NUMBER: decimal commas under --decimal-comma
};

// Returns the ColumnTrait bits of the column named `name`.
unsigned char column_traits(const char* name);

// Open-addressed hash of column names to their slots, and the writer's cell
// table. Made by init_column_list, released by free_column_list.
struct ColumnIndex {
  ColumnBucket* slots;      // the buckets
  uint32_t buckets;         // a power of two, at least twice the names held
  int32_t held;             // names indexed: slots 0 to held - 1 of the table
  char** names;             // the name table the index was built for
  int32_t* lengths;         // the byte length of each slot's name
  unsigned char* traits;    // the ColumnTrait bits of each slot's name
  int32_t key_capacity;     // entries allocated in `lengths` and `traits`
  const AdifField** cells;  // the writer's field per slot, null between records
  int32_t cell_capacity;    // entries allocated in `cells`
  const AdifField** fresh;  // collect_record_names: a record's names new to the list
  int32_t fresh_capacity;   // entries allocated in `fresh`
  uint64_t id_table;        // the name table whose numbers `id_slots` holds (0: none)
  int32_t* id_slots;        // by AdifField::name_id: the slot of its column + 1, or 0
                            // when not known (yet)
  int32_t id_capacity;      // entries allocated in `id_slots`
  bool out_of_memory;       // a name could not be added: the list is incomplete
};

// Returns the slot of the column named exactly `name`, or -1 when there is none.
// `columns` must have an index.
int32_t column_slot(const ColumnList& columns, const char* name);

// Appends the names of `record` that `columns` lacks, in name order, as
// collect_field_names does for a tree; for the block reader's records, which
// list their fields instead (see read_ADIF).
void collect_record_names(const AdifRecord* record, ColumnList& columns, int& name_count);

// Returns the index's cell table holding, for each column, the record's field
// of that name or null: one hash look-up per field of the record instead of a
// tree search per column. The caller sets each entry it reads back to null
// before the next record. Returns null when the table cannot be used (a
// column list without an index, or whose names were not all added through
// it, or no memory for the cells); the caller then searches the tree.
const AdifField** cells_of(const AdifRecord* record, const ColumnList& columns);
