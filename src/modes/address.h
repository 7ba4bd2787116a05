// The bus address of the device that Registers mode talks to, as text: three
// decimal numbers joined by ".".
#pragma once

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

}  // namespace mkp
