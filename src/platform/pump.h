#pragma once
#include <functional>

namespace tess::platform {

// Stands in for the message loop that the long loops pumped: it delivers a
// SIGINT or SIGTERM as the Stop command.
class Pump {
 public:
  // Called once per stop signal, from Run (never from the signal handler).
  std::function<void()> OnStop;
  // Further hooks run on every pump (the command line redraws its progress).
  std::function<void()> OnIdle;

  void Run();
  // Routes SIGINT and SIGTERM to this process's stop flag.
  static void InstallStopSignals();
  static bool StopSignalled();
  static void ClearStopSignal();
  // For tests: behave as if a stop signal had arrived.
  static void RaiseStopSignal();
};

}  // namespace tess::platform
