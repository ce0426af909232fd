#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/files.h"
#include "core/timecode.h"

namespace tess::core {
struct RunContext;
class TFileBitStream;
}  // namespace tess::core

// AC-3 (ATSC A/52) and E-AC-3 (A/52 Annex E) elementary-stream files as the
// demultiplexer writes them: sync frames one after another, no container.
namespace tess::streams {

struct TFrameTally;  // streams/audio_cut.h

constexpr int32_t kAc3SamplesPerFrame = 1536;
constexpr int32_t kAc3SamplesPerBlock = 256;
// bsid of E-AC-3 frames; anything above 10 is read as E-AC-3.
constexpr uint8_t kEac3Bsid = 16;

// The fields of a sync frame's first bytes that frame walking needs, AC-3 and
// E-AC-3 alike. Valid when the sync word stands first and the frame has a size.
struct TAc3FrameHeader {
  static constexpr size_t kBytes = 7;

  bool Valid = false;
  bool IsEac3 = false;
  uint8_t Fscod = 0;
  uint8_t FrameSizeCode = 0;  // frmsizecod (AC-3)
  uint8_t Bsid = 0;
  uint8_t StreamType = 0;   // strmtyp (E-AC-3)
  uint8_t SubstreamId = 0;  // substreamid (E-AC-3)
  int32_t Blocks = 6;       // audio blocks of 256 samples
  int64_t FrameSize = 0;    // bytes

  // Decodes the first kBytes of Bytes; false (Valid clear) when fewer are given.
  bool Decode(std::span<const uint8_t> Bytes);
  // Starts a new time span (not a dependent or further substream).
  bool StartsUnit() const { return !IsEac3 || (StreamType != 1 && SubstreamId == 0); }
};

// Tables.
int32_t Ac3SampleRate(int32_t Code);                              // by fscod: 48000, 44100, 32000, 48000; else 0
int32_t Ac3BitRate(int32_t Index);                                // bits per second by frmsizecod >> 1; 0 beyond
int32_t Ac3FrameSizeBytes(int32_t Fscod, int32_t FrameSizeCode);  // 0 for fscod 3 or a code beyond 37
int32_t Ac3FullBandwidthChannels(int32_t Acmod);
const char* Ac3ChannelModeName(int32_t Acmod);  // "1 : 1" ... "3 : 2"; "" beyond
const char* Ac3ServiceName(int32_t Bsmod);      // "complete main" ... "voice over"; "" beyond
const char* Eac3ChannelModeText(int32_t Acmod);
const char* Eac3ServiceText(int32_t Bsmod, int32_t Acmod);

// Single values of a file's first frame; 0 when nothing could be read. The sync
// word is not checked (callers use them on files known to be AC-3). The readers
// of a file report a read error in Run, when one is given.
int32_t Ac3ReadSampleRateCode(const std::string& FileName, core::RunContext* Run = nullptr);
int32_t Ac3ReadChannelMode(const std::string& FileName, core::RunContext* Run = nullptr);
uint8_t Ac3LfeOnFromHeader(std::span<const uint8_t> Header);
uint8_t Ac3ReadLfeOn(const std::string& FileName, core::RunContext* Run = nullptr);
int32_t Ac3ReadBsMode(const std::string& FileName, core::RunContext* Run = nullptr);
int32_t Ac3ReadBitRateCode(const std::string& FileName, core::RunContext* Run = nullptr);
// The first frame's size in bytes (E-AC-3 by its own frame size field); 0 when
// the file does not begin with a sync frame.
int32_t Ac3ReadFrameSize(const std::string& FileName, core::RunContext* Run = nullptr);
// Samples per channel of the first frame: 1536 for AC-3, 256 per block for
// E-AC-3 (which may carry 1, 2, 3 or 6 blocks); 1536 when the file does not
// begin with a sync frame.
int32_t Ac3ReadSamplesPerFrame(const std::string& FileName, core::RunContext* Run = nullptr);

// Samples per channel in the file. Quick: the file's size over the first
// frame's size; otherwise the complete frames walked.
int64_t Ac3CountFrames(core::RunContext& Run, const std::string& FileName, bool Quick);
// The complete frames walked and their samples per channel: a frame of a
// dependent substream (the extra channels of 7.1) plays in the same time as the
// frame before it and is not counted. E-AC-3 frames may differ in their blocks.
TFrameTally Ac3CountFrameTally(core::RunContext& Run, const std::string& FileName);
// Whole frames that a time-code duration covers (sample rate by fscod Code),
// frames of SamplesPerFrame samples.
int64_t Ac3TimeCodeToFrames(int32_t Code, core::TTimeCode TimeCode, double FrameRate,
                            int32_t SamplesPerFrame = kAc3SamplesPerFrame);
core::TTimeCode Ac3SamplesToTimeCode(int32_t Code, double FrameRate, int64_t Samples);
core::TTimeCode Ac3SamplesToTimeCodeMode(int32_t Code, int32_t Mode, double FrameRate, int64_t Samples);

// Copies FrameCount frames from frame FirstFrame into a new file Dest (-1, or
// more than there are, copies to the end). Cuts fall where the frames begin.
// Progress gets ProgressBase + bytes copied; the Stop flag of Run ends the cut
// without leaving a Dest. False (with a log line) when Dest was not made.
bool Ac3CutByFrames(core::RunContext& Run, const std::string& Source, const std::string& Dest, int64_t FirstFrame,
                    int64_t ProgressBase, const core::TCopyProgress& Progress, int64_t FrameCount);
// True when the file did not begin with a sync word and was rewritten from the
// first one in its first 2048 bytes. The file is replaced only by a complete copy.
bool Ac3TrimToFirstSync(core::RunContext& Run, const std::string& FileName);

// The bit-stream information fields of an E-AC-3 sync frame, as read.
struct TEc3BitStreamInfo {
  uint8_t strmtyp = 0;
  uint8_t substreamid = 0;
  uint32_t frmsiz = 0;  // words per frame minus 1
  uint8_t fscod = 0, fscod2 = 0, numblkscod = 0;
  uint8_t acmod = 0, lfeon = 0, bsid = 0, dialnorm = 0;
  uint8_t compre = 0, compr = 0, dialnorm2 = 0, compr2e = 0, compr2 = 0;
  uint8_t chanmape = 0;
  uint16_t chanmap = 0;
  uint8_t mixmdate = 0, dmixmod = 0, ltrtcmixlev = 0, lorocmixlev = 0, ltrtsurmixlev = 0, lorosurmixlev = 0,
          lfemixlevcode = 0, lfemixlevcod = 0;
  uint8_t pgmscle = 0, pgmscl = 0, pgmscl2e = 0, pgmscl2 = 0, extpgmscle = 0, extpgmscl = 0, mixdef = 0, mixdeflen = 0;
  uint8_t mixdata[65] = {};  // mixdef 1 and 2: the value's low 8 bits; mixdef 3: mixdeflen + 2 bytes
  uint8_t paninfoe = 0;
  uint16_t paninfo = 0;  // panmean and paninfo as one 14-bit value
  uint8_t paninfo2e = 0;
  uint16_t paninfo2 = 0;
  uint8_t frmmixcfginfoe = 0;
  uint8_t blkmixcfginfo[6] = {};
  uint8_t blkmixcfginfoe = 0;  // the flag of the last block read
  uint8_t infomdate = 0, bsmod = 0;
};

// Reads the bit-stream information of an E-AC-3 file's first sync frame and
// derives frame size, rate, blocks, bit rate, samples and two texts.
class TEC3Stream : public TEc3BitStreamInfo {
 public:
  explicit TEC3Stream(std::string FileName);
  ~TEC3Stream();
  TEC3Stream(const TEC3Stream&) = delete;
  TEC3Stream& operator=(const TEC3Stream&) = delete;

  // False when the file does not begin with the sync word. Raises
  // core::EParserFileException when the file cannot be opened. With Run, a
  // read error is noted there.
  bool Open(core::RunContext* Run = nullptr);
  void ParseHeader();
  void Describe();

  std::string FileName;
  std::unique_ptr<core::TFileBitStream> BitStream;  // only while Open runs
  uint8_t SampleRateCode = 0;                       // fscod, or fscod2 when fscod is 3

  int32_t FrameSize = 0;  // bytes
  double SampleRate = 0;
  int32_t Blocks = 0;
  bool IsEAC3 = false;
  std::string ChannelModeText;
  std::string ServiceText;
  int32_t BitRate = 0;  // bits per second
  int32_t LfeOn = 0;
  int64_t Samples = 0;  // per channel, in the whole file
};

// The file exists and its first frame is E-AC-3.
bool IsEC3File(const std::string& FileName);

}  // namespace tess::streams
