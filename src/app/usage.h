#pragma once
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

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

// The errno of the first write to stdout that failed, else 0. Every command's
// output goes through PrintOut and FlushOut to keep it: the C library keeps
// only that a write failed, and a later flush with nothing left to write
// leaves no reason behind.
inline int& StandardOutputError() {
  static int err = 0;
  return err;
}
inline void NoteStandardOutput(bool Written) {
  if (!Written && StandardOutputError() == 0) StandardOutputError() = errno != 0 ? errno : EIO;
}
inline void PrintOut(std::string_view Text) {
  NoteStandardOutput(std::fwrite(Text.data(), 1, Text.size(), stdout) == Text.size());
}
inline void FlushOut() { NoteStandardOutput(std::fflush(stdout) == 0); }

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
