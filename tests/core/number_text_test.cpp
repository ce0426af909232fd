#include "core/number_text.h"

#include <gtest/gtest.h>

#include "core/byte_order.h"

namespace tess::core {
namespace {

TEST(NumberText, ZeroPadding) {
  EXPECT_EQ(IntToStrZeroPad(7, 3), "007");
  EXPECT_EQ(IntToStrZeroPad(1234, 2), "1234");  // longer numbers are not cut
  EXPECT_EQ(IntToStrZeroPad(0, 2), "00");
  EXPECT_EQ(IntToStrZeroPad(5, 0), "5");
  EXPECT_EQ(IntToStrZeroPad(-1, 2), "4294967295");  // taken as unsigned 32-bit
  EXPECT_EQ(IntToStrZeroPad(-2, 12), "004294967294");
}

TEST(NumberText, ShortenAndTabs) {
  EXPECT_EQ(ShortenTextLeft("0123456789", 4), "...6789");
  EXPECT_EQ(ShortenTextLeft("abcd", 4), "abcd");
  EXPECT_EQ(ShortenTextLeft("", 0), "");
  EXPECT_EQ(MakeTabs(0), "");
  EXPECT_EQ(MakeTabs(3), "\t\t\t");
}

TEST(NumberText, BoolTexts) {
  std::string s = "unchanged";
  BoolToText(true, 4, s);
  EXPECT_EQ(s, "Permitted");
  BoolToText(false, 1, s);
  EXPECT_EQ(s, "No");
  BoolToText(true, 5, s);
  EXPECT_EQ(s, "1");
  BoolToText(true, 6, s);
  EXPECT_EQ(s, "1");  // an unknown style leaves the text as it was
  BoolToText(true, -1, s);
  EXPECT_EQ(s, "1");
}

TEST(NumberText, ScriptModelCodes) {
  EXPECT_EQ(ResolutionCode(720, 576), 4);
  EXPECT_EQ(ResolutionCode(640, 480), 0);
  EXPECT_EQ(ResolutionCode(352, 240), 3);
  EXPECT_EQ(ResolutionCode(704, 480), 1);
  EXPECT_EQ(ResolutionCode(352, 576), 6);
  EXPECT_EQ(ResolutionCode(100, 288), 7);
  EXPECT_EQ(ResolutionCode(1920, 1080), 0);
  EXPECT_EQ(VideoStandardName(0), "NTSC");
  EXPECT_EQ(VideoStandardName(1), "PAL");
  EXPECT_EQ(VideoStandardName(2), "");
  EXPECT_TRUE(IsPalStandard(2));
  EXPECT_FALSE(IsPalStandard(0));
  EXPECT_EQ(AudioCodingModeToIndex(0), 0);
  EXPECT_EQ(AudioCodingModeToIndex(2), 1);
  EXPECT_EQ(AudioCodingModeToIndex(4), 2);
  EXPECT_EQ(AudioCodingModeToIndex(6), 3);
  EXPECT_EQ(AudioCodingModeToIndex(3), 4);
}

TEST(ByteOrder, Swaps) {
  uint8_t pack[4] = {0x00, 0x00, 0x01, 0xBA};
  SwapBytes32(pack);
  EXPECT_EQ(pack[0], 0xBA);
  EXPECT_EQ(pack[1], 0x01);
  EXPECT_EQ(pack[2], 0x00);
  EXPECT_EQ(pack[3], 0x00);
  uint8_t two[2] = {0x12, 0x34};
  SwapBytes16(two);
  EXPECT_EQ(ReadBE16(two), 0x3412);
  uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  SwapBytes64(eight);
  EXPECT_EQ(ReadBE64(eight), 0x0807060504030201ull);
  EXPECT_EQ(ReadLE64(eight), 0x0102030405060708ull);
}

}  // namespace
}  // namespace tess::core
