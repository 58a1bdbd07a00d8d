// Console output: message logs, banners, status lines, durations, the menu.
#include "util/console.h"

#include <cstdlib>
#include <cstring>

#include "util/text.h"

int32_t default_count_width = 3;
int32_t default_item_width = 0;

namespace {

// The reverse-video frame of list 2 (ECMA-48 select graphic rendition).
const char reverse_video_on[] = "\x1b[7m";
const char all_attributes_off[] = "\x1b[0m";

// The credit that opens the banner's second line.
const char banner_credit[] = "The Ledgerly authors, N0CALL";

// Widest column print_status_line honours; larger widths are cut to it so a
// wild width cannot produce a runaway write.
const int max_column_width = 99999;

struct StatusVerb {
  char letter;
  const char* verb;         // written with "%s "
  const char* preposition;  // four characters, written between spaces
};

const StatusVerb status_verbs[] = {
    {'A', "Added", " to "}, {'F', "Found", " in "}, {'P', "Replaced", " in "},
    {'R', "Read ", "from"}, {'W', "Wrote", " to "}, {0, nullptr, nullptr},
};

const StatusVerb* find_status_verb(char letter) {
  for (const StatusVerb* entry = status_verbs; entry->verb; ++entry) {
    if (entry->letter == letter) return entry;
  }
  return nullptr;
}

// Reverses the chain starting at `head` in place and returns its new head.
MessageLine* reverse_chain(MessageLine* head) {
  MessageLine* reversed = nullptr;
  while (head) {
    MessageLine* next = head->next;
    head->next = reversed;
    reversed = head;
    head = next;
  }
  return reversed;
}

void print_one_list(FILE* stream, MessageLine* head, bool highlight) {
  if (!head) return;
  if (highlight) std::fprintf(stream, "\a%s", reverse_video_on);
  int printed = print_message_list(stream, head);
  if (highlight) std::fprintf(stream, "%s", all_attributes_off);
  head->count = printed;
  if (printed != 0) std::fprintf(stream, "\n");
}

// Prints the lists of `log` in the order of `lists`; list 2 is framed in
// reverse video when `highlight` is set.
void print_lists(FILE* stream, MessageLog& log, const int (&lists)[3], bool highlight) {
  for (int list : lists) print_one_list(stream, log.lists[list], highlight && list == 2);
}

int clamp_width(int width) {
  if (width > max_column_width) return max_column_width;
  if (width < -max_column_width) return -max_column_width;
  return width;
}

const char* plural(int number) { return number == 1 ? "" : "s"; }

}  // namespace

int print_message_list(FILE* stream, MessageLine* newest) {
  if (!newest) return 0;
  // The chain runs newest first; turning it round for the walk and back
  // afterwards prints oldest first without memory of its own, at any length.
  MessageLine* oldest = reverse_chain(newest);
  int printed = 0;
  for (MessageLine* line = oldest; line; line = line->next) {
    std::fprintf(stream, "%s\n", line->text);
    ++printed;
  }
  reverse_chain(oldest);
  return printed;
}

void print_message_log(FILE* stream, MessageLog& log) {
  static const int order[3] = {0, 1, 2};
  print_lists(stream, log, order, true);
}

void print_message_log_reversed(FILE* stream, MessageLog& log) {
  static const int order[3] = {2, 1, 0};
  print_lists(stream, log, order, true);
}

void print_message_log_plain(FILE* stream, MessageLog& log) {
  static const int order[3] = {2, 1, 0};
  print_lists(stream, log, order, false);
}

void print_rule(FILE* stream, char end, char fill, uint32_t count) {
  std::fprintf(stream, "%c", end);
  for (uint32_t i = 0; i < count; ++i) std::fprintf(stream, "%c", fill);
  std::fprintf(stream, "%c", end);
}

void print_banner(FILE* stream, const char* name, const char* id_text) {
  // The words are split from a copy; without memory for it they show empty.
  char* copy = id_text ? static_cast<char*>(std::malloc(std::strlen(id_text) + 1)) : nullptr;
  if (copy) std::strcpy(copy, id_text);
  IdentificationWords words = split_identification_text(copy);

  char lines[2][256];
  std::snprintf(lines[0], sizeof lines[0], "%s - Version %s", name ? name : "", words.version);
  std::snprintf(lines[1], sizeof lines[1], "%s - %s %s", banner_credit, words.date, words.time);
  std::free(copy);

  size_t lengths[2] = {std::strlen(lines[0]), std::strlen(lines[1])};
  size_t width = (lengths[0] > lengths[1] ? lengths[0] : lengths[1]) + 2;

  std::fprintf(stream, "\n");
  print_rule(stream, '+', '-', static_cast<uint32_t>(width + 2));
  std::fprintf(stream, "\n");
  for (int row = 0; row < 2; ++row) {
    std::fprintf(stream, "|  %s", lines[row]);
    for (size_t pad = lengths[row]; pad < width; ++pad) std::fprintf(stream, " ");
    std::fprintf(stream, "|\n");
  }
  print_rule(stream, '+', '-', static_cast<uint32_t>(width + 2));
  std::fprintf(stream, "\n");
}

void print_status_line(FILE* stream, char verb, const char* lead, int count, int count_width,
                       const char* item, int item_width, const char* object, const char* tail) {
  if (count_width < 0) count_width = default_count_width;
  if (item_width < 0) item_width = default_item_width;
  count_width = clamp_width(count_width);
  item_width = clamp_width(item_width);
  const StatusVerb* entry = find_status_verb(verb);

  if (lead && *lead) std::fprintf(stream, "%s", lead);
  if (entry) std::fprintf(stream, "%s ", entry->verb);
  // A width of 0 or less leaves the count as wide as it is; a negative item
  // width left-aligns the item in as many columns as its size.
  if (count_width > 0) {
    std::fprintf(stream, "%*d", count_width, count);
  } else {
    std::fprintf(stream, "%d", count);
  }
  std::fprintf(stream, " %*s", item_width, item ? item : "");
  if (object && entry) std::fprintf(stream, " %s %s", entry->preposition, object);
  if (tail && *tail) std::fprintf(stream, "%s", tail);
}

void print_added(FILE* stream, const char* lead, int count, int count_width, const char* item,
                 int item_width, const char* object, const char* tail) {
  print_status_line(stream, 'A', lead, count, count_width, item, item_width, object, tail);
}

void print_found(FILE* stream, const char* lead, int count, int count_width, const char* item,
                 int item_width, const char* object, const char* tail) {
  print_status_line(stream, 'F', lead, count, count_width, item, item_width, object, tail);
}

void print_read(FILE* stream, const char* lead, int count, int count_width, const char* item,
                int item_width, const char* object, const char* tail) {
  print_status_line(stream, 'R', lead, count, count_width, item, item_width, object, tail);
}

void print_replaced(FILE* stream, const char* lead, int count, int count_width, const char* item,
                    int item_width, const char* object, const char* tail) {
  print_status_line(stream, 'P', lead, count, count_width, item, item_width, object, tail);
}

void print_wrote(FILE* stream, const char* lead, int count, int count_width, const char* item,
                 int item_width, const char* object, const char* tail) {
  print_status_line(stream, 'W', lead, count, count_width, item, item_width, object, tail);
}

void print_duration(FILE* stream, int32_t seconds) {
  int hours = seconds / 3600;
  int rest = seconds - hours * 3600;
  int minutes = rest / 60;
  int secs = rest - minutes * 60;
  if (hours != 0) {
    std::fprintf(stream, "%d hour%s, %d minute%s", hours, plural(hours), minutes, plural(minutes));
  } else if (minutes != 0) {
    std::fprintf(stream, "%d minute%s, %d second%s", minutes, plural(minutes), secs, plural(secs));
  } else {
    std::fprintf(stream, "%d second%s", secs, plural(secs));
  }
}

int select_from_menu_on(FILE* input, FILE* output, const char* what, int count) {
  for (;;) {
    std::fprintf(output, "Select %s (0 to exit): ", what ? what : "");
    std::fflush(output);
    // At most 7 characters per read: the rest of a longer line is the next answer.
    char answer[8];
    if (!std::fgets(answer, sizeof answer, input)) return -1;
    if (answer[0] < '0' || answer[0] > '9') continue;
    int choice = std::atoi(answer) - 1;
    if (choice == -1) return -1;
    if (choice < count) return choice;
  }
}

int select_from_menu(const char* what, int count) {
  return select_from_menu_on(stdin, stdout, what, count);
}
