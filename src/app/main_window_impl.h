#pragma once
#include <cstdint>

#include "app/browser_views.h"
#include "core/headless_window.h"

namespace tess::app {
struct TForm1;
}

namespace tess::app {

// The command line's main window: the headless window, plus the settings file
// for the options, the registries for the post-processing count and the
// browser's views.
class MainWindow : public core::HeadlessWindow {
 public:
  explicit MainWindow(app::TForm1& Form);

  void SaveOptions() override;

  BrowserViews Views;

 protected:
  int64_t PostProcessingTotal() const override;

 private:
  app::TForm1& form_;
};

}  // namespace tess::app
