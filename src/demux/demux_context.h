#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/timecode.h"
#include "core/vob_file_stream.h"
#include "demux/cell_tracker.h"
#include "demux/demux_env.h"
#include "demux/domain_plan.h"
#include "demux/output_set.h"
#include "demux/stream_finisher.h"
#include "disc/registries.h"
#include "subpic/services.h"

namespace tess::disc {
class TVobScaut;
}
namespace tess::platform {
struct ProgressBar;
}

// The demux context of one domain (the video manager's first play and menus, one
// title set's menus or titles, or one loose EVO file). It composes three parts
// split by what changes when:
//   Plan     the domain plan (domain_plan.h): the information file, the program
//            chain lists and the attributes, fixed before the first pack;
//   Cells    the cell tracker (cell_tracker.h): the cell in hand, the navigation
//            record, the cell times, highlights and angle cells, moved on by the
//            navigation packs;
//   Outputs  the output set (output_set.h): the stream table, the index files and
//            the output names, written to by the writers;
// and holds itself the input and the pack in hand. A pack flows one way down:
// the chain driver (chain_driver.cpp) reads each pack of the domain's EVO chain
// through ProcessPack, which hands each packet to DemuxPES (pes_demux.cpp);
// DemuxPES sends navigation packets to the navigation-pack handling
// (nav_handling.cpp), which moves the tracker on, and payloads to their writer
// (writers.cpp); the writer picks the stream's record in the output set and
// opens its file the first time, and the output set appends the payload to the
// file, closes it between the chain's files and finishes it at the chain's end.
namespace tess::demux {

// ---- hooks filled by later work ----

class TIFOData;
struct TEvoListEntry;

// Chooses the output record of an audio payload and cuts the audio at VOB
// starts (demux/audio_sync.h).
class TAudioRouter;

// Makes a finished VOB (or cell) a track of the authoring-script model; the
// default is the track folders' own insertion (track_folders.h).
class TTrackFolderSink {
 public:
  virtual ~TTrackFolderSink() = default;
  virtual void InsertToTrackFolder(TIFOData& Ctx, uint32_t VobId, uint32_t CellId);
};

// ---- the pack in hand ----

// The payload in hand, as the writers hand it to the audio router.
struct TPayloadInfo {
  uint8_t SubstreamId = 0;     // private-stream substream, or the MPEG audio stream id
  uint32_t BaseId = 0;         // 0xC0 AC-3 family or MPEG audio, 0xB0 MLP, 0x88 DTS, 0xA0 LPCM
  int64_t PayloadLength = 0;   // bytes still to be written
  int64_t PayloadOffset = 0;   // where they start in the pack buffer
};

struct TLpcmParams {
  int32_t SampleSize = 0;  // bits
  int32_t Channels = 0;
  int32_t SampleRate = 0;
};

constexpr int32_t kPackSize = 2048;
constexpr int32_t kPackHeaderSize = 14;

// The demux context of one domain: the chain driver's context.
class TIFOData {
 public:
  // Kind 1 menus (the video manager's first play included) or 2 titles.
  TIFOData(const TDemuxEnv& Env, const core::DemuxSettings& Settings, int32_t DomainIndex, int32_t Kind);
  ~TIFOData();
  TIFOData(const TIFOData&) = delete;
  TIFOData& operator=(const TIFOData&) = delete;

  const TDemuxEnv Env;
  const core::DemuxSettings& Settings;
  TDomainPlan Plan;
  TCellTracker Cells;
  TOutputSet Outputs;

  // The kind of the program chain in hand (the tracker's): the domain's kind,
  // the first play's lookup (3) while a video manager's first-play cell is read.
  uint8_t DomainKind() const { return Cells.CurrentPgc.PgcKind; }
  // Titles are kind 2; the first play (kind 0 or 3) is named and attributed as a menu.
  bool IsTitleDomain() const { return Cells.CurrentPgc.PgcKind == kPgcTitle; }

  // ---- input ----
  std::string EvoBaseName;    // the EVO name stem, later the current chain name
  std::string EvoFileName;    // the file being read
  uint8_t FollowChain = 0;    // a title chain goes on in its next file
  // What the file in hand lost to damage: counted while it is read, said when
  // it ends, and then the file is noted as one the run could only partly read.
  struct TFileDamage {
    int64_t NotMpegPacks = 0;    // sectors without a pack start code, skipped whole
    int64_t DroppedPackets = 0;  // packets whose headers do not hold, dropped
    int64_t ShortLastPack = 0;   // bytes of a last pack the file cuts short; 0 none
  };
  TFileDamage Damage;
  // Lines of "MPEG is not correct" per file; one line counts the rest.
  static constexpr int64_t kShownNotMpegPacks = 20;
  std::unique_ptr<core::TVobFileStream> InputStream;
  std::shared_ptr<disc::TVobScaut> Scout;  // the current scout of the run
  platform::ProgressBar* ProgressBar = nullptr;
  uint8_t StopFlag = 0;
  void SetProgressBar(platform::ProgressBar* Bar) { ProgressBar = Bar; }

  // ---- the pack in hand ----
  // The pack in hand: read whole, straight from the input's read-ahead where it
  // can be, and parsed in place; the payload fields address it.
  const uint8_t* Pack = nullptr;
  int32_t PackLength = 0;      // bytes of the pack that were read
  int32_t PackCursor = 0;      // the next unparsed byte of the pack
  int32_t PackHeaderLength = kPackHeaderSize;  // 14 + stuffing
  int32_t PackBytesUsed = 0;
  uint32_t PackNumber = 0;
  TPayloadInfo Payload;
  uint8_t PtsDtsFlags = 0;
  uint32_t LastPts = 0;        // 90 kHz, bit 32 dropped
  uint64_t LastPtsTicks = 0;   // all 33 bits
  double LastPtsMs = 0;
  double VideoPtsMs = 0;
  uint8_t VideoPtsSeen = 0;
  TLpcmParams Lpcm;
  // From the last sequence header, and the video registration it gave.
  int32_t VideoWidth = 0, VideoHeight = 0;
  uint8_t VideoAspectCode = 0;
  uint32_t VideoBitRate = 0;
  disc::TVideoStreamEntry* CurrentVideoEntry = nullptr;

  // ---- hooks ----
  std::unique_ptr<TAudioRouter> AudioRouter;
  std::unique_ptr<TTrackFolderSink> TrackFolders;

  // Releases the outputs and the input without finishing them (a run that gave up).
  void Release();

  // ---- output names (output_names.cpp) ----
  std::string BuildNamePart(uint32_t VobId, uint32_t CellId);
  std::string MenuNameStem(uint32_t VobId, uint32_t CellId) const;
  std::string TitleNameStem(uint32_t VobId, uint32_t CellId) const;
  // Title outputs are named after their VOB (with its cell count), not their cell.
  bool TitlesNamedByVob() const;
  int32_t VobCellCount(uint32_t VobId) const;
  // Builds SubpictureFileName for a subpicture stream (Sid 0xBD, Sub 0x20..0x3F);
  // other streams leave it as it is. False (and the name empty) when a title
  // domain naming by cell builds no folder.
  bool BuildSubpictureFileName(uint32_t VobId, uint32_t CellId, bool CreateFolder, bool FirstUnit, uint8_t Sub,
                               uint8_t Sid);
  std::string BuildSubpictureFolder(uint32_t VobId, uint32_t CellId, uint8_t Sid);

  // ---- the pack demultiplexer (pes_demux.cpp) ----
  int32_t ProcessPack(bool Finish);
  int32_t DemuxPES(bool Finish);
  void InsertLastCellToTrackFolder();

  // ---- writers (writers.cpp) ----
  // The packet in hand, as DemuxPES hands it to the writers.
  struct TPacket {
    uint8_t Sid = 0;
    uint8_t Sub = 0;
    int32_t Start = 0;        // offset of the packet's start code in the pack
    int32_t PayloadStart = 0; // after every header byte (and the substream byte)
    int32_t End = 0;          // one past the packet's last byte
  };
  int64_t VideoWriter(const TPacket& P);
  int64_t SubpictureWriter(const TPacket& P);
  int64_t LpcmWriter(const TPacket& P);
  int64_t MpegAudioWriter(const TPacket& P);
  int64_t Ac3Writer(const TPacket& P);
  int64_t DtsWriter(const TPacket& P);
  int64_t MlpWriter(const TPacket& P);
  // Opens the output of the output set's current record, named after the cell
  // in hand (or its subpicture unit) with Suffix.
  void OpenStreamOutput(const std::string& Suffix, uint8_t Sid, bool ForSubpicture, uint8_t Sub);
  double StreamStartTime() const;
  // The output set's CloseOutputs, with the program chain in hand.
  bool CloseOutputs(TCloseMode Mode);

  // ---- the chain driver (chain_driver.cpp) ----
  // Demultiplexes the chain that starts at EvoFileName. False when a file could
  // not be read or an output could not be written.
  bool DemuxEvoChain(int32_t Mode = 1);
  // The video manager's first-play (FirstPlay) or menu EVO, or a title set's menu EVO.
  bool DemuxMenus(bool FirstPlay);
  // A title set's title EVO chain.
  bool DemuxTitles();
  // Says that a file the domain's information file places is not there, and
  // notes it as skipped.
  void NoteMissingFile(const std::string& Name);
  // A title chain read from a later number than its first (Absent): the run
  // fails only when the title set's cells begin before the files present.
  void CheckLaterChainStart(const std::string& Absent);
  // After a whole title chain: the run fails when the title set's cells go on
  // past the end of the files present, or its last VOBU past its last file.
  void CheckChainEnd();
  // Once the chain is scanned: which of its files lost sectors at their end
  // (LostAtEnd), by the navigation packs and, for a chain of one file, by the
  // domain's cells; and which later files of a title chain lie past its cells.
  // Whole: the scan went through the whole chain. A title chain's last file is
  // left to CheckChainEnd.
  void PlaceLostSectors(bool Whole, bool TitleChain);
  // What a file lost, said once it has been read: Named is the file, or the
  // files the loss may lie in when it cannot be placed in one ("a or b").
  struct TLostPart {
    std::string Named;
    std::string What;
  };
  // By the file read last of those named: what they lost at their end.
  std::map<std::string, TLostPart> LostAtEnd;
  // Once the chain is scanned: whether its first file begins where the
  // domain's first cell does (LostAtStart).
  void CheckChainStart();
  std::map<std::string, std::string> LostAtStart;  // by file: what it lost at its start
  // The first file of a title chain read from a later number, when it is missing.
  std::string AbsentFirstFile;
  // Reads every pack of the open input through ProcessPack, moving Bar; the
  // packs read.
  int64_t ReadPacks(platform::ProgressBar& Bar);
  std::vector<TEvoListEntry>* EvoList = nullptr;  // the loose list whose entries are marked done

  // ---- navigation packs (nav_handling.cpp) ----
  // Data: the packet's bytes after its substream byte.
  void ProcessPciPack(const uint8_t* Data, int32_t Length);
  void ProcessNavPack(const uint8_t* Data, int32_t Length);
  void FinishCell(uint8_t Sid, uint8_t Sub);
  void BeginCell();
  void ChangeCell();
  void ShowCellElapsedTime(TTimeCode Time);
  void BuildHighlights(const TNavRecord& Record, int32_t Domain, uint32_t Cell, uint32_t Vob);
  // The payload's time less the cell's reference video time (ms).
  double AudioDelay(bool FromCut) const;
  // The domain cuts audio at VOB starts (PTS mode, or titles with the Main-mode mark).
  bool CutsAudioAtVobStart() const;
  // The program chain of the cell in hand, looked up in the plan.
  void FindPgcOfCell(uint32_t VobId, uint32_t CellId, TPGCListEntry& Result) const {
    Plan.FindPgcOfCell(EvoBaseName, VobId, CellId, Result);
  }
  TTimeCode CellPlaybackTime(const TPGCListEntry& Entry, uint32_t VobId, uint32_t CellId) const {
    return Plan.CellPlaybackTime(Entry, VobId, CellId, Env.Disc.FrameRate, Settings.TimeScale1001);
  }

 private:
  bool GetVideoInfo(bool Opened);
  void GetSubpictureInfo(uint8_t Sub, bool Opened);
  void AddSubpictureUnitToDat(uint8_t Sub, const subpic::TSubpictureUnitInfo& Unit);
  // The information routines of the audio writers: a new output is registered
  // in the audio registry with its attributes, times and delay.
  void GetAc3Info(uint8_t Sub, bool Opened, const uint8_t* Data, int64_t Count);
  void GetDtsInfo(uint8_t Sub, bool Opened);
  void GetMlpInfo(uint8_t Sub, bool Opened);
  void GetLpcmInfo(uint8_t Sub, bool Opened);
  void GetMpegAudioInfo(uint8_t Sid, bool Opened);
  void RegisterAudio(uint8_t Sid, uint8_t Sub, bool Opened, int32_t Format, const uint8_t* Data, int64_t Count);
  int64_t PrivateAudioWriter(const TPacket& P, int32_t HeaderBytes, uint32_t BaseId, const char* Extension,
                             int32_t Format);
  // Every navigation pack names its cell; the name changes only with the cell.
  void RefreshNamePart();
  void RefreshSubpictureFileName(uint32_t Vob, uint32_t CellIdArg, uint8_t Sub, uint8_t Sid);
};

// ---- classification of (stream id, substream id) ----
inline bool IsVideoStream(uint8_t Sid, uint8_t /*Sub*/) {
  return (Sid >= 0xE0 && Sid <= 0xE3) || Sid == 0xFD || Sid == 0xFE;
}
inline bool IsSubpictureStream(uint8_t Sid, uint8_t Sub) {
  return Sid == 0xBD && Sub >= kFirstSubpictureId && Sub <= kLastSubpictureId;
}
inline bool IsAc3Stream(uint8_t Sid, uint8_t Sub) { return Sid == 0xBD && Sub >= 0xC0 && Sub <= 0xCF; }
inline bool IsMlpStream(uint8_t Sid, uint8_t Sub) { return Sid == 0xBD && Sub >= 0xB0 && Sub <= 0xB7; }
inline bool IsDtsStream(uint8_t Sid, uint8_t Sub) { return Sid == 0xBD && Sub >= 0x88 && Sub <= 0x8F; }
inline bool IsLpcmStream(uint8_t Sid, uint8_t Sub) { return Sid == 0xBD && Sub >= 0xA0 && Sub <= 0xAF; }
inline bool IsMpegAudioStream(uint8_t Sid, uint8_t /*Sub*/) { return Sid >= 0xC0 && Sid <= 0xC7; }

}  // namespace tess::demux
