#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/files.h"
#include "core/timecode.h"

namespace tess::core {
struct RunContext;
}

// DTS core frames (ETSI TS 102 114) as the demultiplexer writes them: frames
// one after another, no container.
namespace tess::streams {

constexpr uint32_t kDtsSync = 0x7FFE8001;
constexpr int32_t kDtsSamplesPerFrame = 512;

// The core frame header: the sync word and the 11 bytes after it (FTYPE up to
// the dialog normalisation parameter, with the header CRC only when CPF is 1).
struct TDtsCoreHeader {
  static constexpr size_t kBytes = 15;
  static constexpr size_t kProbeBytes = 10;  // up to the bit-rate code: enough to size a frame

  uint32_t Sync = 0;
  uint8_t FrameType = 0;     // FTYPE
  uint8_t Short = 0;         // SHORT, deficit sample count
  uint8_t CrcPresent = 0;    // CPF
  uint8_t BlocksMinus1 = 0;  // NBLKS
  uint16_t SizeMinus1 = 0;   // FSIZE
  uint8_t Amode = 0;         // channel arrangement
  uint8_t Sfreq = 0;         // sample-frequency code
  uint8_t Rate = 0;          // bit-rate code
  uint8_t Lff = 0;           // low frequency effects field (0: no LFE channel)
  uint8_t PcmResolution = 0;
  uint8_t DialNorm = 0;

  // Decodes whatever of the header Bytes holds (missing bits read as 0).
  void Decode(std::span<const uint8_t> Bytes);
  bool HasSync() const { return Sync == kDtsSync; }
  int64_t FrameSize() const { return static_cast<int64_t>(SizeMinus1) + 1; }
  // A header that frame walking can trust: the sync, a legal size and block
  // count, and a known sample rate.
  bool IsPlausible() const;
};

// What DtsReadHeader fills; all zero when the file is not read.
struct DtsHeader {
  uint32_t Sync = 0;
  uint8_t FrameType = 0;
  uint8_t DeficitSamples = 0;  // SHORT + 1, kept to five bits
  uint8_t Blocks = 0;          // NBLKS + 1
  uint32_t FrameSize = 0;      // FSIZE + 1, bytes
  uint8_t ChannelArrangement = 0;
  uint8_t SampleRateCode = 0;  // SFREQ - 1 (0 stays 0)
  uint8_t RateCode = 0;        // RATE; 26 when no sync word follows the first frame
};

struct DtsInfo {
  int32_t RateCode = 0;
  int32_t ChannelArrangement = 0;
  uint8_t LfeOn = 0;
  int32_t SampleRateCode = 0;
};

// Tables; codes beyond them give 0 or "".
int32_t DtsSampleRateOf(int32_t Sfreq);
int32_t DtsBitRateOf(int32_t RateCode);
int32_t DtsChannelCount(int32_t Amode);
const char* DtsChannelArrangementName(int32_t Amode);

// Reads the first frame's header when the name ends in ".dts" (any case) or Force is set.
// The readers of a file report a read error in Run, when one is given.
void DtsReadHeader(const std::string& FileName, bool Force, DtsHeader& Header, core::RunContext* Run = nullptr);
// Complete frames in the file, stepped as DtsCutByFrames steps them: from core
// frame to core frame, over the extension substream that may follow each.
int64_t DtsCountFrames(core::RunContext& Run, const std::string& FileName);
bool DtsReadLfeOn(const std::string& FileName, core::RunContext* Run = nullptr);
int32_t DtsReadSampleRate(const std::string& FileName, core::RunContext* Run = nullptr);
// The names under which other parts of the program know the two readers.
inline bool DtsReadCoreFlag(const std::string& FileName) { return DtsReadLfeOn(FileName); }
inline int32_t DtsChannelArrangement(const std::string& FileName) { return DtsReadSampleRate(FileName); }
void DtsReadInfo(const std::string& FileName, DtsInfo& Info, core::RunContext* Run = nullptr);
// Whole 512-sample frames that a time-code duration covers.
int64_t DtsTimeCodeToFrames(core::TTimeCode TimeCode, int32_t SampleRate, double FrameRate);
// Copies FrameCount frames from frame FirstFrame into a new file Dest (-1, or
// more than there are, copies to the end). Progress gets ProgressBase + bytes
// copied; the Stop flag of Run ends the cut without leaving a Dest. False
// (with a log line) when Dest was not made.
bool DtsCutByFrames(core::RunContext& Run, const std::string& Source, const std::string& Dest, int64_t FirstFrame,
                    int64_t ProgressBase, const core::TCopyProgress& Progress, int64_t FrameCount);

}  // namespace tess::streams
