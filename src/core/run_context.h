#pragma once
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/files.h"
#include "core/log.h"
#include "core/main_window.h"
#include "core/start_code_map.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/pump.h"
#include "platform/ui_models.h"

namespace tess::core {

// What a long-running routine needs of the program around it: somewhere to write
// log lines, someone to ask, the status and progress models and the Stop flag.
// Core and stream code takes this and plain arguments (their settings among
// them, core/settings.h); it never sees the disc or the project state.
struct RunContext {
  RunContext() = default;
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  TfrmMain* MainWindow = nullptr;      // set by the shell; never owned here
  platform::Prompt* Prompt = nullptr;  // answers every question; set by the shell
  platform::Pump Pump;                 // pumped where the long loops pump
  TfrmLog LogWindow;
  TInfoForm InfoForm;
  platform::StatusPanels StatusBar1;
  platform::ProgressBar ProgressBar1;    // handed to the video analyser runs
  platform::ProgressBar StatusProgress;  // the bar inside the status bar (scout, loose EVO, tracks)
  platform::Clipboard Clipboard;
  // Errors are also shown to the user as message boxes (through the prompt),
  // not only logged: the shell sets it from the ShowErrorMsg setting.
  bool ShowErrorMsg = true;
  uint8_t Abort = 0;  // the Stop flag: non-zero stops every long loop
  // Inputs the run had to skip or could only partly read, one line each, in the
  // order met. The run does all else it can, then ends with these lines and a
  // failure, never with the success message.
  std::vector<std::string> Skipped;
  // The start codes of the MPEG video outputs written in this run, noted as
  // they were written, by file name.
  TStartCodeMaps StartCodeMaps;

  void NoteSkipped(std::string What) {
    if (std::find(Skipped.begin(), Skipped.end(), What) == Skipped.end()) Skipped.push_back(std::move(What));
  }
  // A file that could not be read to its end (EIO, a damaged medium): the walk
  // that met it fails, and so does the run. The reader logs its own line.
  void NoteReadError(const std::string& File) { NoteSkipped("Read error in file " + File); }

  // A write error (a full disk) stops the run at the first failure: the Stop
  // flag ends every loop as Stop does, but the run ends as failed. What was
  // being written then is removed (NoteRemovedOutput), as it can be made again
  // from the source.
  bool WriteStopped = false;
  // The outputs that could not be written (or were refused: they would take a
  // source's place) and the unfinished outputs removed after them. No input
  // was skipped for them: the run's end sums them up apart.
  std::vector<std::string> FailedWrites;
  std::vector<std::string> RemovedOutputs;
  static bool NoteOnce(std::vector<std::string>& List, std::string What) {
    if (std::find(List.begin(), List.end(), What) != List.end()) return false;
    List.push_back(std::move(What));
    return true;
  }
  void StopForWriteError(const std::string& File) {
    if (!WriteStopped) LogError("The run stops: it could not write to " + File + ".");
    WriteStopped = true;
    Abort = 1;
    NoteOnce(FailedWrites, File);
  }
  // The files the run reads from. No output may take the place of one: an
  // output that would (another name of a source, however written) is refused
  // before anything is written to it, and the run stops as at a write error.
  FileSet Sources;
  // DEST as the user gave it, for a run that writes below it: no output goes
  // into a folder below it that holds a source (one reached through a link
  // among them), nor into DEST itself when a source lies in it. Empty: no
  // folder is looked at.
  void SetOutputRoot(std::string Root) {
    outputRoot_ = std::move(Root);
    clearFolder_.clear();
  }
  bool WritesOverSource(const std::string& Output) {
    std::string what, failed;
    if (const std::string source = Sources.Find(Output); !source.empty()) {
      what = "The output " + Output + " would be written over the source file " + source;
      failed = Output + " (it would take the place of the source file " + source + ")";
    } else if (std::string at = platform::ExtractFilePath(Output); at != clearFolder_) {
      // Outputs come many to a folder: a folder once looked at is not looked at again.
      if (const std::string folder = FolderHoldingSource(outputRoot_, at, Sources); !folder.empty()) {
        what = "The output " + Output + " would be written into " + folder + ", which holds the source";
        failed = Output + " (it would go into " + folder + ", which holds the source)";
      } else {
        clearFolder_ = std::move(at);
      }
    }
    if (what.empty()) return false;
    if (NoteOnce(FailedWrites, failed))
      LogError(what + ": it is not written, and the run stops.");
    WriteStopped = true;
    Abort = 1;
    return true;
  }
  // Makes Folder for outputs, as MakeFolders does, unless it would lie in a
  // folder that holds the source: such a folder is refused as an output into
  // it is, before anything is made, and the run stops. *Why (when given) is
  // the reason as the end of a line.
  bool MakeOutputFolder(const std::string& Folder, std::string* Why = nullptr) {
    const std::string folder = platform::IncludeTrailingSlash(Folder);
    if (folder != clearFolder_) {
      if (const std::string held = FolderHoldingSource(outputRoot_, folder, Sources); !held.empty()) {
        if (NoteOnce(FailedWrites, folder + " (it would be made in " + held + ", which holds the source)"))
          LogError("The folder " + folder + " would be made in " + held +
                   ", which holds the source: it is not made, and the run stops.");
        WriteStopped = true;
        Abort = 1;
        if (Why) *Why = ": it would be made in " + held + ", which holds the source";
        return false;
      }
      clearFolder_ = folder;
    }
    return MakeFolders(Folder, Why);
  }
  // Removes File, a file or link the run names as its own (an output, a scan
  // cache, a side or temporary file, to be made afresh or gone), unless it is a
  // source: a list may name a source as the run names its own files. True when
  // it was removed.
  bool RemoveOwnFile(const std::string& File) const { return DeleteFileUnless(File, Sources); }
  void NoteRemovedOutput(const std::string& File) {
    LogError("Removed the unfinished output " + File);
    NoteOnce(RemovedOutputs, File);
  }
  // An output that was being written when the run stopped for a write error:
  // it is incomplete, so it goes, and the log names it.
  void RemoveUnfinishedOutput(const std::string& File) {
    if (RemoveOwnFile(File)) NoteRemovedOutput(File);
  }
  // A write to the output File failed: the run stops, and File goes at once;
  // the other outputs being written go as their writers close them.
  void StopForFailedWrite(const std::string& File) {
    StopForWriteError(File);
    RemoveUnfinishedOutput(File);
  }

  // The main window's log writer, when one is attached.
  void Log(int32_t Kind, std::string_view Text, uint32_t Colour = platform::kColourBlack) {
    if (MainWindow) MainWindow->AddLogLine(Kind, Text, Colour);
  }
  void LogError(std::string_view Text) { Log(kLogWarning, Text, platform::kColourRed); }
  void ProcessMessages() {
    if (MainWindow)
      MainWindow->ProcessMessages();
    else
      Pump.Run();
  }
  bool Aborted() const { return Abort != 0; }

 private:
  std::string outputRoot_;
  std::string clearFolder_;  // the last output folder found to hold no source
};

}  // namespace tess::core
