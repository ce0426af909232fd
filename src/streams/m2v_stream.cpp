#include "streams/m2v_stream.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "core/files.h"
#include "core/run_context.h"
#include "core/vob_file_stream.h"
#include "platform/rounding.h"
#include "platform/ui_models.h"

namespace tess::streams {

using platform::RoundEven;

namespace {

// Display numbers the MPEG-1 picture count can mark.
constexpr size_t kTemporalTableSize = 2000000;
// The strip mode marks a long user-data block for removal in pieces of this
// size, so no mark falls behind what the copy still holds.
constexpr int64_t kStripChunk = 1024;
// The progress event follows every tenth GOP.
constexpr int kGopsPerProgressEvent = 10;

}  // namespace

TM2VStream::TM2VStream(core::RunContext& RunContext, const std::string& FileName)
    : Run(RunContext), FileName_(FileName) {
  OpenReader(core::TFileBitStream::TOpenMode::ReadOnly);
  ReaderFresh_ = true;
  FileSize_ = Reader_->FileSize();
  UserData_.reserve(kUserDataKept);
}

TM2VStream::~TM2VStream() {
  if (Cache_) DropCache();
  if (Reader_) Reader_->Close();
}

bool TM2VStream::SetProgressBar(platform::ProgressBar* Bar) {
  if (ProgressBar_ != nullptr) return false;
  ProgressBar_ = Bar;
  return true;
}

void TM2VStream::OpenReader(core::TFileBitStream::TOpenMode Mode, int32_t BufferSize) {
  if (Reader_) Reader_->Close();
  Reader_.reset();
  Jumps_ = nullptr;
  Reader_ = std::make_unique<core::TFileBitStream>(FileName_, BufferSize, &Run, Mode);
  Codes_.Attach(Reader_.get());
}

void TM2VStream::TakeStartCodeMap() {
  Jumps_ = nullptr;
  JumpCursor_ = {};
  // A rewrite copies every byte, and a full index records every slice.
  if (IsRewriting() || FullIndex_ || !Run.StartCodeMaps.Find(Reader_->Handle)) return;
  // The small buffer reads the headers around each jump, not the slices between.
  if (Reader_->BufferSize != kM2VJumpReadBufferSize)
    OpenReader(core::TFileBitStream::TOpenMode::ReadOnly, kM2VJumpReadBufferSize);
  Jumps_ = Run.StartCodeMaps.Find(Reader_->Handle);
}

bool TM2VStream::JumpOverSlices() {
  core::TFileBitStream& r = *Reader_;
  const int64_t from = r.BytePosition();
  const int64_t at = JumpCursor_.NextAtOrAfter(*Jumps_, from);
  // No start code but slices from here on: the walk would pass them all and
  // meet the end of the file.
  r.SkipTo(at < 0 ? FileSize_ : at);
  if (at < 0 && r.Eof) {
    Codes_.AtEnd = true;
    return true;
  }
  if (at >= 0 && !r.Eof && r.BytePosition() == at && r.PeekBits(24) == 1) {
    r.SkipTo(at + 3);
    if (r.Eof) {
      Codes_.AtEnd = true;
    } else {
      Codes_.StartCodePos = at;
      Codes_.NextCode = r.PeekBits(8);
    }
    return true;
  }
  // The map does not hold for this file after all: read it from where the
  // jump started, as the walk always could.
  OpenReader(core::TFileBitStream::TOpenMode::ReadOnly);
  Reader_->SkipTo(from);
  return false;
}

// ---------------------------------------------------------------- scan

void TM2VStream::ResetScan() {
  SequenceHeaderCount = GopCount = PicturesInGop = PicturesInAll = 0;
  PictureCount = 0;
  DuplicateTemporalRefs = FieldCount = FramesFromFields = 0;
  SequenceEndCount = 0;
  MaxRoundedFrameCount = 0;
  FrameRateCode = AspectCode = AspectChanges = 0;
  FirstBitRate = MaxBitRateValue = MinBitRateValue = AverageBitRateValue = 0;
  BitRateSum = BitRateHeaders = 0;
  HorizontalSize = VerticalSize = MacroblockWidth = 0;
  DisplayHorizontalSize = DisplayVerticalSize = 0;
  DisplayExtSeen = false;
  FirstGopTime = {};
  VariableBitRate = Pulldown = HalfD1 = false;
  Line21Switch1 = Line21Switch2 = 0;
  OnlyIPictures = true;
  LastStartCode = 0;
  SequenceHeaderPos = 0;
  CacheUsed = false;
  ForeignData.clear();
  Index.Clear();
  HaveFirstSequenceHeader = HaveFirstSequenceExtension = HaveFirstDisplayExtension = false;
  HaveFirstGop = HaveFirstPictureCodingExtension = false;
  ScalableExtensionSeen = false;
  CurrentSequenceHeader = {};
  CurrentPicture = {};
  CurrentPictureCodingExtension = {};
  Codes_.AtEnd = Stop_ = false;
  Codes_.NextCode = 0;
  GopsSinceEvent_ = 0;
  DisplayBase_ = 0;
  RepeatFieldSeen_ = false;
  HalfD1Width_ = 0;
  RecentTypes_ = {};
  RecentTff_ = {};
  RecentRff_ = {};
  TemporalTable_.clear();
  CachedFirstHeaderSet_ = CachedFirstExtensionSet_ = false;
  // The Stop flag is the caller's: a scan never clears a Stop already asked for.
}

void TM2VStream::Scan(bool IndexOn, bool FullIndex) {
  ResetScan();
  Captions.Close();
  IndexActive_ = IndexOn && !PlainMode;
  FullIndex_ = FullIndex && IndexActive_;
  if (!IsRewriting() && !ReaderFresh_) OpenReader(core::TFileBitStream::TOpenMode::ReadOnly);
  ReaderFresh_ = false;
  FileSize_ = Reader_->FileSize();

  CacheActive_ = false;
  if (CacheMode && !PlainMode && !StillCheck && !IsRewriting()) {
    const std::string cache = CacheName();
    if (CacheIsValid(cache)) {
      if (LoadIndexFromCache(cache, true)) {
        CacheUsed = true;
        return;
      }
      ResetScan();
    }
    Run.RemoveOwnFile(cache);
    CacheActive_ = StartCache();
  }

  if (ProgressBar_) {
    ProgressBar_->SetRange(0, FileSize_ / kM2VReadBufferSize);
    ProgressBar_->SetPosition(0);
  }
  TakeStartCodeMap();
  Walk();
  Jumps_ = nullptr;
  Captions.Close();
  FinishCounts();
  if (CacheActive_) {
    if (Aborted() || ReadFailed())
      DropCache();
    else
      FinishCache();
  }
  CacheActive_ = false;
}

void TM2VStream::Walk() {
  if (!Codes_.Next()) return;
  // A stream is expected to open with a sequence header; headers before the
  // first one are passed over (user data still goes through its handler).
  while (!Codes_.AtEnd && Codes_.NextCode != kSequenceHeaderCode) {
    if (Codes_.NextCode == kUserDataStartCode || Codes_.NextCode >= kFirstSystemCode) {
      HandleExtensionsAndUserData(TLevel::None);
    } else {
      Codes_.ReadValueByte();
      Codes_.Next();
    }
  }
  bool first = true;
  while (!Codes_.AtEnd && !Stop_ && !Aborted()) {
    switch (Codes_.NextCode) {
      case kSequenceHeaderCode:
        if (!first && StillCheck && PictureCount != 1) {
          Stop_ = true;
          break;
        }
        ParseSequenceHeader();
        if (!Codes_.AtEnd && Codes_.NextCode == kExtensionStartCode && Codes_.PeekExtensionId() == kSequenceExtensionId)
          ParseSequenceExtension();
        HandleExtensionsAndUserData(TLevel::Sequence);
        if (!first) UpdateProgressBar();
        first = false;
        break;
      case kGroupStartCode:
        ParseGop();
        HandleExtensionsAndUserData(TLevel::Gop);
        break;
      case kPictureStartCode:
        ParsePicture();
        if (Stop_) break;
        if (!Codes_.AtEnd && Codes_.NextCode == kExtensionStartCode &&
            Codes_.PeekExtensionId() == kPictureCodingExtensionId)
          ParsePictureCodingExtension();
        HandleExtensionsAndUserData(TLevel::Picture);
        SkipSlices();
        break;
      case kSequenceEndCode:
        if (StillCheck && PictureCount != 1) {
          Stop_ = true;
          break;
        }
        ParseSequenceEnd();
        break;
      default:
        // Stray codes (slices without a picture, reserved values) are passed over;
        // extensions, user data and foreign codes are handled wherever they stand.
        if (Codes_.NextCode == kExtensionStartCode || Codes_.NextCode == kUserDataStartCode ||
            Codes_.NextCode >= kFirstSystemCode) {
          HandleExtensionsAndUserData(TLevel::None);
        } else {
          Codes_.ReadValueByte();
          Codes_.Next();
        }
    }
  }
}

void TM2VStream::UpdateProgressBar() {
  if (!ProgressBar_) return;
  // A walk that jumps counts the buffers of the size it would otherwise read.
  const int64_t fills = Jumps_ ? Reader_->BytePosition() / kM2VReadBufferSize + 1 : Reader_->FillCount;
  const int64_t pos = PlainMode ? fills : RoundEven(static_cast<double>(fills) * 0.85);
  if (pos <= ProgressBar_->Max) ProgressBar_->SetPosition(pos);
}

// ---------------------------------------------------------------- headers

void TM2VStream::ParseSequenceHeader() {
  const int64_t pos = Codes_.StartCodePos;
  Codes_.ReadValueByte();
  TM2VHeaderBytes h;
  if (IsRewriting()) RewriteSequenceHeader(h);
  Codes_.ReadTo(&h);
  LastStartCode = kSequenceHeaderCode;
  if (CopyMode_) SequenceHasDisplayExt_ = false;
  TM2VSequenceHeader seq;
  if (!seq.Decode(h.Span())) return;  // cut short: nothing in it can be trusted
  seq.Number = ++SequenceHeaderCount;
  SequenceHeaderPos = pos;
  CurrentSequenceHeader = seq;
  if (!HaveFirstSequenceHeader) {
    HaveFirstSequenceHeader = true;
    FirstSequenceHeader = seq;
    HorizontalSize = seq.HorizontalSize;
    VerticalSize = seq.VerticalSize;
    MacroblockWidth = (seq.HorizontalSize + 15) / 16;
  }
  if (FrameRateCode == 0 && IsValidFrameRateCode(seq.FrameRateCode)) FrameRateCode = seq.FrameRateCode;
  if (AspectCode == 0) {
    if (IsKnownAspectCode(seq.AspectRatioInformation)) AspectCode = seq.AspectRatioInformation;
  } else if (seq.AspectRatioInformation != AspectCode) {
    if (++AspectChanges == 1 && OnLog)
      OnLog("Aspect ratio was changed in SEQUENCE_HEADER #" + std::to_string(seq.Number));
  }
  if (seq.HorizontalSize != 0 && seq.VerticalSize != 0) {
    if (BitRateHeaders == 0) {
      MaxBitRateValue = MinBitRateValue = seq.BitRateValue;
    } else {
      MaxBitRateValue = std::max(MaxBitRateValue, seq.BitRateValue);
      MinBitRateValue = std::min(MinBitRateValue, seq.BitRateValue);
    }
    BitRateSum += seq.BitRateValue / 100;
    ++BitRateHeaders;
    if (FirstBitRate == 0) FirstBitRate = seq.BitRateValue * 400;
  }
  if (IndexActive_) {
    std::array<uint8_t, TM2VSequenceHeader::kIndexSize> b{};
    seq.StoreWithMatrices(b.data());
    Index.Add(kTagSequenceHeader, b.data(), b.size());
  }
  if (CacheActive_) {
    std::array<uint8_t, 64> b{};
    seq.Store(b.data());
    WriteCacheRecord(kTagSequenceHeader, b.data(), TM2VSequenceHeader::RecordSize());
  }
}

void TM2VStream::ParseSequenceExtension() {
  Codes_.ReadValueByte();
  TM2VHeaderBytes h;
  if (CopyMode_ && SeqExtSettings_.Apply) RewriteSequenceExtension(h);
  Codes_.ReadTo(&h);
  LastStartCode = kExtensionStartCode;
  TM2VSequenceExtension ext;
  if (!ext.Decode(h.Span())) return;
  MpegVersion = 2;
  CurrentSequenceExtension = ext;
  if (!HaveFirstSequenceExtension) {
    HaveFirstSequenceExtension = true;
    FirstSequenceExtension = ext;
  }
  RecordOf(kTagSequenceExtension, ext);
}

void TM2VStream::HandleExtensionsAndUserData(TLevel Level) {
  while (!Codes_.AtEnd && !Stop_) {
    if (Codes_.NextCode == kExtensionStartCode)
      HandleExtension(Level);
    else if (Codes_.NextCode == kUserDataStartCode)
      HandleUserData();
    else if (Codes_.NextCode >= kFirstSystemCode)
      HandleForeignCode();
    else
      break;
  }
}

int TM2VStream::PictureDisplayOffsetCount() const {
  const TM2VPictureCodingExtension& p = CurrentPictureCodingExtension;
  if (CurrentSequenceExtension.ProgressiveSequence)
    return p.RepeatFirstField ? (p.TopFieldFirst ? 3 : 2) : 1;
  if (p.PictureStructure != kFramePicture) return 1;
  return p.RepeatFirstField ? 3 : 2;
}

void TM2VStream::HandleExtension(TLevel Level) {
  const uint32_t id = Codes_.PeekExtensionId();
  Codes_.ReadValueByte();
  LastStartCode = kExtensionStartCode;
  TM2VHeaderBytes h;
  if (Level == TLevel::Sequence && id == kSequenceDisplayExtensionId) {
    if (CopyMode_ && DisplayExtSettings_.Apply) RewriteDisplayExtension(h);
    Codes_.ReadTo(&h);
    TM2VSequenceDisplayExtension ext;
    if (!ext.Decode(h.Span())) return;
    if (!HaveFirstDisplayExtension) {
      HaveFirstDisplayExtension = true;
      FirstDisplayExtension = ext;
      DisplayExtSeen = true;
      DisplayHorizontalSize = ext.DisplayHorizontalSize;
      DisplayVerticalSize = ext.DisplayVerticalSize;
      HalfD1Width_ = CurrentSequenceHeader.HorizontalSize;
    }
    RecordOf(kTagSequenceDisplayExtension, ext);
    return;
  }
  if (Level == TLevel::Sequence && id == kSequenceScalableExtensionId) {
    Codes_.ReadTo(&h);
    TM2VSequenceScalableExtension ext;
    if (!ext.Decode(h.Span())) return;
    CurrentScalableExtension = ext;
    ScalableExtensionSeen = true;
    RecordFullOf(kTagSequenceScalableExtension, ext);
    return;
  }
  if (Level == TLevel::Picture && FullIndex_ && IndexActive_) {
    Codes_.ReadTo(&h);
    if (id == kQuantMatrixExtensionId) {
      TM2VQuantMatrixExtension ext;
      if (ext.Decode(h.Span())) RecordFullOf(kTagQuantMatrixExtension, ext);
    } else if (id == kPictureDisplayExtensionId) {
      TM2VPictureDisplayExtension ext;
      if (ext.Decode(h.Span(), PictureDisplayOffsetCount())) RecordFullOf(kTagPictureDisplayExtension, ext);
    } else if (id == kPictureSpatialScalableExtensionId) {
      TM2VPictureSpatialScalableExtension ext;
      if (ext.Decode(h.Span())) RecordFullOf(kTagPictureSpatialScalableExtension, ext);
    } else if (id == kPictureTemporalScalableExtensionId) {
      TM2VPictureTemporalScalableExtension ext;
      if (ext.Decode(h.Span())) RecordFullOf(kTagPictureTemporalScalableExtension, ext);
    }
    return;
  }
  // Nothing more is taken from other extensions, nor from any at GOP level.
  Codes_.Next();
}

void TM2VStream::MarkUserDataSkip(int64_t From, int64_t To) {
  if (To <= From) return;
  Reader_->MarkSkipRange(static_cast<int32_t>(From - Reader_->BytePosition()), static_cast<int32_t>(To - From));
}

void TM2VStream::HandleUserData() {
  const int64_t start = Codes_.StartCodePos;
  Codes_.ReadValueByte();
  core::TFileBitStream& r = *Reader_;
  const bool strip = CopyMode_ && StripUserData;
  int64_t unmarked = start;
  UserData_.clear();
  uint32_t window = 0xFFFFFF;  // the last bytes taken: a prefix counts only within the block
  size_t taken = 0;
  bool found = false;
  // The block is taken buffer by buffer up to the next start-code prefix
  // (byte by byte off a byte boundary, which a start code never leaves).
  while (!r.Eof && !found) {
    const int64_t at = r.BytePosition();
    const bool aligned = r.BitsLeft == 8;
    uint8_t single = 0;
    const uint8_t* const begin = aligned ? r.Buffer + r.ByteIndex : &single;
    const uint8_t* const end = aligned ? r.Buffer + r.BufferFill : &single + 1;
    if (!aligned) single = static_cast<uint8_t>(r.ReadBits(8));
    const uint8_t* p = begin;
    found = core::SkipPastStartCodePrefix(window, p, end);
    const auto n = static_cast<size_t>(p - begin);
    UserData_.insert(UserData_.end(), begin, begin + std::min(n, kUserDataKept - std::min(UserData_.size(), kUserDataKept)));
    taken += n;
    if (strip) {
      // Removal is marked in pieces as the bytes go by, each byte but the one
      // that completes the prefix moving it on; the last two bytes may open
      // the next start code, so they wait.
      const int64_t passed = static_cast<int64_t>(n) - (found ? 1 : 0);
      const int64_t safe = at + passed - 2;
      while (passed > 0 && safe - unmarked >= kStripChunk) {
        MarkUserDataSkip(unmarked, unmarked + kStripChunk);
        unmarked += kStripChunk;
      }
    }
    if (aligned) r.SkipTo(at + static_cast<int64_t>(n));
  }
  int64_t end = r.BytePosition();
  if (found) {
    end -= 3;
    UserData_.resize(std::min(UserData_.size(), taken - 3));
    Codes_.StartCodePos = end;
    if (r.Eof)
      Codes_.AtEnd = true;
    else
      Codes_.NextCode = r.PeekBits(8);
  } else {
    Codes_.AtEnd = true;
  }
  if (strip) MarkUserDataSkip(unmarked, end);
  if (OnUserData) OnUserData(*this, UserData_);
  RecordFull(kTagUserData, nullptr, 0);
  LastStartCode = kUserDataStartCode;
}

void TM2VStream::HandleForeignCode() {
  const uint32_t code = Codes_.NextCode;
  const int64_t pos = Codes_.StartCodePos;
  Codes_.ReadValueByte();
  Codes_.Next();
  const int64_t length = (Codes_.AtEnd ? Reader_->BytePosition() : Codes_.StartCodePos) - pos;
  ForeignData.push_back({pos, length});
  RecordFull(code, nullptr, 0);
  LastStartCode = code;
  if (OnLog) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X", code);
    OnLog("Find not formatted stream or data: " + std::string(hex) + " - " + StreamIdName(code) +
          ", FilePos: " + std::to_string(pos) + ", Length: " + std::to_string(length) + " bytes.");
  }
}

void TM2VStream::ParseGop() {
  // A prepared display extension goes in front of the GOP's start-code value.
  if (CopyMode_ && DisplayExtSettings_.Apply && DisplayExtSettings_.Insert && !SequenceHasDisplayExt_)
    Reader_->MarkDisplayExtEdit(0);
  Codes_.ReadValueByte();
  TM2VHeaderBytes h;
  if (CopyMode_ && GopSettings_.Apply) RewriteGop(h);
  Codes_.ReadTo(&h);
  LastStartCode = kGroupStartCode;
  TM2VGopHeader gop;
  if (!gop.Decode(h.Span())) return;
  gop.Number = static_cast<uint32_t>(++GopCount);
  PicturesInGop = 0;
  DisplayBase_ = static_cast<int64_t>(PicturesInAll);
  CurrentGop = gop;
  if (!HaveFirstGop) {
    HaveFirstGop = true;
    FirstGop = gop;
    FirstGopTime = gop.Time();
  }
  RecordOf(kTagGop, gop);
  if (++GopsSinceEvent_ == kGopsPerProgressEvent) {
    if (OnProgress) OnProgress();
    GopsSinceEvent_ = 1;
  }
}

void TM2VStream::CountMpeg1Picture(int64_t DisplayIndex) {
  // Only MPEG-1 streams count by the table: its two megabytes are zeroed at a
  // scan's first MPEG-1 picture, not by every stream object and scan.
  if (TemporalTable_.empty()) TemporalTable_.assign(kTemporalTableSize, 0);
  const auto inTable = [&](int64_t i) { return i >= 0 && i < static_cast<int64_t>(TemporalTable_.size()); };
  const auto marked = [&](int64_t i) { return inTable(i) && TemporalTable_[static_cast<size_t>(i)] != 0; };
  const auto mark = [&](int64_t i) {
    if (inTable(i)) TemporalTable_[static_cast<size_t>(i)] = 1;
    LastMarked_ = i;
  };
  double add = 0;
  if (PicturesInAll == 0) {
    add = 1;
    mark(DisplayIndex);
  } else if (DisplayIndex == LastMarked_) {
    ++DuplicateTemporalRefs;
  } else if (!marked(DisplayIndex) || marked(DisplayIndex - 1) || marked(DisplayIndex - 2) ||
             marked(DisplayIndex - 3)) {
    add = 1;
    mark(DisplayIndex);
  }
  PictureCount += add;
  RunningFrameCount += add;
  FieldCount += 2;
  MaxRoundedFrameCount =
      std::max<int32_t>(MaxRoundedFrameCount, static_cast<int32_t>(RoundEven(RunningFrameCount + 0.1)));
}

void TM2VStream::ParsePicture() {
  const int64_t pos = Codes_.StartCodePos;
  Codes_.ReadValueByte();
  TM2VHeaderBytes h;
  Codes_.ReadTo(&h);
  LastStartCode = kPictureStartCode;
  TM2VPictureHeader pic;
  if (!pic.Decode(h.Span())) return;
  const int64_t display = DisplayBase_ + pic.TemporalReference;
  pic.DisplayIndex = static_cast<uint32_t>(display);
  RecentTypes_ = {pic.PictureCodingType, RecentTypes_[0], RecentTypes_[1]};
  pic.Position = static_cast<uint64_t>(pic.PictureCodingType < kPPicture ? SequenceHeaderPos : pos);
  if (pic.PictureCodingType != kIPicture) OnlyIPictures = false;
  if (pic.VbvDelay == 0xFFFF) VariableBitRate = true;
  if (MpegVersion == 1 && pic.PictureCodingType >= kIPicture && pic.PictureCodingType <= kBPicture)
    CountMpeg1Picture(display);
  else if (MpegVersion == 1)
    FieldCount += 2;
  ++PicturesInGop;
  ++PicturesInAll;
  CurrentPicture = pic;
  RecordOf(kTagPicture, pic);
  if (IOnlyCheck && pic.PictureCodingType != kIPicture) Stop_ = true;
}

void TM2VStream::ParsePictureCodingExtension() {
  Codes_.ReadValueByte();
  TM2VHeaderBytes h;
  if (CopyMode_ && PicExtSettings_.Apply) {
    const uint32_t type = CurrentPicture.PictureCodingType;
    if ((type == kIPicture && PicExtSettings_.ForI) || (type == kPPicture && PicExtSettings_.ForP) ||
        (type == kBPicture && PicExtSettings_.ForB))
      RewritePictureCodingExtension(h);
  }
  Codes_.ReadTo(&h);
  LastStartCode = kExtensionStartCode;
  TM2VPictureCodingExtension ext;
  if (!ext.Decode(h.Span())) return;
  RecentTff_ = {ext.TopFieldFirst, RecentTff_[0], RecentTff_[1]};
  RecentRff_ = {ext.RepeatFirstField, RecentRff_[0], RecentRff_[1]};
  // Pulldown shows in repeated fields; a top field first alone is interlace.
  if (IntegerRate() != 25 && RecentRff_[1]) Pulldown = true;
  if (ext.RepeatFirstField) RepeatFieldSeen_ = true;
  const bool frame = ext.PictureStructure == kFramePicture;
  FieldCount += 1 + ext.RepeatFirstField + (frame ? 1 : 0);
  const double add = frame ? 1.0 : 0.5;
  PictureCount += add;
  RunningFrameCount += add;
  MaxRoundedFrameCount =
      std::max<int32_t>(MaxRoundedFrameCount, static_cast<int32_t>(RoundEven(RunningFrameCount + 0.1)));
  CurrentPictureCodingExtension = ext;
  if (!HaveFirstPictureCodingExtension) {
    HaveFirstPictureCodingExtension = true;
    FirstPictureCodingExtension = ext;
  }
  RecordOf(kTagPictureCodingExtension, ext);
}

void TM2VStream::SkipSlices() {
  const TM2VSliceHeader::TContext context{
      CurrentSequenceHeader.VerticalSize,
      ScalableExtensionSeen && CurrentScalableExtension.ScalableMode == kDataPartitioning};
  while (!Codes_.AtEnd && Codes_.NextCode >= kFirstSliceCode && Codes_.NextCode <= kLastSliceCode) {
    const uint32_t code = Codes_.ReadValueByte();
    if (FullIndex_ && IndexActive_) {
      // The slice header's fields fit in its first four bytes.
      uint8_t bytes[4];
      core::WriteBE32(bytes, Reader_->PeekBits(32));
      TM2VSliceHeader slice;
      if (slice.Decode(code, bytes, context)) RecordFullOf(kTagSlice, slice);
    }
    if (Jumps_ && JumpOverSlices()) continue;
    Codes_.Next();
  }
  LastStartCode = kFirstSliceCode;
}

void TM2VStream::ParseSequenceEnd() {
  Codes_.ReadValueByte();
  ++SequenceEndCount;
  LastStartCode = kSequenceEndCode;
  uint8_t b[4];
  core::WriteLE32(b, SequenceEndCount);
  Record(kTagSequenceEnd, b, sizeof b);
  Codes_.Next();
}

// ---------------------------------------------------------------- results

uint64_t TM2VStream::FramesFromFieldPattern() const {
  // The last three pictures: types, top_field_first and repeat_first_field.
  struct TRule {
    int Code;
    int T0, T1, T2, F0, R0, F1, R1, F2, R2;  // -1: any
  };
  static constexpr TRule kRules[] = {
      {1, -1, 3, -1, -1, -1, 1, 1, -1, -1},  {2, -1, 2, -1, -1, -1, 1, 1, -1, -1},
      {3, -1, 3, -1, -1, -1, 0, 0, -1, -1},  {4, -1, 2, -1, -1, -1, 1, 0, -1, -1},
      {5, 2, -1, -1, -1, -1, 0, 1, -1, -1},  {6, 3, 3, -1, 1, 0, 1, 0, -1, -1},
      {7, 2, 3, -1, 1, 1, 1, 1, -1, -1},     {8, 3, 3, 2, 0, 0, 1, 1, 0, 1},
      {9, 2, 3, -1, 0, 1, 1, 1, -1, -1},     {10, 2, 2, -1, 0, 1, 0, 0, -1, -1},
      {11, 2, 2, -1, 1, 0, 0, 1, -1, -1},    {12, 2, 2, -1, 1, 1, 1, 0, -1, -1},
      {15, 3, 2, -1, 0, 0, 0, 0, -1, -1},    {16, 2, 3, -1, 0, 0, 1, 0, -1, -1},
  };
  const int have[9] = {static_cast<int>(RecentTypes_[0]), static_cast<int>(RecentTypes_[1]),
                       static_cast<int>(RecentTypes_[2]), static_cast<int>(RecentTff_[0]),
                       static_cast<int>(RecentRff_[0]),   static_cast<int>(RecentTff_[1]),
                       static_cast<int>(RecentRff_[1]),   static_cast<int>(RecentTff_[2]),
                       static_cast<int>(RecentRff_[2])};
  int code = Pulldown ? 0 : 14;
  for (const TRule& rule : kRules) {
    const int want[9] = {rule.T0, rule.T1, rule.T2, rule.F0, rule.R0, rule.F1, rule.R1, rule.F2, rule.R2};
    bool holds = true;
    for (int i = 0; i < 9 && holds; ++i) holds = want[i] < 0 || want[i] == have[i];
    if (holds) code = rule.Code;
  }
  const uint64_t roundUp = (FieldCount + 1) / 2;
  const uint64_t roundDown = FieldCount / 2;
  switch (code) {
    case 1: case 3: case 4: case 6: case 11: case 14: case 15: case 16:
      return roundUp;
    case 0:
      return RecentRff_[0] ? roundUp : roundDown;
    default:
      return roundDown;
  }
}

void TM2VStream::FinishCounts() {
  Record(kTagEndOfScan, nullptr, 0);
  HalfD1 = IsHalfD1();
  if (DuplicateTemporalRefs == 1) PictureCount += 1;
  if (IntegerRate() != 25) {
    FramesFromFields = FramesFromFieldPattern();
    // More frames than pictures come only from repeated fields.
    if (RepeatFieldSeen_ && static_cast<double>(FramesFromFields) > PictureCount) Pulldown = true;
  }
  if (!Pulldown) FramesFromFields = static_cast<uint64_t>(std::max<int64_t>(RoundEven(PictureCount), 0));
  PictureCount = static_cast<double>(RoundEven(PictureCount + 0.1));
  AverageBitRateValue = BitRateHeaders ? static_cast<uint32_t>(BitRateSum / BitRateHeaders * 100) : 0;
  FirstBitRate = std::max<uint32_t>(FirstBitRate, 200000);
}

core::TTimeCode TM2VStream::Duration() const {
  const int32_t rate = IntegerRate();
  if (rate <= 0) return {};
  return core::FramesToTimeCode(static_cast<int64_t>(FramesFromFields), rate);
}

bool TM2VStream::IsHalfD1() const {
  return AspectCode == 2 && DisplayExtSeen && DisplayVerticalSize != 0 &&
         (HalfD1Width_ == 704 || HalfD1Width_ == 720) && DisplayHorizontalSize == 540;
}

// ---------------------------------------------------------------- records

void TM2VStream::Record(uint32_t Tag, const uint8_t* Payload, size_t Size) {
  if (IndexActive_) Index.Add(Tag, Payload, Size);
  if (CacheActive_) WriteCacheRecord(Tag, Payload, Size);
}

void TM2VStream::RecordFull(uint32_t Tag, const uint8_t* Payload, size_t Size) {
  if (IndexActive_ && FullIndex_) Index.Add(Tag, Payload, Size);
}

}  // namespace tess::streams
