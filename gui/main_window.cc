// The main window: its class, creation, message loop, window procedure and
// controls.
#include "gui/main_window.h"

#include <shellapi.h>

#include "gui/resource.h"

namespace {

// One child control of the main window, in client-area pixels.
struct ControlSpec {
  int id;
  const char* class_name;
  const char* text;
  DWORD style;
  DWORD extended_style;
  int x, y, width, height;
};

constexpr DWORD name_box_style = WS_CHILD | WS_VISIBLE | WS_BORDER | CBS_SIMPLE | CBS_AUTOHSCROLL;
constexpr DWORD file_button_style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD button_style = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
// LBS_NOINTEGRALHEIGHT: a list box that trims itself to whole rows does so
// again each time its horizontal scroll bar comes or goes, and never grows
// back, so it would lose a row at every conversion with a wide message.
constexpr DWORD list_style =
    WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOSEL | LBS_NOINTEGRALHEIGHT;

// The controls in creation order, which is also the Tab order; ended by a
// null entry.
const ControlSpec controls[] = {
    {IDC_INPUT_NAME, "COMBOBOX", nullptr, name_box_style, 0, 20, 25, 200, 20},
    {IDC_ADIF_FILE, "BUTTON", "ADIF File", file_button_style, 0, 230, 25, 80, 25},
    {IDC_OUTPUT_NAME, "COMBOBOX", nullptr, name_box_style, 0, 20, 75, 200, 20},
    {IDC_CSV_FILE, "BUTTON", "CSV File", file_button_style, 0, 230, 75, 80, 25},
    {IDC_CONVERT, "BUTTON", "Convert", button_style, 0, 20, 125, 80, 25},
    {IDC_OPEN, "BUTTON", "Open", button_style, 0, 125, 125, 80, 25},
    {IDC_HELP, "BUTTON", "Help", button_style, 0, 230, 125, 80, 25},
    {IDC_ABOUT, "BUTTON", "About", button_style, 0, 335, 125, 80, 25},
    {IDC_EXIT, "BUTTON", "Exit", button_style, 0, 440, 125, 80, 25},
    {IDC_MESSAGES, "LISTBOX", "", list_style, WS_EX_CLIENTEDGE, 20, 175, 500, 150},
    {0, nullptr, nullptr, 0, 0, 0, 0, 0, 0},
};

}  // namespace

MainWindow::MainWindow(HINSTANCE instance)
    : instance(instance), window(nullptr), title(" Ledgerly") {}

bool MainWindow::create_window() {
  WNDCLASSA window_class{};
  window_class.style = 0;
  window_class.lpfnWndProc = main_window_proc;
  window_class.hInstance = instance;
  // Icon 0 of the file found by its bare name: the program's own icon group.
  window_class.hIcon = ExtractIconA(instance, "Ledgerly.exe", 0);
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  window_class.lpszClassName = title;
  if (!RegisterClassA(&window_class)) return false;

  window = CreateWindowExA(0, title, title, WS_VISIBLE | WS_OVERLAPPEDWINDOW, 220, 220, 545, 380,
                           nullptr, nullptr, instance, nullptr);
  if (!window) return false;
  // Logs dropped on the window are taken as chosen with "ADIF File".
  DragAcceptFiles(window, TRUE);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  return true;
}

int MainWindow::run_message_loop() {
  // IsDialogMessageA gives the plain window a dialog's keyboard handling:
  // Tab and Shift+Tab move among the WS_TABSTOP controls.
  while (GetMessageA(&message, nullptr, 0, 0)) {
    if (IsDialogMessageA(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      create_controls(window);
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      break;
    case WM_CLOSE:
      // Closing while a conversion runs asks first; the window stays meanwhile.
      if (!conversion_running()) break;
      ask_to_stop(window, IDCLOSE);
      return 0;
    case WM_SETCURSOR:
      if (!conversion_running()) break;
      SetCursor(LoadCursorA(nullptr, IDC_APPSTARTING));
      return TRUE;
    case WM_CONVERSION_PROGRESS:
      show_progress(window, static_cast<int>(wparam));
      return 0;
    case WM_DROPFILES:
      take_dropped_files(reinterpret_cast<HDROP>(wparam));
      return 0;
    case WM_CONVERSION_ENDED:
      conversion_ended(window);
      return 0;
    case WM_COMMAND:
      // Only button clicks; the combo boxes' notifications and the IDOK and
      // IDCANCEL that Enter and Escape produce go on untouched.
      if (HIWORD(wparam) == BN_CLICKED) run_command(window, LOWORD(wparam));
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void create_controls(HWND window) {
  for (const ControlSpec* row = controls; row->class_name; ++row) {
    HWND control =
        CreateWindowExA(row->extended_style, row->class_name, row->text, row->style, row->x, row->y,
                        row->width, row->height, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(row->id)), nullptr, nullptr);
    if (row->id == IDC_INPUT_NAME) front_end.input_name_box = control;
    if (row->id == IDC_OUTPUT_NAME) front_end.output_name_box = control;
    if (row->id == IDC_MESSAGES) front_end.message_list_box = control;
  }
  if (front_end.message_list_box) {
    SendMessageA(front_end.message_list_box, WM_SETFONT,
                 reinterpret_cast<WPARAM>(GetStockObject(SYSTEM_FIXED_FONT)), TRUE);
  }
}
