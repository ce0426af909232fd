// Re-authoring tracks, their audio export and slide shows, on builder-made
// title sets demultiplexed as a run does it: each track's files against the
// cell outputs they replace, byte for byte, the side files of the tracks read
// back, and ffprobe's durations of the cut audio against its video.
#include "demux/reauthoring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "core/byte_order.h"
#include "demux/audio_export.h"
#include "demux/slideshow.h"
#include "demux/subpic_results.h"
#include "demux/track_folders.h"
#include "demux_support.h"
#include "disc/ifo_set.h"
#include "subpic/services.h"

namespace tess::demux {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// 29.97 frames per second: one VOBU per frame, so a cell of one VOBU holds one picture.
constexpr uint32_t kFrameTicks = 3003;

tools::CellSpec Cell(uint16_t Vob, uint8_t Id, int Vobus, uint8_t Angle = 0) {
  tools::CellSpec c;
  c.VobId = Vob;
  c.CellId = Id;
  c.VobuCount = Vobus;
  c.Angle = Angle;
  c.Seamless = c.AngleSeamless = true;
  return c;
}

// A disc of one title set whose titles are Cells, played by one chain, or by
// two titles' chains when Split cells play in the first.
tools::DiscSpec OneTitleSetDisc(std::vector<tools::CellSpec> Cells, int32_t Split = 0) {
  tools::DiscSpec disc = tools::MakeSampleDiscSpec({.TitleSets = 1});
  tools::DomainSpec& t = disc.TitleSets[0].Titles;
  t.Cells = std::move(Cells);
  t.VobuTicks = kFrameTicks;
  t.MaxFileSectors = 0;
  t.PGCs.resize(1);
  t.PGCs[0].Cells.clear();
  t.PGCs[0].ProgramEntries.clear();
  for (size_t i = 0; i < t.Cells.size(); ++i) t.PGCs[0].Cells.push_back(static_cast<int>(i));
  if (Split == 0) return disc;
  t.PGCs.push_back(t.PGCs[0]);
  t.PGCs[0].Cells.resize(static_cast<size_t>(Split));
  t.PGCs[1].Cells.erase(t.PGCs[1].Cells.begin(), t.PGCs[1].Cells.begin() + Split);
  t.PGCs[1].Category = 0x82;
  return disc;
}

// Builds the disc and demultiplexes its title sets' titles into Out as a run
// does (title subpictures indexed), title set 1 in Main mode when Main is set.
void DemuxTitles(test::DemuxProject& P, const std::string& Folder, tools::DiscSpec Spec,
                 const tools::StandardStreams& Sources, bool Main,
                 const tools::DomainStreams& Streams = tools::DomainStreams::EveryKind(),
                 const std::string& Ifo = "hv000i01.IFO") {
  tools::DiscBuildOptions o;
  o.Evo.KeepStreamBytes = false;
  o.MenuStreams = {};
  o.TitleStreams = Streams;
  ASSERT_TRUE(tools::BuildStandardDisc(Folder + "/disc", Spec, Sources, o).Ok);
  test::DemuxForm& form = P.Form;
  platform::GridModel overview;
  ASSERT_GT(disc::LoadIFOSet(form, form, form, Folder + "/disc/" + Ifo, overview), 0);
  std::vector<state::TVTSListForm::Row> rows;
  for (int32_t n = 1; n <= 100; ++n) rows.push_back({n, true, true, true, Main && n == 2});
  form.VTSListForm.ApplyOK(rows);
  form.Settings.Output.Folder = Folder + "/out/";
  for (int32_t i = disc::FirstTitleSetIndex(form); i < form.TitleSetCount; ++i) {
    TIFOData ctx(form.Env(), form.Settings.Demux, i, kPgcTitle);
    ctx.Outputs.OutputBase = Folder + "/out/";
    ctx.Outputs.SupToImages = form.Settings.Demux.TitleMakeSup ? 0 : 1;
    ctx.Outputs.PcmToWav = 1;
    ctx.Plan.ByCell = Main ? 1 : 0;
    ASSERT_TRUE(ctx.DemuxTitles());
  }
}

std::map<std::string, Bytes> ReadFolder(const std::string& Folder) {
  std::map<std::string, Bytes> files;
  for (const auto& e : fs::directory_iterator(Folder))
    if (e.is_regular_file()) files[e.path().filename().string()] = test::ReadFileBytes(e.path().string());
  return files;
}

// A WAV file's samples; any other file whole.
Bytes Payload(const std::string& Name, Bytes B) {
  if (Name.ends_with(".wav")) B.erase(B.begin(), B.begin() + std::min<long>(44, static_cast<long>(B.size())));
  return B;
}

double Probe(const std::string& File, const std::string& Entry) {
  const Bytes out = test::CommandOutput("ffprobe -v error -count_packets -show_entries " + Entry + " -of csv=p=0 '" +
                                        File + "' 2>/dev/null");
  return std::atof(std::string(out.begin(), out.end()).c_str());
}

size_t PicturesUnder(const std::string& Folder) {
  size_t n = 0;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(Folder, ec)) n += e.path().extension() == ".bmp" ? 1 : 0;
  return n;
}

// One disc in every layout of Main mode and without it, title subpictures
// indexed (into the track's ".dat", then pictures and side files) or drawn at
// once (pictures moved into the track's folders): the tracks the cells become
// (a still keeps every file but its video), and stream 1's audio groups
// through the angle block, each part cut again where its video ends.
TEST(Reauthoring, TracksJoinTheirCellsAndTheirAudioIsCutAtTheirVideo) {
  struct Row {
    const char* Track;
    std::vector<std::string> Cells;  // the output stems it joins, in order; a still's cell
  };
  struct Layout {
    bool Main, indexed, Mlp;  // Mlp: stream 1 is MLP, which is not joined
    int32_t InsertAngle, Split;               // Split: Main by every title, title 1's cells
    std::vector<Row> Rows;                    // the title tracks in table order
    std::vector<std::vector<size_t>> Groups;  // stream 1's groups (of rows) as merged, one per angle
    const char* Logged = nullptr;             // the line that says a block lacks the angle asked for
  };
  // The cell outputs in (VOB id, cell id) order.
  const std::string o[] = {"t001_v001c001", "t001_v001c002", "t001_v002c001", "t001_v003c001",
                           "t001_v004c001", "t001_v005c001", "t001_v006c001", "t001_v007c001"};
  const Layout layouts[] = {
      {true, true, false, 0, 0,  // every angle a track of its own, each joined with the tracks around the block
       {{"t01_m001v003", {o[0], o[1], o[2]}}, {"t01_m002s001", {o[3]}}, {"t01_m003v001", {o[4]}},
        {"t01_m004v001", {o[5]}}, {"t01_m005v001", {o[6]}}, {"t01_m006v001", {o[7]}}},
       {{0, 1, 2, 3, 5}, {0, 1, 2, 4, 5}}},
      {true, false, true, 2, 0,  // angle 2 kept, in the track around the block; MLP is not joined
       {{"t01_m001v003", {o[0], o[1], o[2]}}, {"t01_m002s001", {o[3]}}, {"t01_m003v003", {o[4], o[6], o[7]}}}, {}},
      {true, true, false, 2, 2,  // by every title: title 2 starts a track
       {{"t01_m001v002", {o[0], o[1]}}, {"t01_m002v001", {o[2]}}, {"t01_m003s001", {o[3]}},
        {"t01_m004v003", {o[4], o[6], o[7]}}},
       {{0, 1, 2, 3}}},
      {true, true, false, 3, 0,  // a block without angle 3 keeps angle 1 in the track around it
       {{"t01_m001v003", {o[0], o[1], o[2]}}, {"t01_m002s001", {o[3]}}, {"t01_m003v003", {o[4], o[5], o[7]}}},
       {{0, 1, 2}},
       "Can not found angle 3 in PGC 1! Angle 1 was inserted instead."},
      {false, true, false, 0, 0,  // no Main mode: the block's tracks in angle order
       {{"t001_v001x002", {}}, {"t001_v002c001", {}}, {"t001_v003c001", {}}, {"t001_v004c001", {}},
        {"t001_v005c001", {}}, {"t001_v006c001", {}}, {"t001_v007c001", {}}},
       {{0, 1, 2, 3, 4, 6}, {0, 1, 2, 3, 5, 6}}}};
  for (const Layout& l : layouts) {
    const bool indexed = l.indexed;
    SCOPED_TRACE(&l - layouts);
    test::TempDir dir;
    test::DemuxProject p;
    test::DemuxForm& form = p.Form;
    test::SetTitleMakeSup(form, indexed);
    form.Settings.Tracks.InsertAngle = l.InsertAngle;
    form.Settings.Tracks.MainByTitle = l.Split;
    // VOB 1 (two cells, an output each in Main mode) and VOB 2 play on; VOB 3 is a still (an I
    // picture of the looped video, which has one every 15); VOB 4;
    // an angle block of VOBs 5 and 6; VOB 7 after it.
    DemuxTitles(p, dir.Path(),
                OneTitleSetDisc({Cell(1, 1, 15), Cell(1, 2, 15), Cell(2, 1, 30), Cell(3, 1, 1), Cell(4, 1, 29),
                                 Cell(5, 1, 15, 1), Cell(6, 1, 15, 2), Cell(7, 1, 30)}, l.Split),
                test::SampleStreams(), l.Main, {.Eac3 = true, .Dts = true, .Mlp = l.Mlp, .Mpa = true, .Lpcm16 = true});
    const std::string titles = dir.File("out/VTS_001/Titles/");
    const auto cells = ReadFolder(titles);
    // Every unit is a picture once, indexed or drawn at once.
    size_t pictures = PicturesUnder(titles);
    for (const auto& [name, bytes] : cells)
      if (name.ends_with(".dat")) pictures += bytes.size() / subpic::kSupIndexRecordSize;
    // Still timings beside a cell's video go with it when a track replaces it.
    test::WriteFileBytes(titles + o[0] + "_e0.m2v.times", Bytes(8, 1));
    ASSERT_TRUE(PrepareTrackFolders(form.Env(), form.Settings.Tracks));
    EXPECT_EQ(fs::exists(titles + o[0] + "_e0.m2v.times"), !l.Main);
    ASSERT_TRUE(ConvertSubpictureIndexFiles(form.Env(), form.Settings.Demux.Subpictures));
    EXPECT_EQ(PicturesUnder(titles), pictures);
    EXPECT_EQ(p.LogContains("Can not found angle"), l.Logged != nullptr);
    EXPECT_TRUE(!l.Logged || p.LogContains(l.Logged));

    std::vector<std::string> suffixes = StreamSideSuffixes();
    suffixes.insert(suffixes.begin(), "_e0.m2v");
    ASSERT_EQ(form.ScriptTracks.size(), l.Rows.size());
    for (const Row& r : l.Rows) {
      SCOPED_TRACE(r.Track);
      const std::string stem = titles + r.Track;
      const disc::TVideoTrack* track = &form.ScriptTracks[static_cast<size_t>(&r - l.Rows.data())];
      ASSERT_EQ(track->Name, std::string(r.Track) + "-t");
      if (std::string(r.Track).find('s') != std::string::npos) {
        // A still: its video moved whole; every other file of its cell stays, and its audio entries.
        EXPECT_TRUE(test::ReadFileBytes(stem + ".m2v") == cells.at(r.Cells[0] + "_e0.m2v"));
        for (const auto& [file, bytes] : cells)
          EXPECT_TRUE(!file.starts_with(r.Cells[0]) || fs::exists(titles + file) == !file.ends_with("_e0.m2v")) << file;
        EXPECT_NE(disc::FindAudioStreamByName(form, track->AudioStreams[0].PlayItems.at(0).FileName), nullptr);
        continue;
      }
      if (r.Cells.empty()) continue;
      EXPECT_EQ(track->Scenes.size(), std::stoul(stem.substr(stem.size() - 3)));
      // Every stream the cells had is the cells' streams in order; the cells' files are gone
      // (with Main by every title their subpictures stay).
      int joined = 0;
      for (const std::string& suffix : suffixes) {
        if (suffix == ".dat" || suffix == ".hlt2" || (!indexed && suffix.ends_with(".sup"))) continue;
        Bytes expected;
        bool any = false;
        for (const std::string& c : r.Cells) {
          const auto it = cells.find(c + suffix);
          if (it == cells.end()) continue;
          any = true;
          const Bytes part = Payload(suffix, it->second);
          expected.insert(expected.end(), part.begin(), part.end());
          EXPECT_EQ(fs::exists(titles + c + suffix), l.Split && suffix.ends_with(".sup")) << c + suffix;
        }
        const std::string file = stem + (suffix == "_e0.m2v" ? ".m2v" : suffix);
        ASSERT_EQ(fs::exists(file), any) << file;
        if (!any) continue;
        EXPECT_TRUE(Payload(suffix, test::ReadFileBytes(file)) == expected) << file;
        ++joined;
      }
      EXPECT_GE(joined, 6);
      // A motion track's log names the cells it joined, in order.
      {
        const Bytes log = test::ReadFileBytes(stem + ".log");
        std::string expected = "[Log-file]\r\n";
        for (size_t i = 0; i < r.Cells.size(); ++i)
          expected += "0" + std::to_string(std::find(o, o + 8, r.Cells[i]) - o + 1) + "=" + titles + r.Cells[i] +
                      "_e0.m2v\r\n";
        EXPECT_EQ(std::string(log.begin(), log.end()), expected);
      }
      if (!indexed) {
        // The track's segments are its cells' pictures, now in its own folder.
        size_t segments = 0;
        for (const auto& st : track->SubPictureStreams) segments += st.Segments.size();
        EXPECT_EQ(PicturesUnder(stem), segments);
        continue;
      }
      // The index of the track's subpicture units points at units of its joined ".sup".
      size_t units = 0;
      for (const std::string& c : r.Cells)
        if (cells.count(c + ".dat")) units += cells.at(c + ".dat").size() / subpic::kSupIndexRecordSize;
      ASSERT_EQ(fs::exists(stem + ".dat"), units > 0);
      const Bytes dat = units ? test::ReadFileBytes(stem + ".dat") : Bytes();
      const Bytes sup = units ? test::ReadFileBytes(stem + "_20.sup") : Bytes();
      ASSERT_EQ(dat.size(), units * subpic::kSupIndexRecordSize);
      for (size_t at = 0; at < dat.size(); at += subpic::kSupIndexRecordSize) {
        const auto rec = subpic::DecodeSupIndexRecord(dat.data() + at);
        ASSERT_LT(rec.Offset + 2u, sup.size());
        EXPECT_LE(rec.Offset + core::ReadBE16(sup.data() + rec.Offset), sup.size());
      }
      // ... and became segments of the track in its side files.
      if (units) {
        EXPECT_EQ(
            test::ReadFileBytes(SideFileName(form.Settings.Output.Folder, form.LooseEvo, *track, 0, ".track")).size(),
            units * disc::kSubpicSegmentSize);
      }
    }

    // Stream 1 (MPEG audio) of the tracks joined and cut again where each video ends: ffprobe's
    // durations agree within an audio frame; the last member of a group takes the rest.
    form.Settings.Tracks.RecutMode = 1;
    ASSERT_TRUE(ExportTitleSetAudio(form.Env(), form.Settings.Tracks));
    std::vector<std::vector<size_t>> groups;
    bool one = false;  // the lines after "Merge audio stream 1" name its members
    for (const std::string& line : p.LogTexts()) {
      if (line.starts_with("Merge audio stream ") && (one = line[19] == '1')) groups.emplace_back();
      for (size_t t = 0; t < l.Rows.size() && one && line.starts_with("      - "); ++t)
        if (line.substr(8) == form.ScriptTracks[t].Name) groups.back().push_back(t);
    }
    EXPECT_EQ(groups, l.Groups);
    if (!test::HaveFfmpeg()) continue;
    const double frame = 1001.0 / 30000.0, audioFrame = 1152.0 / 48000.0;
    for (const auto& group : groups)
      for (const size_t t : group) {
        const disc::TVideoTrack& track = form.ScriptTracks[t];
        const double video = Probe(disc::FindVideoStreamByName(form, track.FileName)->Path, "stream=nb_read_packets");
        const double audio = Probe(titles + track.AudioStreams[0].PlayItems[0].FileName + ".mpa", "format=duration");
        EXPECT_NEAR(audio, t == group.back() ? std::max(audio, video * frame) : video * frame, audioFrame) << t;
      }
  }
}

// The audio export over title tracks that play on from each other, one row per
// audio format: cut again, each track's audio lasts as long as its video
// (ffprobe); kept whole, the solid file is the tracks' files in order and
// their play items point into it one after the other. A title set's
// information file loaded alone exports as on the whole disc.
TEST(AudioExport, EachFormatIsCutAtTheVideoOrJoinedWhole) {
  if (!test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  struct Row {
    const char* Suffix;
    tools::DomainStreams Streams;
    const char* Ifo = "hv000i01.IFO";
  };
  const Row rows[] = {{"_c0.ac3", {.Ac3 = true, .Subpicture = false}},
                      {"_c0.ac3", {.Ac3 = true, .Subpicture = false}, "hv001i01.IFO"},
                      {"_88.dts", {.Ac3 = false, .Dts = true, .Subpicture = false}},
                      {"_a0.wav", {.Ac3 = false, .Lpcm16 = true, .Subpicture = false}},
                      {"_c0.mpa", {.Ac3 = false, .Mpa = true, .Subpicture = false}}};
  const char* tracks[] = {"t001_v001c001", "t001_v002c001", "t001_v003c001"};
  const double frame = 1001.0 / 30000.0;
  for (const Row& r : rows) {
    for (const bool solid : {false, true}) {
      SCOPED_TRACE(std::string(r.Suffix) + (solid ? " solid " : " cut again ") + r.Ifo);
      test::TempDir dir;
      test::DemuxProject p;
      DemuxTitles(p, dir.Path(), OneTitleSetDisc({Cell(1, 1, 30), Cell(2, 1, 45), Cell(3, 1, 20)}),
                  test::SampleStreams(), false, r.Streams, r.Ifo);
      const std::string titles = dir.File("out/VTS_001/Titles/");
      Bytes joined;
      for (const char* t : tracks) {
        const Bytes part = Payload(r.Suffix, test::ReadFileBytes(titles + t + r.Suffix));
        joined.insert(joined.end(), part.begin(), part.end());
      }
      p.Form.Settings.Tracks.RecutMode = 1;
      p.Form.Settings.Tracks.SolidAudio = solid;
      const std::string kept = dir.File("out/VTS_001/VTS1-") + (r.Suffix + 1);
      if (!solid) {
        // A cut that cannot be written (a folder holds its name) replaces no member.
        const auto before = ReadFolder(titles);
        fs::create_directories(titles + tracks[1] + r.Suffix + ".tmp");
        EXPECT_FALSE(ExportTitleSetAudio(p.Form.Env(), p.Form.Settings.Tracks));
        fs::remove(titles + tracks[1] + r.Suffix + ".tmp");
        EXPECT_TRUE(ReadFolder(titles) == before);
      }
      ASSERT_TRUE(ExportTitleSetAudio(p.Form.Env(), p.Form.Settings.Tracks));
      // Its joined file stays whole beside the next one's.
      EXPECT_EQ(fs::exists(kept), !solid);
      EXPECT_TRUE(solid || Payload(r.Suffix, test::ReadFileBytes(kept)) == joined);
      if (solid) {
        EXPECT_TRUE(Payload(r.Suffix, test::ReadFileBytes(titles + "t001_v001a001" + r.Suffix)) == joined);
        core::TTimeCode start;
        for (const auto& t : p.Form.ScriptTracks) {
          ASSERT_FALSE(t.AudioStreams.empty());
          const disc::TAudioPlayItem& item = t.AudioStreams.front().PlayItems.front();
          EXPECT_EQ(item.FileName, std::string("t001_v001a001") + std::string(r.Suffix).substr(0, 3));
          EXPECT_EQ(item.Start, start);
          start = core::AddTimecodes(p.Form.FrameRate, start, item.Duration);
        }
        continue;
      }
      // The last track takes the rest, which is at least its video.
      for (const char* t : tracks) {
        const double video = Probe(titles + t + "_e0.m2v", "stream=nb_read_packets") * frame;
        const double audio = Probe(titles + t + r.Suffix, "format=duration");
        if (t == tracks[2])
          EXPECT_GT(audio, video - frame) << t;
        else
          EXPECT_NEAR(audio, video, frame) << t;
      }
    }
  }
}

// With AddAudioStub the title tracks of a title set list the same streams, in
// the places of their slots: a stream a track lacks is a one-frame stub of the
// first track's that has it, starting with the track.
TEST(AudioExport, StreamsATrackLacksAreOneFrameStubs) {
  test::DemuxProject p;
  p.Form.Settings.Tracks.AddAudioStub = true;
  auto stream = [](int32_t Slot, const char* File) {
    disc::TAudioStream s;
    s.SlotNumber = Slot;
    s.Kind = 1;
    s.PlayItems.emplace_back().FileName = File;
    s.PlayItems.back().Duration = {0, 0, 5, 0};
    return s;
  };
  for (int32_t t = 0; t < 2; ++t) {
    disc::TVideoTrack& track = p.Form.ScriptTracks.emplace_back();
    track.Domain = kPgcTitle;
    track.IFOIndex = 1;
    track.StartOffset = {0, 0, static_cast<uint8_t>(t), 0};
    track.AudioStreams =
        t ? disc::TAudioStreamList{stream(2, "b2")} : disc::TAudioStreamList{stream(3, "a3"), stream(1, "a1")};
  }
  ProcessTitleSetAudioStreams(p.Form, p.Form, p.Form.Settings.Tracks, 1);
  const char* files[] = {"a1", "b2", "a3"};
  for (size_t t = 0; t < 2; ++t) {
    const auto& streams = p.Form.ScriptTracks[t].AudioStreams;
    ASSERT_EQ(streams.size(), 3u);
    for (size_t n = 0; n < 3; ++n) {
      const disc::TAudioPlayItem& item = streams[n].PlayItems.at(0);
      const bool stub = (files[n][0] == 'b') != (t == 1);
      EXPECT_EQ(streams[n].StreamNumber, static_cast<int32_t>(n + 1));
      EXPECT_EQ(item.FileName, files[n]);
      EXPECT_EQ(item.Stub, stub ? 1 : 0);
      const core::TTimeCode length = stub ? core::TTimeCode{0, 0, 0, 1} : core::TTimeCode{0, 0, 5, 0};
      EXPECT_EQ(item.Duration, length);
      if (stub) {
        EXPECT_EQ(item.Delay, p.Form.ScriptTracks[t].StartOffset);
      }
    }
  }
}

// A track whose files cannot be written or read whole is not made: its cells
// keep their files and tracks, nothing of it is left behind, and the run fails
// naming the file (a read error in a cell's index would lose its subpictures).
TEST(Reauthoring, ATrackThatCannotBeWrittenOrReadLeavesItsCells) {
  const std::pair<const char*, const char*> rows[] = {
      {"", ""},  // each cell file fits, the two joined do not
      {"t001_v002c001.dat", "@0"},
      {"t001_v002c001_20.sup", "@100"},
      {"t001_v001c001_e0.m2v", "@4096"}};
  for (const auto& [file, at] : rows) {
    SCOPED_TRACE(file);
    test::TempDir dir;
    test::DemuxProject p;
    DemuxTitles(p, dir.Path(), OneTitleSetDisc({Cell(1, 1, 15), Cell(2, 1, 15)}), test::SampleStreams(), true);
    const std::string titles = dir.File("out/VTS_001/Titles/");
    const auto cells = ReadFolder(titles);
    size_t largest = 0;
    for (const auto& [name, bytes] : cells) largest = std::max(largest, bytes.size());
    {
      std::optional<test::FileSizeLimit> limit;
      if (!*file) limit.emplace(largest + 1);
      if (*file) ::setenv("TESS_FAIL_READ", (std::string(file) + at).c_str(), 1);
      EXPECT_FALSE(PrepareTrackFolders(p.Form.Env(), p.Form.Settings.Tracks));
      ::unsetenv("TESS_FAIL_READ");
    }
    EXPECT_TRUE(ReadFolder(titles) == cells);
    if (*file)
      EXPECT_EQ(p.Form.Skipped.at(0), "Read error in file " + titles + file);
    else
      EXPECT_TRUE(p.LogContains("Write error in file") && p.Form.WriteStopped);
    ASSERT_EQ(p.Form.ScriptTracks.size(), 2u);
    EXPECT_EQ(p.Form.ScriptTracks[0].Name, "t001_v001c001-t");
  }
}

// A still sequence of six pictures over two cells becomes a slide show of
// two tracks when a ".times" file gives each still its time and cell; without
// one (or with one that meets a read error) the stills are made and the track
// stays whole. A still index that meets a read error splits nothing. A read
// error fails the run, naming the file.
TEST(SlideShow, StillsSplitByTheirCellsOnlyWithDisplayTimes) {
  tools::StandardStreams s = test::SampleStreams();
  ASSERT_TRUE(
      tools::LoadStreamSource(tools::StreamKind::Mpeg2Video, test::DataFile("streams/m2v_stills.m2v"), s.Mpeg2));
  const std::pair<bool, const char*> rows[] = {{true, ""}, {false, ""}, {true, ".times@8"}, {true, ".ipos@8"}};
  for (const auto& [withTimes, fault] : rows) {
    SCOPED_TRACE(withTimes ? std::string("with display times ") + fault : "without");
    const std::string side = std::string(fault).substr(0, std::string(fault).find('@'));
    const bool timed = withTimes && side.empty(), split = side != ".ipos";
    test::TempDir dir;
    test::DemuxProject p;
    test::DemuxForm& form = p.Form;
    DemuxTitles(p, dir.Path(), OneTitleSetDisc({Cell(1, 1, 3), Cell(1, 2, 3)}), s, false);
    ASSERT_EQ(form.ScriptTracks.size(), 1u);
    const std::string video = form.VideoStreams[0].Path;
    const Bytes whole = test::ReadFileBytes(video);
    if (withTimes) {
      Bytes times;
      for (uint32_t cell : {1, 1, 1, 2, 2, 2}) {
        uint8_t pair[8];
        core::WriteLE32(pair, core::TTimeCode{0, 0, 1, 0}.ToUInt32());
        core::WriteLE32(pair + 4, cell);
        times.insert(times.end(), pair, pair + 8);
      }
      test::WriteFileBytes(video + ".times", times);
    }
    if (*fault) ::setenv("TESS_FAIL_READ", fault, 1);
    EXPECT_EQ(BuildSlideShowTrack(form.Env(), form.Settings.Tracks, 0), timed);
    ::unsetenv("TESS_FAIL_READ");
    EXPECT_EQ(form.Skipped, side.empty() ? std::vector<std::string>{}
                                         : std::vector<std::string>{"Read error in file " + video + side});
    if (!split) {
      EXPECT_EQ(form.VideoStreams.size(), 1u);
      EXPECT_FALSE(fs::exists(video.substr(0, video.size() - 4) + "_0001.m2v"));
      continue;
    }
    // The stills are the video's pictures, one file each.
    Bytes joined;
    for (int i = 1; i <= 6; ++i) {
      const Bytes still = test::ReadFileBytes(video.substr(0, video.size() - 4) + "_000" + std::to_string(i) + ".m2v");
      joined.insert(joined.end(), still.begin(), still.end());
    }
    EXPECT_TRUE(joined == whole);
    EXPECT_EQ(form.VideoStreams.size(), 6u);
    ASSERT_EQ(form.ScriptTracks.size(), timed ? 2u : 1u);
    for (size_t t = 0; t < form.ScriptTracks.size(); ++t) {
      const disc::TVideoTrack& track = form.ScriptTracks[t];
      ASSERT_EQ(track.Stills.size(), timed ? 3u : 6u);
      EXPECT_TRUE(track.Stills.front().Start.IsZero());
      if (!timed) continue;
      EXPECT_EQ(track.Name, "t001_v001x002-t_" + std::to_string(t + 1));
      EXPECT_EQ(track.Stills.back().Start, (core::TTimeCode{0, 0, 2, 0}));
      // The track's audio is its three seconds of the slide show's.
      const disc::TAudioPlayItem& item = track.AudioStreams.front().PlayItems.front();
      EXPECT_EQ(item.Start,
                t ? core::TimecodeDifference(form.FrameRate, {0, 0, 3, 0},
                                             form.ScriptTracks[0].AudioStreams.front().PlayItems.front().Delay)
                  : core::TTimeCode{});
    }
  }
}

}  // namespace
}  // namespace tess::demux
