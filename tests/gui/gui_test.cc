// The parts of the window that work without a user: the derived names in the
// two boxes, the checks and the file order of Convert, the message list and
// its extent, the About text and the string table. Runs under Wine with a
// display; the controls are the real ones, on a hidden window.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gui/main_window.h"
#include "gui/resource.h"
#include "ledgerly_version.h"
#include "tests/test_streams.h"

namespace {

// A hidden window holding the ten controls, with an empty front end.
class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    front_end = FrontEnd{};
    // Outputs are derived as on a new machine: no output type remembered.
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Ledgerly");
    parent = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 545, 380, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    create_controls(parent);
    ASSERT_NE(front_end.input_name_box, nullptr);
    ASSERT_NE(front_end.output_name_box, nullptr);
    ASSERT_NE(front_end.message_list_box, nullptr);
  }
  void TearDown() override {
    DestroyWindow(parent);
    front_end = FrontEnd{};
  }
  HWND parent = nullptr;
};

std::string window_text(HWND window) {
  char text[path_bytes * 2] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::vector<std::string> list_rows() {
  std::vector<std::string> rows;
  LRESULT count = SendMessageA(front_end.message_list_box, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char row[512] = "";
    SendMessageA(front_end.message_list_box, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row));
    rows.push_back(row);
  }
  return rows;
}

LRESULT list_extent() {
  return SendMessageA(front_end.message_list_box, LB_GETHORIZONTALEXTENT, 0, 0);
}

void set_input_path(const std::string& path) {
  ASSERT_LT(path.size(), sizeof front_end.input_path);
  std::strcpy(front_end.input_path, path.c_str());
}

// Makes a message log from lists of lines, each list oldest line first.
struct Log {
  MessageLog log{};
  Log(const std::vector<std::string>& list0, const std::vector<std::string>& list1,
      const std::vector<std::string>& list2) {
    for (const std::string& text : list0) add_message(0, log, text.c_str());
    for (const std::string& text : list1) add_message(1, log, text.c_str());
    for (const std::string& text : list2) add_message(2, log, text.c_str());
  }
  ~Log() { free_message_log(log); }
};

TEST(FileNamePart, IsWhatFollowsTheLastBackslash) {
  struct Case {
    const char* path;
    const char* name;
  } cases[] = {
      {"C:\\logs\\day1.adi", "day1.adi"},
      {"C:\\day1.adi", "day1.adi"},
      {"day1.adi", "day1.adi"},
      {"C:\\logs\\", ""},
      {"", ""},
      {"C:/logs/day1.adi", "C:/logs/day1.adi"},  // only backslashes divide
  };
  for (const Case& c : cases) EXPECT_STREQ(file_name_part(c.path), c.name) << c.path;
}

TEST_F(Controls, ChoosingTheInputDerivesTheOutputAndShowsBothNames) {
  struct Case {
    const char* input;
    const char* output;
    const char* input_name;
    const char* output_name;
  } cases[] = {
      {"C:\\logs\\day1.adi", "C:\\logs\\day1.CSV", "day1.adi", "day1.CSV"},
      {"C:\\logs\\day1.adif", "C:\\logs\\day1.CSV", "day1.adif", "day1.CSV"},
      {"C:\\logs\\day1.csv.adi", "C:\\logs\\day1.csv.CSV", "day1.csv.adi", "day1.csv.CSV"},
      // A '.' in a folder name starts no extension; a name without one gets
      // ".CSV" appended.
      {"C:\\logs.2024\\nightlog", "C:\\logs.2024\\nightlog.CSV", "nightlog", "nightlog.CSV"},
      {"C:\\logs\\.adi", "C:\\logs\\.CSV", ".adi", ".CSV"},
  };
  for (const Case& c : cases) {
    set_input_path(c.input);
    input_file_chosen();
    EXPECT_STREQ(front_end.output_path, c.output) << c.input;
    EXPECT_EQ(window_text(front_end.input_name_box), c.input_name) << c.input;
    EXPECT_EQ(window_text(front_end.output_name_box), c.output_name) << c.input;
  }
}

TEST_F(Controls, ChoosingTheInputReplacesAChosenOutput) {
  std::strcpy(front_end.output_path, "D:\\sheets\\mine.csv");
  output_file_chosen();
  EXPECT_EQ(window_text(front_end.output_name_box), "mine.csv");
  set_input_path("C:\\logs\\day1.adi");
  input_file_chosen();
  EXPECT_STREQ(front_end.output_path, "C:\\logs\\day1.CSV");
  EXPECT_EQ(window_text(front_end.output_name_box), "day1.CSV");
}

TEST_F(Controls, ADerivedPathThatDoesNotFitLeavesTheOutputEmpty) {
  std::strcpy(front_end.output_path, "D:\\sheets\\mine.csv");
  output_file_chosen();
  // ".a" becomes ".CSV": two bytes longer than the 259 characters allowed.
  std::string folder = "C:\\" + std::string(250, 'f') + "\\";
  std::string longest = folder + "log.a";
  longest.insert(3, path_bytes - 1 - longest.size(), 'g');
  ASSERT_EQ(longest.size(), size_t{path_bytes - 1});
  set_input_path(longest);
  input_file_chosen();
  EXPECT_STREQ(front_end.output_path, "");
  EXPECT_EQ(window_text(front_end.output_name_box), "");
  EXPECT_EQ(window_text(front_end.input_name_box), "log.a");

  // One character shorter still fits exactly: 259 characters and the NUL.
  std::string fitting = longest.substr(0, 3) + longest.substr(5);
  fitting.insert(fitting.size() - 1, "b");  // "log.ba"
  ASSERT_EQ(fitting.size(), size_t{path_bytes - 2});
  set_input_path(fitting);
  input_file_chosen();
  EXPECT_EQ(std::strlen(front_end.output_path), size_t{path_bytes - 1});
  EXPECT_EQ(window_text(front_end.output_name_box), "log.CSV");
}

TEST_F(Controls, MessagesShowListsTwoOneZeroOldestFirstEachFollowedByAnEmptyRow) {
  Log log({"zero a"}, {}, {"two a", "two b", "two c"});
  show_message_log(log.log);
  EXPECT_EQ(list_rows(), (std::vector<std::string>{"two a", "two b", "two c", "", "zero a", ""}));

  Log only_one({}, {"one a", "one b"}, {});
  show_message_log(only_one.log);  // the earlier rows go
  EXPECT_EQ(list_rows(), (std::vector<std::string>{"one a", "one b", ""}));

  Log empty({}, {}, {});
  show_message_log(empty.log);
  EXPECT_EQ(list_rows(), std::vector<std::string>{});
  EXPECT_EQ(list_extent(), 450);
}

TEST_F(Controls, TheExtentIsEightPixelsACharacterOfTheLongestLineAndAtLeast450) {
  struct Case {
    std::vector<size_t> lengths;
    LRESULT extent;
  } cases[] = {
      {{56}, 450},
      {{57}, 456},
      {{10, 70, 60}, 560},
      {{79, 3}, 632},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines;
    for (size_t length : c.lengths) lines.push_back(std::string(length, 'x'));
    Log log({}, {}, lines);
    show_message_log(log.log);
    EXPECT_EQ(list_extent(), c.extent) << c.lengths.front();
  }
  // A narrower log after a wide one brings the extent back to 450.
  Log narrow({}, {}, {"short"});
  show_message_log(narrow.log);
  EXPECT_EQ(list_extent(), 450);
}

TEST_F(Controls, FillingAListReturnsTheLinesAdded) {
  Log log({}, {}, {"a", "b"});
  EXPECT_EQ(fill_message_list(log.log.lists[2]), 2);
  EXPECT_EQ(fill_message_list(nullptr), 0);
  EXPECT_EQ(list_rows(), (std::vector<std::string>{"a", "b"}));
}

// Scratch files for the Convert checks, in a folder with a '.' in its name.
class ConversionFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    folder = std::string(temp) + "ledgerly.gui_test\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    log = folder + "day1.adi";
    csv = folder + "day1.CSV";
    write_file(log, log_text);
    DeleteFileA(csv.c_str());
  }
  void TearDown() override {
    DeleteFileA(log.c_str());
    DeleteFileA(csv.c_str());
    RemoveDirectoryA(folder.c_str());
  }
  // Runs the checks and the conversion; returns the string to report, or 0.
  int check(const std::string& input, const std::string& output) {
    int error = check_conversion_paths(input.c_str(), output.c_str());
    if (error) return error;
    MessageLog log{};
    MessageSink sink{};
    sink.log = &log;
    ConversionResult result =
        convert_files(input.c_str(), output.c_str(), chosen_format(output.c_str(), 0), sink);
    free_message_log(log);
    return result.status == CONVERSION_FAILED ? failure_string(result) : 0;
  }
  const std::string log_text = "<EOH>\n<CALL:4>G4AB<EOR>\n";
  std::string folder, log, csv;
};

TEST_F(ConversionFiles, ChecksComeInOrderAndNameTheirStrings) {
  std::string missing = folder + "gone.adi";
  EXPECT_EQ(check("", ""), IDS_NO_INPUT);
  EXPECT_EQ(check("", csv), IDS_NO_INPUT);
  EXPECT_EQ(check(log, ""), IDS_NO_OUTPUT);
  EXPECT_EQ(check(missing, ""), IDS_NO_OUTPUT);
  EXPECT_EQ(check(missing, folder + "nowhere\\x.CSV"), IDS_INPUT_OPEN_FAILED);
  EXPECT_EQ(check(log, folder + "nowhere\\x.CSV"), IDS_OUTPUT_OPEN_FAILED);
  EXPECT_EQ(GetFileAttributesA(csv.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(check(log, csv), 0);
  EXPECT_EQ(file_bytes(csv), "CALL\r\nG4AB\r\n");
  EXPECT_EQ(file_bytes(log), log_text);
}

TEST_F(ConversionFiles, AMissingInputLeavesAnExistingCSVAlone) {
  write_file(csv, "kept\r\n");
  EXPECT_EQ(check(folder + "gone.adi", csv), IDS_INPUT_OPEN_FAILED);
  EXPECT_EQ(file_bytes(csv), "kept\r\n");
}

TEST_F(ConversionFiles, AnOutputNamingTheInputIsRefusedAndTheLogKept) {
  std::string other_spellings[] = {
      log,
      folder + "DAY1.ADI",
      folder + ".\\day1.adi",
      folder + "..\\ledgerly.gui_test\\Day1.adi",
  };
  for (const std::string& output : other_spellings) {
    EXPECT_EQ(check(log, output), IDS_SAME_FILE) << output;
    EXPECT_EQ(file_bytes(log), log_text) << output;
  }
}

TEST_F(ConversionFiles, ALockedOutputIsReportedAndTheInputClosed) {
  write_file(csv, "locked\r\n");
  HANDLE lock = CreateFileA(csv.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_EQ(check(log, csv), IDS_OUTPUT_OPEN_FAILED);
  CloseHandle(lock);
  EXPECT_EQ(file_bytes(csv), "locked\r\n");
  // The input stream was closed: its file can go.
  EXPECT_TRUE(DeleteFileA(log.c_str()));
}

TEST_F(ConversionFiles, ANameEndingInXlsxGetsAWorkbook) {
  std::string workbook = folder + "day1.XLSX";
  EXPECT_TRUE(is_workbook_path(workbook.c_str()));
  EXPECT_FALSE(is_workbook_path(csv.c_str()));
  EXPECT_EQ(check(log, workbook), 0);
  EXPECT_EQ(file_bytes(workbook).substr(0, 2), "PK");  // a zip, as every .xlsx is
  DeleteFileA(workbook.c_str());
}

TEST(SaveDialog, OffersTheWorkbookAfterTheCsvFiles) {
  char filter[3 * string_bytes];
  size_t size = output_filter(filter);
  // Three pairs, each string ended by a NUL, then the NUL that ends the list.
  const char expected[] = "CSV Files\0*.csv;\0Excel Workbook (*.xlsx)\0*.xlsx\0All Files\0*.*\0";
  EXPECT_EQ(std::string(filter, size), std::string(expected, sizeof expected));
}

TEST(Strings, AreTheProgramsOwnTexts) {
  struct Case {
    int id;
    const char* text;
  } cases[] = {
      {IDS_ABOUT_CAPTION, "About this program..."},
      {IDS_DISPLAY_NAME, "Ledgerly"},
      {IDS_NOT_CONVERTED, "Can't open spreadsheet because it has not been converted."},
      {IDS_NO_INPUT, "Did not specify input ADIF file."},
      {IDS_NO_BROWSER, "Could not start web browser."},
      {IDS_NO_OUTPUT, "Did not specify outpu CSV file."},
      {IDS_INPUT_OPEN_FAILED, "Could not open ADIF input file."},
      {IDS_OUTPUT_OPEN_FAILED, "Could not open CSV output file."},
      {IDS_SAME_FILE, "Output CSV file is the same as the input ADIF file."},
      {IDS_WRITE_FAILED, "Could not write CSV output file."},
      {IDS_WORKBOOK_FILES, "Excel Workbook (*.xlsx)"},
  };
  for (const Case& c : cases) {
    char text[string_bytes];
    load_string(c.id, text);
    EXPECT_STREQ(text, c.text) << c.id;
  }
  char notice[string_bytes];
  load_string(IDS_NOTICE, notice);
  EXPECT_NE(std::strstr(notice, "the Ledgerly authors"), nullptr) << notice;
  char address[string_bytes];
  load_string(IDS_WEB_PAGE, address);
  EXPECT_EQ(std::strncmp(address, "https://", 8), 0) << address;
  // Every text fits the 80-byte buffers whole.
  for (int id = IDS_ABOUT_CAPTION; id <= IDS_OUTPUT_IS_LOG; ++id) {
    char whole[256] = "";
    LoadStringA(GetModuleHandleA(nullptr), id, whole, sizeof whole);
    EXPECT_GT(std::strlen(whole), 0u) << id;
    EXPECT_LT(std::strlen(whole), size_t{string_bytes}) << id;
  }
  char unknown[string_bytes] = "x";
  load_string(999, unknown);
  EXPECT_STREQ(unknown, "");
}

// The window says each failure as the command line does: the core's
// sentence for the output's format and the kind of log.
TEST(Strings, FailuresAreTheCoresSentencesForEachFormatAndKindOfLog) {
  FrontEnd saved = front_end;
  const char* const inputs[] = {"C:\\logs\\day1.adi", "C:\\logs\\day1.adx"};
  const char* const outputs[] = {"C:\\logs\\day1.CSV", "C:\\logs\\day1.xlsx"};
  for (int failure = FAILED_NO_INPUT; failure <= FAILED_OUTPUT_IS_LOG; ++failure) {
    if (failure == FAILED_STOPPED) continue;  // what the user asked for, not an error
    for (int kind = LOG_ADIF; kind <= LOG_ADX; ++kind) {
      for (int format = FORMAT_CSV; format <= FORMAT_XLSX; ++format) {
        std::strcpy(front_end.input_path, inputs[kind]);
        std::strcpy(front_end.output_path, outputs[format]);
        front_end.output_type = 0;  // the format the name says
        ConversionResult result{};
        fail_conversion(result, static_cast<ConversionFailure>(failure), 0, nullptr);
        // A log that could not be opened is known by its name only.
        result.kind = failure == FAILED_NO_INPUT ? LOG_ADIF : static_cast<LogKind>(kind);
        char expected[160];
        compose_failure_sentence(result, static_cast<OutputFormat>(format), front_end.input_path,
                                 expected, sizeof expected);
        char shown[string_bytes];
        load_string(failure_string(result), shown);
        EXPECT_STREQ(shown, expected) << failure << " " << kind << " " << format;
      }
    }
  }
  front_end = saved;
}

TEST(About, ThreeLinesNameVersionAndNotice) {
  char text[path_bytes];
  compose_about_text(text);
  char notice[string_bytes];
  load_string(IDS_NOTICE, notice);
  const std::string head = "Ledgerly\nVersion " LEDGERLY_VERSION " -- ";
  std::string expected = head + __DATE__ + " " + __TIME__ + "\n" + notice;
  // The build date and time are those of the commands' file, compiled in
  // the same build; only their form can be compared.
  std::string got = text;
  ASSERT_EQ(got.size(), expected.size()) << got;
  EXPECT_EQ(got.substr(0, head.size()), head);
  EXPECT_EQ(got.substr(got.size() - std::strlen(notice)), notice);
  EXPECT_EQ(got[head.size() + 3], ' ');  // "Apr 23 2024 11:16:32"
  EXPECT_EQ(got[head.size() + 11], ' ');
  EXPECT_EQ(got[head.size() + 14], ':');
  EXPECT_EQ(got[head.size() + 17], ':');
}

TEST(Revision, IsMadeOnceAndKept) {
  const char* first = revision_string();
  EXPECT_STREQ(first, LEDGERLY_VERSION);
  EXPECT_EQ(revision_string(), first);
}

TEST(Commands, OnlyTheSevenButtonsAreCommands) {
  // IDOK and IDCANCEL (Enter and Escape) and the boxes' identifiers are not.
  for (int id : {IDOK, IDCANCEL, IDC_INPUT_NAME, IDC_OUTPUT_NAME, IDC_MESSAGES, 1006, 1008}) {
    EXPECT_FALSE(run_command(nullptr, id)) << id;
  }
}

}  // namespace
