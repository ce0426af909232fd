#include "platform/settings_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_io.h"

namespace tess::platform {

namespace {
std::string_view TrimView(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}
std::string Trim(const std::string& s) { return std::string(TrimView(s)); }

// What Windows editors write at the start of a UTF-8 file.
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
// As many links as the kernel follows in one path before it gives up.
constexpr int kMaxLinkHops = 40;

// The file a name stands for at the end of its chain of symbolic links (each
// relative target taken from its link's folder); the name itself when it is no
// link, and the last target named when that is missing. False, with the
// reason in Err, for a chain that loops or cannot be read.
bool LinkChainEnd(const std::string& FileName, std::filesystem::path& End, int& Err) {
  namespace fs = std::filesystem;
  fs::path p(FileName);
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) {
      End = p;
      return true;
    }
    const fs::path target = fs::read_symlink(p, ec);
    if (ec) {
      Err = ec.value();
      return false;
    }
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  Err = ELOOP;
  return false;
}

// The write bit of the class the caller falls in (owner, group, others) is
// set; for root any write bit. The mode is what the user set to keep a file
// from changes, which root's access() would not show and a rename would
// pass by.
bool ModeLetsWrite(const struct stat& St) {
  const uid_t user = ::geteuid();
  if (user == 0) return (St.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  if (user == St.st_uid) return (St.st_mode & S_IWUSR) != 0;
  std::vector<gid_t> groups(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
  groups.resize(static_cast<size_t>(std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
  const bool member = ::getegid() == St.st_gid || std::find(groups.begin(), groups.end(), St.st_gid) != groups.end();
  return (St.st_mode & (member ? S_IWGRP : S_IWOTH)) != 0;
}

// Why the existing file Path is not to be replaced, as the end of a line:
// replacing it would pass by its read-only mode, or part the names of a file
// that has several (a hard link would keep the old text). Empty when it may.
std::string WhyNotReplaced(const std::string& Path) {
  struct stat st {};
  if (::lstat(Path.c_str(), &st) != 0) return {};
  if (!S_ISREG(st.st_mode)) return ": it is not a regular file, so it is not written";
  if (!ModeLetsWrite(st)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string(": it is read-only (mode ") + mode + "), so it is not written";
  }
  if (st.st_nlink > 1)
    return ": it has " + std::to_string(st.st_nlink) +
           " names (hard links), and writing it afresh would leave the others with the old settings, so it is not "
           "written";
  return {};
}

std::string FileSystemReason(int Err) {
  return Err == ELOOP ? std::string("its symbolic links lead in a loop") : std::string(std::strerror(Err));
}
// Names are matched without regard to ASCII case.
std::string Folded(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}
}  // namespace

SettingsStore::Section* SettingsStore::Find(const std::string& name) {
  const auto it = index_.find(Folded(name));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

const SettingsStore::Section* SettingsStore::Find(const std::string& name) const {
  const auto it = index_.find(Folded(name));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

size_t SettingsStore::FindOrAdd(const std::string& name) {
  const auto [it, added] = index_.try_emplace(Folded(name), sections_.size());
  if (added) sections_.push_back({name, {}, {}});
  return it->second;
}

// A name already in the section takes the new text in its old place.
void SettingsStore::Put(Section& s, std::string name, std::string text) {
  const auto [it, added] = s.Index.try_emplace(Folded(name), s.Values.size());
  if (added)
    s.Values.push_back({std::move(name), std::move(text)});
  else
    s.Values[it->second].Text = std::move(text);
}

bool SettingsStore::Load(const std::string& FileName, std::string* Error) {
  sections_.clear();
  index_.clear();
  stray_.clear();
  byteOrderMark_ = false;
  crLf_ = false;
  std::error_code ec;
  const auto status = std::filesystem::status(FileName, ec);
  // Only a file that is not there reads as empty: one that cannot be looked at
  // (links in a loop, a folder that may not be entered) would be saved over.
  const bool missing = ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory;
  if (ec && !missing) {
    if (Error) *Error = FileSystemReason(ec.value());
    return false;
  }
  if (!std::filesystem::exists(status)) return true;
  std::string data;
  int err = 0;
  bool opened = false;
  if (!ReadWholeFile(FileName, data, &err, &opened)) {
    if (Error)
      *Error = !opened && err == EINVAL ? std::string("it is not a regular file")
                                        : std::string(opened ? "read error: " : "") + std::strerror(err);
    return false;
  }
  size_t current = FindOrAdd("");
  std::string_view text(data);
  // The mark is no part of the first line; a save writes it back.
  if (text.starts_with(kUtf8ByteOrderMark)) {
    byteOrderMark_ = true;
    text.remove_prefix(kUtf8ByteOrderMark.size());
  }
  // The first line's end is the file's: a save writes every line so.
  if (const size_t lf = text.find('\n'); lf != std::string_view::npos) crLf_ = lf > 0 && text[lf - 1] == '\r';
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view t = TrimView(line);
    if (t.empty()) continue;
    if (t.size() > 2 && t.front() == '[' && t.back() == ']') {
      current = FindOrAdd(std::string(t.substr(1, t.size() - 2)));
      continue;
    }
    Section& section = sections_[current];
    const size_t eq = line.find('=');
    const std::string_view key = eq == std::string_view::npos ? std::string_view() : TrimView(line.substr(0, eq));
    if (t[0] == ';' || t[0] == '#' || key.empty() || section.Name.empty()) {
      if (t[0] != ';' && t[0] != '#') stray_.emplace_back(t);
      section.Values.push_back({"", std::string(line)});
      continue;
    }
    Put(section, std::string(key), std::string(line.substr(eq + 1)));
  }
  return true;
}

bool SettingsStore::Save(const std::string& FileName, std::string* Why) const {
  // A settings file kept as a link to elsewhere (a dotfiles folder) stays a
  // link: its target takes the new text, replaced beside itself.
  std::filesystem::path path;
  if (int err = 0; !LinkChainEnd(FileName, path, err)) {
    if (Why) *Why = ": " + FileSystemReason(err);
    return false;
  }
  if (std::string why = WhyNotReplaced(path.string()); !why.empty()) {
    if (Why) *Why = why;
    return false;
  }
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  std::ostringstream out;
  if (byteOrderMark_) out << kUtf8ByteOrderMark;
  const char* const lineEnd = crLf_ ? "\r\n" : "\n";
  bool first = true;
  for (const auto& s : sections_) {
    if (s.Name.empty() && s.Values.empty()) continue;
    if (!first) out << lineEnd;
    first = false;
    if (!s.Name.empty()) out << "[" << s.Name << "]" << lineEnd;
    for (const auto& kv : s.Values) out << (kv.Name.empty() ? kv.Text : kv.Name + "=" + kv.Text) << lineEnd;
  }
  const std::string text = out.str();
  int err = 0;
  struct stat before {};
  const bool existed = ::stat(path.c_str(), &before) == 0;
  if (ReplaceFileWith(path.string(), text.data(), text.size(), &err, nullptr, true)) return true;
  // A folder that could not be made is the reason rather than the file missing in it.
  if (Why) *Why = ec ? ": " + ec.message() : ErrorReason(err);
  if (Why && err == EPERM && existed && (before.st_uid != ::geteuid() || before.st_gid != ::getegid()))
    *Why = ": its owner and group (" + std::to_string(before.st_uid) + ":" + std::to_string(before.st_gid) +
           ") could not be kept" + ErrorReason(err) + ", so it is not written";
  return false;
}

bool SettingsStore::ValueExists(const std::string& Section, const std::string& Name) const {
  return Read(Section, Name).has_value();
}

std::optional<std::string> SettingsStore::Read(const std::string& Section, const std::string& Name) const {
  const auto* s = Find(Section);
  if (!s) return std::nullopt;
  const auto it = s->Index.find(Folded(Name));
  if (it == s->Index.end()) return std::nullopt;
  return s->Values[it->second].Text;
}

std::string SettingsStore::ReadString(const std::string& Section, const std::string& Name,
                                      const std::string& Default) const {
  auto v = Read(Section, Name);
  return v ? *v : Default;
}

int64_t SettingsStore::ReadInteger(const std::string& Section, const std::string& Name, int64_t Default) const {
  auto v = Read(Section, Name);
  if (!v) return Default;
  std::string t = Trim(*v);
  if (t.empty()) return Default;
  char* end = nullptr;
  // Numbers are decimal: a leading zero does not make "010" octal.
  long long n = std::strtoll(t.c_str(), &end, 10);
  if (end == t.c_str() || *end != '\0') return Default;
  return n;
}

bool SettingsStore::ReadBool(const std::string& Section, const std::string& Name, bool Default) const {
  auto v = Read(Section, Name);
  if (!v) return Default;
  std::string t = Trim(*v);
  if (t == "1" || t == "true" || t == "True" || t == "TRUE") return true;
  if (t == "0" || t == "false" || t == "False" || t == "FALSE") return false;
  return Default;
}

void SettingsStore::WriteString(const std::string& Section, const std::string& Name, const std::string& Value) {
  Put(sections_[FindOrAdd(Section)], Name, Value);
}

void SettingsStore::WriteInteger(const std::string& Section, const std::string& Name, int64_t Value) {
  WriteString(Section, Name, std::to_string(Value));
}

void SettingsStore::WriteBool(const std::string& Section, const std::string& Name, bool Value) {
  WriteString(Section, Name, Value ? "1" : "0");
}

std::vector<std::string> SettingsStore::Sections() const {
  std::vector<std::string> out;
  for (const auto& s : sections_)
    if (!s.Name.empty()) out.push_back(s.Name);
  return out;
}

std::vector<std::string> SettingsStore::ValueNames(const std::string& Section) const {
  std::vector<std::string> out;
  if (const auto* s = Find(Section))
    for (const auto& kv : s->Values)
      if (!kv.Name.empty()) out.push_back(kv.Name);
  return out;
}

std::string DefaultSettingsPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : ".") + "/.config";
  }
  return base + "/tessaline/settings.ini";
}

}  // namespace tess::platform
