// Write packets of Registers mode: a register's write template filled with
// the values of the registers table, and the bytes a value is written as.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/packet.h"

namespace mkp {

class TRegistersTable;

// Fills a packet record prepared with InitPacket from a write template (packet
// text whose data part may hold placeholders "%row%" or "%row:TT%", TT a type
// code in hexadecimal) and the values of the registers table. The header is
// taken as written, the data length included; data bytes the template does
// not produce are zero. False only for a template that is empty or shorter
// than a header once the separators are removed.
bool FillWritePacket(const std::string& writeTemplate, TMKPPacket& packet,
                     const TRegistersTable& table);

// The bytes that a write template writes for a value text of the given type
// code (BYTE, WORD, L_SINGLE, ...); nothing for a type it does not know.
std::vector<std::uint8_t> EncodeRegisterValue(int type, const std::string& value);

}  // namespace mkp
