// The EVO list of an Advanced Content title information file (".VTI").
#include "demux/chain_driver.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  core::RunContext& run = fuzz::SharedForm();
  const std::string name = fuzz::ScratchFile("hva00001.VTI", Data, Size);
  demux::TEvoFileList list;
  if (demux::LoadEvoFileList(run, list, name))
    for (const auto& e : list)
      if (!e.BadName && e.Name.empty()) __builtin_trap();  // every entry not marked names a file
  return 0;
}
