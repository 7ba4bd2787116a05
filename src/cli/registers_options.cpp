#include "registers_options.h"

#include <charconv>

#include "modes/address.h"

namespace mkptool {

bool ExtractRegistersOptions(std::vector<std::string>& args, TRegistersOptions& options,
                             bool allowCycles, std::string& error) {
  std::vector<std::string> rest;
  bool onlyPositional = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    if (onlyPositional || name.size() < 2 || name[0] != '-') {
      rest.push_back(name);
      continue;
    }
    if (name == "--") {
      onlyPositional = true;
      continue;
    }
    std::string value;
    bool hasValue = false;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    if (name == "--panes" && allowCycles && !hasValue) {
      options.Panes = true;
      continue;
    }
    if (name != "--address" && !(name == "--cycles" && allowCycles)) {
      error = "unexpected option '" + args[i] + "'";
      return false;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (name == "--address") {
      // As the address dialog takes it: a part that is not a whole number is 255.
      options.DeviceAddress = mkp::SetAddressText(value);
    } else {
      long long cycles = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), cycles);
      if (value.empty() || ec != std::errc() || end != value.data() + value.size() || cycles <= 0) {
        error = "--cycles must be a positive whole number";
        return false;
      }
      options.Cycles = cycles;
    }
  }
  args = rest;
  return true;
}

}  // namespace mkptool
