// --count N and --seconds S: how long a receiving command runs.
#pragma once

#include <chrono>
#include <optional>

#include "options.h"

namespace mkptool {

struct TRunLimits {
  long long Count = 0;  // 0: no limit
  double Seconds = 0;   // 0: no limit

  // The moment to stop, counted from start; none without --seconds.
  std::optional<std::chrono::steady_clock::time_point> Deadline(std::chrono::steady_clock::time_point start) const;
};

void AddRunLimitOptions(TOptionTable& table, TRunLimits& limits);

extern const char* const RunLimitOptionsHelp;

}  // namespace mkptool
