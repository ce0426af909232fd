// Packs and packets of a loose EVO file through the whole demultiplexer: the
// scout's map, ProcessPack and DemuxPES, the writers into a scratch folder, the
// navigation-pack handling and the closing of the outputs.
#include "demux/chain_driver.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  static auto* form = [] {
    auto* f = new fuzz::DemuxForm;
    f->LooseEvo = 1;
    f->Settings.Output.Folder = fuzz::ScratchFolder() + "/out/";
    f->VTSListForm.ApplyOK({});
    return f;
  }();
  form->Abort = 0;
  // Each input is a run of its own: its outputs start afresh.
  form->StartedOutputs.clear();
  form->Skipped.clear();
  // Both memory settings, by the input's size: large output buffers, or small
  // ones with the title subpictures appended by name.
  const core::MemoryMode memory = Size % 2 ? core::MemoryMode::ComplexDisc : core::MemoryMode::Ordinary;
  form->Settings.Output.Memory = form->Settings.Demux.Memory = memory;
  demux::TEvoFileList list{{fuzz::ScratchFile("feature.evo", Data, Size), 0}};
  demux::DemuxEvoFileList(form->Env(), form->Settings.Demux, list);
  fuzz::ForgetRun(*form);
  return 0;
}
