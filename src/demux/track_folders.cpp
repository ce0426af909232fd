// The track folders: when the navigation-pack handling finishes a VOB (or a
// cell), its video output becomes a track of the script model. The track names
// the video, lists one scene per cell (or one for the cell in hand when titles
// are cut by cell), and takes the audio and subpicture outputs that the writers
// made for the same name part.
#include "demux/track_folders.h"

#include <algorithm>
#include <filesystem>

#include "core/byte_order.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "core/timecode.h"
#include "disc/attribute_decode.h"
#include "disc/attribute_texts.h"
#include "demux/output_set.h"
#include "demux/reauthoring.h"
#include "demux/subpic_results.h"
#include "disc/vob_scout.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "state/run_state.h"

namespace tess::demux {

namespace {

namespace fs = std::filesystem;
using core::DropTail;
using core::IsFolder;

constexpr int32_t kFirstSubpicId = 0x20;
constexpr int32_t kSubpicStreams = 32;
constexpr int32_t kAudioSlots = 16;
constexpr uint32_t kFirstAudioSlotId = 0xC0;
constexpr const char* kVideoSuffixes[] = {".m2v", "_e0.m2v", "_e2.264", "_55.vc1"};
constexpr size_t kMenuUnitTail = 6;   // "_20_01": stream id and menu unit number
constexpr size_t kTitleUnitTail = 8;  // "_20_0001": stream id and title unit number
const std::string kNotSpecified = "Not Specified";

bool Exists(const std::string& Path) {
  std::error_code ec;
  return fs::exists(Path, ec);
}

std::string Hex2(uint32_t Value) { return disc::IntToHexLower(Value, 2); }

// The output of a subpicture unit shows either as the ".sup" the writer made or,
// once finished, as the picture drawn from it.
bool SubpictureOutputExists(const std::string& Stem) {
  return Exists(Stem + ".sup") || Exists(Stem + ".bmp") || Exists(Stem + ".png");
}

// The name the subpicture writer gives the first unit of stream Sid in cell
// VobId/CellId (no extension). The name builder works on the context's
// subpicture fields; they are kept as they were, so the writers go on as if it
// had not been asked.
std::string FirstUnitName(TIFOData& Ctx, uint32_t VobId, uint32_t CellId, uint8_t Sid) {
  const std::string savedName = Ctx.Outputs.SubpictureFileName;
  const std::string savedPrefix = Ctx.Outputs.SubpictureFilePrefix;
  const bool savedChanged = Ctx.Cells.Cell.CellChanged;
  const int32_t savedAngle = Ctx.Cells.AngleNumber;
  const uint32_t savedCount = Ctx.Outputs.SubpictureUnitCount[Sid];
  // The names are asked for this VOB and cell, not for the angle in hand.
  Ctx.Cells.AngleNumber = 0;
  Ctx.Outputs.SubpictureUnitCount[Sid] = 1;
  Ctx.BuildSubpictureFileName(VobId, CellId, false, true, Sid, 0xBD);
  std::string name = Ctx.Outputs.SubpictureFileName;
  Ctx.Outputs.SubpictureFileName = savedName;
  Ctx.Outputs.SubpictureFilePrefix = savedPrefix;
  Ctx.Cells.Cell.CellChanged = savedChanged;
  Ctx.Cells.AngleNumber = savedAngle;
  Ctx.Outputs.SubpictureUnitCount[Sid] = savedCount;
  return name;
}

// The registry entry of a video output. The first play and the menus of the
// video manager name their outputs alike in two folders, so the file's own
// entry is the one whose path it is; the name decides only without one.
const disc::TVideoStreamEntry* FindVideoEntryOfFile(disc::RunRegistries& Reg, const std::string& FileName) {
  // Searched from the end: the VOB's outputs are the latest registered.
  for (auto e = Reg.VideoStreams.rbegin(); e != Reg.VideoStreams.rend(); ++e)
    if (e->Path == FileName) return &*e;
  return disc::FindVideoStreamByName(Reg, DropTail(platform::ExtractFileName(FileName), 4));
}

// The track of that name in the same domain of the same information file: a
// first-play track and a menu track of the video manager may share a name.
disc::TVideoTrack* FindTrack(disc::RunRegistries& Reg, const std::string& Name, uint8_t Domain, int32_t IFOIndex) {
  for (auto t = Reg.ScriptTracks.rbegin(); t != Reg.ScriptTracks.rend(); ++t)
    if (t->Name == Name && t->Domain == Domain && t->IFOIndex == IFOIndex) return &*t;
  return nullptr;
}

// The registry entry of an audio output; a ".pcm" output is registered under
// its ".wav" name.
const disc::TAudioStreamEntry* FindAudioEntryOfFile(const disc::RunRegistries& Reg, const std::string& FileName) {
  const std::string wav = platform::ChangeFileExt(FileName, ".wav");
  for (auto e = Reg.AudioStreams.rbegin(); e != Reg.AudioStreams.rend(); ++e)
    if (e->Path == FileName || e->Path == wav) return &*e;
  return nullptr;
}

std::string AudioLanguageText(const TIFOData& Ctx, size_t Slot) {
  const auto& attrs = Ctx.Plan.Attributes.TitleAudioAttrs;
  if (!Ctx.IsTitleDomain() || !Ctx.Plan.DomainRecord || Slot >= attrs.size()) return kNotSpecified;
  std::array<uint8_t, 11> decoded{};
  disc::DecodeAudioAttr(attrs[Slot].data(), decoded);
  return disc::LanguageNameFromWord(static_cast<uint16_t>(decoded[7] | decoded[8] << 8), false);
}

// Slot k of the audio streams: the last existing of the outputs that the writers
// name for decoding stream k of each format.
std::string AudioOutputOfSlot(const std::string& Base, uint32_t Slot) {
  const uint32_t s = kFirstAudioSlotId + Slot;
  const std::string candidates[] = {Base + Hex2(s) + ".ac3",        Base + Hex2(s - 0x38) + ".dts",
                                    Base + Hex2(s - 0x20) + ".wav", Base + Hex2(s - 0x20) + ".pcm",
                                    Base + Hex2(s) + ".mpa",        Base + Hex2(s - 0x10) + ".mlp"};
  std::string found;
  for (const auto& c : candidates)
    if (Exists(c)) found = c;
  return found;
}

void AddAudioStreams(TIFOData& Ctx, disc::TVideoTrack& Track, const std::string& NamePart) {
  const std::string base = Ctx.Outputs.OutputBase + NamePart + "_";
  for (int32_t k = 0; k < kAudioSlots; ++k) {
    const std::string file = AudioOutputOfSlot(base, static_cast<uint32_t>(k));
    if (file.empty()) continue;
    const size_t slot = static_cast<size_t>(k);
    while (Track.AudioStreams.size() <= slot) {
      disc::TAudioStream placeholder;
      placeholder.StreamNumber = placeholder.SlotNumber = static_cast<int32_t>(Track.AudioStreams.size() + 1);
      disc::TitleAudioLanguageName(Ctx.Env.Disc, Ctx.Plan.DomainIndex, placeholder.StreamNumber, placeholder.Name);
      placeholder.Kind = 1;
      Track.AudioStreams.push_back(std::move(placeholder));
    }
    const disc::TAudioStreamEntry* entry = FindAudioEntryOfFile(Ctx.Env.Reg, file);
    if (!entry) continue;
    disc::TAudioStream& stream = Track.AudioStreams[slot];
    disc::InitAudioStreamRecord(stream, *entry, entry->DelayTimeCode, k + 1, AudioLanguageText(Ctx, slot));
    stream.SlotNumber = k + 1;
  }
}

// A found subpicture output (Stem without extension) becomes a segment when
// its item is registered.
bool AddFoundSubpicture(const TDemuxEnv& Env, disc::TVideoTrack& Track, const std::string& Stem, int32_t Sid,
                        int32_t Number) {
  // By its file first: the first play and the menus of the video manager name
  // their outputs alike in two folders.
  const disc::TSubPictureItem* item = FindItemOfFile(Env.Reg, Stem + ".sup");
  if (!item) item = disc::FindSubPictureItemByName(Env.Reg, platform::ExtractFileName(Stem));
  if (!item) return false;
  AddSubpicSegment(Env, Track, *item, item->SortKey, true, false, Sid, Number);
  return true;
}

void AddSubpictureStreams(TIFOData& Ctx, disc::TVideoTrack& Track, uint32_t VobId, uint32_t LastCell) {
  const TDemuxEnv& Env = Ctx.Env;
  const bool titles = Ctx.DomainKind() == kPgcTitle;
  for (int32_t n = 1; n <= kSubpicStreams; ++n) {
    const int32_t s = kFirstSubpicId + n - 1;
    const uint8_t sid = static_cast<uint8_t>(s);
    uint32_t segment = 1;
    for (uint32_t cell = 1; cell <= LastCell; ++cell) {
      if (!titles) segment = 1;
      const std::string path = FirstUnitName(Ctx, VobId, cell, sid);
      const std::string stem = titles ? path : DropTail(path, kMenuUnitTail) + "_" + Hex2(sid);
      if (SubpictureOutputExists(stem)) {
        if (AddFoundSubpicture(Env, Track, stem, s, n)) ++segment;
      } else if (IsFolder(platform::ExtractFilePath(stem)) && Ctx.Plan.ByCell && titles) {
        // Titles cut by cell keep a place for every stream the folder was made for.
        const size_t index = static_cast<size_t>(s - kFirstSubpicId);
        if (Track.SubPictureStreams.size() <= index) Track.SubPictureStreams.resize(index + 1);
        Track.SubPictureStreams[index].StreamNumber = n;
        Track.SubPictureStreams[index].StreamId = s;
      }
      const std::string numbered = titles ? DropTail(path, kTitleUnitTail) : DropTail(path, kMenuUnitTail);
      for (;;) {
        const std::string name = numbered + "_" + Hex2(sid) + "_" +
                                 core::IntToStrZeroPad(segment, titles ? 4 : 2);
        if (!SubpictureOutputExists(name)) break;
        // An output without an item is passed over, as the numbering goes on past it.
        AddFoundSubpicture(Env, Track, name, s, n);
        ++segment;
      }
    }
  }
}

disc::TSceneItem SceneOf(const TCellTimeItem& Time, const std::string& Name, int32_t PaletteIndex) {
  disc::TSceneItem scene;
  scene.Name = Name;
  scene.PaletteIndex = PaletteIndex;
  scene.SeamlessText = disc::SeamlessText(Time.Seamless != 0);
  scene.StartTime = Time.StartTime;
  scene.NavigationValue = Time.NavValue;
  scene.CellId = Time.CellId;
  scene.VobId = Time.VobId;
  scene.SeamlessFlag = Time.Seamless;
  return scene;
}

std::string SceneName(const disc::TVideoStreamEntry& Entry, size_t Number) {
  return Number <= 1 ? Entry.Name + "-t-s" : Entry.Name + "-t-s_" + std::to_string(Number - 1);
}

// The cells of an angle or interleaved VOB come from the scout, each starting
// where the one before it ends.
void CellTimesFromScout(TIFOData& Ctx, uint32_t VobId, uint32_t Angle) {
  Ctx.Cells.CellTimes.clear();
  core::TTimeCode start;
  const uint8_t seamless = Angle > 0 ? Ctx.Scout->VobAngleFlag(VobId) : 1;
  for (uint32_t cell : Ctx.Scout->CollectVobCells(VobId)) {
    Ctx.Cells.AddCellTime(VobId, cell, seamless, start);
    start = core::AddTimecodes(Ctx.Env.Disc.FrameRate, start, Ctx.Scout->TimeBetweenCells(Ctx.Env.Disc, VobId, cell));
  }
}

}  // namespace

std::string TrackNameOfVideoFile(const std::string& VideoFile) {
  return platform::ExtractFileName(OutputStem(VideoFile)) + "-t";
}

disc::TSubPictureSegment SegmentOfItem(const disc::TSubPictureItem& Item, uint32_t Key) {
  disc::TSubPictureSegment seg;
  seg.Name = Item.Name;
  seg.SortKey = Key;
  seg.Byte8 = Item.VideoByte8;
  seg.Byte9 = Item.VideoByte9;
  seg.Value10 = core::ReadLE32(Item.Reserved10.data());
  seg.Duration = Item.Duration;
  seg.Byte18 = 0;
  seg.Value20 = 2;
  seg.VobId = Item.VobId;
  seg.CellId = Item.CellId;
  seg.Byte32 = Item.ExtraByte;
  seg.TimeValue = Item.TimeValue;
  seg.SourceNumber = Item.SourceNumber;
  return seg;
}

std::string SideFileName(const std::string& OutputFolder, bool LooseEvo, const disc::TVideoTrack& Track,
                         size_t StreamIndex, const std::string& Extension) {
  std::string folder = platform::IncludeTrailingSlash(OutputFolder);
  if (!LooseEvo) folder += Track.IFOIndex > 0 ? "VTS_" + core::IntToStrZeroPad(Track.IFOIndex, 3) + "/" : "VMG/";
  return folder + Track.Name + "_" + std::to_string(StreamIndex) + Extension;
}

bool AddSubpicSegment(const TDemuxEnv& Env, disc::TVideoTrack& Track, const disc::TSubPictureItem& Item, uint32_t Key,
                      bool NameByParity, bool WriteFiles, int32_t StreamId, int32_t StreamNumber) {
  auto& streams = Track.SubPictureStreams;
  const bool titles = Track.Domain == kPgcTitle;
  size_t index = streams.size();
  if (titles) {
    index = static_cast<size_t>(std::clamp(StreamId - kFirstSubpicId, 0, kSubpicStreams - 1));
    if (streams.size() <= index) streams.resize(index + 1);
  } else {
    for (size_t i = 0; i < streams.size() && index == streams.size(); ++i)
      if (streams[i].StreamNumber == StreamNumber) index = i;
  }
  const bool fresh = titles || index == streams.size();
  if (index == streams.size()) streams.emplace_back();
  disc::TSubPictureStream& stream = streams[index];
  if (fresh) {
    stream.StreamNumber = titles ? StreamId - kFirstSubpicId + 1 : StreamNumber;
    stream.StreamId = StreamId;
    stream.Value = Item.StreamNumber;
    if (NameByParity) stream.Name = stream.StreamNumber % 2 == 0 ? "Pan" : "Wide";
  }
  if (stream.Value == 0 && Item.StreamNumber != 0) stream.Value = Item.StreamNumber;

  const disc::TSubPictureSegment segment = SegmentOfItem(Item, Key);
  if (!WriteFiles) {
    stream.Segments.push_back(segment);
    return true;
  }
  // The side files keep the segments out of memory: the stream stays empty.
  stream.Segments.clear();
  const std::string data = SideFileName(Env.Output.Folder, Env.Disc.LooseEvo, Track, index, ".data");
  const std::string track = SideFileName(Env.Output.Folder, Env.Disc.LooseEvo, Track, index, ".track");
  const auto itemBytes = disc::SubPictureItemToBytes(Item);
  const auto segmentBytes = disc::SubpicSegmentToBytes(segment);
  if (Env.Run.WritesOverSource(data) || Env.Run.WritesOverSource(track)) return false;
  // Both files grow by one record per segment, the first record of the run
  // starting them afresh; a file that misses a record is of no use, so a
  // failed write stops the run.
  const auto append = [&](const std::string& File, const uint8_t* Bytes, size_t Size) {
    TOutputSet::FirstTouch(Env.State, File);
    int err = 0;
    if (core::AppendToFile(File, Bytes, static_cast<int64_t>(Size), &err)) return true;
    Env.Run.LogError(std::string(core::msg::CanNotOpenFile) + File + platform::OpenFailureReason(File, err));
    Env.Run.StopForFailedWrite(File);
    return false;
  };
  return append(data, itemBytes.data(), itemBytes.size()) && append(track, segmentBytes.data(), segmentBytes.size());
}

void InsertToTrackFolder(TIFOData& Ctx, uint32_t VobId, uint32_t CellId) {
  if (VobId == 0) return;
  const TDemuxEnv& Env = Ctx.Env;
  auto& seen = Ctx.Cells.TrackVobIdList;
  if (std::find(seen.begin(), seen.end(), VobId) == seen.end()) seen.push_back(VobId);

  // An angle VOB is named for itself, not for the cell in hand.
  const uint32_t angle = Ctx.Scout ? Ctx.Scout->VobAngleNumber(VobId) : 0;
  const std::string namePart = angle > 0 ? Ctx.BuildNamePart(VobId, CellId) : Ctx.Outputs.NamePart;
  std::string video;
  for (const char* suffix : kVideoSuffixes)
    if (Exists(Ctx.Outputs.OutputBase + namePart + suffix)) {
      video = Ctx.Outputs.OutputBase + namePart + suffix;
      break;
    }
  if (video.empty()) return;

  // What the writers register after the cell change belongs to no one cell.
  Ctx.Cells.CellNamingNow = 1;
  const uint32_t interleaved = Ctx.Scout ? Ctx.Scout->InterleavedCellCount(VobId) : 0;
  if (Ctx.Scout && (angle > 0 || interleaved > 0)) CellTimesFromScout(Ctx, VobId, angle);

  const disc::TVideoStreamEntry* entry = FindVideoEntryOfFile(Env.Reg, video);
  if (!entry) return;

  const std::string trackName = TrackNameOfVideoFile(video);
  const int32_t palette = Ctx.Cells.Cell.PaletteIndex;
  if (disc::TVideoTrack* existing = FindTrack(Env.Reg, trackName, Ctx.DomainKind(), Ctx.Plan.VtsNumber)) {
    // A later cell of a VOB whose track exists adds its scenes, once.
    for (const auto& scene : existing->Scenes)
      for (const auto& time : Ctx.Cells.CellTimes)
        if (scene.CellId == time.CellId && scene.VobId == time.VobId) return;
    for (const auto& time : Ctx.Cells.CellTimes)
      existing->Scenes.push_back(SceneOf(time, entry->Name + "-t-s_" + std::to_string(existing->Scenes.size() + 1),
                                         palette));
    return;
  }

  if (Env.Reg.ScriptTracks.size() >= kMaxScriptTracks) {
    Env.Run.LogError("The script holds " + std::to_string(kMaxScriptTracks) + " tracks; " + trackName +
                     " is left out of it.");
    return;
  }
  // An angle block's tracks follow each other by angle, the first angle first,
  // whichever of them finished first: a track of a lower angle goes before the
  // run of higher angles of its block that ends the table.
  auto at = Env.Reg.ScriptTracks.end();
  int32_t after = INT32_MAX;  // the angle of the track that follows the place
  while (angle > 0 && at != Env.Reg.ScriptTracks.begin()) {
    const disc::TVideoTrack& before = *std::prev(at);
    if (before.Domain != Ctx.DomainKind() || before.IFOIndex != Ctx.Plan.VtsNumber ||
        before.AngleNumber <= static_cast<int32_t>(angle) || before.AngleNumber >= after)
      break;
    after = before.AngleNumber;
    --at;
  }
  disc::TVideoTrack& track = *Env.Reg.ScriptTracks.emplace(at);
  track.Value = 0;
  track.Byte = 0;
  track.Domain = Ctx.DomainKind();
  track.VobId = VobId;
  track.StillKind = entry->StillKind;
  if (track.StillKind == 1) {
    TPGCListEntry pgc;
    Ctx.FindPgcOfCell(VobId, CellId, pgc);
    track.StillPlaybackTime = Ctx.CellPlaybackTime(pgc, VobId, CellId);
  }
  track.Name = trackName;
  disc::InitVideoTrack(track, *entry, entry->Name, {});

  if (Ctx.Plan.ByCell && Ctx.DomainKind() == kPgcTitle) {
    disc::AddSeamlessSceneItem(VobId, CellId, track, *entry, palette);
  } else {
    track.Scenes.reserve(Ctx.Cells.CellTimes.size());
    for (const auto& time : Ctx.Cells.CellTimes)
      track.Scenes.push_back(SceneOf(time, SceneName(*entry, track.Scenes.size() + 1), palette));
  }
  AddSubpictureStreams(Ctx, track, VobId, CellId);
  track.HighlightStreams.resize(1);
  AddAudioStreams(Ctx, track, namePart);
  track.AngleNumber = static_cast<int32_t>(angle);
  track.IFOIndex = Ctx.Plan.VtsNumber;
  Ctx.Cells.CellTimes.clear();
}

// ---- the hook the navigation-pack handling calls ----

void TTrackFolderSink::InsertToTrackFolder(TIFOData& Ctx, uint32_t VobId, uint32_t CellId) {
  demux::InsertToTrackFolder(Ctx, VobId, CellId);
}

}  // namespace tess::demux
