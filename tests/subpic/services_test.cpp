#include "subpic/services.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "core/byte_order.h"
#include "disc/string_pool.h"
#include "support/disc_support.h"

namespace tess::subpic {
namespace {

using test::DiscProject;
using test::ReadFileBytes;
using test::TempDir;

uint32_t LE32(const std::vector<uint8_t>& b, size_t at) { return core::ReadLE32(b.data() + at); }

TSubpictureUnitInfo SampleUnit(test::DiscForm& Form) {
  TSubpictureUnitInfo u;
  u.LanguageText = AddDataString(Form, "Not Specified");
  u.DomainKind = 2;
  u.VideoAttr = 0x2A5B;  // first stored byte 0x5B
  u.DomainNumber = 3;
  u.ImageFileName = "/out/VTS_003/Titles/sub_20.bmp";
  u.VobId = 0x01020304;
  u.CellId = 0x0A0B0C0D;
  u.Pts = 0x1ABCDEF01ull;  // 33 bits; the index keeps the low 32
  u.NavPackCount = 77;
  return u;
}

TEST(SubpictureIndex, RecordsAreWrittenFieldByField) {
  DiscProject p;
  TempDir dir;
  TSubPicBase1 base;
  const std::string dat = dir.File("VTS_003_1.dat");
  const auto unit = SampleUnit(p.Form);
  const uint32_t folder = AddDataString(p.Form, "/out/VTS_003/Titles/");
  const uint32_t context = AddDataString(p.Form, "VTS_003");

  ASSERT_TRUE(AppendSubpictureToSup(p.Form, p.Form, base, dat, unit, 0x21, folder, 4096, 1234.5, 3, 3, context));
  auto second = unit;
  second.CellId = 2;
  second.LanguageText = 0;
  ASSERT_TRUE(AppendSubpictureToSup(p.Form, p.Form, base, dat, second, 0x3F, 0, 0x10000, -40.0, -1, 0, 0));

  const auto b = ReadFileBytes(dat);
  ASSERT_EQ(b.size(), 2 * kSupIndexRecordSize);
  // First record, every field at its offset.
  EXPECT_EQ(LE32(b, 0), 0x21u);
  EXPECT_EQ(LE32(b, 4), folder);
  EXPECT_EQ(p.Form.StringPool.Get(LE32(b, 4)), "/out/VTS_003/Titles/");
  EXPECT_EQ(LE32(b, 8), 4096u);
  EXPECT_EQ(b[12], 0x5B);
  EXPECT_EQ(b[13], 0x2A);
  EXPECT_EQ(b[14], 2);
  EXPECT_EQ((std::vector<uint8_t>(b.begin() + 15, b.begin() + 19)), (std::vector<uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ((std::vector<uint8_t>(b.begin() + 19, b.begin() + 23)), (std::vector<uint8_t>{0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_EQ(b[23], 0);
  EXPECT_EQ(LE32(b, 24), 0xABCDEF01u);
  EXPECT_EQ(LE32(b, 28), 77u);
  EXPECT_EQ(p.Form.StringPool.Get(LE32(b, 32)), "Not Specified");
  double ms;
  const uint64_t bits = core::ReadLE64(b.data() + 36);
  std::memcpy(&ms, &bits, sizeof ms);
  EXPECT_EQ(ms, 1234.5);
  EXPECT_EQ((std::vector<uint8_t>(b.begin() + 36, b.begin() + 44)),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 0x4A, 0x93, 0x40}));  // 1234.5 as an IEEE double
  EXPECT_EQ(LE32(b, 44), 3u);
  EXPECT_EQ(LE32(b, 48), 3u);
  EXPECT_EQ(LE32(b, 52), context);

  // Second record: a negative start time is stored as 0, negative numbers in two's complement.
  const auto r = DecodeSupIndexRecord(b.data() + kSupIndexRecordSize);
  EXPECT_EQ(r.StreamId, 0x3Fu);
  EXPECT_EQ(r.FolderText, 0u);
  EXPECT_EQ(r.Offset, 0x10000u);
  EXPECT_EQ(r.CellId, 2u);
  EXPECT_EQ(r.LanguageText, 0u);
  EXPECT_EQ(r.StartMs, 0.0);
  EXPECT_FALSE(std::signbit(r.StartMs));
  EXPECT_EQ(r.DomainIndex, -1);
  EXPECT_EQ(LE32(b, kSupIndexRecordSize + 44), 0xFFFFFFFFu);
  EXPECT_EQ(r.DomainNumber, 0);
  EXPECT_EQ(r.ContextText, 0u);

  // The codec is symmetric.
  uint8_t again[kSupIndexRecordSize];
  EncodeSupIndexRecord(DecodeSupIndexRecord(b.data()), again);
  EXPECT_EQ(0, std::memcmp(again, b.data(), kSupIndexRecordSize));
}

TEST(SubpictureIndex, DatFilesAreListedOnce) {
  DiscProject p;
  TempDir dir;
  TSubPicBase1 base;
  const auto unit = SampleUnit(p.Form);
  const std::string a = dir.File("a.dat");
  const std::string b = dir.File("b.dat");
  for (const auto& f : {a, b, a, a, b})
    ASSERT_TRUE(AppendSubpictureToSup(p.Form, p.Form, base, f, unit, 0x20, 0, 0, 0, 1, 1, 0));
  EXPECT_EQ(p.Form.DatFiles, (std::vector<std::string>{a, b}));
  EXPECT_EQ(ReadFileBytes(a).size(), 3 * kSupIndexRecordSize);
  EXPECT_EQ(ReadFileBytes(b).size(), 2 * kSupIndexRecordSize);
}

TEST(SubpictureIndex, FailuresAreReported) {
  DiscProject p;
  TempDir dir;
  TSubPicBase1 base;
  const auto unit = SampleUnit(p.Form);
  const std::string missing = dir.File("no-folder/x.dat");
  std::vector<std::string> informed;
  p.Prompt.OnLog = [&](const std::string& s) { informed.push_back(s); };

  EXPECT_FALSE(AppendSubpictureToSup(p.Form, p.Form, base, missing, unit, 0x20, 0, 0, 0, 1, 1, 0));
  EXPECT_TRUE(p.LogContains("Can not open file " + missing));
  ASSERT_EQ(informed.size(), 1u);
  EXPECT_NE(informed[0].find("Can not open file " + missing), std::string::npos);
  EXPECT_TRUE(p.Form.DatFiles.empty());

  // With the message boxes off only the log says so.
  p.Form.ShowErrorMsg = false;
  EXPECT_FALSE(AppendSubpictureToSup(p.Form, p.Form, base, missing, unit, 0x20, 0, 0, 0, 1, 1, 0));
  EXPECT_EQ(informed.size(), 1u);

  // An offset that does not fit the record is refused, not cut.
  const std::string dat = dir.File("big.dat");
  EXPECT_FALSE(AppendSubpictureToSup(p.Form, p.Form, base, dat, unit, 0x20, 0, 0x100000000ull, 0, 1, 1, 0));
  EXPECT_FALSE(std::filesystem::exists(dat));
  EXPECT_TRUE(p.Form.DatFiles.empty());
}

TEST(DataStrings, HandlesStayValidAsTheSetGrows) {
  DiscProject p;
  auto& set = p.Form.DataStrings;
  const uint32_t en = AddDataString(p.Form, "English");
  EXPECT_EQ(set.IndexOf("Nothing"), 0u);
  std::vector<uint32_t> handles;
  for (int i = 0; i < 5000; ++i) handles.push_back(AddDataString(p.Form, "text " + std::to_string(i)));
  EXPECT_EQ(set.Count(), 5001u);
  EXPECT_EQ(p.Form.StringPool.Get(en), "English");
  EXPECT_EQ(AddDataString(p.Form, "English"), en);  // the existing entry, not a new one
  EXPECT_EQ(set.IndexOf("English"), en);
  EXPECT_EQ(set.IndexOf("english"), 0u);  // case-sensitive
  EXPECT_EQ(set.Count(), 5001u);
  for (int i = 0; i < 5000; i += 997) EXPECT_EQ(p.Form.StringPool.Get(handles[i]), "text " + std::to_string(i));

  // A pool cleared behind the set's back: the text is pooled again, never read as empty.
  p.Form.StringPool.Clear();
  const uint32_t again = AddDataString(p.Form, "English");
  EXPECT_EQ(p.Form.StringPool.Get(again), "English");
  EXPECT_EQ(set.Count(), 5001u);
}

TEST(MsToTimecodeTest, RoundsFramesAndCarries) {
  DiscProject p;
  struct Case {
    double Rate;
    uint32_t Ms;
    core::TTimeCode Expected;
  };
  const std::vector<Case> cases = {
      {25, 0, {0, 0, 0, 0}},
      {25, 1000, {0, 0, 1, 0}},
      {25, 3723040, {1, 2, 3, 1}},
      {25, 980, {0, 0, 0, 24}},          // 24.5 frames: half to even
      {25, 1020, {0, 0, 1, 0}},          // 0.5 frames: half to even
      {25, 990, {0, 0, 1, 0}},           // 24.75 rounds to 25: carried into the next second
      {25, 59990, {0, 1, 0, 0}},         // carried on into the minute
      {25, 3599990, {1, 0, 0, 0}},       // and into the hour
      {29.97, 500, {0, 0, 0, 15}},       // 14.985 frames
      {29.97, 967, {0, 0, 0, 29}},       // 28.99 frames
      {29.97, 990, {0, 0, 1, 0}},        // 29.67 rounds to 30 = the rounded rate: carried
      {29.97, 59999, {0, 1, 0, 0}},
      {30, 983, {0, 0, 0, 29}},          // 29.49 frames
      {30, 984, {0, 0, 1, 0}},           // 29.52 rounds to 30: carried
  };
  for (const auto& c : cases) {
    p.Form.FrameRate = c.Rate;
    EXPECT_EQ(MsToTimecode(p.Form, c.Ms), c.Expected) << c.Rate << " " << c.Ms;
  }
  // No rate known: 40 ms frames, and the last ones of a second still carry.
  p.Form.FrameRate = 0;
  EXPECT_EQ(MsToTimecode(p.Form, 960), (core::TTimeCode{0, 0, 0, 24}));
  EXPECT_EQ(MsToTimecode(p.Form, 999), (core::TTimeCode{0, 0, 1, 0}));
  // The largest input stays in range.
  p.Form.FrameRate = 25;
  EXPECT_EQ(MsToTimecode(p.Form, UINT32_MAX), (core::TTimeCode{255, 2, 47, 7}));
}

TEST(TitleNameLists, AddContainsFindByTitleSet) {
  DiscProject p;
  p.Form.TitleSetCount = 3;
  EXPECT_FALSE(TitleNameListContains(p.Form, p.Form, "t01_m001"));
  EXPECT_EQ(TitleNameListFind(p.Form, p.Form, "t01_m001"), "");

  TitleNameListAdd(p.Form, p.Form, "t01_m001", 1);
  TitleNameListAdd(p.Form, p.Form, "shared", 3);
  TitleNameListAdd(p.Form, p.Form, "shared", 2);
  TitleNameListAdd(p.Form, p.Form, "beyond", 4);  // more than the title-set count: nothing
  TitleNameListAdd(p.Form, p.Form, "zero", 0);
  TitleNameListAdd(p.Form, p.Form, "negative", -1);
  EXPECT_TRUE(TitleNameListContains(p.Form, p.Form, "t01_m001"));
  EXPECT_TRUE(TitleNameListContains(p.Form, p.Form, "shared"));
  EXPECT_FALSE(TitleNameListContains(p.Form, p.Form, "T01_M001"));  // exact comparison
  EXPECT_FALSE(TitleNameListContains(p.Form, p.Form, "beyond"));
  EXPECT_FALSE(TitleNameListContains(p.Form, p.Form, "zero"));
  EXPECT_EQ(TitleNameListFind(p.Form, p.Form, "shared"), "shared");
  ASSERT_GE(p.Form.TitleNameLists.size(), 4u);
  EXPECT_EQ(p.Form.TitleNameLists[2].Count(), 1u);
  EXPECT_EQ(p.Form.TitleNameLists[3].Count(), 1u);

  // Fewer title sets later: the lists beyond the count are not searched.
  p.Form.TitleSetCount = 1;
  EXPECT_FALSE(TitleNameListContains(p.Form, p.Form, "shared"));
  EXPECT_EQ(TitleNameListFind(p.Form, p.Form, "shared"), "");
  EXPECT_TRUE(TitleNameListContains(p.Form, p.Form, "t01_m001"));
}

}  // namespace
}  // namespace tess::subpic
