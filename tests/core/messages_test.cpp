#include "core/messages.h"

#include <gtest/gtest.h>

#include <string>

namespace tess::core {
namespace {

TEST(MessageTables, HoldEveryTextInItsPlace) {
  EXPECT_EQ(kGeneralMessages.size(), 240u);
  EXPECT_EQ(kRunMessages.size(), 19u);
  EXPECT_EQ(kGeneralMessages.front(), "Specify source path!");
  EXPECT_EQ(kGeneralMessages.back(), "Select extracted data path:");
  EXPECT_EQ(kRunMessages.front(), "Process is aborted! Demuxing or script generation is failure!");
  EXPECT_EQ(kRunMessages.back(), "Close anyway ?");

  // The numbered family sits between "Scenarist file does not exist!" and the empty text.
  EXPECT_EQ(kGeneralMessages[87], "Scenarist file does not exist!");
  for (int n = 1; n <= 33; ++n)
    EXPECT_EQ(kGeneralMessages[87 + n], "Debug error #" + std::to_string(n) + ". Please, refer to author for information.");
  EXPECT_EQ(kGeneralMessages[121], "");
  EXPECT_EQ(kGeneralMessages[122], "Starting EVO files processing ...");
}

TEST(MessageTables, KeepQuotesBlanksAndMisspellings) {
  // Embedded quotes.
  EXPECT_EQ(kGeneralMessages[178], "Insert Stub \"Blank\" SubPicture into track ");
  EXPECT_EQ(kGeneralMessages[186], " from \"");
  EXPECT_EQ(kGeneralMessages[187], "\" to \"");
  EXPECT_EQ(kGeneralMessages[188], "Detected Subpicture Advanced Effect \"Scroll\" ");
  EXPECT_EQ(kGeneralMessages[223], "You must be in \"Show tree\" processing mode for using this tool.");
  EXPECT_EQ(std::string(msg::ChangingAspectRatioInFile) + "a.m2v" + std::string(msg::From) + "4:3" +
                std::string(msg::To) + "16:9\"",
            "Changing Aspect Ratio in file a.m2v from \"4:3\" to \"16:9\"");
  // Blanks at either end, and inside.
  EXPECT_EQ(kGeneralMessages[64], "Video end time  : ");
  EXPECT_EQ(kGeneralMessages[160], "  Copy files in VTS_");
  EXPECT_EQ(kGeneralMessages[203], " --------------- Start to analize file: ");
  EXPECT_EQ(kGeneralMessages[168], " Create ");
  EXPECT_EQ(kRunMessages[8], "   Total time: ");
  EXPECT_EQ(kGeneralMessages[236], "does not exist.");
  // Misspellings stay.
  EXPECT_EQ(kGeneralMessages[8], "Inpossible to delete folder ");
  EXPECT_EQ(kGeneralMessages[125], "Starting Subpictures convertion ...");
  EXPECT_EQ(kGeneralMessages[31], "Scenarist path is set uncorrectly!");
  EXPECT_EQ(kGeneralMessages[215], "Can not open file ");
  // Repeated texts keep their own places.
  EXPECT_EQ(kRunMessages[2], kRunMessages[4]);
  EXPECT_EQ(kGeneralMessages[51], "Open file: ");
  EXPECT_EQ(kGeneralMessages[214], "Open file: ");
  EXPECT_EQ(kGeneralMessages[229], "Open file: ");
}

TEST(MessageTables, NamedTextsAreTheTableEntries) {
  EXPECT_EQ(msg::Folder, kGeneralMessages[4]);
  EXPECT_EQ(msg::IsNotEmpty, kGeneralMessages[5]);
  EXPECT_EQ(msg::Folder2, kGeneralMessages[232]);
  EXPECT_EQ(msg::CanNotOpenFile, kGeneralMessages[215]);
  EXPECT_EQ(msg::ErrorInFile, kGeneralMessages[212]);
  EXPECT_EQ(msg::PreparingDemuxingOfEVOFile, kGeneralMessages[139]);
  EXPECT_EQ(msg::Demuxing2, "Demuxing...");
  EXPECT_EQ(runmsg::TotalTime, kRunMessages[8]);
  // Language keys.
  EXPECT_EQ(STARTING2_STR, kGeneralMessages[154]);
  EXPECT_EQ(TITLES_STR, kGeneralMessages[152]);
  EXPECT_EQ(MENU_STR, kGeneralMessages[153]);
  EXPECT_EQ(INVTSN_STR, kGeneralMessages[155]);
  EXPECT_EQ(AUDIOCORMODE_STR, kGeneralMessages[156]);
  EXPECT_EQ(MAINMODE_STR, kGeneralMessages[157]);
  EXPECT_EQ(VOBIDMODE_STR, kGeneralMessages[158]);
  EXPECT_EQ(DEMUXFINISH_STR, kGeneralMessages[60]);
  EXPECT_EQ(NOTCORRECTLOAD_STR, kGeneralMessages[54]);
}

TEST(MessageTables, PiecesJoinWithSingleBlanks) {
  const std::string line = std::string(msg::Folder) + "/out/VTS_001" + std::string(msg::IsNotEmpty);
  EXPECT_EQ(line, "Folder /out/VTS_001 is not empty !");
  EXPECT_EQ(std::string(msg::Folder2) + "x" + std::string(msg::IsNotEmpty2), "Folder x is not empty !");
}

TEST(MessageTables, TextsAreSingleLinePlainBytes) {
  for (auto t : kGeneralMessages)
    for (char c : t) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << t;
  for (auto t : kRunMessages)
    for (char c : t) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << t;
}

}  // namespace
}  // namespace tess::core
