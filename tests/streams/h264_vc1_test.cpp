#include <gtest/gtest.h>

#include <sstream>

#include "streams/h264.h"
#include "streams/unit_count.h"
#include "streams/vc1.h"
#include "streams/video_oracle.h"
#include "support/test_support.h"

namespace tess::test {
namespace {

// What ffprobe reads of a stream's headers, and its unit count (decoded
// frames for H.264; VC-1 samples carry no real pictures, so their packets).
std::map<std::string, std::string> ProbeHeaders(const std::string& File, const char* Count) {
  const std::string out = RunCommand("ffprobe -v quiet -select_streams v:0 " + std::string(Count) +
                                     " -show_entries stream=width,height,r_frame_rate,sample_aspect_ratio,"
                                     "nb_read_frames,nb_read_packets -of compact=p=0 " +
                                     Quote(File));
  std::map<std::string, std::string> f;
  std::stringstream in(out);
  std::string item;
  while (std::getline(in, item, '|')) {
    const size_t eq = item.find('=');
    if (eq != std::string::npos) f[item.substr(0, eq)] = item.substr(eq + 1, item.find_first_of("\r\n", eq) - eq - 1);
  }
  return f;
}

double Rate(const std::string& Fraction) {
  const size_t slash = Fraction.find('/');
  return std::stod(Fraction.substr(0, slash)) / std::stod(Fraction.substr(slash + 1));
}

// One row per sample: the display aspect the analyser names, the pixel aspect
// ffprobe reads, and whether the stream carries a frame rate of its own.
struct TRow {
  const char* Name;
  const char* Aspect;
  const char* ProbeSar;
  bool HasRate;
};

TEST(H264Stream, MeasuresLikeFfprobe) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  CoreProject p;
  TempDir dir;
  const TRow rows[] = {
      {"streams/h264_ntsc_aud.264", "4:3", "10:11", true},    {"streams/h264_ntsc.264", "4:3", "10:11", true},
      {"streams/h264_interlaced_aud.264", "16:9", "40:33", true},
      {"streams/h264_interlaced.264", "16:9", "40:33", true}, {"streams/h264_pal_wide.264", "16:9", "16:11", true},
      {"streams/h264_pal_notiming.264", "", "16:11", false},
  };
  std::vector<std::pair<std::string, TRow>> files;
  for (const TRow& r : rows) files.emplace_back(DataFile(r.Name), r);

  // An access unit delimiter across the edge of the counting blocks: zeros
  // before it (allowed between units) put its start code there.
  constexpr size_t kEdge = streams::kStartCodeBlockSize;
  const auto bytes = ReadFileBytes(DataFile(rows[0].Name));
  std::vector<uint8_t> joined;
  while (joined.size() < kEdge + bytes.size()) joined.insert(joined.end(), bytes.begin(), bytes.end());
  size_t at = 0;
  for (size_t i = 0; i + 2 < kEdge; ++i)
    if (joined[i] == 0 && joined[i + 1] == 0 && joined[i + 2] == 1 && joined[i + 3] == 9) at = i;
  joined.insert(joined.begin() + static_cast<std::ptrdiff_t>(at), kEdge - 2 - at, 0);
  WriteFileBytes(dir.File("edge.264"), joined);
  files.emplace_back(dir.File("edge.264"), rows[0]);

  for (const auto& [file, row] : files) {
    SCOPED_TRACE(file);
    const auto probe = ProbeHeaders(file, "-count_frames");
    streams::TM4VStream m(p.Form, file, &p.Form.Abort, &p.Form.ProgressBar1);
    ASSERT_TRUE(m.Scan());
    EXPECT_EQ(std::to_string(m.PictureCount), probe.at("nb_read_frames"));
    EXPECT_EQ(std::to_string(m.Width), probe.at("width"));
    EXPECT_EQ(std::to_string(m.Height), probe.at("height"));
    EXPECT_EQ(m.AspectText, row.Aspect);
    EXPECT_EQ(probe.at("sample_aspect_ratio"), row.ProbeSar);
    EXPECT_NEAR(m.FrameRate, row.HasRate ? Rate(probe.at("r_frame_rate")) : 0, 0.01);
  }
}

TEST(VC1Stream, MeasuresLikeFfprobe) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  CoreProject p;
  const TRow rows[] = {
      {"streams/vc1_ntsc.vc1", "4:3", "10:11", true},
      {"streams/vc1_pal_wide.vc1", "16:9", "16:11", true},
      {"streams/vc1_plain.vc1", "", "N/A", false},
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Name);
    const auto probe = ProbeHeaders(DataFile(r.Name), "-f vc1 -count_packets");
    streams::TVC1Stream m(p.Form, DataFile(r.Name), &p.Form.Abort, nullptr);
    ASSERT_TRUE(m.Analyze());
    EXPECT_EQ(std::to_string(m.FrameCount), probe.at("nb_read_packets"));
    EXPECT_EQ(std::to_string(m.DisplayWidth), probe.at("width"));
    EXPECT_EQ(std::to_string(m.DisplayHeight), probe.at("height"));
    EXPECT_EQ(m.AspectText, r.Aspect);
    EXPECT_EQ(probe.at("sample_aspect_ratio"), r.ProbeSar);
    EXPECT_NEAR(m.FrameRate, r.HasRate ? Rate(probe.at("r_frame_rate")) : 0, 0.01);
  }
}

}  // namespace
}  // namespace tess::test
