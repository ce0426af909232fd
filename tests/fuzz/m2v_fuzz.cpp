// MPEG-1/2 video: the header walk with the full index and the caption user
// data, and the ".vnf" cache read back from the same bytes.
#include "fuzz_support.h"
#include "streams/m2v_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  auto& form = fuzz::SharedForm();
  const std::string name = fuzz::ScratchFile("t.m2v", Data, Size);
  // A file that cannot be read (an empty one) is refused by the constructor.
  if (Size == 0) return 0;
  {
    streams::TM2VStream s(form, name);
    s.PlainMode = false;
    s.CacheMode = false;
    s.LogCaptions = true;
    s.Scan(true, true);
    s.Duration();
  }
  streams::TM2VStream c(form, name);
  c.LoadIndexFromCache(name, false);
  return 0;
}
