#include "protocol/packet.h"

#include <algorithm>
#include <cstring>

#include "text/hextext.h"

namespace mkp {

TVorelAddr MakeVorelAddr(std::uint8_t first, std::uint8_t second, std::uint8_t third) {
  TVorelAddr a;
  a.Bytes[0] = first;
  a.Bytes[1] = second;
  a.Bytes[2] = third;
  return a;
}

std::uint32_t VorelAddrToInt(const TVorelAddr& addr) {
  return addr.Bytes[0] + addr.Bytes[1] * 256u + addr.Bytes[2] * 65536u;
}

void InitPacket(TMKPPacket& packet) {
  packet.SrcAddr = TVorelAddr{};
  packet.DstAddr = TVorelAddr{};
  packet.Command = 0;
  packet.DataType = 0;
  packet.DataLen = 0;
  // The contents of a new data block are not cleared.
  packet.Data.reset(new std::uint8_t[MaxDataLen]);
}

void DonePacket(TMKPPacket& packet) {
  packet.SrcAddr = TVorelAddr{};
  packet.DstAddr = TVorelAddr{};
  packet.Command = 0;
  packet.DataType = 0;
  packet.DataLen = 0;
  packet.Data.reset();
}

std::uint32_t ComputeChecksum(const std::uint8_t* buffer, long bufferLength, long start, long count) {
  if (buffer == nullptr || start < 0 || count <= 0) return 0;
  if (start + count > bufferLength) return 0;
  std::uint32_t x = 0;
  long i = start;
  const long end = start + count;
  if (count % 2 == 1) {
    x = buffer[start];
    i = start + 1;
  }
  for (; i < end; i += 2) {
    const std::uint32_t pair = static_cast<std::uint32_t>(buffer[i]) << 8 | buffer[i + 1];
    x = ((x << 5) | (x >> 27)) ^ pair;
  }
  return x;
}

namespace {

void PutLE32(std::uint8_t* at, std::uint32_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  at[2] = static_cast<std::uint8_t>(v >> 16);
  at[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace

bool BuildFrame(const TMKPPacket& packet, std::uint8_t* frame, int& frameLength) {
  frameLength = 0;
  if (frame == nullptr) return false;
  // A length the data block cannot hold would read past it and write past the
  // frame buffer: refuse it before touching anything.
  if (packet.DataLen < 0 || packet.DataLen > MaxDataLen) return false;
  if (packet.DataLen > 0 && !packet.Data) return false;
  std::memset(frame, 0, FrameBufferSize);
  using namespace frame;
  std::memcpy(frame + DstOffset, packet.DstAddr.Bytes, 3);
  std::memcpy(frame + SrcOffset, packet.SrcAddr.Bytes, 3);
  frame[CommandOffset] = packet.Command;
  frame[TypeOffset] = packet.DataType;
  frame[LengthOffset] = static_cast<std::uint8_t>(packet.DataLen & 0xFF);
  frame[LengthOffset + 1] = static_cast<std::uint8_t>((packet.DataLen >> 8) & 0xFF);
  PutLE32(frame + HeaderChecksumOffset, ComputeChecksum(frame, FrameBufferSize, 0, HeaderBytes));
  if (packet.DataLen != 0) {
    std::memcpy(frame + DataOffset, packet.Data.get(), static_cast<std::size_t>(packet.DataLen));
    PutLE32(frame + DataOffset + packet.DataLen,
            ComputeChecksum(frame, FrameBufferSize, DataOffset, packet.DataLen));
  }
  frameLength = FrameLength(packet);
  return true;
}

bool ParseFrame(const std::uint8_t* frame, TMKPPacket& packet) {
  if (frame == nullptr) return false;
  using namespace frame;
  if (ComputeChecksum(frame, FrameBufferSize, 0, HeaderBytes) != ReadChecksum(frame + HeaderChecksumOffset)) return false;
  std::memcpy(packet.DstAddr.Bytes, frame + DstOffset, 3);
  std::memcpy(packet.SrcAddr.Bytes, frame + SrcOffset, 3);
  packet.Command = frame[CommandOffset];
  packet.DataType = frame[TypeOffset];
  packet.DataLen = static_cast<std::int32_t>(StatedDataLength(frame));
  if (packet.DataLen == 0) return true;
  if (packet.DataLen > MaxDataLen) return false;
  if (ComputeChecksum(frame, FrameBufferSize, DataOffset, packet.DataLen) !=
      ReadChecksum(frame + DataOffset + packet.DataLen))
    return false;
  if (!packet.Data) return false;  // a record that was never prepared
  std::memcpy(packet.Data.get(), frame + DataOffset, static_cast<std::size_t>(packet.DataLen));
  return true;
}

TFrameStart FrameStartAt(const std::uint8_t* bytes, std::size_t count, std::size_t& length) {
  using namespace frame;
  if (count < LengthOffset + 2) return TFrameStart::More;
  const std::size_t dataLength = StatedDataLength(bytes);
  if (dataLength > static_cast<std::size_t>(MaxDataLen)) return TFrameStart::None;
  if (count < HeaderSize) return TFrameStart::More;
  if (ComputeChecksum(bytes, static_cast<long>(HeaderSize), 0, HeaderBytes) !=
      ReadChecksum(bytes + HeaderChecksumOffset))
    return TFrameStart::None;
  const std::size_t need = LengthFor(dataLength);
  if (count < need) return TFrameStart::More;
  if (dataLength > 0 && ComputeChecksum(bytes, static_cast<long>(need), static_cast<long>(DataOffset),
                                        static_cast<long>(dataLength)) != ReadChecksum(bytes + DataOffset + dataLength))
    return TFrameStart::None;
  length = need;
  return TFrameStart::Frame;
}

bool FrameUnfinished(const std::uint8_t* bytes, std::size_t count) {
  std::size_t length = 0;
  return FrameStartAt(bytes, count, length) == TFrameStart::More;
}

std::string PacketToText(const TMKPPacket& packet) {
  static const char digits[] = "0123456789ABCDEF";
  const int len = packet.Data ? std::clamp(packet.DataLen, 0, MaxDataLen) : 0;
  std::string text;
  text.reserve(27 + 3 * static_cast<std::size_t>(len));
  auto put = [&](std::uint8_t b) {
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 15]);
  };
  for (auto b : packet.DstAddr.Bytes) put(b);
  text.push_back('.');
  for (auto b : packet.SrcAddr.Bytes) put(b);
  text.push_back('.');
  put(packet.Command);
  text.push_back('.');
  put(packet.DataType);
  text.push_back('.');
  put(static_cast<std::uint8_t>(packet.DataLen & 0xFF));
  put(static_cast<std::uint8_t>((packet.DataLen >> 8) & 0xFF));
  text += " - ";
  for (int i = 0; i < len; ++i) {
    put(packet.Data[i]);
    text.push_back(' ');
  }
  return text;
}

bool SamePacket(const TMKPPacket& a, const TMKPPacket& b) {
  if (VorelAddrToInt(a.SrcAddr) != VorelAddrToInt(b.SrcAddr)) return false;
  if (VorelAddrToInt(a.DstAddr) != VorelAddrToInt(b.DstAddr)) return false;
  if (a.Command != b.Command || a.DataType != b.DataType || a.DataLen != b.DataLen) return false;
  if (a.DataLen <= 0) return true;
  if (a.DataLen > MaxDataLen || !a.Data || !b.Data) return false;
  return std::memcmp(a.Data.get(), b.Data.get(), static_cast<std::size_t>(a.DataLen)) == 0;
}

namespace {

bool IsPacketSeparator(char c) {
  return c == ' ' || c == '.' || c == ',' || c == '-' || c == '(' || c == ')';
}

}  // namespace

bool LooksLikePacketText(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  std::size_t digits = 0;
  for (const char c : text) {
    if (IsPacketSeparator(c)) continue;
    if (HexDigitValue(c) < 0) return false;
    ++digits;
  }
  return digits >= 20;
}

bool TextToPacket(std::string_view text, TMKPPacket& packet) {
  // Blanks and control characters at either end are trimmed off, separators
  // anywhere are dropped; what is left is read as digit pairs. The text is
  // read in place: one pass counts the digits, one reads the pairs.
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  std::size_t digits = 0;
  for (char c : text) digits += IsPacketSeparator(c) ? 0 : 1;
  if (digits == 0 || digits % 2 != 0 || digits < 20) return false;
  const std::size_t dataBytes = (digits - 20) / 2;

  std::size_t pos = 0;
  auto nextByte = [&] {
    char pair[2];
    for (char& c : pair) {
      while (IsPacketSeparator(text[pos])) ++pos;
      c = text[pos++];
    }
    const int high = HexDigitValue(pair[0]);
    const int low = HexDigitValue(pair[1]);
    if (high >= 0 && low >= 0) return static_cast<std::uint8_t>(high * 16 + low);
    return HexToByte(std::string_view(pair, 2));
  };
  for (int i = 0; i < 3; ++i) packet.DstAddr.Bytes[i] = nextByte();
  for (int i = 0; i < 3; ++i) packet.SrcAddr.Bytes[i] = nextByte();
  packet.Command = nextByte();
  packet.DataType = nextByte();
  const std::uint8_t low = nextByte();
  packet.DataLen = low + nextByte() * 256;
  if (dataBytes != static_cast<std::size_t>(packet.DataLen)) return false;
  if (packet.DataLen > MaxDataLen) return false;
  if (packet.DataLen > 0 && !packet.Data) return false;
  for (int i = 0; i < packet.DataLen; ++i) packet.Data[i] = nextByte();
  return true;
}

}  // namespace mkp
