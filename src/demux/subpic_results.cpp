// Subpicture results: the decoding's findings go into the subpicture item of the
// decoded file and the track segment made from it. The run's conversion cuts the
// title units that the demultiplexer indexed in ".dat" files out of their
// streams, decodes each, and enters it into its cell's track.
#include "demux/subpic_results.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "core/files.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "disc/cell_lookups.h"
#include "disc/palette.h"
#include "demux/reauthoring.h"
#include "demux/track_folders.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "streams/audio_cut.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "state/run_state.h"
#include "subpic/services.h"

namespace tess::demux {

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kMenuKind = 1;
constexpr uint32_t kFirstSubpicId = 0x20;
constexpr uint32_t kLastSubpicId = 0x3F;
// Far beyond any real unit, SD or HD: an index that says more is wrong.
constexpr int64_t kMaxUnitSize = 16ll << 20;

// A name less its 4-character extension.
std::string_view Stem(std::string_view Name) { return Name.substr(0, Name.size() - std::min<size_t>(4, Name.size())); }

bool FindsCell(const disc::TPGC* Pgc, uint32_t VobId, uint32_t CellId) {
  return Pgc && disc::FindCellIndex(Pgc, VobId, CellId) >= 0;
}

// ---- the conversion of indexed units ----

struct TIndexedUnit {
  subpic::TSupIndexRecord Record;
  int64_t End = 0;      // one past the unit's last byte in the stream's ".sup" file
  int64_t SupSize = 0;  // of that file; -1 when it is missing
};

std::string StreamSupName(const std::string& DatFile, uint32_t StreamId) {
  return DatFile.substr(0, DatFile.size() - 4) + "_" + disc::IntToHexLower(StreamId, 2) + ".sup";
}

// Reads an index file into its units, each with its end in its stream's file
// (the next unit of the stream, or the file's end). Records that cannot stand
// are reported and left out.
bool ReadIndexFile(core::RunContext& Run, const std::string& DatFile, std::vector<TIndexedUnit>& Units) {
  if (!core::IsFile(DatFile)) {
    Run.LogError(std::string(core::msg::CanNotOpenFile) + DatFile + platform::OpenFailureReason(DatFile, 0));
    Run.NoteSkipped(DatFile + ": it cannot be opened; the subpicture units it indexes were not converted");
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!ReadSideFile(Run, DatFile, bytes)) return false;
  bool ok = true;
  if (bytes.size() % subpic::kSupIndexRecordSize != 0) {
    Run.LogError(DatFile + " ends inside a record; its last " +
                 std::to_string(bytes.size() % subpic::kSupIndexRecordSize) + " bytes are passed over");
    Run.NoteSkipped(DatFile + ": it ends inside a record, which was passed over");
    ok = false;
  }
  std::map<uint32_t, int64_t> streamSizes;
  for (size_t at = 0; at + subpic::kSupIndexRecordSize <= bytes.size(); at += subpic::kSupIndexRecordSize) {
    TIndexedUnit u;
    u.Record = subpic::DecodeSupIndexRecord(bytes.data() + at);
    const uint32_t sid = u.Record.StreamId;
    if (sid < kFirstSubpicId || sid > kLastSubpicId) {
      const std::string record = DatFile + ": record " + std::to_string(at / subpic::kSupIndexRecordSize + 1);
      Run.LogError(record + " names stream " + std::to_string(sid) +
                   ", which is no subpicture stream; it is passed over");
      Run.NoteSkipped(record + " names no subpicture stream; it was passed over");
      ok = false;
      continue;
    }
    if (!streamSizes.count(sid)) {
      std::error_code ec;
      const auto supSize = fs::file_size(StreamSupName(DatFile, sid), ec);
      streamSizes[sid] = ec ? -1 : static_cast<int64_t>(supSize);
    }
    u.End = u.SupSize = streamSizes[sid];
    Units.push_back(u);
  }
  // A unit ends where the next unit of its stream starts.
  std::map<uint32_t, int64_t> nextStart;
  for (size_t i = Units.size(); i-- > 0;) {
    const uint32_t sid = Units[i].Record.StreamId;
    if (nextStart.count(sid)) Units[i].End = nextStart[sid];
    nextStart[sid] = Units[i].Record.Offset;
  }
  return ok;
}

bool CopyUnit(core::RunContext& Run, const std::string& SupFile, const TIndexedUnit& Unit,
              const std::string& UnitFile) {
  const int64_t start = Unit.Record.Offset;
  const int64_t length = Unit.End - start;
  if (Unit.SupSize < 0) {
    Run.LogError(std::string(core::msg::File) + SupFile + std::string(core::msg::DoesNotExist) +
                 " Its subpicture units are passed over.");
    Run.NoteSkipped(SupFile + ": missing; the subpicture units its index names were passed over");
    return false;
  }
  if (length <= 0 || length > kMaxUnitSize || Unit.End > Unit.SupSize) {
    Run.LogError(SupFile + " (" + std::to_string(Unit.SupSize) + " bytes): its index puts a unit from byte " +
                 std::to_string(start) + " to byte " + std::to_string(Unit.End) + "; it is passed over");
    Run.NoteSkipped(SupFile + ": its index puts a unit at byte " + std::to_string(start) +
                    ", outside the file; the unit was passed over");
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  const int fd = platform::OpenRegularFile(SupFile, O_RDONLY);
  int err = fd >= 0 ? 0 : errno;
  const bool read = fd >= 0 && platform::PReadFull(fd, bytes.data(), bytes.size(), start, &err) == bytes.size();
  if (fd >= 0) ::close(fd);
  if (!read) {
    streams::ReportReadError(Run, SupFile, err);
    return false;
  }
  if (Run.WritesOverSource(UnitFile)) return false;
  std::string noFolder;
  core::MakeFolders(platform::ExtractFilePath(UnitFile), &noFolder);
  Run.RemoveOwnFile(UnitFile);
  if (int err = 0; !core::AppendToFile(UnitFile, bytes.data(), length, &err)) {
    Run.LogError(std::string(core::msg::CanNotOpenFile) + UnitFile +
                 (noFolder.empty() ? platform::OpenFailureReason(UnitFile, err)
                                   : ": can not create its folder" + noFolder));
    Run.StopForFailedWrite(UnitFile);
    return false;
  }
  return true;
}

// The track that shows cell VobId/CellId of a title set: the one with that
// scene, else the one of that VOB.
disc::TVideoTrack* TrackOfCell(disc::RunRegistries& Reg, uint8_t Domain, int32_t IFOIndex, uint32_t VobId,
                               uint32_t CellId) {
  disc::TVideoTrack* ofVob = nullptr;
  for (auto& t : Reg.ScriptTracks) {
    if (t.Domain != Domain || t.IFOIndex != IFOIndex) continue;
    for (const auto& s : t.Scenes)
      if (s.VobId == VobId && s.CellId == CellId) return &t;
    if (!ofVob && t.VobId == VobId) ofVob = &t;
  }
  return ofVob;
}

// The tracks of the cells met so far (the track table does not move its tracks).
using TTrackCache = std::map<std::tuple<uint8_t, int32_t, uint32_t, uint32_t>, disc::TVideoTrack*>;

// One unit: its own ".sup" beside its pictures, decoded, entered into the
// spare item and, when the settings ask for it, into its track. Drawn: its
// pictures stand whole.
bool ConvertUnit(const TDemuxEnv& Env, core::SupMode Mode, const std::string& DatFile, const TIndexedUnit& Unit,
                 uint32_t Number, TTrackCache& Tracks, bool& Drawn) {
  Drawn = false;
  const subpic::TSupIndexRecord& r = Unit.Record;
  const std::string supFile = StreamSupName(DatFile, r.StreamId);
  std::string folder = Env.Reg.StringPool.Get(r.FolderText);
  if (folder.empty()) folder = platform::ExtractFilePath(DatFile);
  folder = platform::IncludeTrailingSlash(folder);
  const std::string stem = folder + "t" + core::IntToStrZeroPad(r.DomainNumber, 3) + "_v" +
                           core::IntToStrZeroPad(r.VobId, 3) + "c" + core::IntToStrZeroPad(r.CellId, 3) + "_" +
                           disc::IntToHexLower(r.StreamId, 2) + "_" + core::IntToStrZeroPad(Number, 4);
  const std::string unitFile = stem + ".sup";
  if (!CopyUnit(Env.Run, supFile, Unit, unitFile)) return false;

  std::array<uint8_t, 48> palette{};
  disc::PaletteYCrCbToRGB(Env.Disc, PgcOfCell(Env.Disc, r.DomainIndex, r.DomainKind, r.VobId, r.CellId), palette);
  disc::TPictureSize size;
  subpic::TSupOutputResult decoded =
      subpic::DecodeSupOutput(Env.Run, Env.Subpic, unitFile, stem + ".bmp", size, palette);

  disc::TSubpicUnitDescription desc;
  desc.VideoAttr = r.VideoAttr;
  desc.VobId = r.VobId;
  desc.CellId = r.CellId;
  desc.TimeValue = r.Pts;
  desc.SourceNumber = r.StreamId;
  desc.StreamNumber = r.StreamId - kFirstSubpicId + 1;
  desc.Kind = r.DomainKind;
  disc::TSubPictureItem* item =
      disc::AddSubPictureItem(Env.Disc, Env.Reg, Env.Registry, unitFile, desc, r.DomainKind, r.StartMs, r.DomainIndex,
                              static_cast<uint32_t>(r.DomainNumber), r.NavPackCount, true);
  const uint32_t key = static_cast<uint32_t>(platform::RoundEven(r.StartMs));
  item->SortKey = key;
  CorrectSubPicture(Env.Disc, Env.Reg, unitFile, decoded.Info, true);

  bool ok = Drawn = decoded.Whole;
  if (Mode == core::SupMode::IntoScript) {
    const auto cell = std::make_tuple(r.DomainKind, r.DomainNumber, r.VobId, r.CellId);
    auto cached = Tracks.find(cell);
    if (cached == Tracks.end())
      cached = Tracks.emplace(cell, TrackOfCell(Env.Reg, r.DomainKind, r.DomainNumber, r.VobId, r.CellId)).first;
    disc::TVideoTrack* track = cached->second;
    if (!track) {
      const std::string cell = "VOB " + std::to_string(r.VobId) + " cell " + std::to_string(r.CellId);
      Env.Run.LogError("No track shows " + cell + " of " + DatFile + "; its subpicture " +
                       platform::ExtractFileName(stem) + " is left out of the script");
      Env.Run.NoteSkipped(DatFile + ": no track shows " + cell + "; its subpictures were left out of the script");
      ok = false;
    } else if (!AddSubpicSegment(Env, *track, *item, key, true, true, static_cast<int32_t>(r.StreamId),
                                 static_cast<int32_t>(r.StreamId - kFirstSubpicId + 1))) {
      ok = false;
    }
  }
  // The unit's own file goes once its pictures stand whole; else it stays to be
  // seen. One left by a write that failed belongs to that failure's summary.
  if (decoded.Whole)
    ::unlink(unitFile.c_str());
  else if (!Env.Run.WriteStopped)
    Env.Run.NoteSkipped(unitFile + ": its subpicture unit was not taken whole into pictures; the unit file stays");
  return ok;
}

// The side files of the tracks the conversion entered units into: a write
// error that stops it leaves them without their later units.
void RemoveSideFilesOfTracks(const TDemuxEnv& Env, const TTrackCache& Tracks) {
  std::set<const disc::TVideoTrack*> done;
  for (const auto& entry : Tracks) {
    const disc::TVideoTrack* track = entry.second;
    if (!track || !done.insert(track).second) continue;
    for (size_t i = 0; i < track->SubPictureStreams.size(); ++i)
      for (const char* extension : {".data", ".track"}) {
        const std::string file = SideFileName(Env.Output.Folder, Env.Disc.LooseEvo, *track, i, extension);
        if (Env.State.StartedOutputs.count(file)) Env.Run.RemoveUnfinishedOutput(file);
      }
  }
}

}  // namespace

disc::TSubPictureItem* FindItemOfFile(disc::RunRegistries& Reg, const std::string& FileName) {
  const std::string_view wanted = Stem(FileName);
  for (auto& item : Reg.SubPictureItems)
    if (platform::EqualsIgnoreCase(Stem(item.Path), wanted)) return &item;
  return nullptr;
}

void CorrectSubPicture(const disc::DiscModel& Disc, disc::RunRegistries& Reg, const std::string& FileName,
                       const subpic::TCutSupFromFileResult& Info, bool Single) {
  const core::TTimeCode duration = subpic::MsToTimecode(Disc, Info.DurationMs);
  disc::TSubPictureItem* item = Single ? &Reg.SpareSubPicture : FindItemOfFile(Reg, FileName);
  if (item) {
    item->Duration = duration;
    item->DurationMs = Info.DurationMs;
    item->Dcs.PictureCount = item->Kind == kMenuKind ? 1 : static_cast<uint8_t>(Info.PictureCount & 0xFF);
    // A file that drew no SD picture leaves the item's colours as they are.
    if (const auto& current = Info.CurrentColours) {
      for (size_t i = 0; i < 4; ++i) {
        item->Dcs.Colours[i] = current->Colours[i] + 1u;
        item->Dcs.Contrasts[i] = subpic::ContrastPercent(current->Contrasts[i]);
      }
    }
    // The item keeps lists of its own: the result it came from is released.
    item->Dcs.Fades = std::make_shared<disc::TFadeList>(Info.Fades);
    item->Dcs.Scrolls = std::make_shared<disc::TScrollList>(Info.Scrolls);
  }
  const std::string name = platform::ExtractFileName(FileName);
  const std::string_view wanted = Stem(name);
  for (auto& track : Reg.ScriptTracks) {
    // The first play and the menus of the video manager name their files alike.
    if (item && track.Domain != item->Kind) continue;
    for (auto& stream : track.SubPictureStreams)
      for (auto& segment : stream.Segments)
        if (platform::EqualsIgnoreCase(segment.Name, wanted)) {
          segment.Duration = duration;
          return;
        }
  }
}

const disc::TPGC* PgcOfCell(const disc::DiscModel& Disc, int32_t DomainIndex, uint8_t Kind, uint32_t VobId,
                            uint32_t CellId) {
  if (Disc.LooseEvo || DomainIndex < 0 || DomainIndex >= Disc.TitleSetCount ||
      static_cast<size_t>(DomainIndex) >= Disc.IFOFiles.size())
    return nullptr;
  const disc::TIFOFile& f = Disc.IFOFiles[static_cast<size_t>(DomainIndex)];
  if (Kind == kPgcTitle) {
    for (const auto& e : f.VTS_PGCIT.PGCs)
      if (FindsCell(e.PGC.get(), VobId, CellId)) return e.PGC.get();
    return nullptr;
  }
  if (Kind == kPgcFirstPlay || Kind == kPgcFirstPlayLookup)
    return FindsCell(f.FirstPlayPGC.get(), VobId, CellId) ? f.FirstPlayPGC.get() : nullptr;
  for (const auto& unit : f.MenuPGCI_UT.Units)
    for (const auto& e : unit.PGCs)
      if (FindsCell(e.PGC.get(), VobId, CellId)) return e.PGC.get();
  return nullptr;
}

bool ConvertSubpictureIndexFiles(const TDemuxEnv& Env, core::SupMode Mode, std::vector<std::string>* Undrawn) {
  if (Mode == core::SupMode::FilesOnly) return true;
  bool ok = true;
  // Each unit gets a number of its own among those of its stream and cell.
  std::map<std::tuple<uint32_t, uint32_t, uint32_t, int32_t>, uint32_t> numbers;
  TTrackCache tracks;
  for (const std::string& dat : std::vector<std::string>(Env.Reg.DatFiles)) {
    Env.Run.Log(core::kLogInfo, std::string(core::msg::ConvertSubpictureFile) + dat);
    std::vector<TIndexedUnit> units;
    bool drawn = ReadIndexFile(Env.Run, dat, units);
    ok &= drawn;
    for (const TIndexedUnit& u : units) {
      Env.Run.ProcessMessages();
      if (Env.Run.Aborted()) break;
      const uint32_t n = ++numbers[{u.Record.StreamId, u.Record.VobId, u.Record.CellId, u.Record.DomainNumber}];
      bool unitDrawn = false;
      ok &= ConvertUnit(Env, Mode, dat, u, n, tracks, unitDrawn);
      drawn &= unitDrawn;
    }
    if (!drawn && Undrawn) Undrawn->push_back(dat);
    if (Env.Run.Aborted()) break;
  }
  if (Env.Run.WriteStopped) RemoveSideFilesOfTracks(Env, tracks);
  return ok;
}

std::vector<std::string> IndexedSubpictureFiles(const std::string& DatFile) {
  std::vector<std::string> files = {DatFile};
  for (uint32_t id = kFirstSubpicId; id <= kLastSubpicId; ++id)
    if (core::IsFile(StreamSupName(DatFile, id))) files.push_back(StreamSupName(DatFile, id));
  return files;
}

}  // namespace tess::demux
