#pragma once

namespace tess::app {

// "tessaline demux SOURCE DEST [options]". Exit status: 0 done, 1 failed,
// 2 bad usage, 130 stopped. Output that could not all be written to stdout
// makes a command that was done fail (1), said on stderr with the first
// failure's reason; only a listing whose reader closed the pipe ends quietly.
int RunCommandLine(int argc, char** argv);

// Closes stdout at the program's end: a failure that shows only then turns
// Status 0 into 1, said on stderr. Returns the exit status.
int CloseStandardOutput(int Status);

}  // namespace tess::app
