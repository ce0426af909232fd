#pragma once
#include <string>

#include "core/options.h"
#include "core/run_context.h"
#include "demux/demux_env.h"
#include "disc/disc_model.h"
#include "disc/name_tree.h"
#include "disc/run_registries.h"
#include "state/run_settings.h"
#include "state/run_state.h"

namespace tess::app {

// The project state, the shell's: it composes the run context (log, questions,
// Stop flag, progress), the loaded disc model, the run's registries and the
// items' names, the run's marks and counters, the settings record and the
// typed settings built from it. One instance lives for the whole process; only
// the run driver and the command line take it whole. Below them every routine
// takes the parts it uses (a TForm1 converts to each), and the demultiplexer
// the environment that DemuxEnv hands out. The browser views are the shell's
// too (app::BrowserViews).
//
// It is large (the title-set array alone is several megabytes): make it with
// std::make_unique.
struct TForm1 : core::RunContext, disc::DiscModel, disc::RunRegistries, disc::ItemNames, state::RunState {
  TForm1() = default;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  core::RunContext& Run() { return *this; }
  disc::DiscModel& Disc() { return *this; }
  disc::RunRegistries& Registries() { return *this; }
  disc::ItemNames& Names() { return *this; }
  state::RunState& RunMarks() { return *this; }

  std::string SettingsFile;     // where the options are loaded from and saved to
  core::TOptions Options;       // the settings record, as loaded, changed and saved
  state::RunSettings Settings;  // built from Options by the shell

  // The demultiplexer's environment over this state's parts.
  demux::TDemuxEnv DemuxEnv() { return demux::MakeDemuxEnv(Run(), Disc(), Registries(), RunMarks(), Settings); }
};

}  // namespace tess::app
