// End-to-end tests of the real Ledgerly.exe: each test starts the program,
// works it from outside like a user (buttons, file dialogs, keys, message
// boxes) and checks what it shows and what it does to the files.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ledgerly_version.h"
#include "tests/gui/window_driver.h"
#include "tests/test_streams.h"

namespace {

// The identifiers and texts the program is checked against.
enum {
  about_button = 1001,
  adif_file_button = 1002,
  convert_button = 1003,
  csv_file_button = 1004,
  exit_button = 1005,
  help_button = 1007,
  open_button = 1010,
  input_name_box = 1011,
  output_name_box = 1012,
  message_list = 1013,
};
const char not_converted[] = "Can't open spreadsheet because it has not been converted.";
const char no_input[] = "Did not specify input ADIF file.";
const char no_association[] = "Could not start web browser.";
const char input_not_opened[] = "Could not open ADIF input file.";
const char output_not_opened[] = "Could not open CSV output file.";
const char same_file[] = "Output CSV file is the same as the input ADIF file.";
const char not_a_log[] = "The input file is not an ADIF or ADX log.";
const char not_written[] = "Could not write CSV output file.";
const char no_records[] = "The log held no QSOs: nothing was written.";
const char in_use[] = " is open in another program; close it there and convert again.";

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The UTF-16 form of an ASCII path, with backslashes.
std::wstring widen_path(const std::string& path) {
  std::wstring wide(path.begin(), path.end());
  for (wchar_t& c : wide) c = c == L'/' ? L'\\' : c;
  return wide;
}

// The program's path, with backslashes, which LoadLibraryExA needs.
std::string program_path() {
  std::string path = environment("LEDGERLY_EXE");
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

std::string driver_path() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

// Makes `key` of HKEY_CLASSES_ROOT anew with `value` as its default value.
void set_class_value(const std::string& key, const std::string& value) {
  RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
  HKEY opened = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &opened, nullptr),
            ERROR_SUCCESS)
      << key;
  RegSetValueExA(opened, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(opened);
}

// Lets the driver itself stand in for the program that opens `key`, a file
// extension (".csv") or a URL scheme ("https"): it records what it was asked
// to open in `record`.
void register_opener(const std::string& key, const std::string& record) {
  std::string holder = key;
  if (key[0] == '.') {
    // An extension names its file type; the type holds the command.
    holder = "LedgerlyTest" + key;
    set_class_value(key, holder);
  }
  set_class_value(holder + "\\shell\\open\\command",
                  "\"" + driver_path() + "\" --opened \"" + record + "\" \"%1\"");
}

// Removes what register_opener made for the two output extensions.
void remove_associations() {
  for (const char* key : {".csv", "LedgerlyTest.csv", ".xlsx", "LedgerlyTest.xlsx"}) {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
  }
}

// Waits up to ten seconds for the opener to record something; returns it
// without its line end.
std::string wait_for_record(const std::string& record) {
  for (int i = 0; i < 200; ++i) {
    if (GetFileAttributesA(record.c_str()) != INVALID_FILE_ATTRIBUTES) {
      pause_for(200);
      std::string text = file_bytes(record);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      return text;
    }
    pause_for(50);
  }
  return "";
}

bool is_workbook(const std::string& name) { return name.substr(name.size() - 5) == ".xlsx"; }

int count_records(const std::string& adif) {
  int count = 0;
  for (size_t at = 0; at + 5 <= adif.size(); ++at) {
    if (lstrcmpiA(adif.substr(at, 5).c_str(), "<EOR>") == 0) ++count;
  }
  return count;
}

// A started Ledgerly.exe and a scratch folder (with a '.' and a blank in
// its name) for its files.
class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(program_path().empty()) << "LEDGERLY_EXE names the program to test";
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    folder = std::string(temp) + "ledgerly.window test\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    record = folder + "opened.txt";
    DeleteFileA(record.c_str());
    forget_settings();
    program = start_program(program_path());
    ASSERT_NE(program.window, nullptr) << "no window of " << program_path();
  }
  void TearDown() override {
    for (HWND box : top_windows(pid(), "#32770")) PostMessageW(box, WM_CLOSE, 0, 0);
    stop_program(program);
    forget_settings();
    for (const std::string& file : files) DeleteFileA(file.c_str());
    DeleteFileA(record.c_str());
    RemoveDirectoryA(folder.c_str());
  }

  // Removes what the program remembers for the user, so that each test
  // starts as on a new machine.
  static void forget_settings() { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Ledgerly"); }

  DWORD pid() const { return program.process.dwProcessId; }
  HWND control(int id) const { return GetDlgItem(program.window, id); }

  std::string scratch(const std::string& name) {
    files.push_back(folder + name);
    return folder + name;
  }
  std::string write_log(const std::string& name, const std::string& content) {
    std::string path = scratch(name);
    write_file(path, content);
    return path;
  }

  // Presses button `id` and reads the message box it opens (box null when
  // none came within `milliseconds`).
  BoxContent press_for_box(int id, DWORD milliseconds = 5000) {
    std::vector<HWND> open = top_windows(pid(), "#32770");
    EXPECT_TRUE(click_control(program.window, id));
    return read_box(wait_for_dialog(pid(), "", milliseconds, open));
  }

  // Checks an error box: the text, caption "Error", the error icon, the OK
  // button only and no owner window; then closes it.
  void expect_error(int button, const std::string& text) {
    SCOPED_TRACE(text);
    BoxContent box = press_for_box(button);
    ASSERT_NE(box.box, nullptr) << "no box for " << text;
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(box.icon_colour, 'R') << "error icon expected";
    EXPECT_TRUE(click_dialog_button(box.box, IDOK));
  }

  void choose_input(const std::string& path) {
    ASSERT_TRUE(click_control(program.window, adif_file_button));
    HWND dialog = wait_for_dialog(pid(), "Input ADIF File", 10000);
    ASSERT_NE(dialog, nullptr) << "no open dialog";
    ASSERT_TRUE(enter_file_name(dialog, path));
    wait_closed(dialog);
  }

  // Chooses the output in the save dialog, with file type `file_type` (from
  // 0) chosen first unless it is -1.
  void choose_output(const std::string& path, bool replace_existing, int file_type = -1) {
    ASSERT_TRUE(click_control(program.window, csv_file_button));
    HWND dialog = wait_for_dialog(pid(), "Output CSV file", 10000);
    ASSERT_NE(dialog, nullptr) << "no save dialog";
    if (file_type >= 0) {
      ASSERT_TRUE(choose_file_type(dialog, file_type));
    }
    ASSERT_TRUE(enter_file_name(dialog, path));
    if (replace_existing) {
      HWND question = wait_for_dialog(pid(), "", 5000, {dialog});
      ASSERT_NE(question, nullptr) << "no question before replacing " << path;
      EXPECT_TRUE(click_dialog_button(question, IDYES));
    }
    wait_closed(dialog);
  }

  void wait_closed(HWND dialog) {
    for (int i = 0; i < 100 && IsWindow(dialog) && IsWindowVisible(dialog); ++i) pause_for(50);
    EXPECT_FALSE(IsWindow(dialog) && IsWindowVisible(dialog)) << "dialog stayed open";
    pause_for(100);
  }

  // Presses Convert and closes the "Done" box, checking its text: `records`
  // converted to `form`.
  void convert_expecting(int records, const std::string& form = "CSV format") {
    BoxContent done = press_for_box(convert_button);
    ASSERT_NE(done.box, nullptr) << "no Done box";
    EXPECT_EQ(done.caption, "Done");
    // The count, then where the output went.
    std::string saved_as = "Saved as " + folder + text_of(control(output_name_box));
    std::string count = "Converted " + std::to_string(records) + " ADIF records to " + form;
    EXPECT_EQ(done.text.substr(0, count.size() + 1), count + "\n");
    EXPECT_EQ(lstrcmpiA(done.text.substr(count.size() + 1).c_str(), saved_as.c_str()), 0)
        << done.text;
    EXPECT_EQ(done.owner, nullptr);
    EXPECT_EQ(done.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(done.icon_colour, 'B') << "information icon expected";
    EXPECT_TRUE(click_dialog_button(done.box, IDOK));
    pause_for(100);
  }

  // The names in the scratch folder but the opener's record.
  std::vector<std::string> folder_names() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      std::string name = found.cFileName;
      if (name != "." && name != ".." && folder + name != record) names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
  }

  std::vector<std::string> rows() const { return list_box_rows(control(message_list)); }
  LRESULT extent() const {
    DWORD_PTR value = 0;
    SendMessageTimeoutW(control(message_list), LB_GETHORIZONTALEXTENT, 0, 0, SMTO_ABORTIFHUNG, 5000,
                        &value);
    return static_cast<LRESULT>(value);
  }

  Program program{};
  std::string folder;
  std::string record;
  std::vector<std::string> files;
};

// Three contacts; the second has its BAND twice, which the reader reports
// in both passes.
const char three_contacts[] =
    "Written for the window tests.\n<ADIF_VER:5>3.1.4 <EOH>\n"
    "<CALL:5>G4ABC <QSO_DATE:8>20240105 <TIME_ON:4>0930 <BAND:3>40m <EOR>\n"
    "<CALL:6>DL2XYZ <QSO_DATE:8>20240106 <TIME_ON:6>121500 <BAND:3>20m <MODE:2>CW\n"
    "<BAND:3>15m <EOR>\n"
    "<CALL:4>K1AB <QSO_DATE:8>20240107 <TIME_ON:4>2359 <EOR>\n";
const char duplicate_line[] = "DL2XYZ on 20240106 at 121500: Duplicate field: <BAND:3>15m";

// A contest-sized log of `records` contacts, long enough to convert that a
// test can watch the window meanwhile.
std::string big_log(int records) {
  std::string log = "Written for the window tests.\n<ADIF_VER:5>3.1.4 <EOH>\n";
  log.reserve(log.size() + 72 * static_cast<size_t>(records));
  const std::string record =
      "<CALL:5>G4ABC <QSO_DATE:8>20240105 <TIME_ON:4>0930 <BAND:3>40m <MODE:2>CW <EOR>\n";
  for (int i = 0; i < records; ++i) log += record;
  return log;
}

// The title while `name` is being converted, up to its percent.
std::string converting_title(const std::string& name) {
  return "Ledgerly \xE2\x80\x93 converting " + name + ", ";
}

TEST_F(Window, HasItsTitleClassPositionAndSize) {
  EXPECT_EQ(text_of(program.window), " Ledgerly");
  EXPECT_EQ(class_of(program.window), " Ledgerly");
  RECT rect;
  GetWindowRect(program.window, &rect);
  EXPECT_EQ(rect.left, 220);
  EXPECT_EQ(rect.top, 220);
  EXPECT_EQ(rect.right - rect.left, 545);
  EXPECT_EQ(rect.bottom - rect.top, 380);
  DWORD style = static_cast<DWORD>(GetWindowLongW(program.window, GWL_STYLE));
  EXPECT_EQ(style & (WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CHILD | WS_POPUP),
            DWORD{WS_OVERLAPPEDWINDOW | WS_VISIBLE});
  EXPECT_EQ(GetMenu(program.window), nullptr);
}

TEST_F(Window, HasTheTenControlsInTabOrder) {
  struct Expected {
    int id;
    const char* class_name;
    const char* text;
    DWORD style;
    DWORD extended_style;
    int x, y, width, height;
  } expected[] = {
      {input_name_box, "ComboBox", "", 0x50800041, 0, 20, 25, 200, 20},
      {adif_file_button, "Button", "ADIF File", 0x50010000, 0, 230, 25, 80, 25},
      {output_name_box, "ComboBox", "", 0x50800041, 0, 20, 75, 200, 20},
      {csv_file_button, "Button", "CSV File", 0x50010000, 0, 230, 75, 80, 25},
      {convert_button, "Button", "Convert", 0x50000000, 0, 20, 125, 80, 25},
      {open_button, "Button", "Open", 0x50000000, 0, 125, 125, 80, 25},
      {help_button, "Button", "Help", 0x50000000, 0, 230, 125, 80, 25},
      {about_button, "Button", "About", 0x50000000, 0, 335, 125, 80, 25},
      {exit_button, "Button", "Exit", 0x50000000, 0, 440, 125, 80, 25},
      {message_list, "ListBox", "", 0x50B04100, WS_EX_CLIENTEDGE, 20, 175, 500, 150},
  };
  std::vector<ControlView> controls = child_controls(program.window);
  ASSERT_EQ(controls.size(), std::size(expected));
  for (size_t i = 0; i < controls.size(); ++i) {
    const ControlView& got = controls[i];
    const Expected& want = expected[i];
    SCOPED_TRACE("control " + std::to_string(i + 1) + ", id " + std::to_string(want.id));
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(lstrcmpiA(got.class_name.c_str(), want.class_name), 0) << got.class_name;
    EXPECT_EQ(got.text, want.text);
    // Bits the controls change themselves: a combo box draws its own frame
    // and takes WS_BORDER off; a list box hides the scroll bars it does not
    // need, which clears their bits.
    bool list = lstrcmpiA(want.class_name, "ListBox") == 0;
    bool combo = lstrcmpiA(want.class_name, "ComboBox") == 0;
    DWORD own_bits = list ? WS_VSCROLL | WS_HSCROLL : combo ? WS_BORDER : 0;
    EXPECT_EQ(got.style & ~own_bits, want.style & ~own_bits)
        << std::hex << got.style << " " << want.style;
    EXPECT_EQ(got.extended_style & ~DWORD{WS_EX_NOPARENTNOTIFY}, want.extended_style)
        << std::hex << got.extended_style;
    EXPECT_EQ(got.rect.left, want.x);
    EXPECT_EQ(got.rect.top, want.y);
    EXPECT_EQ(got.rect.right - got.rect.left, want.width);
    EXPECT_EQ(got.rect.bottom - got.rect.top, want.height);
  }
}

TEST_F(Window, TabMovesOnlyBetweenTheTwoFileButtons) {
  std::vector<int> focus;
  for (int i = 0; i < 6; ++i) {
    HWND target = focused_window(program.window);
    if (!target) target = program.window;
    PostMessageW(target, WM_KEYDOWN, VK_TAB, 0x000f0001);
    PostMessageW(target, WM_KEYUP, VK_TAB, 0xc00f0001);
    pause_for(150);
    focus.push_back(GetDlgCtrlID(focused_window(program.window)));
  }
  std::vector<int> expected = {adif_file_button, csv_file_button,  adif_file_button,
                               csv_file_button,  adif_file_button, csv_file_button};
  // The first Tab may go from the window itself to either end.
  if (!focus.empty() && focus.front() == csv_file_button) {
    expected = {csv_file_button,  adif_file_button, csv_file_button,
                adif_file_button, csv_file_button,  adif_file_button};
  }
  EXPECT_EQ(focus, expected);
}

TEST_F(Window, EscapeAndEnterDoNothing) {
  for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
    HWND target = focused_window(program.window);
    if (!target) target = program.window;
    PostMessageW(target, WM_KEYDOWN, key, 0x00010001);
    PostMessageW(target, WM_KEYUP, key, 0xc0010001);
  }
  pause_for(700);
  EXPECT_TRUE(IsWindow(program.window) && IsWindowVisible(program.window));
  EXPECT_EQ(top_windows(pid(), "#32770"), std::vector<HWND>{});
  EXPECT_EQ(wait_for_exit(program, 0, false), DWORD{STILL_ACTIVE});
  // Still at work: Convert answers.
  expect_error(convert_button, no_input);
}

TEST_F(Window, ConvertAndOpenAskForAFileFirst) {
  expect_error(convert_button, no_input);
  EXPECT_EQ(rows(), std::vector<std::string>{});
  expect_error(open_button, not_converted);
}

TEST_F(Window, ConvertsAFileChosenInTheOpenDialog) {
  std::string log = write_log("station.adi", three_contacts);
  std::string csv = scratch("station.CSV");
  DeleteFileA(csv.c_str());
  choose_input(log);
  EXPECT_EQ(text_of(control(input_name_box)), "station.adi");
  EXPECT_EQ(text_of(control(output_name_box)), "station.CSV");

  // While the "Done" box is up the conversion is not yet finished for Open.
  std::vector<HWND> before = top_windows(pid(), "#32770");
  ASSERT_TRUE(click_control(program.window, convert_button));
  HWND done = wait_for_dialog(pid(), "Done", 5000, before);
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(read_box(done).text.substr(0, 39), "Converted 3 ADIF records to CSV format\n");
  expect_error(open_button, not_converted);
  EXPECT_TRUE(click_dialog_button(done, IDOK));
  pause_for(100);

  EXPECT_EQ(rows(), (std::vector<std::string>{duplicate_line, duplicate_line, ""}));
  EXPECT_EQ(extent(), LRESULT{8 * (sizeof duplicate_line - 1)});
  EXPECT_EQ(file_bytes(csv),
            "BAND,CALL,QSO_DATE,TIME_ON,MODE\r\n"
            "40m,G4ABC,5-Jan-2024,\"0930\",\r\n"
            "20m,DL2XYZ,6-Jan-2024,\"121500\",CW\r\n"
            ",K1AB,7-Jan-2024,\"2359\",\r\n");
  EXPECT_EQ(file_bytes(log), three_contacts);

  // Open: the program associated with CSV files gets the file, or the
  // program says there is none.
  remove_associations();
  expect_error(open_button, no_association);
  register_opener(".csv", record);
  ASSERT_TRUE(click_control(program.window, open_button));
  EXPECT_EQ(lstrcmpiA(wait_for_record(record).c_str(), csv.c_str()), 0) << wait_for_record(record);
  remove_associations();
}

TEST_F(Window, AnswersAndShowsProgressWhileABigLogConverts) {
  choose_input(write_log("contest.adi", big_log(200000)));
  scratch("contest.CSV");
  std::vector<HWND> open = top_windows(pid(), "#32770");
  ASSERT_TRUE(click_control(program.window, convert_button));
  // Until the "Done" box comes: every message is answered within 200 ms, and
  // the title says how far the conversion got.
  HWND done = nullptr;
  int answered = 0;
  int percents = 0;
  DWORD slowest = 0;
  for (int i = 0; i < 2400 && !done; ++i) {
    DWORD before = GetTickCount();
    DWORD_PTR unused = 0;
    bool answer =
        SendMessageTimeoutW(program.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 200, &unused) != 0;
    DWORD took = GetTickCount() - before;
    slowest = took > slowest ? took : slowest;
    EXPECT_TRUE(answer) << "no answer within 200 ms";
    std::string title = utf8_text_of(program.window);
    if (title.rfind(converting_title("contest.adi"), 0) == 0) {
      ++percents;
      EXPECT_EQ(title.substr(title.size() - 2), " %") << title;
      // Every button but Exit waits for the conversion.
      EXPECT_FALSE(IsWindowEnabled(control(convert_button)));
      EXPECT_FALSE(IsWindowEnabled(control(about_button)));
      EXPECT_FALSE(IsWindowEnabled(control(adif_file_button)));
      EXPECT_TRUE(IsWindowEnabled(control(exit_button)));
    }
    answered += answer;
    done = wait_for_dialog(pid(), "Done", 50, open);
  }
  ASSERT_NE(done, nullptr) << "no Done box";
  EXPECT_GT(percents, 1);
  EXPECT_GT(answered, 1);
  EXPECT_LT(slowest, DWORD{200});
  EXPECT_EQ(read_box(done).text.substr(0, 44), "Converted 200000 ADIF records to CSV format\n");
  EXPECT_TRUE(click_dialog_button(done, IDOK));
  EXPECT_EQ(text_of(program.window), " Ledgerly");
  EXPECT_TRUE(IsWindowEnabled(control(convert_button)));
}

TEST_F(Window, StoppingAConversionKeepsThePreviousOutput) {
  // Exit, or closing the window, while a conversion runs asks whether to
  // stop it: no goes on, yes stops it and leaves.
  struct Row {
    const char* name;
    bool close;
  } table[] = {{"exit", false}, {"close", true}};
  for (const Row& row : table) {
    SCOPED_TRACE(row.name);
    if (!program.window) program = start_program(program_path());
    std::string log = write_log(row.name + std::string(".adi"), three_contacts);
    std::string csv = scratch(row.name + std::string(".CSV"));
    choose_input(log);
    convert_expecting(3);
    std::string converted = file_bytes(csv);
    // Long enough to be stopped well before its end.
    write_file(log, big_log(1000000));
    std::vector<std::string> names = folder_names();
    ASSERT_TRUE(click_control(program.window, convert_button));
    for (int i = 0; i < 100 && text_of(control(exit_button)).empty(); ++i) pause_for(50);
    for (int answer : {IDNO, IDYES}) {
      for (int i = 0; i < 200; ++i) {
        if (utf8_text_of(program.window)
                .rfind(converting_title(row.name + std::string(".adi")), 0) == 0) {
          break;
        }
        pause_for(20);
      }
      std::vector<HWND> open = top_windows(pid(), "#32770");
      if (row.close) {
        PostMessageW(program.window, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else {
        ASSERT_TRUE(click_control(program.window, exit_button));
      }
      BoxContent question = read_box(wait_for_dialog(pid(), "Ledgerly", 5000, open));
      ASSERT_NE(question.box, nullptr) << "no question";
      EXPECT_EQ(question.text, "Stop the conversion? The previous output is kept as it was.");
      EXPECT_EQ(question.owner, program.window);
      EXPECT_EQ(question.buttons, (std::vector<int>{IDYES, IDNO}));
      EXPECT_TRUE(click_dialog_button(question.box, answer));
    }
    EXPECT_EQ(wait_for_exit(program, 20000, true), 0u);
    stop_program(program);
    EXPECT_TRUE(file_bytes(csv) == converted) << "the output was replaced";
    EXPECT_EQ(folder_names(), names);
  }
}

TEST_F(Window, TheListKeepsItsHeightThroughConversions) {
  // A message wider than the list shows its horizontal scroll bar, which the
  // next conversion's reset hides again.
  std::string wide = std::string(three_contacts) +
                     "<CALL:4>W1AW <QSO_DATE:8>20240108 <COMMENT:60>" + std::string(60, 'x') +
                     " <COMMENT:2>ok <EOR>\n";
  choose_input(write_log("wide.adi", wide));
  scratch("wide.CSV");
  auto height = [&] {
    RECT rect;
    GetWindowRect(control(message_list), &rect);
    return rect.bottom - rect.top;
  };
  for (int run = 0; run < 5; ++run) {
    SCOPED_TRACE(run);
    convert_expecting(4);
    EXPECT_EQ(height(), 150);
  }
}

TEST_F(Window, TakesADroppedLogAndOneNamedOnTheCommandLine) {
  enum How { dropped, argument };
  struct Row {
    const char* name;
    How how;
  } table[] = {{"dropped.adx", dropped}, {"handed.adi", argument}};
  for (const Row& row : table) {
    SCOPED_TRACE(row.name);
    std::string log = write_log(row.name, three_contacts);
    std::string csv = scratch(std::string(row.name, std::strlen(row.name) - 4) + ".CSV");
    std::wstring path(log.begin(), log.end());
    if (row.how == dropped) {
      ASSERT_TRUE(drop_file(program, path));
      pause_for(300);
    } else {
      stop_program(program);
      program = start_program(program_path(), path);
      ASSERT_NE(program.window, nullptr);
    }
    EXPECT_EQ(text_of(control(input_name_box)), row.name);
    EXPECT_EQ(text_of(control(output_name_box)), csv.substr(folder.size()));
    convert_expecting(3);
    EXPECT_NE(GetFileAttributesA(csv.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// Reads a file whose name only UTF-16 holds.
std::string wide_file_bytes(const std::wstring& path) {
  std::string bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) return bytes;
  char block[4096];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
  std::fclose(file);
  return bytes;
}

TEST_F(Window, ALogInAFolderNamedOutsideTheCodePageConvertsWithBothPrograms) {
  std::wstring wide_folder(folder.begin(), folder.end());
  std::wstring city = wide_folder + L"\x0141\x00f3d\x017a\\";  // Łódź
  CreateDirectoryW(city.c_str(), nullptr);
  std::wstring log = city + L"log.adi";
  FILE* file = _wfopen(log.c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  std::fputs(three_contacts, file);
  std::fclose(file);
  const std::string csv_start = "BAND,CALL,QSO_DATE,TIME_ON,MODE\r\n";
  // The window, dropped and converted to a CSV, then to a workbook.
  ASSERT_TRUE(drop_file(program, log));
  pause_for(300);
  EXPECT_EQ(text_of(control(input_name_box)), "log.adi");
  BoxContent done = press_for_box(convert_button);
  ASSERT_NE(done.box, nullptr);
  EXPECT_EQ(done.text.substr(0, 39), "Converted 3 ADIF records to CSV format\n");
  EXPECT_TRUE(click_dialog_button(done.box, IDOK));
  EXPECT_EQ(wide_file_bytes(city + L"log.CSV").substr(0, csv_start.size()), csv_start);
  // The command line, to a workbook.
  std::wstring command = L"\"" + widen_path(environment("LEDGERLY_CONVERT")) + L"\" \"" + log +
                         L"\" \"" + city + L"log.xlsx\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &startup, &process));
  WaitForSingleObject(process.hProcess, 30000);
  DWORD code = 99;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(wide_file_bytes(city + L"log.xlsx").substr(0, 2), "PK");
  for (const wchar_t* name : {L"log.adi", L"log.CSV", L"log.xlsx"}) {
    DeleteFileW((city + name).c_str());
  }
  EXPECT_TRUE(RemoveDirectoryW(city.c_str())) << "something was left in the folder";
}

TEST_F(Window, AConversionWithoutRecordsSaysSoAndKeepsTheOutput) {
  std::string log = write_log("empty.adi", three_contacts);
  std::string csv = scratch("empty.CSV");
  choose_input(log);
  convert_expecting(3);
  std::string converted = file_bytes(csv);
  write_file(log, "Only a header here.\n<PROGRAMID:4>Test <EOH>\n");
  expect_error(convert_button, no_records);
  EXPECT_EQ(rows(), std::vector<std::string>{});
  EXPECT_EQ(file_bytes(csv), converted);
  expect_error(open_button, not_converted);
}

TEST_F(Window, RefusesAnOutputThatIsTheInputFile) {
  std::string log = write_log("day1.adi", three_contacts);
  scratch("day1.CSV");
  choose_input(log);
  convert_expecting(3);
  // The same file under another case of its name, confirmed in the save
  // dialog's question about replacing it.
  choose_output(folder + "DAY1.ADI", true);
  EXPECT_EQ(text_of(control(output_name_box)), "DAY1.ADI");
  expect_error(convert_button, same_file);
  EXPECT_EQ(file_bytes(log), three_contacts);
  EXPECT_EQ(rows(), std::vector<std::string>{});  // what this Convert found: nothing
  expect_error(open_button, not_converted);
}

TEST_F(Window, AFailedConversionKeepsTheOutputAndLeavesNothingToOpen) {
  // After a conversion, something goes wrong with the log or the output.
  enum Change { delete_log, make_log_a_pdf, lock_output, hold_output };
  struct Row {
    const char* name;
    Change change;
    std::string box;
    const char* output;  // the output's name
  } table[] = {
      {"gone", delete_log, input_not_opened, "gone.CSV"},
      {"pdf", make_log_a_pdf, not_a_log, "pdf.CSV"},
      // Opened without sharing: the output cannot even be opened.
      {"locked", lock_output, "locked.CSV" + std::string(in_use), "locked.CSV"},
      // Opened for reading by a program that lets others write but not
      // delete: the written file cannot replace it.
      {"held", hold_output, "held.CSV" + std::string(in_use), "held.CSV"},
      {"book", hold_output, "book.xlsx" + std::string(in_use), "book.xlsx"},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.name);
    std::string log = write_log(row.name + std::string(".adi"), three_contacts);
    std::string csv = scratch(row.output);
    choose_input(log);
    if (text_of(control(output_name_box)) != row.output) choose_output(folder + row.output, false);
    convert_expecting(3, is_workbook(row.output) ? "an Excel workbook" : "CSV format");
    std::string converted = file_bytes(csv);
    HANDLE held = INVALID_HANDLE_VALUE;
    if (row.change == delete_log) DeleteFileA(log.c_str());
    if (row.change == make_log_a_pdf) write_file(log, "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n");
    if (row.change == lock_output || row.change == hold_output) {
      DWORD sharing = row.change == hold_output ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
      held = CreateFileA(csv.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    std::vector<std::string> names = folder_names();
    expect_error(convert_button, row.box);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_EQ(file_bytes(csv), converted);
    // Nothing written on the way is left beside the output.
    EXPECT_EQ(folder_names(), names);
    expect_error(open_button, not_converted);
  }
}

TEST_F(Window, ACancelledChoiceKeepsThePathsButNeedsANewConversion) {
  std::string log = write_log("cancel.adi", three_contacts);
  scratch("cancel.CSV");
  choose_input(log);
  convert_expecting(3);
  ASSERT_TRUE(click_control(program.window, adif_file_button));
  HWND dialog = wait_for_dialog(pid(), "Input ADIF File", 10000);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(click_dialog_button(dialog, IDCANCEL));
  EXPECT_EQ(text_of(control(input_name_box)), "cancel.adi");
  EXPECT_EQ(text_of(control(output_name_box)), "cancel.CSV");
  expect_error(open_button, not_converted);
  convert_expecting(3);  // the same paths still convert
}

TEST_F(Window, ChoosingTheInputAgainReplacesAChosenOutput) {
  std::string log = write_log("again.adi", three_contacts);
  std::string chosen = scratch("chosen.csv");
  std::string derived = scratch("again.CSV");
  choose_input(log);
  choose_output(chosen, false);
  EXPECT_EQ(text_of(control(output_name_box)), "chosen.csv");
  choose_input(log);
  EXPECT_EQ(text_of(control(output_name_box)), "again.CSV");
  convert_expecting(3);
  EXPECT_NE(GetFileAttributesA(derived.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(chosen.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Window, WritesTheFileChosenInTheSaveDialogInItsFormAndOpensIt) {
  std::string log = write_log("saved.adi", three_contacts);
  const std::string csv = "BAND,CALL,QSO_DATE,TIME_ON,MODE\r\n";
  const std::string workbook = "PK";  // a zip, as every workbook is
  struct Row {
    const char* typed;
    int file_type;  // 0 CSV files (the first), 1 Excel workbooks
    const char* name;
    const char* form;
    std::string start;
  } table[] = {
      {"my sheet.csv", 0, "my sheet.csv", "CSV format", csv},
      {"my book.xlsx", 0, "my book.xlsx", "an Excel workbook", workbook},
      {"my other book", 1, "my other book.xlsx", "an Excel workbook", workbook},
  };
  choose_input(log);
  for (const Row& row : table) {
    SCOPED_TRACE(row.typed);
    std::string chosen = scratch(row.name);
    choose_output(folder + row.typed, false, row.file_type);
    EXPECT_EQ(text_of(control(output_name_box)), row.name);
    convert_expecting(3, row.form);
    EXPECT_EQ(file_bytes(chosen).substr(0, row.start.size()), row.start);
    register_opener(chosen.substr(chosen.rfind('.')), record);
    ASSERT_TRUE(click_control(program.window, open_button));
    EXPECT_EQ(lstrcmpiA(wait_for_record(record).c_str(), chosen.c_str()), 0);
    DeleteFileA(record.c_str());
  }
  remove_associations();
  EXPECT_EQ(GetFileAttributesA((folder + "saved.CSV").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Window, TheSaveDialogsTypeDecidesTheFormatAndIsRemembered) {
  std::string log = write_log("typed.adi", three_contacts);
  struct Row {
    const char* typed;
    int file_type;             // 0 CSV files (the first), 1 Excel workbooks
    const char* name;          // what the output box shows then
    const char* form;          // what the Done box says
    const char* start;         // what the output starts with
    const char* next_derived;  // the output derived from the next input choice
  } table[] = {
      // The type chosen replaces the other type's extension.
      {"typed.CSV", 1, "typed.xlsx", "an Excel workbook", "PK", "typed.xlsx"},
      {"typed.xlsx", 0, "typed.CSV", "CSV format", "BAND,", "typed.CSV"},
      {"chosen", 1, "chosen.xlsx", "an Excel workbook", "PK", "typed.xlsx"},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.typed);
    // Each choice is remembered from one start of the program to the next.
    stop_program(program);
    program = start_program(program_path());
    choose_input(log);
    std::string output = scratch(row.name);
    std::string typed = folder + row.typed;
    choose_output(typed, GetFileAttributesA(typed.c_str()) != INVALID_FILE_ATTRIBUTES,
                  row.file_type);
    EXPECT_EQ(text_of(control(output_name_box)), row.name);
    convert_expecting(3, row.form);
    EXPECT_EQ(file_bytes(output).substr(0, std::strlen(row.start)), row.start);
    choose_input(log);
    EXPECT_EQ(text_of(control(output_name_box)), row.next_derived);
  }
}

TEST_F(Window, AUTF16LogGivesTheCSVOfItsUTF8Form) {
  // The three contacts with a name that is not ASCII, in UTF-8 and in
  // UTF-16LE with its byte-order mark.
  std::string utf8 = std::string(three_contacts) + "<CALL:4>F5AB<NAME:5>Ren\xC3\xA9<EOR>\n";
  int units =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(units, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], units);
  std::string utf16 =
      "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), 2 * wide.size());
  struct Form {
    const char* name;
    std::string content;
  } forms[] = {{"utf-8", utf8}, {"utf-16", utf16}};
  std::vector<std::string> csv;
  std::vector<std::vector<std::string>> messages;
  for (const Form& form : forms) {
    choose_input(write_log(form.name + std::string(".adi"), form.content));
    convert_expecting(4);
    csv.push_back(file_bytes(scratch(form.name + std::string(".CSV"))));
    messages.push_back(rows());
  }
  EXPECT_NE(csv[0].find(",F5AB,,,,Ren\xC3\xA9\r\n"), std::string::npos) << csv[0];
  EXPECT_EQ(csv[1], csv[0]);
  EXPECT_EQ(messages[1], messages[0]);
}

TEST_F(Window, AboutShowsNameVersionAndNoticeOwnedByTheWindow) {
  BoxContent box = press_for_box(about_button);
  ASSERT_NE(box.box, nullptr);
  EXPECT_EQ(box.caption, "About this program...");
  EXPECT_EQ(box.owner, program.window);
  EXPECT_EQ(box.icon_colour, 'B');
  // Name, "Version 2.2 -- Apr 23 2024 11:16:32" (the version of the header), notice.
  size_t first = box.text.find('\n');
  size_t second = box.text.find('\n', first + 1);
  ASSERT_NE(second, std::string::npos) << box.text;
  EXPECT_EQ(box.text.find('\n', second + 1), std::string::npos) << box.text;
  EXPECT_EQ(box.text.substr(0, first), "Ledgerly");
  std::string version = box.text.substr(first + 1, second - first - 1);
  const std::string head = "Version " LEDGERLY_VERSION " -- ";
  ASSERT_EQ(version.size(), head.size() + 20) << version;
  EXPECT_EQ(version.substr(0, head.size()), head);
  std::string stamp = version.substr(head.size());
  EXPECT_EQ(stamp[3], ' ') << version;
  EXPECT_EQ(stamp[6], ' ') << version;
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[7])) &&
              std::isdigit(static_cast<unsigned char>(stamp[10])))
      << version;
  EXPECT_EQ(stamp[11], ' ') << version;
  EXPECT_EQ(stamp[14], ':') << version;
  EXPECT_EQ(stamp[17], ':') << version;
  EXPECT_NE(box.text.substr(second + 1).find("the Ledgerly authors"), std::string::npos);
  // The box is modal for the window: its buttons wait until it closes.
  EXPECT_FALSE(IsWindowEnabled(program.window));
  EXPECT_TRUE(click_dialog_button(box.box, IDOK));
  pause_for(100);
  EXPECT_TRUE(IsWindowEnabled(program.window));
}

TEST_F(Window, HelpOpensThePageBesideTheProgram) {
  std::string page = program_path().substr(0, program_path().rfind('\\') + 1) + "README.txt";
  write_file(page, "Ledgerly for Windows\r\n");
  register_opener(".txt", record);
  ASSERT_TRUE(click_control(program.window, help_button));
  EXPECT_EQ(lstrcmpiA(wait_for_record(record).c_str(), page.c_str()), 0) << wait_for_record(record);
  EXPECT_EQ(top_windows(pid(), "#32770"), std::vector<HWND>{});
  DeleteFileA(page.c_str());
  RegDeleteTreeA(HKEY_CLASSES_ROOT, ".txt");
  RegDeleteTreeA(HKEY_CLASSES_ROOT, "LedgerlyTest.txt");
}

TEST_F(Window, HelpOpensTheWebPageWithoutThePageBesideTheProgram) {
  std::string page = program_path().substr(0, program_path().rfind('\\') + 1) + "README.txt";
  ASSERT_EQ(GetFileAttributesA(page.c_str()), INVALID_FILE_ATTRIBUTES) << page;
  HMODULE resources = LoadLibraryExA(program_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(resources, nullptr);
  char address[80] = "";
  LoadStringA(resources, 1024, address, sizeof address);
  FreeLibrary(resources);
  register_opener("https", record);
  ASSERT_TRUE(click_control(program.window, help_button));
  EXPECT_EQ(wait_for_record(record), address);
  EXPECT_EQ(top_windows(pid(), "#32770"), std::vector<HWND>{});
}

TEST_F(Window, ExitEndsTheProgramWithCodeZero) {
  ASSERT_TRUE(click_control(program.window, exit_button));
  EXPECT_EQ(wait_for_exit(program, 10000, true), 0u);
}

TEST_F(Window, ClosingTheWindowEndsTheProgramWithCodeZero) {
  PostMessageW(program.window, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(wait_for_exit(program, 10000, true), 0u);
}

TEST_F(Window, ShowsTheSampleLogConvertedAndItsIconInTheTitleBar) {
  std::string sample = environment("LEDGERLY_EXAMPLES") + "\\station-log.adi";
  std::string content = file_bytes(sample);
  ASSERT_FALSE(content.empty()) << sample;
  std::string log = write_log("station-log.adi", content);
  scratch("station-log.CSV");
  choose_input(log);
  convert_expecting(count_records(content));
  EXPECT_FALSE(rows().empty());
  pause_for(300);

  RECT window;
  GetWindowRect(program.window, &window);
  // The small icon's green header band shows at the left of the title bar.
  RECT title_bar = {window.left, window.top, window.left + 32, window.top + 28};
  std::string shot = environment("LEDGERLY_SCREENSHOT");
  if (!shot.empty()) {
    EXPECT_TRUE(save_screen_bmp(window, shot)) << shot;
  }
  EXPECT_GT(count_exact_colour(title_bar, RGB(0, 128, 0)), 4) << "no icon in the title bar";
}

}  // namespace
