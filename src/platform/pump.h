#pragma once
#include <functional>

namespace tess::platform {

// Stands in for the message loop that the long loops pumped: it delivers a
// SIGINT, SIGTERM or SIGHUP as the Stop command.
class Pump {
 public:
  // Called once per stop signal, from Run (never from the signal handler).
  std::function<void()> OnStop;
  // Further hooks run on every pump (the command line redraws its progress).
  std::function<void()> OnIdle;

  void Run();
  // Routes SIGINT, SIGTERM and SIGHUP to this process's stop flag (those
  // ignored at start stay ignored) and takes one that is pending; SIGPIPE is
  // ignored, so that a closed pipe is a write that fails.
  static void InstallStopSignals();
  // For commands that never poll the stop flag: the stop signals end the
  // process again, and one that came while they were routed ends it now.
  static void LeaveStopSignalsToTheSystem();
  static bool StopSignalled();
  static void ClearStopSignal();
  // For tests: behave as if a stop signal had arrived.
  static void RaiseStopSignal();
};

}  // namespace tess::platform
