#include "platform/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <vector>

namespace tess::platform {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string ToUpperAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

std::string ToLowerAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// Err keeps the first failure that is not a name missing: a folder that cannot
// be entered or listed hides what it holds, and says so.
static void NoteLookUpError(int* Err, int Errno) {
  if (Err && *Err == 0 && Errno != ENOENT && Errno != ENOTDIR) *Err = Errno;
}

static bool Exists(const std::string& p, int* Err) {
  struct stat st;
  if (::lstat(p.c_str(), &st) == 0) return true;
  NoteLookUpError(Err, errno);
  return false;
}

std::optional<std::string> FindPathCaseInsensitive(const std::string& Path, int* Err, std::string* Unlisted) {
  if (Err) *Err = 0;
  if (Unlisted) Unlisted->clear();
  if (Path.empty()) return std::nullopt;
  if (Exists(Path, Err)) {
    if (Err) *Err = 0;
    return Path;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= Path.size()) {
    size_t slash = Path.find('/', start);
    if (slash == std::string::npos) slash = Path.size();
    parts.emplace_back(Path.substr(start, slash - start));
    start = slash + 1;
  }
  std::string current = Path[0] == '/' ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty()) continue;
    std::string candidate = current.empty() ? part : (current.back() == '/' ? current + part : current + "/" + part);
    if (!Exists(candidate, Err)) {
      std::string folder = current.empty() ? "." : current;
      DIR* dir = ::opendir(folder.c_str());
      if (!dir) {
        NoteLookUpError(Err, errno);
        if (Unlisted) *Unlisted = folder;
        return std::nullopt;
      }
      std::string found;
      while (dirent* e = ::readdir(dir)) {
        if (EqualsIgnoreCase(e->d_name, part)) {
          found = e->d_name;
          break;
        }
      }
      ::closedir(dir);
      if (found.empty()) return std::nullopt;
      candidate = current.empty() ? found : (current.back() == '/' ? current + found : current + "/" + found);
    }
    current = candidate;
  }
  if (!Path.empty() && Path.back() == '/' && !current.empty() && current.back() != '/') current += '/';
  if (Err) *Err = 0;
  return current;
}

std::string ResolveInputPath(const std::string& Path) {
  auto found = FindPathCaseInsensitive(Path);
  return found ? *found : Path;
}

std::string ExtractFileName(std::string_view Path) {
  size_t slash = Path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? Path : Path.substr(slash + 1));
}

std::string ExtractFilePath(std::string_view Path) {
  size_t slash = Path.find_last_of('/');
  return slash == std::string_view::npos ? std::string() : std::string(Path.substr(0, slash + 1));
}

std::string ExtractFileExt(std::string_view Path) {
  size_t slash = Path.find_last_of('/');
  size_t dot = Path.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return std::string(Path.substr(dot));
}

std::string ChangeFileExt(std::string_view Path, std::string_view Ext) {
  std::string ext = ExtractFileExt(Path);
  std::string base(Path.substr(0, Path.size() - ext.size()));
  return base + std::string(Ext);
}

std::string IncludeTrailingSlash(std::string_view Folder) {
  if (Folder.empty() || Folder.back() == '/') return std::string(Folder);
  return std::string(Folder) + "/";
}

std::string ExcludeTrailingSlash(std::string_view Folder) {
  std::string r(Folder);
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  return r;
}

}  // namespace tess::platform
