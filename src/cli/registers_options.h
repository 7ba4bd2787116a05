// The options of mkptool's Registers mode commands (poll, write) besides the
// port and analyser options.
#pragma once

#include "options.h"

#include <string>
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

}  // namespace mkptool
