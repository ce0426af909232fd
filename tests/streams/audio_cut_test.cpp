// The frame cutters on real encoder output: consecutive cuts start where
// ffprobe finds frames, join back to the source byte for byte and decode cleanly;
// a cut by a time-code duration lasts what ffprobe says it does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/paths.h"
#include "streams/ac3.h"
#include "streams/audio_cut.h"
#include "streams/dts.h"
#include "streams/ffmpeg_oracle.h"
#include "streams/mpa.h"
#include "streams/wav.h"

namespace tess::streams {
namespace {

using test::DataFile;
using test::ReadFileBytes;

// Cuts File into consecutive pieces of about Step frames (samples for MPEG
// audio), the last to the end; returns their names.
std::vector<std::string> CutInPieces(core::RunContext& Run, const std::string& File, const test::TempDir& Dir,
                                     int64_t Step, int Pieces) {
  const std::string ext = platform::ExtractFileExt(File);
  std::vector<std::string> names;
  int64_t start = 0;
  for (int i = 0; i < Pieces; ++i) {
    const std::string piece = Dir.File("piece" + std::to_string(i) + ext);
    const int64_t count = i + 1 == Pieces ? -1 : Step;
    bool made = false;
    if (ext == ".ac3" || ext == ".eac3") {
      made = Ac3CutByFrames(Run, File, piece, start, 0, nullptr, count);
      start += Step;
    } else if (ext == ".dts") {
      made = DtsCutByFrames(Run, File, piece, start, 0, nullptr, count);
      start += Step;
    } else {
      const TMpaCutResult cut = MpaCutBySamples(Run, File, piece, start, 0, nullptr, count);
      made = cut.Written;
      start += cut.Samples;
    }
    EXPECT_TRUE(made) << piece;
    names.push_back(piece);
  }
  return names;
}

TEST(AudioCut, ConsecutiveCutsStartOnFramesAndJoinBack) {
  REQUIRE_FFMPEG();
  test::CoreProject project;
  // Name, step, pieces. MPEG audio steps are samples, off the frame grid on purpose.
  const struct {
    const char* Name;
    int64_t Step;
    int Pieces;
  } rows[] = {{"a_48k_6ch.ac3", 3, 3},    {"a_44k_1ch.ac3", 4, 4},    {"a_32k_2ch.ac3", 2, 4},
              {"a_48k_6ch.eac3", 3, 4},   {"a_44k_1ch.eac3", 2, 5},   {"a_48k_6ch.dts", 3, 4},
              {"a_44k_1ch.dts", 5, 4},    {"a_32k_2ch.dts", 4, 4},    {"a_44k_1ch.mp2", 5000, 4},
              {"a_24k_2ch.mp2", 3000, 4}, {"a_44k_2ch.mp3", 7000, 3}, {"a_22k_1ch_vbr.mp3", 3000, 4},
              {"a_8k_1ch.mp3", 1500, 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    test::TempDir dir;
    const std::string source = DataFile(std::string("streams/") + row.Name);
    const std::vector<int64_t> frames = test::PacketOffsets(source);
    ASSERT_FALSE(frames.empty());
    const auto pieces = CutInPieces(project.Form, source, dir, row.Step, row.Pieces);
    // The pieces hold the source from its first audio frame (after any tag and
    // info frame) to its end, each beginning where a frame begins.
    const auto whole = ReadFileBytes(source);
    std::vector<uint8_t> joined;
    int64_t at = frames.front();
    for (const auto& piece : pieces) {
      const auto bytes = ReadFileBytes(piece);
      EXPECT_FALSE(bytes.empty()) << piece;
      EXPECT_TRUE(std::binary_search(frames.begin(), frames.end(), at)) << piece << " starts at " << at;
      EXPECT_EQ(test::DecodeErrors(piece), "") << piece;
      joined.insert(joined.end(), bytes.begin(), bytes.end());
      at += static_cast<int64_t>(bytes.size());
    }
    EXPECT_TRUE(joined == std::vector<uint8_t>(whole.begin() + frames.front(), whole.end()));
  }
}

TEST(AudioCut, TimeCodeCutsLastWhatTheyShould) {
  REQUIRE_FFMPEG();
  test::CoreProject project;
  const struct {
    const char* Name;
    core::TTimeCode Duration;
    double FrameRate;
  } rows[] = {{"audio_48k_2ch.ac3", {0, 0, 1, 0}, 25},  {"audio_48k_2ch.ac3", {0, 0, 1, 12}, 30},
              {"audio_48k_2ch.dts", {0, 0, 0, 10}, 25}, {"audio_48k_2ch.mp2", {0, 0, 2, 5}, 30},
              {"a_44k_1ch.mp2", {0, 0, 0, 7}, 25},      {"lpcm_48k_2ch_16.pcm", {0, 0, 0, 5}, 25},
              {"lpcm_96k_2ch_24.pcm", {0, 0, 0, 2}, 30}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.Name) + " at " + std::to_string(row.FrameRate));
    test::TempDir dir;
    std::string source = DataFile(std::string("streams/") + row.Name);
    const std::string ext = platform::ExtractFileExt(source);
    const std::string cut = dir.File("cut" + (ext == ".pcm" ? std::string(".wav") : ext));
    int64_t samplesPerFrame = 1;
    if (ext == ".ac3") {
      samplesPerFrame = kAc3SamplesPerFrame;
      Ac3CutByFrames(project.Form, source, cut, 0, 0, nullptr,
                     Ac3TimeCodeToFrames(Ac3ReadSampleRateCode(source), row.Duration, row.FrameRate));
    } else if (ext == ".dts") {
      samplesPerFrame = kDtsSamplesPerFrame;
      DtsCutByFrames(project.Form, source, cut, 0, 0, nullptr,
                     DtsTimeCodeToFrames(row.Duration, DtsReadSampleRate(source), row.FrameRate));
    } else if (ext == ".pcm") {
      // A WAV made from the plain big-endian samples (16-bit ones are already in the disc's order).
      const bool is96k = source.find("96k") != std::string::npos;
      const std::string pcm = dir.File("whole.pcm");
      std::filesystem::copy_file(source, pcm);
      ASSERT_TRUE(ConvertLpcmToWav(project.Form, pcm, is96k ? 24 : 16, 2, is96k ? 96000 : 48000));
      source = dir.File("whole.wav");
      WavHeader h;
      ASSERT_TRUE(WavFindDataChunk(source, h));
      WavCutBySamples(project.Form, source, cut, 0, 0, nullptr,
                      WavTimeCodeToSamples(row.Duration, static_cast<int32_t>(h.SampleRate), row.FrameRate));
    } else {
      MpaFileInfoRecord info;
      MpaFileInfo(project.Form, source, true, info);
      samplesPerFrame = 1152;
      MpaCutBySamples(project.Form, source, cut, 0, 0, nullptr,
                      MpaTimeCodeToSamples(row.Duration, info, row.FrameRate));
    }
    // ffprobe's length of the cut against the duration (at about 30 fps a time
    // code runs 1.001 times slower), within one frame of the format.
    auto probe = test::ProbeStream(cut);
    const double rate = static_cast<double>(probe["sample_rate"]);
    const double lasts =
        ext == ".pcm" ? probe["duration_ts"] / rate : probe["nb_read_packets"] * samplesPerFrame / rate;
    const double wanted =
        (row.Duration.Seconds + row.Duration.Frames / row.FrameRate) * (row.FrameRate == 30 ? 1.001 : 1);
    EXPECT_NEAR(lasts, wanted, samplesPerFrame / rate / 2 + 1e-9);
  }
}

// The block copy takes the same bytes whether the kernel copies them or they
// go through a buffer (an output opened for appending, which the kernel's copy
// refuses), from any offset, to the source's end at the most.
TEST(AudioCut, BlockCopiesTakeTheBytesEitherWay) {
  test::CoreProject project;
  test::TempDir dir;
  std::vector<uint8_t> data(3 * 1048576 + 123);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 4099);
  test::WriteFileBytes(dir.File("src.bin"), data);
  const int in = ::open(dir.File("src.bin").c_str(), O_RDONLY);
  for (const bool append : {false, true}) {
    for (const auto& [offset, count] : {std::pair<int64_t, int64_t>{0, 3 * 1048576 + 123}, {5, 2621440}, {1048583, 10485760}}) {
      const int out = ::open(dir.File("dst.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC | (append ? O_APPEND : 0), 0644);
      int64_t reported = 0;
      EXPECT_EQ(CopyBlocks(project.Form, in, "src.bin", offset, count, out, "dst.bin", 0,
                           [&](int64_t Done) { reported = Done; }, nullptr),
                TCopyOutcome::Done);
      ::close(out);
      const auto end = std::min<int64_t>(offset + count, static_cast<int64_t>(data.size()));
      EXPECT_TRUE(ReadFileBytes(dir.File("dst.bin")) == std::vector<uint8_t>(data.begin() + offset, data.begin() + end));
      EXPECT_EQ(reported, end - offset);
    }
  }
  ::close(in);
}

}  // namespace
}  // namespace tess::streams
