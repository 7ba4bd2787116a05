// What a benchmark tool's process holds in memory, in MiB.
#pragma once

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace mkpbench {

// The resident set now.
inline double ResidentMiB() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The largest resident set so far.
inline double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

}  // namespace mkpbench
