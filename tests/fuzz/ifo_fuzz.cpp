// Information files: identification, both readers and the overview report.
#include <fcntl.h>

#include "disc/ifo_readers.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  auto& form = fuzz::SharedForm();
  const std::string name = fuzz::ScratchFile("hv001i01.IFO", Data, Size);
  disc::DetectIFOKind(form, name);
  disc::TIFOFile& rec = form.IFOFiles[1];
  disc::ZeroIFORecord(rec);
  form.DecodedThisLoad = 0;
  disc::ReadVMGI(form, form, rec, name);
  disc::ZeroIFORecord(rec);
  form.DecodedThisLoad = 0;
  disc::ReadVTSI(form, form, rec, name, form.StringGrid1);
  disc::ZeroIFORecord(rec);
  return 0;
}
