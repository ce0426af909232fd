#include "core/source_set.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/paths.h"

namespace tess::core {

void FileSet::Add(const std::string& Path) {
  const std::string path = platform::ResolveInputPath(Path);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(path, ec);
  files_.push_back({Path, ec ? path : canonical.string(), static_cast<uint64_t>(st.st_dev),
                    static_cast<uint64_t>(st.st_ino)});
}

std::string FileSet::Find(const std::string& Path) const {
  if (files_.empty()) return {};
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return {};
  for (const File& f : files_)
    if (f.Device == static_cast<uint64_t>(st.st_dev) && f.Inode == static_cast<uint64_t>(st.st_ino)) return f.Path;
  return {};
}

bool FileSet::Has(uint64_t Device, uint64_t Inode) const {
  return std::any_of(files_.begin(), files_.end(),
                     [&](const File& f) { return f.Device == Device && f.Inode == Inode; });
}

bool FileSet::HeldBy(const std::string& Folder) const {
  if (files_.empty()) return false;
  std::string folder = platform::ExcludeTrailingSlash(Folder);
  if (folder.empty()) folder = Folder.empty() ? "." : "/";
  std::error_code ec;
  const auto root = std::filesystem::weakly_canonical(folder, ec);
  if (ec) return true;
  return std::any_of(files_.begin(), files_.end(), [&](const File& f) {
    const auto rel = std::filesystem::path(f.Canonical).lexically_relative(root);
    return !rel.empty() && *rel.begin() != "..";
  });
}

}  // namespace tess::core
