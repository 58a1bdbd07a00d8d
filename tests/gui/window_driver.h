// Drives a running Ledgerly.exe from another process, the way a user would:
// finds its windows, clicks its buttons, fills its file dialogs, reads and
// answers its message boxes and reads its controls. Texts of the other
// process are read with the wide-character messages, which Wine carries
// across processes whole.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A started Ledgerly.exe.
struct Program {
  PROCESS_INFORMATION process;  // handles owned; closed by stop_program
  HWND window;                  // its main window, null until found
};

// What a message box shows.
struct BoxContent {
  HWND box;                  // the box, null when none appeared
  std::string caption;       // title bar text
  std::string text;          // the message
  HWND owner;                // owner window, or null
  std::vector<int> buttons;  // identifiers of its buttons
  int icon_colour;           // 'R' mostly red (error), 'B' mostly blue (information), 0 unknown
};

// One child control of a window, as seen from outside.
struct ControlView {
  HWND handle;
  int id;
  std::string class_name;
  std::string text;
  DWORD style;
  DWORD extended_style;
  RECT rect;  // in the parent's client coordinates
};

// Starts `exe` with its own folder as the current one, and `argument` as
// its one argument unless it is empty, and waits for its main window (class
// " Ledgerly"); `window` stays null when none came.
Program start_program(const std::string& exe, const std::wstring& argument = L"");

// Drops the file `path` on `window` of `program` as the shell does: a
// DROPFILES block in the program's memory, handed over in WM_DROPFILES.
bool drop_file(const Program& program, const std::wstring& path);

// Waits up to `milliseconds` for the program to end; returns its exit code,
// or STILL_ACTIVE. Kills it if it is still running when `kill` is set.
DWORD wait_for_exit(Program& program, DWORD milliseconds, bool kill);

// Ends the program if it still runs and releases the handles.
void stop_program(Program& program);

// Returns the visible top-level windows of process `pid` with window class
// `class_name` (empty: any class).
std::vector<HWND> top_windows(DWORD pid, const std::string& class_name);

// Waits up to `milliseconds` for a visible dialog-class window of `pid`
// whose title is `title` (empty: any title) and that is not in `except`;
// returns it or null.
HWND wait_for_dialog(DWORD pid, const std::string& title, DWORD milliseconds,
                     const std::vector<HWND>& except = {});

// Reads a message box.
BoxContent read_box(HWND box);

// Clicks button `id` of `dialog` (posted, so a modal loop it opens does not
// block the caller) and waits up to two seconds for `dialog` to close when
// `wait_closed` is set. Returns false when the button is missing or the
// dialog stayed.
bool click_dialog_button(HWND dialog, int id, bool wait_closed = true);

// Posts a click on control `id` of `window`.
bool click_control(HWND window, int id);

// Fills the file name of an open or save dialog with `path` and presses its
// OK button. Returns false when no file-name field is found.
bool enter_file_name(HWND dialog, const std::string& path);

// Selects entry `index` (from 0) of the file-type list of an open or save
// dialog, as a user's choice does. Returns false when there is no such entry.
bool choose_file_type(HWND dialog, int index);

// Returns a window's text, read in wide characters and converted to ANSI.
std::string text_of(HWND window);

// Returns a window's text, read in wide characters and converted to UTF-8.
std::string utf8_text_of(HWND window);

// Returns a window's class name.
std::string class_of(HWND window);

// Returns the direct child windows of `window` in Z order (creation order).
std::vector<ControlView> child_controls(HWND window);

// Returns the rows of a list box of another process.
std::vector<std::string> list_box_rows(HWND list_box);

// Returns the focused window of the thread that owns `window`.
HWND focused_window(HWND window);

// Counts pixels of the screen rectangle `rect` that are strongly red and
// strongly blue.
void count_colours(const RECT& rect, int& red, int& blue);

// Counts pixels of the screen rectangle `rect` of exactly `colour`.
int count_exact_colour(const RECT& rect, COLORREF colour);

// Writes the screen rectangle `rect` as a 24-bit BMP file; false on failure.
bool save_screen_bmp(const RECT& rect, const std::string& path);

// Lets the other process run: sleeps `milliseconds`.
void pause_for(DWORD milliseconds);
