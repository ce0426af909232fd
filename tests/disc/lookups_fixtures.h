#pragma once
// In-memory information files for the lookup tests: program chains with the
// stream-control words and cells a test names, hung into a project's title sets.
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "support/disc_support.h"

namespace tess::test {

struct CellDef {
  CellDef(uint16_t Vob, uint8_t Cell, uint8_t Cat = 0, core::TTimeCode T = {})
      : VobId(Vob), CellId(Cell), Category(Cat), Time(T) {}
  uint16_t VobId;
  uint8_t CellId;
  uint8_t Category;  // block mode in bits 7..6, seamless in bit 3
  core::TTimeCode Time;
};

inline std::unique_ptr<disc::TPGC> MakePgc(const std::vector<CellDef>& Cells = {}) {
  auto pgc = std::make_unique<disc::TPGC>();
  pgc->CellCount = static_cast<uint16_t>(Cells.size());
  for (const CellDef& c : Cells) {
    disc::TCellPlayback pb;
    pb.Category[0] = c.Category;
    pb.PlaybackTime = c.Time;
    pgc->CellPlayback.push_back(pb);
    disc::TCellPosition pos;
    pos.VobId = c.VobId;
    pos.CellId = c.CellId;
    pgc->CellPositions.push_back(pos);
  }
  return pgc;
}

// A subpicture control word from its four stored bytes (mode 1 first).
constexpr uint32_t SubpicWord(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return (static_cast<uint32_t>(b0) << 24) | (static_cast<uint32_t>(b1) << 16) | (static_cast<uint32_t>(b2) << 8) | b3;
}

inline disc::TPGC& AddTitleChain(test::DiscForm& Form, int TitleSet, uint8_t Category,
                                 std::unique_ptr<disc::TPGC> Pgc) {
  disc::TTitlePGCEntry e;
  e.Category = Category;
  e.PGC = std::move(Pgc);
  auto& chains = Form.IFOFiles[static_cast<size_t>(TitleSet)].VTS_PGCIT.PGCs;
  chains.push_back(std::move(e));
  Form.IFOFiles[static_cast<size_t>(TitleSet)].VTS_PGCIT.PGCCount = static_cast<uint16_t>(chains.size());
  return *chains.back().PGC;
}

inline disc::TPGC& AddMenuChain(test::DiscForm& Form, int TitleSet, char L0, char L1, std::unique_ptr<disc::TPGC> Pgc) {
  auto& units = Form.IFOFiles[static_cast<size_t>(TitleSet)].MenuPGCI_UT.Units;
  if (units.empty() || units.back().LanguageCode[0] != L0 || units.back().LanguageCode[1] != L1) {
    units.emplace_back();
    units.back().LanguageCode = {L0, L1};
  }
  disc::TMenuPGCEntry e;
  e.Category = 0x83;
  e.PGC = std::move(Pgc);
  units.back().PGCs.push_back(std::move(e));
  return *units.back().PGCs.back().PGC;
}

// Puts a language code into the 6-byte subpicture attribute StreamIndex (1..32)
// of a management table at Base.
template <size_t N>
void SetSubpicLanguage(std::array<uint8_t, N>& Table, size_t Base, int StreamIndex, char L0, char L1) {
  const size_t off = Base + 6 * static_cast<size_t>(StreamIndex - 1);
  Table[off + 2] = static_cast<uint8_t>(L0);
  Table[off + 3] = static_cast<uint8_t>(L1);
}

inline void PutLE32(std::vector<uint8_t>& B, size_t Off, uint32_t V) {
  for (int i = 0; i < 4; ++i) B[Off + static_cast<size_t>(i)] = static_cast<uint8_t>(V >> (8 * i));
}

}  // namespace tess::test
