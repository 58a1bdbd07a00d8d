// The sheet stream: cells are put together in the deflater's block (or in
// the held rows) with their references, escapes and number texts made here,
// without the C library's formatting but where the short paths cannot prove
// the text the library would write.
#include "convert/sheet_stream.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t cell_overhead = 160;  // bytes of a cell besides its value, and to spare

const char xml_start[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";
const char frozen_header[] =
    "workbookViewId=\"0\"><pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" "
    "state=\"frozen\"/><selection pane=\"bottomLeft\"/></sheetView></sheetViews>"
    "<sheetFormatPr defaultRowHeight=\"15\"/>";
const char page_margins[] =
    "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
    "footer=\"0.3\"/></worksheet>";

// A column's reference letters, "A" to "XFD".
struct ColumnName {
  char letters[3];
  unsigned char length;
};

// "00" to "99", two characters each.
struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs digit_pairs;

// Writes the decimal digits of `value` at `out`; returns their count.
size_t put_unsigned(uint64_t value, char* out) {
  char digits[20];
  char* end = digits + sizeof digits;
  char* at = end;
  while (value >= 100) {
    at -= 2;
    std::memcpy(at, digit_pairs.text + 2 * (value % 100), 2);
    value /= 100;
  }
  if (value >= 10) {
    at -= 2;
    std::memcpy(at, digit_pairs.text + 2 * value, 2);
  } else {
    *--at = static_cast<char>('0' + value);
  }
  auto count = static_cast<size_t>(end - at);
  std::memcpy(out, at, count);
  return count;
}

// 128-bit arithmetic, which GCC and Clang have on 64-bit targets.
__extension__ typedef unsigned __int128 uint128;

// 10^0 to 10^20.
struct PowersOfTen {
  uint128 power[21];
  constexpr PowersOfTen() : power() {
    uint128 next = 1;
    for (uint128& entry : power) {
      entry = next;
      next *= 10;
    }
  }
};
constexpr PowersOfTen powers_of_ten;

// Writes the "%.16G" text of `number` when its exponent in that form would
// be from -4 to 14 (no exponent is then shown): the double's exact binary
// value times a power of ten, rounded half to even at the 16th digit, as the
// C library rounds. Returns the length, or 0 for other numbers.
size_t sixteen_digit_text(double number, char* out) {
  static const uint64_t low = 1000000000000000ull;  // 10^15
  double magnitude = std::fabs(number);
  if (!(magnitude >= 1e-4 && magnitude < 1e15)) return 0;
  uint64_t bits;
  std::memcpy(&bits, &magnitude, sizeof bits);
  int biased = static_cast<int>(bits >> 52);  // a normal number here
  uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  int shift = 1075 - biased;  // magnitude = mantissa / 2^shift, shift from 3 to 66
  // About floor(log10(2^(biased - 1023))); the loop below corrects it.
  int exponent = (biased - 1023) * 78913 / 262144;
  uint64_t digits = 0;
  for (int tries = 0; tries < 4; ++tries) {
    uint128 scaled = mantissa * powers_of_ten.power[15 - exponent];
    auto whole = static_cast<uint64_t>(scaled >> shift);
    if (whole < low) {
      --exponent;
      continue;
    }
    if (whole >= low * 10) {
      ++exponent;
      continue;
    }
    uint128 rest = scaled - (static_cast<uint128>(whole) << shift);
    uint128 half = static_cast<uint128>(1) << (shift - 1);
    if (rest > half || (rest == half && (whole & 1))) ++whole;
    if (whole == low * 10) {
      whole = low;
      ++exponent;
    }
    digits = whole;
    break;
  }
  if (!digits || exponent < -4 || exponent > 14) return 0;
  char text[17];
  put_unsigned(digits, text);  // 16 digits
  int used = 16;
  while (used > 1 && text[used - 1] == '0') --used;
  char* at = out;
  if (number < 0) *at++ = '-';
  if (exponent < 0) {
    *at++ = '0';
    *at++ = '.';
    for (int zeros = -exponent - 1; zeros > 0; --zeros) *at++ = '0';
    std::memcpy(at, text, static_cast<size_t>(used));
    at += used;
  } else {
    int whole_digits = exponent + 1;
    std::memcpy(at, text, static_cast<size_t>(whole_digits));
    at += whole_digits;
    if (used > whole_digits) {
      *at++ = '.';
      std::memcpy(at, text + whole_digits, static_cast<size_t>(used - whole_digits));
      at += used - whole_digits;
    }
  }
  *at = '\0';
  return static_cast<size_t>(at - out);
}

}  // namespace

struct SheetStream {
  ZipWriter* zip;
  DeflateBlock* block;  // the entry's block being filled; null while holding
  bool holding;
  char* held;  // rows held until the head
  size_t held_used;
  size_t held_size;
  bool failed;  // memory for held rows ran out
  int32_t columns;
  ColumnName* names;  // per column
  char row_text[12];  // the current row's number, 1-based
  size_t row_length;
  bool row_open;  // its <row> is written
};

namespace {

// Returns room for `size` more bytes of the sheet, or null on failure; the
// caller then calls commit with the end of what it put there.
char* room(SheetStream& s, size_t size) {
  if (s.holding) {
    if (s.held_used + size > s.held_size) {
      size_t grown = (s.held_used + size) * 2;
      auto* bigger = static_cast<char*>(std::realloc(s.held, grown));
      if (!bigger) {
        s.failed = true;
        return nullptr;
      }
      s.held = bigger;
      s.held_size = grown;
    }
    return s.held + s.held_used;
  }
  if (!s.block) return nullptr;
  if (s.block->size - s.block->used < size) s.block = zip_next_block(s.zip);
  // A cell takes at most 7 bytes a byte of its 131,068, far less than a block.
  if (s.block && s.block->size - s.block->used < size) s.block = nullptr;
  return s.block ? s.block->bytes + s.block->used : nullptr;
}

// Marks the room up to `end` as written.
void commit(SheetStream& s, const char* end) {
  if (s.holding) {
    s.held_used = static_cast<size_t>(end - s.held);
  } else {
    s.block->used = static_cast<size_t>(end - s.block->bytes);
  }
}

// Copies `length` bytes of `text` (or a literal) to `at`; returns the end.
char* put(char* at, const char* text, size_t length) {
  std::memcpy(at, text, length);
  return at + length;
}

template <size_t size>
char* put(char* at, const char (&text)[size]) {
  return put(at, text, size - 1);
}

// Writes the whole of `text` to the sheet.
bool write_text(SheetStream& s, const char* text, size_t length) {
  while (length) {
    size_t part = length < (size_t{1} << 16) ? length : size_t{1} << 16;
    char* at = room(s, part);
    if (!at) return false;
    commit(s, put(at, text, part));
    text += part;
    length -= part;
  }
  return true;
}

// Writes the reference of (`row`, `column`), such as B7; returns the end.
char* put_cell_name(const SheetStream& s, char* at, int32_t column, uint32_t row) {
  const ColumnName& name = s.names[column];
  std::memcpy(at, name.letters, sizeof name.letters);
  at += name.length;
  return at + put_unsigned(uint64_t{row} + 1, at);
}

// Opens a cell: "<c r="B7"", the row first when it has no cell yet.
char* open_cell(SheetStream& s, char* at, int32_t column, int32_t style) {
  if (!s.row_open) {
    at = put(at, "<row r=\"");
    at = put(at, s.row_text, s.row_length);
    at = put(at, "\">");
    s.row_open = true;
  }
  // Whole arrays copied (the room has bytes to spare), the lengths kept.
  at = put(at, "<c r=\"");
  std::memcpy(at, s.names[column].letters, sizeof s.names[column].letters);
  at += s.names[column].length;
  std::memcpy(at, s.row_text, sizeof s.row_text);
  at += s.row_length;
  *at++ = '"';
  if (style) {
    at = put(at, " s=\"");
    at += put_unsigned(static_cast<uint64_t>(style), at);
    *at++ = '"';
  }
  return at;
}

// Returns true for what the library's isspace() test can meet at a text's
// ends (a carriage return is escaped by then).
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Writes `text` escaped for XML, a carriage return as the spreadsheet's
// _x000D_, as the library does.
char* put_escaped(char* at, const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c > '>' || (c != '&' && c != '<' && c != '>' && c != '\r')) {
      *at++ = c;
      continue;
    }
    switch (c) {
      case '&':
        at = put(at, "&amp;");
        break;
      case '<':
        at = put(at, "&lt;");
        break;
      case '>':
        at = put(at, "&gt;");
        break;
      case '\r':
        at = put(at, "_x000D_");
        break;
      default:
        *at++ = c;
    }
  }
  return at;
}

// The cell reference text of the range from A1 to (`row`, `column`): "A1"
// alone for one cell.
size_t range_text(const SheetStream& s, uint32_t row, int32_t column, char* out) {
  char* at = put(out, "A1");
  if (row || column) {
    *at++ = ':';
    at = put_cell_name(s, at, column, row);
  }
  return static_cast<size_t>(at - out);
}

// Ends the current row when it has cells.
bool end_row(SheetStream& s) {
  if (!s.row_open) return true;
  s.row_open = false;
  char* at = room(s, 8);
  if (!at) return false;
  commit(s, put(at, "</row>"));
  return true;
}

}  // namespace

size_t number_text(double number, char* out) {
  if (number == std::floor(number) && std::fabs(number) < 1e15 && !std::signbit(number)) {
    size_t length = put_unsigned(static_cast<uint64_t>(number), out);
    out[length] = '\0';
    return length;
  }
  size_t length = sixteen_digit_text(number, out);
  if (length) return length;
  int written = std::snprintf(out, 32, "%.16G", number);
  for (char* c = out; *c; ++c) {
    if (*c == ',') *c = '.';  // a decimal comma of the C library's locale
  }
  return written > 0 ? static_cast<size_t>(written) : 0;
}

int32_t width_run_end(const uint16_t* widths, int32_t columns, int32_t first) {
  int32_t last = first;
  while (last + 1 < columns && widths[last + 1] == widths[first]) ++last;
  return last;
}

double column_width(uint16_t characters) { return characters + 1.0; }

SheetStream* sheet_stream_new(ZipWriter* zip, int32_t columns) {
  auto* s = static_cast<SheetStream*>(std::calloc(1, sizeof(SheetStream)));
  if (!s) return nullptr;
  s->names =
      static_cast<ColumnName*>(std::calloc(static_cast<size_t>(columns), sizeof(ColumnName)));
  if (!s->names) {
    std::free(s);
    return nullptr;
  }
  s->zip = zip;
  s->columns = columns;
  for (int32_t column = 0; column < columns; ++column) {
    char letters[3];
    int count = 0;
    for (int32_t rest = column + 1; rest > 0; rest = (rest - 1) / 26) {
      letters[count++] = static_cast<char>('A' + (rest - 1) % 26);
    }
    ColumnName& name = s->names[column];
    for (int i = 0; i < count; ++i) name.letters[i] = letters[count - 1 - i];
    name.length = static_cast<unsigned char>(count);
  }
  return s;
}

void sheet_stream_free(SheetStream* s) {
  if (!s) return;
  std::free(s->held);
  std::free(s->names);
  std::free(s);
}

bool sheet_open(SheetStream* s, const char* name, bool hold) {
  s->block = zip_begin_entry(s->zip, name);
  s->holding = hold;
  s->held_used = 0;
  s->row_open = false;
  return s->block != nullptr;
}

bool sheet_head(SheetStream* s, const SheetHead& head) {
  bool holding = s->holding;
  s->holding = false;
  char range[32];
  size_t range_length = range_text(*s, head.last_row, head.columns - 1, range);
  if (!write_text(*s, xml_start, sizeof xml_start - 1) ||
      !write_text(*s, "<dimension ref=\"", 16) || !write_text(*s, range, range_length) ||
      !write_text(*s, "\"/><sheetViews><sheetView ", 26)) {
    return false;
  }
  if (head.selected && !write_text(*s, "tabSelected=\"1\" ", 16)) return false;
  if (!write_text(*s, frozen_header, sizeof frozen_header - 1) || !write_text(*s, "<cols>", 6)) {
    return false;
  }
  for (int32_t first = 0; first < head.columns;) {
    int32_t last = width_run_end(head.widths, head.columns, first);
    // The library's width in characters of its default font, padding included.
    double width = column_width(head.widths[first]);
    width =
        static_cast<uint16_t>((static_cast<uint16_t>(width * 7 + 0.5) + 5) / 7.0 * 256.0) / 256.0;
    char col[128];
    int length = std::snprintf(col, sizeof col,
                               "<col min=\"%d\" max=\"%d\" width=\"%.16G\" customWidth=\"1\"/>",
                               static_cast<int>(first + 1), static_cast<int>(last + 1), width);
    if (!write_text(*s, col, static_cast<size_t>(length))) return false;
    first = last + 1;
  }
  if (!write_text(*s, "</cols><sheetData>", 18)) return false;
  return !holding || write_text(*s, s->held, s->held_used);
}

bool sheet_row(SheetStream* s, uint32_t row) {
  if (!end_row(*s)) return false;
  s->row_length = put_unsigned(uint64_t{row} + 1, s->row_text);
  return true;
}

bool sheet_holding(const SheetStream* s) { return s->holding; }

int sheet_error(const SheetStream* s) {
  int error = zip_error(s->zip);
  return error ? error : ENOMEM;
}

bool sheet_number(SheetStream* s, int32_t column, double number, int32_t style) {
  char* at = room(*s, cell_overhead + 32);
  if (!at) return false;
  at = open_cell(*s, at, column, style);
  at = put(at, "><v>");
  at += number_text(number, at);
  commit(*s, put(at, "</v></c>"));
  return true;
}

bool sheet_text(SheetStream* s, int32_t column, const char* text, int32_t style) {
  size_t length = std::strlen(text);
  char* at = room(*s, cell_overhead + length * 7);
  if (!at) return false;
  at = open_cell(*s, at, column, style);
  if (length && (is_space(text[0]) || is_space(text[length - 1]))) {
    at = put(at, " t=\"inlineStr\"><is><t xml:space=\"preserve\">");
  } else {
    at = put(at, " t=\"inlineStr\"><is><t>");
  }
  at = put_escaped(at, text, length);
  commit(*s, put(at, "</t></is></c>"));
  return true;
}

bool sheet_close(SheetStream* s, const SheetHead& head, uint32_t filter_row) {
  if (!end_row(*s)) return false;
  if (s->holding && !sheet_head(s, head)) return false;
  char range[32];
  size_t length = range_text(*s, filter_row, head.columns - 1, range);
  if (!write_text(*s, "</sheetData><autoFilter ref=\"", 29) || !write_text(*s, range, length) ||
      !write_text(*s, "\"/>", 3) || !write_text(*s, page_margins, sizeof page_margins - 1)) {
    return false;
  }
  s->block = nullptr;
  return zip_end_entry(s->zip);
}
