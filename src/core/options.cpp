#include "core/options.h"

namespace tess::core {

void GetOutputFolder(const TOptions& Options, std::string& Folder) {
  Folder = Options.DestinationPath;
  if (Options.DestinationMode == 2 && !Options.DestinationSubfolder.empty()) {
    std::string sub = Options.DestinationSubfolder;
    while (!sub.empty() && sub.back() == '/') sub.pop_back();
    const size_t slash = sub.find_last_of('/');
    const std::string name = slash == std::string::npos ? sub : sub.substr(slash + 1);
    // "." or ".." would put the run into the destination itself or above it,
    // where the clean-up of an earlier run would reach folders not its own: no
    // folder then, and the run refuses to start.
    if (name == "." || name == "..") {
      Folder.clear();
      return;
    }
    if (!Folder.empty() && Folder.back() != '/') Folder += '/';
    Folder += name;
  }
  if (!Folder.empty() && Folder.back() != '/') Folder += '/';
}

}  // namespace tess::core
