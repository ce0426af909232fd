// LPCM to WAV against ffmpeg's reading of the same samples, and the WAV
// routines on files whose data chunk does not stand at byte 44.
#include "streams/wav.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "streams/ffmpeg_oracle.h"

namespace tess::streams {
namespace {

using test::DataFile;
using test::ReadFileBytes;
using test::WriteFileBytes;

// Plain big-endian samples put into the disc's order: 24-bit samples go in
// pairs of sample sets, the high and middle bytes of both sets first, then
// their low bytes. 16-bit samples are already in it.
std::vector<uint8_t> DiscOrder(const std::vector<uint8_t>& Plain, int Bits, int Channels) {
  if (Bits == 16) return Plain;
  const size_t group = 6 * static_cast<size_t>(Channels), samples = 2 * static_cast<size_t>(Channels);
  std::vector<uint8_t> out(Plain.size());
  for (size_t g = 0; g + group <= Plain.size(); g += group)
    for (size_t i = 0; i < samples; ++i) {
      out[g + 2 * i] = Plain[g + 3 * i];
      out[g + 2 * i + 1] = Plain[g + 3 * i + 1];
      out[g + 2 * samples + i] = Plain[g + 3 * i + 2];
    }
  return out;
}

// ffmpeg's little-endian samples of File, read as the given format (empty: as
// the file says).
std::vector<uint8_t> FfmpegSamples(const std::string& File, const std::string& InputFormat, int Bits,
                                   const test::TempDir& Dir, const std::string& Name) {
  const std::string out = Dir.File(Name);
  const std::string le = Bits == 16 ? "s16le" : "s24le";
  const test::ToolRun run = test::RunTool("ffmpeg -v error -nostdin " + InputFormat + " -i " + test::Quoted(File) +
                                          " -c:a pcm_" + le + " -f " + le + " " + test::Quoted(out));
  EXPECT_EQ(run.Err, "");
  return ReadFileBytes(out);
}

std::vector<uint8_t> DataOf(const std::string& Wav) {
  WavHeader h;
  EXPECT_TRUE(WavFindDataChunk(Wav, h)) << Wav;
  const auto bytes = ReadFileBytes(Wav);
  EXPECT_EQ(h.DataOffset + h.DataSize, static_cast<int64_t>(bytes.size())) << Wav;
  return {bytes.begin() + std::min<int64_t>(h.DataOffset, bytes.size()), bytes.end()};
}

TEST(Wav, LpcmBecomesTheSamplesFfmpegReads) {
  REQUIRE_FFMPEG();
  test::CoreProject project;
  // Source, bits (20 comes as 24-bit groups), channels, rate, copies of the
  // source (enough to cross the converter's blocks off the group grid).
  const struct {
    const char* Name;
    int Bits, Channels, Rate, Copies;
  } rows[] = {{"lpcm_48k_1ch_16.pcm", 16, 1, 48000, 1},  {"lpcm_48k_2ch_16.pcm", 16, 2, 48000, 1},
              {"lpcm_48k_6ch_16.pcm", 16, 6, 48000, 1},  {"lpcm_48k_1ch_24.pcm", 24, 1, 48000, 1},
              {"lpcm_96k_2ch_24.pcm", 24, 2, 96000, 1},  {"lpcm_48k_6ch_24.pcm", 24, 6, 48000, 1},
              {"lpcm_48k_6ch_24.pcm", 24, 6, 48000, 40}, {"lpcm_96k_2ch_24.pcm", 20, 2, 96000, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.Name) + " as " + std::to_string(row.Bits) + " bits x" + std::to_string(row.Copies));
    test::TempDir dir;
    const auto once = ReadFileBytes(DataFile(std::string("streams/") + row.Name));
    std::vector<uint8_t> plain;
    for (int i = 0; i < row.Copies; ++i) plain.insert(plain.end(), once.begin(), once.end());
    const int bits = row.Bits == 20 ? 24 : row.Bits;
    WriteFileBytes(dir.File("plain.raw"), plain);
    WriteFileBytes(dir.File("track.pcm"), DiscOrder(plain, bits, row.Channels));

    ASSERT_TRUE(ConvertLpcmToWav(project.Form, dir.File("track.pcm"), row.Bits, row.Channels, row.Rate));
    EXPECT_TRUE(std::filesystem::exists(dir.File("track.pcm")));
    const std::string wav = dir.File("track.wav");
    auto probe = test::ProbeStream(wav);
    EXPECT_EQ(probe["errors"], 0);
    EXPECT_EQ(probe["channels"], row.Channels);
    EXPECT_EQ(probe["sample_rate"], row.Rate);
    EXPECT_EQ(probe["duration_ts"], static_cast<int64_t>(plain.size()) / (bits / 8 * row.Channels));
    const std::string be = bits == 16 ? "s16be" : "s24be";
    const auto expected = FfmpegSamples(
        dir.File("plain.raw"), "-f " + be + " -ar " + std::to_string(row.Rate) + " -ac " + std::to_string(row.Channels),
        bits, dir, "expected.raw");
    EXPECT_TRUE(FfmpegSamples(wav, "", bits, dir, "ours.raw") == expected);
    EXPECT_TRUE(DataOf(wav) == expected);
  }
}

TEST(Wav, CutsAndAppendsKeepEverySampleWhereverTheDataChunkIs) {
  REQUIRE_FFMPEG();
  test::CoreProject project;
  for (const char* name : {"w_48k_2ch_list.wav", "w_48k_6ch_ext.wav"}) {
    SCOPED_TRACE(name);
    test::TempDir dir;
    const std::string source = DataFile(std::string("streams/") + name);
    WavHeader h;
    ASSERT_TRUE(WavFindDataChunk(source, h));
    auto probe = test::ProbeStream(source);
    EXPECT_GT(h.DataOffset, kWavHeaderSize);
    EXPECT_EQ(h.SampleRate, probe["sample_rate"]);
    EXPECT_EQ(h.Channels, probe["channels"]);
    const int64_t total = probe["duration_ts"];

    // Three consecutive cuts, each a WAV of the samples asked for.
    const int64_t step = total / 3 + 1;
    std::vector<std::string> pieces;
    std::vector<uint8_t> joined;
    for (int i = 0; i < 3; ++i) {
      pieces.push_back(dir.File("piece" + std::to_string(i) + ".wav"));
      ASSERT_TRUE(WavCutBySamples(project.Form, source, pieces.back(), i * step, 0, nullptr, i == 2 ? -1 : step));
      auto piece = test::ProbeStream(pieces.back());
      EXPECT_EQ(piece["errors"], 0);
      EXPECT_EQ(piece["duration_ts"], i == 2 ? total - 2 * step : step);
      const auto data = DataOf(pieces.back());
      joined.insert(joined.end(), data.begin(), data.end());
    }
    EXPECT_TRUE(joined == DataOf(source));

    // Appended back together: the first piece whole into an empty file, the
    // others without their headers; ".WAV" is a WAV too.
    const std::string whole = dir.File("joined.WAV");
    WriteFileBytes(whole, {});
    for (const auto& piece : pieces) ASSERT_TRUE(AppendFileData(project.Form, piece, whole, true, nullptr));
    EXPECT_EQ(test::ProbeStream(whole)["duration_ts"], total);
    EXPECT_TRUE(DataOf(whole) == DataOf(source));
  }
}

}  // namespace
}  // namespace tess::streams
