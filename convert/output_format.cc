// The table of output formats and the look-ups by name and file name.
#include "convert/output_format.h"

#include <cstring>

const OutputFormatRow output_formats[] = {
    {"csv", ".CSV", "CSV format", "CSV", false, false, true, ORDER_LOG, false, csv_output_begin,
     csv_output_header, csv_output_row, csv_output_end, csv_output_discard},
    {"xlsx", ".xlsx", "an Excel workbook", "workbook", true, true, false, ORDER_QSO, true,
     xlsx_output_begin, xlsx_output_header, xlsx_output_row, xlsx_output_end, xlsx_output_discard},
    {nullptr, nullptr, nullptr, nullptr, false, false, false, ORDER_DEFAULT, false, nullptr,
     nullptr, nullptr, nullptr, nullptr},
};

const OutputFormatRow& output_format(OutputFormat format) { return output_formats[format]; }

bool output_format_named(const char* name, OutputFormat& format) {
  for (int row = 0; output_formats[row].name; ++row) {
    if (std::strcmp(output_formats[row].name, name) == 0) {
      format = static_cast<OutputFormat>(row);
      return true;
    }
  }
  return false;
}

namespace {

// True when `path` ends in `extension` (`length` bytes), in any case.
bool ends_in(const char* path, size_t path_length, const char* extension, size_t length) {
  if (length == 0 || path_length < length) return false;
  const char* tail = path + path_length - length;
  for (size_t i = 0; i < length; ++i) {
    char a = tail[i], b = extension[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

bool output_format_of_path(const char* path, OutputFormat& format) {
  size_t path_length = std::strlen(path);
  for (int row = 0; output_formats[row].name; ++row) {
    for (const char* extension = output_formats[row].extensions; *extension;) {
      size_t length = std::strcspn(extension, ";");
      if (ends_in(path, path_length, extension, length)) {
        format = static_cast<OutputFormat>(row);
        return true;
      }
      extension += length + (extension[length] ? 1 : 0);
    }
  }
  return false;
}
