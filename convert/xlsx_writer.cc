// The workbook writer. The QSO sheets are streamed into the workbook's zip
// as their rows come (sheet_stream.h); libxlsxwriter makes every other part
// (styles, the workbook part, the summary sheet and its chart, content
// types) from a workbook with the same formats and the QSO sheets empty,
// written to a file beside the workbook at the end and copied into it. The
// writer holds one row, its own per-column tables, one text buffer and the
// rows of the first records until the column widths are known. With
// xlsx_library_sheets set, libxlsxwriter writes the QSO sheets too, in its
// constant-memory mode (each row to the sheet's temporary file): the
// reference the streamed sheets are tested against.
#include "convert/xlsx_writer.h"

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adif/adif_reader.h"
#include "convert/cell_kind.h"
#include "convert/column_index.h"
#include "convert/log_survey.h"
#include "convert/output_format.h"
#include "convert/sheet_stream.h"
#include "convert/xlsx_summary.h"
#include "convert/zip_writer.h"
#include "os/file_path.h"
#include "os/pending_files.h"

bool xlsx_library_sheets = false;
uint32_t xlsx_rows_per_sheet = LXW_ROW_MAX;

namespace {

constexpr int32_t max_columns = xlsx_max_columns;
static_assert(max_columns == LXW_COL_MAX, "a worksheet's columns");
constexpr uint32_t max_characters = 32767;                  // of one cell's text
constexpr int32_t measured_rows = 100;                      // records the column widths look at
constexpr int32_t widest_column = 60;                       // in characters
constexpr int max_decimals = 30;                            // a number format shows no more
constexpr int max_integer_digits = 15;                      // zeros kept in front, at most
constexpr size_t text_bytes = max_characters * 4 + 1;       // UTF-8 of the longest cell
constexpr size_t temporary_buffer_bytes = size_t{1} << 18;  // of a sheet's temporary file

}  // namespace

// The buffer of one sheet's temporary file, in a chain of all sheets'.
struct SheetBuffer {
  SheetBuffer* older;
  char bytes[temporary_buffer_bytes];
};

struct XlsxWriter {
  lxw_workbook* workbook;
  lxw_worksheet* sheet;       // the sheet being written
  int sheet_number;           // 1 for "QSOs", 2 for "QSOs 2", ...
  uint32_t row;               // the sheet's next row
  int32_t columns;            // columns of the header
  int32_t records;            // records written, counted up to measured_rows
  unsigned char* kinds;       // CellKind per column
  uint16_t* widths;           // characters per column seen so far
  lxw_format** time_formats;  // per time column: its one display, or null
                              // (each value's own, without a survey)
  lxw_format* header;         // bold
  lxw_format* date;           // yyyy-mm-dd
  lxw_format* minutes;        // hh:mm
  lxw_format* seconds;        // hh:mm:ss
  lxw_format* date_time;      // yyyy-mm-dd hh:mm:ss
  // "0", "0.0", "00.000", ... by integer digits and decimals, made when first used
  lxw_format* numbers[max_integer_digits + 1][max_decimals + 1];
  char* text;               // a cell's text, text_bytes long
  SheetBuffer* buffers;     // the sheets' temporary file buffers
  const LogSurvey* survey;  // what pass 1 found (the driver's), or null
  char* summary_log_name;   // the log's name for the summary sheet, or null for none
  ZipWriter* zip;           // the workbook, when the QSO sheets are streamed
  SheetStream* stream;      // the QSO sheets' XML, when there are columns
  char* parts_path;         // where libxlsxwriter writes the other parts
  int parts_slot;           // of parts_path in the pending files
  int64_t records_left;     // counted by pass 1, not yet in a sheet
  uint32_t last_row;        // of the streamed sheet's dimension
  int first_streamed;       // worksheet numbers of the streamed sheets
  int last_streamed;
};

namespace {

bool is_utf8(const char* value, size_t length) {
  auto* text = reinterpret_cast<const unsigned char*>(value);
  const unsigned char* end = text + length;
  while (text != end) {
    if (next_UTF8(text, end) < 0) return false;
  }
  return true;
}

// A cell's text being put together: its UTF-8 bytes and the two counts the
// length limit applies to.
struct CellText {
  char* bytes;
  size_t used;
  uint32_t code_points;  // what libxlsxwriter counts
  uint32_t units;        // what a spreadsheet counts: UTF-16 code units
};

// Adds the UTF-8 of `code`; false, adding nothing, when the text would pass
// max_characters by either count.
bool put_code(CellText& text, int32_t code) {
  uint32_t units = code >= 0x10000 ? 2 : 1;
  if (text.code_points + 1 > max_characters || text.units + units > max_characters) return false;
  char* out = text.bytes + text.used;
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    text.used += 1;
  } else if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    text.used += 2;
  } else if (code < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code >> 12));
    out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    text.used += 3;
  } else {
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    text.used += 4;
  }
  text.code_points += 1;
  text.units += units;
  return true;
}

bool is_hex(unsigned char byte) {
  return (byte >= '0' && byte <= '9') || ((byte | 0x20) >= 'a' && (byte | 0x20) <= 'f');
}

// A spreadsheet reads _xHHHH_ in a string as the character HHHH, so the '_'
// starting such a sequence in a value is written as _x005F_.
bool starts_escape(const unsigned char* text, const unsigned char* end) {
  return end - text >= 7 && text[0] == '_' && text[1] == 'x' && is_hex(text[2]) &&
         is_hex(text[3]) && is_hex(text[4]) && is_hex(text[5]) && text[6] == '_';
}

// Writes `value` into `buffer` (text_bytes long) as a cell's UTF-8 text,
// NUL-ended: valid UTF-8 as it is, other text read as Windows-1252; control
// characters other than tab, line feed and carriage return, and the
// non-characters U+FFFE and U+FFFF, become U+FFFD, as XML cannot hold them.
// Returns the number of characters, or -1 when the value was cut to fit.
int32_t cell_text(const char* value, size_t length, char* buffer) {
  // Most values are short printable ASCII without '_': copied as they are.
  if (length <= max_characters) {
    size_t plain = 0;
    while (plain < length && value[plain] >= ' ' && value[plain] <= '~' && value[plain] != '_') {
      ++plain;
    }
    if (plain == length) {
      std::memcpy(buffer, value, length);
      buffer[length] = '\0';
      return static_cast<int32_t>(length);
    }
  }
  CellText text{buffer, 0, 0, 0};
  bool utf8 = is_utf8(value, length);
  auto* in = reinterpret_cast<const unsigned char*>(value);
  const unsigned char* end = in + length;
  bool whole = true;
  while (in != end && whole) {
    if (starts_escape(in, end)) {
      for (const char* c = "_x005F"; *c && whole; ++c) whole = put_code(text, *c);
      if (!whole) break;
    }
    int32_t code = utf8 ? next_UTF8(in, end) : *in++;
    if (!utf8 && code >= 0x80 && code < 0xA0) code = windows_1252_high[code - 0x80];
    if ((code < 0x20 && code != '\t' && code != '\n' && code != '\r') || code == 0xFFFE ||
        code == 0xFFFF) {
      code = 0xFFFD;
    }
    whole = put_code(text, code);
  }
  buffer[text.used] = '\0';
  return whole ? static_cast<int32_t>(text.code_points) : -1;
}

void set_error(char*& error, const char* what, lxw_error status) {
  set_slot_message(error, "%s: %s", what, lxw_strerror(status));
}

// Widens the measure of `column` to `characters` (-1 for a cut text), for the
// header and the first records only.
void measure(XlsxWriter& writer, int32_t column, int32_t characters) {
  if (writer.records >= measured_rows) return;
  if (characters < 0 || characters > widest_column) characters = widest_column;
  if (characters > writer.widths[column]) writer.widths[column] = static_cast<uint16_t>(characters);
}

// The format showing `integer_digits` digits at least and `decimals`
// decimals, made when first asked for; null when memory runs out.
lxw_format* number_format(XlsxWriter& writer, int integer_digits, int decimals) {
  if (integer_digits > max_integer_digits) integer_digits = max_integer_digits;
  if (decimals > max_decimals) decimals = max_decimals;
  lxw_format*& format = writer.numbers[integer_digits][decimals];
  if (!format) {
    char pattern[max_integer_digits + max_decimals + 2];
    auto whole = static_cast<size_t>(integer_digits);
    std::memset(pattern, '0', whole);
    pattern[whole] = '.';
    std::memset(pattern + whole + 1, '0', static_cast<size_t>(decimals));
    pattern[decimals ? whole + 1 + static_cast<size_t>(decimals) : whole] = '\0';
    format = workbook_add_format(writer.workbook);
    if (format) format_set_num_format(format, pattern);
  }
  return format;
}

// The characters a number cell shows in `format`'s shape.
int32_t shown_number_length(double number, int integer_digits, int decimals) {
  char text[360];
  int length = std::snprintf(text, sizeof text, "%0*.*f", integer_digits + (number < 0 ? 1 : 0),
                             decimals, number);
  return length > 0 ? length : 0;
}

// The style index of `format` in the workbook (given when first used, as
// the library gives it when it writes the cell).
int32_t style_of(lxw_format* format) { return format ? lxw_format_get_xf_index(format) : 0; }

// The status a failed write of a streamed sheet is reported with.
lxw_error stream_failed() { return LXW_ERROR_ZIP_FILE_OPERATION; }

// The cell writes of the QSO sheets: every cell there is written through
// these three, with its row, column and format; into the sheet stream (whose
// current row is `row`) or through the library.
lxw_error put_number_cell(XlsxWriter& writer, lxw_row_t row, lxw_col_t column, double number,
                          lxw_format* format) {
  if (!writer.zip) return worksheet_write_number(writer.sheet, row, column, number, format);
  return sheet_number(writer.stream, static_cast<int32_t>(column), number, style_of(format))
             ? LXW_NO_ERROR
             : stream_failed();
}

lxw_error put_text_cell(XlsxWriter& writer, lxw_row_t row, lxw_col_t column, const char* text,
                        lxw_format* format) {
  if (!writer.zip) return worksheet_write_string(writer.sheet, row, column, text, format);
  return sheet_text(writer.stream, static_cast<int32_t>(column), text, style_of(format))
             ? LXW_NO_ERROR
             : stream_failed();
}

lxw_error put_date_time_cell(XlsxWriter& writer, lxw_row_t row, lxw_col_t column,
                             lxw_datetime& when, lxw_format* format) {
  if (!writer.zip) return worksheet_write_datetime(writer.sheet, row, column, &when, format);
  return put_number_cell(writer, row, column, lxw_datetime_to_excel_datetime(&when), format);
}

// Writes a date-time cell when `value` is an ISO date and time, the
// library's answer in `status`; false, writing nothing, when it is not.
bool write_date_time_cell(XlsxWriter& writer, int32_t column, const char* value, size_t length,
                          lxw_error& status) {
  if (length < 16 || value[4] != '-') return false;
  lxw_datetime when{};
  int second = 0;
  if (!read_date_time(value, length, when.year, when.month, when.day, when.hour, when.min,
                      second)) {
    return false;
  }
  when.sec = second;
  measure(writer, column, 19 + 1);
  status = put_date_time_cell(writer, writer.row, static_cast<lxw_col_t>(column), when,
                              writer.date_time);
  return true;
}

// Writes a typed cell when `field`'s value passes its column's check (or is
// an ISO date and time), the library's answer in `status`; returns false,
// writing nothing, when it does not pass.
bool write_typed_cell(XlsxWriter& writer, int32_t column, const AdifField* field,
                      lxw_error& status) {
  const char* value = field->value;
  auto length = static_cast<size_t>(field->length);
  auto col = static_cast<lxw_col_t>(column);
  lxw_datetime when{};
  switch (writer.kinds[column]) {
    case CELL_DATE:
      if (!read_date(value, length, when.year, when.month, when.day)) break;
      measure(writer, column, 10 + 1);
      status = put_date_time_cell(writer, writer.row, col, when, writer.date);
      return true;
    case CELL_TIME: {
      int second = 0;
      if (!read_time(value, length, when.hour, when.min, second)) break;
      when.sec = second;
      lxw_format* format = writer.time_formats[column];
      if (!format) format = length == 4 ? writer.minutes : writer.seconds;
      measure(writer, column, format == writer.minutes ? 5 + 1 : 8 + 1);
      status = put_date_time_cell(writer, writer.row, col, when, format);
      return true;
    }
    case CELL_NUMBER: {
      double number;
      int decimals, digits;
      if (!read_number(value, length, number, decimals, digits)) break;
      if (writer.records < measured_rows) {
        measure(writer, column, shown_number_length(number, digits, decimals) + 1);
      }
      status =
          put_number_cell(writer, writer.row, col, number, number_format(writer, digits, decimals));
      return true;
    }
    default:
      break;
  }
  return write_date_time_cell(writer, column, value, length, status);
}

// Adds "<NAME:length>" of a value cut to fit a cell to the record's message,
// the names first so that a message shortened for display still shows them.
// False when memory runs out for it (the message is then gone).
bool note_cut(const AdifField* field, char*& message) {
  char* earlier = message;
  message = nullptr;
  int kept = 0;  // the names of the fields cut before, without the end of the text
  if (earlier) {
    const char* end = std::strstr(earlier, " cut to ");
    kept = static_cast<int>(end ? end - earlier : std::strlen(earlier));
  }
  set_slot_message(message, "%.*s%s<%s:%d> cut to %u characters in the workbook", kept,
                   earlier ? earlier : "", earlier ? " " : "", field->name,
                   static_cast<int>(field->length), max_characters);
  std::free(earlier);
  return message != nullptr;
}

lxw_error write_cell(XlsxWriter& writer, int32_t column, const AdifField* field, char*& message) {
  if (!field || field->length == 0) return LXW_NO_ERROR;
  lxw_error status = LXW_NO_ERROR;
  if (write_typed_cell(writer, column, field, status)) return status;
  int32_t characters = cell_text(field->value, static_cast<size_t>(field->length), writer.text);
  if (characters < 0 && !note_cut(field, message)) return LXW_ERROR_MEMORY_MALLOC_FAILED;
  // Letters are wider than the digits a column's width is counted in: a
  // tenth more keeps a name such as "Fed. Rep. of Germany" whole.
  measure(writer, column, characters < 0 ? characters : characters + (characters + 9) / 10);
  return put_text_cell(writer, writer.row, static_cast<lxw_col_t>(column), writer.text, nullptr);
}

// Adds the next sheet, "QSOs" then "QSOs 2", ...
bool add_sheet(XlsxWriter& writer, char*& error) {
  char name[32] = "QSOs";
  if (++writer.sheet_number > 1) std::snprintf(name, sizeof name, "QSOs %d", writer.sheet_number);
  writer.sheet = workbook_add_worksheet(writer.workbook, name);
  if (!writer.sheet) {
    set_slot_message(error, "Could not make a temporary file for the workbook's rows");
    return false;
  }
  // The rows go to the sheet's temporary file and are read back when the
  // workbook is written: 256 KiB blocks instead of the default 4 KiB cut
  // the write and read calls by 64. Nothing has been written to it yet; the
  // buffer lives until the writer is freed, after the file is closed.
  auto* buffer = static_cast<SheetBuffer*>(std::malloc(sizeof(SheetBuffer)));
  if (buffer && writer.sheet->optimize_tmpfile) {
    buffer->older = writer.buffers;
    writer.buffers = buffer;
    std::setvbuf(writer.sheet->optimize_tmpfile, buffer->bytes, _IOFBF, sizeof buffer->bytes);
  } else {
    std::free(buffer);
  }
  writer.row = 0;
  return true;
}

// Reports a failed write of a streamed sheet (its errno) or of the library
// (`status`).
void report(XlsxWriter& writer, char*& error, const char* what, lxw_error status) {
  if (writer.stream && status == stream_failed()) {
    set_slot_message(error, "%s: %s", what, std::strerror(sheet_error(writer.stream)));
  } else {
    set_error(error, what, status);
  }
}

// The head of the streamed sheet.
SheetHead sheet_head_of(const XlsxWriter& writer) {
  SheetHead head{};
  head.last_row = writer.last_row;
  head.columns = writer.columns;
  head.selected =
      writer.sheet->selected || (writer.workbook->active_sheet == 0 && writer.sheet->index == 0);
  head.widths = writer.widths;
  return head;
}

// Starts streaming the sheet just added: its zip entry, and the last row of
// its dimension from the records pass 1 counted.
bool open_stream_sheet(XlsxWriter& writer) {
  int number = 0;
  lxw_worksheet* sheet;
  LXW_FOREACH_WORKSHEET(sheet, writer.workbook) { ++number; }
  if (!writer.first_streamed) writer.first_streamed = number;
  writer.last_streamed = number;
  int64_t rows =
      writer.records_left < xlsx_rows_per_sheet - 1 ? writer.records_left : xlsx_rows_per_sheet - 1;
  writer.records_left -= rows;
  writer.last_row = static_cast<uint32_t>(rows);
  char name[48];
  std::snprintf(name, sizeof name, "xl/worksheets/sheet%d.xml", number);
  // The widths are known past the first records: the head goes out at once.
  bool hold = writer.records < measured_rows;
  return sheet_open(writer.stream, name, hold) &&
         (hold || sheet_head(writer.stream, sheet_head_of(writer))) && sheet_row(writer.stream, 0);
}

// Writes the header row of the sheet and freezes it.
bool write_header_row(XlsxWriter& writer, const ColumnList& columns, char*& error) {
  if (writer.stream && !open_stream_sheet(writer)) {
    set_slot_message(error, "Could not write the workbook: %s",
                     std::strerror(sheet_error(writer.stream)));
    return false;
  }
  for (int32_t column = 0; column < writer.columns; ++column) {
    const char* name = columns.names[column];
    cell_text(name, std::strlen(name), writer.text);
    lxw_error status =
        put_text_cell(writer, 0, static_cast<lxw_col_t>(column), writer.text, writer.header);
    if (status) {
      report(writer, error, "Could not write the header row", status);
      return false;
    }
  }
  worksheet_freeze_panes(writer.sheet, 1, 0);
  writer.row = 1;
  return true;
}

// Sets the autofilter over the sheet's header and records, and the column
// widths: each column's widest header or measured value, within limits; a
// streamed sheet is ended. False when that fails.
bool finish_sheet(XlsxWriter& writer) {
  if (!writer.sheet || writer.columns == 0 || writer.row == 0) return true;
  auto last = static_cast<lxw_col_t>(writer.columns - 1);
  worksheet_autofilter(writer.sheet, 0, 0, writer.row - 1, last);
  for (int32_t first = 0; first < writer.columns;) {
    int32_t end = width_run_end(writer.widths, writer.columns, first);
    worksheet_set_column(writer.sheet, static_cast<lxw_col_t>(first), static_cast<lxw_col_t>(end),
                         column_width(writer.widths[first]), nullptr);
    first = end + 1;
  }
  return !writer.stream || sheet_close(writer.stream, sheet_head_of(writer), writer.row - 1);
}

// Closes the temporary files the library leaves open until it writes the
// workbook.
void close_sheet_files(lxw_workbook* workbook) {
  lxw_worksheet* sheet;
  LXW_FOREACH_WORKSHEET(sheet, workbook) {
    if (sheet->optimize_tmpfile) std::fclose(sheet->optimize_tmpfile);
    sheet->optimize_tmpfile = nullptr;
    sheet->file = nullptr;
  }
}

// Returns true when every sheet's temporary file took all its rows.
bool sheet_files_whole(lxw_workbook* workbook) {
  lxw_worksheet* sheet;
  LXW_FOREACH_WORKSHEET(sheet, workbook) {
    FILE* file = sheet->optimize_tmpfile;
    if (file && (std::fflush(file) != 0 || std::ferror(file))) return false;
  }
  return true;
}

void free_writer(XlsxWriter* writer) {
  sheet_stream_free(writer->stream);
  zip_abandon(writer->zip);
  int failure = errno;  // the caller may report it
  if (writer->parts_path) std::remove(writer->parts_path);
  errno = failure;
  drop_pending_file(writer->parts_slot);
  std::free(writer->parts_path);
  while (writer->buffers) {
    SheetBuffer* older = writer->buffers->older;
    std::free(writer->buffers);
    writer->buffers = older;
  }
  std::free(writer->kinds);
  std::free(writer->widths);
  std::free(writer->time_formats);
  std::free(writer->summary_log_name);
  std::free(writer->text);
  std::free(writer);
}

lxw_format* add_format(lxw_workbook* workbook, const char* pattern) {
  lxw_format* format = workbook_add_format(workbook);
  if (format && pattern) format_set_num_format(format, pattern);
  return format;
}

}  // namespace

XlsxWriter* xlsx_begin(const char* path, const char* temp_folder, char*& error) {
  int failure = 0;
  ZipWriter* zip = xlsx_library_sheets ? nullptr : zip_create(path, failure);
  FILE* probe = xlsx_library_sheets ? open_file(path, "wb") : nullptr;
  if (!zip && !probe) {
    set_slot_message(error, "Could not create %s: %s", path,
                     std::strerror(failure ? failure : errno));
    return nullptr;
  }
  if (probe) std::fclose(probe);
  auto* writer = static_cast<XlsxWriter*>(std::calloc(1, sizeof(XlsxWriter)));
  if (writer) {
    writer->zip = zip;
    writer->text = static_cast<char*>(std::malloc(text_bytes));
    if (zip) {
      size_t length = std::strlen(path);
      writer->parts_path = static_cast<char*>(std::malloc(length + 7));
      if (writer->parts_path) std::snprintf(writer->parts_path, length + 7, "%s.parts", path);
    }
  }
  if (!writer || !writer->text || (zip && !writer->parts_path)) {
    if (writer) {
      free_writer(writer);
    } else {
      zip_abandon(zip);
    }
    set_slot_message(error, "Out of memory for the workbook");
    return nullptr;
  }
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = const_cast<char*>(temp_folder);
  writer->workbook = workbook_new_opt(zip ? writer->parts_path : path, &options);
  if (writer->workbook) {
    writer->header = add_format(writer->workbook, nullptr);
    if (writer->header) format_set_bold(writer->header);
    writer->date = add_format(writer->workbook, "yyyy-mm-dd");
    writer->minutes = add_format(writer->workbook, "hh:mm");
    writer->seconds = add_format(writer->workbook, "hh:mm:ss");
    writer->date_time = add_format(writer->workbook, "yyyy-mm-dd hh:mm:ss");
  }
  if (!writer->workbook || !writer->header || !writer->date || !writer->minutes ||
      !writer->seconds || !writer->date_time) {
    xlsx_discard(writer);
    set_slot_message(error, "Out of memory for the workbook");
    return nullptr;
  }
  if (!add_sheet(*writer, error)) {
    xlsx_discard(writer);
    return nullptr;
  }
  return writer;
}

bool xlsx_write_header(XlsxWriter* writer, const ColumnList& columns, char*& error,
                       const LogSurvey* survey, int64_t records) {
  int32_t count = 0;
  while (columns.names && columns.names[count]) ++count;
  if (count > max_columns) {
    set_slot_message(error,
                     "The log has %d different fields, more than the %d columns of a worksheet",
                     static_cast<int>(count), static_cast<int>(max_columns));
    return false;
  }
  writer->kinds = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(count) + 1, 1));
  writer->widths =
      static_cast<uint16_t*>(std::calloc(static_cast<size_t>(count) + 1, sizeof(uint16_t)));
  writer->time_formats =
      static_cast<lxw_format**>(std::calloc(static_cast<size_t>(count) + 1, sizeof(lxw_format*)));
  if (!writer->kinds || !writer->widths || !writer->time_formats) {
    set_slot_message(error, "Out of memory for the workbook");
    return false;
  }
  writer->columns = count;
  writer->records_left = survey ? survey->records : records;
  if (writer->zip && count > 0) {
    if (writer->records_left < 0) {
      set_slot_message(error, "The workbook needs the number of records before its rows");
      return false;
    }
    writer->stream = sheet_stream_new(writer->zip, count);
    if (!writer->stream) {
      set_slot_message(error, "Out of memory for the workbook");
      return false;
    }
  }
  for (int32_t column = 0; column < count; ++column) {
    const char* name = columns.names[column];
    writer->kinds[column] = static_cast<unsigned char>(column_kind(name));
    if (survey && writer->kinds[column] == CELL_TIME) {
      bool seconds = is_name(name, "TIME_ON") ? survey->time_on_seconds : survey->time_off_seconds;
      writer->time_formats[column] = seconds ? writer->seconds : writer->minutes;
    }
    int32_t characters = cell_text(name, std::strlen(name), writer->text);
    // Bold capitals take about a third more room than the digits a width
    // counts (more in the wide fonts some spreadsheets fall back to), the
    // filter button three characters.
    measure(*writer, column, characters < 0 ? characters : characters + (characters + 2) / 3 + 3);
  }
  writer->survey = survey;
  return write_header_row(*writer, columns, error);
}

bool xlsx_write_record(XlsxWriter* writer, const AdifRecord* record, const ColumnList& columns,
                       char*& message, char*& error) {
  if (writer->row == xlsx_rows_per_sheet) {
    if (!finish_sheet(*writer)) {
      report(*writer, error, "Could not write the workbook", stream_failed());
      return false;
    }
    if (!add_sheet(*writer, error) || !write_header_row(*writer, columns, error)) return false;
  }
  lxw_error status = LXW_NO_ERROR;
  if (writer->stream && !sheet_row(writer->stream, writer->row)) status = stream_failed();
  const AdifField** cells = cells_of(record, columns);
  int32_t count = writer->columns;
  if (cells) {
    if (columns.index->held < count) count = columns.index->held;
    for (int32_t column = 0; column < columns.index->held; ++column) {
      if (column < count && !status) status = write_cell(*writer, column, cells[column], message);
      cells[column] = nullptr;
    }
  } else {
    for (int32_t column = 0; column < count && columns.names[column] && !status; ++column) {
      const AdifField* field = find_record_field(record, columns.names[column]);
      status = write_cell(*writer, column, field, message);
    }
  }
  if (!status && writer->records < measured_rows) {
    ++writer->records;
    // The widths are known: the sheet's head goes out, and the rows after it.
    if (writer->records == measured_rows && writer->stream && sheet_holding(writer->stream) &&
        !sheet_head(writer->stream, sheet_head_of(*writer))) {
      status = stream_failed();
    }
  }
  if (status) {
    report(*writer, error, "Could not write a row of the workbook", status);
    return false;
  }
  ++writer->row;
  return true;
}

namespace {

// Keeps every part libxlsxwriter made but the sheets streamed in its place.
bool is_other_part(const char* name, void* context) {
  auto* writer = static_cast<XlsxWriter*>(context);
  for (int number = writer->first_streamed; number && number <= writer->last_streamed; ++number) {
    char sheet[48];
    std::snprintf(sheet, sizeof sheet, "xl/worksheets/sheet%d.xml", number);
    if (std::strcmp(name, sheet) == 0) return false;
  }
  return true;
}

// Ends the streamed workbook: libxlsxwriter writes the other parts to their
// file, which are copied into the zip before its directory. Frees the
// library's workbook.
bool end_streamed(XlsxWriter* writer, char*& error) {
  writer->parts_slot = add_pending_file(writer->parts_path);
  lxw_error status = workbook_close(writer->workbook);
  writer->workbook = nullptr;
  if (status) {
    set_error(error, "Could not write the workbook", status);
    return false;
  }
  FILE* parts = open_file(writer->parts_path, "rb");
  bool copied = parts && zip_copy_entries(writer->zip, parts, is_other_part, writer);
  int failure = parts ? zip_error(writer->zip) : errno;
  if (parts) std::fclose(parts);
  ZipWriter* zip = writer->zip;
  writer->zip = nullptr;
  if (copied) {
    copied = zip_close(zip, failure);
  } else {
    zip_abandon(zip);
  }
  if (!copied) {
    set_slot_message(error, "Could not write the workbook: %s",
                     std::strerror(failure ? failure : EIO));
  }
  return copied;
}

}  // namespace

bool xlsx_summarize(XlsxWriter* writer, const char* log_path) {
  const char* name = log_path ? log_path : "";
  for (const char* c = name; *c; ++c) {
    if (*c == '/' || *c == '\\') name = c + 1;
  }
  if (log_path && std::strcmp(log_path, "-") == 0) name = "standard input";
  size_t size = std::strlen(name) + 1;
  writer->summary_log_name = static_cast<char*>(std::malloc(size));
  if (writer->summary_log_name) std::memcpy(writer->summary_log_name, name, size);
  return writer->summary_log_name != nullptr;
}

bool xlsx_end(XlsxWriter* writer, char*& error) {
  if (!finish_sheet(*writer)) {
    report(*writer, error, "Could not write the workbook", stream_failed());
    xlsx_discard(writer);
    return false;
  }
  if (!sheet_files_whole(writer->workbook)) {
    set_slot_message(error, "Could not write the temporary file of the workbook's rows");
    xlsx_discard(writer);
    return false;
  }
  if (writer->summary_log_name && writer->survey) {
    const char* name = writer->summary_log_name;
    cell_text(name, std::strlen(name), writer->text);
    if (!write_summary_sheet(writer->workbook, *writer->survey, writer->text,
                             SummaryFormats{writer->header, writer->date}, error)) {
      xlsx_discard(writer);
      return false;
    }
  }
  if (writer->zip) {
    bool ended = end_streamed(writer, error);
    xlsx_discard(writer);
    return ended;
  }
  lxw_error status = workbook_close(writer->workbook);
  writer->workbook = nullptr;
  free_writer(writer);
  if (status) {
    set_error(error, "Could not write the workbook", status);
    return false;
  }
  return true;
}

void xlsx_discard(XlsxWriter* writer) {
  if (!writer) return;
  if (writer->workbook) {
    close_sheet_files(writer->workbook);
    lxw_workbook_free(writer->workbook);
  }
  free_writer(writer);
}

// The workbook behind the format table: the XlsxWriter itself.
FormatWriter* xlsx_output_begin(const OutputPlace& place, const OutputOptions& options,
                                char*& error) {
  XlsxWriter* writer = xlsx_begin(place.path, place.temp_folder, error);
  if (writer && !options.no_summary && !xlsx_summarize(writer, place.log_path)) {
    xlsx_discard(writer);
    return nullptr;
  }
  return reinterpret_cast<FormatWriter*>(writer);
}

bool xlsx_output_header(FormatWriter* writer, const ColumnList& columns, const LogSurvey* survey,
                        OutputFault& fault) {
  return xlsx_write_header(reinterpret_cast<XlsxWriter*>(writer), columns, fault.detail, survey);
}

bool xlsx_output_row(FormatWriter* writer, const AdifRecord* record, const ColumnList& columns,
                     char*& message, OutputFault& fault) {
  return xlsx_write_record(reinterpret_cast<XlsxWriter*>(writer), record, columns, message,
                           fault.detail);
}

bool xlsx_output_end(FormatWriter* writer, OutputFault& fault) {
  if (xlsx_end(reinterpret_cast<XlsxWriter*>(writer), fault.detail)) return true;
  fault.error = errno;
  return false;
}

void xlsx_output_discard(FormatWriter* writer) {
  xlsx_discard(reinterpret_cast<XlsxWriter*>(writer));
}
