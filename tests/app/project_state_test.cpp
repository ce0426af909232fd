#include <gtest/gtest.h>

#include "app/cli.h"
#include "app/options.h"
#include "app/run.h"
#include "platform/settings_store.h"
#include "support/test_support.h"

namespace tess::app {
namespace {

using test::Project;
using test::TempDir;

TEST(Settings, EveryValueRoundTripsThroughTheSettingsFile) {
  TempDir dir;
  const std::string file = dir.File("sub/settings.ini");
  TOptions a;
  // Give every field a value other than its default so a field that is not
  // saved or not loaded shows up.
  int n = 7;
  for (const std::string& name : OptionValueNames()) {
    ASSERT_TRUE(SetOptionByName(a, name, name.find("Path") != std::string::npos ||
                                              name.find("Subfolder") != std::string::npos
                                          ? "/x/" + name
                                          : std::to_string(n++)))
        << name;
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
  EXPECT_FALSE(SetOptionByName(o, "TitleMode", "four"));
  EXPECT_FALSE(SetOptionByName(o, "NoSuchValue", "1"));
  EXPECT_TRUE(SetOptionByName(o, "TitleMode", "4"));
  EXPECT_EQ(o.TitleMode, 4);
}

TEST(MainWindow, LogWriterStampsLinesAndDropsAllButRedOnesWhileStopping) {
  Project p;
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

TEST(MainWindow, ProgressStaysPutWhenThereIsNothingToDivideBy) {
  Project p;
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

TEST(MainWindow, ChartItemIsMatchedInLowerCase) {
  Project p;
  p.Window->Chart.Points = {{"hv001t01.evo", 1, 0}, {"hv001t02.evo", 1, 0}};
  p.Window->HighlightChartItem("HV001T02.EVO", 32768);
  EXPECT_EQ(p.Window->Chart.Points[0].Colour, 0u);
  EXPECT_EQ(p.Window->Chart.Points[1].Colour, 0xFF6400u);
}

TEST(Run, NoDestinationStopsWithTheMessage) {
  Project p;
  SourceSelection s;
  s.Kind = SourceKind::LooseEvo;
  std::string folder = "x";
  GetOutputFolder(p.Form, folder);
  EXPECT_EQ(folder, "");
  EXPECT_EQ(StartRun(p.Form, s), RunResult::Failed);
  EXPECT_TRUE(p.LogContains("Specify destination path!"));

  p.Form.Options.DestinationPath = "/out";
  p.Form.Options.DestinationMode = 2;
  p.Form.Options.DestinationSubfolder = "/some/where/Disc1/";
  GetOutputFolder(p.Form, folder);
  EXPECT_EQ(folder, "/out/Disc1/");
}

TEST(CommandLine, UsageErrorsExitWithTwo) {
  auto run = [](std::vector<std::string> args) {
    std::vector<char*> argv;
    static std::string prog = "tessaline";
    argv.push_back(prog.data());
    for (auto& a : args) argv.push_back(a.data());
    return RunCommandLine(static_cast<int>(argv.size()), argv.data());
  };
  EXPECT_EQ(run({}), 2);
  EXPECT_EQ(run({"frobnicate"}), 2);
  EXPECT_EQ(run({"demux"}), 2);
  EXPECT_EQ(run({"demux", "/no/such/source.evo", "/tmp/x"}), 2);
  EXPECT_EQ(run({"demux", "a.evo", "b", "--set", "NoSuch=1"}), 2);
  EXPECT_EQ(run({"demux", "a.evo", "b", "--vts", "x"}), 2);
}

}  // namespace
}  // namespace tess::app
