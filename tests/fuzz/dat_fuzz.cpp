// Subpicture index records (".dat"): every record decodes, and encodes back to
// the bytes it came from (less the one byte the layout keeps zero).
#include <cstring>

#include "fuzz_support.h"
#include "subpic/services.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  constexpr size_t kZeroByte = 23;
  for (size_t at = 0; at + subpic::kSupIndexRecordSize <= Size; at += subpic::kSupIndexRecordSize) {
    uint8_t in[subpic::kSupIndexRecordSize], out[subpic::kSupIndexRecordSize];
    std::memcpy(in, Data + at, sizeof in);
    in[kZeroByte] = 0;
    subpic::EncodeSupIndexRecord(subpic::DecodeSupIndexRecord(in), out);
    if (std::memcmp(in, out, sizeof in) != 0) __builtin_trap();
  }
  return 0;
}
