// VC-1 elementary streams: the sequence header and the frame count.
#include "fuzz_support.h"
#include "streams/vc1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  auto& form = fuzz::SharedForm();
  streams::TVC1Stream s(form, fuzz::ScratchFile("t.vc1", Data, Size), &form.Abort, &form.ProgressBar1);
  s.Analyze();
  return 0;
}
