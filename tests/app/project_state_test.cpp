#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/cli.h"
#include "app/options.h"
#include "app/run.h"
#include "core/files.h"
#include "disc/attribute_decode.h"
#include "platform/settings_store.h"
#include "support/state_support.h"

namespace tess::app {
namespace {

using test::StateProject;
using test::TempDir;

TEST(Settings, EveryValueRoundTripsThroughTheSettingsFile) {
  TempDir dir;
  const std::string file = dir.File("sub/settings.ini");
  TOptions a;
  // Give every field a value other than its default so a field that is not
  // saved or not loaded shows up.
  int n = 7;
  for (const std::string& name : OptionValueNames()) {
    const bool text = name.find("Path") != std::string::npos || name.find("Subfolder") != std::string::npos;
    bool set = false;
    for (const std::string& v : {text ? "/x/" + name : std::to_string(n++), std::string("2"), std::string("1")})
      if (!set) set = SetOptionByName(a, name, v);
    ASSERT_TRUE(set || name == "TimeScale1001") << name;
  }
  a.RecentDestinations = {"/one", "/two"};
  platform::SettingsStore out;
  SaveOptionsTo(a, out);
  ASSERT_TRUE(out.Save(file));

  platform::SettingsStore in;
  ASSERT_TRUE(in.Load(file));
  TOptions b;
  LoadOptions(b, in);
  for (const std::string& name : OptionValueNames()) {
    EXPECT_EQ(in.Read(kSettingsKey, name), out.Read(kSettingsKey, name)) << name;
  }
  EXPECT_EQ(b.TitleMode, a.TitleMode);
  EXPECT_EQ(b.TitlePTSMode, a.TitlePTSMode);
  EXPECT_EQ(b.LogColorHLSame, a.LogColorHLSame);
  EXPECT_EQ(b.DestinationPath, a.DestinationPath);
  EXPECT_EQ(b.RecentDestinations, a.RecentDestinations);
  // The two fields nothing may change keep their forced values on every load.
  EXPECT_EQ(b.CommonTitlesFolder, 1);
  EXPECT_EQ(b.TimeScale1001, 0);
  // The registry's value names stand in the file, under the key path.
  EXPECT_TRUE(in.ValueExists(kSettingsKey, "PTSAudioTitleMode"));
  EXPECT_TRUE(in.ValueExists(kSettingsKey, "PTSAudioMenuMode"));
}

TEST(Settings, MissingFileGivesDefaultsAndBadNumbersAreRefused) {
  TempDir dir;
  platform::SettingsStore store;
  ASSERT_TRUE(store.Load(dir.File("none.ini")));
  TOptions o;
  LoadOptions(o, store);
  EXPECT_EQ(o.DeleteSUP, 1);
  EXPECT_EQ(o.SUPMode, 2);
  EXPECT_EQ(o.MemoryManager, 1);
  EXPECT_EQ(o.LogColorVOBScannerInfo, 0x808000u);
  EXPECT_TRUE(SetOptionByName(o, "TitleMode", "4"));
  EXPECT_EQ(o.TitleMode, 4);

  // On the command line: decimal numbers, names without regard to case, a
  // reason for every refusal, and the two forced fields held.
  struct Case {
    const char* Name;
    const char* Value;
    bool Ok;
    const char* Why;
  };
  for (const Case& c : {Case{"fullscan", "010", true, ""}, Case{"FullScan", "08", true, ""},
                        Case{"FullScan", "256", false, "FullScan: 256 is out of range (allowed: 0..255)"},
                        Case{"FullScan", "-1", false, "out of range"}, Case{"TitleMode", "four", false, "not a decimal"},
                        Case{"TitleMode", "5", false, "allowed: 1..4"}, Case{"FulScan", "1", false, "did you mean FullScan?"},
                        Case{"CommonTitlesFolder", "0", false, "stays 1"}, Case{"TimeScale1001", "1", false, "stays 0"},
                        Case{"CommonTitlesFolder", "1", true, ""}}) {
    std::string why;
    EXPECT_EQ(SetOptionByName(o, c.Name, c.Value, &why), c.Ok) << c.Name << "=" << c.Value;
    EXPECT_NE(why.find(c.Why), std::string::npos) << why;
  }
  EXPECT_EQ(o.FullScan, 8);

  // In the settings file a bad value keeps the default and says so.
  const std::string file = dir.File("s.ini");
  std::ofstream(file) << "[" << kSettingsKey << "]\nfullscan=010\nTitleMode=9\nSUPMode=x\nCommonTitlesFolder=0\n";
  ASSERT_TRUE(store.Load(file));
  TOptions f;
  const auto warnings = LoadOptions(f, store);
  EXPECT_EQ(f.FullScan, 10);
  EXPECT_EQ(f.TitleMode, 1);
  EXPECT_EQ(f.SUPMode, 2);
  EXPECT_EQ(f.CommonTitlesFolder, 1);
  EXPECT_EQ(warnings.size(), 2u);
  // Only regular files are settings files.
  EXPECT_FALSE(store.Load(dir.Path()));

  // 100,000 names and as many sections load at once; the last of a name, in
  // any case, holds, and the warnings name a few and count the rest.
  {
    std::ofstream big(file);
    big << "[" << kSettingsKey << "]\nTitleMode=2\n";
    for (int i = 0; i < 100000; ++i) big << "Name" << i << "=" << i << "\n";
    for (int i = 0; i < 100000; ++i) big << "[Section " << i << "]\nA=1\n";
    big << "[" << kSettingsKey << "]\ntitlemode=3\n";
  }
  ASSERT_TRUE(store.Load(file));
  TOptions many;
  const auto capped = LoadOptions(many, store);
  EXPECT_EQ(many.TitleMode, 3);
  EXPECT_EQ(store.ValueNames(kSettingsKey).front(), "TitleMode");
  ASSERT_EQ(capped.size(), 21u);
  EXPECT_EQ(capped.back(), "Settings file: 199980 more warnings like these are not shown");
}

// Every setting that code below the shell uses reaches it: a value other than
// the default changes what its consumer is handed.
TEST(Settings, EverySettingReachesTheTypedSettingsOfItsConsumer) {
  // The shell's own (or held at one value, or read by the shell for a run).
  const std::set<std::string> shells = {"DeleteSUP", "ShowErrorMsg", "CommonTitlesFolder", "TimeScale1001",
                                        "CorrectVideoBitrate", "LogVisible", "SourcePath", "DestinationMode",
                                        "DestinationSubfolder", "ScenaristPath"};
  const TOptions defaults;
  for (const std::string& name : OptionValueNames()) {
    if (shells.count(name)) continue;
    TOptions o;
    for (const char* v : {"0", "2", "1", "/x"})
      if (OptionValues(o) == OptionValues(defaults)) SetOptionByName(o, name, v);
    ASSERT_NE(OptionValues(o), OptionValues(defaults)) << name;
    EXPECT_FALSE(RunSettingsOf(o) == RunSettingsOf(defaults)) << name;
  }
  StateProject p;
  p.Form.Options.ShowErrorMsg = 0;
  ApplyOptions(p.Form);
  EXPECT_FALSE(p.Form.ShowErrorMsg);
}

// The README's settings table is what users read: it names every setting that
// "tessaline settings" prints, with the default it prints ("(empty)" for none).
TEST(Settings, TheReadmeTableHoldsEverySettingWithItsDefault) {
  TempDir dir;
  std::ofstream(dir.File("empty.ini")).flush();  // a file with no values: every setting at its default
  std::vector<std::string> args = {"tessaline", "settings", "--settings", dir.File("empty.ini")};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  testing::internal::CaptureStdout();
  ASSERT_EQ(RunCommandLine(static_cast<int>(argv.size()), argv.data()), 0);
  std::map<std::string, std::string> printed, documented;
  std::istringstream out(testing::internal::GetCapturedStdout());
  for (std::string line; std::getline(out, line);)
    if (const size_t eq = line.find('='); eq != std::string::npos && !line.starts_with(";"))
      printed[line.substr(0, eq)] = line.substr(eq + 1);
  ASSERT_EQ(printed.size(), OptionValueNames().size());

  std::ifstream readme(test::SourceFile("README.md"));
  ASSERT_TRUE(readme.is_open());
  bool table = false;
  for (std::string line; std::getline(readme, line) && (!table || line.starts_with("|"));) {
    table = table || line.starts_with("| Setting | Default |");
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, '|');) {
      std::erase_if(cell, [](char c) { return c == '`'; });
      cells.push_back(cell.substr(std::min(cell.size(), cell.find_first_not_of(' '))));
      while (!cells.back().empty() && cells.back().back() == ' ') cells.back().pop_back();
    }
    if (table && cells.size() > 3 && cells[1] != "Setting" && !cells[1].starts_with("---"))
      documented[cells[1]] = cells[2] == "(empty)" ? "" : cells[2];
  }
  for (const auto& [name, value] : printed)
    EXPECT_EQ(documented.count(name) ? documented[name] : "not in the README", value) << name;
  EXPECT_EQ(documented.size(), printed.size()) << "the README names a setting the program does not print";
}

TEST(MainWindow, LogWriterStampsLinesAndDropsAllButRedOnesWhileStopping) {
  StateProject p;
  p.Window->AddLogLine(1, "hello", 0);
  ASSERT_EQ(p.Form.LogWindow.Log.Lines.size(), 1u);
  const auto& line = p.Form.LogWindow.Log.Lines[0];
  EXPECT_EQ(line.Caption.substr(0, 2), "  ");
  EXPECT_EQ(line.Caption.substr(10), "   hello");
  EXPECT_EQ(line.Image, 1);
  EXPECT_TRUE(line.Selected);
  p.Window->AddLogLine(2, "warn", 0);
  EXPECT_FALSE(p.Form.LogWindow.Log.Lines[0].Selected);
  EXPECT_EQ(p.Form.LogWindow.Log.Lines[1].Image, 0);

  p.Form.Abort = 1;
  p.Window->AddLogLine(0, "dropped", 0x800000);
  p.Window->AddLogLineRaw(0, "dropped too");
  p.Window->AddLogLine(2, "stopped", 255);
  EXPECT_EQ(p.LogTexts(), (std::vector<std::string>{"hello", "warn", "stopped"}));
}

TEST(LogWindow, CloseClearsLogVisibleAndSavesTheOptions) {
  StateProject p;
  TempDir dir;
  p.Form.SettingsFile = dir.File("settings.ini");
  ASSERT_EQ(p.Form.Options.LogVisible, 1);
  p.Form.LogWindow.FormClose(p.Form);
  EXPECT_EQ(p.Form.Options.LogVisible, 0);
  EXPECT_FALSE(p.Window->LogWindowActionChecked);
  platform::SettingsStore store;
  ASSERT_TRUE(store.Load(p.Form.SettingsFile));
  EXPECT_EQ(store.ReadInteger(app::kSettingsKey, "LogVisible", 1), 0);
  // One that cannot be read whole is not saved over.
  std::ofstream(p.Form.SettingsFile) << "; mine\n";
  ::setenv("TESS_FAIL_READ", "settings.ini@2", 1);
  p.Form.LogWindow.FormClose(p.Form);
  ::unsetenv("TESS_FAIL_READ");
  EXPECT_EQ(test::ReadFileBytes(p.Form.SettingsFile), (std::vector<uint8_t>{';', ' ', 'm', 'i', 'n', 'e', '\n'}));
  EXPECT_TRUE(p.LogContains("Can not read settings file"));
}

TEST(MainWindow, ProgressStaysPutWhenThereIsNothingToDivideBy) {
  StateProject p;
  auto& w = *p.Window;
  w.TotalProgress.Position = 17;
  w.FinishedEvoFiles = 3;
  w.UpdateProgress(1);  // empty chart
  EXPECT_EQ(w.TotalProgress.Position, 17);
  w.CurrentProgress.Max = 0;
  w.UpdateProgress(2);
  EXPECT_EQ(w.TotalProgress.Position, 17);
  w.UpdateProgress(3);  // empty registries
  EXPECT_EQ(w.TotalProgress.Position, 17);

  w.Chart.Points.resize(4);
  w.FinishedEvoFiles = 1;
  w.UpdateProgress(1);
  EXPECT_EQ(w.TotalProgress.Position, 15);
  EXPECT_EQ(w.ApplicationTitle, "Tessaline - 15 %");
  w.CurrentProgress.Max = 8;
  w.CurrentProgress.Position = 1;  // 3.75 -> 4
  w.UpdateProgress(2);
  EXPECT_EQ(w.TotalProgress.Position, 64);
}

TEST(MainWindow, CountSummaryNamesTheFileInUpperCase) {
  StateProject p;
  p.Window->LogCountSummary("hv001t01.evo");
  EXPECT_EQ(p.LogTexts(), (std::vector<std::string>{"Preparing Demuxing of EVO File: HV001T01.EVO",
                                                    "Creating Demuxer info", "Demuxing..."}));
}

TEST(MainWindow, ChartItemIsMatchedInLowerCase) {
  StateProject p;
  p.Window->Chart.Points = {{"hv001t01.evo", 1, 0}, {"hv001t02.evo", 1, 0}};
  p.Window->HighlightChartItem("HV001T02.EVO", 32768);
  EXPECT_EQ(p.Window->Chart.Points[0].Colour, 0u);
  EXPECT_EQ(p.Window->Chart.Points[1].Colour, 0xFF6400u);
}

TEST(Run, NoDestinationStopsWithTheMessage) {
  StateProject p;
  SourceSelection s;
  s.Kind = SourceKind::LooseEvo;
  std::string folder = "x";
  core::GetOutputFolder(p.Form.Options, folder);
  EXPECT_EQ(folder, "");
  EXPECT_EQ(StartRun(p.Form, s, p.Window->Views), RunResult::Failed);
  EXPECT_TRUE(p.LogContains("Specify destination path!"));

  p.Form.Options.DestinationPath = "/out";
  p.Form.Options.DestinationMode = 2;
  p.Form.Options.DestinationSubfolder = "/some/where/Disc1/";
  core::GetOutputFolder(p.Form.Options, folder);
  EXPECT_EQ(folder, "/out/Disc1/");
  p.Form.Options.DestinationSubfolder = "/some/where/..";  // never above the destination
  core::GetOutputFolder(p.Form.Options, folder);
  EXPECT_EQ(folder, "");
}

TEST(CommandLine, UsageErrorsExitWithTwoBeforeAnythingIsLoaded) {
  // A usage error is one line saying what is wrong and one pointing to the help,
  // the command's own where it is a command's.
  std::string printed, err;
  auto run = [&](std::vector<std::string> args) {
    std::vector<char*> argv;
    static std::string prog = "tessaline";
    argv.push_back(prog.data());
    for (auto& a : args) argv.push_back(a.data());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = RunCommandLine(static_cast<int>(argv.size()), argv.data());
    printed = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
    const std::set<std::string> commands = {"demux", "show", "settings", "info", "pulldown"};
    const std::string help = !args.empty() && commands.contains(args[0]) ? "tessaline " + args[0] : "tessaline";
    if (status == 2) {
      EXPECT_TRUE(err.starts_with("tessaline: ")) << err;
      EXPECT_TRUE(err.ends_with("\nTry '" + help + " --help'.\n")) << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    }
    return status;
  };
  EXPECT_EQ(run({}), 2);
  EXPECT_EQ(run({"frobnicate"}), 2);
  EXPECT_EQ(run({"demux"}), 2);
  EXPECT_EQ(run({"demux", "a.evo"}), 2);  // no destination: nothing is loaded
  EXPECT_EQ(run({"demux", "a.evo", "b", "--set", "NoSuch=1"}), 2);
  EXPECT_EQ(run({"demux", "a.evo", "b", "--set", "FullScan=256"}), 2);
  EXPECT_EQ(run({"demux", "a.evo", "b", "--vts", "x"}), 2);
  EXPECT_EQ(run({"demux", "a.evo", "b", "--settings", "/tmp"}), 2);
  EXPECT_EQ(run({"show", "--all"}), 2);
  EXPECT_EQ(run({"settings", "--set", "TitleMode=9"}), 2);
  EXPECT_EQ(run({"demux", "a.evo", ""}), 2);  // an empty DEST
  EXPECT_EQ(run({"--version", "extra"}), 2);
  EXPECT_EQ(run({"--hlep"}), 2);
  EXPECT_NE(err.find("unknown option '--hlep' (did you mean --help?)"), std::string::npos) << err;
  EXPECT_EQ(run({"--version"}), 0);
  EXPECT_EQ(run({"-V"}), 0);
  EXPECT_EQ(run({"demux", "--help"}), 0);
  // Each command's help is its own; options take "--name=value" too.
  for (const std::string command : {"demux", "info", "pulldown"}) {
    EXPECT_EQ(run({command, "--help"}), 0);
    EXPECT_TRUE(printed.starts_with("usage: tessaline " + command) && printed.find("tessaline show") == std::string::npos)
        << printed;
  }
  EXPECT_EQ(run({"settings", "--bogus"}), 2);
  EXPECT_EQ(run({"demux", "a.evo", "b", "--set=FullScan=256"}), 2);
  EXPECT_NE(err.find("FullScan: 256 is out of range"), std::string::npos) << err;
  EXPECT_EQ(run({"demux", "a.evo", "b", "--vts=x"}), 2);
  EXPECT_NE(err.find("--vts takes numbers"), std::string::npos) << err;
  // Sources of kinds that do not go together: said before anything is read.
  EXPECT_EQ(run({"demux", "disc/hv001t01.evo", "disc/hv000i01.IFO", "out"}), 2);
  EXPECT_NE(err.find("the sources mix two kinds: disc/hv001t01.evo is an .evo file"), std::string::npos) << err;

  // A source that cannot be opened is one error line and exit 1, and with
  // "Autosave always" its log is kept.
  TempDir dir;
  const std::string out = dir.File("out");
  std::ofstream(dir.File("s.ini")).close();  // a settings file named must be there
  EXPECT_EQ(run({"demux", dir.File("missing.evo"), out, "--settings", dir.File("s.ini"), "--set", "autosavelog=2"}), 1);
  EXPECT_TRUE(std::filesystem::exists(out + "/Tessaline.log"));

  // FIFOs are refused, never opened: as a source, an information file in a
  // source folder, and the settings file.
  std::filesystem::create_directories(dir.File("disc"));
  ASSERT_EQ(::mkfifo(dir.File("fifo.evo").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(dir.File("disc/HV000I01.IFO").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(dir.File("fifo.ini").c_str(), 0600), 0);
  EXPECT_EQ(run({"demux", dir.File("fifo.evo"), out, "--settings", dir.File("s.ini")}), 1);
  EXPECT_EQ(run({"demux", dir.File("disc"), out, "--settings", dir.File("s.ini")}), 1);
  EXPECT_EQ(run({"demux", dir.File("disc"), out, "--settings", dir.File("fifo.ini")}), 2);
  EXPECT_EQ(run({"settings", "--settings=" + dir.File("s.ini"), "--set=TitleMode=4"}), 0);
  EXPECT_NE(printed.find("TitleMode=4"), std::string::npos) << printed;
  EXPECT_EQ(run({"demux", dir.File("disc/HV000I01.IFO"), dir.File("disc/HV000I01.IFO"), out}), 2);
  EXPECT_NE(err.find("the sources are two information files"), std::string::npos) << err;
}

}  // namespace
}  // namespace tess::app

namespace tess::app {
namespace {

TEST(ShellServices, AttributeDecodersAndPictureSizes) {
  test::StateProject p;
  std::array<uint8_t, 12> v{};
  // MPEG-2, PAL, 16:9, both display flags clear; line 21 field 1, 352 wide, letterboxed.
  disc::DecodeVideoAttr(static_cast<uint16_t>(0x5C | (0x8A << 8)), v);
  EXPECT_EQ((std::array<uint8_t, 12>{1, 1, 3, 0, 0, 1, 0, 0, 0, 2, 1, 0}), v);
  int32_t w = 0, h = 0;
  disc::GetPictureSize(p.Form, v, w, h);
  EXPECT_EQ(w, 352);
  EXPECT_EQ(h, 576);
  EXPECT_EQ(p.Form.PictureHeight, 576);
  v[1] = 0;
  v[9] = 3;
  disc::GetPictureSize(p.Form, v, w, h);
  EXPECT_EQ(h, 240);

  const uint8_t audio[8] = {0xC4, 0x25, 'd', 'e', 0x01, 0x07, 0, 0};
  std::array<uint8_t, 11> a{};
  disc::DecodeAudioAttr(audio, a);
  EXPECT_EQ((std::array<uint8_t, 11>{6, 0, 1, 0, 0, 2, 5, 'd', 'e', 1, 7}), a);

  std::array<uint8_t, 24> block;
  block.fill(9);
  disc::InitSubpicAttrBlock(block);
  for (size_t i = 0; i < block.size(); ++i)
    EXPECT_EQ(block[i], (i == 3 || i == 4 || i == 5 || i == 15 || i == 23) ? 255 : 0) << i;
}

TEST(ShellServices, FileSizeTextsUseWholeUnits) {
  test::TempDir dir;
  auto sized = [&](uint64_t n) {
    const std::string f = dir.File("f" + std::to_string(n));
    std::filesystem::resize_file((test::WriteFileBytes(f, {}), f), n);
    std::string text;
    core::FormatFileSize(f, text);
    return text;
  };
  EXPECT_EQ(sized(1025 * 1024), "File size: 1 Mb");
  EXPECT_EQ(sized(1024 * 1024), "File size: 1024 Kb");
  EXPECT_EQ(sized((1ull << 30) + 1024), "File size: 1 Gb");
  EXPECT_EQ(sized(5000000000ull), "File size: 4 Gb");
  std::string missing;
  core::FormatFileSize(dir.File("none"), missing);
  EXPECT_EQ(missing, "File size: 0 Kb");
}

}  // namespace
}  // namespace tess::app
