#include <gtest/gtest.h>

#include <filesystem>

#include "core/byte_order.h"
#include "disc/highlights.h"
#include "disc/lookups_fixtures.h"
#include "disc/script_model.h"
#include "support/disc_support.h"

namespace tess::test {
namespace {

// Two highlight sets of one menu cell: a plain one without buttons, and a
// marked one with three buttons.
std::vector<disc::THighlightPlayItem> TwoItems(const test::DiscForm& Form) {
  std::vector<disc::THighlightPlayItem> items(2);
  disc::InitHighlightPlayItem(Form, items[0]);
  items[0].IFOIndex = 1;
  items[0].VobId = 2;
  items[0].CellId = 1;
  items[0].StartTime = 0x1000;
  items[0].EndTime = 0x2000;
  items[0].SourceNumber = 5;
  items[0].ColourTables[0][0] = 0x11223344;
  items[0].ColourTables[2][15] = 0xCAFEBABE;

  disc::InitHighlightPlayItem(Form, items[1]);
  items[1].DisplayFlag1 = 2;
  items[1].DisplayFlag2 = 0;
  items[1].Marked = 1;
  items[1].IFOIndex = 1;
  items[1].VobId = 2;
  items[1].CellId = 1;
  items[1].ForcedSelect = 2;
  items[1].SelectableButtons = 3;
  items[1].SegmentName = "never written";
  for (uint32_t n = 1; n <= 3; ++n) {
    disc::THighlightButton b;
    b.Number = n;
    b.ColourSet = n - 1;
    b.AutoAction = static_cast<uint8_t>(n == 3);
    b.Rects[0] = {static_cast<int32_t>(100 * n), 50, static_cast<int32_t>(100 * n + 80), 90};
    b.Rects[2] = {1, 2, 3, 4};
    b.Left = static_cast<uint8_t>(n == 1 ? 3 : n - 1);
    b.Right = static_cast<uint8_t>(n == 3 ? 1 : n + 1);
    b.Up = b.Down = static_cast<uint8_t>(n);
    b.Command = {0x20, 0x04, 0, 0, 0, 0, 0, static_cast<uint8_t>(n)};
    b.Name = "not in the file";
    items[1].Buttons.push_back(b);
  }
  return items;
}

std::vector<uint8_t> ExpectedFile() {
  std::vector<uint8_t> f(4 + 273 + 273 + 3 * 73, 0);
  PutLE32(f, 0, 2);
  // Item 1 at 4: no buttons.
  size_t o = 4;
  f[o + 16] = 2;
  f[o + 17] = 1;
  PutLE32(f, o + 18, 0x11223344);
  PutLE32(f, o + 146 + 60, 0xCAFEBABE);
  PutLE32(f, o + 243, 1);
  PutLE32(f, o + 247, 2);
  PutLE32(f, o + 251, 1);
  PutLE32(f, o + 259, 0x1000);
  PutLE32(f, o + 263, 0x2000);
  PutLE32(f, o + 268, 5);
  // Item 2 at 277, its buttons from 550.
  o = 4 + 273;
  f[o + 15] = 2;
  f[o + 17] = 1;
  f[o + 210] = 3;
  PutLE32(f, o + 231, 3);
  PutLE32(f, o + 235, 2);
  PutLE32(f, o + 243, 1);
  PutLE32(f, o + 247, 2);
  PutLE32(f, o + 251, 1);
  f[o + 272] = 1;
  for (uint32_t n = 1; n <= 3; ++n) {
    const size_t b = 4 + 273 + 273 + 73 * (n - 1);
    PutLE32(f, b, n);
    PutLE32(f, b + 4, n - 1);
    f[b + 8] = n == 3 ? 1 : 0;
    PutLE32(f, b + 9, 100 * n);
    PutLE32(f, b + 13, 50);
    PutLE32(f, b + 17, 100 * n + 80);
    PutLE32(f, b + 21, 90);
    PutLE32(f, b + 41, 1);
    PutLE32(f, b + 45, 2);
    PutLE32(f, b + 49, 3);
    PutLE32(f, b + 53, 4);
    f[b + 57] = static_cast<uint8_t>(n == 1 ? 3 : n - 1);
    f[b + 58] = static_cast<uint8_t>(n == 3 ? 1 : n + 1);
    f[b + 59] = f[b + 60] = static_cast<uint8_t>(n);
    f[b + 61] = 0x20;
    f[b + 62] = 0x04;
    f[b + 68] = static_cast<uint8_t>(n);
  }
  return f;
}

TEST(HighlightFile, TwoItemsAreWrittenByteExactAndReadBack) {
  TempDir dir;
  DiscProject p;
  p.Form.FrameRate = 29.97;
  const std::string file = dir.File("m000_v002c001.hlt2");
  auto items = TwoItems(p.Form);
  ASSERT_TRUE(disc::WriteTrackRecordFile(file, items[0], false));
  EXPECT_EQ(ReadFileBytes(file).size(), 4u + 273u);  // an item without buttons is its 273 bytes
  ASSERT_TRUE(disc::WriteTrackRecordFile(file, items[1], false));
  EXPECT_EQ(ReadFileBytes(file), ExpectedFile());

  disc::TVideoTrack track;
  track.HighlightStreams.resize(1);
  track.HighlightStreams[0].Items.resize(5);  // replaced by what the file holds
  ASSERT_TRUE(disc::LoadTrackRecordFile(p.Form, track, file));
  EXPECT_FALSE(std::filesystem::exists(file));
  const auto& loaded = track.HighlightStreams[0].Items;
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_TRUE(loaded[0].Buttons.empty());
  ASSERT_EQ(loaded[1].Buttons.size(), 3u);
  EXPECT_EQ(loaded[1].Buttons[2].Command[7], 3);
  EXPECT_EQ(loaded[1].Buttons[1].Rects[0].XEnd, 280);
  EXPECT_TRUE(loaded[1].Buttons[0].Name.empty());
  EXPECT_TRUE(loaded[1].SegmentName.empty());
  EXPECT_EQ(loaded[0].ColourTables[2][15], 0xCAFEBABEu);
  // Writing the loaded items again gives the same file.
  auto again = loaded;
  ASSERT_TRUE(disc::WriteTrackRecordFile(file, again[0], false));
  ASSERT_TRUE(disc::WriteTrackRecordFile(file, again[1], true));
  EXPECT_TRUE(again[1].Buttons.empty());  // released after the write
  EXPECT_EQ(ReadFileBytes(file), ExpectedFile());

  // Reading deletes the file; a second read finds nothing and changes nothing.
  ASSERT_TRUE(disc::LoadTrackRecordFile(p.Form, track, file));
  EXPECT_FALSE(disc::LoadTrackRecordFile(p.Form, track, file));
  EXPECT_EQ(track.HighlightStreams[0].Items.size(), 2u);

  // A track without highlight streams gets its first one.
  disc::TVideoTrack bare;
  WriteFileBytes(file, ExpectedFile());
  ASSERT_TRUE(disc::LoadTrackRecordFile(p.Form, bare, file));
  ASSERT_EQ(bare.HighlightStreams.size(), 1u);
  EXPECT_EQ(bare.HighlightStreams[0].Items.size(), 2u);
}

TEST(HighlightFile, ShortFilesAreRefusedAndKept) {
  TempDir dir;
  DiscProject p;
  const std::string file = dir.File("short.hlt2");
  disc::TVideoTrack track;
  track.HighlightStreams.resize(1);
  track.HighlightStreams[0].Items.resize(1);
  track.HighlightStreams[0].Items[0].VobId = 42;

  const std::vector<uint8_t> full = ExpectedFile();
  // Cut inside the last button, inside the second record, before any record,
  // and a count far beyond the file.
  std::vector<std::vector<uint8_t>> cuts = {
      std::vector<uint8_t>(full.begin(), full.end() - 1),
      std::vector<uint8_t>(full.begin(), full.begin() + 4 + 273 + 100),
      std::vector<uint8_t>(full.begin(), full.begin() + 3),
  };
  std::vector<uint8_t> huge = full;
  PutLE32(huge, 0, 0xFFFFFFFFu);
  cuts.push_back(huge);
  for (const auto& bytes : cuts) {
    WriteFileBytes(file, bytes);
    EXPECT_FALSE(disc::LoadTrackRecordFile(p.Form, track, file));
    EXPECT_EQ(ReadFileBytes(file), bytes);
    ASSERT_EQ(track.HighlightStreams[0].Items.size(), 1u);
    EXPECT_EQ(track.HighlightStreams[0].Items[0].VobId, 42u);
  }
  EXPECT_TRUE(p.LogContains("Highlight file short.hlt2 is truncated"));

  // A read error keeps the file and the items, and fails the run.
  WriteFileBytes(file, full);
  ::setenv("TESS_FAIL_READ", "short.hlt2@300", 1);
  EXPECT_FALSE(disc::LoadTrackRecordFile(p.Form, track, file));
  ::unsetenv("TESS_FAIL_READ");
  EXPECT_EQ(ReadFileBytes(file), full);
  EXPECT_EQ(track.HighlightStreams[0].Items.size(), 1u);
  EXPECT_TRUE(p.LogContains("Read error in highlight file short.hlt2: Input/output error"));
  EXPECT_EQ(p.Form.Skipped, std::vector<std::string>{"Read error in file " + file});

  // Extra bytes after the last record are reported, the records read.
  std::vector<uint8_t> longer = full;
  longer.push_back(0xEE);
  WriteFileBytes(file, longer);
  EXPECT_TRUE(disc::LoadTrackRecordFile(p.Form, track, file));
  EXPECT_EQ(track.HighlightStreams[0].Items.size(), 2u);
  EXPECT_TRUE(p.LogContains("1 bytes after the last record are ignored"));
}

TEST(HighlightFile, FailedWritesAreReported) {
  TempDir dir;
  DiscProject p;
  disc::THighlightPlayItem item;
  disc::InitHighlightPlayItem(p.Form, item);
  item.Buttons.resize(2);
  EXPECT_FALSE(disc::WriteTrackRecordFile(dir.File("no/such/folder/x.hlt2"), item, true));
  EXPECT_EQ(item.Buttons.size(), 2u);  // nothing released when nothing was written
  EXPECT_FALSE(std::filesystem::exists(dir.File("no")));

  // A file cut short before its count is started over.
  const std::string file = dir.File("stub.hlt2");
  WriteFileBytes(file, {7, 7});
  ASSERT_TRUE(disc::WriteTrackRecordFile(file, item, false));
  const auto bytes = ReadFileBytes(file);
  ASSERT_EQ(bytes.size(), 4u + 273u + 2u * 73u);
  EXPECT_EQ(core::ReadLE32(bytes.data()), 1u);
}

TEST(HighlightItem, TheTwentyFiveFrameByte) {
  DiscProject p;
  disc::THighlightPlayItem item;
  for (double rate : {25.0, 29.97, 30.0, 50.0}) {
    p.Form.FrameRate = rate;
    disc::InitHighlightPlayItem(p.Form, item);
    EXPECT_EQ(item.Rate25, rate == 25.0 ? 1 : 0) << rate;
    EXPECT_EQ(disc::HighlightItemToBytes(item)[5], rate == 25.0 ? 1 : 0);
  }
  EXPECT_EQ(item.DisplayFlag1, 0);
  EXPECT_EQ(item.DisplayFlag2, 2);
  EXPECT_EQ(item.Byte17, 1);
}

TEST(HighlightItem, MatchedToSegmentsByTimeThenBySource) {
  DiscProject p;
  p.Form.PictureWidth = 720;
  p.Form.PictureHeight = 576;
  disc::TVideoTrack t;
  t.SubPictureStreams.resize(2);
  auto seg = [](uint32_t vob, uint32_t cell, uint32_t time, uint32_t source, const char* name, uint32_t key) {
    disc::TSubPictureSegment s;
    s.VobId = vob;
    s.CellId = cell;
    s.TimeValue = time;
    s.SourceNumber = source;
    s.Name = name;
    s.SortKey = key;
    s.Byte8 = 1;
    s.Value10 = 99;
    s.Duration = {0, 0, 1, 0};
    return s;
  };
  t.SubPictureStreams[0].Segments = {seg(2, 1, 500, 8, "other-cell", 1), seg(2, 1, 9000, 9, "late", 2)};
  t.SubPictureStreams[1].Segments = {seg(2, 1, 1500, 7, "in-window", 3)};
  t.HighlightStreams.resize(1);
  auto& items = t.HighlightStreams[0].Items;
  items.resize(3);
  for (auto& h : items) h.VobId = 2, h.CellId = 1, h.StartTime = 1000, h.EndTime = 2000, h.Buttons.resize(2);
  items[1].StartTime = 3000, items[1].EndTime = 4000, items[1].SourceNumber = 9;  // no segment in time
  items[2].StartTime = 3000, items[2].EndTime = 4000, items[2].SourceNumber = 4, items[2].Matched = 1;

  disc::MatchHighlightsToSegments(p.Form, t);
  EXPECT_EQ(items[0].Matched, 1);
  EXPECT_EQ(items[0].SegmentName, "in-window");
  EXPECT_EQ(items[0].SortKey, 3u);
  EXPECT_EQ(items[0].SegmentByte, 1);
  EXPECT_EQ(items[0].SegmentValue1, 99u);
  EXPECT_EQ(items[0].PictureWidth, 720);
  EXPECT_EQ(items[0].Buttons[1].Name, "in-window_b_");
  EXPECT_EQ(items[1].Matched, 1);
  EXPECT_EQ(items[1].SegmentName, "late");
  EXPECT_EQ(items[2].Matched, 0);
  EXPECT_TRUE(items[2].SegmentName.empty());
  EXPECT_TRUE(items[2].Buttons[0].Name.empty());
}

// ---- lookup lists ----

TEST(NameLists, PerTitleSetLists) {
  DiscProject p;
  p.Form.TitleSetCount = 3;
  disc::ClearVTSNameLists(p.Form, p.Form);
  disc::AddVTSName(p.Form, p.Form, "t001_v001", 1);
  disc::AddVTSName(p.Form, p.Form, "t002_v001", 3);
  disc::AddVTSName(p.Form, p.Form, "t004_v001", 4);  // beyond the title-set count
  disc::AddVTSName(p.Form, p.Form, "t000_v001", 0);
  EXPECT_TRUE(disc::VTSNameListsContain(p.Form, p.Form, "t002_v001"));
  EXPECT_TRUE(disc::VTSNameListsContain(p.Form, p.Form, "t001_v001"));
  EXPECT_FALSE(disc::VTSNameListsContain(p.Form, p.Form, "t004_v001"));
  EXPECT_FALSE(disc::VTSNameListsContain(p.Form, p.Form, "t000_v001"));
  EXPECT_FALSE(disc::VTSNameListsContain(p.Form, p.Form, "T001_V001"));
  EXPECT_EQ(disc::FindVTSName(p.Form, p.Form, "t002_v001"), "t002_v001");
  EXPECT_EQ(disc::FindVTSName(p.Form, p.Form, "none"), "");
  disc::ClearVTSNameLists(p.Form, p.Form);
  EXPECT_FALSE(disc::VTSNameListsContain(p.Form, p.Form, "t002_v001"));
}

TEST(NameLists, ListedAudioFileNames) {
  TempDir dir;
  DiscProject p;
  WriteFileBytes(dir.File("t001_a0.pcm"), {0});
  disc::AddAudioStream(p.Form, p.Form, p.Form.Registry, dir.File("t001_a0.pcm"), {}, 2, {}, 1, 1);
  EXPECT_TRUE(disc::IsListedFileName(p.Form, dir.File("t001_a0.pcm")));
  EXPECT_TRUE(disc::IsListedFileName(p.Form, dir.File("T001_A0.WAV")));
  EXPECT_FALSE(disc::IsListedFileName(p.Form, dir.File("t001_a1.pcm")));
  EXPECT_FALSE(disc::IsListedFileName(p.Form, ""));
  // AC-3 and MPEG audio of one id share their stem, not their name.
  WriteFileBytes(dir.File("t001_c0.ac3"), {0});
  disc::AddAudioStream(p.Form, p.Form, p.Form.Registry, dir.File("t001_c0.ac3"), {}, 2, {}, 1, 1);
  EXPECT_FALSE(disc::IsListedFileName(p.Form, dir.File("t001_c0.mpa")));
}

TEST(PaletteList, FindAddAndMostUsed) {
  disc::TPalettes list;
  EXPECT_EQ(disc::MostUsedPalette(list), -1);
  disc::TPaletteColours a{}, b{}, c{};
  b[47] = 1;
  c[0] = 255;
  EXPECT_EQ(disc::FindPalette(list, a), -1);
  EXPECT_EQ(disc::AddPalette(list, a), 0);
  EXPECT_EQ(disc::AddPalette(list, b), 1);
  EXPECT_EQ(disc::AddPalette(list, c), 2);
  EXPECT_EQ(list.Items[1].UseCount, 1);
  EXPECT_EQ(disc::FindPalette(list, b), 1);
  EXPECT_EQ(disc::FindPalette(list, c), 2);
  EXPECT_EQ(disc::MostUsedPalette(list), 0);  // first of equals
  list.Items[2].UseCount = 4;
  list.Items[1].UseCount = 4;
  EXPECT_EQ(disc::MostUsedPalette(list), 1);
}

TEST(AngleLists, BlocksOfTheTitleAndMenuChains) {
  DiscProject p;
  // VOB 1: three angle cells, one seamless; VOB 2: a single seamless cell;
  // VOB 3: two cells, neither seamless. A second chain repeats VOB 1 cell 1.
  AddTitleChain(p.Form, 1, 0x81,
                MakePgc({{1, 1, 0x48}, {1, 2, 0x80}, {1, 3, 0xC0}, {2, 1, 0x08}, {3, 1, 0x00}, {3, 2, 0x00}}));
  AddTitleChain(p.Form, 1, 0x82, MakePgc({{1, 1, 0x48}, {3, 3, 0x00}}));
  AddMenuChain(p.Form, 1, 'e', 'n', MakePgc({{7, 1, 0x08}, {7, 2, 0x00}}));
  disc::BuildTitleAngleList(p.Form, p.Form, 1);
  disc::BuildMenuAngleList(p.Form, p.Form, 1);

  const auto& titles = p.Form.AngleLists.Titles;
  ASSERT_EQ(titles.size(), 3u);
  EXPECT_EQ(titles[0].VobId, 1u);
  EXPECT_EQ(titles[0].BlockPosition, 1);
  ASSERT_EQ(titles[0].Cells.size(), 3u);
  EXPECT_EQ(titles[0].Cells[2].BlockPosition, 3);
  EXPECT_EQ(titles[0].Cells[0].Seamless, 1);
  EXPECT_TRUE(disc::IsAngleVob(p.Form, 2, 1));
  EXPECT_EQ(disc::GetVobAngleCount(p.Form, 2, 1), 3);
  EXPECT_FALSE(disc::IsAngleVob(p.Form, 2, 2));  // one cell is never an angle VOB
  EXPECT_EQ(disc::GetVobAngleCount(p.Form, 2, 2), 1);
  EXPECT_FALSE(disc::IsAngleVob(p.Form, 2, 3));
  EXPECT_EQ(disc::GetVobAngleCount(p.Form, 2, 3), 3);
  EXPECT_FALSE(disc::IsAngleVob(p.Form, 2, 9));
  EXPECT_EQ(disc::GetVobAngleCount(p.Form, 2, 9), 0);
  EXPECT_TRUE(disc::IsAngleVob(p.Form, 1, 7));
  EXPECT_FALSE(disc::IsAngleVob(p.Form, 1, 1));
  EXPECT_FALSE(disc::IsAngleVob(p.Form, 3, 1));

  // Rebuilding for another title set replaces the list.
  disc::BuildTitleAngleList(p.Form, p.Form, 2);
  EXPECT_TRUE(p.Form.AngleLists.Titles.empty());
  disc::BuildTitleAngleList(p.Form, p.Form, 500);
  EXPECT_TRUE(p.Form.AngleLists.Titles.empty());
}

}  // namespace
}  // namespace tess::test
