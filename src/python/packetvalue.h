// A packet as the Python module keeps it: the header fields and just the data
// bytes it carries (the engine's record holds a whole data block).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/packet.h"

namespace mkpy {

struct TPacketValue {
  mkp::TVorelAddr Dst;
  mkp::TVorelAddr Src;
  std::uint8_t Command = 0;
  std::uint8_t DataType = 0;
  std::string Data;  // at most mkp::MaxDataLen bytes

  bool operator==(const TPacketValue& other) const {
    return Dst == other.Dst && Src == other.Src && Command == other.Command && DataType == other.DataType &&
           Data == other.Data;
  }

  // Fills a prepared record (InitPacket) from the value.
  void ToRecord(mkp::TMKPPacket& record) const;
  static TPacketValue FromRecord(const mkp::TMKPPacket& record);
};

// Six upper-case hex digits of an address ("010203").
std::string AddressHex(const mkp::TVorelAddr& address);

}  // namespace mkpy
