#include "modes/address.h"

#include "modes/device.h"
#include "text/textcut.h"

namespace mkp {

namespace {
std::string WholeNumberOr255(const std::string& part) {
  return ParseInteger(part) ? part : std::string("255");
}
}  // namespace

std::string SetAddressText(std::string_view text) {
  std::string rest(text);
  const std::string a = Trim(TextBefore(rest, "."));
  DropThrough(rest, ".");
  const std::string b = Trim(TextBefore(rest, "."));
  DropThrough(rest, ".");
  const std::string c = Trim(rest);
  return WholeNumberOr255(a) + "." + WholeNumberOr255(b) + "." + WholeNumberOr255(c);
}

int ApplyAddressText(std::string_view text, TVorelAddr& address) {
  std::string rest(text);
  int set = 0;
  for (std::uint8_t& byte : address.Bytes) {
    const std::string part = TextBefore(rest, ".");
    DropThrough(rest, ".");
    const auto number = ParseInteger(part);
    if (!number) break;
    byte = static_cast<std::uint8_t>(*number);
    ++set;
  }
  return set;
}

}  // namespace mkp
