// Fuzz harness for the companion library's record index and ADIF writing:
// the records read from arbitrary bytes are indexed by call sign and written
// back as ADIF.
//
// Checked: the index is a valid AA tree in strcmp order of the call signs;
// every record with a call sign is found under it, and the records that share
// a call sign are counted on the first one, the later ones reported as
// duplicates and left out of the tree; each record written back with
// write_ADIF_field and read again gives the same fields (names, lengths,
// values), and its dump lists them in name order.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "adif/adif.h"
#include "tests/fuzz/fuzz_support.h"
#include "util/record_index.h"

namespace {

// Longest line the reader takes whole, line end not counted.
constexpr size_t longest_line = 8190;

std::vector<AdifRecord*> read_records(FILE* stream) {
  std::vector<AdifRecord*> records;
  std::vector<char> line(8192);
  AdifRecord* record = nullptr;
  char* message = nullptr;
  for (;;) {
    ParseStatus status = parse_ADIF(stream, record, line.data(), 8192, message);
    std::free(message);
    message = nullptr;
    if (status == ADIF_EOR && record) {
      records.push_back(record);
      record = nullptr;
    }
    if (status == ADIF_EOH) {
      free_record(record);
      record = nullptr;
    }
    if (status == ADIF_EOF || status == ADIF_TRUNCATED) break;
  }
  free_record(record);
  return records;
}

void collect_fields(const AdifField* node, std::vector<const AdifField*>& fields) {
  if (!node) return;
  collect_fields(node->left, fields);
  fields.push_back(node);
  collect_fields(node->right, fields);
}

// Checks the index below `node`, keys between `low` and `high` (null: no
// bound); returns how many records it holds.
size_t check_index(const AdifRecord* node, const char* low, const char* high, int depth) {
  if (!node) return 0;
  FUZZ_CHECK(depth < 200);
  FUZZ_CHECK(node->call && node->call->value);
  const char* key = node->call->value;
  if (low) FUZZ_CHECK(std::strcmp(low, key) < 0);
  if (high) FUZZ_CHECK(std::strcmp(key, high) < 0);
  const AdifRecord* left = node->index_left;
  const AdifRecord* right = node->index_right;
  if (!left && !right) FUZZ_CHECK(node->index_level == 0);
  if (node->index_level > 0) FUZZ_CHECK(left && right);
  if (left) FUZZ_CHECK(left->index_level == node->index_level - 1);
  if (right) {
    FUZZ_CHECK(right->index_level == node->index_level ||
               right->index_level == node->index_level - 1);
  }
  if (right && right->index_right) FUZZ_CHECK(right->index_right->index_level < node->index_level);
  FUZZ_CHECK(node->call_count >= 1);
  return 1 + check_index(left, low, key, depth + 1) + check_index(right, key, high, depth + 1);
}

// Writes the record's fields one per line, then <EOR>, and reads it back.
void check_round_trip(const AdifRecord* record) {
  std::vector<const AdifField*> fields;
  collect_fields(record->root, fields);
  for (const AdifField* field : fields) {
    // A field whose line would be too long for the reader cannot come back.
    const char* value = field->value;
    size_t run = std::strlen(field->name) + 16;
    for (const char* c = value; *c; ++c) run = *c == '\n' ? 0 : run + 1;
    if (run > longest_line || std::strlen(field->name) + 16 > longest_line) return;
  }
  MemoryOutput written;
  FUZZ_CHECK(written.stream != nullptr);
  for (const AdifField* field : fields) {
    write_ADIF_field(written.stream, field);
    std::fputc('\n', written.stream);
  }
  std::fputs("<EOR>\n", written.stream);
  std::string text = written.text();

  MemoryInput input(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  FUZZ_CHECK(input.stream != nullptr);
  std::vector<AdifRecord*> again = read_records(input.stream);
  FUZZ_CHECK(again.size() == 1);
  std::vector<const AdifField*> fields_again;
  collect_fields(again[0]->root, fields_again);
  FUZZ_CHECK(fields_again.size() == fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    FUZZ_CHECK(std::strcmp(fields_again[i]->name, fields[i]->name) == 0);
    FUZZ_CHECK(fields_again[i]->length == fields[i]->length);
    FUZZ_CHECK(std::strcmp(fields_again[i]->value, fields[i]->value) == 0);
  }
  free_record(again[0]);

  MemoryOutput dump;
  FUZZ_CHECK(dump.stream != nullptr);
  dump_field_tree(dump.stream, record->root);
  std::string expected;
  for (const AdifField* field : fields) {
    expected += "<" + std::string(field->name) + ">" + field->value + " ";
  }
  FUZZ_CHECK(dump.text() == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryInput input(data, size);
  FUZZ_CHECK(input.stream != nullptr);
  std::vector<AdifRecord*> records = read_records(input.stream);

  AdifRecord* index = nullptr;
  std::map<std::string, AdifRecord*> first_with_call;
  std::map<std::string, int> count_of_call;
  for (AdifRecord* record : records) {
    check_round_trip(record);
    char* message = nullptr;
    index = insert_record(index, record, message);
    if (!record->call) {
      FUZZ_CHECK(message == nullptr);
      continue;
    }
    std::string call = record->call->value;
    if (first_with_call.count(call)) {
      FUZZ_CHECK(message && std::string(message) == "Duplicate callsign: " + call);
      FUZZ_CHECK(record->call_count == 0);
      FUZZ_CHECK(!record->index_left && !record->index_right && record->index_level == 0);
    } else {
      FUZZ_CHECK(message == nullptr);
      first_with_call[call] = record;
    }
    ++count_of_call[call];
    std::free(message);
  }
  FUZZ_CHECK(check_index(index, nullptr, nullptr, 0) == first_with_call.size());
  for (const auto& entry : first_with_call) {
    FUZZ_CHECK(find_record(index, entry.second) == entry.second);
    FUZZ_CHECK(entry.second->call_count == count_of_call[entry.first]);
  }
  for (AdifRecord* record : records) {
    if (record->call)
      FUZZ_CHECK(find_record(index, record) == first_with_call[record->call->value]);
  }
  for (AdifRecord* record : records) free_record(record);
  return 0;
}
