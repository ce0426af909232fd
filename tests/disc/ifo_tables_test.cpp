// Single tables and chains from hand-made bytes: the edge cases of the counts
// and of the program chain's optional tables.
#include <gtest/gtest.h>

#include "core/byte_order.h"
#include "disc/ifo_readers.h"
#include "disc/pgc_reader.h"
#include "support/disc_support.h"

namespace tess::test {
namespace {

class TableBytes : public ::testing::Test {
 protected:
  DiscProject project;
  std::vector<uint8_t> bytes = std::vector<uint8_t>(4096, 0);
  disc::TIFOImage image;

  void Put16(size_t p, uint16_t v) { core::WriteBE16(&bytes[p], v); }
  void Put32(size_t p, uint32_t v) { core::WriteBE32(&bytes[p], v); }
  disc::TTableReader Reader(size_t size = 0) {
    std::vector<uint8_t> b = bytes;
    if (size) b.resize(size);
    image.Assign("/disc/hv001i01.IFO", std::move(b));
    return disc::TTableReader{project.Form, image};
  }
};

TEST_F(TableBytes, CellAddressCountsFromTheEndByte) {
  Put16(0, 1);
  for (int e = 0; e < 4; ++e) {
    Put16(8 + 12 * e, 1);
    bytes[10 + 12 * e] = static_cast<uint8_t>(e + 1);
    Put32(12 + 12 * e, 100 * e);
    Put32(16 + 12 * e, 100 * e + 99);
  }
  const struct {
    uint32_t End;
    size_t Entries;
  } cases[] = {{7, 0}, {19, 1}, {18, 0}, {31, 2}, {0, 0}, {3, 0}, {55, 4}};
  for (const auto& c : cases) {
    Put32(4, c.End);
    disc::TCellAddressTable t;
    EXPECT_TRUE(disc::ReadCellAddressTable(Reader(), 0, t, "VTS_C_ADT", disc::TCellTableKind::Titles));
    EXPECT_EQ(t.Entries.size(), c.Entries) << "end byte " << c.End;
  }
  EXPECT_TRUE(project.LogTexts().empty());

  // Bounded by the file, and reported.
  Put32(4, 0xFFFFFFFF);
  disc::TCellAddressTable t;
  EXPECT_TRUE(disc::ReadCellAddressTable(Reader(56), 0, t, "VTS_C_ADT", disc::TCellTableKind::Titles));
  EXPECT_EQ(t.Entries.size(), 4u);
  EXPECT_EQ(t.Entries[3].LastSector, 399u);
  EXPECT_TRUE(project.LogContains("File hv001i01.IFO, VTS_C_ADT: the end byte gives 357913940 entries but the file "
                                  "holds 4; only those are read"));

  // The title-set menu table reads no entries without EVO files.
  Put32(4, 19);
  Put16(0, 0);
  EXPECT_TRUE(disc::ReadCellAddressTable(Reader(), 0, t, "VTSM_C_ADT", disc::TCellTableKind::TitleSetMenus));
  EXPECT_TRUE(t.Entries.empty());
  EXPECT_TRUE(disc::ReadCellAddressTable(Reader(), 0, t, "VMGM_C_ADT", disc::TCellTableKind::VmgMenus));
  EXPECT_EQ(t.Entries.size(), 1u);
}

TEST_F(TableBytes, VobuMapCountsFromTheEndByte) {
  Put32(4, 0x1234);
  for (uint32_t end : {0u, 3u, 7u, 11u}) {
    Put32(0, end);
    disc::TVobuAddressMap m;
    EXPECT_TRUE(disc::ReadVobuAddressMap(Reader(), 0, m, "VTS_VOBU_ADMAP"));
    EXPECT_EQ(m.Sectors.size(), end < 7 ? 0u : (end - 3) / 4) << end;
  }
  disc::TVobuAddressMap m;
  Put32(0, 7);
  ASSERT_TRUE(disc::ReadVobuAddressMap(Reader(), 0, m, "VTS_VOBU_ADMAP"));
  EXPECT_EQ(m.Sectors, std::vector<uint32_t>{0x1234});
  // A header that does not fit is a bad table.
  EXPECT_FALSE(disc::ReadVobuAddressMap(Reader(), 4094, m, "VTS_VOBU_ADMAP"));
}

TEST_F(TableBytes, PartOfTitleIndexList) {
  // One title: the list is (0) and (end - first + 1) / 4 entries are read.
  Put16(0, 1);
  Put32(4, 12 + 3 * 4 - 1);
  Put32(8, 12);
  for (int i = 0; i < 3; ++i) {
    Put16(12 + 4 * i, 1);
    Put16(14 + 4 * i, static_cast<uint16_t>(i + 1));
  }
  disc::TPartOfTitleTable t;
  ASSERT_TRUE(disc::ReadPartOfTitleTable(Reader(), 0, t));
  EXPECT_EQ(t.TitleFirstIndex, std::vector<int32_t>{0});
  EXPECT_EQ(t.EntryCount, 3);
  EXPECT_EQ(t.Entries[2].ProgramNumber, 3);

  // Three titles, the second with two parts: indexes 0, 1, 3.
  Put16(0, 3);
  Put32(8, 20);
  Put32(12, 24);
  Put32(16, 32);
  Put32(4, 20 + 4 * 4 - 1);
  ASSERT_TRUE(disc::ReadPartOfTitleTable(Reader(), 0, t));
  EXPECT_EQ(t.TitleFirstIndex, (std::vector<int32_t>{0, 1, 3}));
  EXPECT_EQ(t.EntryCount, 4);

  // A title that starts before title 1 is not trusted.
  Put32(12, 16);
  EXPECT_FALSE(disc::ReadPartOfTitleTable(Reader(), 0, t));
  EXPECT_EQ(t.TitleCount, 0);
  EXPECT_TRUE(project.LogContains("VTS_PTT_SRPT: title 2's parts start at byte 16, outside the table; table skipped"));

  // An end byte before title 1's start gives no entries, never a negative count.
  Put32(12, 20);
  Put32(16, 20);
  Put32(4, 19);
  ASSERT_TRUE(disc::ReadPartOfTitleTable(Reader(), 0, t));
  EXPECT_EQ(t.EntryCount, 0);
  EXPECT_EQ(t.TitleFirstIndex, (std::vector<int32_t>{0, 0, 0}));
}

// Entries of a table may point at the same bytes, and a chain's counts size its
// lists: however the offsets are set, what one file decodes stays within a
// bound of the file's size. The first records are read whole; the rest are
// skipped with one report.
class SharedBytes : public TableBytes {
 protected:
  static constexpr uint64_t kBound = disc::TTableReader::kDecodedPerFileByte;  // decoded bytes per byte of the file
  // A chain at At with Cells cells, both cell tables present.
  void PutChain(size_t At, uint16_t Cells) {
    Put16(At + 2, Cells);
    Put16(At + 172, 240);
    Put16(At + 174, static_cast<uint16_t>(240 + 24 * Cells));
  }
  static size_t ChainSize(uint16_t Cells) { return 240 + 28 * size_t{Cells}; }
  void ExpectReportedOnce() {
    size_t reports = 0;
    for (const auto& l : project.LogTexts()) reports += l.find("times the file's size") != std::string::npos;
    EXPECT_EQ(reports, 1u) << ::testing::PrintToString(project.LogTexts());
  }
};

TEST_F(SharedBytes, TitleChainsThatShareOneChain) {
  constexpr uint16_t kEntries = 2000, kCells = 2000;
  const size_t chain = 8 + 12 * size_t{kEntries};
  bytes.assign(chain + ChainSize(kCells), 0);
  Put16(0, kEntries);
  Put32(4, static_cast<uint32_t>(bytes.size() - 1));
  for (size_t e = 0; e < kEntries; ++e) Put32(8 + 12 * e + 8, static_cast<uint32_t>(chain));
  PutChain(chain, kCells);
  disc::TPGCTable t;
  ASSERT_TRUE(disc::ReadPGCTable(Reader(), 0, t));
  ASSERT_EQ(t.PGCs.size(), kEntries);
  EXPECT_EQ(t.PGCs[0].PGC->CellPlayback.size(), kCells);
  uint64_t cells = 0;
  for (const auto& e : t.PGCs) {
    EXPECT_EQ(e.PGC->CellPlayback.size(), e.PGC->CellCount);
    cells += e.PGC->CellPlayback.size();
  }
  EXPECT_LE(cells * 28, kBound * bytes.size());
  EXPECT_EQ(t.PGCs.back().PGC->CellCount, 0);
  ExpectReportedOnce();
}

TEST_F(SharedBytes, ChainCountsWithoutTablesAndSharedMenuUnits) {
  // Units that share one unit, whose entries share one chain; the chain's
  // counts are large and its tables absent, so its lists would be zero-filled.
  constexpr uint16_t kUnits = 100, kEntries = 100, kCells = 60000;
  const size_t unit = 8 + 8 * size_t{kUnits};
  const size_t chain = unit + 8 + 12 * size_t{kEntries};
  bytes.assign(chain + 240, 0);
  Put16(0, kUnits);
  Put32(4, static_cast<uint32_t>(bytes.size() - 1));
  for (size_t u = 0; u < kUnits; ++u) Put32(8 + 8 * u + 4, static_cast<uint32_t>(unit));
  Put16(unit, kEntries);
  Put32(unit + 4, static_cast<uint32_t>(bytes.size() - unit - 1));
  for (size_t e = 0; e < kEntries; ++e) Put32(unit + 8 + 12 * e + 8, static_cast<uint32_t>(chain - unit));
  Put16(chain + 2, kCells);
  disc::TLanguageUnitTable t;
  ASSERT_TRUE(disc::ReadLanguageUnitTable(Reader(), 0, t, "VTSM_PGCI_UT"));
  ASSERT_EQ(t.Units.size(), kUnits);
  uint64_t decoded = 0;
  for (const auto& u : t.Units) {
    EXPECT_EQ(u.PGCs.size(), u.PGCCount);
    decoded += u.PGCs.size() * (12 + 240);
    for (const auto& e : u.PGCs) decoded += e.PGC->CellPlayback.size() * 28;
  }
  EXPECT_LE(decoded, kBound * bytes.size());
  ExpectReportedOnce();
}

TEST_F(SharedBytes, TimeMapsThatShareOneMap) {
  constexpr uint16_t kMaps = 2000, kEntries = 2000;
  const size_t map = 8 + 4 * size_t{kMaps};
  bytes.assign(map + 4 + 4 * size_t{kEntries}, 0);
  Put16(0, kMaps);
  Put32(4, static_cast<uint32_t>(bytes.size() - 1));
  for (size_t m = 0; m < kMaps; ++m) Put32(8 + 4 * m, static_cast<uint32_t>(map));
  Put16(map + 2, kEntries);
  disc::TTimeMapTable t;
  ASSERT_TRUE(disc::ReadTimeMapTable(Reader(), 0, t));
  ASSERT_EQ(t.Maps.size(), kMaps);
  EXPECT_EQ(t.Maps[0].Entries.size(), kEntries);
  uint64_t entries = 0;
  for (const auto& m : t.Maps) {
    EXPECT_EQ(m.Entries.size(), m.EntryCount);
    entries += m.Entries.size();
  }
  EXPECT_LE(entries * 4, kBound * bytes.size());
  ExpectReportedOnce();
}

class ChainBytes : public TableBytes {
 protected:
  static constexpr size_t kAt = 100;  // the chain's position in the file
  disc::TPGC pgc;
  bool Read(size_t size = 0) { return disc::ReadPGC(Reader(size), kAt, size ? size : bytes.size(), pgc, "chain"); }
};

TEST_F(ChainBytes, PlaybackTimeDropsTheRateBits) {
  const uint8_t time[4] = {0x01, 0x02, 0x03, 0xD8};
  std::copy_n(time, 4, &bytes[kAt + 4]);
  ASSERT_TRUE(Read());
  EXPECT_EQ(pgc.PlaybackTime, (core::TTimeCode{1, 2, 3, 18}));
}

TEST_F(ChainBytes, NoProgramsNoCellsNoTables) {
  ASSERT_TRUE(Read());
  EXPECT_EQ(pgc.Commands, nullptr);
  EXPECT_TRUE(pgc.ProgramMap.empty());
  EXPECT_TRUE(pgc.CellPlayback.empty());
  EXPECT_TRUE(pgc.CellPositions.empty());
}

TEST_F(ChainBytes, MissingTablesAreZeroFilledToTheCounts) {
  Put16(kAt, 2);
  Put16(kAt + 2, 3);
  Put16(kAt + 172, 240);  // cell playback present, positions and map absent
  for (int k = 0; k < 3; ++k) Put32(kAt + 240 + 24 * k + 20, 1000u + k);
  ASSERT_TRUE(Read());
  EXPECT_EQ(pgc.ProgramMap, (std::vector<uint8_t>{0, 0}));
  ASSERT_EQ(pgc.CellPositions.size(), 3u);
  for (const auto& p : pgc.CellPositions) {
    EXPECT_EQ(p.VobId, 0);
    EXPECT_EQ(p.CellId, 0);
  }
  EXPECT_EQ(pgc.CellPlayback[2].LastVobuEnd, 1002u);
  EXPECT_TRUE(project.LogTexts().empty());
}

TEST_F(ChainBytes, CommandListsByTheirCounts) {
  Put16(kAt + 168, 240);
  Put16(kAt + 240, 0);  // no pre-commands
  Put16(kAt + 242, 2);
  Put16(kAt + 244, 1);
  for (int i = 0; i < 3; ++i) bytes[kAt + 248 + 8 * i] = static_cast<uint8_t>(0x10 + i);
  ASSERT_TRUE(Read());
  ASSERT_NE(pgc.Commands, nullptr);
  EXPECT_TRUE(pgc.Commands->Pre.empty());
  ASSERT_EQ(pgc.Commands->Post.size(), 2u);
  EXPECT_EQ(pgc.Commands->Post[1][0], 0x11);
  EXPECT_EQ(pgc.Commands->Cell[0][0], 0x12);

  // A list that runs past the file is dropped as a whole.
  ASSERT_TRUE(Read(kAt + 240 + 8 + 20));
  EXPECT_EQ(pgc.Commands, nullptr);
  EXPECT_EQ(pgc.CommandTableStart, 0);
  EXPECT_TRUE(project.LogContains("File hv001i01.IFO, chain: 3 commands do not fit in the table; commands skipped"));
}

TEST_F(ChainBytes, AChainThatDoesNotFitIsSkipped) {
  Put16(kAt, 7);
  EXPECT_FALSE(Read(kAt + 239));
  EXPECT_EQ(pgc.ProgramCount, 0);
  EXPECT_TRUE(pgc.ProgramMap.empty());
  // Short reads leave zeros, never stale bytes: a cell table cut by the file is
  // dropped and zero-filled.
  Put16(kAt + 2, 2);
  Put16(kAt + 172, 240);
  Put32(kAt + 240 + 8, 77);
  EXPECT_TRUE(Read(kAt + 240 + 30));
  ASSERT_EQ(pgc.CellPlayback.size(), 2u);
  EXPECT_EQ(pgc.CellPlayback[0].FirstVobuStart, 0u);
}

}  // namespace
}  // namespace tess::test
