// mkptool's commands. Each command lives in its own file and registers itself
// with a static TCommandRegistrar, so main.cpp never needs editing.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "text/loadresult.h"

namespace mkptool {

struct TCommand {
  std::string Name;
  std::string Summary;  // one line for `mkptool --help`
  std::string Help;     // the whole text for `mkptool NAME --help`
  // Arguments after the command name; returns the exit status.
  std::function<int(const std::vector<std::string>&)> Run;
};

struct TCommandRegistrar {
  explicit TCommandRegistrar(TCommand command);
};

const std::vector<TCommand>& Commands();

// Writes engine text (Windows-1251) to the stream as UTF-8.
void PrintEngineText(std::ostream& out, const std::string& cp1251Text);

// Batch mode: with an input argument, runs `one` once on it; with none, runs it
// on every line of standard input (UTF-8 in, a trailing CR dropped). `one`
// returns the output line (engine text) or throws TCaseError for a failed case,
// which prints "ERROR: " and the reason. Returns 1 when any case failed.
struct TCaseError {
  std::string Reason;
};
int RunBatch(const std::vector<std::string>& inputs,
             const std::function<std::string(const std::string& input)>& one);

// A file that yielded nothing usable: prints "mkptool COMMAND: FILE: no ...
// found" on standard error and gives true (the command then exits with
// status 2). False for any other result.
bool ReportNothingUsable(const std::string& command, const mkp::TLoadResult& result);

// True when args holds "--help" or "-h".
bool WantsHelp(const std::vector<std::string>& args);

}  // namespace mkptool
