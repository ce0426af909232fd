#pragma once
#include "core/settings.h"
#include "disc/registries.h"
#include "disc/vob_scout.h"
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

}  // namespace tess::state
