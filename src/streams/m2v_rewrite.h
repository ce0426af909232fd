#pragma once
#include <array>
#include <cstdint>
#include <string>

// What a rewriting walk of an MPEG video stream writes into its headers. The
// analyser fills these from the first headers of a measuring scan
// (TM2VStream::FillVideoSummary); callers edit them and set the apply bytes of
// the headers they want changed.
namespace tess::streams {

struct TSeqHeaderSettings {
  uint32_t HorizontalSize = 0;
  uint32_t VerticalSize = 0;
  uint32_t AspectCode = 0;
  uint32_t FrameRateCode = 0;
  uint32_t BitRateValue = 0;
  uint8_t Apply = 0;
  uint8_t Valid = 0;
};

struct TDisplayExtSettings {
  uint8_t Insert = 0;  // 1 inserts (or patches) a display extension, 0 removes every one
  uint32_t VideoFormat = 0;
  uint32_t DisplayHorizontalSize = 0;
  uint32_t DisplayVerticalSize = 0;
  uint8_t ColourDescription = 0;
  uint8_t ColourPrimaries = 0;
  uint8_t TransferCharacteristics = 0;
  uint8_t MatrixCoefficients = 0;
  uint8_t Apply = 0;
  uint8_t Valid = 0;
};

struct TSeqExtSettings {
  uint8_t ProgressiveSequence = 0;
  uint32_t ChromaFormat = 0;
  uint8_t Apply = 0;
  uint8_t Valid = 0;
};

struct TPicExtSettings {
  uint8_t TopFieldFirst = 0;
  uint8_t AlternateScan = 0;  // kept for the record; the scan order of coded pictures is never rewritten
  uint8_t RepeatFirstField = 0;
  uint8_t Chroma420Type = 0;
  uint8_t ProgressiveFrame = 0;
  uint8_t ForI = 0;  // which picture types get the flags
  uint8_t ForB = 0;
  uint8_t ForP = 0;
  uint8_t Apply = 0;
  uint8_t Valid = 0;
};

struct TGopSettings {
  uint8_t DropFrameFlag = 0;
  uint8_t ClosedGop = 0;
  uint8_t BrokenLink = 0;
  uint32_t Pictures = 0;  // the start time code
  uint32_t Seconds = 0;
  uint32_t Minutes = 0;
  uint32_t Hours = 0;
  uint8_t Apply = 0;
  uint8_t Valid = 0;
};

// The sequence display extension that a copy inserts before GOP headers: 0xB5,
// the identifier/format/colour byte, the three colour bytes when
// colour_description is 1, the four display-size bytes, then 00 00 01 (the
// prefix of the GOP start code it goes in front of). 12 or 9 bytes.
struct TPreparedDisplayExt {
  uint8_t Length = 9;
  std::array<uint8_t, 12> Bytes{};
};
TPreparedDisplayExt PrepareDisplayExtension(const TDisplayExtSettings& Display);

// The four display-size bytes: width in 14 bits, a marker bit, height in 14
// bits and three zero bits.
std::array<uint8_t, 4> PackDisplaySize(uint32_t Width, uint32_t Height);

// Ends the file with a sequence end code (00 00 01 B7) when it does not end
// with one. A last start-code prefix cut after its 00 00 01 loses its 01, so it
// cannot join the appended code. False when the file ended with a sequence end
// already or could not be opened or written.
bool AppendM2VSequenceEnd(const std::string& FileName);

}  // namespace tess::streams
