#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/timecode.h"

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscModel;
}
namespace tess::platform {
struct GridModel;
}

// Small answers from the loaded information files: which decoding stream a
// chain's audio or subpicture stream maps to, which chapter a program is, which
// angle a cell is, how long the cells of an EVO play, and readable names for the
// attribute codes. Title sets are addressed by their record index (0 = VMG).
namespace tess::disc {

using core::TTimeCode;
struct TPGC;
struct TIFOFile;

// Offsets of the subpicture attribute tables (6 bytes per stream) in the
// management tables.
constexpr size_t kMenuSubpicAttrOffset = 342;
constexpr size_t kTitleSubpicAttrOffset = 598;
constexpr size_t kSubpicAttrSize = 6;
constexpr size_t kAudioAttrSize = 8;

// The video attribute word at Offset of a management table, first stored byte
// in the low 8 bits (the form DecodeVideoAttr takes).
uint16_t VideoAttrWordAt(const uint8_t* Table, size_t Offset);

// Display class 1..4 of a video attribute word, from its two display-permission
// bits: 1 pan-scan only, 2 both, 3 letterbox only, 4 none.
int32_t DisplayClassOfAttr(uint16_t Attr);
int32_t VTSTitleDisplayMode(const DiscModel& Disc, int32_t TitleSetIndex);
int32_t VTSMenuDisplayMode(const DiscModel& Disc, int32_t TitleSetIndex);

// The decoding subpicture stream 0..63 of stream index 1..32 in display mode
// 1..4 (4:3, wide, letterbox, pan-scan) under a display class; -1 when none.
int32_t SubpicStreamNumberOf(core::RunContext& Run, int32_t StreamIndex, const TPGC* Pgc, int32_t Class, int32_t Mode);
// The decoding audio stream of audio stream index 1..8; -1 when it does not exist.
int32_t AudioStreamNumberOf(int32_t StreamIndex, const TPGC* Pgc);
int32_t TitleAudioStreamNumber(const DiscModel& Disc, int32_t StreamIndex, int32_t TitleSetIndex);
int32_t MenuAudioStreamNumber(const DiscModel& Disc, int32_t StreamIndex, int32_t TitleSetIndex);

int32_t ChapterOfProgram(const DiscModel& Disc, int32_t TitleSetIndex, int32_t ChainNumber,
                         int32_t ProgramNumber, int32_t TitleNumber);
// How many title chains up to and including ChainIndex (from 0) belong to TitleNumber.
int32_t ChainNumberInTitle(const DiscModel& Disc, int32_t TitleSetIndex, int32_t TitleNumber,
                           int32_t ChainIndex);
// "0x20, 0x21": the distinct decoding ids of stream index StreamIndex over the
// title chains of the title set.
void SubpicStreamIdsText(core::RunContext& Run, const DiscModel& Disc, int32_t StreamIndex, int32_t TitleSetIndex, std::string& Text);
// The language name of subpicture attribute StreamIndex (1..32) of the title
// set's title (Titles) or menu attribute table; the VMG's menu table for index 0.
std::string SubpicAttributeLanguage(const DiscModel& Disc, int32_t TitleSetIndex, bool Titles, int32_t StreamIndex);
std::string SubpicStreamLanguageText(core::RunContext& Run, const DiscModel& Disc, int32_t TitleSetIndex, const TPGC* Pgc, int32_t SubpicId);
// Mode flags of a decoding id 0x20..0x3F: byte 0 (lowest) mode 4 .. byte 3 mode 1.
uint32_t SubpicModeMask(int32_t SubpicId, const TPGC* Pgc);
// The angle number (1.. inside an angle block, 0 outside) of the first cell of
// EvoId for kind 2; -1 for other kinds, no chain or no such cell.
int32_t CellAngleNumber(uint32_t EvoId, const TPGC* Pgc, int32_t Kind);
// The playback times of the distinct (EVO id, cell id) cells of EvoId over the
// chains of the domain (Kind 1 menus, 2 titles), in the order met.
std::vector<TTimeCode> EvoCellPlaybackTimes(const DiscModel& Disc, int32_t TitleSetIndex, int32_t Kind,
                                            uint32_t EvoId);
// Their sum at the project's frame rate.
TTimeCode EvoPlayingTime(const DiscModel& Disc, int32_t TitleSetIndex, int32_t Kind, uint32_t EvoId);
// Audio index from 0.
void TitleAudioLanguageName(const DiscModel& Disc, int32_t TitleSetIndex, int32_t AudioIndex, std::string& Text);
int32_t TitleNumberOfChain(const DiscModel& Disc, int32_t ChainNumber, int32_t TitleSetIndex);

// ---- texts ----

std::string AudioCodingModeText(int32_t Code);
std::string AudioCodeExtensionText(int32_t Code);
std::string SubpicCodeExtensionText(uint8_t Code);
std::string VideoResolutionText(int32_t TVSystem, int32_t Resolution);
// The attribute block of subpicture stream StreamNumber, as rows of Grid.
void SubpicAttributesReport(platform::GridModel& Grid, const uint8_t* Attr, int32_t StreamNumber);

}  // namespace tess::disc
