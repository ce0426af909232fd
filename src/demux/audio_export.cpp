// The per-title-set audio export. Title tracks whose audio runs on from the
// track before them (it starts no later than their video, or the tracks play
// seamlessly) form a group per audio stream and angle; the group's audio files
// are joined, and either the tracks' play items point into the joined file or
// the joined file is cut again where each track's video ends, so that every
// track's own file holds exactly the audio that plays with its video.
#include "demux/audio_export.h"

#include <algorithm>
#include <filesystem>

#include "core/files.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "core/run_context.h"
#include "demux/demux_context.h"
#include "demux/reauthoring.h"
#include "disc/attribute_texts.h"
#include "disc/cell_lookups.h"
#include "platform/paths.h"
#include "state/run_state.h"
#include "streams/audio_split.h"
#include "streams/wav.h"

namespace tess::demux {

namespace {

namespace fs = std::filesystem;

constexpr int32_t kStreams = 8;
constexpr int32_t kAngles = 9;
constexpr int32_t kStubStreams = 16;
constexpr uint8_t kTitles = 2;
enum TRecutMode : int32_t { kRecutAuto = 0, kRecutAll = 1, kRecutNonSeamless = 2 };

struct TMember {
  size_t Track = 0;
  disc::TAudioPlayItem* Item = nullptr;
  disc::TAudioStreamEntry* Entry = nullptr;
  core::TTimeCode Duration;
};

bool IsTitleTrackOf(const disc::TVideoTrack& T, int32_t TitleSet) {
  return T.Domain == kTitles && T.IFOIndex == TitleSet;
}

disc::TAudioStream* StreamOf(disc::TVideoTrack& T, int32_t Number) {
  for (auto& s : T.AudioStreams)
    if (s.StreamNumber == Number) return &s;
  return nullptr;
}

// -1: the track has no stream s + 1; else, over its streams in order, 1 when
// the audio starts after the video, 0 when with it, 2 when before it (or it
// has no delay of its own); the first 2 ends the scan.
int32_t AudioVersusVideo(disc::RunRegistries& Reg, disc::TVideoTrack& T, int32_t S) {
  if (!StreamOf(T, S + 1)) return -1;
  const disc::TVideoStreamEntry* video = disc::FindVideoStreamByName(Reg, T.FileName);
  int32_t result = 0;
  for (const auto& stream : T.AudioStreams) {
    if (stream.PlayItems.empty() || !video) continue;
    const disc::TAudioStreamEntry* audio = disc::FindAudioStreamByName(Reg, stream.PlayItems.front().FileName);
    if (!audio) continue;
    if (audio->NoDelay || video->FirstTimeStampMs > audio->FirstTimeStampMs) return 2;
    result = video->FirstTimeStampMs < audio->FirstTimeStampMs ? 1 : 0;
  }
  return result;
}

bool Joinable(const std::string& Path) {
  const std::string ext = platform::ToLowerAscii(platform::ExtractFileExt(Path));
  return ext == ".ac3" || ext == ".dts" || ext == ".wav" || ext == ".mpa";
}

// The joined file is cut again by its first member's format into every
// member's own file: a member of another format (AC-3 and LPCM can share a
// decoding stream number) would get the other format's bytes in its file.
bool SameFormat(const TMember& A, const TMember& B) {
  return platform::ToLowerAscii(platform::ExtractFileExt(A.Entry->Path)) ==
         platform::ToLowerAscii(platform::ExtractFileExt(B.Entry->Path));
}

class TGrouping {
 public:
  TGrouping(const TDemuxEnv& Env, const core::TrackSettings& Settings, int32_t TitleSet, int32_t Stream, int32_t Angle)
      : env_(Env), settings_(Settings), v_(TitleSet), s_(Stream), a_(Angle) {}
  bool Run();

 private:
  // False when the track of angle a_ of Index's angle block cannot join: no
  // stream, play item or registry entries, or audio that cannot be cut.
  bool MakeMember(size_t Index, TMember& Out);
  bool Close();
  bool Merge();
  std::string JoinedFileName(const std::string& FirstMember) const;

  const TDemuxEnv& env_;
  const core::TrackSettings& settings_;
  int32_t v_, s_, a_;
  std::vector<TMember> group_;
};

bool TGrouping::MakeMember(size_t Index, TMember& Out) {
  const int32_t mapped = disc::FindAngleTrack(env_.Reg, static_cast<int32_t>(Index), a_);
  if (mapped < 0) return false;
  disc::TVideoTrack& t = env_.Reg.ScriptTracks[static_cast<size_t>(mapped)];
  disc::TAudioStream* stream = StreamOf(t, s_ + 1);
  if (!stream || stream->PlayItems.empty()) return false;
  disc::TAudioPlayItem& item = stream->PlayItems.front();
  disc::TAudioStreamEntry* entry = disc::FindAudioStreamByName(env_.Reg, item.FileName);
  if (!entry || !disc::FindVideoStreamByName(env_.Reg, t.FileName) || !Joinable(entry->Path)) return false;
  Out = {static_cast<size_t>(mapped), &item, entry, TrackVideoDuration(env_.Disc, env_.Reg, t)};
  return true;
}

bool TGrouping::Close() {
  bool ok = true;
  // An angle other than the first is merged only where the group plays an
  // angle block that has it; elsewhere the group is the first angle's again,
  // already merged.
  bool angled = a_ == 1;
  for (const TMember& m : group_) angled |= env_.Reg.ScriptTracks[m.Track].AngleNumber == a_;
  if (group_.size() >= 2 && angled) ok = Merge();
  group_.clear();
  return ok;
}

// Tracks outside an angle block and the first track of a block take part;
// the block's other angles play in its place for their angle (FindAngleTrack).
// A member that cannot join ends the merging of the stream and angle for the
// title set, after the group before it.
bool TGrouping::Run() {
  auto& tracks = env_.Reg.ScriptTracks;
  bool ok = true;
  for (size_t i = 0; i < tracks.size(); ++i) {
    disc::TVideoTrack& t = tracks[i];
    if (!IsTitleTrackOf(t, v_) || t.AngleNumber > 1) continue;
    const int32_t test = AudioVersusVideo(env_.Reg, t, s_);
    const uint32_t firstCell = t.Scenes.empty() ? 0 : t.Scenes.front().CellId;
    const bool seamless = disc::IsCellSeamlessInVts(env_.Disc, t.VobId, firstCell, v_);
    bool skip = test == -1;
    if (settings_.RecutMode == kRecutAuto) skip |= test == 1 || (test == 0 && !seamless);
    if (settings_.RecutMode == kRecutNonSeamless) skip |= !seamless;
    if (skip) {
      if (!group_.empty()) ok &= Close();
      continue;
    }
    TMember m;
    // A group opens with the piece before it, when that is a title track of
    // the same title set; a track of another title set never plays before it.
    if (group_.empty() && i > 0 && IsTitleTrackOf(tracks[i - 1], v_)) {
      if (!MakeMember(i - 1, m)) return ok;
      group_.push_back(m);
    }
    if (!MakeMember(i, m) || (!group_.empty() && !SameFormat(group_.front(), m))) return ok & Close();
    group_.push_back(m);
  }
  if (!group_.empty()) ok &= Close();
  return ok;
}

// "VTS" + the title set + "-" + the last six characters of the first member's
// audio file, in the title set's folder; a joined file that a failed cut left
// there keeps its name, the next one takes a numbered name beside it.
std::string TGrouping::JoinedFileName(const std::string& FirstMember) const {
  const std::string& folder = env_.Output.Folder;
  const std::string name = platform::ExtractFileName(FirstMember);
  const std::string target = platform::IncludeTrailingSlash(folder) + "VTS_" + core::IntToStrZeroPad(v_, 3) + "/VTS" +
                             std::to_string(v_) + "-" + name.substr(name.size() - std::min<size_t>(6, name.size()));
  const std::string ext = platform::ExtractFileExt(target);
  std::string free = target;
  // A name that cannot be checked is taken; the copy into it then says why it failed.
  std::error_code ec;
  for (int n = 2; fs::exists(free, ec); ++n)
    free = target.substr(0, target.size() - ext.size()) + "_" + std::to_string(n) + ext;
  return free;
}

bool TGrouping::Merge() {
  const double rate = env_.Disc.FrameRate;
  env_.Run.Log(core::kLogInfo,
               std::string(core::msg::MergeAudioStream) + std::to_string(s_ + 1) + std::string(core::msg::InTracks),
               platform::kColourGreen);
  for (const TMember& m : group_)
    env_.Run.Log(core::kLogInfo, "      - " + env_.Reg.ScriptTracks[m.Track].Name, platform::kColourGreen);

  // Member 1's audio starts its delay after its video: it plays that much shorter.
  TMember& first = group_.front();
  if (first.Item->Merged)
    first.Duration = first.Item->Duration;
  else if (!first.Entry->NoDelay)
    first.Duration = core::TimecodeDifference(rate, first.Duration, first.Item->Delay);

  const std::string target = JoinedFileName(first.Entry->Path);
  bool ok = core::CopyFileRange(env_.Run, first.Entry->Path, target, nullptr, &env_.Run.Abort, 0, UINT64_MAX, 0);
  for (size_t j = 1; ok && j < group_.size(); ++j)
    ok =
        streams::AppendFileData(env_.Run, group_[j].Entry->Path, target, false, [this] { env_.Run.ProcessMessages(); });
  std::error_code ec;
  if (!ok) {
    if (env_.Run.WriteStopped)
      env_.Run.RemoveUnfinishedOutput(target);
    else
      env_.Run.RemoveOwnFile(target);
    if (!env_.Run.Aborted())
      env_.Run.LogError("Audio stream " + std::to_string(s_ + 1) + " of VTS_" + core::IntToStrZeroPad(v_, 3) +
                        " was not merged: " + target + " could not be made.");
    return false;
  }

  if (settings_.SolidAudio) {
    // The joined file takes the first member's name with "a00" and the angle
    // in place of the last four characters before its stream tag.
    std::string solid = first.Entry->Path;
    if (solid.size() >= 11) {
      const size_t at = solid.size() - 11;
      solid[at] = 'a';
      solid[at + 1] = '0';
      solid[at + 2] = '0';
      solid[at + 3] = static_cast<char>('0' + a_);
    }
    if (fs::exists(solid, ec)) ec = std::make_error_code(std::errc::file_exists);
    if (!ec) fs::rename(target, solid, ec);
    if (ec) {
      env_.Run.LogError("Can not move file " + target + " to " + solid + ": " + ec.message());
      env_.Run.RemoveOwnFile(target);
      return false;
    }
    disc::TAudioStreamEntry entry = *first.Entry;
    entry.Path = solid;
    entry.Name = platform::ExtractFileName(platform::ChangeFileExt(solid, ""));
    entry.Merged = 1;
    const disc::TAudioStreamEntry firstEntry = *first.Entry;
    env_.Reg.AudioStreams.push_back(entry);
    core::TTimeCode running;
    for (size_t j = 0; j < group_.size(); ++j) {
      TMember& m = group_[j];
      disc::TAudioPlayItem& item = *m.Item;
      const core::TTimeCode offset = env_.Reg.ScriptTracks[m.Track].StartOffset;
      if (!item.Merged) {
        if (j == 0) {
          if (firstEntry.NoDelay) {
            running = firstEntry.DelayTimeCode;
            item.Delay = {};
          }
          item.Delay = core::AddTimecodes(rate, item.Delay, offset);
        } else {
          item.Delay = offset;
        }
        item.Start = running;
        item.Duration = m.Duration;
        item.FileName = entry.Name;
        item.Merged = 1;
      }
      running = core::AddTimecodes(rate, running, m.Duration);
    }
    return true;
  }

  // Copy and recut: the joined audio is cut where each member's video ends,
  // into new files that take the members' places only once every cut stands
  // whole. For a later angle the pieces outside its angle track keep what the
  // first angle's cut gave them: each angle's audio is cut at its own video's
  // end, and what runs past it goes with the scratch pieces.
  std::vector<streams::AudioSegmentEntry> segments;
  std::vector<std::string> made;
  auto shared = [&](const TMember& M) { return a_ > 1 && env_.Reg.ScriptTracks[M.Track].AngleNumber != a_; };
  for (size_t j = 0; j < group_.size(); ++j) {
    const TMember& m = group_[j];
    made.push_back(shared(m) ? target + "." + std::to_string(j) : m.Entry->Path + ".tmp");
    segments.push_back({m.Duration, made.back()});
  }
  streams::TSplitOutcome outcome = streams::TSplitOutcome::NotThisFormat;
  for (auto split : {streams::SplitAc3File, streams::SplitDtsFile, streams::SplitMpaFile}) {
    if (outcome != streams::TSplitOutcome::NotThisFormat) break;
    outcome = split(env_.Run, target, segments, rate, nullptr);
  }
  if (outcome == streams::TSplitOutcome::NotThisFormat)
    outcome = streams::SplitWavFile(env_.Run, target, segments, false, rate, nullptr);
  for (size_t j = 0; j < group_.size() && outcome == streams::TSplitOutcome::Done; ++j) {
    if (shared(group_[j])) continue;
    fs::rename(made[j], group_[j].Entry->Path, ec);
    if (ec) {
      env_.Run.LogError("Can not move file " + made[j] + " to " + group_[j].Entry->Path + ": " + ec.message());
      outcome = streams::TSplitOutcome::Failed;
    }
  }
  // What the cut wrote and did not put in place goes; nothing else of those names.
  for (const std::string& f : made)
    if (fs::is_regular_file(fs::symlink_status(f, ec))) env_.Run.RemoveOwnFile(f);
  if (outcome != streams::TSplitOutcome::Done) {
    // The joined file holds every member's audio: it stays beside what was not replaced.
    if (outcome != streams::TSplitOutcome::Stopped)
      env_.Run.LogError("Audio stream " + std::to_string(s_ + 1) + " of VTS_" + core::IntToStrZeroPad(v_, 3) +
                        " was not cut again; the joined audio stays in " + target);
    return false;
  }
  env_.Run.RemoveOwnFile(target);
  for (size_t j = 1; j < group_.size(); ++j) {
    if (shared(group_[j])) continue;
    group_[j].Item->Delay = group_[j].Item->Start = {};
    group_[j].Entry->DelayTimeCode = {};
  }
  return true;
}

}  // namespace

bool ExportTitleSetAudio(const TDemuxEnv& Env, const core::TrackSettings& Settings) {
  Env.Run.Log(core::kLogInfo, core::msg::CorrectionOfAudioIsStarted);
  // A title set loaded on its own has no title table; a disc without one has no titles.
  const int32_t first = disc::FirstTitleSetIndex(Env.Disc);
  if (Env.Disc.TitleSetCount < 1 || (first > 0 && Env.Disc.IFOFiles[0].TT_SRPT.Entries.empty())) return true;
  bool ok = true;
  for (int32_t i = first; i < Env.Disc.TitleSetCount && !Env.Run.Aborted(); ++i) {
    const disc::TIFOFile& rec = Env.Disc.IFOFiles[static_cast<size_t>(i)];
    const size_t mark = static_cast<size_t>(rec.TitleSetNumber) + 1;
    if (rec.Kind != disc::ifoVTS || mark >= Env.State.VTSListForm.AudioCorrectionMark.size() ||
        !Env.State.VTSListForm.AudioCorrectionMark[mark])
      continue;
    for (int32_t s = 0; s < kStreams; ++s)
      for (int32_t a = 1; a <= kAngles && !Env.Run.Aborted(); ++a)
        ok &= TGrouping(Env, Settings, rec.TitleSetNumber, s, a).Run();
  }
  Env.Run.Log(core::kLogInfo, core::msg::CorrectionOfAudioIsFinished);
  return ok;
}

void ProcessTitleSetAudioStreams(const disc::DiscModel& Disc, disc::RunRegistries& Reg,
                                 const core::TrackSettings& Settings, int32_t TitleSet) {
  if (!Settings.AddAudioStub) return;
  std::vector<disc::TVideoTrack*> tracks;
  for (auto& t : Reg.ScriptTracks)
    if (IsTitleTrackOf(t, TitleSet) && !t.AudioStreams.empty()) tracks.push_back(&t);
  int32_t m = 0;
  for (auto* t : tracks)
    for (const auto& s : t->AudioStreams) m = std::max(m, s.SlotNumber);
  m = std::min(m, kStubStreams);
  if (m <= 0) return;

  auto empty = [] {
    disc::TAudioStream s;
    s.PlayItems.resize(1);
    return s;
  };
  auto isEmpty = [](const disc::TAudioStream& S) { return S.SlotNumber == 0 || S.PlayItems.empty(); };
  // Each track: exactly m entries, each in the place of its slot, with one play item.
  for (auto* t : tracks) {
    disc::TAudioStreamList slots(static_cast<size_t>(m));
    for (auto& s : slots) s = empty();
    for (auto& s : t->AudioStreams) {
      if (isEmpty(s) || s.SlotNumber > m) continue;
      s.PlayItems.resize(1);
      slots[static_cast<size_t>(s.SlotNumber - 1)] = std::move(s);
    }
    t->AudioStreams = std::move(slots);
  }
  // The first track that has each stream lends it to the tracks that lack it.
  std::vector<const disc::TAudioStream*> lender(static_cast<size_t>(m), nullptr);
  const disc::TAudioStream* any = nullptr;
  for (auto* t : tracks)
    for (int32_t n = 0; n < m; ++n) {
      const disc::TAudioStream& s = t->AudioStreams[static_cast<size_t>(n)];
      if (isEmpty(s)) continue;
      if (!lender[static_cast<size_t>(n)]) lender[static_cast<size_t>(n)] = &s;
      if (!any && n < kStreams) any = &s;
    }
  if (!any) return;
  for (auto* t : tracks) {
    for (int32_t n = 0; n < m; ++n) {
      disc::TAudioStream& s = t->AudioStreams[static_cast<size_t>(n)];
      s.StreamNumber = n + 1;
      if (!isEmpty(s)) continue;
      const disc::TAudioStream* from = lender[static_cast<size_t>(n)];
      if (from) {
        s.Name = from->Name;
        s.Kind = from->Kind;
      } else {
        disc::TitleAudioLanguageName(Disc, disc::IndexOfTitleSet(Disc, TitleSet), n + 1, s.Name);
        s.Kind = 0;
      }
      s.PlayItems.front() = (from ? from : any)->PlayItems.front();
      disc::TAudioPlayItem& stub = s.PlayItems.front();
      stub.Duration = {0, 0, 0, 1};
      stub.Stub = 1;
      stub.Delay = t->StartOffset;
    }
  }
}

}  // namespace tess::demux
