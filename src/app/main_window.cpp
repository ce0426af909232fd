#include "app/main_window_impl.h"

#include <cctype>
#include <ctime>

#include "app/project_state.h"
#include "core/log.h"
#include "core/messages.h"
#include "platform/rounding.h"
#include "platform/settings_store.h"

namespace tess::app {

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

MainWindow::MainWindow(TForm1& Form) : form_(Form) {
  TotalProgress.SetRange(0, 100);
  Form.MainWindow = this;
}

MainWindow::~MainWindow() {
  if (form_.MainWindow == this) form_.MainWindow = nullptr;
}

void MainWindow::AddLogLine(int32_t Kind, std::string_view Text, uint32_t Colour) {
  ProcessMessages();
  // While a run is being stopped only red lines (errors, the abort) still show.
  if (form_.Abort != 0 && Colour != platform::kColourRed) return;
  core::AppendLogLine(form_.LogWindow.Log, Kind, "  " + TimeStamp() + "   " + std::string(Text), Colour);
  ProcessMessages();
}

void MainWindow::AddLogText(int32_t Kind, std::string_view Text) { AddLogLine(Kind, Text, 0); }

void MainWindow::AddLogLineRaw(int32_t Kind, std::string_view Text) {
  ProcessMessages();
  if (form_.Abort != 0) return;
  core::AppendLogLine(form_.LogWindow.Log, Kind, std::string(Text), 0);
  ProcessMessages();
}

void MainWindow::LogCountSummary(std::string_view FileName) {
  std::string upper(FileName);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  AddLogText(1, std::string(core::msg::PreparingDemuxingOfEVOFile) + upper);
  AddLogText(1, core::msg::CreatingDemuxerInfo);
  AddLogText(1, core::msg::Demuxing2);
}

void MainWindow::HighlightChartItem(std::string_view Label, uint32_t /*Colour*/) {
  std::string lower(Label);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (auto& p : Chart.Points) {
    if (p.Label == lower) {
      p.Colour = 0xFF6400;
      return;
    }
  }
}

void MainWindow::UpdateProgress(int32_t Phase) {
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
      const auto sum = static_cast<int64_t>(form_.VideoStreams.size() + form_.AudioStreams.size());
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

void MainWindow::SaveOptions() {
  if (form_.SettingsFile.empty()) return;
  platform::SettingsStore store;
  store.Load(form_.SettingsFile);
  SaveOptionsTo(form_.Options, store);
  if (!store.Save(form_.SettingsFile))
    AddLogLine(2, "Can not write settings file " + form_.SettingsFile, platform::kColourRed);
}

void MainWindow::ProcessMessages() { form_.Pump.Run(); }

}  // namespace tess::app
