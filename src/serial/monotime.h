// The monotonic clock by which the line's bytes and the pane lines are timed.
#pragma once

#include <chrono>
#include <ctime>

namespace mkp {

using TMonoClock = std::chrono::steady_clock;
using TMonoTime = TMonoClock::time_point;

// A wait for the system's timed calls (ppoll); a negative one is no wait.
inline timespec ToTimespec(std::chrono::nanoseconds wait) {
  if (wait.count() < 0) wait = std::chrono::nanoseconds(0);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
  ts.tv_nsec = static_cast<long>(wait.count() % 1000000000);
  return ts;
}

}  // namespace mkp
