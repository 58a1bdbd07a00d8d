// The workbook writer: a log as an Excel workbook (.xlsx), one row per
// record, each cell typed by its column's kind (see cell_kind.h).
//
// Sheet "QSOs" holds a bold, frozen header row and the records below it;
// past the last row of a sheet (1,048,575 records) the records continue on
// sheet "QSOs 2" (then "QSOs 3", ...) under the header again; the sheet
// "Summary" (xlsx_summary.h) may follow them. The QSO sheets are compressed
// into the workbook as their rows are written, so memory stays flat however
// many records there are. Every text is written as a
// string, never as a formula; text that is not valid UTF-8 is read as
// Windows-1252.
#pragma once

#include "convert/convert.h"

struct LogSurvey;

// Columns a worksheet holds.
constexpr int32_t xlsx_max_columns = 16384;

// One workbook being written; opaque.
struct XlsxWriter;

// Starts a workbook at `path` (a seekable file, made and emptied here); its
// other parts are made at the end in a file beside it (`path` with ".parts"
// added) and in small temporary files in `temp_folder` (give a folder of the
// user's, never a drive root; null takes the library's choice from TMP, TEMP
// or TMPDIR). Returns the writer,
// owned by the caller until xlsx_end or xlsx_discard; or null with a
// malloc'ed text in `error` (the caller's to free) when it cannot be made.
XlsxWriter* xlsx_begin(const char* path, const char* temp_folder, char*& error);

// Asks for the sheet "Summary" after the QSOs, of the log at `log_path`
// (its file name is shown; "-" is standard input), made from the survey
// xlsx_write_header is given. False when memory runs out.
bool xlsx_summarize(XlsxWriter* writer, const char* log_path);

// Writes the header row: the column names of `columns` in bold, frozen above
// the records. `survey`, what the first pass found of the log (the caller's,
// alive until xlsx_end), gives each time column one display, hh:mm:ss when
// one of its values has seconds, the summary its counts and the sheets the
// number of records; without it each time shows its own, there is no
// summary, and `records` must give the number of records. Returns false
// with a malloc'ed `error` (nothing written) when there are more than 16,384
// columns, or when memory or the library fails; the caller then discards
// the workbook.
bool xlsx_write_header(XlsxWriter* writer, const ColumnList& columns, char*& error,
                       const LogSurvey* survey = nullptr, int64_t records = -1);

// Writes `record` as the next row, one cell per column of `columns` (the list
// the header was written from). A value longer than 32,767 characters is cut
// to that length and a malloc'ed message naming its field is left in the
// message slot `message` (see set_slot_message). Returns false with a
// malloc'ed `error` when the library fails (a temporary file or memory).
bool xlsx_write_record(XlsxWriter* writer, const AdifRecord* record, const ColumnList& columns,
                       char*& message, char*& error);

// Finishes each sheet (an autofilter over its header and records, column
// widths fitted to the header and the first records), adds the summary
// sheet when asked for, then writes and closes
// the workbook at the path given to xlsx_begin. Returns false with a
// malloc'ed `error` when the file cannot be written whole; the caller then
// discards it. The writer is freed in every case.
bool xlsx_end(XlsxWriter* writer, char*& error);

// Frees the writer and its temporary files without writing the workbook
// (what xlsx_begin made at the path stays for the caller to remove). Null is
// allowed.
void xlsx_discard(XlsxWriter* writer);

// For the tests: true makes libxlsxwriter write the whole workbook, its
// QSO sheets included (the reference for the streamed sheets); and the rows
// of a sheet, the header's included (1,048,576).
extern bool xlsx_library_sheets;
extern uint32_t xlsx_rows_per_sheet;
