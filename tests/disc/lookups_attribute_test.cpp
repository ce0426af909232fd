#include <gtest/gtest.h>

#include "disc/attribute_texts.h"
#include "disc/palette.h"
#include "disc/script_model.h"
#include "disc/subpic_streams.h"
#include "disc/lookups_fixtures.h"
#include "support/disc_support.h"

namespace tess::test {
namespace {

using disc::SubpicStreamNumberOf;

// ---- stream-control lookups ----

TEST(SubpicStreamNumber, RefusesModesThatCannotExistInAClass) {
  DiscProject p;
  auto pgc = MakePgc();
  pgc->SubpicControl[1] = SubpicWord(0x80, 0x01, 0x02, 0x03);
  // Class 1 (pan-scan only) has no 4:3 and no pan-scan answer, class 2 only 4:3,
  // classes 3 and 4 never 4:3.
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 1, 1), -1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 1, 4), -1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 1, 2), 1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 1, 3), 2);
  for (int mode = 2; mode <= 4; ++mode) EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 2, mode), -1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 3, 1), -1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 4, 1), -1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 3, 4), 3);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 4, 2), 1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 4, 4), 3);
  // A mode outside 1..4 reads as stream 63.
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 4, 5), 63);
}

TEST(SubpicStreamNumber, StreamZeroOnlyForAPlainAvailableWord) {
  DiscProject p;
  auto pgc = MakePgc();
  pgc->SubpicControl[0] = SubpicWord(0x80, 0, 0, 0);
  pgc->SubpicControl[1] = SubpicWord(0x80, 0, 0, 0);
  pgc->SubpicControl[2] = SubpicWord(0x80, 0, 0x05, 0);  // mode 1 is 0 but the word is not plain
  pgc->SubpicControl[3] = 0;                              // not available
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 1, pgc.get(), 2, 1), 0);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 2, 1), 0);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 2, pgc.get(), 3, 1), -1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 3, pgc.get(), 2, 1), -1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 4, pgc.get(), 2, 1), -1);
  // Stream index 1 answers its mode byte whenever its first byte is set.
  pgc->SubpicControl[0] = SubpicWord(0x81, 0x00, 0x00, 0x00);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 1, pgc.get(), 4, 3), 0);
  // Under class 4, a stream whose wide and letterbox numbers agree has no pan-scan answer.
  pgc->SubpicControl[4] = SubpicWord(0x80, 0x06, 0x06, 0x07);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 5, pgc.get(), 4, 4), -1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 5, pgc.get(), 3, 4), 7);
  // Out-of-range stream indexes.
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 0, pgc.get(), 2, 1), -1);
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 33, pgc.get(), 2, 1), -1);
}

TEST(SubpicStreamNumber, NoChainAnswersMinusOneAndShowsTheDebugMessage) {
  DiscProject p;
  std::vector<std::string> shown;
  p.Prompt.OnLog = [&](const std::string& t) { shown.push_back(t); };
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 1, nullptr, 2, 1), -1);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("Debug Error #12-2003"), std::string::npos);
  p.Form.ShowErrorMsg = false;
  EXPECT_EQ(SubpicStreamNumberOf(p.Form, 1, nullptr, 2, 1), -1);
  EXPECT_EQ(shown.size(), 1u);
}

TEST(AudioStreamNumber, ControlWordCases) {
  DiscProject p;
  auto pgc = MakePgc();
  pgc->AudioControl[0] = 0x8300;
  pgc->AudioControl[1] = 0x0000;
  EXPECT_EQ(disc::AudioStreamNumberOf(1, pgc.get()), 3);
  EXPECT_EQ(disc::AudioStreamNumberOf(2, pgc.get()), -1);
  EXPECT_EQ(disc::AudioStreamNumberOf(9, pgc.get()), -1);
  EXPECT_EQ(disc::AudioStreamNumberOf(1, nullptr), -1);

  // Title and menu lookups take the first chain that has the stream.
  auto t1 = MakePgc();
  auto t2 = MakePgc();
  t2->AudioControl[1] = 0x8500;
  AddTitleChain(p.Form, 1, 0x81, std::move(t1));
  AddTitleChain(p.Form, 1, 0x82, std::move(t2));
  EXPECT_EQ(disc::TitleAudioStreamNumber(p.Form, 2, 1), 5);
  EXPECT_EQ(disc::TitleAudioStreamNumber(p.Form, 1, 1), -1);
  auto m = MakePgc();
  m->AudioControl[0] = 0x8100;
  AddMenuChain(p.Form, 1, 'e', 'n', std::move(m));
  EXPECT_EQ(disc::MenuAudioStreamNumber(p.Form, 1, 1), 1);
  EXPECT_EQ(disc::MenuAudioStreamNumber(p.Form, 1, 200), -1);
}

TEST(SubpicModeMask, FlagsPerModeWithTheFourthModeLowest) {
  auto pgc = MakePgc();
  pgc->SubpicControl[0] = SubpicWord(0x80, 0x00, 0x01, 0x02);
  pgc->SubpicControl[1] = SubpicWord(0x83, 0x03, 0x03, 0x03);
  pgc->SubpicControl[2] = SubpicWord(0x00, 0x05, 0x05, 0x05);  // mapped in modes 2 to 4 all the same
  EXPECT_EQ(disc::SubpicModeMask(0x20, pgc.get()), 0x01010000u);
  EXPECT_EQ(disc::SubpicModeMask(0x21, pgc.get()), 0x00000100u);
  EXPECT_EQ(disc::SubpicModeMask(0x22, pgc.get()), 0x00000001u);
  EXPECT_EQ(disc::SubpicModeMask(0x23, pgc.get()), 0x01010101u);
  EXPECT_EQ(disc::SubpicModeMask(0x25, pgc.get()), 0x00010101u);
  EXPECT_EQ(disc::SubpicModeMask(0x26, pgc.get()), 0u);
}

TEST(CellAngleNumber, PositionsInsideABlock) {
  auto pgc = MakePgc({{1, 1, 0x00}, {2, 1, 0x40}, {3, 1, 0x80}, {4, 1, 0x80}, {5, 1, 0xC0}, {6, 1, 0x00}});
  EXPECT_EQ(disc::CellAngleNumber(1, pgc.get(), 2), 0);
  EXPECT_EQ(disc::CellAngleNumber(2, pgc.get(), 2), 1);
  EXPECT_EQ(disc::CellAngleNumber(3, pgc.get(), 2), 2);
  EXPECT_EQ(disc::CellAngleNumber(4, pgc.get(), 2), 3);
  EXPECT_EQ(disc::CellAngleNumber(5, pgc.get(), 2), 4);
  EXPECT_EQ(disc::CellAngleNumber(6, pgc.get(), 2), 0);
  EXPECT_EQ(disc::CellAngleNumber(7, pgc.get(), 2), -1);
  EXPECT_EQ(disc::CellAngleNumber(2, pgc.get(), 1), -1);
  EXPECT_EQ(disc::CellAngleNumber(2, nullptr, 2), -1);
}

TEST(DisplayClass, FromTheTwoPermissionBits) {
  EXPECT_EQ(disc::DisplayClassOfAttr(0x0002), 1);
  EXPECT_EQ(disc::DisplayClassOfAttr(0x0003), 2);
  EXPECT_EQ(disc::DisplayClassOfAttr(0x0001), 3);
  EXPECT_EQ(disc::DisplayClassOfAttr(0x0300), 4);  // bits of the second byte do not count
  DiscProject p;
  p.Form.IFOFiles[1].VTSI_MAT[disc::vtsi::TitleVideoAttr] = 0x4D;  // 16:9, letterbox only allowed
  p.Form.IFOFiles[1].VTSI_MAT[disc::vtsi::MenuVideoAttr] = 0x42;
  p.Form.IFOFiles[0].VMGI_MAT[256] = 0x43;
  EXPECT_EQ(disc::VTSTitleDisplayMode(p.Form, 1), 3);
  EXPECT_EQ(disc::VTSMenuDisplayMode(p.Form, 1), 1);
  EXPECT_EQ(disc::VTSMenuDisplayMode(p.Form, 0), 2);
  EXPECT_EQ(disc::VTSTitleDisplayMode(p.Form, 500), 4);
}

TEST(ChapterLookups, PartOfTitleAndTitleTable) {
  DiscProject p;
  auto& ptt = p.Form.IFOFiles[1].T_VTS_PTT_SRPT;
  ptt.Entries = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 3}};
  ptt.TitleFirstIndex = {0, 2};
  EXPECT_EQ(disc::ChapterOfProgram(p.Form, 1, 1, 2, 1), 2);
  EXPECT_EQ(disc::ChapterOfProgram(p.Form, 1, 2, 3, 2), 3);
  EXPECT_EQ(disc::ChapterOfProgram(p.Form, 1, 3, 1, 1), 0);
  EXPECT_EQ(disc::ChapterOfProgram(p.Form, 0, 1, 1, 1), 0);
  EXPECT_EQ(disc::ChapterOfProgram(p.Form, 1, 1, 1, 9), 0);

  AddTitleChain(p.Form, 1, 0x81, MakePgc());
  AddTitleChain(p.Form, 1, 0x02, MakePgc());
  AddTitleChain(p.Form, 1, 0x01, MakePgc());
  EXPECT_EQ(disc::ChainNumberInTitle(p.Form, 1, 1, 0), 1);
  EXPECT_EQ(disc::ChainNumberInTitle(p.Form, 1, 1, 2), 2);
  EXPECT_EQ(disc::ChainNumberInTitle(p.Form, 1, 2, 2), 1);

  auto& tt = p.Form.IFOFiles[0].TT_SRPT.Entries;
  tt.resize(3);
  tt[0].TitleSetNumber = 2, tt[0].TitleNumber = 1;
  tt[1].TitleSetNumber = 1, tt[1].TitleNumber = 2;
  tt[2].TitleSetNumber = 1, tt[2].TitleNumber = 1;
  EXPECT_EQ(disc::TitleNumberOfChain(p.Form, 1, 1), 3);
  EXPECT_EQ(disc::TitleNumberOfChain(p.Form, 2, 1), 2);
  EXPECT_EQ(disc::TitleNumberOfChain(p.Form, 9, 1), -1);
  EXPECT_EQ(disc::FindTitleNumber(p.Form, 1, 1), 2);
  EXPECT_EQ(disc::FindTitleNumber(p.Form, 3, 0), 0);
  p.Form.LooseEvo = 1;
  EXPECT_EQ(disc::TitleNumberOfChain(p.Form, 9, 4), 4);
}

TEST(EvoPlayingCells, DistinctCellsOfOneEvoOverTheDomain) {
  DiscProject p;
  using core::TTimeCode;
  AddTitleChain(p.Form, 1, 0x81,
                MakePgc({{1, 1, 0, TTimeCode{0, 0, 10, 0}}, {1, 2, 0, TTimeCode{0, 0, 5, 0}},
                         {2, 1, 0, TTimeCode{0, 1, 0, 0}}}));
  AddTitleChain(p.Form, 1, 0x82,
                MakePgc({{1, 2, 0, TTimeCode{0, 0, 5, 0}}, {1, 3, 0, TTimeCode{0, 0, 0, 12}}}));
  AddMenuChain(p.Form, 1, 'e', 'n', MakePgc({{1, 1, 0, TTimeCode{0, 0, 1, 0}}}));
  const auto titles = disc::EvoCellPlaybackTimes(p.Form, 1, 2, 1);
  ASSERT_EQ(titles.size(), 3u);
  EXPECT_EQ(titles[0], (TTimeCode{0, 0, 10, 0}));
  EXPECT_EQ(titles[1], (TTimeCode{0, 0, 5, 0}));
  EXPECT_EQ(titles[2], (TTimeCode{0, 0, 0, 12}));
  EXPECT_EQ(disc::EvoCellPlaybackTimes(p.Form, 1, 1, 1).size(), 1u);
  EXPECT_TRUE(disc::EvoCellPlaybackTimes(p.Form, 1, 2, 7).empty());
}

TEST(LanguageLookups, AttributeLanguagesAndSubpicIds) {
  DiscProject p;
  auto& mat = p.Form.IFOFiles[1].VTSI_MAT;
  // Stream 1 reads the record at 516 + 8: French; index 0 is no stream.
  mat[disc::vtsi::TitleAudioAttr + 8 + 2] = 'f';
  mat[disc::vtsi::TitleAudioAttr + 8 + 3] = 'r';
  std::string text;
  disc::TitleAudioLanguageName(p.Form, 1, 1, text);
  EXPECT_EQ(text, "French");
  disc::TitleAudioLanguageName(p.Form, 1, 0, text);
  EXPECT_EQ(text, "Not Specified");
  disc::TitleAudioLanguageName(p.Form, 1, 9, text);
  EXPECT_EQ(text, "Not Specified");
  // A title set given alone sits at record 0 and reads as it does at its place on the disc.
  DiscProject alone;
  alone.Form.TitleSetCount = 1;
  alone.Form.IFOFiles[0].Kind = disc::ifoVTS;
  alone.Form.IFOFiles[0].VTSI_MAT = mat;
  disc::TitleAudioLanguageName(alone.Form, 0, 1, text);
  EXPECT_EQ(text, "French");

  // Menu subpicture language of the stream that maps to an id.
  mat[disc::vtsi::MenuVideoAttr] = 0x00;  // class 4
  SetSubpicLanguage(mat, disc::kMenuSubpicAttrOffset, 2, 'd', 'e');
  auto& menu = AddMenuChain(p.Form, 1, 'e', 'n', MakePgc());
  menu.SubpicControl[0] = SubpicWord(0x80, 0x00, 0x00, 0x00);
  menu.SubpicControl[1] = SubpicWord(0x80, 0x01, 0x02, 0x03);
  EXPECT_EQ(disc::SubpicStreamLanguageText(p.Form, p.Form, 1, &menu, 0x22), "German");
  EXPECT_EQ(disc::SubpicStreamLanguageText(p.Form, p.Form, 1, &menu, 0x2A), "Not Specified");

  // Decoding ids of one stream over the title chains, each once.
  mat[disc::vtsi::TitleVideoAttr] = 0x4C;  // class 4: wide, letterbox and pan-scan
  AddTitleChain(p.Form, 1, 0x81, MakePgc()).SubpicControl[0] = SubpicWord(0x80, 0x00, 0x01, 0x02);
  AddTitleChain(p.Form, 1, 0x81, MakePgc()).SubpicControl[0] = SubpicWord(0x80, 0x00, 0x01, 0x03);
  disc::SubpicStreamIdsText(p.Form, p.Form, 1, 1, text);
  EXPECT_EQ(text, "0x20, 0x21, 0x22, 0x23");
}

// ---- texts ----

TEST(AttributeTexts, TablesAndTheirFallbacks) {
  EXPECT_EQ(disc::AudioCodingModeText(0), "Dolby  AC3");
  EXPECT_EQ(disc::AudioCodingModeText(6), "DTS       ");
  EXPECT_EQ(disc::AudioCodingModeText(6).size(), 10u);
  EXPECT_EQ(disc::AudioCodingModeText(9), "");
  EXPECT_EQ(disc::AudioCodeExtensionText(3), "Director's comments 1");
  EXPECT_EQ(disc::AudioCodeExtensionText(7), "7");
  EXPECT_EQ(disc::SubpicCodeExtensionText(0x19), "Forced Caption");
  EXPECT_EQ(disc::SubpicCodeExtensionText(15), "Director's comments for children)");
  EXPECT_EQ(disc::SubpicCodeExtensionText(12), "reserved");
  EXPECT_EQ(disc::VideoResolutionText(0, 1), "704x480 (NTSC)");
  EXPECT_EQ(disc::VideoResolutionText(1, 3), "352x288 (PAL)");
  EXPECT_EQ(disc::VideoResolutionText(1, 4), "");
}

TEST(AttributeTexts, SubpictureAttributeReportRows) {
  DiscProject p;
  const uint8_t attr[6] = {1, 0, 'j', 'a', 0x0A, 0x09};
  disc::SubpicAttributesReport(p.Form.StringGrid1, attr, 3);
  const auto& g = p.Form.StringGrid1;
  EXPECT_EQ(g.Cell(0, 0), "Sub-pic_3: Sub-picture stream attributes");
  EXPECT_EQ(g.Cell(1, 0), "1  0  106  97  10  9");
  EXPECT_EQ(g.Cell(0, 1), "  Sub-picture attribute details:");
  EXPECT_EQ(g.Cell(1, 2), "1");
  EXPECT_EQ(g.Cell(1, 3), "2 bit rle");
  EXPECT_EQ(g.Cell(1, 4), "Japanese");
  EXPECT_EQ(g.Cell(1, 5), "[0a]");
  EXPECT_EQ(g.Cell(0, 6), "    Code extension (Sub-picture caption)");
  EXPECT_EQ(g.Cell(1, 6), "Forced Caption");
}

// ---- palette conversion ----

TEST(Palette, ConversionAndSnapping) {
  DiscProject p;
  auto pgc = MakePgc();
  pgc->Palette[0] = {0, 235, 128, 128};
  pgc->Palette[1] = {0, 200, 128, 128};
  pgc->Palette[2] = {0, 180, 128, 128};
  pgc->Palette[3] = {0, 16, 128, 128};
  pgc->Palette[4] = {0, 0, 0, 0};  // takes the default entry
  p.Form.DefaultPalette[4] = {253, 67, 1};
  p.Form.DefaultPalette[5] = {9, 9, 9};
  pgc->Palette[5] = {0, 81, 90, 240};  // a blue
  std::array<uint8_t, 48> rgb{};
  disc::PaletteYCrCbToRGB(p.Form, pgc.get(), rgb);
  auto entry = [&](int i) { return std::array<uint8_t, 3>{rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2]}; };
  EXPECT_EQ(entry(0), (std::array<uint8_t, 3>{255, 255, 255}));
  EXPECT_EQ(entry(1), (std::array<uint8_t, 3>{215, 215, 215}));
  EXPECT_EQ(entry(2), (std::array<uint8_t, 3>{192, 192, 192}));
  EXPECT_EQ(entry(3), (std::array<uint8_t, 3>{0, 0, 0}));
  EXPECT_EQ(entry(4), (std::array<uint8_t, 3>{255, 67, 0}));
  // R 15.6 -> 16 stays, G 63.3 -> 63 snaps to 64, B 302 -> 255.
  EXPECT_EQ(disc::YCrCbToRGBUnsnapped(81, 90, 240), (std::array<int32_t, 3>{16, 63, 302}));
  EXPECT_EQ(entry(5), (std::array<uint8_t, 3>{16, 64, 255}));

  EXPECT_EQ(disc::YCrCbToRGBUnsnapped(235, 128, 128), (std::array<int32_t, 3>{256, 256, 256}));
  EXPECT_EQ(disc::YCrCbToRGBUnsnapped(200, 128, 128), (std::array<int32_t, 3>{215, 215, 215}));
  EXPECT_EQ(disc::YCrCbToRGBUnsnapped(180, 128, 128), (std::array<int32_t, 3>{191, 191, 191}));
  EXPECT_EQ(disc::YCrCbToRGBUnsnapped(16, 128, 128), (std::array<int32_t, 3>{1, 1, 1}));

  EXPECT_EQ(disc::SnapPaletteChannel(253), 255);
  EXPECT_EQ(disc::SnapPaletteChannel(67), 67);
  EXPECT_EQ(disc::SnapPaletteChannel(190), 192);
  EXPECT_EQ(disc::SnapPaletteChannel(131), 131);
  EXPECT_EQ(disc::SnapPaletteChannel(126), 128);
  EXPECT_EQ(disc::SnapPaletteChannel(62), 64);
  EXPECT_EQ(disc::SnapPaletteChannel(2), 2);
  EXPECT_EQ(disc::SnapPaletteChannel(1), 0);
  EXPECT_EQ(disc::SnapPaletteChannel(-5), 0);
  EXPECT_EQ(disc::SnapPaletteChannel(300), 255);

  // Without a chain every entry is the default one, snapped.
  disc::PaletteYCrCbToRGB(p.Form, nullptr, rgb);
  EXPECT_EQ(entry(4), (std::array<uint8_t, 3>{255, 67, 0}));
  EXPECT_EQ(entry(5), (std::array<uint8_t, 3>{9, 9, 9}));
}

}  // namespace
}  // namespace tess::test
