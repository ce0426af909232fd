#include "platform/file_io.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/paths.h"

#include "platform/pump.h"

namespace tess::platform {

static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");

namespace {

// One loop for all four calls; Step moves at most Left bytes at Done and
// returns what the system call returned.
template <typename Step>
size_t ReadLoop(size_t Count, int* Err, Step&& Read) {
  size_t done = 0;
  if (Err) *Err = 0;
  while (done < Count) {
    const ssize_t n = Read(done, Count - done);
    if (n < 0) {
      // A stop signal ends a read that blocks or crawls (a hung mount); other
      // interruptions are retried. Writes always finish what they started.
      if (errno == EINTR && !Pump::StopSignalled()) continue;
      if (Err) *Err = errno;
      break;
    }
    if (n == 0) break;  // the end of the file
    done += static_cast<size_t>(n);
  }
  return done;
}

// A file written under a temporary name beside its output ("X.part", "X.tmp",
// "X.tmp-1a2B3c") less that tail: a failure meant for X reaches it too.
std::string_view WithoutTemporaryTail(std::string_view Path) {
  for (std::string_view tail : {".part", ".tmp"})
    if (Path.ends_with(tail)) return Path.substr(0, Path.size() - tail.size());
  constexpr std::string_view kUnique = ".tmp-XXXXXX";
  if (Path.size() > kUnique.size() && Path.substr(Path.size() - kUnique.size(), 5) == kUnique.substr(0, 5))
    return Path.substr(0, Path.size() - kUnique.size());
  return Path;
}

// A write that reaches the offset of "TESS_FAIL_WRITE=stop:SUFFIX@OFFSET" is
// met by a stop signal instead of a failure: the process gets SIGTERM there
// (once), and the write goes on.
constexpr std::string_view kStopAtWrite = "stop:";

// Failures brought about on purpose, so that tests see what a run does with a
// damaged disc or a full one: TESS_FAIL_READ=SUFFIX@OFFSET fails the reads of a
// file whose path ends in SUFFIX from byte OFFSET on (EIO), TESS_FAIL_WRITE in
// the same form the writes to it (ENOSPC), also where the file is written under
// a temporary name first. Runs Move for the bytes of Count at Offset (-1: the
// file position, or the end of a file opened for appending) that come before
// such a failure; -1 with errno when none do.
template <typename Call>
ssize_t UnlessFailed(bool Reading, int Fd, int64_t Offset, size_t Count, Call&& Move) {
  const char* setting = std::getenv(Reading ? "TESS_FAIL_READ" : "TESS_FAIL_WRITE");
  const char* at = setting ? std::strrchr(setting, '@') : nullptr;
  if (!at) return Move(Count);
  const bool stop = !Reading && std::string_view(setting).starts_with(kStopAtWrite);
  if (stop) setting += kStopAtWrite.size();
  char link[32], path[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", Fd);
  const ssize_t n = ::readlink(link, path, sizeof path);
  const std::string_view name(path, n > 0 ? static_cast<size_t>(n) : 0), suffix(setting, at);
  if (!name.ends_with(suffix) && !WithoutTemporaryTail(name).ends_with(suffix)) return Move(Count);
  struct stat st {};
  if (Offset < 0 && (::fcntl(Fd, F_GETFL) & O_APPEND) && ::fstat(Fd, &st) == 0) Offset = st.st_size;
  if (Offset < 0) Offset = ::lseek(Fd, 0, SEEK_CUR);
  const auto before = static_cast<size_t>(std::clamp<int64_t>(std::atoll(at + 1) - Offset, 0, Count));
  if (stop) {
    static bool raised = false;
    if (before < Count && !std::exchange(raised, true)) ::raise(SIGTERM);
    return Move(Count);
  }
  if (before == 0 && Count > 0) return errno = Reading ? EIO : ENOSPC, -1;
  return Move(before);
}

// TESS_FAIL_OPEN=SUFFIX, read once: opening a file whose path ends in SUFFIX
// fails with EACCES, as a file the user may not read does (tests run as root).
bool OpenFailsOnPurpose(const std::string& Path) {
  static const char* const suffix = std::getenv("TESS_FAIL_OPEN");
  return suffix && *suffix && std::string_view(Path).ends_with(suffix);
}

// The signals that end the program by default and come from outside it (a
// stop from the terminal, the system or a closed session), and SIGXFSZ of a
// write past the size limit: held back while a file is replaced, so that a
// stop finds the old file or the new one and no temporary file beside it. One
// that came meanwhile is delivered as they are let through again.
class StopSignalsHeldBack {
 public:
  StopSignalsHeldBack() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXFSZ}) sigaddset(&held, s);
    ::pthread_sigmask(SIG_BLOCK, &held, &before_);
  }
  StopSignalsHeldBack(const StopSignalsHeldBack&) = delete;
  StopSignalsHeldBack& operator=(const StopSignalsHeldBack&) = delete;
  ~StopSignalsHeldBack() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

 private:
  sigset_t before_;
};

template <typename Step>
bool WriteLoop(size_t Count, size_t* Written, Step&& Write) {
  size_t done = 0;
  bool ok = true;
  while (done < Count) {
    const ssize_t n = Write(done, Count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) {
      errno = ENOSPC;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (Written) *Written = done;
  return ok;
}

}  // namespace

size_t ReadFull(int Fd, void* Buffer, size_t Count, int* Err) {
  auto* p = static_cast<unsigned char*>(Buffer);
  return ReadLoop(Count, Err, [&](size_t Done, size_t Left) {
    return UnlessFailed(true, Fd, -1, Left, [&](size_t N) { return ::read(Fd, p + Done, N); });
  });
}

size_t PReadFull(int Fd, void* Buffer, size_t Count, int64_t Offset, int* Err, PReadFunction Read) {
  auto* p = static_cast<unsigned char*>(Buffer);
  return ReadLoop(Count, Err, [&](size_t Done, size_t Left) {
    const int64_t at = Offset + static_cast<int64_t>(Done);
    return UnlessFailed(true, Fd, at, Left, [&](size_t N) { return Read(Fd, p + Done, N, at); });
  });
}

bool WriteFull(int Fd, const void* Data, size_t Count, size_t* Written) {
  const auto* p = static_cast<const unsigned char*>(Data);
  return WriteLoop(Count, Written, [&](size_t Done, size_t Left) {
    return UnlessFailed(false, Fd, -1, Left, [&](size_t N) { return ::write(Fd, p + Done, N); });
  });
}

bool PWriteFull(int Fd, const void* Data, size_t Count, int64_t Offset, size_t* Written) {
  const auto* p = static_cast<const unsigned char*>(Data);
  return WriteLoop(Count, Written, [&](size_t Done, size_t Left) {
    const int64_t at = Offset + static_cast<int64_t>(Done);
    return UnlessFailed(false, Fd, at, Left, [&](size_t N) { return ::pwrite(Fd, p + Done, N, at); });
  });
}

ssize_t KernelCopy(int In, int64_t Offset, int Out, size_t Count) {
  if (std::getenv("TESS_FAIL_READ") || std::getenv("TESS_FAIL_WRITE")) return errno = ENOSYS, -1;
  loff_t from = Offset;
  ssize_t n;
  do n = ::copy_file_range(In, &from, Out, nullptr, Count, 0);
  while (n < 0 && errno == EINTR);
  return n;
}

int LookUpError(const std::string& Path) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) == 0 || errno == ENOENT || errno == ENOTDIR) return 0;
  return errno;
}

std::string ExistingRegularFile(const std::string& Path, int* Err) {
  if (Err) *Err = 0;
  const std::optional<std::string> found = FindPathCaseInsensitive(Path);
  struct stat st {};
  if (found && ::stat(found->c_str(), &st) == 0 && S_ISREG(st.st_mode)) return *found;
  // A name the case-insensitive look found, or the name as given when a folder
  // on its way could not be listed.
  if (Err) *Err = LookUpError(found.value_or(Path));
  return {};
}

int OpenRegularFile(const std::string& Path, int Flags, bool* NotRegular) {
  if (NotRegular) *NotRegular = false;
  if (OpenFailsOnPurpose(Path)) return errno = EACCES, -1;
  // Opened without blocking: opening a FIFO for reading would otherwise wait
  // for a writer for ever. The flag is taken off again for a regular file.
  const int fd = ::open(Path.c_str(), Flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (NotRegular) *NotRegular = true;
    errno = EINVAL;
    return -1;
  }
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

bool ReplaceFileWith(const std::string& FileName, const void* Data, size_t Size, int* Err, bool* Opened,
                     bool KeepOwner) {
  if (Err) *Err = 0;
  const StopSignalsHeldBack held;
  std::string tmp = FileName + ".tmp-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (Opened) *Opened = fd >= 0;
  if (fd < 0) {
    if (Err) *Err = errno;
    return false;
  }
  // mkstemp makes the file private. What replaces a file keeps its mode (a
  // settings file the user made private stays so); a new one is as readable as
  // files written the ordinary way. A refusal here is no failure.
  struct stat before {};
  const bool existed = ::stat(FileName.c_str(), &before) == 0;
  const mode_t mode = existed ? (before.st_mode & 07777) : 0644;
  // Root writing another user's file must not make it root's: the owner could
  // no longer read a private one. The owner goes first, as a change of owner
  // clears the set-id bits of the mode.
  int err = existed && KeepOwner && ::fchown(fd, before.st_uid, before.st_gid) != 0 ? errno : 0;
  [[maybe_unused]] const int modeSet = ::fchmod(fd, mode);
  bool ok = err == 0 && WriteFull(fd, Data, Size) && ::fsync(fd) == 0;
  if (!ok && err == 0) err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && std::rename(tmp.c_str(), FileName.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    if (Err) *Err = err;
  }
  return ok;
}

bool ReadWholeFile(const std::string& Path, std::string& Out, int* Err, bool* Opened, size_t Limit) {
  Out.clear();
  if (Opened) *Opened = false;
  const int fd = OpenRegularFile(Path, O_RDONLY);
  if (fd < 0) {
    if (Err) *Err = errno;
    return false;
  }
  if (Opened) *Opened = true;
  struct stat st {};
  int err = ::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > Limit ? EFBIG : 0;
  if (err == 0 && st.st_size > 0) Out.reserve(static_cast<size_t>(st.st_size));
  // Read in blocks to the end rather than trusting the size: the file may grow
  // or shrink while it is read, but never past Limit.
  constexpr size_t kBlock = 1 << 16;
  while (err == 0) {
    const size_t had = Out.size();
    Out.resize(had + kBlock);
    const size_t got = ReadFull(fd, Out.data() + had, kBlock, &err);
    Out.resize(had + got);
    if (Out.size() > Limit) err = EFBIG;
    if (got < kBlock) break;
  }
  if (err == EFBIG) std::string().swap(Out);
  ::close(fd);
  if (Err) *Err = err;
  return err == 0;
}

int64_t ReadFileHead(const std::string& Path, void* Buffer, size_t Count, int* Err, int* OpenErr) {
  if (Err) *Err = 0;
  if (OpenErr) *OpenErr = 0;
  const int fd = OpenRegularFile(Path, O_RDONLY);
  if (fd < 0) {
    if (OpenErr) *OpenErr = errno;
    return -1;
  }
  const size_t got = ReadFull(fd, Buffer, Count, Err);
  ::close(fd);
  return static_cast<int64_t>(got);
}

void OpenClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor is this one: those below it are open by now.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

std::string ErrorReason(int Err) { return Err != 0 ? std::string(": ") + std::strerror(Err) : std::string(); }

std::string OpenFailureReason(const std::string& Path, int Err) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return ErrorReason(Err != 0 ? Err : errno);
  if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? ": it is a folder" : ": it is not a regular file";
  return ErrorReason(Err);
}

}  // namespace tess::platform
