#pragma once
#include "app/main_window_impl.h"
#include "app/project_state.h"
#include "support/test_support.h"

namespace tess::test {

// The whole project state with the command line's main window.
using StateProject = BasicProject<app::TForm1, app::MainWindow>;

}  // namespace tess::test
