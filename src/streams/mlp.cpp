#include "streams/mlp.h"

#include <array>
#include <utility>

#include "streams/audio_cut.h"

namespace tess::streams {

namespace {

constexpr size_t kScanBytes = 32768;
constexpr int32_t kNotGiven = -1;

int32_t SampleRateOf(int Code) {
  switch (Code) {
    case 0: return 48000;
    case 1: return 96000;
    case 2: return 192000;
    case 8: return 44100;
    case 9: return 88200;
    case 10: return 176400;
    default: return kNotGiven;
  }
}

int32_t QuantisationOf(int Code) {
  static constexpr std::array<int32_t, 3> bits = {16, 20, 24};
  return Code >= 0 && Code < 3 ? bits[static_cast<size_t>(Code)] : kNotGiven;
}

// MLP channel assignment 0..20 -> channels without LFE, LFE present.
constexpr std::array<std::pair<int32_t, uint8_t>, 21> kMlpChannels = {
    {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {2, 1}, {3, 1}, {4, 1}, {3, 0}, {4, 0}, {5, 0}, {3, 1},
     {4, 1}, {5, 1}, {4, 0}, {5, 0}, {3, 1}, {4, 1}, {5, 1}, {4, 1}, {5, 0}, {5, 1}}};

std::pair<int32_t, uint8_t> MlpChannelsOf(int Code) {
  return Code >= 0 && static_cast<size_t>(Code) < kMlpChannels.size() ? kMlpChannels[static_cast<size_t>(Code)]
                                                                      : std::pair<int32_t, uint8_t>{kNotGiven, 0};
}

// TrueHD channel map bits: speakers per bit; bits 2 and 12 are the LFE channels.
constexpr std::array<int32_t, 13> kTrueHdSpeakers = {2, 1, 1, 2, 2, 2, 2, 1, 1, 2, 2, 1, 1};
constexpr uint32_t kTrueHdLfeBits = (1u << 2) | (1u << 12);

std::pair<int32_t, uint8_t> TrueHdChannelsOf(uint32_t Map) {
  int32_t channels = 0;
  for (size_t bit = 0; bit < kTrueHdSpeakers.size(); ++bit)
    if ((Map >> bit & 1) && !((1u << bit) & kTrueHdLfeBits)) channels += kTrueHdSpeakers[bit];
  return {channels, static_cast<uint8_t>(Map >> 2 & 1)};
}

}  // namespace

TMLPstream::TMLPstream(std::string FileName, core::RunContext* Run) : FileName(std::move(FileName)) {
  TAudioReader file;
  if (!file.Open(this->FileName, Run)) return;
  ScanMajorSyncs(file.Peek(0, kScanBytes));
}

void TMLPstream::ScanMajorSyncs(std::span<const uint8_t> Bytes) {
  if (Bytes.size() < 2) return;
  // The last byte is never looked at, as the scan always did.
  const size_t count = Bytes.size() - 1;
  auto byteAfter = [&](size_t SyncEnd, size_t k) { return SyncEnd + k < count ? Bytes[SyncEnd + k] : -1; };
  auto take = [](int32_t& Field, int32_t Value) {
    if (Value != kNotGiven) Field = Value;
  };
  uint32_t window = 0;
  for (size_t i = 0; i < count; ++i) {
    window = window << 8 | Bytes[i];
    if (window == kMlpMajorSync) {
      if (const int b = byteAfter(i, 1); b >= 0) take(BitsPerSample, QuantisationOf(b >> 4));
      if (const int b = byteAfter(i, 2); b >= 0) take(SampleRate, SampleRateOf(b >> 4));
      if (const int b = byteAfter(i, 4); b >= 0) {
        const auto [channels, lfe] = MlpChannelsOf(b & 0x1F);
        if (channels != kNotGiven) {
          Channels = channels;
          LfeOn = lfe;
        }
      }
    } else if (window == kTrueHdMajorSync) {
      // TrueHD states no sample size; its channels are those of the largest
      // presentation it describes: the 8-channel map, else the 6-channel one.
      if (const int b = byteAfter(i, 1); b >= 0) take(SampleRate, SampleRateOf(b >> 4));
      const int b2 = byteAfter(i, 2), b3 = byteAfter(i, 3), b4 = byteAfter(i, 4);
      if (b2 >= 0 && b3 >= 0 && b4 >= 0) {
        const uint32_t sixChannelMap = static_cast<uint32_t>((b2 & 0x0F) << 1 | b3 >> 7);
        const uint32_t eightChannelMap = static_cast<uint32_t>((b3 & 0x1F) << 8 | b4);
        const auto [channels, lfe] = TrueHdChannelsOf(eightChannelMap ? eightChannelMap : sixChannelMap);
        Channels = channels;
        LfeOn = lfe;
      }
    }
  }
}

}  // namespace tess::streams
