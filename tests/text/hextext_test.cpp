#include "text/hextext.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace mkp {
namespace {

TEST(HexTextTest, ByteToHexKeepsTwoUpperCaseDigits) {
  EXPECT_EQ(ByteToHex(0), "00");
  EXPECT_EQ(ByteToHex(5), "05");
  EXPECT_EQ(ByteToHex(26), "1A");
  EXPECT_EQ(ByteToHex(255), "FF");
  for (int b = 0; b < 256; ++b) {
    const std::string hex = ByteToHex(static_cast<std::uint8_t>(b));
    ASSERT_EQ(hex.size(), 2u);
    EXPECT_EQ(HexToByte(hex), b) << hex;
  }
}

TEST(HexTextTest, HexToByteReadsOnlyTheFirstTwoDigitsOrGivesZero) {
  EXPECT_EQ(HexToByte(" ff "), 255);
  EXPECT_EQ(HexToByte("\tff\r\n"), 255);
  EXPECT_EQ(HexToByte("1f"), 0x1F);
  EXPECT_EQ(HexToByte("1F3"), 0x1F);
  EXPECT_EQ(HexToByte("F"), 0);
  EXPECT_EQ(HexToByte("5"), 0);
  EXPECT_EQ(HexToByte(""), 0);
  EXPECT_EQ(HexToByte("   "), 0);
  EXPECT_EQ(HexToByte("0x"), 0);
  EXPECT_EQ(HexToByte("9Z"), 0);
  EXPECT_EQ(HexToByte("G1"), 0);
  EXPECT_EQ(HexToByte("\xC0\xC1"), 0);  // high bytes are not digits
}

TEST(HexTextTest, DecPairToByteIsBinaryCodedDecimal) {
  EXPECT_EQ(DecPairToByte("99"), 99);
  EXPECT_EQ(DecPairToByte("42"), 42);
  EXPECT_EQ(DecPairToByte("A5"), 105);
  EXPECT_EQ(DecPairToByte("FF"), 165);
  EXPECT_EQ(DecPairToByte(" 07 "), 7);
  EXPECT_EQ(DecPairToByte("7"), 0);
  EXPECT_EQ(DecPairToByte("x1"), 0);
}

TEST(HexTextTest, BytesToHexTextClampsTheCount) {
  const std::uint8_t bytes[] = {0x01, 0xA0, 0xFF};
  EXPECT_EQ(BytesToHexText(bytes, 3, 3), "01 A0 FF ");
  EXPECT_EQ(BytesToHexText(bytes, 3, 2), "01 A0 ");
  EXPECT_EQ(BytesToHexText(bytes, 3, 0), "");
  EXPECT_EQ(BytesToHexText(bytes, 3, -4), "");
  EXPECT_EQ(BytesToHexText(bytes, 3, 100), "01 A0 FF ");
  EXPECT_EQ(BytesToHexText(nullptr, 0, 5), "");
}

TEST(HexTextTest, ZeroAndSwapStayInsideTheArray) {
  std::array<std::uint8_t, 6> buf{1, 2, 3, 4, 5, 6};
  ZeroBytes(buf.data(), 3);  // last index, not a length
  EXPECT_EQ(buf, (std::array<std::uint8_t, 6>{0, 0, 0, 0, 5, 6}));

  std::array<std::uint8_t, 3> a{10, 20, 30};
  SwapBytes(0, 2, a.data(), a.size());
  EXPECT_EQ(a, (std::array<std::uint8_t, 3>{30, 20, 10}));
  SwapBytes(0, 3, a.data(), a.size());
  SwapBytes(-1, 1, a.data(), a.size());
  EXPECT_EQ(a, (std::array<std::uint8_t, 3>{30, 20, 10}));
}

TEST(HexTextTest, BigEndianSinglesAndTheirNaNFlag) {
  double v = -1;
  bool noValue = true;
  BytesToSingleBE({0x3F, 0x80, 0x00, 0x00}, v, noValue);
  EXPECT_EQ(v, 1.0);
  EXPECT_FALSE(noValue);

  BytesToSingleBE({0x7F, 0xC0, 0x00, 0x00}, v, noValue);
  EXPECT_TRUE(noValue);
  EXPECT_EQ(v, 0.0);
  BytesToSingleBE({0xFF, 0x80, 0x00, 0x01}, v, noValue);  // lowest mantissa bit only
  EXPECT_TRUE(noValue);

  BytesToSingleBE({0x7F, 0x80, 0x00, 0x00}, v, noValue);
  EXPECT_FALSE(noValue);
  EXPECT_TRUE(std::isinf(v) && v > 0);
  BytesToSingleBE({0xFF, 0x80, 0x00, 0x00}, v, noValue);
  EXPECT_FALSE(noValue);
  EXPECT_TRUE(std::isinf(v) && v < 0);

  EXPECT_EQ(SingleBEToBytes(1.0, false), (std::array<std::uint8_t, 4>{0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(SingleBEToBytes(-2.5, false), (std::array<std::uint8_t, 4>{0xC0, 0x20, 0x00, 0x00}));
  EXPECT_EQ(SingleBEToBytes(1.0, true), (std::array<std::uint8_t, 4>{0x7F, 0xFF, 0xFF, 0xFF}));
  // Doubles beyond the single range round as the hardware would.
  EXPECT_EQ(SingleBEToBytes(1e300, false), (std::array<std::uint8_t, 4>{0x7F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(SingleBEToBytes(-1e300, false), (std::array<std::uint8_t, 4>{0xFF, 0x80, 0x00, 0x00}));
  EXPECT_EQ(SingleBEToBytes(std::numeric_limits<float>::max() * 1.0000000001, false),
            (std::array<std::uint8_t, 4>{0x7F, 0x7F, 0xFF, 0xFF}));

  for (double x : {0.1, -123.456, 3.0e-20, 6.5e30}) {
    BytesToSingleBE(SingleBEToBytes(x, false), v, noValue);
    EXPECT_EQ(v, static_cast<double>(static_cast<float>(x)));
  }
}

}  // namespace
}  // namespace mkp
