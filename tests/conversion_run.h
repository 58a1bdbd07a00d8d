// A whole conversion of an in-memory log, for the tests.
#pragma once

#include <string>
#include <vector>

#include "convert/convert.h"

// What convert_ADIF_file made of one log.
struct ConversionRun {
  ParseStatus end;                    // status that ended pass 2
  int records;                        // records written
  std::string csv;                    // the CSV bytes
  std::vector<std::string> messages;  // list 2 of the log, oldest first
};

// Converts `adif` through memory streams; also checks that lists 0 and 1
// stayed empty, as a conversion fills list 2 only.
ConversionRun convert(const std::string& adif);
