// mkptool: the command-line companion of mkpt, running the same engine headless.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "command.h"

namespace {

void PrintUsage(std::ostream& out) {
  out << "Usage: mkptool COMMAND [OPTIONS] [ARGS]\n"
         "The command-line companion of mkpt, the MKP protocol test bench.\n\n"
         "Commands:\n";
  auto commands = mkptool::Commands();
  std::sort(commands.begin(), commands.end(),
            [](const auto& a, const auto& b) { return a.Name < b.Name; });
  for (const auto& c : commands) {
    out << "  " << c.Name;
    for (std::size_t i = c.Name.size(); i < 12; ++i) out << ' ';
    out << c.Summary << "\n";
  }
  out << "\n`mkptool COMMAND --help` describes one command.\n"
         "Commands that take one input read standard input line by line when it\n"
         "is not given, and answer one line per input line.\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintUsage(std::cerr);
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintUsage(std::cout);
    return 0;
  }
  for (const auto& c : mkptool::Commands()) {
    if (c.Name == args[0]) {
      std::vector<std::string> rest(args.begin() + 1, args.end());
      if (mkptool::WantsHelp(rest)) {
        std::cout << c.Help;
        return 0;
      }
      int status = c.Run(rest);
      std::cout.flush();
      return status;
    }
  }
  std::cerr << "mkptool: unknown command '" << args[0] << "'\n";
  PrintUsage(std::cerr);
  return 2;
}
