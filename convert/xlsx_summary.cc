// The summary sheet: what a radio amateur counts first, as numbers a
// spreadsheet can reuse, and a chart of the QSOs per band.
#include "convert/xlsx_summary.h"

#include <cstdio>

#include "adif/adif.h"

namespace {

// The sheet being written, row by row (constant-memory mode writes each row
// once, in order).
struct SummarySheet {
  lxw_worksheet* sheet;
  const SummaryFormats* formats;
  lxw_row_t row;
  lxw_error status;
};

// Writes a text, a number or a date into the row being written; the first
// failure stays in `out.status` and stops the writes after it.
void text(SummarySheet& out, lxw_col_t column, const char* value, lxw_format* format = nullptr) {
  if (!out.status) out.status = worksheet_write_string(out.sheet, out.row, column, value, format);
}

void number(SummarySheet& out, lxw_col_t column, double value) {
  if (!out.status) out.status = worksheet_write_number(out.sheet, out.row, column, value, nullptr);
}

void date(SummarySheet& out, lxw_col_t column, int32_t ymd) {
  lxw_datetime when{ymd / 10000, (ymd / 100) % 100, ymd % 100, 0, 0, 0};
  if (!out.status) {
    out.status = worksheet_write_datetime(out.sheet, out.row, column, &when, out.formats->date);
  }
}

// A line of the overview: a bold label and a count, with "at least" when
// the count stopped at its limit.
void count_line(SummarySheet& out, const char* label, double count, bool lower_bound) {
  text(out, 0, label, out.formats->bold);
  number(out, 1, count);
  if (lower_bound) text(out, 2, "at least: more than the summary counts one by one");
  ++out.row;
}

// The lines of the log's name, dates and counts.
void overview(SummarySheet& out, const LogSurvey& survey, const char* log_name) {
  text(out, 0, "Log", out.formats->bold);
  text(out, 1, log_name);
  ++out.row;
  if (survey.first_date) {
    text(out, 0, "First QSO", out.formats->bold);
    date(out, 1, survey.first_date);
    ++out.row;
    text(out, 0, "Last QSO", out.formats->bold);
    date(out, 1, survey.last_date);
    ++out.row;
  }
  count_line(out, "QSOs", static_cast<double>(survey.records), false);
  count_line(out, "Distinct calls", survey.calls.held, survey.calls.full);
  if (survey.has_dxcc) count_line(out, "DXCC entities", survey_dxcc_count(survey), false);
  if (survey.has_country) {
    count_line(out, "Countries", survey.countries.held, survey.countries.full);
  }
}

// The heading of a mode column (the survey's own text, not to be freed).
const char* mode_label(const LogSurvey& survey, int column) {
  const char* name = survey.mode_names[column];
  return name[0] == '(' ? "(no mode)" : name;
}

// The table of QSOs by band and mode; the rows of its bands are left in
// `first_band` and `last_band` (for the chart), the Total column in
// `total_column`.
void band_table(SummarySheet& out, const LogSurvey& survey, lxw_row_t& first_band,
                lxw_row_t& last_band, lxw_col_t& total_column) {
  text(out, 0, "QSOs by band and mode", out.formats->bold);
  out.row += 1;
  text(out, 0, "Band", out.formats->bold);
  for (int mode = 0; mode < survey.mode_count; ++mode) {
    text(out, static_cast<lxw_col_t>(mode + 1), mode_label(survey, mode), out.formats->bold);
  }
  total_column = static_cast<lxw_col_t>(survey.mode_count + 1);
  text(out, total_column, "Total", out.formats->bold);
  ++out.row;
  first_band = out.row;
  int64_t totals[survey_modes] = {};
  for (int band = 0; band <= survey_bands; ++band) {
    int64_t total = 0;
    for (int mode = 0; mode < survey.mode_count; ++mode) total += survey.by_band_mode[band][mode];
    if (!total) continue;
    text(out, 0, band == survey_no_band ? "(no band)" : band_rows[band].name);
    for (int mode = 0; mode < survey.mode_count; ++mode) {
      number(out, static_cast<lxw_col_t>(mode + 1),
             static_cast<double>(survey.by_band_mode[band][mode]));
      totals[mode] += survey.by_band_mode[band][mode];
    }
    number(out, total_column, static_cast<double>(total));
    ++out.row;
  }
  last_band = out.row - 1;
  text(out, 0, "Total", out.formats->bold);
  for (int mode = 0; mode < survey.mode_count; ++mode) {
    number(out, static_cast<lxw_col_t>(mode + 1), static_cast<double>(totals[mode]));
  }
  number(out, total_column, static_cast<double>(survey.records));
  ++out.row;
}

// The table of QSOs per year, with the undated ones last.
void year_table(SummarySheet& out, const LogSurvey& survey) {
  text(out, 0, "QSOs per year", out.formats->bold);
  ++out.row;
  text(out, 0, "Year", out.formats->bold);
  text(out, 1, "QSOs", out.formats->bold);
  ++out.row;
  for (int year = 0; year < survey_years; ++year) {
    if (!survey.by_year[year]) continue;
    number(out, 0, survey_first_year + year);
    number(out, 1, static_cast<double>(survey.by_year[year]));
    ++out.row;
  }
  if (survey.undated) {
    text(out, 0, "(no date)");
    number(out, 1, static_cast<double>(survey.undated));
    ++out.row;
  }
}

// A column chart of the Total column over the band rows, right of the tables.
void band_chart(lxw_workbook* workbook, SummarySheet& out, lxw_row_t first, lxw_row_t last,
                lxw_col_t total_column) {
  if (out.status || last < first) return;
  lxw_chart* chart = workbook_add_chart(workbook, LXW_CHART_COLUMN);
  if (!chart) {
    out.status = LXW_ERROR_MEMORY_MALLOC_FAILED;
    return;
  }
  lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
  if (!series) {
    out.status = LXW_ERROR_MEMORY_MALLOC_FAILED;
    return;
  }
  chart_series_set_name(series, "QSOs");
  chart_series_set_categories(series, "Summary", first, 0, last, 0);
  chart_series_set_values(series, "Summary", first, total_column, last, total_column);
  chart_title_set_name(chart, "QSOs per band");
  chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
  out.status =
      worksheet_insert_chart(out.sheet, 0, static_cast<lxw_col_t>(total_column + 2), chart);
}

}  // namespace

bool write_summary_sheet(lxw_workbook* workbook, const LogSurvey& survey, const char* log_name,
                         const SummaryFormats& formats, char*& error) {
  SummarySheet out{workbook_add_worksheet(workbook, "Summary"), &formats, 0, LXW_NO_ERROR};
  if (!out.sheet) {
    set_slot_message(error, "Could not make the summary sheet of the workbook");
    return false;
  }
  worksheet_set_column(out.sheet, 0, 0, 22, nullptr);
  worksheet_set_column(out.sheet, 1, survey_modes + 1, 13, nullptr);
  overview(out, survey, log_name);
  ++out.row;
  lxw_row_t first_band = 0, last_band = 0;
  lxw_col_t total_column = 1;
  band_table(out, survey, first_band, last_band, total_column);
  ++out.row;
  year_table(out, survey);
  band_chart(workbook, out, first_band, last_band, total_column);
  if (out.status) {
    set_slot_message(error, "Could not write the summary sheet: %s", lxw_strerror(out.status));
    return false;
  }
  return true;
}
