// Identification of information files, the DVD-Video set made by dvdauthor,
// missing files and the release helpers.
#include <gtest/gtest.h>

#include "disc/ifo_set.h"
#include "core/byte_order.h"
#include "disc/ifo_readers.h"
#include "ifo_test_disc.h"
#include "support/disc_support.h"

namespace tess::test {
namespace {

TEST(IfoIdentify, KindAndHdFlagFromTheIdentifier) {
  TempDir dir;
  DiscProject project;
  const struct {
    const char* Id;
    int32_t Kind;
    uint8_t HD;
  } cases[] = {
      {"HVDVD-VMG100", 1, 1}, {"DVDVIDEO-VMG", 1, 0}, {"STANDARD-VTS", 2, 1}, {"DVDVIDEO-VTS", 2, 0},
      {"STANDARD-VMG", 0, 0}, {"DVDVIDEO-VT", 0, 0},  {"hvdvd-vmg100", 0, 0},
  };
  for (const auto& c : cases) {
    const std::string id = c.Id;
    std::vector<uint8_t> bytes(id.begin(), id.end());
    bytes.resize(64, 0);
    WriteFileBytes(dir.File("x.ifo"), bytes);
    project.Form.HDDisc = 1 - c.HD;
    EXPECT_EQ(disc::DetectIFOKind(project.Form, dir.File("X.IFO")), c.Kind) << c.Id;
    EXPECT_EQ(project.Form.HDDisc, c.HD) << c.Id;
  }
  // A short or missing file reads as zeros: kind 0, flag cleared.
  WriteFileBytes(dir.File("short.ifo"), {'H', 'V', 'D'});
  project.Form.HDDisc = 1;
  EXPECT_EQ(disc::DetectIFOKind(project.Form, dir.File("short.ifo")), 0);
  EXPECT_EQ(project.Form.HDDisc, 0);
  project.Form.HDDisc = 1;
  EXPECT_EQ(disc::DetectIFOKind(project.Form, dir.File("none.ifo")), 0);
  EXPECT_EQ(project.Form.HDDisc, 0);
}

TEST(IfoIdentify, DvdVideoAfterAnHdDiscClearsTheFlag) {
  TempDir dir;
  DiscProject project;
  tools::WriteIfoSet(dir.Path(), SampleDisc(1));
  disc::LoadIFOSet(project.Form, project.Form, project.Form, dir.File("hv000i01.IFO"), project.Form.StringGrid1);
  ASSERT_EQ(project.Form.HDDisc, 1);

  const std::string vmg = DataFile("dvdvideo/VIDEO_TS.IFO");
  EXPECT_EQ(disc::DetectIFOKind(project.Form, vmg), disc::ifoVMG);
  EXPECT_EQ(project.Form.HDDisc, 0);
  project.Form.HDDisc = 1;
  EXPECT_EQ(disc::DetectIFOKind(project.Form, DataFile("dvdvideo/vts_01_0.ifo")), disc::ifoVTS);
  EXPECT_EQ(project.Form.HDDisc, 0);
}

TEST(IfoIdentify, DvdauthorSetLoadsWithoutHdFileNames) {
  DiscProject project;
  project.Form.HDDisc = 1;
  // The VMG is read with the shared layouts; its title set is looked for under
  // the HD name, which a DVD-Video folder does not have.
  EXPECT_EQ(disc::LoadIFOSet(project.Form, project.Form, project.Form, DataFile("dvdvideo/VIDEO_TS.IFO"), project.Form.StringGrid1), 0);
  EXPECT_EQ(project.Form.HDDisc, 0);
  const disc::TIFOFile& vmg = project.Form.IFOFiles[0];
  EXPECT_EQ(vmg.Kind, disc::ifoVMG);
  EXPECT_EQ(vmg.VTS_ATRT.TitleSetCount, 1);
  EXPECT_EQ(disc::VMGIField16(vmg, disc::vmgi::TitleSetCount), 1);
  EXPECT_NE(vmg.FirstPlayPGC, nullptr);
  EXPECT_TRUE(project.LogContains("File hv001i01.IFO is not correct. Loading hv001i01.BUP"));
  EXPECT_TRUE(project.LogContains("File hv001i01.BUP is not correct too. Information corrupted."));
  EXPECT_EQ(project.Form.TitleSetCount, 2);
}

TEST(IfoIdentify, DvdauthorTitleSetAddressTablesAreReadWithTheHdLayout) {
  // The cell address table and the VOBU map are laid out alike on DVD-Video:
  // one cell in VOB 1, starting at sector 0, and the VOBU map starting there too.
  // Only the cell id differs: DVD-Video keeps it in the byte that is the high
  // half of the title table's 16-bit cell id.
  DiscProject project;
  disc::TIFOFile& f = project.Form.IFOFiles[1];
  disc::ReadVTSI(project.Form, project.Form, f, DataFile("dvdvideo/VTS_01_0.IFO"), project.Form.StringGrid1);
  ASSERT_FALSE(f.VTS_C_ADT.Entries.empty());
  EXPECT_EQ(f.VTS_C_ADT.VobCount, 1);
  EXPECT_EQ(f.VTS_C_ADT.Entries[0].VobId, 1);
  EXPECT_EQ(f.VTS_C_ADT.Entries[0].CellId, 0x100);
  EXPECT_EQ(f.VTS_C_ADT.Entries[0].FirstSector, 0u);
  EXPECT_GT(f.VTS_C_ADT.Entries[0].LastSector, 0u);
  ASSERT_FALSE(f.VTS_VOBU_ADMAP.Sectors.empty());
  EXPECT_EQ(f.VTS_VOBU_ADMAP.Sectors[0], 0u);
  EXPECT_LE(f.VTS_VOBU_ADMAP.Sectors.back(), f.VTS_C_ADT.Entries.back().LastSector);
  EXPECT_EQ(project.Form.StringGrid1.Cell(0, 0), "VTS Overview:");
}

TEST(IfoIdentify, MissingFilesAreReportedAndReadNothing) {
  TempDir dir;
  DiscProject project;
  disc::TIFOFile& f = project.Form.IFOFiles[1];
  for (size_t off = disc::vtsi::PTT_SRPT; off <= disc::vtsi::VTS_VOBU_ADMAP; off += 4)
    core::WriteBE32(&f.VTSI_MAT[off], 7);
  disc::ReadVTSI(project.Form, project.Form, f, dir.File("hv004i01.IFO"), project.Form.StringGrid1);
  for (size_t off = disc::vtsi::PTT_SRPT; off <= disc::vtsi::VTS_VOBU_ADMAP; off += 4)
    EXPECT_EQ(disc::VTSIField32(f, off), 0u) << off;
  disc::ReadVMGI(project.Form, project.Form, project.Form.IFOFiles[0], dir.File("hv000i01.IFO"));
  EXPECT_EQ(project.LogTexts(), (std::vector<std::string>{"File hv004i01.IFO does not exist!",
                                                         "File hv000i01.IFO does not exist!"}));
  EXPECT_EQ(project.Form.LogWindow.Log.Lines[0].Kind, 2);
  EXPECT_EQ(project.Form.LogWindow.Log.Lines[0].Colour, platform::kColourRed);
}

TEST(IfoIdentify, ATitleSetReaderGivenAVmgReadsNoTable) {
  TempDir dir;
  DiscProject project;
  tools::WriteIfoSet(dir.Path(), SampleDisc(1));
  disc::TIFOFile& f = project.Form.IFOFiles[1];
  disc::ReadVTSI(project.Form, project.Form, f, dir.File("hv000i01.IFO"), project.Form.StringGrid1);
  EXPECT_TRUE(std::all_of(f.VTSI_MAT.begin(), f.VTSI_MAT.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(f.VTS_PGCIT.PGCs.empty());
  EXPECT_TRUE(project.LogContains("File hv000i01.IFO, VTSI_MAT: the identifier is not that of a title set"));
}

TEST(IfoIdentify, ReleaseHelpers) {
  DiscProject project;
  test::DiscForm& form = project.Form;
  // A record whose tables were never read is still zeroed.
  form.IFOFiles[0].FileName = "x";
  form.IFOFiles[0].Kind = disc::ifoVTS;
  form.IFOFiles[0].AudioCellTable[0][4].Seen = 1;
  form.TitleSetCount = 1;
  disc::FreeAllTitleSets(form);
  EXPECT_TRUE(form.IFOFiles[0].FileName.empty());
  EXPECT_EQ(form.IFOFiles[0].AudioCellTable[0][4].Seen, 0);

  struct Thing : disc::TObjectTables::Object {};
  form.ObjectTables.Objects[1000] = std::make_unique<Thing>();
  form.ObjectTables.SmallObjects[255] = std::make_unique<Thing>();
  disc::FreeObjectTables(form);
  EXPECT_EQ(form.ObjectTables.Objects[1000], nullptr);
  EXPECT_EQ(form.ObjectTables.SmallObjects[255], nullptr);

  form.StringPool.Add("text");
  form.VideoStreams.resize(2);
  disc::FreeStreamArrays(form);
  EXPECT_EQ(form.StringPool.Count(), 0u);
  EXPECT_TRUE(form.VideoStreams.empty());
}

}  // namespace
}  // namespace tess::test
