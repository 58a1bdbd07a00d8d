// The CSV record writer: one line per record, one cell per column.
//
// A line is put together in a local buffer and handed to the stream in one
// block write (or a few, for a line longer than the buffer), instead of one
// library call per separator, quote and cell.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "convert/cell_kind.h"
#include "convert/column_index.h"
#include "convert/convert.h"
#include "convert/output_format.h"

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
// (comma, apostrophe, carriage return, line feed, and the separator when it
// is not a comma), 2 for the double quote, which also makes it quoted and is
// written twice; 0 for every other byte. One table per separator.
struct CellBytes {
  unsigned char kind[256];
};

constexpr CellBytes make_cell_bytes(char separator) {
  CellBytes bytes{};
  bytes.kind[static_cast<unsigned char>(separator)] = 1;
  bytes.kind[static_cast<int>(',')] = 1;
  bytes.kind[static_cast<int>('\'')] = 1;
  bytes.kind[static_cast<int>('\r')] = 1;
  bytes.kind[static_cast<int>('\n')] = 1;
  bytes.kind[static_cast<int>('"')] = 2;
  return bytes;
}

constexpr CellBytes comma_cell_bytes = make_cell_bytes(',');
constexpr CellBytes semicolon_cell_bytes = make_cell_bytes(';');
constexpr CellBytes tab_cell_bytes = make_cell_bytes('\t');

// A CsvStyle made ready for writing: the separator and its byte table.
// `special`: the ColumnTrait bits whose cells are more than a text cell in
// this style.
struct LineStyle {
  char separator;
  const CellBytes* bytes;
  unsigned char special;
};

LineStyle make_line_style(const CsvStyle& style) {
  auto special = static_cast<unsigned char>(COLUMN_QSO_DATE | (style.iso_dates ? COLUMN_DATE : 0) |
                                            (style.decimal_comma ? COLUMN_NUMBER : 0));
  LineStyle line{',', &comma_cell_bytes, special};
  if (style.separator == ';') line = {';', &semicolon_cell_bytes, special};
  if (style.separator == '\t') line = {'\t', &tab_cell_bytes, special};
  return line;
}

// Puts a text cell of the `length` bytes at `value`: in double quotes when
// it holds a byte that `bytes` marks (a comma, apostrophe, line break,
// double quote or the separator), or when `always_quoted`; every double
// quote doubled. One pass finds what the value holds.
void put_text_cell(LineBuffer& line, const char* value, size_t length, bool always_quoted,
                   const CellBytes& bytes) {
  // The usual cell fits the buffer and needs no quotes of its own: copied
  // while it is checked, and kept when the check finds nothing.
  if (length + 2 <= sizeof line.bytes - line.used) {
    char* out = line.bytes + line.used + (always_quoted ? 1 : 0);
    unsigned char found = 0;
    for (size_t i = 0; i < length; ++i) {
      out[i] = value[i];
      found |= bytes.kind[static_cast<unsigned char>(value[i])];
    }
    if (!found) {
      if (always_quoted) {
        line.bytes[line.used] = '"';
        out[length] = '"';
      }
      line.used += length + (always_quoted ? 2 : 0);
      return;
    }
  }
  unsigned char holds = 0;
  const char* end = value + length;
  for (const char* c = value; c != end; ++c) holds |= bytes.kind[static_cast<unsigned char>(*c)];
  bool quoted = always_quoted || holds != 0;
  if (quoted) put_byte(line, '"');
  if (holds & 2) {
    for (const char* c = value; c != end; ++c) {
      put_byte(line, *c);
      if (*c == '"') put_byte(line, '"');
    }
  } else {
    put_bytes(line, value, length);
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

// Puts the cell of `field` in a date column as an ISO date when it holds a
// real date, else as a text cell.
void put_iso_date_cell(LineBuffer& line, const AdifField* field, const CellBytes& bytes) {
  int year, month, day;
  auto length = static_cast<size_t>(field->length);
  if (read_date(field->value, length, year, month, day)) {
    char text[11];
    put_bytes(line, text, iso_date_text(year, month, day, text));
  } else {
    put_text_cell(line, field->value, length, false, bytes);
  }
}

// Puts the cell of `field` in a number column with a decimal comma: a plain
// decimal's point becomes a comma, the cell quoted only when the separator
// is a comma; any other value is a text cell as written.
[[gnu::noinline]] void put_decimal_comma_cell(LineBuffer& line, const AdifField* field,
                                              const LineStyle& style) {
  const CellBytes& bytes = *style.bytes;
  auto length = static_cast<size_t>(field->length);
  double number;
  int decimals, digits;
  const char* point = static_cast<const char*>(std::memchr(field->value, '.', length));
  if (!point || length > 64 || !read_number(field->value, length, number, decimals, digits)) {
    put_text_cell(line, field->value, length, false, bytes);
    return;
  }
  char text[64];
  std::memcpy(text, field->value, length);
  text[point - field->value] = ',';
  if (style.separator == ',') {
    put_text_cell(line, text, length, false, bytes);
  } else {
    put_bytes(line, text, length);
  }
}

// Puts the cell of `field` (null for an empty cell) in a column whose name
// has the ColumnTrait bits `traits`: TIME_ON and TIME_OFF always quoted, so
// that a spreadsheet keeps their leading zeros, QSO_DATE as day-month-year.
void put_cell(LineBuffer& line, const AdifField* field, unsigned char traits,
              const LineStyle& style) {
  if (!field) return;
  unsigned special = traits & style.special;
  if (!special) {  // the usual cell
    put_text_cell(line, field->value, static_cast<size_t>(field->length),
                  (traits & COLUMN_TIME) != 0, *style.bytes);
    return;
  }
  if (special & COLUMN_NUMBER) {
    put_decimal_comma_cell(line, field, style);
    return;
  }
  if (special & COLUMN_DATE) {
    put_iso_date_cell(line, field, *style.bytes);
    return;
  }
  if (traits & COLUMN_QSO_DATE) {
    int date = parse_decimal(field->value);
    // A date without a real month keeps its stored text, so nothing is lost.
    if (QSO_date_has_month(date)) {
      char text[32];
      put_bytes(line, text, date_text(date, text));
      return;
    }
  }
  put_text_cell(line, field->value, static_cast<size_t>(field->length), (traits & COLUMN_TIME) != 0,
                *style.bytes);
}

}  // namespace

void write_CSV_text(FILE* output, const char* value, bool always_quoted) {
  LineBuffer line;
  line.output = output;
  line.used = 0;
  put_text_cell(line, value, std::strlen(value), always_quoted, comma_cell_bytes);
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

void write_CSV_header(FILE* output, const ColumnList& columns) {
  write_CSV_header(output, columns, CsvStyle{});
}

void write_CSV_header(FILE* output, const ColumnList& columns, const CsvStyle& style) {
  const LineStyle shape = make_line_style(style);
  LineBuffer line;
  line.output = output;
  line.used = 0;
  if (style.bom) put_bytes(line, "\xEF\xBB\xBF", 3);
  for (char** column = columns.names; column && *column; ++column) {
    if (column != columns.names) put_byte(line, shape.separator);
    // A name holding a separator, quote or line break would split or shift
    // the header's cells, so such a name is quoted like a cell; the usual
    // names are written as they stand.
    put_text_cell(line, *column, std::strlen(*column), false, *shape.bytes);
  }
  if (style.crlf) put_byte(line, '\r');
  put_byte(line, '\n');
  flush_line(line);
}

void write_CSV_record(FILE* output, const AdifRecord* record, const ColumnList& columns) {
  write_CSV_record(output, record, columns, CsvStyle{});
}

void write_CSV_record(FILE* output, const AdifRecord* record, const ColumnList& columns,
                      const CsvStyle& style) {
  const LineStyle shape = make_line_style(style);
  LineBuffer line;
  line.output = output;
  line.used = 0;
  const AdifField** cells = cells_of(record, columns);
  if (cells) {
    const unsigned char* traits = columns.index->traits;
    for (int32_t slot = 0; slot < columns.index->held; ++slot) {
      if (slot) put_byte(line, shape.separator);
      if (cells[slot]) put_cell(line, cells[slot], traits[slot], shape);
      cells[slot] = nullptr;
    }
  } else {
    for (char** column = columns.names; column && *column; ++column) {
      if (column != columns.names) put_byte(line, shape.separator);
      put_cell(line, find_record_field(record, *column), column_traits(*column), shape);
    }
  }
  if (style.crlf) put_byte(line, '\r');
  put_byte(line, '\n');
  flush_line(line);
}

namespace {

// The CSV writer behind the format table: the stream and its style.
struct CsvOutput {
  FILE* stream;
  CsvStyle style;
};

// The CSV writer that `writer` is.
CsvOutput* csv_output(FormatWriter* writer) { return reinterpret_cast<CsvOutput*>(writer); }

}  // namespace

FormatWriter* csv_output_begin(const OutputPlace& place, const OutputOptions& options,
                               char*& error) {
  error = nullptr;
  auto* output = static_cast<CsvOutput*>(std::calloc(1, sizeof(CsvOutput)));
  if (!output) return nullptr;
  output->stream = place.stream;
  output->style.separator = options.separator;
  if (!options.separator && options.decimal_comma) output->style.separator = ';';
  output->style.decimal_comma = options.decimal_comma;
  output->style.iso_dates = options.iso_dates;
  output->style.bom = options.bom;
  output->style.crlf = options.crlf;
  return reinterpret_cast<FormatWriter*>(output);
}

bool csv_output_header(FormatWriter* writer, const ColumnList& columns, const LogSurvey*,
                       OutputFault&) {
  CsvOutput* output = csv_output(writer);
  write_CSV_header(output->stream, columns, output->style);
  return true;
}

bool csv_output_row(FormatWriter* writer, const AdifRecord* record, const ColumnList& columns,
                    char*&, OutputFault& fault) {
  CsvOutput* output = csv_output(writer);
  write_CSV_record(output->stream, record, columns, output->style);
  if (!std::ferror(output->stream)) return true;
  fault.error = errno ? errno : EIO;
  return false;
}

bool csv_output_end(FormatWriter* writer, OutputFault&) {
  // The stream is the conversion path's: it flushes, commits and closes it.
  csv_output_discard(writer);
  return true;
}

void csv_output_discard(FormatWriter* writer) { std::free(csv_output(writer)); }
