#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a synthetic disc holds, and where every VOBU of it lands. The information
// files and the EVO files of a built disc are both written from one layout, so
// the cells, sectors and times that the IFO tables name are the ones in the EVOs.
namespace tess::tools {

constexpr uint32_t kPackSize = 2048;
constexpr uint32_t kTicksPerSecond = 90000;

// ---- the description ----

struct CellSpec {
  uint16_t VobId = 1;
  uint8_t CellId = 1;
  int VobuCount = 2;
  // 0 outside an angle block; 1..9 inside one. The cells of one block follow each
  // other in Cells, angle 1 first, have the same VobuCount and are interleaved
  // VOBU by VOBU in the file. Angle k of a block lies in VOB id (block's id + k - 1).
  uint8_t Angle = 0;
  bool AngleSeamless = true;  // which angle table of the navigation pack points at the other angles
  bool Seamless = false;      // the cell category's seamless-playback flag
  uint8_t StillTime = 0;      // 255 infinite
  // Data packs per VOBU (the navigation pack not counted); empty: the domain's default.
  std::vector<int> DataPacks;
  // Menu buttons (up to 36), by their commands: the cell's first navigation pack
  // starts a highlight of these buttons that lasts the cell.
  std::vector<std::array<uint8_t, 8>> ButtonCommands;
};

struct ProgramChainSpec {
  std::vector<int> Cells;              // indexes into the domain's Cells, in play order
  std::vector<uint8_t> ProgramEntries; // entry cell number (1-based) per program; empty: one program per cell
  uint8_t Category = 0x81;             // titles: bit 7 entry, low bits title number; menus: bit 7 entry, low bits menu type
  std::array<uint16_t, 8> AudioControl{};
  std::array<uint32_t, 32> SubpicControl{};  // first stored byte in bits 31..24
  std::array<std::array<uint8_t, 4>, 16> Palette{};  // reserved, Y, Cr, Cb
  std::vector<std::array<uint8_t, 8>> PreCommands, PostCommands, CellCommands;
  uint16_t NextPGC = 0, PrevPGC = 0, GoUpPGC = 0;
};

struct DomainSpec {
  std::vector<CellSpec> Cells;  // file order (angle blocks as described above)
  std::vector<ProgramChainSpec> PGCs;
  int DefaultDataPacks = 6;
  uint32_t VobuTicks = 45000;       // presentation time of one VOBU (0.5 s)
  uint32_t FirstPts = 90000;        // the first VOBU's start time
  uint32_t MaxFileSectors = 0;      // titles: start a new file of the chain past this many; 0 = one file
  bool SplitInsideVobu = false;     // cut files at MaxFileSectors exactly, even inside a VOBU
  bool Empty() const { return Cells.empty(); }
};

struct TitleSetSpec {
  DomainSpec Menu;
  DomainSpec Titles;
  uint16_t MenuVideoAttr = 0x4001;   // first stored byte in the low 8 bits
  uint16_t TitleVideoAttr = 0x4001;
  std::vector<std::array<uint8_t, 8>> TitleAudioAttrs;   // up to 8
  std::vector<std::array<uint8_t, 6>> TitleSubpicAttrs;  // up to 32
  std::vector<std::array<uint8_t, 6>> MenuSubpicAttrs;
  std::array<char, 2> MenuLanguage{{'e', 'n'}};
};

struct DiscSpec {
  bool HD = true;                 // "HVDVD-VMG100"/"STANDARD-VTS", else the DVD-Video identifiers
  DomainSpec FirstPlay;           // hv000m01.evo
  DomainSpec VmgMenu;             // hv000m02.evo
  std::vector<TitleSetSpec> TitleSets;
  uint16_t VmgMenuVideoAttr = 0x4001;
  std::array<char, 2> MenuLanguage{{'e', 'n'}};
  double FrameRate = 29.97;       // 25, 29.97 or 30: the rate flag of the playback times
};

// ---- where it lands ----

struct VobuLayout {
  uint32_t Sector = 0;     // from the first sector of the domain's first file
  int Packs = 0;           // navigation pack included
  int Cell = 0;            // index into the domain's Cells
  int IndexInCell = 0;
  uint32_t StartPts = 0;
  uint32_t EndPts = 0;
  // Sector offsets, relative to this VOBU, of the same-time VOBU of each angle of
  // its block (angle 1..9), 0 where there is none.
  std::array<int32_t, 9> AngleOffsets{};
  uint32_t LastSector() const { return Sector + static_cast<uint32_t>(Packs) - 1; }
};

struct CellRun {
  uint32_t FirstSector = 0;
  uint32_t LastSector = 0;
};

struct CellLayout {
  std::vector<CellRun> Runs;  // one per stretch of the file that holds the cell
  uint32_t StartPts = 0;
  uint32_t EndPts = 0;
  std::vector<int> Vobus;     // indexes into the domain's Vobus
};

struct FileLayout {
  std::string Name;          // e.g. "hv001t01.evo"
  uint32_t FirstSector = 0;  // domain sector of its first pack
  uint32_t SectorCount = 0;
};

struct DomainLayout {
  std::vector<VobuLayout> Vobus;  // file order
  std::vector<CellLayout> Cells;  // same order as DomainSpec::Cells
  std::vector<FileLayout> Files;
  uint32_t TotalSectors = 0;
};

// Places the VOBUs of a domain. FileStem is the chain's name without its number
// and extension ("hv001t"), FirstNumber the number of its first file.
DomainLayout LayoutDomain(const DomainSpec& Spec, const std::string& FileStem, int FirstNumber);

// Sets every VOBU's data-pack count from its presentation time [StartPts, EndPts)
// (for example the packs that the streams of that stretch need): fills each cell's
// DataPacks with one entry per VOBU, so that LayoutDomain places the VOBUs with them.
// The VOBU times do not depend on the pack counts, so one pass is enough.
using VobuPacksByTime = std::function<int(uint32_t StartPts, uint32_t EndPts)>;
void SetDataPacksByTime(DomainSpec& Spec, const VobuPacksByTime& PacksFor);

// The cell's playback time as a frame count at the disc rate.
int64_t CellFrames(const CellLayout& Cell, double FrameRate);

// File names of a disc: "hv" + nnn + suffix.
std::string DiscFileName(int TitleSetNumber, const std::string& Suffix);

}  // namespace tess::tools
