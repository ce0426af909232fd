#include <gtest/gtest.h>

#include <functional>

#include "streams/m2v_stream.h"
#include "streams/video_oracle.h"
#include "support/test_support.h"

namespace tess::test {
namespace {

using streams::TM2VStream;

struct TSettings {
  streams::TSeqHeaderSettings SeqHeader;
  streams::TDisplayExtSettings Display;
  streams::TSeqExtSettings SeqExt;
  streams::TPicExtSettings PicExt;
  streams::TGopSettings Gop;
};

// Offset in Bytes of the first start code Code (and, for extensions, the
// extension identifier Id).
size_t FindHeader(const std::vector<uint8_t>& Bytes, uint8_t Code, int Id = -1) {
  for (size_t i = 0; i + 4 < Bytes.size(); ++i)
    if (Bytes[i] == 0 && Bytes[i + 1] == 0 && Bytes[i + 2] == 1 && Bytes[i + 3] == Code &&
        (Id < 0 || Bytes[i + 4] >> 4 == Id))
      return i;
  return 0;
}

// The sample repeated past the reader's first buffer, a padding packet after
// the first copy sized so that the header at HeaderAt of a later copy has
// Before bytes ahead of the buffer's end.
std::vector<uint8_t> Straddling(const std::vector<uint8_t>& Sample, size_t HeaderAt, size_t Before) {
  const size_t end = streams::kM2VReadBufferSize - Before - HeaderAt;
  const size_t copies = (end - 16) / Sample.size();
  const size_t filler = end - copies * Sample.size();
  std::vector<uint8_t> out(Sample);
  out.insert(out.end(), {0, 0, 1, 0xBE});
  out.insert(out.end(), filler - 4, 0x55);
  for (size_t i = 1; i < copies + 2; ++i) out.insert(out.end(), Sample.begin(), Sample.end());
  return out;
}

struct TRewrite {
  const char* What;
  const char* Sample;
  uint8_t StraddleCode;  // 0: the sample as it is; else this header straddles the buffer end
  int StraddleId;
  size_t Before;
  bool InPlace;
  std::function<void(TM2VStream&, TSettings&)> Edit;
  int64_t BytesPerGop;                              // the output's growth per GOP of the source
  std::function<void(const TM2VStream&)> Check;     // a full-index scan of the output
  const char* ProbeKey;                             // what ffprobe sees in the output (may be null)
  const char* ProbeValue;
};

std::vector<streams::TM2VSequenceDisplayExtension> DisplayExtensions(const TM2VStream& S) {
  std::vector<streams::TM2VSequenceDisplayExtension> out;
  for (size_t i = 0; i < S.Index.Count(); ++i)
    if (S.Index[i].Tag == streams::kTagSequenceDisplayExtension) out.emplace_back().Load(S.Index.Payload(i).data());
  return out;
}

void AllDisplayWidths(const TM2VStream& S, uint32_t Width, uint32_t Colour) {
  const auto exts = DisplayExtensions(S);
  EXPECT_EQ(exts.size(), S.GopCount);
  for (const auto& e : exts) {
    EXPECT_EQ(e.DisplayHorizontalSize, Width);
    EXPECT_EQ(e.ColourDescription, Colour);
  }
}

const TRewrite kRewrites[] = {
    {"aspect copied", "m2v_pal_wide.m2v", 0, -1, 0, false,
     [](TM2VStream&, TSettings& s) { s.SeqHeader.Apply = 1, s.SeqHeader.AspectCode = 2; }, 0,
     [](const TM2VStream& m) { EXPECT_EQ(m.AspectChanges, 0u); EXPECT_EQ(m.AspectCode, 2u); },
     "display_aspect_ratio", "4:3"},
    {"field order copied, scan order kept", "m2v_ntsc_interlaced.m2v", 0, -1, 0, false,
     [](TM2VStream&, TSettings& s) {
       s.PicExt.Apply = s.PicExt.ForI = s.PicExt.ForP = s.PicExt.ForB = 1;
       s.PicExt.TopFieldFirst = 0, s.PicExt.AlternateScan = 0;
     },
     0, [](const TM2VStream& m) { EXPECT_EQ(m.FirstPictureCodingExtension.AlternateScan, 1u); }, "field_order",
     "bb"},
    {"display extension inserted", "m2v_ntsc_interlaced.m2v", 0, -1, 0, false,
     [](TM2VStream&, TSettings& s) {
       s.Display = {1, 2, 540, 480, 1, 1, 1, 1, 1, 1};
     },
     12, [](const TM2VStream& m) { AllDisplayWidths(m, 540, 1); }, nullptr, nullptr},
    {"display extension removed", "m2v_pal_wide.m2v", 0, -1, 0, false,
     [](TM2VStream&, TSettings& s) { s.Display.Apply = 1, s.Display.Insert = 0; }, -12,
     [](const TM2VStream& m) { EXPECT_FALSE(m.DisplayExtSeen); }, nullptr, nullptr},
    {"display colour dropped", "m2v_pal_wide.m2v", 0, -1, 0, false,
     [](TM2VStream&, TSettings& s) {
       s.Display.Apply = 1, s.Display.ColourDescription = 0, s.Display.DisplayHorizontalSize = 540;
     },
     -3, [](const TM2VStream& m) { AllDisplayWidths(m, 540, 0); }, nullptr, nullptr},
    {"aspect and bit rate in place", "m2v_ntsc_interlaced.m2v", 0, -1, 0, true,
     [](TM2VStream& m, TSettings&) { m.TargetAspectMode = 2, m.BitRateLimit = true; }, 0,
     [](const TM2VStream& m) { EXPECT_EQ(m.MaxBitRateValue, 24500u); EXPECT_EQ(m.AspectCode, 3u); },
     "display_aspect_ratio", "16:9"},
    {"MPEG-1 525-line wide in place", "m1v_ntsc.m1v", 0, -1, 0, true,
     [](TM2VStream& m, TSettings&) { m.TargetAspectMode = 2; }, 0,
     [](const TM2VStream& m) { EXPECT_EQ(m.AspectCode, 6u); EXPECT_EQ(m.AspectChanges, 0u); }, nullptr, nullptr},
    {"removal across the buffer end", "m2v_pal_wide.m2v", 0xB5, 2, 2, false,
     [](TM2VStream&, TSettings& s) { s.Display.Apply = 1, s.Display.Insert = 0; }, -12,
     [](const TM2VStream& m) { EXPECT_FALSE(m.DisplayExtSeen); }, nullptr, nullptr},
    {"colour edits across the buffer end", "m2v_pal_wide.m2v", 0xB5, 2, 6, false,
     [](TM2VStream&, TSettings& s) {
       s.Display.Apply = 1, s.Display.ColourDescription = 0, s.Display.DisplayHorizontalSize = 540;
     },
     -3, [](const TM2VStream& m) { AllDisplayWidths(m, 540, 0); }, nullptr, nullptr},
    {"GOP time codes copied", "m2v_pal_wide.m2v", 0, -1, 0, false,
     [](TM2VStream&, TSettings& s) { s.Gop.Apply = 1, s.Gop.Hours = 1, s.Gop.Minutes = 2, s.Gop.Pictures = 4; }, 0,
     [](const TM2VStream& m) { EXPECT_EQ(m.FirstGopTime, (core::TTimeCode{1, 2, 0, 4})); }, nullptr, nullptr},
    {"user data stripped", "m2v_captions.m2v", 0, -1, 0, false,
     [](TM2VStream& m, TSettings&) { m.StripUserData = true; }, -99,
     [](const TM2VStream& m) { EXPECT_EQ(m.Line21Switch1, 0); }, nullptr, nullptr},
    {"user data stripped across the buffer end", "m2v_captions.m2v", 0xB2, -1, 50, false,
     [](TM2VStream& m, TSettings&) { m.StripUserData = true; }, -99,
     [](const TM2VStream& m) { EXPECT_EQ(m.Line21Switch1, 0); }, nullptr, nullptr},
    {"in place across the buffer end", "m2v_pal_wide.m2v", 0xB3, -1, 5, true,
     [](TM2VStream& m, TSettings&) { m.TargetAspectMode = 0, m.BitRateLimit = true; }, 0,
     [](const TM2VStream& m) {
       EXPECT_EQ(m.AspectChanges, 0u); EXPECT_EQ(m.AspectCode, 2u); EXPECT_EQ(m.MinBitRateValue, 24500u);
     },
     "display_aspect_ratio", "4:3"},
};

// Rewritten streams decode to the same pictures and carry the new headers.
TEST(M2VRewrite, RewrittenStreamsDecodeToTheSameFrames) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  CoreProject p;
  TempDir dir;
  for (const TRewrite& r : kRewrites) {
    SCOPED_TRACE(r.What);
    const std::string source = dir.File("source.m2v");
    const std::string output = dir.File("output.m2v");
    auto bytes = ReadFileBytes(DataFile(std::string("streams/") + r.Sample));
    if (r.StraddleCode) bytes = Straddling(bytes, FindHeader(bytes, r.StraddleCode, r.StraddleId), r.Before);
    WriteFileBytes(source, bytes);
    const std::vector<std::string> hashes = FrameHashes(source);
    ASSERT_GT(hashes.size(), 4u);

    TM2VStream m(p.Form, source);
    m.Scan(true, false);
    TSettings s;
    m.FillVideoSummary(s.SeqHeader, s.Display, s.SeqExt, s.PicExt, s.Gop);
    r.Edit(m, s);
    if (r.InPlace) {
      ASSERT_TRUE(m.ScanVobVideoShared(s.SeqHeader, s.SeqExt, s.PicExt, s.Gop, s.Display));
      std::filesystem::copy_file(source, output, std::filesystem::copy_options::overwrite_existing);
    } else {
      ASSERT_TRUE(m.ScanVobVideo(output, s.SeqHeader, s.SeqExt, s.PicExt, s.Gop, s.Display));
    }
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(output)),
              static_cast<int64_t>(bytes.size()) + r.BytesPerGop * static_cast<int64_t>(m.GopCount));
    EXPECT_EQ(FrameHashes(output), hashes);
    if (r.ProbeKey) {
      const TProbe probe = Probe(output);
      EXPECT_EQ(probe.Stream.count(r.ProbeKey) ? probe.Stream.at(r.ProbeKey) : "", r.ProbeValue);
    }
    TM2VStream after(p.Form, output);
    after.PlainMode = false;
    after.CacheMode = false;
    after.Scan(true, true);
    EXPECT_EQ(after.PictureCount, m.PictureCount);
    r.Check(after);
  }
}

}  // namespace
}  // namespace tess::test
