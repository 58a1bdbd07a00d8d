// Console output of the companion library: message logs with list 2 in
// reverse video, boxed banners, aligned status lines, durations in words and
// a numbered console menu. Everything is written with formatted printing; no
// routine writes a line end unless its comment says so.
#pragma once

#include <cstdint>
#include <cstdio>

#include "convert/convert.h"

// Width of the count column when print_status_line is given a negative width.
extern int32_t default_count_width;
// Width of the item column when print_status_line is given a negative width.
extern int32_t default_item_width;

// Writes the list whose newest line is `newest` (may be null) oldest first,
// each text followed by "\n"; returns the number of lines written. The list
// is left exactly as it was.
int print_message_list(FILE* stream, MessageLine* newest);

// Writes lists 0, 1 and 2 of `log`; list 2 is framed by a bell, ESC "[7m" and
// ESC "[0m". An empty line follows each non-empty list, whose newest line's
// `count` becomes the number of lines written. Empty lists write nothing.
void print_message_log(FILE* stream, MessageLog& log);

// As print_message_log, in the list order 2, 1, 0 (the window's order).
void print_message_log_reversed(FILE* stream, MessageLog& log);

// As print_message_log_reversed without the bell and escape sequences: the
// plain form for streams that are not terminals.
void print_message_log_plain(FILE* stream, MessageLog& log);

// Writes `end`, `fill` `count` times, then `end`.
void print_rule(FILE* stream, char end, char fill, uint32_t count);

// Writes a line end, then a box of two lines: "`name` - Version <version>"
// and the authors' credit with date and time, the words 3, 4 and 5 of the
// identification text `id_text` (missing words are shown empty). Ends with a
// line end.
void print_banner(FILE* stream, const char* name, const char* id_text);

// Writes one status report: `lead`, the verb of `verb` ('A', 'F', 'P', 'R' or
// 'W'), `count` right-aligned in `count_width` columns, a space and `item`
// in `item_width` columns (negative: left-aligned), then the preposition and
// `object`, then `tail`. Negative widths take the module settings; lead,
// object and tail may be null. Another verb letter writes neither verb nor
// preposition nor object.
void print_status_line(FILE* stream, char verb, const char* lead, int count, int count_width,
                       const char* item, int item_width, const char* object, const char* tail);

// print_status_line with the verb "Added" and the preposition " to ".
void print_added(FILE* stream, const char* lead, int count, int count_width, const char* item,
                 int item_width, const char* object, const char* tail);
// print_status_line with the verb "Found" and the preposition " in ".
void print_found(FILE* stream, const char* lead, int count, int count_width, const char* item,
                 int item_width, const char* object, const char* tail);
// print_status_line with the verb "Read " and the preposition "from".
void print_read(FILE* stream, const char* lead, int count, int count_width, const char* item,
                int item_width, const char* object, const char* tail);
// print_status_line with the verb "Replaced" and the preposition " in ".
void print_replaced(FILE* stream, const char* lead, int count, int count_width, const char* item,
                    int item_width, const char* object, const char* tail);
// print_status_line with the verb "Wrote" and the preposition " to ".
void print_wrote(FILE* stream, const char* lead, int count, int count_width, const char* item,
                 int item_width, const char* object, const char* tail);

// Writes `seconds` in words: hours and minutes, minutes and seconds, or
// seconds alone, as in "1 hour, 2 minutes".
void print_duration(FILE* stream, int32_t seconds);

// Asks on standard output "Select `what` (0 to exit): " until standard input
// gives a number from 0 to `count`; returns the number minus 1 (so 0, or the
// end of standard input, gives -1 for exit).
int select_from_menu(const char* what, int count);

// select_from_menu reading the answers from `input` and prompting on `output`.
int select_from_menu_on(FILE* input, FILE* output, const char* what, int count);
