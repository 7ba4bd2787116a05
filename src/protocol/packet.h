// The MKP packet record, its frame on the wire, the checksum and the packet
// text form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace mkp {

constexpr int MaxDataLen = 2048;

// The frame on the wire: the header (destination 3 bytes, source 3, command,
// data type, data length low and high byte) and its checksum, then, when the
// length is not 0, the data bytes and their checksum. Numbers are
// little-endian; a checksum covers the bytes before it back to the header's
// or the data's start.
namespace frame {
constexpr std::size_t DstOffset = 0;
constexpr std::size_t SrcOffset = 3;
constexpr std::size_t CommandOffset = 6;
constexpr std::size_t TypeOffset = 7;
constexpr std::size_t LengthOffset = 8;  // two bytes, low first
constexpr std::size_t HeaderBytes = 10;  // what the header checksum covers
constexpr std::size_t HeaderChecksumOffset = 10;
constexpr std::size_t ChecksumSize = 4;
constexpr std::size_t HeaderSize = HeaderBytes + ChecksumSize;  // 14
constexpr std::size_t DataOffset = HeaderSize;
// The frame length for a data length: the header alone without data, the
// data and its checksum after it otherwise.
constexpr std::size_t LengthFor(std::size_t dataLength) {
  return dataLength == 0 ? HeaderSize : HeaderSize + dataLength + ChecksumSize;
}
// The data length a header states (at least LengthOffset + 2 bytes given).
constexpr std::size_t StatedDataLength(const std::uint8_t* header) {
  return header[LengthOffset] + header[LengthOffset + 1] * 256u;
}
inline std::uint32_t ReadChecksum(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}
}  // namespace frame

constexpr int FrameBufferSize = static_cast<int>(frame::LengthFor(MaxDataLen));  // 2066

// Used inside the frame operations and the transport to abandon an operation;
// it never reaches their callers.
class EMKProtocolFailure : public std::runtime_error {
public:
  EMKProtocolFailure() : std::runtime_error("") {}
};

struct TVorelAddr {
  std::uint8_t Bytes[3] = {0, 0, 0};  // first, second, third
};

TVorelAddr MakeVorelAddr(std::uint8_t first, std::uint8_t second, std::uint8_t third);
// first + second * 256 + third * 65536
std::uint32_t VorelAddrToInt(const TVorelAddr& addr);
inline bool operator==(const TVorelAddr& a, const TVorelAddr& b) {
  return VorelAddrToInt(a) == VorelAddrToInt(b);
}

// Command codes.
constexpr std::uint8_t CmdAck = 1;
constexpr std::uint8_t CmdError = 3;
constexpr std::uint8_t CmdPing = 4;
constexpr std::uint8_t CmdRead = 6;
constexpr std::uint8_t CmdAnswer = 7;
constexpr std::uint8_t CmdWrite = 8;

struct TMKPPacket {
  TVorelAddr SrcAddr;
  TVorelAddr DstAddr;
  std::uint8_t Command = 0;
  std::uint8_t DataType = 0;
  std::int32_t DataLen = 0;  // 0..2048; the frame carries only the low 16 bits
  std::unique_ptr<std::uint8_t[]> Data;  // MaxDataLen bytes between InitPacket and DonePacket
};

// Zero fields and a new (uncleared) data block of MaxDataLen bytes.
void InitPacket(TMKPPacket& packet);
// Zero fields and the data block released.
void DonePacket(TMKPPacket& packet);

// A packet record prepared on construction and released on destruction.
struct TPacketHolder {
  TMKPPacket Packet;
  TPacketHolder() { InitPacket(Packet); }
  ~TPacketHolder() { DonePacket(Packet); }
  TPacketHolder(const TPacketHolder&) = delete;
  TPacketHolder& operator=(const TPacketHolder&) = delete;
  TMKPPacket* operator->() { return &Packet; }
  TMKPPacket& operator*() { return Packet; }
};

// Rotate-left-5 / exclusive-or over big-endian byte pairs; a range that does
// not fit the buffer, or a count of 0 or less, gives 0.
std::uint32_t ComputeChecksum(const std::uint8_t* buffer, long bufferLength, long start, long count);
// Builds the frame into a buffer of FrameBufferSize bytes; false without a
// buffer, or when the packet's data length lies outside 0..MaxDataLen (or it
// has data but no data block).
bool BuildFrame(const TMKPPacket& packet, std::uint8_t* frame, int& frameLength);
// The length of the frame that a packet's header announces: 14 bytes without
// data, the data length + 18 with it.
inline int FrameLength(const TMKPPacket& packet) {
  return static_cast<int>(frame::LengthFor(static_cast<std::size_t>(packet.DataLen)));
}
// Reads a frame buffer of FrameBufferSize bytes; false on a checksum mismatch
// or a data length above MaxDataLen (header fields may already be copied
// after a data checksum failure).
bool ParseFrame(const std::uint8_t* frame, TMKPPacket& packet);
// Where a frame could start at these bytes: Frame (with its length), None
// (these bytes start no frame: a length above MaxDataLen, a wrong header or
// data checksum), or More (it cannot be told yet).
enum class TFrameStart { Frame, None, More };
TFrameStart FrameStartAt(const std::uint8_t* bytes, std::size_t count, std::size_t& length);
// Whether bytes read from the line are the unfinished start of a frame: fewer
// than a header (they may still become one, unless their length field already
// exceeds MaxDataLen), or a header whose checksum is right and whose length
// announces more bytes than there are.
bool FrameUnfinished(const std::uint8_t* bytes, std::size_t count);

// "DDDDDD.SSSSSS.CC.TT.LLHH - " then each data byte and a blank.
std::string PacketToText(const TMKPPacket& packet);
bool SamePacket(const TMKPPacket& a, const TMKPPacket& b);

// Reads packet text (hex pairs with the separators blank . , - ( ) ignored)
// into a prepared record; false when it is not well-formed.
bool TextToPacket(std::string_view text, TMKPPacket& packet);
// True when the text is made of hexadecimal digits and the separators only,
// blanks and control characters at either end aside, with at least the 20
// digits of a header: what a file's packet cell looks like, well-formed or
// not yet (its data may still be short or long).
bool LooksLikePacketText(std::string_view text);

}  // namespace mkp
