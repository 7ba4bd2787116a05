// The options of mkptool's Registers mode commands (poll, write) besides the
// port and analyser options.
#pragma once

#include "options.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mkptool {

struct TRegistersOptions {
  std::string DeviceAddress;  // normalised "A.B.C", or empty
  long long Cycles = 0;       // 0: until stopped
  bool Panes = false;
};

// Adds --address A.B.C and, with allowCycles, --cycles N and --panes to a
// command's option table.
void AddRegistersOptions(TOptionTable& table, TRegistersOptions& options, bool allowCycles);

// "K=VALUE" of the commands that take register values: K read as an integer
// (any range) and the text after the first "=" as given; nothing when there is
// no "=" or K is not an integer.
std::optional<std::pair<int, std::string>> ReadAssignment(const std::string& text);

}  // namespace mkptool
