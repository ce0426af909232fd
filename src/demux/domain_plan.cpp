#include "demux/domain_plan.h"

#include <algorithm>
#include <cstdlib>

#include "core/number_text.h"
#include "disc/attribute_texts.h"
#include "disc/cell_lookups.h"
#include "disc/disc_model.h"
#include "platform/paths.h"

namespace tess::demux {

namespace {

// VOB ids of the position table are 16-bit and cell ids 8-bit.
bool PgcHasCell(const disc::TPGC* Pgc, uint32_t VobId, uint32_t CellId) {
  return disc::FindCellIndex(Pgc, VobId, CellId) >= 0;
}

}  // namespace

// ---- TPGCList ----

void TPGCList::Add(const TPGCListEntry& Entry) {
  Entries.push_back(Entry);
  Entries.back().Reserved = 0;
}

void TPGCList::AddMenuPgc(const TPGCListEntry& Entry, uint16_t LanguageCode) {
  Add(Entry);
  auto& lang = Entries.back().Language;
  if (LanguageCode == 0) {
    lang = {'x', 'x'};
  } else {
    lang[0] = static_cast<char>(LanguageCode & 0xFF);
    lang[1] = static_cast<char>(LanguageCode >> 8);
  }
}

// ---- the plan ----

TDomainPlan::TDomainPlan(const disc::DiscModel& Disc, int32_t Index)
    : DomainIndex(Index), LooseEvo(Disc.LooseEvo != 0) {
  // A loose EVO file has no information file; its index is a list position.
  if (!LooseEvo && Index >= 0 && Index < Disc.TitleSetCount)
    DomainRecord = &Disc.IFOFiles[static_cast<size_t>(Index)];
  if (DomainRecord) DomainFileName = DomainRecord->FileName;

  if (Index != -1) {
    // Record 0 is the video manager, unless a title set was loaded on its own.
    IsTitleSet = DomainRecord ? (DomainRecord->Kind != disc::ifoVMG ? 1 : 0) : (Index != 0 ? 1 : 0);
    MenuList = std::make_unique<TPGCList>();
    if (DomainRecord) {
      MenuUnits = &DomainRecord->MenuPGCI_UT;
      if (!IsTitleSet) {
        FirstPlayPgc = DomainRecord->FirstPlayPGC.get();
        FirstPlayList = std::make_unique<TPGCList>();
        TPGCListEntry fp;
        fp.PgcNumber = -1;
        fp.PgcKind = kPgcFirstPlay;
        fp.Pgc = FirstPlayPgc;
        FirstPlayList->Add(fp);
      } else {
        TitlePgcs = &DomainRecord->VTS_PGCIT;
        TitleList = std::make_unique<TPGCList>();
        // Title objects are present when the title set has a title EVO.
        if (disc::VTSIField32(*DomainRecord, disc::vtsi::TitleEvoStart) != 0) {
          int32_t number = 0;
          for (const auto& e : TitlePgcs->PGCs) {
            TPGCListEntry t;
            t.PgcNumber = ++number;
            t.PgcKind = kPgcTitle;
            t.Pgc = e.PGC.get();
            TitleList->Add(t);
          }
        }
      }
      for (const auto& unit : MenuUnits->Units) {
        const auto code = static_cast<uint16_t>(static_cast<uint8_t>(unit.LanguageCode[0]) |
                                                (static_cast<uint8_t>(unit.LanguageCode[1]) << 8));
        int32_t number = 0;
        for (const auto& e : unit.PGCs) {
          TPGCListEntry m;
          m.PgcNumber = ++number;
          m.PgcKind = kPgcMenu;
          m.Pgc = e.PGC.get();
          MenuList->AddMenuPgc(m, code);
        }
      }
    }
  }
  SetAttributesFromRecord();
}

void TDomainPlan::SetAttributesFromRecord() {
  if (!DomainRecord) return;
  auto audioTable = [](const uint8_t* Table, size_t CountOffset, size_t AttrOffset) {
    std::vector<std::array<uint8_t, 8>> out;
    const size_t n = std::min<size_t>(Table[CountOffset], 8);
    for (size_t i = 0; i < n; ++i) {
      std::array<uint8_t, 8> a{};
      std::copy_n(Table + AttrOffset + 8 * i, 8, a.begin());
      out.push_back(a);
    }
    return out;
  };
  if (DomainRecord->Kind == disc::ifoVMG) {
    const uint8_t* mat = DomainRecord->VMGI_MAT.data();
    SetVMGVideoAttr(disc::VideoAttrWordAt(mat, disc::vmgi::MenuVideoAttr));
    SetMenuVideoAttr(Attributes.VMGVideoAttr);
    SetMenuAudioAttrs(audioTable(mat, disc::vmgi::MenuAudioCount, disc::vmgi::MenuAudioAttr));
  } else {
    const uint8_t* mat = DomainRecord->VTSI_MAT.data();
    SetMenuVideoAttr(disc::VideoAttrWordAt(mat, disc::vtsi::MenuVideoAttr));
    SetTitleVideoAttr(disc::VideoAttrWordAt(mat, disc::vtsi::TitleVideoAttr));
    SetMenuAudioAttrs(audioTable(mat, disc::vtsi::MenuAudioCount, disc::vtsi::MenuAudioAttr));
    SetTitleAudioAttrs(audioTable(mat, disc::vtsi::TitleAudioCount, disc::vtsi::TitleAudioAttr));
  }
}

uint16_t TDomainPlan::DomainVideoAttr(bool Titles) const {
  if (Titles) return Attributes.TitleVideoAttr;
  if (FirstPlayList) return Attributes.VMGVideoAttr;
  return Attributes.MenuVideoAttr;
}

void TDomainPlan::FindPgcOfCell(const std::string& EvoName, uint32_t Vob, uint32_t Cell,
                                TPGCListEntry& Result) const {
  Result = TPGCListEntry{};
  if (LooseEvo) {
    Result.PgcKind = kPgcTitle;
    return;
  }
  // The first-play chain is asked only while its own EVO is read: the menu EVO
  // of the video manager numbers its VOBs afresh, and its cells would otherwise
  // be taken for the first play's.
  if (FirstPlayDomain && FirstPlayList && FirstPlayList->Count() == 1 &&
      PgcHasCell(FirstPlayList->Entries[0].Pgc, Vob, Cell)) {
    Result = FirstPlayList->Entries[0];
    Result.PgcNumber = 0;
    Result.PgcKind = kPgcFirstPlayLookup;
    return;
  }
  const bool menuEvo =
      EvoName.size() >= 7 && (EvoName[EvoName.size() - 7] == 'm' || EvoName[EvoName.size() - 7] == 'M');
  if (menuEvo) {
    Result.PgcKind = kPgcMenu;
    if (!MenuList) return;
    for (const auto& e : MenuList->Entries) {
      if (!PgcHasCell(e.Pgc, Vob, Cell)) continue;
      Result.PgcNumber = e.PgcNumber;
      Result.Unnamed = e.Unnamed;
      Result.Pgc = e.Pgc;
      return;
    }
    return;
  }
  Result.PgcKind = kPgcTitle;
  if (!TitleList) return;
  for (const auto& e : TitleList->Entries) {
    if (!e.Pgc) continue;
    const size_t n = std::min<size_t>(e.Pgc->CellCount, e.Pgc->CellPositions.size());
    for (size_t i = 0; i < n; ++i) {
      const auto& p = e.Pgc->CellPositions[i];
      if (p.VobId != Vob) continue;
      Result.PgcNumber = e.PgcNumber;
      Result.Pgc = e.Pgc;
      if (p.CellId == Cell) return;
    }
  }
}

TTimeCode TDomainPlan::CellPlaybackTime(const TPGCListEntry& Entry, uint32_t Vob, uint32_t Cell, double FrameRate,
                                        bool Scale1001) const {
  const int64_t i = disc::FindCellIndex(Entry.Pgc, Vob, Cell);
  if (i < 0 || static_cast<size_t>(i) >= Entry.Pgc->CellPlayback.size()) return {};
  TTimeCode t = Entry.Pgc->CellPlayback[static_cast<size_t>(i)].PlaybackTime;
  if (FrameRate == 30 && Entry.PgcKind == kPgcTitle && Scale1001) t = core::ScaleTimeCode(t, 1.001, FrameRate);
  return t;
}

std::string TDomainPlan::DomainNumber() const {
  if (LooseEvo) return core::IntToStrZeroPad(static_cast<uint32_t>(VtsNumber), 3);
  // "hv001i01.IFO": the three digits before "i01.IFO".
  if (DomainFileName.size() < 10) return "000";
  return DomainFileName.substr(DomainFileName.size() - 10, 3);
}

int32_t TDomainPlan::DomainNumberValue() const {
  const std::string digits = DomainNumber();
  for (char c : digits)
    if (!platform::IsAsciiDigit(c)) return 0;
  return std::atoi(digits.c_str());
}

}  // namespace tess::demux
