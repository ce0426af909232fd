#pragma once
#include <array>
#include <cstdint>
#include <vector>

// Subpicture units as the demultiplexer writes them into a ".sup" output, one
// after another: the unit header, the run-length coded picture and the table of
// display-control sequences. These are the parsers of one unit's pieces; they
// read only inside the bytes they are given and say whether what they read is
// whole. Walking a file and drawing pictures is the decoder's business.
namespace tess::subpic {

// SD units (DVD style) keep 16-bit sizes and offsets, 2-bit pixels coded in
// nibbles. HD units start with a zero identifier and keep 32-bit sizes and
// offsets, 2- or 8-bit pixels coded in bits, and a 256-entry palette of their own.
enum class TSpuKind : uint8_t { SD, HD };

inline constexpr uint32_t kSdUnitHeaderSize = 4;   // size, control table offset
inline constexpr uint32_t kHdUnitHeaderSize = 10;  // identifier 0, size, control table offset

// The largest picture areas the two kinds can show.
inline constexpr int32_t kSdMaxWidth = 720, kSdMaxHeight = 576;
inline constexpr int32_t kHdMaxWidth = 1920, kHdMaxHeight = 1080;

// A unit's delays count 1024 ticks of the 90 kHz clock.
inline constexpr uint32_t kDelayTicks = 1024;

struct TSpuHeader {
  TSpuKind Kind = TSpuKind::SD;
  uint32_t Size = 0;           // the whole unit, header included
  uint32_t ControlOffset = 0;  // first display-control sequence, from the unit's start

  // Reads the header at Data, of which Available bytes are left in the file.
  // False when fewer bytes are left than a header takes.
  bool Decode(const uint8_t* Data, uint64_t Available);
  uint32_t HeaderSize() const { return Kind == TSpuKind::HD ? kHdUnitHeaderSize : kSdUnitHeaderSize; }
  // The unit holds at least its header and ends inside the file.
  bool SizeFits(uint64_t Available) const { return Size >= HeaderSize() && Size <= Available; }
  // The control table starts after the header with room for a sequence header.
  bool ControlInside() const;
};

// Where a picture lies on the screen, inclusive.
struct TSpuArea {
  int32_t X1 = 0, X2 = 0, Y1 = 0, Y2 = 0;
  int32_t Width() const { return X2 - X1 + 1; }
  int32_t Height() const { return Y2 - Y1 + 1; }
  bool operator==(const TSpuArea&) const = default;
};

// Four nibbles per pixel code: index 0 background, 1 pattern, 2 and 3 the two
// emphasis codes (the unit stores them in the opposite order).
using TCodeNibbles = std::array<uint8_t, 4>;

// One change point of a colour-and-contrast change: from Column to the next
// point (or the line's end) the codes take these colours and contrasts.
struct TPixelChange {
  int32_t Column = 0;
  TCodeNibbles Colours{};
  TCodeNibbles Contrasts{};
  bool operator==(const TPixelChange&) const = default;
};
// The change points that hold on the screen lines FirstLine..LastLine.
struct TLineChange {
  int32_t FirstLine = 0, LastLine = 0;
  std::vector<TPixelChange> Points;
  bool operator==(const TLineChange&) const = default;
};

enum class TControlFault : uint8_t {
  None,
  Truncated,       // a command's parameters run past the unit
  UnknownCommand,  // a command of unknown length: the rest of the sequence is skipped
};

// One display-control sequence with its commands applied in their order.
struct TDisplayControl {
  uint32_t Delay = 0;    // in units of kDelayTicks from the unit's time stamp
  uint32_t Next = 0;     // offset of the next sequence; its own offset for the last
  bool Start = false;    // 0x00 or 0x01
  bool Forced = false;   // started by 0x00
  bool Stop = false;     // 0x02
  bool DisplayOn = false;  // the state the last start or stop leaves (when either is there)
  bool HasColours = false, HasContrasts = false, HasArea = false, HasFields = false, HasLineChanges = false;
  TCodeNibbles Colours{};
  TCodeNibbles Contrasts{};
  TSpuArea Area;
  uint32_t TopField = 0, BottomField = 0;  // offsets of the two fields' picture data in the unit
  std::vector<TLineChange> LineChanges;
  const uint8_t* HdPalette = nullptr;  // 256 x (Y, Cr, Cb)
  const uint8_t* HdAlpha = nullptr;    // 256 x 4 bits, the first entry in the high nibble
  TControlFault Fault = TControlFault::None;
  uint8_t FaultCommand = 0;
  uint32_t End = 0;  // the offset in the unit where reading the sequence stopped
};

inline constexpr uint32_t kHdPaletteBytes = 256 * 3;
inline constexpr uint32_t kHdAlphaBytes = 256 / 2;

// Decodes the sequence at Offset of the unit Unit (Size bytes). False when not
// even its header fits; otherwise Out holds what was read up to the end code or
// the first fault.
bool DecodeDisplayControl(const uint8_t* Unit, uint32_t Size, TSpuKind Kind, uint32_t Offset, TDisplayControl& Out);

enum class TRleResult : uint8_t {
  Whole,
  Clipped,    // some runs ran past their line's end and were cut there
  OutOfData,  // the data ended before the last line: the lines left stay code 0
};

// Decodes the two interlaced fields of a picture of Width x Height pixels into
// Pixels (row after row): even lines from TopField, odd ones from BottomField,
// each field read from its offset up to the unit's end. SD pixels are the codes
// 0..3; HD pixels are palette indexes. Nothing is written outside Pixels.
TRleResult DecodeSdPicture(const uint8_t* Unit, uint32_t Size, uint32_t TopField, uint32_t BottomField,
                           int32_t Width, int32_t Height, uint8_t* Pixels);
TRleResult DecodeHdPicture(const uint8_t* Unit, uint32_t Size, uint32_t TopField, uint32_t BottomField,
                           int32_t Width, int32_t Height, uint8_t* Pixels);

}  // namespace tess::subpic
