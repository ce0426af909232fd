#pragma once
#include "app/main_window_impl.h"
#include "state/project_state.h"
#include "support/test_support.h"

namespace tess::test {

// The whole project state with the command line's main window.
using StateProject = BasicProject<state::TForm1, app::MainWindow>;

}  // namespace tess::test
