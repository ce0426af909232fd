#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/timecode.h"
#include "disc/highlights.h"
#include "disc/registries.h"
#include "disc/string_pool.h"

namespace tess::disc {
struct DiscModel;
struct RunRegistries;
class TDVDNameTree;
}

// The authoring-script model: one TVideoTrack per video track with its audio,
// subpicture and highlight streams, scenes, angle items and stills; the
// lookups, name builders and copies over the run's track table
// (RunRegistries::ScriptTracks, a deque: tracks stay where they are when it grows).
namespace tess::disc {

using core::TTimeCode;

struct TAudioPlayItem {
  std::string FileName;
  TTimeCode Delay;
  uint8_t VideoStandard = 0;
  uint8_t FrameRateFlag = 0;
  TTimeCode Start;
  TTimeCode Duration;
  uint8_t NoDelay = 0;
  uint8_t Merged = 0;
  uint8_t Stub = 0;
};
using TAudioPlayItems = std::vector<TAudioPlayItem>;

struct TAudioStream {
  TAudioPlayItems PlayItems;
  int32_t StreamNumber = 0;  // from 1
  std::string Name;
  uint8_t Kind = 0;          // 1 demultiplexed or placeholder, 0 one-frame stub
  int32_t SlotNumber = 0;
};
using TAudioStreamList = std::vector<TAudioStream>;

constexpr size_t kSubpicSegmentSize = 44;

// One subpicture item placed in a track (44 bytes in a ".track" file).
struct TSubPictureSegment {
  std::string Name;          // 0: the source item's name; 0 in the file
  uint32_t SortKey = 0;      // 4
  uint8_t Byte8 = 0;         // 8
  uint8_t Byte9 = 0;         // 9
  uint32_t Value10 = 0;      // 10
  TTimeCode Duration;        // 14
  uint8_t Byte18 = 0;        // 18
  uint8_t Reserved19 = 0;
  uint32_t Value20 = 2;      // 20
  uint32_t VobId = 0;        // 24
  uint32_t CellId = 0;       // 28
  uint8_t Byte32 = 0;        // 32
  std::array<uint8_t, 3> Reserved33{};
  uint32_t TimeValue = 0;    // 36 (90 kHz)
  uint32_t SourceNumber = 0; // 40
};

std::array<uint8_t, kSubpicSegmentSize> SubpicSegmentToBytes(const TSubPictureSegment& S);
TSubPictureSegment SubpicSegmentFromBytes(const uint8_t* Data);  // 44 bytes; no name

struct TSubPictureStream {
  std::vector<TSubPictureSegment> Segments;  // the segment count is Segments.size()
  int32_t StreamNumber = 0;
  std::string Name;
  uint32_t Value = 0;
  int32_t StreamId = 0;
};
using TSubPictureStreamList = std::vector<TSubPictureStream>;

struct THighlightStream {
  std::vector<THighlightPlayItem> Items;
  uint32_t Value = 0;
};
using THighlightStreamsList = std::vector<THighlightStream>;

struct TStoryScene {
  std::string Name;
};
using TStoryScenesList = std::vector<TStoryScene>;

struct TAngleScene {
  std::string Name;
};
using TAngleScenesList = std::vector<TAngleScene>;

struct TSceneItem {
  std::string Name;
  int32_t PaletteIndex = 0;
  std::string SeamlessText;
  TTimeCode StartTime;
  TStoryScenesList StoryScenes;
  TAngleScenesList AngleScenes;
  uint32_t NavigationValue = 0;
  uint32_t CellId = 0;
  uint32_t VobId = 0;
  uint32_t SeamlessFlag = 0;
};
using TScenesList = std::vector<TSceneItem>;

struct TAnglePlayItem {
  std::array<uint8_t, 24> Data{};
  TAudioStreamList AudioStreams;
  TSubPictureStreamList SubPictureStreams;
  THighlightStreamsList HighlightStreams;
};
using TAnglesPlayItemsList = std::vector<TAnglePlayItem>;

struct TAngleItem {
  TAnglesPlayItemsList PlayItems;
  uint32_t Value = 0;
};
using TAngleItemsList = std::vector<TAngleItem>;

struct TStillEntry {
  std::string Name;          // the still's video registry name
  TTimeCode Start;
  uint8_t VideoStandard = 0;
  uint8_t FrameRateFlag = 0;
  uint32_t Reserved = 0;
  TTimeCode Duration;
  uint32_t CellId = 0;
};
using TStillList = std::vector<TStillEntry>;

struct TVideoTrack {
  uint8_t Kind = 0;
  std::string Name;
  std::string DisplayModeText;     // at most 31 characters
  TAudioStreamList AudioStreams;
  TSubPictureStreamList SubPictureStreams;
  THighlightStreamsList HighlightStreams;
  TScenesList Scenes;
  std::array<uint32_t, 51> VideoData{};  // video and timing data of the track folders
  uint8_t Byte9 = 0;
  int32_t Value9 = 0;
  std::string FileName;
  TTimeCode StartOffset;
  uint8_t VideoStandard = 0;
  uint8_t FrameRateFlag = 0;
  TTimeCode StartTime;
  TTimeCode StillPlaybackTime;     // the cell playback time of a still track
  std::array<uint32_t, 4> MoreWords{};
  uint32_t LaterWord = 0;          // 0 at initialisation
  TAngleItemsList AngleItems;
  TStoryScenesList StoryScenes;
  TStillList Stills;
  uint8_t StillKind = 0;
  uint8_t Domain = 0;              // 1 menus, 2 titles, 3 first play
  int32_t AngleNumber = 0;         // 0 none, 1 first track of a block, 2.. the further angles
  int32_t IFOIndex = 0;
  uint32_t Value = 0;
  uint8_t Byte = 0;
  uint32_t VobId = 0;
};

struct TScriptName {
  std::string Name;
  int32_t Number = 0;
  // The name alone when the number is 0 or less, else name + "_" + number.
  std::string DisplayName() const { return Number <= 0 ? Name : Name + "_" + std::to_string(Number); }
};

struct TPGC;

struct TScriptInfo {
  int32_t IFOIndex = 0;
  int32_t LanguageUnit = 0;
  const TPGC* Pgc = nullptr;
  int32_t PgcNumber = 0;
  uint8_t Domain = 0;  // 1 menus, 2 titles
  int32_t ProgramNumber = 0;
  int32_t CellNumber = 0;
  uint32_t Value = 0;
  int32_t FirstCell = 0;
  int32_t CellCount = 0;
  TScriptName Name;
  uint32_t Value2 = 0;
};

struct TDiscInfo {
  uint32_t Value1 = 0;
  std::string Name;
  uint32_t Value2 = 0;
};

struct TScriptData {
  TDiscInfo DiscInfo;
  uint32_t Value = 0;
};

struct TAngleInfo {
  std::string Name;
  uint32_t Value1 = 0;
  uint32_t Value2 = 0;
};

struct TCellPositionItem {
  uint32_t VobId = 0;
  uint32_t CellId = 0;
};
using TCellPositionArray = std::vector<TCellPositionItem>;

// ---- name builders ----

std::string SeamlessText(bool Seamless);
std::string MenuPgcName(int32_t IFOIndex, int32_t ChainNumber, std::string_view Letters);
std::string TitlePgcName(int32_t IFOIndex, int32_t TitleNumber, int32_t ChainNumber);
std::string VmgPgcNameByIndex(const DiscModel& Disc, int32_t Index);
std::string IntToHexLower(uint64_t Value, int Digits);
// The two letters of a language code with the first upper-cased, or "00" for
// a code that is not in the language table.
std::string LanguageLetters(uint16_t CodeWord);

// ---- track lookups (indexes from 0) ----

TVideoTrack* FindScriptTrackByName(RunRegistries& Reg, std::string_view Name);
int32_t IndexOfScriptTrack(const RunRegistries& Reg, std::string_view Name);
// The first track playing FileName; with Still set, also one of whose still
// entries has that name.
TVideoTrack* FindScriptTrackByFile(RunRegistries& Reg, std::string_view FileName, bool Still);
// The index of the track of the given angle in the angle block of track Index;
// -1 when the block has no track of that angle or Index is out of range.
int32_t FindAngleTrack(const RunRegistries& Reg, int32_t Index, int32_t Angle);
TVideoStreamEntry* FindVideoStreamOfAudioFile(RunRegistries& Reg, std::string_view FileName);
std::vector<THighlightPlayItem*> FindHighlightItems(RunRegistries& Reg, int32_t IFOIndex, uint32_t VobId,
                                                    uint32_t CellId, uint8_t Domain);
// The name (name_tree.h) of the program at which part PttNumber (from 1) of
// title TitleNumber (from 1) of title set IFOIndex starts, by the title set's
// part-of-title table; empty when there is none.
std::string ProgramOfPttName(const DiscModel& Disc, const TDVDNameTree& Names, int32_t IFOIndex, int32_t TitleNumber,
                             int32_t PttNumber);
// 1-based position of the VMG title-table entry of title set IFOIndex and title
// TitleNumber + 1; 0 when none.
int32_t FindTitleNumber(const DiscModel& Disc, int32_t IFOIndex, int32_t TitleNumber);

// ---- registry lookups (first match; an empty name finds nothing) ----

TSubPictureItem* FindSubPictureItemByName(RunRegistries& Reg, std::string_view Name);
// An entry whose name equals Name or begins with it.
TVideoStreamEntry* FindVideoStreamByName(RunRegistries& Reg, std::string_view Name);
// Of an AC-3 and an MPEG audio entry that share the name, the MPEG audio's.
TAudioStreamEntry* FindAudioStreamByName(RunRegistries& Reg, std::string_view Name);

// ---- languages ----

std::string LanguageName(std::string_view Code);
std::string LanguageDisplayName(std::string_view Code, bool Pad);
bool IsLanguageCodeValid(uint16_t CodeWord);  // first character in the low byte
std::string LanguageNameFromWord(uint16_t CodeWord, bool Pad);

// ---- the text pool, by handle ----

uint32_t NewPooledPChar(TStringPool& Pool, uint32_t& Handle, std::string_view Text);
void ReleasePooledPointer(TStringPool& Pool, uint32_t& Handle);
uint32_t ReassignPooledPChar(TStringPool& Pool, uint32_t& Handle, std::string_view Text);

// ---- record operations ----

void InitVideoTrack(TVideoTrack& Track, const TVideoStreamEntry& Entry, std::string_view FileName,
                    TTimeCode StartOffset);
void InitAudioStreamRecord(TAudioStream& Stream, const TAudioStreamEntry& Entry, TTimeCode Delay,
                           int32_t StreamNumber, std::string_view Name);
void AddSeamlessSceneItem(uint32_t VobId, uint32_t CellId, TVideoTrack& Track, const TVideoStreamEntry& Entry,
                          int32_t PaletteIndex);
// Copies every plain field and the audio streams of track From into track To
// (the table grows to hold To); To keeps its other lists. Nothing for a
// negative or unknown From or a negative To.
void CopyScriptTrack(RunRegistries& Reg, int32_t From, int32_t To);
void SortSubpicStreamSegments(TSubPictureStreamList& List);
// False for the titles (Kind 2) of a disc at a rate of 30 whose cell times
// are scaled by 1.001.
bool FrameRateAllows(const DiscModel& Disc, const RegistrySettings& Settings, int32_t Kind);

}  // namespace tess::disc
