// "tessaline demux" end to end on builder-made sources of every kind: each
// stream's outputs, taken VOB by VOB, against ffmpeg's demultiplexing of the same
// EVO files; then a stop in the middle and sources that cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "app/cli.h"
#include "app/run.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "demux/demux_context.h"
#include "demux/demux_support.h"
#include "demux/track_folders.h"
#include "support/dvd_to_hd.h"
#include "support/nav_command_oracle.h"
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
// name order; WAV files with their samples only.
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
  for (const auto& n : names) {
    auto bytes = test::ReadFileBytes(n);
    if (ext == ".wav") bytes.erase(bytes.begin(), bytes.begin() + std::min<long>(44, static_cast<long>(bytes.size())));
    out = Join(std::move(out), bytes);
  }
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
    test::WriteFileBytes(Dir("settings.ini"), {});  // the defaults: a settings file named must be there
    const auto& s = test::SampleStreams();
    tools::DiscBuildOptions o;
    o.Evo.KeepStreamBytes = false;
    o.TitleStreams.Lpcm24 = true;
    // Standard Content: the sample disc (VMG menus, two title sets, title set 1's
    // chain over three files with an interleaved angle block).
    tools::DiscSpec spec = tools::MakeSampleDiscSpec();
    disc_ = new tools::DiscBuildSummary(tools::BuildStandardDisc(Dir("disc"), spec, s, o));
    ASSERT_TRUE(disc_->Ok) << disc_->Error;
    tools::DiscSpec palSpec = tools::MakeSampleDiscSpec({.FrameRate = 25});
    pal_ = new tools::DiscBuildSummary(tools::BuildStandardDisc(Dir("pal"), palSpec, s, o));
    ASSERT_TRUE(pal_->Ok) << pal_->Error;
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

    // The disc's run keeps its project for the script model, and its title
    // subpicture streams for the comparison.
    project_ = new test::StateProject;
    SourceSelection source;
    std::string error;
    ASSERT_TRUE(ChooseSource({Dir("disc")}, source, error)) << error;
    ASSERT_TRUE(OpenSource(project_->Form, source, project_->Window->Views));
    // The audio export cuts audio again at the tracks' video ends; compared
    // here is what the demultiplexer wrote.
    std::vector<state::TVTSListForm::Row> rows;
    for (int32_t n = 1; n <= 100; ++n) rows.push_back({n, true, true, false, false});
    project_->Form.VTSListForm.ApplyOK(rows);
    project_->Form.Options.DestinationPath = Dir("out-disc");
    project_->Form.Options.DeleteSUP = 0;
    ASSERT_EQ(StartRun(project_->Form, source, project_->Window->Views), RunResult::Done);
    const std::string ini = Dir("settings.ini");
    ASSERT_EQ(RunTessaline({"demux", Dir("adv/hva00001.VTI"), Dir("out-adv"), "--settings", ini}), 0);
    ASSERT_EQ(RunTessaline({"demux", Dir("loose/main.evo"), Dir("loose/extra.evo"), Dir("out-loose"), "--settings", ini}),
              0);
    ASSERT_EQ(RunTessaline({"demux", Dir("pal"), Dir("out-pal"), "--settings", ini}), 0);
  }
  static void TearDownTestSuite() {
    delete project_;
    delete disc_;
    delete pal_;
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
    const bool wav = std::string(S.Suffix).ends_with(".wav");
    for (const auto& f : D.Files) all = Join(std::move(all), test::FfmpegStream(f.Path, S.Id, S.LpcmBits, wav));
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
  static test::StateProject* project_;
  static tools::DiscBuildSummary* disc_;
  static tools::DiscBuildSummary* pal_;  // the same disc at 25 fps
  static tools::DiscBuildSummary* advanced_;
  static tools::DiscBuildSummary* loose_;
};
test::TempDir* DemuxRun::dir_ = nullptr;
test::StateProject* DemuxRun::project_ = nullptr;
tools::DiscBuildSummary* DemuxRun::disc_ = nullptr;
tools::DiscBuildSummary* DemuxRun::pal_ = nullptr;
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
                            {"0xa0", "_a0.wav", 16}, {"0xa1", "_a1.wav", 24}, {"0x20", "_20.sup", 0}};
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
        // Menu subpictures are pictures now (checked with the script model).
        const bool pictures = std::string(r.S.Suffix) == "_20.sup" && key.find("titles") == std::string::npos;
        if (index < 0 || pictures) continue;
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

// The finished outputs and the script model of the disc's run: the WAV files
// read cleanly in ffprobe; ffmpeg decodes every picture the builder wrote, each
// VOB's video output from its first (also on the PAL disc, whose GOPs are
// shorter); every subpicture unit became a picture; every VOB
// (an angle VOB on its own) is a track with its scenes and streams, and the
// title tracks' side files load back with one segment per indexed unit.
TEST_F(DemuxRun, WavFilesPicturesAndTracksOfTheDisc) {
  for (const auto& e : fs::recursive_directory_iterator(Dir("out-disc"))) {
    const std::string name = e.path().string();
    if (name.ends_with(".wav")) {
      const auto probe = test::CommandOutput("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + name + "' 2>&1");
      const std::string codec(probe.begin(), probe.end());
      EXPECT_EQ(codec, name.ends_with("_a1.wav") ? "pcm_s24le\n" : "pcm_s16le\n") << name;
    }
    EXPECT_FALSE(name.ends_with(".pcm") || (name.ends_with(".sup") && name.find("/Menu/") != std::string::npos)) << name;
  }
  for (const auto& [built, out] : {std::pair{disc_, "out-disc/"}, std::pair{pal_, "out-pal/"}})
    for (const auto& [key, d] : built->Evo) {
      SCOPED_TRACE(out + key);
      uint64_t decoded = 0;
      for (const auto& e : fs::directory_iterator(Dir(out + kDiscFolders.at(key)))) {
        const std::string name = e.path().string();
        if (!name.ends_with("_e0.m2v")) continue;
        const auto probe = test::CommandOutput("ffprobe -v quiet -count_frames -count_packets -show_entries "
                                               "stream=nb_read_frames,nb_read_packets -of csv=p=0 '" + name + "'");
        unsigned frames = 0, pictures = 0;
        ASSERT_EQ(std::sscanf(std::string(probe.begin(), probe.end()).c_str(), "%u,%u", &frames, &pictures), 2) << name;
        EXPECT_EQ(frames, pictures) << name;
        decoded += frames;
      }
      EXPECT_EQ(decoded, d.Streams.at(static_cast<size_t>(StreamIndexOf(d, "0x1e0"))).AccessUnits);
    }
  struct Row {
    const char* Name;
    uint8_t Domain;
    int32_t IFOIndex;
    size_t Scenes;
    int32_t Angle;
    std::map<size_t, std::string> Audio;  // slot: the play item's file
  };
  const std::string t1 = "t001_v001x003", t2 = "t002_v001x002";
  const std::map<size_t, std::string> titleAudio1 = {{0, t1 + "_b0"}, {1, t1 + "_a1"}, {8, t1 + "_c8"}};
  const Row rows[] = {
      {"vmg_v001c001-t", 3, 0, 1, 0, {{0, "vmg_v001c001_c0"}}}, {"vmg_v001c001-t", 1, 0, 1, 0, {{0, "vmg_v001c001_c0"}}},
      {"m001_v001c001-t", 1, 1, 1, 0, {{0, "m001_v001c001_c0"}}}, {"t001_v001x003-t", 2, 1, 3, 0, titleAudio1},
      {"t001_v002c001-t", 2, 1, 1, 1, {{0, "t001_v002c001_b0"}}}, {"t001_v003c001-t", 2, 1, 1, 2, {{8, "t001_v003c001_c8"}}},
      {"t001_v004c001-t", 2, 1, 1, 3, {{1, "t001_v004c001_a1"}}}, {"t001_v005c001-t", 2, 1, 1, 0, {{0, "t001_v005c001_b0"}}},
      {"m002_v001c001-t", 1, 2, 1, 0, {{0, "m002_v001c001_c0"}}}, {"t002_v001x002-t", 2, 2, 2, 0, {{0, t2 + "_b0"}}}};
  const app::TForm1& form = project_->Form;
  // The items are named again after the run, when the scouts tell the angle VOBs apart.
  const auto& names = project_->Window->Views.TreeView2.Nodes;
  EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const auto& N) { return N.Text == "t01_v003x001-t"; }));
  ASSERT_EQ(form.ScriptTracks.size(), std::size(rows));
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.Name) + " in domain " + std::to_string(r.Domain));
    const auto t = std::find_if(form.ScriptTracks.begin(), form.ScriptTracks.end(),
                                [&](const disc::TVideoTrack& T) { return T.Name == r.Name && T.Domain == r.Domain; });
    ASSERT_NE(t, form.ScriptTracks.end());
    EXPECT_EQ(t->IFOIndex, r.IFOIndex);
    EXPECT_EQ(t->AngleNumber, r.Angle);
    EXPECT_EQ(t->Scenes.size(), r.Scenes);
    for (size_t i = 0; i < t->Scenes.size(); ++i) EXPECT_EQ(t->Scenes[i].CellId, r.Angle ? 1 : i + 1);
    for (const auto& [slot, file] : r.Audio) {
      ASSERT_GT(t->AudioStreams.size(), slot);
      ASSERT_EQ(t->AudioStreams[slot].PlayItems.size(), 1u);
      EXPECT_EQ(t->AudioStreams[slot].PlayItems[0].FileName, file);
    }
    ASSERT_EQ(t->SubPictureStreams.size(), 1u);
    EXPECT_EQ(t->SubPictureStreams[0].StreamId, 0x20);
    if (r.Domain != 2) {
      // A menu's unit stays in the track, with the duration its decoding found.
      ASSERT_EQ(t->SubPictureStreams[0].Segments.size(), 1u);
      EXPECT_NE(t->SubPictureStreams[0].Segments[0].Duration.ToUInt32(), 0u);
      continue;
    }
    // A title track's units lie in its side files, one per unit of its index.
    const std::string stem = std::string(r.Name).substr(0, std::string(r.Name).size() - 2);
    const std::string folder = Dir("out-disc/VTS_00" + std::to_string(r.IFOIndex) + "/Titles/");
    const size_t units = test::ReadFileBytes(folder + stem + ".dat").size() / 56;
    const auto items =
        test::ReadFileBytes(demux::SideFileName(form.Settings.Output.Folder, form.LooseEvo, *t, 0, ".data"));
    const auto segments =
        test::ReadFileBytes(demux::SideFileName(form.Settings.Output.Folder, form.LooseEvo, *t, 0, ".track"));
    ASSERT_GT(units, 0u);
    ASSERT_EQ(items.size(), units * disc::kSubPictureItemSize);
    ASSERT_EQ(segments.size(), units * disc::kSubpicSegmentSize);
    size_t pictures = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder + stem))
      pictures += e.path().extension() == ".bmp" ? 1 : 0;
    EXPECT_EQ(pictures, units);
    for (size_t u = 0; u < units; ++u) {
      disc::TSubPictureItem item;
      ASSERT_TRUE(disc::SubPictureItemFromBytes(items.data() + u * disc::kSubPictureItemSize, disc::kSubPictureItemSize, item));
      const auto seg = disc::SubpicSegmentFromBytes(segments.data() + u * disc::kSubpicSegmentSize);
      EXPECT_GT(item.DurationMs, 0u);
      EXPECT_EQ(seg.Duration.ToUInt32(), item.Duration.ToUInt32());
      EXPECT_TRUE(std::any_of(t->Scenes.begin(), t->Scenes.end(), [&](const disc::TSceneItem& S) {
        return S.VobId == seg.VobId && S.CellId == seg.CellId && item.VobId == seg.VobId && item.CellId == seg.CellId;
      }));
    }
  }
}

// The run's post-processing: one information line per video and audio output;
// with "Auto Main detection" the longest title set's cells become re-authoring
// tracks, the other title set stays as demultiplexed; the audio export joins
// each title set's own title tracks.
TEST_F(DemuxRun, PostProcessingDescribesEveryOutputAndJoinsTheMainTitleSet) {
  const app::TForm1& form = project_->Form;
  size_t described = 0;
  for (const std::string& line : project_->LogTexts()) described += line.starts_with("Prepare data for file: ") ? 1 : 0;
  EXPECT_EQ(described, form.VideoStreams.size() + form.AudioStreams.size());
  EXPECT_FALSE(project_->LogContains("Unknown file format"));

  ASSERT_EQ(RunTessaline({"demux", Dir("disc"), Dir("out-main"), "--settings", Dir("settings.ini"), "--set",
                          "TitleMode=3", "--set", "AutoSaveLog=2"}),
            0);
  // The title set's information file alone makes the same tracks and exports their audio alike.
  ASSERT_EQ(RunTessaline({"demux", Dir("disc/hv001i01.IFO"), Dir("out-lone"), "--settings", Dir("settings.ini"),
                          "--set", "TitleMode=3"}),
            0);
  for (const char* track : {"t01_m001v003", "t01_m002v001", "t01_m005v001"}) {
    const auto video = test::ReadFileBytes(Dir("out-main/VTS_001/Titles/") + track + ".m2v");
    EXPECT_FALSE(video.empty()) << track;
    EXPECT_TRUE(test::ReadFileBytes(Dir("out-lone/VTS_001/Titles/") + track + ".m2v") == video) << track;
    EXPECT_TRUE(test::ReadFileBytes(Dir("out-lone/VTS_001/Titles/") + track + "_c0.ac3") ==
                test::ReadFileBytes(Dir("out-main/VTS_001/Titles/") + track + "_c0.ac3"))
        << track;
  }
  EXPECT_FALSE(fs::exists(Dir("out-main/VTS_001/Titles/t001_v001x003_e0.m2v")));
  EXPECT_TRUE(fs::exists(Dir("out-main/VTS_002/Titles/t002_v001x002_e0.m2v")));
  const auto log = test::ReadFileBytes(Dir("out-main/Tessaline.log"));
  EXPECT_NE(std::string(log.begin(), log.end()).find("Prepare data for file: t01_m001v003.m2v"), std::string::npos);

  // The audio export over the whole disc, every track cut again: title set 2
  // has no menus, so its titles follow title set 1's in the track table, and
  // AC-3 is stream 1, which the export joins. Each title set's stream 1 groups
  // over its own title tracks (one group per angle): a group never opens with
  // the menu track or the other title set's track before it. In Main mode the
  // audio of a cell that opens right after the cell before it became a track
  // belongs to no one cell; its video keeps its cell, by which the tracks are
  // made.
  tools::DiscSpec spec = tools::MakeSampleDiscSpec();
  spec.TitleSets[1].Menu = {};
  tools::DiscBuildOptions o;
  o.Evo.KeepStreamBytes = false;
  o.TitleStreams = {};
  ASSERT_TRUE(tools::BuildStandardDisc(Dir("joined"), spec, test::SampleStreams(), o).Ok);
  struct Row {
    uint8_t TitleMode;
    bool Main;
    std::vector<std::string> Tracks;  // title set 1's: before the angle block, its three angles, after it
    std::vector<std::string> NoCell;  // tracks whose audio belongs to no one cell
    // The joined audio cannot be made (a folder has its temporary name), and a menu's audio
    // meets a read error: only the skipped input is named, but the run fails as failed steps do.
    bool Blocked = false;
  };
  const Row rows[] = {
      {1, false, {"t001_v001x003", "t001_v002c001", "t001_v003c001", "t001_v004c001", "t001_v005c001"}, {}},
      {2, true, {"t01_m001v003", "t01_m002v001", "t01_m003v001", "t01_m004v001", "t01_m005v001"},
       {"t01_m002v001", "t01_m005v001"}},
      {1, false, {"t001_v001x003", "t001_v002c001", "t001_v003c001", "t001_v004c001", "t001_v005c001"}, {}, true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Main ? "Main mode" : r.Blocked ? "the joined audio blocked" : "by VOB");
    test::StateProject p;
    SourceSelection source;
    std::string error;
    ASSERT_TRUE(ChooseSource({Dir("joined")}, source, error)) << error;
    ASSERT_TRUE(OpenSource(p.Form, source, p.Window->Views));
    std::vector<state::TVTSListForm::Row> marks;
    for (int32_t n = 1; n <= 100; ++n) marks.push_back({n, true, true, true, r.Main});
    p.Form.VTSListForm.ApplyOK(marks);
    const std::string out = Dir("out-joined" + std::to_string(r.TitleMode) + (r.Blocked ? "b" : ""));
    p.Form.Options.DestinationPath = out;
    p.Form.Options.TitleMode = r.TitleMode;
    p.Form.Options.RecutMode = 1;
    if (r.Blocked) ::setenv("TESS_FAIL_READ", "m001_v001c001_c0.ac3@0", 1);
    p.Form.LogWindow.Log.OnAdd = [&](const platform::LogLine& l) {
      if (r.Blocked && l.Caption.ends_with(core::msg::CorrectionOfAudioIsStarted))
        fs::create_directories(out + "/VTS_001/VTS1-c0.ac3.part");
    };
    ASSERT_EQ(StartRun(p.Form, source, p.Window->Views), r.Blocked ? RunResult::Failed : RunResult::Done);
    ::unsetenv("TESS_FAIL_READ");
    EXPECT_EQ(p.LogContains(std::string(core::runmsg::ProcessIsAbortedDemuxingOrScriptGeneration)), r.Blocked);
    std::vector<std::vector<std::string>> groups, expected;
    for (const std::string& line : p.LogTexts()) {
      if (line.starts_with("Merge audio stream ")) groups.emplace_back();
      if (line.starts_with("      - ") && !groups.empty()) groups.back().push_back(line.substr(8));
    }
    for (size_t angle = 1; angle <= 3; ++angle)
      expected.push_back({r.Tracks[0] + "-t", r.Tracks[angle] + "-t", r.Tracks[4] + "-t"});
    EXPECT_EQ(groups, expected);
    for (const std::string& track : r.NoCell) {
      std::vector<uint32_t> cells;  // its video's, then its AC-3's
      for (const auto& e : p.Form.VideoStreams)
        if (e.Name.starts_with(track)) cells.push_back(e.CellId);
      for (const auto& e : p.Form.AudioStreams)
        if (e.Name.starts_with(track)) cells.push_back(e.CellId);
      EXPECT_EQ(cells, (std::vector<uint32_t>{1, 0xFFFFFFFFu})) << track;
    }
  }
}

// A stop in the middle of title set 1's chain ends the run with 130 in the
// command's terms; every output written so far is closed whole: each is the
// start of what the whole run writes.
TEST_F(DemuxRun, StopInTheMiddleLeavesEveryOutputClosed) {
  test::StateProject p;
  SourceSelection s;
  std::string error;
  ASSERT_TRUE(ChooseSource({Dir("disc")}, s, error));
  ASSERT_TRUE(OpenSource(p.Form, s, p.Window->Views));
  p.Form.VTSListForm.ApplyOK({});
  p.Form.Options.DestinationPath = Dir("out-stop");
  // The stop comes a little way into the angle block (VOB 2, whose video output
  // is registered as it opens), in a later file of title set 1's chain: 32 packs
  // on by the current file's bar.
  int64_t vob2 = -1;
  p.Form.Pump.OnIdle = [&] {
    const auto& videos = p.Form.VideoStreams;
    if (std::none_of(videos.begin(), videos.end(), [](const auto& V) { return V.Name == "t001_v002c001_e0"; })) return;
    const int64_t at = p.Form.MainWindow->CurrentProgress.Position;
    if (vob2 < 0 || at < vob2) vob2 = at;
    if (at >= vob2 + 32) p.Form.Abort = 1;
  };
  EXPECT_EQ(StartRun(p.Form, s, p.Window->Views), RunResult::Stopped);
  EXPECT_TRUE(p.LogContains("Current operation was aborted by the user."));
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(Dir("out-stop"))) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), Dir("out-stop")).string();
    auto stopped = test::ReadFileBytes(e.path().string());
    auto whole = test::ReadFileBytes(Dir("out-disc/" + rel));
    // The stop ends the WAV conversion of a larger LPCM output, which stays as it was written.
    if (rel.ends_with(".pcm")) {
      EXPECT_LE(stopped.size() + 44, fs::file_size(Dir("out-disc/" + rel.substr(0, rel.size() - 3) + "wav"))) << rel;
      continue;
    }
    // A WAV file of the stopped run holds fewer samples than its header at the end says.
    if (rel.ends_with(".wav")) {
      ASSERT_GE(stopped.size(), 44u) << rel;
      stopped.erase(stopped.begin(), stopped.begin() + 44);
      whole.erase(whole.begin(), whole.begin() + std::min<long>(44, static_cast<long>(whole.size())));
    }
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

// A DVD-Video that dvdauthor made from ffmpeg's streams, rewritten into an HD
// set by a converter of its own (not the disc builder): "show" names every
// title's programs and cells as lsdvd reads the DVD (cell sectors) and the
// DVD's navigation packs say (VOB and cell ids), and "demux" writes every
// stream of every VOB as ffmpeg reads it from the DVD's VOB files.
TEST(AuthoredDvd, ShowAndDemuxReadTheConvertedDiscAsLsdvdAndFfmpegReadTheDvd) {
  if (std::system("{ command -v ffmpeg && command -v dvdauthor && command -v spumux && command -v lsdvd; } >/dev/null") != 0)
    GTEST_SKIP() << "ffmpeg, dvdauthor, spumux or lsdvd not installed";
  test::TempDir dir;
  ASSERT_EQ(std::system(("sh '" + test::DataFile("make_authored_dvd.sh") + "' '" + dir.File("dvd") + "'").c_str()), 0);
  const test::DvdToHdResult hd = test::ConvertDvdToHd(dir.File("dvd/VIDEO_TS"), dir.File("hd"));
  ASSERT_TRUE(hd.Ok) << hd.Error;
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunTessaline({"show", dir.File("hd")}), 0);
  const std::string listing = testing::internal::GetCapturedStdout();

  // lsdvd's titles: title set, chapters' first cells, cells' sectors.
  struct Title {
    int TitleSet = 0;
    std::vector<int> Chapters;
    std::vector<std::pair<uint32_t, uint32_t>> Cells;
  };
  std::vector<Title> titles;
  const auto lsdvd = test::CommandOutput("lsdvd -x -Oy '" + dir.File("dvd") + "' 2>/dev/null");
  std::istringstream in(std::string(lsdvd.begin(), lsdvd.end()));
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (!std::regex_search(line, m, std::regex("'(vts|startcell|first_sector|last_sector)' : (\\d+)"))) continue;
    const uint32_t v = static_cast<uint32_t>(std::stoul(m[2]));
    if (m[1] == "vts") titles.push_back({static_cast<int>(v), {}, {}});
    else if (m[1] == "startcell") titles.back().Chapters.push_back(static_cast<int>(v));
    else if (m[1] == "first_sector") titles.back().Cells.push_back({v, 0});
    else titles.back().Cells.back().second = v;
  }
  ASSERT_EQ(titles.size(), 3u);
  // The scenes the listing groups the cells into, by file prefix and (VOB id, cell id).
  std::map<std::string, std::string> scenes;
  const std::regex sceneLine(" *((\\w{4})\\S*-t-s(_\\d+)?)   \\(VID/CID: (\\d+)/(\\d+)\\)");
  for (std::sregex_iterator s(listing.begin(), listing.end(), sceneLine), e; s != e; ++s)
    scenes[(*s)[2].str() + (*s)[4].str() + "/" + (*s)[5].str()] = (*s)[1];
  const auto sceneOf = [&](const std::string& Prefix, const test::DvdNavPack& Nav) {
    const std::string key = Prefix + std::to_string(Nav.VobId) + "/" + std::to_string(Nav.CellId);
    EXPECT_TRUE(scenes.count(key)) << "no scene of " << key;
    return scenes[key];
  };
  std::map<std::string, int> uses;
  for (size_t t = 0; t < titles.size(); ++t) {
    const Title& title = titles[t];
    const std::string vts = std::to_string(title.TitleSet), number = std::to_string(t + 1);
    SCOPED_TRACE("Title_" + number);
    std::vector<std::string> expected, shown;
    for (size_t c = 0; c < title.Chapters.size(); ++c) {
      const size_t end = c + 1 < title.Chapters.size() ? title.Chapters[c + 1] - 1 : title.Cells.size();
      for (size_t k = title.Chapters[c] - 1; k < end; ++k) {
        const auto [first, last] = title.Cells[k];
        const test::DvdNavPack nav = test::DvdNavPackAt(hd.Domains.at("vts" + vts + "-titles"), first);
        const std::string scene = sceneOf("t0" + vts + "_", nav);
        for (const std::string& item : {scene + "-pg", scene + "-c"}) {
          if (item.ends_with("-pg") && k + 1 != static_cast<size_t>(title.Chapters[c])) continue;
          const int n = uses[item]++;
          expected.push_back(n ? item + "_" + std::to_string(n) : item);
        }
        EXPECT_NE(listing.find("VOB ID: " + std::to_string(nav.VobId) + "  CELL ID: " + std::to_string(nav.CellId) +
                               "  Sectors: " + std::to_string(first) + " - " + std::to_string(last)),
                  std::string::npos);
      }
    }
    // The chain's lines up to the next chain, title or title set.
    const std::string head = "  Title_" + number + "\n    PGC_V" + vts + "_T" + number + "_1\n";
    ASSERT_NE(listing.find(head), std::string::npos) << listing;
    std::istringstream chain(listing.substr(listing.find(head) + head.size()));
    for (std::string line; std::getline(chain, line) && line.starts_with("      ");)
      if (std::regex_search(line, std::regex("-(pg|c)(_\\d+)?$"))) shown.push_back(line.substr(line.find_first_not_of(' ')));
    EXPECT_EQ(shown, expected);
  }
  // The menus' cells, and the video manager menu's buttons as dvdauthor compiled them.
  for (const auto& [domain, prefix] : {std::pair{"vmgm", "vmg_"}, {"vts1-menu", "m01_"}})
    EXPECT_NE(listing.find(sceneOf(prefix, hd.Domains.at(domain).NavPacks.at(0)) + "-pg\n"), std::string::npos);
  EXPECT_NE(listing.find("button 1: JumpTT 1  -> Title_1\n"), std::string::npos);
  EXPECT_NE(listing.find("button 2: JumpTT 3  -> Title_3\n"), std::string::npos);
  // Every chain's commands as dvdunauthor reads the DVD.
  fs::create_directories(dir.File("un"));
  ASSERT_EQ(std::system(("cd '" + dir.File("un") + "' && dvdunauthor ../dvd/VIDEO_TS >/dev/null 2>&1").c_str()), 0);
  test::ExpectAsDvdunauthorReads(test::ShownChains(listing), dir.File("un/dvdauthor.xml"));

  // Every stream of every VOB of every domain, against ffmpeg's reading of the DVD's packs of that VOB.
  const std::string out = dir.File("out");
  test::WriteFileBytes(dir.File("settings.ini"), {});
  EXPECT_EQ(RunTessaline({"demux", dir.File("hd"), out, "--settings", dir.File("settings.ini"), "--set", "DeleteSUP=0"}),
            0);
  struct Row {
    const char* Domain;
    const char* Folder;
    Stream S;
  };
  const Row rows[] = {{"vmgm", "VMG/Menu", {"0x1e0", "_e0.m2v", 0}},
                      {"vmgm", "VMG/Menu", {"0x80", "_c0.ac3", 0}},
                      {"vts1-menu", "VTS_001/Menu", {"0x1e0", "_e0.m2v", 0}},
                      {"vts1-menu", "VTS_001/Menu", {"0x80", "_c0.ac3", 0}},
                      {"vts1-titles", "VTS_001/Titles", {"0x1e0", "_e0.m2v", 0}},
                      {"vts1-titles", "VTS_001/Titles", {"0x80", "_c0.ac3", 0}},
                      {"vts1-titles", "VTS_001/Titles", {"0xa0", "_a0.wav", 16}},
                      {"vts1-titles", "VTS_001/Titles", {"0x20", "_20.sup", 0}},
                      {"vts2-titles", "VTS_002/Titles", {"0x1e0", "_e0.m2v", 0}},
                      {"vts2-titles", "VTS_002/Titles", {"0x1c0", "_c0.mpa", 0}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.Domain) + " " + r.S.Id);
    fs::create_directories(dir.File("vobs/") + r.Domain);
    int compared = 0;
    for (const auto& [vob, vobFile] : test::CutDvdDomainByVobId(hd.Domains.at(r.Domain), dir.File("vobs/") + r.Domain)) {
      const auto expected = test::FfmpegStream(vobFile, r.S.Id, r.S.LpcmBits, r.S.LpcmBits != 0);
      const auto ours = OutputsJoined(out + "/" + r.Folder, "_v" + core::IntToStrZeroPad(vob, 3), r.S.Suffix);
      EXPECT_EQ(ours.size(), expected.size()) << "VOB " << vob;
      EXPECT_TRUE(ours == expected) << "VOB " << vob;
      compared += expected.empty() ? 0 : 1;
    }
    EXPECT_GT(compared, 0);
  }
  // The menu's button subpicture became its picture.
  EXPECT_TRUE(fs::exists(out + "/VMG/Menu/vmg_v001c001_20.bmp"));
}

}  // namespace
}  // namespace tess::app
