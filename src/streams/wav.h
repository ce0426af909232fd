#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "core/files.h"
#include "core/timecode.h"

namespace tess::core {
struct RunContext;
}

// LPCM outputs turned into WAV files, and the WAV routines the rest of the
// program uses on them.
namespace tess::streams {

constexpr int64_t kWavHeaderSize = 44;

// The numbers of a WAV file's header as read from the file; chunks other than
// "fmt " and "data" are passed over. Ids hold the four characters in file order
// (the first one in the low byte).
struct WavHeader {
  uint32_t ChunkId = 0;  // "RIFF"
  uint32_t ChunkSize = 0;
  uint32_t Format = 0;      // "WAVE"
  uint32_t SubchunkId = 0;  // "fmt "
  uint32_t SubchunkSize = 0;
  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint32_t BytesPerSecond = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  uint32_t DataId = 0;  // "data"
  uint32_t DataSize = 0;
  int64_t FmtOffset = 0;   // where the "fmt " chunk's header stands; 0 when none was read
  int64_t DataOffset = 0;  // where the samples start; 0 when no data chunk was found
};

// The four characters of a chunk id as WavHeader holds them.
constexpr uint32_t WavId(const char (&Text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(Text[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(Text[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(Text[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(Text[3])) << 24;
}

// Writes a WAV file named like FileName with its last three characters
// replaced by "wav": a 44-byte header and the disc's big-endian samples (24-bit
// ones split into high/middle and low parts, and so 20-bit ones) reordered to
// little-endian. The ".pcm" file stays; the WAV appears only when complete.
// False, with a log line, when no WAV was made: the source is missing, its
// layout is one the reordering does not know (no WAV of noise is written), or
// the data would not fit a WAV's 32-bit sizes.
bool ConvertLpcmToWav(core::RunContext& Run, const std::string& FileName, int32_t BitsPerSample, int32_t Channels,
                      int32_t SampleRate);
// Fills Header from a RIFF/WAVE file, finding the data chunk wherever it
// stands; true when it was found. A file that is no WAVE leaves Header zero.
// A read error is reported in Run, when one is given.
bool WavFindDataChunk(const std::string& FileName, WavHeader& Header, core::RunContext* Run = nullptr);
// Makes the data size and the RIFF size agree with the file's size (the data
// running to the end); true when the header was rewritten.
bool WavFixHeader(core::RunContext& Run, const std::string& FileName);
int64_t WavTimeCodeToSamples(core::TTimeCode TimeCode, int32_t SampleRate, double FrameRate);
// Copies the header and SampleCount samples (-1: to the end) from StartSample
// of Source into a new file Dest with sizes that agree. Progress gets
// ProgressBase + bytes copied; the Stop flag of Run ends the cut without
// leaving a Dest. False (with a log line) when Dest was not made.
bool WavCutBySamples(core::RunContext& Run, const std::string& Source, const std::string& Dest, int64_t StartSample,
                     int64_t ProgressBase, const core::TCopyProgress& Progress, int64_t SampleCount);
// Appends Source's bytes to the existing file Dest: a ".wav" source only with
// its samples, unless HeaderOnlyWhenEmpty is set and Dest is empty (then
// whole). A ".wav" Dest gets sizes that agree afterwards. OnBlock (when set)
// runs before every block. A failed or stopped append leaves Dest as it was.
bool AppendFileData(core::RunContext& Run, const std::string& Source, const std::string& Dest, bool HeaderOnlyWhenEmpty,
                    const std::function<void()>& OnBlock);

}  // namespace tess::streams
