// Operating-system helpers: outputs put in place only when complete, file
// identities and stamps, reading twice, spooling, standard streams, signals.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "os/input_file.h"
#include "os/output_file.h"
#include "tests/test_streams.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

int process_id() {
#ifdef _WIN32
  return _getpid();
#else
  return getpid();
#endif
}

// A new empty folder for one test, removed with all it holds at the end.
struct ScratchFolder {
  fs::path path;
  ScratchFolder() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name =
        std::string("ledgerly-os-") + test->name() + "-" + std::to_string(process_id());
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') c = '_';
    }
    path = fs::temp_directory_path() / name;
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string file(const char* name) const { return (path / name).string(); }
  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
      found.insert(entry.path().filename().string());
    }
    return found;
  }
};

using Names = std::set<std::string>;

// Begins an output over `target`, writes `bytes` to it and returns it.
OutputFile output_with(const std::string& target, const std::string& bytes) {
  OutputFile file{};
  int error = 0;
  EXPECT_TRUE(output_file_begin(file, target.c_str(), error)) << system_error_text(error);
  if (file.stream) std::fputs(bytes.c_str(), file.stream);
  return file;
}

TEST(OutputFile, CommitReplacesTheTarget) {
  ScratchFolder folder;
  std::string target = folder.file("log.csv");
  write_file(target, "old\n");
#ifndef _WIN32
  chmod(target.c_str(), 0640);
#endif
  OutputFile file = output_with(target, "new\n");
  EXPECT_NE(output_file_path(file), target);
  EXPECT_EQ(folder.names().size(), 2u);  // the target and the file being written
  int error = 0;
  EXPECT_TRUE(output_file_commit(file, error)) << system_error_text(error);
  output_file_discard(file);  // harmless after commit
  EXPECT_EQ(file_bytes(target), "new\n");
  EXPECT_EQ(folder.names(), Names{"log.csv"});
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
#endif
}

#ifndef _WIN32
TEST(OutputFile, NewTargetHasTheBitsTheUmaskLeaves) {
  ScratchFolder folder;
  std::string target = folder.file("new.csv");
  mode_t previous = umask(027);
  OutputFile file = output_with(target, "x");
  int error = 0;
  EXPECT_TRUE(output_file_commit(file, error));
  umask(previous);
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(OutputFile, LinkedTargetKeepsItsLinkAndReplacesItsFile) {
  ScratchFolder folder;
  write_file(folder.file("real.csv"), "old");
  ASSERT_EQ(symlink("real.csv", folder.file("link.csv").c_str()), 0);
  OutputFile file = output_with(folder.file("link.csv"), "new");
  int error = 0;
  EXPECT_TRUE(output_file_commit(file, error));
  EXPECT_TRUE(fs::is_symlink(folder.file("link.csv")));
  EXPECT_EQ(file_bytes(folder.file("real.csv")), "new");
}

// A dangling link stays a link: the file it names is made.
TEST(OutputFile, DanglingLinkGetsTheFileItNames) {
  ScratchFolder folder;
  ASSERT_EQ(symlink("made.csv", folder.file("link.csv").c_str()), 0);
  OutputFile file = output_with(folder.file("link.csv"), "new");
  int error = 0;
  EXPECT_TRUE(output_file_commit(file, error)) << system_error_text(error);
  EXPECT_TRUE(fs::is_symlink(folder.file("link.csv")));
  EXPECT_EQ(file_bytes(folder.file("made.csv")), "new");
  EXPECT_EQ(folder.names(), (Names{"link.csv", "made.csv"}));
}

TEST(OutputFile, LinksThatLeadNowhereAreRefused) {
  struct Row {
    const char* link;
    const char* points_to;
    int error;
  };
  const Row rows[] = {
      {"into-missing.csv", "missing/log.csv", ENOENT},
      {"loop.csv", "loop.csv", ELOOP},
  };
  for (const Row& row : rows) {
    ScratchFolder folder;
    ASSERT_EQ(symlink(row.points_to, folder.file(row.link).c_str()), 0);
    OutputFile file{};
    int error = 0;
    EXPECT_FALSE(output_file_begin(file, folder.file(row.link).c_str(), error)) << row.link;
    EXPECT_EQ(error, row.error) << row.link;
    EXPECT_EQ(folder.names(), Names{row.link});
  }
}
#endif

// A library that writes the file by its path: the caller closes the stream.
TEST(OutputFile, CommitTakesAFileWrittenByPath) {
  ScratchFolder folder;
  std::string target = folder.file("book.xlsx");
  OutputFile file = output_with(target, "");
  std::fclose(file.stream);
  file.stream = nullptr;
  write_file(output_file_path(file), "workbook");
  int error = 0;
  EXPECT_TRUE(output_file_commit(file, error)) << system_error_text(error);
  EXPECT_EQ(file_bytes(target), "workbook");
  EXPECT_EQ(folder.names(), Names{"book.xlsx"});
}

// The temporary name keeps the folder and at most temporary_name_keeps bytes
// of the file name, cut where a character starts.
TEST(OutputFile, TemporaryNameOfALongTargetIsCutShort) {
  const std::string kept(temporary_name_keeps, 'a');
  const std::string two_byte_at_cut = std::string(temporary_name_keeps - 1, 'a') + "\xC3\xA9.csv";
  struct Row {
    std::string path;
    size_t folder;
    std::string name;
  };
  const Row rows[] = {
      {"logs/day1.csv", 5, "logs/.day1.csv.XXXXXX.part"},
      {"logs/" + kept + ".csv", 5, "logs/." + kept + ".XXXXXX.part"},
      {two_byte_at_cut, 0, "." + kept.substr(1) + ".XXXXXX.part"},
  };
  for (const Row& row : rows) {
    char* name = temporary_output_name(row.path.c_str(), row.folder);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name), row.name) << row.path;
    std::free(name);
  }
}

TEST(OutputFile, DiscardLeavesTheTargetAsItWas) {
  struct Row {
    bool closed_by_caller;
  };
  for (Row row : {Row{false}, Row{true}}) {
    ScratchFolder folder;
    std::string target = folder.file("log.csv");
    write_file(target, std::string("old\r\n\0 bytes", 12));
    std::string before = file_bytes(target);
    OutputFile file = output_with(target, "new");
    if (row.closed_by_caller) {
      std::fclose(file.stream);
      file.stream = nullptr;
    }
    output_file_discard(file);
    output_file_discard(file);
    EXPECT_EQ(file_bytes(target), before) << row.closed_by_caller;
    EXPECT_EQ(folder.names(), Names{"log.csv"}) << row.closed_by_caller;
  }
}

TEST(OutputFile, BeginFailsWhereNoFileCanBeMade) {
  ScratchFolder folder;
  fs::create_directory(folder.path / "sub");
  struct Row {
    const char* name;
    int error;
  };
  const Row rows[] = {
      {"missing/log.csv", ENOENT},
      {"", ENOENT},
      {"sub", EISDIR},
  };
  for (const Row& row : rows) {
    OutputFile file{};
    int error = 0;
    std::string path = *row.name ? folder.file(row.name) : "";
    EXPECT_FALSE(output_file_begin(file, path.c_str(), error)) << row.name;
    EXPECT_EQ(error, row.error) << row.name;
    EXPECT_EQ(file.stream, nullptr) << row.name;
    EXPECT_EQ(file.temporary_path, nullptr) << row.name;
  }
  EXPECT_EQ(folder.names(), Names{"sub"});
  EXPECT_TRUE(fs::is_empty(folder.path / "sub"));
}

// The null device cannot be replaced: it is written in place.
TEST(OutputFile, NullDeviceIsWrittenInPlace) {
#ifdef _WIN32
  const char* device = "NUL";
#else
  const char* device = "/dev/null";
#endif
  OutputFile file = output_with(device, "bytes");
  EXPECT_STREQ(output_file_path(file), device);
  int error = 0;
  EXPECT_TRUE(output_file_commit(file, error)) << system_error_text(error);
}

#ifndef _WIN32
// A file name of 250 bytes, which a temporary name of the whole name plus 13
// bytes would not fit.
TEST(OutputFile, LongTargetNameIsWrittenWhole) {
  ScratchFolder folder;
  std::string name = std::string(246, 'n') + ".csv";
  OutputFile file = output_with(folder.file(name.c_str()), "new");
  int error = 0;
  EXPECT_TRUE(output_file_commit(file, error)) << system_error_text(error);
  EXPECT_EQ(folder.names(), Names{name});
}

// Runs `child` in a forked process and returns its wait status.
template <typename Child>
int run_child(Child child) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    child();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// A write that fails for want of room: the commit reports why, keeps the
// previous target and leaves no temporary file.
TEST(OutputFile, FailedWriteKeepsItsErrnoAndTheTarget) {
  ScratchFolder folder;
  std::string target = folder.file("log.csv");
  write_file(target, "old");
  int status = run_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      4096, 4096
    };
    setrlimit(RLIMIT_FSIZE, &limit);
    OutputFile file = output_with(target, "");
    std::string bytes(65536, 'x');
    std::fwrite(bytes.data(), 1, bytes.size(), file.stream);
    std::fputs("more", file.stream);
    int error = 0;
    _exit(output_file_commit(file, error) ? 0 : error);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), EFBIG);
  EXPECT_EQ(file_bytes(target), "old");
  EXPECT_EQ(folder.names(), Names{"log.csv"});
}

// A device is written in place, as it cannot be replaced; a full one says so.
TEST(OutputFile, FullDeviceGivesNoSpaceLeft) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  OutputFile file = output_with("/dev/full", std::string(100000, 'x'));
  EXPECT_STREQ(output_file_path(file), "/dev/full");
  int error = 0;
  EXPECT_FALSE(output_file_commit(file, error));
  EXPECT_EQ(error, ENOSPC);
}

void note_signal(int) {}

TEST(OutputFile, SignalRemovesTheTemporaryFileAndEndsTheProcess) {
  const int fatal[] = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGPIPE, SIGXFSZ, SIGALRM,  SIGUSR1,
                       SIGUSR2, SIGVTALRM, SIGPROF, SIGABRT, SIGSEGV, SIGSYS,  SIGRTMIN, SIGRTMAX};
  for (int signal_number : fatal) {
    ScratchFolder folder;
    std::string target = folder.file("log.csv");
    write_file(target, "old");
    int status = run_child([&] {
      struct rlimit no_core {};
      setrlimit(RLIMIT_CORE, &no_core);
      signal(signal_number, SIG_DFL);
      OutputFile file = output_with(target, "partial");
      std::fflush(file.stream);
      remove_output_files_on_signals();
      raise(signal_number);
      _exit(0);
    });
    EXPECT_TRUE(WIFSIGNALED(status)) << signal_number;
    EXPECT_EQ(WTERMSIG(status), signal_number);
    EXPECT_EQ(file_bytes(target), "old");
    EXPECT_EQ(folder.names(), Names{"log.csv"}) << signal_number;
  }
}

// A signal ignored or handled before is left so: the process goes on.
TEST(OutputFile, SignalIgnoredOrHandledBeforeStaysSo) {
  for (void (*before)(int) : {SIG_IGN, note_signal}) {
    int status = run_child([&] {
      signal(SIGPIPE, before);
      remove_output_files_on_signals();
      raise(SIGPIPE);
      _exit(3);
    });
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
  }
}

// A closed standard descriptor gets the null device the other way round: no
// file opened later takes its number, and using it fails.
TEST(StandardStreams, ClosedDescriptorIsHeldAndFailsItsUse) {
  struct Row {
    int descriptor;
    bool reopen;
    int exit_status;  // 1: a later file took the number; 2: the use did not fail
  };
  const Row rows[] = {{0, true, 0}, {1, true, 0}, {2, true, 0}, {2, false, 1}};
  for (const Row& row : rows) {
    int status = run_child([&] {
      close(row.descriptor);
      if (row.reopen) reopen_closed_standard_streams();
      int descriptor = open("/dev/null", O_RDONLY);
      if (descriptor == row.descriptor) _exit(1);
      char byte = 'x';
      ssize_t used = row.descriptor == 0 ? read(0, &byte, 1) : write(row.descriptor, &byte, 1);
      _exit(used < 0 && errno == EBADF ? 0 : 2);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), row.exit_status) << row.descriptor << row.reopen;
  }
  int status = run_child([] {
    close(1);
    reopen_closed_standard_streams();
    _exit(stream_can_write(stdout) ? 1 : 0);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(stream_can_write(stdout));
}
#endif

struct CloseFile {
  void operator()(FILE* file) const {
    if (file) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<FILE, CloseFile>;

FilePtr open_file(const std::string& path, const char* mode) {
  return FilePtr(std::fopen(path.c_str(), mode));
}

TEST(FileIdentity, SameFileThroughAnyStreamOrLink) {
  ScratchFolder folder;
  std::string first = folder.file("first.adi");
  write_file(first, "a");
  write_file(folder.file("second.adi"), "a");
  FileIdentity a{}, again{}, other{}, by_path{}, missing{};
  FilePtr one = open_file(first, "rb");
  FilePtr two = open_file(first, "rb");
  FilePtr three = open_file(folder.file("second.adi"), "rb");
  ASSERT_TRUE(stream_identity(one.get(), a));
  ASSERT_TRUE(stream_identity(two.get(), again));
  ASSERT_TRUE(stream_identity(three.get(), other));
  EXPECT_TRUE(same_identity(a, again));
  EXPECT_FALSE(same_identity(a, other));
  EXPECT_TRUE(path_identity(first.c_str(), by_path));
  EXPECT_TRUE(same_identity(a, by_path));
  EXPECT_FALSE(path_identity(folder.file("missing.adi").c_str(), missing));
  EXPECT_FALSE(same_identity(missing, missing));
#ifndef _WIN32
  FileIdentity hard{}, soft{};
  ASSERT_EQ(link(first.c_str(), folder.file("hard.adi").c_str()), 0);
  ASSERT_EQ(symlink("first.adi", folder.file("soft.adi").c_str()), 0);
  FilePtr through_link = open_file(folder.file("soft.adi"), "rb");
  ASSERT_TRUE(stream_identity(through_link.get(), soft));
  ASSERT_TRUE(path_identity(folder.file("hard.adi").c_str(), hard));
  EXPECT_TRUE(same_identity(a, soft));
  EXPECT_TRUE(same_identity(a, hard));
#endif
}

TEST(FileStamp, ChangesWhenTheFileGrows) {
  ScratchFolder folder;
  std::string path = folder.file("log.adi");
  write_file(path, "<CALL:4>W1AW<EOR>");
  FilePtr reading = open_file(path, "rb");
  FileStamp before{}, unchanged{}, after{};
  ASSERT_TRUE(stream_stamp(reading.get(), before));
  ASSERT_TRUE(stream_stamp(reading.get(), unchanged));
  EXPECT_TRUE(same_stamp(before, unchanged));
  FilePtr appending = open_file(path, "ab");
  std::fputs("<CALL:4>K1JT<EOR>", appending.get());
  std::fflush(appending.get());
  ASSERT_TRUE(stream_stamp(reading.get(), after));
  EXPECT_FALSE(same_stamp(before, after));
  EXPECT_FALSE(same_stamp(FileStamp{}, FileStamp{}));
}

// A rewrite in place that keeps the size and puts the modification time back,
// as synchronising tools do.
TEST(FileStamp, ChangesWhenRewrittenWithItsSizeAndTimeKept) {
  ScratchFolder folder;
  std::string path = folder.file("log.adi");
  write_file(path, "<CALL:4>W1AW<EOR>");
  // A time in whole seconds, which every file system can put back exactly.
  auto written = std::chrono::floor<std::chrono::seconds>(fs::last_write_time(path));
  fs::last_write_time(path, written);
  FilePtr reading = open_file(path, "rb");
  FileStamp before{}, after{};
  ASSERT_TRUE(stream_stamp(reading.get(), before));
  FilePtr rewriting = open_file(path, "r+b");
  std::fputs("<CALL:4>K1JT", rewriting.get());
  rewriting.reset();
  fs::last_write_time(path, written);
  ASSERT_TRUE(stream_stamp(reading.get(), after));
  EXPECT_EQ(after.size, before.size);
  EXPECT_EQ(after.modified, before.modified);
  EXPECT_FALSE(same_stamp(before, after));
}

// Returns a stream reading a pipe that holds `bytes` and then ends.
FilePtr pipe_with(const std::string& bytes) {
  int ends[2];
#ifdef _WIN32
  if (_pipe(ends, 65536, _O_BINARY) != 0) return nullptr;
  _write(ends[1], bytes.data(), static_cast<unsigned>(bytes.size()));
  _close(ends[1]);
  return FilePtr(_fdopen(ends[0], "rb"));
#else
  if (pipe(ends) != 0) return nullptr;
  EXPECT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(ends[1]);
  return FilePtr(fdopen(ends[0], "rb"));
#endif
}

TEST(InputFile, RegularFileAtStartCanBeReadTwice) {
  ScratchFolder folder;
  std::string path = folder.file("log.adi");
  write_file(path, "<CALL:4>W1AW<EOR>");
  FilePtr file = open_file(path, "rb");
  EXPECT_TRUE(is_regular_file_at_start(file.get()));
  std::fgetc(file.get());
  EXPECT_FALSE(is_regular_file_at_start(file.get()));
  std::rewind(file.get());
  EXPECT_TRUE(is_regular_file_at_start(file.get()));
  FilePtr pipe = pipe_with("<EOR>");
  ASSERT_TRUE(pipe);
  EXPECT_FALSE(is_regular_file_at_start(pipe.get()));
}

// Points the temporary folder at `folder` for the life of the object.
struct TemporaryFolderAt {
  std::string saved;
  bool had;
  explicit TemporaryFolderAt(const std::string& folder) {
#ifdef _WIN32
    const char* name = "TMP";
#else
    const char* name = "TMPDIR";
#endif
    const char* value = std::getenv(name);
    had = value != nullptr;
    if (had) saved = value;
    set(folder.c_str());
  }
  ~TemporaryFolderAt() {
    if (had) {
      set(saved.c_str());
    } else {
#ifdef _WIN32
      _putenv_s("TMP", "");
#else
      unsetenv("TMPDIR");
#endif
    }
  }
  static void set(const char* value) {
#ifdef _WIN32
    _putenv_s("TMP", value);
#else
    setenv("TMPDIR", value, 1);
#endif
  }
};

TEST(InputFile, SpoolOfAPipeGivesItsBytesFromTheStart) {
  ScratchFolder folder;
  TemporaryFolderAt temporary(folder.path.string());
  std::string bytes = "<CALL:4>W1AW<EOR>\r\n";
  for (int i = 0; i < 8; ++i) bytes += bytes;  // a few kilobytes, within a pipe's buffer
  FilePtr source = pipe_with(bytes);
  ASSERT_TRUE(source);
  char head[2];  // already read: copied first, then the rest
  ASSERT_EQ(std::fread(head, 1, sizeof head, source.get()), sizeof head);
  int error = 0;
  bool read_failed = true;
  FilePtr copy(spool_to_temporary_file(head, sizeof head, source.get(), error, read_failed));
  ASSERT_TRUE(copy) << system_error_text(error);
  EXPECT_FALSE(read_failed);
  EXPECT_TRUE(is_regular_file_at_start(copy.get()));
  EXPECT_EQ(stream_bytes(copy.get()), bytes);
#ifdef _WIN32
  EXPECT_EQ(folder.names().size(), 1u);  // deleted when closed
#else
  EXPECT_EQ(folder.names(), Names{});  // unlinked while still open
#endif
  copy.reset();
  EXPECT_EQ(folder.names(), Names{});
}

#ifndef _WIN32
TEST(InputFile, SpoolTellsAReadFailureFromAWriteFailure) {
  ScratchFolder folder;
  struct Row {
    const char* temporary_folder;
    bool read_failed;
    int error;
  };
  // Reading a folder fails with EISDIR; a missing temporary folder fails the copy.
  const Row rows[] = {
      {"", true, EISDIR},
      {"/missing", false, ENOENT},
  };
  for (const Row& row : rows) {
    TemporaryFolderAt temporary(folder.path.string() + row.temporary_folder);
    FilePtr source = open_file(folder.path.string(), "rb");
    ASSERT_TRUE(source);
    int error = 0;
    bool read_failed = !row.read_failed;
    FilePtr copy(spool_to_temporary_file(nullptr, 0, source.get(), error, read_failed));
    EXPECT_FALSE(copy) << row.temporary_folder;
    EXPECT_EQ(read_failed, row.read_failed) << row.temporary_folder;
    EXPECT_EQ(error, row.error) << row.temporary_folder;
  }
  EXPECT_EQ(folder.names(), Names{});
}

TEST(InputFile, TemporaryFolderComesFromTmpdir) {
  struct Row {
    const char* tmpdir;
    size_t size;
    bool fits;
    const char* folder;
  };
  const Row rows[] = {
      {"/var/tmp/", 64, true, "/var/tmp"},
      {"", 64, true, "/tmp"},
      {"/var/tmp", 8, false, ""},
  };
  for (const Row& row : rows) {
    TemporaryFolderAt temporary(row.tmpdir);
    char folder[64] = "";
    EXPECT_EQ(temporary_folder(folder, row.size), row.fits) << row.tmpdir;
    if (row.fits) {
      EXPECT_STREQ(folder, row.folder) << row.tmpdir;
    }
  }
}
#endif

}  // namespace
