// MLP and TrueHD major sync blocks.
#include "fuzz_support.h"
#include "streams/mlp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  streams::TMLPstream m("");
  m.ScanMajorSyncs({Data, Size});
  streams::TMLPstream file(fuzz::ScratchFile("t.mlp", Data, Size));
  return 0;
}
