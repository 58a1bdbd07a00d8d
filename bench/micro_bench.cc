// Micro-benchmarks of the conversion's inner loops: the field tree, the line
// reader and the CSV record writer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "adif/adif.h"
#include "convert/convert.h"

namespace {

const char* const typical_names[] = {
    "CALL",       "QSO_DATE", "TIME_ON",          "BAND",     "FREQ", "MODE",
    "RST_SENT",   "RST_RCVD", "STATION_CALLSIGN", "TIME_OFF", "NAME", "QTH",
    "GRIDSQUARE", "COMMENT",  "TX_PWR",           "DXCC",     nullptr};

// Names for a record of `count` fields: the typical ones, then APP_BENCH_nnn.
std::vector<std::string> field_names(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    if (i < 16) {
      names.push_back(typical_names[i]);
    } else {
      char name[32];
      std::snprintf(name, sizeof name, "APP_BENCH_%03d", i);
      names.push_back(name);
    }
  }
  return names;
}

// The line of one typical record, CR LF ended.
const char typical_line[] =
    "<CALL:6>DL2ABC <QSO_DATE:8:D>20241005 <TIME_ON:6>045208 <BAND:3>20m <FREQ:6:N>14.074 "
    "<MODE:3>SSB <SUBMODE:3>USB <RST_SENT:2>59 <RST_RCVD:2>57 <STATION_CALLSIGN:6>N0CALL "
    "<TIME_OFF:4>0454 <NAME:11>Pat O'Brien <QTH:15>Springfield, IL "
    "<COMMENT:22>said \"hi\", nice signal <GRIDSQUARE:6>JO62qm <EOR>\r\n";

void BM_insert_field(benchmark::State& state) {
  int count = static_cast<int>(state.range(0));
  std::vector<std::string> names = field_names(count);
  std::vector<AdifField> fields(static_cast<size_t>(count));
  char value[] = "x";
  for (auto _ : state) {
    AdifField* root = nullptr;
    char* message = nullptr;
    for (int i = 0; i < count; ++i) {
      AdifField& field = fields[static_cast<size_t>(i)];
      field = AdifField{};
      field.name = &names[static_cast<size_t>(i)][0];
      field.value = value;
      field.length = 1;
      root = insert_field(root, &field, message);
    }
    benchmark::DoNotOptimize(root);
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_insert_field)->Arg(16)->Arg(150);

void BM_find_field(benchmark::State& state) {
  int count = static_cast<int>(state.range(0));
  std::vector<std::string> names = field_names(count);
  std::vector<AdifField> fields(static_cast<size_t>(count));
  AdifField* root = nullptr;
  char* message = nullptr;
  char value[] = "x";
  for (int i = 0; i < count; ++i) {
    fields[static_cast<size_t>(i)].name = &names[static_cast<size_t>(i)][0];
    fields[static_cast<size_t>(i)].value = value;
    root = insert_field(root, &fields[static_cast<size_t>(i)], message);
  }
  for (auto _ : state) {
    for (const std::string& name : names) benchmark::DoNotOptimize(find_field(root, name.c_str()));
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_find_field)->Arg(16)->Arg(150);

// The line reader over 1000 typical one-line records in a temporary file.
void BM_parse_ADIF(benchmark::State& state) {
  FILE* input = std::tmpfile();
  if (!input) {
    state.SkipWithError("no temporary file");
    return;
  }
  const int records = 1000;
  for (int i = 0; i < records; ++i) std::fputs(typical_line, input);
  std::fflush(input);
  std::vector<char> line(8192);
  for (auto _ : state) {
    std::rewind(input);
    AdifRecord* record = nullptr;
    char* message = nullptr;
    ParseStatus status;
    while ((status = parse_ADIF(input, record, line.data(), 8192, message)) != ADIF_EOF) {
      if (status == ADIF_EOR || status == ADIF_EOH) {
        free_record(record);
        record = nullptr;
      }
      std::free(message);
      message = nullptr;
    }
    free_record(record);
  }
  state.SetBytesProcessed(state.iterations() * records *
                          static_cast<int64_t>(std::strlen(typical_line)));
  state.SetItemsProcessed(state.iterations() * records);
  std::fclose(input);
}
BENCHMARK(BM_parse_ADIF);

// Reads the record of `text` into `record`; false when it is not one record.
bool read_record(const char* text, AdifRecord*& record) {
  FILE* input = std::tmpfile();
  if (!input) return false;
  std::fputs(text, input);
  std::rewind(input);
  std::vector<char> line(8192);
  char* message = nullptr;
  ParseStatus status = parse_ADIF(input, record, line.data(), 8192, message);
  std::free(message);
  std::fclose(input);
  return status == ADIF_EOR && record;
}

// One CSV line for a typical record under 16 columns (15 of them filled), or
// for a record of 150 fields under 150 columns.
void BM_write_CSV_record(benchmark::State& state) {
  int count = static_cast<int>(state.range(0));
  std::string text;
  if (count == 0) {
    text = typical_line;
  } else {
    for (const std::string& name : field_names(count)) {
      text += "<" + name + ":6>abcdef ";
    }
    text += "<EOR>\n";
  }
  AdifRecord* record = nullptr;
  ColumnList columns{};
  FILE* output = std::fopen("/dev/null", "w");
  if (!output || !read_record(text.c_str(), record) || !init_column_list(columns)) {
    state.SkipWithError("setup failed");
    return;
  }
  int name_count = 0;
  collect_field_names(record->root, columns, name_count);
  for (auto _ : state) write_CSV_record(output, record, columns);
  state.SetItemsProcessed(state.iterations() * name_count);
  free_column_list(columns);
  free_record(record);
  std::fclose(output);
}
BENCHMARK(BM_write_CSV_record)->Arg(0)->Arg(150);

}  // namespace

BENCHMARK_MAIN();
