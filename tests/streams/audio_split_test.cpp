// The segment splitters on ffmpeg-made sources. Each source goes through all
// four splitters, as the export calls them; its own cuts it into segments that
// start where ffprobe finds frames, join back to the source byte for byte, and
// end where the durations summed so far end, within half a frame of the format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "streams/audio_split.h"
#include "streams/ffmpeg_oracle.h"
#include "streams/wav.h"

namespace tess::streams {
namespace {

using test::ReadFileBytes;

// Copies the sample into Dir and splits it into segments of Durations.
TSplitOutcome Split(core::RunContext& Run, const test::TempDir& Dir, const std::string& Sample, double FrameRate,
                    const std::vector<core::TTimeCode>& Durations, std::vector<AudioSegmentEntry>& Entries,
                    bool DeleteTiny = false) {
  const std::string source = Dir.File("source" + Sample.substr(Sample.rfind('.')));
  std::filesystem::copy_file(test::DataFile("streams/" + Sample), source, std::filesystem::copy_options::skip_existing);
  for (size_t i = Entries.size(); i < Durations.size(); ++i)
    Entries.push_back({Durations[i], Dir.File("segment" + std::to_string(i) + source.substr(source.rfind('.')))});
  TSplitOutcome result = TSplitOutcome::NotThisFormat;
  for (TSplitOutcome o : {SplitAc3File(Run, source, Entries, FrameRate, nullptr),
                          SplitDtsFile(Run, source, Entries, FrameRate, nullptr),
                          SplitWavFile(Run, source, Entries, DeleteTiny, FrameRate, nullptr),
                          SplitMpaFile(Run, source, Entries, FrameRate, nullptr)}) {
    EXPECT_TRUE(o == TSplitOutcome::NotThisFormat || result == TSplitOutcome::NotThisFormat) << "two splitters";
    if (o != TSplitOutcome::NotThisFormat) result = o;
  }
  return result;
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
      {"audio_48k_2ch.ac3", 29.97, {{0, 0, 1, 0}, {0, 0, 1, 0}, {}}}, {"audio_48k_2ch.ac3", 25, {{0, 0, 9, 0}}},
      {"audio_48k_2ch.eac3", 25, {{0, 0, 0, 13}, {0, 0, 1, 2}, {0, 0, 0, 1}, {}}},
      // 7.1 (a dependent substream frame after each frame), and frames of one block.
      {"a_48k_8ch.eac3", 25, {{0, 0, 0, 3}, {0, 0, 0, 2}, {}}}, {"a_48k_2ch_1blk.eac3", 29.97, {{0, 0, 0, 1}, {}}},
      {"a_32k_2ch.ac3", 29.97, {{0, 0, 0, 3}, {0, 0, 0, 4}, {}}},
      {"a_44k_1ch.dts", 25, {{0, 0, 0, 2}, {0, 0, 0, 2}, {}}},
      {"audio_48k_2ch.dts", 30, {{0, 0, 0, 10}, {0, 0, 0, 11}, {}}},
      {"audio_48k_2ch.mp2", 25, {{0, 0, 1, 0}, {0, 0, 0, 13}, {}}},
      {"a_44k_1ch.mp2", 29.97, {{0, 0, 0, 4}, {0, 0, 0, 5}, {0, 0, 0, 1}, {}}},
      {"w_44k_1ch_16.wav", 29.97, {{0, 0, 0, 7}, {0, 0, 0, 5}, {}}}, {"w_48k_2ch_list.wav", 25, {{}, {}, {}}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.Name) + " at " + std::to_string(row.FrameRate));
    test::TempDir dir;
    std::vector<AudioSegmentEntry> entries;
    ASSERT_EQ(Split(project.Form, dir, row.Name, row.FrameRate, row.Durations, entries), TSplitOutcome::Done);
    const std::string source = dir.File("source" + std::filesystem::path(row.Name).extension().string());
    const auto whole = ReadFileBytes(source);
    const std::vector<int64_t> frames = test::PacketOffsets(source);  // the samples of a WAV
    WavHeader wav;
    const bool isWav = WavFindDataChunk(source, wav);
    const double rate = static_cast<double>(test::ProbeStream(source)["sample_rate"]);
    // An E-AC-3 frame plays 256 samples a block: ffprobe's first packet tells.
    const std::string first = test::RunTool("ffprobe -v error -read_intervals %+#1 -show_entries "
                                            "packet=duration_time -of csv=p=0 " + test::Quoted(source)).Out;
    const double perFrame = source.ends_with(".dts") ? 512 : source.ends_with(".mp2") ? 1152 : isWav ? 1
                            : std::stod(first) * rate;
    // MPEG audio segments begin with the first audio frame, WAV segments with
    // a header of their own.
    int64_t at = isWav ? wav.DataOffset : source.ends_with(".mp2") ? frames.front() : 0;
    std::vector<uint8_t> joined(whole.begin(), whole.begin() + at);
    double samples = 0, wanted = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      const auto bytes = ReadFileBytes(entries[i].OutputFileName);
      WavHeader h;
      const int64_t from = isWav && WavFindDataChunk(entries[i].OutputFileName, h) ? h.DataOffset : 0;
      const bool onFrame = at == 0 || std::binary_search(frames.begin(), frames.end(), at);
      EXPECT_TRUE(isWav ? h.DataSize % wav.BlockAlign == 0 : onFrame) << "segment " << i;
      // The source's frames (or samples) the segment holds; tiny segments are
      // past ffprobe's own recognition.
      const int64_t end = at + static_cast<int64_t>(bytes.size()) - from;
      samples += isWav ? static_cast<double>(end - at) / wav.BlockAlign
                       : static_cast<double>(std::lower_bound(frames.begin(), frames.end(), end) -
                                             std::lower_bound(frames.begin(), frames.end(), at)) * perFrame;
      joined.insert(joined.end(), bytes.begin() + from, bytes.end());
      at = end;
      const core::TTimeCode& d = entries[i].Duration;
      wanted += ((d.Hours * 60 + d.Minutes) * 60 + d.Seconds + d.Frames / std::round(row.FrameRate)) *
                (row.FrameRate > 29 ? 1.001 : 1);
      if (i + 1 < entries.size()) {
        EXPECT_NEAR(samples / rate, wanted, (perFrame / 2 + 2) / rate) << "end of segment " << i;
      }
    }
    EXPECT_TRUE(joined == whole);
  }
}

TEST(AudioSplit, ASegmentThatCannotBeMadeFailsTheSplitAndTheSourceStays) {
  test::CoreProject project;
  test::TempDir dir;
  const std::vector<core::TTimeCode> halves = {{0, 0, 1, 0}, {}};
  // Into a missing folder, over the source itself, onto a full disk.
  const std::pair<std::string, rlim_t> cases[] = {
      {dir.File("missing/segment1.ac3"), RLIM_INFINITY}, {dir.File("source.ac3"), RLIM_INFINITY},
      {dir.File("segment1.ac3"), 4096}};
  for (const auto& [second, limit] : cases) {
    std::vector<AudioSegmentEntry> entries{{halves[0], dir.File("segment0.ac3")}, {{}, second}};
    const test::FileSizeLimit full(limit);
    EXPECT_EQ(Split(project.Form, dir, "audio_48k_2ch.ac3", 25, halves, entries), TSplitOutcome::Failed) << second;
    EXPECT_EQ(project.Form.WriteStopped, limit != RLIM_INFINITY);  // a write error stops the run
    project.Form.Abort = project.Form.WriteStopped = false;
  }
  EXPECT_TRUE(project.LogContains("Audio file " + dir.File("source.ac3") + " is not split"));
  EXPECT_TRUE(ReadFileBytes(dir.File("source.ac3")) == ReadFileBytes(test::DataFile("streams/audio_48k_2ch.ac3")));
  // A WAV segment past the source's end holds no sample: kept as a header, or deleted when asked.
  std::vector<AudioSegmentEntry> entries;
  for (bool deleteTiny : {false, true}) {
    EXPECT_EQ(Split(project.Form, dir, "w_44k_1ch_16.wav", 25, {{0, 0, 2, 0}, {}}, entries, deleteTiny),
              TSplitOutcome::Done);
    EXPECT_EQ(std::filesystem::exists(entries[1].OutputFileName), !deleteTiny);
  }
}

}  // namespace
}  // namespace tess::streams
