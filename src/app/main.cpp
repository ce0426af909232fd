#include "app/cli.h"

int main(int argc, char** argv) { return tess::app::RunCommandLine(argc, argv); }
