// Re-authoring tracks. After the demultiplexing, the title outputs of a title
// set that runs in Main mode lie one set per VOB (or cell); the authoring tool
// wants one set per track. The cells of the title set are walked in (VOB id,
// cell id) order: runs of motion cells become one track whose files are the
// cells' files joined in that order, and a still cell becomes a track of its
// own. Every file of a track is complete before any cell file it replaces is
// deleted; a track that cannot be joined leaves its cells as they were.
#include "demux/reauthoring.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "core/byte_order.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "demux/demux_context.h"
#include "demux/subpic_results.h"
#include "demux/track_folders.h"
#include "disc/cell_lookups.h"
#include "disc/vob_scout.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "streams/audio_cut.h"
#include "streams/m2v_cache.h"
#include "streams/m2v_rewrite.h"
#include "streams/wav.h"
#include "subpic/services.h"

namespace tess::demux {

namespace {

namespace fs = std::filesystem;
using core::DropTail;
using core::IsFile;

// The video outputs' stream suffixes ("_e0" and the extension).
constexpr const char* kVideoSuffixes[] = {"_e0.m2v", "_e1.m2v", "_e2.264", "_e3.264", "_55.vc1", "_56.vc1"};
constexpr size_t kVideoSuffixLength = 7;
constexpr size_t kExtensionLength = 4;
constexpr size_t kStreamTagLength = 3;  // "_c0"
constexpr uint32_t kFirstSubpicId = 0x20;
constexpr uint32_t kLastSubpicId = 0x3F;
constexpr size_t kSubpicStreams = 32;
constexpr uint8_t kTitles = 2;

struct TSideFamily {
  const char* Extension;
  uint32_t First;
  uint32_t Last;
};
// The stream ids the writers name their outputs by, per family.
constexpr TSideFamily kSideFamilies[] = {{".ac3", 0xC0, 0xCF},
                                         {".dts", 0x88, 0x8F},
                                         {".mlp", 0xB0, 0xB7},
                                         {".wav", 0xA0, 0xAF},
                                         {".pcm", 0xA0, 0xAF},
                                         {".mpa", 0xC0, 0xC7},
                                         {".sup", kFirstSubpicId, kLastSubpicId}};

// An audio side file (one the audio registry lists).
bool IsAudioSuffix(const std::string& Suffix) {
  for (const char* e : {".ac3", ".dts", ".mlp", ".wav", ".mpa"})
    if (Suffix.ends_with(e)) return true;
  return false;
}

// The stream id of a "_xx.ext" suffix.
uint32_t SuffixStreamId(const std::string& Suffix) {
  return static_cast<uint32_t>(std::stoul(Suffix.substr(1, 2), nullptr, 16));
}

// The domain (1 menus, 2 titles, 3 first play) that a video output belongs to.
uint8_t DomainOfVideoEntry(const disc::TVideoStreamEntry& E) {
  if (E.DomainNumber > 0) return kTitles;
  if (E.DomainNumber < 0 && E.Path.find("/FirstPGC/") != std::string::npos) return kPgcFirstPlayLookup;
  return kPgcMenu;
}

core::TTimeCode EntryLength(double Rate, const disc::TVideoStreamEntry& E) {
  return core::TimecodeDifference(Rate, E.EndTime, E.StartTime);
}

}  // namespace

// ---- lookups ----

std::string OutputStem(const std::string& VideoPath) {
  for (const char* suffix : kVideoSuffixes)
    if (VideoPath.ends_with(suffix)) return DropTail(VideoPath, kVideoSuffixLength);
  return DropTail(VideoPath, platform::ExtractFileExt(VideoPath).size());
}

const std::vector<std::string>& StreamSideSuffixes() {
  static const std::vector<std::string> suffixes = [] {
    std::vector<std::string> out;
    for (const TSideFamily& f : kSideFamilies)
      for (uint32_t id = f.First; id <= f.Last; ++id) out.push_back("_" + disc::IntToHexLower(id, 2) + f.Extension);
    out.push_back(".dat");
    out.push_back(".hlt2");
    return out;
  }();
  return suffixes;
}

bool ReadSideFile(core::RunContext& Run, const std::string& File, std::vector<uint8_t>& Bytes) {
  Bytes.clear();
  const int64_t size = core::GetFileSizeByName(File);
  if (size > kMaxSideFileBytes) {
    Run.LogError(File + " is larger than any side file of a run; it is not read");
    Run.NoteSkipped(File + ": larger than any side file of a run; it was not read");
    return false;
  }
  Bytes.resize(static_cast<size_t>(size));
  int err = 0;
  const int64_t got = platform::ReadFileHead(File, Bytes.data(), Bytes.size(), &err);
  if (got == size) return true;
  // A file that cannot be opened or ends early is no whole side file either.
  streams::ReportReadError(Run, File, err);
  return false;
}

disc::TVideoTrack* FindTrackOfVideoEntry(disc::RunRegistries& Reg, const disc::TVideoStreamEntry& Entry) {
  const std::string name = TrackNameOfVideoFile(Entry.Path);
  const uint8_t domain = DomainOfVideoEntry(Entry);
  // Title tracks carry their title set's number, the others their information file's index.
  const int32_t ifo = domain == kTitles ? Entry.DomainNumber : Entry.DomainIndex;
  for (auto& t : Reg.ScriptTracks)
    if (t.Name == name && t.FileName == Entry.Name && t.Domain == domain && t.IFOIndex == ifo) return &t;
  return nullptr;
}

std::optional<core::TTimeCode> TitleCellPlaybackTime(const disc::DiscModel& Disc, int32_t IFOIndex, uint32_t VobId,
                                                     uint32_t CellId) {
  const disc::TPGC* pgc = PgcOfCell(Disc, IFOIndex, kPgcTitle, VobId, CellId);
  const int64_t i = disc::FindCellIndex(pgc, VobId, CellId);
  if (i < 0 || static_cast<size_t>(i) >= pgc->CellPlayback.size()) return std::nullopt;
  return pgc->CellPlayback[static_cast<size_t>(i)].PlaybackTime;
}

core::TTimeCode TrackVideoDuration(const disc::DiscModel& Disc, disc::RunRegistries& Reg,
                                   const disc::TVideoTrack& Track) {
  core::TTimeCode sum;
  bool whole = !Track.Scenes.empty();
  for (const auto& scene : Track.Scenes) {
    const auto t = TitleCellPlaybackTime(Disc, Track.IFOIndex, scene.VobId, scene.CellId);
    if (!t) {
      whole = false;
      break;
    }
    sum = core::AddTimecodes(Disc.FrameRate, sum, *t);
  }
  if (whole) return sum;
  const disc::TVideoStreamEntry* e = disc::FindVideoStreamByName(Reg, Track.FileName);
  return e ? EntryLength(Disc.FrameRate, *e) : core::TTimeCode{};
}

int32_t FindMainVTS(const disc::DiscModel& Disc) {
  // A title set given alone is loaded at index 0: the records' kinds, not
  // their places, say which are title sets.
  int32_t best = 1;
  int64_t longest = -1;
  for (int32_t i = disc::FirstTitleSetIndex(Disc);
       i < Disc.TitleSetCount && static_cast<size_t>(i) < Disc.IFOFiles.size(); ++i) {
    if (Disc.IFOFiles[static_cast<size_t>(i)].Kind != disc::ifoVTS) continue;
    int64_t frames = 0;
    for (const auto& e : Disc.IFOFiles[static_cast<size_t>(i)].VTS_PGCIT.PGCs)
      if (e.PGC) frames += core::TimecodeToFrames(Disc.FrameRate, e.PGC->PlaybackTime);
    if (frames > longest) {
      longest = frames;
      best = i;
    }
  }
  return best;
}

bool IsMainModeTitleSet(const disc::DiscModel& Disc, const state::TVTSListForm& Marks, int32_t IFOIndex) {
  if (IFOIndex < 0 || IFOIndex >= Disc.TitleSetCount || static_cast<size_t>(IFOIndex) >= Disc.IFOFiles.size())
    return false;
  const disc::TIFOFile& rec = Disc.IFOFiles[static_cast<size_t>(IFOIndex)];
  const size_t mark = static_cast<size_t>(rec.TitleSetNumber) + 1;
  return rec.Kind == disc::ifoVTS && mark < Marks.MainModeMark.size() && Marks.MainModeMark[mark] != 0;
}

namespace {

// ---- the walk over a title set's cells ----

struct TCellRef {
  uint32_t VobId = 0;
  uint32_t CellId = 0;
  uint32_t Angle = 0;
  size_t Position = 0;  // in the sorted list, from 1
};

// One cell of a track; Video is null for a later cell of a VOB whose output
// (one file for all its cells) was joined with an earlier cell.
struct TTrackCell {
  TCellRef Cell;
  disc::TVideoStreamEntry* Video = nullptr;
};

struct TTrackPlan {
  bool Still = false;
  int32_t Number = 0;
  std::vector<TTrackCell> Cells;
};

// What a finished track leaves for the rebuild of the registries and the model.
struct TBuiltTrack {
  disc::TVideoStreamEntry Video;
  std::vector<disc::TAudioStreamEntry> Audio;
  disc::TVideoTrack Track;
  disc::TVideoTrack* Still = nullptr;  // a still's own script track, which takes its place among the tracks
};

struct TRebuild {
  std::vector<TBuiltTrack> Tracks;
  std::set<const disc::TVideoStreamEntry*> Consumed;  // cell outputs whose files go
};

// The cells the title set's scout found, once each, ordered by (VOB id, cell id).
std::vector<TCellRef> SortedCells(const disc::TVobScaut& Scout) {
  std::vector<TCellRef> cells;
  std::set<std::pair<uint32_t, uint32_t>> seen;
  for (const auto& run : Scout.Cells)
    if (seen.insert({run.VobId, run.CellId}).second) cells.push_back({run.VobId, run.CellId, run.AngleNumber, 0});
  std::stable_sort(cells.begin(), cells.end(), [](const TCellRef& A, const TCellRef& B) {
    return A.VobId != B.VobId ? A.VobId < B.VobId : A.CellId < B.CellId;
  });
  for (size_t i = 0; i < cells.size(); ++i) cells[i].Position = i + 1;
  return cells;
}

// The title chains of title Title (1-based) hold the cell.
bool TitlePlaysCell(const disc::TIFOFile& Rec, int32_t Title, uint32_t VobId, uint32_t CellId) {
  for (const auto& e : Rec.VTS_PGCIT.PGCs)
    if ((e.Category & 0x7F) == Title && disc::FindCellIndex(e.PGC.get(), VobId, CellId) >= 0) return true;
  return false;
}

// A title chain of the title set starts with the cell, exactly one does, and
// no chain plays it seamlessly: the start of a program the advanced Main mode
// keeps apart.
bool StartsOwnChain(const disc::DiscModel& Disc, int32_t IFOIndex, uint32_t VobId, uint32_t CellId) {
  return disc::IsUniquePgcStart(Disc, IFOIndex, VobId, CellId) &&
         !disc::IsCellSeamlessInVts(Disc, VobId, CellId, IFOIndex);
}

class TTitleSetWork {
 public:
  TTitleSetWork(const TDemuxEnv& Env, const core::TrackSettings& Settings, int32_t IFOIndex, TRebuild& Rebuild)
      : env_(Env),
        settings_(Settings),
        index_(IFOIndex),
        rebuild_(Rebuild),
        number_(Env.Disc.IFOFiles[static_cast<size_t>(IFOIndex)].TitleSetNumber) {}

  bool Run();

 private:
  disc::TVideoStreamEntry* CellVideo(uint32_t VobId, uint32_t CellId);
  void Plan(const std::vector<TCellRef>& Cells, disc::TVobScaut& Scout);
  std::string TrackName(const TTrackPlan& P) const;
  int32_t SceneCount(const TTrackPlan& P) const;
  bool MakeStill(const TTrackPlan& P, disc::TVideoTrack*& Track);

  const TDemuxEnv& env_;
  const core::TrackSettings& settings_;
  int32_t index_;
  TRebuild& rebuild_;
  int32_t number_;
  std::vector<TTrackPlan> plans_;
  std::set<const disc::TVideoStreamEntry*> stills_;  // cells made stills
  friend class TTrackBuilder;
};

disc::TVideoStreamEntry* TTitleSetWork::CellVideo(uint32_t VobId, uint32_t CellId) {
  for (auto& e : env_.Reg.VideoStreams)
    if (e.Enabled && e.DomainIndex == index_ && e.DomainNumber > 0 && e.VobId == VobId && e.CellId == CellId) return &e;
  return nullptr;
}

// The title set's audio-cell table marks the cell as the start of its VOB's
// audio in the first angle that holds the VOB.
bool AngleTableStartsTrack(const disc::TIFOFile& Rec, uint32_t VobId, uint32_t CellId) {
  if (VobId < 1 || VobId > Rec.AudioCellTable[0].size()) return false;
  for (const disc::TAudioCellBlock& angle : Rec.AudioCellTable) {
    const disc::TAudioCellEntry& e = angle[VobId - 1];
    if (e.Seen) return e.FirstAudioCell == static_cast<int32_t>(CellId) && e.Mark != 0;
  }
  return false;
}

// The title chain (from 1) that plays the cell; 0 when none does.
int32_t ChainOfCell(const disc::TIFOFile& Rec, uint32_t VobId, uint32_t CellId) {
  for (size_t i = 0; i < Rec.VTS_PGCIT.PGCs.size(); ++i)
    if (disc::FindCellIndex(Rec.VTS_PGCIT.PGCs[i].PGC.get(), VobId, CellId) >= 0) return static_cast<int32_t>(i + 1);
  return 0;
}

// The angle each cell's block keeps, by the cells' positions in Cells (0 for a
// cell outside a block): Wanted, or angle 1 where the block has no angle Wanted,
// so that a block never loses every angle. In (VOB id, cell id) order a block's
// angles follow each other; a new block starts where an angle VOB comes back to
// an angle not above the one before.
std::vector<int32_t> KeptAngles(core::RunContext& Run, const disc::TIFOFile& Rec, const std::vector<TCellRef>& Cells,
                                int32_t Wanted) {
  std::vector<int32_t> kept(Cells.size(), 0);
  if (Wanted == 0) return kept;
  for (size_t first = 0; first < Cells.size();) {
    if (Cells[first].Angle == 0) {
      ++first;
      continue;
    }
    size_t end = first + 1;
    while (end < Cells.size() && Cells[end].Angle > 0 &&
           (Cells[end].VobId == Cells[end - 1].VobId || Cells[end].Angle > Cells[end - 1].Angle))
      ++end;
    const bool has = std::any_of(Cells.begin() + static_cast<long>(first), Cells.begin() + static_cast<long>(end),
                                 [&](const TCellRef& C) { return static_cast<int32_t>(C.Angle) == Wanted; });
    if (!has)
      Run.LogError(std::string(core::msg::CanNotFoundAngle) + std::to_string(Wanted) + std::string(core::msg::InPGC) +
                   std::to_string(ChainOfCell(Rec, Cells[first].VobId, Cells[first].CellId)) +
                   std::string(core::msg::Angle1WasInsertedInstead));
    std::fill(kept.begin() + static_cast<long>(first), kept.begin() + static_cast<long>(end), has ? Wanted : 1);
    first = end;
  }
  return kept;
}

// Splits the walk into tracks. A new track starts with a motion cell after a
// still (or at the start), at a program the advanced Main mode keeps apart, or
// where the audio-cell table marks a start; with InsertAngle=n the kept
// angle's cell (angle 1 in a block without angle n) plays on in the track
// around it. Keeping every angle
// (InsertAngle=0), each angle VOB is a track of its own and the cell after the
// block starts another: one track would play the angles one after another.
// A cell without an output of its own plays in its VOB's output when that was
// joined just before it; otherwise it counts as no motion.
void TTitleSetWork::Plan(const std::vector<TCellRef>& Cells, disc::TVobScaut& Scout) {
  const core::TrackSettings& o = settings_;
  const disc::TIFOFile& rec = env_.Disc.IFOFiles[static_cast<size_t>(index_)];
  int32_t number = 0;
  bool previousMotion = false;
  bool previousAngle = false;
  // The motion track being filled (plans_ grows, so by index); -1 none.
  int64_t current = -1;
  uint32_t currentVob = 0;  // the VOB whose output the track joined last
  // A cell played by several titles is probed once; later visits keep its mark.
  std::set<const disc::TVideoStreamEntry*> probed;
  const std::vector<int32_t> kept = KeptAngles(env_.Run, rec, Cells, o.InsertAngle);

  auto walk = [&](const TCellRef& c, bool TitleStart) {
    disc::TVideoStreamEntry* video = CellVideo(c.VobId, c.CellId);
    const int32_t keep = kept[c.Position - 1];  // 0 outside a block, or every angle kept
    const bool skippedAngle = keep != 0 && static_cast<int32_t>(c.Angle) != keep;
    if (!video && current >= 0 && currentVob == c.VobId && previousMotion) {
      if (!skippedAngle) plans_[static_cast<size_t>(current)].Cells.push_back({c, nullptr});
      return;
    }
    bool motion = false;
    if (video && probed.insert(video).second) {
      // The still test is the picture count of the output.
      video->StillMark = streams::IsM2VStill(env_.Run, video->Path) ? 1 : 0;
      if (o.AddSE && c.Angle == 0 && Scout.InterleavedCellCount(c.VobId) > 0 &&
          disc::CellRangeFree(Scout.Cells, static_cast<int32_t>(c.CellId), c.VobId) &&
          platform::ToLowerAscii(video->Path).ends_with(".m2v")) {
        env_.Run.Log(core::kLogInfo, streams::AppendM2VSequenceEnd(video->Path)
                                         ? std::string(core::msg::SEQUENCEENDCodeWasAdded) + " " + video->Path
                                         : std::string(core::msg::SEQUENCEENDCodeWasNotAdded) + " " + video->Path);
      }
    }
    if (video) {
      motion = video->StillMark == 0;
      // A still is a track of its own; a cell met again in a later title keeps the one it has.
      if (!motion) {
        current = -1;
        if (stills_.insert(video).second) plans_.push_back({true, ++number, {{c, video}}});
      }
    }
    if (skippedAngle) {
      if (video && motion) rebuild_.Consumed.insert(video);  // an angle that is not kept
      return;
    }
    if (motion) {
      bool start = !previousMotion || current < 0 || TitleStart;
      start |=
          o.Titles == core::TitleMode::Main && o.AdvancedMain && StartsOwnChain(env_.Disc, index_, c.VobId, c.CellId);
      start |= AngleTableStartsTrack(rec, c.VobId, c.CellId);
      if (o.InsertAngle == 0) start |= (c.Angle > 0 && c.VobId != currentVob) || (c.Angle == 0 && previousAngle);
      if (start) {
        plans_.push_back({false, ++number, {}});
        current = static_cast<int64_t>(plans_.size()) - 1;
      }
      plans_[static_cast<size_t>(current)].Cells.push_back({c, video});
      currentVob = c.VobId;
      previousAngle = c.Angle > 0;
    }
    previousMotion = motion;
  };

  if (!o.MainByTitle) {
    for (const TCellRef& c : Cells) walk(c, false);
  } else {
    for (int32_t t = 1; t <= rec.T_VTS_PTT_SRPT.TitleCount; ++t) {
      bool first = true;
      for (const TCellRef& c : Cells) {
        if (!TitlePlaysCell(rec, t, c.VobId, c.CellId)) continue;
        walk(c, first);
        first = false;
      }
      current = -1;
    }
  }
}

// The script track whose scenes a joined cell output brings into its track:
// the output's own (Track), when it lists any.
const disc::TVideoTrack* SceneSource(const disc::TVideoTrack* Track) {
  return Track && !Track->Scenes.empty() ? Track : nullptr;
}

// The scenes the track will have: each joined output's script track brings
// all its scenes (the cells after it in the same output among them); a cell
// without one brings one scene.
int32_t TTitleSetWork::SceneCount(const TTrackPlan& P) const {
  size_t count = 0;
  const disc::TVideoTrack* source = nullptr;
  for (const TTrackCell& c : P.Cells) {
    if (c.Video) source = SceneSource(FindTrackOfVideoEntry(env_.Reg, *c.Video));
    count += source ? (c.Video ? source->Scenes.size() : 0) : 1;
  }
  return static_cast<int32_t>(count);
}

// t01_m001v003: title set, track number and the number of the track's scenes;
// a still track t01_m005s001.
std::string TTitleSetWork::TrackName(const TTrackPlan& P) const {
  const std::string head = "t" + core::IntToStrZeroPad(number_, 2) + "_m" + core::IntToStrZeroPad(P.Number, 3);
  return P.Still ? head + "s001" : head + "v" + core::IntToStrZeroPad(SceneCount(P), 3);
}

// A still cell: only its video moves, to the track's still name, and its
// script track follows it; its audio, subpicture and highlight files stay as
// they are, and so do their registry entries (kept as a still's).
bool TTitleSetWork::MakeStill(const TTrackPlan& P, disc::TVideoTrack*& Track) {
  disc::TVideoStreamEntry& e = *P.Cells.front().Video;
  const std::string name = TrackName(P);
  const std::string target = platform::ExtractFilePath(e.Path) + name + platform::ExtractFileExt(e.Path);
  disc::TVideoTrack* track = Track = FindTrackOfVideoEntry(env_.Reg, e);
  std::error_code ec;
  if (IsFile(target)) ec = std::make_error_code(std::errc::file_exists);
  if (!ec) fs::rename(e.Path, target, ec);
  if (ec) {
    env_.Run.LogError("Can not move file " + e.Path + " to " + target + ": " + ec.message() +
                      "; the still stays as it was demultiplexed.");
    return false;
  }
  // The scan caches describe the same bytes under the new name.
  for (const char* cache : {".vnf", ".ipos"})
    if (IsFile(e.Path + cache) && env_.Run.Sources.Find(target + cache).empty())
      fs::rename(e.Path + cache, target + cache, ec);
  e.Path = target;
  e.Name = name;
  e.StillMark = 1;
  if (track) {
    track->Name = name + "-t";
    track->FileName = name;
  }
  subpic::TitleNameListAdd(env_.Disc, env_.Reg, name, index_);
  return true;
}

// ---- one track ----

// The image folder of a track's subpicture stream: beside the cell folders,
// named by the track, with the stream folder's own name
// (".../Titles/t001_v001x003/_01_EnglishWLP/" gives ".../Titles/<track>/_01_EnglishWLP/").
std::string TrackImageFolder(const std::string& CellStreamFolder, const std::string& TrackBase) {
  const std::string streamFolder = platform::ExcludeTrailingSlash(CellStreamFolder);
  const std::string cellFolder = platform::ExtractFilePath(streamFolder);
  const std::string base = platform::ExtractFilePath(platform::ExcludeTrailingSlash(cellFolder));
  return base + TrackBase + "/" + platform::ExtractFileName(streamFolder) + "/";
}

// A subpicture segment of a joined cell, placed in the track.
struct TTrackSegment {
  disc::TSubPictureSegment Segment;
  size_t StreamIndex = 0;
  std::string StreamName;
  uint32_t StreamNumber = 0;
};

class TTrackBuilder {
 public:
  TTrackBuilder(TTitleSetWork& Work, const TTrackPlan& Plan)
      : w_(Work), env_(Work.env_), settings_(Work.settings_), plan_(Plan), name_(Work.TrackName(Plan)) {}

  bool Build(TBuiltTrack& Out);

 private:
  bool JoinFile(const std::string& Source, const std::string& Target);
  bool JoinCellFiles(const TTrackCell& C);
  bool ReadHighlights(const std::string& File);
  // Per subpicture stream: where the cell's ".sup" starts in the track's, and its size.
  using TSupPlaces = std::map<uint32_t, std::pair<int64_t, int64_t>>;
  bool ReadIndexRecords(const std::string& File, const TSupPlaces& Places);
  void AddCellToModel(const TTrackCell& C);
  void MergeAudio(const disc::TVideoTrack& Cell);
  std::string SceneName(uint32_t CellId) const;
  std::string TrackFileName(const std::string& CellFileName) const;
  void TakeSegments(const TTrackCell& C);
  bool Finish(TBuiltTrack& Out);
  // Puts a file of the track in place whole; it goes again when the track is undone.
  bool WriteTrackFile(const std::string& File, const void* Data, size_t Size);
  bool WriteIndexFile();
  bool WriteHighlights();
  bool WriteLogFile();
  void BuildSubpictureStreams();
  void Undo();

  TTitleSetWork& w_;
  const TDemuxEnv& env_;
  const core::TrackSettings& settings_;
  const TTrackPlan& plan_;
  std::string name_;
  std::string stem_;                  // folder + track name
  std::vector<std::string> created_;  // files this track made
  TBuiltTrack out_;
  bool started_ = false;
  core::TTimeCode running_;
  const disc::TVideoTrack* cellTrack_ = nullptr;  // the script track of the output joined last
  std::string cellBase_;                          // the file name of that output's stem
  const disc::TVideoTrack* scenesFrom_ = nullptr;  // its script track, when it brought its scenes
  std::set<std::string> cellEntries_;              // audio entries of the track made from that output
  std::vector<std::pair<size_t, std::string>> log_;
  std::vector<uint8_t> highlights_;
  uint32_t highlightCount_ = 0;
  std::vector<subpic::TSupIndexRecord> records_;
  std::array<std::vector<TTrackSegment>, kSubpicStreams> lists_;
};

bool TTrackBuilder::JoinFile(const std::string& Source, const std::string& Target) {
  const bool ours = std::find(created_.begin(), created_.end(), Target) != created_.end();
  bool ok;
  if (ours) {
    ok = streams::AppendFileData(env_.Run, Source, Target, false, [this] { env_.Run.ProcessMessages(); });
  } else {
    ok = core::CopyFileRange(env_.Run, Source, Target, nullptr, &env_.Run.Abort, 0, UINT64_MAX, 0);
    if (ok) created_.push_back(Target);
  }
  if (!ok && !env_.Run.Aborted()) env_.Run.LogError("Can not copy file " + Source + " to " + Target);
  return ok;
}

bool TTrackBuilder::ReadHighlights(const std::string& File) {
  if (!IsFile(File)) return true;
  std::vector<uint8_t> bytes;
  if (!ReadSideFile(env_.Run, File, bytes)) return false;
  // The count, then each record with its buttons: a file that says more than it
  // holds is not joined.
  size_t at = 4;
  const uint32_t count = bytes.size() >= 4 ? core::ReadLE32(bytes.data()) : 0;
  bool whole = bytes.size() >= 4;
  for (uint32_t i = 0; whole && i < count; ++i) {
    if (at + disc::kHighlightItemSize > bytes.size()) {
      whole = false;
      break;
    }
    at += disc::kHighlightItemSize + bytes[at + 210] * disc::kHighlightButtonSize;
    whole = at <= bytes.size();
  }
  if (!whole) {
    env_.Run.LogError("The highlight file " + File + " is shorter than its records; it is not joined into " + name_);
    return false;
  }
  highlights_.insert(highlights_.end(), bytes.begin() + 4, bytes.begin() + static_cast<long>(at));
  highlightCount_ += count;
  return true;
}

// The cell's index records, their offsets moved to where the cell's ".sup"
// files start in the track's. False when the index cannot be read: the track
// would lose the cell's subpictures.
bool TTrackBuilder::ReadIndexRecords(const std::string& File, const TSupPlaces& Places) {
  if (!IsFile(File)) return true;
  std::vector<uint8_t> bytes;
  if (!ReadSideFile(env_.Run, File, bytes)) return false;
  if (bytes.size() % subpic::kSupIndexRecordSize != 0)
    env_.Run.LogError(File + " ends inside a record; its last " +
                      std::to_string(bytes.size() % subpic::kSupIndexRecordSize) + " bytes are passed over");
  for (size_t at = 0; at + subpic::kSupIndexRecordSize <= bytes.size(); at += subpic::kSupIndexRecordSize) {
    subpic::TSupIndexRecord r = subpic::DecodeSupIndexRecord(bytes.data() + at);
    const auto place = Places.find(r.StreamId);
    const std::string record = File + ": record " + std::to_string(at / subpic::kSupIndexRecordSize + 1);
    if (place == Places.end()) {
      env_.Run.LogError(record + " names subpicture stream " + std::to_string(r.StreamId) +
                        ", which has no file to join; it is passed over");
      continue;
    }
    const auto [base, size] = place->second;
    if (r.Offset >= size || static_cast<uint64_t>(base) + r.Offset > UINT32_MAX) {
      env_.Run.LogError(record + " puts a unit at byte " + std::to_string(r.Offset) + " of a " + std::to_string(size) +
                        "-byte file; it is passed over");
      continue;
    }
    r.Offset += static_cast<uint32_t>(base);
    records_.push_back(r);
  }
  return true;
}

bool TTrackBuilder::JoinCellFiles(const TTrackCell& C) {
  const std::string source = OutputStem(C.Video->Path);
  cellEntries_.clear();
  if (!JoinFile(C.Video->Path, stem_ + platform::ExtractFileExt(C.Video->Path))) return false;
  TSupPlaces supPlaces;
  for (const std::string& suffix : StreamSideSuffixes()) {
    if (suffix == ".dat" || suffix == ".hlt2" || !IsFile(source + suffix)) continue;
    const std::string target = stem_ + suffix;
    const bool sup = suffix.ends_with(".sup");
    const int64_t before = IsFile(target) ? core::GetFileSizeByName(target) : 0;
    if (!JoinFile(source + suffix, target)) return false;
    if (sup) supPlaces[SuffixStreamId(suffix)] = {before, core::GetFileSizeByName(source + suffix)};
    if (!IsAudioSuffix(suffix)) continue;
    // The joined file's entry: a copy of the first cell's entry that had one.
    const bool known = std::any_of(out_.Audio.begin(), out_.Audio.end(),
                                   [&](const disc::TAudioStreamEntry& A) { return A.Path == target; });
    if (known) continue;
    for (const auto& a : env_.Reg.AudioStreams) {
      if (a.Path != source + suffix) continue;
      disc::TAudioStreamEntry copy = a;
      copy.Path = target;
      copy.Name = platform::ExtractFileName(DropTail(target, kExtensionLength));
      cellEntries_.insert(copy.Name);
      out_.Audio.push_back(std::move(copy));
      break;
    }
  }
  if (!ReadHighlights(source + ".hlt2") || !ReadIndexRecords(source + ".dat", supPlaces)) return false;
  log_.emplace_back(C.Cell.Position, C.Video->Path);
  return true;
}

// The audio streams of a joined cell that the track lacks, by stream id (the
// last two characters of the first play item's name): renamed to the track's
// files and delayed by the cell's start in the track; the track's streams then
// follow the cell's order.
void TTrackBuilder::MergeAudio(const disc::TVideoTrack& Cell) {
  auto key = [](const disc::TAudioStream& S) {
    const std::string& n = S.PlayItems.front().FileName;
    return n.size() >= 2 ? n.substr(n.size() - 2) : n;
  };
  auto& streams = out_.Track.AudioStreams;
  bool appended = false;
  for (const disc::TAudioStream& s : Cell.AudioStreams) {
    if (s.PlayItems.empty()) continue;
    const bool have = std::any_of(streams.begin(), streams.end(), [&](const disc::TAudioStream& T) {
      return !T.PlayItems.empty() && key(T) == key(s);
    });
    if (have) continue;
    disc::TAudioStream copy = s;
    copy.StreamNumber = static_cast<int32_t>(streams.size() + 1);
    disc::TAudioPlayItem& item = copy.PlayItems.front();
    item.FileName = TrackFileName(item.FileName);
    const core::TTimeCode before = item.Delay;
    item.Delay = core::AddTimecodes(env_.Disc.FrameRate, item.Delay, running_);
    // The entry this cell's file made for the track starts where the cell does.
    for (auto& a : out_.Audio) {
      if (a.Name != item.FileName || !cellEntries_.count(a.Name)) continue;
      a.StartTime = item.Delay;
      if (a.NoDelay) {
        item.Delay = a.StartTime = core::TimecodeDifference(env_.Disc.FrameRate, item.Delay, before);
        a.NoDelay = item.NoDelay = 0;
      }
    }
    streams.push_back(std::move(copy));
    appended = true;
  }
  if (!appended) return;
  disc::TAudioStreamList ordered;
  for (const disc::TAudioStream& s : Cell.AudioStreams) {
    if (s.PlayItems.empty()) continue;
    for (auto& t : streams)
      if (!t.PlayItems.empty() && key(t) == key(s)) {
        ordered.push_back(std::move(t));
        ordered.back().StreamNumber = static_cast<int32_t>(ordered.size());
        break;
      }
  }
  streams = std::move(ordered);
}

// The subpicture units the writers registered for the cell become segments of
// the track, starting where the cell starts in it; what the cell's own track
// kept of a unit (its stream's name) goes with it.
void TTrackBuilder::TakeSegments(const TTrackCell& C) {
  core::TTimeCode start = running_;
  for (auto s = out_.Track.Scenes.rbegin(); s != out_.Track.Scenes.rend(); ++s)
    if (s->VobId == C.Cell.VobId && s->CellId == C.Cell.CellId) {
      start = s->StartTime;
      break;
    }
  const uint32_t shift = static_cast<uint32_t>(static_cast<double>(core::TimecodeToFrames(env_.Disc.FrameRate, start)) *
                                               1000 / env_.Disc.FrameRate);
  for (const disc::TSubPictureItem& item : env_.Reg.SubPictureItems) {
    if (item.Kind != kTitles || item.DomainIndex != w_.index_ || item.VobId != C.Cell.VobId ||
        item.CellId != C.Cell.CellId || item.SourceNumber < kFirstSubpicId || item.SourceNumber > kLastSubpicId)
      continue;
    TTrackSegment e{SegmentOfItem(item, item.SortKey), item.SourceNumber - kFirstSubpicId, {}, item.StreamNumber};
    e.StreamName = (e.StreamIndex + 1) % 2 == 0 ? "Pan" : "Wide";
    if (cellTrack_)
      for (const auto& s : cellTrack_->SubPictureStreams)
        if (s.StreamId == static_cast<int32_t>(item.SourceNumber)) {
          e.StreamName = s.Name;
          e.StreamNumber = s.Value ? s.Value : e.StreamNumber;
        }
    e.Segment.SortKey += shift;
    lists_[e.StreamIndex].push_back(std::move(e));
  }
}

void TTrackBuilder::AddCellToModel(const TTrackCell& C) {
  const double rate = env_.Disc.FrameRate;
  if (C.Video) {
    cellTrack_ = FindTrackOfVideoEntry(env_.Reg, *C.Video);
    cellBase_ = platform::ExtractFileName(OutputStem(C.Video->Path));
    if (!started_) {
      started_ = true;
      disc::TVideoStreamEntry& v = out_.Video;
      v = *C.Video;
      v.Path = stem_ + platform::ExtractFileExt(C.Video->Path);
      v.Name = platform::ExtractFileName(stem_);
      v.StartTime = {};
      v.StillMark = 0;
      // The first cell's script track, its audio streams taken over as they
      // are, their play items renamed to the track's files.
      disc::TVideoTrack& t = out_.Track;
      if (cellTrack_) t = *cellTrack_;
      t.Scenes.clear();
      t.SubPictureStreams.clear();
      t.Stills.clear();
      if (!cellTrack_) t.AudioStreams.clear();
      for (auto& s : t.AudioStreams)
        for (auto& item : s.PlayItems) item.FileName = TrackFileName(item.FileName);
      if (t.HighlightStreams.empty()) t.HighlightStreams.resize(1);
      t.Name = v.Name + "-t";
      disc::InitVideoTrack(t, v, v.Name, {});
      t.Domain = kTitles;
      t.IFOIndex = w_.number_;
      t.VobId = C.Cell.VobId;
      t.StillKind = v.StillKind;
    } else if (cellTrack_) {
      MergeAudio(*cellTrack_);
    }
    // The output's own script track brings its scenes, each where it starts
    // in the output, and its duration.
    scenesFrom_ = SceneSource(cellTrack_);
    if (scenesFrom_) {
      for (const disc::TSceneItem& s : scenesFrom_->Scenes) {
        disc::TSceneItem& scene = out_.Track.Scenes.emplace_back(s);
        scene.Name = SceneName(s.CellId);
        scene.StartTime = core::AddTimecodes(rate, running_, s.StartTime);
      }
      if (!settings_.TitleMakeSup) TakeSegments(C);
      running_ = core::AddTimecodes(rate, running_, TrackVideoDuration(env_.Disc, env_.Reg, *scenesFrom_));
      return;
    }
  } else if (scenesFrom_) {
    // A later cell of the output joined last: its scene came with the output's.
    if (!settings_.TitleMakeSup) TakeSegments(C);
    return;
  }
  // No script track for the cell: one scene, and the cell's playback time.
  disc::TSceneItem& scene = out_.Track.Scenes.emplace_back();
  const disc::TPGC* pgc = PgcOfCell(env_.Disc, w_.index_, kPgcTitle, C.Cell.VobId, C.Cell.CellId);
  scene.SeamlessFlag = disc::IsCellSeamless(C.Cell.VobId, C.Cell.CellId, pgc, false) ? 1 : 0;
  scene.SeamlessText = disc::SeamlessText(scene.SeamlessFlag != 0);
  scene.CellId = C.Cell.CellId;
  scene.VobId = C.Cell.VobId;
  scene.Name = SceneName(C.Cell.CellId);
  scene.StartTime = running_;
  if (!settings_.TitleMakeSup) TakeSegments(C);
  auto length = TitleCellPlaybackTime(env_.Disc, w_.index_, C.Cell.VobId, C.Cell.CellId);
  if (!length && C.Video) length = EntryLength(rate, *C.Video);
  if (length) running_ = core::AddTimecodes(rate, running_, *length);
}

// A scene of the track is named after the output of its cell.
std::string TTrackBuilder::SceneName(uint32_t CellId) const {
  return cellBase_ + "-t-s" + (CellId > 1 ? "_" + std::to_string(CellId - 1) : "");
}

// A file name of a cell output as the track's: the cell's base name before
// it becomes the track's (the names differ in length, so the base is
// replaced, not written over).
std::string TTrackBuilder::TrackFileName(const std::string& CellFileName) const {
  if (CellFileName.compare(0, cellBase_.size(), cellBase_) != 0) return CellFileName;
  return platform::ExtractFileName(stem_) + CellFileName.substr(cellBase_.size());
}

bool TTrackBuilder::WriteTrackFile(const std::string& File, const void* Data, size_t Size) {
  if (env_.Run.WritesOverSource(File)) return false;
  bool opened = false;
  int err = 0;
  if (!platform::ReplaceFileWith(File, Data, Size, &err, &opened)) {
    env_.Run.LogError(std::string(core::msg::CanNotOpenFile) + File + platform::ErrorReason(err));
    // A write that failed once made stops the run as any failed write does.
    if (opened) env_.Run.StopForWriteError(File);
    return false;
  }
  created_.push_back(File);
  return true;
}

bool TTrackBuilder::WriteIndexFile() {
  if (records_.empty()) return true;
  const std::string dat = stem_ + ".dat";
  const std::string base = platform::ExtractFileName(stem_);
  std::string trimmed = base;
  if (trimmed.size() >= 12) trimmed.replace(9, 3, "000");
  if (!subpic::TitleNameListContains(env_.Disc, env_.Reg, base) &&
      !subpic::TitleNameListContains(env_.Disc, env_.Reg, trimmed))
    subpic::TitleNameListAdd(env_.Disc, env_.Reg, base, w_.index_);
  std::vector<uint8_t> bytes(records_.size() * subpic::kSupIndexRecordSize);
  for (size_t i = 0; i < records_.size(); ++i) {
    subpic::TSupIndexRecord r = records_[i];
    std::string folder = env_.Reg.StringPool.Get(r.FolderText);
    if (folder.empty()) folder = platform::ExtractFilePath(stem_) + base + "/";
    const std::string images = TrackImageFolder(folder, base);
    if (!subpic::TitleNameListContains(env_.Disc, env_.Reg, images))
      subpic::TitleNameListAdd(env_.Disc, env_.Reg, images, r.DomainIndex);
    r.FolderText = r.ContextText = subpic::AddDataString(env_.Reg, images);
    subpic::EncodeSupIndexRecord(r, bytes.data() + i * subpic::kSupIndexRecordSize);
  }
  return WriteTrackFile(dat, bytes.data(), bytes.size());
}

bool TTrackBuilder::WriteHighlights() {
  if (highlightCount_ == 0) return true;
  const std::string file = stem_ + ".hlt2";
  std::vector<uint8_t> bytes(4);
  core::WriteLE32(bytes.data(), highlightCount_);
  bytes.insert(bytes.end(), highlights_.begin(), highlights_.end());
  return WriteTrackFile(file, bytes.data(), bytes.size());
}

// The joined cells, by their place in the title set's cell list.
bool TTrackBuilder::WriteLogFile() {
  if (plan_.Still || log_.empty()) return true;
  std::string text = "[Log-file]\r\n";
  for (const auto& [position, path] : log_)
    text += core::IntToStrZeroPad(static_cast<int64_t>(position), 2) + "=" + path + "\r\n";
  const std::string file = stem_ + ".log";
  return WriteTrackFile(file, text.data(), text.size());
}

// The segments of the joined cells (kept in the model when the title units are
// not indexed) become the track's streams, and their pictures move into the
// track's image folders, numbered in list order.
void TTrackBuilder::BuildSubpictureStreams() {
  const std::string base = platform::ExtractFileName(stem_);
  for (size_t i = 0; i < lists_.size(); ++i) {
    auto& list = lists_[i];
    if (list.empty()) continue;
    const disc::TSubPictureItem* first = disc::FindSubPictureItemByName(env_.Reg, list.front().Segment.Name);
    const std::string folderName =
        first ? platform::ExtractFileName(platform::ExcludeTrailingSlash(platform::ExtractFilePath(first->Path)))
              : "SubStream_" + disc::IntToHexLower(kFirstSubpicId + i, 2);
    const std::string folder = platform::ExtractFilePath(stem_) + base + "/" + folderName + "/";
    disc::TSubPictureStream& stream = out_.Track.SubPictureStreams.emplace_back();
    stream.StreamNumber = static_cast<int32_t>(out_.Track.SubPictureStreams.size());
    stream.StreamId = static_cast<int32_t>(kFirstSubpicId + i);
    for (size_t n = 1; n <= list.size(); ++n) {
      const TTrackSegment& e = list[n - 1];
      stream.Segments.push_back(e.Segment);
      stream.Name = e.StreamName;
      stream.Value = e.StreamNumber;
      disc::TSubPictureItem* item = disc::FindSubPictureItemByName(env_.Reg, e.Segment.Name);
      if (!item) continue;
      const std::string stemOld = DropTail(item->Path, kExtensionLength);
      std::string picture;
      for (const char* ext : {".bmp", ".png"})
        if (IsFile(stemOld + ext)) picture = stemOld + ext;
      if (picture.empty()) continue;
      const std::string name = platform::ExtractFileName(stemOld);
      const std::string moved = folder + DropTail(name, 4) + core::IntToStrZeroPad(static_cast<int64_t>(n), 4) +
                                platform::ExtractFileExt(picture);
      if (env_.Run.WritesOverSource(moved)) continue;
      core::CreateFileFolders(moved);
      std::error_code ec;
      fs::rename(picture, moved, ec);
      if (ec) {
        env_.Run.LogError("Can not move file " + picture + " to " + moved + ": " + ec.message());
        continue;
      }
      core::RemoveDirectoryChain(platform::ExtractFilePath(picture));
      item->Path = DropTail(moved, kExtensionLength) + platform::ExtractFileExt(item->Path);
    }
  }
}

void TTrackBuilder::Undo() {
  // After a write error that stopped the run the track's files are unfinished
  // outputs, and are named as they go.
  for (const std::string& f : created_)
    if (env_.Run.WriteStopped)
      env_.Run.RemoveUnfinishedOutput(f);
    else
      env_.Run.RemoveOwnFile(f);
  created_.clear();
}

bool TTrackBuilder::Finish(TBuiltTrack& Out) {
  if (!WriteIndexFile() || !WriteHighlights() || !WriteLogFile()) return false;
  if (!settings_.TitleMakeSup) BuildSubpictureStreams();
  out_.Video.EndTime = running_;
  if (!records_.empty() &&
      std::find(env_.Reg.DatFiles.begin(), env_.Reg.DatFiles.end(), stem_ + ".dat") == env_.Reg.DatFiles.end())
    env_.Reg.DatFiles.push_back(stem_ + ".dat");
  subpic::TitleNameListAdd(env_.Disc, env_.Reg, platform::ExtractFileName(stem_), w_.index_);
  Out = std::move(out_);
  return true;
}

bool TTrackBuilder::Build(TBuiltTrack& Out) {
  const TTrackCell* firstJoined = nullptr;
  for (const auto& c : plan_.Cells)
    if (c.Video && !firstJoined) firstJoined = &c;
  if (!firstJoined) return true;
  stem_ = platform::ExtractFilePath(firstJoined->Video->Path) + name_;
  for (const TTrackCell& c : plan_.Cells) {
    env_.Run.ProcessMessages();
    if (env_.Run.Aborted() || (c.Video && !JoinCellFiles(c))) {
      Undo();
      return false;
    }
    AddCellToModel(c);
    env_.Run.StatusProgress.SetPosition(static_cast<int64_t>(c.Cell.Position));
  }
  if (!Finish(Out)) {
    Undo();
    return false;
  }
  return true;
}

bool TTitleSetWork::Run() {
  disc::TVobScaut* scout = env_.Reg.Scouts.Get(number_, disc::kDomainTitles);
  if (!scout) return true;
  if (static_cast<size_t>(index_) < env_.Reg.TitleNameLists.size())
    env_.Reg.TitleNameLists[static_cast<size_t>(index_)].Clear();
  env_.Run.Log(core::kLogInfo, std::string(core::msg::CopyFilesInVTS) + core::IntToStrZeroPad(number_, 3));
  const std::vector<TCellRef> cells = SortedCells(*scout);
  env_.Run.StatusProgress.SetRange(1, static_cast<int64_t>(cells.size()));
  Plan(cells, *scout);
  bool ok = true;
  for (const TTrackPlan& plan : plans_) {
    if (env_.Run.Aborted()) return false;
    if (plan.Still) {
      TBuiltTrack still;
      if (!MakeStill(plan, still.Still)) {
        ok = false;
      } else if (still.Still) {
        rebuild_.Tracks.push_back(std::move(still));
      }
      continue;
    }
    TBuiltTrack built;
    TTrackBuilder builder(*this, plan);
    if (!builder.Build(built)) {
      ok = false;
      if (env_.Run.Aborted()) return false;
      env_.Run.LogError("The track " + TrackName(plan) + " was not made; its cells stay as they were demultiplexed.");
      env_.Run.NoteSkipped(TrackName(plan) + ": the track was not made; its cells stay as they were demultiplexed");
      continue;
    }
    if (built.Video.Path.empty()) continue;
    for (const auto& c : plan.Cells)
      if (c.Video) rebuild_.Consumed.insert(c.Video);
    rebuild_.Tracks.push_back(std::move(built));
  }
  return ok;
}

// ---- the registries and the model afterwards ----

// The stem of an audio output: its path less the stream tag and extension.
std::string AudioStem(const std::string& Path) { return DropTail(Path, kExtensionLength + kStreamTagLength); }

void ApplyRebuild(const TDemuxEnv& Env, const core::TrackSettings& Settings, TRebuild& R) {
  if (R.Tracks.empty() && R.Consumed.empty()) return;
  std::set<std::string> stems;
  std::set<const disc::TVideoTrack*> oldTracks;
  for (const disc::TVideoStreamEntry* e : R.Consumed) {
    stems.insert(OutputStem(e->Path));
    if (const disc::TVideoTrack* t = FindTrackOfVideoEntry(Env.Reg, *e)) oldTracks.insert(t);
  }
  // A still's track leaves its place too: the tracks of a title set follow in
  // the order they play, which the audio export joins them in.
  for (const TBuiltTrack& b : R.Tracks)
    if (b.Still) oldTracks.insert(b.Still);
  // Every file of a consumed cell output goes, now that its tracks stand whole,
  // its still timings with it: no track plays that video any more. With Main
  // by every title its subpictures and highlights stay.
  const bool byTitle = Settings.MainByTitle;
  for (const disc::TVideoStreamEntry* e : R.Consumed) {
    const std::string stem = OutputStem(e->Path);
    for (const char* side : {"", ".vnf", ".ipos", ".times"}) Env.Run.RemoveOwnFile(e->Path + side);
    for (const std::string& suffix : StreamSideSuffixes())
      if (!byTitle || !(suffix.ends_with(".sup") || suffix == ".hlt2")) Env.Run.RemoveOwnFile(stem + suffix);
    std::erase(Env.Reg.DatFiles, stem + ".dat");
  }
  // Of the audio entries of those outputs, the ones a still track plays, or a
  // track of a title set outside Main mode, stay.
  std::set<std::string> going, marked;
  for (const auto& a : Env.Reg.AudioStreams)
    if (stems.count(AudioStem(a.Path))) going.insert(a.Name);
  for (const disc::TVideoTrack& t : Env.Reg.ScriptTracks) {
    bool plays = false;
    for (const disc::TAudioStream& s : t.AudioStreams)
      for (const disc::TAudioPlayItem& item : s.PlayItems) plays |= going.count(item.FileName) > 0;
    const disc::TVideoStreamEntry* v = plays ? disc::FindVideoStreamByName(Env.Reg, t.FileName) : nullptr;
    if (!v || (v->StillMark == 0 &&
               (v->DomainNumber <= 0 || IsMainModeTitleSet(Env.Disc, Env.State.VTSListForm, v->DomainIndex))))
      continue;
    for (const disc::TAudioStream& s : t.AudioStreams)
      for (const disc::TAudioPlayItem& item : s.PlayItems) marked.insert(item.FileName);
  }
  std::deque<disc::TVideoStreamEntry> video;
  for (auto& e : Env.Reg.VideoStreams)
    if (!R.Consumed.count(&e)) video.push_back(std::move(e));
  std::deque<disc::TAudioStreamEntry> audio;
  for (auto& a : Env.Reg.AudioStreams)
    if (!stems.count(AudioStem(a.Path)) || marked.count(a.Name)) audio.push_back(std::move(a));
  std::deque<disc::TVideoTrack> tracks;
  for (auto& t : Env.Reg.ScriptTracks)
    if (!oldTracks.count(&t)) tracks.push_back(std::move(t));
  for (auto& b : R.Tracks) {
    if (b.Still) {
      tracks.push_back(std::move(*b.Still));
      continue;
    }
    video.push_back(std::move(b.Video));
    for (auto& a : b.Audio) audio.push_back(std::move(a));
    tracks.push_back(std::move(b.Track));
  }
  Env.Reg.VideoStreams = std::move(video);
  Env.Reg.AudioStreams = std::move(audio);
  Env.Reg.ScriptTracks = std::move(tracks);
}

}  // namespace

bool PrepareTrackFolders(const TDemuxEnv& Env, const core::TrackSettings& Settings) {
  if (Env.Disc.LooseEvo) return true;
  std::vector<int32_t> sets;
  for (int32_t i = disc::FirstTitleSetIndex(Env.Disc); i < Env.Disc.TitleSetCount; ++i)
    if (IsMainModeTitleSet(Env.Disc, Env.State.VTSListForm, i)) sets.push_back(i);
  if (sets.empty()) return true;
  Env.Run.Log(core::kLogInfo, core::msg::StartCopyingOfFilesToMainMode);
  TRebuild rebuild;
  bool ok = true;
  for (int32_t i : sets) {
    if (Env.Run.Aborted()) break;
    TTitleSetWork work(Env, Settings, i, rebuild);
    ok &= work.Run();
  }
  // The tracks that were finished replace their cells, also after a stop.
  ApplyRebuild(Env, Settings, rebuild);
  Env.Run.Log(core::kLogInfo, core::msg::FinishCopyingOfFilesToMainMode);
  return ok && !Env.Run.Aborted();
}

}  // namespace tess::demux
