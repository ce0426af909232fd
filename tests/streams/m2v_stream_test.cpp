#include <gtest/gtest.h>
#include <sys/time.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "core/run_context.h"
#include "core/timecode.h"
#include "core/vob_file_stream.h"
#include "streams/captions.h"
#include "streams/m2v_cache.h"
#include "streams/m2v_stream.h"
#include "streams/video_oracle.h"
#include "support/test_support.h"

namespace tess::test {
namespace {

using streams::TM2VStream;

// A measuring scan with the index, as the caching callers run it.
void MeasuringScan(TM2VStream& S, bool Cache) {
  S.PlainMode = false;
  S.CacheMode = Cache;
  S.Scan(true, false);
}

std::vector<std::vector<uint8_t>> IndexOf(const TM2VStream& S) {
  std::vector<std::vector<uint8_t>> out;
  for (size_t i = 0; i < S.Index.Count(); ++i) {
    auto p = S.Index.Payload(i);
    std::vector<uint8_t> e(p.begin(), p.end());
    e.insert(e.begin(), static_cast<uint8_t>(S.Index[i].Tag));
    out.push_back(std::move(e));
  }
  return out;
}

// One row per sample: the aspect code the stream carries and how ffprobe
// names that aspect (display aspect for MPEG-2, pixel aspect for MPEG-1).
struct TSample {
  const char* Name;
  uint32_t AspectCode;
  const char* ProbeAspectKey;
  const char* ProbeAspect;
  bool HalfD1;
};
const TSample kSamples[] = {
    {"m2v_ntsc_interlaced.m2v", 2, "display_aspect_ratio", "4:3", false},
    {"m2v_pal_wide.m2v", 3, "display_aspect_ratio", "16:9", false},
    {"m2v_film_telecine.m2v", 3, "display_aspect_ratio", "16:9", false},
    {"m2v_half_d1.m2v", 2, "display_aspect_ratio", "4:3", true},
    {"m1v_ntsc.m1v", 12, "sample_aspect_ratio", "200:219", false},
    {"m1v_pal.m1v", 8, "sample_aspect_ratio", "178:163", false},
    {"m2v_still.m2v", 2, "display_aspect_ratio", "4:3", false},
    {"m2v_stills.m2v", 2, "display_aspect_ratio", "4:3", false},
};

TEST(M2VStream, MeasuresLikeFfprobe) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  CoreProject p;
  for (const TSample& s : kSamples) {
    SCOPED_TRACE(s.Name);
    const std::string file = DataFile(std::string("streams/") + s.Name);
    const TProbe probe = Probe(file);
    TM2VStream m(p.Form, file);
    MeasuringScan(m, false);
    EXPECT_EQ(m.MpegVersion, probe.Stream.at("codec_name") == "mpeg1video" ? 1 : 2);
    EXPECT_EQ(std::to_string(m.HorizontalSize), probe.Stream.at("width"));
    EXPECT_EQ(std::to_string(m.VerticalSize), probe.Stream.at("height"));
    EXPECT_EQ(m.PictureCount, static_cast<double>(probe.Frames.size()));
    EXPECT_EQ(static_cast<int64_t>(m.FieldCount), probe.Fields());
    EXPECT_EQ(static_cast<int64_t>(m.FramesFromFields), probe.Fields() / 2);
    EXPECT_EQ(static_cast<int64_t>(m.GopCount), probe.Count("pict_type", "I"));
    EXPECT_EQ(m.Pulldown, probe.Fields() > 2 * static_cast<int64_t>(probe.Frames.size()));
    EXPECT_NEAR(m.FrameRate(), probe.FrameRate(), 0.02);
    EXPECT_EQ(m.AspectCode, s.AspectCode);
    EXPECT_EQ(probe.Stream.at(s.ProbeAspectKey), s.ProbeAspect);
    EXPECT_EQ(m.IsHalfD1(), s.HalfD1);
    const core::TTimeCode d = m.Duration();
    EXPECT_EQ((d.Hours * 3600 + d.Minutes * 60 + d.Seconds) * m.IntegerRate() + d.Frames,
              static_cast<int64_t>(m.FramesFromFields));
  }
}

// A cached scan gives what a fresh walk gives; a changed video or a cut cache
// is walked again; where no cache can be written the scan goes on without one.
TEST(M2VStream, CacheRoundTripsLikeAFreshScan) {
  CoreProject p;
  TempDir dir;
  for (const TSample& s : kSamples) {
    SCOPED_TRACE(s.Name);
    const std::string file = CopySample(dir.Path(), s.Name);
    TM2VStream fresh(p.Form, file);
    MeasuringScan(fresh, false);
    streams::TM2VInfoRecord freshRecord;
    fresh.WriteInfoFileHeader(false, freshRecord);

    TM2VStream writer(p.Form, file);
    MeasuringScan(writer, true);
    ASSERT_TRUE(streams::IsM2VCacheValid(file));
    TM2VStream reader(p.Form, file);
    MeasuringScan(reader, true);
    EXPECT_TRUE(reader.CacheUsed);
    streams::TM2VInfoRecord cachedRecord;
    reader.WriteInfoFileHeader(false, cachedRecord);
    EXPECT_EQ(cachedRecord, freshRecord);
    EXPECT_EQ(IndexOf(reader), IndexOf(fresh));
    EXPECT_EQ(reader.GopCount, fresh.GopCount);
    EXPECT_EQ(reader.SequenceHeaderCount, fresh.SequenceHeaderCount);
    streams::TM2VInfoRecord got;
    ASSERT_TRUE(streams::GetM2VInfoRecord(p.Form, file, nullptr, nullptr, got, {}));
    reader.WriteInfoFileHeader(true, cachedRecord);
    EXPECT_EQ(got, cachedRecord);
  }

  const std::string file = dir.File(kSamples[0].Name);
  const std::string cache = file + ".vnf";
  TM2VStream again(p.Form, file);
  struct timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimes(file.c_str(), times), 0);
  MeasuringScan(again, true);
  EXPECT_FALSE(again.CacheUsed);
  std::filesystem::resize_file(cache, std::filesystem::file_size(cache) - 1);
  EXPECT_FALSE(streams::IsM2VCacheValid(file));
  MeasuringScan(again, true);
  EXPECT_FALSE(again.CacheUsed);
  EXPECT_TRUE(streams::IsM2VCacheValid(file));

  // A whole cache with a record it does not know is said to be wrong and rebuilt.
  auto broken = ReadFileBytes(cache);
  broken[streams::kM2VInfoRecordSize] = 99;
  WriteFileBytes(cache, broken);
  ASSERT_EQ(::utimes(file.c_str(), times), 0);
  ASSERT_TRUE(streams::IsM2VCacheValid(file));
  MeasuringScan(again, true);
  EXPECT_FALSE(again.CacheUsed);
  EXPECT_TRUE(p.LogContains("Incorrect cache file. Error code: 99"));
  EXPECT_EQ(again.PictureCount, 30);

  // A folder in the cache's place stands for media that take no new file.
  std::filesystem::remove(cache);
  std::filesystem::create_directories(cache + "/held");
  MeasuringScan(again, true);
  EXPECT_FALSE(again.CacheUsed);
  EXPECT_EQ(again.PictureCount, 30);
  EXPECT_TRUE(std::filesystem::is_directory(cache));
}

// A video written by the demultiplexer is walked by the start codes noted as it
// was written, past its slices unread; what comes out is what a walk that
// reads every byte gives. A map that does not hold for the file is found out
// at the first jump and the walk reads on.
TEST(M2VStream, WalksByNotedStartCodesLikeByReading) {
  TempDir dir;
  std::vector<std::string> names = {"m2v_captions.m2v", "video_720x480.m2v", "long user data"};
  for (const TSample& s : kSamples) names.push_back(s.Name);
  struct TWalk {
    streams::TM2VInfoRecord Record{};
    std::vector<std::vector<uint8_t>> Index, UserData;
    std::vector<int64_t> Foreign;
    std::vector<std::string> Logged;
    bool operator==(const TWalk&) const = default;
  };
  const auto walk = [](core::RunContext& Run, const std::string& File) {
    TWalk w;
    TM2VStream m(Run, File);
    m.OnLog = [&](std::string_view t) { w.Logged.emplace_back(t); };
    m.OnUserData = [&](TM2VStream& S, std::span<const uint8_t> Block) {
      w.UserData.emplace_back(Block.begin(), Block.end());
      streams::HandleCaptionUserData(S, Block);
    };
    MeasuringScan(m, false);
    m.WriteInfoFileHeader(false, w.Record);
    w.Index = IndexOf(m);
    for (const auto& f : m.ForeignData) w.Foreign.push_back(f.Position);
    return w;
  };
  for (const bool lying : {false, true}) {
    for (const std::string& name : names) {
      SCOPED_TRACE(name + (lying ? " (a map of other bytes)" : ""));
      // The long block crosses many edges of the small buffer a jumping walk reads with.
      const auto data = name == "long user data" ? WithLongUserData(ReadFileBytes(DataFile("streams/m2v_captions.m2v")), 30000)
                                                 : ReadFileBytes(DataFile("streams/" + name));
      const std::string file = dir.File(std::to_string(lying) + name + ".m2v");
      CoreProject written;
      auto out = core::TVobFileStream::CreateAppend(written.Form, file, core::TVobFileStream::kModeWrite,
                                                       core::OutputSettings{});
      core::TStartCodeMap* map = written.Form.StartCodeMaps.ForOutput(out->Handle(), 0, 0x01, 0xAF);
      ASSERT_NE(map, nullptr);
      if (!lying) out->StartCodes = map;
      out->Write(data.data(), static_cast<int64_t>(data.size()));
      ASSERT_TRUE(out->Close());
      if (lying) {
        // Fed the bytes turned round by a few: as long, its start codes elsewhere.
        auto turned = data;
        std::rotate(turned.begin(), turned.begin() + 7, turned.end());
        map->Add(turned.data(), turned.size());
        const int fd = ::open(file.c_str(), O_RDONLY);
        map->Seal(fd);
        ::close(fd);
      }
      CoreProject reading;
      EXPECT_TRUE(walk(written.Form, file) == walk(reading.Form, file));
    }
  }
}

TEST(M2VStream, StillsAreIndexedAndSplit) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  CoreProject p;
  TempDir dir;
  const std::string stills = CopySample(dir.Path(), "m2v_stills.m2v");
  const std::string still = CopySample(dir.Path(), "m2v_still.m2v");
  const std::string motion = CopySample(dir.Path(), "m2v_pal_wide.m2v");
  EXPECT_TRUE(streams::IsM2VStill(p.Form, still));
  EXPECT_FALSE(streams::IsM2VStill(p.Form, stills));
  EXPECT_FALSE(streams::IsM2VStill(p.Form, motion));
  EXPECT_FALSE(streams::BuildIposIndex(p.Form, motion));
  EXPECT_FALSE(std::filesystem::exists(motion + ".ipos"));

  ASSERT_TRUE(streams::BuildIposIndex(p.Form, stills));
  EXPECT_EQ(std::filesystem::file_size(stills + ".ipos"), 3u * 8);
  std::vector<std::string> parts;
  ASSERT_EQ(streams::SplitStillFiles(p.Form, stills, parts), 3);
  std::vector<uint8_t> joined;
  for (const std::string& part : parts) {
    EXPECT_EQ(Probe(part).Frames.size(), 1u) << part;
    const auto b = ReadFileBytes(part);
    joined.insert(joined.end(), b.begin(), b.end());
  }
  EXPECT_EQ(joined, ReadFileBytes(stills));
  EXPECT_EQ(parts[1], dir.File("m2v_stills_0002.m2v"));

  ASSERT_TRUE(streams::BuildIposIndex(p.Form, still));
  WriteFileBytes(still + ".times", {1});
  EXPECT_EQ(streams::SplitStillFiles(p.Form, still, parts), 0);
  EXPECT_FALSE(std::filesystem::exists(still + ".ipos"));
  EXPECT_FALSE(std::filesystem::exists(still + ".times"));
}

// Streams that name no valid rate, carry stray start codes after their slices,
// or are cut short are measured without a crash and without a wrong duration.
TEST(M2VStream, FaultyStreams) {
  CoreProject p;
  TempDir dir;
  const auto sample = ReadFileBytes(DataFile("streams/m2v_ntsc_interlaced.m2v"));

  auto reservedRate = sample;
  reservedRate[7] = static_cast<uint8_t>((reservedRate[7] & 0xF0) | 9);  // the first sequence header's rate
  for (size_t i = 8; i + 8 < reservedRate.size(); ++i)
    if (reservedRate[i] == 0 && reservedRate[i + 1] == 0 && reservedRate[i + 2] == 1 && reservedRate[i + 3] == 0xB3)
      reservedRate[i + 7] = static_cast<uint8_t>((reservedRate[i + 7] & 0xF0) | 9);
  WriteFileBytes(dir.File("rate9.m2v"), reservedRate);
  TM2VStream rate9(p.Form, dir.File("rate9.m2v"));
  MeasuringScan(rate9, true);
  EXPECT_EQ(rate9.FrameRateCode, 0u);
  EXPECT_EQ(rate9.Duration(), core::TTimeCode{});
  EXPECT_EQ(rate9.PictureCount, 30);

  // Before the second sequence header: a reserved code, user data and a
  // program-stream packet, all after the last slice of a picture.
  const std::vector<uint8_t> stray = {0, 0, 1, 0xB6, 7, 0, 0, 1, 0xB2, 'x', 'y', 0, 0, 1, 0xE0, 0, 2, 0xAA, 0xBB};
  auto strayed = sample;
  size_t second = 0;
  for (size_t i = 4, n = 0; i + 4 < strayed.size() && !second; ++i)
    if (strayed[i] == 0 && strayed[i + 1] == 0 && strayed[i + 2] == 1 && strayed[i + 3] == 0xB3 && ++n == 1) second = i;
  strayed.insert(strayed.begin() + static_cast<std::ptrdiff_t>(second), stray.begin(), stray.end());
  WriteFileBytes(dir.File("stray.m2v"), strayed);
  TM2VStream s(p.Form, dir.File("stray.m2v"));
  std::vector<std::string> logged;
  s.OnLog = [&](std::string_view t) { logged.emplace_back(t); };
  MeasuringScan(s, false);
  EXPECT_EQ(s.PictureCount, 30);
  EXPECT_EQ(s.SequenceHeaderCount, 3u);
  ASSERT_EQ(s.ForeignData.size(), 1u);
  EXPECT_EQ(s.ForeignData[0].Position, static_cast<int64_t>(second + 11));
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "Find not formatted stream or data: E0 - Video Stream, FilePos: " +
                           std::to_string(second + 11) + ", Length: 8 bytes.");

  for (size_t cut : {size_t{5}, size_t{40}, sample.size() / 2 + 1}) {
    WriteFileBytes(dir.File("cut.m2v"), std::vector<uint8_t>(sample.begin(), sample.begin() + cut));
    TM2VStream c(p.Form, dir.File("cut.m2v"));
    MeasuringScan(c, true);
    EXPECT_LE(c.PictureCount, 30) << cut;
  }

  // A Stop asked before the scan stays asked, and leaves no cache.
  p.Form.Abort = 1;
  TM2VStream stopped(p.Form, dir.File("stray.m2v"));
  stopped.AbortFlag = &p.Form.Abort;
  MeasuringScan(stopped, true);
  EXPECT_EQ(p.Form.Abort, 1);
  EXPECT_EQ(stopped.PictureCount, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("stray.m2v.vnf")));
  p.Form.Abort = 0;
}

TEST(M2VStream, AppendSequenceEnd) {
  TempDir dir;
  struct TRow {
    std::vector<uint8_t> Tail, Expected;
    bool Result;
  };
  const TRow rows[] = {
      {{0x12, 0, 0, 1}, {0x12, 0, 0, 0, 0, 0, 1, 0xB7}, true},
      {{0x12, 0x34, 0x01}, {0x12, 0x34, 0x01, 0, 0, 1, 0xB7}, true},
      {{0x12, 0, 0, 1, 0xB7}, {0x12, 0, 0, 1, 0xB7}, false},
  };
  for (const TRow& r : rows) {
    WriteFileBytes(dir.File("e.m2v"), r.Tail);
    EXPECT_EQ(streams::AppendM2VSequenceEnd(dir.File("e.m2v")), r.Result);
    EXPECT_EQ(ReadFileBytes(dir.File("e.m2v")), r.Expected);
  }
  EXPECT_FALSE(streams::AppendM2VSequenceEnd(dir.File("missing.m2v")));
}

}  // namespace
}  // namespace tess::test
