#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "streams/m2v_stream.h"

// The ".vnf" cache beside a video file (name + ".vnf"), the 443-byte summary
// record it starts with, and the still-picture side files (".ipos" index and
// the split into one file per still).
namespace tess::streams {

// The summary record (all integers little-endian).
namespace m2v_info {
inline constexpr std::string_view kMagic = "MPEG Kestrune Info File";
inline constexpr size_t kMagicArea = 101;  // the magic as a zero-terminated text within these bytes
inline constexpr size_t kFirstGopTime = 101;      // hours, minutes, seconds, pictures
inline constexpr size_t kDuration = 105;          // the frames at the integer rate as a time code
inline constexpr size_t kMaxRunningFrames = 109;  // signed
inline constexpr size_t kIntegerRate = 113;       // signed: -1 for code 0, 0 for reserved codes
inline constexpr size_t kAspectCode = 117;
inline constexpr size_t kHalfD1 = 121;
inline constexpr size_t kVariableBitRate = 122;
inline constexpr size_t kMpegVersion = 123;
inline constexpr size_t kLine21Switch1 = 127;
inline constexpr size_t kLine21Switch2 = 128;
inline constexpr size_t kFrameRateCode = 129;
inline constexpr size_t kFrames = 133;  // 64-bit
inline constexpr size_t kHorizontalSize = 141;
inline constexpr size_t kVerticalSize = 145;
inline constexpr size_t kFirstBitRate = 149;  // bit/s
inline constexpr size_t kPictures = 153;
inline constexpr size_t kSequenceEnds = 157;
inline constexpr size_t kMinBitRateValue = 161;
inline constexpr size_t kMaxBitRateValue = 165;
inline constexpr size_t kAverageBitRateValue = 169;
inline constexpr size_t kPulldown = 173;
inline constexpr size_t kBufferCount = 174;  // file size div the reader's buffer
inline constexpr size_t kFileTime = 179;     // 64-bit; zero until the scan is complete
inline constexpr size_t kFieldCount = 187;   // low 32 bits
inline constexpr size_t kRoundedPictures = 191;
inline constexpr size_t kDisplayWidth = 195;
inline constexpr size_t kDisplayHeight = 199;
// The video's size in bytes (64-bit): a cache is taken only for a video of that
// size.
inline constexpr size_t kVideoSize = 203;
}  // namespace m2v_info

// The video file's last-write time as the cache records it (100 ns units since
// 1601); 0 when the file cannot be looked at.
uint64_t VideoFileTime(const std::string& FileName);
// The cache of VideoName is whole (ends with its end-of-scan record), written
// for the video as it is now (non-zero time stamp, time and size equal to the
// video's), and carries the magic. Header (when given) gets its first bytes.
// A read error makes it invalid and is reported in Run, when one is given.
bool IsM2VCacheValid(const std::string& VideoName, TM2VInfoRecord* Header = nullptr, core::RunContext* Run = nullptr);

// A ".m2v" or ".m1v" file whose stream holds exactly one picture; false when a
// read error cut the scan short.
bool IsM2VStill(core::RunContext& Run, const std::string& FileName);
// A caching scan (captions as asked) summed up in Record; false when the file
// cannot be read.
bool ScanM2VToInfoRecord(core::RunContext& Run, const std::string& FileName, platform::ProgressBar* ProgressBar,
                         uint8_t* Abort, TM2VInfoRecord& Record, uint32_t Colour, bool WriteScc, bool LogCaptions,
                         const std::function<void()>& OnProgress);
// A scan with the still check and no cache, summed up without the file time.
bool ScanM2VStillInfo(core::RunContext& Run, const std::string& FileName, TM2VInfoRecord& Record);
// The cached summary when the cache is valid, else that of a new caching scan.
bool GetM2VInfoRecord(core::RunContext& Run, const std::string& FileName, platform::ProgressBar* ProgressBar,
                      uint8_t* Abort, TM2VInfoRecord& Record, const std::function<void()>& OnProgress);

// For a still sequence (I pictures only, each closed by a sequence end) writes
// the ".ipos" index: the 8-byte offset of every picture's sequence header.
// False when the file is no such sequence.
bool BuildIposIndex(core::RunContext& Run, const std::string& FileName);
// Splits the video at its ".ipos" offsets into name_0001.m2v, name_0002.m2v ...
// (FileNames gets them in order). Returns how many were made; 0 when there is
// no index, and for a single still (whose ".ipos" and ".times" go). An index
// that cannot be read is reported as a read error and splits nothing.
int32_t SplitStillFiles(core::RunContext& Run, const std::string& VideoFileName, std::vector<std::string>& FileNames);

}  // namespace tess::streams
