// Highlight files as the track preparation loads them back.
#include <fcntl.h>

#include "disc/highlights.h"
#include "disc/script_model.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  auto& form = fuzz::SharedForm();
  const std::string name = fuzz::ScratchFile("t.hlt2", Data, Size);
  disc::TVideoTrack track;
  disc::LoadTrackRecordFile(form, track, name);
  return 0;
}
