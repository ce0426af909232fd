#include "disc/palette.h"

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "platform/rounding.h"

namespace tess::disc {

int32_t SnapPaletteChannel(int32_t v) {
  if (v > 255) return 255;
  if (v < 0) return 0;
  if (v >= 252) return 255;
  if (v >= 190 && v <= 194) return 192;
  if (v >= 126 && v <= 130) return 128;
  if (v >= 62 && v <= 66) return 64;
  if (v > 1) return v;
  return 0;
}

std::array<int32_t, 3> YCrCbToRGBUnsnapped(uint8_t Y, uint8_t Cr, uint8_t Cb) {
  // The products and sums are integers; the scaling is done in extended
  // precision and rounded to nearest, halves to even. The divisor is 32,631
  // (not 32,640): it makes Y = 235 land just above 255.
  const int32_t y = 149 * Y - 2384;
  const int32_t cr = Cr - 128;
  const int32_t cb = Cb - 128;
  auto scale = [](int32_t v) {
    const long double d = static_cast<long double>(v) * 255.0L / 32631.0L + 0.53L;
    return static_cast<int32_t>(platform::RoundEven(static_cast<double>(d)));
  };
  return {scale(y + 204 * cr), scale(y - 104 * cr - 50 * cb), scale(y + 258 * cb)};
}

void PaletteYCrCbToRGB(const DiscModel& Disc, const TPGC* Pgc, std::array<uint8_t, 48>& Result) {
  for (size_t i = 0; i < 16; ++i) {
    const TPaletteEntry e = Pgc ? Pgc->Palette[i] : TPaletteEntry{};
    std::array<int32_t, 3> rgb;
    if (e.Y == 0 && e.Cr == 0 && e.Cb == 0)
      rgb = {Disc.DefaultPalette[i][0], Disc.DefaultPalette[i][1], Disc.DefaultPalette[i][2]};
    else
      rgb = YCrCbToRGBUnsnapped(e.Y, e.Cr, e.Cb);
    for (size_t c = 0; c < 3; ++c) Result[i * 3 + c] = static_cast<uint8_t>(SnapPaletteChannel(rgb[c]));
  }
}

}  // namespace tess::disc
