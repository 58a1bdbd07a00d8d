// The message log: lists of texts pushed at the head, read oldest first.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "convert/convert.h"

namespace {

// Longest composed record message, terminator included.
constexpr size_t record_message_bytes = 80;

// The value of `field`, or null when there is none or it is empty.
const char* value_of(const AdifField* field) {
  return field && field->value && field->value[0] ? field->value : nullptr;
}

// Appends as much of `part` as fits to the `at` bytes of `composed` (of
// record_message_bytes, its NUL included); returns its new length.
size_t append_part(char* composed, size_t at, const char* part) {
  size_t length = std::strlen(part);
  size_t room = record_message_bytes - 1 - at;
  if (length > room) length = room;
  std::memcpy(composed + at, part, length);
  return at + length;
}

}  // namespace

bool add_message(int list, MessageLog& log, const char* text) {
  if (list < 0 || list > 2 || !text) return true;
  auto* line = static_cast<MessageLine*>(std::calloc(1, sizeof(MessageLine)));
  if (!line) return false;
  size_t length = std::strlen(text);
  line->text = static_cast<char*>(std::malloc(length + 1));
  if (!line->text) {
    std::free(line);
    return false;
  }
  std::memcpy(line->text, text, length + 1);
  line->next = log.lists[list];
  log.lists[list] = line;
  return true;
}

const char* compose_record_message(const AdifRecord* record, const char* text, char* composed) {
  if (!record || std::strstr(text, "Truncated")) return text;
  const char* call = value_of(record->call);
  const char* date = value_of(record->qso_date);
  const char* time = value_of(record->time_on);
  if (!call && !date && !time) return text;
  // "CALL on DATE at TIME: text", without the parts the record lacks: one
  // for every duplicate of a log that repeats a field in each record, too
  // many for printf.
  size_t at = append_part(composed, 0, call ? call : "QSO");
  if (date) at = append_part(composed, append_part(composed, at, " on "), date);
  if (time) at = append_part(composed, append_part(composed, at, " at "), time);
  at = append_part(composed, append_part(composed, at, ": "), text);
  composed[at] = '\0';
  return composed;
}

bool add_record_message(MessageLog& log, const AdifRecord* record, const char* text) {
  if (!text) return true;
  char composed[record_message_bytes];
  return add_message(2, log, compose_record_message(record, text, composed));
}

bool compose_recovery_summary(const ValueReadings& readings, int kind, char* text, size_t size) {
  long long values = kind == 0 ? readings.counted_values : readings.near_values;
  long long records = kind == 0 ? readings.counted_records : readings.near_records;
  if (values <= 0) return false;
  const char* how = kind == 0 ? "counted in characters" : "one or two bytes off";
  std::snprintf(text, size, "%lld value%s in %lld record%s had %s %s and %s read whole", values,
                values == 1 ? "" : "s", records, records == 1 ? "" : "s",
                values == 1 ? "a length" : "lengths", how, values == 1 ? "was" : "were");
  return true;
}

void free_message_log(MessageLog& log) {
  for (MessageLine*& head : log.lists) {
    while (head) {
      MessageLine* older = head->next;
      std::free(head->text);
      std::free(head);
      head = older;
    }
  }
}
