#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ui_models.h"

namespace tess::core {

// Log line kinds: the icon a line shows and the letter a saved log gives it.
enum LogKind : int32_t { kLogNormal = 0, kLogInfo = 1, kLogWarning = 2 };

// Progress phases of the overall bar.
enum ProgressPhase : int32_t { kPhaseDemux = 1, kPhaseCurrentFile = 2, kPhasePostProcessing = 3 };

// The main window as the rest of the program sees it: its labels, bars, chart
// and the run's log writer and progress. Every subsystem writes through this
// interface; the shell's MainWindow is the one implementation.
class TfrmMain {
 public:
  virtual ~TfrmMain() = default;

  platform::StatusPanels StatusBox;
  std::string CurProcent;   // the percentage label, "n %"
  std::string CellIdValue;  // cell time label
  std::string VobIdValue;   // cell start + cell time label
  bool LogWindowActionChecked = true;
  uint8_t LogAttached = 0;
  int32_t FinishedEvoFiles = 0;
  int32_t Top = 0;
  int32_t Height = 0;
  std::string Caption = "Tessaline";
  std::string ApplicationTitle = "Tessaline 1.4";
  platform::ProgressBar TotalProgress;    // 0..100 over the whole run
  platform::ProgressBar CurrentProgress;  // sectors of the current file, or post-processing steps
  platform::FileChart Chart;

  // Kind 0 normal, 1 information, 2 warning; Colour blue-green-red.
  virtual void AddLogLine(int32_t Kind, std::string_view Text, uint32_t Colour) = 0;
  virtual void AddLogText(int32_t Kind, std::string_view Text) = 0;
  virtual void AddLogLineRaw(int32_t Kind, std::string_view Text) = 0;
  virtual void LogCountSummary(std::string_view FileName) = 0;
  virtual void HighlightChartItem(std::string_view Label, uint32_t Colour) = 0;
  virtual void UpdateProgress(int32_t Phase) = 0;
  // Saves the settings; with the log action unticked (the log window was
  // closed) they say that the log is not shown at start-up.
  virtual void SaveOptions() = 0;
  // Lets pending work run: the stop signal becomes the Stop command here.
  virtual void ProcessMessages() = 0;
};

}  // namespace tess::core
