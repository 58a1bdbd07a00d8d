// The window front end of Ledgerly.exe: the main window, its ten controls and
// the seven commands (choose the ADIF file, choose the CSV file, Convert,
// Open, Help, About, Exit), with the state they share.
#pragma once

// <windows.h> must come before the other Windows headers.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>

#include "convert/convert.h"

// Bytes of a file path and of a composed message-box text.
constexpr int path_bytes = 260;
// Bytes of a text loaded from the string table (at most 79 characters used)
// and of the About box's version line.
constexpr int string_bytes = 80;

// Messages of the conversion's thread to the main window: progress (the
// percent in wParam), and its end.
constexpr UINT WM_CONVERSION_PROGRESS = WM_APP + 1;
constexpr UINT WM_CONVERSION_ENDED = WM_APP + 2;

struct ConversionJob;

// The save dialog's file types, by its nFilterIndex: CSV files, Excel
// workbooks, all files.
constexpr int output_type_csv = 1;
constexpr int output_type_workbook = 2;
constexpr int output_type_any = 3;

// What the commands share for the life of the process: zero at start.
struct FrontEnd {
  char input_path[path_bytes];   // chosen ADIF file, in UTF-8
  char output_path[path_bytes];  // chosen or derived CSV file, in UTF-8
  int converted;                 // 1 after a Convert got past its checks; 0 after a file button
  int output_type;               // type chosen with the output in the save dialog; 0: derived
  HWND input_name_box;           // combo box showing the input file's name
  HWND output_name_box;          // combo box showing the output file's name
  HWND message_list_box;         // list box showing the conversion's messages
  char* revision;                // revision text for the About box, made on first use
  HANDLE worker;                 // the thread of the running conversion, or null
  ConversionJob* job;            // what that thread works on (owned)
  int asking;                    // 1 while the question whether to stop it is up
  int ended;                     // 1 when it ended while the question was up
  int leaving;                   // IDC_EXIT or IDCLOSE once the user chose to stop it and leave
};

// The one front-end state of the process.
extern FrontEnd front_end;

// The top-level window: registers its class, creates it and runs the loop.
class MainWindow {
 public:
  // Stores `instance`; the window does not exist yet.
  explicit MainWindow(HINSTANCE instance);
  // Registers the class " Ledgerly" and creates, shows and paints the window
  // (WM_CREATE makes the controls). Returns false when either step fails.
  bool create_window();
  // Runs the message loop, with dialog-box keyboard handling, until WM_QUIT;
  // returns the quit message's code.
  int run_message_loop();

  HINSTANCE instance;  // module of the program
  HWND window;         // the top-level window, null until created
  MSG message;         // the message the loop works on
  const char* title;   // class name and title: " Ledgerly"
};

// The window procedure of the main window: makes the controls on WM_CREATE,
// posts the quit message on WM_DESTROY, runs a button's command on its
// BN_CLICKED; every message then goes on to DefWindowProcA.
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Creates the ten controls of `window` in Tab order and keeps the three
// handles in front_end; the list box gets the stock fixed-pitch font.
void create_controls(HWND window);

// Runs the command of button `command` (an IDC_ identifier); `window` owns
// the About box. Returns false for an identifier that is not a command.
bool run_command(HWND window, int command);

// The "ADIF File" command: clears `converted`, then lets the user choose the
// input file in the open dialog and derives the output from it.
void choose_ADIF_file();

// The "CSV File" command: clears `converted`, then lets the user choose the
// output file in the save dialog.
void choose_CSV_file();

// Takes `path` as the input file, as if chosen in the open dialog: clears
// `converted` and, when the path fits, sets it and derives the output.
void take_input_file(const char* path);

// WM_DROPFILES: takes the first file dropped on the window as the input,
// unless a conversion runs; releases `drop`.
void take_dropped_files(HDROP drop);

// Takes the file named by the program's first argument ("Open with", "Send
// to"), made a full path, as the input; nothing without one.
void take_command_line_file();

// Runs the open (or, with `save`, the save) dialog in UTF-16 over `path`, a
// UTF-8 path of path_bytes, with the ANSI `filter` of `filter_size` bytes,
// starting on file type `filter_index`. On a choice that fits, `path` holds
// it in UTF-8, `filter_index` the type chosen, and true is returned.
bool run_file_dialog(bool save, const char* filter, size_t filter_size, char* path,
                     const char* title, DWORD flags, const char* extension, DWORD& filter_index);

// Shows the file name of the UTF-8 `path` in `box`, as far as the box can.
void show_name(HWND box, const char* path);

// Shows a message box of the UTF-8 `text` and `caption`; returns the button
// pressed.
int message_box(HWND owner, const char* text, const char* caption, UINT type);

// After a successful input choice: shows the input file's name, derives the
// output path from it (left empty, and its box blank, when the derived path
// does not fit path_bytes) and shows its name.
void input_file_chosen();

// Returns true when `path` does not exist or the user agrees, in the
// replace question, that it be replaced.
bool may_replace(const char* path);

// After a successful output choice: shows the output file's name.
void output_file_chosen();

// Writes into `output` (path_bytes) the output path for `input`: its
// extension replaced by .CSV, or by .xlsx once the user chose workbooks in
// the save dialog. Left empty when it does not fit.
void derive_output_path(const char* input, char* output);

// Gives the file name of `path` (path_bytes) the extension of output type
// `type` when it has none or that of the other output type. Returns false,
// leaving `path` as it was, when the result does not fit.
bool give_type_extension(char* path, int type);

// Returns the format that `output_path` is written in: the type chosen in the
// save dialog (`output_type`), else what its extension says.
OutputFormat chosen_format(const char* output_path, int output_type);

// Returns the output type last chosen in the save dialog by this user (kept
// in the registry), output_type_csv when none was.
int remembered_output_type();

// Keeps `type` as this user's last output type.
void remember_output_type(int type);

// Returns the part of `path` after its last backslash, or all of it; a view
// into `path`.
const char* file_name_part(const char* path);

// The Convert command: the checks, then the conversion started on its own
// thread; `window` hears of its progress and end.
void convert_command(HWND window);

// Shows what a conversion that ended found: the list box, the box that says
// why it failed or the "Done" box, then `converted` set unless it failed.
void show_conversion_result(const MessageLog& log, const ConversionResult& result);

// Returns true while a conversion runs on its thread.
bool conversion_running();

// Starts the conversion of the chosen paths on a thread of its own: every
// button but Exit disabled, the busy cursor, the progress in the title.
void start_conversion(HWND window);

// Shows `percent` of the running conversion in the title of `window`.
void show_progress(HWND window, int percent);

// After the conversion's thread has ended: waits for it, gives the window
// back its title and buttons, then shows the result, or leaves (`leaving`).
// Held back while the question whether to stop is up.
void conversion_ended(HWND window);

// Asks, in a box owned by `window`, whether to stop the running conversion;
// on yes, stops it and, once it has ended, leaves as `leaving` says (IDC_EXIT:
// quit; IDCLOSE: destroy the window).
void ask_to_stop(HWND window, int leaving);

// Returns the IDS_ string for a Convert without an input path, then without
// an output path, or 0 when both are given.
int check_conversion_paths(const char* input_path, const char* output_path);

// Converts the log at `input_path` into `output_path` in `format` through the conversion path both
// programs share; every message of both passes goes to `sink`.
ConversionResult convert_files(const char* input_path, const char* output_path, OutputFormat format,
                               MessageSink& sink);

// Returns the IDS_ string that tells the user why the conversion failed, in
// the words of compose_failure_sentence: for the output's format (see
// chosen_format, from front_end) and the kind of log.
int failure_string(const ConversionResult& result);

// Shows why the conversion failed in an error box: the failure's string, or,
// for an output held open by another program, that it is.
void show_failure(const ConversionResult& result);

// Returns true when another program has the existing file `path` open in a
// way that keeps it from being replaced (a sharing violation).
bool file_in_use(const char* path);

// Writes the save dialog's filter into `filter` (3 * string_bytes bytes): CSV
// files, Excel workbooks (string IDS_WORKBOOK_FILES), all files. Returns its
// size.
size_t output_filter(char* filter);

// Empties the list box and shows `log` in it: lists 2, 1 and 0, each oldest
// first and followed by one empty row when it has lines. The horizontal
// extent becomes 450 pixels, or more where a line needs it.
void show_message_log(const MessageLog& log);

// Adds the lines of one message list, given by its newest line, to the list
// box oldest first, widening its horizontal extent to 8 pixels a character
// where a line needs it. Returns the number of lines added.
int fill_message_list(const MessageLine* newest);

// The Open command: opens the converted CSV file in its associated program,
// or says why not.
void open_command();

// The Help command: opens the help page README.txt beside the program, or,
// when there is none, the web page (string IDS_WEB_PAGE) in the browser.
void help_command();

// Writes the path of README.txt beside the program into `path` (`size`
// characters); false when it does not fit.
bool help_page_path(wchar_t* path, size_t size);

// The About command: name, version line and notice in a box owned by
// `window`.
void about_command(HWND window);

// Writes the About box's text (name, version line, notice on three lines)
// into `text` of path_bytes bytes.
void compose_about_text(char* text);

// Returns the revision number ("2.2"), made on first use and kept for the
// life of the process.
const char* revision_string();

// Loads string `id` of the program's own module into `text` (string_bytes
// bytes, at most 79 characters); an unknown id leaves it empty.
void load_string(int id, char* text);

// Shows string `id` in a box with the caption "Error", the error icon and no
// owner window.
void show_error(int id);
