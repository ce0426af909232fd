#include "streams/m2v_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/byte_order.h"
#include "core/files.h"
#include "core/number_text.h"
#include "core/run_context.h"
#include "core/vob_file_stream.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "platform/ui_models.h"
#include "streams/audio_cut.h"

namespace tess::streams {

using core::ReadLE32;
using core::ReadLE64;
using core::WriteLE32;
using core::WriteLE64;
using platform::RoundEven;
namespace info = m2v_info;

namespace {

// A cache record: a tag byte, a zero byte, then the payload.
constexpr size_t kRecordHead = 2;
constexpr uint8_t kEndRecord[kRecordHead] = {kTagEndOfScan, 0};

// The payload size of each tag a cache may hold; -1 for a tag it may not.
int64_t CachePayloadSize(uint32_t Tag) {
  switch (Tag) {
    case kTagSequenceHeader: return static_cast<int64_t>(TM2VSequenceHeader::RecordSize());
    case kTagSequenceExtension: return static_cast<int64_t>(TM2VSequenceExtension::RecordSize());
    case kTagSequenceDisplayExtension: return static_cast<int64_t>(TM2VSequenceDisplayExtension::RecordSize());
    case kTagGop: return static_cast<int64_t>(TM2VGopHeader::RecordSize());
    case kTagPicture: return static_cast<int64_t>(TM2VPictureHeader::RecordSize());
    case kTagPictureCodingExtension: return static_cast<int64_t>(TM2VPictureCodingExtension::RecordSize());
    case kTagSequenceEnd: return 4;
    case kTagSameSequenceHeader:
    case kTagSameSequenceExtension:
    case kTagEndOfScan: return 0;
    default: return -1;
  }
}

// The whole of a file; false when it is missing, larger than any cache of a
// video, or cannot be read whole. A read error is reported in Run, when one is
// given; a cache that is not read is made again.
bool ReadWholeFile(const std::string& Name, std::vector<uint8_t>& Bytes, core::RunContext* Run) {
  // A feature film's caches take a few megabytes.
  constexpr off_t kMaxCacheBytes = off_t{256} << 20;
  const int fd = platform::OpenRegularFile(Name, O_RDONLY);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && st.st_size > kMaxCacheBytes) {
    if (Run)
      Run->Log(core::kLogNormal, Name + " is " + std::to_string(st.st_size) +
                                     " bytes, more than a scan cache holds; it is not read.");
    ok = false;
  }
  int err = 0;
  if (ok) {
    Bytes.resize(static_cast<size_t>(st.st_size));
    ok = platform::ReadFull(fd, Bytes.data(), Bytes.size(), &err) == Bytes.size();
  }
  ::close(fd);
  if (err && Run) ReportReadError(*Run, Name, err);
  return ok;
}


bool HasStreamExtension(const std::string& FileName) {
  const std::string ext = platform::ExtractFileExt(FileName);
  return platform::EqualsIgnoreCase(ext, ".m2v") || platform::EqualsIgnoreCase(ext, ".m1v");
}

}  // namespace

uint64_t VideoFileTime(const std::string& FileName) {
  struct stat st {};
  if (::stat(platform::ResolveInputPath(FileName).c_str(), &st) != 0) return 0;
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  return static_cast<uint64_t>((static_cast<int64_t>(st.st_mtim.tv_sec) + kSecondsFrom1601To1970) * 10000000 +
                               st.st_mtim.tv_nsec / 100);
}

bool IsM2VCacheValid(const std::string& VideoName, TM2VInfoRecord* Header, core::RunContext* Run) {
  const std::string cache = VideoName + ".vnf";
  const int fd = platform::OpenRegularFile(cache, O_RDONLY);
  if (fd < 0) return false;
  struct stat st {};
  TM2VInfoRecord h{};
  uint8_t last[kRecordHead] = {};
  int err = 0;
  bool ok = ::fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(kM2VInfoRecordSize + kRecordHead) &&
            platform::PReadFull(fd, h.data(), h.size(), 0, &err) == h.size() &&
            platform::PReadFull(fd, last, kRecordHead, st.st_size - static_cast<off_t>(kRecordHead), &err) ==
                kRecordHead;
  ::close(fd);
  if (err && Run) ReportReadError(*Run, cache, err);
  if (!ok || std::memcmp(last, kEndRecord, kRecordHead) != 0) return false;
  const size_t textLength = strnlen(reinterpret_cast<const char*>(h.data()), info::kMagicArea);
  if (std::string_view(reinterpret_cast<const char*>(h.data()), textLength) != info::kMagic) return false;
  const uint64_t time = ReadLE64(h.data() + info::kFileTime);
  if (time == 0 || time != VideoFileTime(VideoName)) return false;
  struct stat video {};
  if (::stat(platform::ResolveInputPath(VideoName).c_str(), &video) != 0 ||
      ReadLE64(h.data() + info::kVideoSize) != static_cast<uint64_t>(video.st_size))
    return false;
  if (Header) *Header = h;
  return true;
}

// ---------------------------------------------------------------- the summary record

void TM2VStream::WriteInfoFileHeader(bool WithFileTime, TM2VInfoRecord& Record) const {
  Record.fill(0);
  uint8_t* r = Record.data();
  std::memcpy(r, info::kMagic.data(), info::kMagic.size());
  r[info::kFirstGopTime + 0] = FirstGopTime.Hours;
  r[info::kFirstGopTime + 1] = FirstGopTime.Minutes;
  r[info::kFirstGopTime + 2] = FirstGopTime.Seconds;
  r[info::kFirstGopTime + 3] = FirstGopTime.Frames;
  const core::TTimeCode duration = Duration();
  r[info::kDuration + 0] = duration.Hours;
  r[info::kDuration + 1] = duration.Minutes;
  r[info::kDuration + 2] = duration.Seconds;
  r[info::kDuration + 3] = duration.Frames;
  WriteLE32(r + info::kMaxRunningFrames, static_cast<uint32_t>(MaxRoundedFrameCount));
  WriteLE32(r + info::kIntegerRate, static_cast<uint32_t>(IntegerRate()));
  WriteLE32(r + info::kAspectCode, AspectCode);
  r[info::kHalfD1] = HalfD1 ? 1 : 0;
  r[info::kVariableBitRate] = VariableBitRate ? 1 : 0;
  WriteLE32(r + info::kMpegVersion, static_cast<uint32_t>(MpegVersion));
  r[info::kLine21Switch1] = Line21Switch1;
  r[info::kLine21Switch2] = Line21Switch2;
  WriteLE32(r + info::kFrameRateCode, FrameRateCode);
  WriteLE64(r + info::kFrames, FramesFromFields);
  WriteLE32(r + info::kHorizontalSize, HorizontalSize);
  WriteLE32(r + info::kVerticalSize, VerticalSize);
  WriteLE32(r + info::kFirstBitRate, FirstBitRate);
  WriteLE32(r + info::kPictures, static_cast<uint32_t>(RoundEven(PictureCount + 0.1)));
  WriteLE32(r + info::kSequenceEnds, SequenceEndCount);
  WriteLE32(r + info::kMinBitRateValue, MinBitRateValue);
  WriteLE32(r + info::kMaxBitRateValue, MaxBitRateValue);
  WriteLE32(r + info::kAverageBitRateValue, AverageBitRateValue);
  r[info::kPulldown] = Pulldown ? 1 : 0;
  WriteLE32(r + info::kBufferCount, static_cast<uint32_t>(FileSize_ / kM2VReadBufferSize));
  if (WithFileTime) WriteLE64(r + info::kFileTime, VideoFileTime(FileName_));
  WriteLE32(r + info::kFieldCount, static_cast<uint32_t>(FieldCount));
  WriteLE32(r + info::kRoundedPictures, static_cast<uint32_t>(RoundEven(PictureCount)));
  if (DisplayExtSeen) {
    WriteLE32(r + info::kDisplayWidth, DisplayHorizontalSize);
    WriteLE32(r + info::kDisplayHeight, DisplayVerticalSize);
  }
  WriteLE64(r + info::kVideoSize, static_cast<uint64_t>(FileSize_));
}

void TM2VStream::ReadInfoFileHeader(const TM2VInfoRecord& Record) {
  const uint8_t* r = Record.data();
  FirstGopTime = {r[info::kFirstGopTime], r[info::kFirstGopTime + 1], r[info::kFirstGopTime + 2],
                  r[info::kFirstGopTime + 3]};
  MaxRoundedFrameCount = static_cast<int32_t>(ReadLE32(r + info::kMaxRunningFrames));
  AspectCode = ReadLE32(r + info::kAspectCode);
  HalfD1 = r[info::kHalfD1] != 0;
  VariableBitRate = r[info::kVariableBitRate] != 0;
  MpegVersion = static_cast<int32_t>(ReadLE32(r + info::kMpegVersion));
  Line21Switch1 = r[info::kLine21Switch1];
  Line21Switch2 = r[info::kLine21Switch2];
  FrameRateCode = ReadLE32(r + info::kFrameRateCode);
  FramesFromFields = ReadLE64(r + info::kFrames);
  HorizontalSize = ReadLE32(r + info::kHorizontalSize);
  VerticalSize = ReadLE32(r + info::kVerticalSize);
  MacroblockWidth = (HorizontalSize + 15) / 16;
  FirstBitRate = ReadLE32(r + info::kFirstBitRate);
  PictureCount = ReadLE32(r + info::kPictures);
  SequenceEndCount = ReadLE32(r + info::kSequenceEnds);
  MinBitRateValue = ReadLE32(r + info::kMinBitRateValue);
  MaxBitRateValue = ReadLE32(r + info::kMaxBitRateValue);
  AverageBitRateValue = ReadLE32(r + info::kAverageBitRateValue);
  Pulldown = r[info::kPulldown] != 0;
  FieldCount = ReadLE32(r + info::kFieldCount);
  DisplayHorizontalSize = ReadLE32(r + info::kDisplayWidth);
  DisplayVerticalSize = ReadLE32(r + info::kDisplayHeight);
  DisplayExtSeen = DisplayHorizontalSize != 0 && DisplayVerticalSize != 0;
}

// ---------------------------------------------------------------- writing the cache

bool TM2VStream::CacheIsValid(const std::string& Cache) const {
  return Cache == CacheName() && IsM2VCacheValid(FileName_, nullptr, &Run);
}

bool TM2VStream::StartCache() {
  const std::string name = CacheName();
  if (Run.WritesOverSource(name)) return false;
  // Media that take no new file (a read-only disc) get no cache; the scan
  // goes on without one.
  const int probe = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (probe < 0) {
    Run.Log(core::kLogNormal, "No video info cache can be written for " + FileName_ + ".");
    return false;
  }
  ::close(probe);
  Cache_ = std::make_unique<core::TVobFileStream>(Run, name, core::TVobFileStream::kModeWrite, true);
  if (!Cache_->IsOpen()) {
    DropCache();
    return false;
  }
  CachedFirstHeaderSet_ = CachedFirstExtensionSet_ = false;
  // A header without the file time keeps the cache invalid until the scan is complete.
  TM2VInfoRecord placeholder;
  WriteInfoFileHeader(false, placeholder);
  Cache_->Write(placeholder.data(), static_cast<int64_t>(placeholder.size()));
  return true;
}

void TM2VStream::WriteCacheRecord(uint32_t Tag, const uint8_t* Payload, size_t Size) {
  if (!Cache_ || CachePayloadSize(Tag) < 0) return;
  uint8_t head[kRecordHead] = {static_cast<uint8_t>(Tag), 0};
  const auto sameAsFirst = [&](bool& Set, std::array<uint8_t, 64>& First, uint8_t SameTag) {
    if (!Set) {
      Set = true;
      std::memcpy(First.data(), Payload, Size);
    } else if (std::memcmp(First.data(), Payload, Size) == 0) {
      head[0] = SameTag;
      Size = 0;
    }
  };
  if (Tag == kTagSequenceHeader) sameAsFirst(CachedFirstHeaderSet_, CachedFirstHeader_, kTagSameSequenceHeader);
  if (Tag == kTagSequenceExtension)
    sameAsFirst(CachedFirstExtensionSet_, CachedFirstExtension_, kTagSameSequenceExtension);
  Cache_->Write(head, kRecordHead);
  if (Size > 0) Cache_->Write(Payload, static_cast<int64_t>(Size));
}

void TM2VStream::FinishCache() {
  const std::string name = CacheName();
  bool ok = Cache_->Close() && !Cache_->WriteFailed();
  Cache_.reset();
  std::string why;
  if (ok) {
    TM2VInfoRecord header;
    WriteInfoFileHeader(true, header);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
    int err = fd < 0 ? errno : 0;
    ok = fd >= 0 && platform::PWriteFull(fd, header.data(), header.size(), 0);
    if (fd >= 0 && !ok) err = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
      err = errno;
      ok = false;
    }
    if (fd >= 0 && !ok) Run.StopForWriteError(name);
    why = platform::ErrorReason(err);
  }
  if (!ok) {
    // A failed write of the records said why as it failed.
    Run.Log(core::kLogWarning, "The video info cache of " + FileName_ + " could not be written" + why + ".");
    DropCacheFile(name);
  }
}

void TM2VStream::DropCache() {
  if (Cache_) Cache_->Close();
  Cache_.reset();
  DropCacheFile(CacheName());
}

void TM2VStream::DropCacheFile(const std::string& Name) {
  // After a write error that stopped the run the cache is one of the outputs
  // it left unfinished, and is named with them.
  if (Run.WriteStopped) {
    Run.RemoveUnfinishedOutput(Name);
    return;
  }
  Run.RemoveOwnFile(Name);
}

// ---------------------------------------------------------------- reading the cache

bool TM2VStream::LoadIndexFromCache(const std::string& CacheName, bool CacheWasValid) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(CacheName, bytes, &Run)) return false;
  Index.Clear();
  HaveFirstSequenceHeader = HaveFirstSequenceExtension = HaveFirstDisplayExtension = false;
  HaveFirstGop = HaveFirstPictureCodingExtension = false;
  SequenceHeaderCount = GopCount = PicturesInAll = 0;
  if (bytes.size() < kM2VInfoRecordSize) return false;
  TM2VInfoRecord header;
  std::memcpy(header.data(), bytes.data(), header.size());
  ReadInfoFileHeader(header);

  const int64_t barMax = ReadLE32(header.data() + info::kBufferCount);
  const int64_t barStart = RoundEven(static_cast<double>(barMax) * 0.85);
  if (ProgressBar_) {
    ProgressBar_->SetRange(CacheWasValid ? barStart : 0, barMax);
    ProgressBar_->SetPosition(barStart);
  }
  const auto add = [&](uint32_t Tag, const uint8_t* Payload, size_t Size) {
    if (IndexActive_) Index.Add(Tag, Payload, Size);
  };
  int64_t latestGop = -1;
  bool sawEnd = false;
  size_t pos = kM2VInfoRecordSize;
  while (pos < bytes.size()) {
    if (bytes.size() - pos < kRecordHead) return false;  // cut inside a record
    const uint32_t tag = core::ReadLE16(bytes.data() + pos);
    const int64_t size = CachePayloadSize(tag);
    if (size < 0) {
      if (Run.Prompt) Run.Prompt->Inform("Incorrect cache file. Error code: " + std::to_string(tag), "Error!");
      Run.Log(core::kLogWarning, "Incorrect cache file. Error code: " + std::to_string(tag));
      return false;
    }
    pos += kRecordHead;
    if (bytes.size() - pos < static_cast<size_t>(size)) return false;
    const uint8_t* p = bytes.data() + pos;
    pos += static_cast<size_t>(size);
    switch (tag) {
      case kTagSequenceHeader:
      case kTagSameSequenceHeader: {
        if (tag == kTagSameSequenceHeader && !HaveFirstSequenceHeader) return false;
        TM2VSequenceHeader seq = FirstSequenceHeader;
        if (tag == kTagSequenceHeader) {
          seq = {};
          seq.Load(p);
        }
        if (!HaveFirstSequenceHeader) {
          HaveFirstSequenceHeader = true;
          FirstSequenceHeader = seq;
        }
        CurrentSequenceHeader = seq;
        ++SequenceHeaderCount;
        std::array<uint8_t, TM2VSequenceHeader::kIndexSize> b{};
        seq.StoreWithMatrices(b.data());
        add(kTagSequenceHeader, b.data(), b.size());
        break;
      }
      case kTagSequenceExtension:
      case kTagSameSequenceExtension: {
        if (tag == kTagSameSequenceExtension && !HaveFirstSequenceExtension) return false;
        TM2VSequenceExtension ext = FirstSequenceExtension;
        if (tag == kTagSequenceExtension) ext.Load(p);
        if (!HaveFirstSequenceExtension) {
          HaveFirstSequenceExtension = true;
          FirstSequenceExtension = ext;
        }
        CurrentSequenceExtension = ext;
        std::array<uint8_t, 64> b{};
        ext.Store(b.data());
        add(kTagSequenceExtension, b.data(), TM2VSequenceExtension::RecordSize());
        break;
      }
      case kTagSequenceDisplayExtension:
        if (!HaveFirstDisplayExtension) {
          HaveFirstDisplayExtension = true;
          FirstDisplayExtension.Load(p);
        }
        add(tag, p, static_cast<size_t>(size));
        break;
      case kTagGop:
        CurrentGop.Load(p);
        latestGop = CurrentGop.Number;
        ++GopCount;
        if (!HaveFirstGop) {
          HaveFirstGop = true;
          FirstGop = CurrentGop;
        }
        add(tag, p, static_cast<size_t>(size));
        break;
      case kTagPicture: {
        CurrentPicture.Load(p);
        ++PicturesInAll;
        const uint32_t type = CurrentPicture.PictureCodingType;
        if ((type < kIPicture || type > kBPicture) && OnLog)
          OnLog("Unknown Frame Type! GOP Number: " + std::to_string(latestGop) +
                ", File Position: " + std::to_string(CurrentPicture.Position));
        if (ProgressBar_) {
          const int64_t display = CurrentPicture.DisplayIndex;
          if (std::llabs(display - ProgressBar_->Position) >= 101) {
            const int64_t next = barStart + RoundEven(static_cast<double>(display) * 0.15);
            if (next <= ProgressBar_->Max) ProgressBar_->SetPosition(next);
          }
        }
        add(tag, p, static_cast<size_t>(size));
        break;
      }
      case kTagPictureCodingExtension:
        CurrentPictureCodingExtension.Load(p);
        if (!HaveFirstPictureCodingExtension) {
          HaveFirstPictureCodingExtension = true;
          FirstPictureCodingExtension = CurrentPictureCodingExtension;
        }
        add(tag, p, static_cast<size_t>(size));
        break;
      case kTagSequenceEnd:
        add(tag, p, static_cast<size_t>(size));
        break;
      case kTagEndOfScan:
        sawEnd = true;
        add(tag, nullptr, 0);
        break;
    }
  }
  return sawEnd;
}

// ---------------------------------------------------------------- free functions

bool IsM2VStill(core::RunContext& Run, const std::string& FileName) {
  if (!HasStreamExtension(FileName)) return false;
  try {
    TM2VStream stream(Run, FileName);
    stream.StillCheck = true;
    stream.CacheMode = false;
    stream.Scan(false, false);
    // A scan cut short by a read error has not seen a second picture that may be there.
    return !stream.ReadFailed() && stream.PictureCount == 1;
  } catch (const core::EParserFileException&) {
    return false;
  }
}

bool ScanM2VToInfoRecord(core::RunContext& Run, const std::string& FileName, platform::ProgressBar* ProgressBar,
                         uint8_t* Abort, TM2VInfoRecord& Record, uint32_t Colour, bool WriteScc, bool LogCaptions,
                         const std::function<void()>& OnProgress) {
  try {
    TM2VStream stream(Run, FileName);
    if (ProgressBar) stream.SetProgressBar(ProgressBar);
    stream.OnProgress = OnProgress;
    if (Abort) stream.AbortFlag = Abort;
    stream.PlainMode = false;
    stream.CacheMode = true;
    stream.CaptionColour = Colour;
    stream.WriteScc = WriteScc;
    stream.LogCaptions = LogCaptions;
    stream.Scan(true, false);
    stream.WriteInfoFileHeader(false, Record);
    return !stream.ReadFailed();
  } catch (const core::EParserFileException&) {
    return false;
  }
}

bool ScanM2VStillInfo(core::RunContext& Run, const std::string& FileName, TM2VInfoRecord& Record) {
  try {
    TM2VStream stream(Run, FileName);
    stream.PlainMode = false;
    stream.CacheMode = false;
    stream.StillCheck = true;
    stream.Scan(true, false);
    stream.WriteInfoFileHeader(false, Record);
    return !stream.ReadFailed();
  } catch (const core::EParserFileException&) {
    return false;
  }
}

bool GetM2VInfoRecord(core::RunContext& Run, const std::string& FileName, platform::ProgressBar* ProgressBar,
                      uint8_t* Abort, TM2VInfoRecord& Record, const std::function<void()>& OnProgress) {
  if (IsM2VCacheValid(FileName, &Record, &Run)) return true;
  Run.RemoveOwnFile(FileName + ".vnf");
  // A caching scan that neither writes nor logs captions; with the file time
  // its summary is the same bytes a valid cache would have given.
  if (!ScanM2VToInfoRecord(Run, FileName, ProgressBar, Abort, Record, 0, false, false, OnProgress)) return false;
  WriteLE64(Record.data() + info::kFileTime, VideoFileTime(FileName));
  return true;
}

bool BuildIposIndex(core::RunContext& Run, const std::string& FileName) {
  if (!HasStreamExtension(FileName)) return false;
  try {
    TM2VStream stream(Run, FileName);
    stream.PlainMode = false;
    stream.IOnlyCheck = true;
    stream.CacheMode = false;
    stream.Scan(false, false);
    if (!stream.OnlyIPictures || stream.ReadFailed()) return false;
    stream.CacheMode = true;
    stream.Scan(true, false);
    if (stream.ReadFailed()) return false;
    // Every still is an I picture closed by a sequence end before the next one.
    std::vector<uint8_t> positions;
    bool closed = true;
    for (size_t i = 0; i < stream.Index.Count(); ++i) {
      const uint32_t tag = stream.Index[i].Tag;
      if (tag == kTagSequenceEnd) closed = true;
      if (tag != kTagPicture) continue;
      TM2VPictureHeader pic;
      pic.Load(stream.Index.Payload(i).data());
      if (pic.PictureCodingType == kIPicture) {
        if (!closed) return false;
        closed = false;
      }
      uint8_t b[8];
      WriteLE64(b, pic.Position);
      positions.insert(positions.end(), b, b + 8);
    }
    bool opened = false;
    int err = 0;
    if (Run.WritesOverSource(FileName + ".ipos")) return false;
    if (!platform::ReplaceFileWith(FileName + ".ipos", positions.data(), positions.size(), &err, &opened)) {
      Run.Log(core::kLogWarning, "Can not create file " + FileName + ".ipos" + platform::ErrorReason(err));
      if (opened) Run.StopForWriteError(FileName + ".ipos");
    }
    return true;
  } catch (const core::EParserFileException&) {
    return false;
  }
}

int32_t SplitStillFiles(core::RunContext& Run, const std::string& VideoFileName, std::vector<std::string>& FileNames) {
  FileNames.clear();
  const std::string video = platform::ExistingRegularFile(VideoFileName);
  if (video.empty()) return 0;
  const std::string ipos = VideoFileName + ".ipos";
  const std::string times = VideoFileName + ".times";
  std::vector<uint8_t> bytes;
  if (platform::ExistingRegularFile(ipos).empty()) {
    Run.RemoveOwnFile(times);
    return 0;
  }
  // An index that cannot be read is a failure the run names; the video stays whole.
  if (!ReadWholeFile(ipos, bytes, &Run)) return 0;
  const int64_t size = core::GetFileSizeByName(video);
  std::vector<int64_t> bounds;
  for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    const uint64_t at = ReadLE64(bytes.data() + i);
    // Offsets past the video or going backwards belong to another file.
    if (at > static_cast<uint64_t>(size) || (!bounds.empty() && static_cast<int64_t>(at) < bounds.back())) {
      Run.LogError("The still index " + ipos + " does not fit its video.");
      return 0;
    }
    bounds.push_back(static_cast<int64_t>(at));
  }
  bounds.push_back(size);
  if (bounds.size() == 2) {
    Run.RemoveOwnFile(ipos);
    Run.RemoveOwnFile(times);
    return 0;
  }
  const std::string stem = VideoFileName.substr(0, VideoFileName.size() >= 4 ? VideoFileName.size() - 4 : 0);
  for (size_t i = 1; i < bounds.size(); ++i) {
    const std::string name = stem + "_" + core::IntToStrZeroPad(static_cast<int64_t>(i), 4) + ".m2v";
    if (!core::CopyFileRangeSimple(Run, video, name, static_cast<uint64_t>(bounds[i] - bounds[i - 1]),
                                   bounds[i - 1]))
      break;
    FileNames.push_back(name);
  }
  return static_cast<int32_t>(FileNames.size());
}

}  // namespace tess::streams
