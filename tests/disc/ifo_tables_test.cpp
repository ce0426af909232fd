// Single tables and chains from hand-made bytes: the edge cases of the counts
// and of the program chain's optional tables.
#include <gtest/gtest.h>

#include "core/byte_order.h"
#include "disc/ifo_readers.h"
#include "disc/pgc_reader.h"
#include "support/test_support.h"

namespace tess::test {
namespace {

class TableBytes : public ::testing::Test {
 protected:
  Project project;
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
    EXPECT_TRUE(disc::ReadCellAddressTable(Reader(), 0, t, "VTS_C_ADT", false));
    EXPECT_EQ(t.Entries.size(), c.Entries) << "end byte " << c.End;
  }
  EXPECT_TRUE(project.LogTexts().empty());

  // Bounded by the file, and reported.
  Put32(4, 0xFFFFFFFF);
  disc::TCellAddressTable t;
  EXPECT_TRUE(disc::ReadCellAddressTable(Reader(56), 0, t, "VTS_C_ADT", false));
  EXPECT_EQ(t.Entries.size(), 4u);
  EXPECT_EQ(t.Entries[3].LastSector, 399u);
  EXPECT_TRUE(project.LogContains("File hv001i01.IFO, VTS_C_ADT: the end byte gives 357913940 entries but the file "
                                  "holds 4; only those are read"));

  // The title-set menu table reads no entries without EVO files.
  Put32(4, 19);
  Put16(0, 0);
  EXPECT_TRUE(disc::ReadCellAddressTable(Reader(), 0, t, "VTSM_C_ADT", true));
  EXPECT_TRUE(t.Entries.empty());
  EXPECT_TRUE(disc::ReadCellAddressTable(Reader(), 0, t, "VMGM_C_ADT", false));
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
