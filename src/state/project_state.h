#pragma once
#include <cstdint>
#include <string>
#include <unordered_set>

#include "core/run_context.h"
#include "disc/disc_state.h"
#include "state/vts_list.h"

namespace tess::state {

// The project state: the run context (log, questions, Stop flag, progress and
// the settings), the loaded disc with its registries and script model, the title
// set list's marks, and the run's own counters. One instance lives for the whole
// process and is passed by reference; only the demultiplexer, the run driver and
// the command line take it whole. Disc and core routines take the part they need,
// to which a TForm1 converts.
//
// It is large (the title-set array alone is several megabytes): make it with
// std::make_unique.
struct TForm1 : core::RunContext, disc::DiscState {
  TForm1() = default;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  core::RunContext& Run() { return *this; }
  disc::DiscState& Disc() { return *this; }

  std::string SettingsFile;  // where the options are loaded from and saved to
  TVTSListForm VTSListForm;

  // ---- the run's flags and counters ----
  int64_t AC3PayloadCount = 0;
  int32_t SubpicUnitCount = 0;
  int32_t SlideShowNumber = 0;
  // The output files this run has started, by full name: opened again (by the
  // next file of a chain, or by another loose EVO file of the same name) they
  // are appended to; only a file left by an earlier run is started afresh.
  std::unordered_set<std::string> StartedOutputs;
};

}  // namespace tess::state

namespace tess::app {
using state::TForm1;
}
