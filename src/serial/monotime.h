// The monotonic clock by which the line's bytes and the pane lines are timed.
#pragma once

#include <chrono>

namespace mkp {

using TMonoClock = std::chrono::steady_clock;
using TMonoTime = TMonoClock::time_point;

}  // namespace mkp
