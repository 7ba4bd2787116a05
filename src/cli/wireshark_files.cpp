#include "wireshark_files.h"

namespace mkptool {

std::string ExtcapLauncher(const std::string& mkptool) {
  std::string quoted = "'";
  for (char c : mkptool) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  return "#!/bin/sh\n"
         "# Wireshark's extcap launcher for mkptool: the live capture of MKP frames\n"
         "# on a serial port (interface mkp). See `mkptool extcap --help`.\n"
         "exec " + quoted + " extcap \"$@\"\n";
}

}  // namespace mkptool
