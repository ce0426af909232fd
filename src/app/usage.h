#pragma once
#include <cstdio>
#include <string>

// What every command of the command line ends with, and how it says that it
// was called wrongly: one line that says what is wrong and where the help is,
// never the whole help text.
namespace tess::app {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

inline int UsageError(const std::string& Why) {
  std::fprintf(stderr, "tessaline: %s\nTry 'tessaline --help'.\n", Why.c_str());
  return kExitUsage;
}

}  // namespace tess::app
