// Fuzz harness for the ADX reader: arbitrary bytes read as an ADX document
// through a memory stream, with the encoding a caller's sniffing passes
// (UTF-16LE or UTF-16BE when the bytes start with `<` as UTF-16 text).
//
// Checked after every call: the status is one the reader returns; every field
// holds exactly its length (XML text has no NUL), names hold no lower-case
// ASCII letter, the tree is in strcmp order and finds each field by its name;
// CONTINUE comes with a duplicate-field message and a pending record, EOH and
// EOR with no message, TRUNCATED with the malformed-log message and no
// record; memory never runs out; calls after the end return EOF; and a
// restart reads the same records and messages again.
#include <cstdlib>
#include <cstring>
#include <string>

#include "adif/adx_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Checks the subtree at `node` (names between `low` and `high`, either null
// for no bound) and appends its fields to `text` in name order.
void check_tree(const AdifField* root, const AdifField* node, const char* low, const char* high,
                std::string& text) {
  if (!node) return;
  FUZZ_CHECK(node->name && node->value && node->length >= 0);
  FUZZ_CHECK(std::strlen(node->value) == static_cast<size_t>(node->length));
  for (const char* c = node->name; *c; ++c) FUZZ_CHECK(!(*c >= 'a' && *c <= 'z'));
  if (low) FUZZ_CHECK(std::strcmp(low, node->name) < 0);
  if (high) FUZZ_CHECK(std::strcmp(node->name, high) < 0);
  FUZZ_CHECK(find_field(const_cast<AdifField*>(root), node->name) == node);
  check_tree(root, node->left, low, node->name, text);
  text.append(node->name).append("=").append(node->value, node->length).append("\n");
  check_tree(root, node->right, node->name, high, text);
}

// Reads the document to its end and returns what each call gave, as text.
std::string read_pass(AdxReader* reader) {
  std::string events;
  AdifRecord* record = nullptr;
  char* message = nullptr;
  for (;;) {
    ParseStatus status = adx_read(reader, record, message);
    events += static_cast<char>('0' + status);
    switch (status) {
      case ADIF_CONTINUE:
        FUZZ_CHECK(message && starts_with(message, "Duplicate field: <"));
        FUZZ_CHECK(record != nullptr);
        break;
      case ADIF_EOH:
      case ADIF_EOR:
      case ADIF_EOF:
        FUZZ_CHECK(message == nullptr);
        break;
      case ADIF_TRUNCATED:
        FUZZ_CHECK(message && starts_with(message, "ERROR: Malformed ADX log at line "));
        break;
      default:
        fuzz_failed("a status adx_read never returns", __FILE__, __LINE__);
    }
    if (message) events.append(message).append("\n");
    std::free(message);
    message = nullptr;
    if (record) check_tree(record->root, record->root, nullptr, nullptr, events);
    if (status == ADIF_EOH || status == ADIF_EOR) {
      free_record(record);
      record = nullptr;
    }
    if (status == ADIF_EOF || status == ADIF_TRUNCATED) break;
  }
  FUZZ_CHECK(record == nullptr);
  FUZZ_CHECK(!adx_out_of_memory(reader));
  FUZZ_CHECK(adx_read(reader, record, message) == ADIF_EOF);
  FUZZ_CHECK(record == nullptr && message == nullptr);
  return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  looks_like_ADX(bytes, size);
  const char* encoding = nullptr;
  if (size >= 2 && bytes[0] == '<' && bytes[1] == '\0') encoding = "UTF-16LE";
  if (size >= 2 && bytes[0] == '\0' && bytes[1] == '<') encoding = "UTF-16BE";

  MemoryInput input(data, size);
  FUZZ_CHECK(input.stream != nullptr);
  AdxReader* reader = adx_open(input.stream, encoding);
  FUZZ_CHECK(reader != nullptr);
  std::string first = read_pass(reader);
  FUZZ_CHECK(adx_restart(reader));
  FUZZ_CHECK(read_pass(reader) == first);
  adx_close(reader);
  return 0;
}
