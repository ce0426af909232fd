#pragma once
#include <cstdint>

#include "core/run_context.h"
#include "core/settings.h"
#include "disc/disc_model.h"
#include "disc/ifo_model.h"
#include "disc/registries.h"
#include "disc/run_registries.h"
#include "disc/vob_scout.h"
#include "state/run_settings.h"
#include "state/run_state.h"
#include "subpic/sup_decoder.h"

// What the demultiplexer takes of the program around it. The shell (or a test)
// owns the parts and hands them in; the demultiplexer never sees the project
// state or the settings record.
namespace tess::demux {

// The one part of the loaded records that a run writes: each title set's
// audio-cell table, in whose first block the Main mode marks the cell where a
// VOB's audio was first met (the track preparation reads the marks back).
class TAudioCellMarks {
 public:
  explicit TAudioCellMarks(disc::DiscModel& Disc);
  // The entry of VOB Vob (1..999) in the first block of information file
  // IFOIndex's table; nil for a file or VOB outside the loaded ones.
  disc::TAudioCellEntry* FirstBlockEntry(int32_t IFOIndex, uint32_t Vob) const;

 private:
  disc::DiscModel* disc_;
};

// The narrow environment of the demultiplexer and the post-processing: the run
// context (log, progress, Stop, questions), the loaded disc read only, the
// registries the run fills, the run's own marks, outputs and counters, and the
// settings of the layers below that it hands on (the file streams', the
// scout's, the registries' and the subpicture decoder's). Its own settings
// (core::DemuxSettings, core::TrackSettings) each routine takes on its own.
// A set of references: cheap to copy, valid as long as the parts are.
struct TDemuxEnv {
  core::RunContext& Run;
  const disc::DiscModel& Disc;
  disc::RunRegistries& Reg;
  state::RunState& State;
  TAudioCellMarks AudioCells;
  const core::OutputSettings& Output;
  const disc::ScanSettings& Scan;
  const disc::RegistrySettings& Registry;
  const subpic::SubpicSettings& Subpic;
};

// The environment over the parts and the settings they run with; Disc is taken
// writable for its audio-cell marks alone.
TDemuxEnv MakeDemuxEnv(core::RunContext& Run, disc::DiscModel& Disc, disc::RunRegistries& Reg, state::RunState& State,
                       const state::RunSettings& Settings);

}  // namespace tess::demux
