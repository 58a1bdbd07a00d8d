// The workbook's summary sheet, made from the first pass's survey.
#pragma once

#include <xlsxwriter.h>

#include "convert/log_survey.h"

// The formats the summary sheet uses, the workbook's own.
struct SummaryFormats {
  lxw_format* bold;
  lxw_format* date;
};

// Adds the sheet "Summary" to `workbook` (in constant-memory mode, so after
// every other sheet is written) for the log named `log_name` (UTF-8): its
// dates, QSO count, distinct calls, DXCC entities and countries; QSOs by band
// (rows, in band order) and mode (columns) with totals; QSOs per year; and a
// chart of the QSOs per band. Returns false with a malloc'ed `error` when the
// library fails.
bool write_summary_sheet(lxw_workbook* workbook, const LogSurvey& survey, const char* log_name,
                         const SummaryFormats& formats, char*& error);
