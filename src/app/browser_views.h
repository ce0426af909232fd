#pragma once
#include <cstdint>

#include "platform/ui_models.h"

namespace tess::app {

// The browser's views of the loaded disc: the information grid (the overview of
// each title set as it is loaded), the two trees of the information-file browser
// and the scout's tree. The shell owns and fills them; the disc code that makes
// their content takes the view it fills.
struct BrowserViews {
  platform::GridModel StringGrid1;
  platform::TreeModel TreeView1;  // per information file its language units, titles, chains, programs, cells, buttons
  platform::TreeModel TreeView2;  // per information file its tracks and their scenes
  platform::TreeModel TreeView7;  // the scout's tree: per domain its VOBs and their cells
};

}  // namespace tess::app
