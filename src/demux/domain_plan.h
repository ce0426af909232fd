#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/timecode.h"
#include "disc/ifo_model.h"

namespace tess::disc {
struct DiscModel;
}

// The domain plan: what a demux context knows of its domain before the first
// pack is read and keeps unchanged while the chain is read. Its information
// file, its program chain lists and its attributes; the cells found in the
// packs are the cell tracker's, the files written the output set's.
namespace tess::demux {

using core::TTimeCode;

// ---- the program chain lists ----

enum TPgcKind : uint8_t { kPgcFirstPlay = 0, kPgcMenu = 1, kPgcTitle = 2, kPgcFirstPlayLookup = 3 };

// One entry of a program chain list (the 32-byte record of the design).
struct TPGCListEntry {
  int32_t PgcNumber = -1;  // 1-based in its table; -1 for the first-play entry
  uint8_t PgcKind = 0;     // TPgcKind
  uint8_t Reserved = 0;
  std::array<char, 2> Language{};      // menus: the unit's language code, "xx" without one
  std::array<uint8_t, 20> Unnamed{};   // copied into a menu lookup result as they stand
  const disc::TPGC* Pgc = nullptr;
};

class TPGCList {
 public:
  // Appends a copy with its reserved byte cleared.
  void Add(const TPGCListEntry& Entry);
  // The same with the language from a 16-bit code (its two bytes in memory
  // order, the first in the low 8 bits), "xx" for code 0.
  void AddMenuPgc(const TPGCListEntry& Entry, uint16_t LanguageCode);
  int32_t Count() const { return static_cast<int32_t>(Entries.size()); }

  std::vector<TPGCListEntry> Entries;
};

// The domain's attribute words (first stored byte in the low 8 bits) and audio
// attribute tables (8-byte entries as stored).
struct TDomainAttributes {
  uint16_t VMGVideoAttr = 0;
  uint16_t MenuVideoAttr = 0;
  uint16_t TitleVideoAttr = 0;
  std::vector<std::array<uint8_t, 8>> TitleAudioAttrs;  // up to 8
  std::vector<std::array<uint8_t, 8>> MenuAudioAttrs;
};

// Built from the loaded disc when the context is made; the chain driver names
// the domain's number and first-play part before the first file is read, the
// context's maker the Main-mode mark.
struct TDomainPlan {
  // Domain Index of Disc: -1 none, 0 the video manager, n title set n; for a
  // loose EVO file a list position - 1 (the maker fills in the file).
  TDomainPlan(const disc::DiscModel& Disc, int32_t Index);

  std::string DomainFileName; // the domain's information file, or the loose EVO file
  const disc::TPGC* FirstPlayPgc = nullptr;
  const disc::TIFOFile* DomainRecord = nullptr;  // the VMG's or title set's record; nil for loose EVO files
  const disc::TLanguageUnitTable* MenuUnits = nullptr;
  const disc::TPGCTable* TitlePgcs = nullptr;
  int32_t DomainIndex = -1;   // -1 none, 0 video manager, n title set n; loose EVO: list position - 1
  int32_t VtsNumber = 0;      // the title set's record index (loose EVO: list position)
  bool LooseEvo = false;      // a loose EVO file: no information file, named after the file
  uint8_t IsTitleSet = 0;
  uint8_t FirstPlayDomain = 0;  // the video manager's first-play EVO is read
  uint8_t ByCell = 0;           // the title set's Main-mode mark

  // The video manager's (its first play) and the menu and title chains.
  std::unique_ptr<TPGCList> FirstPlayList;
  std::unique_ptr<TPGCList> MenuList;
  std::unique_ptr<TPGCList> TitleList;

  TDomainAttributes Attributes;
  void SetVMGVideoAttr(uint16_t Attr) { Attributes.VMGVideoAttr = Attr; }
  void SetMenuVideoAttr(uint16_t Attr) { Attributes.MenuVideoAttr = Attr; }
  void SetTitleVideoAttr(uint16_t Attr) { Attributes.TitleVideoAttr = Attr; }
  void SetTitleAudioAttrs(std::vector<std::array<uint8_t, 8>> Attrs) { Attributes.TitleAudioAttrs = std::move(Attrs); }
  void SetMenuAudioAttrs(std::vector<std::array<uint8_t, 8>> Attrs) { Attributes.MenuAudioAttrs = std::move(Attrs); }
  // The attribute words and tables of the domain's information file.
  void SetAttributesFromRecord();
  // The video attribute word of the domain: the titles' (Titles), else the
  // VMG's or the menus'.
  uint16_t DomainVideoAttr(bool Titles) const;

  // The program chain that holds cell CellId of VOB VobId, asked of the list
  // that EvoName (the EVO file being read) belongs to.
  void FindPgcOfCell(const std::string& EvoName, uint32_t VobId, uint32_t CellId, TPGCListEntry& Result) const;
  // The cell's playback time in Entry's chain; title times on a disc at a
  // rate of 30 scaled by 1.001 when Scale1001.
  TTimeCode CellPlaybackTime(const TPGCListEntry& Entry, uint32_t VobId, uint32_t CellId, double FrameRate,
                             bool Scale1001) const;

  // The domain's three digits in its output names ("001" of "hv001i01.IFO").
  std::string DomainNumber() const;
  int32_t DomainNumberValue() const;
};

}  // namespace tess::demux
