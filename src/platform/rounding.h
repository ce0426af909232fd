#pragma once
#include <cmath>
#include <cstdint>

namespace tess::platform {

// The one rounding rule of the program: to nearest, halves to even (the FPU's
// default mode). Callers that must truncate say so with std::trunc.
inline int64_t RoundEven(double v) { return static_cast<int64_t>(std::nearbyint(v)); }

}  // namespace tess::platform
