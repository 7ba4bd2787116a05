// mkptool table: loads a parse table (.rtb) and lists its entries.
#include <iostream>
#include <string>
#include <vector>

#include "analysis/parser.h"
#include "command.h"
#include "options.h"

namespace mkptool {

namespace {

int RunTable(const std::vector<std::string>& arguments) {
  std::vector<std::string> args;
  if (!ReadOptions("table", arguments, {}, args)) return 2;
  if (args.size() != 1) {
    std::cerr << "Usage: mkptool table FILE\n";
    return 2;
  }
  mkp::TMKPParser parser;
  const mkp::TLoadResult loaded = parser.LoadTable(args[0]);
  if (ReportNothingUsable("table", loaded)) return 2;
  // Command ascending, then register ascending: the lists are indexed by
  // command and hold registers 0.. in order.
  for (int command = 0; command < mkp::TMKPParser::CommandCount; ++command) {
    for (const auto& entry : parser.ParseTables[static_cast<std::size_t>(command)].Items()) {
      std::cout << command << ' ' << entry.Index << ' ' << entry.Code << ' '
                << static_cast<long long>(entry.Value) << ' ';
      PrintEngineText(std::cout, entry.Text);
      std::cout << '\n';
    }
  }
  std::cout.flush();
  if (!loaded) {
    std::cerr << "mkptool table: cannot load '" << args[0] << "'\n";
    return 1;
  }
  return 0;
}

const TCommandRegistrar registrar({
    "table",
    "load a parse table (.rtb) and list its entries",
    "Usage: mkptool table FILE\n"
    "\n"
    "Loads the parse table FILE as the analyser does and prints every entry,\n"
    "one line each, ordered by command and then register:\n"
    "  COMMAND REGISTER SUBIDX RANK MASK\n"
    "separated by single blanks. Registers that a statement skipped over hold\n"
    "the defaults (sub-index 1, rank 1, mask ASIS).\n"
    "\n"
    "Exit status 1 when the load fails (a missing file, or a COMMAND, REG,\n"
    "SUBIDX or RANK value that is not an integer); the entries loaded before the\n"
    "failing line are still printed. Exit status 2 when the file holds no\n"
    "statement that names a key and writes an entry (\"no parse table entries\n"
    "found\"): random bytes, a file of another kind, an empty file.\n",
    RunTable,
});

}  // namespace

}  // namespace mkptool
