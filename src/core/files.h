#pragma once
#include <string>

namespace tess::core {

// The first 8 bytes of the file are "DVDVIDEO" or "STANDARD"; false when the
// file cannot be opened or is shorter.
bool IsIfoFile(const std::string& FileName);

}  // namespace tess::core
