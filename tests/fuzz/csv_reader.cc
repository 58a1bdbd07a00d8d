#include "tests/fuzz/csv_reader.h"

bool read_CSV(const std::string& text, std::vector<CsvRow>& rows) {
  rows.clear();
  size_t at = 0;
  const size_t end = text.size();
  while (at < end) {
    CsvRow row;
    for (;;) {  // one cell per turn
      std::string cell;
      if (at < end && text[at] == '"') {
        ++at;
        for (;;) {
          if (at >= end) return false;  // no closing quote
          char c = text[at++];
          if (c != '"') {
            cell += c;
          } else if (at < end && text[at] == '"') {
            cell += '"';
            ++at;
          } else {
            break;
          }
        }
        if (at >= end || (text[at] != ',' && text[at] != '\n')) return false;
      } else {
        while (at < end && text[at] != ',' && text[at] != '\n') {
          char c = text[at++];
          if (c == '"' || c == '\r') return false;
          cell += c;
        }
        if (at >= end) return false;  // the last row has no line end
      }
      row.push_back(cell);
      if (text[at++] == '\n') break;
    }
    rows.push_back(row);
  }
  return true;
}
