#include "core/byte_order.h"

#include <algorithm>

namespace tess::core {

void SwapBytes16(void* p) {
  auto* b = static_cast<uint8_t*>(p);
  std::swap(b[0], b[1]);
}

void SwapBytes32(void* p) {
  auto* b = static_cast<uint8_t*>(p);
  std::reverse(b, b + 4);
}

void SwapBytes64(void* p) {
  auto* b = static_cast<uint8_t*>(p);
  std::reverse(b, b + 8);
}

}  // namespace tess::core
