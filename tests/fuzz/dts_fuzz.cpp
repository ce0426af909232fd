// DTS files: the core header, the readers of the first frame, frame counting
// and cutting.
#include "fuzz_support.h"
#include "streams/dts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  auto& form = fuzz::SharedForm();
  streams::TDtsCoreHeader h;
  h.Decode({Data, Size});
  h.IsPlausible();
  const std::string name = fuzz::ScratchFile("t.dts", Data, Size);
  streams::DtsHeader header;
  streams::DtsReadHeader(name, true, header);
  streams::DtsInfo info;
  streams::DtsReadInfo(name, info);
  streams::DtsCountFrames(form, name);
  streams::DtsCutByFrames(form, name, fuzz::ScratchFolder() + "/cut.dts", 1, 0, {}, 2);
  return 0;
}
