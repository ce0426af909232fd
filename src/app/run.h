#pragma once
#include <functional>
#include <string>
#include <vector>

#include "app/browser_views.h"
#include "demux/chain_driver.h"

namespace tess::app {
struct TForm1;
}

namespace tess::app {

enum class SourceKind { None, StandardContent, AdvancedContent, LooseEvo };

// What the source command chose.
struct SourceSelection {
  SourceKind Kind = SourceKind::None;
  std::string IFOFile;               // Standard Content: the information file opened
  std::string VTIFile;               // Advanced Content: the title information file
  std::vector<std::string> EvoFiles; // every EVO file the source names, in chart order
  demux::TEvoFileList EvoList;       // Advanced Content and loose EVO files: the list the run works through
  // Standard Content named as a DVD-Video (VIDEO_TS.IFO, VTS_nn_0.IFO, or a
  // folder of them without hv000i01.IFO): it can be shown, not demultiplexed.
  bool DvdVideo = false;
};

// Decides the source kind from a path (an information file or its folder, a
// ".VTI" file, or ".evo" files). Returns false with a reason when nothing usable
// is there.
bool ChooseSource(const std::vector<std::string>& Paths, SourceSelection& Out, std::string& Error);
// Why Paths cannot be one source because they are of kinds that do not go
// together (only .evo files may be given with others); empty when they can be.
std::string MixedSourceKinds(const std::vector<std::string>& Paths);
// The first of Paths that is there and is no source: neither a folder that
// holds a disc nor an information, ".VTI" or ".evo" file; empty when there is none.
std::string PathOfNoSourceKind(const std::vector<std::string>& Paths);

// The source command: loads what the source names into the project state, names
// the items of a disc into the browser's views and fills the main window's chart
// with its EVO files. False when it cannot be loaded.
bool OpenSource(TForm1& Form, SourceSelection& Source, BrowserViews& Views);

// The EVO files of every loaded title set: the menu file, then the title chain.
std::vector<std::string> TitleSetEvoFiles(const TForm1& Form, int IFOIndex);

enum class RunResult { Done, Failed, Stopped };

// The Start command: takes the settings as they stand, demultiplexes, prepares
// the tracks and shows the items' names again in the browser's views. A run
// that did everything saves its log by SaveLog (when given) with its success
// line before showing that line; a save that fails makes the run a failure.
// So do log lines that could not be shown: LostLines (when given) is the errno
// of the first that could not, else 0.
RunResult StartRun(TForm1& Form, const SourceSelection& Source, BrowserViews& Views,
                   const std::function<bool()>& SaveLog = {}, const std::function<int()>& LostLines = {});

}  // namespace tess::app
