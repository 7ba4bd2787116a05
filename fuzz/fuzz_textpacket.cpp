// TextToPacket on arbitrary text: never crashes, and what it reads prints back
// to a text that reads to the same packet.
#include <cstdint>
#include <string_view>

#include "protocol/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  mkp::TPacketHolder packet;
  if (mkp::TextToPacket(text, *packet)) {
    mkp::TPacketHolder again;
    if (!mkp::TextToPacket(mkp::PacketToText(*packet), *again)) __builtin_trap();
    if (!mkp::SamePacket(*packet, *again)) __builtin_trap();
  }
  return 0;
}
