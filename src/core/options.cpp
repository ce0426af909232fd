#include "core/options.h"

namespace tess::core {

namespace {

// The last folder name of the subfolder chosen for destination mode 2.
std::string SubfolderName(std::string Sub) {
  while (!Sub.empty() && Sub.back() == '/') Sub.pop_back();
  const size_t slash = Sub.find_last_of('/');
  return slash == std::string::npos ? Sub : Sub.substr(slash + 1);
}

bool UsesSubfolder(const TOptions& Options) {
  return Options.DestinationMode == 2 && !Options.DestinationSubfolder.empty();
}

// "." or ".." would put the run into the destination itself or above it, where
// the clean-up of an earlier run would reach folders not its own.
bool LeadsOutOfDestination(const std::string& Name) { return Name == "." || Name == ".."; }

}  // namespace

void GetOutputFolder(const TOptions& Options, std::string& Folder) {
  Folder = Options.DestinationPath;
  if (UsesSubfolder(Options)) {
    const std::string name = SubfolderName(Options.DestinationSubfolder);
    // No folder then, and the run refuses to start.
    if (LeadsOutOfDestination(name)) {
      Folder.clear();
      return;
    }
    if (!Folder.empty() && Folder.back() != '/') Folder += '/';
    Folder += name;
  }
  if (!Folder.empty() && Folder.back() != '/') Folder += '/';
}

std::string OutputFolderRefusal(const TOptions& Options) {
  std::string folder;
  GetOutputFolder(Options, folder);
  if (!folder.empty()) return {};
  if (UsesSubfolder(Options) && LeadsOutOfDestination(SubfolderName(Options.DestinationSubfolder)))
    return "DestinationSubfolder '" + Options.DestinationSubfolder + "' ends in '" +
           SubfolderName(Options.DestinationSubfolder) +
           "', which would put the run into DEST itself or above it, not into a folder of its own; "
           "DestinationMode=2 needs a folder name there";
  return "no destination folder was given (DEST is empty)";
}

std::string OutputFolderNote(const TOptions& Options) {
  if (Options.DestinationMode != 2 || !SubfolderName(Options.DestinationSubfolder).empty()) return {};
  return "DestinationMode=2, but DestinationSubfolder '" + Options.DestinationSubfolder +
         "' names no folder: the run goes into DEST itself";
}

}  // namespace tess::core
