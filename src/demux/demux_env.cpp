#include "demux/demux_env.h"

#include "disc/disc_model.h"

namespace tess::demux {

TAudioCellMarks::TAudioCellMarks(disc::DiscModel& Disc) : disc_(&Disc) {}

disc::TAudioCellEntry* TAudioCellMarks::FirstBlockEntry(int32_t IFOIndex, uint32_t Vob) const {
  if (IFOIndex < 0 || IFOIndex >= disc_->TitleSetCount || static_cast<size_t>(IFOIndex) >= disc_->IFOFiles.size())
    return nullptr;
  disc::TAudioCellBlock& block = disc_->IFOFiles[static_cast<size_t>(IFOIndex)].AudioCellTable[0];
  if (Vob < 1 || Vob > block.size()) return nullptr;
  return &block[Vob - 1];
}

TDemuxEnv MakeDemuxEnv(core::RunContext& Run, disc::DiscModel& Disc, disc::RunRegistries& Reg, state::RunState& State,
                       const state::RunSettings& Settings) {
  const TAudioCellMarks marks(Disc);
  return {Run, Disc, Reg, State, marks, Settings.Output, Settings.Scan, Settings.Registry, Settings.Subpic};
}

}  // namespace tess::demux
