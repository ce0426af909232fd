#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "core/main_window.h"

namespace tess::core {

struct RunContext;

// The main window without a screen: its log writer fills the run context's log
// window list (the command line prints each line as it is added) and its bars
// are plain models. The shell derives from it for what needs more than the run
// context (the post-processing count, saving the settings).
class HeadlessWindow : public TfrmMain {
 public:
  explicit HeadlessWindow(RunContext& Run);
  ~HeadlessWindow() override;
  HeadlessWindow(const HeadlessWindow&) = delete;
  HeadlessWindow& operator=(const HeadlessWindow&) = delete;

  std::string TotalProcent;  // the overall percentage label

  void AddLogLine(int32_t Kind, std::string_view Text, uint32_t Colour) override;
  void AddLogText(int32_t Kind, std::string_view Text) override;
  void AddLogLineRaw(int32_t Kind, std::string_view Text) override;
  void LogCountSummary(std::string_view FileName) override;
  void HighlightChartItem(std::string_view Label, uint32_t Colour) override;
  void UpdateProgress(int32_t Phase) override;
  void SaveOptions() override {}
  void ProcessMessages() override;

 protected:
  // The outputs the post-processing phase walks through (video plus audio).
  virtual int64_t PostProcessingTotal() const { return 0; }
  RunContext& run_;
};

}  // namespace tess::core
