#include "app/main_window_impl.h"

#include "app/options.h"
#include "platform/settings_store.h"
#include "app/project_state.h"

namespace tess::app {

MainWindow::MainWindow(app::TForm1& Form) : core::HeadlessWindow(Form), form_(Form) {}

int64_t MainWindow::PostProcessingTotal() const {
  return static_cast<int64_t>(form_.VideoStreams.size() + form_.AudioStreams.size());
}

void MainWindow::SaveOptions() {
  // A log window closed is not shown at the next start.
  if (!LogWindowActionChecked) form_.Options.LogVisible = 0;
  if (form_.SettingsFile.empty()) return;
  // A file that could not be read whole is left as it is: saving over it
  // would lose whatever was not read.
  platform::SettingsStore store;
  if (std::string why; !store.Load(form_.SettingsFile, &why)) {
    AddLogLine(core::kLogWarning, "Can not read settings file " + form_.SettingsFile + " (" + why + "); it is not saved",
               platform::kColourRed);
    return;
  }
  SaveOptionsTo(form_.Options, store);
  if (std::string why; !store.Save(form_.SettingsFile, &why))
    AddLogLine(core::kLogWarning, "Can not write settings file " + form_.SettingsFile + why, platform::kColourRed);
}

}  // namespace tess::app
