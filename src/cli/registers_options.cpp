#include "registers_options.h"

#include <charconv>

#include "modes/address.h"
#include "modes/device.h"

namespace mkptool {

void AddRegistersOptions(TOptionTable& table, TRegistersOptions& options, bool allowCycles) {
  table.push_back({"--address", true, [&options](const std::string& value, std::string&) {
                     // As the address dialog takes it: a part that is not a whole number is 255.
                     options.DeviceAddress = mkp::SetAddressText(value);
                     return true;
                   }});
  if (!allowCycles) return;
  table.push_back(Flag("--panes", options.Panes));
  table.push_back({"--cycles", true, [&options](const std::string& value, std::string& error) {
                     long long cycles = 0;
                     const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), cycles);
                     if (value.empty() || ec != std::errc() || end != value.data() + value.size() || cycles <= 0) {
                       error = "--cycles must be a positive whole number";
                       return false;
                     }
                     options.Cycles = cycles;
                     return true;
                   }});
}

std::optional<std::pair<int, std::string>> ReadAssignment(const std::string& text) {
  const auto eq = text.find('=');
  if (eq == std::string::npos) return std::nullopt;
  const auto reg = mkp::ParseInteger(text.substr(0, eq));
  if (!reg) return std::nullopt;
  return std::make_pair(*reg, text.substr(eq + 1));
}

}  // namespace mkptool
