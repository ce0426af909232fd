#pragma once
#include <cstdint>
#include <string>
#include <unordered_set>

#include "core/options.h"
#include "core/run_context.h"
#include "core/settings.h"
#include "disc/disc_model.h"
#include "disc/name_tree.h"
#include "disc/run_registries.h"
#include "state/vts_list.h"
#include "subpic/sup_decoder.h"

namespace tess::state {

// The settings as each consumer below the shell takes them. The shell builds
// them from the settings record when it loads or changes it and at the start of
// every run (app::RunSettingsOf), and hands each part down by const reference.
struct RunSettings {
  core::OutputSettings Output;
  core::DemuxSettings Demux;
  core::TrackSettings Tracks;
  disc::ScanSettings Scan;
  disc::RegistrySettings Registry;
  subpic::SubpicSettings Subpic;
  bool operator==(const RunSettings&) const = default;
};

// The project state: the run context (log, questions, Stop flag, progress), the
// loaded disc model, the run's registries and the items' names, the settings,
// the title set list's marks, and the run's own counters. One instance lives for
// the whole process and is passed by reference; only the demultiplexer, the run
// driver and the command line take it whole. Disc and core routines take the
// parts they need, to which a TForm1 converts. The browser views are the
// shell's (app::BrowserViews).
//
// It is large (the title-set array alone is several megabytes): make it with
// std::make_unique.
struct TForm1 : core::RunContext, disc::DiscModel, disc::RunRegistries, disc::ItemNames {
  TForm1() = default;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  core::RunContext& Run() { return *this; }
  disc::DiscModel& Disc() { return *this; }
  disc::RunRegistries& Registries() { return *this; }
  disc::ItemNames& Names() { return *this; }

  std::string SettingsFile;  // where the options are loaded from and saved to
  core::TOptions Options;    // the settings record, as loaded, changed and saved
  RunSettings Settings;      // built from Options by the shell
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
