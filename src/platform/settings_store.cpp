#include "platform/settings_store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/file_io.h"
#include "platform/paths.h"

namespace tess::platform {

namespace {
std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}
}  // namespace

SettingsStore::Section* SettingsStore::Find(const std::string& name) {
  const auto it = index_.find(ToLowerAscii(name));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

const SettingsStore::Section* SettingsStore::Find(const std::string& name) const {
  const auto it = index_.find(ToLowerAscii(name));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

size_t SettingsStore::FindOrAdd(const std::string& name) {
  const auto [it, added] = index_.try_emplace(ToLowerAscii(name), sections_.size());
  if (added) sections_.push_back({name, {}, {}});
  return it->second;
}

// A name already in the section takes the new text in its old place.
void SettingsStore::Put(Section& s, const std::string& name, const std::string& text) {
  const auto [it, added] = s.Index.try_emplace(ToLowerAscii(name), s.Values.size());
  if (added)
    s.Values.push_back({name, text});
  else
    s.Values[it->second].Text = text;
}

bool SettingsStore::Load(const std::string& FileName, std::string* Error) {
  sections_.clear();
  index_.clear();
  stray_.clear();
  std::error_code ec;
  const auto status = std::filesystem::status(FileName, ec);
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
  for (size_t pos = 0; pos < data.size();) {
    size_t end = data.find('\n', pos);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (t.empty()) continue;
    if (t.size() > 2 && t.front() == '[' && t.back() == ']') {
      current = FindOrAdd(t.substr(1, t.size() - 2));
      continue;
    }
    Section& section = sections_[current];
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
    if (t[0] == ';' || t[0] == '#' || key.empty() || section.Name.empty()) {
      if (t[0] != ';' && t[0] != '#') stray_.push_back(t);
      section.Values.push_back({"", line});
      continue;
    }
    Put(section, key, line.substr(eq + 1));
  }
  return true;
}

bool SettingsStore::Save(const std::string& FileName) const {
  std::filesystem::path path(FileName);
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  std::ostringstream out;
  bool first = true;
  for (const auto& s : sections_) {
    if (s.Name.empty() && s.Values.empty()) continue;
    if (!first) out << "\n";
    first = false;
    if (!s.Name.empty()) out << "[" << s.Name << "]\n";
    for (const auto& kv : s.Values) out << (kv.Name.empty() ? kv.Text : kv.Name + "=" + kv.Text) << "\n";
  }
  const std::string text = out.str();
  return ReplaceFileWith(FileName, text.data(), text.size());
}

bool SettingsStore::ValueExists(const std::string& Section, const std::string& Name) const {
  return Read(Section, Name).has_value();
}

std::optional<std::string> SettingsStore::Read(const std::string& Section, const std::string& Name) const {
  const auto* s = Find(Section);
  if (!s) return std::nullopt;
  const auto it = s->Index.find(ToLowerAscii(Name));
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
