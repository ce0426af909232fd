#pragma once
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/name_tree.h"
#include "disc/registries.h"
#include "disc/run_registries.h"
#include "disc/vob_scout.h"
#include "platform/ui_models.h"
#include "support/test_support.h"

namespace tess::test {

// What disc code takes: a run context, the disc model, the run's registries and
// the items' names, in one object so a test can hand it for any of them; and the
// views and settings that a test hands to the routines that take them.
struct DiscForm : core::RunContext, disc::DiscModel, disc::RunRegistries, disc::ItemNames {
  platform::GridModel StringGrid1;
  platform::TreeModel TreeView1;
  platform::TreeModel TreeView2;
  platform::TreeModel TreeView7;
  disc::ScanSettings Scan;
  disc::RegistrySettings Registry;
};

using DiscProject = BasicProject<DiscForm>;

}  // namespace tess::test
