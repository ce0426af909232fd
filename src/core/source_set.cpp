#include "core/source_set.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "platform/paths.h"

namespace tess::core {

void FileSet::AddAlone(const std::string& Path) {
  const std::string path = platform::ResolveInputPath(Path);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    files_.push_back({Path, {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}, {}, false});
}

void FileSet::Add(const std::string& Path, bool OutputsBeside) {
  const size_t had = files_.size();
  AddAlone(Path);
  if (files_.size() == had) return;
  File& file = files_.back();
  file.OutputsBeside = OutputsBeside;
  const std::string path = platform::ResolveInputPath(Path);
  // The folders above the file as its real path has them: a link on the way
  // is not one of them, the folder it leads to is.
  std::filesystem::path real;
  if (char* resolved = ::realpath(path.c_str(), nullptr)) {
    real = resolved;
    std::free(resolved);
  } else {
    std::error_code ec;
    real = std::filesystem::absolute(path, ec).lexically_normal();
  }
  for (std::filesystem::path folder = real.parent_path(); !folder.empty(); folder = folder.parent_path()) {
    struct stat f {};
    if (::stat(folder.c_str(), &f) == 0) {
      const Identity id{static_cast<uint64_t>(f.st_dev), static_cast<uint64_t>(f.st_ino)};
      if (folder == real.parent_path()) file.Folder = id;
      const auto held = std::find_if(folders_.begin(), folders_.end(), [&](const HeldFolder& h) { return h.Id == id; });
      if (held == folders_.end())
        folders_.push_back({id, !OutputsBeside});
      else
        held->Source |= !OutputsBeside;
    }
    if (folder == folder.parent_path()) break;
  }
}

std::string FileSet::Find(const std::string& Path) const {
  if (files_.empty()) return {};
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return {};
  const Identity id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  for (const File& f : files_)
    if (f.Id == id) return f.Path;
  return {};
}

bool FileSet::Has(uint64_t Device, uint64_t Inode) const {
  return std::any_of(files_.begin(), files_.end(), [&](const File& f) { return f.Id == Identity{Device, Inode}; });
}

bool FileSet::IsSource(uint64_t Device, uint64_t Inode) const {
  return std::any_of(files_.begin(), files_.end(),
                     [&](const File& f) { return f.Id == Identity{Device, Inode} && !f.OutputsBeside; });
}

bool FileSet::HasFolder(uint64_t Device, uint64_t Inode, bool SourcesOnly) const {
  return std::any_of(folders_.begin(), folders_.end(), [&](const HeldFolder& f) {
    return f.Id == Identity{Device, Inode} && (f.Source || !SourcesOnly);
  });
}

bool FileSet::Holds(const std::string& Folder, bool SourcesOnly) const {
  if (files_.empty()) return false;
  struct stat st {};
  if (::stat(Folder.empty() ? "." : Folder.c_str(), &st) != 0) return errno != ENOENT && errno != ENOTDIR;
  return S_ISDIR(st.st_mode) &&
         HasFolder(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), SourcesOnly);
}

bool FileSet::HeldBy(const std::string& Folder) const { return Holds(Folder, false); }

bool FileSet::HoldsSource(const std::string& Folder) const { return Holds(Folder, true); }

std::string FileSet::FileIn(const std::string& Folder) const {
  struct stat st {};
  if (files_.empty() || ::stat(Folder.empty() ? "." : Folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  const Identity id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  for (const File& f : files_)
    if (f.Folder == id && !f.OutputsBeside) return f.Path;
  return {};
}

}  // namespace tess::core
