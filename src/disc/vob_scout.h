#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/timecode.h"
#include "core/vob_file_stream.h"

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscModel;
struct RunRegistries;
}
namespace tess::platform {
struct ProgressBar;
struct TreeModel;
}

// The navigation-pack scout: before a chain of EVO files is cut, its navigation
// packs are read to learn which cells it holds, where they lie, how they are
// interleaved, which EVO ids form angle blocks and when each cell starts.
namespace tess::disc {

// ---- the navigation pack ----

constexpr int64_t kNavPackSize = 2048;
// Offsets in the pack (numbers big-endian).
constexpr size_t kPciStartCodeOffset = 304;   // 00 00 01 BF
constexpr size_t kPciSubstreamOffset = 310;   // 0x00
constexpr size_t kPciDataOffset = 311;        // PCI data bytes 0..99
constexpr size_t kPciDataSize = 100;
constexpr size_t kPciStartTimeOffset = kPciDataOffset + 12;     // VOBU start time, 90 kHz
constexpr size_t kPciNonSeamlessOffset = kPciDataOffset + 60;   // 9 x 4-byte addresses
constexpr size_t kDsiStartCodeOffset = 1287;  // 00 00 01 BF
constexpr size_t kDsiSubstreamOffset = 1293;  // 0x01
constexpr size_t kDsiDataOffset = 1294;
constexpr size_t kDsiBlockNumberOffset = kDsiDataOffset + 4;
constexpr size_t kDsiVobuEndOffset = kDsiDataOffset + 8;      // low 24 bits
constexpr size_t kDsiVobIdOffset = kDsiDataOffset + 24;
constexpr size_t kDsiCellIdOffset = kDsiDataOffset + 27;
constexpr size_t kDsiSeamlessOffset = kDsiDataOffset + 180;   // 9 x (4-byte address, 2-byte size)
constexpr uint32_t kPrivateStream2Code = 0x000001BF;
constexpr int kAngleSlots = 9;

struct TSeamlessAngle {
  uint32_t Address = 0;
  uint16_t Size = 0;
};

// What the scout takes from one navigation pack.
struct TNavPackInfo {
  uint32_t VobuEndAddress = 0;  // sectors from this pack to the last pack of its VOBU
  uint16_t VobId = 0;
  uint8_t CellId = 0;
  uint32_t BlockNumber = 0;
  std::array<uint8_t, 4> StartTime{};  // VOBU start time, big-endian as stored
  std::array<uint32_t, kAngleSlots> NonSeamlessAngles{};
  std::array<TSeamlessAngle, kAngleSlots> SeamlessAngles{};
  // The pack carries angle data: a first non-seamless or seamless address.
  bool HasAngleData() const { return NonSeamlessAngles[0] != 0 || SeamlessAngles[0].Address != 0; }
};

// Both private stream 2 packets (PCI, substream 0, and DSI, substream 1) sit at
// their places in the 2048-byte pack.
bool IsNavigationPack(const uint8_t* Pack);
// Reads the fields of a navigation pack; false (and Info cleared) for any other
// pack. A navigation pack whose end address is 0 carries no navigation data.
bool ReadNavigationPack(const uint8_t* Pack, TNavPackInfo& Info);

// ---- the cell map ----

// One run of a cell: a stretch of the chain that holds it.
struct TCellDistance {
  uint32_t VobId = 0;
  uint32_t CellId = 0;
  uint32_t AngleNumber = 0;  // 0 = none
  uint32_t FirstSector = 0;  // counted from the first sector of the chain's first file
  uint32_t LastSector = 0;
  uint32_t Length = 0;       // LastSector - FirstSector + 1
  uint8_t AngleSeamless = 0;
  std::array<uint8_t, 4> StartTime{};  // of the run's first navigation pack, big-endian as stored
};
using TCellDistances = std::vector<TCellDistance>;

// One distinct (EVO id, cell id) pair, in first-seen order.
struct TCellOccurrence {
  uint32_t VobId = 0;
  uint32_t CellId = 0;
  uint32_t RunCount = 0;  // separate stretches of the chain that hold the pair
  uint8_t Interleaved = 0;
};

struct TAngleCellEntry {
  uint32_t Key = 0;          // the EVO id taken to hold this angle
  uint32_t AngleNumber = 0;  // 1..9
  uint8_t Seamless = 0;      // 1 from the seamless (DSI) table, 0 from the non-seamless (PCI) one
};

using TCellsList = std::vector<uint32_t>;
void CellsListAdd(TCellsList& List, uint32_t Value);
bool CellsListContains(const TCellsList& List, uint32_t Value);
bool CellsListNotContains(const TCellsList& List, uint32_t Value);

// False when a run of the EVO id has a cell id greater than CellIndex (any run of
// it when CellIndex is negative); true otherwise.
bool CellRangeFree(const TCellDistances& Cells, int32_t CellIndex, uint32_t VobId);

// How a scan ended.
enum class TScanEnd { Finished, Stopped, ReadError };

// A chain of EVO files ends after a menu file: an HD name with "m" before its two
// digits (hv000m01.evo, hv001m01.evo), or any name whose last digit before the
// extension is 0.
bool IsMenuEvoFileName(const std::string& FileName);

// How the scene angles of a scan are marked: as the navigation packs say, or
// all seamless or all non-seamless.
enum class SceneAngleType : int32_t { AsRecorded = 0, Seamless = 1, NonSeamless = 2 };

// What the scout takes of the settings.
struct ScanSettings {
  bool FullScan = false;  // "FullScan": every pack is read, not only the navigation pack of each VOBU
  SceneAngleType AngleType = SceneAngleType::AsRecorded;  // "AngleType"
  uint32_t InfoColour = 0x808000;        // "LogColorVOBScannerInfo": the scout's log lines
  uint32_t InterleavingColour = 0x8000;  // "LogColorInterleaving": lines of angle and interleaved cells
  bool operator==(const ScanSettings&) const = default;
};

class TVobScaut {
 public:
  explicit TVobScaut(std::string FileName);
  static std::shared_ptr<TVobScaut> Create(const std::string& FileName) {
    return std::make_shared<TVobScaut>(FileName);
  }

  // Maps the chain that starts at FileName (one file for a menu file; a loose
  // file's chain goes on in the files its name numbers, as the run reads
  // them). Fast mode (FullScan off) jumps over each VOBU; full mode reads
  // every pack. Bar runs over the sectors of the whole chain.
  TScanEnd Scan(core::RunContext& Run, const DiscModel& Disc, const ScanSettings& Settings, platform::ProgressBar& Bar);
  // Empties every list.
  void Release();

  // ---- queries ----
  // The distinct cell ids of the EVO id's runs, in order of first appearance,
  // kept as CurrentCells; returns their number.
  int32_t GetVobCells(uint32_t VobId);
  TCellsList CollectVobCells(uint32_t VobId) const;
  // Of the angle-cell entry keyed by the EVO id; 0 when none.
  uint32_t VobAngleNumber(uint32_t VobId) const;
  uint8_t VobAngleFlag(uint32_t VobId) const;
  // The run counts above 1 of the pair's occurrence when it is flagged interleaved.
  uint32_t InterleavingOf(uint32_t VobId, uint32_t CellId) const;
  // The same over every cell of the EVO id.
  uint32_t InterleavedCellCount(uint32_t VobId) const;
  // Some occurrence of the EVO id is flagged interleaved.
  bool IsVobInterleaved(uint32_t VobId) const;
  // The start time of the pair's first run in milliseconds; 0 when it has none.
  double CellStartMs(uint32_t VobId, uint32_t CellId) const;
  // The same as a time code at the disc rate; zero when the pair has no run.
  core::TTimeCode CellStartTimecode(const DiscModel& Disc, uint32_t VobId, uint32_t CellId) const;
  // Start of cell CellId + 1 less start of CellId; zero when the later one is zero.
  core::TTimeCode TimeBetweenCells(const DiscModel& Disc, uint32_t VobId, uint32_t CellId) const;
  // The EVO id is an angle VOB for title set Number's domain Kind (2 titles, else
  // menus), by the scout's cells and the domain's angle-block list (built anew
  // into the run's registries).
  bool IsAngleVobEx(const DiscModel& Disc, RunRegistries& Reg, int32_t Number, int32_t Kind, uint32_t VobId);
  // How many cells of the EVO id started with that angle.
  uint32_t AngleCount(uint32_t VobId, uint32_t Angle) const;
  // Per EVO id (ascending) a node under Parent, and under it a node per cell.
  void FillTree(platform::TreeModel& Tree, int32_t Parent) const;

  // ---- state ----
  std::string FileName;                  // the first file of the chain
  std::string CurrentFile;               // the file being read
  std::vector<TCellOccurrence> Occurrences;
  std::vector<TAngleCellEntry> AngleCells;
  TCellsList CurrentCells;
  TCellDistances Cells;
  bool ReadError = false;
  std::string MissingFile;               // the file missing in the middle of the chain, if one is
  int64_t SectorCounter = 0;             // packs of the chain counted so far
  // The block number of the chain's first sector, as the first navigation pack
  // of the last scan gives it (its own number less the sectors before it);
  // none when the scan met no navigation pack.
  std::optional<int64_t> FirstBlock;
  std::vector<std::string> ScannedFiles; // files opened by the last scan
  // Where each file of the last scan lies in the chain, one per entry of
  // ScannedFiles.
  struct TFileSpan {
    int64_t FirstSector = 0;  // in the chain's count
    int64_t Sectors = 0;      // its packs, a short last one included
    bool Opened = true;       // false: it could not be opened, and holds no pack here
    int64_t Bytes = 0;        // its size
    // The last pack of the furthest-reaching VOBU that begins in the file, in
    // the chain's count; -1 when no navigation pack gives one.
    int64_t VobuReach = -1;
    bool ShowsNavigation() const { return VobuReach >= 0; }
  };
  std::vector<TFileSpan> Spans;
  // Sectors the chain lost at the end of a file: a gap in the block numbers
  // where a later file's first navigation pack stands (GapShown), or the packs
  // of a VOBU that no later file goes on with, which at least are missing.
  // Files that show no navigation pack can only be placed around the VOBU
  // before them: the loss lies at the end of one of Files, those where it
  // agrees with the block numbers, or the one of them cut inside a pack, empty
  // or unread, which surely lost its end.
  struct TChainLoss {
    std::vector<size_t> Files;  // indexes into Spans, in order
    // The file whose first navigation pack shows the loss; Spans.size() when
    // it lies at the end of the chain.
    size_t ShownBy = 0;
    int64_t Sectors = 0;
    bool GapShown = false;
  };
  std::vector<TChainLoss> Losses;
  // The files whose end may hold what the chain lost at its end, placed as a
  // loss is: the last one that shows a navigation pack (or the first) and
  // those after it. Empty when the scan opened no file.
  std::vector<size_t> EndCandidates() const;
  // What the chain lost at its end (past its last file), if it did.
  const TChainLoss* LossAtEnd() const;
  // The block just past the last pack of the chain by the chain's numbering,
  // the sectors found missing between its files counted; none without a
  // navigation pack.
  std::optional<int64_t> EndBlock() const;
  // Used for every file the scan opens (nullptr: the stream's own); tests put a
  // failing medium here.
  core::TVobFileStream::TReadFunction ReadFunction = nullptr;

 private:
  TScanEnd ScanFile(core::RunContext& Run, platform::ProgressBar& Bar, const std::string& Path, bool HasNext);
  // Why (when known) is the reason as the end of a line (": Permission denied").
  void ReportReadError(core::RunContext& Run, const std::string& Shown, std::string_view Why = {});
  void ReportEndPastFile(core::RunContext& Run, int64_t Sector, const std::string& Shown, bool HasNext);
  // The first navigation pack of a later file says whether the files before it
  // end where this one goes on. False when the file numbers its blocks anew.
  bool JoinEarlierFiles(uint32_t Block, int64_t Sector);
  // Notes Sectors lost after file First (the last that showed a navigation
  // pack) and before file ShownBy, whose first navigation pack stands at
  // Sector with Gap sectors missing before it by the block numbers.
  void AddLoss(size_t First, size_t ShownBy, int64_t Sectors, int64_t Sector, int64_t Gap);
  // The last file up to From that shows a navigation pack, or the first.
  size_t LastShowingNavigation(size_t From) const;
  // Of the files First.. before ShownBy, those whose end may hold the loss.
  std::vector<size_t> PlaceLoss(size_t First, size_t ShownBy, int64_t Sector, int64_t Gap) const;
  void OnNavigationPack(const TNavPackInfo& Nav, int64_t Sector);
  uint32_t AngleCellStep(const TNavPackInfo& Nav, uint32_t VobId);
  void CloseRun(int64_t LastSector);
  void PrepareMap(core::RunContext& Run, bool Report);
  const TAngleCellEntry* FindAngleCell(uint32_t VobId) const;
  void AddAngleCell(uint32_t Key, uint32_t AngleNumber, uint8_t Seamless);
  const TCellDistance* FirstRun(uint32_t VobId, uint32_t CellId) const;
  const TCellOccurrence* FindOccurrence(uint32_t VobId, uint32_t CellId) const;

  ScanSettings settings_;  // those of the scan under way
  std::array<uint8_t, kNavPackSize> pack_{};  // the one buffer every pack is read into
  std::map<uint32_t, std::array<uint32_t, kAngleSlots + 1>> angleCounters_;
  std::unordered_map<uint64_t, size_t> occurrenceIndex_;
  bool havePair_ = false;
  std::unordered_map<uint32_t, size_t> angleIndex_;  // AngleCells by key, first entry of each
  uint32_t prevVob_ = 0;
  uint32_t prevCell_ = 0;
  int64_t blockShift_ = 0;   // how far the block numbers moved off the chain's count
  bool navInFile_ = false;   // the file being read has shown a navigation pack
  // A later loose file that numbers its blocks anew is another title that
  // only continues the chain's name: its cells are read, not mapped.
  bool mapEnded_ = false;
  bool loose_ = false;       // the scan maps a loose file's chain
};

// ---- the registry: one (menu, titles) pair of scouts per title set 0..99 ----

struct TVobScoutRegistry {
  static constexpr int32_t kMaxTitleSets = 100;
  struct TPair {
    std::shared_ptr<TVobScaut> Menu;
    std::shared_ptr<TVobScaut> Titles;
  };
  std::vector<TPair> Pairs;

  // Kind 2 the titles scout, any other the menu scout. Numbers outside 0..99 are
  // not registered. A later registration replaces the earlier one.
  void Register(int32_t Number, std::shared_ptr<TVobScaut> Scout, int32_t Kind);
  bool Has(int32_t Number, int32_t Kind) const;
  TVobScaut* Get(int32_t Number, int32_t Kind) const;
  void Clear() { Pairs.clear(); }
};

void RegisterVobScout(RunRegistries& Reg, int32_t Number, std::shared_ptr<TVobScaut> Scout, int32_t Kind);
bool HasVobScout(const RunRegistries& Reg, int32_t Number, int32_t Kind);
// Releases every registered scout: at program close and when another disc is loaded.
void FreeVobScouts(RunRegistries& Reg);
// False when no scout is registered for (Number, Kind); else its IsAngleVobEx.
bool IsScoutAngleVob(const DiscModel& Disc, RunRegistries& Reg, int32_t Number, int32_t Kind, uint32_t VobId);

// Fills the scout tree view (the browser's TreeView7) from scans of the loaded
// disc's EVO files.
void BuildVobTree(core::RunContext& Run, const DiscModel& Disc, const ScanSettings& Settings,
                  platform::TreeModel& Tree);

}  // namespace tess::disc
