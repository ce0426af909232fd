#include "core/options.h"

namespace tess::core {

void GetOutputFolder(const TOptions& Options, std::string& Folder) {
  Folder = Options.DestinationPath;
  if (Options.DestinationMode == 2 && !Options.DestinationSubfolder.empty()) {
    std::string sub = Options.DestinationSubfolder;
    while (!sub.empty() && sub.back() == '/') sub.pop_back();
    const size_t slash = sub.find_last_of('/');
    if (!Folder.empty() && Folder.back() != '/') Folder += '/';
    Folder += slash == std::string::npos ? sub : sub.substr(slash + 1);
  }
  if (!Folder.empty() && Folder.back() != '/') Folder += '/';
}

}  // namespace tess::core
