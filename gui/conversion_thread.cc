// The conversion that Convert starts on a thread of its own, so that the
// window keeps painting and answering meanwhile: the title shows how far it
// got, the cursor that the program is at work, and every button but Exit is
// disabled; Exit and closing the window ask whether to stop it.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

#include "gui/main_window.h"
#include "gui/resource.h"

// One conversion on its thread: what it reads, and what it found.
struct ConversionJob {
  std::string input_path;  // the paths as they were when Convert was pressed
  std::string output_path;
  OutputFormat format;
  HWND window;              // receives the progress and end messages
  MessageLog log;           // filled by the thread, read once it has ended
  ConversionResult result;  // likewise
  std::atomic<bool> stop;   // set by the window to stop the conversion
  int posted;               // the last percent posted, -1 before the first
};

namespace {

// The buttons disabled while a conversion runs: all but Exit.
const int busy_buttons[] = {
    IDC_ADIF_FILE, IDC_CSV_FILE, IDC_CONVERT, IDC_OPEN, IDC_HELP, IDC_ABOUT, 0};

// Posts the percent to the window when it changed (on the conversion's thread).
void post_progress(void* context, int percent) {
  ConversionJob& job = *static_cast<ConversionJob*>(context);
  if (percent == job.posted) return;
  job.posted = percent;
  PostMessageA(job.window, WM_CONVERSION_PROGRESS, static_cast<WPARAM>(percent), 0);
}

// The thread: converts, then tells the window it has ended.
DWORD WINAPI run_job(void* context) {
  ConversionJob& job = *static_cast<ConversionJob*>(context);
  MessageSink sink{};
  sink.log = &job.log;
  sink.progress = post_progress;
  sink.context = &job;
  sink.stop = &job.stop;
  job.result = convert_files(job.input_path.c_str(), job.output_path.c_str(), job.format, sink);
  PostMessageA(job.window, WM_CONVERSION_ENDED, 0, 0);
  return 0;
}

// Enables or disables the buttons but Exit and sets the title for `busy`.
void show_busy(HWND window, bool busy) {
  for (const int* id = busy_buttons; *id; ++id) EnableWindow(GetDlgItem(window, *id), !busy);
  if (busy) {
    show_progress(window, 0);
  } else {
    SetWindowTextA(window, " Ledgerly");
  }
  SetCursor(LoadCursorA(nullptr, busy ? IDC_APPSTARTING : IDC_ARROW));
}

}  // namespace

bool conversion_running() { return front_end.worker != nullptr; }

void start_conversion(HWND window) {
  ConversionJob* job = new (std::nothrow) ConversionJob{};
  if (job) {
    job->input_path = front_end.input_path;
    job->output_path = front_end.output_path;
    job->format = chosen_format(front_end.output_path, front_end.output_type);
    job->window = window;
    job->posted = -1;
    front_end.worker = CreateThread(nullptr, 0, run_job, job, 0, nullptr);
  }
  if (!front_end.worker) {
    delete job;
    show_error(IDS_OUT_OF_MEMORY);
    return;
  }
  front_end.job = job;
  front_end.leaving = 0;
  front_end.asking = 0;
  front_end.ended = 0;
  show_busy(window, true);
}

void show_progress(HWND window, int percent) {
  if (!conversion_running()) return;
  wchar_t name[path_bytes] = L"";
  MultiByteToWideChar(CP_UTF8, 0, file_name_part(front_end.input_path), -1, name, path_bytes);
  wchar_t title[path_bytes + 40];
  std::swprintf(title, sizeof title / sizeof title[0], L"Ledgerly \x2013 converting %ls, %d %%",
                name, percent);
  SetWindowTextW(window, title);
}

void conversion_ended(HWND window) {
  if (!conversion_running()) return;
  if (front_end.asking) {
    // Answered once the question is: stopped, or shown as usual.
    front_end.ended = 1;
    return;
  }
  WaitForSingleObject(front_end.worker, INFINITE);
  CloseHandle(front_end.worker);
  front_end.worker = nullptr;
  ConversionJob* job = front_end.job;
  front_end.job = nullptr;
  show_busy(window, false);
  if (front_end.leaving == IDC_EXIT) {
    PostQuitMessage(0);
  } else if (front_end.leaving) {
    DestroyWindow(window);
  } else {
    show_conversion_result(job->log, job->result);
  }
  free_message_log(job->log);
  delete job;
}

void ask_to_stop(HWND window, int leaving) {
  if (front_end.asking) return;
  wchar_t text[string_bytes] = L"";
  wchar_t caption[string_bytes] = L"";
  LoadStringW(GetModuleHandleA(nullptr), IDS_STOP_CONVERSION, text, string_bytes);
  LoadStringW(GetModuleHandleA(nullptr), IDS_DISPLAY_NAME, caption, string_bytes);
  front_end.asking = 1;
  int answer = MessageBoxW(window, text, caption, MB_YESNO | MB_ICONQUESTION);
  front_end.asking = 0;
  if (answer == IDYES) {
    front_end.leaving = leaving;
    front_end.job->stop = true;
  }
  if (front_end.ended) conversion_ended(window);
}
