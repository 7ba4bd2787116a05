// ParseFrame on arbitrary bytes: never reads or writes out of bounds, and a
// frame that parses builds back to the same header and data.
#include <cstdint>
#include <cstring>

#include "protocol/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t frame[mkp::FrameBufferSize] = {};
  std::memcpy(frame, data, size < sizeof frame ? size : sizeof frame);
  mkp::TPacketHolder packet;
  if (mkp::ParseFrame(frame, *packet)) {
    std::uint8_t again[mkp::FrameBufferSize];
    int length = 0;
    if (!mkp::BuildFrame(*packet, again, length)) __builtin_trap();
    if (std::memcmp(again, frame, static_cast<std::size_t>(length)) != 0) __builtin_trap();
    (void)mkp::PacketToText(*packet);
  }
  return 0;
}
