// A worksheet's XML written straight into a zip entry, byte for byte as
// libxlsxwriter writes a sheet in its constant-memory mode: inline strings,
// numbers in the library's "%.16G" text, style indexes given by the caller.
// The head of the sheet (its dimension and column widths) comes before the
// rows, so rows can be held in memory until it is known.
#pragma once

#include <cstdint>

#include "convert/zip_writer.h"

// One sheet being streamed; opaque.
struct SheetStream;

// What the head of a sheet says.
struct SheetHead {
  uint32_t last_row;       // of the dimension (0-based)
  int32_t columns;         // at least 1
  bool selected;           // the tab shown when the workbook opens
  const uint16_t* widths;  // characters per column; see column_width
};

// Makes a stream for sheets of `columns` columns (at least 1) written into
// `zip` (the caller's). Returns it, owned by the caller, or null when memory
// runs out.
SheetStream* sheet_stream_new(ZipWriter* zip, int32_t columns);

// Frees the stream (an open entry is left to zip_abandon). Null is allowed.
void sheet_stream_free(SheetStream* stream);

// Starts the sheet entry `name`; with `hold` its rows stay in memory until
// sheet_head. False when the zip failed.
bool sheet_open(SheetStream* stream, const char* name, bool hold);

// Writes the head of the sheet, then the rows held so far; the rows after it
// are written as they come. False when the zip or memory failed.
bool sheet_head(SheetStream* stream, const SheetHead& head);

// Ends the row before and makes `row` (0-based) the row the next cells go
// to; a row without cells is not written. False when the zip or memory
// failed.
bool sheet_row(SheetStream* stream, uint32_t row);

// Returns true while the rows are held for the head.
bool sheet_holding(const SheetStream* stream);

// Returns the errno of the stream's failure: the zip's, or ENOMEM.
int sheet_error(const SheetStream* stream);

// Writes a number cell in `column` of the current row, with the cell format
// `style` (0 for none). False when the zip or memory failed.
bool sheet_number(SheetStream* stream, int32_t column, double number, int32_t style);

// Writes the NUL-ended UTF-8 `text` (no control characters but tab, line
// feed and carriage return) as an inline string cell. False as above.
bool sheet_text(SheetStream* stream, int32_t column, const char* text, int32_t style);

// Ends the sheet: its last row, the autofilter over rows 0 to `filter_row`
// and all columns, the page margins; then ends the entry. Writes the head
// first when it was not. False when the zip or memory failed.
bool sheet_close(SheetStream* stream, const SheetHead& head, uint32_t filter_row);

// Returns the last column of the run of columns from `first` with the width
// of `first` (the sheet's <col> elements cover such runs).
int32_t width_run_end(const uint16_t* widths, int32_t columns, int32_t first);

// Returns the width a column of `characters` is given: one character more.
double column_width(uint16_t characters);

// Writes `number` as "%.16G" does in the C locale and a NUL at `out` (at
// least 32 bytes); returns the length.
size_t number_text(double number, char* out);
