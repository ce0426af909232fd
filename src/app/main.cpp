#include "app/cli.h"
#include "platform/file_io.h"

int main(int argc, char** argv) {
  tess::platform::OpenClosedStandardDescriptors();
  return tess::app::CloseStandardOutput(tess::app::RunCommandLine(argc, argv));
}
