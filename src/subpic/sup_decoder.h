#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disc/registries.h"
#include "subpic/picture_files.h"

namespace tess::core {
struct RunContext;
}

// The decoding of a finished ".sup" output into pictures, and what it reports
// back to the subpicture results.
namespace tess::subpic {

// The fade and scroll lists are the subpicture item's own (disc::TFadeList,
// disc::TScrollList): the results copy them into the item unchanged.
using disc::TFadeEntry;
using disc::TFadeList;
using disc::TScrollEntry;
using disc::TScrollList;
using disc::TPictureSize;

// The colour and contrast codes (0..15) of an SD picture, per pixel code: index
// 0 background, 1 pattern, 2 and 3 the two emphasis codes.
struct TPictureColours {
  std::array<uint8_t, 4> Colours{};
  std::array<uint8_t, 4> Contrasts{};
};

// A contrast code (0..15) in percent.
uint32_t ContrastPercent(uint8_t Contrast);

// What DecodeSupFile learned about a ".sup" file. The caller starts it empty.
//  - DurationMs: how long the file's units show, each from its time stamp to its
//    stop command (0 for a unit that never stops), added up over the units.
//  - PictureCount: the pictures drawn: one each time a unit's display is switched
//    on, and one more each time a shown unit moves to a new area or bitmap.
//  - Fades: runs of two or more successive contrast changes in one direction while
//    a picture shows: Start (ms from the file's start), Duration (ms), Value (the
//    strongest contrast reached, in percent).
//  - Scrolls: runs of two or more successive moves of the colour-and-contrast
//    change regions: Start, Duration, Type (1 down, 2 up: lines; 3 right, 4 left:
//    columns) and Coordinate (the line or column reached).
//  - CurrentColours: those of the last SD picture drawn; nothing when the file
//    drew none, so that its item keeps the colours it has.
struct TCutSupFromFileResult {
  uint32_t DurationMs = 0;
  uint32_t PictureCount = 0;  // its low byte is what the results use
  TFadeList Fades;
  TScrollList Scrolls;
  std::optional<TPictureColours> CurrentColours;
};

// The palette SD pictures are drawn with: 16 (R, G, B) triples, as
// disc::PaletteYCrCbToRGB gives them for the unit's program chain.
using TSubpicturePalette = std::array<uint8_t, 48>;

// What the decoder takes of the settings.
struct SubpicSettings {
  TPictureFormat PictureFormat = TPictureFormat::Bmp;  // "SUPImageFormat": 0 BMP, 1 PNG
  bool operator==(const SubpicSettings&) const = default;
};

// What the stream finisher gets back for a closed ".sup" output.
struct TSupOutputResult {
  TCutSupFromFileResult Info;
  // Every unit and every picture was taken: nothing was skipped, cut short or
  // failed to write. Only then may the ".sup" file be deleted.
  bool Whole = false;
};

// Decodes every display unit of SupFileName and, unless NoPictures is set, draws
// each picture into a file named after BmpName (a stem ending in "bmp") beside
// the ".sup" file: the first picture takes the stem itself, later ones the stem
// less its last dot with "_002", "_003", ... added; the extension follows the
// settings' picture format ("bmp" or "png"). Pictures cover the whole PictureSize,
// with the subpicture at its place and everything else index 0 (transparent
// black); a size of 0 (or one larger than the unit kind allows) becomes the
// screen of the units' kind (720 x 480, 720 x 576 when a picture reaches below
// line 480, 1920 x 1080 for HD) and is handed back.
// Fills Info. A missing or empty file decodes nothing and leaves Info empty.
// Faults are logged and the rest of the file goes on where it can.
void DecodeSupFile(core::RunContext& Run, const SubpicSettings& Settings, const std::string& SupFileName,
                   const std::string& BmpName, TPictureSize& PictureSize, TCutSupFromFileResult& Info, bool NoPictures,
                   const TSubpicturePalette& Palette);

// The same for the stream finisher: decodes a closed ".sup" output into its
// pictures and says whether the file was taken in whole. A missing file is not.
TSupOutputResult DecodeSupOutput(core::RunContext& Run, const SubpicSettings& Settings, const std::string& SupFileName,
                                 const std::string& BmpName, TPictureSize& PictureSize,
                                 const TSubpicturePalette& Palette);

// The name of picture Number (1-based) of a file whose pictures are named after
// BmpName, with the extension Extension.
std::string SubpicturePictureName(const std::string& BmpName, uint32_t Number, const std::string& Extension);

}  // namespace tess::subpic
