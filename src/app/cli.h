#pragma once

namespace tess::app {

// "tessaline demux SOURCE DEST [options]". Exit status: 0 done, 1 failed,
// 2 bad usage, 130 stopped.
int RunCommandLine(int argc, char** argv);

}  // namespace tess::app
