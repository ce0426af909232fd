// Audio synchronisation at VOB starts. In the VobID mode an audio payload goes
// whole to its stream's output of the current angle. In the PTS mode (and for
// titles with the Main-mode mark) the first payloads of a stream in a new VOB
// are weighed against the VOB's start time: what plays before it is appended to
// the previous VOB's part, and the new part starts on a frame boundary. DTS,
// LPCM and MPEG audio are cut inside a payload; the AC-3 family and MLP, whose
// frames are not analysed here, only between payloads.
#include "demux/audio_sync.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/byte_order.h"
#include "core/messages.h"
#include "disc/script_model.h"
#include "disc/vob_scout.h"
#include "platform/rounding.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "state/run_state.h"
#include "streams/dts.h"
#include "streams/mpa.h"

namespace tess::demux {

namespace {

// The audio-cell table of a title set has an entry per VOB id up to this.
constexpr uint32_t kMaxAudioCellVob = 999;
// Right alignment: a frame farther than this from the VOB start is not taken
// (90 kHz ticks: 19.5 ms at 25 frames per second, about 16 ms otherwise).
constexpr int64_t kRightLimit25 = 1755;
constexpr int64_t kRightLimitOther = 1441;
constexpr int32_t kPalRate = 25;
constexpr double kTicksPerSecond = 90000;
// More frame starts than this cannot stand in one pack.
constexpr size_t kMostCandidates = 512;

constexpr uint8_t kMpaSync = 0xFF;
constexpr uint8_t kMpaSecondMin = 0xFC;  // MPEG-1 Layers I and II
constexpr size_t kMpaHeaderBytes = 4;
constexpr size_t kDtsSyncBytes = 4;

int64_t Nearest(double Value) { return platform::RoundEven(Value); }

// The cut decisions go to the information window as well as to the run's log.
void LogPts(TIFOData& Ctx, const std::string& Line) {
  const uint32_t colour = Ctx.Settings.AudioPtsColour;
  Ctx.Env.Run.InfoForm.AddLogColored(core::kLogInfo, Line, colour);
  Ctx.Env.Run.Log(core::kLogInfo, Line, colour);
}
int64_t MsToTicks(double Ms) { return Nearest(Ms * core::kTicksPerMs); }
using core::TicksToMs;

// LPCM samples travel in groups: 20- and 24-bit samples two sample frames at
// a time (the low bits of both frames share bytes), so that a 20-bit mono
// frame takes two and a half bytes. Bytes 0 when the parameters describe none.
struct TLpcmGroup {
  int64_t Bytes = 0;
  int64_t Frames = 1;
};
TLpcmGroup LpcmSampleGroup(const TLpcmParams& P) {
  if (P.SampleSize <= 0 || P.Channels <= 0) return {};
  const int64_t frames = (P.SampleSize == 20 || P.SampleSize == 24) ? 2 : 1;
  return {static_cast<int64_t>(P.SampleSize) * P.Channels * frames / 8, frames};
}

// The sample frames of Length bytes, in whole groups.
int64_t LpcmSampleFrames(int64_t Length, const TLpcmParams& P) {
  const TLpcmGroup g = LpcmSampleGroup(P);
  return g.Bytes > 0 && Length > 0 ? Length / g.Bytes * g.Frames : 0;
}

}  // namespace

// ---- frames of a payload ----

void ScanDtsFrames(std::span<const uint8_t> Payload, double StartMs, TPayloadFrames& Out) {
  Out.Clear();
  const size_t n = Payload.size();
  double t = StartMs;
  int64_t frames = 0;
  int32_t rate = 0;
  size_t i = 0;
  while (i + kDtsSyncBytes <= n) {
    if (core::ReadBE32(Payload.data() + i) != streams::kDtsSync) {
      ++i;
      continue;
    }
    streams::TDtsCoreHeader h;
    h.Decode(Payload.subspan(i, std::min(n - i, streams::TDtsCoreHeader::kBytes)));
    // A sync word whose header is cut off by the payload's end, or that is
    // frame data which only looks like one, names no frame.
    if (!h.IsPlausible()) {
      ++i;
      continue;
    }
    rate = streams::DtsSampleRateOf(h.Sfreq);
    if (Out.Frames.size() < kMostCandidates) Out.Frames.push_back({t, static_cast<int64_t>(i)});
    // Every core frame plays 512 samples, whatever its block count says.
    t += TicksToMs(Nearest(static_cast<double>(streams::kDtsSamplesPerFrame) / rate * kTicksPerSecond));
    ++frames;
    i += static_cast<size_t>(std::max<int64_t>(h.FrameSize(), kDtsSyncBytes));
  }
  if (frames > 0)
    Out.DurationTicks =
        Nearest(static_cast<double>(frames * streams::kDtsSamplesPerFrame) / rate * kTicksPerSecond);
}

void ScanMpaFrames(std::span<const uint8_t> Payload, double StartMs, TPayloadFrames& Out) {
  Out.Clear();
  const size_t n = Payload.size();
  const uint8_t* p = Payload.data();
  double t = StartMs;
  double seconds = 0;
  size_t i = 0;
  while (i + kMpaHeaderBytes <= n) {
    if (p[i] != kMpaSync || p[i + 1] < kMpaSecondMin) {
      ++i;
      continue;
    }
    streams::TMPAFrameParser f;
    if (!f.ParseHeader(p + i) || f.SamplesPerFrame() == 0 || f.GetSampleRate() == 0) {
      ++i;
      continue;
    }
    const double length = static_cast<double>(f.SamplesPerFrame()) / f.GetSampleRate();
    if (Out.Frames.size() < kMostCandidates) Out.Frames.push_back({t, static_cast<int64_t>(i)});
    t += TicksToMs(Nearest(length * kTicksPerSecond));
    seconds += length;
    // On to where the next header stands; a free-format frame (no length of
    // its own) is searched past byte by byte.
    i += kMpaHeaderBytes + static_cast<size_t>(f.PayloadLength());
  }
  Out.DurationTicks = Nearest(seconds * kTicksPerSecond);
}

int64_t LpcmPayloadTicks(int64_t Length, const TLpcmParams& Params) {
  const int64_t frames = LpcmSampleFrames(Length, Params);
  if (frames <= 0 || Params.SampleRate <= 0) return 0;
  return Nearest(static_cast<double>(frames) / Params.SampleRate * kTicksPerSecond);
}

int64_t LpcmCutOffset(int64_t Length, const TLpcmParams& Params, double PtsMs, double CellStartMs) {
  const int64_t ticks = LpcmPayloadTicks(Length, Params);
  if (ticks <= 0) return 0;
  const int64_t frames = LpcmSampleFrames(Length, Params);
  int64_t at = Nearest((CellStartMs - PtsMs) / TicksToMs(ticks) * static_cast<double>(frames));
  // A cut inside a sample group would leave both parts unreadable.
  const TLpcmGroup group = LpcmSampleGroup(Params);
  at = std::clamp<int64_t>(Nearest(static_cast<double>(at) / group.Frames), 0, frames / group.Frames);
  return std::min(at * group.Bytes, Length);
}

size_t ChooseCutFrame(const std::vector<TFrameCandidate>& Frames, double CellStartMs, TPtsAlignment Alignment) {
  if (Frames.empty()) return 0;
  if (Alignment == kAlignCenter) {
    if (Frames.size() < 2) return 0;
    size_t best = 0;
    for (size_t i = 1; i < Frames.size(); ++i)
      if (std::fabs(Frames[i].TimeMs - CellStartMs) < std::fabs(Frames[best].TimeMs - CellStartMs)) best = i;
    return best;
  }
  size_t chosen = 0;
  for (size_t i = 0; i < Frames.size(); ++i)
    if (Frames[i].TimeMs <= CellStartMs) chosen = i;
  return chosen;
}

// ---- the context's reference time ----

double TIFOData::AudioDelay(bool FromCut) const {
  double reference = Cells.Cell.NavPackTimeMs;
  if (FromCut && Settings.AudioTimeNavigation && !Cells.Cell.FirstVideoSeen)
    reference = TicksToMs(Cells.NavRecord.VobuStart);
  return LastPtsMs - reference;
}

// ---- the routers ----

TAudioRouter::TAudioRouter() { frames_.Frames.reserve(kMostCandidates); }

void TAudioRouter::OnVobStart(TIFOData& Ctx) {
  if (Ctx.Cells.PrevVobId != Ctx.Cells.VobId) previousVob_ = Ctx.Cells.PrevVobId;
}

core::TVobStream* TAudioRouter::Find(TIFOData& Ctx, const TPayload& P, uint32_t Vob) {
  return Ctx.Outputs.StreamTable.Find(static_cast<uint8_t>(Vob), P.Sid, P.Sub);
}

core::TVobStream* TAudioRouter::PartOf(TIFOData& Ctx, const TPayload& P, uint32_t Vob) {
  core::TVobStream* r = Find(Ctx, P, Vob);
  return r && r->CutKey == (Vob & 0xFF) ? r : nullptr;
}

core::TVobStream* TAudioRouter::ByAngle(TIFOData& Ctx, const TPayload& P) {
  core::TVobStream* r =
      Ctx.Outputs.StreamTable.FindByIdSubKind(P.Sid, P.Sub, static_cast<uint8_t>(Ctx.Cells.AngleNumber));
  return r ? r : Find(Ctx, P, Ctx.Cells.VobId);
}

bool TAudioRouter::RouteAudioPayload(TIFOData& Ctx, core::TVobStream*& Record, uint8_t StreamId, bool& NewFile) {
  TPayload p;
  p.Sid = StreamId;
  p.Sub = Ctx.Payload.SubstreamId;
  switch (Ctx.Payload.BaseId) {
    case 0x88: p.Format = kDts; break;
    case 0xA0: p.Format = kLpcm; break;
    case 0xB0: p.Format = kMlp; break;
    default: p.Format = kAc3Family; break;
  }
  p.Number = static_cast<uint8_t>(p.Sub - Ctx.Payload.BaseId);
  p.Offset = &Ctx.Payload.PayloadOffset;
  p.Length = &Ctx.Payload.PayloadLength;
  if (RouteMainMode(Ctx, Record, p)) return false;
  return Route(Ctx, Record, p, NewFile);
}

bool TAudioRouter::RouteMpaPayload(TIFOData& Ctx, core::TVobStream*& Record, uint8_t StreamId, bool& NewFile,
                                   int64_t& Used, int64_t& Count, uint8_t BaseId) {
  TPayload p;
  p.Sid = StreamId;
  p.Sub = 0;
  p.Format = kMpa;
  p.Number = static_cast<uint8_t>(StreamId - BaseId);
  p.Offset = &Used;
  p.Length = &Count;
  return Route(Ctx, Record, p, NewFile);
}

bool TAudioRouter::RouteMainMode(TIFOData& Ctx, core::TVobStream*& Record, const TPayload& P) {
  if (!Ctx.IsTitleDomain() || Ctx.Settings.Titles != core::TitleMode::Main) return false;
  const uint32_t vob = Ctx.Cells.VobId;
  // Past the table's VOB ids nothing is cut or marked; the payload stays in its
  // own stream's output of the VOB.
  if (vob > kMaxAudioCellVob) {
    Record = Find(Ctx, P, vob);
    return true;
  }
  if (vob != Ctx.Cells.PrevVobId || (Ctx.Cells.AngleNumber > 0 && Ctx.Cells.CellId == 1)) return false;
  disc::TAudioCellEntry* e =
      Ctx.Env.Disc.LooseEvo ? nullptr : Ctx.Env.AudioCells.FirstBlockEntry(Ctx.Plan.DomainIndex, vob);
  if (e && !e->Seen) {
    e->Seen = 1;
    e->FirstAudioCell = static_cast<int32_t>(Ctx.Cells.CellId);
  }
  Record = Find(Ctx, P, vob);
  if (Record && Record->CellId != Ctx.Cells.CellId) Record->IsNew = true;
  return true;
}

bool TAudioRouter::Route(TIFOData& Ctx, core::TVobStream*& Record, const TPayload& P, bool& NewFile) {
  const bool titles = Ctx.IsTitleDomain();
  const core::TitleMode mode = titles ? Ctx.Settings.Titles : Ctx.Settings.Menus;
  const bool cuts = mode == core::TitleMode::Pts || (P.Format != kMpa && titles && Ctx.Plan.ByCell);
  if (!cuts) {
    Record = ByAngle(Ctx, P);
    return false;
  }
  const uint32_t vob = Ctx.Cells.VobId;
  const uint32_t nextAngle = static_cast<uint32_t>(Ctx.Cells.AngleNumber + 1);
  // Inside an angle block, before its last angle, and before an interleaved
  // block, nothing is cut.
  if (Ctx.Cells.HasAngleCell(vob + 1, nextAngle)) {
    Record = Find(Ctx, P, vob);
    ReopenCheck(Ctx, Record);
    return false;
  }
  if (Ctx.Cells.HasVob(vob + 1)) {
    Record = ByAngle(Ctx, P);
    return false;
  }
  // The stream was cut into this VOB already.
  if (Ctx.Outputs.HasStreamVobPair(P.Sid, P.Sub, vob)) {
    Record = Find(Ctx, P, vob);
    ReopenCheck(Ctx, Record);
    return false;
  }
  if (Ctx.PtsDtsFlags < 2) return RouteUntimed(Ctx, Record, P, NewFile);
  streamPtsMs_[StreamKey(P.Sid, P.Sub)] = Ctx.LastPtsMs;
  if (Ctx.LastPtsMs > Ctx.Cells.VobStartMs && !Ctx.Outputs.HasPendingCut(P.Sid, P.Sub)) {
    Record = ByAngle(Ctx, P);
    return false;
  }
  return RouteCut(Ctx, Record, P, NewFile);
}

bool TAudioRouter::RouteUntimed(TIFOData& Ctx, core::TVobStream*& Record, const TPayload& P, bool& NewFile) {
  // The packet continues the stream's last timed one, so it goes where that
  // one's frames went: to the previous VOB's part, or to the current one.
  const int64_t count = *P.Length;
  if (streamPtsMs_[StreamKey(P.Sid, P.Sub)] < Ctx.Cells.VobStartMs) {
    const uint32_t previous = previousVob_;
    core::TVobStream* part = PartOf(Ctx, P, previous);
    Record = part ? part : Find(Ctx, P, previous);
    if (ContinuesPrevious(Ctx))
      AppendToPrevious(Ctx, P, count, NewFile);
    else
      Drop(Ctx, P, count, "the previous VOB does not continue seamlessly");
    *P.Offset += count;
    return true;
  }
  core::TVobStream* rec = Find(Ctx, P, Ctx.Cells.VobId);
  Record = rec;
  if (!rec || (!rec->Stream && !Ctx.Outputs.SharedOutput(*rec))) {
    if (rec) rec->IsNew = true;
    return false;
  }
  Ctx.Outputs.WriteToRecord(Ctx.Env.Run, *rec, P.Data(Ctx), count, false);
  *P.Offset += count;
  return true;
}

void TAudioRouter::ScanPayload(const TIFOData& Ctx, const TPayload& P, double PtsMs) {
  const std::span<const uint8_t> bytes(P.Data(Ctx), static_cast<size_t>(std::max<int64_t>(*P.Length, 0)));
  switch (P.Format) {
    case kDts: ScanDtsFrames(bytes, PtsMs, frames_); break;
    case kMpa: ScanMpaFrames(bytes, PtsMs, frames_); break;
    case kLpcm:
      frames_.Clear();
      frames_.DurationTicks = LpcmPayloadTicks(*P.Length, Ctx.Lpcm);
      break;
    default: frames_.Clear(); break;  // not analysed: no frames, no duration
  }
}

bool TAudioRouter::RouteCut(TIFOData& Ctx, core::TVobStream*& Record, const TPayload& P, bool& NewFile) {
  Ctx.Outputs.SetPendingCut(P.Sid, P.Sub, false);
  const double pts = Ctx.LastPtsMs;
  const double start = Ctx.Cells.VobStartMs;
  ScanPayload(Ctx, P, pts);
  const double durationMs = TicksToMs(frames_.DurationTicks);
  if (pts + durationMs < start) return RouteWholeBefore(Ctx, P, NewFile);

  const bool titles = Ctx.IsTitleDomain();
  const int32_t setting = titles ? Ctx.Settings.TitlePtsMode : Ctx.Settings.MenuPtsMode;
  const auto alignment = static_cast<TPtsAlignment>(setting == kAlignCenter || setting == kAlignRight ? setting
                                                                                                     : kAlignLeft);
  std::vector<TFrameCandidate>& f = frames_.Frames;
  size_t listed = f.size();
  size_t index = 0;
  if (P.Format == kDts || P.Format == kMpa) {
    index = ChooseCutFrame(f, start, alignment);
    double& delay = P.Format == kDts ? Ctx.Cells.Delays.DtsMs : Ctx.Cells.Delays.MpaMs;
    if (alignment == kAlignLeft) {
      delay = 0;
    } else if (!f.empty()) {
      bool later = false;
      if (alignment == kAlignCenter) {
        const double d1 = std::fabs(start - f[index].TimeMs);
        const double d2 = index + 1 < f.size() ? std::fabs(start - f[index + 1].TimeMs)
                                               : std::fabs(start - (pts + durationMs));
        later = d1 > d2;
      } else {
        const int64_t limit = Nearest(Ctx.Env.Disc.FrameRate) == kPalRate ? kRightLimit25 : kRightLimitOther;
        later = MsToTicks(std::fabs(start - f[index].TimeMs)) > limit;
      }
      if (later && index + 1 < f.size()) {
        ++index;
      } else if (later) {
        // The start falls nearer the end of the payload: the cut is made at the
        // first frame of the stream's next payload.
        Ctx.Outputs.SetPendingCut(P.Sid, P.Sub, true);
        LogPts(Ctx, "VobID: " + std::to_string(Ctx.Cells.VobId) + ", Stream: " + std::to_string(P.Number + 1) +
                        std::string(core::msg::CurrentPTS) + std::to_string(MsToTicks(pts)) +
                        std::string(core::msg::DoNotTakeAsTheNextIs));
        return RouteWholeBefore(Ctx, P, NewFile);
      }
    }
  } else if (P.Format == kLpcm) {
    // One cut at the VOB start itself; it is not listed.
    f.push_back({start, LpcmCutOffset(*P.Length, Ctx.Lpcm, pts, start)});
    listed = 0;
  }
  LogCut(Ctx, P, pts, listed, f.empty() ? pts : f[index].TimeMs);
  const uint32_t vob = Ctx.Cells.VobId;
  Ctx.Outputs.AddStreamVobPair(P.Sid, P.Sub, vob);
  const int64_t cut = f.empty() ? 0 : std::clamp<int64_t>(f[index].Offset, 0, *P.Length);
  if (cut == 0) {
    // The whole payload belongs to the new VOB.
    Record = Find(Ctx, P, vob);
    ReopenCheck(Ctx, Record);
    return false;
  }
  if (ContinuesPrevious(Ctx)) {
    AppendToPrevious(Ctx, P, cut, NewFile);
  } else {
    Record = ByAngle(Ctx, P);
    Drop(Ctx, P, cut, "the previous VOB does not continue seamlessly");
  }
  *P.Offset += cut;
  *P.Length -= cut;
  Record = Find(Ctx, P, vob);
  ReopenCheck(Ctx, Record);
  // The new part starts at the VOB start.
  streamPtsMs_[StreamKey(P.Sid, P.Sub)] = start;
  Ctx.LastPtsMs = start;
  if (P.Format == kDts)
    Ctx.Cells.Delays.DtsMs = Ctx.AudioDelay(true);
  else if (P.Format == kLpcm)
    Ctx.Cells.Delays.LpcmMs = Ctx.AudioDelay(true);
  else if (P.Format == kMpa || P.Format == kAc3Family)
    Ctx.Cells.Delays.MpaMs = Ctx.AudioDelay(true);
  return false;
}

bool TAudioRouter::RouteWholeBefore(TIFOData& Ctx, const TPayload& P, bool& NewFile) {
  if (ContinuesPrevious(Ctx))
    AppendToPrevious(Ctx, P, *P.Length, NewFile);
  else
    Drop(Ctx, P, *P.Length, "the previous VOB does not continue seamlessly");
  *P.Offset += *P.Length;
  return true;
}

bool TAudioRouter::ContinuesPrevious(const TIFOData& Ctx) const {
  const uint32_t vob = Ctx.Cells.VobId;
  const bool interleaved = Ctx.Cells.Cell.InterleavedCellCount > 0;
  if (Ctx.Cells.AngleNumber <= 1 && !interleaved) return true;
  if (Ctx.Cells.HasAngleCell(vob + 1, static_cast<uint32_t>(Ctx.Cells.AngleNumber + 1)) || Ctx.Cells.HasVob(vob + 1))
    return true;
  if (!interleaved || Ctx.Cells.HasVob(previousVob_)) return false;
  return true;
}

void TAudioRouter::AppendToPrevious(TIFOData& Ctx, const TPayload& P, int64_t Count, bool& NewFile) {
  if (Count <= 0) return;
  const uint32_t previous = previousVob_;
  const uint32_t vob = Ctx.Cells.VobId;
  core::TVobStream* rec = PartOf(Ctx, P, previous);
  // The records of an EVO file read before this one are gone; the scout still
  // knows the previous VOB's angle.
  const uint32_t angle = rec ? rec->Kind : AngleOfVob(Ctx, previous);
  if (Ctx.Cells.AngleNumber <= 0 && angle > 0) {
    // Just past an angle block: the bytes end every angle's part.
    for (uint32_t k = 0; k < angle && k < previous; ++k) {
      const uint32_t v = previous - k;
      WritePart(Ctx, P, PartOf(Ctx, P, v), v, Count, NewFile, angle - k);
    }
    return;
  }
  if (Ctx.Cells.AngleNumber > 0 && angle > 0) {
    // From one angle to another: each angle's VOB carries its own audio.
    Drop(Ctx, P, Count, "they belong to another angle");
    return;
  }
  if (Ctx.Cells.AngleNumber != 1 && Ctx.Cells.Cell.InterleavedCellCount == 0 && Ctx.Cells.HasVob(previous)) {
    // Just past an interleaved block: the bytes end every interleaved VOB's part.
    for (uint32_t v = previous; v > 0 && Ctx.Cells.HasVob(v); --v)
      WritePart(Ctx, P, PartOf(Ctx, P, v), v, Count, NewFile);
    if (!PartOf(Ctx, P, vob)) OpenPreviousPart(Ctx, P, vob, NewFile);
    return;
  }
  WritePart(Ctx, P, rec, previous, Count, NewFile);
}

uint32_t TAudioRouter::AngleOfVob(const TIFOData& Ctx, uint32_t Vob) {
  return Ctx.Scout ? Ctx.Scout->VobAngleNumber(Vob) : 0;
}

void TAudioRouter::WritePart(TIFOData& Ctx, const TPayload& P, core::TVobStream* Record, uint32_t Vob, int64_t Count,
                             bool& NewFile, uint32_t Angle) {
  if (!Record || (!Record->Stream && !Ctx.Outputs.SharedOutput(*Record)))
    Record = OpenPreviousPart(Ctx, P, Vob, NewFile, Angle);
  if (Record) Ctx.Outputs.WriteToRecord(Ctx.Env.Run, *Record, P.Data(Ctx), Count, false);
}

core::TVobStream* TAudioRouter::OpenPreviousPart(TIFOData& Ctx, const TPayload& P, uint32_t Vob, bool& NewFile,
                                                  uint32_t Angle) {
  core::TVobStream* r = Ctx.Outputs.StreamTable.AddAudio(P.Sid, P.Sub, static_cast<uint8_t>(Vob));
  // Kept like the writers keep it, so that a later look at the part knows its angle.
  r->Kind = Angle;
  // With the Main-mode mark every cell is a file: the part is the VOB's last cell.
  uint32_t cell = 1;
  if (Ctx.IsTitleDomain() && Ctx.Plan.ByCell && Ctx.Scout)
    cell = static_cast<uint32_t>(std::max(Ctx.Scout->GetVobCells(Vob), 1));
  const char* extension = ".ac3";
  switch (P.Format) {
    case kDts: extension = ".dts"; break;
    case kLpcm: extension = ".pcm"; break;
    case kMlp: extension = ".mlp"; break;
    case kMpa: extension = ".mpa"; break;
    case kAc3Family: break;
  }
  const uint8_t id = P.Format == kMpa ? P.Sid : P.Sub;
  const std::string savedName = Ctx.Outputs.NamePart;
  core::TVobStream* savedRecord = Ctx.Outputs.CurrentRecord;
  Ctx.Outputs.NamePart = Ctx.BuildNamePart(Vob, cell);
  Ctx.Outputs.CurrentRecord = r;
  Ctx.OpenStreamOutput("_" + disc::IntToHexLower(id, 2) + extension, P.Sid, false, P.Sub);
  Ctx.Outputs.NamePart = savedName;
  Ctx.Outputs.CurrentRecord = savedRecord;
  r->IsNew = false;
  if (r->Stream) {
    if (!r->Stream->Appended) NewFile = true;
    if (P.Format == kLpcm) {
      r->Stream->LpcmBitsPerSample = Ctx.Lpcm.SampleSize;
      r->Stream->LpcmChannels = Ctx.Lpcm.Channels;
      r->Stream->LpcmSampleRate = Ctx.Lpcm.SampleRate;
    }
  }
  return r;
}

void TAudioRouter::ReopenCheck(TIFOData& Ctx, core::TVobStream* Record) const {
  if (!Record) return;
  if (Record->CutKey == (Ctx.Cells.VobId & 0xFF) && Record->Kind == static_cast<uint8_t>(Ctx.Cells.AngleNumber))
    return;
  // Within a chain an output is finished only when the chain ends.
  if (!Ctx.Outputs.StreamTable.CloseStream(*Record)) Ctx.Outputs.OutputFailed = true;
  Record->IsNew = true;
}

void TAudioRouter::Drop(TIFOData& Ctx, const TPayload& P, int64_t Count, const char* Why) const {
  if (Count <= 0) return;
  Ctx.Env.Run.Log(core::kLogInfo,
                  "VobID: " + std::to_string(Ctx.Cells.VobId) + ", Stream: " + std::to_string(P.Number + 1) + ": " +
                      std::to_string(Count) + " audio bytes before the VOB start are dropped: " + Why + ".",
                  Ctx.Settings.AudioPtsColour);
}

void TAudioRouter::LogCut(TIFOData& Ctx, const TPayload& P, double PtsMs, size_t Listed, double ChosenMs) const {
  std::string line = "VobID: " + std::to_string(Ctx.Cells.VobId) + ", Stream: " + std::to_string(P.Number + 1) +
                     std::string(core::msg::CurrentPTS) + std::to_string(MsToTicks(PtsMs)) + ", Video: " +
                     std::to_string(MsToTicks(Ctx.Cells.VobStartMs)) + std::string(core::msg::TheListOfPTSesOfHeaderS);
  for (size_t i = 0; i < Listed && i < frames_.Frames.size(); ++i)
    line += std::to_string(MsToTicks(frames_.Frames[i].TimeMs)) + " | ";
  line += std::string(core::msg::TheMostAppropriate) + std::to_string(MsToTicks(ChosenMs));
  LogPts(Ctx, line);
}

}  // namespace tess::demux
