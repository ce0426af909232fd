#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/vob_file_stream.h"
#include "demux/demux_context.h"

// The audio routers: every audio payload passes through one of them on its way
// to a writer. They choose the output record the payload goes to and, when the
// domain is demultiplexed by time (the PTS mode, or titles with the Main-mode
// mark), cut the audio at the start of a new VOB on a frame boundary: the frames
// that play before the VOB's start go to the previous VOB's part, the rest opens
// the new VOB's part.
namespace tess::demux {

// How the cut frame is chosen against the VOB's start (TitlePTSMode, MenuPTSMode).
enum TPtsAlignment : int32_t { kAlignLeft = 0, kAlignCenter = 1, kAlignRight = 2 };

// A frame that starts in a payload: when it plays and where its header stands.
struct TFrameCandidate {
  double TimeMs = 0;
  int64_t Offset = 0;
};

// The frame starts of one payload, and how long the payload plays (90 kHz).
struct TPayloadFrames {
  std::vector<TFrameCandidate> Frames;
  int64_t DurationTicks = 0;
  void Clear() {
    Frames.clear();
    DurationTicks = 0;
  }
};

// DTS core frames (512 samples each) of Payload, the first playing at StartMs.
void ScanDtsFrames(std::span<const uint8_t> Payload, double StartMs, TPayloadFrames& Out);
// MPEG audio frames of Payload (sync byte 0xFF, then 0xFC..0xFF), the first playing at StartMs.
void ScanMpaFrames(std::span<const uint8_t> Payload, double StartMs, TPayloadFrames& Out);
// How long Length bytes of LPCM with the given parameters play; 0 for parameters
// that describe no sample.
int64_t LpcmPayloadTicks(int64_t Length, const TLpcmParams& Params);
// The byte of an LPCM payload at which CellStartMs falls: whole sample frames,
// and whole sample groups for 20- and 24-bit samples (two sample frames share
// their bytes there); within [0, Length].
int64_t LpcmCutOffset(int64_t Length, const TLpcmParams& Params, double PtsMs, double CellStartMs);

// The candidate the cut falls on before the alignment's checks: Left and Right
// the last one playing at or before CellStartMs, Center the nearest one (the
// earlier on a tie); 0 when none fits.
size_t ChooseCutFrame(const std::vector<TFrameCandidate>& Frames, double CellStartMs, TPtsAlignment Alignment);

// The routers of one demux context, with what they keep between payloads.
class TAudioRouter {
 public:
  TAudioRouter();

  // A private-stream-1 payload (AC-3 family, MLP, DTS, LPCM) described by the
  // context's payload fields. False: the writer writes what the payload fields
  // still describe into Record (opening it when it is new). True: the router
  // wrote or dropped the payload itself. NewFile is set when the router created
  // an output that did not exist.
  bool RouteAudioPayload(TIFOData& Ctx, core::TVobStream*& Record, uint8_t StreamId, bool& NewFile);
  // An MPEG audio payload at Used in the pack, Count bytes; both move on by the
  // bytes the router takes. It cuts only in the PTS mode.
  bool RouteMpaPayload(TIFOData& Ctx, core::TVobStream*& Record, uint8_t StreamId, bool& NewFile, int64_t& Used,
                       int64_t& Count, uint8_t BaseId);
  // A new VOB starts in a domain that cuts audio at VOB starts.
  void OnVobStart(TIFOData& Ctx);

  // The VOB that played before the current one in the chain (0 before the second).
  uint32_t PreviousVob() const { return previousVob_; }

 private:
  enum TFormat { kAc3Family, kMlp, kDts, kLpcm, kMpa };
  // The payload in hand.
  struct TPayload {
    uint8_t Sid = 0;     // stream id of the packet
    uint8_t Sub = 0;     // substream id as the records key it (MPEG audio: 0)
    uint8_t Number = 0;  // the stream number within its format
    TFormat Format = kAc3Family;
    int64_t* Offset = nullptr;  // in the pack
    int64_t* Length = nullptr;
    const uint8_t* Data(const TIFOData& Ctx) const { return Ctx.Pack + *Offset; }
  };

  bool Route(TIFOData& Ctx, core::TVobStream*& Record, const TPayload& P, bool& NewFile);
  // The Main-mode step of titles: per-cell outputs within a VOB. True when it
  // has chosen the record.
  bool RouteMainMode(TIFOData& Ctx, core::TVobStream*& Record, const TPayload& P);
  // A packet without a time stamp: it continues the stream's last timed one.
  bool RouteUntimed(TIFOData& Ctx, core::TVobStream*& Record, const TPayload& P, bool& NewFile);
  // A timed packet at or before the VOB start, or one of a stream whose cut was
  // deferred.
  bool RouteCut(TIFOData& Ctx, core::TVobStream*& Record, const TPayload& P, bool& NewFile);
  // The whole payload plays before the VOB start: it goes to the previous VOB's part.
  bool RouteWholeBefore(TIFOData& Ctx, const TPayload& P, bool& NewFile);

  // Fills frames_ (frame starts and duration) for the payload.
  void ScanPayload(const TIFOData& Ctx, const TPayload& P, double PtsMs);
  // May the previous VOB's part be continued across this VOB start?
  bool ContinuesPrevious(const TIFOData& Ctx) const;
  // Appends Count bytes of the payload to the previous VOB's part (or parts).
  void AppendToPrevious(TIFOData& Ctx, const TPayload& P, int64_t Count, bool& NewFile);
  // A new record of the stream for Vob (of angle Angle), its output opened for
  // appending under that VOB's name.
  core::TVobStream* OpenPreviousPart(TIFOData& Ctx, const TPayload& P, uint32_t Vob, bool& NewFile,
                                     uint32_t Angle = 0);
  // A record written for another VOB or angle is closed and marked new, so that
  // the writer opens the current VOB's output in it.
  void ReopenCheck(TIFOData& Ctx, core::TVobStream* Record) const;
  void Drop(TIFOData& Ctx, const TPayload& P, int64_t Count, const char* Why) const;
  void LogCut(TIFOData& Ctx, const TPayload& P, double PtsMs, size_t Listed, double ChosenMs) const;
  // The stream's record for a VOB: the one that last wrote it, else the last one
  // of the stream.
  static core::TVobStream* Find(TIFOData& Ctx, const TPayload& P, uint32_t Vob);
  // The record that last wrote Vob's part, else nil.
  static core::TVobStream* PartOf(TIFOData& Ctx, const TPayload& P, uint32_t Vob);
  // The angle of Vob as the scout has it; 0 outside angle blocks.
  static uint32_t AngleOfVob(const TIFOData& Ctx, uint32_t Vob);
  // The stream's record for the current angle (else for the current VOB).
  static core::TVobStream* ByAngle(TIFOData& Ctx, const TPayload& P);
  // Appends Count payload bytes to Record, opening the part of Vob (of angle
  // Angle) first when the record has no output.
  void WritePart(TIFOData& Ctx, const TPayload& P, core::TVobStream* Record, uint32_t Vob, int64_t Count,
                 bool& NewFile, uint32_t Angle = 0);

  static size_t StreamKey(uint8_t Sid, uint8_t Sub) { return Sid == 0xBD ? Sub : 0x100u | Sid; }

  TPayloadFrames frames_;
  // Per stream: the time of its last timed payload (or of its cut), which the
  // packets after it without a time stamp continue.
  std::array<double, 512> streamPtsMs_{};
  uint32_t previousVob_ = 0;
};

}  // namespace tess::demux
