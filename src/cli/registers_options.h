// The options of mkptool's Registers mode commands (poll, write) besides the
// port and analyser options.
#pragma once

#include <string>
#include <vector>

namespace mkptool {

struct TRegistersOptions {
  std::string DeviceAddress;  // normalised "A.B.C", or empty
  long long Cycles = 0;       // 0: until stopped
  bool Panes = false;
};

// Removes --address A.B.C (and, with allowCycles, --cycles N and --panes)
// from args ("--opt=value" works too). What is left must be positional: any
// other option is an error. False with a message in error.
bool ExtractRegistersOptions(std::vector<std::string>& args, TRegistersOptions& options,
                             bool allowCycles, std::string& error);

}  // namespace mkptool
