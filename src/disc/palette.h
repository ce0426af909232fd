#pragma once
#include <array>
#include <cstdint>

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscModel;
}

// Chain palettes (Y, Cr, Cb) converted to RGB, pulled onto the exact levels of
// usual subtitle palettes so that near-white, near-black and the grey steps
// come out exact.
namespace tess::disc {

struct TPGC;

// One converted channel value snapped onto the exact levels.
int32_t SnapPaletteChannel(int32_t Value);
// The conversion of one entry, before snapping.
std::array<int32_t, 3> YCrCbToRGBUnsnapped(uint8_t Y, uint8_t Cr, uint8_t Cb);

// 16 (R, G, B) triples, one per palette entry of the chain. An entry whose Y,
// Cr and Cb are all 0 (and every entry without a chain) takes the disc's
// default palette entry instead.
void PaletteYCrCbToRGB(const DiscModel& Disc, const TPGC* Pgc, std::array<uint8_t, 48>& Result);

}  // namespace tess::disc
