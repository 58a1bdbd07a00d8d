// The CSV record writer: one line per record, one cell per column.
//
// A line is put together in a local buffer and handed to the stream in one
// block write (or a few, for a line longer than the buffer), instead of one
// library call per separator, quote and cell.
#include <cstdlib>
#include <cstring>

#include "convert/column_index.h"
#include "convert/convert.h"

namespace {

const char* const month_names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Bytes of a CSV line not yet written, and the stream they go to.
struct LineBuffer {
  FILE* output;
  size_t used;
  char bytes[4096];
};

void flush_line(LineBuffer& line) {
  if (line.used) std::fwrite(line.bytes, 1, line.used, line.output);
  line.used = 0;
}

void put_bytes(LineBuffer& line, const char* text, size_t length) {
  if (length > sizeof line.bytes - line.used) {
    flush_line(line);
    if (length >= sizeof line.bytes) {  // a long value goes straight through
      std::fwrite(text, 1, length, line.output);
      return;
    }
  }
  std::memcpy(line.bytes + line.used, text, length);
  line.used += length;
}

void put_byte(LineBuffer& line, char byte) {
  if (line.used == sizeof line.bytes) flush_line(line);
  line.bytes[line.used++] = byte;
}

// What a byte means in a text cell: 1 for the bytes that make a cell quoted
// (comma, apostrophe, carriage return, line feed), 2 for the double quote,
// which also makes it quoted and is written twice; 0 for every other byte.
struct CellBytes {
  unsigned char kind[256];
};

constexpr CellBytes make_cell_bytes() {
  CellBytes bytes{};
  bytes.kind[static_cast<int>(',')] = 1;
  bytes.kind[static_cast<int>('\'')] = 1;
  bytes.kind[static_cast<int>('\r')] = 1;
  bytes.kind[static_cast<int>('\n')] = 1;
  bytes.kind[static_cast<int>('"')] = 2;
  return bytes;
}

constexpr CellBytes cell_bytes = make_cell_bytes();

// Puts a text cell: in double quotes when the value holds a comma,
// apostrophe, line break or double quote, or when `always_quoted`; every
// double quote doubled. One pass finds the length and what the value holds.
void put_text_cell(LineBuffer& line, const char* value, bool always_quoted) {
  unsigned char holds = 0;
  const char* end = value;
  for (; *end; ++end) holds |= cell_bytes.kind[static_cast<unsigned char>(*end)];
  bool quoted = always_quoted || holds != 0;
  if (quoted) put_byte(line, '"');
  if (holds & 2) {
    for (const char* c = value; c != end; ++c) {
      put_byte(line, *c);
      if (*c == '"') put_byte(line, '"');
    }
  } else {
    put_bytes(line, value, static_cast<size_t>(end - value));
  }
  if (quoted) put_byte(line, '"');
}

// Writes `number` in decimal, as "%d" does, at `out`; returns the length.
size_t decimal_text(int number, char* out) {
  char digits[12];
  size_t count = 0;
  long long magnitude = number < 0 ? -static_cast<long long>(number) : number;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  size_t length = 0;
  if (number < 0) out[length++] = '-';
  while (count) out[length++] = digits[--count];
  return length;
}

// Writes the date cell text of `date` at `out` (at least 32 bytes): day-month-
// year for months 1 to 12, else the number as it is. Returns the length.
size_t date_text(int date, char* out) {
  if (!QSO_date_has_month(date)) return decimal_text(date, out);
  size_t length = decimal_text(date % 100, out);
  out[length++] = '-';
  std::memcpy(out + length, month_names[(date / 100) % 100 - 1], 3);
  length += 3;
  out[length++] = '-';
  return length + decimal_text(date / 10000, out + length);
}

// TIME_ON and TIME_OFF are always quoted, so a spreadsheet keeps their
// leading zeros.
bool is_time_name(const char* name) {
  return name[0] == 'T' && (is_name(name, "TIME_ON") || is_name(name, "TIME_OFF"));
}

// Puts the cell of `field` (null for an empty cell).
void put_cell(LineBuffer& line, const AdifField* field) {
  if (!field) return;
  if (field->name[0] == 'Q' && is_name(field->name, "QSO_DATE")) {
    int date = parse_decimal(field->value);
    // A date without a real month keeps its stored text, so nothing is lost.
    if (QSO_date_has_month(date)) {
      char text[32];
      put_bytes(line, text, date_text(date, text));
      return;
    }
  }
  put_text_cell(line, field->value, is_time_name(field->name));
}

void place_fields(const AdifField* node, const ColumnList& columns, const AdifField** cells) {
  while (node) {
    place_fields(node->left, columns, cells);
    int32_t slot = column_slot(columns, node->name);
    if (slot >= 0) cells[slot] = node;
    node = node->right;
  }
}

// Returns the index's cell table holding, for each column, the record's field
// of that name or null: one hash look-up per field of the record instead of a
// tree search per column. Returns null when the table cannot be used (a
// column list without an index, or whose names were not all added through
// it, or no memory for the cells); the caller then searches the tree.
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

}  // namespace

void write_CSV_text(FILE* output, const char* value, bool always_quoted) {
  LineBuffer line;
  line.output = output;
  line.used = 0;
  put_text_cell(line, value, always_quoted);
  flush_line(line);
}

bool QSO_date_has_month(int date) {
  int month = (date / 100) % 100;
  return month >= 1 && month <= 12;
}

void format_QSO_date(FILE* output, int date) {
  char text[32];
  std::fwrite(text, 1, date_text(date, text), output);
}

void write_CSV_record(FILE* output, const AdifRecord* record, const ColumnList& columns) {
  LineBuffer line;
  line.output = output;
  line.used = 0;
  const AdifField** cells = cells_of(record, columns);
  if (cells) {
    for (int32_t slot = 0; slot < columns.index->held; ++slot) {
      if (slot) put_byte(line, ',');
      put_cell(line, cells[slot]);
      cells[slot] = nullptr;
    }
  } else {
    for (char** column = columns.names; column && *column; ++column) {
      if (column != columns.names) put_byte(line, ',');
      put_cell(line, find_field(record->root, *column));
    }
  }
  put_byte(line, '\n');
  flush_line(line);
}
