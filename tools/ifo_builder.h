#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/timecode.h"
#include "disc_layout.h"

// The information-file half of the synthetic disc builder: writes the VMG
// ("hv000i01.IFO" and its ".BUP") and one pair per title set ("hvNNNi01.IFO",
// ".BUP") from a DiscSpec, in the table layouts the readers read, and returns a
// summary of every value it wrote so that tests can compare what the readers
// parse. Sectors come from LayoutDomain, so they agree with the EVO builder.
//
// Layouts of the domains: first play LayoutDomain(FirstPlay, "hv000m", 1), VMG
// menus (VmgMenu, "hv000m", 2), title-set menus (Menu, "hvNNNm", 1), titles
// (Titles, "hvNNNt", 1). Each domain's sectors count from its own first file.
//
// The attribute areas of a title set (VTSI_MAT): menu video at 256, menu audio
// count at 258 and entries at 260, menu subpictures count at 340 and entries at
// 342 (as many as fit before 512), title video at 512, title audio count at 514
// (its low byte at 515) and entries at 516, title subpictures count at 596 and
// entries at 598.
namespace tess::tools {

// The tables a fault can be put into.
enum class IfoTable {
  FirstPlayPGC,
  TT_SRPT,
  MenuPGCI_UT,
  PTL_MAIT,
  VTS_ATRT,
  TXTDT_MG,
  MenuC_ADT,
  MenuVOBU_ADMAP,
  PTT_SRPT,
  VTS_PGCIT,
  VTS_TMAPTI,
  VTS_C_ADT,
  VTS_VOBU_ADMAP,
};

enum class IfoFaultKind {
  // The table's start sector (the first-play chain's byte offset) points past
  // the end of the file.
  StartSector,
  // A value inside the table points past the file: the first language unit's,
  // chain's or map's start byte, title 1's part-of-title start byte, the first
  // attribute entry's start byte, the end byte of an address table or map, the
  // title count of TT_SRPT, the unit count of TXTDT_MG. For the first-play chain
  // its cell playback start byte; PTL_MAIT has none (its start sector is used).
  InnerOffset,
  // The first program chain of the table (first-play, menu or title chain) has
  // its cell playback table's start byte past the file.
  ChainTable,
};

struct IfoFault {
  int TitleSet = 0;  // 0 = the VMG
  IfoTable Table = IfoTable::TT_SRPT;
  IfoFaultKind Kind = IfoFaultKind::StartSector;
};

enum class IfoDamage {
  None,
  Missing,        // the file is not written
  BadIdentifier,  // the first 12 bytes are overwritten
  Truncated,      // only the first TruncateTo bytes are written
};

struct IfoFileDamage {
  IfoDamage Ifo = IfoDamage::None;
  IfoDamage Bup = IfoDamage::None;
  uint64_t TruncateTo = 0;  // bytes kept by Truncated; 0: the first sector and 100 bytes
};

struct IfoBuildOptions {
  std::map<int, IfoFileDamage> Damage;  // by title-set number, 0 = the VMG
  std::vector<IfoFault> Faults;
  bool NoFirstPlay = false;   // first-play offset 0 in the VMG
  bool WriteTextData = true;  // a TXTDT_MG in the VMG
  uint16_t TitleSetCountOverride = 0;  // non-zero: the count written in VTS_ATRT's header
};

// ---- the summary ----

struct CellSummary {
  std::array<uint8_t, 4> Category{};
  std::array<uint8_t, 4> PlaybackTimeBcd{};  // as written, rate flag included
  core::TTimeCode PlaybackTime;              // the same in plain numbers
  uint32_t FirstVobuStart = 0, FirstIlvuEnd = 0, LastVobuStart = 0, LastVobuEnd = 0;
  uint16_t VobId = 0;
  uint8_t CellId = 0;
};

struct PGCSummary {
  uint64_t FilePos = 0;  // the chain's first byte in the file
  uint8_t Category = 0;
  uint16_t ProgramCount = 0, CellCount = 0;
  std::array<uint8_t, 4> PlaybackTimeBcd{};
  core::TTimeCode PlaybackTime;
  std::vector<uint8_t> ProgramMap;
  std::vector<CellSummary> Cells;
  std::vector<std::array<uint8_t, 8>> PreCommands, PostCommands, CellCommands;
  std::array<std::array<uint8_t, 4>, 16> Palette{};
  std::array<uint16_t, 8> AudioControl{};
  std::array<uint32_t, 32> SubpicControl{};
  uint16_t NextPGC = 0, PrevPGC = 0, GoUpPGC = 0;
  uint8_t StillTime = 0;
};

struct TitleSearchSummary {
  uint8_t TitleType = 0, AngleCount = 0;
  uint16_t Parts = 0, TitleSet = 0, TitleNumber = 0;
  uint32_t StartSector = 0;
};

struct CellAddressSummary {
  uint16_t VobId = 0;
  uint16_t CellId = 0;
  uint32_t FirstSector = 0, LastSector = 0;
};

struct PartSummary {
  uint16_t PGCNumber = 0, ProgramNumber = 0;
};

struct TimeMapSummary {
  uint8_t TimeUnit = 0;
  std::vector<uint32_t> Entries;
};

struct LanguageUnitSummary {
  std::array<char, 2> Code{};
  uint8_t MenuExistence = 0;
  std::vector<PGCSummary> PGCs;
};

struct IfoFileSummary {
  int TitleSetNumber = 0;  // 0 = the VMG
  std::string IfoName, BupName;
  bool IfoWritten = false, BupWritten = false;
  IfoFileDamage Damage;
  uint64_t FileSize = 0;  // of the undamaged file
  std::map<IfoTable, uint32_t> StartSectors;  // tables written, by their sector (before faults)
  std::vector<IfoFault> Faults;               // the faults put into this file

  // VMG
  bool HasFirstPlay = false;
  PGCSummary FirstPlay;
  std::vector<TitleSearchSummary> Titles;
  uint16_t TitleSetCount = 0;  // VTS_ATRT
  // both: the menus of the file
  std::vector<LanguageUnitSummary> MenuUnits;
  std::vector<CellAddressSummary> MenuCells;
  std::vector<uint32_t> MenuVobus;
  // VTS
  std::vector<PGCSummary> TitlePGCs;
  std::vector<std::vector<PartSummary>> Parts;  // per title
  std::vector<TimeMapSummary> TimeMaps;
  std::vector<CellAddressSummary> TitleCells;
  std::vector<uint32_t> TitleVobus;

  DomainLayout MenuLayout, TitleLayout;  // VMG: VmgMenu in MenuLayout, FirstPlay in TitleLayout
};

struct IfoSetSummary {
  IfoFileSummary Vmg;
  std::vector<IfoFileSummary> TitleSets;  // title set n at n - 1
};

// Writes the VMG and every title set into Folder (which must exist).
IfoSetSummary WriteIfoSet(const std::string& Folder, const DiscSpec& Spec, const IfoBuildOptions& Options = {});

// The undamaged bytes of one file, for tests that patch single bytes. The VMG
// needs the title sets' bytes (for VTS_ATRT and the title start sectors).
std::vector<uint8_t> BuildVtsBytes(const DiscSpec& Spec, int TitleSetNumber, const IfoBuildOptions& Options,
                                   IfoFileSummary& Summary);
std::vector<uint8_t> BuildVmgBytes(const DiscSpec& Spec, const std::vector<std::vector<uint8_t>>& TitleSetBytes,
                                   const IfoBuildOptions& Options, IfoFileSummary& Summary);

// Helpers the tests share: a playback time in BCD with the rate flag, and the
// sector count of a file size.
std::array<uint8_t, 4> BcdPlaybackTime(int64_t Frames, double FrameRate);
core::TTimeCode FramesToPlainTime(int64_t Frames, double FrameRate);

}  // namespace tess::tools
