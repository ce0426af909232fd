#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/timecode.h"

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscModel;
struct RunRegistries;
}

// The stream registries: one entry per elementary-stream file that the
// demultiplexer writes. The tables live in the run's registries (VideoStreams,
// AudioStreams, SubPictureItems, all std::deque so that the entries handed out
// by a registration stay where they are while the tables grow); the writers
// complete an entry after registering it.
namespace tess::disc {

using core::TTimeCode;
struct TPGC;

// ---- what the writers hand to a registration ----

// The video writer's description of a new video output.
struct TVideoStreamDescription {
  uint16_t VideoAttr = 0;  // the domain's video attribute word, first stored byte in the low 8 bits
  uint8_t FlagByte = 0;    // the entry's frame-rate flag is 1 when this is 0
  TTimeCode StartTime;     // 0 from the video writer
  TTimeCode EndTime;       // the cell's playback time
  uint8_t AspectCode = 0;  // from the sequence header: 1 square, 2 4:3, 3 16:9
  uint32_t BitRate = 0;    // copied into the entry as it stands
  uint32_t VobId = 0;
  uint32_t CellId = 0;     // the writer passes cell id - 1 while the context names by cell
};

// The audio writer's description of a new audio output.
struct TAudioStreamDescription {
  uint16_t VideoAttr = 0;                 // the domain's video attribute word
  std::array<uint8_t, 8> AudioAttr{};     // the stream's audio attribute entry as stored
  TTimeCode StartTime;                    // 0
  TTimeCode EndTime;                      // cell playback time less the cell time at the first packet
  // LPCM only.
  uint32_t SampleRate = 0;                // in Hz (48000, 96000)
  uint32_t SampleSize = 0;                // bits per sample
  std::array<uint8_t, 2> LpcmBytes{};
  std::array<uint32_t, 2> LpcmValues{};
  uint32_t VobId = 0;
  uint32_t CellId = 0;
};

// The subpicture writer's unit descriptor, as far as the registration reads it.
struct TSubpicUnitDescription {
  uint16_t VideoAttr = 0;      // the domain's video attribute word
  uint32_t VobId = 0;          // item offset 180
  uint32_t CellId = 0;         // item offset 184
  uint32_t TimeValue = 0;      // item offset 188: the unit's time stamp (90 kHz, low 32 bits)
  uint32_t SourceNumber = 0;   // item offset 200
  uint32_t StreamNumber = 0;    // item offset 204
  uint8_t Kind = 0;            // item offset 208: the writer's domain kind
  uint8_t ExtraByte = 0;       // item offset 209
};

// What a registration needs of the writer's current PGC-list entry.
struct TStreamContext {
  uint8_t PgcKind = 0;         // 0 first play, 1 menu, 2 title, 3 first-play lookup
  const TPGC* Pgc = nullptr;   // the chain being played, when the writer has one
};

// ---- entries ----

struct TVideoStreamEntry {
  std::array<uint8_t, 2> Status{};
  std::string Name;              // file name without folder and extension
  uint8_t TVSystem = 0;          // 0 NTSC, 1 PAL
  uint8_t FrameRateFlag = 0;
  TTimeCode StartTime;
  TTimeCode EndTime;
  std::string Path;
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t Enabled = 0;           // 1 at registration
  std::string CodingText;        // "MPEG 1" / "MPEG 2"
  uint8_t ResolutionCode = 0;
  std::string AspectText;
  std::string FrameStructureText;  // "Frame Structure"
  std::string GopText;             // "15 frames"
  std::string NotApplicableText;   // "N/A"
  uint32_t BitRate = 0;            // copied from the description
  uint32_t MaxBitRate = 0;
  uint32_t AvgBitRate = 0;
  std::array<uint8_t, 4> Reserved{};
  uint8_t Line21Field1 = 0;
  std::string Line21Field1Text;
  uint8_t Line21Field2 = 0;
  std::string Line21Field2Text;
  uint8_t StillMark = 0;         // set by the track preparation; the video checks read it as the still flag
  // Subpicture display modes of the chain played when the file was opened.
  int32_t DisplayModeCode = 0;
  // Per subpicture id 0x20..0x3F: byte 0 pan-scan, 1 letterbox, 2 wide, 3 the 4:3 (mode 1) flag.
  std::array<std::array<uint8_t, 4>, 32> SubpicModes{};
  std::array<std::string, 32> SubpicTexts;
  int32_t MaxListedSubpicId = 0;
  int32_t DisplayClass = 0;
  uint8_t StillKind = 0;         // completed by the writer: 1 still cell, 2 infinite still
  int32_t DomainIndex = 0;
  int32_t DomainNumber = 0;
  double FirstTimeStampMs = 0;   // completed by the writer
  uint32_t VobId = 0;
  uint32_t CellId = 0;
  int32_t AngleNumber = 0;       // completed by the writer
  std::vector<int32_t> Extra;    // empty at registration
};

struct TAudioStreamEntry {
  std::array<uint8_t, 2> Status{};
  std::string Name;              // file name without folder and extension
  uint8_t VideoStandard = 0;     // IsPalStandard of the decoded TV system
  uint8_t FrameRateFlag = 0;
  TTimeCode StartTime;
  TTimeCode EndTime;
  std::string Path;              // a ".pcm" output is registered under its ".wav" name
  uint8_t FormatIndex = 0;       // AC-3 0, MPEG-1 1, LPCM 2, DTS 3, other 4
  uint32_t BitRate = 0;
  uint8_t Channels = 0;
  uint8_t Reserved1 = 0;
  uint32_t Reserved2 = 0;
  uint32_t SampleRate = 0;       // LPCM only, from the description
  uint32_t SampleSize = 0;
  std::array<uint8_t, 2> LpcmBytes{};
  std::array<uint32_t, 2> LpcmValues{};
  TTimeCode DelayTimeCode;
  int32_t DomainIndex = 0;
  int32_t DomainNumber = 0;
  double StartTimeMs = 0;        // completed by the writer
  double FirstTimeStampMs = 0;   // completed by the writer
  double AudioDelayMs = 0;       // completed by the writer
  uint8_t NoDelay = 0;
  uint32_t VobId = 0;
  uint32_t CellId = 0;
  uint8_t Merged = 0;
};

// The effect lists of a subpicture item (filled by the subpicture conversion).
struct TFadeEntry {
  int32_t Start = 0;
  int32_t Duration = 0;
  int32_t Value = 0;
};
struct TScrollEntry {
  int32_t Start = 0;
  int32_t Duration = 0;
  int32_t Type = 0;  // 1..4
  int32_t Coordinate = 0;
};
using TFadeList = std::vector<TFadeEntry>;
using TScrollList = std::vector<TScrollEntry>;

// The display-control part of a subpicture item (item offsets 68..167).
struct T_DCS_Stream {
  std::array<uint8_t, 8> Reserved68{};
  uint8_t VideoByte76 = 0;
  uint8_t VideoByte77 = 0;
  std::array<uint8_t, 7> Reserved78{};
  uint8_t Byte85 = 0;
  uint8_t PictureCount = 0;           // 86
  std::array<int32_t, 10> Area{};     // 87, 91, ..., 123
  uint8_t Byte127 = 0;
  std::array<uint32_t, 4> Colours{};  // 128..143
  std::array<uint32_t, 4> Contrasts{};  // 144..159, in percent
  std::shared_ptr<TFadeList> Fades;     // 160 (an address: 0 in the file)
  std::shared_ptr<TScrollList> Scrolls; // 164
};

constexpr size_t kSubPictureItemSize = 232;

// One subpicture output. Its byte image (ToBytes) is the record of the track
// folders' ".data" files; text and list addresses are written as 0.
struct TSubPictureItem {
  std::array<uint8_t, 2> Status{};
  uint16_t Reserved2 = 0;
  std::string Name;                   // 4: file name without folder and extension
  uint8_t VideoByte8 = 0;             // 8: TV system of the decoded video attributes
  uint8_t VideoByte9 = 0;             // 9: aspect ratio of the decoded video attributes
  std::array<uint8_t, 10> Reserved10{};
  std::string Path;                   // 20: full path
  int32_t Width = 0;                  // 24
  int32_t Height = 0;                 // 28
  uint8_t Byte32 = 0;
  int32_t Width2 = 0;                 // 33
  int32_t Height2 = 0;                // 37
  std::array<uint8_t, 24> AttrBlock{};  // 41
  std::array<uint8_t, 3> Reserved65{};
  T_DCS_Stream Dcs;                   // 68..167
  uint8_t VideoByte168 = 0;           // 168: resolution of the decoded video attributes
  uint8_t Byte169 = 0;
  uint8_t Byte170 = 0;
  uint32_t SortKey = 0;               // 171 (later)
  TTimeCode Duration;                 // 175 (later)
  uint8_t Byte179 = 0;
  uint32_t VobId = 0;                 // 180
  uint32_t CellId = 0;                // 184
  uint32_t TimeValue = 0;             // 188
  double DelayMs = 0;                 // 192..199: the writer's subpicture delay
  uint32_t SourceNumber = 0;          // 200
  uint32_t StreamNumber = 0;           // 204: the subpicture stream's number, 1 for 0x20
  uint8_t Kind = 0;                   // 208
  uint8_t ExtraByte = 0;              // 209
  uint16_t Reserved210 = 0;
  int32_t DomainIndex = 0;            // 212
  uint32_t DomainNumber = 0;          // 216: the writer's domain number
  uint32_t NavPackCount = 0;          // 220: navigation packs the writer had counted
  uint32_t DurationMs = 0;            // 224 (later)
  uint32_t Reserved228 = 0;
};

std::array<uint8_t, kSubPictureItemSize> SubPictureItemToBytes(const TSubPictureItem& Item);
// Reads an item image; the text and list addresses are not kept (empty texts,
// no lists). False when Size is below 232.
bool SubPictureItemFromBytes(const uint8_t* Data, size_t Size, TSubPictureItem& Item);

// ---- registrations ----

// What the registrations take of the settings.
struct RegistrySettings {
  // "TimeScale1001": the title cell times of a disc at a rate of 30 are scaled
  // by 1.001, which turns the frame-rate flags of title entries.
  bool TimeScale1001 = false;
  // "TitleMakeSup": title subpicture units are kept in indexed ".sup" files,
  // so a title's subpicture registration fills the spare item only.
  bool TitleMakeSup = true;
  bool operator==(const RegistrySettings&) const = default;
};

// Picture size given by a writer; 0 x 0 when it has none.
struct TPictureSize {
  int32_t Width = 0;
  int32_t Height = 0;
};

// Registers a video output. Null when the file does not exist.
TVideoStreamEntry* RegisterVideoStream(core::RunContext& Run, const DiscModel& Disc, RunRegistries& Reg,
                                       const RegistrySettings& Settings, const std::string& FileName,
                                       const TVideoStreamDescription& Desc, const TStreamContext& Context,
                                       int32_t DomainIndex, int32_t DomainNumber, TPictureSize Picture);

// Registers an audio output. Null when the file does not exist.
TAudioStreamEntry* AddAudioStream(const DiscModel& Disc, RunRegistries& Reg, const RegistrySettings& Settings,
                                  const std::string& FileName, const TAudioStreamDescription& Desc,
                                  int32_t DomainKind, TTimeCode Delay, int32_t DomainIndex, int32_t DomainNumber);

// Registers a subpicture output, or fills the run's spare item (Spare set, or
// a title item while TitleMakeSup is on; the table is then left as it was).
TSubPictureItem* AddSubPictureItem(const DiscModel& Disc, RunRegistries& Reg, const RegistrySettings& Settings,
                                   const std::string& FileName, const TSubpicUnitDescription& Desc, int32_t Kind,
                                   double SubpictureDelayMs, int32_t DomainIndex, uint32_t DomainNumber,
                                   uint32_t NavPackCount, bool Spare);

}  // namespace tess::disc
