// Capture files made byte by byte for tests: pcapng blocks and pcap records
// in either byte order, and MKP frames from their packet text.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/packet.h"

namespace mkptest {

using CaptureBytes = std::vector<std::uint8_t>;

// The frame of a packet text ("010203.0A0B0C.06.05.0100 - 01").
inline CaptureBytes FrameOfText(const std::string& text) {
  mkp::TPacketHolder packet;
  if (!mkp::TextToPacket(text, *packet)) return {};
  CaptureBytes frame(mkp::FrameBufferSize);
  int length = 0;
  mkp::BuildFrame(*packet, frame.data(), length);
  frame.resize(static_cast<std::size_t>(length));
  return frame;
}

class TCaptureBuilder {
public:
  explicit TCaptureBuilder(bool bigEndian = false) : big_(bigEndian) {}

  void U16(CaptureBytes& b, std::uint16_t v) const {
    if (big_) b.insert(b.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
    else b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
  }
  void U32(CaptureBytes& b, std::uint32_t v) const {
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (big_ ? 24 - 8 * i : 8 * i)));
  }
  static void Pad(CaptureBytes& b) {
    while (b.size() % 4 != 0) b.push_back(0);
  }
  void Option(CaptureBytes& b, std::uint16_t code, const CaptureBytes& value) const {
    U16(b, code);
    U16(b, static_cast<std::uint16_t>(value.size()));
    b.insert(b.end(), value.begin(), value.end());
    Pad(b);
  }
  CaptureBytes Block(std::uint32_t type, const CaptureBytes& body) const {
    CaptureBytes b;
    U32(b, type);
    U32(b, static_cast<std::uint32_t>(body.size() + 12));
    b.insert(b.end(), body.begin(), body.end());
    U32(b, static_cast<std::uint32_t>(body.size() + 12));
    return b;
  }
  CaptureBytes Section() const {
    CaptureBytes body;
    U32(body, 0x1A2B3C4D);
    U16(body, 1);
    U16(body, 0);
    U32(body, 0xFFFFFFFF);
    U32(body, 0xFFFFFFFF);
    return Block(0x0A0D0D0A, body);
  }
  CaptureBytes Interface(std::uint16_t linkType, const std::string& name = "", int tsresol = -1) const {
    CaptureBytes body;
    U16(body, linkType);
    U16(body, 0);
    U32(body, 0);
    if (!name.empty()) Option(body, 2, CaptureBytes(name.begin(), name.end()));
    if (tsresol >= 0) Option(body, 9, {std::uint8_t(tsresol)});
    U32(body, 0);
    return Block(1, body);
  }
  // flags: 1 inbound, 2 outbound, 0 none given.
  CaptureBytes Packet(std::uint32_t interface, std::uint64_t time, const CaptureBytes& data, std::uint32_t flags = 0,
                      const std::string& comment = "") const {
    CaptureBytes body;
    U32(body, interface);
    U32(body, std::uint32_t(time >> 32));
    U32(body, std::uint32_t(time));
    U32(body, static_cast<std::uint32_t>(data.size()));
    U32(body, static_cast<std::uint32_t>(data.size()));
    body.insert(body.end(), data.begin(), data.end());
    Pad(body);
    if (flags != 0) {
      CaptureBytes value;
      U32(value, flags);
      Option(body, 2, value);
    }
    if (!comment.empty()) Option(body, 1, CaptureBytes(comment.begin(), comment.end()));
    U32(body, 0);
    return Block(6, body);
  }
  // pcap: the file header and one record.
  CaptureBytes PcapHeader(std::uint32_t linkType, bool nanoseconds = false) const {
    CaptureBytes b;
    U32(b, nanoseconds ? 0xA1B23C4D : 0xA1B2C3D4);
    U16(b, 2);
    U16(b, 4);
    U32(b, 0);
    U32(b, 0);
    U32(b, 65535);
    U32(b, linkType);
    return b;
  }
  CaptureBytes PcapRecord(std::uint32_t seconds, std::uint32_t fraction, const CaptureBytes& data) const {
    CaptureBytes b;
    U32(b, seconds);
    U32(b, fraction);
    U32(b, static_cast<std::uint32_t>(data.size()));
    U32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
  }

private:
  bool big_;
};

inline CaptureBytes Joined(std::initializer_list<CaptureBytes> parts) {
  CaptureBytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

inline void WriteBytesTo(const std::string& path, const CaptureBytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace mkptest
