#include "limit_options.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>

namespace mkptool {

const char* const RunLimitOptionsHelp =
    "  --count N     stop after N valid frames\n"
    "  --seconds S   stop after S seconds (a decimal number)\n";

std::optional<std::chrono::steady_clock::time_point> TRunLimits::Deadline(
    std::chrono::steady_clock::time_point start) const {
  if (Seconds <= 0) return std::nullopt;
  return start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(Seconds));
}

void AddRunLimitOptions(TOptionTable& table, TRunLimits& limits) {
  table.push_back({"--count", true, [&limits](const std::string& value, std::string& error) {
                     long long count = 0;
                     auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), count);
                     if (value.empty() || ec != std::errc() || p != value.data() + value.size() || count <= 0) {
                       error = "--count must be a positive whole number";
                       return false;
                     }
                     limits.Count = count;
                     return true;
                   }});
  table.push_back({"--seconds", true, [&limits](const std::string& value, std::string& error) {
                     try {
                       std::size_t used = 0;
                       const double seconds = std::stod(value, &used);
                       if (used == value.size() && seconds > 0 && std::isfinite(seconds)) {
                         // Beyond a century the clock would overflow: no limit.
                         limits.Seconds = seconds > 100.0 * 365 * 24 * 3600 ? 0 : seconds;
                         return true;
                       }
                     } catch (const std::exception&) {
                     }
                     error = "--seconds must be a positive number";
                     return false;
                   }});
}

}  // namespace mkptool
