#include "app/cli.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_window_impl.h"
#include "app/options.h"
#include "app/project_state.h"
#include "app/run.h"
#include "app/show.h"
#include "app/usage.h"
#include "core/files.h"
#include "core/folder_lock.h"
#include "core/log.h"
#include "core/messages.h"
#include "core/options.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/pump.h"
#include "platform/settings_store.h"
#include "streams/media_info.h"
#include "streams/pulldown.h"

namespace tess::app {

namespace {

const char* const kUsage =
    "usage: tessaline demux SOURCE [SOURCE...] DEST [options]\n"
    "       tessaline info FILE [FILE...]\n"
    "       tessaline pulldown FILE\n"
    "       tessaline show SOURCE [SOURCE...]\n"
    "       tessaline settings [--settings FILE] [--set Name=Value ...]\n"
    "       tessaline -V | --version        prints the version\n"
    "       tessaline -h | --help | help    prints this usage\n"
    "       tessaline COMMAND --help | help COMMAND   (the command's own usage)\n"
    "  info     describes elementary-stream files (AC-3, E-AC-3, DTS, MPEG audio,\n"
    "           WAV, MLP, MPEG-1/2 video)\n"
    "  pulldown measures an MPEG-2 video as 23.976 film and writes FILE.m2v.vif\n"
    "  show     prints the source's items by name, each chain's commands and the\n"
    "           title sets' overview\n"
    "  settings prints the settings; with --set saves them to the settings file\n"
    "demux:\n";
// What "demux --help" prints after its usage line, and "--help" after the above.
const char* const kDemuxHelp =
    "  SOURCE   an information file or its folder (Standard Content), a .VTI file\n"
    "           (Advanced Content), or one or more .evo files\n"
    "  DEST     the output folder; not the folder the source files lie in\n"
    "  Log lines go to stdout; errors and warnings, every question with its answer,\n"
    "  and the verdict of a run that failed go to stderr.\n"
    "options (an option's value follows it, or is given as --name=value):\n"
    "  --set Name=Value   set a settings field by its value name (repeatable)\n"
    "  --vts N[,N...]     demultiplex only these title sets (0 = the video manager)\n"
    "                     or, for loose EVO files, these list positions (1-based)\n"
    "  --main N[,N...]    give these title sets the Main-mode mark (titles cut per cell\n"
    "                     and audio cut at VOB starts); not for a .VTI list or .evo files\n"
    "  --yes              answer OK/Yes/Retry to every question (default: Cancel/No).\n"
    "                     A DEST that is not empty is then emptied only when it holds\n"
    "                     nothing but what runs write (VMG, VTS_nnn, Tessaline.log,\n"
    "                     DestinationMode=2 run folders of those), and never when it\n"
    "                     holds the source or is or holds the working or home folder;\n"
    "                     otherwise the run writes into it and removes only the\n"
    "                     VMG and VTS_nnn folders and Tessaline.log of an earlier run\n"
    "  --settings FILE    settings file (default: $XDG_CONFIG_HOME/tessaline/settings.ini);\n"
    "                     a FILE named here must exist\n"
    "  --                 ends the options: what follows is a SOURCE or DEST\n"
    "environment: NO_COLOR or TERM=dumb turns off coloured log lines\n";
// What "--help" prints last: how every command ends.
const char* const kExitStatusHelp =
    "exit status:\n"
    "  0    done\n"
    "  1    failed: a source or file that could not be read, an input skipped or\n"
    "       only partly read, a failed write, a refused DEST, a log not saved\n"
    "  2    bad usage: nothing is written\n"
    "  130  stopped by Ctrl-C (SIGINT), SIGTERM or SIGHUP\n";
const char* const kInfoUsage =
    "usage: tessaline info FILE [FILE...]\n"
    "  Describes each elementary-stream file (AC-3, E-AC-3, DTS, MPEG audio, WAV,\n"
    "  MLP, MPEG-1/2 video) with its whole path. A file that cannot be read is\n"
    "  named on stderr, and the exit status is then 1.\n"
    "options:\n"
    "  --       ends the options: what follows is a FILE\n";
const char* const kPulldownUsage =
    "usage: tessaline pulldown FILE\n"
    "  Measures an MPEG-2 video as 23.976 fps film shown with 2:3 pulldown and\n"
    "  drop-frame time codes, and writes its video information file FILE.m2v.vif;\n"
    "  the video itself is not changed.\n"
    "options:\n"
    "  --       ends the options: what follows is the FILE\n";

const char* const kVersion = "Tessaline 1.4\n";

// ANSI colour for a blue-green-red platform colour, or none for black.
const char* AnsiColour(uint32_t colour) {
  const unsigned r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  if (colour == 0) return nullptr;
  if (r >= g && r >= b) return "\033[31m";
  if (g >= r && g >= b) return b > 0x40 ? "\033[36m" : "\033[32m";
  return "\033[34m";
}

// A terminal that cannot show colour codes says so by TERM=dumb.
bool ColourWanted(int Fd) {
  const char* no = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return ::isatty(Fd) == 1 && !(no && *no) && !(term && std::strcmp(term, "dumb") == 0);
}

// Log lines on stdout, but errors and warnings (every line of the warning kind,
// as the run logs its errors) on stderr: a log sent elsewhere still leaves on the
// screen why a run failed. Each line goes to one of them only, flushed at once,
// so that both on one terminal or pipe keep the log's order. The overall bar,
// with the current file's share, on stderr when stderr is a terminal (never into
// a file or a pipe).
class Terminal {
 public:
  Terminal()
      : colourOut_(ColourWanted(STDOUT_FILENO)),
        colourErr_(ColourWanted(STDERR_FILENO)),
        barErr_(::isatty(STDERR_FILENO) == 1) {}

  void PrintLine(const platform::LogLine& line) {
    ClearBar();
    const bool trouble = line.Kind == core::kLogWarning;
    FILE* to = trouble ? stderr : stdout;
    const char* c = (trouble ? colourErr_ : colourOut_) ? AnsiColour(line.Colour) : nullptr;
    const std::string text = c ? c + line.Caption + "\033[0m\n" : line.Caption + "\n";
    // A log that cannot reach stdout (a full disk, a closed pipe) does not
    // stop the run; the command's end reports it.
    if (to == stdout) {
      PrintOut(text);
      FlushOut();
    } else {
      std::fputs(text.c_str(), to);
      std::fflush(to);
    }
    DrawBar();
  }

  void Total(const platform::ProgressBar& b) { Set(total_, b); }
  void Current(const platform::ProgressBar& b) { Set(current_, b); }
  void Finish() { ClearBar(); }

 private:
  void Set(int& field, const platform::ProgressBar& b) {
    const int64_t span = b.Max - b.Min;
    const int p = span > 0 ? static_cast<int>(std::clamp<int64_t>((b.Position - b.Min) * 100 / span, 0, 100)) : -1;
    if (p == field) return;  // redraw only when a figure changes
    field = p;
    DrawBar();
  }
  void DrawBar() {
    if (!barErr_ || (total_ < 0 && current_ < 0)) return;
    const int width = 40;
    const int t = std::max(total_, 0);
    const int filled = std::max(0, std::min(width, t * width / 100));
    std::fprintf(stderr, "\r[%s%s] %3d %%", std::string(filled, '#').c_str(), std::string(width - filled, ' ').c_str(), t);
    if (current_ >= 0) std::fprintf(stderr, "  file %3d %%", current_);
    std::fflush(stderr);
    shown_ = true;
  }
  void ClearBar() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%*s\r", 64, "");
    std::fflush(stderr);
    shown_ = false;
  }

  bool colourOut_;
  bool colourErr_;
  bool barErr_;
  bool shown_ = false;
  int total_ = -1;
  int current_ = -1;
};

// What a demux run owns, kept past an exception that ends the command: the
// run's log and what its lines reach, and the lock on DEST. Once the run has
// ended: how, and what became of its log, for a user whose stdout failed.
struct DemuxCommand {
  Terminal Out;
  std::unique_ptr<TForm1> Form;
  std::unique_ptr<MainWindow> Window;
  std::unique_ptr<platform::PolicyPrompt> Prompt;
  core::FolderLock Lock;
  std::string Ended;     // "finished", "failed", ...; empty until the run ends
  std::string LogSaved;  // where its log went, or why it went nowhere
};

// The log is saved as the settings ask; a save that fails is said on stderr
// too, since the log itself cannot carry it. False when it failed: a run whose
// log was asked for and is lost has not done all it was to do.
bool SaveRunLog(DemuxCommand& Demux, core::RunEnd How) {
  TForm1& Form = *Demux.Form;
  Demux.Ended = How == core::RunEnd::Finished  ? "finished"
                : How == core::RunEnd::Stopped ? "was stopped"
                : How == core::RunEnd::Failed  ? "failed"
                                               : "did not start";
  std::string why;
  const std::string file = Form.Settings.Output.Folder + std::string(core::kLogFileName);
  switch (core::AutoSaveRunLog(Form, Form.Settings.Output, How, &why)) {
    case core::AutoSaveResult::Saved: Demux.LogSaved = "its log is saved as " + file; return true;
    case core::AutoSaveResult::NotDue:
      Demux.LogSaved = "its log is not saved (AutoSaveLog=" + std::to_string(Form.Options.AutoSaveLog) + ")";
      return true;
    case core::AutoSaveResult::Failed: break;
  }
  Demux.LogSaved = "its log could not be saved";
  std::fprintf(stderr, "tessaline: could not save the log %s%s\n", file.c_str(), why.c_str());
  return false;
}

// The name of the video manager's information file when it was damaged or
// could not be read whole, so that the title sets it lists may be missing;
// else empty.
std::string DamagedTitleSetList(const TForm1& Form) {
  if (Form.TitleSetCount < 1) return {};
  const disc::TIFOFile& vmg = Form.IFOFiles[0];
  return vmg.Kind == disc::ifoVMG && vmg.DamagedTables > 0 ? platform::ExtractFileName(vmg.FileName) : std::string();
}

// The title sets (0 = the video manager) or list positions the source offers.
std::vector<int> AvailableMarks(const TForm1& Form, const SourceSelection& Source) {
  std::vector<int> out;
  if (Source.Kind == SourceKind::LooseEvo || Source.Kind == SourceKind::AdvancedContent) {
    // Entries with a bad name keep their positions.
    for (size_t i = 1; i <= Source.EvoList.size(); ++i) out.push_back(static_cast<int>(i));
    return out;
  }
  for (int32_t i = 0; i < Form.TitleSetCount; ++i) {
    const disc::TIFOFile& rec = Form.IFOFiles[static_cast<size_t>(i)];
    if (rec.Kind != disc::ifoUnknown) out.push_back(rec.Kind == disc::ifoVMG ? 0 : rec.TitleSetNumber);
  }
  return out;
}

// Numbers 0..Max separated by commas. Whether each one exists is asked of the
// source once it is loaded.
bool ParseMarks(const std::string& list, std::vector<int>& out, long Max = 99) {
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ',')) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || errno == ERANGE || v < 0 || v > Max) return false;
    out.push_back(static_cast<int>(v));
  }
  return !out.empty();
}

// An option that is not one of Known, with the near ones it may have been
// meant for; Command names the command whose help the user is pointed to.
int UnknownOption(const std::string& Option, const std::vector<std::string>& Known, const std::string& Command = {}) {
  const std::string near = NearWords(Option, Known);
  return UsageError("unknown option '" + Option + "'" + (near.empty() ? "" : " (did you mean " + near + "?)"),
                    Command);
}

// The files of a tool command; false (with the exit status in Status) for
// --help or an option it does not know.
bool ToolFiles(const std::vector<std::string>& Args, std::vector<std::string>& Files, int& Status) {
  bool options = true;
  for (size_t i = 1; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    if (a.empty()) {
      Status = UsageError(Args[0] + ": a FILE is an empty argument ('')", Args[0]);
      return false;
    }
    if (options && a == "--") {
      options = false;
      continue;
    }
    if (!options) {
      Files.push_back(a);
      continue;
    }
    if (a == "--help" || a == "-h") {
      PrintOut(Args[0] == "info" ? kInfoUsage : kPulldownUsage);
      Status = kExitDone;
      return false;
    }
    if (a.size() > 1 && a[0] == '-') {
      Status = UsageError(Args[0] + ": unknown option '" + a + "'", Args[0]);
      return false;
    }
    Files.push_back(a);
  }
  return true;
}

// The tool commands take files, not a disc: no settings, no questions. Their
// log lines are printed as the run's are. Their work does not poll the Stop
// flag, so Ctrl-C is left to end the process: a ".vif" appears only whole, and
// a ".vnf" cache cut short is never taken for a whole one.
struct ToolRun {
  ToolRun() : Window(*Form) {
    Form->LogWindow.Log.OnAdd = [this](const platform::LogLine& l) { Out.PrintLine(l); };
  }
  std::unique_ptr<TForm1> Form = std::make_unique<TForm1>();
  MainWindow Window;
  Terminal Out;
};

// A regular file that opens for reading; else false, said on stderr. FIFOs
// and devices are refused without being opened.
bool ReadableFile(const std::string& Name) {
  int err = 0;  // a look that failed for another reason than nothing being there
  const std::string path = platform::ExistingRegularFile(Name, &err);
  uint8_t probe = 0;
  if (!path.empty() && platform::ReadFileHead(path, &probe, 1, nullptr, &err) >= 0) return true;
  // A name of no regular file says what is there instead, or why nothing is.
  const std::optional<std::string> found = path.empty() ? platform::FindPathCaseInsensitive(Name) : path;
  if (!found && ::access(Name.c_str(), F_OK) != 0) err = errno;
  const std::string why = platform::OpenFailureReason(found.value_or(Name), err != 0 ? err : ENOENT);
  std::fprintf(stderr, "tessaline: %s%s%s\n", std::string(core::msg::CanNotOpenFile).c_str(), Name.c_str(), why.c_str());
  return false;
}

// "info FILE...": each file's description on stdout, CR LF turned into plain
// line ends; 1 when a file could not be read. A file that met a read error is
// named in the log instead: a description of what could be read would be wrong.
int RunInfoCommand(const std::vector<std::string>& Files) {
  if (Files.empty()) return UsageError("info needs a FILE", "info");
  ToolRun tool;
  int status = kExitDone;
  for (size_t i = 0; i < Files.size(); ++i) {
    if (!ReadableFile(Files[i])) {
      status = kExitFailed;
      continue;
    }
    tool.Form->Skipped.clear();
    std::string text = streams::GetMediaInfoText(*tool.Form, Files[i], false, &tool.Form->ProgressBar1);
    if (!tool.Form->Skipped.empty()) {
      status = kExitFailed;
      continue;
    }
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    // The description shortens the name to fit a window; here it is given whole.
    if (text == streams::kUnknownFileFormat) text += ": " + Files[i];
    constexpr std::string_view kNameField = "\nFile name: ";
    if (const size_t at = text.find(kNameField); at != std::string::npos) {
      const size_t from = at + kNameField.size();
      text.replace(from, text.find('\n', from) - from, Files[i]);
    }
    PrintOut((i ? "\n" : "") + text + "\n");
  }
  FlushOut();
  tool.Out.Finish();
  return status;
}

// "pulldown FILE": the pulldown tool's measuring run and its ".vif".
int RunPulldownCommand(const std::vector<std::string>& Files) {
  if (Files.size() != 1) return UsageError("pulldown takes one FILE", "pulldown");
  if (!ReadableFile(Files[0])) return kExitFailed;
  ToolRun tool;
  const bool done = streams::RunPulldown(*tool.Form, Files[0]);
  tool.Out.Finish();
  if (!done) {
    std::fprintf(stderr, "tessaline: no %s.m2v.vif was written\n", Files[0].c_str());
    return kExitFailed;
  }
  PrintOut("Wrote " + Files[0] + ".m2v.vif\n");
  FlushOut();
  return kExitDone;
}

// The last line of defence: what no command foresaw ends it here, said on
// stderr and in a run's log, which is saved where it can be; DEST is given back.
int EndOnException(DemuxCommand& Demux, const std::string& What) {
  const std::string line = "The command ended on an unexpected error: " + What;
  // A run's log shows its error lines on stderr already.
  bool logged = false;
  if (Demux.Form) {
    try {
      Demux.Form->LogError(line);
      logged = true;
      SaveRunLog(Demux, core::RunEnd::Failed);
    } catch (...) {
      // The log's file could not take the line: stderr has it.
    }
  }
  if (!logged) std::fprintf(stderr, "tessaline: %s\n", line.c_str());
  Demux.Lock.Release();
  Demux.Out.Finish();
  return kExitFailed;
}

// Output that could not all be written fails the command, whatever else it
// did: what it printed did not reach the user. Said on stderr.
int FailedStandardOutput(int Status, int Err) {
  std::fprintf(stderr, "tessaline: write error on standard output%s\n", platform::ErrorReason(Err).c_str());
  return Status == kExitDone ? kExitFailed : Status;
}

// The first failure's reason is named. A reader that went away (a closed
// pipe, "| head") took what it wanted of a listing, which then ends quietly
// with the status of its work; a run's log is no listing: the run says how it
// ended, itself, and where its log is.
int EndStandardOutput(int Status, const DemuxCommand& Demux) {
  FlushOut();
  const int err = StandardOutputError();
  const bool failed = err != 0 || std::ferror(stdout) != 0;
  std::clearerr(stdout);
  if (!failed || (err == EPIPE && !Demux.Form)) return Status;
  Status = FailedStandardOutput(Status, err);
  if (!Demux.Ended.empty())
    std::fprintf(stderr, "tessaline: the run itself %s; %s\n", Demux.Ended.c_str(), Demux.LogSaved.c_str());
  return Status;
}

}  // namespace

static int RunCommand(int argc, char** argv, DemuxCommand& Demux) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // Only a run polls the stop flag; every other command is ended by the signal.
  if (args.empty() || args[0] != "demux") platform::Pump::LeaveStopSignalsToTheSystem();
  if (args.empty()) return UsageError("a command is needed: demux, show, settings, info, pulldown or help");
  // "help" and "help COMMAND" as people type them: --help and COMMAND --help.
  if (args[0] == "help") {
    if (args.size() > 2) return UsageError("help takes one COMMAND at most");
    args = args.size() == 1 || args[1] == "help" ? std::vector<std::string>{"--help"}
                                                 : std::vector<std::string>{args[1], "--help"};
  }
  const std::vector<std::string> programOptions = {"--help", "-h", "--version", "-V"};
  const bool help = args[0] == "--help" || args[0] == "-h";
  if ((help || args[0] == "--version" || args[0] == "-V") && args.size() > 1)
    return UsageError(args[0] + " takes nothing after it; '" + args[1] + "' is too many");
  if (help) {
    PrintOut(kUsage);
    PrintOut(kDemuxHelp);
    PrintOut(kExitStatusHelp);
    return kExitDone;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    PrintOut(kVersion);
    return kExitDone;
  }
  if (args[0].size() > 1 && args[0][0] == '-') return UnknownOption(args[0], programOptions);
  if (args[0] == "info" || args[0] == "pulldown") {
    std::vector<std::string> files;
    int status = kExitDone;
    if (!ToolFiles(args, files, status)) return status;
    return args[0] == "info" ? RunInfoCommand(files) : RunPulldownCommand(files);
  }
  if (args[0] == "show") return RunShowCommand({args.begin() + 1, args.end()});
  if (args[0] == "settings") return RunSettingsCommand({args.begin() + 1, args.end()});
  if (args[0] != "demux")
    return UsageError("unknown command '" + args[0] +
                      "' (the commands are demux, show, settings, info, pulldown and help)");

  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> sets;
  std::vector<int> marks;
  std::vector<int> mainMarks;
  bool yes = false;
  std::string settingsFile = platform::DefaultSettingsPath();
  bool settingsGiven = false;
  bool options = true;  // "--" ends them: a file name may then start with "-"
  for (size_t i = 1; i < args.size(); ++i) {
    if (!options) {
      positional.push_back(args[i]);
      continue;
    }
    const OptionArgument option = SplitOptionArgument(args[i]);
    const std::string& a = option.Name;
    auto value = [&](std::string& out) {
      if (option.Value) {
        out = *option.Value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    const bool flag = a == "--help" || a == "--version" || a == "--yes";
    if (args[i] == "--") {
      options = false;
    } else if (flag && option.Value) {
      return UsageError(a + " takes no value", "demux");
    } else if (a == "--help" || a == "-h") {
      PrintOut("usage: tessaline demux SOURCE [SOURCE...] DEST [options]\n");
      PrintOut(kDemuxHelp);
      return kExitDone;
    } else if (a == "--version" || a == "-V") {
      PrintOut(kVersion);
      return kExitDone;
    } else if (a == "--yes") {
      yes = true;
    } else if (a == "--set") {
      std::string kv;
      std::pair<std::string, std::string> set;
      if (!value(kv) || !SplitSettingArgument(kv, set)) return UsageError("--set takes Name=Value", "demux");
      sets.push_back(std::move(set));
    } else if (a == "--settings") {
      if (!value(settingsFile) || settingsFile.empty()) return UsageError("--settings takes a file", "demux");
      settingsGiven = true;
    } else if (a == "--main") {
      std::string list;
      if (!value(list) || !ParseMarks(list, mainMarks))
        return UsageError("--main takes numbers 1..99 separated by commas", "demux");
    } else if (a == "--vts") {
      std::string list;
      // A loose EVO list has as many positions as it has files.
      if (!value(list) || !ParseMarks(list, marks, std::numeric_limits<int>::max()))
        return UsageError("--vts takes numbers separated by commas", "demux");
    } else if (a.size() > 1 && a[0] == '-') {
      return UnknownOption(a, {"--set", "--vts", "--main", "--yes", "--settings", "--help", "--version"}, "demux");
    } else {
      positional.push_back(args[i]);
    }
  }
  // The last positional argument is the destination: a source alone is not a run.
  if (positional.size() < 2) return UsageError("demux needs a SOURCE and a DEST", "demux");
  // An empty argument (a variable that was not set) names no file: the run
  // would load the source only to find no DEST, or look for a file of no name.
  if (positional.back().empty()) return UsageError("the DEST is an empty argument ('')", "demux");
  for (size_t i = 0; i + 1 < positional.size(); ++i)
    if (positional[i].empty()) return UsageError("a SOURCE is an empty argument ('')", "demux");
  std::vector<std::string> sources = positional;
  const std::string dest = sources.back();
  sources.pop_back();
  // Sources of kinds that cannot go together are a mistake of the command, found
  // before anything is read. One that is no source at all, among several, is
  // most often a second DEST.
  if (const std::string stray = sources.size() > 1 ? PathOfNoSourceKind(sources) : std::string(); !stray.empty())
    return UsageError("demux takes one DEST, the last argument; " + stray +
                          " is no disc folder, information file, .VTI list or .evo file",
                      "demux");
  if (const std::string mixed = MixedSourceKinds(sources); !mixed.empty()) return UsageError(mixed, "demux");

  platform::SettingsStore store;
  if (const int status = LoadSettingsFileForCommand(settingsFile, store, "demux", settingsGiven); status != kExitDone)
    return status;

  auto& form = Demux.Form = std::make_unique<TForm1>();
  MainWindow& window = *(Demux.Window = std::make_unique<MainWindow>(*form));
  platform::PolicyPrompt& prompt = *(Demux.Prompt = std::make_unique<platform::PolicyPrompt>(yes));
  Terminal& terminal = Demux.Out;
  form->Prompt = &prompt;
  form->LogWindow.Log.OnAdd = [&](const platform::LogLine& l) { terminal.PrintLine(l); };
  window.TotalProgress.OnChange = [&](const platform::ProgressBar& b) { terminal.Total(b); };
  window.CurrentProgress.OnChange = [&](const platform::ProgressBar& b) { terminal.Current(b); };
  form->StatusProgress.OnChange = [&](const platform::ProgressBar& b) { terminal.Current(b); };
  // A question or a box that warns or reports an error goes where the errors
  // go, its answer with it: a log sent elsewhere still shows that DEST was kept
  // as it was or that a read was tried again.
  const auto kindOf = [](std::string_view Caption) {
    const bool trouble = Caption == core::msg::Warning || Caption == core::runmsg::Warning || Caption == core::msg::Error;
    return trouble ? core::kLogWarning : core::kLogInfo;
  };
  prompt.OnAsk = [&](const std::string& Line, std::string_view Caption) {
    window.AddLogLine(kindOf(Caption), Line, platform::kColourRed);
  };
  prompt.OnInform = [&](std::string_view Text, std::string_view Caption) {
    const std::string text = Caption.empty() ? std::string(Text) : std::string(Caption) + ": " + std::string(Text);
    window.AddLogLine(kindOf(Caption), text, platform::kColourRed);
  };
  form->Pump.OnStop = [&] { form->Abort = 1; };

  form->SettingsFile = settingsFile;
  for (const std::string& w : LoadOptions(form->Options, store)) form->Log(core::kLogWarning, w, platform::kColourRed);
  for (const auto& [name, v] : sets) {
    std::string why;
    if (!SetOptionByName(form->Options, name, v, &why)) return UsageError("--set " + why, "demux");
  }
  // DEST is the destination path; DestinationMode=2 puts the run into a
  // subfolder of it named after DestinationSubfolder.
  form->Options.DestinationPath = dest;
  ApplyOptions(*form);

  SourceSelection source;
  std::string error;
  // A source that is not one demux can take is said in one line: no run began.
  const auto endNotStarted = [&](const std::string& Why) {
    form->Log(core::kLogWarning, Why, platform::kColourRed);
    SaveRunLog(Demux, core::RunEnd::NotStarted);
    terminal.Finish();
    return kExitFailed;
  };
  if (!ChooseSource(sources, source, error)) return endNotStarted(error);
  // Main mode cuts a title set's titles per cell; a list has no title sets.
  if (!mainMarks.empty() && source.Kind != SourceKind::StandardContent)
    return UsageError("--main marks title sets: a .VTI list or .evo files have none (--vts chooses list positions)",
                      "demux");
  if (source.DvdVideo)
    return endNotStarted(platform::ExtractFileName(source.IFOFile) +
                         " is a DVD-Video information file: demux takes HD DVD discs only (show lists what it holds)");
  // A Ctrl-C that came while the source was loading ends the program with its
  // verdict, also when it cut the loading short.
  const auto endStopped = [&] {
    form->Log(core::kLogWarning, core::msg::CurrentOperationWasAbortedByTheUser, platform::kColourRed);
    SaveRunLog(Demux, core::RunEnd::Stopped);
    terminal.Finish();
    return kExitStopped;
  };
  if (!OpenSource(*form, source, window.Views)) {
    form->ProcessMessages();
    if (form->Aborted()) return endStopped();
    SaveRunLog(Demux, core::RunEnd::NotStarted);
    terminal.Finish();
    return kExitFailed;
  }
  const std::vector<int> available = AvailableMarks(*form, source);
  const bool byPosition = source.Kind == SourceKind::LooseEvo || source.Kind == SourceKind::AdvancedContent;
  for (const auto& [option, list] : {std::pair{"--vts ", &marks}, std::pair{"--main ", &mainMarks}}) {
    for (int m : *list) {
      if (std::find(available.begin(), available.end(), m) != available.end()) continue;
      std::string have;
      for (int a : available) have += (have.empty() ? "" : ", ") + std::to_string(a);
      const std::string what = byPosition ? "list position " : "title set ";
      // Information that could not be read whole may be why: not the command's fault.
      if (const std::string damaged = byPosition ? "" : DamagedTitleSetList(*form); !damaged.empty())
        return endNotStarted(option + std::to_string(m) + ": the source has no " + what + std::to_string(m) +
                             " that could be read: " + damaged + " could not be read whole");
      // Nor is one that the video manager's title-set table left out.
      for (const auto& sets : form->UncountedTitleSets)
        if (!byPosition && m >= sets.First && m <= sets.Last)
          return endNotStarted(option + std::to_string(m) + ": the source has no " + what + std::to_string(m) +
                               " that could be read: " + sets.Why);
      terminal.Finish();
      return UsageError(option + std::to_string(m) + ": the source has no " + what + std::to_string(m) + "; it has " +
                            (have.empty() ? "none" : have),
                        "demux");
    }
  }
  // Every row of the dialog has its boxes: without --vts all are chosen. There
  // is a row for everything the source offers, however many list positions.
  const auto rowOf = [&](int Mark) { return static_cast<size_t>(Mark) + (byPosition ? 0 : 1); };
  size_t rowCount = state::TVTSListForm::kTitleSetRows;
  for (int a : available) rowCount = std::max(rowCount, rowOf(a));
  std::vector<bool> chosen(rowCount + 1, marks.empty()), main(rowCount + 1, false);
  for (const auto& [list, to] : {std::pair{&marks, &chosen}, std::pair{&mainMarks, &main}})
    for (int m : *list) (*to)[rowOf(m)] = true;
  std::vector<state::TVTSListForm::Row> rows;
  for (size_t n = 1; n <= rowCount; ++n)
    rows.push_back({static_cast<int32_t>(n), true, chosen[n], chosen[n], main[n]});
  form->VTSListForm.ApplyOK(rows);

  // The run's start clears the Stop flag: a stop that came before must end
  // the program here, or it would be lost.
  form->ProcessMessages();
  if (form->Aborted()) return endStopped();
  // The run holds its output folder until its log is saved: a second run into
  // the same folder is refused, and saves no log there either.
  core::FolderLock& lock = Demux.Lock;
  if (std::string why;
      !form->Settings.Output.Folder.empty() &&
      !lock.Take(form->Settings.Output.Folder, why, &form->Sources, form->Options.DestinationPath)) {
    form->LogError(why);
    terminal.Finish();
    return kExitFailed;
  }
  // A finished run saves its log before its success line is shown; any other
  // end has shown its verdict, which the log saved now holds.
  bool saved = false;
  const RunResult result = StartRun(
      *form, source, window.Views,
      [&] {
        saved = true;
        return SaveRunLog(Demux, core::RunEnd::Finished);
      },
      [] { return StandardOutputError(); });
  if (!saved) SaveRunLog(Demux, result == RunResult::Stopped ? core::RunEnd::Stopped : core::RunEnd::Failed);
  lock.Release();
  terminal.Finish();
  switch (result) {
    case RunResult::Done: return kExitDone;
    case RunResult::Stopped: return kExitStopped;
    case RunResult::Failed: break;
  }
  return kExitFailed;
}

int RunCommandLine(int argc, char** argv) {
  // First of all: a stop that comes while the command line is read is not lost.
  platform::Pump::InstallStopSignals();
  StandardOutputError() = 0;
  DemuxCommand demux;
  int status = kExitFailed;
  try {
    status = RunCommand(argc, argv, demux);
  } catch (const std::exception& e) {
    status = EndOnException(demux, e.what());
  } catch (...) {
    status = EndOnException(demux, "an exception of no known kind");
  }
  return EndStandardOutput(status, demux);
}

int CloseStandardOutput(int Status) {
  // The output is flushed already; a file system may still report its failure
  // only when the file is closed.
  if (::close(STDOUT_FILENO) == 0 || errno == EBADF) return Status;
  return FailedStandardOutput(Status, errno);
}

}  // namespace tess::app
