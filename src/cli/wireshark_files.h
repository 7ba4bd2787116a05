// The Wireshark files that mkptool installs, built into it so that
// `mkptool wireshark-install` works from a build folder as well.
#pragma once

#include <string>

namespace mkptool {

// data/wireshark/mkp.lua, the dissector.
extern const char* const MkpDissectorLua;

// The name of the launcher in Wireshark's extcap folder.
inline constexpr const char* ExtcapLauncherName = "mkptool-extcap";
// The launcher's text: a shell script that runs `MKPTOOL extcap`.
std::string ExtcapLauncher(const std::string& mkptool);

}  // namespace mkptool
