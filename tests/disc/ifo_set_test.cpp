// Loading builder-made sets through the loading driver and comparing every
// parsed table with what the builder wrote.
#include <gtest/gtest.h>

#include "disc/ifo_set.h"
#include "core/byte_order.h"
#include "disc/ifo_readers.h"
#include "ifo_test_disc.h"
#include "support/disc_support.h"

namespace tess::test {
namespace {

using tools::IfoDamage;

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class IfoSetTest : public ::testing::Test {
 protected:
  TempDir dir;
  DiscProject project;
  tools::DiscSpec spec = SampleDisc(3);
};

TEST_F(IfoSetTest, LoadsEveryTableAsWrittenWithBackupFallback) {
  tools::IfoBuildOptions opt;
  opt.Damage[2] = {IfoDamage::Missing, IfoDamage::None};              // only the backup of title set 2
  opt.Damage[3] = {IfoDamage::BadIdentifier, IfoDamage::BadIdentifier};  // no good copy of title set 3
  const tools::IfoSetSummary sum = tools::WriteIfoSet(dir.Path(), spec, opt);
  ASSERT_TRUE(sum.Vmg.IfoWritten);
  ASSERT_FALSE(sum.TitleSets[1].IfoWritten);

  test::DiscForm& form = project.Form;
  // Disc file systems ignore case: a differently spelled name finds the file.
  const int32_t loaded = disc::LoadIFOSet(form, form, form, dir.File("HV000I01.ifo"), form.StringGrid1);
  EXPECT_EQ(loaded, 2);
  EXPECT_EQ(form.HDDisc, 1);
  EXPECT_EQ(form.TitleSetCount, 4);

  // Exactly the driver's lines: no table of a good file is reported.
  EXPECT_EQ(project.LogTexts(), (std::vector<std::string>{
                                    "File hv002i01.IFO does not exist!",
                                    "File hv002i01.IFO is not correct. Loading hv002i01.BUP",
                                    "File hv003i01.IFO is not correct. Loading hv003i01.BUP",
                                    "File hv003i01.BUP is not correct too. Information corrupted.",
                                }));

  const disc::TIFOFile& vmg = form.IFOFiles[0];
  EXPECT_EQ(vmg.Kind, disc::ifoVMG);
  EXPECT_EQ(vmg.Ordinal, 1);
  EXPECT_TRUE(EndsWith(vmg.FileName, "/hv000i01.IFO")) << vmg.FileName;
  EXPECT_EQ(std::string(vmg.VMGI_MAT.begin(), vmg.VMGI_MAT.begin() + 12), "HVDVD-VMG100");
  EXPECT_EQ(disc::VMGIField16(vmg, disc::vmgi::TitleSetCount), 3);

  ASSERT_NE(vmg.FirstPlayPGC, nullptr);
  ExpectChainMatches(*vmg.FirstPlayPGC, sum.Vmg.FirstPlay, "first play");

  ASSERT_EQ(vmg.TT_SRPT.Entries.size(), sum.Vmg.Titles.size());
  EXPECT_EQ(vmg.TT_SRPT.TitleCount, 6);  // two titles in each of three title sets
  for (size_t i = 0; i < sum.Vmg.Titles.size(); ++i) {
    SCOPED_TRACE("title " + std::to_string(i + 1));
    const auto& e = vmg.TT_SRPT.Entries[i];
    const auto& s = sum.Vmg.Titles[i];
    EXPECT_EQ(e.AngleCount, s.AngleCount);
    EXPECT_EQ(e.Field2, s.Parts);
    EXPECT_EQ(e.TitleSetNumber, s.TitleSet);
    EXPECT_EQ(e.TitleNumber, s.TitleNumber);
    EXPECT_EQ(e.StartSector, s.StartSector);
  }
  EXPECT_EQ(vmg.TT_SRPT.Entries[0].AngleCount, 3);
  EXPECT_EQ(vmg.TT_SRPT.Entries[0].Field2, 5);  // four programs of chain 1 and one of chain 3
  EXPECT_GT(vmg.TT_SRPT.Entries[2].StartSector, vmg.TT_SRPT.Entries[0].StartSector);

  ExpectMenusMatch(vmg, sum.Vmg);
  EXPECT_EQ(vmg.MenuPGCI_UT.Units[0].MenuExistence, 0x80);
  EXPECT_EQ(vmg.PTL_MAIT.TitleSetCount, 3);
  EXPECT_EQ(vmg.PTL_MAIT.EndByte, 15u);
  ASSERT_EQ(vmg.VTS_ATRT.TitleSetCount, 3);
  ASSERT_EQ(vmg.VTS_ATRT.Entries.size(), 3u);
  for (size_t n = 0; n < 3; ++n) {
    // In the form of every other attribute word: first stored byte low.
    EXPECT_EQ(vmg.VTS_ATRT.Entries[n].MenuVideoAttr, spec.TitleSets[n].MenuVideoAttr);
    EXPECT_EQ(vmg.VTS_ATRT.Entries[n].TitleVideoAttr, spec.TitleSets[n].TitleVideoAttr);
  }
  EXPECT_EQ(vmg.TXTDT_MG.UnitCount, 1);
  ASSERT_EQ(vmg.TXTDT_MG.Units.size(), 1u);
  EXPECT_EQ(vmg.TXTDT_MG.Units[0].Bytes[0], 'e');

  // Title set 1 from its .IFO, title set 2 from its .BUP.
  for (int n = 1; n <= 2; ++n) {
    const disc::TIFOFile& f = form.IFOFiles[n];
    EXPECT_EQ(f.Kind, disc::ifoVTS);
    EXPECT_EQ(f.Ordinal, n + 1);
    EXPECT_EQ(f.TitleSetNumber, n);
    EXPECT_EQ(f.VTSI_MAT[disc::vtsi::TitleAudioCount], 2);
    EXPECT_EQ(f.VTSI_MAT[disc::vtsi::TitleVideoAttr], spec.TitleSets[n - 1].TitleVideoAttr & 0xFF);
    ExpectTitleSetMatches(f, sum.TitleSets[n - 1]);
  }
  EXPECT_TRUE(EndsWith(form.IFOFiles[1].FileName, "/hv001i01.IFO"));
  EXPECT_TRUE(EndsWith(form.IFOFiles[2].FileName, "/hv002i01.BUP"));
  EXPECT_EQ(form.IFOFiles[1].VTS_PGCIT.PGCs[0].PGC->CellPlayback[1].StillTime(), 5);
  EXPECT_TRUE(form.IFOFiles[1].VTS_PGCIT.PGCs[0].PGC->CellPlayback[1].Seamless());

  // Title set 3 keeps its place and number, a title set without tables.
  const disc::TIFOFile& bad = form.IFOFiles[3];
  EXPECT_EQ(bad.Kind, disc::ifoVTS);
  EXPECT_TRUE(bad.InformationCorrupted);
  EXPECT_EQ(bad.TitleSetNumber, 3);
  EXPECT_TRUE(bad.VTS_PGCIT.PGCs.empty());

  // The overview of the last title set read is in the information grid.
  EXPECT_EQ(form.StringGrid1.Cell(0, 0), "VTS Overview:");
  EXPECT_EQ(form.StringGrid1.Cell(1, 0), "hv002i01.BUP");
  bool cellRow = false;
  for (int r = 0; r < form.StringGrid1.RowCount; ++r)
    cellRow = cellRow || form.StringGrid1.Cell(1, r).find("VOB ID: 3  CELL ID: 1") != std::string::npos;
  EXPECT_TRUE(cellRow);
}

TEST_F(IfoSetTest, AngleCellsAndRunsComeFromTheLayout) {
  const tools::IfoSetSummary sum = tools::WriteIfoSet(dir.Path(), spec);
  disc::LoadIFOSet(project.Form, project.Form, project.Form, dir.File("hv000i01.IFO"), project.Form.StringGrid1);
  const disc::TIFOFile& f = project.Form.IFOFiles[1];
  const auto& layout = sum.TitleSets[0].TitleLayout;
  // Interleaved angle cells lie in more than one run; each run is one C_ADT entry.
  EXPECT_EQ(layout.Cells[2].Runs.size(), 2u);
  size_t runs = 0;
  for (const auto& c : layout.Cells) runs += c.Runs.size();
  EXPECT_EQ(f.VTS_C_ADT.Entries.size(), runs);
  EXPECT_EQ(f.VTS_C_ADT.VobCount, 5);
  const auto& cells = f.VTS_PGCIT.PGCs[0].PGC->CellPlayback;
  ASSERT_EQ(cells.size(), 6u);
  // Block mode first / middle / last, angle block, interleaved; seamless angle bit.
  EXPECT_EQ(cells[2].Category[0], 0x40 | 0x10 | 0x04 | 0x01);
  EXPECT_EQ(cells[3].Category[0], 0x80 | 0x10 | 0x04 | 0x01);
  EXPECT_EQ(cells[4].Category[0], 0xC0 | 0x10 | 0x04);
  EXPECT_EQ(cells[2].FirstVobuStart, layout.Vobus[layout.Cells[2].Vobus[0]].Sector);
  EXPECT_EQ(cells[2].FirstIlvuEnd, layout.Vobus[layout.Cells[2].Vobus[0]].LastSector());
  EXPECT_EQ(cells[0].FirstIlvuEnd, 0u);
  // Two 0.5 s VOBUs at 29.97: one second, 30 frames at the 30 fps count.
  EXPECT_EQ(cells[1].PlaybackTime, (core::TTimeCode{0, 0, 1, 0}));
  const auto& pgc = *f.VTS_PGCIT.PGCs[0].PGC;
  EXPECT_EQ(pgc.ProgramMap, (std::vector<uint8_t>{1, 2, 3, 6}));
  EXPECT_EQ(pgc.PlaybackTime, (core::TTimeCode{0, 0, 6, 0}));  // 3 + 2 + 2 + 5 VOBUs
}

// The video manager's title-set table is held against the rest of the disc;
// an intact disc of any size passes as it is, a last title set of menus only
// (which no title of the title search table names) included.
TEST_F(IfoSetTest, AnIntactDiscLoadsEveryTitleSetWithoutAWord) {
  for (const int sets : {1, 2, 5, 12}) {
    TempDir here;
    DiscProject fresh;
    tools::DiscSpec d = SampleDisc(sets);
    d.TitleSets.back().Titles = {};
    tools::WriteIfoSet(here.Path(), d);
    EXPECT_EQ(disc::LoadIFOSet(fresh.Form, fresh.Form, fresh.Form, here.Path(), fresh.Form.StringGrid1), sets) << sets;
    EXPECT_TRUE(fresh.Form.UncountedTitleSets.empty()) << sets;
    EXPECT_TRUE(fresh.LogTexts().empty()) << sets << ": " << (fresh.LogTexts().empty() ? "" : fresh.LogTexts()[0]);
  }
}

TEST_F(IfoSetTest, DvdVideoIdentifiersAreReadWithTheSameLayouts) {
  spec.HD = false;
  spec.FrameRate = 25;
  const tools::IfoSetSummary sum = tools::WriteIfoSet(dir.Path(), spec);
  EXPECT_EQ(disc::LoadIFOSet(project.Form, project.Form, project.Form, dir.Path(), project.Form.StringGrid1), 3);  // a folder stands for its VMG
  EXPECT_EQ(project.Form.HDDisc, 0);
  EXPECT_TRUE(project.LogTexts().empty());
  for (int n = 1; n <= 3; ++n) ExpectTitleSetMatches(project.Form.IFOFiles[n], sum.TitleSets[n - 1]);
  // The rate flag of 25 fps is 01 in the frame byte's top bits.
  EXPECT_EQ(sum.TitleSets[0].TitlePGCs[0].PlaybackTimeBcd[3] & 0xC0, 0x40);
}

TEST_F(IfoSetTest, ASingleTitleSetFileLoadsAsRecordZero) {
  tools::WriteIfoSet(dir.Path(), spec);
  EXPECT_EQ(disc::LoadIFOSet(project.Form, project.Form, project.Form, dir.File("hv002i01.ifo"), project.Form.StringGrid1), 1);
  EXPECT_EQ(project.Form.TitleSetCount, 1);
  EXPECT_EQ(project.Form.IFOFiles[0].Kind, disc::ifoVTS);
  EXPECT_FALSE(project.Form.IFOFiles[0].VTS_PGCIT.PGCs.empty());
}

TEST_F(IfoSetTest, ReloadingReleasesTheEarlierSet) {
  tools::IfoBuildOptions opt;
  opt.Damage[3] = {IfoDamage::Missing, IfoDamage::Missing};
  tools::WriteIfoSet(dir.Path(), spec, opt);
  disc::LoadIFOSet(project.Form, project.Form, project.Form, dir.File("hv000i01.IFO"), project.Form.StringGrid1);
  ASSERT_EQ(project.Form.TitleSetCount, 4);
  EXPECT_EQ(project.Form.IFOFiles[3].TitleSetNumber, 3);

  TempDir small;
  tools::WriteIfoSet(small.Path(), SampleDisc(1));
  disc::LoadIFOSet(project.Form, project.Form, project.Form, small.File("hv000i01.IFO"), project.Form.StringGrid1);
  EXPECT_EQ(project.Form.TitleSetCount, 2);
  // Records past the new count are released, the failed one's name included.
  for (int i = 2; i < 4; ++i) {
    EXPECT_EQ(project.Form.IFOFiles[i].Kind, disc::ifoUnknown);
    EXPECT_TRUE(project.Form.IFOFiles[i].FileName.empty());
    EXPECT_EQ(project.Form.IFOFiles[i].TitleSetNumber, 0);
    EXPECT_TRUE(project.Form.IFOFiles[i].VTS_PGCIT.PGCs.empty());
  }

  disc::FreeAllTitleSets(project.Form);
  for (int i = 0; i < 2; ++i) {
    const disc::TIFOFile& f = project.Form.IFOFiles[i];
    EXPECT_EQ(f.Kind, disc::ifoUnknown);
    EXPECT_TRUE(f.FileName.empty());
    EXPECT_EQ(f.FirstPlayPGC, nullptr);
    EXPECT_TRUE(f.MenuPGCI_UT.Units.empty());
    EXPECT_TRUE(f.TT_SRPT.Entries.empty());
    EXPECT_EQ(disc::VMGIField32(f, disc::vmgi::TT_SRPT), 0u);
    EXPECT_TRUE(f.T_VTS_PTT_SRPT.TitleFirstIndex.empty());
  }
}

}  // namespace
}  // namespace tess::test
