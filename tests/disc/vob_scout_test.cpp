// The navigation-pack scout against EVO files written here pack by pack (so that
// every oddity of a navigation pack can be placed on purpose), and against chains
// made by the synthetic disc builder, whose layout says what the map must hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "core/byte_order.h"
#include "core/files.h"
#include "disc/lookups_fixtures.h"
#include "disc/vob_scout.h"
#include "platform/paths.h"
#include "evo_builder.h"
#include "support/disc_support.h"

namespace tess::disc {
namespace {

using core::WriteBE16;
using core::WriteBE32;

// ---- a small pack writer ----

struct NavSpec {
  uint16_t Vob = 1;
  uint8_t Cell = 1;
  uint32_t EndAddress = 0;  // sectors to the VOBU's last pack
  uint32_t Ticks = 0;       // VOBU start time
  std::array<uint32_t, 9> NonSeamless{};
  std::array<std::pair<uint32_t, uint16_t>, 9> Seamless{};  // address, size
};

void PackHeader(uint8_t* p) {
  WriteBE32(p, 0x000001BA);
  p[4] = 0x44;
  p[6] = 0x04;
  p[8] = 0x04;
  p[9] = 0x01;
  p[10] = 0x01;
  p[11] = 0x89;
  p[12] = 0xC3;
  p[13] = 0xF8;  // no stuffing
}

std::vector<uint8_t> NavPack(const NavSpec& n, uint32_t Block) {
  std::vector<uint8_t> p(2048, 0);
  PackHeader(p.data());
  WriteBE32(&p[14], 0x000001BB);  // system header up to the PCI packet
  WriteBE16(&p[18], 304 - 20);
  WriteBE32(&p[304], 0x000001BF);
  WriteBE16(&p[308], 1287 - 310);
  p[310] = 0x00;
  WriteBE32(&p[311 + 12], n.Ticks);
  for (size_t k = 0; k < 9; ++k) WriteBE32(&p[311 + 60 + 4 * k], n.NonSeamless[k]);
  WriteBE32(&p[1287], 0x000001BF);
  WriteBE16(&p[1291], 2048 - 1293);
  p[1293] = 0x01;
  WriteBE32(&p[1298], Block);
  // The first byte of the end-address field is not part of the address.
  WriteBE32(&p[1302], 0xA5000000u | (n.EndAddress & 0xFFFFFF));
  WriteBE16(&p[1318], n.Vob);
  p[1321] = n.Cell;
  for (size_t k = 0; k < 9; ++k) {
    WriteBE32(&p[1474 + 6 * k], n.Seamless[k].first);
    WriteBE16(&p[1474 + 6 * k + 4], n.Seamless[k].second);
  }
  return p;
}

// A data pack: the pack header and one padding packet.
std::vector<uint8_t> DataPack() {
  std::vector<uint8_t> p(2048, 0xFF);
  PackHeader(p.data());
  WriteBE32(&p[14], 0x000001BE);
  WriteBE16(&p[18], 2048 - 20);
  return p;
}

struct EvoWriter {
  std::vector<uint8_t> Bytes;
  uint32_t Packs() const { return static_cast<uint32_t>(Bytes.size() / 2048); }
  void Add(const std::vector<uint8_t>& Pack) { Bytes.insert(Bytes.end(), Pack.begin(), Pack.end()); }
  void Data(int Count) {
    for (int i = 0; i < Count; ++i) Add(DataPack());
  }
  // A VOBU: its navigation pack (end address = DataPacks unless given) and data packs.
  void Vobu(NavSpec N, int DataPacks, bool KeepEnd = false) {
    if (!KeepEnd) N.EndAddress = static_cast<uint32_t>(DataPacks);
    Add(NavPack(N, Packs()));
    Data(DataPacks);
  }
  void Vobu(uint16_t Vob, uint8_t Cell, int DataPacks, uint32_t Ticks = 0) {
    NavSpec n;
    n.Vob = Vob, n.Cell = Cell, n.Ticks = Ticks;
    Vobu(n, DataPacks);
  }
  void Save(const std::string& Path, size_t DropBytes = 0) const {
    test::WriteFileBytes(Path, std::vector<uint8_t>(Bytes.begin(), Bytes.end() - static_cast<std::ptrdiff_t>(DropBytes)));
  }
};

struct MapRun {
  uint32_t Vob, Cell, First, Last, Angle;
  bool operator==(const MapRun&) const = default;
};
std::ostream& operator<<(std::ostream& o, const MapRun& r) {
  return o << "(" << r.Vob << "," << r.Cell << " " << r.First << ".." << r.Last << " a" << r.Angle << ")";
}

std::vector<MapRun> RunsOf(const TVobScaut& s) {
  std::vector<MapRun> out;
  for (const TCellDistance& c : s.Cells) {
    EXPECT_EQ(c.Length, c.LastSector - c.FirstSector + 1);
    out.push_back({c.VobId, c.CellId, c.FirstSector, c.LastSector, c.AngleNumber});
  }
  return out;
}

struct Scanned {
  std::unique_ptr<TVobScaut> Scout;
  TScanEnd End;
};

Scanned ScanWith(test::DiscProject& p, const std::string& File, bool Full) {
  p.Form.Scan.FullScan = Full;
  auto s = std::make_unique<TVobScaut>(File);
  const TScanEnd end = s->Scan(p.Form, p.Form, p.Form.Scan, p.Form.StatusProgress);
  return {std::move(s), end};
}

// Scans in both modes; they must agree on everything the map holds.
std::unique_ptr<TVobScaut> ScanBothModes(test::DiscProject& p, const std::string& File) {
  Scanned full = ScanWith(p, File, true);
  Scanned fast = ScanWith(p, File, false);
  EXPECT_EQ(full.End, fast.End);
  EXPECT_EQ(RunsOf(*full.Scout), RunsOf(*fast.Scout));
  EXPECT_EQ(full.Scout->SectorCounter, fast.Scout->SectorCounter);
  EXPECT_EQ(full.Scout->Occurrences.size(), fast.Scout->Occurrences.size());
  for (size_t i = 0; i < std::min(full.Scout->Cells.size(), fast.Scout->Cells.size()); ++i)
    EXPECT_EQ(full.Scout->Cells[i].StartTime, fast.Scout->Cells[i].StartTime);
  return std::move(fast.Scout);
}

size_t CountLines(const test::DiscProject& p, const std::string& Piece) {
  size_t n = 0;
  for (const auto& t : p.LogTexts()) n += t.find(Piece) != std::string::npos;
  return n;
}

const platform::LogLine* FindLine(const test::DiscProject& p, const std::string& Piece) {
  for (const auto& l : p.Form.LogWindow.Log.Lines)
    if (l.Caption.find(Piece) != std::string::npos) return &l;
  return nullptr;
}

// ---- the pack ----

TEST(VobScoutPack, ReadsTheNavigationFieldsAndRefusesOtherPacks) {
  NavSpec n;
  n.Vob = 0x1234, n.Cell = 7, n.EndAddress = 0x0ABCDE, n.Ticks = 0x01020304;
  n.NonSeamless[0] = 0x11223344;
  n.Seamless[8] = {0x55667788, 0x99AA};
  const auto pack = NavPack(n, 4242);
  TNavPackInfo info;
  ASSERT_TRUE(ReadNavigationPack(pack.data(), info));
  EXPECT_EQ(info.VobuEndAddress, 0x0ABCDEu) << "the first byte of the field is dropped";
  EXPECT_EQ(info.VobId, 0x1234);
  EXPECT_EQ(info.CellId, 7);
  EXPECT_EQ(info.BlockNumber, 4242u);
  EXPECT_EQ(info.StartTime, (std::array<uint8_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(info.NonSeamlessAngles[0], 0x11223344u);
  EXPECT_EQ(info.SeamlessAngles[8].Address, 0x55667788u);
  EXPECT_EQ(info.SeamlessAngles[8].Size, 0x99AA);
  EXPECT_TRUE(info.HasAngleData());

  EXPECT_FALSE(ReadNavigationPack(DataPack().data(), info));
  // Each of the four tests on its own makes a pack something else.
  for (size_t at : {size_t(307), size_t(310), size_t(1290), size_t(1293)}) {
    auto bad = pack;
    bad[at] ^= 0x01;
    EXPECT_FALSE(IsNavigationPack(bad.data())) << at;
  }
}

// ---- maps of single files ----

TEST(VobScout, FastAndFullScansMapCellsWithSectorsAndStartTimes) {
  test::TempDir dir;
  EvoWriter w;
  w.Vobu(1, 1, 3, 90000);   // 0..3
  w.Vobu(1, 1, 2, 135000);  // 4..6
  w.Vobu(1, 2, 4, 180000);  // 7..11
  w.Vobu(2, 1, 1, 225000);  // 12..13
  w.Save(dir.File("hv001t01.evo"));
  test::DiscProject p;
  p.Form.FrameRate = 25;
  auto s = ScanBothModes(p, dir.File("hv001t01.evo"));
  EXPECT_EQ(RunsOf(*s), (std::vector<MapRun>{{1, 1, 0, 6, 0}, {1, 2, 7, 11, 0}, {2, 1, 12, 13, 0}}));
  EXPECT_FALSE(s->ReadError);

  EXPECT_DOUBLE_EQ(s->CellStartMs(1, 1), 1000.0);
  EXPECT_DOUBLE_EQ(s->CellStartMs(1, 2), 2000.0);
  EXPECT_DOUBLE_EQ(s->CellStartMs(3, 1), 0.0);
  EXPECT_EQ(s->CellStartTimecode(p.Form, 1, 2), (core::TTimeCode{0, 0, 2, 0}));
  EXPECT_TRUE(s->CellStartTimecode(p.Form, 1, 9).IsZero());
  EXPECT_EQ(s->TimeBetweenCells(p.Form, 1, 1), (core::TTimeCode{0, 0, 1, 0}));
  EXPECT_TRUE(s->TimeBetweenCells(p.Form, 1, 2).IsZero()) << "no cell 3";
  EXPECT_EQ(s->GetVobCells(1), 2);
  EXPECT_EQ(s->CurrentCells, (TCellsList{1, 2}));
  EXPECT_EQ(s->GetVobCells(7), 0);
  EXPECT_TRUE(CellRangeFree(s->Cells, 2, 1));
  EXPECT_FALSE(CellRangeFree(s->Cells, 1, 1));
  EXPECT_FALSE(CellRangeFree(s->Cells, -1, 1));
  EXPECT_TRUE(CellRangeFree(s->Cells, -1, 9));
  EXPECT_EQ(s->InterleavedCellCount(1), 0u);

  // What the user sees: the log lines, the status panels and the progress bar.
  const auto texts = p.LogTexts();
  EXPECT_EQ(CountLines(p, "Starting EVO files scanning..."), 2u);
  EXPECT_EQ(CountLines(p, "Scanning EVO file: HV001T01.EVO"), 2u);
  EXPECT_EQ(CountLines(p, "Prepare EVO Map..."), 2u);
  EXPECT_TRUE(p.LogContains("VobID: 001,  CellID: 002,  Interleaving: 0,  Angle: 0,  LBA: 000007,  Angle Seamless: 0"));
  const platform::LogLine* line = FindLine(p, "VobID: 002,  CellID: 001");
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->Colour, p.Form.Scan.InfoColour);
  EXPECT_EQ(texts.back(), "Finish EVO files scanning.");
  EXPECT_FALSE(p.LogContains("past the end"));
  const auto& status = p.Form.MainWindow->StatusBox;
  EXPECT_EQ(status.Text(0), "Scanning EVO file: HV001T01.EVO");
  EXPECT_EQ(status.Text(3), "File size: 28 Kb");
  EXPECT_EQ(p.Form.StatusProgress.Max, 14);
  EXPECT_EQ(p.Form.StatusProgress.Position, 14);
}

TEST(VobScout, PacksBeforeTheFirstNavigationPackOnlyCount) {
  test::TempDir dir;
  EvoWriter w;
  w.Data(2);
  w.Vobu(1, 1, 2);  // 2..4
  w.Vobu(1, 2, 2);  // 5..7
  w.Save(dir.File("a.evo"));
  test::DiscProject p;
  auto s = ScanBothModes(p, dir.File("a.evo"));
  EXPECT_EQ(RunsOf(*s), (std::vector<MapRun>{{1, 1, 0, 4, 0}, {1, 2, 5, 7, 0}}));
}

TEST(VobScout, InterleavedCellsAreCountedAndFlagged) {
  test::TempDir dir;
  EvoWriter w;
  w.Vobu(1, 1, 2, 9000);  // A
  w.Vobu(1, 2, 2, 18000); // B
  w.Vobu(1, 1, 2, 27000); // A again
  w.Vobu(3, 1, 1);        // EVO id 2 after 3: interleaved at once
  w.Vobu(2, 1, 1);
  w.Save(dir.File("a.evo"));
  test::DiscProject p;
  auto s = ScanBothModes(p, dir.File("a.evo"));
  ASSERT_EQ(s->Occurrences.size(), 4u);
  EXPECT_EQ(s->Occurrences[0].RunCount, 2u);
  EXPECT_EQ(s->Occurrences[1].RunCount, 1u);
  for (const auto& o : s->Occurrences) EXPECT_EQ(o.Interleaved, 1) << o.VobId << "/" << o.CellId;
  EXPECT_EQ(s->InterleavingOf(1, 1), 2u);
  EXPECT_EQ(s->InterleavingOf(1, 2), 0u);
  EXPECT_EQ(s->InterleavedCellCount(1), 2u);
  EXPECT_EQ(s->InterleavingOf(3, 1), 0u) << "flagged, but met once";
  EXPECT_TRUE(s->IsVobInterleaved(2));
  // One map entry per cell: the later run of A is dropped, A keeps its first run.
  EXPECT_EQ(RunsOf(*s), (std::vector<MapRun>{{1, 1, 0, 2, 0}, {1, 2, 3, 5, 0}, {3, 1, 9, 10, 0}, {2, 1, 11, 12, 0}}));
  EXPECT_DOUBLE_EQ(s->CellStartMs(1, 1), 100.0);

  const platform::LogLine* a = FindLine(p, "VobID: 001,  CellID: 001,  Interleaving: 2,");
  const platform::LogLine* b = FindLine(p, "VobID: 001,  CellID: 002,  Interleaving: 1,");
  const platform::LogLine* c = FindLine(p, "VobID: 002,  CellID: 001,  Interleaving: 1,");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->Colour, p.Form.Scan.InterleavingColour);
  EXPECT_EQ(b->Colour, p.Form.Scan.InterleavingColour);
  EXPECT_EQ(c->Colour, p.Form.Scan.InterleavingColour);
}

TEST(VobScout, AngleTablesGiveAngleCellsInConsecutiveEvoIds) {
  test::TempDir dir;
  EvoWriter w;
  w.Vobu(1, 1, 1);
  // A seamless block of two angles in EVO ids 2 and 3.
  for (int round = 0; round < 2; ++round)
    for (uint16_t vob : {2, 3}) {
      NavSpec n;
      n.Vob = vob;
      n.Seamless[0] = {100, 5};
      n.Seamless[1] = {200, 5};
      w.Vobu(n, 1);
    }
  // Non-seamless angles 1..3 in EVO ids 5..7: the seamless table's first entry has
  // an address but size 0, so the walk stops there.
  for (uint16_t vob : {5, 6, 7}) {
    NavSpec n;
    n.Vob = vob;
    n.Seamless[0] = {77, 0};
    n.NonSeamless = {10, 20, 30};
    w.Vobu(n, 1);
  }
  // A seamless table that repeats an address: the repeat adds nothing.
  NavSpec r;
  r.Vob = 20;
  r.Seamless[0] = {100, 5};
  r.Seamless[1] = {100, 5};
  r.Seamless[2] = {300, 5};
  w.Vobu(r, 1);
  w.Save(dir.File("a.evo"));

  test::DiscProject p;
  auto s = ScanBothModes(p, dir.File("a.evo"));
  auto entry = [&](uint32_t key) -> std::pair<uint32_t, uint8_t> { return {s->VobAngleNumber(key), s->VobAngleFlag(key)}; };
  EXPECT_EQ(entry(2), std::make_pair(1u, uint8_t{1}));
  EXPECT_EQ(entry(3), std::make_pair(2u, uint8_t{1}));
  EXPECT_EQ(entry(5), std::make_pair(1u, uint8_t{0}));
  EXPECT_EQ(entry(6), std::make_pair(2u, uint8_t{0}));
  EXPECT_EQ(entry(7), std::make_pair(3u, uint8_t{0}));
  EXPECT_EQ(entry(1), std::make_pair(0u, uint8_t{0}));
  EXPECT_EQ(entry(20), std::make_pair(1u, uint8_t{1}));
  EXPECT_EQ(entry(21), std::make_pair(0u, uint8_t{0}));
  EXPECT_EQ(entry(22), std::make_pair(3u, uint8_t{1}));
  // The runs take their angle from the entries after the scan.
  EXPECT_EQ(RunsOf(*s), (std::vector<MapRun>{{1, 1, 0, 1, 0},
                                           {2, 1, 2, 3, 1},
                                           {3, 1, 4, 5, 2},
                                           {5, 1, 10, 11, 1},
                                           {6, 1, 12, 13, 2},
                                           {7, 1, 14, 15, 3},
                                           {20, 1, 16, 17, 1}}));
  EXPECT_EQ(s->Cells[2].AngleSeamless, 1);
  EXPECT_EQ(s->Cells[4].AngleSeamless, 0);
  // The angle counters: the run that met the block counts the last angle added.
  EXPECT_EQ(s->AngleCount(2, 2), 1u);
  EXPECT_EQ(s->AngleCount(3, 2), 2u);
  EXPECT_EQ(s->AngleCount(5, 3), 1u);
  const platform::LogLine* line = FindLine(p, "VobID: 006,  CellID: 001,  Interleaving: 0,  Angle: 2,  LBA: 000012,  Angle Seamless: 0");
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->Colour, p.Form.Scan.InterleavingColour);

  // The scene angle type of the options overrides the flags of the angle cells.
  p.Form.Scan.AngleType = disc::SceneAngleType::NonSeamless;
  auto nonSeamless = ScanWith(p, dir.File("a.evo"), false).Scout;
  EXPECT_EQ(nonSeamless->VobAngleFlag(3), 0);
  p.Form.Scan.AngleType = disc::SceneAngleType::Seamless;
  auto seamless = ScanWith(p, dir.File("a.evo"), false).Scout;
  EXPECT_EQ(seamless->VobAngleFlag(6), 1);
}

// ---- the end address, truncation, read errors and Stop ----

TEST(VobScout, EndAddressesThatMissTheNextVobuFallBackToPackByPack) {
  test::TempDir dir;
  EvoWriter w;
  w.Vobu(1, 1, 2);
  NavSpec shortEnd;
  shortEnd.Vob = 1, shortEnd.Cell = 2, shortEnd.EndAddress = 1;  // the VOBU is 4 packs long
  w.Vobu(shortEnd, 3, true);
  NavSpec huge;
  huge.Vob = 1, huge.Cell = 3, huge.EndAddress = 0xFFFFFF;  // far past the file
  w.Vobu(huge, 2, true);
  w.Vobu(1, 4, 2);
  w.Vobu(1, 5, 1);
  w.Save(dir.File("hv001t01.evo"));
  test::DiscProject p;
  auto s = ScanBothModes(p, dir.File("hv001t01.evo"));
  EXPECT_EQ(RunsOf(*s), (std::vector<MapRun>{{1, 1, 0, 2, 0}, {1, 2, 3, 6, 0}, {1, 3, 7, 9, 0}, {1, 4, 10, 12, 0},
                                           {1, 5, 13, 14, 0}}));
  const platform::LogLine* warn = FindLine(p, "lies past the end of EVO file: HV001T01.EVO");
  ASSERT_NE(warn, nullptr);
  EXPECT_NE(warn->Caption.find("sector 7"), std::string::npos);
  EXPECT_EQ(warn->Kind, 2);
  EXPECT_EQ(p.LogTexts().back(), "Finish EVO files scanning.");
}

TEST(VobScout, TruncatedFileEndsTheMapAtItsLastPack) {
  test::TempDir dir;
  EvoWriter w;
  w.Vobu(1, 1, 3, 9000);  // 0..3
  w.Vobu(1, 2, 5, 18000); // 4..9, cut inside pack 7 (700 bytes of it are left)
  w.Save(dir.File("hv001t01.evo"), 2 * 2048 + (2048 - 700));
  test::DiscProject p;
  auto s = ScanBothModes(p, dir.File("hv001t01.evo"));
  EXPECT_EQ(RunsOf(*s), (std::vector<MapRun>{{1, 1, 0, 3, 0}, {1, 2, 4, 7, 0}})) << "the short last pack counts";
  EXPECT_EQ(s->SectorCounter, 8);
  EXPECT_EQ(p.Form.StatusProgress.Max, 8);
  const platform::LogLine* warn = FindLine(p, "lies past the end of EVO file: HV001T01.EVO");
  ASSERT_NE(warn, nullptr);
  EXPECT_EQ(warn->Kind, 2);
  // Said in the full scan and in the quick one, with where the file is cut.
  EXPECT_EQ(CountLines(p, "EVO file HV001T01.EVO is truncated: its last pack at byte 14336 holds 700 of 2048"), 2u)
      << ::testing::PrintToString(p.LogTexts());
}

TEST(VobScout, FileMissingInTheMiddleOfAChainIsReported) {
  test::TempDir dir;
  for (int n : {1, 3}) {
    EvoWriter w;
    w.Vobu(static_cast<uint16_t>(n), 1, 2, 9000);
    w.Save(dir.File("hv001t0" + std::to_string(n) + ".evo"));
  }
  test::DiscProject p;
  auto s = TVobScaut::Create(dir.File("hv001t01.evo"));
  EXPECT_EQ(s->Scan(p.Form, p.Form, p.Form.Scan, p.Form.StatusProgress), TScanEnd::ReadError);
  EXPECT_TRUE(p.LogContains("File hv001t02.evo of the chain is missing or unreadable")) << ::testing::PrintToString(p.LogTexts());
}

// A medium that fails from a byte on.
int64_t g_failAt = 0;
ssize_t FailingRead(int Fd, void* Buffer, size_t Count, off_t Offset) {
  if (Offset >= g_failAt) {
    errno = EIO;
    return -1;
  }
  return ::pread(Fd, Buffer, std::min<size_t>(Count, static_cast<size_t>(g_failAt - Offset)), Offset);
}

TEST(VobScout, ReadErrorEndsTheMapAtTheFailingPackAndIsNotFinished) {
  test::TempDir dir;
  EvoWriter w;
  for (uint8_t cell = 1; cell <= 5; ++cell)
    for (int v = 0; v < 2; ++v) w.Vobu(1, cell, 3);  // cell c: 8(c-1) .. 8c-1
  w.Save(dir.File("hv001t01.evo"));
  w.Save(dir.File("hv001t02.evo"));
  g_failAt = 21 * 2048 + 100;
  for (const bool full : {true, false}) {
    SCOPED_TRACE(full ? "full" : "fast");
    test::DiscProject p;
    p.Form.Scan.FullScan = full;
    TVobScaut s(dir.File("hv001t01.evo"));
    s.ReadFunction = &FailingRead;
    EXPECT_EQ(s.Scan(p.Form, p.Form, p.Form.Scan, p.Form.StatusProgress), TScanEnd::ReadError);
    EXPECT_TRUE(s.ReadError);
    // Full scans fail at pack 21; fast ones jump from the navigation pack at 20 to 24.
    const uint32_t failing = full ? 21 : 24;
    EXPECT_EQ(RunsOf(s), (std::vector<MapRun>{{1, 1, 0, 7, 0}, {1, 2, 8, 15, 0}, {1, 3, 16, failing - 1, 0}}));
    EXPECT_EQ(s.ScannedFiles.size(), 1u) << "the chain ends at the error";
    EXPECT_TRUE(p.LogContains("Disk read error. File: hv001t01.evo"));
    EXPECT_TRUE(p.LogContains("Read error while scanning EVO file: HV001T01.EVO. File was not scanned successfully."));
    EXPECT_FALSE(p.LogContains("Finish EVO files scanning."));
    EXPECT_EQ(FindLine(p, "Read error while scanning")->Kind, 2);
  }
}

TEST(VobScout, StopEndsTheScanAtOnce) {
  test::TempDir dir;
  EvoWriter w;
  for (uint8_t cell = 1; cell <= 4; ++cell) w.Vobu(1, cell, 4);
  w.Save(dir.File("hv001t01.evo"));
  w.Save(dir.File("hv001t02.evo"));
  test::DiscProject p;
  p.Form.Scan.FullScan = true;
  p.Form.StatusProgress.OnChange = [&p](const platform::ProgressBar& b) {
    if (b.Position == 7) p.Form.Abort = 1;
  };
  TVobScaut s(dir.File("hv001t01.evo"));
  EXPECT_EQ(s.Scan(p.Form, p.Form, p.Form.Scan, p.Form.StatusProgress), TScanEnd::Stopped);
  EXPECT_EQ(s.SectorCounter, 7);
  EXPECT_EQ(RunsOf(s), (std::vector<MapRun>{{1, 1, 0, 4, 0}, {1, 2, 5, 6, 0}}));
  EXPECT_EQ(s.ScannedFiles.size(), 1u);
  EXPECT_EQ(p.Form.StatusProgress.Max, 40) << "the bar spans the chain";
  EXPECT_FALSE(p.LogContains("Finish EVO files scanning."));
}

// ---- chains ----

TEST(VobScout, ChainIsCountedFromItsFirstFileAcrossAVobuSplitByTheBoundary) {
  test::TempDir dir;
  EvoWriter one;
  one.Vobu(1, 1, 3, 9000);  // 0..3
  NavSpec split;
  split.Vob = 1, split.Cell = 2, split.EndAddress = 5, split.Ticks = 18000;
  one.Vobu(split, 2, true);  // 4..6 here, 7..9 in the next file
  one.Save(dir.File("hv001t01.evo"));
  EvoWriter two;
  two.Data(3);
  two.Vobu(1, 2, 2);  // 10..12
  two.Vobu(1, 3, 1);  // 13..14
  two.Save(dir.File("hv001t2.evo"));  // found under its plain number
  test::DiscProject p;
  auto s = ScanBothModes(p, dir.File("hv001t01.evo"));
  EXPECT_EQ(RunsOf(*s), (std::vector<MapRun>{{1, 1, 0, 3, 0}, {1, 2, 4, 12, 0}, {1, 3, 13, 14, 0}}));
  ASSERT_EQ(s->ScannedFiles.size(), 2u);
  EXPECT_EQ(s->ScannedFiles[1], dir.File("hv001t2.evo"));
  EXPECT_EQ(s->Occurrences[1].RunCount, 1u) << "a cell that goes on in the next file is one run";
  EXPECT_EQ(p.Form.StatusProgress.Max, 15);
  EXPECT_EQ(CountLines(p, "Scanning EVO file: HV001T2.EVO"), 2u);
  // The VOBU that goes on in the next file is no fault of the first.
  const platform::LogLine* note = FindLine(p, "lies past the end of EVO file: HV001T01.EVO");
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->Kind, 1);
  EXPECT_EQ(p.LogTexts().back(), "Finish EVO files scanning.");
}

TEST(VobScout, MenuFilesAreChainsOfOneAndLooseFilesGoOnAsTheRunReadsThem) {
  test::TempDir dir;
  EvoWriter w;
  w.Vobu(1, 1, 1);
  for (const char* name : {"hv000m01.evo", "hv000m02.evo", "hv001m01.evo", "hv001m02.evo", "hv001t09.evo",
                           "hv001t10.evo", "hv001t11.evo", "clip_10.evo", "clip_11.evo", "clip_12.evo"})
    w.Save(dir.File(name));
  auto files = [&](const std::string& name, uint8_t loose = 0) {
    test::DiscProject p;
    p.Form.LooseEvo = loose;
    TVobScaut s(dir.File(name));
    s.Scan(p.Form, p.Form, p.Form.Scan, p.Form.StatusProgress);
    EXPECT_EQ(p.Form.StatusProgress.Max, static_cast<int64_t>(2 * s.ScannedFiles.size()));
    return s.ScannedFiles.size();
  };
  EXPECT_EQ(files("hv000m01.evo"), 1u) << "first play does not go on into the VMG menus";
  EXPECT_EQ(files("hv001m01.evo"), 1u);
  EXPECT_EQ(files("hv001t09.evo"), 3u) << "a title file numbered 10 is no menu file";
  EXPECT_EQ(files("hv001t09.evo", 1), 3u);
  EXPECT_EQ(files("clip_10.evo", 1), 3u) << "a loose file's chain goes on whatever its name";
  EXPECT_EQ(files("clip_10.evo"), 1u) << "other namings: a last digit 0 marks a menu";
  EXPECT_EQ(files("clip_11.evo"), 2u);
  EXPECT_EQ(files("missing.evo"), 0u);

  EXPECT_TRUE(IsMenuEvoFileName("/d/HV000M02.EVO"));
  EXPECT_FALSE(IsMenuEvoFileName("/d/HV001T01.EVO"));
  EXPECT_TRUE(IsMenuEvoFileName("VTS_01_0.evo"));
  EXPECT_FALSE(IsMenuEvoFileName("VTS_01_1.evo"));
}

TEST(VobScout, NextEvoFileNamePrefersTwoDigitsAndKeepsTheFolder) {
  test::TempDir dir;
  auto touch = [&](const std::string& n) { test::WriteFileBytes(dir.File(n), {1}); };
  EXPECT_EQ(core::NextEvoFileName(dir.File("hv001t01.evo")), "");
  touch("hv001t2.evo");
  EXPECT_EQ(core::NextEvoFileName(dir.File("hv001t01.evo")), dir.File("hv001t2.evo"));
  touch("hv001t02.evo");
  EXPECT_EQ(core::NextEvoFileName(dir.File("hv001t01.evo")), dir.File("hv001t02.evo"));
  touch("clip_6.evo");
  EXPECT_EQ(core::NextEvoFileName(dir.File("clip_5.evo")), dir.File("clip_6.evo"));
  touch("clip_06.evo");
  EXPECT_EQ(core::NextEvoFileName(dir.File("clip_5.evo")), dir.File("clip_06.evo"));
  // The plain-number form has a successor too.
  touch("hv001t3.evo");
  EXPECT_EQ(core::NextEvoFileName(dir.File("hv001t2.evo")), dir.File("hv001t3.evo"));
  touch("hv001t10.evo");
  EXPECT_EQ(core::NextEvoFileName(dir.File("hv001t09.evo")), dir.File("hv001t10.evo"));
  // Disc names in capitals are found and returned as they are spelled.
  touch("HV002T02.EVO");
  EXPECT_EQ(core::NextEvoFileName(dir.File("HV002T01.EVO")), dir.File("HV002T02.EVO"));
  // A name without a number starts no chain; the folder's characters are never digits.
  std::filesystem::create_directories(dir.File("x1"));
  touch("x1/01.evo");
  touch("x1/z01.evo");
  EXPECT_EQ(core::NextEvoFileName(dir.File("x1/z.evo")), "");
  EXPECT_EQ(core::NextEvoFileName(dir.File("x1/.evo")), "");
  // A folder of the candidate's name is no file.
  std::filesystem::create_directories(dir.File("hv003t02.evo"));
  EXPECT_EQ(core::NextEvoFileName(dir.File("hv003t01.evo")), "");
  // A chain ends at 99: "t100" would read as a new chain and loop.
  touch("hv004t100.evo");
  EXPECT_EQ(core::NextEvoFileName(dir.File("hv004t99.evo")), "");
}

// ---- registry, angle query and tree ----

TEST(VobScoutRegistry, RegistersTitleSetsBelowOneHundredAndFreesOnDemand) {
  test::DiscProject p;
  auto scout = TVobScaut::Create("x.evo");
  scout->Cells.push_back({});
  RegisterVobScout(p.Form, 100, scout, 2);
  RegisterVobScout(p.Form, -1, scout, 2);
  EXPECT_TRUE(p.Form.Scouts.Pairs.empty());
  EXPECT_FALSE(HasVobScout(p.Form, 100, 2));
  RegisterVobScout(p.Form, 5, scout, 2);
  EXPECT_EQ(p.Form.Scouts.Pairs.size(), 6u);
  EXPECT_TRUE(HasVobScout(p.Form, 5, 2));
  EXPECT_FALSE(HasVobScout(p.Form, 5, 1));
  EXPECT_FALSE(HasVobScout(p.Form, 4, 2));
  RegisterVobScout(p.Form, 5, TVobScaut::Create("m.evo"), 7);  // any other kind: the menu scout
  EXPECT_EQ(p.Form.Scouts.Get(5, 1)->FileName, "m.evo");
  EXPECT_FALSE(IsScoutAngleVob(p.Form, p.Form, 6, 2, 1));
  // Loading another disc empties the registry.
  FreeVobScouts(p.Form);
  EXPECT_TRUE(p.Form.Scouts.Pairs.empty());
  EXPECT_FALSE(HasVobScout(p.Form, 5, 2));
  EXPECT_TRUE(scout->Cells.empty()) << "released";
}

TEST(VobScoutRegistry, AngleQueryWeighsTheScoutAgainstTheProgramChains) {
  test::TempDir dir;
  EvoWriter w;
  for (uint8_t cell = 1; cell <= 3; ++cell) w.Vobu(1, cell, 1);
  NavSpec angle;
  angle.Vob = 4;
  angle.NonSeamless = {5, 9};
  w.Vobu(angle, 1);
  w.Save(dir.File("hv001t01.evo"));
  test::DiscProject p;
  auto scout = std::shared_ptr<TVobScaut>(ScanWith(p, dir.File("hv001t01.evo"), false).Scout.release());
  RegisterVobScout(p.Form, 1, scout, 2);
  using test::CellDef;
  // The chains know all three cells of VOB 1 and none is seamless.
  test::AddTitleChain(p.Form, 1, 0x81, test::MakePgc({CellDef(1, 1), CellDef(1, 2), CellDef(1, 3), CellDef(4, 1)}));
  EXPECT_FALSE(IsScoutAngleVob(p.Form, p.Form, 1, 2, 1));
  EXPECT_TRUE(IsScoutAngleVob(p.Form, p.Form, 1, 2, 4)) << "the scout's angle cells hold it";
  EXPECT_FALSE(IsScoutAngleVob(p.Form, p.Form, 1, 1, 1)) << "no menu scout";
  // A later seamless cell makes it an angle VOB by the chains.
  p.Form.IFOFiles[1].VTS_PGCIT.PGCs.front().PGC->CellPlayback[1].Category[0] = 0x08;
  EXPECT_TRUE(IsScoutAngleVob(p.Form, p.Form, 1, 2, 1));
  // The scout found more cells than the chains list.
  p.Form.IFOFiles[1].VTS_PGCIT.PGCs.clear();
  test::AddTitleChain(p.Form, 1, 0x81, test::MakePgc({CellDef(1, 1), CellDef(1, 2)}));
  EXPECT_TRUE(IsScoutAngleVob(p.Form, p.Form, 1, 2, 1));
}

TEST(VobScoutTree, ListsEvoIdsAndCellsPerDomain) {
  test::TempDir dir;
  EvoWriter fp, menus, vtsMenu, titles;
  fp.Vobu(1, 1, 1);
  menus.Vobu(1, 1, 1), menus.Vobu(1, 2, 1);
  vtsMenu.Vobu(1, 1, 1);
  titles.Vobu(2, 1, 1), titles.Vobu(1, 1, 1), titles.Vobu(1, 2, 1), titles.Vobu(1, 1, 1);
  fp.Save(dir.File("HV000M01.EVO"));
  menus.Save(dir.File("HV000M02.EVO"));
  vtsMenu.Save(dir.File("HV001M01.EVO"));
  titles.Save(dir.File("HV001T01.EVO"));
  test::DiscProject p;
  p.Form.TitleSetCount = 2;
  p.Form.IFOFiles[0].FileName = dir.File("HV000I01.IFO");
  p.Form.IFOFiles[1].FileName = dir.File("HV001I01.IFO");
  BuildVobTree(p.Form, p.Form, p.Form.Scan, p.Form.TreeView7);
  std::vector<std::string> lines;
  const auto& nodes = p.Form.TreeView7.Nodes;
  for (const auto& n : nodes) {
    std::string path = n.Text + "/" + std::to_string(n.Image);
    for (int32_t up = n.Parent; up >= 0; up = nodes[static_cast<size_t>(up)].Parent)
      path = nodes[static_cast<size_t>(up)].Text + " > " + path;
    lines.push_back(path);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "VMG/-1",
                       "VMG > VobID: 1/5",
                       "VMG > VobID: 1 > CellID: 1/6",
                       "VMG > VobID: 1/5",
                       "VMG > VobID: 1 > CellID: 1/6",
                       "VMG > VobID: 1 > CellID: 2/6",
                       "VTS_001/4",
                       "VTS_001 > Menu/2",
                       "VTS_001 > Menu > VobID: 1/5",
                       "VTS_001 > Menu > VobID: 1 > CellID: 1/6",
                       "VTS_001 > Titles/2",
                       "VTS_001 > Titles > VobID: 1/5",
                       "VTS_001 > Titles > VobID: 1 > CellID: 1/6",
                       "VTS_001 > Titles > VobID: 1 > CellID: 2/6",
                       "VTS_001 > Titles > VobID: 2/5",
                       "VTS_001 > Titles > VobID: 2 > CellID: 1/6",
                   }));
}

// ---- chains made by the disc builder ----

namespace builder {

using tools::CellSpec;
using tools::DomainSpec;
using tools::EvoBuildSummary;

const tools::StandardStreams& Streams() {
  static tools::StandardStreams s;
  static const bool loaded = [] {
    std::string error;
    const bool ok = tools::LoadStandardStreams(test::DataFile("streams"), s, &error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }();
  (void)loaded;
  return s;
}

CellSpec Cell(uint16_t Vob, uint8_t Id, int Vobus, uint8_t Angle = 0, bool Seamless = true) {
  CellSpec c;
  c.VobId = Vob, c.CellId = Id, c.VobuCount = Vobus, c.Angle = Angle, c.AngleSeamless = Seamless;
  return c;
}

// Ordinary cells, a seamless block of two angles and a non-seamless one of three.
DomainSpec MixedDomain() {
  DomainSpec d;
  d.Cells = {Cell(1, 1, 3), Cell(1, 2, 2),
             Cell(2, 1, 3, 1, true), Cell(3, 1, 3, 2, true),
             Cell(4, 1, 2, 1, false), Cell(5, 1, 2, 2, false), Cell(6, 1, 2, 3, false),
             Cell(7, 1, 2), Cell(8, 1, 1)};
  return d;
}

struct Expected {
  std::vector<MapRun> Runs;
  std::vector<uint32_t> RunCounts;
  std::vector<uint32_t> StartPts;
};

// What the scout must find: per cell, in the order the chain first meets it, the
// first stretch that holds it, ending no later than LastPack.
Expected ExpectedMap(const EvoBuildSummary& Sum, uint32_t LastPack = UINT32_MAX) {
  std::vector<const tools::EvoCellSummary*> cells;
  for (const auto& c : Sum.Cells)
    if (!c.Runs.empty() && c.Runs.front().FirstSector <= LastPack) cells.push_back(&c);
  std::sort(cells.begin(), cells.end(), [](auto* a, auto* b) { return a->Runs[0].FirstSector < b->Runs[0].FirstSector; });
  Expected e;
  for (const auto* c : cells) {
    e.Runs.push_back({c->VobId, c->CellId, c->Runs[0].FirstSector, std::min(c->Runs[0].LastSector, LastPack), c->Angle});
    uint32_t runs = 0;
    for (const auto& r : c->Runs) runs += r.FirstSector <= LastPack;
    e.RunCounts.push_back(runs);
    e.StartPts.push_back(c->StartPts);
  }
  return e;
}

void CheckMap(const TVobScaut& s, const Expected& e) {
  ASSERT_EQ(RunsOf(s), e.Runs);
  for (size_t i = 0; i < e.Runs.size(); ++i) {
    const MapRun& r = e.Runs[i];
    SCOPED_TRACE(::testing::Message() << r);
    EXPECT_DOUBLE_EQ(s.CellStartMs(r.Vob, r.Cell), e.StartPts[i] / 90.0);
    const auto occ = std::find_if(s.Occurrences.begin(), s.Occurrences.end(),
                                  [&](const TCellOccurrence& o) { return o.VobId == r.Vob && o.CellId == r.Cell; });
    ASSERT_NE(occ, s.Occurrences.end());
    EXPECT_EQ(occ->RunCount, e.RunCounts[i]);
    EXPECT_EQ(s.InterleavingOf(r.Vob, r.Cell), e.RunCounts[i] > 1 ? e.RunCounts[i] : 0u);
  }
}

TEST(VobScoutBuilt, ChainsMapAsTheBuilderLaidThemOutInBothModes) {
  const auto& st = Streams();
  for (const bool splitInsideVobu : {false, true}) {
    SCOPED_TRACE(splitInsideVobu ? "files cut inside VOBUs" : "files cut between VOBUs");
    test::TempDir dir;
    DomainSpec spec = MixedDomain();
    spec.MaxFileSectors = 60;
    spec.SplitInsideVobu = splitInsideVobu;
    tools::DomainLayout layout;
    const EvoBuildSummary sum = tools::BuildDomainEvos(
        dir.Path(), spec, "hv001t", 1, {tools::MakeEvoStream(st.Mpeg2), tools::MakeEvoStream(st.Ac3)}, {}, &layout);
    ASSERT_TRUE(sum.Ok) << sum.Error;
    ASSERT_GE(sum.Files.size(), 3u);

    test::DiscProject p;
    auto s = ScanBothModes(p, sum.Files[0].Path);
    CheckMap(*s, ExpectedMap(sum));
    EXPECT_EQ(s->ScannedFiles.size(), sum.Files.size());
    EXPECT_EQ(s->SectorCounter, int64_t(layout.TotalSectors));
    EXPECT_EQ(p.Form.StatusProgress.Max, int64_t(layout.TotalSectors));
    EXPECT_FALSE(s->ReadError);
    // The angle blocks: angle k in EVO id (block's id + k - 1), with its table's kind.
    for (uint32_t vob = 2; vob <= 6; ++vob) {
      SCOPED_TRACE(vob);
      EXPECT_EQ(s->VobAngleNumber(vob), vob <= 3 ? vob - 1 : vob - 3);
      EXPECT_EQ(s->VobAngleFlag(vob), vob <= 3 ? 1 : 0);
    }
    EXPECT_EQ(s->VobAngleNumber(1), 0u);
    EXPECT_EQ(s->VobAngleNumber(7), 0u);
    EXPECT_EQ(s->InterleavedCellCount(2), 3u);
    EXPECT_EQ(s->InterleavedCellCount(1), 0u);
    EXPECT_EQ(s->GetVobCells(1), 2);
    EXPECT_FALSE(p.LogContains("Read error"));
    EXPECT_EQ(p.LogTexts().back(), "Finish EVO files scanning.");
    for (const auto& f : sum.Files)
      EXPECT_TRUE(p.LogContains("Scanning EVO file: " + platform::ToUpperAscii(f.Name))) << f.Name;
  }
}

TEST(VobScoutBuilt, TruncatedEvoFileMapsWhatIsLeft) {
  test::TempDir dir;
  DomainSpec spec = MixedDomain();
  tools::DomainLayout layout;
  const EvoBuildSummary sum = tools::BuildDomainEvos(dir.Path(), spec, "hv001t", 1, {}, {}, &layout);
  ASSERT_TRUE(sum.Ok) << sum.Error;
  ASSERT_EQ(sum.Files.size(), 1u);
  // Cut inside the non-seamless block: two packs and a piece into a VOBU of angle 2.
  const auto& vobu = sum.Vobus[size_t(layout.Cells[5].Vobus[0])];
  const uint32_t cutPack = vobu.Sector + 2;
  auto bytes = test::ReadFileBytes(sum.Files[0].Path);
  bytes.resize(size_t(cutPack) * 2048 + 1000);
  test::WriteFileBytes(sum.Files[0].Path, bytes);

  test::DiscProject p;
  auto s = ScanBothModes(p, sum.Files[0].Path);
  CheckMap(*s, ExpectedMap(sum, cutPack));
  EXPECT_EQ(s->SectorCounter, int64_t(cutPack) + 1);
  EXPECT_EQ(s->Cells.back().VobId, 5u);
  const platform::LogLine* warn = FindLine(p, "lies past the end of EVO file: HV001T01.EVO");
  ASSERT_NE(warn, nullptr);
  EXPECT_EQ(warn->Kind, 2);
}

}  // namespace builder

}  // namespace
}  // namespace tess::disc
