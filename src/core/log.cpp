#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/files.h"
#include "core/run_context.h"
#include "core/messages.h"
#include "platform/file_io.h"

namespace tess::core {

namespace {

int32_t ImageOfKind(int32_t Kind) { return Kind == kLogInfo ? 1 : (Kind == kLogWarning ? 0 : -1); }

// The letter of a line, or 0 for none (the line then starts with its blank).
char LetterOf(const platform::LogLine& Line, LogLetterBy By) {
  if (By == LogLetterBy::Kind) {
    switch (Line.Kind) {
      case 0: return 'N';
      case 1: return 'I';
      case 2: return 'W';
      default: return 0;
    }
  }
  switch (Line.Image) {
    case 0: return 'W';
    case 1: return 'I';
    default: return 0;
  }
}

void AppendLogTextLine(std::string& Out, const platform::LogLine& Line, LogLetterBy By) {
  if (const char letter = LetterOf(Line, By)) Out += letter;
  Out += ' ';
  Out += Line.Caption;
  Out += "\r\n";
}

std::string ErrnoText(int Err) { return Err != 0 ? std::string(" (") + std::strerror(Err) + ")" : std::string(); }

void ReportFileError(RunContext& Run, std::string_view Message, const std::string& FileName, int Err) {
  Run.Log(kLogWarning, std::string(Message) + FileName + ErrnoText(Err), platform::kColourRed);
}

// Writes Data into a temporary file beside FileName and renames it over FileName
// once it is complete and flushed, so that an older log is never lost to a half
// written one.
bool ReplaceFileContents(RunContext& Run, const std::string& FileName, const std::string& Data,
                         std::string* Why = nullptr) {
  int err = 0;
  bool opened = false;
  if (platform::ReplaceFileWith(FileName, Data.data(), Data.size(), &err, &opened)) return true;
  ReportFileError(Run, opened ? msg::ErrorInFile : msg::CanNotOpenFile, FileName, err);
  if (Why) *Why = platform::ErrorReason(err);
  return false;
}

// The lines of a saved log file, each without its line end. Reading stops at the
// first empty line, as a saved log never holds one.
bool ReadLogLines(RunContext& Run, const std::string& FileName, std::vector<std::string>& Lines) {
  std::string data;
  int err = 0;
  bool opened = false;
  if (!platform::ReadWholeFile(FileName, data, &err, &opened)) {
    ReportFileError(Run, opened ? msg::ErrorInFile : msg::CanNotOpenFile, FileName, err);
    return false;
  }
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find('\n', pos);
    const size_t next = end == std::string::npos ? data.size() : end + 1;
    if (end == std::string::npos) end = data.size();
    // A line ends in CR LF, LF alone, or (the last one) nothing: only line-end
    // bytes are dropped, never text.
    size_t len = end - pos;
    if (len > 0 && data[pos + len - 1] == '\r') --len;
    if (len == 0) break;
    Lines.emplace_back(data, pos, len);
    pos = next;
  }
  return true;
}

}  // namespace

std::string LogToText(const platform::LogModel& List, LogLetterBy By, bool SelectedOnly) {
  std::string out;
  for (const auto& line : List.Lines)
    if (!SelectedOnly || line.Selected) AppendLogTextLine(out, line, By);
  return out;
}

bool ParseLogLine(std::string_view Line, int32_t& Kind, std::string& Text) {
  if (Line.empty()) return false;
  switch (Line[0]) {
    case 'N': Kind = 0; break;
    case 'I': Kind = 1; break;
    case 'W': Kind = 2; break;
    case ' ':
      // A line without a letter (a kind-0 line of a run's automatic save): the
      // caption follows the one blank.
      Kind = 0;
      Text.assign(Line.substr(1));
      return true;
    default: return false;
  }
  Text.assign(Line.size() > 2 ? Line.substr(2) : std::string_view());
  return true;
}

void AppendLogLine(platform::LogModel& List, int32_t Kind, std::string Caption, uint32_t Colour) {
  if (!List.Lines.empty()) {
    List.Lines.back().Selected = false;
    List.Lines.back().Focused = false;
  }
  platform::LogLine line;
  line.Caption = std::move(Caption);
  line.Kind = Kind;
  line.Image = ImageOfKind(Kind);
  line.Colour = Colour;
  line.Selected = true;
  line.Focused = true;
  List.Add(std::move(line));
  List.AdjustColumnWidth();
  List.ScrollOffset += 100;
}

void LogAddItem(RunContext& Run, int32_t Kind, std::string_view Text, platform::LogModel& List) {
  if (Run.Aborted()) return;
  AppendLogLine(List, Kind, std::string(Text), 0);
  if (Kind == kLogWarning) ++Run.InfoForm.WarningCount;
}

void LogCutSelected(RunContext& Run, platform::LogModel& List) {
  std::string text;
  std::vector<platform::LogLine> kept;
  kept.reserve(List.Lines.size());
  for (auto& line : List.Lines) {
    if (line.Selected)
      AppendLogTextLine(text, line, LogLetterBy::Kind);
    else
      kept.push_back(std::move(line));
  }
  List.Lines = std::move(kept);
  List.AdjustColumnWidth();
  Run.Clipboard.Text = std::move(text);
}

void LogCopySelected(RunContext& Run, const platform::LogModel& List) {
  Run.Clipboard.Text = LogToText(List, LogLetterBy::Kind, true);
}

void LogDeleteSelected(platform::LogModel& List) {
  std::erase_if(List.Lines, [](const platform::LogLine& l) { return l.Selected; });
  List.AdjustColumnWidth();
}

void LogSelectAll(platform::LogModel& List) {
  for (auto& l : List.Lines) l.Selected = true;
}

bool LogLoadFromFile(RunContext& Run, const std::string& FileName, platform::LogModel& List) {
  std::vector<std::string> lines;
  if (!ReadLogLines(Run, FileName, lines)) return false;
  List.Clear();
  int32_t kind = 0;
  std::string text;
  for (const auto& l : lines)
    if (ParseLogLine(l, kind, text)) LogAddItem(Run, kind, text, List);
  return true;
}

bool LogSaveToFile(RunContext& Run, const std::string& FileName) {
  return ReplaceFileContents(Run, FileName, LogToText(Run.LogWindow.Log, LogLetterBy::Image, false));
}

AutoSaveResult AutoSaveRunLog(RunContext& Run, const OutputSettings& Output, RunEnd How, std::string* Why) {
  // The failed runs are the ones whose log a user needs most: "at the finish"
  // saves however the run ended, "always" also when it never started.
  const AutoSaveMode mode = Output.AutoSaveLog;
  const bool due = mode == kAutoSaveAlways || (mode == kAutoSaveAtFinish && How != RunEnd::NotStarted);
  if (!due) return AutoSaveResult::NotDue;
  const std::string& folder = Output.Folder;
  if (folder.empty()) {
    // Without an output folder the log would land in whatever folder the
    // program was started from.
    const std::string why = ": no output folder is given";
    Run.Log(kLogWarning, std::string(msg::CanNotOpenFile) + std::string(kLogFileName) + why, platform::kColourRed);
    if (Why) *Why = why;
    return AutoSaveResult::Failed;
  }
  if (std::string why; !MakeFolders(folder, &why)) {
    Run.Log(kLogWarning, "Can not create folder " + folder + why, platform::kColourRed);
    if (Why) *Why = why;
    return AutoSaveResult::Failed;
  }
  const std::string file = folder + std::string(kLogFileName);
  // A list may name a source as the log is named: the source stays, and the
  // log is not saved.
  std::string source = Run.Sources.Find(file);
  const bool over = !source.empty();
  // Nor among the source files: a run refused for a DEST that holds them
  // leaves nothing there.
  if (!over) source = Run.Sources.FileIn(folder);
  if (!source.empty()) {
    const std::string why =
        (over ? ": it would be written over the source file " : ": its folder holds the source file ") + source;
    Run.LogError("The log " + file + " is not saved" + why + ".");
    if (Why) *Why = why;
    return AutoSaveResult::Failed;
  }
  return ReplaceFileContents(Run, file, LogToText(Run.LogWindow.Log, LogLetterBy::Image, false), Why)
             ? AutoSaveResult::Saved
             : AutoSaveResult::Failed;
}

bool TfrmLog::OpenAction(RunContext& Run, const std::string& FileName) {
  std::vector<std::string> lines;
  if (!ReadLogLines(Run, FileName, lines)) return false;
  Log.Clear();
  int32_t kind = 0;
  std::string text;
  for (const auto& l : lines) {
    if (!ParseLogLine(l, kind, text)) continue;
    if (Run.MainWindow)
      Run.MainWindow->AddLogLineRaw(kind, text);
    else
      LogAddItem(Run, kind, text, Log);
  }
  return true;
}

bool TfrmLog::SaveAsAction(RunContext& Run, const std::string& FileName) {
  return ReplaceFileContents(Run, FileName, LogToText(Log, LogLetterBy::Kind, false));
}

std::string TfrmLog::CountAction(RunContext& Run) const {
  const std::string text = std::to_string(Log.Count()) + " Messages Displayed\r\n" +
                           std::to_string(Log.SelectedCount()) + " Messages Selected";
  if (Run.Prompt) Run.Prompt->Inform(text, "Quennick");
  return text;
}

void TfrmLog::FormClose(RunContext& Run) {
  if (!Run.MainWindow) return;
  Run.MainWindow->LogWindowActionChecked = false;
  Run.MainWindow->SaveOptions();
}

void TfrmLog::WindowPositionChanged(RunContext& Run, int32_t NewTop) {
  Top = NewTop;
  if (!Run.MainWindow) return;
  const int64_t mainBottom = static_cast<int64_t>(Run.MainWindow->Top) + Run.MainWindow->Height;
  const int64_t distance = static_cast<int64_t>(NewTop) - mainBottom;
  Run.MainWindow->LogAttached = (distance > -kAttachDistance && distance < kAttachDistance) ? 1 : 0;
}

std::vector<std::string> TInfoForm::LogStartingVts(bool IsTitles, int32_t VtsNo, bool AudioCorrectionMarked,
                                                   bool MainModeMarked) {
  std::vector<std::string> lines;
  lines.push_back(std::string(STARTING2_STR) + std::string(IsTitles ? TITLES_STR : MENU_STR) +
                  std::string(INVTSN_STR) + std::to_string(VtsNo) + ":");
  if (IsTitles) {
    if (AudioCorrectionMarked) lines.emplace_back(AUDIOCORMODE_STR);
    lines.emplace_back(MainModeMarked ? MAINMODE_STR : VOBIDMODE_STR);
  }
  for (const auto& l : lines) AddLog(kLogInfo, l);
  return lines;
}

}  // namespace tess::core
