#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/timecode.h"
#include "demux/domain_plan.h"
#include "disc/highlights.h"

namespace tess::disc {
struct DiscModel;
}

// The cell tracker: where in the domain the packs in hand belong. The
// navigation packs move it on (nav_handling.cpp): the data-search packet names
// the VOB and cell, the presentation-control packet gives the navigation
// record; the tracker keeps the cell's times and the lists a chain gathers
// (cell times, highlights shown, angle and interleaved VOBs).
namespace tess::demux {

// What the navigation-pack handling keeps of the cell in hand.
struct TCellState {
  bool FirstVideoSeen = false;    // the cell's first timed video packet was met
  double CellFirstVideoMs = 0;    // the cell's start, then its first video time stamp
  double NavPackTimeMs = 0;       // the navigation-pack time of the cell
  uint32_t InterleavedCellCount = 0;
  uint32_t SavedInterleavedCellCount = 0;
  bool ChangePending = false;
  uint32_t PreviousCellStart = 0;  // VOBU start times, 90 kHz
  uint32_t CurrentCellStart = 0;
  bool CellChanged = false;       // read and cleared by the title subpicture folder builder
  uint32_t VobuStart = 0;         // of the current VOBU (90 kHz)
  uint32_t VobuEnd = 0;
  int32_t PaletteIndex = -1;
  uint32_t SubpicPtsCount = 0;
};

// The delays of the audio synchronisation (milliseconds) against the cell's
// reference time, taken at each stream's timed packet and read when a stream
// is registered.
struct TStreamDelays {
  double SubpictureMs = 0;
  double Ac3Ms = 0;  // MLP too
  double DtsMs = 0;
  double LpcmMs = 0;
  double MpaMs = 0;  // E-AC-3 too
};

// The navigation record: the presentation-control data of the last navigation
// pack, its numbers in host order, the cell elapsed time as a time code and the
// button mode split into the group count and the first two groups' display types.
constexpr size_t kNavButtonRecords = 36;
constexpr size_t kNavButtonRecordSize = 18;
struct TNavRecord {
  uint32_t BlockNumber = 0;      // PCI bytes 0..3
  uint32_t UopControl = 0;       // bytes 8..11: the field before the VOBU start time
  uint32_t VobuStart = 0;        // bytes 12..15, 90 kHz
  uint32_t VobuEnd = 0;          // bytes 16..19
  TTimeCode CellElapsed;         // byte 24
  uint16_t HighlightStatus = 0;  // byte 96
  uint32_t HighlightStart = 0;   // byte 98, 90 kHz
  uint32_t HighlightEnd = 0;     // byte 102
  uint8_t ButtonGroups = 0;      // of the button mode at byte 110
  uint8_t ButtonOffset = 0;      // byte 112
  uint8_t ButtonCount = 0;       // byte 113
  uint8_t SelectableButtons = 0; // byte 114
  uint8_t ForcedSelect = 0;      // byte 116
  uint8_t ForcedActivate = 0;    // byte 117
  std::array<uint8_t, 24> Colours{};  // bytes 118..141: three 8-byte colour sets
  std::array<uint8_t, kNavButtonRecords * kNavButtonRecordSize> Buttons{};  // from byte 142
  uint8_t DisplayType1 = 0;      // of the button mode's first byte
  uint8_t DisplayType2 = 0;      // of its second byte
};

// The navigation record of a PCI packet's data (Length bytes from the byte after
// the substream byte; what a short packet lacks reads as zero).
TNavRecord DecodePciRecord(const uint8_t* Data, int32_t Length);
// The record starts a highlight (its buttons are new).
bool StartsHighlight(const TNavRecord& Record);
// The highlight (colours, buttons with their commands, times) the record
// carries; the caller sets where it belongs (file, VOB, cell, source number).
disc::THighlightPlayItem HighlightItemOf(const disc::DiscModel& Disc, const TNavRecord& Record);

// Entries of the lists the navigation-pack handling keeps.
struct TAngleCellItem {
  uint32_t VobId = 0;
  uint32_t AngleNumber = 0;
};
struct TCellTimeItem {
  TTimeCode StartTime;
  uint32_t CellId = 0;
  uint32_t VobId = 0;
  uint8_t Seamless = 0;
  uint32_t NavValue = 0;
  uint32_t Count = 0;
};
struct THighlightKey {
  uint32_t CellId = 0;
  uint32_t VobId = 0;
  uint32_t Start = 0;
  uint32_t End = 0;
  bool operator==(const THighlightKey&) const = default;
};

class TCellTracker {
 public:
  // ---- the program chain in hand ----
  TPGCListEntry PreviousPgc;
  TPGCListEntry CurrentPgc;  // its PgcKind is the domain kind (the context's maker sets it)

  // ---- the cell in hand ----
  uint16_t PgcVobId = 0;                   // the cell the outputs are named after
  uint32_t PgcCellId = 0;
  uint32_t VobId = 0, CellId = 0;          // of the last data-search packet
  uint32_t PrevVobId = 0, PrevCellId = 0;
  int32_t AngleNumber = 0;                 // in an angle block, else 0 or less
  int32_t AngleCopy = 0;
  uint8_t CellNaming = 0;
  uint8_t CellNamingNow = 1;
  TTimeCode CellTime;
  TTimeCode CellStartTime;
  TCellState Cell;
  double VobStartMs = 0;                   // the audio synchronisation's cell start time
  TStreamDelays Delays;
  TNavRecord NavRecord;
  TNavRecord SavedNavRecord;
  uint32_t NavPackCount = 0;

  // ---- lists ----
  std::vector<uint32_t> VobIdList;        // from data-search packets
  std::vector<uint32_t> TrackVobIdList;   // filled by the track-folder insertion
  std::vector<TAngleCellItem> AngleCells;
  std::vector<uint32_t> VobList;          // VOBs with interleaved cells
  std::vector<TCellTimeItem> CellTimes;
  std::vector<THighlightKey> Highlights;
  std::vector<std::vector<uint32_t>> VobCellCounters;  // per VOB id, per index

  // The presentation-control packet's data (the bytes after its substream
  // byte) becomes the navigation record; the cell's time entry counts it.
  void DecodeNavRecord(const uint8_t* Data, int32_t Length);
  void AddVobId(uint32_t VobId);
  void AddAngleCell(uint32_t Vob, uint32_t Angle);
  bool HasAngleCell(uint32_t Vob, uint32_t Angle) const;
  void AddVobOnce(uint32_t Vob);
  bool HasVob(uint32_t Vob) const;
  bool LacksPreviousVob(uint32_t Vob) const { return !HasVob(Vob - 1); }
  void AddCellTime(uint32_t Vob, uint32_t CellIdArg, uint8_t Seamless, TTimeCode Start);
  void CountVobCell(uint32_t VobId, uint32_t Index);
  uint32_t VobCellCounter(uint32_t VobId, uint32_t Index) const;
};

}  // namespace tess::demux
