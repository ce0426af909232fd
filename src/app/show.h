#pragma once
#include <string>
#include <vector>

namespace tess::app {
struct TForm1;
}

// The commands that show what the program holds instead of running it: the
// loaded disc as the information-file browser shows it, and the settings.
namespace tess::app {

// The browser as plain text, one item a line, indented two spaces per depth:
// per information file its unique item names (language units, titles, program
// chains, programs, cells, buttons) with each chain's pre-, post- and cell
// commands and where they lead, its tracks and scenes, and, for a title set,
// the information grid's overview.
std::string BrowserText(app::TForm1& Form);

// "show SOURCE...": loads the source as "demux" does and prints BrowserText;
// the loading's log lines go to stderr. Exit status 0, 1 when the source cannot
// be loaded, 2 for bad usage. Args follow the command's name.
int RunShowCommand(const std::vector<std::string>& Args);

// "settings [--settings FILE] [--set Name=Value...]": prints every setting as
// its value name and value; with --set checks the values as "demux --set" does
// and saves them to the settings file. Exit status 0, 1 when the file cannot be
// read or written, 2 for bad usage or a bad value (nothing is saved then).
int RunSettingsCommand(const std::vector<std::string>& Args);

}  // namespace tess::app
