#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "disc/registries.h"

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscState;
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

// What DecodeSupFile learned about a ".sup" file. The caller starts it empty.
struct TCutSupFromFileResult {
  uint32_t DurationMs = 0;
  uint32_t PictureCount = 0;  // its low byte is what the results use
  TFadeList Fades;
  TScrollList Scrolls;
};

struct TPictureSize {
  int32_t Width = 0;
  int32_t Height = 0;
};

// Decodes every display unit of SupFileName and, unless NoPictures is set,
// renders the units into pictures named after BmpName (a stem ending in "bmp")
// beside the ".sup" file. Fills Info and the project state's current colour and
// contrast bytes. A missing or empty file decodes nothing and leaves Info empty.
void DecodeSupFile(disc::DiscState& Disc, const std::string& SupFileName, const std::string& BmpName,
                   TPictureSize& PictureSize, TCutSupFromFileResult& Info, bool NoPictures);

}  // namespace tess::subpic
