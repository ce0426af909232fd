// The segment splitters on ffmpeg-made sources. Each source goes through all
// four splitters, as the export calls them; its own cuts it into segments that
// start where ffprobe finds frames, join back to the source byte for byte, and
// end where the durations summed so far end, within half a frame of the format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/paths.h"
#include "streams/audio_split.h"
#include "streams/ffmpeg_oracle.h"
#include "streams/wav.h"

namespace tess::streams {
namespace {

using test::DataFile;
using test::ReadFileBytes;

TSplitOutcome SplitWithAll(core::RunContext& Run, const std::string& Source,
                           const std::vector<AudioSegmentEntry>& Entries, double FrameRate, bool DeleteTiny = false) {
  const TSplitOutcome outcomes[] = {
      SplitAc3File(Run, Source, Entries, FrameRate, nullptr), SplitDtsFile(Run, Source, Entries, FrameRate, nullptr),
      SplitWavFile(Run, Source, Entries, DeleteTiny, FrameRate, nullptr),
      SplitMpaFile(Run, Source, Entries, FrameRate, nullptr)};
  TSplitOutcome result = TSplitOutcome::NotThisFormat;
  for (TSplitOutcome o : outcomes) {
    if (o == TSplitOutcome::NotThisFormat) continue;
    EXPECT_EQ(result, TSplitOutcome::NotThisFormat) << "two splitters took " << Source;
    result = o;
  }
  return result;
}

std::vector<AudioSegmentEntry> Segments(const test::TempDir& Dir, const std::string& Ext,
                                        const std::vector<core::TTimeCode>& Durations) {
  std::vector<AudioSegmentEntry> entries;
  for (size_t i = 0; i < Durations.size(); ++i)
    entries.push_back({Durations[i], Dir.File("segment" + std::to_string(i) + Ext)});
  return entries;
}

TEST(AudioSplit, SegmentsFollowTheSummedDurationsAndJoinBack) {
  REQUIRE_FFMPEG();
  test::CoreProject project;
  const struct {
    const char* Name;
    double FrameRate;
    std::vector<core::TTimeCode> Durations;  // the last one's length is the rest
  } rows[] = {
      // At 29.97 one second is 31.28 frames: 31, then 32 up to 62.56, and so on.
      {"audio_48k_2ch.ac3", 29.97, {{0, 0, 1, 0}, {0, 0, 1, 0}, {}}},
      {"audio_48k_2ch.ac3", 25, {{0, 0, 9, 0}}},  // one entry takes it all
      {"audio_48k_2ch.eac3", 25, {{0, 0, 0, 13}, {0, 0, 1, 2}, {0, 0, 0, 1}, {}}},
      {"a_32k_2ch.ac3", 29.97, {{0, 0, 0, 3}, {0, 0, 0, 4}, {}}},
      {"audio_48k_2ch.dts", 30, {{0, 0, 0, 10}, {0, 0, 0, 11}, {}}},
      {"a_44k_1ch.dts", 25, {{0, 0, 0, 2}, {0, 0, 0, 2}, {}}},
      {"audio_48k_2ch.mp2", 25, {{0, 0, 1, 0}, {0, 0, 0, 13}, {}}},
      {"a_44k_1ch.mp2", 29.97, {{0, 0, 0, 4}, {0, 0, 0, 5}, {0, 0, 0, 1}, {}}},
      {"w_44k_1ch_16.wav", 29.97, {{0, 0, 0, 7}, {0, 0, 0, 5}, {}}},
      {"w_48k_2ch_list.wav", 25, {{}, {0, 0, 0, 0}, {}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.Name) + " at " + std::to_string(row.FrameRate));
    test::TempDir dir;
    const std::string source = dir.File(row.Name);
    std::filesystem::copy_file(DataFile(std::string("streams/") + row.Name), source);
    const std::string ext = platform::ExtractFileExt(source);
    const auto entries = Segments(dir, ext, row.Durations);
    ASSERT_EQ(SplitWithAll(project.Form, source, entries, row.FrameRate), TSplitOutcome::Done);

    const auto whole = ReadFileBytes(source);
    const std::vector<int64_t> frames = test::PacketOffsets(source);
    WavHeader wav;
    const bool isWav = WavFindDataChunk(source, wav);
    const double sampleRate = static_cast<double>(test::ProbeStream(source)["sample_rate"]);
    const double perFrame = ext == ".dts" ? 512 : ext == ".mp2" ? 1152 : isWav ? 1 : 1536;
    const double stretch = row.FrameRate > 29 ? 1.001 : 1;
    // MPEG audio segments begin with the first audio frame; WAV segments carry
    // a header each, and their samples join.
    int64_t at = isWav ? wav.DataOffset : ext == ".mp2" ? frames.front() : 0;
    std::vector<uint8_t> joined(whole.begin(), whole.begin() + at);
    double samples = 0, wanted = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      const auto bytes = ReadFileBytes(entries[i].OutputFileName);
      int64_t from = 0;
      if (isWav) {
        WavHeader h;
        ASSERT_TRUE(WavFindDataChunk(entries[i].OutputFileName, h));
        from = h.DataOffset;
        EXPECT_EQ(h.DataSize, bytes.size() - from);
        EXPECT_EQ(h.DataSize % wav.BlockAlign, 0u);
        samples += static_cast<double>(h.DataSize / wav.BlockAlign);
      } else {
        // The source's frames that the segment holds (tiny files are past
        // ffprobe's own recognition).
        EXPECT_TRUE(at == 0 || std::binary_search(frames.begin(), frames.end(), at)) << "segment " << i;
        const auto held = std::lower_bound(frames.begin(), frames.end(), at + static_cast<int64_t>(bytes.size())) -
                          std::lower_bound(frames.begin(), frames.end(), at);
        samples += static_cast<double>(held) * perFrame;
      }
      joined.insert(joined.end(), bytes.begin() + from, bytes.end());
      at += static_cast<int64_t>(bytes.size()) - from;
      const auto& d = entries[i].Duration;
      wanted += ((d.Hours * 60 + d.Minutes) * 60 + d.Seconds + d.Frames / std::round(row.FrameRate)) * stretch;
      if (i + 1 < entries.size()) {
        EXPECT_NEAR(samples / sampleRate, wanted, (perFrame / 2 + 2) / sampleRate) << "end of segment " << i;
      }
    }
    EXPECT_TRUE(joined == whole);
  }
}

TEST(AudioSplit, ASegmentThatCannotBeMadeFailsTheSplitAndTheSourceStays) {
  test::CoreProject project;
  test::TempDir dir;
  const std::string source = dir.File("audio.ac3");
  std::filesystem::copy_file(DataFile("streams/audio_48k_2ch.ac3"), source);
  const auto before = ReadFileBytes(source);
  const std::vector<core::TTimeCode> halves = {{0, 0, 1, 0}, {}};

  auto entries = Segments(dir, ".ac3", halves);
  entries[1].OutputFileName = dir.File("missing/segment1.ac3");
  EXPECT_EQ(SplitWithAll(project.Form, source, entries, 25), TSplitOutcome::Failed);
  entries[1].OutputFileName = source;
  EXPECT_EQ(SplitWithAll(project.Form, source, entries, 25), TSplitOutcome::Failed);
  {
    const test::FileSizeLimit full(4096);
    EXPECT_EQ(SplitWithAll(project.Form, source, Segments(dir, ".ac3", halves), 25), TSplitOutcome::Failed);
  }
  EXPECT_TRUE(project.LogContains("Audio file " + source + " is not split"));
  EXPECT_TRUE(ReadFileBytes(source) == before);

  // A WAV segment past the source's end holds no sample: kept as a header, or
  // deleted when asked.
  const std::string wav = dir.File("audio.wav");
  std::filesystem::copy_file(DataFile("streams/w_44k_1ch_16.wav"), wav);
  const std::vector<core::TTimeCode> pastTheEnd = {{0, 0, 2, 0}, {}};
  EXPECT_EQ(SplitWithAll(project.Form, wav, Segments(dir, ".wav", pastTheEnd), 25), TSplitOutcome::Done);
  EXPECT_EQ(std::filesystem::file_size(dir.File("segment1.wav")), kWavHeaderSize);
  EXPECT_EQ(SplitWithAll(project.Form, wav, Segments(dir, ".wav", pastTheEnd), 25, true), TSplitOutcome::Done);
  EXPECT_FALSE(std::filesystem::exists(dir.File("segment1.wav")));
  EXPECT_TRUE(std::filesystem::exists(dir.File("segment0.wav")));
}

}  // namespace
}  // namespace tess::streams
