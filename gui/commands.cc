// The seven commands of the main window and the message boxes they show.
// <windows.h> must come before the other Windows headers.
// clang-format off
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "convert/output_format.h"
#include "gui/main_window.h"
#include "gui/resource.h"
#include "ledgerly_version.h"
#include "os/file_path.h"

FrontEnd front_end;

namespace {

// Pixels of list-box width given to each character of a message line.
constexpr int pixels_per_character = 8;
// Horizontal extent of the list box after every conversion, at least.
constexpr int minimum_list_extent = 450;

}  // namespace

bool run_command(HWND window, int command) {
  // While a conversion runs only Exit works: the other buttons are disabled.
  bool idle = !conversion_running();
  switch (command) {
    case IDC_ADIF_FILE:
      if (idle) choose_ADIF_file();
      return true;
    case IDC_CSV_FILE:
      if (idle) choose_CSV_file();
      return true;
    case IDC_CONVERT:
      if (idle) convert_command(window);
      return true;
    case IDC_OPEN:
      if (idle) open_command();
      return true;
    case IDC_HELP:
      if (idle) help_command();
      return true;
    case IDC_ABOUT:
      if (idle) about_command(window);
      return true;
    case IDC_EXIT:
      // The window is left to the process end; the loop returns 0.
      if (idle) {
        PostQuitMessage(0);
      } else {
        ask_to_stop(window, IDC_EXIT);
      }
      return true;
    default:
      return false;
  }
}

void load_string(int id, char* text) {
  text[0] = '\0';
  LoadStringA(GetModuleHandleA(nullptr), id, text, string_bytes);
}

void show_error(int id) {
  char text[string_bytes];
  load_string(id, text);
  MessageBoxA(nullptr, text, "Error", MB_ICONERROR);
}

const char* file_name_part(const char* path) {
  const char* backslash = std::strrchr(path, '\\');
  return backslash ? backslash + 1 : path;
}

namespace {

// Returns where the extension of the file name in `path` starts, or its end.
char* extension_of(char* path) {
  char* name = const_cast<char*>(file_name_part(path));
  char* dot = std::strrchr(name, '.');
  return dot ? dot : name + std::strlen(name);
}

}  // namespace

namespace {

// Returns the UTF-16 form of `text` (in `code_page`, `size` bytes with its
// NULs, or up to its NUL when -1).
std::wstring widen(const char* text, UINT code_page, int size = -1) {
  int units = MultiByteToWideChar(code_page, 0, text, size, nullptr, 0);
  std::wstring wide(units > 0 ? units : 0, L'\0');
  if (units > 0) MultiByteToWideChar(code_page, 0, text, size, &wide[0], units);
  return wide;
}

}  // namespace

bool run_file_dialog(bool save, const char* filter, size_t filter_size, char* path,
                     const char* title, DWORD flags, const char* extension, DWORD& filter_index) {
  std::wstring wide_filter = widen(filter, CP_ACP, static_cast<int>(filter_size));
  std::wstring wide_title = widen(title, CP_ACP);
  std::wstring wide_extension = widen(extension, CP_ACP);
  // The dialog starts from the path held, and gives back any file name.
  wchar_t file[path_bytes] = L"";
  MultiByteToWideChar(CP_UTF8, 0, path, -1, file, path_bytes);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.lpstrFilter = wide_filter.c_str();
  dialog.nFilterIndex = filter_index;
  dialog.lpstrFile = file;
  dialog.nMaxFile = path_bytes;
  dialog.lpstrTitle = wide_title.c_str();
  dialog.Flags = flags;
  dialog.lpstrDefExt = wide_extension.c_str();
  if (!(save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog))) return false;
  char chosen[path_bytes];
  if (!utf8_path(file, chosen, sizeof chosen)) return false;
  std::memcpy(path, chosen, path_bytes);
  filter_index = dialog.nFilterIndex;
  return true;
}

void show_name(HWND box, const char* path) {
  SetWindowTextW(box, widen(file_name_part(path), CP_UTF8).c_str());
}

int message_box(HWND owner, const char* text, const char* caption, UINT type) {
  return MessageBoxW(owner, widen(text, CP_UTF8).c_str(), widen(caption, CP_UTF8).c_str(), type);
}

void choose_ADIF_file() {
  // Cleared before the dialog: a cancelled choice also needs a new Convert.
  front_end.converted = 0;
  static const char filter[] = "ADIF Files\0*.adi;*.adif;*.adx\0ADX Files\0*.adx\0All Files\0*.*\0";
  DWORD type = 0;
  if (!run_file_dialog(false, filter, sizeof filter, front_end.input_path, "Input ADIF File",
                       OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, "adi", type)) {
    return;
  }
  input_file_chosen();
}

void take_input_file(const char* path) {
  front_end.converted = 0;
  if (std::strlen(path) >= path_bytes) return;
  std::strcpy(front_end.input_path, path);
  input_file_chosen();
}

void take_dropped_files(HDROP drop) {
  wchar_t wide[path_bytes];
  char path[path_bytes];
  // Only the first of several files; none while a conversion runs.
  if (!conversion_running() && DragQueryFileW(drop, 0, wide, path_bytes) > 0 &&
      utf8_path(wide, path, sizeof path)) {
    take_input_file(path);
  }
  DragFinish(drop);
}

void take_command_line_file() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments) return;
  wchar_t full[path_bytes];
  char path[path_bytes];
  DWORD length = count > 1 ? GetFullPathNameW(arguments[1], path_bytes, full, nullptr) : 0;
  if (length > 0 && length < path_bytes && utf8_path(full, path, sizeof path)) {
    take_input_file(path);
  }
  LocalFree(arguments);
}

void input_file_chosen() {
  show_name(front_end.input_name_box, front_end.input_path);
  // A derived path that does not fit stays empty, so Convert asks for one.
  derive_output_path(front_end.input_path, front_end.output_path);
  front_end.output_type = 0;
  show_name(front_end.output_name_box, front_end.output_path);
}

void derive_output_path(const char* input, char* output) {
  if (!derive_CSV_path(input, output, path_bytes)) return;
  if (remembered_output_type() == output_type_workbook &&
      !give_type_extension(output, output_type_workbook)) {
    output[0] = '\0';
  }
}

bool give_type_extension(char* path, int type) {
  if (type != output_type_csv && type != output_type_workbook) return true;
  char* extension = extension_of(path);
  bool other = type == output_type_csv ? is_workbook_path(path) : lstrcmpiA(extension, ".csv") == 0;
  if (*extension && !other) return true;
  const char* wanted = type == output_type_csv ? ".CSV" : ".xlsx";
  if (static_cast<size_t>(extension - path) + std::strlen(wanted) >= path_bytes) return false;
  std::strcpy(extension, wanted);
  return true;
}

OutputFormat chosen_format(const char* output_path, int output_type) {
  if (output_type == output_type_workbook) return FORMAT_XLSX;
  if (output_type == output_type_csv) return FORMAT_CSV;
  OutputFormat format = FORMAT_CSV;
  output_format_of_path(output_path, format);
  return format;
}

void choose_CSV_file() {
  front_end.converted = 0;
  char filter[3 * string_bytes];
  char previous[path_bytes];
  std::memcpy(previous, front_end.output_path, path_bytes);
  size_t filter_size = output_filter(filter);
  int offered = remembered_output_type();
  DWORD index = static_cast<DWORD>(offered);
  if (!run_file_dialog(true, filter, filter_size, front_end.output_path, "Output CSV file",
                       OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY, "csv", index)) {
    return;
  }
  // A type chosen in the dialog decides; else the extension typed does.
  int type = static_cast<int>(index);
  if (type == offered && is_workbook_path(front_end.output_path)) type = output_type_workbook;
  if (type == offered && lstrcmpiA(extension_of(front_end.output_path), ".csv") == 0) {
    type = output_type_csv;
  }
  if (type == output_type_csv || type == output_type_workbook) remember_output_type(type);
  // The type chosen decides the extension of a name without one, or with
  // the other type's; a file of the new name is replaced only when the user
  // says so, as the dialog asked for the name it was given.
  char given[path_bytes];
  std::memcpy(given, front_end.output_path, path_bytes);
  if (!give_type_extension(front_end.output_path, type) ||
      (std::strcmp(given, front_end.output_path) != 0 && !may_replace(front_end.output_path))) {
    std::memcpy(front_end.output_path, previous, path_bytes);
    return;
  }
  front_end.output_type = type;
  output_file_chosen();
}

bool may_replace(const char* path) {
  if (GetFileAttributesW(widen(path, CP_UTF8).c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  char format[string_bytes];
  load_string(IDS_REPLACE, format);
  char text[2 * path_bytes];
  std::snprintf(text, sizeof text, format, file_name_part(path));
  return message_box(nullptr, text, "Output CSV file", MB_YESNO | MB_ICONWARNING) == IDYES;
}

size_t output_filter(char* filter) {
  // Pairs of description and patterns, each ended by a NUL, then one more NUL.
  static const char csv[] = "CSV Files\0*.csv;";
  static const char all[] = "All Files\0*.*";
  char workbook[string_bytes];
  load_string(IDS_WORKBOOK_FILES, workbook);
  size_t used = 0;
  auto put = [&](const char* text, size_t size) {
    std::memcpy(filter + used, text, size);
    used += size;
  };
  put(csv, sizeof csv);
  put(workbook, std::strlen(workbook) + 1);
  put("*.xlsx", sizeof "*.xlsx");
  put(all, sizeof all);
  filter[used++] = '\0';
  return used;
}

void output_file_chosen() { show_name(front_end.output_name_box, front_end.output_path); }

int check_conversion_paths(const char* input_path, const char* output_path) {
  if (!input_path[0]) return IDS_NO_INPUT;
  if (!output_path[0]) return IDS_NO_OUTPUT;
  return 0;
}

int failure_string(const ConversionResult& result) {
  // The string of each failure by output format and log kind, as
  // compose_failure_sentence words it: CSV from ADIF, CSV from ADX, workbook
  // from ADIF, workbook from ADX.
  static const struct {
    ConversionFailure failure;
    int strings[4];
  } rows[] = {
      {FAILED_NO_INPUT,
       {IDS_INPUT_OPEN_FAILED, IDS_ADX_OPEN_FAILED, IDS_INPUT_OPEN_FAILED, IDS_ADX_OPEN_FAILED}},
      {FAILED_NO_OUTPUT,
       {IDS_OUTPUT_OPEN_FAILED, IDS_OUTPUT_OPEN_FAILED, IDS_WORKBOOK_OPEN_FAILED,
        IDS_WORKBOOK_OPEN_FAILED}},
      {FAILED_SAME_FILE,
       {IDS_SAME_FILE, IDS_SAME_FILE_ADX, IDS_WORKBOOK_SAME_FILE, IDS_WORKBOOK_SAME_FILE_ADX}},
      {FAILED_NOT_A_LOG, {IDS_NOT_A_LOG, IDS_NOT_A_LOG, IDS_NOT_A_LOG, IDS_NOT_A_LOG}},
      {FAILED_READING,
       {IDS_READ_FAILED, IDS_ADX_READ_FAILED, IDS_READ_FAILED, IDS_ADX_READ_FAILED}},
      {FAILED_LOG_CHANGED, {IDS_LOG_CHANGED, IDS_ADX_CHANGED, IDS_LOG_CHANGED, IDS_ADX_CHANGED}},
      {FAILED_OUT_OF_MEMORY,
       {IDS_OUT_OF_MEMORY, IDS_ADX_OUT_OF_MEMORY, IDS_OUT_OF_MEMORY, IDS_ADX_OUT_OF_MEMORY}},
      {FAILED_NO_RECORDS, {IDS_NO_RECORDS, IDS_NO_RECORDS, IDS_NO_RECORDS, IDS_NO_RECORDS}},
      {FAILED_TOO_WIDE, {IDS_TOO_WIDE, IDS_TOO_WIDE, IDS_TOO_WIDE, IDS_TOO_WIDE}},
      {FAILED_OUTPUT_IS_LOG,
       {IDS_OUTPUT_IS_LOG, IDS_OUTPUT_IS_LOG, IDS_OUTPUT_IS_LOG, IDS_OUTPUT_IS_LOG}},
  };
  OutputFormat format = chosen_format(front_end.output_path, front_end.output_type);
  int column = (format == FORMAT_XLSX ? 2 : 0) +
               (failed_log_kind(result, front_end.input_path) == LOG_ADX ? 1 : 0);
  for (const auto& row : rows) {
    if (row.failure == result.failure) return row.strings[column];
  }
  return column >= 2 ? IDS_WORKBOOK_WRITE_FAILED : IDS_WRITE_FAILED;
}

ConversionResult convert_files(const char* input_path, const char* output_path, OutputFormat format,
                               MessageSink& sink) {
  ConversionRequest request{};
  request.input_path = input_path;
  request.output_path = output_path;
  request.options.format = format;
  // A log without QSOs is reported, and the previous output kept.
  request.needs_records = true;
  return run_conversion(request, sink);
}

void convert_command(HWND window) {
  int error = check_conversion_paths(front_end.input_path, front_end.output_path);
  if (error) {
    show_error(error);
    return;
  }
  start_conversion(window);
}

void show_conversion_result(const MessageLog& log, const ConversionResult& result) {
  show_message_log(log);
  if (result.status == CONVERSION_FAILED) {
    // The previous output was kept: nothing new to open.
    front_end.converted = 0;
    show_failure(result);
    return;
  }
  if (result.records != 0) {
    OutputFormat format = chosen_format(front_end.output_path, front_end.output_type);
    char saved_as[string_bytes];
    load_string(IDS_SAVED_AS, saved_as);
    char text[2 * path_bytes];
    char converted[string_bytes];
    load_string(format == FORMAT_XLSX ? IDS_CONVERTED_WORKBOOK : IDS_CONVERTED, converted);
    int used = std::snprintf(text, sizeof text, converted, result.records);
    // Then, on a line of its own, where the output went.
    if (used > 0 && static_cast<size_t>(used) + 1 < sizeof text) text[used++] = '\n';
    if (used > 0 && static_cast<size_t>(used) < sizeof text) {
      std::snprintf(text + used, sizeof text - used, saved_as, front_end.output_path);
    }
    message_box(nullptr, text, "Done", MB_ICONINFORMATION);
  }
  // Only now: Open pressed while the "Done" box is still up is refused.
  front_end.converted = 1;
}

void show_failure(const ConversionResult& result) {
  bool output_failed = result.failure == FAILED_NO_OUTPUT || result.failure == FAILED_WRITING;
  if (!output_failed || !file_in_use(front_end.output_path)) {
    show_error(failure_string(result));
    return;
  }
  char format[string_bytes];
  load_string(IDS_IN_USE, format);
  char text[2 * path_bytes];
  std::snprintf(text, sizeof text, format, file_name_part(front_end.output_path));
  message_box(nullptr, text, "Error", MB_ICONERROR);
}

bool file_in_use(const char* path) {
  // Deleting is what replacing the file needs, and what a program that has
  // the file open (a spreadsheet, say) does not share.
  HANDLE file = CreateFileW(widen(path, CP_UTF8).c_str(), DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

void show_message_log(const MessageLog& log) {
  SendMessageA(front_end.message_list_box, LB_RESETCONTENT, 0, 0);
  SendMessageA(front_end.message_list_box, LB_SETHORIZONTALEXTENT, minimum_list_extent, 0);
  for (int list = 2; list >= 0; --list) {
    if (fill_message_list(log.lists[list]) > 0) {
      SendMessageA(front_end.message_list_box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(""));
    }
  }
}

int fill_message_list(const MessageLine* newest) {
  // The list holds its newest line first; the box shows the oldest first.
  std::vector<const MessageLine*> lines;
  for (const MessageLine* line = newest; line; line = line->next) lines.push_back(line);
  int added = 0;
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    size_t width = pixels_per_character * std::strlen((*line)->text);
    size_t extent = SendMessageA(front_end.message_list_box, LB_GETHORIZONTALEXTENT, 0, 0);
    if (width > extent) {
      SendMessageA(front_end.message_list_box, LB_SETHORIZONTALEXTENT, width, 0);
    }
    LRESULT row = SendMessageA(front_end.message_list_box, LB_ADDSTRING, 0,
                               reinterpret_cast<LPARAM>((*line)->text));
    if (row >= 0) ++added;
  }
  return added;
}

void open_command() {
  if (!front_end.converted) {
    show_error(IDS_NOT_CONVERTED);
    return;
  }
  HINSTANCE result = ShellExecuteW(nullptr, L"open", widen(front_end.output_path, CP_UTF8).c_str(),
                                   nullptr, nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(result) > 32) return;
  show_error(IDS_NO_BROWSER);
}

bool help_page_path(wchar_t* path, size_t size) {
  static const wchar_t page[] = L"README.txt";
  DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(size));
  if (length == 0 || length >= size) return false;
  wchar_t* folder_end = std::wcsrchr(path, L'\\');
  size_t folder = folder_end ? static_cast<size_t>(folder_end - path) + 1 : 0;
  if (folder + sizeof page / sizeof page[0] > size) return false;
  std::wcscpy(path + folder, page);
  return true;
}

void help_command() {
  // The page that comes beside the program works offline; the web page is
  // for a program without it.
  wchar_t page[path_bytes * 2];
  if (help_page_path(page, sizeof page / sizeof page[0]) &&
      GetFileAttributesW(page) != INVALID_FILE_ATTRIBUTES) {
    ShellExecuteW(nullptr, L"open", page, nullptr, nullptr, SW_SHOWNORMAL);
    return;
  }
  char address[string_bytes];
  load_string(IDS_WEB_PAGE, address);
  // Nothing to report when no browser starts.
  ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}

void compose_about_text(char* text) {
  char name[string_bytes];
  char version[string_bytes];
  char notice[string_bytes];
  load_string(IDS_DISPLAY_NAME, name);
  std::snprintf(version, sizeof version, "Version %s -- %s %s", revision_string(), __DATE__,
                __TIME__);
  load_string(IDS_NOTICE, notice);
  std::snprintf(text, path_bytes, "%s\n%s\n%s", name, version, notice);
}

void about_command(HWND window) {
  char text[path_bytes];
  char caption[string_bytes];
  compose_about_text(text);
  load_string(IDS_ABOUT_CAPTION, caption);
  // The one box with an owner: the main window waits while it is open.
  MessageBoxA(window, text, caption, MB_ICONINFORMATION);
}

const char* revision_string() {
  if (front_end.revision) return front_end.revision;
  // The form that version-control keyword expansion gives.
  char keyword[] = "$Revision: " LEDGERLY_VERSION " $";
  std::strtok(keyword, " ");
  const char* number = std::strtok(nullptr, " ");
  if (!number) return "";
  size_t size = std::strlen(number) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (!copy) return "";
  std::memcpy(copy, number, size);
  front_end.revision = copy;
  return copy;
}
