// Fuzz harness for the ADIF line reader: arbitrary bytes read line by line
// through a memory stream, with the caller's buffer at its usual 8192 bytes
// and again at a small size picked by the input, so that over-long lines and
// values joined over many reads come up with short inputs.
//
// Checked after every call: the status is one of the five; every field of the
// pending record holds exactly its declared length (strlen(value) == length)
// and is a run of the input's bytes; names are upper-cased; the field tree is
// a valid AA tree in strcmp order; the shortcut slots hold fields of their
// names; a message is a truncation or a duplicate-field text; every call but
// the last moves the stream on, and the last leaves it at the end. Then the
// block reader, which a conversion uses, reads the same input: it must give
// the same records with the same values and end the same way.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "adif/adif.h"
#include "adif/adif_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Source {
  const char* bytes;  // the input
  size_t size;
  bool has_nul;  // values are runs of the input only when no NUL was dropped
};

// Checks the subtree at `node` and returns its field count; names in it must
// sort after `low` and before `high` (either may be null: no bound).
size_t check_tree(const AdifField* node, const char* low, const char* high, const Source& source,
                  int depth) {
  if (!node) return 0;
  FUZZ_CHECK(depth < 200);
  FUZZ_CHECK(node->name && node->value);
  FUZZ_CHECK(node->length >= 0);
  FUZZ_CHECK(std::strlen(node->value) == static_cast<size_t>(node->length));
  for (const char* c = node->name; *c; ++c) {
    FUZZ_CHECK(!(*c >= 'a' && *c <= 'z'));
    FUZZ_CHECK(*c != ':' && *c != '>' && *c != '\n');
  }
  if (!source.has_nul && node->length > 0) {
    FUZZ_CHECK(memmem(source.bytes, source.size, node->value, node->length) != nullptr);
  }
  if (low) FUZZ_CHECK(std::strcmp(low, node->name) < 0);
  if (high) FUZZ_CHECK(std::strcmp(node->name, high) < 0);

  // AA tree, leaves at level 0.
  const AdifField* left = node->left;
  const AdifField* right = node->right;
  if (!left && !right) FUZZ_CHECK(node->level == 0);
  if (node->level > 0) FUZZ_CHECK(left && right);
  if (left) FUZZ_CHECK(left->level == node->level - 1);
  if (right) FUZZ_CHECK(right->level == node->level || right->level == node->level - 1);
  if (right && right->right) FUZZ_CHECK(right->right->level < node->level);

  FUZZ_CHECK(find_field(const_cast<AdifField*>(node), node->name) == node);
  return 1 + check_tree(left, low, node->name, source, depth + 1) +
         check_tree(right, node->name, high, source, depth + 1);
}

void check_slot(const AdifRecord* record, const AdifField* slot, const char* name) {
  if (!slot) return;
  FUZZ_CHECK(std::strcmp(slot->name, name) == 0);
  FUZZ_CHECK(std::strlen(slot->value) == static_cast<size_t>(slot->length));
  FUZZ_CHECK(find_field(record->root, name) != nullptr);
}

void check_record(const AdifRecord* record, const Source& source) {
  FUZZ_CHECK(record->root != nullptr);  // a record starts with its first field
  check_tree(record->root, nullptr, nullptr, source, 0);
  check_slot(record, record->call, "CALL");
  check_slot(record, record->dxcc, "DXCC");
  check_slot(record, record->qso_date, "QSO_DATE");
  check_slot(record, record->time_on, "TIME_ON");
  check_slot(record, record->band, "BAND");
  check_slot(record, record->mode, "MODE");
  check_slot(record, record->submode, "SUBMODE");
  FUZZ_CHECK(record->call_count == 0 && record->index_level == 0);
  FUZZ_CHECK(!record->index_left && !record->index_right);
}

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

void check_message(const char* message, ParseStatus status, int size) {
  static const char truncated[] = "ERROR: Truncated input line: ";
  if (status == ADIF_TRUNCATED && starts_with(message, "The log ends inside the value of <")) {
    return;
  }
  if (status == ADIF_TRUNCATED) {
    FUZZ_CHECK(starts_with(message, truncated));
    FUZZ_CHECK(std::strlen(message) <= sizeof truncated - 1 + static_cast<size_t>(size - 1));
  } else {
    FUZZ_CHECK(starts_with(message, "Duplicate field: <"));
  }
}

void read_all(const uint8_t* data, size_t size, int buffer_size) {
  MemoryInput input(data, size);
  FUZZ_CHECK(input.stream != nullptr);
  Source source{reinterpret_cast<const char*>(data), size, size && memchr(data, 0, size)};
  std::vector<char> line(static_cast<size_t>(buffer_size));
  AdifRecord* record = nullptr;
  char* message = nullptr;
  size_t calls = 0;
  for (;;) {
    long before = std::ftell(input.stream);
    ParseStatus status = parse_ADIF(input.stream, record, line.data(), buffer_size, message);
    FUZZ_CHECK(status >= ADIF_CONTINUE && status <= ADIF_TRUNCATED);
    if (status == ADIF_TRUNCATED) FUZZ_CHECK(message != nullptr);
    if (message) {
      check_message(message, status, buffer_size);
      std::free(message);
      message = nullptr;
    }
    if (record) check_record(record, source);
    if (status == ADIF_EOF) break;
    // Every other status read at least one byte, so the loop ends.
    FUZZ_CHECK(std::ftell(input.stream) > before);
    FUZZ_CHECK(++calls <= size);
    if (status == ADIF_EOH || status == ADIF_EOR) {
      free_record(record);
      record = nullptr;
    }
  }
  FUZZ_CHECK(std::ftell(input.stream) == static_cast<long>(size));
  FUZZ_CHECK(parse_ADIF(input.stream, record, line.data(), buffer_size, message) == ADIF_EOF);
  FUZZ_CHECK(message == nullptr);
  free_record(record);
}

// A record as text: "NAME=value" of each name's first field, in name order.
std::string record_text(const AdifRecord* record) {
  std::vector<std::string> fields;
  std::vector<const AdifField*> pending;
  if (record->root) pending.push_back(record->root);
  while (!pending.empty()) {  // the tree, any order
    const AdifField* field = pending.back();
    pending.pop_back();
    fields.push_back(std::string(field->name) + "=" + field->value);
    if (field->left) pending.push_back(field->left);
    if (field->right) pending.push_back(field->right);
  }
  for (const AdifField* field = record->fields; field; field = field->next) {
    fields.push_back(std::string(field->name) + "=" + field->value);
  }
  std::sort(fields.begin(), fields.end());
  std::string text;
  for (const std::string& field : fields) text += field + '\x1f';
  return text;
}

// The records and ends of header of `data` ("H" for each <EOH>), then how
// the reading ended, read by the block reader or by parse_ADIF.
std::vector<std::string> reading_of(const uint8_t* data, size_t size, bool block) {
  MemoryInput input(data, size);
  FUZZ_CHECK(input.stream != nullptr);
  AdifReader reader{};
  if (block) FUZZ_CHECK(adif_reader_open(reader, input.stream, TEXT_BYTES));
  std::vector<char> line(8192);
  std::vector<std::string> seen;
  AdifRecord* record = nullptr;
  ParseStatus status;
  do {
    char* message = nullptr;
    status = block ? read_ADIF(reader, record, message)
                   : parse_ADIF(input.stream, record, line.data(), 8192, message);
    std::free(message);
    if (status == ADIF_EOR && record) seen.push_back(record_text(record));
    if (status == ADIF_EOH) seen.push_back("H");
    if (status == ADIF_EOR || status == ADIF_EOH) {
      free_record(record);
      record = nullptr;
    }
  } while (status == ADIF_CONTINUE || status == ADIF_EOH || status == ADIF_EOR);
  seen.push_back(status == ADIF_EOF ? "EOF" : "TRUNCATED");
  free_record(record);
  if (block) adif_reader_close(reader);
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FUZZ_CHECK(reading_of(data, size, true) == reading_of(data, size, false));
  read_all(data, size, 8192);
  read_all(data, size, 2 + (size ? data[0] % 40 : 0));
  return 0;
}
