// The bus address of the device that Registers mode talks to, as text: three
// decimal numbers joined by ".".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/packet.h"

namespace mkp {

// The address text "A.B.C" the bus address dialog makes of what it is given:
// the parts before the first and second "." and the rest, each without
// surrounding blanks; a part that is not a whole number becomes "255" (the
// range is not checked). "10.20" gives "10.20.255", "1.2.3.4" gives "1.2.255".
std::string SetAddressText(std::string_view text);

// Splits an address text at "." and stores its parts, read as integers, into
// the three bytes of the address (low 8 bits each), first part first. A part
// that is not an integer stops there: bytes already set stay set. Returns the
// number of bytes set.
int ApplyAddressText(std::string_view text, TVorelAddr& address);

// A bus address typed by the user: six hex digits, first byte first, as the
// packet text shows it ("0A0B0C"), or three whole numbers 0..255 joined by "."
// as the address dialog shows it ("10.11.12"); blanks at both ends ignored.
// None for anything else.
std::optional<TVorelAddr> ParseBusAddress(std::string_view text);
// "0A0B0C": the six hex digits of the packet text.
std::string BusAddressHex(const TVorelAddr& address);
// "10.11.12": the address dialog's form.
std::string BusAddressDotted(const TVorelAddr& address);
// The address as a number whose most significant byte is the first (the
// order in which the address text reads, and in which a range counts).
std::uint32_t BusAddressNumber(const TVorelAddr& address);
TVorelAddr BusAddressFromNumber(std::uint32_t number);

}  // namespace mkp
