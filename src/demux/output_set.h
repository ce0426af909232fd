#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/settings.h"
#include "core/vob_file_stream.h"
#include "demux/stream_finisher.h"
#include "subpic/services.h"

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct TPGC;
}
namespace tess::state {
struct RunState;
}

// The output set: the files a demux context writes. The stream table with an
// output record per stream (and VOB, cell or angle where the naming splits
// them), the ".dat" indexes of title subpictures, the names the outputs take
// and the keys they were last built from, the streams met, and where the audio
// routers have cut. Its operations open nothing by themselves: the writers
// choose the record and the name (writers.cpp), the output set writes, closes
// and finishes.
namespace tess::demux {

constexpr uint8_t kFirstSubpictureId = 0x20;
constexpr uint8_t kLastSubpictureId = 0x3F;

struct TSeenStream {
  uint32_t StreamId = 0;
  uint32_t SubstreamId = 0;
};

class TOutputSet {
 public:
  TOutputSet() { ResetSubpictureUnits(); }
  TOutputSet(const TOutputSet&) = delete;
  TOutputSet& operator=(const TOutputSet&) = delete;

  // ---- names ----
  std::string OutputBase;   // ends in "/"
  std::string NamePart;     // folder and name stem relative to OutputBase
  std::string SubpictureFileName;
  std::string SubpictureFilePrefix;  // of the title subpicture folder
  std::array<uint32_t, 64> SubpictureUnitCount{};  // indexes 32..63 used
  void ResetSubpictureUnits();
  // NamePart was last built for this cell.
  bool NamedFor(uint32_t VobId, uint32_t CellId) const {
    return namedValid_ && namedVob_ == VobId && namedCell_ == CellId;
  }
  void SetNamePart(std::string Name, uint32_t VobId, uint32_t CellId);
  // SubpictureFileName was last built for this cell, substream and unit, and
  // the NamePart in hand.
  bool SubpictureNamedFor(uint32_t VobId, uint32_t CellId, uint8_t Sub) const;
  void NoteSubpictureNamed(uint32_t VobId, uint32_t CellId, uint8_t Sub);

  // ---- how the outputs are finished ----
  // Whether the outputs are finished into pictures and WAV files when the chain
  // ends; a context leaves them as written until its maker sets these.
  uint8_t SupToImages = 0;
  uint8_t PcmToWav = 0;
  uint8_t CleanOutputFirst = 0;
  uint8_t AudioMask = 0;     // non-zero: an audio-only run
  bool AudioOnly() const { return AudioMask != 0; }
  int32_t PictureWidth = 0, PictureHeight = 0;  // subpicture pictures

  // ---- the outputs ----
  core::TVobStreams StreamTable;
  core::TVobStream* CurrentRecord = nullptr;
  bool OutputFailed = false; // an output could not be created or written
  // The ".dat" index files of the chain, kept open while a file of it is read.
  struct TIndexFile {
    std::string Name;
    std::unique_ptr<core::TVobFileStream> Stream;
  };
  std::vector<TIndexFile> IndexFiles;
  subpic::TSubPicBase1 SubPicBase;
  std::vector<TSeenStream> SeenStreams;

  // The stream (Sid, Sub) is in SeenStreams.
  void AddSeenStream(uint32_t StreamId, uint32_t SubstreamId);
  // The stream table holds a record for (Sid, Sub) of kind Kind.
  void RegisterStream(uint8_t Sid, uint8_t Sub, uint8_t Kind);
  // Appends Count bytes of the pack buffer to the record's output.
  void WriteToRecord(core::RunContext& Run, core::TVobStream& Record, const uint8_t* Data, int64_t Count,
                     bool ByName);
  // The open stream of another record that writes the same file, or nil.
  core::TVobFileStream* SharedOutput(const core::TVobStream& Record);
  // The outputs of the chain written a piece at a time by name, without a
  // stream that holds them open (".hlt2" files, the title subpictures of a
  // complex disc): when a write error stops the run they go with the chain's
  // open outputs as the chain ends.
  std::vector<std::string> NamedOutputs;
  void AddNamedOutput(const std::string& FileName);
  // The first time the run touches an output name, a file of that name left by
  // an earlier run (or by a stopped or failed one) is removed, so that the
  // run's output starts empty; later opens, of this context or another, append
  // to it. True the first time. Every writer that appends to a file of the
  // run's asks here before it writes.
  static bool FirstTouch(state::RunState& State, const std::string& FileName);
  // The buffer of a new output: 0 for the setting's size.
  int64_t OutputBufferSize(core::MemoryMode Memory) const;
  // Closes the chain's outputs: kept for the chain's end between two of its
  // files, finished at its end (FinishPending, with the program chain in hand
  // for pictures without a cell of their own). False when an output lost bytes
  // or could not be finished.
  bool CloseOutputs(TCloseMode Mode, const TDemuxEnv& Env, const core::DemuxSettings& Settings,
                    const disc::TPGC* Pgc);
  // Releases the outputs without finishing them (a run that gave up).
  void Release();

  // ---- the audio routers' cuts ----
  // The cut-done list, asked for every audio payload: a set of (stream id,
  // substream id, VOB id), keyed by stream and substream together because the
  // AC-3 substream 0xC0 and the MPEG audio stream 0xC0 differ.
  std::unordered_set<uint64_t> Pairs;
  void AddStreamVobPair(uint8_t Sid, uint8_t Sub, uint32_t Vob);
  bool HasStreamVobPair(uint8_t Sid, uint8_t Sub, uint32_t Vob) const;
  // The pending cuts, per (stream id, substream id).
  std::vector<uint16_t> PendingCuts;
  bool HasPendingCut(uint8_t Sid, uint8_t Sub) const;
  void SetPendingCut(uint8_t Sid, uint8_t Sub, bool On);

 private:
  // What the subpicture file name was last built from: it is rebuilt only when
  // one of these changes, not for every packet.
  struct TSubpicNameKey {
    uint32_t VobId = 0, CellId = 0, UnitCount = 0;
    uint8_t Sub = 0;
    bool Valid = false;
    bool operator==(const TSubpicNameKey&) const = default;
  };
  TSubpicNameKey subpicKey_;
  std::string subpicNamePart_;
  uint32_t namedVob_ = 0, namedCell_ = 0;  // what NamePart was last built for
  bool namedValid_ = false;
  // Per (stream id, substream id): the pair is in SeenStreams; and the stream
  // table holds a record for it of kind (value - 1), so that a packet of a known
  // stream does not walk the table. Both only grow until the table is emptied.
  std::vector<bool> seenMask_ = std::vector<bool>(65536);
  std::vector<uint16_t> registered_ = std::vector<uint16_t>(65536);
};

}  // namespace tess::demux
