#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "protocol/packet.h"
#include "text/hextext.h"

using namespace mkp;

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<std::uint8_t> v;
  for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
  return v;
}

std::uint32_t Sum(const std::vector<std::uint8_t>& v) {
  return ComputeChecksum(v.data(), static_cast<long>(v.size()), 0, static_cast<long>(v.size()));
}

void Fill(TMKPPacket& p, std::initializer_list<int> data) {
  p.DataLen = static_cast<int>(data.size());
  int i = 0;
  for (int b : data) p.Data[i++] = static_cast<std::uint8_t>(b);
}

}  // namespace

TEST(Checksum, WorkedValues) {
  EXPECT_EQ(Sum(Bytes({0x61, 0x62, 0x63})), 0x6E43u);
  EXPECT_EQ(Sum(std::vector<std::uint8_t>(10, 0)), 0u);
  EXPECT_EQ(Sum(Bytes({0x05})), 5u);
  EXPECT_EQ(Sum(Bytes({0x12, 0x34})), 0x1234u);
  EXPECT_EQ(Sum(Bytes({0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03, 0x06, 0x01, 0x01, 0x00})), 0xA6B84D20u);
}

TEST(Checksum, RotationWrapsAndRangesOutsideTheBufferGiveZero) {
  // Seven pairs of FFFF rotate bits out of the top and back in at the bottom.
  std::vector<std::uint8_t> ones(14, 0xFF);
  std::uint32_t x = 0;
  for (int i = 0; i < 7; ++i) x = ((x << 5) | (x >> 27)) ^ 0xFFFFu;
  EXPECT_EQ(Sum(ones), x);
  auto v = Bytes({1, 2, 3});
  EXPECT_EQ(ComputeChecksum(v.data(), 3, 1, 3), 0u);  // runs past the end
  EXPECT_EQ(ComputeChecksum(v.data(), 3, 0, 0), 0u);
  EXPECT_EQ(ComputeChecksum(v.data(), 3, 0, -4), 0u);
  EXPECT_EQ(ComputeChecksum(v.data(), 3, 1, 2), 0x0203u);
  EXPECT_EQ(ComputeChecksum(nullptr, 0, 0, 1), 0u);
}

TEST(Frame, EmptyPacketAndRoundTrip) {
  TPacketHolder p;
  std::uint8_t frame[FrameBufferSize];
  std::memset(frame, 0xAA, sizeof frame);
  int len = -1;
  ASSERT_TRUE(BuildFrame(*p, frame, len));
  EXPECT_EQ(len, 14);
  for (int i = 0; i < FrameBufferSize; ++i) ASSERT_EQ(frame[i], 0) << i;
  TPacketHolder q;
  q->Command = 9;
  ASSERT_TRUE(ParseFrame(frame, *q));
  EXPECT_TRUE(SamePacket(*p, *q));
}

TEST(Frame, LayoutChecksumsAndFullSize) {
  TPacketHolder p;
  p->DstAddr = MakeVorelAddr(0x0A, 0x0B, 0x0C);
  p->SrcAddr = MakeVorelAddr(1, 2, 3);
  p->Command = 6;
  p->DataType = 1;
  Fill(*p, {0x12, 0x34});
  std::uint8_t frame[FrameBufferSize];
  int len = 0;
  ASSERT_TRUE(BuildFrame(*p, frame, len));
  ASSERT_EQ(len, 20);
  EXPECT_EQ(BytesToHexText(frame, sizeof frame, len),
            "0A 0B 0C 01 02 03 06 01 02 00 " + BytesToHexText(frame + 10, 4, 4) + "12 34 34 12 00 00 ");

  // One data byte: the data checksum is that byte.
  Fill(*p, {0x05});
  ASSERT_TRUE(BuildFrame(*p, frame, len));
  EXPECT_EQ(len, 19);
  EXPECT_EQ(BytesToHexText(frame + 15, 4, 4), "05 00 00 00 ");

  // The largest packet fills the whole buffer; its data checksum ends it.
  p->DataLen = MaxDataLen;
  for (int i = 0; i < MaxDataLen; ++i) p->Data[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(BuildFrame(*p, frame, len));
  EXPECT_EQ(len, FrameBufferSize);
  const std::uint32_t sum = ComputeChecksum(frame, FrameBufferSize, 14, MaxDataLen);
  EXPECT_EQ(frame[2062], sum & 0xFF);
  EXPECT_EQ(frame[2065], sum >> 24);
  TPacketHolder q;
  ASSERT_TRUE(ParseFrame(frame, *q));
  EXPECT_TRUE(SamePacket(*p, *q));
}

TEST(Frame, BadLengthsAreRefusedWithoutTouchingMemory) {
  TPacketHolder p;
  std::uint8_t frame[FrameBufferSize];
  int len = 5;
  std::memset(frame, 0x11, sizeof frame);
  p->DataLen = MaxDataLen + 1;
  EXPECT_FALSE(BuildFrame(*p, frame, len));
  p->DataLen = -1;
  EXPECT_FALSE(BuildFrame(*p, frame, len));
  EXPECT_EQ(frame[0], 0x11);  // untouched
  p->DataLen = 0;
  EXPECT_FALSE(BuildFrame(*p, nullptr, len));
  EXPECT_FALSE(ParseFrame(nullptr, *p));
}

TEST(Frame, EveryCorruptedByteIsDetected) {
  TPacketHolder p;
  p->DstAddr = MakeVorelAddr(1, 2, 3);
  p->SrcAddr = MakeVorelAddr(4, 5, 6);
  p->Command = 7;
  p->DataType = 5;
  Fill(*p, {0x34, 0x12, 0x99});
  std::uint8_t frame[FrameBufferSize];
  int len = 0;
  ASSERT_TRUE(BuildFrame(*p, frame, len));
  for (int i = 0; i < len; ++i) {
    std::uint8_t bad[FrameBufferSize];
    std::memcpy(bad, frame, sizeof bad);
    bad[i] ^= 0x40;
    TPacketHolder q;
    q->Command = 0x55;
    EXPECT_FALSE(ParseFrame(bad, *q)) << "byte " << i;
    if (i < 14) {
      EXPECT_EQ(q->Command, 0x55) << "header failure leaves the packet untouched";
    } else {
      EXPECT_EQ(q->Command, 7) << "data failure comes after the header was copied";
    }
  }
}

TEST(Frame, ZeroLengthIgnoresTrailingBytesAndOverlongLengthFails) {
  std::uint8_t frame[FrameBufferSize] = {};
  frame[20] = 0x77;  // beyond offset 13
  TPacketHolder q;
  std::memset(q->Data.get(), 0x5A, MaxDataLen);
  EXPECT_TRUE(ParseFrame(frame, *q));
  EXPECT_EQ(q->Data[0], 0x5A);  // data block left as it was

  frame[8] = 0x01;
  frame[9] = 0x08;  // 2049
  const std::uint32_t sum = ComputeChecksum(frame, FrameBufferSize, 0, 10);
  for (int k = 0; k < 4; ++k) frame[10 + k] = static_cast<std::uint8_t>(sum >> (8 * k));
  EXPECT_FALSE(ParseFrame(frame, *q));
}

TEST(Frame, RandomPacketsRoundTrip) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    TPacketHolder p;
    p->DstAddr = MakeVorelAddr(rng(), rng(), rng());
    p->SrcAddr = MakeVorelAddr(rng(), rng(), rng());
    p->Command = static_cast<std::uint8_t>(rng());
    p->DataType = static_cast<std::uint8_t>(rng());
    p->DataLen = static_cast<int>(rng() % (MaxDataLen + 1));
    for (int i = 0; i < p->DataLen; ++i) p->Data[i] = static_cast<std::uint8_t>(rng());
    std::uint8_t frame[FrameBufferSize];
    int len = 0;
    ASSERT_TRUE(BuildFrame(*p, frame, len));
    EXPECT_EQ(len, p->DataLen ? p->DataLen + 18 : 14);
    TPacketHolder q;
    ASSERT_TRUE(ParseFrame(frame, *q));
    ASSERT_TRUE(SamePacket(*p, *q));
    // The text form reads back to the same packet.
    TPacketHolder r;
    ASSERT_TRUE(TextToPacket(PacketToText(*p), *r));
    ASSERT_TRUE(SamePacket(*p, *r));
  }
}

TEST(PacketText, Form) {
  TPacketHolder p;
  p->DstAddr = MakeVorelAddr(0x0A, 0x0B, 0x0C);
  p->SrcAddr = MakeVorelAddr(1, 2, 3);
  p->Command = 6;
  p->DataType = 1;
  EXPECT_EQ(PacketToText(*p), "0A0B0C.010203.06.01.0000 - ");
  Fill(*p, {0x05});
  EXPECT_EQ(PacketToText(*p), "0A0B0C.010203.06.01.0100 - 05 ");
  p->DataLen = 0x1FF;
  EXPECT_EQ(PacketToText(*p).substr(0, 27), "0A0B0C.010203.06.01.FF01 - ");
}

TEST(PacketText, SamePacketRules) {
  TPacketHolder a, b;
  Fill(*a, {1, 2, 3});
  Fill(*b, {1, 2, 3});
  a->Data[5] = 1;
  b->Data[5] = 2;  // beyond DataLen: ignored
  EXPECT_TRUE(SamePacket(*a, *b));
  b->DataType = 1;
  EXPECT_FALSE(SamePacket(*a, *b));
  b->DataType = 0;
  b->Data[2] = 4;
  EXPECT_FALSE(SamePacket(*a, *b));
  b->Data[2] = 3;
  b->DataLen = 2;
  EXPECT_FALSE(SamePacket(*a, *b));
  b->DataLen = 3;
  b->SrcAddr = MakeVorelAddr(0, 0, 1);
  EXPECT_FALSE(SamePacket(*a, *b));
}

TEST(PacketText, TextToPacketReadsTypedAndLoggedForms) {
  TPacketHolder a, b;
  ASSERT_TRUE(TextToPacket("01 02 03 0a 0b 0c 06 01 00 00", *a));
  ASSERT_TRUE(TextToPacket("  010203.0A0B0C.06.01.0000 - ", *b));
  EXPECT_TRUE(SamePacket(*a, *b));
  EXPECT_EQ(a->DstAddr.Bytes[0], 1);
  EXPECT_EQ(a->SrcAddr.Bytes[2], 0x0C);

  ASSERT_TRUE(TextToPacket("010203.0A0B0C.06.01.0100 - 05", *a));
  EXPECT_EQ(a->DataLen, 1);
  EXPECT_EQ(a->Data[0], 5);
  ASSERT_TRUE(TextToPacket("(01,02,03)-(0A,0B,0C)-06-01-0200-AB cd", *a));
  EXPECT_EQ(a->Data[1], 0xCD);

  ASSERT_TRUE(TextToPacket("ZZ0203.0A0B0C.06.01.0000", *a));
  EXPECT_EQ(a->DstAddr.Bytes[0], 0);
}

TEST(PacketText, TextToPacketRefusesMalformedText) {
  TPacketHolder a;
  EXPECT_FALSE(TextToPacket("", *a));
  EXPECT_FALSE(TextToPacket(" - . ", *a));
  EXPECT_FALSE(TextToPacket("010203.0A0B0C.06.01.01", *a));     // 18 digits
  EXPECT_FALSE(TextToPacket("010203.0A0B0C.06.01.0000 5", *a));  // 21 digits
  EXPECT_FALSE(TextToPacket("010203.0A0B0C.06.01.0100", *a));    // length 1, no data
  EXPECT_FALSE(TextToPacket("010203.0A0B0C.06.01.0000 - 05", *a));  // data beyond length
  // A length beyond the data block fails even when the digits are there.
  std::string big = "010203.0A0B0C.06.01.0108";
  big += std::string(2049 * 2, '0');
  EXPECT_FALSE(TextToPacket(big, *a));
  std::string max = "010203.0A0B0C.06.01.0008";
  max += std::string(2048 * 2, 'F');
  EXPECT_TRUE(TextToPacket(max, *a));
  EXPECT_EQ(a->DataLen, 2048);
}
