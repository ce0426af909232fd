// Slide shows. A still sequence (I pictures, each closed by a sequence end)
// is one video output holding many pictures; the authoring tool wants a file
// and a display time per still. The display times and cells of the stills come
// from a ".times" file beside the video when one was put there; without it the
// stills are made but no track is shared out by times it does not have.
#include "demux/slideshow.h"

#include <algorithm>
#include <filesystem>

#include "core/byte_order.h"
#include "core/messages.h"
#include "demux/reauthoring.h"
#include "disc/highlights.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "streams/m2v_cache.h"

namespace tess::demux {

namespace {

namespace fs = std::filesystem;

constexpr size_t kTimesPairSize = 8;
constexpr size_t kStillTail = 9;  // "_0001.m2v"
constexpr uint32_t kMainListColour = 0x800000;

struct TStillTime {
  core::TTimeCode Duration;
  uint32_t CellId = 0;
};

// The (duration, cell) pairs of the video's ".times" file; none without one.
std::vector<TStillTime> ReadTimes(core::RunContext& Run, const std::string& File) {
  std::vector<TStillTime> out;
  if (int err = 0; platform::ExistingRegularFile(File, &err).empty()) {
    if (err != 0) {
      Run.LogError(std::string(core::msg::CanNotOpenFile) + File + platform::ErrorReason(err));
      Run.NoteSkipped(File + platform::ErrorReason(err) + "; the still durations it holds were not read");
    }
    return out;
  }
  std::vector<uint8_t> bytes;
  if (!ReadSideFile(Run, File, bytes)) return out;
  if (bytes.size() % kTimesPairSize != 0)
    Run.LogError(File + " ends inside a pair; its last " + std::to_string(bytes.size() % kTimesPairSize) +
                 " bytes are passed over");
  for (size_t at = 0; at + kTimesPairSize <= bytes.size(); at += kTimesPairSize)
    out.push_back(
        {core::TTimeCode::FromUInt32(core::ReadLE32(bytes.data() + at)), core::ReadLE32(bytes.data() + at + 4)});
  return out;
}

int64_t Frames(double Rate, core::TTimeCode TC) { return core::TimecodeToFrames(Rate, TC); }

uint32_t FramesToMs(double Rate, int64_t Frames) {
  return Rate > 0 ? static_cast<uint32_t>(static_cast<double>(std::max<int64_t>(Frames, 0)) * 1000.0 / Rate) : 0;
}

int64_t MsToFrames(double Rate, uint32_t Ms) { return static_cast<int64_t>(static_cast<double>(Ms) * Rate / 1000.0); }

// Keeps the leading items of a list whose cell is CellId.
template <class T, class CellOf>
void KeepLeading(std::vector<T>& List, uint32_t CellId, CellOf Cell) {
  size_t n = 0;
  while (n < List.size() && Cell(List[n]) == CellId) ++n;
  List.resize(n);
}

// The audio, subpicture segments and highlights of a slide show's first track
// shared out among its tracks by their scenes' cells and still durations.
void ShareOut(double Rate, std::vector<disc::TVideoTrack*>& Tracks) {
  disc::TVideoTrack& first = *Tracks.front();
  std::vector<core::TTimeCode> totals;
  for (auto* t : Tracks) totals.push_back(TrackTotalDuration(Rate, *t, false, {}));

  // Audio: one piece of the joined audio after the other.
  for (size_t s = 0; s < first.AudioStreams.size(); ++s) {
    core::TTimeCode start;
    for (size_t j = 0; j < Tracks.size(); ++j) {
      if (s >= Tracks[j]->AudioStreams.size() || Tracks[j]->AudioStreams[s].PlayItems.empty()) continue;
      disc::TAudioPlayItem& item = Tracks[j]->AudioStreams[s].PlayItems.front();
      if (j == 0) {
        item.Duration = core::TimecodeDifference(Rate, totals[0], item.Delay);
      } else {
        item.Delay = {};
        item.Start = start;
        item.Duration = totals[j];
      }
      start = core::AddTimecodes(Rate, start, item.Duration);
    }
  }

  const uint32_t firstCell = first.Scenes.empty() ? 0 : first.Scenes.front().CellId;
  int64_t before = Frames(Rate, totals[0]);
  for (size_t j = 1; j < Tracks.size(); ++j) {
    disc::TVideoTrack& t = *Tracks[j];
    const uint32_t cell = t.Scenes.empty() ? 0 : t.Scenes.front().CellId;
    const uint32_t shift = FramesToMs(Rate, before);
    t.SubPictureStreams.clear();
    for (const auto& src : first.SubPictureStreams) {
      disc::TSubPictureStream s = src;
      std::erase_if(s.Segments, [&](const disc::TSubPictureSegment& G) { return G.CellId != cell; });
      for (auto& g : s.Segments)
        if (MsToFrames(Rate, g.SortKey) >= before) g.SortKey -= std::min(g.SortKey, shift);
      if (!s.Segments.empty() && MsToFrames(Rate, s.Segments.front().SortKey) > Frames(Rate, totals[j]))
        for (auto& g : s.Segments) g.SortKey -= std::min(g.SortKey, shift);
      if (!s.Segments.empty()) t.SubPictureStreams.push_back(std::move(s));
    }
    t.HighlightStreams = first.HighlightStreams;
    for (auto& h : t.HighlightStreams)
      std::erase_if(h.Items, [&](const disc::THighlightPlayItem& I) { return I.CellId != cell; });
    before += Frames(Rate, totals[j]);
  }
  for (auto& s : first.SubPictureStreams)
    KeepLeading(s.Segments, firstCell, [](const disc::TSubPictureSegment& G) { return G.CellId; });
  for (auto& h : first.HighlightStreams)
    KeepLeading(h.Items, firstCell, [](const disc::THighlightPlayItem& I) { return I.CellId; });
}

}  // namespace

core::TTimeCode TrackTotalDuration(double FrameRate, const disc::TVideoTrack& Track, bool Subtract,
                                   core::TTimeCode TC) {
  core::TTimeCode sum;
  for (const auto& still : Track.Stills) sum = core::AddTimecodes(FrameRate, sum, still.Duration);
  return Subtract ? core::TimecodeDifference(FrameRate, sum, TC) : sum;
}

void FormSlideShowTrack(core::RunContext& Run, disc::RunRegistries& Reg, size_t NewIndex, size_t SourceIndex,
                        size_t Scene, int32_t SlideShowNumber) {
  auto& tracks = Reg.ScriptTracks;
  if (NewIndex >= tracks.size() || SourceIndex >= tracks.size() || Scene == 0) return;
  disc::TVideoTrack& t = tracks[NewIndex];
  const disc::TVideoTrack& src = tracks[SourceIndex];
  t.Name = src.Name + "_" + std::to_string(Scene);
  t.Scenes.clear();
  if (Scene <= src.Scenes.size()) {
    t.Scenes.push_back(src.Scenes[Scene - 1]);
    t.Scenes.back().StartTime = {};
  } else {
    Run.LogError("Error in FormSlideShowTrack #2");
  }
  t.Stills.clear();
  if (Scene <= src.Stills.size()) {
    t.Stills.push_back(src.Stills[Scene - 1]);
    t.Stills.back().Start = {};
    t.Stills.back().Reserved = 0;
  } else {
    Run.LogError("Error in FormSlideShowTrack #3");
  }
  t.Value = static_cast<uint32_t>(SlideShowNumber);
  t.Byte = 0;
}

bool BuildSlideShowTrack(const TDemuxEnv& Env, const core::TrackSettings& Settings, size_t VideoIndex) {
  if (VideoIndex >= Env.Reg.VideoStreams.size()) return false;
  const disc::TVideoStreamEntry show = Env.Reg.VideoStreams[VideoIndex];
  disc::TVideoTrack* found = FindTrackOfVideoEntry(Env.Reg, show);
  if (!found || !streams::BuildIposIndex(Env.Run, show.Path)) return false;
  size_t trackIndex = 0;
  while (&Env.Reg.ScriptTracks[trackIndex] != found) ++trackIndex;
  std::vector<std::string> files;
  if (streams::SplitStillFiles(Env.Run, show.Path, files) < 2) return false;
  disc::TVideoTrack& track = Env.Reg.ScriptTracks[trackIndex];
  disc::LoadTrackRecordFile(Env.Run, track, OutputStem(show.Path) + ".hlt2");
  track.Kind = 1;
  track.StillKind = 1;
  const std::vector<TStillTime> times = ReadTimes(Env.Run, show.Path + ".times");
  const bool timed = times.size() >= files.size();

  // One still entry and one video entry per file; the slide show's own entry
  // becomes the first still's.
  const std::string first = platform::ExtractFileName(files[0]);
  Env.Run.Log(core::kLogInfo,
              std::string(core::msg::MainSlideShowListFile) +
                  first.substr(0, first.size() - std::min(kStillTail, first.size())) + platform::ExtractFileExt(first),
              kMainListColour);
  Env.Run.Log(core::kLogInfo, std::string(core::msg::FoundSlideShowFile) + first, Settings.SlideShowColour);
  track.Stills.clear();
  core::TTimeCode start;
  for (size_t i = 0; i < files.size(); ++i) {
    const TStillTime time = i < times.size() ? times[i] : TStillTime{};
    disc::TVideoStreamEntry e = show;
    e.Path = files[i];
    e.Name = platform::ExtractFileName(platform::ChangeFileExt(files[i], ""));
    e.StillMark = 1;
    e.StillKind = 1;
    e.VobId = track.VobId;
    disc::TStillEntry still;
    still.Name = e.Name;
    still.Start = start;
    still.VideoStandard = track.VideoStandard;
    still.FrameRateFlag = track.FrameRateFlag;
    still.Duration = time.Duration;
    still.CellId = time.CellId;
    track.Stills.push_back(still);
    start = core::AddTimecodes(Env.Disc.FrameRate, start, time.Duration);
    if (i == 0) {
      Env.Reg.VideoStreams[VideoIndex] = std::move(e);
    } else {
      Env.Run.Log(core::kLogInfo, std::string(core::msg::FoundSlideShowFile) + platform::ExtractFileName(files[i]),
                  Settings.SlideShowColour);
      Env.Reg.VideoStreams.push_back(std::move(e));
    }
  }

  const size_t m = track.Stills.size(), k = track.Scenes.size();
  if (!timed || m < 2 || m < k || k == 1) return false;
  const int32_t number = Env.State.SlideShowNumber;
  std::vector<size_t> members{trackIndex};
  for (size_t scene = 2; scene <= k; ++scene) {
    const size_t to = Env.Reg.ScriptTracks.size();
    disc::CopyScriptTrack(Env.Reg, static_cast<int32_t>(trackIndex), static_cast<int32_t>(to));
    FormSlideShowTrack(Env.Run, Env.Reg, to, trackIndex, scene, number);
    disc::TVideoTrack& t = Env.Reg.ScriptTracks[to];
    if (m > k && !t.Scenes.empty()) {
      t.Stills.clear();
      const uint32_t cell = t.Scenes.front().CellId;
      for (const auto& still : Env.Reg.ScriptTracks[trackIndex].Stills)
        if (still.CellId == cell) t.Stills.push_back(still);
      const core::TTimeCode offset = t.Stills.empty() ? core::TTimeCode{} : t.Stills.front().Start;
      for (auto& still : t.Stills) still.Start = core::TimecodeDifference(Env.Disc.FrameRate, still.Start, offset);
    }
    members.push_back(to);
  }
  disc::TVideoTrack& own = Env.Reg.ScriptTracks[trackIndex];
  if (m == k)
    own.Stills.resize(1);
  else
    KeepLeading(own.Stills, own.Stills.front().CellId, [](const disc::TStillEntry& S) { return S.CellId; });
  own.Scenes.resize(1);
  own.Scenes.front().StartTime = {};
  own.Value = static_cast<uint32_t>(number);
  own.Byte = 0;
  own.Name += "_1";

  std::vector<disc::TVideoTrack*> shared;
  for (size_t i : members) shared.push_back(&Env.Reg.ScriptTracks[i]);
  ShareOut(Env.Disc.FrameRate, shared);
  ++Env.State.SlideShowNumber;

  for (const std::string& video : {show.Path, files[0]})
    for (const char* side : {".ipos", ".times"}) Env.Run.RemoveOwnFile(video + side);
  for (size_t i = 1; i < members.size(); ++i) PrepareSubPictureStream(Env, Env.Reg.ScriptTracks[members[i]].Name, show);
  PrepareSubPictureStream(Env, Env.Reg.ScriptTracks[trackIndex].Name, show);
  return true;
}

void PrepareSubPictureStream(const TDemuxEnv& Env, const std::string& TrackName,
                             const disc::TVideoStreamEntry& VideoEntry) {
  disc::TVideoTrack* track = disc::FindScriptTrackByName(Env.Reg, TrackName);
  const double rate = Env.Disc.FrameRate;
  if (!track) return;
  const std::string highlights = OutputStem(VideoEntry.Path) + ".hlt2";
  if (disc::LoadTrackRecordFile(Env.Run, *track, highlights)) disc::MatchHighlightsToSegments(Env.Reg, *track);
  const core::TTimeCode length = track->Stills.empty() ? TrackVideoDuration(Env.Disc, Env.Reg, *track)
                                                       : TrackTotalDuration(rate, *track, false, {});
  const uint32_t endMs = FramesToMs(rate, Frames(rate, length));
  std::vector<uint32_t> sceneStarts;
  for (size_t i = 1; i < track->Scenes.size(); ++i)
    sceneStarts.push_back(FramesToMs(rate, Frames(rate, track->Scenes[i].StartTime)));
  disc::SortSubpicStreamSegments(track->SubPictureStreams);
  for (auto& stream : track->SubPictureStreams) {
    auto& segs = stream.Segments;
    for (size_t i = 0; i < segs.size(); ++i) {
      disc::TSubPictureSegment& g = segs[i];
      uint32_t duration = FramesToMs(rate, Frames(rate, g.Duration));
      if (g.Duration.IsZero()) {
        const uint32_t next = i + 1 < segs.size() ? segs[i + 1].SortKey : endMs;
        duration = next > g.SortKey ? next - g.SortKey : 0;
      }
      // A segment ends at the next scene's start at the latest.
      for (uint32_t b : sceneStarts)
        if (b > g.SortKey && b < g.SortKey + duration) duration = b - g.SortKey;
      g.Duration = core::MillisecondsToTimecode(duration, rate);
    }
  }
}

}  // namespace tess::demux
