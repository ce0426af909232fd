#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "disc/name_list.h"

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscModel;
struct RunRegistries;
}

// Menu highlights as the script model keeps them, their ".hlt2" side files, and
// the run's lookup lists: per-title-set name lists, the palette list and the
// per-domain angle-block lists.
namespace tess::disc {

struct TVideoTrack;

// ---- highlight play items ----

constexpr size_t kHighlightItemSize = 273;
constexpr size_t kHighlightButtonSize = 73;

struct TButtonRect {
  int32_t XStart = 0;
  int32_t YStart = 0;
  int32_t XEnd = 0;
  int32_t YEnd = 0;
};

// One button of a highlight set (73 bytes in a file).
struct THighlightButton {
  uint32_t Number = 0;          // from 1
  uint32_t ColourSet = 0;
  uint8_t AutoAction = 0;
  std::array<TButtonRect, 3> Rects{};  // display modes 1, 2, 3
  uint8_t Left = 0;             // 57
  uint8_t Right = 0;            // 58
  uint8_t Up = 0;               // 59
  uint8_t Down = 0;             // 60
  std::array<uint8_t, 8> Command{};
  std::string Name;             // 69: kept in memory only; 0 in the file
};

// One highlight set (273 bytes in a file, followed by its buttons).
struct THighlightPlayItem {
  uint8_t Byte0 = 0;
  uint32_t SortKey = 0;          // 1: of the matched subpicture segment
  uint8_t Rate25 = 0;            // 5: 1 only at a disc rate of 25
  uint8_t SegmentByte = 0;       // 6
  uint32_t SegmentValue1 = 0;    // 7
  uint32_t SegmentValue2 = 0;    // 11
  uint8_t DisplayFlag1 = 0;      // 15: 0, 2 for the marked packs
  uint8_t DisplayFlag2 = 2;      // 16: 2, 0 for the marked packs
  uint8_t Byte17 = 1;
  std::array<std::array<uint32_t, 16>, 3> ColourTables{};  // 18, 82, 146
  std::vector<THighlightButton> Buttons;  // count at 210 (at most 255), block address at 211
  int32_t PictureWidth = 0;      // 215
  int32_t PictureHeight = 0;     // 219
  uint32_t Reserved223 = 0;
  uint32_t Reserved227 = 0;
  uint32_t SelectableButtons = 0;  // 231
  uint32_t ForcedSelect = 0;     // 235
  uint32_t ForcedActivate = 0;   // 239
  int32_t IFOIndex = 0;          // 243
  uint32_t VobId = 0;            // 247
  uint32_t CellId = 0;           // 251
  std::string SegmentName;       // 255: kept in memory only; 0 in the file
  uint32_t StartTime = 0;        // 259, 90 kHz
  uint32_t EndTime = 0;          // 263
  uint8_t Matched = 0;           // 267
  uint32_t SourceNumber = 0;     // 268
  uint8_t Marked = 0;            // 272
};

// A fresh item: the display flags 0 and 2, byte 17 at 1, and the 25-fps byte
// from the disc rate.
void InitHighlightPlayItem(const DiscModel& Disc, THighlightPlayItem& Item);

std::array<uint8_t, kHighlightButtonSize> HighlightButtonToBytes(const THighlightButton& B);
THighlightButton HighlightButtonFromBytes(const uint8_t* Data);  // 73 bytes
// The record without its buttons; the button count byte is the number of
// buttons written after it (at most 255).
std::array<uint8_t, kHighlightItemSize> HighlightItemToBytes(const THighlightPlayItem& Item);
// The record without its buttons; ButtonCount receives byte 210.
THighlightPlayItem HighlightItemFromBytes(const uint8_t* Data, uint8_t& ButtonCount);  // 273 bytes

// Appends one item with its buttons to a ".hlt2" file, creating the file when
// it does not exist; the count is raised only after the record is written. A
// failed write is undone (the file keeps its old length) and returns false.
// With Release the item's buttons are dropped afterwards. *Err (when given) is
// then the errno of the call that failed.
bool WriteTrackRecordFile(const std::string& FileName, THighlightPlayItem& Item, bool Release, int* Err = nullptr);

// Reads a ".hlt2" file into the track's first highlight stream (created when
// the track has none; items already there are replaced) and deletes the file.
// A missing file reads nothing; a file that is shorter than its count promises
// is reported and left on disk, and the track is not changed. True when read.
bool LoadTrackRecordFile(core::RunContext& Run, TVideoTrack& Track, const std::string& FileName);

// Fills the matched fields of every highlight item of the track's first
// highlight stream from the track's subpicture segments, and the picture size
// from the registries'.
void MatchHighlightsToSegments(const RunRegistries& Reg, TVideoTrack& Track);

// Stores a text in the run's string pool; returns its handle.
uint32_t PoolString(RunRegistries& Reg, std::string_view Text);

// ---- per-title-set name lists ----
// The lists behind the subpicture unit's title-name lists (subpic::TitleNameList*):
// the run's, one per title set of the loaded disc.

void ClearVTSNameLists(const DiscModel& Disc, RunRegistries& Reg);
// Appends Name to list Index (1 .. the title-set count); nothing otherwise.
void AddVTSName(const DiscModel& Disc, RunRegistries& Reg, std::string_view Name, int32_t Index);
bool VTSNameListsContain(const DiscModel& Disc, const RunRegistries& Reg, std::string_view Name);
// The stored copy of Name, or an empty text.
std::string FindVTSName(const DiscModel& Disc, const RunRegistries& Reg, std::string_view Name);

// True when FileName names an output of the audio registry (case-insensitive,
// the last three characters of names longer than four ignored).
bool IsListedFileName(const RunRegistries& Reg, std::string_view FileName);

// ---- palette list ----

using TPaletteColours = std::array<uint8_t, 48>;  // 16 RGB triples

struct TPaletteRecord {
  TPaletteColours Colours{};
  int32_t UseCount = 0;
};

struct TPalettes {
  std::vector<TPaletteRecord> Items;
};

int32_t FindPalette(const TPalettes& List, const TPaletteColours& Colours);  // -1 when none
int32_t AddPalette(TPalettes& List, const TPaletteColours& Colours);        // the new index
int32_t MostUsedPalette(const TPalettes& List);                             // -1 for an empty list

// ---- angle-block lists ----

struct TAngleCell {
  uint32_t CellId = 0;
  uint8_t Seamless = 0;
  int32_t BlockPosition = 0;
};

struct TAngleBlockEntry {
  std::vector<TAngleCell> Cells;
  uint32_t VobId = 0;
  uint8_t Seamless = 0;
  int32_t BlockPosition = 0;
};

using TAngleBlockList = std::vector<TAngleBlockEntry>;

struct TAngleBlockLists {
  TAngleBlockList Menus;
  TAngleBlockList Titles;
};

// The run's angle-block list of a domain, built from title set IFOIndex.
void BuildMenuAngleList(const DiscModel& Disc, RunRegistries& Reg, int32_t IFOIndex);
void BuildTitleAngleList(const DiscModel& Disc, RunRegistries& Reg, int32_t IFOIndex);
// Domain 1 menus, 2 titles.
bool IsAngleVob(const RunRegistries& Reg, int32_t Domain, uint32_t VobId);
int32_t GetVobAngleCount(const RunRegistries& Reg, int32_t Domain, uint32_t VobId);

}  // namespace tess::disc
