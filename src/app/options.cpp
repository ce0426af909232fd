#include "app/options.h"
#include "app/usage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <filesystem>
#include <variant>

#include "platform/paths.h"
#include "platform/settings_store.h"
#include "platform/ui_models.h"

namespace tess::app {

namespace {

// One settings field: its value name, where it lives in the record and the
// values it may take (numbers only; the bounds of its type unless the design
// gives it a list of choices).
struct Field {
  const char* Name;
  std::variant<uint8_t TOptions::*, int32_t TOptions::*, uint32_t TOptions::*, std::string TOptions::*> Member;
  int64_t Min = 0;
  int64_t Max = -1;  // below Min: the bounds of the field's type
};

constexpr int64_t kColourMax = 0xFFFFFF;

const Field kFields[] = {
    {"DeleteSUP", &TOptions::DeleteSUP},
    {"DeletePCM", &TOptions::DeletePCM},
    {"ShowErrorMsg", &TOptions::ShowErrorMsg},
    {"TitleMakeSup", &TOptions::TitleMakeSup},
    {"SUPMode", &TOptions::SUPMode, 0, 2},
    {"CommonTitlesFolder", &TOptions::CommonTitlesFolder},
    {"TimeScale1001", &TOptions::TimeScale1001},
    {"TitleMode", &TOptions::TitleMode, 1, 4},
    {"MenuMode", &TOptions::MenuMode, 1, 4},
    {"AdvancedMain", &TOptions::AdvancedMain},
    {"AudioTimeNavigation", &TOptions::AudioTimeNavigation},
    {"AddSE", &TOptions::AddSE},
    {"InsertAngle", &TOptions::InsertAngle, 0, 9},
    {"FullScan", &TOptions::FullScan},
    {"AngleType", &TOptions::AngleType, 0, 2},
    {"SolidAudio", &TOptions::SolidAudio},
    {"RecutMode", &TOptions::RecutMode, 0, 2},
    {"AddAudioStub", &TOptions::AddAudioStub},
    {"PTSAudioTitleMode", &TOptions::TitlePTSMode, 0, 2},
    {"PTSAudioMenuMode", &TOptions::MenuPTSMode, 0, 2},
    {"MemoryManager", &TOptions::MemoryManager, 1, 2},
    {"MainByTitle", &TOptions::MainByTitle},
    {"CorrectVideoBitrate", &TOptions::CorrectVideoBitrate},
    {"LogColorInterleaving", &TOptions::LogColorInterleaving, 0, kColourMax},
    {"LogColorVOBScannerInfo", &TOptions::LogColorVOBScannerInfo, 0, kColourMax},
    {"LogColorAudioPTS", &TOptions::LogColorAudioPTS, 0, kColourMax},
    {"LogColorSlideShow", &TOptions::LogColorSlideShow, 0, kColourMax},
    {"LogColorHLSame", &TOptions::LogColorHLSame, 0, kColourMax},
    {"AutoSaveLog", &TOptions::AutoSaveLog, 0, 2},
    {"SameHLShowLog", &TOptions::SameHLShowLog},
    {"LogVisible", &TOptions::LogVisible},
    {"SUPImageFormat", &TOptions::SUPImageFormat, 0, 1},
    {"SourcePath", &TOptions::SourcePath},
    {"DestinationPath", &TOptions::DestinationPath},
    {"DestinationMode", &TOptions::DestinationMode, 0, 2},
    {"DestinationSubfolder", &TOptions::DestinationSubfolder},
    {"ScenaristPath", &TOptions::ScenaristPath},
};

// Settings the program holds at one value whatever is stored or asked.
struct ForcedField {
  const char* Name;
  int64_t Value;
  const char* Why;
};
const ForcedField kForced[] = {
    {"CommonTitlesFolder", 1, "the titles of a title set always go to one Titles folder"},
    {"TimeScale1001", 0, "cell times are never scaled by 1.001"},
};

template <class T>
void TypeBounds(int64_t& Min, int64_t& Max) {
  Min = static_cast<int64_t>(std::numeric_limits<T>::min());
  Max = static_cast<int64_t>(std::numeric_limits<T>::max());
}

// The values a number field may take.
template <class T>
void Bounds(const Field& F, int64_t& Min, int64_t& Max) {
  if (F.Max >= F.Min) {
    Min = F.Min;
    Max = F.Max;
  } else {
    TypeBounds<T>(Min, Max);
  }
}

const Field* FindField(const std::string& Name) {
  for (const Field& f : kFields)
    if (platform::EqualsIgnoreCase(Name, f.Name)) return &f;
  return nullptr;
}

// Edit distance without regard to case, for suggesting a near name.
size_t Distance(const std::string& A, const std::string& B) {
  std::vector<size_t> row(B.size() + 1);
  for (size_t j = 0; j <= B.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= A.size(); ++i) {
    size_t diag = row[0];
    row[0] = i;
    for (size_t j = 1; j <= B.size(); ++j) {
      const size_t up = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(A[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(B[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (same ? 0 : 1)});
      diag = up;
    }
  }
  return row[B.size()];
}

std::string NearNames(const std::string& Name) {
  std::string out;
  const std::string lower = platform::ToLowerAscii(Name);
  for (const Field& f : kFields) {
    const std::string candidate = platform::ToLowerAscii(f.Name);
    const bool near = Distance(Name, f.Name) <= 3 || (lower.size() >= 4 && candidate.find(lower) != std::string::npos);
    if (near) out += (out.empty() ? "" : ", ") + std::string(f.Name);
  }
  return out;
}

constexpr int kRecentCount = 10;
// The warnings of a settings file named one by one; the rest are counted.
constexpr size_t kShownSettingsWarnings = 20;

std::string RecentName(int Index) { return "RecentDestination" + std::to_string(Index); }
bool IsRecentName(const std::string& Name) {
  for (int i = 0; i < kRecentCount; ++i)
    if (platform::EqualsIgnoreCase(Name, RecentName(i))) return true;
  return false;
}

// A decimal number, nothing before or after it.
bool ParseInteger(const std::string& text, int64_t& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || errno == ERANGE) return false;
  out = v;
  return true;
}

// Checks Text as a value of F; sets the field when it is good. The reason
// otherwise, naming the field, the value and what is allowed.
std::string Assign(TOptions& O, const Field& F, const std::string& Text) {
  return std::visit(
      [&](auto member) -> std::string {
        using T = std::remove_cvref_t<decltype(O.*member)>;
        if constexpr (std::is_same_v<T, std::string>) {
          O.*member = Text;
          return {};
        } else {
          int64_t min = 0, max = 0;
          Bounds<T>(F, min, max);
          const std::string allowed = " (allowed: " + std::to_string(min) + ".." + std::to_string(max) + ")";
          int64_t v = 0;
          if (!ParseInteger(Text, v))
            return std::string(F.Name) + ": '" + Text + "' is not a decimal number" + allowed;
          if (v < min || v > max) return std::string(F.Name) + ": " + Text + " is out of range" + allowed;
          O.*member = static_cast<T>(v);
          return {};
        }
      },
      F.Member);
}

void ApplyForcedValues(TOptions& O) {
  O.CommonTitlesFolder = 1;
  O.TimeScale1001 = 0;
}

}  // namespace

std::vector<std::string> LoadOptions(TOptions& O, const platform::SettingsStore& Store) {
  // A file of thousands of faulty lines is named in a few warnings and one line
  // that counts the rest.
  std::vector<std::string> warnings;
  size_t unnamed = 0;
  auto warn = [&](auto&& Text) {
    if (warnings.size() < kShownSettingsWarnings)
      warnings.push_back(Text());
    else
      ++unnamed;
  };
  for (const Field& f : kFields) {
    const auto stored = Store.Read(kSettingsKey, f.Name);
    if (!stored) continue;
    std::string text = *stored;
    if (!std::holds_alternative<std::string TOptions::*>(f.Member)) {
      const size_t b = text.find_first_not_of(" \t");
      const size_t e = text.find_last_not_of(" \t\r");
      text = b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
    }
    const std::string why = Assign(O, f, text);
    if (!why.empty()) warn([&] { return "Settings file: " + why + "; the default is kept"; });
  }
  O.RecentDestinations.clear();
  for (int i = 0; i < kRecentCount; ++i) {
    auto v = Store.Read(kSettingsKey, RecentName(i));
    if (v && !v->empty()) O.RecentDestinations.push_back(*v);
  }
  ApplyForcedValues(O);

  // What the file holds that nothing reads is named, so that a misspelt name
  // or section does not pass for a setting that took effect.
  for (const std::string& name : Store.ValueNames(kSettingsKey)) {
    if (FindField(name) || IsRecentName(name)) continue;
    warn([&] {
      const std::string near = NearNames(name);
      return "Settings file: unknown setting '" + name + "'" + (near.empty() ? "" : " (did you mean " + near + "?)") +
             " is ignored";
    });
  }
  for (const std::string& section : Store.Sections())
    if (!platform::EqualsIgnoreCase(section, kSettingsKey) && !platform::EqualsIgnoreCase(section, kPositionKey))
      warn([&] {
        return "Settings file: unknown section [" + section + "] is ignored; the settings are read from [" +
               kSettingsKey + "]";
      });
  for (const std::string& line : Store.StrayLines())
    warn([&] { return "Settings file: '" + line + "' is not a Name=Value line of a section and is ignored"; });
  if (unnamed > 0)
    warnings.push_back("Settings file: " + std::to_string(unnamed) + " more warnings like these are not shown");
  return warnings;
}

std::vector<std::pair<std::string, std::string>> OptionValues(const TOptions& O) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const Field& f : kFields) {
    std::visit(
        [&](auto member) {
          using T = std::remove_cvref_t<decltype(O.*member)>;
          if constexpr (std::is_same_v<T, std::string>) {
            out.emplace_back(f.Name, O.*member);
          } else {
            out.emplace_back(f.Name, std::to_string(static_cast<int64_t>(O.*member)));
          }
        },
        f.Member);
  }
  return out;
}

void SaveOptionsTo(const TOptions& O, platform::SettingsStore& Store) {
  for (const auto& [name, value] : OptionValues(O)) Store.WriteString(kSettingsKey, name, value);
  for (int i = 0; i < kRecentCount; ++i)
    Store.WriteString(kSettingsKey, RecentName(i),
                      i < static_cast<int>(O.RecentDestinations.size()) ? O.RecentDestinations[i] : "");
}

bool SetOptionByName(TOptions& O, const std::string& Name, const std::string& Value, std::string* Error) {
  auto fail = [&](std::string why) {
    if (Error) *Error = std::move(why);
    return false;
  };
  const Field* f = FindField(Name);
  if (!f) {
    const std::string near = NearNames(Name);
    return fail("unknown setting '" + Name + "'" + (near.empty() ? "" : "; did you mean " + near + "?"));
  }
  for (const ForcedField& forced : kForced) {
    if (!platform::EqualsIgnoreCase(Name, forced.Name)) continue;
    int64_t v = 0;
    if (ParseInteger(Value, v) && v == forced.Value) return true;
    return fail(std::string(forced.Name) + " stays " + std::to_string(forced.Value) + ": " + forced.Why);
  }
  const std::string why = Assign(O, *f, Value);
  return why.empty() ? true : fail(why);
}

std::string NearWords(const std::string& Word, const std::vector<std::string>& Known) {
  std::string out;
  for (const std::string& k : Known)
    if (Distance(Word, k) <= 2) out += (out.empty() ? "" : ", ") + k;
  return out;
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

state::RunSettings RunSettingsOf(const TOptions& O) {
  state::RunSettings s;
  const auto titleMode = [](uint8_t Value) { return static_cast<core::TitleMode>(Value); };
  const auto memory = static_cast<core::MemoryMode>(O.MemoryManager);

  s.Output.Memory = memory;
  s.Output.AutoSaveLog = static_cast<core::AutoSaveMode>(O.AutoSaveLog);
  core::GetOutputFolder(O, s.Output.Folder);

  core::DemuxSettings& d = s.Demux;
  d.Titles = titleMode(O.TitleMode);
  d.Menus = titleMode(O.MenuMode);
  d.Memory = memory;
  d.TitleMakeSup = O.TitleMakeSup != 0;
  d.Subpictures = static_cast<core::SupMode>(O.SUPMode);
  d.TimeScale1001 = O.TimeScale1001 != 0;
  d.AudioTimeNavigation = O.AudioTimeNavigation != 0;
  d.TitlePtsMode = O.TitlePTSMode;
  d.MenuPtsMode = O.MenuPTSMode;
  d.SameHLShowLog = O.SameHLShowLog != 0;
  d.AudioPtsColour = O.LogColorAudioPTS;
  d.SameHighlightColour = O.LogColorHLSame;
  d.DeletePcm = O.DeletePCM != 0;

  core::TrackSettings& t = s.Tracks;
  t.Titles = titleMode(O.TitleMode);
  t.AdvancedMain = O.AdvancedMain != 0;
  t.MainByTitle = O.MainByTitle != 0;
  t.AddSE = O.AddSE != 0;
  t.InsertAngle = O.InsertAngle;
  t.TitleMakeSup = O.TitleMakeSup != 0;
  t.SolidAudio = O.SolidAudio != 0;
  t.RecutMode = O.RecutMode;
  t.AddAudioStub = O.AddAudioStub != 0;
  t.SlideShowColour = O.LogColorSlideShow;

  s.Scan.FullScan = O.FullScan != 0;
  s.Scan.AngleType = static_cast<disc::SceneAngleType>(O.AngleType);
  s.Scan.InfoColour = O.LogColorVOBScannerInfo;
  s.Scan.InterleavingColour = O.LogColorInterleaving;

  s.Registry.TimeScale1001 = O.TimeScale1001 != 0;
  s.Registry.TitleMakeSup = O.TitleMakeSup != 0;

  s.Subpic.PictureFormat = O.SUPImageFormat == 1 ? subpic::TPictureFormat::Png : subpic::TPictureFormat::Bmp;
  return s;
}

void ApplyOptions(app::TForm1& Form) {
  Form.Settings = RunSettingsOf(Form.Options);
  Form.ShowErrorMsg = Form.Options.ShowErrorMsg != 0;
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

bool SplitSettingArgument(const std::string& Argument, std::pair<std::string, std::string>& NameValue) {
  const size_t eq = Argument.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  NameValue = {Argument.substr(0, eq), Argument.substr(eq + 1)};
  return true;
}

int LoadSettingsFileForCommand(const std::string& File, platform::SettingsStore& Store, const std::string& Command,
                               bool Named) {
  std::error_code ec;
  const auto status = std::filesystem::status(File, ec);
  // A name typed wrong would run with the defaults, and change the results unseen.
  if (Named && status.type() == std::filesystem::file_type::not_found)
    return UsageError("settings file " + File + " does not exist", Command);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return UsageError("settings file " + File + " is not a regular file", Command);
  }
  // A settings file holds a few kilobytes: one far larger is no settings file,
  // and reading it would take as much memory.
  constexpr uintmax_t kMaxSettingsFileBytes = uintmax_t{16} << 20;
  if (const uintmax_t size = std::filesystem::is_regular_file(status) ? std::filesystem::file_size(File, ec) : 0;
      !ec && size > kMaxSettingsFileBytes) {
    std::fprintf(stderr,
                 "tessaline: settings file %s is %ju bytes, far larger than a settings file; nothing was done\n",
                 File.c_str(), size);
    return kExitFailed;
  }
  std::string why;
  if (!Store.Load(File, &why)) {
    std::fprintf(stderr, "tessaline: cannot read settings file %s (%s); nothing was done\n", File.c_str(), why.c_str());
    return kExitFailed;
  }
  return kExitDone;
}

}  // namespace tess::app
