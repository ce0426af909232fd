// The stream writers: each takes the payload of its own streams from the pack
// buffer, picks the stream's record in the output set for the cell in hand,
// opens its output the first time (or again when the output is split), has the
// output set append the payload and registers a new output in the run's
// registries. Audio payloads go through the audio router first. Also the output
// set's own operations: writing, closing and finishing, the stream keys and the
// audio routers' cuts.
#include <algorithm>
#include <filesystem>

#include "core/byte_order.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/timecode.h"
#include "demux/audio_sync.h"
#include "demux/demux_context.h"
#include "disc/attribute_texts.h"
#include "disc/cell_lookups.h"
#include "disc/highlights.h"
#include "disc/registries.h"
#include "disc/script_model.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "state/run_state.h"
#include "streams/ac3.h"
#include "streams/m2v_headers.h"

namespace tess::demux {

namespace {

enum TAudioFormat : int32_t { kAc3, kDts, kMlp, kLpcm, kMpa };

// Coding modes of an audio attribute entry (top 3 bits of its first byte).
constexpr uint8_t kCodingMpa = 2;
constexpr uint8_t kCodingLpcm = 4;
constexpr uint8_t kCodingDts = 6;

// A cell id that names no particular cell: the output spans the VOB's cells.
constexpr uint32_t kAnyCell = 0xFFFFFFFFu;

const char* VideoSuffix(uint8_t Sid, uint8_t Sub) {
  switch (Sid) {
    case 0xE0: return "_e0.m2v";
    case 0xE1: return "_e1.m2v";
    case 0xE2: return "_e2.264";
    case 0xE3: return "_e3.264";
    case 0xFD: return Sub == 0x55 ? "_55.vc1" : Sub == 0x56 ? "_56.vc1" : nullptr;
    default: return nullptr;
  }
}

std::string HexSuffix(uint8_t Id, const char* Extension) {
  return "_" + disc::IntToHexLower(Id, 2) + Extension;
}

// The payload begins with an AC-3 or E-AC-3 sync frame header.
bool StartsWithAc3Frame(const uint8_t* Data, int64_t Count) {
  if (!Data || Count <= 0) return false;
  streams::TAc3FrameHeader header;
  return header.Decode({Data, static_cast<size_t>(Count)});
}

}  // namespace

double TIFOData::StreamStartTime() const { return Settings.AudioTimeNavigation ? Cells.Cell.NavPackTimeMs : LastPtsMs; }

void TIFOData::OpenStreamOutput(const std::string& Suffix, uint8_t Sid, bool ForSubpicture, uint8_t Sub) {
  core::TVobStream& rec = *Outputs.CurrentRecord;
  // Within a chain an output is finished only when the chain ends.
  if (!Outputs.StreamTable.CloseStream(rec)) Outputs.OutputFailed = true;
  std::string name;
  if (Outputs.SupToImages && IsSubpictureStream(Sid, Sub) && !Outputs.SubpictureFileName.empty())
    name = Outputs.SubpictureFileName + Suffix;
  else
    name = Outputs.OutputBase + Outputs.NamePart + Suffix;
  rec.FileName = name;
  // Records that name one file (the angles of a loose EVO file, all named after
  // it) write through the one stream that holds it, so its bytes stay in the
  // order they came.
  if (Outputs.SharedOutput(rec)) return;
  if (Env.Run.WritesOverSource(name)) {
    rec.FileName.clear();
    Outputs.OutputFailed = true;
    return;
  }
  if (std::string folder = platform::ExtractFilePath(name), why; !folder.empty() && !core::MakeFolders(folder, &why)) {
    Env.Run.LogError(std::string(core::msg::CanNotOpenFile) + name + ": can not create folder " + folder + why);
    Outputs.OutputFailed = true;
    return;
  }
  const bool fresh = TOutputSet::FirstTouch(Env.State, name);
  if (IsTitleDomain() && Settings.Memory == core::MemoryMode::ComplexDisc && ForSubpicture) {
    Outputs.AddNamedOutput(name);
    return;
  }
  rec.Stream = core::TVobFileStream::CreateAppend(Env.Run, name, core::TVobFileStream::kModeWrite, Env.Output,
                                                  Outputs.OutputBufferSize(Settings.Memory));
  // An output the run started before goes on, also where its first part has
  // already become a WAV file: it is registered once.
  if (!fresh) rec.Stream->Appended = true;
  rec.Stream->FinishSup = Outputs.SupToImages != 0;
  rec.Stream->FinishPcm = Outputs.PcmToWav != 0;
  if (!rec.Stream->IsOpen()) Outputs.OutputFailed = true;
  // The video analysis that follows the demultiplexing passes over the slices
  // of an MPEG video output by the start codes noted here as it is written.
  if (rec.Stream->IsOpen() && platform::ToLowerAscii(name).ends_with(".m2v"))
    rec.Stream->StartCodes = Env.Run.StartCodeMaps.ForOutput(rec.Stream->Handle(), rec.Stream->BytesWritten,
                                                             streams::kFirstSliceCode, streams::kLastSliceCode);
}

// ---- the output set ----

void TOutputSet::WriteToRecord(core::RunContext& Run, core::TVobStream& Record, const uint8_t* Data, int64_t Count,
                               bool ByName) {
  if (Count <= 0) return;
  if (ByName) {
    // Once a write error stopped the run, a file written by name would only
    // come back after its removal; a record whose output was refused has no
    // file to go to.
    if (Run.WriteStopped) return;
    if (Record.FileName.empty()) {
      OutputFailed = true;
      return;
    }
    if (int err = 0; !core::AppendToFile(Record.FileName, Data, Count, &err)) {
      Run.LogError("Write error in file " + Record.FileName + platform::OpenFailureReason(Record.FileName, err));
      Run.StopForFailedWrite(Record.FileName);
      OutputFailed = true;
    }
    return;
  }
  core::TVobFileStream* stream = Record.Stream ? Record.Stream.get() : SharedOutput(Record);
  if (!stream || stream->Write(Data, Count) != Count) OutputFailed = true;
}

int64_t TOutputSet::OutputBufferSize(core::MemoryMode Memory) const {
  // The first outputs of a context write in large blocks, which costs the file
  // system least; past them the setting's size keeps the memory bounded however
  // many streams and angles a domain has.
  constexpr size_t kLargeOutputs = 8;
  constexpr int64_t kLargeBuffer = 1 << 20;
  if (Memory != core::MemoryMode::Ordinary) return 0;
  size_t open = IndexFiles.size();
  for (const auto& r : StreamTable.Streams) open += r.Stream ? 1 : 0;
  return open < kLargeOutputs ? kLargeBuffer : 0;
}

bool TOutputSet::FirstTouch(state::RunState& State, const std::string& FileName) {
  if (!State.StartedOutputs.insert(FileName).second) return false;
  std::error_code ec;
  // A file that cannot be removed (its folder takes no changes) is at least
  // emptied, so that nothing of it is appended to.
  if (!std::filesystem::remove(FileName, ec) && ec) std::filesystem::resize_file(FileName, 0, ec);
  return true;
}

void TOutputSet::AddNamedOutput(const std::string& FileName) {
  if (std::find(NamedOutputs.begin(), NamedOutputs.end(), FileName) == NamedOutputs.end())
    NamedOutputs.push_back(FileName);
}

bool TOutputSet::CloseOutputs(TCloseMode Mode, const TDemuxEnv& Env, const core::DemuxSettings& Settings,
                              const disc::TPGC* Pgc) {
  bool ok = true;
  // An index waits for the chain's end with the outputs it indexes (finishing
  // it only closes it, unless a write error stopped the run: then it goes).
  for (auto& f : IndexFiles) {
    if (!f.Stream) continue;
    if (!f.Stream->Close()) ok = false;
    StreamTable.KeepPending(std::move(f.Stream));
  }
  IndexFiles.clear();
  StreamTable.CloseAll();
  if (Mode == TCloseMode::Finish) {
    if (Env.Run.WriteStopped)
      for (const std::string& name : NamedOutputs) Env.Run.RemoveUnfinishedOutput(name);
    NamedOutputs.clear();
  }
  const bool finished = Mode == TCloseMode::Finish
                            ? FinishPending({Env, Settings, {PictureWidth, PictureHeight}, Pgc}, StreamTable)
                            : true;
  std::fill(registered_.begin(), registered_.end(), 0);
  if (!ok) OutputFailed = true;
  return ok && finished;
}

void TOutputSet::Release() {
  for (auto& f : IndexFiles)
    if (f.Stream) f.Stream->Close();
  IndexFiles.clear();
  for (auto& r : StreamTable.Streams)
    if (r.Stream) r.Stream->Close();
  StreamTable.CloseAll();
  NamedOutputs.clear();
  std::fill(registered_.begin(), registered_.end(), 0);
}

core::TVobFileStream* TOutputSet::SharedOutput(const core::TVobStream& Record) {
  if (Record.FileName.empty()) return nullptr;
  for (auto& r : StreamTable.Streams)
    if (&r != &Record && r.Stream && r.FileName == Record.FileName) return r.Stream.get();
  return nullptr;
}

void TOutputSet::AddSeenStream(uint32_t StreamId, uint32_t SubstreamId) {
  const size_t key = ((StreamId & 0xFF) << 8) | (SubstreamId & 0xFF);
  if (seenMask_[key]) return;
  seenMask_[key] = true;
  SeenStreams.push_back({StreamId, SubstreamId});
}

void TOutputSet::RegisterStream(uint8_t Sid, uint8_t Sub, uint8_t Kind) {
  uint16_t& known = registered_[static_cast<size_t>(Sid << 8 | Sub)];
  if (known == Kind + 1u) return;
  if (!StreamTable.Exists(Sid, Sub, Kind)) StreamTable.Add(Sid, Sub, Kind);
  known = static_cast<uint16_t>(Kind + 1u);
}

namespace {
uint64_t StreamVobKey(uint8_t Sid, uint8_t Sub, uint32_t Vob) {
  return static_cast<uint64_t>(Sid) << 40 | static_cast<uint64_t>(Sub) << 32 | Vob;
}
}  // namespace

void TOutputSet::AddStreamVobPair(uint8_t Sid, uint8_t Sub, uint32_t Vob) { Pairs.insert(StreamVobKey(Sid, Sub, Vob)); }

bool TOutputSet::HasStreamVobPair(uint8_t Sid, uint8_t Sub, uint32_t Vob) const {
  return Pairs.contains(StreamVobKey(Sid, Sub, Vob));
}

bool TOutputSet::HasPendingCut(uint8_t Sid, uint8_t Sub) const {
  const uint16_t key = static_cast<uint16_t>(Sid << 8 | Sub);
  return std::find(PendingCuts.begin(), PendingCuts.end(), key) != PendingCuts.end();
}

void TOutputSet::SetPendingCut(uint8_t Sid, uint8_t Sub, bool On) {
  const uint16_t key = static_cast<uint16_t>(Sid << 8 | Sub);
  const auto it = std::find(PendingCuts.begin(), PendingCuts.end(), key);
  if (On && it == PendingCuts.end()) PendingCuts.push_back(key);
  if (!On && it != PendingCuts.end()) PendingCuts.erase(it);
}

// ---- the chain's outputs, with the program chain in hand ----

bool TIFOData::CloseOutputs(TCloseMode Mode) {
  return Outputs.CloseOutputs(Mode, Env, Settings, Cells.CurrentPgc.Pgc);
}

// ---- video ----

int64_t TIFOData::VideoWriter(const TPacket& P) {
  const char* suffix = VideoSuffix(P.Sid, P.Sub);
  // A video id without an output name has nowhere to go; its payload is dropped.
  if (!suffix) return 0;
  core::TVobStream* rec =
      Outputs.StreamTable.Find(static_cast<uint8_t>(Cells.VobId), P.Sid,
                               P.Sid == 0xFD ? P.Sub : static_cast<uint8_t>(0));
  if (!rec) return 0;
  Outputs.CurrentRecord = rec;
  if (Plan.ByCell && (rec->CutKey != (Cells.VobId & 0xFF) || rec->CellId != Cells.CellId)) rec->IsNew = true;
  bool opened = false;
  if (rec->IsNew) {
    OpenStreamOutput(suffix, P.Sid, false, P.Sub);
    rec->IsNew = false;
    opened = true;
  }
  const uint8_t* data = Pack + P.PayloadStart;
  const int64_t count = P.End - P.PayloadStart;
  // An MPEG-2 sequence header in a timed packet gives the picture and the rate.
  if (PtsDtsFlags > 0 && count >= 12 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == 0xB3) {
    const uint32_t size = core::ReadBE32(data + 4);
    VideoWidth = static_cast<int32_t>(size >> 20);
    VideoHeight = static_cast<int32_t>((size >> 8) & 0xFFF);
    VideoAspectCode = static_cast<uint8_t>((size >> 4) & 3);
    VideoBitRate = ((core::ReadBE32(data + 8) >> 14) & 0x3FFFF) * 400;
  }
  rec->CutKey = Cells.VobId & 0xFF;
  rec->CellId = Cells.CellId;
  rec->Kind = static_cast<uint8_t>(Cells.AngleNumber);
  Outputs.WriteToRecord(Env.Run, *rec, data, count, false);
  if (opened) GetVideoInfo(opened);
  return count;
}

bool TIFOData::GetVideoInfo(bool Opened) {
  core::TVobStream& rec = *Outputs.CurrentRecord;
  if (!Opened || !rec.Stream || rec.Stream->Appended) return false;
  disc::TVideoStreamDescription desc;
  desc.VideoAttr = Plan.DomainVideoAttr(IsTitleDomain());
  desc.EndTime = CellPlaybackTime(Cells.CurrentPgc, Cells.VobId, Cells.CellId);
  desc.AspectCode = VideoAspectCode;
  desc.BitRate = VideoBitRate;
  desc.VobId = Cells.VobId;
  // A title output cut by cell is named after its cell, and so is its entry,
  // also when it opens right after a cell change (which files audio under any cell).
  desc.CellId = Cells.CellNamingNow && !(IsTitleDomain() && Plan.ByCell) ? kAnyCell : Cells.CellId;
  disc::TStreamContext ctx;
  ctx.PgcKind = Cells.CurrentPgc.PgcKind;
  ctx.Pgc = Cells.CurrentPgc.Pgc;
  // The video registry numbers a first-play or video-manager domain -1, menus 0.
  const int32_t number = IsTitleDomain() ? Plan.DomainNumberValue() : (Plan.FirstPlayList ? -1 : 0);
  disc::TVideoStreamEntry* e = disc::RegisterVideoStream(Env.Run, Env.Disc, Env.Reg, Env.Registry, rec.FileName, desc,
                                                         ctx, Plan.DomainIndex, number, {VideoWidth, VideoHeight});
  CurrentVideoEntry = e;
  if (!e) return false;
  e->StillKind = Plan.ByCell ? 1 : disc::GetCellStillKind(Cells.VobId, Cells.CellId, Cells.CurrentPgc.Pgc);
  e->FirstTimeStampMs = Cells.Cell.CellFirstVideoMs;
  e->AngleNumber = Cells.AngleNumber;
  if (Cells.AngleNumber > 0) {
    e->VobId = Cells.VobId;
    e->CellId = Cells.CellId;
  }
  return true;
}

// ---- subpictures ----

int64_t TIFOData::SubpictureWriter(const TPacket& P) {
  core::TVobStream* rec = Outputs.StreamTable.Find(static_cast<uint8_t>(Cells.VobId), P.Sid, P.Sub);
  if (!rec) return 0;
  Outputs.CurrentRecord = rec;
  if (Plan.ByCell && (rec->CutKey != (Cells.VobId & 0xFF) || rec->CellId != Cells.CellId)) rec->IsNew = true;
  const bool byName = IsTitleDomain() && Settings.Memory == core::MemoryMode::ComplexDisc;
  const bool unitStarts = PtsDtsFlags != 0;
  bool opened = false;
  if (Outputs.SupToImages) {
    // Every unit is an output of its own; a packet that continues a unit whose
    // output is gone (after a cell change) opens one too.
    if (unitStarts || rec->IsNew || (!rec->Stream && rec->FileName.empty())) {
      OpenStreamOutput(".sup", P.Sid, true, P.Sub);
      if (rec->Stream) {
        rec->Stream->PictureWidth = Outputs.PictureWidth;
        rec->Stream->PictureHeight = Outputs.PictureHeight;
      }
      rec->IsNew = false;
      opened = true;
    }
  } else if (rec->IsNew) {
    OpenStreamOutput(HexSuffix(P.Sub, ".sup"), P.Sid, true, P.Sub);
    rec->IsNew = false;
    opened = true;
  }
  rec->CutKey = Cells.VobId & 0xFF;
  rec->CellId = Cells.CellId;
  rec->Kind = static_cast<uint8_t>(Cells.AngleNumber);
  GetSubpictureInfo(P.Sub, opened);
  const int64_t count = P.End - P.PayloadStart;
  Outputs.WriteToRecord(Env.Run, *rec, Pack + P.PayloadStart, count, byName);
  return count;
}

void TIFOData::GetSubpictureInfo(uint8_t Sub, bool Opened) {
  core::TVobStream& rec = *Outputs.CurrentRecord;
  const bool titles = IsTitleDomain();
  const bool indexed = titles && Settings.TitleMakeSup;
  subpic::TSubpictureUnitInfo unit;
  const bool unitStarts = PtsDtsFlags != 0;
  if (unitStarts) {
    if (titles) {
      unit.LanguageText = 0;
    } else {
      const std::string lang =
          Cells.CurrentPgc.Pgc
              ? disc::SubpicStreamLanguageText(Env.Run, Env.Disc, Plan.DomainIndex, Cells.CurrentPgc.Pgc, Sub)
              : std::string("Not Specified");
      unit.LanguageText = subpic::AddDataString(Env.Reg, lang);
    }
    unit.DomainKind = DomainKind();
    unit.VideoAttr = Plan.DomainVideoAttr(IsTitleDomain());
    unit.DomainNumber = titles ? Plan.DomainNumberValue() : -1;
    unit.ImageFileName = rec.FileName.size() >= 4 ? rec.FileName.substr(0, rec.FileName.size() - 4) + ".bmp" : "";
    unit.StartTime = core::MillisecondsToTimecode(std::max(Cells.Delays.SubpictureMs, 0.0), Env.Disc.FrameRate);
    unit.VobId = Cells.VobId;
    unit.CellId = Cells.CellId;
    unit.Pts = LastPtsTicks;
    unit.NavPackCount = Cells.NavPackCount;
    ++Env.State.SubpicUnitCount;
    if (indexed) {
      AddSubpictureUnitToDat(Sub, unit);
    } else if (Outputs.SupToImages) {
      // The unit just opened its own output: the next one is numbered on.
      ++Outputs.SubpictureUnitCount[Sub];
    }
  }
  if (Opened && !indexed) {
    disc::TSubpicUnitDescription desc;
    desc.VideoAttr = Plan.DomainVideoAttr(IsTitleDomain());
    desc.VobId = Cells.VobId;
    desc.CellId = Cells.CellId;
    desc.TimeValue = LastPts;
    desc.SourceNumber = Sub;
    desc.StreamNumber = static_cast<uint32_t>(Sub - kFirstSubpictureId + 1);
    desc.Kind = DomainKind();
    disc::AddSubPictureItem(Env.Disc, Env.Reg, Env.Registry, rec.FileName, desc, DomainKind(),
                            Cells.Delays.SubpictureMs, Plan.DomainIndex,
                            static_cast<uint32_t>(Plan.DomainNumberValue()), Cells.NavPackCount, false);
  }
}

void TIFOData::AddSubpictureUnitToDat(uint8_t Sub, const subpic::TSubpictureUnitInfo& Unit) {
  core::TVobStream& rec = *Outputs.CurrentRecord;
  const std::string dat = Outputs.OutputBase + BuildNamePart(Cells.VobId, Cells.CellId) + ".dat";
  int64_t offset = 0;
  if (Settings.Memory == core::MemoryMode::ComplexDisc)
    offset = core::GetFileSizeByName(rec.FileName);
  else if (const core::TVobFileStream* out = rec.Stream ? rec.Stream.get() : Outputs.SharedOutput(rec))
    offset = out->BytesWritten;  // a record that shares another's file has no stream of its own
  // The folder that receives the stream's pictures, as the subpicture name builder gives it.
  const std::string& named = Outputs.SubpictureFileName.empty() ? rec.FileName : Outputs.SubpictureFileName;
  const uint32_t folder = subpic::AddDataString(Env.Reg, platform::ExtractFilePath(named));
  const uint32_t prefix =
      Outputs.SubpictureFilePrefix.empty() ? 0 : subpic::AddDataString(Env.Reg, Outputs.SubpictureFilePrefix);
  ++Outputs.SubpictureUnitCount[Sub];
  // The index stays open while the chain's file is read: one record per unit
  // would otherwise open and close it every time. Its first record goes through
  // the subpicture unit's append, which makes the index, lists it among the
  // run's ".dat" files and says so (and asks) when it cannot be made.
  auto& indexes = Outputs.IndexFiles;
  auto it = std::find_if(indexes.begin(), indexes.end(), [&](const TOutputSet::TIndexFile& f) { return f.Name == dat; });
  if (it == indexes.end()) {
    if (Env.Run.WritesOverSource(dat)) {
      Outputs.OutputFailed = true;
      return;
    }
    TOutputSet::FirstTouch(Env.State, dat);
    if (!subpic::AppendSubpictureToSup(Env.Run, Env.Reg, Outputs.SubPicBase, dat, Unit, Sub, folder,
                                       static_cast<uint64_t>(offset), Cells.Delays.SubpictureMs, Plan.DomainIndex,
                                       Plan.DomainNumberValue(), prefix)) {
      // An index that a write error cut short goes with the outputs it indexes.
      if (Env.Run.WriteStopped) Env.Run.RemoveUnfinishedOutput(dat);
      Outputs.OutputFailed = true;
      return;
    }
    indexes.push_back(
        {dat, core::TVobFileStream::CreateAppend(Env.Run, dat, core::TVobFileStream::kModeWrite, Env.Output,
                                                 core::TVobFileStream::kAppendBufferSmall)});
    return;
  }
  subpic::TSupIndexRecord record;
  if (!subpic::MakeSupIndexRecord(Env.Run, dat, Unit, Sub, folder, static_cast<uint64_t>(offset),
                                  Cells.Delays.SubpictureMs, Plan.DomainIndex, Plan.DomainNumberValue(), prefix,
                                  record)) {
    Outputs.OutputFailed = true;
    return;
  }
  uint8_t bytes[subpic::kSupIndexRecordSize];
  subpic::EncodeSupIndexRecord(record, bytes);
  if (it->Stream->Write(bytes, sizeof bytes) != static_cast<int64_t>(sizeof bytes)) Outputs.OutputFailed = true;
}

// ---- audio ----

int64_t TIFOData::PrivateAudioWriter(const TPacket& P, int32_t HeaderBytes, uint32_t BaseId, const char* Extension,
                                     int32_t Format) {
  const uint8_t* header = Pack + P.PayloadStart;
  if (P.End - P.PayloadStart < HeaderBytes) {
    Env.Run.LogError("Audio packet of substream " + disc::IntToHexLower(P.Sub, 2) +
                     " is shorter than its header; it is dropped. Pack Number: " + std::to_string(PackNumber));
    return 0;
  }
  if (Format == kLpcm) {
    static constexpr int32_t kSampleSizes[4] = {16, 20, 24, 0};
    static constexpr int32_t kSampleRates[4] = {48000, 96000, 0, 0};
    const uint8_t info = header[4];
    Lpcm.SampleSize = kSampleSizes[info >> 6];
    Lpcm.SampleRate = kSampleRates[(info >> 4) & 3];
    Lpcm.Channels = (info & 7) + 1;
  }
  Payload.SubstreamId = P.Sub;
  Payload.BaseId = BaseId;
  Payload.PayloadOffset = P.PayloadStart + HeaderBytes;
  Payload.PayloadLength = P.End - Payload.PayloadOffset;
  bool newFile = false;
  if (AudioRouter->RouteAudioPayload(*this, Outputs.CurrentRecord, P.Sid, newFile)) return Payload.PayloadLength;
  core::TVobStream* rec = Outputs.CurrentRecord;
  if (!rec) return 0;
  if (rec->IsNew) {
    OpenStreamOutput(HexSuffix(P.Sub, Extension), P.Sid, false, P.Sub);
    rec->IsNew = false;
    newFile = true;
    if (Format == kLpcm && rec->Stream) {
      rec->Stream->LpcmBitsPerSample = Lpcm.SampleSize;
      rec->Stream->LpcmChannels = Lpcm.Channels;
      rec->Stream->LpcmSampleRate = Lpcm.SampleRate;
    }
  }
  const uint8_t* data = Pack + Payload.PayloadOffset;
  Outputs.WriteToRecord(Env.Run, *rec, data, Payload.PayloadLength, false);
  rec->CutKey = Cells.VobId & 0xFF;
  rec->CellId = Cells.CellId;
  rec->Kind = static_cast<uint8_t>(Cells.AngleNumber);
  switch (Format) {
    case kAc3:
      ++Env.State.AC3PayloadCount;
      GetAc3Info(P.Sub, newFile, data, Payload.PayloadLength);
      break;
    case kDts: GetDtsInfo(P.Sub, newFile); break;
    case kMlp: GetMlpInfo(P.Sub, newFile); break;
    default: GetLpcmInfo(P.Sub, newFile); break;
  }
  return Payload.PayloadLength;
}

int64_t TIFOData::Ac3Writer(const TPacket& P) { return PrivateAudioWriter(P, 3, 0xC0, ".ac3", kAc3); }
int64_t TIFOData::DtsWriter(const TPacket& P) { return PrivateAudioWriter(P, 3, 0x88, ".dts", kDts); }
int64_t TIFOData::MlpWriter(const TPacket& P) { return PrivateAudioWriter(P, 4, 0xB0, ".mlp", kMlp); }
int64_t TIFOData::LpcmWriter(const TPacket& P) { return PrivateAudioWriter(P, 6, 0xA0, ".pcm", kLpcm); }

int64_t TIFOData::MpegAudioWriter(const TPacket& P) {
  int64_t used = P.PayloadStart;
  int64_t count = P.End - P.PayloadStart;
  bool newFile = false;
  if (AudioRouter->RouteMpaPayload(*this, Outputs.CurrentRecord, P.Sid, newFile, used, count, 0xC0)) return count;
  newFile = false;
  core::TVobStream* rec = Outputs.CurrentRecord;
  if (!rec) return 0;
  if (rec->IsNew) {
    OpenStreamOutput(HexSuffix(P.Sid, ".mpa"), P.Sid, false, 0);
    rec->IsNew = false;
    newFile = true;
  }
  const uint8_t* data = Pack + used;
  Outputs.WriteToRecord(Env.Run, *rec, data, count, false);
  rec->CutKey = Cells.VobId & 0xFF;
  rec->CellId = Cells.CellId;
  rec->Kind = static_cast<uint8_t>(Cells.AngleNumber);
  GetMpegAudioInfo(P.Sid, newFile);
  return count;
}

void TIFOData::GetAc3Info(uint8_t Sub, bool Opened, const uint8_t* Data, int64_t Count) {
  RegisterAudio(0xBD, Sub, Opened, kAc3, Data, Count);
}
void TIFOData::GetDtsInfo(uint8_t Sub, bool Opened) { RegisterAudio(0xBD, Sub, Opened, kDts, nullptr, 0); }
void TIFOData::GetMlpInfo(uint8_t Sub, bool Opened) { RegisterAudio(0xBD, Sub, Opened, kMlp, nullptr, 0); }
void TIFOData::GetLpcmInfo(uint8_t Sub, bool Opened) { RegisterAudio(0xBD, Sub, Opened, kLpcm, nullptr, 0); }
void TIFOData::GetMpegAudioInfo(uint8_t Sid, bool Opened) { RegisterAudio(Sid, 0, Opened, kMpa, nullptr, 0); }

void TIFOData::RegisterAudio(uint8_t Sid, uint8_t Sub, bool Opened, int32_t Format, const uint8_t* Data,
                             int64_t Count) {
  core::TVobStream& rec = *Outputs.CurrentRecord;
  if (!Opened || !rec.Stream || rec.Stream->Appended) return;
  if (disc::IsListedFileName(Env.Reg, rec.FileName)) return;
  const bool titles = IsTitleDomain();
  disc::TAudioStreamDescription desc;
  desc.VideoAttr = titles ? Plan.Attributes.TitleVideoAttr : Plan.Attributes.MenuVideoAttr;
  desc.EndTime = core::TimecodeDifference(
      Env.Disc.FrameRate, CellPlaybackTime(Cells.CurrentPgc, Cells.VobId, Cells.CellId), Cells.CellTime);
  desc.VobId = Cells.VobId;
  desc.CellId = Cells.CellNamingNow ? kAnyCell : Cells.CellId;

  // The stream's own attribute entry, for the formats whose entry tells them
  // apart: the first of its coding mode whose decoding stream is this one.
  auto copyAttr = [&](uint8_t Coding, int32_t Number) {
    const bool menu = !titles;
    if (menu && Format == kDts) return;
    const auto& table = titles ? Plan.Attributes.TitleAudioAttrs : Plan.Attributes.MenuAudioAttrs;
    for (size_t k = 0; k < table.size(); ++k) {
      if ((table[k][0] >> 5) != Coding) continue;
      const int32_t n = titles ? disc::TitleAudioStreamNumber(Env.Disc, static_cast<int32_t>(k + 1), Plan.DomainIndex)
                               : disc::MenuAudioStreamNumber(Env.Disc, static_cast<int32_t>(k + 1), Plan.DomainIndex);
      if (n != Number) continue;
      desc.AudioAttr = table[k];
      return;
    }
  };
  double delay = 0;
  switch (Format) {
    case kAc3:
    case kMlp: delay = Cells.Delays.Ac3Ms; break;
    case kDts:
      delay = Cells.Delays.DtsMs;
      copyAttr(kCodingDts, Sub - 0x88);
      break;
    case kLpcm:
      delay = Cells.Delays.LpcmMs;
      copyAttr(kCodingLpcm, Sub - 0xA0);
      desc.SampleRate = static_cast<uint32_t>(Lpcm.SampleRate);
      desc.SampleSize = static_cast<uint32_t>(Lpcm.SampleSize);
      break;
    default:
      delay = Cells.Delays.MpaMs;
      copyAttr(kCodingMpa, Sid - 0xC0);
      break;
  }
  const double shownDelay = (!titles && delay < 0) ? 0 : delay;
  const TTimeCode delayCode =
      delay < 0 && !titles ? TTimeCode{} : core::MillisecondsToTimecode(shownDelay, Env.Disc.FrameRate);
  const int32_t number = titles ? Plan.DomainNumberValue() : 0;
  disc::TAudioStreamEntry* e = disc::AddAudioStream(Env.Disc, Env.Reg, Env.Registry, rec.FileName, desc, DomainKind(),
                                                    delayCode, Plan.DomainIndex, number);
  if (e) {
    const double start = StreamStartTime();
    const bool ac3Family = Format == kAc3 || Format == kMlp;
    e->StartTimeMs = start;
    e->FirstTimeStampMs = ac3Family ? LastPtsMs : start;
    e->AudioDelayMs = delay;
    e->NoDelay = titles && delay < 0 ? 1 : 0;
  }
  const bool mainMode = Settings.Titles == core::TitleMode::Main;
  if (Format == kAc3 && titles && !mainMode && !StartsWithAc3Frame(Data, Count)) {
    const std::string name = platform::ExtractFileName(rec.FileName);
    Env.Run.InfoForm.AddLogColored(
        2, std::string(core::msg::WarningAC3File) + name + std::string(core::msg::IsNotCorrect), platform::kColourRed);
    Env.Run.LogError(rec.FileName + std::string(core::msg::AC3FileIsNotCorrect));
  }
}

}  // namespace tess::demux
