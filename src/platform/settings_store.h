#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tess::platform {

// The settings file: an INI file of named sections, each holding named values.
// Lines are kept in the order they were first written.
class SettingsStore {
 public:
  // Loads FileName; a missing file gives an empty store and true, an unreadable
  // one false.
  bool Load(const std::string& FileName);
  // Writes the whole store to FileName through a temporary file and one rename,
  // so a failed save never leaves a half-written settings file behind.
  bool Save(const std::string& FileName) const;

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
  struct Section {
    std::string Name;  // empty: the lines before the first section
    std::vector<Value> Values;
  };
  std::vector<Section> sections_;
  std::vector<std::string> stray_;
  Section* Find(const std::string& name);
  const Section* Find(const std::string& name) const;
};

// $XDG_CONFIG_HOME/tessaline/settings.ini, or ~/.config/tessaline/settings.ini.
std::string DefaultSettingsPath();

}  // namespace tess::platform
