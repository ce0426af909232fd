#include "app/cli.h"

int main(int argc, char** argv) { return tess::app::CloseStandardOutput(tess::app::RunCommandLine(argc, argv)); }
