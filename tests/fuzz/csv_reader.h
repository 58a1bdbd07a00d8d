// A strict RFC 4180 reader for the CSV text that a conversion writes, so that
// tests and fuzz harnesses check the CSV as a spreadsheet would read it.
#pragma once

#include <string>
#include <vector>

// One CSV row: its cells, unquoted.
using CsvRow = std::vector<std::string>;

// Splits `text` into rows of cells by RFC 4180, with "\n" as the line end:
// a cell is quoted ('"' ... '"', a doubled quote standing for one) or plain
// (no '"', CR or LF in it); every row, the last too, ends with "\n". Returns
// false when the text breaks these rules; `rows` then holds what came before.
bool read_CSV(const std::string& text, std::vector<CsvRow>& rows);
