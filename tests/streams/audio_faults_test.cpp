// Damaged, tiny and oversized inputs: no reader runs past what it holds, a
// damaged stream still cuts at its frames, and what cannot be done is refused
// with a log line instead of written as noise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "core/files.h"
#include "streams/ac3.h"
#include "streams/captions.h"
#include "streams/display_ratio.h"
#include "streams/dts.h"
#include "streams/ffmpeg_oracle.h"
#include "streams/m2v_cache.h"
#include "streams/mlp.h"
#include "streams/mpa.h"
#include "streams/wav.h"

namespace tess::streams {
namespace {

using test::DataFile;
using test::ReadFileBytes;
using test::WriteFileBytes;
using Bytes = std::vector<uint8_t>;

Bytes Head(const char* Name, size_t Count) {
  Bytes b = ReadFileBytes(DataFile(std::string("streams/") + Name));
  b.resize(std::min(Count, b.size()));
  return b;
}

TEST(AudioFaults, TinyAndCutShortFilesReadAsNothing) {
  test::CoreProject project;
  auto& run = project.Form;
  const Bytes inputs[] = {
      {},
      {0x0B},
      {0x0B, 0x77},
      {0x7F, 0xFE, 0x80, 0x01},
      {'I', 'D', '3'},
      {0xFF, 0xFB},
      {0xF8, 0x72, 0x6F, 0xBB},
      {0xF8, 0x72, 0x6F, 0xBA, 0x00},
      {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 0xFF, 0xFF, 0xFF, 0x7F},
      Head("a_48k_6ch.ac3", 9),
      Head("a_48k_6ch.eac3", 40),
      Head("a_48k_6ch.dts", 14),
      Head("a_44k_2ch.mp3", 40),
      Head("w_48k_6ch_ext.wav", 60)};
  for (const Bytes& input : inputs) {
    SCOPED_TRACE("input of " + std::to_string(input.size()) + " bytes");
    test::TempDir dir;
    const std::string file = dir.File("in.bin");
    WriteFileBytes(file, input);
    EXPECT_EQ(Ac3CountFrames(run, file, false), 0);
    EXPECT_EQ(Ac3CountFrames(run, file, true), 0);
    static_cast<void>(Ac3ReadFrameSize(file) + Ac3ReadLfeOn(file) + Ac3ReadBitRateCode(file) + Ac3ReadBsMode(file));
    EXPECT_EQ(DtsCountFrames(run, file), 0);
    DtsHeader dts;
    DtsReadHeader(file, true, dts);
    DtsInfo info;
    DtsReadInfo(file, info);
    MpaFileInfoRecord mpa;
    EXPECT_TRUE(MpaFileInfo(run, file, true, mpa));
    EXPECT_EQ(mpa.Frames, 0);
    EXPECT_EQ(mpa.SampleRate, 0);
    TMLPstream mlp(file);
    EXPECT_EQ(mlp.SampleRate + mlp.Channels, 0);
    WavHeader wav;
    EXPECT_FALSE(WavFindDataChunk(file, wav));
    EXPECT_FALSE(WavCutBySamples(run, file, dir.File("cut.wav"), 0, 0, nullptr, -1));
    EXPECT_FALSE(WavFixHeader(run, file));
    // What cannot be cut at a frame is kept whole.
    EXPECT_TRUE(Ac3CutByFrames(run, file, dir.File("cut.ac3"), 0, 0, nullptr, -1));
    EXPECT_TRUE(DtsCutByFrames(run, file, dir.File("cut.dts"), 0, 0, nullptr, -1));
    EXPECT_EQ(MpaCutBySamples(run, file, dir.File("cut.mpa"), 0, 0, nullptr, -1).Samples, 0);
    for (const char* cut : {"cut.ac3", "cut.dts", "cut.mpa"}) EXPECT_TRUE(ReadFileBytes(dir.File(cut)) == input) << cut;
    TEC3Stream ec3(file);
    EXPECT_NO_THROW(ec3.Open());
  }
}

TEST(AudioFaults, DamagedStreamsStillCutAtTheirFrames) {
  test::CoreProject project;
  // Junk with sync patterns in it between two frames, and (DTS) an extension
  // substream after every core frame: the walk steps over both, so counting
  // and cutting see the same frames and every cut starts on one.
  const Bytes junk = {0x0B, 0x77, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7F, 0xFE, 0x80, 0x01, 0, 0, 0, 0, 0, 0x55};
  // 16 bytes whose short header gives a size field of 15.
  const Bytes substream = {0x64, 0x58, 0x20, 0x25, 0x00, 0x00, 0x00, 0x01, 0xE0, 0, 0, 0, 0, 0, 0, 0};
  for (const char* name : {"a_48k_6ch.ac3", "a_44k_1ch.ac3", "a_48k_6ch.eac3", "a_44k_1ch.dts", "a_32k_2ch.dts"}) {
    SCOPED_TRACE(name);
    test::TempDir dir;
    const bool dts = std::string(name).ends_with(".dts");
    const std::string source = DataFile(std::string("streams/") + name);
    const int64_t frames =
        dts ? DtsCountFrames(project.Form, source) : Ac3CountFrames(project.Form, source, false) / kAc3SamplesPerFrame;
    // The frame starts of the clean source, by cutting it one frame at a time.
    std::vector<Bytes> clean;
    for (int64_t i = 0; i < frames; ++i) {
      const std::string f = dir.File(std::to_string(i) + ".frame");
      ASSERT_TRUE(dts ? DtsCutByFrames(project.Form, source, f, i, 0, nullptr, 1)
                      : Ac3CutByFrames(project.Form, source, f, i, 0, nullptr, 1));
      clean.push_back(ReadFileBytes(f));
    }
    Bytes damaged;
    for (size_t i = 0; i < clean.size(); ++i) {
      damaged.insert(damaged.end(), clean[i].begin(), clean[i].end());
      if (dts) damaged.insert(damaged.end(), substream.begin(), substream.end());
      if (i == 2) damaged.insert(damaged.end(), junk.begin(), junk.end());
    }
    const std::string bad = dir.File("damaged.bin");  // the cutters do not go by the name
    WriteFileBytes(bad, damaged);
    EXPECT_EQ(dts ? DtsCountFrames(project.Form, bad) : Ac3CountFrames(project.Form, bad, false) / 1536, frames);
    const std::string middle = dir.File("middle");
    ASSERT_TRUE(dts ? DtsCutByFrames(project.Form, bad, middle, 2, 0, nullptr, 2)
                    : Ac3CutByFrames(project.Form, bad, middle, 2, 0, nullptr, 2));
    Bytes expected = clean[2];
    if (dts) expected.insert(expected.end(), substream.begin(), substream.end());
    expected.insert(expected.end(), junk.begin(), junk.end());
    expected.insert(expected.end(), clean[3].begin(), clean[3].end());
    if (dts) expected.insert(expected.end(), substream.begin(), substream.end());
    EXPECT_TRUE(ReadFileBytes(middle) == expected);
  }
}

TEST(AudioFaults, RefusalsLeaveFilesAsTheyWere) {
  test::CoreProject project;
  auto& run = project.Form;
  test::TempDir dir;

  // Bytes before the first sync word go; the file is replaced only whole.
  const Bytes ac3 = ReadFileBytes(DataFile("streams/audio_48k_2ch.ac3"));
  Bytes shifted(ac3.size() + 1, 0x42);
  std::copy(ac3.begin(), ac3.end(), shifted.begin() + 1);
  WriteFileBytes(dir.File("trim.ac3"), shifted);
  EXPECT_TRUE(Ac3TrimToFirstSync(run, dir.File("trim.ac3")));
  EXPECT_TRUE(ReadFileBytes(dir.File("trim.ac3")) == ac3);
  EXPECT_FALSE(Ac3TrimToFirstSync(run, dir.File("trim.ac3")));

  // Layouts the converter has no order for, and WAVs of 4 GiB and more.
  WriteFileBytes(dir.File("odd.pcm"), Bytes(1200, 0x11));
  for (const auto& [bits, channels, rate] : {std::tuple{24, 4, 48000}, {16, 2, 0}, {0, 2, 48000}, {16, 9, 48000}})
    EXPECT_FALSE(ConvertLpcmToWav(run, dir.File("odd.pcm"), bits, channels, rate));
  EXPECT_FALSE(ConvertLpcmToWav(run, dir.File("missing.pcm"), 16, 2, 48000));
  const std::string huge = dir.File("huge.pcm");
  WriteFileBytes(huge, {});
  ASSERT_EQ(::truncate(huge.c_str(), int64_t{1} << 32), 0);  // sparse: takes no room
  EXPECT_FALSE(ConvertLpcmToWav(run, huge, 16, 2, 48000));
  EXPECT_FALSE(std::filesystem::exists(dir.File("odd.wav")) || std::filesystem::exists(dir.File("huge.wav")));
  EXPECT_TRUE(project.LogContains("4 GiB"));
  EXPECT_TRUE(project.LogContains("no known sample order"));
  const Bytes wav = ReadFileBytes(DataFile("streams/w_48k_2ch_list.wav"));
  WriteFileBytes(dir.File("small.wav"), wav);
  EXPECT_FALSE(AppendFileData(run, huge, dir.File("small.wav"), false, nullptr));
  EXPECT_TRUE(ReadFileBytes(dir.File("small.wav")) == wav);

  // Stop: no cut is left behind, whole or half.
  run.Abort = 1;
  EXPECT_FALSE(Ac3CutByFrames(run, DataFile("streams/audio_48k_2ch.ac3"), dir.File("stopped.ac3"), 0, 0, nullptr, -1));
  EXPECT_FALSE(WavCutBySamples(run, dir.File("small.wav"), dir.File("stopped.wav"), 0, 0, nullptr, -1));
  EXPECT_FALSE(AppendFileData(run, dir.File("small.wav"), dir.File("small.wav"), false, nullptr));
  EXPECT_TRUE(ReadFileBytes(dir.File("small.wav")) == wav);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 4);  // the files made above
}

// A read error (EIO) halfway through a source fails whatever reads it: the
// source stays as it was, nothing is made from half of it (no copy in its
// place, no cache, index, segment or WAV) and the run notes the file.
TEST(AudioFaults, AReadErrorFailsTheWalkAndMakesNothingFromIt) {
  using Walk = std::function<bool(core::RunContext&, const std::string&, const std::string&)>;
  const std::pair<const char*, Walk> rows[] = {
      {"m2v_captions.m2v", [](auto& R, auto& F, auto&) { return RemoveM2VUserData(R, F); }},
      {"m2v_half_d1.m2v", [](auto& R, auto& F, auto&) { return ScanM2VFileTo540(R, F, nullptr, nullptr, false); }},
      {"m2v_pal_wide.m2v", [](auto& R, auto& F, auto&) { return ScanM2VFile(R, F, nullptr, nullptr, false); }},
      {"video_720x480.m2v",
       [](auto& R, auto& F, auto&) { TM2VInfoRecord i; return GetM2VInfoRecord(R, F, {}, {}, i, {}); }},
      {"m2v_stills.m2v", [](auto& R, auto& F, auto&) { return BuildIposIndex(R, F); }},
      {"lpcm_48k_2ch_16.pcm", [](auto& R, auto& F, auto&) { return ConvertLpcmToWav(R, F, 16, 2, 48000); }},
      {"w_44k_1ch_16.wav", [](auto& R, auto& F, auto& D) { return WavCutBySamples(R, F, D, 0, 0, nullptr, -1); }},
      {"audio_48k_2ch.ac3", [](auto& R, auto& F, auto& D) { return Ac3CutByFrames(R, F, D, 0, 0, nullptr, -1); }},
      {"audio_48k_2ch.mp2",
       [](auto& R, auto& F, auto& D) { return MpaCutBySamples(R, F, D, 0, 0, nullptr, -1).Written; }},
      {"a_44k_2ch.mp3", [](auto& R, auto& F, auto&) { MpaFileInfoRecord i; return MpaFileInfo(R, F, true, i); }},
      {"audio_48k_2ch.dts",
       [](auto& R, auto& F, auto& D) { return core::CopyFileRange(R, F, D, nullptr, nullptr, 0, UINT64_MAX, 0); }}};
  for (const auto& [sample, walk] : rows) {
    SCOPED_TRACE(sample);
    test::CoreProject project;
    test::TempDir dir;
    const std::string file = dir.File(sample);
    std::filesystem::copy_file(DataFile(std::string("streams/") + sample), file);
    const Bytes before = ReadFileBytes(file);
    ::setenv("TESS_FAIL_READ", (std::string(sample) + "@" + std::to_string(before.size() / 2)).c_str(), 1);
    const bool done = walk(project.Form, file, dir.File("made.bin"));
    ::unsetenv("TESS_FAIL_READ");
    EXPECT_FALSE(done);
    EXPECT_TRUE(ReadFileBytes(file) == before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "made from half the source";
    EXPECT_EQ(project.Form.Skipped, std::vector<std::string>{"Read error in file " + file});
  }
}

}  // namespace
}  // namespace tess::streams
