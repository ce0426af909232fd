#include "platform/pump.h"

#include <csignal>

namespace tess::platform {

namespace {
// Written by the signal handler; the only state a handler may touch.
volatile std::sig_atomic_t g_stopSignal = 0;
volatile std::sig_atomic_t g_stopDelivered = 0;
volatile std::sig_atomic_t g_stopSignalNumber = 0;  // the signal that set the flag; 0 for none or a test's

// A closed terminal (SIGHUP) is a stop as Ctrl-C and SIGTERM are: the run still
// ends with its verdict, its saved log and its lock given back.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnStopSignal(int Signal) {
  g_stopSignalNumber = Signal;
  g_stopSignal = 1;
}

bool HandledHere(int Signal) {
  struct sigaction now {};
  return sigaction(Signal, nullptr, &now) == 0 && now.sa_handler == OnStopSignal;
}
}  // namespace

void Pump::InstallStopSignals() {
  // A closed pipe shows as a write that fails, which the program reports;
  // the signal would end it with no verdict and its lock left.
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a read that blocks must return with EINTR so the stop
  // reaches the program instead of waiting for the read.
  sa.sa_flags = 0;
  sigset_t taken;
  sigemptyset(&taken);
  for (const int s : kStopSignals) {
    // A signal ignored when the program started (nohup, a background job of a
    // script) stays ignored: whoever started it wants it to run on.
    struct sigaction before {};
    if (sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(s, &sa, nullptr);
    sigaddset(&taken, s);
  }
  // One held back by a mask the program was started with is a stop that came
  // before the handlers were in place: it arrives now.
  sigprocmask(SIG_UNBLOCK, &taken, nullptr);
}

void Pump::LeaveStopSignalsToTheSystem() {
  for (const int s : kStopSignals)
    if (HandledHere(s)) std::signal(s, SIG_DFL);
  // A stop that came while the handlers were in place ends the process as it
  // would have without them.
  if (g_stopSignal && g_stopSignalNumber != 0) std::raise(g_stopSignalNumber);
}

bool Pump::StopSignalled() { return g_stopSignal != 0; }

void Pump::ClearStopSignal() {
  g_stopSignal = 0;
  g_stopDelivered = 0;
  g_stopSignalNumber = 0;
}

void Pump::RaiseStopSignal() { g_stopSignal = 1; }

void Pump::Run() {
  if (g_stopSignal && !g_stopDelivered) {
    g_stopDelivered = 1;
    if (OnStop) OnStop();
  }
  if (OnIdle) OnIdle();
}

}  // namespace tess::platform
