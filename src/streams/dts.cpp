#include "streams/dts.h"

#include <array>

#include "core/bit_stream.h"
#include "core/byte_order.h"
#include "core/messages.h"
#include "core/run_context.h"
#include "platform/rounding.h"
#include "streams/audio_cut.h"

namespace tess::streams {

namespace {

constexpr uint8_t kSyncFirstByte = 0x7F;
constexpr uint32_t kDtsSubstreamSync = 0x64582025;
// The smallest legal frame and block count of a core frame.
constexpr int64_t kMinFrameSize = 96;
constexpr uint8_t kMinBlocksMinus1 = 5;
constexpr int32_t kSamplesPerBlock = 32;
// Set in place of the bit-rate code when the first frame is followed by
// something other than a core frame.
constexpr uint8_t kRateCodeNotCoreOnly = 26;

constexpr std::array<int32_t, 16> kSampleRates = {0,     8000,  16000,  32000, 64000, 128000, 11025, 22050,
                                                  44100, 88200, 176400, 12000, 24000, 48000,  96000, 192000};
constexpr std::array<int32_t, 30> kBitRates = {32000,   56000,   64000,   96000,   112000,  128000,  192000,  224000,
                                               256000,  320000,  384000,  448000,  512000,  576000,  640000,  754500,
                                               896000,  1024000, 1152000, 1280000, 1344000, 1408000, 1411200, 1472000,
                                               1509750, 1920000, 2048000, 3072000, 3840000, 4096000};
constexpr std::array<int32_t, 15> kChannelCounts = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 7, 8, 8};
constexpr std::array<const char*, 15> kArrangementNames = {"1-ch A",
                                                           "2-ch A, B (dual mono)",
                                                           "2-ch A, B (stereo)",
                                                           "2-ch (L + R), (L - R) (sum-difference)",
                                                           "2-ch Lt, Rt (total)",
                                                           "3-ch L, R, C",
                                                           "3-ch L, R, S",
                                                           "4-ch L, R, C, S",
                                                           "4-ch L, R, SL, SR",
                                                           "5-ch L, R, C, SL, SR",
                                                           "6-ch L, R, CL, CR, SL, SR",
                                                           "6-ch Lf, Rf, Cf, Cr, Lr, Rr",
                                                           "7-ch L, CL, C, CR, R, SL, SR",
                                                           "8-ch L, CL, CR, R, SL1, SL2, SR1, SR2",
                                                           "8-ch L, CL, C, CR, R, SL, S, SR"};

// The size of an extension substream (the DTS-HD data after a core frame),
// from its header; 0 when Bytes hold none.
int64_t SubstreamSize(const uint8_t* Bytes, size_t Count) {
  if (Count < TDtsCoreHeader::kProbeBytes || core::ReadBE32(Bytes) != kDtsSubstreamSync) return 0;
  core::TBitStream bits(Bytes + 4, static_cast<int32_t>(Count - 4));
  bits.ReadBits(8 + 2);  // user-defined bits, substream index
  const bool longHeader = bits.ReadBits(1) != 0;
  bits.ReadBits(longHeader ? 12 : 8);  // header size
  return static_cast<int64_t>(bits.ReadBits(longHeader ? 20 : 16)) + 1;
}

// Core frames start the units; an extension substream belongs to the core
// frame before it.
TFrameProbe ProbeDts(const uint8_t* Bytes, size_t Count) {
  if (const int64_t size = SubstreamSize(Bytes, Count)) return {size, false, 0};
  TDtsCoreHeader h;
  h.Decode({Bytes, Count});
  if (!h.IsPlausible()) return {};
  return {h.FrameSize(), true, (h.BlocksMinus1 + 1) * kSamplesPerBlock};
}

TDtsCoreHeader ReadFirstHeader(const std::string& FileName, core::RunContext* Run) {
  std::array<uint8_t, TDtsCoreHeader::kBytes> bytes{};
  ReadFileHead(FileName, bytes.data(), bytes.size(), Run);
  TDtsCoreHeader h;
  h.Decode(bytes);
  return h;
}

}  // namespace

void TDtsCoreHeader::Decode(std::span<const uint8_t> Bytes) {
  *this = {};
  if (Bytes.size() < 4) return;
  Sync = core::ReadBE32(Bytes.data());
  core::TBitStream bits(Bytes.data() + 4, static_cast<int32_t>(Bytes.size() - 4));
  FrameType = static_cast<uint8_t>(bits.ReadBits(1));
  Short = static_cast<uint8_t>(bits.ReadBits(5));
  CrcPresent = static_cast<uint8_t>(bits.ReadBits(1));
  BlocksMinus1 = static_cast<uint8_t>(bits.ReadBits(7));
  SizeMinus1 = static_cast<uint16_t>(bits.ReadBits(14));
  Amode = static_cast<uint8_t>(bits.ReadBits(6));
  Sfreq = static_cast<uint8_t>(bits.ReadBits(4));
  Rate = static_cast<uint8_t>(bits.ReadBits(5));
  // Downmix, dynamic range, time stamp, auxiliary data, HDCD, extension
  // descriptor (3), extended coding, sync insert: 10 bits.
  bits.ReadBits(10);
  Lff = static_cast<uint8_t>(bits.ReadBits(2));
  bits.ReadBits(1);  // predictor history
  if (CrcPresent) bits.ReadBits(16);
  bits.ReadBits(1 + 4 + 2);  // multirate interpolator, encoder revision, copy history
  PcmResolution = static_cast<uint8_t>(bits.ReadBits(3));
  bits.ReadBits(2);  // front and surround sum-difference flags
  DialNorm = static_cast<uint8_t>(bits.ReadBits(4));
}

bool TDtsCoreHeader::IsPlausible() const {
  return HasSync() && FrameSize() >= kMinFrameSize && BlocksMinus1 >= kMinBlocksMinus1 && DtsSampleRateOf(Sfreq) != 0;
}

int32_t DtsSampleRateOf(int32_t Sfreq) { return TableAt(kSampleRates, Sfreq, 0); }
int32_t DtsBitRateOf(int32_t RateCode) { return TableAt(kBitRates, RateCode, 0); }
int32_t DtsChannelCount(int32_t Amode) { return TableAt(kChannelCounts, Amode, 0); }
const char* DtsChannelArrangementName(int32_t Amode) { return TableAt(kArrangementNames, Amode, ""); }

void DtsReadHeader(const std::string& FileName, bool Force, DtsHeader& Header, core::RunContext* Run) {
  Header = {};
  if (!Force && !HasExtension(FileName, ".dts")) return;
  TAudioReader file;
  if (!file.Open(FileName, Run)) return;
  TDtsCoreHeader h;
  h.Decode(file.Peek(0, TDtsCoreHeader::kBytes));
  Header.Sync = h.Sync;
  if (!h.HasSync()) return;
  Header.FrameType = h.FrameType;
  Header.DeficitSamples = static_cast<uint8_t>((h.Short + 1) & 0x1F);
  Header.Blocks = static_cast<uint8_t>(h.BlocksMinus1 + 1);
  Header.FrameSize = static_cast<uint32_t>(h.FrameSize());
  Header.ChannelArrangement = h.Amode;
  Header.SampleRateCode = h.Sfreq > 0 ? static_cast<uint8_t>(h.Sfreq - 1) : 0;
  Header.RateCode = h.Rate;
  TDtsCoreHeader next;
  next.Decode(file.Peek(h.FrameSize(), 4));
  if (!next.HasSync()) Header.RateCode = kRateCodeNotCoreOnly;
}

int64_t DtsCountFrames(core::RunContext& Run, const std::string& FileName) {
  TAudioReader file;
  if (!file.Open(FileName)) return 0;
  return CountFrameUnits(Run, file, &ProbeDts, TDtsCoreHeader::kProbeBytes, kSyncFirstByte).Units;
}

bool DtsReadLfeOn(const std::string& FileName, core::RunContext* Run) {
  return ReadFirstHeader(FileName, Run).Lff != 0;
}

int32_t DtsReadSampleRate(const std::string& FileName, core::RunContext* Run) {
  return DtsSampleRateOf(ReadFirstHeader(FileName, Run).Sfreq);
}

void DtsReadInfo(const std::string& FileName, DtsInfo& Info, core::RunContext* Run) {
  DtsHeader header;
  DtsReadHeader(FileName, true, header, Run);
  Info.RateCode = header.RateCode;
  Info.ChannelArrangement = header.ChannelArrangement;
  Info.LfeOn = DtsReadLfeOn(FileName, Run) ? 1 : 0;
  Info.SampleRateCode = header.SampleRateCode;
}

int64_t DtsTimeCodeToFrames(core::TTimeCode TimeCode, int32_t SampleRate, double FrameRate) {
  const int64_t samples = TimeCodeToAudioSamples(TimeCode, SampleRate, FrameRate);
  return platform::RoundEven(static_cast<double>(samples) / kDtsSamplesPerFrame);
}

bool DtsCutByFrames(core::RunContext& Run, const std::string& Source, const std::string& Dest, int64_t FirstFrame,
                    int64_t ProgressBase, const core::TCopyProgress& Progress, int64_t FrameCount) {
  return CutFramesToFile(Run, Source, Dest, &ProbeDts, TDtsCoreHeader::kProbeBytes, kSyncFirstByte, FirstFrame, FrameCount, ProgressBase,
                         Progress);
}

}  // namespace tess::streams
