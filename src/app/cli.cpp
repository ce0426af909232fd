#include "app/cli.h"

#include <cstdio>

namespace tess::app {

int RunCommandLine(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "usage: tessaline demux SOURCE DEST\n");
  return 2;
}

}  // namespace tess::app
