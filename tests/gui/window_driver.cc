// Finding, reading and working the windows of a running Ledgerly.exe.
#include "tests/gui/window_driver.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr DWORD poll_step = 50;
constexpr UINT send_timeout = 5000;

std::string narrow(const wchar_t* text, UINT code_page = CP_ACP) {
  int size = WideCharToMultiByte(code_page, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return "";
  std::string result(size - 1, '\0');
  WideCharToMultiByte(code_page, 0, text, -1, &result[0], size, nullptr, nullptr);
  return result;
}

std::wstring widen(const std::string& text) {
  int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 1) return L"";
  std::wstring result(size - 1, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &result[0], size);
  return result;
}

struct WindowSearch {
  DWORD pid;
  std::string class_name;
  std::vector<HWND> found;
};

BOOL CALLBACK collect_window(HWND window, LPARAM data) {
  WindowSearch& search = *reinterpret_cast<WindowSearch*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search.pid || !IsWindowVisible(window)) return TRUE;
  if (!search.class_name.empty() && class_of(window) != search.class_name) return TRUE;
  search.found.push_back(window);
  return TRUE;
}

BOOL CALLBACK collect_child(HWND window, LPARAM data) {
  reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
  return TRUE;
}

}  // namespace

void pause_for(DWORD milliseconds) { Sleep(milliseconds); }

namespace {

std::string text_in(HWND window, UINT code_page) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, send_timeout,
                           &length)) {
    return "";
  }
  std::unique_ptr<wchar_t[]> text(new wchar_t[length + 2]());
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.get()),
                      SMTO_ABORTIFHUNG, send_timeout, &copied);
  return narrow(text.get(), code_page);
}

}  // namespace

std::string text_of(HWND window) { return text_in(window, CP_ACP); }

std::string utf8_text_of(HWND window) { return text_in(window, CP_UTF8); }

std::string class_of(HWND window) {
  wchar_t name[256] = L"";
  GetClassNameW(window, name, 256);
  return narrow(name);
}

std::vector<HWND> top_windows(DWORD pid, const std::string& class_name) {
  WindowSearch search{pid, class_name, {}};
  EnumWindows(collect_window, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

Program start_program(const std::string& exe, const std::wstring& argument) {
  Program program{};
  std::wstring wide_exe = widen(exe);
  std::wstring folder = wide_exe.substr(0, wide_exe.find_last_of(L"\\/") + 1);
  std::wstring command = L"\"" + wide_exe + L"\"";
  if (!argument.empty()) command += L" \"" + argument + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(wide_exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &program.process)) {
    return program;
  }
  WaitForInputIdle(program.process.hProcess, 10000);
  for (DWORD waited = 0; waited < 20000 && !program.window; waited += poll_step) {
    std::vector<HWND> windows = top_windows(program.process.dwProcessId, " Ledgerly");
    if (!windows.empty()) {
      program.window = windows.front();
    } else {
      Sleep(poll_step);
    }
  }
  pause_for(300);  // let it paint
  return program;
}

bool drop_file(const Program& program, const std::wstring& path) {
  // DROPFILES, then the wide path and the empty name that ends the list.
  std::vector<char> block(sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t), 0);
  DROPFILES header{};
  header.pFiles = sizeof header;
  header.fWide = TRUE;
  std::memcpy(block.data(), &header, sizeof header);
  std::memcpy(block.data() + sizeof header, path.c_str(), path.size() * sizeof(wchar_t));
  void* remote = VirtualAllocEx(program.process.hProcess, nullptr, block.size(),
                                MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!remote) return false;
  SIZE_T written = 0;
  if (!WriteProcessMemory(program.process.hProcess, remote, block.data(), block.size(), &written)) {
    return false;
  }
  return PostMessageW(program.window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0) != 0;
}

DWORD wait_for_exit(Program& program, DWORD milliseconds, bool kill) {
  if (!program.process.hProcess) return STILL_ACTIVE;
  WaitForSingleObject(program.process.hProcess, milliseconds);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(program.process.hProcess, &code);
  if (code == STILL_ACTIVE && kill) {
    TerminateProcess(program.process.hProcess, 99);
    WaitForSingleObject(program.process.hProcess, 5000);
  }
  return code;
}

void stop_program(Program& program) {
  if (!program.process.hProcess) return;
  wait_for_exit(program, 0, true);
  CloseHandle(program.process.hProcess);
  CloseHandle(program.process.hThread);
  program = Program{};
}

HWND wait_for_dialog(DWORD pid, const std::string& title, DWORD milliseconds,
                     const std::vector<HWND>& except) {
  for (DWORD waited = 0;; waited += poll_step) {
    for (HWND window : top_windows(pid, "#32770")) {
      bool known = false;
      for (HWND old : except) known = known || old == window;
      if (!known && (title.empty() || text_of(window) == title)) {
        pause_for(200);  // let it finish its layout and painting
        return window;
      }
    }
    if (waited >= milliseconds) return nullptr;
    Sleep(poll_step);
  }
}

std::vector<ControlView> child_controls(HWND window) {
  std::vector<ControlView> controls;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    ControlView view{};
    view.handle = child;
    view.id = GetDlgCtrlID(child);
    view.class_name = class_of(child);
    view.text = text_of(child);
    view.style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    view.extended_style = static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE));
    GetWindowRect(child, &view.rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&view.rect), 2);
    controls.push_back(view);
  }
  return controls;
}

BoxContent read_box(HWND box) {
  BoxContent content{};
  content.box = box;
  if (!box) return content;
  content.caption = text_of(box);
  content.owner = GetWindow(box, GW_OWNER);
  std::vector<HWND> children;
  EnumChildWindows(box, collect_child, reinterpret_cast<LPARAM>(&children));
  for (HWND child : children) {
    std::string name = class_of(child);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (lstrcmpiA(name.c_str(), "Button") == 0) {
      content.buttons.push_back(GetDlgCtrlID(child));
    } else if (lstrcmpiA(name.c_str(), "Static") == 0) {
      if ((style & SS_TYPEMASK) == SS_ICON) {
        RECT rect;
        GetWindowRect(child, &rect);
        int red = 0;
        int blue = 0;
        count_colours(rect, red, blue);
        if (red > 2 * blue && red > 10) content.icon_colour = 'R';
        if (blue > 2 * red && blue > 10) content.icon_colour = 'B';
      } else {
        std::string text = text_of(child);
        if (text.size() > content.text.size()) content.text = text;
      }
    }
  }
  return content;
}

bool click_dialog_button(HWND dialog, int id, bool wait_closed) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return false;
  PostMessageW(button, BM_CLICK, 0, 0);
  if (!wait_closed) return true;
  for (DWORD waited = 0; waited < 2000; waited += poll_step) {
    if (!IsWindow(dialog) || !IsWindowVisible(dialog)) return true;
    Sleep(poll_step);
  }
  return false;
}

bool click_control(HWND window, int id) {
  HWND control = GetDlgItem(window, id);
  if (!control) return false;
  return PostMessageW(control, BM_CLICK, 0, 0) != 0;
}

bool enter_file_name(HWND dialog, const std::string& path) {
  // The explorer-style dialogs name their file-name field cmb13 (a combo
  // box with an edit field) or, in older layouts, edt1.
  HWND field = GetDlgItem(dialog, 0x47c);
  if (!field) field = GetDlgItem(dialog, 0x480);
  if (!field) return false;
  std::wstring wide = widen(path);
  DWORD_PTR result = 0;
  SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                      SMTO_ABORTIFHUNG, send_timeout, &result);
  pause_for(100);
  return click_dialog_button(dialog, IDOK, false);
}

bool choose_file_type(HWND dialog, int index) {
  // The file-type list is cmb1; the dialog hears of the choice as it would
  // from the list itself: the choice made, then the selection changed.
  HWND types = GetDlgItem(dialog, 0x470);
  if (!types) return false;
  DWORD_PTR chosen = CB_ERR;
  SendMessageTimeoutW(types, CB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, send_timeout, &chosen);
  if (static_cast<int>(chosen) != index) return false;
  for (WORD notification : {CBN_SELENDOK, CBN_SELCHANGE}) {
    DWORD_PTR unused = 0;
    SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(0x470, notification),
                        reinterpret_cast<LPARAM>(types), SMTO_ABORTIFHUNG, send_timeout, &unused);
  }
  return true;
}

std::vector<std::string> list_box_rows(HWND list_box) {
  std::vector<std::string> rows;
  DWORD_PTR count = 0;
  SendMessageTimeoutW(list_box, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, send_timeout, &count);
  for (DWORD_PTR i = 0; i < count; ++i) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(list_box, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, send_timeout, &length);
    std::unique_ptr<wchar_t[]> row(new wchar_t[length + 2]());
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(list_box, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row.get()),
                        SMTO_ABORTIFHUNG, send_timeout, &copied);
    rows.push_back(narrow(row.get()));
  }
  return rows;
}

HWND focused_window(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(window, nullptr);
  if (!GetGUIThreadInfo(thread, &info)) return nullptr;
  return info.hwndFocus;
}

namespace {

// The pixels of a screen rectangle, 32 bits each, top row first.
std::vector<DWORD> screen_pixels(const RECT& rect) {
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  std::vector<DWORD> pixels;
  if (width <= 0 || height <= 0) return pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const DWORD* source = static_cast<const DWORD*>(bits);
    pixels.assign(source, source + width * height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

}  // namespace

void count_colours(const RECT& rect, int& red, int& blue) {
  red = 0;
  blue = 0;
  for (DWORD pixel : screen_pixels(rect)) {
    int r = (pixel >> 16) & 0xff;
    int g = (pixel >> 8) & 0xff;
    int b = pixel & 0xff;
    if (r > 150 && g < 110 && b < 110) ++red;
    if (b > 150 && r < 110 && g < 170) ++blue;
  }
}

int count_exact_colour(const RECT& rect, COLORREF colour) {
  DWORD wanted = GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
  int count = 0;
  for (DWORD pixel : screen_pixels(rect)) count += (pixel & 0xffffff) == wanted;
  return count;
}

bool save_screen_bmp(const RECT& rect, const std::string& path) {
  std::vector<DWORD> pixels = screen_pixels(rect);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  if (pixels.empty()) return false;
  int row_size = (width * 3 + 3) / 4 * 4;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER header{};
  file.bfType = 0x4d42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + row_size * height;
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // bottom row first
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = row_size * height;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&header, sizeof header, 1, out);
  std::vector<unsigned char> row(row_size, 0);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      DWORD pixel = pixels[y * width + x];
      row[x * 3] = pixel & 0xff;
      row[x * 3 + 1] = (pixel >> 8) & 0xff;
      row[x * 3 + 2] = (pixel >> 16) & 0xff;
    }
    std::fwrite(row.data(), 1, row.size(), out);
  }
  return std::fclose(out) == 0;
}
