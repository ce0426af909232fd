#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tess::platform {

// The settings file: an INI file of named sections, each holding named values.
// Lines are kept in the order they were first written.
class SettingsStore {
 public:
  // Loads FileName; a missing file gives an empty store and true. A file that
  // cannot be looked at, opened or read to its end gives false, with the reason
  // in *Error (when given): a store that holds only part of the file must never
  // be saved over it. A UTF-8 byte-order mark at the start is skipped.
  bool Load(const std::string& FileName, std::string* Error = nullptr);
  // Writes the whole store to FileName through a temporary file and one rename,
  // so a failed save never leaves a half-written settings file behind. A
  // FileName that is a symbolic link stays one: the end of its chain of links
  // is written. A byte-order mark the file was loaded with is written back,
  // and so are CR LF line ends. A file that is read-only by its mode or has
  // several names (hard links) is not written: replacing it would pass by the
  // mode or part the names. When it fails, *Why (when given) is the reason as
  // the end of a line.
  bool Save(const std::string& FileName, std::string* Why = nullptr) const;

  bool ValueExists(const std::string& Section, const std::string& Name) const;
  std::optional<std::string> Read(const std::string& Section, const std::string& Name) const;
  std::string ReadString(const std::string& Section, const std::string& Name, const std::string& Default) const;
  int64_t ReadInteger(const std::string& Section, const std::string& Name, int64_t Default) const;
  bool ReadBool(const std::string& Section, const std::string& Name, bool Default) const;

  void WriteString(const std::string& Section, const std::string& Name, const std::string& Value);
  void WriteInteger(const std::string& Section, const std::string& Name, int64_t Value);
  void WriteBool(const std::string& Section, const std::string& Name, bool Value);

  std::vector<std::string> Sections() const;
  // The names of the values in Section, in file order.
  std::vector<std::string> ValueNames(const std::string& Section) const;
  // The lines Load could not take as a value of a section: a value before the
  // first section, a line that is not Name=Value. Save writes them back where
  // they stood, as it does with comments.
  const std::vector<std::string>& StrayLines() const { return stray_; }

 private:
  // Sections and values keep their first-written order on save. A line kept as
  // it was written (a comment, a stray line) has no name.
  struct Value {
    std::string Name;
    std::string Text;
  };
  // Names are looked up case-folded through the maps, so that a file of many
  // names or sections loads in time proportional to its size.
  struct Section {
    std::string Name;  // empty: the lines before the first section
    std::vector<Value> Values;
    std::unordered_map<std::string, size_t> Index;  // folded value name -> its place in Values
  };
  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> index_;  // folded section name -> its place in sections_
  std::vector<std::string> stray_;
  bool byteOrderMark_ = false;  // the file started with a UTF-8 byte-order mark
  bool crLf_ = false;           // its lines end in CR LF, as a Windows editor writes them
  Section* Find(const std::string& name);
  const Section* Find(const std::string& name) const;
  size_t FindOrAdd(const std::string& name);  // the section's place in sections_
  static void Put(Section& s, std::string name, std::string text);
};

// $XDG_CONFIG_HOME/tessaline/settings.ini, or ~/.config/tessaline/settings.ini.
std::string DefaultSettingsPath();

}  // namespace tess::platform
