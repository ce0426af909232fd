#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/bit_stream.h"
#include "core/start_code_map.h"
#include "core/timecode.h"
#include "streams/captions.h"
#include "streams/m2v_headers.h"
#include "streams/m2v_reader.h"
#include "streams/m2v_rewrite.h"

namespace tess::core {
struct RunContext;
class TVobFileStream;
}  // namespace tess::core
namespace tess::platform {
struct ProgressBar;
}

namespace tess::streams {

// The 443-byte summary of a scan, as the ".vnf" cache holds it and callers
// receive it (layout in m2v_cache.h).
inline constexpr size_t kM2VInfoRecordSize = 443;
using TM2VInfoRecord = std::array<uint8_t, kM2VInfoRecordSize>;

// The reader's buffer: 0x7FFF8 bytes, also the unit of the progress bar.
inline constexpr int32_t kM2VReadBufferSize = 0x7FFF8;
// The reader's buffer where a map of the start codes lets the walk pass over
// the slices: it holds the headers between two jumps.
inline constexpr int32_t kM2VJumpReadBufferSize = 2048;

// Walks an MPEG-1 or MPEG-2 video elementary stream start code by start code
// and measures it: picture, field and frame counts, the first sequence
// header's sizes, aspect, frame rate and bit rates, the first GOP time code,
// the display size, pulldown, and an index of the headers met. The result of a
// measuring walk is cached beside the file (name + ".vnf") while the file stays
// unchanged. The same walk over a copying or read/write reader rewrites header
// fields as it meets them (ScanVobVideo, ScanVobVideoShared).
class TM2VStream {
 public:
  // Opens the file; raises core::EParserFileException ("File error!") when it
  // cannot be opened or read.
  TM2VStream(core::RunContext& Run, const std::string& FileName);
  ~TM2VStream();
  TM2VStream(const TM2VStream&) = delete;
  TM2VStream& operator=(const TM2VStream&) = delete;

  // Takes Bar when none is set yet (true); otherwise keeps the old one (false).
  bool SetProgressBar(platform::ProgressBar* Bar);

  // One walk over the file. IndexOn keeps the index of the headers met,
  // FullIndex adds slices, user data and the rarer extensions to it.
  void Scan(bool IndexOn, bool FullIndex);

  // The 443-byte summary of the last scan; the file's last-write time goes in
  // only WithFileTime.
  void WriteInfoFileHeader(bool WithFileTime, TM2VInfoRecord& Record) const;
  void ReadInfoFileHeader(const TM2VInfoRecord& Record);
  // Reads a cache file into the index and the results; false when the file
  // is missing, cut short or holds a record it does not know.
  bool LoadIndexFromCache(const std::string& CacheName, bool CacheWasValid);

  // A 704 or 720 wide 4:3 stream shown 540 wide by its display extension.
  bool IsHalfD1() const;

  // ---- rewriting walks ----
  // The five settings records from the first headers of the last scan; each
  // is zeroed and filled only when its header was met. True when any was.
  bool FillVideoSummary(TSeqHeaderSettings& SeqHeader, TDisplayExtSettings& DisplayExt, TSeqExtSettings& SeqExt,
                        TPicExtSettings& PicExt, TGopSettings& Gop) const;
  // Writes the stream, its headers changed by the settings whose apply byte is
  // set, to OutputName. True only when the copy is complete: created, written
  // to the end of the file, every edit placed, and not stopped.
  bool ScanVobVideo(const std::string& OutputName, const TSeqHeaderSettings& SeqHeader, const TSeqExtSettings& SeqExt,
                    const TPicExtSettings& PicExt, const TGopSettings& Gop, const TDisplayExtSettings& DisplayExt);
  // The same rewrite of the sequence headers in the file itself (its length
  // stays). True when every changed buffer was written back.
  bool ScanVobVideoShared(const TSeqHeaderSettings& SeqHeader, const TSeqExtSettings& SeqExt,
                          const TPicExtSettings& PicExt, const TGopSettings& Gop,
                          const TDisplayExtSettings& DisplayExt);

  // ---- results ----
  double FrameRate() const { return FrameRateValue(FrameRateCode); }
  int32_t IntegerRate() const { return IntegerFrameRate(FrameRateCode); }
  // frames at the integer rate; zero when the stream names no valid rate.
  core::TTimeCode Duration() const;
  // Bit rates in bit/s (bit_rate_value x 400).
  uint64_t AverageBitRate() const { return uint64_t{AverageBitRateValue} * 400; }
  uint64_t MaxBitRate() const { return uint64_t{MaxBitRateValue} * 400; }
  uint64_t MinBitRate() const { return uint64_t{MinBitRateValue} * 400; }

  const std::string& FileName() const { return FileName_; }
  int64_t FileSize() const { return FileSize_; }

  // ---- modes (set before Scan) ----
  bool CacheMode = true;    // read or write the ".vnf" cache
  bool StillCheck = false;  // stop as soon as there is more than one picture
  bool PlainMode = true;    // no cache, no index, progress over the whole bar
  bool IOnlyCheck = false;  // stop at the first picture that is not an I picture
  bool WriteScc = false;    // caption files (".cc1", ".cc2") from the user data
  bool LogCaptions = false;
  bool StripUserData = false;  // rewriting walks leave every user-data block out
  uint32_t CaptionColour = 0x800000;
  int32_t TargetAspectMode = 0;  // in-place rewrite: below 2 writes 4:3, else 16:9
  bool BitRateLimit = false;     // in-place rewrite: bit_rate_value at most 24500

  // ---- callbacks ----
  std::function<void(std::string_view)> OnLog;  // may be empty
  std::function<void()> OnProgress;             // after GOP 10, 19, 28 ...; may be empty
  // The Stop flag polled by the walk; callers point it at the run's.
  uint8_t* AbortFlag = &OwnAbort_;

  // Hands every user-data block (after its 0xB2, up to the next start code; at
  // most the first kUserDataKept bytes) to the caption handling.
  std::function<void(TM2VStream&, std::span<const uint8_t>)> OnUserData = HandleCaptionUserData;
  TCaptionFiles Captions;  // the caption files of the scan going on
  // A walk that writes (a copy, or the file itself) rather than measures.
  bool IsRewriting() const { return CopyMode_ || InPlace_; }
  static constexpr size_t kUserDataKept = 4096;

  // ---- results of the last scan ----
  uint64_t SequenceHeaderCount = 0;
  uint64_t GopCount = 0;
  uint64_t PicturesInGop = 0;
  uint64_t PicturesInAll = 0;
  double PictureCount = 0;       // frames; half a frame per field picture
  double RunningFrameCount = 0;  // carried across scans; the rewriting walks restart it
  uint64_t DuplicateTemporalRefs = 0;
  uint64_t FieldCount = 0;
  uint64_t FramesFromFields = 0;  // the frame count the summary reports
  uint32_t SequenceEndCount = 0;
  int32_t MaxRoundedFrameCount = 0;
  int32_t MpegVersion = 1;      // 2 once a sequence extension follows a sequence header
  uint32_t FrameRateCode = 0;   // the first valid one; 0 when none was met
  uint32_t AspectCode = 0;      // the first known one
  uint32_t AspectChanges = 0;
  uint32_t FirstBitRate = 0;    // bit/s
  uint32_t MaxBitRateValue = 0;
  uint32_t MinBitRateValue = 0;
  uint32_t AverageBitRateValue = 0;
  uint64_t BitRateSum = 0;      // of bit_rate_value div 100
  uint64_t BitRateHeaders = 0;  // sequence headers with both sizes set
  uint32_t HorizontalSize = 0;
  uint32_t VerticalSize = 0;
  uint32_t MacroblockWidth = 0;
  uint32_t DisplayHorizontalSize = 0;
  uint32_t DisplayVerticalSize = 0;
  bool DisplayExtSeen = false;
  core::TTimeCode FirstGopTime;
  bool VariableBitRate = false;
  bool Pulldown = false;
  bool HalfD1 = false;
  uint8_t Line21Switch1 = 0;
  uint8_t Line21Switch2 = 0;
  bool OnlyIPictures = true;
  uint32_t LastStartCode = 0;
  int64_t SequenceHeaderPos = 0;
  bool CacheUsed = false;  // the last scan's results came from a valid ".vnf"
  // The last walk met a read error: it ended short of the file's end, so its
  // results describe part of the video and nothing is written from them.
  bool ReadFailed() const { return Reader_ && Reader_->ReadFailed(); }

  struct TForeignData {
    int64_t Position;
    int64_t Length;
  };
  std::vector<TForeignData> ForeignData;
  TM2VIndex Index;

  // First headers of the scan.
  TM2VSequenceHeader FirstSequenceHeader;
  TM2VSequenceExtension FirstSequenceExtension;
  TM2VSequenceDisplayExtension FirstDisplayExtension;
  TM2VGopHeader FirstGop;
  TM2VPictureCodingExtension FirstPictureCodingExtension;
  bool HaveFirstSequenceHeader = false;
  bool HaveFirstSequenceExtension = false;
  bool HaveFirstDisplayExtension = false;
  bool HaveFirstGop = false;
  bool HaveFirstPictureCodingExtension = false;

  // The headers being handled.
  TM2VSequenceHeader CurrentSequenceHeader;
  TM2VSequenceExtension CurrentSequenceExtension;
  TM2VGopHeader CurrentGop;
  TM2VPictureHeader CurrentPicture;
  TM2VPictureCodingExtension CurrentPictureCodingExtension;
  TM2VSequenceScalableExtension CurrentScalableExtension;
  bool ScalableExtensionSeen = false;

  core::RunContext& Run;

 private:
  enum class TLevel { Sequence, Gop, Picture, None };

  // Reader and start codes.
  void OpenReader(core::TFileBitStream::TOpenMode Mode, int32_t BufferSize = kM2VReadBufferSize);
  // Takes the map of the file's start codes that the demultiplexer noted, when
  // it describes the file as it now is and the walk needs no slice.
  void TakeStartCodeMap();
  // Past the slices by the map: to the next start code that is no slice (or
  // the end). False when the map does not hold there; the walk then reads on.
  bool JumpOverSlices();
  bool Aborted() const { return AbortFlag != nullptr && *AbortFlag != 0; }

  // The walk.
  void ResetScan();
  void Walk();
  void ParseSequenceHeader();
  void ParseSequenceExtension();
  void ParseGop();
  void ParsePicture();
  void ParsePictureCodingExtension();
  void ParseSequenceEnd();
  void HandleExtensionsAndUserData(TLevel Level);
  void HandleExtension(TLevel Level);
  void HandleUserData();
  void HandleForeignCode();
  void SkipSlices();
  void CountMpeg1Picture(int64_t DisplayIndex);
  int PictureDisplayOffsetCount() const;
  void UpdateProgressBar();
  void FinishCounts();
  uint64_t FramesFromFieldPattern() const;

  // Index and cache records; every record type stores within this many bytes.
  static constexpr size_t kLargestRecord = 256;
  void Record(uint32_t Tag, const uint8_t* Payload, size_t Size);
  void RecordFull(uint32_t Tag, const uint8_t* Payload, size_t Size);
  // A measuring walk with neither index nor cache stores nothing.
  template <class R>
  void RecordOf(uint32_t Tag, const R& Rec) {
    if (!IndexActive_ && !CacheActive_) return;
    std::array<uint8_t, kLargestRecord> b{};
    Rec.Store(b.data());
    Record(Tag, b.data(), R::RecordSize());
  }
  template <class R>
  void RecordFullOf(uint32_t Tag, const R& Rec) {
    if (!FullIndex_ || !IndexActive_) return;
    std::array<uint8_t, kLargestRecord> b{};
    Rec.Store(b.data());
    RecordFull(Tag, b.data(), R::RecordSize());
  }
  bool CacheIsValid(const std::string& CacheName) const;
  bool StartCache();
  void WriteCacheRecord(uint32_t Tag, const uint8_t* Payload, size_t Size);
  void FinishCache();
  void DropCache();
  // Removes the cache file Name, naming it when a write error stopped the run.
  void DropCacheFile(const std::string& Name);
  std::string CacheName() const { return FileName_ + ".vnf"; }

  // Rewrites (m2v_rewrite.cpp). Each takes the header's leading bytes into
  // Header, changed in the source as the settings say.
  void RewriteSequenceHeader(TM2VHeaderBytes& Header);
  void RewriteSequenceExtension(TM2VHeaderBytes& Header);
  void RewriteDisplayExtension(TM2VHeaderBytes& Header);
  void RewriteGop(TM2VHeaderBytes& Header);
  void RewritePictureCodingExtension(TM2VHeaderBytes& Header);
  bool RunRewritingScan();
  void MarkUserDataSkip(int64_t From, int64_t To);

  std::string FileName_;
  int64_t FileSize_ = 0;
  std::unique_ptr<core::TFileBitStream> Reader_;
  bool ReaderFresh_ = false;  // opened and not yet walked
  uint8_t OwnAbort_ = 0;
  platform::ProgressBar* ProgressBar_ = nullptr;

  // The start codes noted when the file was written, while they hold.
  const core::TStartCodeMap* Jumps_ = nullptr;
  core::TStartCodeMap::TCursor JumpCursor_;

  // Walk state.
  TM2VStartCodeReader Codes_;
  bool Stop_ = false;
  bool IndexActive_ = false;
  bool FullIndex_ = false;
  bool CacheActive_ = false;
  int GopsSinceEvent_ = 0;
  int64_t DisplayBase_ = 0;
  bool RepeatFieldSeen_ = false;
  uint32_t HalfD1Width_ = 0;  // horizontal size of the sequence that carried the first display extension
  std::array<uint32_t, 3> RecentTypes_{};  // picture types, the latest first
  std::array<uint32_t, 3> RecentTff_{};
  std::array<uint32_t, 3> RecentRff_{};
  std::vector<uint8_t> TemporalTable_;
  int64_t LastMarked_ = -1;
  std::vector<uint8_t> UserData_;

  // The ".vnf" being written.
  std::unique_ptr<core::TVobFileStream> Cache_;
  // The first sequence header and extension as written; later equal ones are
  // written as a bare tag.
  std::array<uint8_t, 64> CachedFirstHeader_{};
  std::array<uint8_t, 64> CachedFirstExtension_{};
  bool CachedFirstHeaderSet_ = false;
  bool CachedFirstExtensionSet_ = false;

  // Rewriting walks.
  bool CopyMode_ = false;
  bool InPlace_ = false;
  bool SequenceHasDisplayExt_ = false;
  TSeqHeaderSettings SeqHeaderSettings_;
  TSeqExtSettings SeqExtSettings_;
  TPicExtSettings PicExtSettings_;
  TGopSettings GopSettings_;
  TDisplayExtSettings DisplayExtSettings_;
};

}  // namespace tess::streams
