// AC-3 and E-AC-3 files: the frame header, the first-frame readers, the E-AC-3
// bit-stream information, frame counting, cutting and the trim to the first sync.
#include "fuzz_support.h"
#include "streams/ac3.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  auto& form = fuzz::SharedForm();
  streams::TAc3FrameHeader h;
  h.Decode({Data, Size});
  const std::string name = fuzz::ScratchFile("t.ac3", Data, Size);
  streams::Ac3ReadFrameSize(name);
  streams::Ac3ReadLfeOn(name);
  streams::Ac3CountFrames(form, name, true);
  streams::Ac3CountFrames(form, name, false);
  if (streams::IsEC3File(name)) {
    streams::TEC3Stream e(name);
    if (e.Open()) e.Describe();
  }
  streams::Ac3CutByFrames(form, name, fuzz::ScratchFolder() + "/cut.ac3", 1, 0, {}, 2);
  streams::Ac3TrimToFirstSync(form, name);
  return 0;
}
