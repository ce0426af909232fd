#include "app/options.h"

#include <cstdlib>
#include <filesystem>
#include <variant>

#include "platform/paths.h"
#include "platform/settings_store.h"
#include "platform/ui_models.h"

namespace tess::app {

namespace {

// One settings field: its value name and where it lives in the record.
struct Field {
  const char* Name;
  std::variant<uint8_t TOptions::*, int32_t TOptions::*, uint32_t TOptions::*, std::string TOptions::*> Member;
};

const Field kFields[] = {
    {"DeleteSUP", &TOptions::DeleteSUP},
    {"DeletePCM", &TOptions::DeletePCM},
    {"ShowErrorMsg", &TOptions::ShowErrorMsg},
    {"TitleMakeSup", &TOptions::TitleMakeSup},
    {"SUPMode", &TOptions::SUPMode},
    {"CommonTitlesFolder", &TOptions::CommonTitlesFolder},
    {"TimeScale1001", &TOptions::TimeScale1001},
    {"TitleMode", &TOptions::TitleMode},
    {"MenuMode", &TOptions::MenuMode},
    {"AdvancedMain", &TOptions::AdvancedMain},
    {"AudioTimeNavigation", &TOptions::AudioTimeNavigation},
    {"AddSE", &TOptions::AddSE},
    {"InsertAngle", &TOptions::InsertAngle},
    {"FullScan", &TOptions::FullScan},
    {"AngleType", &TOptions::AngleType},
    {"SolidAudio", &TOptions::SolidAudio},
    {"RecutMode", &TOptions::RecutMode},
    {"AddAudioStub", &TOptions::AddAudioStub},
    {"PTSAudioTitleMode", &TOptions::TitlePTSMode},
    {"PTSAudioMenuMode", &TOptions::MenuPTSMode},
    {"MemoryManager", &TOptions::MemoryManager},
    {"MainByTitle", &TOptions::MainByTitle},
    {"CorrectVideoBitrate", &TOptions::CorrectVideoBitrate},
    {"LogColorInterleaving", &TOptions::LogColorInterleaving},
    {"LogColorVOBScannerInfo", &TOptions::LogColorVOBScannerInfo},
    {"LogColorAudioPTS", &TOptions::LogColorAudioPTS},
    {"LogColorSlideShow", &TOptions::LogColorSlideShow},
    {"LogColorHLSame", &TOptions::LogColorHLSame},
    {"AutoSaveLog", &TOptions::AutoSaveLog},
    {"SameHLShowLog", &TOptions::SameHLShowLog},
    {"LogVisible", &TOptions::LogVisible},
    {"SourcePath", &TOptions::SourcePath},
    {"DestinationPath", &TOptions::DestinationPath},
    {"DestinationMode", &TOptions::DestinationMode},
    {"DestinationSubfolder", &TOptions::DestinationSubfolder},
    {"ScenaristPath", &TOptions::ScenaristPath},
};

constexpr int kRecentCount = 10;

bool ParseInteger(const std::string& text, int64_t& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 0);
  if (end == text.c_str() || *end != '\0') return false;
  out = v;
  return true;
}

}  // namespace

void LoadOptions(TOptions& O, const platform::SettingsStore& Store) {
  for (const Field& f : kFields) {
    std::visit(
        [&](auto member) {
          using T = std::remove_cvref_t<decltype(O.*member)>;
          if constexpr (std::is_same_v<T, std::string>) {
            O.*member = Store.ReadString(kSettingsKey, f.Name, O.*member);
          } else {
            O.*member = static_cast<T>(Store.ReadInteger(kSettingsKey, f.Name, static_cast<int64_t>(O.*member)));
          }
        },
        f.Member);
  }
  O.RecentDestinations.clear();
  for (int i = 0; i < kRecentCount; ++i) {
    auto v = Store.Read(kSettingsKey, "RecentDestination" + std::to_string(i));
    if (v && !v->empty()) O.RecentDestinations.push_back(*v);
  }
  // Nothing in the program may turn these two off: one titles folder, no 1.001 scaling.
  O.CommonTitlesFolder = 1;
  O.TimeScale1001 = 0;
}

void SaveOptionsTo(const TOptions& O, platform::SettingsStore& Store) {
  for (const Field& f : kFields) {
    std::visit(
        [&](auto member) {
          using T = std::remove_cvref_t<decltype(O.*member)>;
          if constexpr (std::is_same_v<T, std::string>) {
            Store.WriteString(kSettingsKey, f.Name, O.*member);
          } else {
            Store.WriteInteger(kSettingsKey, f.Name, static_cast<int64_t>(O.*member));
          }
        },
        f.Member);
  }
  for (int i = 0; i < kRecentCount; ++i)
    Store.WriteString(kSettingsKey, "RecentDestination" + std::to_string(i),
                      i < static_cast<int>(O.RecentDestinations.size()) ? O.RecentDestinations[i] : "");
}

bool SetOptionByName(TOptions& O, const std::string& Name, const std::string& Value) {
  for (const Field& f : kFields) {
    if (Name != f.Name) continue;
    return std::visit(
        [&](auto member) -> bool {
          using T = std::remove_cvref_t<decltype(O.*member)>;
          if constexpr (std::is_same_v<T, std::string>) {
            O.*member = Value;
            return true;
          } else {
            int64_t v = 0;
            if (!ParseInteger(Value, v)) return false;
            O.*member = static_cast<T>(v);
            return true;
          }
        },
        f.Member);
  }
  return false;
}

std::vector<std::string> OptionValueNames() {
  std::vector<std::string> names;
  for (const Field& f : kFields) names.emplace_back(f.Name);
  return names;
}

void RestoreFormPosition(const platform::SettingsStore& Store, const std::string& FormName,
                         platform::FormPosition& Pos) {
  Pos.State = static_cast<int32_t>(Store.ReadInteger(kPositionKey, FormName + "State", Pos.State));
  Pos.Top = static_cast<int32_t>(Store.ReadInteger(kPositionKey, FormName + "Top", Pos.Top));
  Pos.Left = static_cast<int32_t>(Store.ReadInteger(kPositionKey, FormName + "Left", Pos.Left));
  Pos.Width = static_cast<int32_t>(Store.ReadInteger(kPositionKey, FormName + "Width", Pos.Width));
  Pos.Height = static_cast<int32_t>(Store.ReadInteger(kPositionKey, FormName + "Height", Pos.Height));
}

void SaveFormPosition(platform::SettingsStore& Store, const std::string& FormName, const platform::FormPosition& Pos) {
  Store.WriteInteger(kPositionKey, FormName + "State", Pos.State);
  Store.WriteInteger(kPositionKey, FormName + "Top", Pos.Top);
  Store.WriteInteger(kPositionKey, FormName + "Left", Pos.Left);
  Store.WriteInteger(kPositionKey, FormName + "Width", Pos.Width);
  Store.WriteInteger(kPositionKey, FormName + "Height", Pos.Height);
}

void GetProgramFilesDir(std::string& Result) {
  // The authoring tool is a Windows program; on Linux it lives in the Wine
  // prefix's "Program Files" when there is one.
  std::error_code ec;
  std::string prefix;
  if (const char* wine = std::getenv("WINEPREFIX"); wine && *wine)
    prefix = wine;
  else if (const char* home = std::getenv("HOME"); home && *home)
    prefix = std::string(home) + "/.wine";
  if (!prefix.empty()) {
    const std::string dir = platform::IncludeTrailingSlash(prefix) + "drive_c/Program Files/";
    if (std::filesystem::is_directory(dir, ec)) {
      Result = dir;
      return;
    }
  }
  Result = "/opt/";
}

}  // namespace tess::app
