#pragma once
#include "demux/demux_env.h"
#include "state/run_settings.h"
#include "state/run_state.h"
#include "support/test_support.h"

namespace tess::test {

// What the demultiplexer's environment is made of: a run context, the disc
// model, the run's registries, the run's marks and counters and the settings,
// in one object so that a test can hand it for any of them and build the
// environment over it.
struct DemuxForm : core::RunContext, disc::DiscModel, disc::RunRegistries, state::RunState {
  state::RunSettings Settings;
  demux::TDemuxEnv Env() { return demux::MakeDemuxEnv(*this, *this, *this, *this, Settings); }
};

}  // namespace tess::test
