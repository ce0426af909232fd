#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/timecode.h"
#include "streams/audio_cut.h"

namespace tess::core {
struct RunContext;
}

// MPEG-1, MPEG-2 and MPEG-2.5 audio files (Layers I, II and III), walked frame
// by frame: a leading ID3v2 tag and a Xing or Info frame are passed over.
namespace tess::streams {

enum TMpaVersion : uint8_t { kMpeg1 = 0, kMpeg2 = 1, kMpeg25 = 2, kMpegReserved = 3 };
enum TMpaLayer : uint8_t { kLayer1 = 0, kLayer2 = 1, kLayer3 = 2, kLayerReserved = 3 };
enum TMpaChannelMode : uint8_t { kStereo = 0, kJointStereo = 1, kDual = 2, kMono = 3 };

// One decoded frame header.
class TMPAFrame {
 public:
  static constexpr uint16_t kNoBitRate = 65535;  // bit-rate index 15, or a reserved version or layer

  // Decodes a 4-byte header given in file order; returns Valid.
  bool ParseHeader(const uint8_t* Header);
  // Whether Header would decode as valid; this frame is not changed.
  bool IsValidHeader(const uint8_t* Header) const;
  int32_t SamplesPerFrame() const;
  // Frame length in bytes minus the 4 header bytes; 0 when not Valid.
  int32_t PayloadLength() const;
  int32_t GetSampleRate() const { return SampleRate; }
  // Other is Valid and has this frame's sample rate, layer and channel class.
  bool IsSameStream(const TMPAFrame& Other) const;

  uint8_t Version = 0;
  uint8_t Layer = 0;
  uint8_t ChannelMode = 0;
  uint8_t CrcProtected = 0;  // 1 when the protection bit is 0
  uint16_t BitRate = 0;      // kbit/s
  uint16_t SampleRate = 0;   // Hz
  uint8_t Valid = 0;
  uint8_t Padding = 0;
  uint8_t Private = 0;
  uint8_t Copyright = 0;
  uint8_t Original = 0;
  uint8_t Emphasis = 0;
  uint8_t RawHeader[4] = {};
};

// The header walker of the demultiplexer's MPEG audio scan.
class TMPAFrameParser : public TMPAFrame {};

// A Xing or Info frame: the header and the bytes after it.
class TMPAInfoFrame : public TMPAFrame {
 public:
  enum : uint8_t { kXing = 0, kInfo = 1 };
  uint8_t InfoKind = 0;
  std::vector<uint8_t> FrameData;
};
class TMPALameFrame : public TMPAInfoFrame {};

// A file read through the audio modules' read-ahead buffer, with a position
// that seeks and reads move.
class TStdIOCallback {
 public:
  // Opens FileName for reading (a regular file only).
  explicit TStdIOCallback(const std::string& FileName);
  TStdIOCallback(const TStdIOCallback&) = delete;
  TStdIOCallback& operator=(const TStdIOCallback&) = delete;

  bool IsOpen() const { return File_.IsOpen(); }
  // Why the file is not open, as the end of a line.
  const std::string& WhyNotOpened() const { return File_.WhyNotOpened(); }
  int64_t Size() const { return File_.Size(); }
  void Close();
  // Up to Count bytes; the number read.
  size_t ReadBytes(void* Buffer, size_t Count);
  // Raises std::runtime_error "Can not tell the current file pointer position."
  // when the position is not known.
  int64_t Tell() const;
  // Origin 0: from the start, 1: from the current position. Raises
  // std::runtime_error "Failed to seek file." for a position before the start.
  void SeekTo(int Origin, int64_t Offset);
  // One byte, the fast way; false at the end of the file.
  bool ReadByte(uint8_t& Byte) {
    const int64_t at = Position_ - WindowStart_;
    if (at >= 0 && at < static_cast<int64_t>(Window_.size())) {
      Byte = Window_[static_cast<size_t>(at)];
      ++Position_;
      return true;
    }
    return ReadBytes(&Byte, 1) == 1;
  }

 private:
  TAudioReader File_;
  int64_t Position_ = 0;
  std::span<const uint8_t> Window_;  // what File_ holds from WindowStart_ on
  int64_t WindowStart_ = 0;
};

// Walks an MPEG audio file frame by frame and counts the frames of its stream.
class TMPAFile : public TStdIOCallback {
 public:
  explicit TMPAFile(const std::string& FileName);

  // Positions the file after a leading ID3v2 tag, or at 0; false for a file of
  // fewer than 3 bytes.
  bool SkipID3Tag();
  // Slides HeaderWindow one byte at a time until it holds a sync word.
  bool FindNextSync();
  // Decodes HeaderWindow into Frame, sliding on until a valid header is found.
  bool ParseAtSync();
  void SkipFrameBody();
  // Recognises a Xing or Info frame at the first sync word and stays behind it;
  // otherwise goes back to where it started. The first header's fields land in
  // InfoFrame either way.
  bool ReadInfoFrame();
  // Counts Frame when it is valid and of the first counted frame's stream.
  bool AccumulateFrame();
  void ComputeAverageBitRate();

  TMPAFrame Frame;
  TMPAFrame FirstFrame;
  TMPALameFrame InfoFrame;
  uint8_t HeaderWindow[4] = {};
  uint8_t IsFirst = 1;
  int32_t AverageBitRate = 0;  // bits per second
  int64_t FrameCount = 0;
  int64_t BitRateSum = 0;  // kbit/s

 private:
  void ClearWindow() { HeaderWindow[0] = HeaderWindow[1] = HeaderWindow[2] = HeaderWindow[3] = 0; }
};

struct MpaFileInfoRecord {
  uint8_t Version = 0;
  uint8_t Layer = 0;
  int32_t BitRate = 0;  // kbit/s, first frame
  int32_t SampleRate = 0;
  int64_t Samples = 0;  // of all counted frames
  int64_t Frames = 0;   // sync words found
  uint8_t ChannelMode = 0;
  uint8_t Emphasis = 0;
  uint8_t CrcProtected = 0;
  uint8_t Private = 0;
  uint8_t Copyright = 0;
  uint8_t Original = 0;
  uint8_t Protection = 0;  // always 0
};

// Fills Info from the file (Full false: the first frame only): the header
// fields of its first audio frame, the frames found and the samples of those of
// its stream. A file without an audio frame gives an all-zero record. False,
// with the record all zero, when the walk failed: a read error is logged and
// noted in Run.
bool MpaFileInfo(core::RunContext& Run, const std::string& FileName, bool Full, MpaFileInfoRecord& Info);
int64_t MpaTimeCodeToSamples(core::TTimeCode TimeCode, const MpaFileInfoRecord& Info, double FrameRate);

struct TMpaCutResult {
  bool Written = false;  // Dest was made
  int64_t Samples = 0;   // from StartSample to where the cut really ended
};
// Cuts about SampleCount samples (-1: to the end) from StartSample into Dest,
// on frame boundaries: the cut begins with the first frame that starts at or
// after StartSample and ends at the frame boundary nearest to StartSample +
// SampleCount. The result's Samples is where the cut ended, so the next cut
// starts right there. Progress gets ProgressBase + bytes copied; the Stop flag
// of Run ends the cut without leaving a Dest.
TMpaCutResult MpaCutBySamples(core::RunContext& Run, const std::string& Source, const std::string& Dest,
                              int64_t StartSample, int64_t ProgressBase, const core::TCopyProgress& Progress,
                              int64_t SampleCount);

int32_t MpaChannelCount(int32_t ChannelMode);
const char* MpaVersionText(int32_t Version);
const char* MpaLayerText(int32_t Layer);
const char* MpaChannelModeText(int32_t ChannelMode);
const char* MpaEmphasisText(int32_t Emphasis);

}  // namespace tess::streams
