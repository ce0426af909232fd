#include "streams/ac3.h"

#include <array>
#include <utility>

#include "core/bit_stream.h"
#include "core/messages.h"
#include "core/run_context.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "streams/audio_cut.h"

namespace tess::streams {

namespace {

constexpr uint8_t kSync0 = 0x0B;
constexpr uint8_t kSync1 = 0x77;
constexpr int32_t kFrameSizeCodes = 38;
// The highest bsid that plain AC-3 decoders accept; above it lies E-AC-3.
constexpr uint8_t kMaxAc3Bsid = 10;
constexpr int32_t kEc3BufferSize = 0x7FFF8;

constexpr std::array<int32_t, 19> kBitRates = {32000,  40000,  48000,  56000,  64000,  80000,  96000,
                                               112000, 128000, 160000, 192000, 224000, 256000, 320000,
                                               384000, 448000, 512000, 576000, 640000};
constexpr std::array<int32_t, 8> kFullBandwidthChannels = {2, 1, 2, 3, 3, 4, 4, 5};
constexpr std::array<const char*, 8> kChannelModeNames = {"1 : 1", "1 : 0", "2 : 0", "3 : 0",
                                                          "2 : 1", "3 : 1", "2 : 2", "3 : 2"};
constexpr std::array<const char*, 8> kServiceNames = {"complete main",    "music and effects", "visually impaired",
                                                      "hearing impaired", "dialogue",          "commentary",
                                                      "emergency",        "voice over"};
constexpr std::array<const char*, 8> kEac3ChannelModeTexts = {
    "1+1 - Ch1, Ch2", "1/0 - C",          "2/0 - L, R",         "3/0 - L, C, R",
    "2/1 - L, R, S",  "3/1 - L, C, R, S", "2/2 - L, R, SL, SR", "3/2 - L, C, R, SL, SR"};
constexpr std::array<int32_t, 4> kBlocksByCode = {1, 2, 3, 6};

TFrameProbe ProbeAc3(const uint8_t* Bytes, size_t Count) {
  TAc3FrameHeader h;
  if (!h.Decode({Bytes, Count})) return {};
  return {h.FrameSize, h.StartsUnit(), h.Blocks * kAc3SamplesPerBlock};
}

// The first bytes of a file, zero where the file is shorter; Got the number read.
template <size_t N>
std::array<uint8_t, N> Head(const std::string& FileName, size_t& Got, core::RunContext* Run) {
  std::array<uint8_t, N> bytes{};
  Got = ReadFileHead(FileName, bytes.data(), N, Run);
  return bytes;
}

}  // namespace

bool TAc3FrameHeader::Decode(std::span<const uint8_t> Bytes) {
  *this = {};
  if (Bytes.size() < kBytes || Bytes[0] != kSync0 || Bytes[1] != kSync1) return false;
  Bsid = Bytes[5] >> 3;
  Fscod = Bytes[4] >> 6;
  if (Bsid > kMaxAc3Bsid) {
    if (Bsid > kEac3Bsid) return false;
    IsEac3 = true;
    StreamType = Bytes[2] >> 6;
    SubstreamId = (Bytes[2] >> 3) & 7;
    FrameSize = ((((Bytes[2] & 7) << 8) | Bytes[3]) + 1) * 2;
    if (StreamType == 3) return false;
    // fscod 3 carries a reduced rate in the next two bits and always six blocks.
    const uint8_t next = (Bytes[4] >> 4) & 3;
    if (Fscod == 3 && next == 3) return false;
    Blocks = Fscod == 3 ? 6 : kBlocksByCode[next];
  } else {
    FrameSizeCode = Bytes[4] & 0x3F;
    FrameSize = Ac3FrameSizeBytes(Fscod, FrameSizeCode);
  }
  Valid = FrameSize >= static_cast<int64_t>(kBytes);
  return Valid;
}

int32_t Ac3SampleRate(int32_t Code) {
  static constexpr std::array<int32_t, 4> rates = {48000, 44100, 32000, 48000};
  return TableAt(rates, Code, 0);
}

int32_t Ac3BitRate(int32_t Index) { return TableAt(kBitRates, Index, 0); }

int32_t Ac3FrameSizeBytes(int32_t Fscod, int32_t FrameSizeCode) {
  if (Fscod < 0 || Fscod > 2 || FrameSizeCode < 0 || FrameSizeCode >= kFrameSizeCodes) return 0;
  // Words per sync frame: 1536 samples at the code's bit rate, in 16-bit words;
  // at 44.1 kHz the odd codes carry the one padding word.
  static constexpr std::array<int32_t, 3> rates = {48000, 44100, 32000};
  const int32_t kbps = kBitRates[static_cast<size_t>(FrameSizeCode >> 1)] / 1000;
  int32_t words = kbps * 96000 / rates[static_cast<size_t>(Fscod)];
  if (Fscod == 1) words += FrameSizeCode & 1;
  return words * 2;
}

int32_t Ac3FullBandwidthChannels(int32_t Acmod) { return TableAt(kFullBandwidthChannels, Acmod, 0); }
const char* Ac3ChannelModeName(int32_t Acmod) { return TableAt(kChannelModeNames, Acmod, ""); }
const char* Ac3ServiceName(int32_t Bsmod) { return TableAt(kServiceNames, Bsmod, ""); }
const char* Eac3ChannelModeText(int32_t Acmod) { return TableAt(kEac3ChannelModeTexts, Acmod, ""); }
const char* Eac3ServiceText(int32_t Bsmod, int32_t Acmod) {
  if (Bsmod == 7 && Acmod != 1) return "karaoke";
  return Ac3ServiceName(Bsmod);
}

int32_t Ac3ReadSampleRateCode(const std::string& FileName, core::RunContext* Run) {
  size_t got = 0;
  const auto h = Head<7>(FileName, got, Run);
  return got ? h[4] >> 6 : 0;
}

int32_t Ac3ReadChannelMode(const std::string& FileName, core::RunContext* Run) {
  size_t got = 0;
  const auto h = Head<10>(FileName, got, Run);
  return got ? h[6] >> 5 : 0;
}

uint8_t Ac3LfeOnFromHeader(std::span<const uint8_t> Header) {
  if (Header.size() < 8) return 0;
  const int acmod = Header[6] >> 5;
  // cmixlev, surmixlev and dsurmod stand between acmod and lfeon when present.
  int optional = 0;
  if ((acmod & 1) && acmod != 1) optional += 2;
  if (acmod & 4) optional += 2;
  if (acmod == 2) optional += 2;
  const uint16_t bits = static_cast<uint16_t>((Header[6] << 8) | Header[7]);
  return static_cast<uint8_t>((bits >> (12 - optional)) & 1);
}

uint8_t Ac3ReadLfeOn(const std::string& FileName, core::RunContext* Run) {
  size_t got = 0;
  const auto h = Head<10>(FileName, got, Run);
  return got ? Ac3LfeOnFromHeader(h) : 0;
}

int32_t Ac3ReadBsMode(const std::string& FileName, core::RunContext* Run) {
  size_t got = 0;
  const auto h = Head<10>(FileName, got, Run);
  return got ? h[5] & 7 : 0;
}

int32_t Ac3ReadBitRateCode(const std::string& FileName, core::RunContext* Run) {
  size_t got = 0;
  const auto h = Head<10>(FileName, got, Run);
  const int32_t index = (h[4] & 0x3F) >> 1;
  return got && Ac3BitRate(index) ? index : 0;
}

int32_t Ac3ReadFrameSize(const std::string& FileName, core::RunContext* Run) {
  size_t got = 0;
  const auto h = Head<TAc3FrameHeader::kBytes>(FileName, got, Run);
  TAc3FrameHeader header;
  return got == h.size() && header.Decode(h) ? static_cast<int32_t>(header.FrameSize) : 0;
}

int32_t Ac3ReadSamplesPerFrame(const std::string& FileName, core::RunContext* Run) {
  size_t got = 0;
  const auto h = Head<TAc3FrameHeader::kBytes>(FileName, got, Run);
  TAc3FrameHeader header;
  return got == h.size() && header.Decode(h) ? header.Blocks * kAc3SamplesPerBlock : kAc3SamplesPerFrame;
}

TFrameTally Ac3CountFrameTally(core::RunContext& Run, const std::string& FileName) {
  TAudioReader file;
  if (!file.Open(FileName)) return {};
  return CountFrameUnits(Run, file, &ProbeAc3, TAc3FrameHeader::kBytes, kSync0);
}

int64_t Ac3CountFrames(core::RunContext& Run, const std::string& FileName, bool Quick) {
  if (!Quick) return Ac3CountFrameTally(Run, FileName).Samples;
  TAudioReader file;
  if (!file.Open(FileName, &Run)) return 0;
  TAc3FrameHeader header;
  if (!header.Decode(file.Peek(0, TAc3FrameHeader::kBytes))) return 0;
  return file.Size() / header.FrameSize * header.Blocks * kAc3SamplesPerBlock;
}

int64_t Ac3TimeCodeToFrames(int32_t Code, core::TTimeCode TimeCode, double FrameRate, int32_t SamplesPerFrame) {
  if (SamplesPerFrame <= 0) return 0;
  const int64_t samples = TimeCodeToAudioSamples(TimeCode, Ac3SampleRate(Code), FrameRate);
  return platform::RoundEven(static_cast<double>(samples) / SamplesPerFrame);
}

core::TTimeCode Ac3SamplesToTimeCode(int32_t Code, double FrameRate, int64_t Samples) {
  return Ac3SamplesToTimeCodeMode(Code, 0, FrameRate, Samples);
}

core::TTimeCode Ac3SamplesToTimeCodeMode(int32_t Code, int32_t Mode, double FrameRate, int64_t Samples) {
  return core::SamplesToTimeCode(Mode != 0, FrameRate, Ac3SampleRate(Code), Samples);
}

bool Ac3CutByFrames(core::RunContext& Run, const std::string& Source, const std::string& Dest, int64_t FirstFrame,
                    int64_t ProgressBase, const core::TCopyProgress& Progress, int64_t FrameCount) {
  return CutFramesToFile(Run, Source, Dest, &ProbeAc3, TAc3FrameHeader::kBytes, kSync0, FirstFrame, FrameCount, ProgressBase,
                         Progress);
}

bool Ac3TrimToFirstSync(core::RunContext& Run, const std::string& FileName) {
  constexpr size_t kSearched = 2048;
  const std::string path = platform::ResolveInputPath(FileName);
  TAudioReader file;
  if (!file.Open(path)) return false;
  const auto head = file.Peek(0, kSearched);
  if (head.size() < kSearched || (head[0] == kSync0 && head[1] == kSync1)) return false;
  int64_t first = 0;
  for (size_t p = 1; p + 1 < kSearched && first == 0; ++p)
    if (head[p] == kSync0 && head[p + 1] == kSync1) first = static_cast<int64_t>(p);
  const int64_t size = file.Size();
  file.Close();
  if (first == 0) return false;
  // The copy replaces the file in one rename, and only once it is complete.
  return CopyRangeToFile(Run, path, path, first, size - first, {}, 0, nullptr);
}

TEC3Stream::TEC3Stream(std::string FileName) : FileName(std::move(FileName)) {}
TEC3Stream::~TEC3Stream() = default;

bool TEC3Stream::Open(core::RunContext* Run) {
  // A file too short for the sync word has none; the bit reader would raise.
  if (!platform::ExistingRegularFile(FileName).empty() && core::GetFileSizeByName(FileName) < 2) return false;
  BitStream = core::TFileBitStream::Create(FileName, kEc3BufferSize, Run);
  const bool synced = BitStream->ReadBits(16) == 0x0B77;
  if (synced) {
    ParseHeader();
    Describe();
  }
  BitStream->Close();
  BitStream.reset();
  return synced;
}

void TEC3Stream::ParseHeader() {
  core::TFileBitStream& bs = *BitStream;
  auto read = [&bs](int n) { return static_cast<uint8_t>(bs.ReadBits(n)); };
  static_cast<TEc3BitStreamInfo&>(*this) = {};
  strmtyp = read(2);
  substreamid = read(3);
  frmsiz = bs.ReadBits(11);
  fscod = read(2);
  if (fscod == 3) {
    fscod2 = read(2);
    numblkscod = 3;
  } else {
    numblkscod = read(2);
  }
  acmod = read(3);
  lfeon = read(1);
  bsid = read(5);
  dialnorm = read(5);
  compre = read(1);
  if (compre) compr = read(8);
  if (acmod == 0) {
    dialnorm2 = read(5);
    compr2e = read(1);
    if (compr2e) compr2 = read(8);
  }
  if (strmtyp == 1) {
    chanmape = read(1);
    if (chanmape) chanmap = static_cast<uint16_t>(bs.ReadBits(16));
  }
  mixmdate = read(1);
  if (mixmdate) {
    if (acmod > 2) dmixmod = read(2);
    if ((acmod & 1) && acmod >= 3) {
      ltrtcmixlev = read(3);
      lorocmixlev = read(3);
    }
    if (acmod & 4) {
      ltrtsurmixlev = read(3);
      lorosurmixlev = read(3);
    }
    if (lfeon) {
      lfemixlevcode = read(1);
      if (lfemixlevcode) lfemixlevcod = read(5);
    }
    if (strmtyp == 0) {
      pgmscle = read(1);
      if (pgmscle) pgmscl = read(6);
      if (acmod == 0) {
        pgmscl2e = read(1);
        if (pgmscl2e) pgmscl2 = read(6);
      }
      extpgmscle = read(1);
      if (extpgmscle) extpgmscl = read(6);
      mixdef = read(2);
      if (mixdef == 1) {
        mixdata[0] = read(5);
      } else if (mixdef == 2) {
        mixdata[0] = static_cast<uint8_t>(bs.ReadBits(12));
      } else if (mixdef == 3) {
        mixdeflen = read(5);
        for (int i = 0; i < mixdeflen + 2; ++i) mixdata[i] = read(8);
      }
      if (acmod < 2) {
        paninfoe = read(1);
        if (paninfoe) paninfo = static_cast<uint16_t>(bs.ReadBits(14));
        if (acmod == 0) {
          paninfo2e = read(1);
          if (paninfo2e) paninfo2 = static_cast<uint16_t>(bs.ReadBits(14));
        }
      }
      frmmixcfginfoe = read(1);
      if (frmmixcfginfoe) {
        if (numblkscod == 0) {
          blkmixcfginfo[0] = read(5);
        } else {
          for (int blk = 0; blk < kBlocksByCode[numblkscod]; ++blk) {
            blkmixcfginfoe = read(1);
            if (blkmixcfginfoe) blkmixcfginfo[blk] = read(5);
          }
        }
      }
    }
  }
  infomdate = read(1);
  if (infomdate) bsmod = read(3);
}

void TEC3Stream::Describe() {
  FrameSize = static_cast<int32_t>((frmsiz + 1) * 2);
  SampleRateCode = fscod == 3 ? fscod2 : fscod;
  static constexpr std::array<double, 3> rates = {48000.0, 44100.0, 32000.0};
  if (SampleRateCode < rates.size()) SampleRate = rates[SampleRateCode];
  if (fscod == 3) SampleRate /= 2;
  Blocks = kBlocksByCode[numblkscod & 3];
  IsEAC3 = bsid == kEac3Bsid;
  ChannelModeText = Eac3ChannelModeText(acmod);
  ServiceText = Eac3ServiceText(bsmod, acmod);
  LfeOn = lfeon;
  // Bits per frame times frames per second at the stream's own rate.
  BitRate = static_cast<int32_t>(static_cast<int64_t>(FrameSize) * 8 * static_cast<int64_t>(SampleRate) /
                                 (Blocks * kAc3SamplesPerBlock));
  const int64_t size = BitStream ? BitStream->FileSize() : 0;
  Samples = size / FrameSize * Blocks * kAc3SamplesPerBlock;
}

bool IsEC3File(const std::string& FileName) {
  if (!platform::FindPathCaseInsensitive(FileName)) return false;
  try {
    TEC3Stream stream(platform::ResolveInputPath(FileName));
    return stream.Open() && stream.IsEAC3;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tess::streams
