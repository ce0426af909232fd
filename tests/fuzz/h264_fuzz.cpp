// H.264 elementary streams: the sequence parameter set and the picture count.
#include "fuzz_support.h"
#include "streams/h264.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  auto& form = fuzz::SharedForm();
  streams::TM4VStream s(form, fuzz::ScratchFile("t.264", Data, Size), &form.Abort, &form.ProgressBar1);
  s.Scan();
  return 0;
}
