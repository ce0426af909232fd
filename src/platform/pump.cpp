#include "platform/pump.h"

#include <csignal>

namespace tess::platform {

namespace {
// Written by the signal handler; the only state a handler may touch.
volatile std::sig_atomic_t g_stopSignal = 0;
volatile std::sig_atomic_t g_stopDelivered = 0;

extern "C" void OnStopSignal(int) { g_stopSignal = 1; }
}  // namespace

void Pump::InstallStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a read that blocks must return with EINTR so the stop
  // reaches the program instead of waiting for the read.
  sa.sa_flags = 0;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

bool Pump::StopSignalled() { return g_stopSignal != 0; }

void Pump::ClearStopSignal() {
  g_stopSignal = 0;
  g_stopDelivered = 0;
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
