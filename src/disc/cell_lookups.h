#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/timecode.h"

// Questions about the cells of a program chain that the demultiplexer, the audio
// cutting and the script model ask again and again, the probe of a file's first
// navigation pack, time-code comparisons and two size tests. Every PGC argument
// may be nil; a nil PGC or one without cells gives false, 0 or the stated default.
namespace tess::disc {

using core::TTimeCode;
struct TPGC;
struct DiscModel;

// A VOB id and cell id, as in a cell position entry or a navigation pack.
struct TVobCellId {
  uint16_t VobId = 0;
  uint8_t CellId = 0;
  bool operator==(const TVobCellId&) const = default;
};

// Index of the first cell position entry with these ids (VOB id 16-bit, cell id
// 8-bit, as the position table holds them); -1 when the PGC has none.
int64_t FindCellIndex(const TPGC* PGC, uint32_t VobId, uint32_t CellId);

// The seamless flag of the first cell with these ids; false when there is none.
// Cell 1 of a VOB counts only when IncludeFirst is set.
bool IsCellSeamless(uint32_t VobId, uint32_t CellId, const TPGC* PGC, bool IncludeFirst);
// IsCellSeamless (first cells included) holds in some title PGC of that title set.
bool IsCellSeamlessInVts(const DiscModel& Disc, uint32_t VobId, uint32_t CellId, int32_t VtsIndex);
// The still time in seconds (255 infinite) of that cell; 0 when not found.
uint8_t GetCellStillTime(uint32_t VobId, uint32_t CellId, const TPGC* PGC);
// 2 for an infinite still, else 1 (also for a nil PGC).
uint8_t GetCellStillKind(uint32_t VobId, uint32_t CellId, const TPGC* PGC);
// Position entry Index (0-based); zero ids when the PGC has no such entry.
void GetCellPosition(const TPGC* PGC, int32_t Index, TVobCellId& Pos);
// Some cell of this VOB is seamless (cell 1 not counted).
bool VobHasSeamlessCell(uint32_t VobId, const TPGC* PGC);
// A cell of this VOB after its first one, with another cell id, is seamless.
bool VobHasSeamlessLaterCell(uint32_t VobId, const TPGC* PGC);
// VobHasSeamlessLaterCell holds for some PGC of the list, or of any group.
bool PgcListHasSeamlessVob(uint32_t VobId, std::span<const TPGC* const> List);
bool PgcGroupsHaveSeamlessVob(uint32_t VobId, std::span<const std::vector<const TPGC*>> Groups);
// Exactly one title PGC (with cells) of that title set starts with this cell.
bool IsUniquePgcStart(const DiscModel& Disc, int32_t VtsIndex, uint32_t VobId, uint32_t CellId);

// The two hexadecimal digits of Value read as a decimal number (0x25 gives 25);
// a digit above 9 gives 0.
uint8_t BcdByteToInt(uint8_t Value);
// A 4-byte BCD playback time as stored (hours, minutes, seconds, frames; the two
// top bits of the frames byte are the rate flag and are dropped).
TTimeCode BcdPlaybackTimeToTimecode(const uint8_t* T);
// Time codes compare field by field: hours, minutes, seconds, frames.
int CompareTimecodes(TTimeCode A, TTimeCode B);
// The earlier of A and B; A when they are equal.
TTimeCode MinTimecode(TTimeCode A, TTimeCode B);
// T lies in [A, B).
bool TimecodeInRange(TTimeCode A, TTimeCode B, TTimeCode T);
// The file's full size; 0 when it cannot be opened.
int64_t GetFileSize64(const std::string& FileName);
// Width 352, 704 or 720 and height 240, 288, 420, 480 or 576.
bool IsSDResolution(int32_t Width, int32_t Height);

// The VOB id and cell id of the first navigation (DSI) packet at the start of a
// VOB or EVO file, walking the first pack's headers and private stream 2
// packets; zero ids when the file does not start that way.
void ReadFirstVobuIds(const std::string& FileName, TVobCellId& Ids);

}  // namespace tess::disc
