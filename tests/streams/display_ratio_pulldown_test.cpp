#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "core/byte_order.h"
#include "disc/ifo_readers.h"
#include "streams/display_ratio.h"
#include "streams/m2v_stream.h"
#include "streams/pulldown.h"
#include "streams/video_oracle.h"
#include "support/disc_support.h"

namespace tess::test {
namespace {

TEST(VideoAspects, TitleSetTallies) {
  DiscProject p;
  DiscForm& d = p.Form;
  d.TitleSetCount = 2;
  disc::ReadVTSI(p.Form, d, d.IFOFiles[1], DataFile("dvdvideo/VTS_01_0.IFO"), d.StringGrid1);
  // dvdauthor's 4:3 titles forbid automatic pan-scan; its menus carry no attributes.
  EXPECT_EQ(streams::VideoAspectMode(d, true, 1), streams::kAspect4x3);
  EXPECT_EQ(streams::VideoAspectMode(d, false, 1), streams::kAspectPanScan);

  struct TEntry {
    const char* Aspect;
    int32_t TitleSet, DomainNumber;
    uint8_t Still;
  };
  const TEntry entries[] = {
      {"16 : 9", 1, 1, 0},           {"16 : 9", 1, 2, 0},          {"4 : 3", 1, 1, 0},
      {"4 : 3", 1, 1, 0},            {"4 : 3 (Pan-scan)", 1, 0, 0}, {"4 : 3 (Pan-scan)", 1, 0, 0},
      {"4 : 3", 1, 0, 1},            {"16 : 9", 1, -1, 0},          {"4 : 3", 2, 1, 0},
  };
  for (const TEntry& e : entries) {
    disc::TVideoStreamEntry& v = d.VideoStreams.emplace_back();
    v.AspectText = e.Aspect;
    v.DomainIndex = e.TitleSet;
    v.DomainNumber = e.DomainNumber;
    v.StillMark = e.Still;
  }
  EXPECT_EQ(streams::CountMotionVideoAspects(d, true, 1), streams::kAspect16x9);  // a tie goes to 16:9
  EXPECT_EQ(streams::CountMotionVideoAspects(d, false, 1), streams::kAspectPanScan);
  EXPECT_EQ(streams::CountStillVideoAspects(d, false, 1), streams::kAspect4x3);
  EXPECT_EQ(streams::CountAllVideoAspects(d, false, 1), streams::kAspectPanScan);
  EXPECT_EQ(streams::CountStillVideoAspects(d, true, 1), streams::kAspect16x9);  // none at all
  EXPECT_EQ(streams::CountMotionVideoAspects(d, true, 2), streams::kAspect4x3);
}

// The corrections decode to the same frames with the new aspect; the 540 copy
// replaces the video only when nothing stopped it.
TEST(VideoAspects, CorrectedFilesDecodeToTheSameFrames) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  CoreProject p;
  TempDir dir;
  using TCorrection = bool (*)(core::RunContext&, const std::string&, uint8_t*, const std::function<void()>&, bool);
  struct TRow {
    const char* Sample;
    TCorrection Correct;
    uint32_t AspectCode;
    uint32_t DisplayWidth;
  };
  const TRow rows[] = {
      {"m2v_ntsc_interlaced.m2v", streams::ScanM2VFileMode2, 3, 0},
      {"m2v_pal_wide.m2v", streams::ScanM2VFile, 2, 720},
      {"m1v_ntsc.m1v", streams::ScanM2VFile, 12, 0},  // MPEG-1 at 29.97: the 525-line 4:3 pixel
      {"m1v_pal.m1v", streams::ScanM2VFileMode2, 3, 0},
      {"m2v_pal_wide.m2v", streams::ScanM2VFileTo540, 2, 540},
      {"m2v_ntsc_interlaced.m2v", streams::ScanM2VFileTo540, 2, 540},
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Sample);
    const std::string file = CopySample(dir.Path(), r.Sample);
    const auto hashes = FrameHashes(file);
    ASSERT_TRUE(r.Correct(p.Form, file, nullptr, {}, false));
    EXPECT_EQ(FrameHashes(file), hashes);
    streams::TM2VStream m(p.Form, file);
    m.Scan(false, false);
    EXPECT_EQ(m.AspectCode, r.AspectCode);
    EXPECT_EQ(m.AspectChanges, 0u);
    EXPECT_EQ(m.DisplayHorizontalSize, r.DisplayWidth);
  }
  const std::string file = CopySample(dir.Path(), "m2v_pal_wide.m2v");
  const auto before = ReadFileBytes(file);
  p.Form.Abort = 1;
  EXPECT_FALSE(streams::ScanM2VFileTo540(p.Form, file, nullptr, {}, false));
  p.Form.Abort = 0;
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_FALSE(std::filesystem::exists(file + ".ps"));
}

// The ".vif" of the pulldown command has a record per field, in stream order,
// with the picture flags ffprobe reads; its header names the fullest GOP.
TEST(Pulldown, VifRecordsMatchFfprobe) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  CoreProject p;
  TempDir dir;
  for (const char* sample : {"m2v_film_telecine.m2v", "m2v_ntsc_interlaced.m2v", "m2v_stills.m2v", "m2v_still.m2v"}) {
    SCOPED_TRACE(sample);
    const std::string file = CopySample(dir.Path(), sample);
    ASSERT_TRUE(streams::RunPulldown(p.Form, file));
    EXPECT_FALSE(std::filesystem::exists(file + ".m2v"));
    const auto vif = ReadFileBytes(file + ".m2v.vif");
    ASSERT_GE(vif.size(), 40u);
    EXPECT_EQ(std::string(vif.begin(), vif.begin() + 15), "ScenaristVIF_V4");

    // ffprobe's frames in stream order (by their packets' positions).
    TProbe probe = Probe(file);
    auto frames = probe.Frames;
    std::sort(frames.begin(), frames.end(),
              [](const auto& a, const auto& b) { return std::stoll(a.at("pkt_pos")) < std::stoll(b.at("pkt_pos")); });
    std::vector<std::tuple<char, int, int>> expected, got;
    uint32_t gopFields = 0, highest = 0;
    for (const auto& f : frames) {
      const int rff = std::stoi(f.at("repeat_pict"));
      if (f.at("pict_type") == "I") gopFields = 0;
      gopFields += 2 + rff;
      highest = std::max(highest, gopFields);
      expected.emplace_back(f.at("pict_type")[0], std::stoi(f.at("top_field_first")), rff);
    }
    EXPECT_EQ(static_cast<int64_t>(vif.size() / 40 - 1), probe.Fields());
    for (size_t at = 40; at + 40 <= vif.size(); at += 40) {
      if (vif[at + 14] >> 4 != 1) continue;  // the first field of each picture
      const int type = (vif[at + 14] & 15) / 4;
      got.emplace_back("?IPB"[type], (vif[at + 15] >> 6) & 1, vif[at + 15] >> 7);
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(vif[29], highest);
  }
  // A missing file, MPEG-1 video and audio describe no fields.
  for (const std::string& file : {dir.File("missing.m2v"), CopySample(dir.Path(), "m1v_ntsc.m1v"),
                                 CopySample(dir.Path(), "audio_48k_2ch.ac3")}) {
    EXPECT_FALSE(streams::RunPulldown(p.Form, file)) << file;
    EXPECT_FALSE(std::filesystem::exists(file + ".m2v.vif")) << file;
  }
}

}  // namespace
}  // namespace tess::test
