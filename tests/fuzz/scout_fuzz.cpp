// Navigation packs and the scout's scans, full and quick, over one EVO file.
#include <fcntl.h>

#include "disc/vob_scout.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  if (Size >= 2048) {
    disc::TNavPackInfo nav;
    disc::ReadNavigationPack(Data, nav);
  }
  auto& form = fuzz::SharedForm();
  form.LooseEvo = 1;  // a loose file; nothing in its folder continues its chain
  const std::string name = fuzz::ScratchFile("hv001t01.evo", Data, Size);
  for (const uint8_t full : {uint8_t{0}, uint8_t{1}}) {
    form.Scan.FullScan = full != 0;
    auto scout = disc::TVobScaut::Create(name);
    scout->Scan(form, form, form.Scan, form.StatusProgress);
  }
  return 0;
}
