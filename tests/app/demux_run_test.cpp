// "tessaline demux" end to end on builder-made sources of every kind: each
// stream's outputs, taken VOB by VOB, against ffmpeg's demultiplexing of the same
// EVO files; then a stop in the middle and sources that cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "app/cli.h"
#include "app/run.h"
#include "core/number_text.h"
#include "demux/demux_context.h"
#include "demux/demux_support.h"
#include "support/state_support.h"

namespace tess::app {
namespace {

namespace fs = std::filesystem;
using tools::EvoBuildSummary;

int RunTessaline(std::vector<std::string> Args) {
  Args.insert(Args.begin(), "tessaline");
  std::vector<char*> argv;
  for (auto& a : Args) argv.push_back(a.data());
  return RunCommandLine(static_cast<int>(argv.size()), argv.data());
}

std::vector<uint8_t> Join(std::vector<uint8_t> A, const std::vector<uint8_t>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

// The files of Folder whose names hold Piece and end in Suffix (or in Suffix's
// stem + "_NN" + its extension: a unit's own subpicture output), joined in
// name order.
std::vector<uint8_t> OutputsJoined(const std::string& Folder, const std::string& Piece, const std::string& Suffix) {
  std::vector<std::string> names;
  std::error_code ec;
  const std::string stem = Suffix.substr(0, Suffix.size() - 4), ext = Suffix.substr(Suffix.size() - 4);
  for (const auto& e : fs::directory_iterator(Folder, ec)) {
    const std::string n = e.path().filename().string();
    if (n.find(Piece) == std::string::npos || n.size() < Suffix.size()) continue;
    const size_t at = n.find(stem);
    if (at != std::string::npos && (n.compare(at, std::string::npos, Suffix) == 0 ||
                                    (n.compare(n.size() - 4, 4, ext) == 0 && n[at + stem.size()] == '_')))
      names.push_back(e.path().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<uint8_t> out;
  for (const auto& n : names) out = Join(std::move(out), test::ReadFileBytes(n));
  return out;
}

struct Stream {
  const char* Id;      // as ffmpeg numbers it
  const char* Suffix;  // of our outputs
  int LpcmBits;
};

// The domains of the sample disc and where their outputs go.
const std::map<std::string, std::string> kDiscFolders = {
    {"fp", "VMG/FirstPGC/Menu"},       {"vmgm", "VMG/Menu"},         {"vts1-menu", "VTS_001/Menu"},
    {"vts1-titles", "VTS_001/Titles"}, {"vts2-menu", "VTS_002/Menu"}, {"vts2-titles", "VTS_002/Titles"}};

class DemuxRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::HaveFfmpeg()) return;
    dir_ = new test::TempDir;
    const auto& s = test::SampleStreams();
    tools::DiscBuildOptions o;
    o.Evo.KeepStreamBytes = false;
    // Standard Content: the sample disc (VMG menus, two title sets, title set 1's
    // chain over three files with an interleaved angle block).
    tools::DiscSpec spec = tools::MakeSampleDiscSpec();
    disc_ = new tools::DiscBuildSummary(tools::BuildStandardDisc(Dir("disc"), spec, s, o));
    ASSERT_TRUE(disc_->Ok) << disc_->Error;
    // Advanced Content: two EVO files whose names chain, listed in a ".VTI" file.
    std::vector<std::pair<std::string, tools::DomainSpec>> evos = {{"FEATURE_1.EVO", spec.TitleSets[0].Titles},
                                                                    {"FEATURE_2.EVO", spec.TitleSets[1].Titles}};
    evos[0].second.MaxFileSectors = 0;
    advanced_ = new tools::DiscBuildSummary(tools::BuildAdvancedDisc(Dir("adv"), "hva00001.VTI", evos, s, o));
    ASSERT_TRUE(advanced_->Ok) << advanced_->Error;
    // Loose EVO files without numbers in their names: each its own output.
    std::vector<std::pair<std::string, tools::DomainSpec>> loose = {{"main.evo", spec.TitleSets[1].Titles},
                                                                     {"extra.evo", spec.TitleSets[1].Titles}};
    loose_ = new tools::DiscBuildSummary(tools::BuildAdvancedDisc(Dir("loose"), "", loose, s, o));
    ASSERT_TRUE(loose_->Ok) << loose_->Error;

    const std::string ini = Dir("settings.ini");
    ASSERT_EQ(RunTessaline({"demux", Dir("disc"), Dir("out-disc"), "--settings", ini}), 0);
    ASSERT_EQ(RunTessaline({"demux", Dir("adv/hva00001.VTI"), Dir("out-adv"), "--settings", ini}), 0);
    ASSERT_EQ(RunTessaline({"demux", Dir("loose/main.evo"), Dir("loose/extra.evo"), Dir("out-loose"), "--settings", ini}),
              0);
  }
  static void TearDownTestSuite() {
    delete disc_;
    delete advanced_;
    delete loose_;
    delete dir_;
  }
  void SetUp() override {
    if (!test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  }
  static std::string Dir(const std::string& Name) { return dir_->File(Name); }

  // ffmpeg's stream over the files of a domain, in order.
  static std::vector<uint8_t> Ffmpeg(const EvoBuildSummary& D, const Stream& S) {
    std::vector<uint8_t> all;
    for (const auto& f : D.Files) all = Join(std::move(all), test::FfmpegStream(f.Path, S.Id, S.LpcmBits));
    return all;
  }
  // The stream's bytes per VOB id, cut at the domain's VOBUs.
  static std::map<uint16_t, std::vector<uint8_t>> PerVob(const EvoBuildSummary& D, size_t StreamIndex,
                                                         const std::vector<uint8_t>& Bytes) {
    std::map<uint16_t, std::vector<uint8_t>> out;
    const auto& offsets = D.Streams[StreamIndex].VobuOffsets;
    EXPECT_EQ(offsets.back(), Bytes.size());
    for (size_t v = 0; v < D.Vobus.size() && offsets[v + 1] <= Bytes.size(); ++v)
      out[D.Vobus[v].VobId].insert(out[D.Vobus[v].VobId].end(), Bytes.begin() + static_cast<long>(offsets[v]),
                                   Bytes.begin() + static_cast<long>(offsets[v + 1]));
    return out;
  }
  static int StreamIndexOf(const EvoBuildSummary& D, const std::string& Id) {
    for (size_t i = 0; i < D.Streams.size(); ++i) {
      const auto& s = D.Streams[i];
      const uint32_t id = s.StreamId == 0xBD ? s.SubstreamId : s.StreamId == 0xFD ? 0xFD00u | s.SubstreamId
                                                                                   : 0x100u | s.StreamId;
      if (std::stoul(Id, nullptr, 16) == id) return static_cast<int>(i);
    }
    return -1;
  }

  static test::TempDir* dir_;
  static tools::DiscBuildSummary* disc_;
  static tools::DiscBuildSummary* advanced_;
  static tools::DiscBuildSummary* loose_;
};
test::TempDir* DemuxRun::dir_ = nullptr;
tools::DiscBuildSummary* DemuxRun::disc_ = nullptr;
tools::DiscBuildSummary* DemuxRun::advanced_ = nullptr;
tools::DiscBuildSummary* DemuxRun::loose_ = nullptr;

enum class Kind { Standard, Advanced, Loose };
struct Row {
  Kind Source;
  Stream S;
};

TEST_F(DemuxRun, EveryStreamOfEverySourceKindMatchesFfmpeg) {
  const Stream streams[] = {{"0x1e0", "_e0.m2v", 0}, {"0xc0", "_c0.ac3", 0},  {"0xc8", "_c8.ac3", 0},
                            {"0x88", "_88.dts", 0},  {"0xb0", "_b0.mlp", 0},  {"0x1c0", "_c0.mpa", 0},
                            {"0xa0", "_a0.pcm", 16}, {"0x20", "_20.sup", 0}};
  std::vector<Row> rows;
  for (Kind k : {Kind::Standard, Kind::Advanced, Kind::Loose})
    for (const Stream& s : streams) rows.push_back({k, s});
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.S.Id) + " of source kind " + std::to_string(static_cast<int>(r.Source)));
    int compared = 0;
    if (r.Source == Kind::Standard) {
      // Each VOB of each domain is one output file per stream.
      for (const auto& [key, d] : disc_->Evo) {
        const int index = StreamIndexOf(d, r.S.Id);
        if (index < 0) continue;
        const std::string folder = Dir("out-disc/" + kDiscFolders.at(key));
        for (const auto& [vob, expected] : PerVob(d, static_cast<size_t>(index), Ffmpeg(d, r.S))) {
          SCOPED_TRACE(key + " VOB " + std::to_string(vob));
          const auto ours = OutputsJoined(folder, "_v" + core::IntToStrZeroPad(vob, 3), r.S.Suffix);
          EXPECT_EQ(ours.size(), expected.size());
          EXPECT_TRUE(ours == expected);
          ++compared;
        }
      }
    } else if (r.Source == Kind::Advanced) {
      // FEATURE_1 goes on in FEATURE_2, its chain's next file, which is then done.
      const auto expected = Join(Ffmpeg(advanced_->Evo.at("FEATURE_1.EVO"), r.S), Ffmpeg(advanced_->Evo.at("FEATURE_2.EVO"), r.S));
      EXPECT_TRUE(OutputsJoined(Dir("out-adv"), "FEATURE_1", r.S.Suffix) == expected);
      EXPECT_TRUE(OutputsJoined(Dir("out-adv"), "FEATURE_2", r.S.Suffix).empty());
      compared += expected.empty() ? 0 : 1;
    } else {
      for (const char* name : {"main", "extra"}) {
        const auto expected = Ffmpeg(loose_->Evo.at(std::string(name) + ".evo"), r.S);
        EXPECT_TRUE(OutputsJoined(Dir("out-loose"), name, r.S.Suffix) == expected) << name;
        compared += expected.empty() ? 0 : 1;
      }
    }
    EXPECT_GT(compared, 0);
  }
  // The run's tree: the folders of every domain, the title sets' index files, and the log.
  for (const auto& [key, folder] : kDiscFolders) EXPECT_TRUE(fs::is_directory(Dir("out-disc/" + folder))) << folder;
  EXPECT_TRUE(fs::exists(Dir("out-disc/VTS_001/Titles/t001_v001x003.dat")));
}

// A stop in the middle of title set 1's chain ends the run with 130 in the
// command's terms; every output written so far is closed whole: each is the
// start of what the whole run writes.
TEST_F(DemuxRun, StopInTheMiddleLeavesEveryOutputClosed) {
  test::StateProject p;
  SourceSelection s;
  std::string error;
  ASSERT_TRUE(ChooseSource({Dir("disc")}, s, error));
  ASSERT_TRUE(OpenSource(p.Form, s));
  p.Form.VTSListForm.ApplyOK({});
  p.Form.Options.DestinationPath = Dir("out-stop");
  // The stop comes in title set 1's second title file.
  p.Form.Pump.OnIdle = [&] {
    const auto* ctx = p.Form.CurrentDemux;
    if (ctx && ctx->IsTitleDomain() && ctx->PackNumber >= 700) p.Form.Abort = 1;
  };
  EXPECT_EQ(StartRun(p.Form, s), RunResult::Stopped);
  EXPECT_TRUE(p.LogContains("Current operation was aborted by the user."));
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(Dir("out-stop"))) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), Dir("out-stop")).string();
    const auto stopped = test::ReadFileBytes(e.path().string());
    const auto whole = test::ReadFileBytes(Dir("out-disc/" + rel));
    ASSERT_LE(stopped.size(), whole.size()) << rel;
    EXPECT_TRUE(std::equal(stopped.begin(), stopped.end(), whole.begin())) << rel;
    ++files;
  }
  EXPECT_GT(files, 3);
  EXPECT_FALSE(fs::exists(Dir("out-stop/VTS_002"))) << "nothing after the stop";
  // The first cell of the angle block (VOB 2) is an angle cell: angle 1.
  int angles = 0;
  for (const auto& e : p.Form.VideoStreams)
    if (e.Name == "t001_v002c001_e0") angles = e.AngleNumber;
  EXPECT_EQ(angles, 1);
}

// Sources that cannot be read are one error line and exit 1; nothing is written.
TEST_F(DemuxRun, UnreadableSourcesFailWithOneLine) {
  test::WriteFileBytes(Dir("bad.IFO"), std::vector<uint8_t>(4096, 'x'));
  std::vector<uint8_t> vti = test::ReadFileBytes(Dir("adv/hva00001.VTI"));
  vti[4096 + 3] = 200;  // 200 entries in a file that holds two
  test::WriteFileBytes(Dir("adv/cut.VTI"), vti);
  for (const std::string& source : {Dir("missing.IFO"), Dir("bad.IFO"), Dir("adv/cut.VTI")}) {
    SCOPED_TRACE(source);
    EXPECT_EQ(RunTessaline({"demux", source, Dir("out-bad"), "--settings", Dir("settings.ini")}), 1);
    EXPECT_FALSE(fs::exists(Dir("out-bad/VMG")));
  }
  // Outputs that cannot be created (a file stands where title set 1's folder
  // goes) end the run with an error, not with the success line.
  fs::create_directories(Dir("out-blocked"));
  test::WriteFileBytes(Dir("out-blocked/VTS_001"), {1});
  EXPECT_EQ(RunTessaline({"demux", Dir("disc"), Dir("out-blocked"), "--vts", "1", "--settings", Dir("settings.ini"),
                          "--set", "AutoSaveLog=2"}),
            1);
  const auto log = test::ReadFileBytes(Dir("out-blocked/Tessaline.log"));
  const std::string text(log.begin(), log.end());
  EXPECT_NE(text.find("Demuxing or script generation is failure!"), std::string::npos);
  EXPECT_EQ(text.find("All operations were completed successfully!"), std::string::npos);
}

}  // namespace
}  // namespace tess::app
