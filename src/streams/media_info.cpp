#include "streams/media_info.h"

#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

#include "core/bit_stream.h"
#include "core/byte_order.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "core/run_context.h"
#include "core/timecode.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "streams/ac3.h"
#include "streams/audio_cut.h"
#include "streams/dts.h"
#include "streams/m2v_cache.h"
#include "streams/m2v_headers.h"
#include "streams/mlp.h"
#include "streams/mpa.h"
#include "streams/wav.h"

namespace tess::streams {

namespace {

constexpr size_t kSniffBytes = 11;
constexpr size_t kAc3InfoBytes = 10;
constexpr size_t kAudioNameWidth = 38;
constexpr size_t kVideoNameWidth = 25;
constexpr int kYesNo = 1;  // BoolToText style
constexpr double kPalRate = 25.0;
constexpr double kNtscRate = 30.0;
const std::string kTwelveSpaces(12, ' ');

// The lines of one text, joined by CR LF at the end.
class TInfoLines {
 public:
  TInfoLines& operator<<(std::string Line) {
    Lines_.push_back(std::move(Line));
    return *this;
  }
  std::string Joined() const {
    std::string text;
    for (size_t i = 0; i < Lines_.size(); ++i) text += (i ? "\r\n" : "") + Lines_[i];
    return text;
  }

 private:
  std::vector<std::string> Lines_;
};

std::string YesNo(bool Value) {
  std::string text;
  core::BoolToText(Value, kYesNo, text);
  return text;
}

// A double as the shortest plain text: 48000 gives "48000", 1509.75 "1509.75".
std::string FloatText(double Value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", Value);
  return text;
}

// Title, an empty line, the shortened name and, for audio, the size.
void AddHead(TInfoLines& Lines, std::string_view Title, const std::string& FileName, size_t NameWidth,
             bool WithSize) {
  Lines << std::string(Title) << "" << "File name: " + core::ShortenTextLeft(FileName, NameWidth);
  if (WithSize) Lines << "File size: " + std::to_string(core::GetFileSizeByName(FileName));
}

// The three play times of a sample count: at 25 fps, and at 30 fps counted
// without and with the 1.001 stretch. Each is the time code of the last sample
// stepped one frame on, so that it reads as a length; no samples last nothing.
void AddPlayTimes(TInfoLines& Lines, int64_t SampleRate, int64_t Samples) {
  auto length = [&](bool Exact, double Rate) {
    core::TTimeCode tc;
    if (Samples > 0 && SampleRate > 0) {
      tc = core::SamplesToTimeCode(Exact, Rate, SampleRate, Samples);
      core::TimeCodeStepForward(tc, Rate);
    }
    return core::TimeCodeWithRateText(tc, Rate);
  };
  Lines << "" << "Play Time (PAL): " + length(false, kPalRate)
        << "Play Time (NTSC) Non Drop Frame: " + length(false, kNtscRate) + kTwelveSpaces
        << "Play Time (NTSC) Drop Frame: " + length(true, kNtscRate);
}

// ---- video display-ratio names ----

// The MPEG-2 ratio code: the picture's shape.
std::string Mpeg2RatioName(uint32_t Code) {
  switch (Code) {
    case 0: return "Forbidden";
    case 1: return "1 : 1";
    case 2: return "4 : 3";
    case 3: return "16 : 9";
    case 4: return "2.21 : 1";
    default: return "Reserved";
  }
}

// MPEG-1 pel ratios (height over width of a pixel). Where a code is
// the ITU-R 601 one of a line standard, the picture shape it gives there is
// named instead of the number.
std::string Mpeg1RatioName(uint32_t Code, bool Lines625) {
  static constexpr std::array<const char*, 16> kPelRatios = {
      "Forbidden", "1.0000", "0.6735", "0.7031", "0.7615", "0.8055", "0.8437", "0.8935",
      "0.9157",    "0.9815", "1.0255", "1.0695", "1.0950", "1.1575", "1.2015", "Reserved"};
  constexpr uint32_t kSquare = 1;
  const uint32_t wide = Lines625 ? 3 : 6;
  const uint32_t normal = Lines625 ? 8 : 12;
  if (Code == kSquare) return "1 : 1";
  if (Code == wide) return "16 : 9";
  if (Code == normal) return "4 : 3";
  return kPelRatios[Code & 15];
}

}  // namespace

// ---------------------------------------------------------------- sniffer

std::string DetectStreamFileType(const std::string& FileName, core::RunContext* Run) {
  std::array<uint8_t, kSniffBytes> b{};
  int err = 0, openErr = 0;
  const int64_t got = platform::ReadFileHead(platform::ResolveInputPath(FileName), b.data(), b.size(), &err, &openErr);
  // A file that cannot be opened is as unread as one that fails to read: it is
  // no file of an unknown format.
  if (openErr && !err) err = openErr;
  if (err && Run) ReportReadError(*Run, FileName, err);
  if (got < 0 || err) return {};
  auto starts = [&](std::initializer_list<uint8_t> Bytes) {
    size_t i = 0;
    for (uint8_t x : Bytes)
      if (b[i++] != x) return false;
    return true;
  };
  if (starts({0x0B, 0x77})) return ".ac3";
  if (starts({0x7F, 0xFE, 0x80, 0x01})) return ".dts";
  if (b[0] == 0xFF && b[1] >= 0xFC) return ".mpa";  // MPEG-1 Layer I or II, with or without CRC
  if (starts({'R', 'I', 'F', 'F'})) return ".wav";
  // The first byte of horizontal_size: 720, 704 or 480 pictures wide.
  if (starts({0x00, 0x00, 0x01, 0xB3}) && (b[4] == 0x2D || b[4] == 0x2C || b[4] == 0x1E)) return ".m2v";
  if (starts({0x00, 0x00, 0x00, 0x01, 0x09})) return ".264";
  if (starts({0x00, 0x00, 0x01, 0x0F, 0xDA})) return ".vc1";
  if (starts({0x00, 0x00, 0x01, 0xB3, 0x16})) return ".m1v";  // 352 wide
  return {};
}

// ---------------------------------------------------------------- dispatcher

std::string GetMediaInfoText(core::RunContext& Run, const std::string& FileName, bool ShowDialog,
                             platform::ProgressBar* ProgressBar) {
  std::string text = kUnknownFileFormat;
  // Only regular files are read: a FIFO or a device would block the analysers.
  if (!platform::ExistingRegularFile(FileName).empty()) {
    const std::string ext = DetectStreamFileType(FileName, &Run);
    std::string found;
    if (ext == ".ac3") {
      found = EAC3InfoText(Run, FileName);
      if (found.empty()) found = AC3InfoText(Run, FileName);
    } else if (ext == ".dts") {
      found = DTSInfoText(Run, FileName);
    } else if (ext == ".mpa") {
      found = MPAInfoText(Run, FileName);
    } else if (ext == ".m1v" || ext == ".m2v") {
      found = VideoInfoText(Run, FileName, ProgressBar);
    } else if (ext == ".wav" && IsRiffWaveFile(FileName, &Run)) {
      found = PCMInfoText(FileName, &Run);
    }
    // MLP carries no sync word at its start: it is known by its name.
    if (platform::ToLowerAscii(platform::ExtractFileExt(FileName)) == ".mlp") found = MLPInfoText(FileName, &Run);
    if (!found.empty()) text = found;
  }
  if (ShowDialog) {
    if (text == kUnknownFileFormat)
      Run.LogError(text);
    else
      Run.Log(core::kLogInfo, text);
  }
  return text;
}

bool IsRiffWaveFile(const std::string& FileName, core::RunContext* Run) {
  constexpr uint16_t kPcmFormatTag = 1;
  WavHeader h;
  WavFindDataChunk(FileName, h, Run);
  return h.FormatTag == kPcmFormatTag && h.ChunkId == WavId("RIFF") && h.Format == WavId("WAVE");
}

void Ac3ReadInfo(const std::string& FileName, Ac3Info& Info, core::RunContext* Run) {
  Info = {};
  std::array<uint8_t, kAc3InfoBytes> h{};
  if (ReadFileHead(FileName, h.data(), h.size(), Run) == 0) return;
  Info.BitRate = Ac3BitRate((h[4] & 0x3F) >> 1);
  Info.ChannelMode = h[6] >> 5;
  Info.LfeOn = Ac3LfeOnFromHeader(h);
}

// ---------------------------------------------------------------- audio texts

std::string EAC3InfoText(core::RunContext& Run, const std::string& FileName) {
  TEC3Stream stream(FileName);
  try {
    if (!stream.Open(&Run) || !stream.IsEAC3) return {};
  } catch (const core::EParserFileException&) {
    return {};
  }
  // Counted frame by frame: frames may carry different numbers of blocks.
  const TFrameTally tally = Ac3CountFrameTally(Run, FileName);
  const int64_t samples = tally.Samples;
  const int64_t frames = tally.Units;
  TInfoLines lines;
  AddHead(lines, core::msg::AudioDDInformation, FileName, kAudioNameWidth, true);
  lines << "Audio Type: DD+ " << "Sample Rate: " + FloatText(stream.SampleRate) + " Hz"
        << "Bitrate: " + std::to_string(stream.BitRate)
        << "Channels: " + std::string(Ac3ChannelModeName(stream.acmod)) + ", " + stream.ChannelModeText
        << "LFE on: " + YesNo(stream.LfeOn != 0)
        << "BsMode: " + std::string(Ac3ServiceName(stream.bsmod)) + ", " + stream.ServiceText
        << "Samples: " + std::to_string(samples) << "Frames: " + std::to_string(frames)
        << "Frame Length: " + std::to_string(stream.FrameSize);
  // Timed at the stream's own rate: a reduced-rate stream (fscod 3) runs at half
  // the rate its code names.
  AddPlayTimes(lines, platform::RoundEven(stream.SampleRate), samples);
  return lines.Joined();
}

std::string AC3InfoText(core::RunContext& Run, const std::string& FileName) {
  const int32_t code = Ac3ReadSampleRateCode(FileName, &Run);
  const int64_t samples = Ac3CountFrames(Run, FileName, true);
  Ac3Info info;
  Ac3ReadInfo(FileName, info, &Run);
  TInfoLines lines;
  AddHead(lines, core::msg::AudioAC3Information, FileName, kAudioNameWidth, true);
  lines << "Audio Type: AC3"
        << "System: Dolby " + std::to_string(Ac3FullBandwidthChannels(info.ChannelMode)) + (info.LfeOn ? ".1" : ".0")
        << "Bit Rate: " + std::to_string(info.BitRate / 1000) + " Kbps"
        << "Sample Rate: " + std::to_string(Ac3SampleRate(code)) + " Hz"
        << "Channels: " + std::string(Ac3ChannelModeName(info.ChannelMode)) + " (code: " +
               std::to_string(info.ChannelMode) + ")"
        << "LFE on: " + YesNo(info.LfeOn != 0)
        << "BsMode: " + std::string(Ac3ServiceName(Ac3ReadBsMode(FileName, &Run)))
        << "Samples: " + std::to_string(samples) << "Frames: " + std::to_string(samples / kAc3SamplesPerFrame)
        << "Frame Length: " + std::to_string(Ac3ReadFrameSize(FileName, &Run));
  AddPlayTimes(lines, Ac3SampleRate(code), samples);
  return lines.Joined();
}

std::string DTSInfoText(core::RunContext& Run, const std::string& FileName) {
  DtsHeader header;
  DtsReadHeader(FileName, true, header, &Run);
  const int64_t frames = DtsCountFrames(Run, FileName);
  DtsInfo info;
  DtsReadInfo(FileName, info, &Run);
  const int64_t samples = frames * kDtsSamplesPerFrame;
  const int32_t sampleRate = DtsReadSampleRate(FileName, &Run);
  TInfoLines lines;
  AddHead(lines, core::msg::AudioDTSInformation, FileName, kAudioNameWidth, true);
  lines << "Audio Type: DTS"
        << "System: DTS " + std::to_string(DtsChannelCount(info.ChannelArrangement)) + (info.LfeOn ? ".1" : ".0")
        << "Bit Rate: " + FloatText(DtsBitRateOf(info.RateCode) / 1000.0) + " Kbps"
        << "Sample Rate: " + std::to_string(sampleRate) + " Hz"
        << "Channels: " + std::string(DtsChannelArrangementName(info.ChannelArrangement))
        << "LFE on: " + YesNo(info.LfeOn != 0) << "Samples: " + std::to_string(samples)
        << "Frames: " + std::to_string(frames) << "Frame size (bytes): " + std::to_string(header.FrameSize);
  AddPlayTimes(lines, sampleRate, samples);
  return lines.Joined();
}

std::string MPAInfoText(core::RunContext& Run, const std::string& FileName) {
  MpaFileInfoRecord info;
  MpaFileInfo(Run, FileName, true, info);
  TInfoLines lines;
  AddHead(lines, core::msg::AudioMPAInformation, FileName, kAudioNameWidth, true);
  lines << "Audio Type: MPEG " + std::string(MpaVersionText(info.Version)) + " Layer " + MpaLayerText(info.Layer)
        << "Mode: " + std::string(MpaChannelModeText(info.ChannelMode))
        << "Bit Rate: " + std::to_string(info.BitRate) + " Kbps"
        << "Sample Rate: " + std::to_string(info.SampleRate) + " Hz" << "Samples: " + std::to_string(info.Samples)
        << "Frames: " + std::to_string(info.Frames) << "Emphasis: " + std::string(MpaEmphasisText(info.Emphasis))
        << "CRCEror: " + YesNo(info.CrcProtected != 0) << "Copyright: " + YesNo(info.Copyright != 0)
        << "Original: " + YesNo(info.Original != 0) << "Protection: " + YesNo(info.Protection != 0)
        << "Private: " + YesNo(info.Private != 0);
  AddPlayTimes(lines, info.SampleRate, info.Samples);
  return lines.Joined();
}

std::string PCMInfoText(const std::string& FileName, core::RunContext* Run) {
  WavHeader h;
  WavFindDataChunk(FileName, h, Run);
  // Only the samples that are there count, whatever the data size claims.
  const int64_t held = std::max<int64_t>(core::GetFileSizeByName(FileName) - h.DataOffset, 0);
  const int64_t dataSize = std::min<int64_t>(h.DataSize, held);
  const int64_t bytesPerSample = static_cast<int64_t>(h.Channels) * (h.BitsPerSample / 8);
  const int64_t samples = bytesPerSample > 0 ? dataSize / bytesPerSample : 0;
  TInfoLines lines;
  AddHead(lines, core::msg::AudioWAVInformation, FileName, kAudioNameWidth, true);
  lines << "Audio Type: PCM"
        << "Bit rate: " + std::to_string(int64_t{h.BitsPerSample} * h.SampleRate * h.Channels)
        << "Channels: " + std::to_string(h.Channels) << "Quantization: " + std::to_string(h.BitsPerSample) + " bits"
        << "Sample Rate: " + std::to_string(h.SampleRate) + " Hz"
        << "Avg Bytes Per Sec: " + std::to_string(h.BytesPerSecond) << "Samples: " + std::to_string(samples);
  AddPlayTimes(lines, h.SampleRate, samples);
  return lines.Joined();
}

std::string MLPInfoText(const std::string& FileName, core::RunContext* Run) {
  const TMLPstream stream(FileName, Run);
  TInfoLines lines;
  AddHead(lines, core::msg::AudioMLPInformation, FileName, kAudioNameWidth, true);
  lines << "Audio Type: MLP" << "Channels: " + std::to_string(stream.Channels)
        << "Quantization: " + std::to_string(stream.BitsPerSample) + " bits"
        << "Sample Rate: " + std::to_string(stream.SampleRate) + " Hz";
  return lines.Joined();
}

// ---------------------------------------------------------------- video text

std::string VideoInfoText(core::RunContext& Run, const std::string& FileName, platform::ProgressBar* ProgressBar) {
  namespace at = m2v_info;
  const std::string type = IsM2VStill(Run, FileName) ? "Still" : "Video";
  TM2VInfoRecord r{};
  // Without a cache the quick scan stops after the first picture; it knows
  // everything but the length.
  const bool cached = platform::FindPathCaseInsensitive(FileName + ".vnf").has_value();
  if (cached) {
    uint8_t abort = 0;
    GetM2VInfoRecord(Run, FileName, ProgressBar, &abort, r, nullptr);
  } else {
    ScanM2VStillInfo(Run, FileName, r);
  }
  auto u32 = [&](size_t Offset) { return core::ReadLE32(&r[Offset]); };
  auto timeCode = [&](size_t Offset) {
    return core::TTimeCode{r[Offset], r[Offset + 1], r[Offset + 2], r[Offset + 3]};
  };
  const core::TTimeCode first = timeCode(at::kFirstGopTime);
  const double integerRate = static_cast<int32_t>(u32(at::kIntegerRate));
  const uint32_t rateCode = u32(at::kFrameRateCode);
  const uint32_t version = u32(at::kMpegVersion);
  const uint32_t ratioCode = u32(at::kAspectCode);
  const bool pal = platform::RoundEven(FrameRateValue(rateCode)) == 25;
  std::string ratio = version == 2 ? Mpeg2RatioName(ratioCode) : Mpeg1RatioName(ratioCode, pal);
  if (r[at::kHalfD1]) ratio += " (Pan-scan)";
  uint32_t width = u32(at::kDisplayWidth), height = u32(at::kDisplayHeight);
  const bool displaySize = width != 0 && height != 0;
  if (!displaySize) {
    width = u32(at::kHorizontalSize);
    height = u32(at::kVerticalSize);
  }

  TInfoLines lines;
  AddHead(lines, core::msg::VideoMPGInformation, FileName, kVideoNameWidth, false);
  lines << "Video Type: " + type << std::string("Resolution: ") + (pal ? "PAL" : "NTSC")
        << "Encode Type: MPEG " + std::to_string(version)
        << "Size: " + std::to_string(u32(at::kHorizontalSize)) + " x " + std::to_string(u32(at::kVerticalSize))
        << "Display Size: " + std::to_string(width) + " x " + std::to_string(height) << "Aspect Ratio: " + ratio
        << "Bit rate: " + std::to_string(u32(at::kFirstBitRate))
        << std::string("Bitrate Type: ") + (r[at::kVariableBitRate] ? "Variable" : "Constant")
        << "Line21 Switch1: " + YesNo(r[at::kLine21Switch1] != 0)
        << "Line21 Switch2: " + YesNo(r[at::kLine21Switch2] != 0) << "Is PullDown: " + YesNo(r[at::kPulldown] != 0)
        << "Frame Rate: " + FrameRateName(rateCode)
        << "Data Start Time:  " + core::TimeCodeWithRateText(first, integerRate) + kTwelveSpaces;
  if (cached) {
    const auto frames = static_cast<int64_t>(core::ReadLE64(&r[at::kFrames]));
    core::TTimeCode end = core::AddTimeCodes(first, core::FramesToTimeCode(frames, integerRate), integerRate);
    core::TimeCodeStepBack(end, integerRate);
    lines << "Data End Time:    " + core::TimeCodeWithRateText(end, integerRate)
          << "Duration:              " + core::TimeCodeWithRateText(timeCode(at::kDuration), integerRate);
  }
  return lines.Joined();
}

}  // namespace tess::streams
