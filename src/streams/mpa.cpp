#include "streams/mpa.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "core/byte_order.h"
#include "core/messages.h"
#include "core/run_context.h"
#include "streams/audio_cut.h"

namespace tess::streams {

namespace {

// A read that failed (EIO) ends a walk as failed, never as the end of the file.
class EMpaReadError : public std::runtime_error {
 public:
  EMpaReadError() : std::runtime_error("Read error") {}
};

constexpr uint32_t kSyncMask = 0xFFE00000;  // the top 11 bits of a header
constexpr int64_t kFramesPerPump = 256;

constexpr std::array<std::array<uint16_t, 3>, 3> kSampleRates = {{
    {44100, 48000, 32000},  // MPEG-1
    {22050, 24000, 16000},  // MPEG-2
    {11025, 12000, 8000},   // MPEG-2.5
}};
constexpr uint16_t X = TMPAFrame::kNoBitRate;
constexpr std::array<std::array<uint16_t, 16>, 6> kBitRates = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, X},  // MPEG-1 Layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, X},     // MPEG-1 Layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, X},      // MPEG-1 Layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, X},     // MPEG-2/2.5 Layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, X},          // MPEG-2/2.5 Layers II, III
    {X, X, X, X, X, X, X, X, X, X, X, X, X, X, X, X},                           // reserved version or layer
}};

size_t BitRateRow(uint8_t Version, uint8_t Layer) {
  if (Version == kMpegReserved || Layer == kLayerReserved) return 5;
  if (Version == kMpeg1) return Layer;
  return Layer == kLayer1 ? 3 : 4;
}

// Where a Xing or Info tag stands in the bytes after the header: behind the
// side information, whose size the version and the channel mode give.
size_t InfoTagOffset(uint8_t Version, uint8_t ChannelMode) {
  const bool mono = ChannelMode == kMono;
  if (Version == kMpeg1) return mono ? 17 : 32;
  return mono ? 9 : 17;
}

const char* TextAt(std::initializer_list<const char*> Texts, int32_t Index) {
  return Index >= 0 && static_cast<size_t>(Index) < Texts.size() ? Texts.begin()[Index] : "Unknown";
}

}  // namespace

bool TMPAFrame::ParseHeader(const uint8_t* Header) {
  std::memcpy(RawHeader, Header, 4);
  const uint32_t h = core::ReadBE32(Header);
  static constexpr std::array<uint8_t, 4> versions = {kMpeg25, kMpegReserved, kMpeg2, kMpeg1};
  static constexpr std::array<uint8_t, 4> layers = {kLayerReserved, kLayer3, kLayer2, kLayer1};
  Version = versions[h >> 19 & 3];
  Layer = layers[h >> 17 & 3];
  CrcProtected = (h >> 16 & 1) ? 0 : 1;
  Valid = 1;
  const uint32_t rateIndex = h >> 10 & 3;
  SampleRate = Version == kMpegReserved || rateIndex == 3 ? 0 : kSampleRates[Version][rateIndex];
  if (SampleRate == 0) Valid = 0;
  BitRate = kBitRates[BitRateRow(Version, Layer)][h >> 12 & 15];
  if (BitRate == kNoBitRate) Valid = 0;
  Padding = h >> 9 & 1;
  Private = h >> 8 & 1;
  ChannelMode = h >> 6 & 3;
  Copyright = h >> 3 & 1;
  Original = h >> 2 & 1;
  Emphasis = h & 3;
  return Valid != 0;
}

bool TMPAFrame::IsValidHeader(const uint8_t* Header) const {
  TMPAFrame probe;
  return probe.ParseHeader(Header);
}

int32_t TMPAFrame::SamplesPerFrame() const {
  switch (Layer) {
    case kLayer1: return 384;
    case kLayer2: return 1152;
    case kLayer3: return Version == kMpeg1 ? 1152 : Version == kMpeg2 || Version == kMpeg25 ? 576 : 0;
    default: return 0;
  }
}

int32_t TMPAFrame::PayloadLength() const {
  if (!Valid || SampleRate == 0) return 0;
  const int32_t b = BitRate, s = SampleRate, p = Padding;
  int32_t length = 0;
  if (Layer == kLayer1)
    length = (12000 * b / s + p) * 4;
  else if (Layer == kLayer3 && Version != kMpeg1)
    length = 72000 * b / s + p;
  else
    length = 144000 * b / s + p;
  // Free-format frames (bit rate 0) have no length of their own: the search
  // for the next sync word steps over their bodies.
  return std::max(length - 4, 0);
}

bool TMPAFrame::IsSameStream(const TMPAFrame& Other) const {
  auto channelClass = [](uint8_t Mode) { return Mode == kMono ? 1 : 2; };
  return Other.Valid && Other.SampleRate == SampleRate && Other.Layer == Layer &&
         channelClass(Other.ChannelMode) == channelClass(ChannelMode);
}

TStdIOCallback::TStdIOCallback(const std::string& FileName) { File_.Open(FileName); }

void TStdIOCallback::Close() {
  File_.Close();
  Window_ = {};
}

size_t TStdIOCallback::ReadBytes(void* Buffer, size_t Count) {
  auto* out = static_cast<uint8_t*>(Buffer);
  size_t done = 0;
  while (done < Count) {
    Window_ = File_.Window(Position_);
    WindowStart_ = Position_;
    if (File_.Failed()) throw EMpaReadError();
    if (Window_.empty()) break;
    const size_t n = std::min(Count - done, Window_.size());
    std::memcpy(out + done, Window_.data(), n);
    done += n;
    Position_ += static_cast<int64_t>(n);
  }
  return done;
}

int64_t TStdIOCallback::Tell() const {
  if (Position_ < 0) throw std::runtime_error("Can not tell the current file pointer position.");
  return Position_;
}

void TStdIOCallback::SeekTo(int Origin, int64_t Offset) {
  const int64_t base = Origin == 0 ? 0 : Position_;
  if (Offset < 0 && base + Offset < 0) throw std::runtime_error("Failed to seek file.");
  Position_ = base + Offset;
}

TMPAFile::TMPAFile(const std::string& FileName) : TStdIOCallback(FileName) {}

bool TMPAFile::SkipID3Tag() {
  SeekTo(0, 0);
  ClearWindow();
  uint8_t marker[3];
  if (ReadBytes(marker, 3) < 3) return false;
  if (marker[0] == 'I' && marker[1] == 'D' && marker[2] == '3') {
    SeekTo(0, 6);
    uint8_t size[4] = {};
    ReadBytes(size, 4);
    // The tag's size is stored in 7-bit bytes and excludes its 10-byte header.
    SeekTo(1, static_cast<int64_t>(size[0]) << 21 | static_cast<int64_t>(size[1]) << 14 |
                  static_cast<int64_t>(size[2]) << 7 | size[3]);
  } else {
    SeekTo(0, 0);
  }
  return true;
}

bool TMPAFile::FindNextSync() {
  uint32_t window = core::ReadBE32(HeaderWindow);
  do {
    uint8_t byte;
    if (!ReadByte(byte)) {
      core::WriteBE32(HeaderWindow, window);
      return false;
    }
    window = window << 8 | byte;
  } while ((window & kSyncMask) != kSyncMask);
  core::WriteBE32(HeaderWindow, window);
  return true;
}

bool TMPAFile::ParseAtSync() {
  while (!Frame.ParseHeader(HeaderWindow))
    if (!FindNextSync()) return false;
  return true;
}

void TMPAFile::SkipFrameBody() {
  if (Frame.Valid) SeekTo(1, Frame.PayloadLength());
  ClearWindow();
}

bool TMPAFile::ReadInfoFrame() {
  const int64_t start = Tell();
  if (!FindNextSync()) {
    ClearWindow();
    SeekTo(0, start);
    return false;
  }
  ParseAtSync();
  static_cast<TMPAFrame&>(InfoFrame) = Frame;
  const size_t length = static_cast<size_t>(InfoFrame.PayloadLength());
  InfoFrame.FrameData.resize(length);
  const size_t at = InfoTagOffset(InfoFrame.Version, InfoFrame.ChannelMode);
  bool found = false;
  if (ReadBytes(InfoFrame.FrameData.data(), length) == length && at + 4 <= length) {
    const uint8_t* tag = InfoFrame.FrameData.data() + at;
    if (std::memcmp(tag, "Xing", 4) == 0) {
      InfoFrame.InfoKind = TMPAInfoFrame::kXing;
      found = true;
    } else if (std::memcmp(tag, "Info", 4) == 0) {
      InfoFrame.InfoKind = TMPAInfoFrame::kInfo;
      found = true;
    }
  }
  if (found) return true;
  ClearWindow();
  SeekTo(0, start);
  return false;
}

bool TMPAFile::AccumulateFrame() {
  if (!Frame.Valid) return false;
  if (IsFirst) {
    FirstFrame = Frame;
    IsFirst = 0;
    FrameCount = 1;
    BitRateSum = Frame.BitRate;
    return true;
  }
  if (!FirstFrame.IsSameStream(Frame)) return false;
  ++FrameCount;
  BitRateSum += Frame.BitRate;
  return true;
}

void TMPAFile::ComputeAverageBitRate() {
  AverageBitRate = FrameCount > 0 ? static_cast<int32_t>(BitRateSum * 1000 / FrameCount) : 0;
}

bool MpaFileInfo(core::RunContext& Run, const std::string& FileName, bool Full, MpaFileInfoRecord& Info) {
  Info = {};
  try {
    TMPAFile file(FileName);
    if (!file.IsOpen() || !file.SkipID3Tag()) return true;
    file.ReadInfoFrame();
    int64_t frames = 0, samples = 0;
    do {
      if (!file.FindNextSync()) break;
      ++frames;
      file.ParseAtSync();
      if (file.AccumulateFrame()) samples += file.Frame.SamplesPerFrame();
      file.SkipFrameBody();
    } while (Full);
    file.ComputeAverageBitRate();
    if (file.FrameCount == 0) return true;  // no audio frame: nothing to describe
    // The first audio frame speaks for the stream: a Xing or Info frame before it
    // is often coded at another bit rate, big enough to hold its tag.
    const TMPAFrame& first = file.FirstFrame;
    Info.Version = first.Version;
    Info.Layer = first.Layer;
    Info.BitRate = first.BitRate;
    Info.SampleRate = first.SampleRate;
    Info.ChannelMode = first.ChannelMode;
    Info.Emphasis = first.Emphasis;
    Info.CrcProtected = first.CrcProtected;
    Info.Private = first.Private;
    Info.Copyright = first.Copyright;
    Info.Original = first.Original;
    Info.Samples = samples;
    Info.Frames = frames;
  } catch (const EMpaReadError&) {
    Info = {};
    ReportReadError(Run, FileName);
    return false;
  } catch (const std::exception& e) {
    Info = {};
    Run.LogError(std::string(e.what()) + " " + FileName);
    return false;
  }
  return true;
}

int64_t MpaTimeCodeToSamples(core::TTimeCode TimeCode, const MpaFileInfoRecord& Info, double FrameRate) {
  return TimeCodeToAudioSamples(TimeCode, Info.SampleRate, FrameRate);
}

TMpaCutResult MpaCutBySamples(core::RunContext& Run, const std::string& Source, const std::string& Dest,
                              int64_t StartSample, int64_t ProgressBase, const core::TCopyProgress& Progress,
                              int64_t SampleCount) {
  TMpaCutResult result;
  StartSample = std::max<int64_t>(StartSample, 0);
  int64_t startPos = -1, length = -1, cutEnd = -1;
  bool counted = false;
  int64_t size = 0;
  try {
    TMPAFile file(Source);
    if (!file.IsOpen()) {
      Run.LogError(std::string(core::msg::CanNotOpenFile) + Source + file.WhyNotOpened());
      return result;
    }
    size = file.Size();
    file.SkipID3Tag();
    file.ReadInfoFrame();
    if (StartSample == 0) startPos = file.Tell();
    const int64_t end = SampleCount < 0 ? std::numeric_limits<int64_t>::max() : StartSample + SampleCount;
    int64_t samples = 0, before = 0, frames = 0;
    int64_t prevPos = file.Tell();
    while (file.FindNextSync()) {
      file.ParseAtSync();
      if (file.AccumulateFrame()) {
        counted = true;
        before = samples;
        samples += file.Frame.SamplesPerFrame();
      }
      file.SkipFrameBody();
      const int64_t pos = std::min(file.Tell(), size);
      if (startPos < 0 && samples >= StartSample) {
        // The cut begins with the next frame, the first to start at or after StartSample.
        startPos = pos;
        if (samples >= end) {
          length = 0;
          cutEnd = samples;
          break;
        }
      } else if (startPos >= 0 && samples >= end) {
        // Ends at whichever boundary lies nearer to End; a tie takes the frame in.
        const bool include = end - before >= samples - end;
        length = (include ? pos : prevPos) - startPos;
        cutEnd = include ? samples : before;
        break;
      }
      prevPos = pos;
      if (++frames % kFramesPerPump == 0) {
        Run.ProcessMessages();
        if (Run.Aborted()) return result;
      }
    }
    file.ComputeAverageBitRate();
    if (!counted) {
      // No frame to cut at: the bytes are kept whole rather than dropped.
      Run.LogError("No MPEG audio frame found in " + Source);
      startPos = 0;
      length = size;
      cutEnd = StartSample;
    } else if (startPos < 0) {
      startPos = size;  // the start lies past the last frame: nothing to cut
      cutEnd = StartSample;
    }
    if (cutEnd < 0) cutEnd = samples;
    if (length < 0) length = std::max<int64_t>(size - startPos, 0);
  } catch (const EMpaReadError&) {
    ReportReadError(Run, Source);
    return result;
  } catch (const std::exception& e) {
    Run.LogError(std::string(e.what()) + " " + Source);
    return result;
  }
  result.Samples = std::max<int64_t>(cutEnd - StartSample, 0);
  result.Written = CopyRangeToFile(Run, Source, Dest, startPos, length, {}, ProgressBase, Progress);
  return result;
}

int32_t MpaChannelCount(int32_t ChannelMode) {
  if (ChannelMode == kMono) return 1;
  return ChannelMode >= kStereo && ChannelMode <= kDual ? 2 : 0;
}

const char* MpaVersionText(int32_t Version) { return TextAt({"1", "2", "2.5"}, Version); }
const char* MpaLayerText(int32_t Layer) { return TextAt({"1", "2", "3"}, Layer); }
const char* MpaChannelModeText(int32_t ChannelMode) {
  return TextAt({"Stereo", "Join Stereo", "Dual", "Mono"}, ChannelMode);
}
const char* MpaEmphasisText(int32_t Emphasis) {
  return TextAt({"None", "50.15 Ms", "Reserved", "CCITT_J17"}, Emphasis);
}

}  // namespace tess::streams
