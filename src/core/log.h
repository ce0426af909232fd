#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"
#include "platform/ui_models.h"

// The log window, the information window and the list operations they share.
// Headless: the lists are plain models, and the file dialogs are replaced by the
// file name the caller passes.
namespace tess::core {

struct RunContext;

// The default name of a saved log, and the file the automatic save writes into
// the output folder.
inline constexpr std::string_view kLogFileName = "Tessaline.log";

// Which letter a saved line starts with: the line's kind (the Save As command and
// the clipboard) or its image (the save of a finished run).
enum class LogLetterBy { Kind, Image };

// The log text of a list: per line its letter, a blank, the caption and CR LF.
// With SelectedOnly only the selected lines, in order.
std::string LogToText(const platform::LogModel& List, LogLetterBy By, bool SelectedOnly);

// One line of a saved log, as the loader understands it. False when the line
// adds nothing (an empty line or an unknown letter).
bool ParseLogLine(std::string_view Line, int32_t& Kind, std::string& Text);

// ---- the shared list operations ----

// Appends a line of Kind (with the image of its kind), Caption and Colour as the
// list's selected and focused last line; the line before it loses both. Only
// this call focuses a line, so the focus can only be on the last one. The column
// is fitted and the list scrolls down by a row.
void AppendLogLine(platform::LogModel& List, int32_t Kind, std::string Caption, uint32_t Colour);

// Appends a line with colour 0 and the image of its kind, focused and selected;
// nothing while the project's abort flag is set. A kind-2 line counts as a warning
// of the information window.
void LogAddItem(RunContext& Run, int32_t Kind, std::string_view Text, platform::LogModel& List);
// The selected lines as log text onto the clipboard, removed from the list.
void LogCutSelected(RunContext& Run, platform::LogModel& List);
// The same text onto the clipboard, the list unchanged.
void LogCopySelected(RunContext& Run, const platform::LogModel& List);
void LogDeleteSelected(platform::LogModel& List);
void LogSelectAll(platform::LogModel& List);
// Replaces the list's lines by those of a saved log. A file that cannot be opened
// leaves the list as it was; failures return false and are logged.
[[nodiscard]] bool LogLoadFromFile(RunContext& Run, const std::string& FileName, platform::LogModel& List);
// Writes the log window's list, letters by image, through a temporary file that
// replaces FileName only when it is complete. False (and a log line) on failure.
[[nodiscard]] bool LogSaveToFile(RunContext& Run, const std::string& FileName);

// How a run ended, for the automatic save of its log.
// NotStarted: the source could not be opened, so no run began.
enum class RunEnd { Finished, Stopped, Failed, NotStarted };
enum class AutoSaveResult { NotDue, Saved, Failed };

// The call a run makes when it ends. By the AutoSaveLog setting: never, at the
// end of every run whichever message ended it, or always (also when the source
// could not be opened). The log goes to "Tessaline.log" in the output folder,
// which is made when missing. When it fails, *Why (when given) is the reason as
// the end of a line.
AutoSaveResult AutoSaveRunLog(RunContext& Run, const OutputSettings& Output, RunEnd How, std::string* Why = nullptr);

// ---- the log window ----
struct TfrmLog {
  static constexpr std::string_view Caption = "Tessaline Log";
  static constexpr std::string_view DefaultFileName = kLogFileName;
  static constexpr std::string_view FileFilter = "Log Files (*.log)|*.log";
  // A move that leaves the window's top closer than this to the main window's
  // bottom edge docks it.
  static constexpr int32_t kAttachDistance = 20;

  platform::LogModel Log;
  int32_t Top = 0;

  // File commands; the dialogs' choice is the file name passed.
  void NewAction() { Log.Clear(); }
  bool OpenAction(RunContext& Run, const std::string& FileName);
  [[nodiscard]] bool SaveAsAction(RunContext& Run, const std::string& FileName);
  // Edit commands on this window's list.
  void CutAction(RunContext& Run) { LogCutSelected(Run, Log); }
  void CopyAction(RunContext& Run) const { LogCopySelected(Run, Log); }
  void DeleteAction() { LogDeleteSelected(Log); }
  void SelectAllAction() { LogSelectAll(Log); }
  // Shows the counts of all and of selected lines; returns the text shown.
  std::string CountAction(RunContext& Run) const;
  // Hiding the window unticks the main window's log action and saves the
  // settings, which then say that the log is not shown at start-up.
  void FormClose(RunContext& Run);
  // The window was moved: tells the main window whether it is docked below it.
  void WindowPositionChanged(RunContext& Run, int32_t NewTop);
};

// ---- the information window ----
struct TInfoForm {
  static constexpr std::string_view Caption = "Information ";
  static constexpr std::string_view DefaultFileName = kLogFileName;

  platform::LogModel Log;
  // Kind-2 lines that reached a list through LogAddItem.
  int32_t WarningCount = 0;

  // The window's message operations keep nothing: run messages reach the user
  // through the main window's log writer, to which the callers send them too.
  void AddLog(int32_t /*Kind*/, std::string_view /*Text*/) {}
  void AddLogColored(int32_t /*Kind*/, std::string_view /*Text*/, uint32_t /*Colour*/) {}
  // Composes the lines that open a title set's menus or titles and hands them to
  // AddLog; returns them (they are kept nowhere else).
  std::vector<std::string> LogStartingVts(bool IsTitles, int32_t VtsNo, bool AudioCorrectionMarked,
                                          bool MainModeMarked);
};

}  // namespace tess::core
