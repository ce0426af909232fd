#include "core/folder_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace tess::core {

namespace {

// Why the file St describes is no lock file this run may write: a lock file is
// a regular file of one name. Another name of it (a hard link) is another
// file of the user's or a source, which truncating would destroy. Empty when
// it is one.
std::string NotALockFile(const struct stat& St, const FileSet* Sources) {
  if (!S_ISREG(St.st_mode)) return S_ISLNK(St.st_mode) ? " is a symbolic link" : " is no regular file";
  if (St.st_nlink != 1)
    return " has " + std::to_string(St.st_nlink) + " names (hard links), so it is also another file";
  if (Sources && Sources->Has(static_cast<uint64_t>(St.st_dev), static_cast<uint64_t>(St.st_ino)))
    return " is a source file";
  return {};
}

}  // namespace

bool FolderLock::Take(const std::string& Folder, std::string& Why, const FileSet* Sources, const std::string& Root) {
  Release();
  if (const std::string held = Sources && !IsFolder(Folder) ? FolderHoldingSource(Root, Folder, *Sources) : "";
      !held.empty()) {
    Why = SourceFolderRefusalLine(held);
    return false;
  }
  if (std::string why; !MakeFolders(Folder, &why)) {
    Why = "Can not create folder " + Folder + why;
    return false;
  }
  const std::string path = platform::IncludeTrailingSlash(Folder) + std::string(kLockFileName);
  // A lock file whose last holder removed it between the open and the lock is
  // opened again: the lock must be on the file the path names.
  for (int attempt = 0; attempt < 16; ++attempt) {
    // Looked at before it is opened too: opening a device may do something.
    struct stat held {}, named {};
    if (::lstat(path.c_str(), &named) == 0) {
      if (std::string why = NotALockFile(named, Sources); !why.empty()) {
        Why = "The lock file " + path + why + ": it is not written, and the run is refused.";
        return false;
      }
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0 || ::fstat(fd, &held) != 0) {
      Why = "Can not create the lock file " + path + (fd < 0 ? std::string(": ") + std::strerror(errno) : "");
      if (fd >= 0) ::close(fd);
      return false;
    }
    if (std::string why = NotALockFile(held, Sources); !why.empty()) {
      ::close(fd);
      Why = "The lock file " + path + why + ": it is not written, and the run is refused.";
      return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      char text[24] = {};
      const size_t n = platform::PReadFull(fd, text, sizeof text - 1, 0);
      const long pid = std::strtol(std::string(text, n).c_str(), nullptr, 10);
      // Where the file system has no locks, the process that the file names
      // holds the folder while it lives.
      const bool held = err == EWOULDBLOCK || (pid > 0 && pid != ::getpid() &&
                                               (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH));
      if (held) {
        ::close(fd);
        Why = "Folder " + Folder + " is in use by another run" +
              (pid > 0 ? " (process " + std::to_string(pid) + ")" : std::string()) +
              "; two runs into one folder would delete and mix each other's outputs, so this run is refused.";
        return false;
      }
    }
    if (::stat(path.c_str(), &named) != 0 || named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
      ::close(fd);
      continue;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || !platform::PWriteFull(fd, pid.data(), pid.size(), 0)) {
      Why = "Can not write the lock file " + path + ": " + std::strerror(errno);
      ::unlink(path.c_str());
      ::close(fd);
      return false;
    }
    fd_ = fd;
    path_ = path;
    return true;
  }
  Why = "Can not lock folder " + Folder + ": its lock file was replaced at every attempt";
  return false;
}

void FolderLock::Release() {
  if (fd_ < 0) return;
  // Only the file this run locked goes: it is removed while still locked, and
  // a run that opened it meanwhile finds it gone and opens the path afresh.
  struct stat held {}, named {};
  if (::fstat(fd_, &held) == 0 && ::lstat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
      held.st_ino == named.st_ino)
    ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace tess::core
