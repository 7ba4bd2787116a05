// mkptool wireshark-install: puts the dissector and the extcap launcher into
// the user's own Wireshark folders, for an mkptool that is not installed.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "command.h"
#include "options.h"
#include "wireshark_files.h"

namespace mkptool {

namespace {

namespace fs = std::filesystem;

bool WriteFile(const fs::path& path, const std::string& text, fs::perms perms) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) {
    std::cerr << "mkptool wireshark-install: cannot make the folder " << path.parent_path().string() << ": "
              << ec.message() << "\n";
    return false;
  }
  const fs::path temporary = path.string() + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::cerr << "mkptool wireshark-install: cannot write " << temporary.string() << "\n";
      fs::remove(temporary, ec);
      return false;
    }
  }
  fs::permissions(temporary, perms, ec);
  if (!ec) fs::rename(temporary, path, ec);
  if (ec) {
    std::cerr << "mkptool wireshark-install: cannot write " << path.string() << ": " << ec.message() << "\n";
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

int RunWiresharkInstall(const std::vector<std::string>& arguments) {
  std::string plugins, extcap;
  TOptionTable table{
      {"--plugins", true, [&](const std::string& v, std::string&) { plugins = v; return true; }},
      {"--extcap", true, [&](const std::string& v, std::string&) { extcap = v; return true; }},
  };
  std::vector<std::string> words;
  if (!ReadOptions("wireshark-install", arguments, table, words)) return 2;
  if (!words.empty()) {
    std::cerr << "mkptool wireshark-install: unexpected argument '" << words[0] << "'\n";
    return 2;
  }
  const char* home = std::getenv("HOME");
  if ((plugins.empty() || extcap.empty()) && (home == nullptr || *home == '\0')) {
    std::cerr << "mkptool wireshark-install: HOME is not set: give --plugins and --extcap\n";
    return 2;
  }
  if (plugins.empty()) plugins = std::string(home) + "/.local/lib/wireshark/plugins";
  if (extcap.empty()) extcap = std::string(home) + "/.config/wireshark/extcap";
  std::error_code ec;
  const fs::path self = fs::canonical("/proc/self/exe", ec);
  if (ec) {
    std::cerr << "mkptool wireshark-install: cannot tell where this mkptool is: " << ec.message() << "\n";
    return 1;
  }
  const fs::perms readable = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                             fs::perms::others_read;
  const fs::path dissector = fs::path(plugins) / "mkp.lua";
  const fs::path launcher = fs::path(extcap) / ExtcapLauncherName;
  if (!WriteFile(dissector, MkpDissectorLua, readable)) return 1;
  if (!WriteFile(launcher, ExtcapLauncher(self.string()),
                 readable | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec))
    return 1;
  std::cout << "dissector:       " << dissector.string() << "\n"
            << "extcap launcher: " << launcher.string() << " (runs " << self.string() << ")\n";
  return 0;
}

const TCommandRegistrar registrar({
    "wireshark-install",
    "copy the MKP dissector and the extcap launcher into your Wireshark folders",
    "Usage: mkptool wireshark-install [--plugins DIR] [--extcap DIR]\n"
    "\n"
    "For an mkptool that is not installed from the package (which puts both\n"
    "files into Wireshark's global folders): copies the dissector mkp.lua into\n"
    "your personal Lua plugin folder and writes the launcher mkptool-extcap,\n"
    "which runs this very mkptool (`mkptool extcap`), into your personal extcap\n"
    "folder, replacing earlier copies. Wireshark and tshark started afterwards\n"
    "decode link type 147 as MKP and offer the live interface mkp.\n"
    "\n"
    "Options:\n"
    "  --plugins DIR  the Lua plugin folder (default ~/.local/lib/wireshark/plugins)\n"
    "  --extcap DIR   the extcap folder (default ~/.config/wireshark/extcap, the\n"
    "                 folder of Wireshark 4.0; Wireshark 4.2 and later read\n"
    "                 ~/.local/lib/wireshark/extcap)\n",
    RunWiresharkInstall,
});

}  // namespace

}  // namespace mkptool
