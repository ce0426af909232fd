#include "core/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "core/run_context.h"
#include "core/folder_lock.h"
#include "core/messages.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace tess::core {

namespace {

constexpr int64_t kCopyBlock = 16000;
// Output trees are a few levels deep; anything deeper is left in place rather than
// holding a descriptor per level without end.
constexpr int kMaxTreeDepth = 64;

std::string ThreeDigits(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%03d", n);
  return buf;
}

bool HasExtensionIgnoreCase(std::string_view Name, std::string_view Ext) {
  return Name.size() >= Ext.size() && platform::EqualsIgnoreCase(Name.substr(Name.size() - Ext.size()), Ext);
}

// The first entry that stays, as the end of a line about the folder that holds
// it; later ones are left out, the first says enough.
void NoteStays(std::string* Why, const std::string& Rel, std::string_view Reason) {
  if (Why && Why->empty()) *Why = ": can not delete " + Rel + std::string(Reason);
}

constexpr std::string_view kMountPointStays = ": it is a mount point, which stays whole";

// A mount point is named whatever stayed before it: a whole file system left
// as it was is worth its own words.
void NoteMountPointStays(std::string* Why, const std::string& Rel) {
  if (Why && !Why->empty())
    *Why += "; " + Rel + " is a mount point, which stays whole";
  else
    NoteStays(Why, Rel, kMountPointStays);
}

// The mount table's own spelling of a path: a blank, a tab, a line end or a
// backslash as a backslash and three octal digits.
std::string UnescapeMountPath(const std::string& Field) {
  const auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  for (size_t i = 0; i < Field.size(); ++i) {
    if (Field[i] == '\\' && i + 3 < Field.size() && octal(Field[i + 1]) && octal(Field[i + 2]) && octal(Field[i + 3])) {
      out += static_cast<char>((Field[i + 1] - '0') * 64 + (Field[i + 2] - '0') * 8 + (Field[i + 3] - '0'));
      i += 3;
    } else {
      out += Field[i];
    }
  }
  return out;
}

// Name in the folder open on DirFd (the folder itself for an empty Name) is a
// mount point by the mount table: for systems whose file status does not say.
bool ListedAsMountPoint(int DirFd, const char* Name) {
  std::error_code ec;
  const auto folder = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(DirFd), ec);
  if (ec) return false;
  const std::string path = *Name ? (folder / Name).string() : folder.string();
  std::ifstream table("/proc/self/mountinfo");
  for (std::string line; std::getline(table, line);) {
    size_t at = 0;
    for (int field = 0; field < 4 && at != std::string::npos; ++field) at = line.find(' ', at + 1);
    if (at == std::string::npos) continue;
    const size_t end = line.find(' ', at + 1);
    if (UnescapeMountPath(line.substr(at + 1, end == std::string::npos ? end : end - at - 1)) == path) return true;
  }
  return false;
}

// Name in the folder open on DirFd (the folder itself for an empty Name) is a
// mount point: another file system, or another mount of the same one (a bind
// mount), is reached through it. Device is the device of the folder above it.
bool IsMountPoint(int DirFd, const char* Name, dev_t Device) {
  struct statx sx {};
  const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (*Name ? 0 : AT_EMPTY_PATH);
  if (::statx(DirFd, Name, flags, STATX_INO, &sx) == 0) {
    if (makedev(sx.stx_dev_major, sx.stx_dev_minor) != Device) return true;
    if (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
  return ListedAsMountPoint(DirFd, Name);
}

// Removes everything inside the folder open on DirFd (and closes it) but the
// files of Keep, the folders that hold one, the mount points and the entry
// named Spare: the walk never leaves the folder's own file system. Entries are
// examined without following links: a link is unlinked as a link. True when
// nothing else is left; else *Why (when given and still empty) says which
// entry stayed and why, and names every mount point that stayed. Rel is the
// folder's path below the one being emptied, for that line.
bool EmptyFolderAt(int DirFd, int Depth, const FileSet& Keep, std::string_view Spare, std::string* Why,
                   const std::string& Rel) {
  struct stat self {};
  DIR* dir = ::fstat(DirFd, &self) == 0 ? ::fdopendir(DirFd) : nullptr;
  if (!dir) {
    const int err = errno;
    NoteStays(Why, Rel.empty() ? "its entries" : Rel, platform::ErrorReason(err));
    ::close(DirFd);
    return false;
  }
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (!Spare.empty() && Spare == e->d_name) continue;
    names.emplace_back(e->d_name);
  }
  const int fd = ::dirfd(dir);
  bool all = true;
  for (const auto& name : names) {
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISDIR(st.st_mode)) {
      if (Keep.Has(st.st_dev, st.st_ino)) {
        NoteStays(Why, Rel + name,
                  Keep.IsSource(st.st_dev, st.st_ino) ? ": it is a source file" : ": it is the settings file");
        all = false;
      } else if (::unlinkat(fd, name.c_str(), 0) != 0) {
        const int err = errno;
        NoteStays(Why, Rel + name, platform::ErrorReason(err));
        all = false;
      }
      continue;
    }
    if (IsMountPoint(fd, name.c_str(), self.st_dev)) {
      NoteMountPointStays(Why, Rel + name);
      all = false;
      continue;
    }
    // A folder that holds the settings file alone is emptied around it.
    if (Keep.HasFolder(st.st_dev, st.st_ino, true)) {
      NoteStays(Why, Rel + name, ": it holds the source");
      all = false;
      continue;
    }
    // An empty subfolder goes at once; the walk goes on with the other entries.
    if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) == 0) continue;
    const int sub =
        Depth >= kMaxTreeDepth ? -1 : ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub >= 0) EmptyFolderAt(sub, Depth + 1, Keep, {}, Why, Rel + name + "/");
    if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) {
      const int err = errno;
      NoteStays(Why, Rel + name, platform::ErrorReason(err));
      all = false;
    }
  }
  ::closedir(dir);
  return all;
}

// Opens Root (as the user gave it) and then each folder of Rel below it without
// following a link; -1 when any of them is missing or a link.
int OpenBelow(const std::string& Root, std::string_view Rel) {
  int fd = ::open(Root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  while (fd >= 0 && !Rel.empty()) {
    const size_t slash = Rel.find('/');
    const std::string part(Rel.substr(0, slash));
    Rel = slash == std::string_view::npos ? std::string_view() : Rel.substr(slash + 1);
    if (part.empty()) continue;
    const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  return fd;
}

// Deletes the entries of Root/Rel that match each mask in turn (files and links
// only; a folder of a matching name stays), but the files of Keep. A missing
// folder deletes nothing, and so does one that holds a source of Keep: what
// else it holds is the user's as much as the run's.
void DeleteMatches(const std::string& Root, std::string_view Rel, std::initializer_list<std::string_view> Exts,
                   const FileSet& Keep) {
  if (Keep.HoldsSource(Root + std::string(Rel))) return;
  for (std::string_view ext : Exts) {
    const int fd = OpenBelow(Root, Rel);
    if (fd < 0) return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
      ::close(fd);
      return;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir))
      if (HasExtensionIgnoreCase(e->d_name, ext)) names.emplace_back(e->d_name);
    for (const auto& name : names) {
      struct stat st {};
      if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode) &&
          !Keep.Has(st.st_dev, st.st_ino))
        ::unlinkat(fd, name.c_str(), 0);
    }
    ::closedir(dir);
  }
}

template <typename Char>
int32_t ReadLine(int Handle, std::basic_string<Char>& Line) {
  Line.clear();
  int err = 0;
  for (;;) {
    uint8_t raw[sizeof(Char)];
    if (platform::ReadFull(Handle, raw, sizeof raw, &err) != sizeof raw) break;
    Char c = static_cast<Char>(raw[0]);
    if constexpr (sizeof(Char) == 2) c = static_cast<Char>(raw[0] | (raw[1] << 8));
    if (c != Char('\r')) {
      Line.push_back(c);
      continue;
    }
    // The character after a CR is dropped only when it is the LF of the pair; a
    // lone CR must not eat the first character of the next line.
    const size_t n = platform::ReadFull(Handle, raw, sizeof raw, &err);
    if (n == sizeof raw) {
      Char next = static_cast<Char>(raw[0]);
      if constexpr (sizeof(Char) == 2) next = static_cast<Char>(raw[0] | (raw[1] << 8));
      if (next != Char('\n')) ::lseek(Handle, -static_cast<off_t>(sizeof raw), SEEK_CUR);
    } else if (n > 0) {
      ::lseek(Handle, -static_cast<off_t>(n), SEEK_CUR);
    }
    break;
  }
  // A read error is not the end of the text.
  return err != 0 ? -1 : static_cast<int32_t>(Line.size());
}

}  // namespace

bool IsFile(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string DropTail(const std::string& Name, size_t Count) {
  return Name.substr(0, Name.size() - std::min(Count, Name.size()));
}

namespace {

// Why Folder is no folder after making it failed with Ec: something that is no
// folder in the way, at Folder or above it, else the system's reason.
std::string WhyNoFolder(const std::string& Folder, const std::error_code& Ec) {
  const std::filesystem::path folder(platform::ExcludeTrailingSlash(Folder));
  for (std::filesystem::path p = folder; !p.empty(); p = p.parent_path()) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) break;
      const std::string what = S_ISREG(st.st_mode) ? "a file" : "no folder";
      return p == folder ? ": it is " + what : ": " + p.string() + " is " + what;
    }
    if (p == p.parent_path()) break;
  }
  return Ec ? ": " + Ec.message() : ": it is no folder";
}

}  // namespace

bool MakeFolders(const std::string& Folder, std::string* Why) {
  if (IsFolder(Folder)) return true;
  std::error_code ec;
  std::filesystem::create_directories(Folder, ec);
  if (IsFolder(Folder)) return true;
  if (Why) *Why = WhyNoFolder(Folder, ec);
  return false;
}

bool ParentFolderExists(const std::string& FileName) {
  const std::string folder = platform::ExtractFilePath(FileName);
  return !folder.empty() && IsFolder(folder);
}

bool CreateFileFolders(const std::string& FileName) {
  if (FileName.empty()) return false;
  const std::string folder = platform::ExtractFilePath(FileName);
  if (folder.empty() || IsFolder(folder)) return false;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return true;
}

void RemoveDirectoryChain(const std::string& Dir) {
  std::string d = platform::ExcludeTrailingSlash(Dir);
  for (int level = 0; level < 3; ++level) {
    if (d.empty() || d == "/") return;
    ::rmdir(d.c_str());  // only ever removes an empty folder
    d = platform::ExcludeTrailingSlash(platform::ExtractFilePath(d));
  }
}

bool CopyFileRange(RunContext& Run, const std::string& Source, const std::string& Dest,
                   const TCopyProgress& OnProgress, const uint8_t* AbortFlag, int64_t ProgressBase, uint64_t Count,
                   int64_t Offset) {
  const std::string temp = Dest + ".part";
  if (Run.WritesOverSource(Dest) || Run.WritesOverSource(temp)) return false;
  const std::string source = platform::ResolveInputPath(Source);
  const int in = platform::OpenRegularFile(source, O_RDONLY);
  struct stat st {};
  const std::string notOpened = in < 0                    ? platform::OpenFailureReason(source, errno)
                                : ::fstat(in, &st) != 0 ? platform::ErrorReason(errno)
                                : Offset < 0            ? ": a negative offset"
                                                        : std::string();
  if (!notOpened.empty()) {
    if (in >= 0) ::close(in);
    Run.Log(kLogWarning, std::string(msg::CanNotOpenFile) + Source + notOpened, platform::kColourRed);
    return false;
  }
  // The copy takes the place of a regular file (or a link) only: a device, pipe
  // or folder of that name is never replaced.
  struct stat dst {};
  const bool destSpecial =
      ::lstat(Dest.c_str(), &dst) == 0 && !S_ISREG(dst.st_mode) && !S_ISLNK(dst.st_mode);
  // A stale temporary is removed, never opened through: it might be a link.
  Run.RemoveOwnFile(temp);
  const int out = destSpecial ? -1 : ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    const std::string why = destSpecial ? platform::OpenFailureReason(Dest, 0) : platform::ErrorReason(errno);
    ::close(in);
    Run.Log(kLogWarning, "Can not create file " + Dest + why, platform::kColourRed);
    return false;
  }

  std::vector<uint8_t> block(kCopyBlock);
  uint64_t total = 0;
  bool failed = false, aborted = false;
  while (total < Count) {
    const int64_t want = static_cast<int64_t>(std::min<uint64_t>(kCopyBlock, Count - total));
    int readErr = 0;
    const int64_t n = static_cast<int64_t>(platform::PReadFull(in, block.data(), static_cast<size_t>(want),
                                                               Offset + static_cast<int64_t>(total), &readErr));
    if (readErr) {
      Run.Log(kLogWarning, "Read error in file " + Source + ": " + std::strerror(readErr), platform::kColourRed);
      Run.NoteReadError(Source);
      failed = true;
      break;
    }
    if (n == 0) break;
    if (!platform::WriteFull(out, block.data(), static_cast<size_t>(n))) {
      Run.Log(kLogWarning, "Write error in file " + Dest + ": " + std::strerror(errno), platform::kColourRed);
      Run.StopForWriteError(Dest);
      failed = true;
      break;
    }
    total += static_cast<uint64_t>(n);
    if (OnProgress) OnProgress(ProgressBase + static_cast<int64_t>(total));
    if (n < want) break;  // the source ended
    if (AbortFlag && *AbortFlag && total < Count) {
      aborted = true;
      break;
    }
  }
  ::close(in);
  if (::close(out) != 0 && !failed) {
    Run.Log(kLogWarning, "Write error in file " + Dest + ": " + std::strerror(errno), platform::kColourRed);
    Run.StopForWriteError(Dest);
    failed = true;
  }
  if (failed || aborted) {
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), Dest.c_str()) != 0) {
    const std::string why = platform::ErrorReason(errno);
    Run.Log(kLogWarning, "Can not create file " + Dest + why, platform::kColourRed);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool CopyFileRangeSimple(RunContext& Run, const std::string& Source, const std::string& Dest, uint64_t Count,
                         int64_t Offset) {
  return CopyFileRange(Run, Source, Dest, nullptr, nullptr, 0, Count, Offset);
}

int64_t GetFileSizeByName(const std::string& FileName) {
  struct stat st {};
  const std::string path = platform::ResolveInputPath(FileName);
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  return st.st_size;
}

std::string NextEvoFileName(const std::string& Name, std::string* Unreadable) {
  if (Unreadable) Unreadable->clear();
  // Only the file's own name is numbered: a folder's characters must never be
  // taken for digits or cut off as part of the stem.
  const std::string folder = platform::ExtractFilePath(Name);
  const std::string file = platform::ExtractFileName(Name);
  if (file.size() < 5) return {};
  const std::string base = file.substr(0, file.size() - 4);
  // The number is the last one or two digits. A letter before a single digit
  // ("hv001t2.evo", the plain-number form this routine itself returns) belongs to
  // the stem, so that such a file has a successor too.
  const char units = base.back();
  // A name without a number before its extension starts no chain.
  if (!platform::IsAsciiDigit(units)) return {};
  const bool hasTens =
      base.size() >= 2 && platform::IsAsciiDigit(base[base.size() - 2]) && platform::IsAsciiDigit(units);
  int32_t number = 0;
  if (hasTens)
    number = (base[base.size() - 2] - '0') * 10 + (units - '0');
  else
    number = units - '0';
  ++number;
  // Two digits number at most 99 files: "t99" has no successor, else "t100"
  // would be read as file 0 of a chain named "t1" and start it again.
  if (number > 99) return {};
  std::string stem = file.substr(0, file.size() - 5);
  if (hasTens) stem.pop_back();

  const std::string padded = number < 10 ? "0" + std::to_string(number) : std::to_string(number);
  int err = 0;
  std::string found = platform::ExistingRegularFile(folder + stem + padded + ".evo", &err);
  if (found.empty() && err != 0 && Unreadable)
    *Unreadable = stem + padded + ".evo" + platform::ErrorReason(err);
  if (found.empty() && number < 10) {
    found = platform::ExistingRegularFile(folder + stem + std::to_string(number) + ".evo", &err);
    if (found.empty() && err != 0 && Unreadable && Unreadable->empty())
      *Unreadable = stem + std::to_string(number) + ".evo" + platform::ErrorReason(err);
  }
  if (!found.empty() && Unreadable) Unreadable->clear();
  return found;
}

namespace {

// The two-digit number that ends a chain file's name before its extension; -1
// for none. Name is the file's name without its folder.
int32_t ChainNumberOf(const std::string& Name) {
  if (Name.size() < 6) return -1;
  const std::string base = Name.substr(0, Name.size() - 4);
  if (!platform::IsAsciiDigit(base.back()) || !platform::IsAsciiDigit(base[base.size() - 2])) return -1;
  return (base[base.size() - 2] - '0') * 10 + (base.back() - '0');
}

// Name (without its folder) with its chain number replaced by Number.
std::string ChainFileNumbered(const std::string& Name, int32_t Number) {
  return Name.substr(0, Name.size() - 6) + (Number < 10 ? "0" : "") + std::to_string(Number) +
         Name.substr(Name.size() - 4);
}

}  // namespace

std::string MissingChainFile(const std::string& LastName) {
  const std::string folder = platform::ExtractFilePath(LastName);
  const std::string file = platform::ExtractFileName(LastName);
  const int32_t number = ChainNumberOf(file);
  if (number < 0) return {};
  for (int32_t later = number + 2; later <= 99; ++later)
    if (!platform::ExistingRegularFile(folder + ChainFileNumbered(file, later)).empty())
      return folder + ChainFileNumbered(file, number + 1);
  return {};
}

std::string ChainFileAfter(const std::string& LastName) {
  const std::string file = platform::ExtractFileName(LastName);
  const int32_t number = ChainNumberOf(file);
  if (number < 0 || number >= 99) return {};
  return platform::ExtractFilePath(LastName) + ChainFileNumbered(file, number + 1);
}

bool IsIfoFile(const std::string& FileName) {
  char head[8];
  if (platform::ReadFileHead(platform::ResolveInputPath(FileName), head, sizeof head) != sizeof head) return false;
  return std::memcmp(head, "DVDVIDEO", 8) == 0 || std::memcmp(head, "STANDARD", 8) == 0;
}

bool AppendToFile(const std::string& FileName, const void* Buffer, int64_t Count, int* Err) {
  const int fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (Err) *Err = errno;
    return false;
  }
  const bool written = Count <= 0 || platform::WriteFull(fd, Buffer, static_cast<size_t>(Count));
  const int writeErr = written ? 0 : errno;
  const bool closed = ::close(fd) == 0;
  if (Err) *Err = writeErr != 0 ? writeErr : closed ? 0 : errno;
  return closed && written;
}

bool IsFolderEmpty(const std::string& Folder, std::string_view Except) {
  DIR* dir = ::opendir(Folder.empty() ? "." : Folder.c_str());
  if (!dir) return true;
  bool empty = true;
  while (dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 &&
        (Except.empty() || Except != e->d_name)) {
      empty = false;
      break;
    }
  }
  ::closedir(dir);
  return empty;
}

int32_t ReadAnsiLine(int Handle, std::string& Line) { return ReadLine(Handle, Line); }
int32_t ReadWideLine(int Handle, std::u16string& Line) { return ReadLine(Handle, Line); }

bool IsProtectedFolder(const std::string& Dir) {
  if (Dir.empty()) return true;
  const std::filesystem::path p(Dir);
  if (p.lexically_normal() == "/") return true;
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(p, ec);
  if (!ec && canonical == "/") return true;
  // The root reached another way (a bind mount of it) is the root all the same.
  struct stat root {}, st {};
  return ::stat("/", &root) == 0 && ::stat(Dir.c_str(), &st) == 0 && st.st_dev == root.st_dev &&
         st.st_ino == root.st_ino;
}

namespace {

// A path that only climbs or stays (".", "..", "./.", "../..", "a/..").
bool OnlyDotComponents(const std::filesystem::path& P) {
  const std::filesystem::path n = P.lexically_normal();
  for (const auto& part : n) {
    const std::string s = part.string();
    if (!s.empty() && s != "." && s != ".." && s != "/") return false;
  }
  return true;
}

// The folder of Id is Path's own or one above it, as Path's real path has them.
bool OnWayUp(const struct stat& Id, const std::filesystem::path& Path) {
  for (std::filesystem::path p = Path; !p.empty(); p = p.parent_path()) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0 && st.st_dev == Id.st_dev && st.st_ino == Id.st_ino) return true;
    if (p == p.parent_path()) break;
  }
  return false;
}

// The user's home folder as the user database has it: without HOME (a service,
// a cron job, "env -i") the folder is the user's all the same.
std::string HomeFolderOfUser() {
  std::vector<char> buffer(16384);
  for (;;) {
    passwd entry {}, *found = nullptr;
    const int err = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (err == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    return err == 0 && found && found->pw_dir ? std::string(found->pw_dir) : std::string();
  }
}

// Why P may not go for the home folder's sake (by HOME or by the user
// database, however either is reached): it is the home folder, or holds it as
// "/home" holds "/home/alice". Empty when it is neither.
std::string HomeFolderReason(const std::filesystem::path& P) {
  struct stat folder {};
  if (::stat(P.c_str(), &folder) != 0) return {};
  const char* home = std::getenv("HOME");
  for (const std::string& h : {std::string(home ? home : ""), HomeFolderOfUser()}) {
    struct stat st {};
    if (h.empty() || ::stat(h.c_str(), &st) != 0) continue;
    if (st.st_dev == folder.st_dev && st.st_ino == folder.st_ino) return ": it is the home folder";
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(h, ec);
    if (!ec && OnWayUp(folder, real)) return ": it holds the home folder";
  }
  return {};
}

// The folder the program runs in, or one that holds it, however the path
// names it or reaches it: removing it would pull the folder from under the
// user's shell. A path that cannot be looked at counts as one. The reason, or
// empty.
std::string WorkingFolderReason(const std::string& Dir) {
  std::error_code ec;
  const auto here = std::filesystem::current_path(ec);
  if (ec) return {};  // no working folder left to lose
  struct stat folder {};
  if (::stat(Dir.c_str(), &folder) != 0)
    return errno == ENOENT || errno == ENOTDIR
               ? std::string()
               : ": its path can not be resolved, so it might hold the working folder";
  struct stat cwd {};
  if (::stat(here.c_str(), &cwd) != 0) return ": the working folder can not be resolved, so this folder might hold it";
  if (cwd.st_dev == folder.st_dev && cwd.st_ino == folder.st_ino) return ": it is the working folder";
  return OnWayUp(folder, here) ? ": it holds the working folder" : std::string();
}

// Why Dir may not be emptied or removed (one of the paths that are never
// touched, or a folder that holds a file of Keep), as the end of a line; empty
// when it may.
std::string ProtectedFolderReason(const std::string& Dir, const FileSet& Keep) {
  // Short paths ("C:\", "./", "a/") name a drive or the folder the program runs
  // in far more often than a folder meant to go; they are never touched.
  constexpr size_t kShortestRemovable = 4;
  if (Dir.size() < kShortestRemovable) return ": a path of fewer than four characters is never deleted";
  if (IsProtectedFolder(Dir)) return ": it is the root folder";
  if (OnlyDotComponents(Dir)) return ": a path of only \".\" and \"..\" steps is never deleted";
  if (std::string why = HomeFolderReason(Dir); !why.empty()) return why;
  if (std::string why = WorkingFolderReason(Dir); !why.empty()) return why;
  if (Keep.HoldsSource(Dir)) return ": it holds the source";
  return {};
}

// Why the folder Dir could not be opened (the open failed with Err).
std::string WhyFolderNotOpened(const std::string& Dir, int Err) {
  struct stat st {};
  if (::lstat(Dir.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) return ": it is a symbolic link, which is never followed";
    if (!S_ISDIR(st.st_mode)) return S_ISREG(st.st_mode) ? ": it is a file" : ": it is no folder";
  }
  return platform::ErrorReason(Err);
}

// Removes what the folder Dir holds (or, with RemoveDir, the folder itself), but
// the files of Keep and the entry named Spare. When it fails, *Why (when
// given) says why.
bool RemoveFolderContent(const std::string& Dir, const FileSet& Keep, std::string_view Spare, bool RemoveDir,
                         std::string* Why) {
  std::string why = ProtectedFolderReason(Dir, Keep);
  const std::string d = platform::ExcludeTrailingSlash(Dir);
  const int fd = why.empty() ? ::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
  if (fd < 0 && why.empty()) why = WhyFolderNotOpened(d, errno);
  // A folder that goes with its content must lie on the file system of the
  // folder above it: what is mounted on it is not the clean-up's.
  if (struct stat above {}; fd >= 0 && RemoveDir && ::fstatat(fd, "..", &above, 0) == 0 &&
                            IsMountPoint(fd, "", above.st_dev)) {
    ::close(fd);
    if (Why) *Why = std::string(kMountPointStays);
    return false;
  }
  bool done = fd >= 0 && EmptyFolderAt(fd, 0, Keep, Spare, &why, {});
  if (fd >= 0 && RemoveDir) {
    done = ::rmdir(d.c_str()) == 0;
    if (!done && why.empty()) why = platform::ErrorReason(errno);
  }
  if (Why) *Why = done ? std::string() : why;
  return done;
}

}  // namespace

bool DeleteFolderTree(const std::string& Dir, const FileSet& Keep, std::string* Why) {
  return RemoveFolderContent(Dir, Keep, {}, true, Why);
}

bool EmptyFolder(const std::string& Dir, std::string_view Spare, const FileSet& Keep, std::string* Why) {
  return RemoveFolderContent(Dir, Keep, Spare, false, Why);
}

bool DeleteFileUnless(const std::string& FileName, const FileSet& Keep) {
  struct stat st {};
  if (FileName.empty() || ::lstat(FileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode) || Keep.Has(st.st_dev, st.st_ino))
    return false;
  return ::unlink(FileName.c_str()) == 0;
}

bool HoldsEarlierRun(const std::string& Root) {
  if (IsProtectedFolder(Root)) return false;
  const std::string r = platform::IncludeTrailingSlash(Root);
  // Looked at as the clean-up does: a link of one of these names is no folder.
  auto is = [](const std::string& Path, bool Folder) {
    struct stat st {};
    return ::lstat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) == Folder;
  };
  if (is(r + "VMG", true)) return true;
  for (int n = 1; n <= 99; ++n)
    if (is(r + "VTS_" + ThreeDigits(n), true)) return true;
  return is(r + std::string(kLogFileName), false);
}

namespace {

// A folder a run writes in its own folder: VMG or VTS_001..VTS_099.
bool IsRunFolderName(std::string_view Name) {
  if (Name == "VMG") return true;
  if (Name.size() != 7 || !Name.starts_with("VTS_")) return false;
  if (!std::all_of(Name.begin() + 4, Name.end(), [](char c) { return platform::IsAsciiDigit(c); })) return false;
  return Name.substr(4) != "000";
}

// The first entry (by name) of the folder open on DirFd (closed here) that a
// run does not write, else empty; with RunFolders a folder of such entries
// alone counts as a run's too. *Any tells whether the folder held anything.
std::string ForeignEntryAt(int DirFd, bool RunFolders, bool* Any) {
  *Any = false;
  DIR* dir = ::fdopendir(DirFd);
  if (!dir) {
    ::close(DirFd);
    return {};
  }
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  std::sort(names.begin(), names.end());
  *Any = !names.empty();
  std::string foreign;
  for (const std::string& name : names) {
    struct stat st {};
    if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode) ? IsRunFolderName(name)
                            : S_ISREG(st.st_mode) && (name == kLogFileName || name == kLockFileName))
      continue;
    if (RunFolders && S_ISDIR(st.st_mode)) {
      const int sub = ::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      bool any = false;
      const std::string inner = sub >= 0 ? ForeignEntryAt(sub, false, &any) : std::string();
      if (sub >= 0 && any && inner.empty()) continue;
      foreign = name + "/" + inner;
    } else {
      foreign = S_ISDIR(st.st_mode) ? name + "/" : name;
    }
    break;
  }
  ::closedir(dir);
  return foreign;
}

}  // namespace

std::string EntryNoRunWrote(const std::string& Root) {
  const int fd = ::open(Root.empty() ? "." : Root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool any = false;
  return fd >= 0 ? ForeignEntryAt(fd, true, &any) : std::string();
}

bool CleanProjectFolder(const std::string& Root, const FileSet& Keep, std::vector<std::string>* Kept,
                        std::vector<std::string>* Failed, std::vector<std::string>* Unlinked) {
  if (IsProtectedFolder(Root)) return false;
  const std::string r = platform::IncludeTrailingSlash(Root);
  std::vector<std::string> folders = {r + "VMG/"};
  for (int n = 1; n <= 99; ++n) folders.push_back(r + "VTS_" + ThreeDigits(n) + "/");
  for (const std::string& folder : folders) {
    // The run would write through a link there, into whatever it leads to (a
    // source's folder among them).
    const std::string name = platform::ExcludeTrailingSlash(folder);
    if (struct stat st {}; ::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      if (::unlink(name.c_str()) == 0) {
        if (Unlinked) Unlinked->push_back(name);
      } else if (Failed) {
        Failed->push_back(name + platform::ErrorReason(errno));
      }
      continue;
    }
    // A folder that holds a source stays whole, with all the rest it holds.
    if (Keep.HoldsSource(folder) && IsFolder(folder)) {
      if (Kept) Kept->push_back(folder);
      continue;
    }
    std::string why;
    if (!DeleteFolderTree(folder, Keep, &why) && Failed && IsFolder(folder)) Failed->push_back(folder + why);
  }
  // Only the log this program saves there: other logs and scripts in the
  // folder are the user's.
  DeleteFileUnless(r + std::string(kLogFileName), Keep);
  return true;
}

std::string FolderHoldingSource(const std::string& Root, const std::string& Folder, const FileSet& Sources) {
  const std::string root = platform::IncludeTrailingSlash(Root);
  const std::string folder = platform::IncludeTrailingSlash(Folder);
  if (Root.empty() || Sources.Empty() || !folder.starts_with(root)) return {};
  if (!Sources.FileIn(root).empty()) return root;
  for (size_t slash = folder.find('/', root.size()); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    // A folder not made yet is made below one that was looked at.
    const std::string below = folder.substr(0, slash + 1);
    if (IsFolder(below) && Sources.HoldsSource(below)) return below;
  }
  return {};
}

std::string SourceFolderRefusalLine(const std::string& Held) {
  return "The run's outputs would be written into " + Held +
         ", which holds the source: the run is refused; give a DEST apart from the source.";
}

bool CleanMenuTitleFolders(const std::string& Root, const FileSet& Keep) {
  if (IsProtectedFolder(Root)) return false;
  const std::string r = platform::IncludeTrailingSlash(Root);
  DeleteMatches(r, "VMG", {".sup", ".dat"}, Keep);
  for (int n = 1; n <= 99; ++n) {
    const std::string vts = "VTS_" + ThreeDigits(n);
    DeleteMatches(r, vts + "/Menu", {".sup", ".dat"}, Keep);
    DeleteMatches(r, vts + "/Titles", {".sup", ".dat"}, Keep);
  }
  return true;
}

bool CleanScanCaches(const std::string& Root, const FileSet& Keep) {
  if (IsProtectedFolder(Root)) return false;
  const std::string r = platform::IncludeTrailingSlash(Root);
  DeleteMatches(r, "VMG/Menu", {".vnf", ".ipos"}, Keep);
  for (int n = 1; n <= 99; ++n) {
    const std::string vts = "VTS_" + ThreeDigits(n);
    DeleteMatches(r, vts + "/Menu", {".vnf", ".ipos"}, Keep);
    DeleteMatches(r, vts + "/Titles", {".vnf", ".ipos"}, Keep);
  }
  return true;
}

bool CleanScanFiles(const std::string& Root, const FileSet& Keep) {
  if (IsProtectedFolder(Root)) return false;
  const std::string r = platform::IncludeTrailingSlash(Root);
  DeleteMatches(r, "VMG/Menu", {".sup", ".dat", ".times"}, Keep);
  for (int n = 1; n <= 99; ++n) {
    const std::string vts = "VTS_" + ThreeDigits(n);
    DeleteMatches(r, vts + "/Menu", {".times"}, Keep);
    DeleteMatches(r, vts + "/Titles", {".times"}, Keep);
  }
  return CleanScanCaches(Root, Keep);
}
// "File size: " + the size in whole Gb, Mb or Kb.
void FormatFileSize(const std::string& FileName, std::string& Text) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(FileName, ec);
  const uint64_t kb = ec ? 0 : size / 1024;
  if (kb > 1048576)
    Text = "File size: " + std::to_string(size >> 30) + " Gb";
  else if (kb > 1024)
    Text = "File size: " + std::to_string(size >> 20) + " Mb";
  else
    Text = "File size: " + std::to_string(kb) + " Kb";
}

}  // namespace tess::core
