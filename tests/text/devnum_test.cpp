#include "text/devnum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "text/numtext.h"

namespace mkp {
namespace {

std::uint16_t LWord(int mantissa, int exponent) {
  return static_cast<std::uint16_t>(((exponent & 0x3F) << 10) | mantissa);
}

TEST(LSingleTest, Decode) {
  EXPECT_EQ(DecodeLSingle(0x0064), 1.0);
  EXPECT_EQ(DecodeLSingle(LWord(1023, 31)), 1.023e32);
  EXPECT_EQ(DecodeLSingle(0xFC64), 0.1);  // exponent field 0x3F is -1
  EXPECT_EQ(DecodeLSingle(LWord(290, -1)), 0.29);
  EXPECT_EQ(DecodeLSingle(LWord(100, -32)), 1e-32);
  EXPECT_EQ(DecodeLSingle(0), 0.0);
  EXPECT_EQ(DecodeLSingle(LWord(0, 17)), 0.0);
}

TEST(LSingleTest, EncodeKeepsTheThreeLeadingDigits) {
  EXPECT_EQ(EncodeLSingle(0.0), 0);
  EXPECT_EQ(EncodeLSingle(1.0), 0x0064);
  EXPECT_EQ(EncodeLSingle(0.1), LWord(100, -1));
  EXPECT_EQ(EncodeLSingle(0.5), LWord(500, -1));
  EXPECT_EQ(EncodeLSingle(0.01), LWord(100, -2));
  EXPECT_EQ(EncodeLSingle(12345.0), LWord(123, 4));
  // Values a binary logarithm would damage.
  EXPECT_EQ(EncodeLSingle(0.29), LWord(290, -1));
  EXPECT_EQ(EncodeLSingle(0.102), LWord(102, -1));
  EXPECT_EQ(EncodeLSingle(1000.0), LWord(100, 3));
  EXPECT_EQ(EncodeLSingle(0.3), LWord(300, -1));
  EXPECT_EQ(EncodeLSingle(1e-3), LWord(100, -3));
  // Further digits are cut off, not rounded.
  EXPECT_EQ(EncodeLSingle(1.2399), LWord(123, 0));
  EXPECT_EQ(EncodeLSingle(0.99999), LWord(999, -1));
  EXPECT_EQ(EncodeLSingle(999.9), LWord(999, 2));
}

TEST(LSingleTest, EncodeOfValuesTheFormCannotHold) {
  EXPECT_EQ(EncodeLSingle(-1.0), 0);
  EXPECT_EQ(EncodeLSingle(-0.0), 0);
  EXPECT_EQ(EncodeLSingle(std::nan("")), 0);
  EXPECT_EQ(EncodeLSingle(9.99e-33), 0);
  EXPECT_EQ(EncodeLSingle(1e-300), 0);
  EXPECT_EQ(EncodeLSingle(1e-32), LWord(100, -32));
  EXPECT_EQ(EncodeLSingle(9.99e31), LWord(999, 31));
  EXPECT_EQ(EncodeLSingle(1e32), LWord(999, 31));
  EXPECT_EQ(EncodeLSingle(std::numeric_limits<double>::infinity()), LWord(999, 31));
}

TEST(LSingleTest, EveryThreeDigitValueRoundTrips) {
  for (int e = -32; e <= 31; ++e) {
    for (int m = 100; m <= 999; ++m) {
      const std::uint16_t word = LWord(m, e);
      const double x = DecodeLSingle(word);
      ASSERT_EQ(EncodeLSingle(x), word) << m << "e" << e;
      // As a user would type it.
      const std::string typed = std::to_string(m) + "e" + std::to_string(e - 2);
      ASSERT_EQ(EncodeLSingle(StrToFloatDot(typed)), word) << typed;
    }
  }
}

TEST(SSingleTest, Decode) {
  EXPECT_EQ(DecodeSSingle(1234), 1.234);
  EXPECT_EQ(DecodeSSingle(static_cast<std::uint16_t>((0x1F << 11) | 1234)), 0.1234);
  EXPECT_EQ(DecodeSSingle(static_cast<std::uint16_t>((0x0F << 11) | 1234)), 1.234e15);
  EXPECT_EQ(DecodeSSingle(static_cast<std::uint16_t>((0x10 << 11) | 5)), 5e-16);
  EXPECT_EQ(DecodeSSingle(25), 2.5);
  EXPECT_EQ(DecodeSSingle(7), 7.0);
  EXPECT_EQ(DecodeSSingle(0), 0.0);
  EXPECT_EQ(DecodeSSingle(2047), 2.047);
}

TEST(MSingleTest, Decode) {
  EXPECT_EQ(DecodeMSingle({0x7E, 0x7D, 0x00, 0x00}), 12.5);
  EXPECT_EQ(DecodeMSingle({0x7E, 0x7D, 0x00, 0x80}), -12.5);
  EXPECT_EQ(DecodeMSingle({0x7F, 0x00, 0x00, 0x00}), 0.0);
  EXPECT_FALSE(std::signbit(DecodeMSingle({0x7F, 0x00, 0x00, 0x80})));
  EXPECT_EQ(DecodeMSingle({0x7F, 0xFF, 0xFF, 0x7F}), 8388607.0);
  EXPECT_EQ(DecodeMSingle({0x7C, 0x03, 0x00, 0x00}), 0.003);
  EXPECT_EQ(DecodeMSingle({0xFF, 0x01, 0x00, 0x00}), 1e128);
  EXPECT_EQ(DecodeMSingle({0x00, 0x01, 0x00, 0x00}), 1e-127);
}

TEST(IeeeSingleTest, DecodeLowByteFirst) {
  bool nan = false;
  EXPECT_EQ(DecodeIeeeSingle({0x00, 0x00, 0x80, 0x3F}, nan), 1.0);
  EXPECT_FALSE(nan);
  EXPECT_EQ(DecodeIeeeSingle({0x00, 0x00, 0xC0, 0x7F}, nan), 0.0);
  EXPECT_TRUE(nan);
  const double inf = DecodeIeeeSingle({0x00, 0x00, 0x80, 0x7F}, nan);
  EXPECT_FALSE(nan);
  EXPECT_TRUE(std::isinf(inf) && inf > 0);
  EXPECT_EQ(DecodeIeeeSingle({0x00, 0x00, 0x48, 0xC1}, nan), -12.5);
}

TEST(DeviceRealTextTest, SevenDigitExponentForm) {
  EXPECT_EQ(FormatDeviceReal(12.5), "1.250000E+1");
  EXPECT_EQ(FormatDeviceReal(0.05), "5.000000E-2");
  EXPECT_EQ(FormatDeviceReal(0.0), "0.000000E+0");
  EXPECT_EQ(FormatDeviceReal(-3.0), "-3.000000E+0");
  EXPECT_EQ(FormatDeviceReal(1.023e32), "1.023000E+32");
  EXPECT_EQ(FormatDeviceReal(DecodeLSingle(LWord(290, -1))), "2.900000E-1");
  EXPECT_EQ(FormatDeviceReal(1234567.89), "1.234568E+6");
  EXPECT_EQ(FormatDeviceReal(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FormatDeviceReal(-std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(FormatDeviceReal(std::nan("")), "NAN");
}

}  // namespace
}  // namespace mkp
