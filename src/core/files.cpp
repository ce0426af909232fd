#include "core/files.h"

#include <cstring>
#include <fstream>

#include "platform/paths.h"

namespace tess::core {

bool IsIfoFile(const std::string& FileName) {
  std::ifstream in(platform::ResolveInputPath(FileName), std::ios::binary);
  if (!in) return false;
  char head[8];
  if (!in.read(head, sizeof head)) return false;
  return std::memcmp(head, "DVDVIDEO", 8) == 0 || std::memcmp(head, "STANDARD", 8) == 0;
}

}  // namespace tess::core
