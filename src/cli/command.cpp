#include "command.h"

#include <iostream>
#include <string>

#include "text/cp1251.h"

namespace mkptool {

namespace {
std::vector<TCommand>& Registry() {
  static std::vector<TCommand> commands;
  return commands;
}
}  // namespace

TCommandRegistrar::TCommandRegistrar(TCommand command) { Registry().push_back(std::move(command)); }

const std::vector<TCommand>& Commands() { return Registry(); }

void PrintEngineText(std::ostream& out, const std::string& cp1251Text) {
  out << mkp::Cp1251ToUtf8(cp1251Text);
}

int RunBatch(const std::vector<std::string>& inputs,
             const std::function<std::string(const std::string& input)>& one) {
  bool failed = false;
  auto handle = [&](const std::string& utf8Input) {
    std::string input = mkp::Utf8ToCp1251(utf8Input);
    try {
      PrintEngineText(std::cout, one(input));
      std::cout << '\n';
    } catch (const TCaseError& e) {
      std::cout << "ERROR: ";
      PrintEngineText(std::cout, e.Reason);
      std::cout << '\n';
      failed = true;
    }
  };
  if (!inputs.empty()) {
    for (const auto& input : inputs) handle(input);
  } else {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      handle(line);
    }
  }
  std::cout.flush();
  return failed ? 1 : 0;
}

bool ReportNothingUsable(const std::string& command, const mkp::TLoadResult& result) {
  if (!result.NothingUsable()) return false;
  std::cerr << "mkptool " << command << ": " << result.Message() << std::endl;
  return true;
}

bool WantsHelp(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

}  // namespace mkptool
