#include "modes/address.h"

#include <cctype>

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

std::optional<TVorelAddr> ParseBusAddress(std::string_view text) {
  const std::string t = Trim(std::string(text));
  TVorelAddr address;
  if (t.find('.') == std::string::npos) {
    if (t.size() != 6) return std::nullopt;
    for (int i = 0; i < 3; ++i) {
      const std::string pair = t.substr(static_cast<std::size_t>(2 * i), 2);
      if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
        return std::nullopt;
      address.Bytes[i] = static_cast<std::uint8_t>(std::stoi(pair, nullptr, 16));
    }
    return address;
  }
  std::string rest = t;
  for (int i = 0; i < 3; ++i) {
    const std::size_t dot = rest.find('.');
    if ((i < 2) != (dot != std::string::npos)) return std::nullopt;
    const std::string part = Trim(rest.substr(0, dot));
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    const int value = std::stoi(part);
    if (value > 255) return std::nullopt;
    address.Bytes[i] = static_cast<std::uint8_t>(value);
    rest = dot == std::string::npos ? std::string() : rest.substr(dot + 1);
  }
  return address;
}

std::string BusAddressHex(const TVorelAddr& address) {
  static const char* const digits = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t b : address.Bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

std::string BusAddressDotted(const TVorelAddr& address) {
  return std::to_string(address.Bytes[0]) + "." + std::to_string(address.Bytes[1]) + "." +
         std::to_string(address.Bytes[2]);
}

std::uint32_t BusAddressNumber(const TVorelAddr& address) {
  return static_cast<std::uint32_t>(address.Bytes[0]) << 16 | static_cast<std::uint32_t>(address.Bytes[1]) << 8 |
         address.Bytes[2];
}

TVorelAddr BusAddressFromNumber(std::uint32_t number) {
  return MakeVorelAddr(static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 8),
                       static_cast<std::uint8_t>(number));
}

}  // namespace mkp
