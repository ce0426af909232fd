#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/timecode.h"
#include "disc/string_pool.h"

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscModel;
struct RunRegistries;
}

// What the demultiplexer and the track preparation use of the subpicture unit:
// the ".dat" index records, the run's pooled texts, the title-name lists and the
// millisecond time codes.
namespace tess::subpic {

// The subpicture writer of a demux context. It carries no state; one is made per
// context and handed to every AppendSubpictureToSup of that context.
class TSubPicBase1 {};

// The run's set of pooled texts (kept with the run's registries).
using disc::TDataStrings;

// Add on the run's set and pool.
uint32_t AddDataString(disc::RunRegistries& Reg, std::string_view Text);

// What the demultiplexer knows about one subpicture unit when it meets it (the
// packet with a time stamp that starts the unit).
struct TSubpictureUnitInfo {
  uint32_t LanguageText = 0;   // handle into the project's string pool, 0 = none
  uint8_t DomainKind = 0;      // the context's DomainKind
  uint16_t VideoAttr = 0;      // the domain's video attribute word, first stored byte low
  int32_t DomainNumber = -1;   // the title set's number for titles, -1 for menus
  std::string ImageFileName;   // the output's name with ".bmp" for its last 4 characters
  core::TTimeCode StartTime;   // at the disc frame rate
  uint32_t VobId = 0;
  uint32_t CellId = 0;
  uint64_t Pts = 0;            // 90 kHz, all 33 bits; the index keeps the low 32
  uint32_t NavPackCount = 0;   // navigation packs counted so far in the context
};

// One record of a subpicture index file (".dat"): 56 bytes, little-endian.
inline constexpr size_t kSupIndexRecordSize = 56;
struct TSupIndexRecord {
  uint32_t StreamId = 0;       //  0: 0x20..0x3F
  uint32_t FolderText = 0;     //  4: handle, the folder part of the stream's output name
  uint32_t Offset = 0;         //  8: the unit's offset in the stream's ".sup" output
  uint16_t VideoAttr = 0;      // 12
  uint8_t DomainKind = 0;      // 14
  uint32_t VobId = 0;          // 15
  uint32_t CellId = 0;         // 19
                               // 23: one zero byte
  uint32_t Pts = 0;            // 24: low 32 bits of the 90 kHz time stamp
  uint32_t NavPackCount = 0;   // 28
  uint32_t LanguageText = 0;   // 32: handle
  double StartMs = 0;          // 36: never negative
  int32_t DomainIndex = 0;     // 44
  int32_t DomainNumber = 0;    // 48
  uint32_t ContextText = 0;    // 52: handle kept by the output-folder builder, 0 = none
};
void EncodeSupIndexRecord(const TSupIndexRecord& R, uint8_t* Out);  // Out: 56 bytes
TSupIndexRecord DecodeSupIndexRecord(const uint8_t* In);            // In: 56 bytes

// The index record of a subpicture unit. False, with a log line naming
// DatFileName, when the unit's offset does not fit the record's 32 bits.
bool MakeSupIndexRecord(core::RunContext& Run, const std::string& DatFileName, const TSubpictureUnitInfo& Unit,
                        uint32_t StreamId, uint32_t FolderText, uint64_t Offset, double StartMs, int32_t DomainIndex,
                        int32_t DomainNumber, uint32_t ContextText, TSupIndexRecord& Out);

// Appends one record for a subpicture unit to DatFileName (made when missing) and
// lists the file among the run's ".dat" files. False, with a log line (and the
// message box when ShowErrorMsg is on), when the file cannot be opened or created
// or the record cannot be written whole.
bool AppendSubpictureToSup(core::RunContext& Run, disc::RunRegistries& Reg, TSubPicBase1& SubPicBase,
                           const std::string& DatFileName,
                           const TSubpictureUnitInfo& Unit, uint32_t StreamId, uint32_t FolderText,
                           uint64_t Offset, double StartMs, int32_t DomainIndex, int32_t DomainNumber,
                           uint32_t ContextText);

// Milliseconds to a time code at the disc's frame rate (25 frames per
// second when no rate is known). Frames round to the nearest; a second's last
// milliseconds that round up to a whole frame count carry into the next second.
core::TTimeCode MsToTimecode(const disc::DiscModel& Disc, uint32_t Ms);

// The title-name lists, one per loaded information file (1 .. TitleSetCount).
bool TitleNameListContains(const disc::DiscModel& Disc, const disc::RunRegistries& Reg, std::string_view Text);
// Appends Text to list Index; nothing when Index is not 1 .. TitleSetCount.
void TitleNameListAdd(const disc::DiscModel& Disc, disc::RunRegistries& Reg, std::string_view Text, int32_t Index);
// The stored text equal to Text, searched in list order; empty when none holds it.
std::string TitleNameListFind(const disc::DiscModel& Disc, const disc::RunRegistries& Reg, std::string_view Text);

}  // namespace tess::subpic
