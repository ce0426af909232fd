#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/timecode.h"

// The parsed information files of a disc. Every table body is owned by its
// record; a table whose start sector is 0 in its management table is absent and
// stays empty. Multi-byte numbers are held in host order.
namespace tess::disc {

using core::TTimeCode;

constexpr int kMaxIFOFiles = 102;

// The two domains of a title set (a "kind" argument of many lookups): its menus
// and its titles.
enum DomainKind : int32_t { kDomainMenus = 1, kDomainTitles = 2 };
constexpr int kSectorSize = 2048;
constexpr size_t kVMGIMatSize = 510;
constexpr size_t kVTSIMatSize = 934;

enum TIFOKind : int32_t { ifoUnknown = 0, ifoVMG = 1, ifoVTS = 2 };

// ---- program chains ----

struct TPGCCommandTable {
  uint16_t PreCount = 0;
  uint16_t PostCount = 0;
  uint16_t CellCount = 0;
  uint16_t EndByte = 0;  // kept as stored
  using Command = std::array<uint8_t, 8>;
  std::vector<Command> Pre;   // empty when its count is 0
  std::vector<Command> Post;
  std::vector<Command> Cell;
};

struct TCellPlayback {
  std::array<uint8_t, 4> Category{};  // as stored: block type and mode, seamless, interleaving
  TTimeCode PlaybackTime;             // from BCD, rate bits dropped
  uint32_t FirstVobuStart = 0;
  uint32_t FirstIlvuEnd = 0;
  uint32_t LastVobuStart = 0;
  uint32_t LastVobuEnd = 0;

  bool Seamless() const { return (Category[0] & 0x08) != 0; }
  uint8_t StillTime() const { return Category[2]; }
};

struct TCellPosition {
  uint16_t VobId = 0;
  uint8_t Reserved = 0;
  uint8_t CellId = 0;
};

struct TPaletteEntry {
  uint8_t Reserved = 0;
  uint8_t Y = 0;
  uint8_t Cr = 0;
  uint8_t Cb = 0;
};

// One program chain: the 240 bytes of general information with the stated
// conversions, then its four tables.
struct TPGC {
  uint16_t ProgramCount = 0;
  uint16_t CellCount = 0;
  TTimeCode PlaybackTime;
  uint32_t ProhibitedOps = 0;
  std::array<uint16_t, 8> AudioControl{};
  // Disc byte order is kept in the value: the first stored byte (mode 1, the
  // availability bit 7) is bits 31..24.
  std::array<uint32_t, 32> SubpicControl{};
  uint16_t NextPGC = 0;
  uint16_t PrevPGC = 0;
  uint16_t GoUpPGC = 0;
  std::array<uint8_t, 6> StillAndMode{};  // bytes 162..167 as stored
  uint16_t CommandTableStart = 0;
  uint16_t ProgramMapStart = 0;
  uint16_t CellPlaybackStart = 0;
  uint16_t CellPositionStart = 0;
  std::array<TPaletteEntry, 16> Palette{};

  std::unique_ptr<TPGCCommandTable> Commands;  // null when its start byte is 0
  std::vector<uint8_t> ProgramMap;             // one entry cell per program
  std::vector<TCellPlayback> CellPlayback;     // one per cell
  std::vector<TCellPosition> CellPositions;    // one per cell
};

// ---- VMG tables ----

struct TTitleSearchEntry {
  uint8_t TitleType = 0;
  uint8_t AngleCount = 0;
  uint16_t Field2 = 0;
  uint16_t Field4 = 0;
  std::array<uint8_t, 2> Bytes6{};
  uint16_t TitleSetNumber = 0;
  uint16_t TitleNumber = 0;
  uint32_t StartSector = 0;
};

struct TTitleSearchTable {
  uint16_t TitleCount = 0;
  uint16_t Reserved = 0;
  uint32_t EndByte = 0;
  std::vector<TTitleSearchEntry> Entries;
};

struct TParentalHeader {
  uint16_t CountryCount = 0;
  uint16_t TitleSetCount = 0;
  uint32_t EndByte = 0;
};

constexpr size_t kVTSAttributeEntrySize = 542;

struct TVTSAttributeEntry {
  uint32_t EndByte = 0;
  uint32_t Category = 0;
  // The title set's attribute area as stored (entry bytes 8..541); the two video
  // attribute words are also kept below, first stored byte low like every other
  // attribute word (VideoAttrWordAt).
  std::array<uint8_t, kVTSAttributeEntrySize - 8> Attributes{};
  uint16_t MenuVideoAttr = 0;   // entry offset 8
  uint16_t TitleVideoAttr = 0;  // entry offset 264
};

struct TVTSAttributeTable {
  uint16_t TitleSetCount = 0;
  uint16_t Reserved = 0;
  uint32_t EndByte = 0;
  uint32_t FirstStart = 0;
  std::vector<TVTSAttributeEntry> Entries;
};

struct TTextDataUnit {
  std::array<uint8_t, 2> Bytes{};
  uint16_t Field = 0;
  uint32_t StartByte = 0;
};

struct TTextDataHeader {
  std::array<uint8_t, 20> Header{};  // as stored but its end byte at 16
  uint32_t EndByte = 0;
  uint8_t UnitCount = 0;  // byte 15
  std::vector<TTextDataUnit> Units;
};

// ---- menu language units ----

struct TMenuPGCEntry {
  uint8_t Category = 0;  // bit 7 entry chain, low bits menu type
  std::array<uint8_t, 7> Bytes{};
  uint32_t StartByte = 0;  // within the unit
  std::unique_ptr<TPGC> PGC;
};

struct TLanguageUnit {
  std::array<char, 2> LanguageCode{};
  uint8_t CodeExtension = 0;
  uint8_t MenuExistence = 0;
  uint32_t StartByte = 0;  // within the table
  // The unit's own header.
  uint16_t PGCCount = 0;
  uint16_t Reserved = 0;
  uint32_t EndByte = 0;
  std::vector<TMenuPGCEntry> PGCs;
};

struct TLanguageUnitTable {
  uint16_t UnitCount = 0;
  uint16_t Reserved = 0;
  uint32_t EndByte = 0;
  std::vector<TLanguageUnit> Units;
};

// ---- title-set tables ----

struct TTitlePGCEntry {
  uint8_t Category = 0;  // bit 7 entry chain, bits 0..6 title number
  uint8_t Byte1 = 0;
  uint16_t Field2 = 0;
  std::array<uint8_t, 4> Bytes4{};
  uint32_t StartByte = 0;  // within the table
  std::unique_ptr<TPGC> PGC;
};

struct TPGCTable {
  uint16_t PGCCount = 0;
  uint16_t Reserved = 0;
  uint32_t EndByte = 0;
  std::vector<TTitlePGCEntry> PGCs;
};

struct TPartOfTitle {
  uint16_t PGCNumber = 0;
  uint16_t ProgramNumber = 0;
};

struct TPartOfTitleTable {
  uint16_t TitleCount = 0;
  uint16_t Reserved = 0;
  uint32_t EndByte = 0;
  std::vector<uint32_t> TitleStartBytes;  // title 1 .. n
  std::vector<TPartOfTitle> Entries;
  std::vector<int32_t> TitleFirstIndex;   // per title, the index of its first entry
  uint16_t EntryCount = 0;
};

struct TTimeMap {
  uint32_t StartByte = 0;
  uint8_t TimeUnit = 0;
  uint8_t Reserved = 0;
  uint16_t EntryCount = 0;
  std::vector<uint32_t> Entries;
};

struct TTimeMapTable {
  uint16_t MapCount = 0;
  uint16_t Reserved = 0;
  uint32_t EndByte = 0;
  std::vector<TTimeMap> Maps;
};

struct TCellAddress {
  uint16_t VobId = 0;
  // The title-cell table holds the cell id as one big-endian word in bytes 2..3;
  // the menu tables hold it in byte 2 and keep byte 3 (Reserved) beside it.
  uint16_t CellId = 0;
  uint8_t Reserved = 0;
  uint32_t FirstSector = 0;
  uint32_t LastSector = 0;
};

struct TCellAddressTable {
  uint16_t VobCount = 0;
  uint16_t Reserved = 0;
  uint32_t EndByte = 0;
  std::vector<TCellAddress> Entries;
};

struct TVobuAddressMap {
  uint32_t EndByte = 0;
  std::vector<uint32_t> Sectors;
};

// ---- the record ----

struct TAudioCellEntry {
  uint8_t Mark = 0;
  uint8_t Seen = 0;
  int32_t FirstAudioCell = 0;
};
using TAudioCellBlock = std::array<TAudioCellEntry, 999>;
using TAudioCellTable = std::array<TAudioCellBlock, 9>;

struct TIFOFile {
  TAudioCellTable AudioCellTable{};
  std::string FileName;
  int32_t Kind = ifoUnknown;
  int32_t Ordinal = 0;
  int32_t TitleSetNumber = 0;
  // Tables, records or maps of the file that were damaged and skipped.
  int32_t DamagedTables = 0;
  // A title set whose information file and backup both failed: a title set
  // still, with no table, whose EVO files are found by their names.
  bool InformationCorrupted = false;

  // Menus of this file (VMG menus in the VMG record, title-set menus in a VTS one).
  TLanguageUnitTable MenuPGCI_UT;
  TCellAddressTable MenuC_ADT;
  TVobuAddressMap MenuVOBU_ADMAP;

  // VMG only.
  std::array<uint8_t, kVMGIMatSize> VMGI_MAT{};  // as on disc
  std::unique_ptr<TPGC> FirstPlayPGC;            // null when there is none
  TTitleSearchTable TT_SRPT;
  TParentalHeader PTL_MAIT;
  TVTSAttributeTable VTS_ATRT;
  TTextDataHeader TXTDT_MG;

  // VTS only.
  std::array<uint8_t, kVTSIMatSize> VTSI_MAT{};  // as on disc
  TPartOfTitleTable T_VTS_PTT_SRPT;
  TPGCTable VTS_PGCIT;
  TTimeMapTable VTS_TMAPTI;
  TCellAddressTable VTS_C_ADT;
  TVobuAddressMap VTS_VOBU_ADMAP;
};

// Big-endian fields of the management tables, read where they are needed.
uint32_t VMGIField32(const TIFOFile& F, size_t Offset);
uint16_t VMGIField16(const TIFOFile& F, size_t Offset);
uint32_t VTSIField32(const TIFOFile& F, size_t Offset);
uint16_t VTSIField16(const TIFOFile& F, size_t Offset);

// Offsets in the management tables.
namespace vmgi {
constexpr size_t LastSectorOfSet = 12, LastSectorOfIFO = 28, TitleSetCount = 62, EndByte = 128,
                 FirstPlayPGC = 132, MenuEvoStart = 192, TT_SRPT = 196, MenuPGCI_UT = 200, PTL_MAIT = 204,
                 VTS_ATRT = 208, TXTDT_MG = 212, MenuC_ADT = 216, MenuVOBU_ADMAP = 220, MenuVideoAttr = 256,
                 MenuAudioCount = 259, MenuAudioAttr = 260;
}
namespace vtsi {
constexpr size_t LastSectorOfSet = 12, LastSectorOfIFO = 28, Category = 34, EndByte = 128, MenuEvoStart = 192,
                 TitleEvoStart = 196, PTT_SRPT = 200, VTS_PGCIT = 204, MenuPGCI_UT = 208, VTS_TMAPTI = 212,
                 MenuC_ADT = 216, MenuVOBU_ADMAP = 220, VTS_C_ADT = 224, VTS_VOBU_ADMAP = 228,
                 MenuVideoAttr = 256, MenuAudioCount = 259, MenuAudioAttr = 260, TitleVideoAttr = 512,
                 TitleAudioCount = 515, TitleAudioAttr = 516;
}
// The fixed sizes of the records that the readers step over.
constexpr size_t kPGCGeneralSize = 240;
constexpr size_t kCellPlaybackSize = 24;
constexpr size_t kCellPositionSize = 4;
constexpr size_t kCellAddressSize = 12;
constexpr size_t kTitleSearchEntrySize = 16;
constexpr size_t kMenuPGCEntrySize = 12;
constexpr size_t kTitlePGCEntrySize = 12;
constexpr size_t kLanguageUnitEntrySize = 8;
constexpr size_t kTimeMapPointerSize = 4;
constexpr size_t kNavCommandSize = 8;

// Two tables of references that the shell clears at start-up and releases at
// shutdown. Nothing else puts anything into them; they are kept so that the
// start-up and shutdown steps have their counterpart here.
struct TObjectTables {
  struct Object {
    virtual ~Object() = default;
  };
  std::array<std::unique_ptr<Object>, 1001> Objects;
  std::array<std::unique_ptr<Object>, 256> SmallObjects;
};

}  // namespace tess::disc
