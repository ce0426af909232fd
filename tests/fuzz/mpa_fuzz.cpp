// MPEG audio files: frame headers, the ID3 tag, Xing and Info frames, the frame
// walk and the cut by samples.
#include "fuzz_support.h"
#include "streams/mpa.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  auto& form = fuzz::SharedForm();
  if (Size >= 4) {
    streams::TMPAFrame f;
    if (f.ParseHeader(Data)) f.PayloadLength();
  }
  const std::string name = fuzz::ScratchFile("t.mpa", Data, Size);
  streams::MpaFileInfoRecord info;
  streams::MpaFileInfo(form, name, false, info);
  streams::MpaFileInfo(form, name, true, info);
  streams::MpaCutBySamples(form, name, fuzz::ScratchFolder() + "/cut.mpa", 1152, 0, {}, 2304);
  return 0;
}
