#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/timecode.h"
#include "core/vob_file_stream.h"
#include "core/settings.h"
#include "demux/demux_env.h"
#include "demux/stream_finisher.h"
#include "disc/highlights.h"
#include "disc/ifo_model.h"
#include "disc/registries.h"
#include "subpic/services.h"

namespace tess::disc {
class TVobScaut;
struct DiscModel;
}
namespace tess::platform {
struct ProgressBar;
}

// The demux context of one domain (the video manager's first play and menus, one
// title set's menus or titles, or one loose EVO file): the domain's program chain
// lists, the output stream table, the input stream, and everything the pack
// demultiplexer, the writers and the navigation-pack handling keep between
// packets.
namespace tess::demux {

using core::TTimeCode;

// ---- the program chain lists ----

enum TPgcKind : uint8_t { kPgcFirstPlay = 0, kPgcMenu = 1, kPgcTitle = 2, kPgcFirstPlayLookup = 3 };

// One entry of a program chain list (the 32-byte record of the design).
struct TPGCListEntry {
  int32_t PgcNumber = -1;  // 1-based in its table; -1 for the first-play entry
  uint8_t PgcKind = 0;     // TPgcKind
  uint8_t Reserved = 0;
  std::array<char, 2> Language{};      // menus: the unit's language code, "xx" without one
  std::array<uint8_t, 20> Unnamed{};   // copied into a menu lookup result as they stand
  const disc::TPGC* Pgc = nullptr;
};

class TPGCList {
 public:
  // Appends a copy with its reserved byte cleared.
  void Add(const TPGCListEntry& Entry);
  // The same with the language from a 16-bit code (its two bytes in memory
  // order, the first in the low 8 bits), "xx" for code 0.
  void AddMenuPgc(const TPGCListEntry& Entry, uint16_t LanguageCode);
  int32_t Count() const { return static_cast<int32_t>(Entries.size()); }

  std::vector<TPGCListEntry> Entries;
};

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

// ---- pieces of the context ----

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

// The domain's attribute words (first stored byte in the low 8 bits) and audio
// attribute tables (8-byte entries as stored).
struct TDomainAttributes {
  uint16_t VMGVideoAttr = 0;
  uint16_t MenuVideoAttr = 0;
  uint16_t TitleVideoAttr = 0;
  std::vector<std::array<uint8_t, 8>> TitleAudioAttrs;  // up to 8
  std::vector<std::array<uint8_t, 8>> MenuAudioAttrs;
};

// The delays of the audio synchronisation (milliseconds), read when a stream is
// registered.
struct TStreamDelays {
  double SubpictureMs = 0;
  double Ac3Ms = 0;  // MLP too
  double DtsMs = 0;
  double LpcmMs = 0;
  double MpaMs = 0;  // E-AC-3 too
};

// What the navigation-pack handling keeps of the cell in hand.
struct TCellState {
  bool FirstVideoSeen = false;    // the cell's first timed video packet was met
  double CellFirstVideoMs = 0;    // the cell's start, then its first video time stamp
  double NavPackTimeMs = 0;       // the navigation-pack time of the cell
  uint32_t InterleavedCellCount = 0;
  uint32_t SavedInterleavedCellCount = 0;
  bool ChangePending = false;
  uint32_t PreviousCellStart = 0;  // VOBU start times, 90 kHz
  uint32_t CurrentCellStart = 0;
  bool CellChanged = false;       // read and cleared by the title subpicture folder builder
  uint32_t VobuStart = 0;         // of the current VOBU (90 kHz)
  uint32_t VobuEnd = 0;
  int32_t PaletteIndex = -1;
  uint32_t SubpicPtsCount = 0;
};

// The navigation record: the presentation-control data of the last navigation
// pack, its numbers in host order, the cell elapsed time as a time code and the
// button mode split into the group count and the first two groups' display types.
constexpr size_t kNavButtonRecords = 36;
constexpr size_t kNavButtonRecordSize = 18;
struct TNavRecord {
  uint32_t BlockNumber = 0;      // PCI bytes 0..3
  uint32_t UopControl = 0;       // bytes 8..11: the field before the VOBU start time
  uint32_t VobuStart = 0;        // bytes 12..15, 90 kHz
  uint32_t VobuEnd = 0;          // bytes 16..19
  TTimeCode CellElapsed;         // byte 24
  uint16_t HighlightStatus = 0;  // byte 96
  uint32_t HighlightStart = 0;   // byte 98, 90 kHz
  uint32_t HighlightEnd = 0;     // byte 102
  uint8_t ButtonGroups = 0;      // of the button mode at byte 110
  uint8_t ButtonOffset = 0;      // byte 112
  uint8_t ButtonCount = 0;       // byte 113
  uint8_t SelectableButtons = 0; // byte 114
  uint8_t ForcedSelect = 0;      // byte 116
  uint8_t ForcedActivate = 0;    // byte 117
  std::array<uint8_t, 24> Colours{};  // bytes 118..141: three 8-byte colour sets
  std::array<uint8_t, kNavButtonRecords * kNavButtonRecordSize> Buttons{};  // from byte 142
  uint8_t DisplayType1 = 0;      // of the button mode's first byte
  uint8_t DisplayType2 = 0;      // of its second byte
};

// The navigation record of a PCI packet's data (Length bytes from the byte after
// the substream byte; what a short packet lacks reads as zero).
TNavRecord DecodePciRecord(const uint8_t* Data, int32_t Length);
// The record starts a highlight (its buttons are new).
bool StartsHighlight(const TNavRecord& Record);
// The highlight (colours, buttons with their commands, times) the record
// carries; the caller sets where it belongs (file, VOB, cell, source number).
disc::THighlightPlayItem HighlightItemOf(const disc::DiscModel& Disc, const TNavRecord& Record);

// Entries of the lists the navigation-pack handling keeps.
struct TAngleCellItem {
  uint32_t VobId = 0;
  uint32_t AngleNumber = 0;
};
struct TCellTimeItem {
  TTimeCode StartTime;
  uint32_t CellId = 0;
  uint32_t VobId = 0;
  uint8_t Seamless = 0;
  uint32_t NavValue = 0;
  uint32_t Count = 0;
};
struct THighlightKey {
  uint32_t CellId = 0;
  uint32_t VobId = 0;
  uint32_t Start = 0;
  uint32_t End = 0;
  bool operator==(const THighlightKey&) const = default;
};
struct TSeenStream {
  uint32_t StreamId = 0;
  uint32_t SubstreamId = 0;
};

constexpr int32_t kPackSize = 2048;
constexpr int32_t kPackHeaderSize = 14;
constexpr uint8_t kFirstSubpictureId = 0x20;
constexpr uint8_t kLastSubpictureId = 0x3F;

// The demux context of one domain.
class TIFOData {
 public:
  // Kind 1 menus (the video manager's first play included) or 2 titles.
  TIFOData(const TDemuxEnv& Env, const core::DemuxSettings& Settings, int32_t DomainIndex, int32_t Kind);
  ~TIFOData();
  TIFOData(const TIFOData&) = delete;
  TIFOData& operator=(const TIFOData&) = delete;

  const TDemuxEnv Env;
  const core::DemuxSettings& Settings;

  // ---- domain and file names ----
  std::string EvoBaseName;    // the EVO name stem, later the current chain name
  std::string EvoFileName;    // the file being read
  std::string DomainFileName; // the domain's information file, or the loose EVO file
  const disc::TPGC* FirstPlayPgc = nullptr;
  const disc::TIFOFile* DomainRecord = nullptr;  // the VMG's or title set's record; nil for loose EVO files
  const disc::TLanguageUnitTable* MenuUnits = nullptr;
  const disc::TPGCTable* TitlePgcs = nullptr;
  int32_t DomainIndex = -1;   // -1 none, 0 video manager, n title set n; loose EVO: list position - 1
  int32_t VtsNumber = 0;      // the title set's record index (loose EVO: list position)
  uint8_t IsTitleSet = 0;
  uint8_t FirstPlayDomain = 0;

  // ---- program chains ----
  std::unique_ptr<TPGCList> FirstPlayList;
  std::unique_ptr<TPGCList> MenuList;
  std::unique_ptr<TPGCList> TitleList;
  TPGCListEntry PreviousPgc;
  TPGCListEntry CurrentPgc;  // its PgcKind is the domain kind
  uint8_t DomainKind() const { return CurrentPgc.PgcKind; }
  void SetDomainKind(uint8_t Kind) { CurrentPgc.PgcKind = Kind; }
  // Titles are kind 2; the first play (kind 0 or 3) is named and attributed as a menu.
  bool IsTitleDomain() const { return CurrentPgc.PgcKind == kPgcTitle; }

  // ---- the cell in hand ----
  uint16_t PgcVobId = 0;
  uint32_t PgcCellId = 0;
  uint32_t VobId = 0, CellId = 0;          // of the last data-search packet
  uint32_t PrevVobId = 0, PrevCellId = 0;
  int32_t AngleNumber = 0;                 // in an angle block, else 0 or less
  int32_t AngleCopy = 0;
  uint8_t CellNaming = 0;
  uint8_t CellNamingNow = 1;
  uint8_t ByCell = 0;                      // the title set's Main-mode mark
  TTimeCode CellTime;
  TTimeCode CellStartTime;
  TCellState Cell;
  double VobStartMs = 0;                   // the audio synchronisation's cell start time
  TNavRecord NavRecord;
  TNavRecord SavedNavRecord;

  // ---- output ----
  std::string OutputBase;   // ends in "/"
  std::string NamePart;     // folder and name stem relative to OutputBase
  std::string SubpictureFileName;
  std::string SubpictureFilePrefix;  // of the title subpicture folder
  std::string AudioNameStem;
  core::TVobStreams StreamTable;
  core::TVobStream* CurrentRecord = nullptr;
  // Whether the outputs are finished into pictures and WAV files when the chain
  // ends; a context leaves them as written until its maker sets these.
  uint8_t SupToImages = 0;
  uint8_t PcmToWav = 0;
  uint8_t FollowChain = 0;
  uint8_t CleanOutputFirst = 0;
  uint8_t AudioMask = 0;     // non-zero: an audio-only run
  bool AudioOnly() const { return AudioMask != 0; }
  bool OutputFailed = false; // an output could not be created or written
  std::unique_ptr<core::TVobFileStream> SecondaryOutput;

  // ---- input ----
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
  uint32_t NavPackCount = 0;
  TLpcmParams Lpcm;
  std::array<uint32_t, 64> SubpictureUnitCount{};  // indexes 32..63 used

  // ---- attributes and registrations ----
  TDomainAttributes Attributes;
  TStreamDelays Delays;
  int32_t PictureWidth = 0, PictureHeight = 0;  // subpicture pictures
  int32_t VideoWidth = 0, VideoHeight = 0;      // from the last sequence header
  uint8_t VideoAspectCode = 0;
  uint32_t VideoBitRate = 0;
  disc::TVideoStreamEntry* CurrentVideoEntry = nullptr;
  subpic::TSubPicBase1 SubPicBase;

  // ---- lists ----
  std::vector<TSeenStream> SeenStreams;
  std::vector<uint32_t> VobIdList;        // from data-search packets
  std::vector<uint32_t> TrackVobIdList;   // filled by the track-folder insertion
  std::vector<TAngleCellItem> AngleCells;
  std::vector<uint32_t> VobList;          // VOBs with interleaved cells
  // The audio routers' cut-done list, asked for every audio payload: a set of
  // (stream id, substream id, VOB id), keyed by stream and substream together
  // because the AC-3 substream 0xC0 and the MPEG audio stream 0xC0 differ.
  std::unordered_set<uint64_t> Pairs;
  std::vector<TCellTimeItem> CellTimes;
  std::vector<THighlightKey> Highlights;
  std::vector<std::vector<uint32_t>> VobCellCounters;  // per VOB id, per index
  // The audio routers' pending cuts, per (stream id, substream id).
  std::vector<uint16_t> PendingCuts;
  bool HasPendingCut(uint8_t Sid, uint8_t Sub) const;
  void SetPendingCut(uint8_t Sid, uint8_t Sub, bool On);

  // ---- hooks ----
  std::unique_ptr<TAudioRouter> AudioRouter;
  std::unique_ptr<TTrackFolderSink> TrackFolders;

  // ---- the domain (demux_context.cpp) ----
  void FindPgcOfCell(uint32_t VobId, uint32_t CellId, TPGCListEntry& Result) const;
  TTimeCode CellPlaybackTime(const TPGCListEntry& Entry, uint32_t VobId, uint32_t CellId) const;
  void CountVobCell(uint32_t VobId, uint32_t Index);
  uint32_t VobCellCounter(uint32_t VobId, uint32_t Index) const;
  void SetProgressBar(platform::ProgressBar* Bar) { ProgressBar = Bar; }
  void SetVMGVideoAttr(uint16_t Attr) { Attributes.VMGVideoAttr = Attr; }
  void SetMenuVideoAttr(uint16_t Attr) { Attributes.MenuVideoAttr = Attr; }
  void SetTitleVideoAttr(uint16_t Attr) { Attributes.TitleVideoAttr = Attr; }
  void SetTitleAudioAttrs(std::vector<std::array<uint8_t, 8>> Attrs) { Attributes.TitleAudioAttrs = std::move(Attrs); }
  void SetMenuAudioAttrs(std::vector<std::array<uint8_t, 8>> Attrs) { Attributes.MenuAudioAttrs = std::move(Attrs); }
  // The attribute words and tables of the domain's information file.
  void SetAttributesFromRecord();
  // The video attribute word of the domain: the VMG's, the menus' or the titles'.
  uint16_t DomainVideoAttr() const;
  // Releases the outputs without finishing them (a run that gave up).
  void Release();

  // ---- output names (output_names.cpp) ----
  std::string DomainNumber() const;
  int32_t DomainNumberValue() const;
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
  void ResetSubpictureUnits();
  void AddSeenStream(uint32_t StreamId, uint32_t SubstreamId);
  void AddVobId(uint32_t VobId);
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
  void OpenStreamOutput(const std::string& Suffix, uint8_t Sid, bool ForSubpicture, uint8_t Sub);
  double StreamStartTime() const;
  // The ".dat" index files of the chain, kept open while a file of it is read.
  struct TIndexFile {
    std::string Name;
    std::unique_ptr<core::TVobFileStream> Stream;
  };
  std::vector<TIndexFile> IndexFiles;
  // Closes the chain's outputs: kept for the chain's end between two of its
  // files, finished at its end (FinishPending). False when an output lost bytes
  // or could not be finished.
  bool CloseOutputs(TCloseMode Mode);
  // The first time the run touches an output name, a file of that name left by
  // an earlier run is removed, so that the run's output starts empty; later
  // opens, of this context or another, append to it. True the first time.
  bool FirstTouch(const std::string& FileName);
  // The buffer of a new output: 0 for the setting's size.
  int64_t OutputBufferSize() const;
  // The open stream of another record that writes the same file, or nil.
  core::TVobFileStream* SharedOutput(const core::TVobStream& Record);
  // Appends Count bytes of the pack buffer to the record's output.
  void WriteToRecord(core::TVobStream& Record, const uint8_t* Data, int64_t Count, bool ByName);

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
  std::vector<TEvoListEntry>* EvoList = nullptr;  // the loose list whose entries are marked done

  // ---- navigation packs (nav_handling.cpp) ----
  // Data: the packet's bytes after its substream byte.
  void ProcessPciPack(const uint8_t* Data, int32_t Length);
  void ProcessNavPack(const uint8_t* Data, int32_t Length);
  void DecodeNavRecord(const uint8_t* Data, int32_t Length);
  void FinishCell(uint8_t Sid, uint8_t Sub);
  void BeginCell();
  void ChangeCell();
  void ShowCellElapsedTime(TTimeCode Time);
  void BuildHighlights(const TNavRecord& Record, int32_t Domain, uint32_t Cell, uint32_t Vob);
  // The payload's time less the cell's reference video time (ms).
  double AudioDelay(bool FromCut) const;
  // The lists.
  void AddAngleCell(uint32_t Vob, uint32_t Angle);
  bool HasAngleCell(uint32_t Vob, uint32_t Angle) const;
  void AddVobOnce(uint32_t Vob);
  bool HasVob(uint32_t Vob) const;
  bool LacksPreviousVob(uint32_t Vob) const { return !HasVob(Vob - 1); }
  void AddStreamVobPair(uint8_t Sid, uint8_t Sub, uint32_t Vob);
  bool HasStreamVobPair(uint8_t Sid, uint8_t Sub, uint32_t Vob) const;
  void AddCellTime(uint32_t Vob, uint32_t CellIdArg, uint8_t Seamless, TTimeCode Start);
  // The domain cuts audio at VOB starts (PTS mode, or titles with the Main-mode mark).
  bool CutsAudioAtVobStart() const;

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
  // What the subpicture file name was last built from: it is rebuilt only when
  // one of these changes, not for every packet.
  struct TSubpicNameKey {
    uint32_t VobId = 0, CellId = 0, UnitCount = 0;
    uint8_t Sub = 0;
    bool Valid = false;
    bool operator==(const TSubpicNameKey&) const = default;
  };
  TSubpicNameKey subpicKey_;
  uint32_t namedVob_ = 0, namedCell_ = 0;  // what NamePart was last built for
  bool namedValid_ = false;
  void RefreshNamePart();
  // Per (stream id, substream id): the pair is in SeenStreams; and the stream
  // table holds a record for it of kind (value - 1), so that a packet of a known
  // stream does not walk the table. Both only grow until the table is emptied.
  std::vector<bool> seenMask_ = std::vector<bool>(65536);
  std::vector<uint16_t> registered_ = std::vector<uint16_t>(65536);
  void RegisterStream(uint8_t Sid, uint8_t Sub, uint8_t Kind);
  std::string subpicNamePart_;
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
