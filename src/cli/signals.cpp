#include "signals.h"

#include <atomic>
#include <csignal>

namespace mkptool {

namespace {

std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag must be usable in a signal handler");

extern "C" void OnStopSignal(int) { stopFlag.store(true); }

}  // namespace

void InstallStopSignals() {
  stopFlag.store(false);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() { return stopFlag.load(); }

void RequestStop() { stopFlag.store(true); }

}  // namespace mkptool
