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

 private:
  // Sections and values keep their first-written order on save.
  struct Section {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Values;
  };
  std::vector<Section> sections_;
  Section* Find(const std::string& name);
  const Section* Find(const std::string& name) const;
};

// $XDG_CONFIG_HOME/tessaline/settings.ini, or ~/.config/tessaline/settings.ini.
std::string DefaultSettingsPath();

}  // namespace tess::platform
