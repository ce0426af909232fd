#include "core/headless_window.h"

#include <cctype>
#include <ctime>

#include "core/log.h"
#include "core/messages.h"
#include "core/run_context.h"
#include "platform/rounding.h"

namespace tess::core {

namespace {
std::string TimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}
}  // namespace

HeadlessWindow::HeadlessWindow(RunContext& Run) : run_(Run) {
  TotalProgress.SetRange(0, 100);
  Run.MainWindow = this;
}

HeadlessWindow::~HeadlessWindow() {
  if (run_.MainWindow == this) run_.MainWindow = nullptr;
}

void HeadlessWindow::AddLogLine(int32_t Kind, std::string_view Text, uint32_t Colour) {
  // While a run is being stopped only red lines (errors, the abort) still show.
  // A line is looked at before the pump: one written before a stop came (a
  // run's verdict among them) is not lost to it.
  if (run_.Abort != 0 && Colour != platform::kColourRed) return;
  ProcessMessages();
  AppendLogLine(run_.LogWindow.Log, Kind, "  " + TimeStamp() + "   " + std::string(Text), Colour);
  ProcessMessages();
}

void HeadlessWindow::AddLogText(int32_t Kind, std::string_view Text) { AddLogLine(Kind, Text, 0); }

void HeadlessWindow::AddLogLineRaw(int32_t Kind, std::string_view Text) {
  if (run_.Abort != 0) return;
  ProcessMessages();
  AppendLogLine(run_.LogWindow.Log, Kind, std::string(Text), 0);
  ProcessMessages();
}

void HeadlessWindow::LogCountSummary(std::string_view FileName) {
  std::string upper(FileName);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  AddLogText(kLogInfo, std::string(msg::PreparingDemuxingOfEVOFile) + upper);
  AddLogText(kLogInfo, msg::CreatingDemuxerInfo);
  AddLogText(kLogInfo, msg::Demuxing2);
}

void HeadlessWindow::HighlightChartItem(std::string_view Label, uint32_t /*Colour*/) {
  std::string lower(Label);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (auto& p : Chart.Points) {
    if (p.Label == lower) {
      p.Colour = 0xFF6400;
      return;
    }
  }
}

void HeadlessWindow::UpdateProgress(int32_t Phase) {
  using platform::RoundEven;
  switch (Phase) {
    case 1: {
      // An empty chart has nothing to measure against: the bar stays.
      const auto files = static_cast<int64_t>(Chart.Points.size());
      if (files > 0) TotalProgress.SetPosition(RoundEven(static_cast<double>(FinishedEvoFiles) / files * 60));
      break;
    }
    case 2: {
      const int64_t max = CurrentProgress.Max;
      if (max != 0)
        TotalProgress.SetPosition(60 + RoundEven(static_cast<double>(CurrentProgress.Position) / max * 30));
      break;
    }
    case 3: {
      const int64_t sum = PostProcessingTotal();
      if (sum > 0) {
        CurrentProgress.Min = 0;
        CurrentProgress.Max = sum;
        CurrentProgress.SetPosition(FinishedEvoFiles);
        CurProcent = std::to_string(RoundEven(static_cast<double>(FinishedEvoFiles) / sum * 100)) + " %";
        TotalProgress.SetPosition(90 + RoundEven(static_cast<double>(FinishedEvoFiles) / sum * 10));
      }
      break;
    }
    default:
      break;
  }
  TotalProcent = std::to_string(TotalProgress.Position) + " %";
  ApplicationTitle = "Tessaline - " + TotalProcent;
  ProcessMessages();
}

void HeadlessWindow::ProcessMessages() { run_.Pump.Run(); }

}  // namespace tess::core
