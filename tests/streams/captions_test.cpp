#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "streams/captions.h"
#include "streams/m2v_cache.h"
#include "streams/m2v_stream.h"
#include "streams/video_oracle.h"
#include "support/test_support.h"

namespace tess::test {
namespace {

// The caption texts ffmpeg reads from a file, one per subtitle; Input is the
// ffmpeg input (with its format options).
std::vector<std::string> CaptionTexts(const std::string& Input) {
  const std::string srt = RunCommand("ffmpeg -v error " + Input + " -map 0:s -f srt - 2>/dev/null");
  std::vector<std::string> texts;
  std::stringstream in(srt);
  std::string line;
  while (std::getline(in, line)) {
    const size_t open = line.find("}"), close = line.rfind("</font>");
    if (open != std::string::npos && close != std::string::npos)
      texts.push_back(line.substr(open + 1, close - open - 1));
  }
  return texts;
}

// The caption bytes of an SCC file's lines, in order.
std::string SccBytes(const std::string& File) {
  const auto raw = ReadFileBytes(File);
  std::stringstream in(std::string(raw.begin(), raw.end()));
  std::string line, bytes;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::stringstream words(line.size() > 14 ? line.substr(14) : "");
    std::string word;
    while (words >> word) {
      bytes += static_cast<char>(std::stoi(word.substr(0, 2), nullptr, 16));
      bytes += static_cast<char>(std::stoi(word.substr(2, 2), nullptr, 16));
    }
  }
  return bytes;
}

// Captions in the user data come out as an SCC file that ffmpeg reads as the
// captions it finds in the video itself; a new scan writes the file anew.
TEST(Captions, SccFilesCarryWhatFfmpegReadsFromTheVideo) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  CoreProject p;
  TempDir dir;
  const std::string video = CopySample(dir.Path(), "m2v_captions.m2v");
  const std::vector<std::string> expected = CaptionTexts("-f lavfi -i 'movie=" + video + "[out0+subcc]'");
  ASSERT_EQ(expected.size(), 2u);

  for (int scan = 0; scan < 2; ++scan) {
    std::filesystem::remove(video + ".vnf");
    streams::TM2VInfoRecord record;
    ASSERT_TRUE(streams::ScanM2VToInfoRecord(p.Form, video, nullptr, nullptr, record, 0, true, true, {}));
    EXPECT_EQ(record[streams::m2v_info::kLine21Switch1], 1);
    EXPECT_EQ(record[streams::m2v_info::kLine21Switch2], 0);
  }
  EXPECT_EQ(CaptionTexts("-f scc -i " + Quote(video + ".cc1")), expected);
  EXPECT_FALSE(std::filesystem::exists(video + ".cc2"));
  std::string text;
  streams::CaptionBytesToText(SccBytes(video + ".cc1"), text);
  EXPECT_EQ(text, expected[0] + expected[1]);
}

// The copy without user data decodes to the same frames and carries no
// captions; it replaces the video only when nothing stopped it.
TEST(Captions, RemovingUserData) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  CoreProject p;
  TempDir dir;
  const std::string video = CopySample(dir.Path(), "m2v_captions.m2v");
  const auto before = ReadFileBytes(video);
  const auto hashes = FrameHashes(video);

  p.Form.Abort = 1;
  EXPECT_FALSE(streams::RemoveM2VUserData(p.Form, video));
  EXPECT_EQ(ReadFileBytes(video), before);
  p.Form.Abort = 0;

  ASSERT_TRUE(streams::RemoveM2VUserData(p.Form, video));
  EXPECT_FALSE(std::filesystem::exists(video + ".cc0"));
  EXPECT_EQ(ReadFileBytes(video), WithoutUserData(before));
  EXPECT_EQ(FrameHashes(video), hashes);
  EXPECT_TRUE(CaptionTexts("-f lavfi -i 'movie=" + video + "[out0+subcc]'").empty());

  // A block longer than the reader's buffer goes too, the start code after it
  // before, across and after the buffer's edge.
  size_t at = 0;
  WithLongUserData(before, 1, &at);
  for (int edge = -3; edge <= 1; ++edge) {
    const auto longer = WithLongUserData(before, static_cast<size_t>(streams::kM2VReadBufferSize + edge) - at - 4);
    WriteFileBytes(video, longer);
    ASSERT_TRUE(streams::RemoveM2VUserData(p.Form, video));
    EXPECT_EQ(ReadFileBytes(video), WithoutUserData(longer)) << edge;
  }
}

}  // namespace
}  // namespace tess::test
