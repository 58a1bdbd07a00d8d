// Output files on POSIX systems: mkstemps beside the target (or in the
// temporary folder for a scratch file), fsync, fchown and fchmod, rename and
// a sync of the folder; a handler for every fatal signal removes what is not
// yet in place. With the GNU C library the stream writes through a cookie
// that keeps the errno value of the first failed write, which the C library's
// stream would otherwise forget.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "os/input_file.h"
#include "os/output_file.h"
#include "os/pending_files.h"

// The descriptor under the stream and the first write error seen on it.
struct OutputWriter {
  int descriptor;
  int error;
};

namespace {

#ifdef __GLIBC__
ssize_t writer_write(void* cookie, const char* data, size_t size) {
  OutputWriter& writer = *static_cast<OutputWriter*>(cookie);
  size_t done = 0;
  while (done < size) {
    ssize_t wrote = write(writer.descriptor, data + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (!writer.error) writer.error = wrote < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(wrote);
  }
  return static_cast<ssize_t>(done);
}

int writer_seek(void* cookie, off64_t* position, int whence) {
  off64_t at = lseek64(static_cast<OutputWriter*>(cookie)->descriptor, *position, whence);
  if (at < 0) return -1;
  *position = at;
  return 0;
}

int writer_close(void* cookie) {
  OutputWriter& writer = *static_cast<OutputWriter*>(cookie);
  int result = close(writer.descriptor);
  writer.descriptor = -1;
  return result;
}

FILE* open_stream(OutputWriter& writer) {
  cookie_io_functions_t functions{};
  functions.write = writer_write;
  functions.seek = writer_seek;
  functions.close = writer_close;
  return fopencookie(&writer, "wb", functions);
}

// The errno value of the failed write that set the stream's error flag.
int write_error(const OutputWriter& writer) { return writer.error ? writer.error : EIO; }
#else
FILE* open_stream(OutputWriter& writer) { return fdopen(writer.descriptor, "wb"); }

// The cause of a failed write, which the stream did not keep: a full file
// system or an exceeded file-size limit, else a plain input/output error.
int write_error(const OutputWriter& writer) {
  struct statvfs space {};
  if (writer.descriptor >= 0 && fstatvfs(writer.descriptor, &space) == 0 &&
      space.f_bavail * space.f_frsize < 65536) {
    return ENOSPC;
  }
  return EIO;
}
#endif

// Returns the length of the folder part of `path`, its last '/' included.
size_t folder_length(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? static_cast<size_t>(slash - path) + 1 : 0;
}

// The permission bits of a new file under the umask (read by setting it and
// back, which another thread creating a file at that moment would notice).
mode_t new_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Gives the file open on `descriptor` the owner, group and permission bits of
// the file at `target_path`, or a new file's bits when there is none. When
// the owner cannot be kept (another user's file, and this user may not give
// files away), the new file is this user's and must not be set-user-ID or
// set-group-ID. File systems without Unix owners and permission bits (vfat,
// exFAT, some network shares) refuse both: the file keeps what it was given.
void take_target_attributes(int descriptor, const char* target_path) {
  struct stat target {};
  if (stat(target_path, &target) != 0) {
    fchmod(descriptor, new_file_mode());
    return;
  }
  mode_t mode = target.st_mode & 07777;
  struct stat made {};
  bool same_owner =
      fstat(descriptor, &made) == 0 && made.st_uid == target.st_uid && made.st_gid == target.st_gid;
  // Before the bits: a change of owner clears set-user-ID and set-group-ID.
  if (!same_owner && fchown(descriptor, target.st_uid, target.st_gid) != 0) {
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
  }
  fchmod(descriptor, mode);
}

// Syncs the folder of `path`, so that a rename into it survives a crash. A
// file system that cannot sync folders has nothing to sync.
void sync_folder(const char* path) {
  const char* slash = std::strrchr(path, '/');
  int folder = -1;
  if (!slash) {
    folder = open(".", O_RDONLY | O_CLOEXEC);
  } else {
    size_t length = static_cast<size_t>(slash - path) + 1;
    char* name = static_cast<char*>(std::malloc(length + 1));
    if (!name) return;
    std::memcpy(name, path, length);
    name[length] = '\0';
    folder = open(name, O_RDONLY | O_CLOEXEC);
    std::free(name);
  }
  if (folder < 0) return;
  fsync(folder);
  close(folder);
}

// Frees what `file` owns once its stream is closed, leaving it zero-filled.
void release(OutputFile& file) {
  drop_pending_file(file.pending_slot);
  std::free(file.target_path);
  std::free(file.temporary_path);
  delete file.writer;
  file = OutputFile{};
}

// Returns the malloc'd path that the symbolic link `link` holds, made
// relative to the link's own folder; null with errno set when it cannot be
// read.
char* link_target(const char* link) {
  char held[4096];
  ssize_t got = readlink(link, held, sizeof held);
  if (got < 0) return nullptr;
  if (static_cast<size_t>(got) == sizeof held) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  size_t folder = held[0] == '/' ? 0 : folder_length(link);
  char* path = static_cast<char*>(std::malloc(folder + static_cast<size_t>(got) + 1));
  if (!path) {
    errno = ENOMEM;
    return nullptr;
  }
  std::memcpy(path, link, folder);
  std::memcpy(path + folder, held, static_cast<size_t>(got));
  path[folder + static_cast<size_t>(got)] = '\0';
  return path;
}

// Follows a target that is a symbolic link (to a link...) to the file it
// names, existing or not, so that the link stays and that file is replaced
// or made. Returns a malloc'd path, or null with errno set.
char* resolved_target(const char* target_path) {
  char* path = strdup(target_path);
  for (int links = 0; path; ++links) {
    struct stat info {};
    if (lstat(path, &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* next = links < 40 ? link_target(path) : nullptr;
    if (links >= 40) errno = ELOOP;
    std::free(path);
    path = next;
  }
  return nullptr;
}

// Opens the stream of `file` on `descriptor`; closes it and returns false
// with `error` when memory runs out.
bool open_writer(OutputFile& file, int descriptor, int& error) {
  file.writer = new (std::nothrow) OutputWriter{descriptor, 0};
  if (file.writer) file.stream = open_stream(*file.writer);
  if (file.stream) return true;
  error = ENOMEM;
  close(descriptor);
  return false;
}

// Makes `file.temporary_path` a new file, its XXXXXX before the last
// `suffix_length` bytes made unique, marks it for removal on a signal and
// opens the stream on it. False with `error`, nothing left behind, when it
// cannot be made; `file` is then empty.
bool make_temporary(OutputFile& file, int suffix_length, int& error) {
  int descriptor = file.temporary_path ? mkstemps(file.temporary_path, suffix_length) : -1;
  if (descriptor < 0) {
    error = file.temporary_path ? errno : ENOMEM;
    std::free(file.temporary_path);
    file.temporary_path = nullptr;
    release(file);
    return false;
  }
  file.pending_slot = add_pending_file(file.temporary_path);
  fcntl(descriptor, F_SETFD, FD_CLOEXEC);
  if (open_writer(file, descriptor, error)) return true;
  output_file_discard(file);
  return false;
}

// Opens an existing target that is no regular file (a device, a pipe) once,
// for writing in place. False with `error` when it cannot be opened.
bool open_in_place(OutputFile& file, const char* target_path, int& error) {
  file.target_path = strdup(target_path);
  int descriptor = file.target_path ? open(target_path, O_WRONLY | O_CLOEXEC | O_NOCTTY) : -1;
  if (descriptor < 0) {
    error = file.target_path ? errno : ENOMEM;
    release(file);
    return false;
  }
  if (open_writer(file, descriptor, error)) return true;
  release(file);
  return false;
}

}  // namespace

bool output_file_begin(OutputFile& file, const char* target_path, int& error) {
  file = OutputFile{};
  struct stat info {};
  bool exists = *target_path && stat(target_path, &info) == 0;
  if (!*target_path || (exists && S_ISDIR(info.st_mode))) {
    error = *target_path ? EISDIR : ENOENT;
    return false;
  }
  if (exists && !S_ISREG(info.st_mode)) return open_in_place(file, target_path, error);
  // An existing file that could not be written in place (read-only,
  // immutable) is not replaced either.
  if (exists && faccessat(AT_FDCWD, target_path, W_OK, AT_EACCESS) != 0) {
    error = errno;
    return false;
  }
  file.target_path = resolved_target(target_path);
  if (!file.target_path) {
    error = errno;
    return false;
  }
  file.temporary_path = temporary_output_name(file.target_path, folder_length(file.target_path));
  return make_temporary(file, 5, error);
}

bool output_file_begin_scratch(OutputFile& file, const char* suffix, int& error) {
  file = OutputFile{};
  static const char pattern[] = "/ledgerly-XXXXXX";
  char folder[4096];
  size_t suffix_length = std::strlen(suffix);
  if (!temporary_folder(folder, sizeof folder - sizeof pattern - suffix_length)) {
    error = ENAMETOOLONG;
    return false;
  }
  file.temporary_path = scratch_file_name(folder, '/', suffix);
  return make_temporary(file, static_cast<int>(suffix_length), error);
}

const char* output_file_path(const OutputFile& file) {
  return file.temporary_path ? file.temporary_path : file.target_path;
}

bool output_file_commit(OutputFile& file, int& error) {
  if (!file.target_path) {
    error = EINVAL;
    return false;
  }
  error = 0;
  const char* temporary = file.temporary_path;
  if (file.stream) {
    if (std::fflush(file.stream) != 0 || std::ferror(file.stream) || file.writer->error) {
      error = write_error(*file.writer);
    }
    int descriptor = file.writer->descriptor;
    if (temporary) take_target_attributes(descriptor, file.target_path);
    if (!error && temporary && fsync(descriptor) != 0) error = errno;
    if (std::fclose(file.stream) != 0 && !error) error = errno ? errno : EIO;
    file.stream = nullptr;
  } else if (file.writer->error) {
    error = file.writer->error;
  } else if (temporary) {
    int descriptor = open(temporary, O_WRONLY | O_CLOEXEC);
    if (descriptor >= 0) take_target_attributes(descriptor, file.target_path);
    if (descriptor < 0 || fsync(descriptor) != 0) error = errno;
    if (descriptor >= 0 && close(descriptor) != 0 && !error) error = errno;
  }
  if (!error && temporary && rename(temporary, file.target_path) != 0) error = errno;
  if (error) {
    if (temporary) unlink(temporary);
  } else if (temporary) {
    sync_folder(file.target_path);
  }
  release(file);
  return !error;
}

void output_file_discard(OutputFile& file) {
  if (file.stream) std::fclose(file.stream);
  file.stream = nullptr;
  if (file.temporary_path) unlink(file.temporary_path);
  release(file);
}

namespace {

// The signals, besides the real-time ones, whose default action ends the
// process. (SIGIO ends it on Linux only; elsewhere it is ignored.)
const int fatal_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef __linux__
    SIGSTKFLT, SIGIO,   SIGPWR,
#endif
#ifdef SIGEMT
    SIGEMT,
#endif
    0,
};

// Removes the pending files, then lets the signal end the process with its
// default action: raised again, it is delivered as the handler returns.
void remove_and_raise(int signal_number) {
  remove_pending_files();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
  raise(signal_number);
}

// Installs `action` for `signal_number` when the signal has its default
// action now: an ignored signal stays ignored, a handler (a sanitizer's)
// stays in place.
void take_over(int signal_number, const struct sigaction& action) {
  struct sigaction old {};
  if (sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler != SIG_DFL ||
      (old.sa_flags & SA_SIGINFO)) {
    return;
  }
  sigaction(signal_number, &action, nullptr);
}

}  // namespace

void remove_output_files_on_signals() {
  struct sigaction action {};
  action.sa_handler = remove_and_raise;
  sigfillset(&action.sa_mask);  // one signal at a time
  for (const int* signal = fatal_signals; *signal; ++signal) take_over(*signal, action);
#ifdef SIGRTMIN
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) take_over(signal, action);
#endif
}
