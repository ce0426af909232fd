#pragma once
#include <gtest/gtest.h>

#include <string>

#include "disc/ifo_model.h"
#include "ifo_builder.h"

// A builder-made disc that exercises every table, and the comparisons between
// what the builder wrote and what the readers parsed.
namespace tess::test {

using tools::CellSpec;
using tools::ProgramChainSpec;

inline CellSpec Cell(uint16_t Vob, uint8_t Id, int Vobus, uint8_t Angle = 0) {
  CellSpec c;
  c.VobId = Vob;
  c.CellId = Id;
  c.VobuCount = Vobus;
  c.Angle = Angle;
  return c;
}

inline tools::DiscSpec SampleDisc(int TitleSets = 3) {
  tools::DiscSpec d;
  d.HD = true;
  d.FrameRate = 29.97;

  d.FirstPlay.Cells = {Cell(1, 1, 2)};
  ProgramChainSpec fp;
  fp.Cells = {0};
  fp.Category = 0;
  fp.PreCommands = {{0x30, 0x02, 0, 0, 0, 1, 0, 0}};
  d.FirstPlay.PGCs = {fp};

  d.VmgMenu.Cells = {Cell(1, 1, 2), Cell(1, 2, 3)};
  d.VmgMenu.Cells[1].StillTime = 255;
  ProgramChainSpec top;
  top.Cells = {0};
  top.Category = 0x82;  // entry, title menu
  top.Palette[1] = {0, 0x10, 0x80, 0x80};
  top.Palette[15] = {0, 0xEB, 0x80, 0x80};
  ProgramChainSpec second;
  second.Cells = {1};
  second.Category = 0x00;
  second.PostCommands = {{0x30, 0x06, 0, 1, 0, 0, 0, 0}, {0x20, 0xA4, 0, 0, 0, 0, 0, 1}};
  second.CellCommands = {{0x71, 0, 0, 3, 0, 0, 0, 0}};
  second.GoUpPGC = 1;
  d.VmgMenu.PGCs = {top, second};

  for (int n = 1; n <= TitleSets; ++n) {
    tools::TitleSetSpec ts;
    ts.MenuVideoAttr = static_cast<uint16_t>(0x4001 + n);
    ts.TitleVideoAttr = static_cast<uint16_t>(0x0C00 + n);
    ts.TitleAudioAttrs = {{0x00, 0x00, 'e', 'n', 0, 0, 0, 0}, {0xC0, 0x01, 'd', 'e', 0, 0, 0, 0}};
    ts.Menu.Cells = {Cell(1, 1, 1), Cell(2, 1, 2)};
    ProgramChainSpec root;
    root.Cells = {0, 1};
    root.Category = 0x83;  // entry, root menu
    ProgramChainSpec chapters;
    chapters.Cells = {1};
    chapters.Category = 0x87;  // entry, part-of-title menu
    ts.Menu.PGCs = {root, chapters};

    ts.Titles.Cells = {Cell(1, 1, 3),    Cell(1, 2, 2),    Cell(2, 1, 2, 1),
                       Cell(3, 1, 2, 2), Cell(4, 1, 2, 3), Cell(5, 1, 4 + n)};
    ts.Titles.Cells[0].DataPacks = {4, 9, 2};
    ts.Titles.Cells[1].Seamless = true;
    ts.Titles.Cells[1].StillTime = 5;
    ts.Titles.Cells[4].AngleSeamless = false;
    ProgramChainSpec main;
    main.Cells = {0, 1, 2, 3, 4, 5};
    main.Category = 0x81;
    main.AudioControl = {0x8000, 0x8100};
    main.SubpicControl[0] = 0x80000000u | 0x00010203u;
    main.NextPGC = 3;
    ProgramChainSpec extra;
    extra.Cells = {5};
    extra.ProgramEntries = {1};
    extra.Category = 0x82;
    ProgramChainSpec tail;
    tail.Cells = {0};
    tail.Category = 0x01;  // title 1, not its entry chain
    tail.PrevPGC = 1;
    ts.Titles.PGCs = {main, extra, tail};
    d.TitleSets.push_back(ts);
  }
  return d;
}

inline void ExpectChainMatches(const disc::TPGC& P, const tools::PGCSummary& S, const std::string& What) {
  SCOPED_TRACE(What);
  EXPECT_EQ(P.ProgramCount, S.ProgramCount);
  EXPECT_EQ(P.CellCount, S.CellCount);
  EXPECT_EQ(P.PlaybackTime, S.PlaybackTime);
  EXPECT_EQ(P.ProgramMap, S.ProgramMap);
  EXPECT_EQ(P.AudioControl, S.AudioControl);
  EXPECT_EQ(P.SubpicControl, S.SubpicControl);
  EXPECT_EQ(P.NextPGC, S.NextPGC);
  EXPECT_EQ(P.PrevPGC, S.PrevPGC);
  EXPECT_EQ(P.GoUpPGC, S.GoUpPGC);
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(P.Palette[i].Y, S.Palette[i][1]);
    EXPECT_EQ(P.Palette[i].Cr, S.Palette[i][2]);
    EXPECT_EQ(P.Palette[i].Cb, S.Palette[i][3]);
  }
  const size_t commands = S.PreCommands.size() + S.PostCommands.size() + S.CellCommands.size();
  if (commands == 0) {
    EXPECT_EQ(P.Commands, nullptr);
  } else {
    EXPECT_NE(P.Commands, nullptr);
    if (P.Commands) {
      EXPECT_EQ(P.Commands->Pre, S.PreCommands);
      EXPECT_EQ(P.Commands->Post, S.PostCommands);
      EXPECT_EQ(P.Commands->Cell, S.CellCommands);
    }
  }
  ASSERT_EQ(P.CellPlayback.size(), S.Cells.size());
  ASSERT_EQ(P.CellPositions.size(), S.Cells.size());
  for (size_t k = 0; k < S.Cells.size(); ++k) {
    SCOPED_TRACE("cell " + std::to_string(k + 1));
    const auto& c = P.CellPlayback[k];
    const auto& s = S.Cells[k];
    EXPECT_EQ(c.Category, s.Category);
    EXPECT_EQ(c.PlaybackTime, s.PlaybackTime);
    EXPECT_EQ(c.FirstVobuStart, s.FirstVobuStart);
    EXPECT_EQ(c.FirstIlvuEnd, s.FirstIlvuEnd);
    EXPECT_EQ(c.LastVobuStart, s.LastVobuStart);
    EXPECT_EQ(c.LastVobuEnd, s.LastVobuEnd);
    EXPECT_EQ(P.CellPositions[k].VobId, s.VobId);
    EXPECT_EQ(P.CellPositions[k].CellId, s.CellId);
  }
}

inline void ExpectCellAddressesMatch(const disc::TCellAddressTable& T,
                                     const std::vector<tools::CellAddressSummary>& S) {
  ASSERT_EQ(T.Entries.size(), S.size());
  for (size_t i = 0; i < S.size(); ++i) {
    SCOPED_TRACE("cell address " + std::to_string(i));
    EXPECT_EQ(T.Entries[i].VobId, S[i].VobId);
    EXPECT_EQ(T.Entries[i].CellId, S[i].CellId);
    EXPECT_EQ(T.Entries[i].FirstSector, S[i].FirstSector);
    EXPECT_EQ(T.Entries[i].LastSector, S[i].LastSector);
  }
}

inline void ExpectMenusMatch(const disc::TIFOFile& F, const tools::IfoFileSummary& S) {
  ASSERT_EQ(F.MenuPGCI_UT.Units.size(), S.MenuUnits.size());
  EXPECT_EQ(F.MenuPGCI_UT.UnitCount, S.MenuUnits.size());
  for (size_t i = 0; i < S.MenuUnits.size(); ++i) {
    const auto& u = F.MenuPGCI_UT.Units[i];
    EXPECT_EQ(u.LanguageCode, S.MenuUnits[i].Code);
    EXPECT_EQ(u.MenuExistence, S.MenuUnits[i].MenuExistence);
    ASSERT_EQ(u.PGCs.size(), S.MenuUnits[i].PGCs.size());
    EXPECT_EQ(u.PGCCount, u.PGCs.size());
    for (size_t j = 0; j < u.PGCs.size(); ++j) {
      EXPECT_EQ(u.PGCs[j].Category, S.MenuUnits[i].PGCs[j].Category);
      ASSERT_NE(u.PGCs[j].PGC, nullptr);
      ExpectChainMatches(*u.PGCs[j].PGC, S.MenuUnits[i].PGCs[j], "menu chain " + std::to_string(j + 1));
    }
  }
  ExpectCellAddressesMatch(F.MenuC_ADT, S.MenuCells);
  EXPECT_EQ(F.MenuVOBU_ADMAP.Sectors, S.MenuVobus);
}

inline void ExpectTitleSetMatches(const disc::TIFOFile& F, const tools::IfoFileSummary& S) {
  SCOPED_TRACE(S.IfoName);
  ExpectMenusMatch(F, S);
  ASSERT_EQ(F.VTS_PGCIT.PGCs.size(), S.TitlePGCs.size());
  for (size_t j = 0; j < S.TitlePGCs.size(); ++j) {
    EXPECT_EQ(F.VTS_PGCIT.PGCs[j].Category, S.TitlePGCs[j].Category);
    ASSERT_NE(F.VTS_PGCIT.PGCs[j].PGC, nullptr);
    ExpectChainMatches(*F.VTS_PGCIT.PGCs[j].PGC, S.TitlePGCs[j], "title chain " + std::to_string(j + 1));
  }
  // The part-of-title list, flattened, and each title's first index into it.
  const auto& ptt = F.T_VTS_PTT_SRPT;
  ASSERT_EQ(ptt.TitleCount, S.Parts.size());
  size_t index = 0;
  for (size_t t = 0; t < S.Parts.size(); ++t) {
    EXPECT_EQ(ptt.TitleFirstIndex[t], static_cast<int32_t>(index)) << "title " << t + 1;
    for (const auto& part : S.Parts[t]) {
      ASSERT_LT(index, ptt.Entries.size());
      EXPECT_EQ(ptt.Entries[index].PGCNumber, part.PGCNumber);
      EXPECT_EQ(ptt.Entries[index].ProgramNumber, part.ProgramNumber);
      ++index;
    }
  }
  EXPECT_EQ(ptt.EntryCount, index);
  ASSERT_EQ(F.VTS_TMAPTI.Maps.size(), S.TimeMaps.size());
  for (size_t m = 0; m < S.TimeMaps.size(); ++m) {
    EXPECT_EQ(F.VTS_TMAPTI.Maps[m].TimeUnit, S.TimeMaps[m].TimeUnit);
    EXPECT_EQ(F.VTS_TMAPTI.Maps[m].Entries, S.TimeMaps[m].Entries);
  }
  ExpectCellAddressesMatch(F.VTS_C_ADT, S.TitleCells);
  EXPECT_EQ(F.VTS_VOBU_ADMAP.Sectors, S.TitleVobus);
}

}  // namespace tess::test
