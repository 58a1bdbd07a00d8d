// Memory running out at every allocation of a conversion in turn: each run
// must end either in exactly the result of a run with memory to spare, or in
// a failure that keeps the previous output and leaves no temporary file.
// Never a shorter output reported as a success.
//
// The test executable puts its own malloc, calloc, realloc and free in front
// of the C library's (GNU C library only), so that every allocation of the
// conversion and the libraries under it is counted, and the chosen one fails.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "cli/convert_command.h"
#include "convert/convert.h"
#include "tests/test_streams.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {

// While `counting`, each allocation adds one to `made`, and the one
// numbered `failing` (from 1; 0 for none) returns null.
struct Countdown {
  bool counting;
  long made;
  long failing;
};
Countdown countdown{};

// The workbook library (1.1.4) and the zip library under it do not survive
// every failed allocation of their own: one inside workbook_add_worksheet or
// zipOpenNewFileInZip4_64 crashes, and some in the workbook library's tables
// go unnoticed and leave a different workbook. Allocations they make
// themselves are counted but never failed; those the C library makes for
// them (files, streams) are.
bool made_by_a_library(const void* caller) {
  Dl_info module{};
  if (!dladdr(caller, &module) || !module.dli_fname) return false;
  return std::strstr(module.dli_fname, "libxlsxwriter") ||
         std::strstr(module.dli_fname, "libminizip");
}

bool allocation_fails(const void* caller) {
  if (!countdown.counting || ++countdown.made != countdown.failing) return false;
  if (made_by_a_library(caller)) return false;
  errno = ENOMEM;
  return true;
}

}  // namespace

extern "C" void* malloc(size_t size) noexcept {
  return allocation_fails(__builtin_return_address(0)) ? nullptr : __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) noexcept {
  return allocation_fails(__builtin_return_address(0)) ? nullptr : __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, size_t size) noexcept {
  return size != 0 && allocation_fails(__builtin_return_address(0)) ? nullptr
                                                                    : __libc_realloc(block, size);
}

extern "C" void free(void* block) noexcept { __libc_free(block); }

// The workbook library stamps each workbook with the time it was made; one
// fixed time makes the workbooks of two runs the same bytes.
extern "C" time_t time(time_t* when) noexcept {
  if (when) *when = 1704067200;
  return 1704067200;
}

namespace {

const std::string adif_log =
    "Exported log <PROGRAMID:4>Test <EOH>\n"
    "<CALL:4>K1AB <QSO_DATE:8>20240105 <TIME_ON:4>0930 <FREQ:7>14.0740 <EOR>\n"
    "<CALL:4>W1AW <BAND:3>20m <BAND:3>40m <MODE:2>CW <MODE:3>SSB <EOR>\n"
    "<CALL:5>DL1XY <NOTES:23>first line\r\nsecond line <MODE:2>CW <EOR>\n";

std::string utf16le(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (char c : text) bytes += std::string(1, c) + '\0';
  return bytes;
}

const std::string adx_log =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<ADX><HEADER><PROGRAMID>Test</PROGRAMID></HEADER><RECORDS>\n"
    "<RECORD><CALL>K1AB</CALL><BAND>20m</BAND><BAND>40m</BAND></RECORD>\n"
    "<RECORD><CALL>W1AW</CALL><NOTES>two\nlines</NOTES></RECORD>\n"
    "</RECORDS></ADX>\n";

// `count` lines of `text`.
std::string lines(int count, const std::string& text) {
  std::string all;
  for (int i = 0; i < count; ++i) all += text + "\n";
  return all;
}

struct AllocationCase {
  const char* what;
  std::string log;
  const char* log_name;
  const char* output_name;
  OutputFormat format;
  const char* columns;
};

// What one run left: its result, messages, output and the folders' files.
struct Outcome {
  ConversionResult result;
  std::vector<std::string> messages;
  std::string output;
  std::vector<std::string> files;  // in the scratch folder and the temporary folder
};

// The sink of the command line: keeps each message, with memory to spare.
void keep_message(void* context, const char* text) {
  bool counting = countdown.counting;
  countdown.counting = false;
  static_cast<std::vector<std::string>*>(context)->push_back(text);
  countdown.counting = counting;
}

std::vector<std::string> files_in(const std::string& folder) {
  std::vector<std::string> names;
  DIR* listing = opendir(folder.c_str());
  while (dirent* entry = listing ? readdir(listing) : nullptr) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(folder + "/" + name);
  }
  if (listing) closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

const std::string previous_output = "the previous output\n";

// Converts the case's log from `folder` over a previous output, failing the
// allocation numbered `failing` (0: none); the window's message log when
// `to_log`, else the command line's printer.
Outcome run(const AllocationCase& row, const std::string& folder, bool to_log, long failing) {
  std::string input = folder + "/" + row.log_name;
  std::string output = folder + "/" + row.output_name;
  write_file(output, previous_output);
  ConversionRequest request{};
  request.input_path = input.c_str();
  request.output_path = output.c_str();
  request.options.format = row.format;
  request.options.columns = row.columns;
  Outcome outcome{};
  outcome.messages.reserve(16);
  MessageLog log{};
  MessageSink sink{};
  if (to_log) {
    sink.log = &log;
  } else {
    sink.print = keep_message;
    sink.context = &outcome.messages;
  }
  countdown = Countdown{true, 0, failing};
  try {
    outcome.result = run_conversion(request, sink);
  } catch (const std::bad_alloc&) {
    countdown.counting = false;
    ADD_FAILURE() << "std::bad_alloc left the conversion";
    outcome.result.status = CONVERSION_FAILED;
  }
  long made = countdown.made;
  countdown = Countdown{false, made, 0};
  for (const MessageLine* line = log.lists[2]; line; line = line->next) {
    outcome.messages.insert(outcome.messages.begin(), line->text);
  }
  free_message_log(log);
  outcome.output = file_bytes(output);
  outcome.files = files_in(folder);
  std::vector<std::string> temporary = files_in(folder + "/tmp");
  outcome.files.insert(outcome.files.end(), temporary.begin(), temporary.end());
  return outcome;
}

const std::vector<AllocationCase> cases = {
    {"ADIF to CSV", adif_log, "log.adi", "log.csv", FORMAT_CSV, nullptr},
    {"ADIF to a workbook", adif_log, "log.adi", "log.xlsx", FORMAT_XLSX, nullptr},
    {"UTF-16 ADIF to CSV", utf16le(adif_log), "utf16.adi", "utf16.csv", FORMAT_CSV, nullptr},
    {"ADX to CSV", adx_log, "log.adx", "adx.csv", FORMAT_CSV, nullptr},
    {"chosen columns", adif_log, "log.adi", "chosen.csv", FORMAT_CSV, "call,notes,band"},
    {"value longer than a read block",
     "<CALL:4>K1AB <NOTES:300000>" + lines(3000, std::string(99, 'n')) + "<EOR>\n", "long.adi",
     "long.csv", FORMAT_CSV, nullptr},
    {"line over 8190 characters", adif_log + std::string(9000, 'x') + "\n", "wide.adi", "wide.csv",
     FORMAT_CSV, nullptr},
    {"log ending inside a record", adif_log + "<CALL:4>N0XX", "cut.adi", "cut.csv", FORMAT_CSV,
     nullptr},
};

// A scratch folder with a temporary folder of its own in it, set as TMPDIR
// while it lasts.
struct ScratchFolder {
  std::string path = scratch_path("allocation");
  std::string kept_tmpdir;
  bool had_tmpdir;
  ScratchFolder() {
    const char* tmpdir = std::getenv("TMPDIR");
    had_tmpdir = tmpdir != nullptr;
    kept_tmpdir = tmpdir ? tmpdir : "";
    mkdir(path.c_str(), 0700);
    mkdir((path + "/tmp").c_str(), 0700);
    setenv("TMPDIR", (path + "/tmp").c_str(), 1);
  }
  ~ScratchFolder() {
    if (had_tmpdir) {
      setenv("TMPDIR", kept_tmpdir.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    for (const std::string& file : files_in(path + "/tmp")) std::remove(file.c_str());
    for (const std::string& file : files_in(path)) std::remove(file.c_str());
    std::remove(path.c_str());
  }
};

TEST(Allocation, EveryFailureKeepsTheOutputWholeOrThePreviousOne) {
  ScratchFolder scratch;
  const std::string& folder = scratch.path;
  for (const AllocationCase& row : cases) {
    for (bool to_log : {false, true}) {
      SCOPED_TRACE(std::string(row.what) + (to_log ? ", messages to the log" : ", printed"));
      write_file(folder + "/" + row.log_name, row.log);
      run(row, folder, to_log, 0);  // the first run fills what is kept for later runs
      Outcome whole = run(row, folder, to_log, 0);
      long allocations = countdown.made;
      ASSERT_NE(whole.result.status, CONVERSION_FAILED);
      ASSERT_GT(allocations, 0);
      for (long failing = 1; failing <= allocations; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing) + " of " +
                     std::to_string(allocations) + " failed");
        Outcome outcome = run(row, folder, to_log, failing);
        EXPECT_EQ(outcome.files, whole.files);
        if (outcome.result.status == CONVERSION_FAILED) {
          EXPECT_EQ(outcome.output, previous_output);
          const ConversionResult& failed = outcome.result;
          EXPECT_TRUE(failed.failure == FAILED_OUT_OF_MEMORY || failed.error == ENOMEM ||
                      std::strstr(failed.detail, "emory"))
              << "failure " << failed.failure << ", error " << failed.error << ": "
              << failed.detail;
          EXPECT_NE(failed.failure, FAILED_TOO_WIDE);  // memory, not columns, ran out
          continue;
        }
        EXPECT_EQ(outcome.result.status, whole.result.status);
        EXPECT_EQ(outcome.result.records, whole.result.records);
        EXPECT_EQ(outcome.messages, whole.messages);
        EXPECT_TRUE(outcome.output == whole.output) << "the output differs";
      }
    }
  }
}

// What ledgerly-convert LOG (the output named after the log) did, failing
// the allocation numbered `failing` (0: none).
struct CommandOutcome {
  int status;
  std::string said;  // on standard error
  std::string output;
  std::vector<std::string> files;
};

CommandOutcome run_command(const std::string& folder, long failing) {
  std::string log = folder + "/command.adi";
  std::string output = folder + "/command.CSV";
  write_file(output, previous_output);
  StreamPtr err = empty_stream();
  setvbuf(err.get(), nullptr, _IONBF, 0);  // as standard error is
  std::vector<char> argument(log.begin(), log.end());
  argument.push_back('\0');
  char name[] = "ledgerly-convert";
  char* argv[] = {name, argument.data(), nullptr};
  CommandOutcome outcome{};
  countdown = Countdown{true, 0, failing};
  try {
    outcome.status = run_convert_command(2, argv, stdin, stdout, err.get());
  } catch (const std::bad_alloc&) {
    countdown.counting = false;
    ADD_FAILURE() << "std::bad_alloc left the command";
    outcome.status = EXIT_FAILED;
  }
  long made = countdown.made;
  countdown = Countdown{false, made, 0};
  outcome.said = stream_bytes(err.get());
  outcome.output = file_bytes(output);
  outcome.files = files_in(folder);
  return outcome;
}

TEST(Allocation, TheCommandLineFailsWithStatus1OrConvertsWhole) {
  ScratchFolder scratch;
  write_file(scratch.path + "/command.adi", adif_log);
  run_command(scratch.path, 0);
  CommandOutcome whole = run_command(scratch.path, 0);
  long allocations = countdown.made;
  ASSERT_EQ(whole.status, EXIT_CONVERTED);
  for (long failing = 1; failing <= allocations; ++failing) {
    SCOPED_TRACE("allocation " + std::to_string(failing) + " of " + std::to_string(allocations) +
                 " failed");
    CommandOutcome outcome = run_command(scratch.path, failing);
    EXPECT_EQ(outcome.files, whole.files);
    if (outcome.status == EXIT_FAILED) {
      EXPECT_EQ(outcome.output, previous_output);
      EXPECT_NE(outcome.said.find("memory"), std::string::npos) << outcome.said;
    } else {
      EXPECT_EQ(outcome.status, whole.status);
      EXPECT_EQ(outcome.said, whole.said);
      EXPECT_TRUE(outcome.output == whole.output) << "the output differs";
    }
  }
}

}  // namespace
