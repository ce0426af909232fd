#pragma once
#include <cstdio>
#include <optional>
#include <string>

// What every command of the command line ends with, and how it says that it
// was called wrongly: one line that says what is wrong and where the help is,
// never the whole help text.
namespace tess::app {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

// Command names the command whose own help the user is pointed to; empty for
// the program's.
inline int UsageError(const std::string& Why, const std::string& Command = {}) {
  const std::string help = Command.empty() ? "tessaline --help" : "tessaline " + Command + " --help";
  std::fprintf(stderr, "tessaline: %s\nTry '%s'.\n", Why.c_str(), help.c_str());
  return kExitUsage;
}

// An option as typed: "--name value" or "--name=value". Value is the text after
// the "=" when there is one; an option that takes a value then takes it from there.
struct OptionArgument {
  std::string Name;
  std::optional<std::string> Value;
};

inline OptionArgument SplitOptionArgument(const std::string& Arg) {
  const size_t eq = Arg.find('=');
  if (!Arg.starts_with("--") || eq == std::string::npos) return {Arg, std::nullopt};
  return {Arg.substr(0, eq), Arg.substr(eq + 1)};
}

}  // namespace tess::app
