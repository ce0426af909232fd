#include "app/cli.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_window_impl.h"
#include "app/options.h"
#include "state/project_state.h"
#include "app/run.h"
#include "platform/settings_store.h"

namespace tess::app {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

const char* const kUsage =
    "usage: tessaline demux SOURCE [SOURCE...] DEST [options]\n"
    "  SOURCE   an information file or its folder (Standard Content), a .VTI file\n"
    "           (Advanced Content), or one or more .evo files\n"
    "  DEST     the output folder\n"
    "options:\n"
    "  --set Name=Value   set a settings field by its value name (repeatable)\n"
    "  --vts N[,N...]     demultiplex only these title sets (0 = the video manager)\n"
    "                     or, for loose EVO files, these list positions (1-based)\n"
    "  --yes              answer OK/Yes/Retry to every question (default: Cancel/No)\n"
    "  --settings FILE    settings file (default: $XDG_CONFIG_HOME/tessaline/settings.ini)\n";

// ANSI colour for a blue-green-red platform colour, or none for black.
const char* AnsiColour(uint32_t colour) {
  const unsigned r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  if (colour == 0) return nullptr;
  if (r >= g && r >= b) return "\033[31m";
  if (g >= r && g >= b) return b > 0x40 ? "\033[36m" : "\033[32m";
  return "\033[34m";
}

class Terminal {
 public:
  Terminal() : colourOut_(::isatty(STDOUT_FILENO) == 1), barErr_(::isatty(STDERR_FILENO) == 1) {}

  void PrintLine(const platform::LogLine& line) {
    ClearBar();
    const char* c = colourOut_ ? AnsiColour(line.Colour) : nullptr;
    if (c)
      std::printf("%s%s\033[0m\n", c, line.Caption.c_str());
    else
      std::printf("%s\n", line.Caption.c_str());
    std::fflush(stdout);
    DrawBar();
  }

  void Progress(int64_t position) {
    percent_ = static_cast<int>(position);
    DrawBar();
  }

  void Finish() { ClearBar(); }

 private:
  void DrawBar() {
    if (!barErr_ || percent_ < 0) return;
    const int width = 40;
    const int filled = std::max(0, std::min(width, percent_ * width / 100));
    std::fprintf(stderr, "\r[%s%s] %3d %%", std::string(filled, '#').c_str(), std::string(width - filled, ' ').c_str(),
                 percent_);
    std::fflush(stderr);
    shown_ = true;
  }
  void ClearBar() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%*s\r", 50, "");
    std::fflush(stderr);
    shown_ = false;
  }

  bool colourOut_;
  bool barErr_;
  bool shown_ = false;
  int percent_ = -1;
};

bool ParseMarks(const std::string& list, std::vector<int>& out) {
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ',')) {
    char* end = nullptr;
    long v = std::strtol(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || v < 0 || v > 99) return false;
    out.push_back(static_cast<int>(v));
  }
  return !out.empty();
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? kExitUsage : kExitDone;
  }
  if (args[0] != "demux") {
    std::fprintf(stderr, "tessaline: unknown command '%s'\n%s", args[0].c_str(), kUsage);
    return kExitUsage;
  }

  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> sets;
  std::vector<int> marks;
  bool yes = false;
  std::string settingsFile = platform::DefaultSettingsPath();
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    if (a == "--yes") {
      yes = true;
    } else if (a == "--set") {
      std::string kv;
      const size_t eq = value(kv) ? kv.find('=') : std::string::npos;
      if (eq == std::string::npos || eq == 0) {
        std::fprintf(stderr, "tessaline: --set takes Name=Value\n");
        return kExitUsage;
      }
      sets.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
    } else if (a == "--settings") {
      if (!value(settingsFile)) {
        std::fprintf(stderr, "tessaline: --settings takes a file\n");
        return kExitUsage;
      }
    } else if (a == "--vts") {
      std::string list;
      if (!value(list) || !ParseMarks(list, marks)) {
        std::fprintf(stderr, "tessaline: --vts takes numbers 0..99 separated by commas\n");
        return kExitUsage;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "tessaline: unknown option '%s'\n%s", a.c_str(), kUsage);
      return kExitUsage;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.empty()) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }

  auto form = std::make_unique<TForm1>();
  MainWindow window(*form);
  platform::PolicyPrompt prompt(yes);
  Terminal terminal;
  form->Prompt = &prompt;
  form->LogWindow.Log.OnAdd = [&](const platform::LogLine& l) { terminal.PrintLine(l); };
  window.TotalProgress.OnChange = [&](const platform::ProgressBar& b) { terminal.Progress(b.Position); };
  prompt.OnLog = [&](const std::string& text) { window.AddLogLine(core::kLogInfo, text, platform::kColourRed); };
  form->Pump.OnStop = [&] { form->Abort = 1; };
  platform::Pump::InstallStopSignals();

  platform::SettingsStore store;
  if (!store.Load(settingsFile)) {
    std::fprintf(stderr, "tessaline: cannot read settings file %s\n", settingsFile.c_str());
    return kExitFailed;
  }
  form->SettingsFile = settingsFile;
  LoadOptions(form->Options, store);
  for (const auto& [name, v] : sets) {
    if (!SetOptionByName(form->Options, name, v)) {
      std::fprintf(stderr, "tessaline: unknown setting or bad value: %s=%s\n", name.c_str(), v.c_str());
      return kExitUsage;
    }
  }

  // The last positional argument is the destination, unless only a source was given.
  std::vector<std::string> sources = positional;
  std::string dest;
  if (sources.size() >= 2) {
    dest = sources.back();
    sources.pop_back();
  }
  form->Options.DestinationPath = dest;
  form->Options.DestinationMode = 0;

  SourceSelection source;
  std::string error;
  if (!ChooseSource(sources, source, error)) {
    std::fprintf(stderr, "tessaline: %s\n", error.c_str());
    return kExitUsage;
  }
  if (!marks.empty()) {
    std::vector<state::TVTSListForm::Row> rows;
    for (int n = 1; n <= 100; ++n) {
      bool chosen = false;
      for (int m : marks) chosen |= (source.Kind == SourceKind::LooseEvo ? m == n : m + 1 == n);
      rows.push_back({n, true, chosen, chosen, false});
    }
    form->VTSListForm.ApplyOK(rows);
  } else {
    form->VTSListForm.ApplyOK({});
  }

  RunResult result = RunResult::Failed;
  if (OpenSource(*form, source)) result = StartRun(*form, source);
  terminal.Finish();
  switch (result) {
    case RunResult::Done: return kExitDone;
    case RunResult::Stopped: return kExitStopped;
    case RunResult::Failed: break;
  }
  return kExitFailed;
}

}  // namespace tess::app
