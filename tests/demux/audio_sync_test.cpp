// The audio routers against ffmpeg: a title set whose audio streams are delayed
// and multiplexed late (the first frames of a VOB ride in the packs of the VOB
// after it), demultiplexed in every mode. Each stream's parts joined in name
// order are ffmpeg's stream byte for byte; where a mode cuts, every part starts
// on a frame and, from the second VOB on, within one frame of the VOB's start
// (the parts' durations measured by ffprobe).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include "demux/audio_sync.h"
#include "demux_support.h"
#include "disc/ifo_set.h"
#include "streams/ac3.h"
#include "streams/dts.h"
#include "streams/mpa.h"

namespace tess::demux {
namespace {

namespace fs = std::filesystem;

// What a cutting mode promises for a stream: nothing beyond the bytes (the AC-3
// family and MLP multiplexed late are cut between payloads, not frames), or
// parts that start on frames within Tolerance ticks of their VOB's start.
enum class Check { Bytes, Ac3, Dts, Mpa, Lpcm };
struct Stream {
  const char* Id;      // as ffmpeg numbers it
  const char* Suffix;  // of our outputs
  int LpcmBits;
  Check Cut;
  const char* Probe;   // ffprobe's input format and what it sums up: packets, or the whole raw PCM
  int64_t Tolerance;   // one frame, 90 kHz
};
const Stream kStreams[] = {
    {"0xc0", "_c0.ac3", 0, Check::Ac3, "-f ac3 -show_entries packet=duration_time", 2880},
    {"0xc8", "_c8.ac3", 0, Check::Bytes, "", 0},
    {"0x88", "_88.dts", 0, Check::Dts, "-f dts -show_entries packet=duration_time", 960},
    {"0xb0", "_b0.mlp", 0, Check::Bytes, "", 0},
    {"0xb1", "_b1.mlp", 0, Check::Bytes, "", 0},
    {"0x1c0", "_c0.mpa", 0, Check::Mpa, "-f mp3 -show_entries packet=duration_time", 2160},
    {"0xa0", "_a0.pcm", 16, Check::Lpcm, "-f s16be -ar 48000 -ac 2 -show_entries stream=duration", 150},
    {"0xa1", "_a1.pcm", 24, Check::Lpcm, "-f s24be -ar 96000 -ac 2 -show_entries stream=duration", 150},
    {"0x1e0", "_e0.m2v", 0, Check::Bytes, "", 0},
};
struct Mode {
  const char* Name;
  bool Titles;
  core::TitleMode Setting;  // TitleMode or MenuMode
  int32_t Alignment;    // TitlePTSMode or MenuPTSMode
  bool MainMark;
  size_t Parts;         // outputs per stream: one per VOB, or per cell
  const char* Logged;   // a line the run logs; none: it cuts nothing
};
const Mode kModes[] = {
    {"titles VobID", true, core::TitleMode::VobId, 0, false, 4, nullptr},
    {"menus VobID", false, core::TitleMode::VobId, 0, false, 3, nullptr},
    {"titles Main", true, core::TitleMode::Main, 0, true, 7, "The most appropriate: "},
    {"titles PTS Left", true, core::TitleMode::Pts, 0, false, 4, "The most appropriate: "},
    // The start falls nearer a DTS payload's end than its last frame: cut in the next one.
    {"titles PTS Center", true, core::TitleMode::Pts, 1, false, 4,
     "VobID: 2, Stream: 1, Current PTS: 356420 - do not take"},
    {"menus PTS Right", false, core::TitleMode::Pts, 2, false, 3, "The most appropriate: "},
};

class AudioSync : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::HaveFfmpeg()) return;
    dir_ = new test::TempDir;
    tools::DiscSpec spec = tools::MakeSampleDiscSpec({.TitleSets = 1, .MaxFileSectors = 150});
    auto cells = [](std::vector<std::pair<uint16_t, uint8_t>> Ids, tools::DomainSpec& D) {
      D.Cells.clear();
      D.PGCs.resize(1);
      D.PGCs[0].Cells.clear();
      D.PGCs[0].ProgramEntries.clear();
      for (auto [vob, cell] : Ids) {
        D.PGCs[0].Cells.push_back(static_cast<int>(D.Cells.size()));
        tools::CellSpec c;
        c.VobId = vob, c.CellId = cell;
        D.Cells.push_back(c);
      }
    };
    cells({{1, 1}, {1, 2}, {1, 3}, {2, 1}, {3, 1}, {3, 2}, {4, 1}}, spec.TitleSets[0].Titles);
    cells({{1, 1}, {2, 1}, {3, 1}}, spec.TitleSets[0].Menu);
    tools::DiscBuildOptions o;
    o.TitleStreams.TrueHd = o.TitleStreams.Lpcm24 = true;
    o.MenuStreams = o.TitleStreams;
    o.AdjustStream = [](tools::EvoStream& S) {
      // Delays below a frame; lags from under a packet to over one.
      const std::map<uint8_t, std::pair<uint32_t, uint32_t>> timing = {
          {0xC0, {1000, 0}},   {0xC8, {2000, 4000}}, {0x88, {500, 4500}}, {0xB1, {0, 3000}},
          {0xA0, {100, 2000}}, {0xA1, {40, 3000}}};
      const auto it = timing.find(S.StreamId == 0xBD ? S.SubstreamId : 0);
      if (it != timing.end()) std::tie(S.Delay, S.MuxLag) = it->second;
      if (S.StreamId == 0xC0) S.Delay = 1500, S.MuxLag = 3000;
    };
    disc_ = new tools::DiscBuildSummary(tools::BuildStandardDisc(dir_->File("disc"), spec, test::SampleStreams(), o));
    ASSERT_TRUE(disc_->Ok) << disc_->Error;
    // The sample disc: an interleaved block of three angles between two VOBs.
    tools::DiscSpec angles = tools::MakeSampleDiscSpec({.TitleSets = 1});
    angles_ = new tools::DiscBuildSummary(tools::BuildStandardDisc(dir_->File("angles"), angles, test::SampleStreams(), o));
    ASSERT_TRUE(angles_->Ok) << angles_->Error;
  }
  static void TearDownTestSuite() {
    delete disc_;
    delete angles_;
    delete dir_;
  }
  void SetUp() override {
    if (!test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  }

  // Demultiplexes the domain in the mode; the folder of its outputs.
  static std::string Demux(const Mode& M, const std::string& Disc = "disc") {
    const std::string out = dir_->File(Disc + " " + M.Name);
    test::DemuxProject p;
    core::DemuxSettings& settings = p.Form.Settings.Demux;
    settings.Titles = M.Titles ? M.Setting : core::TitleMode::VobId;
    settings.Menus = M.Titles ? core::TitleMode::VobId : M.Setting;
    (M.Titles ? settings.TitlePtsMode : settings.MenuPtsMode) = M.Alignment;
    platform::GridModel overview;
    EXPECT_GE(disc::LoadIFOSet(p.Form, p.Form, p.Form, dir_->File(Disc), overview), 1);
    p.Form.VTSListForm.ApplyOK({{.N = 2, .HasBoxes = true, .MainMode = M.MainMark}});
    TIFOData ctx(p.Form.Env(), p.Form.Settings.Demux, 1, M.Titles ? 2 : 1);
    ctx.Outputs.OutputBase = out + "/";
    ctx.Outputs.PcmToWav = ctx.Outputs.SupToImages = 0;
    ctx.Plan.ByCell = M.Titles ? p.Form.VTSListForm.MainModeMark[2] : 0;
    EXPECT_TRUE(M.Titles ? ctx.DemuxTitles() : ctx.DemuxMenus(false));
    EXPECT_FALSE(ctx.Outputs.OutputFailed);
    // The only error a run may log: an AC-3 part cut between payloads starts inside a frame.
    for (const auto& l : p.Form.LogWindow.Log.Lines)
      if (l.Colour == platform::kColourRed) {
        EXPECT_NE(l.Caption.find("_c8.ac3 AC3-file is not correct!"), std::string::npos) << l.Caption;
      }
    EXPECT_EQ(p.LogContains(M.Logged ? M.Logged : "The most appropriate: "), M.Logged != nullptr);
    return out + (M.Titles ? "/VTS_001/Titles" : "/VTS_001/Menu");
  }

  static test::TempDir* dir_;
  static tools::DiscBuildSummary* disc_;
  static tools::DiscBuildSummary* angles_;
};
test::TempDir* AudioSync::dir_ = nullptr;
tools::DiscBuildSummary* AudioSync::disc_ = nullptr;
tools::DiscBuildSummary* AudioSync::angles_ = nullptr;

// The outputs of a stream in name order: VOB by VOB, cell by cell.
std::vector<std::string> Parts(const std::string& Folder, const std::string& Suffix) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(Folder))
    if (e.path().filename().string().ends_with(Suffix)) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool StartsOnFrame(Check C, const std::vector<uint8_t>& B, int LpcmBits) {
  switch (C) {
    case Check::Ac3: return streams::TAc3FrameHeader().Decode(B);
    case Check::Dts: {
      streams::TDtsCoreHeader h;
      h.Decode(std::span(B).first(std::min(B.size(), streams::TDtsCoreHeader::kBytes)));
      return h.IsPlausible();
    }
    case Check::Mpa: return B.size() >= 4 && streams::TMPAFrame().ParseHeader(B.data());
    case Check::Lpcm: return B.size() % (LpcmBits == 24 ? 12 : 4) == 0;  // whole sample groups
    case Check::Bytes: break;
  }
  return true;
}

// The part's duration in 90 kHz ticks.
int64_t Duration(const Stream& S, const std::string& File) {
  const auto out = test::CommandOutput(std::string("ffprobe -v error ") + S.Probe + " -of csv=p=0 -i '" + File + "'");
  double seconds = 0;
  std::istringstream lines(std::string(out.begin(), out.end()));
  for (std::string l; std::getline(lines, l);) seconds += std::atof(l.c_str());
  return std::llround(seconds * 90000);
}

// 10 ms of LPCM at 48 kHz in each layout (20-bit mono packs two sample frames
// in 5 bytes): how long the payload plays, and where a cell starting halfway
// through it cuts it.
TEST(LpcmPayload, PlaysAndIsCutByWholeSampleGroups) {
  for (const auto& [params, length] : {std::pair{TLpcmParams{16, 2, 48000}, 1920}, {{20, 1, 48000}, 1200},
                                       {{20, 3, 48000}, 3600}, {{24, 6, 48000}, 8640}}) {
    SCOPED_TRACE(std::to_string(params.SampleSize) + " bits, " + std::to_string(params.Channels) + " channels");
    EXPECT_EQ(LpcmPayloadTicks(length, params), 900);
    EXPECT_EQ(LpcmCutOffset(length, params, 0, 5), length / 2);
  }
}

TEST_F(AudioSync, EveryModeKeepsEveryByteAndCutsOnFramesAtVobStarts) {
  std::map<std::pair<bool, std::string>, std::vector<uint8_t>> ffmpeg;
  for (const Mode& m : kModes) {
    const std::string folder = Demux(m);
    const auto& domain = disc_->Evo.at(m.Titles ? "vts1-titles" : "vts1-menu");
    const bool cuts = m.Setting == core::TitleMode::Pts || m.MainMark;
    for (const Stream& s : kStreams) {
      SCOPED_TRACE(std::string(m.Name) + " " + s.Id);
      auto& expected = ffmpeg[{m.Titles, s.Id}];
      if (expected.empty())
        for (const auto& f : domain.Files) {
          const auto part = test::FfmpegStream(f.Path, s.Id, s.LpcmBits);
          expected.insert(expected.end(), part.begin(), part.end());
        }
      const auto parts = Parts(folder, s.Suffix);
      EXPECT_EQ(parts.size(), m.Parts);
      std::vector<uint8_t> joined;
      // From the stream's first time on, each part starts where the one before ends.
      int64_t at = 0;
      for (const auto& st : domain.Streams)
        if ((st.StreamId == 0xBD ? st.SubstreamId : st.StreamId | 0x100u) == std::stoul(s.Id, nullptr, 16))
          at = st.FirstPts;
      uint16_t lastVob = 0;
      for (const auto& file : parts) {
        const auto bytes = test::ReadFileBytes(file);
        joined.insert(joined.end(), bytes.begin(), bytes.end());
        if (!cuts || s.Cut == Check::Bytes || (s.Cut == Check::Mpa && m.Setting != core::TitleMode::Pts)) continue;
        EXPECT_TRUE(StartsOnFrame(s.Cut, bytes, s.LpcmBits)) << file;
        const auto vob = static_cast<uint16_t>(std::stoi(file.substr(file.rfind("_v") + 2, 3)));
        if (vob != lastVob && lastVob != 0) {
          const auto first = std::find_if(domain.Vobus.begin(), domain.Vobus.end(),
                                           [&](const tools::EvoVobuSummary& v) { return v.VobId == vob; });
          EXPECT_LE(std::abs(at - static_cast<int64_t>(first->StartPts)), s.Tolerance) << file;
        }
        lastVob = vob;
        at += Duration(s, file);
      }
      if (s.LpcmBits == 24) joined = test::LpcmGroupsToSamples(joined, 2);
      EXPECT_FALSE(expected.empty());
      EXPECT_EQ(joined.size(), expected.size());
      EXPECT_TRUE(joined == expected);
    }
  }
}

// Around an angle block nothing is cut inside it: the audio before its start
// goes to the VOB before it once (each angle carries a copy), and the audio
// after its end to every angle's part. So the VOB before the block, any one
// angle and the VOB after it join into the stream that the VobID mode's
// outputs of the first angle make.
std::vector<uint8_t> JoinVobs(const std::string& Folder, const Stream& S, std::initializer_list<int> Vobs) {
  std::vector<uint8_t> out;
  for (const auto& f : Parts(Folder, S.Suffix))
    if (std::count(Vobs.begin(), Vobs.end(), std::stoi(f.substr(f.rfind("_v") + 2, 3)))) {
      const auto bytes = test::ReadFileBytes(f);
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
  return out;
}

TEST_F(AudioSync, AngleBlocksAreCutAtTheirEnds) {
  const std::string vobid = Demux(kModes[0], "angles");
  for (const Mode& m : kModes) {
    if (!m.Titles || (m.Setting != core::TitleMode::Pts && !m.MainMark)) continue;
    const std::string folder = Demux({m.Name, true, m.Setting, m.Alignment, m.MainMark, 0, "The most appropriate: "},
                                     "angles");
    for (const Stream& s : kStreams) {
      const auto expected = JoinVobs(vobid, s, {1, 2, 5});
      for (int angle : {2, 3, 4}) {
        SCOPED_TRACE(std::string(m.Name) + " " + s.Id + " angle VOB " + std::to_string(angle));
        const auto joined = JoinVobs(folder, s, {1, angle, 5});
        EXPECT_EQ(joined.size(), expected.size());
        EXPECT_TRUE(joined == expected);
      }
    }
  }
}

}  // namespace
}  // namespace tess::demux
