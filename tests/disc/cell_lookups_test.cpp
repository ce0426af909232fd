#include "disc/cell_lookups.h"

#include <gtest/gtest.h>

#include "disc/ifo_model.h"
#include "support/disc_support.h"

namespace tess::disc {
namespace {

using disc::TPGC;

struct CellSpec {
  uint16_t Vob;
  uint8_t Cell;
  bool Seamless;
  uint8_t Still = 0;
};

std::unique_ptr<TPGC> MakePgc(std::initializer_list<CellSpec> cells) {
  auto pgc = std::make_unique<TPGC>();
  for (const auto& c : cells) {
    disc::TCellPlayback play;
    play.Category[0] = c.Seamless ? 0x08 : 0x00;
    play.Category[2] = c.Still;
    pgc->CellPlayback.push_back(play);
    pgc->CellPositions.push_back({c.Vob, 0, c.Cell});
  }
  pgc->CellCount = static_cast<uint16_t>(cells.size());
  return pgc;
}

TEST(CellLookups, SeamlessCellsAndFirstCells) {
  const auto pgc = MakePgc({{1, 1, true}, {1, 2, true}, {2, 1, false}, {2, 3, true}, {2, 3, false}});
  EXPECT_FALSE(IsCellSeamless(1, 1, pgc.get(), false));  // cell 1 only when asked for
  EXPECT_TRUE(IsCellSeamless(1, 1, pgc.get(), true));
  EXPECT_TRUE(IsCellSeamless(1, 2, pgc.get(), false));
  EXPECT_FALSE(IsCellSeamless(2, 1, pgc.get(), true));
  EXPECT_TRUE(IsCellSeamless(2, 3, pgc.get(), false));  // the first entry with these ids
  EXPECT_FALSE(IsCellSeamless(9, 2, pgc.get(), true));
  EXPECT_FALSE(IsCellSeamless(1, 2, nullptr, true));
  EXPECT_FALSE(IsCellSeamless(0x10001, 2, pgc.get(), true));  // ids are not truncated into a match

  EXPECT_TRUE(VobHasSeamlessCell(1, pgc.get()));
  EXPECT_TRUE(VobHasSeamlessLaterCell(1, pgc.get()));
  EXPECT_TRUE(VobHasSeamlessLaterCell(2, pgc.get()));
  EXPECT_FALSE(VobHasSeamlessCell(3, pgc.get()));

  // Only the first cell is seamless: it does not count for a "later" cell, nor
  // does a repeat of the first cell's id.
  const auto firstOnly = MakePgc({{5, 2, true}, {5, 2, true}, {5, 4, false}});
  EXPECT_TRUE(VobHasSeamlessCell(5, firstOnly.get()));
  EXPECT_FALSE(VobHasSeamlessLaterCell(5, firstOnly.get()));

  const TPGC* list[] = {firstOnly.get(), nullptr, pgc.get()};
  EXPECT_TRUE(PgcListHasSeamlessVob(2, list));
  EXPECT_FALSE(PgcListHasSeamlessVob(5, list));
  std::vector<std::vector<const TPGC*>> groups = {{firstOnly.get()}, {}, {pgc.get()}};
  EXPECT_TRUE(PgcGroupsHaveSeamlessVob(1, groups));
  EXPECT_FALSE(PgcGroupsHaveSeamlessVob(5, groups));
}

TEST(CellLookups, StillsPositionsAndCountsBeyondTheTables) {
  auto pgc = MakePgc({{1, 1, false, 10}, {1, 2, false, 255}});
  EXPECT_EQ(GetCellStillTime(1, 1, pgc.get()), 10);
  EXPECT_EQ(GetCellStillKind(1, 1, pgc.get()), 1);
  EXPECT_EQ(GetCellStillKind(1, 2, pgc.get()), 2);
  EXPECT_EQ(GetCellStillTime(1, 7, pgc.get()), 0);
  EXPECT_EQ(GetCellStillKind(1, 2, nullptr), 1);

  TVobCellId pos{9, 9};
  GetCellPosition(pgc.get(), 1, pos);
  EXPECT_EQ(pos, (TVobCellId{1, 2}));
  GetCellPosition(pgc.get(), 2, pos);
  EXPECT_EQ(pos, TVobCellId{});
  GetCellPosition(pgc.get(), -1, pos);
  EXPECT_EQ(pos, TVobCellId{});

  // A header that counts more cells than the tables hold, or a playback table
  // shorter than the position table: answers come from what exists only.
  pgc->CellCount = 40;
  pgc->CellPlayback.resize(1);
  EXPECT_FALSE(IsCellSeamless(1, 2, pgc.get(), true));
  EXPECT_EQ(GetCellStillTime(1, 2, pgc.get()), 0);
  GetCellPosition(pgc.get(), 30, pos);
  EXPECT_EQ(pos, TVobCellId{});
  pgc->CellCount = 0;
  GetCellPosition(pgc.get(), 0, pos);
  EXPECT_EQ(pos, TVobCellId{});
}

TEST(CellLookups, TitleSetQuestions) {
  test::DiscProject p;
  auto& table = p.Form.IFOFiles[1].VTS_PGCIT;
  auto add = [&](std::unique_ptr<TPGC> pgc) {
    disc::TTitlePGCEntry e;
    e.PGC = std::move(pgc);
    table.PGCs.push_back(std::move(e));
  };
  add(MakePgc({{1, 1, true}, {1, 2, false}}));
  add(MakePgc({{2, 1, false}, {1, 2, true}}));
  add(MakePgc({{2, 1, false}}));
  add(MakePgc({}));
  add(nullptr);

  EXPECT_TRUE(IsCellSeamlessInVts(p.Form, 1, 1, 1));  // first cells included
  EXPECT_TRUE(IsCellSeamlessInVts(p.Form, 1, 2, 1));
  EXPECT_FALSE(IsCellSeamlessInVts(p.Form, 2, 1, 1));
  EXPECT_FALSE(IsCellSeamlessInVts(p.Form, 1, 1, 0));
  EXPECT_FALSE(IsCellSeamlessInVts(p.Form, 1, 1, 500));
  EXPECT_FALSE(IsCellSeamlessInVts(p.Form, 1, 1, -1));

  EXPECT_TRUE(IsUniquePgcStart(p.Form, 1, 1, 1));
  EXPECT_FALSE(IsUniquePgcStart(p.Form, 1, 2, 1));  // two chains start there
  EXPECT_FALSE(IsUniquePgcStart(p.Form, 1, 1, 2));  // not a start
  EXPECT_FALSE(IsUniquePgcStart(p.Form, 200, 1, 1));
}

TEST(CellLookups, TimeCodesAndSizes) {
  const uint8_t bcd[4] = {0x01, 0x23, 0x45, 0xC4};
  EXPECT_EQ(BcdPlaybackTimeToTimecode(bcd), (TTimeCode{1, 23, 45, 4}));
  const uint8_t bad[4] = {0x1A, 0x99, 0x00, 0x58};
  EXPECT_EQ(BcdPlaybackTimeToTimecode(bad), (TTimeCode{0, 99, 0, 18}));
  EXPECT_EQ(BcdByteToInt(0x25), 25);
  EXPECT_EQ(BcdByteToInt(0xA0), 0);

  const TTimeCode t10{0, 0, 10, 0}, t20{0, 0, 20, 0}, t15{0, 0, 15, 29}, late{0, 1, 0, 0};
  EXPECT_FALSE(TimecodeInRange(t10, t20, t20));
  EXPECT_TRUE(TimecodeInRange(t10, t20, t10));
  EXPECT_TRUE(TimecodeInRange(t10, t20, t15));
  EXPECT_FALSE(TimecodeInRange(t20, t10, t15));  // A after B
  EXPECT_FALSE(TimecodeInRange(t10, t20, late));
  // Fields compare in order: an hour outweighs any number of frames.
  EXPECT_EQ(MinTimecode(TTimeCode{1, 0, 0, 0}, TTimeCode{0, 59, 59, 29}), (TTimeCode{0, 59, 59, 29}));
  EXPECT_EQ(MinTimecode(t10, t20), t10);
  EXPECT_EQ(MinTimecode(t20, t10), t10);
  EXPECT_EQ(CompareTimecodes(t15, t15), 0);

  EXPECT_TRUE(IsSDResolution(720, 420));
  EXPECT_TRUE(IsSDResolution(352, 240));
  EXPECT_TRUE(IsSDResolution(704, 576));
  EXPECT_FALSE(IsSDResolution(720, 486));
  EXPECT_FALSE(IsSDResolution(1920, 1080));

  test::TempDir dir;
  test::WriteFileBytes(dir.File("A.EVO"), std::vector<uint8_t>(4097));
  EXPECT_EQ(GetFileSize64(dir.File("a.evo")), 4097);
  EXPECT_EQ(GetFileSize64(dir.File("b.evo")), 0);
}

// ---- the first navigation pack ----

// A navigation pack as a VOB or EVO file starts: pack header (with Stuffing
// bytes), system header, then the PCI and DSI private stream 2 packets.
std::vector<uint8_t> NavPack(uint16_t VobId, uint8_t CellId, int Stuffing = 0, bool SystemHeader = true) {
  std::vector<uint8_t> v = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3};
  v.push_back(static_cast<uint8_t>(0xF8 | Stuffing));
  for (int i = 0; i < Stuffing; ++i) v.push_back(0xFF);
  if (SystemHeader) {
    // Header length 18: rate bound (3), audio bound, video bound (locks set),
    // reserved, then four 3-byte stream entries.
    const uint8_t sys[] = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x12, 0x80, 0xC4, 0xE1, 0x04, 0xE1, 0xFF,
                           0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02};
    v.insert(v.end(), std::begin(sys), std::end(sys));
  }
  auto privateStream2 = [&](uint16_t length, uint8_t substream) -> size_t {
    v.insert(v.end(), {0x00, 0x00, 0x01, 0xBF, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    const size_t payload = v.size();
    v.resize(v.size() + length);
    v[payload] = substream;
    return payload;
  };
  const size_t pci = privateStream2(980, 0x00);
  // A PCI that carries the DSI's values elsewhere must not be mistaken for it.
  v[pci + 25] = 0x77;
  v[pci + 28] = 0x66;
  const size_t dsi = privateStream2(1018, 0x01);
  v[dsi + 25] = static_cast<uint8_t>(VobId >> 8);
  v[dsi + 26] = static_cast<uint8_t>(VobId);
  v[dsi + 27] = 0xEE;  // reserved
  v[dsi + 28] = CellId;
  return v;
}

TEST(ReadFirstVobuIds, FindsTheDsiOfTheFirstPack) {
  test::TempDir dir;
  auto pack = NavPack(0x1234, 7);
  EXPECT_EQ(pack.size(), 2048u);
  auto file = pack;
  auto second = NavPack(0x9999, 9);
  file.insert(file.end(), second.begin(), second.end());
  test::WriteFileBytes(dir.File("VTS_01_1.EVO"), file);
  TVobCellId ids{1, 1};
  ReadFirstVobuIds(dir.File("vts_01_1.evo"), ids);
  EXPECT_EQ(ids, (TVobCellId{0x1234, 7}));

  test::WriteFileBytes(dir.File("b.evo"), NavPack(0x0002, 3, 3));
  ReadFirstVobuIds(dir.File("b.evo"), ids);
  EXPECT_EQ(ids, (TVobCellId{2, 3}));

  test::WriteFileBytes(dir.File("c.evo"), NavPack(0x0105, 1, 0, false));
  ReadFirstVobuIds(dir.File("c.evo"), ids);
  EXPECT_EQ(ids, (TVobCellId{0x0105, 1}));
}

TEST(ReadFirstVobuIds, GivesZeroIdsForAnythingElse) {
  test::TempDir dir;
  auto expectZero = [&](const std::vector<uint8_t>& bytes, const char* what) {
    test::WriteFileBytes(dir.File("x.evo"), bytes);
    TVobCellId ids{5, 5};
    ReadFirstVobuIds(dir.File("x.evo"), ids);
    EXPECT_EQ(ids, TVobCellId{}) << what;
  };
  const auto good = NavPack(0x1234, 7);

  expectZero({}, "empty");
  expectZero({0x00, 0x00, 0x01}, "three bytes");
  auto video = good;
  video[3] = 0xB3;
  expectZero(video, "no pack header");
  expectZero(std::vector<uint8_t>(good.begin(), good.begin() + 14), "pack header only");
  auto truncated = good;
  truncated.resize(good.size() - 1018 + 20);  // the DSI stops before its ids
  expectZero(truncated, "short DSI");
  auto hugeLength = good;
  hugeLength[14 + 24 + 4] = 0xFF;  // the PCI claims 65,535 bytes
  hugeLength[14 + 24 + 5] = 0xFF;
  expectZero(hugeLength, "PCI length past the end");
  auto audioFirst = good;
  audioFirst[14 + 24 + 3] = 0xBD;
  expectZero(audioFirst, "a private stream 1 packet first");
  auto endlessSystemHeader = good;
  endlessSystemHeader.resize(14 + 12);  // stream entries never end
  expectZero(endlessSystemHeader, "system header without an end");

  TVobCellId ids{5, 5};
  ReadFirstVobuIds(dir.File("missing.evo"), ids);
  EXPECT_EQ(ids, TVobCellId{});
}

}  // namespace
}  // namespace tess::disc
