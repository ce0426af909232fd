#include <gtest/gtest.h>

#include <filesystem>

#include "disc/ifo_set.h"
#include "app/run.h"
#include "core/byte_order.h"
#include "disc/highlights.h"
#include "disc/vob_scout.h"
#include "disc_builder.h"
#include "platform/paths.h"
#include "support/state_support.h"

namespace tess::app {
namespace {

class SampleDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    tools::StandardStreams sources;
    ASSERT_TRUE(tools::LoadStandardStreams(tools::DefaultStreamsFolder(), sources));
    tools::SampleDiscOptions o;
    o.FrameRate = 25;
    tools::DiscSpec spec = tools::MakeSampleDiscSpec(o);
    tools::DiscBuildOptions b;
    b.Evo.KeepStreamBytes = false;
    summary_ = new tools::DiscBuildSummary(tools::BuildStandardDisc(dir_->Path(), spec, sources, b));
    ASSERT_TRUE(summary_->Ok) << summary_->Error;
  }
  static void TearDownTestSuite() {
    delete summary_;
    delete dir_;
  }
  static test::TempDir* dir_;
  static tools::DiscBuildSummary* summary_;
};
test::TempDir* SampleDisc::dir_ = nullptr;
tools::DiscBuildSummary* SampleDisc::summary_ = nullptr;

TEST_F(SampleDisc, SourceCommandLoadsTheSetAndChartsEveryEvoFile) {
  test::StateProject p;
  SourceSelection s;
  std::string error;
  // The folder stands for its VMG, whatever case the name is asked in.
  ASSERT_TRUE(ChooseSource({dir_->Path()}, s, error)) << error;
  EXPECT_EQ(s.Kind, SourceKind::StandardContent);
  ASSERT_TRUE(OpenSource(p.Form, s, p.Window->Views));
  EXPECT_EQ(p.Form.TitleSetCount, 3);
  EXPECT_EQ(p.Form.HDDisc, 1);
  EXPECT_EQ(p.Form.FrameRate, 25.0);  // PAL video attributes
  // Every EVO file the builder wrote is charted, in disc order.
  std::vector<std::string> built;
  for (const auto& f : summary_->Files)
    if (f.size() > 4 && f.substr(f.size() - 4) == ".evo") built.push_back(f);
  EXPECT_EQ(s.EvoFiles, built);
  ASSERT_EQ(p.Window->Chart.Points.size(), built.size());
  EXPECT_EQ(p.Window->Chart.Points[0].Label, "hv000m01.evo");
  EXPECT_TRUE(p.LogContains("HD DVD Opened Ok. 2 VTS loaded."));
  // Every chain shares the one sample palette; the list keeps it once.
  ASSERT_EQ(p.Form.Palettes.Items.size(), 1u);
  EXPECT_GT(p.Form.Palettes.Items[0].UseCount, 5);
  EXPECT_EQ(p.Form.Palettes.Items[0].Colours[3], 255);  // entry 1: Y 235 -> white
}

TEST_F(SampleDisc, LoadingAnotherDiscForgetsThePreviousScouts) {
  test::StateProject p;
  disc::RegisterVobScout(p.Form, 1, disc::TVobScaut::Create(dir_->File("hv001t01.evo")), 2);
  ASSERT_TRUE(disc::HasVobScout(p.Form, 1, 2));
  LoadIFOSet(p.Form, p.Form, p.Form, dir_->Path(), p.Window->Views.StringGrid1);
  EXPECT_FALSE(disc::HasVobScout(p.Form, 1, 2));
}

TEST_F(SampleDisc, RunMapsEveryChosenDomainAndStopsOnTheStopSignal) {
  test::StateProject p;
  test::TempDir out;
  SourceSelection s;
  std::string error;
  ASSERT_TRUE(ChooseSource({dir_->Path()}, s, error));
  ASSERT_TRUE(OpenSource(p.Form, s, p.Window->Views));
  p.Form.VTSListForm.ApplyOK({{3, true, false, false, false}});  // title set 2 not chosen
  p.Form.Options.DestinationPath = out.Path();
  ASSERT_EQ(StartRun(p.Form, s, p.Window->Views), RunResult::Done);
  // A PAL disc carries PAL video.
  const auto video = test::ReadFileBytes(p.Form.VideoStreams.at(0).Path);
  ASSERT_GT(video.size(), 8u);
  EXPECT_EQ((video[5] & 0x0F) << 8 | video[6], 576);
  EXPECT_TRUE(disc::HasVobScout(p.Form, 1, 2));
  EXPECT_TRUE(disc::HasVobScout(p.Form, 1, 1));
  EXPECT_FALSE(disc::HasVobScout(p.Form, 2, 2));
  // Title set 1's chain is one map over its three files.
  const auto* titles = p.Form.Scouts.Get(1, 2);
  ASSERT_NE(titles, nullptr);
  EXPECT_EQ(titles->Cells.size(), summary_->Evo.at("vts1-titles").Cells.size());

  p.Form.Pump.OnStop = [&] { p.Form.Abort = 1; };
  platform::Pump::RaiseStopSignal();
  EXPECT_EQ(StartRun(p.Form, s, p.Window->Views), RunResult::Stopped);
  platform::Pump::ClearStopSignal();
  EXPECT_TRUE(p.LogContains("Current operation was aborted by the user."));
}

TEST_F(SampleDisc, TitleSetsPastTheDialogsMarksAreDemultiplexed) {
  // The attribute table may name up to 101 title sets, the dialog marks 0..99:
  // a title set it cannot show cannot have been left out by the user.
  test::TempDir disc;
  namespace fs = std::filesystem;
  fs::copy(dir_->Path(), disc.Path(), fs::copy_options::recursive);
  fs::copy_file(disc.File("hv001i01.IFO"), disc.File("hv100i01.IFO"));
  fs::copy_file(disc.File("hv001m01.evo"), disc.File("hv100m01.evo"));
  std::vector<uint8_t> vmg = test::ReadFileBytes(disc.File("hv000i01.IFO"));
  const size_t atrt = size_t{core::ReadBE32(&vmg[disc::vmgi::VTS_ATRT])} * disc::kSectorSize;
  core::WriteBE16(&vmg[atrt], 100);
  test::WriteFileBytes(disc.File("hv000i01.IFO"), vmg);

  test::StateProject p;
  test::TempDir out;
  SourceSelection s;
  std::string error;
  ASSERT_TRUE(ChooseSource({disc.Path()}, s, error)) << error;
  ASSERT_TRUE(OpenSource(p.Form, s, p.Window->Views));
  ASSERT_EQ(p.Form.TitleSetCount, 101);
  ASSERT_EQ(p.Form.IFOFiles[100].Kind, disc::ifoVTS);
  p.Form.VTSListForm.ApplyOK({});
  p.Form.Options.DestinationPath = out.Path();
  // Title sets 3 to 99 are listed but have no files, nor has 100 its titles:
  // the run does the rest, then fails.
  EXPECT_EQ(StartRun(p.Form, s, p.Window->Views), RunResult::Failed);
  EXPECT_TRUE(p.LogContains("Scanning EVO file: HV100M01.EVO"));
  EXPECT_TRUE(p.LogContains("Skipped or only partly read: hv099i01.IFO and hv099i01.BUP"));
  EXPECT_TRUE(p.LogContains("Skipped or only partly read: hv100t01.evo: missing"));
}

TEST_F(SampleDisc, UpperCaseNamesAreFoundAndAMissingVmgIsReported) {
  test::StateProject p;
  SourceSelection s;
  std::string error;
  ASSERT_TRUE(ChooseSource({dir_->Path() + "/HV000I01.ifo"}, s, error)) << error;
  EXPECT_EQ(platform::ExtractFileName(s.IFOFile), "hv000i01.IFO");
  EXPECT_FALSE(ChooseSource({dir_->Path() + "/nothing"}, s, error));
  test::TempDir empty;
  EXPECT_FALSE(ChooseSource({empty.Path()}, s, error));
}

}  // namespace
}  // namespace tess::app
