#pragma once
#include <string>

#include "app/main_window.h"

namespace tess::app {

struct TForm1;

// The headless main window: its log writer fills the log window's list (the
// command line prints each line as it is added) and its bars are plain models.
class MainWindow : public TfrmMain {
 public:
  explicit MainWindow(TForm1& Form);
  ~MainWindow() override;

  std::string TotalProcent;  // the overall percentage label

  void AddLogLine(int32_t Kind, std::string_view Text, uint32_t Colour) override;
  void AddLogText(int32_t Kind, std::string_view Text) override;
  void AddLogLineRaw(int32_t Kind, std::string_view Text) override;
  void LogCountSummary(std::string_view FileName) override;
  void HighlightChartItem(std::string_view Label, uint32_t Colour) override;
  void UpdateProgress(int32_t Phase) override;
  void SaveOptions() override;
  void ProcessMessages() override;

 private:
  TForm1& form_;
};

}  // namespace tess::app
