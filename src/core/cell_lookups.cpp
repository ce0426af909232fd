#include "core/cell_lookups.h"

namespace tess::core {

uint8_t BcdByteToInt(uint8_t Value) {
  const uint8_t hi = Value >> 4, lo = Value & 0x0F;
  if (hi > 9 || lo > 9) return 0;
  return static_cast<uint8_t>(hi * 10 + lo);
}

TTimeCode BcdPlaybackTimeToTimecode(const uint8_t* T) {
  return {BcdByteToInt(T[0]), BcdByteToInt(T[1]), BcdByteToInt(T[2]), BcdByteToInt(T[3] & 0x3F)};
}

}  // namespace tess::core
