#pragma once
#include <string>
#include <string_view>

#include "core/source_set.h"

namespace tess::core {

// The lock file that an output folder holds while a run writes into it.
inline constexpr std::string_view kLockFileName = ".tessaline.lock";

// Holds an output folder for one run: a lock file in it, locked while the run
// lasts and naming its process. Another run into the folder is refused; a lock
// file that a stopped or crashed run left behind holds nothing (the system
// drops the lock with its process) and is taken over.
class FolderLock {
 public:
  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() { Release(); }
  // Takes Folder, making it when missing. False, with the reason in Why, when
  // another run holds it or it cannot be made or locked, or when its lock file
  // is no regular file of one name or is one of Sources (when given): such a
  // file is never written, truncated or removed. A Folder not there yet below
  // Root (DEST) is not made in a folder that holds one of Sources.
  bool Take(const std::string& Folder, std::string& Why, const FileSet* Sources = nullptr,
            const std::string& Root = {});
  // Removes the lock file; nothing when none is held.
  void Release();

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace tess::core
