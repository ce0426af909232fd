// Damaged information files: every bad table is reported, skipped and never
// trusted, and nothing read from a file can make a reader step outside it.
#include <gtest/gtest.h>

#include <cstring>

#include <functional>
#include <random>

#include "disc/ifo_set.h"
#include "disc/pgc_reader.h"
#include "core/byte_order.h"
#include "disc/ifo_readers.h"
#include "ifo_test_disc.h"
#include "support/disc_support.h"

namespace tess::test {
namespace {

using tools::IfoFault;
using tools::IfoFaultKind;
using tools::IfoTable;

// Counts that a record exposes must equal the entries it holds.
void ExpectChainConsistent(const disc::TPGC& P) {
  EXPECT_EQ(P.ProgramMap.size(), P.ProgramCount);
  EXPECT_EQ(P.CellPlayback.size(), P.CellCount);
  EXPECT_EQ(P.CellPositions.size(), P.CellCount);
  if (P.Commands) {
    EXPECT_EQ(P.Commands->Pre.size(), P.Commands->PreCount);
    EXPECT_EQ(P.Commands->Post.size(), P.Commands->PostCount);
    EXPECT_EQ(P.Commands->Cell.size(), P.Commands->CellCount);
  }
}

void ExpectRecordConsistent(const disc::TIFOFile& F) {
  if (F.FirstPlayPGC) ExpectChainConsistent(*F.FirstPlayPGC);
  EXPECT_EQ(F.TT_SRPT.Entries.size(), F.TT_SRPT.TitleCount);
  EXPECT_EQ(F.MenuPGCI_UT.Units.size(), F.MenuPGCI_UT.UnitCount);
  for (const auto& u : F.MenuPGCI_UT.Units) {
    EXPECT_EQ(u.PGCs.size(), u.PGCCount);
    for (const auto& e : u.PGCs) {
      ASSERT_NE(e.PGC, nullptr);
      ExpectChainConsistent(*e.PGC);
    }
  }
  EXPECT_EQ(F.VTS_ATRT.Entries.size(), F.VTS_ATRT.TitleSetCount);
  EXPECT_LE(F.VTS_ATRT.TitleSetCount, disc::kMaxIFOFiles - 1);
  EXPECT_EQ(F.TXTDT_MG.Units.size(), F.TXTDT_MG.UnitCount);
  EXPECT_EQ(F.VTS_PGCIT.PGCs.size(), F.VTS_PGCIT.PGCCount);
  for (const auto& e : F.VTS_PGCIT.PGCs) {
    ASSERT_NE(e.PGC, nullptr);
    ExpectChainConsistent(*e.PGC);
  }
  const auto& ptt = F.T_VTS_PTT_SRPT;
  EXPECT_EQ(ptt.Entries.size(), ptt.EntryCount);
  EXPECT_EQ(ptt.TitleFirstIndex.size(), ptt.TitleCount);
  for (int32_t idx : ptt.TitleFirstIndex) {
    EXPECT_GE(idx, 0);
    EXPECT_LE(idx, ptt.EntryCount);
  }
  EXPECT_EQ(F.VTS_TMAPTI.Maps.size(), F.VTS_TMAPTI.MapCount);
  for (const auto& m : F.VTS_TMAPTI.Maps) EXPECT_EQ(m.Entries.size(), m.EntryCount);
}

struct FaultCase {
  const char* Name;
  IfoFault Fault;
  const char* LogPiece;
  std::function<void(const test::DiscForm&, const tools::IfoSetSummary&)> Check;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.Name; }

class IfoFaultTest : public ::testing::TestWithParam<FaultCase> {};

const disc::TIFOFile& Vmg(const test::DiscForm& F) { return F.IFOFiles[0]; }
const disc::TIFOFile& Vts1(const test::DiscForm& F) { return F.IFOFiles[1]; }

const std::vector<FaultCase>& Cases() {
  using F = const test::DiscForm&;
  using S = const tools::IfoSetSummary&;
  static const std::vector<FaultCase> cases = {
      {"TitleSearchOutsideFile", {0, IfoTable::TT_SRPT, IfoFaultKind::StartSector},
       "File hv000i01.IFO, TT_SRPT: the table at sector",
       [](F f, S) {
         EXPECT_TRUE(Vmg(f).TT_SRPT.Entries.empty());
         EXPECT_EQ(disc::VMGIField32(Vmg(f), disc::vmgi::TT_SRPT), 0u);
       }},
      {"TitleSearchCountTooLarge", {0, IfoTable::TT_SRPT, IfoFaultKind::InnerOffset},
       "TT_SRPT: 65535 titles do not fit in the table; table skipped",
       [](F f, S) { EXPECT_EQ(Vmg(f).TT_SRPT.TitleCount, 0); }},
      {"VmgMenuUnitOutsideTable", {0, IfoTable::MenuPGCI_UT, IfoFaultKind::InnerOffset},
       "VMGM_PGCI_UT language unit 1: its start byte",
       [](F f, S) {
         ASSERT_EQ(Vmg(f).MenuPGCI_UT.Units.size(), 1u);
         EXPECT_TRUE(Vmg(f).MenuPGCI_UT.Units[0].PGCs.empty());
       }},
      {"VmgMenuChainCellTableOutsideFile", {0, IfoTable::MenuPGCI_UT, IfoFaultKind::ChainTable},
       "VMGM_PGCI_UT language unit 1 program chain 1: cell playback table at byte 65520",
       [](F f, S s) {
         const auto& p = *Vmg(f).MenuPGCI_UT.Units[0].PGCs[0].PGC;
         ASSERT_EQ(p.CellPlayback.size(), 1u);
         EXPECT_EQ(p.CellPlaybackStart, 0);
         EXPECT_EQ(p.CellPlayback[0].LastVobuEnd, 0u);
         // The cell positions beside it are still read.
         EXPECT_EQ(p.CellPositions[0].CellId, s.Vmg.MenuUnits[0].PGCs[0].Cells[0].CellId);
         ExpectChainMatches(*Vmg(f).MenuPGCI_UT.Units[0].PGCs[1].PGC, s.Vmg.MenuUnits[0].PGCs[1], "second");
       }},
      {"ParentalOutsideFile", {0, IfoTable::PTL_MAIT, IfoFaultKind::StartSector}, "PTL_MAIT: the table at sector",
       [](F f, S) { EXPECT_EQ(Vmg(f).PTL_MAIT.TitleSetCount, 0); }},
      {"AttributesOutsideFile", {0, IfoTable::VTS_ATRT, IfoFaultKind::StartSector}, "VTS_ATRT: the table at sector",
       [](F f, S) {
         // Without the attribute table no title set is looked for.
         EXPECT_EQ(f.TitleSetCount, 1);
       }},
      {"AttributeEntryOutsideTable", {0, IfoTable::VTS_ATRT, IfoFaultKind::InnerOffset},
       "VTS_ATRT: attribute entry 1 lies outside the table",
       [](F f, S) {
         EXPECT_EQ(Vmg(f).VTS_ATRT.Entries.size(), 2u);
         EXPECT_EQ(Vmg(f).VTS_ATRT.Entries[0].TitleVideoAttr, 0);
         EXPECT_EQ(f.TitleSetCount, 3);  // the count still finds the title sets
       }},
      {"TextDataUnitsTooMany", {0, IfoTable::TXTDT_MG, IfoFaultKind::InnerOffset},
       "TXTDT_MG: 255 language units do not fit", [](F f, S) { EXPECT_TRUE(Vmg(f).TXTDT_MG.Units.empty()); }},
      {"VmgMenuCellsEndByteFar", {0, IfoTable::MenuC_ADT, IfoFaultKind::InnerOffset},
       "VMGM_C_ADT: the end byte gives",
       [](F f, S s) {
         const auto& t = Vmg(f).MenuC_ADT;
         const uint64_t pos = uint64_t{s.Vmg.StartSectors.at(IfoTable::MenuC_ADT)} * disc::kSectorSize;
         EXPECT_EQ(t.Entries.size(), (s.Vmg.FileSize - pos - 8) / 12);
       }},
      {"VmgMenuVobuEndByteFar", {0, IfoTable::MenuVOBU_ADMAP, IfoFaultKind::InnerOffset},
       "VMGM_VOBU_ADMAP: the end byte gives",
       [](F f, S s) {
         const uint64_t pos = uint64_t{s.Vmg.StartSectors.at(IfoTable::MenuVOBU_ADMAP)} * disc::kSectorSize;
         EXPECT_EQ(Vmg(f).MenuVOBU_ADMAP.Sectors.size(), (s.Vmg.FileSize - pos - 4) / 4);
       }},
      {"FirstPlayOutsideFile", {0, IfoTable::FirstPlayPGC, IfoFaultKind::StartSector},
       "first-play program chain: program chain at byte", [](F f, S) { EXPECT_EQ(Vmg(f).FirstPlayPGC, nullptr); }},
      {"FirstPlayCellTableOutsideFile", {0, IfoTable::FirstPlayPGC, IfoFaultKind::ChainTable},
       "first-play program chain: cell playback table",
       [](F f, S) {
         ASSERT_NE(Vmg(f).FirstPlayPGC, nullptr);
         EXPECT_EQ(Vmg(f).FirstPlayPGC->CellPlayback.size(), 1u);
         ASSERT_NE(Vmg(f).FirstPlayPGC->Commands, nullptr);
       }},
      {"PartsOutsideFile", {1, IfoTable::PTT_SRPT, IfoFaultKind::StartSector},
       "File hv001i01.IFO, VTS_PTT_SRPT: the table at sector",
       [](F f, S) {
         EXPECT_TRUE(Vts1(f).T_VTS_PTT_SRPT.TitleFirstIndex.empty());
         EXPECT_EQ(disc::VTSIField32(Vts1(f), disc::vtsi::PTT_SRPT), 0u);
       }},
      {"FirstTitlePartsOutsideTable", {1, IfoTable::PTT_SRPT, IfoFaultKind::InnerOffset},
       "VTS_PTT_SRPT: title 1's parts start at byte 2147483632, outside the table; table skipped",
       [](F f, S) { EXPECT_EQ(Vts1(f).T_VTS_PTT_SRPT.TitleCount, 0); }},
      {"TitleChainOutsideFile", {1, IfoTable::VTS_PGCIT, IfoFaultKind::InnerOffset},
       "VTS_PGCIT program chain 1: program chain at byte",
       [](F f, S s) {
         const auto& t = Vts1(f).VTS_PGCIT;
         ASSERT_EQ(t.PGCs.size(), 3u);
         EXPECT_EQ(t.PGCs[0].PGC->CellCount, 0);  // left empty, its place kept
         ExpectChainMatches(*t.PGCs[1].PGC, s.TitleSets[0].TitlePGCs[1], "chain 2");
         ExpectChainMatches(*t.PGCs[2].PGC, s.TitleSets[0].TitlePGCs[2], "chain 3");
       }},
      {"TitleChainCellTableOutsideFile", {1, IfoTable::VTS_PGCIT, IfoFaultKind::ChainTable},
       "VTS_PGCIT program chain 1: cell playback table at byte 65520 does not fit in the table; read as zero",
       [](F f, S) { EXPECT_EQ(Vts1(f).VTS_PGCIT.PGCs[0].PGC->CellPlayback.size(), 6u); }},
      {"TimeMapOutsideTable", {1, IfoTable::VTS_TMAPTI, IfoFaultKind::InnerOffset},
       "VTS_TMAPTI time map 1: its start byte",
       [](F f, S s) {
         const auto& t = Vts1(f).VTS_TMAPTI;
         ASSERT_EQ(t.Maps.size(), 3u);
         EXPECT_TRUE(t.Maps[0].Entries.empty());
         EXPECT_EQ(t.Maps[1].Entries, s.TitleSets[0].TimeMaps[1].Entries);
       }},
      {"TitleCellsEndByteFar", {1, IfoTable::VTS_C_ADT, IfoFaultKind::InnerOffset}, "VTS_C_ADT: the end byte gives",
       [](F f, S s) {
         // The entries that were written come first and are read as written.
         const auto& t = Vts1(f).VTS_C_ADT;
         ASSERT_GE(t.Entries.size(), s.TitleSets[0].TitleCells.size());
         EXPECT_EQ(t.Entries[0].LastSector, s.TitleSets[0].TitleCells[0].LastSector);
       }},
      {"TitleVobusOutsideFile", {1, IfoTable::VTS_VOBU_ADMAP, IfoFaultKind::StartSector},
       "VTS_VOBU_ADMAP: the table at sector", [](F f, S) { EXPECT_TRUE(Vts1(f).VTS_VOBU_ADMAP.Sectors.empty()); }},
      {"TitleSetMenuUnitOutsideTable", {1, IfoTable::MenuPGCI_UT, IfoFaultKind::InnerOffset},
       "VTSM_PGCI_UT language unit 1: its start byte",
       [](F f, S) { EXPECT_EQ(Vts1(f).MenuPGCI_UT.Units[0].PGCCount, 0); }},
      {"TitleSetMenuCellsOutsideFile", {1, IfoTable::MenuC_ADT, IfoFaultKind::StartSector},
       "VTSM_C_ADT: the table at sector", [](F f, S) { EXPECT_TRUE(Vts1(f).MenuC_ADT.Entries.empty()); }},
  };
  return cases;
}

TEST_P(IfoFaultTest, ReportedSkippedAndTheRestRead) {
  const FaultCase& c = GetParam();
  TempDir dir;
  DiscProject project;
  tools::IfoBuildOptions opt;
  opt.Faults = {c.Fault};
  const tools::IfoSetSummary sum = tools::WriteIfoSet(dir.Path(), SampleDisc(2), opt);
  disc::LoadIFOSet(project.Form, project.Form, project.Form, dir.File("hv000i01.IFO"), project.Form.StringGrid1);

  EXPECT_TRUE(project.LogContains(c.LogPiece)) << ::testing::PrintToString(project.LogTexts());
  for (const auto& line : project.LogTexts()) {
    EXPECT_EQ(line.rfind("File hv00", 0), 0u) << line;  // every report names the file
  }
  EXPECT_EQ(project.Form.LogWindow.Log.Lines.back().Colour, platform::kColourRed);
  c.Check(project.Form, sum);
  for (int i = 0; i < project.Form.TitleSetCount; ++i) ExpectRecordConsistent(project.Form.IFOFiles[i]);
  // A fault in one file never spoils another.
  if (c.Fault.TitleSet == 1 && project.Form.TitleSetCount > 2)
    ExpectTitleSetMatches(project.Form.IFOFiles[2], sum.TitleSets[1]);
  if (c.Fault.TitleSet == 0 && project.Form.TitleSetCount > 1)
    ExpectTitleSetMatches(project.Form.IFOFiles[1], sum.TitleSets[0]);
}

INSTANTIATE_TEST_SUITE_P(Tables, IfoFaultTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.Name); });

TEST(IfoFaults, NoFirstPlayOffsetMeansNoChain) {
  TempDir dir;
  DiscProject project;
  tools::IfoBuildOptions opt;
  opt.NoFirstPlay = true;
  const auto sum = tools::WriteIfoSet(dir.Path(), SampleDisc(1), opt);
  disc::LoadIFOSet(project.Form, project.Form, project.Form, dir.File("hv000i01.IFO"), project.Form.StringGrid1);
  EXPECT_EQ(project.Form.IFOFiles[0].FirstPlayPGC, nullptr);
  EXPECT_TRUE(project.LogTexts().empty());
  ExpectMenusMatch(project.Form.IFOFiles[0], sum.Vmg);
}

TEST(IfoFaults, TitleSetCountBoundedByTheRecords) {
  TempDir dir;
  DiscProject project;
  tools::IfoBuildOptions opt;
  opt.TitleSetCountOverride = 500;
  tools::WriteIfoSet(dir.Path(), SampleDisc(1), opt);
  EXPECT_EQ(disc::LoadIFOSet(project.Form, project.Form, project.Form, dir.File("hv000i01.IFO"), project.Form.StringGrid1), 1);
  EXPECT_TRUE(project.LogContains("VTS_ATRT: title-set count 500 is more than 101"));
  EXPECT_EQ(project.Form.IFOFiles[0].VTS_ATRT.TitleSetCount, 101);
  EXPECT_EQ(project.Form.TitleSetCount, disc::kMaxIFOFiles);
  EXPECT_EQ(project.Form.IFOFiles[101].TitleSetNumber, 101);
  EXPECT_TRUE(project.Form.IFOFiles[101].InformationCorrupted);
  EXPECT_TRUE(project.LogContains("File hv101i01.BUP is not correct too. Information corrupted."));
}

TEST(IfoFaults, TruncatedFilesReadWhatTheyHold) {
  const tools::DiscSpec spec = SampleDisc(2);
  tools::IfoFileSummary s1;
  const auto full = tools::BuildVtsBytes(spec, 1, {}, s1);
  const uint64_t pgcit = uint64_t{s1.StartSectors.at(IfoTable::VTS_PGCIT)} * disc::kSectorSize;
  // Cut inside the chain table, after the first chain's general information,
  // at the middle of the file, and just after the management table.
  for (uint64_t cut : {pgcit + 60, pgcit + 300, pgcit + 700, full.size() / 2, uint64_t{disc::kSectorSize + 10},
                       uint64_t{500}}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    TempDir dir;
    DiscProject project;
    tools::IfoBuildOptions opt;
    opt.Damage[1] = {tools::IfoDamage::Truncated, tools::IfoDamage::None, cut};
    tools::WriteIfoSet(dir.Path(), spec, opt);
    disc::LoadIFOSet(project.Form, project.Form, project.Form, dir.File("hv000i01.IFO"), project.Form.StringGrid1);
    const auto& f = project.Form.IFOFiles[1];
    // The cut file still carries its identifier, so it is the one read.
    EXPECT_EQ(f.Kind, disc::ifoVTS);
    EXPECT_TRUE(project.LogContains("File hv001i01.IFO, ")) << ::testing::PrintToString(project.LogTexts());
    ExpectRecordConsistent(f);
    EXPECT_TRUE(f.VTS_VOBU_ADMAP.Sectors.empty());  // the last table is gone in every cut
    // Tables that lie wholly before the cut are read as written.
    if (cut > pgcit) {
      EXPECT_EQ(f.T_VTS_PTT_SRPT.EntryCount, 6);
    }
  }
}

// Random damage to the tables of builder-made files: the readers may read
// nonsense but never step outside the file, and every count they expose
// matches what they hold.
TEST(IfoFaults, RandomDamageNeverEscapesTheFile) {
  const tools::DiscSpec spec = SampleDisc(1);
  tools::IfoFileSummary vtsSum, vmgSum;
  const auto vts = tools::BuildVtsBytes(spec, 1, {}, vtsSum);
  const auto vmg = tools::BuildVmgBytes(spec, {vts}, {}, vmgSum);
  TempDir dir;
  DiscProject project;
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    const bool isVmg = round % 2 == 0;
    std::vector<uint8_t> bytes = isVmg ? vmg : vts;
    std::uniform_int_distribution<size_t> at(disc::kSectorSize, bytes.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    const int hits = 1 + round % 12;
    for (int h = 0; h < hits; ++h) bytes[at(rng)] = static_cast<uint8_t>(value(rng));
    if (round % 5 == 0) {
      // A table start sector or the first-play offset spoiled too.
      const size_t field = 196 + 4 * (round % 9);
      core::WriteBE32(&bytes[field], static_cast<uint32_t>(rng()));
    }
    if (round % 7 == 0) bytes.resize(std::uniform_int_distribution<size_t>(0, bytes.size())(rng));
    const std::string name = dir.File(isVmg ? "hv000i01.IFO" : "hv001i01.IFO");
    WriteFileBytes(name, bytes);
    disc::TIFOFile& rec = project.Form.IFOFiles[0];
    disc::ZeroIFORecord(rec);
    if (isVmg)
      disc::ReadVMGI(project.Form, project.Form, rec, name);
    else
      disc::ReadVTSI(project.Form, project.Form, rec, name, project.Form.StringGrid1);
    ExpectRecordConsistent(rec);
    if (HasFailure()) {
      ADD_FAILURE() << "round " << round;
      break;
    }
  }
}

// A small title-set file whose chain table names one chain of 65535 cells two
// thousand times: what its load decodes, and the rows the information grid
// takes, stay within their ceilings, and the cut is reported.
TEST(IfoFaults, ChainsThatShareBytesCannotExhaustMemory) {
  for (const size_t size : {size_t{1} << 20, size_t{8} << 20}) {
    std::vector<uint8_t> b(size);
    std::memcpy(b.data(), "STANDARD-VTS", 12);
    core::WriteBE32(&b[disc::vtsi::VTS_PGCIT], 1);
    const size_t table = disc::kSectorSize;
    const uint16_t chains = 2000;
    const uint32_t chainAt = 8 + chains * disc::kTitlePGCEntrySize;
    core::WriteBE16(&b[table], chains);
    core::WriteBE32(&b[table + 4], static_cast<uint32_t>(size - table - 1));
    for (size_t i = 0; i < chains; ++i) core::WriteBE32(&b[table + 8 + 12 * i + 8], chainAt);
    core::WriteBE16(&b[table + chainAt + 2], 65535);
    core::WriteBE16(&b[table + chainAt + 172], static_cast<uint16_t>(disc::kPGCGeneralSize));
    TempDir dir;
    WriteFileBytes(dir.File("hv001i01.IFO"), b);
    DiscProject project;
    disc::LoadIFOSet(project.Form, project.Form, project.Form, dir.File("hv001i01.IFO"), project.Form.StringGrid1);
    EXPECT_LE(project.Form.DecodedThisLoad, disc::TTableReader::kMaxDecodedPerFile);
    EXPECT_LE(project.Form.StringGrid1.NextRow, project.Form.StringGrid1.MaxRows);
    EXPECT_TRUE(project.LogContains("are skipped")) << size;
  }
}

}  // namespace
}  // namespace tess::test
