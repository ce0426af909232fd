#pragma once
#include <cstdint>

#include "core/timecode.h"

namespace tess::core {

// The two hexadecimal digits of Value read as a decimal number (0x25 gives 25);
// a digit above 9 gives 0.
uint8_t BcdByteToInt(uint8_t Value);
// A 4-byte BCD playback time as stored (hours, minutes, seconds, frames; the two
// top bits of the frames byte are the rate flag and are dropped).
TTimeCode BcdPlaybackTimeToTimecode(const uint8_t* T);

}  // namespace tess::core
