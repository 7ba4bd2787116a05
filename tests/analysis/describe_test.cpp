// The analyser's description line and value decoding.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "analysis/parser.h"
#include "text/cp1251.h"
#include "text/devnum.h"

namespace mkp {
namespace {

// Packet text from 0A0B0C to 010203 with the given command, type and data.
std::string Packet(int command, int type, const std::string& data) {
  char header[64];
  std::snprintf(header, sizeof header, "010203.0A0B0C.%02X.%02X.0000 - ", command, type);
  return header + data;
}

std::vector<std::string> ResultTexts(const TMKPParser& parser) {
  std::vector<std::string> texts;
  for (const auto& item : parser.Results.Items()) texts.push_back(item.Text);
  return texts;
}

std::string Utf8(const std::string& cp1251) { return Cp1251ToUtf8(cp1251); }

class DecodeTest : public ::testing::Test {
protected:
  // The values part of an answer (command 7) to register 01 of the type.
  // Even types name the register: they get the empty name.
  std::string Answer(int type, const std::string& data) {
    std::string line = parser.DescribePacket(Packet(7, type, (type % 2 ? "01 " : "00 ") + data));
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "0A0B0C>>010203 ANSW type %02X : reg %s = ", type,
                  type % 2 ? "01" : "\"\"");
    EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
    return line.substr(std::min(line.size(), std::string(prefix).size()));
  }
  TMKPParser parser;
};

TEST(DescribeTest, HeaderAndCommands) {
  TMKPParser p;
  EXPECT_EQ(Utf8(p.DescribePacket(Packet(1, 0, ""))), "0A0B0C>>010203 подтверждение");
  EXPECT_EQ(Utf8(p.DescribePacket(Packet(3, 0, "07 "))),
            "0A0B0C>>010203 ОШИБКА 07 : CRC заголовка корректно, CRC данных некорректно");
  EXPECT_EQ(Utf8(p.DescribePacket(Packet(3, 0, "06 "))),
            "0A0B0C>>010203 ОШИБКА 06 : Устройство занято, ответ будет выслан по готовности…");
  EXPECT_EQ(Utf8(p.DescribePacket(Packet(3, 0, "0A "))),
            "0A0B0C>>010203 ОШИБКА 0A : Некорректный пакет «Redirect»");
  EXPECT_EQ(Utf8(p.DescribePacket(Packet(3, 0, "09 "))), "0A0B0C>>010203 ОШИБКА 09 : ");
  EXPECT_EQ(p.DescribePacket(Packet(4, 0, "")), "0A0B0C>>010203 PING");
  EXPECT_EQ(p.DescribePacket(Packet(5, 1, "01 02 ")), "0A0B0C>>010203 ");
  EXPECT_EQ(p.DescribePacket(" .-:, ..--"), "000000>>000000 ");
  EXPECT_EQ(p.DescribePacket(""), "000000>>000000 ");
  // The Master page's raw form and lower-case digits read the same; the
  // register number and the error code are shown as they stand.
  EXPECT_EQ(p.DescribePacket("0102030a0b0c0705 0200 - 0a 34 12"),
            "0A0B0C>>010203 ANSW type 05 : reg 0a = 4660 ");
  EXPECT_EQ(Utf8(p.DescribePacket("0102030a0b0c0300 0100 - 0a")),
            "0A0B0C>>010203 ОШИБКА 0a : Некорректный пакет «Redirect»");
}

TEST(DescribeTest, RegisterByNumberAndByName) {
  TMKPParser p;
  EXPECT_EQ(p.DescribePacket(Packet(6, 5, "05 ")), "0A0B0C>>010203 RD type 05 : reg 05");
  EXPECT_EQ(p.DescribePacket(Packet(6, 6, "41 42 00 ")), "0A0B0C>>010203 RD type 06 : reg \"AB\"");
  EXPECT_EQ(p.Results.Count(), 0);
  EXPECT_EQ(p.DescribePacket(Packet(7, 6, "41 00 34 12 ")),
            "0A0B0C>>010203 ANSW type 06 : reg \"A\" = 4660 ");
  // No terminating zero: the whole rest is the name.
  EXPECT_EQ(p.DescribePacket(Packet(7, 6, "41 42 ")), "0A0B0C>>010203 ANSW type 06 : reg \"AB\" = ");
  EXPECT_EQ(p.DescribePacket(Packet(8, 1, "02 0A 0B ")),
            "0A0B0C>>010203 WR type 01 : reg 02 := 10 11 ");
  EXPECT_EQ(ResultTexts(p), std::vector<std::string>{"10 11 "});
}

TEST(DescribeTest, MasterAndSlaveSwitches) {
  TMKPParser p;
  p.DescribeSlave(Packet(7, 5, "01 34 12"));
  p.AnalyzeSlave = false;
  p.AnalyzeMaster = false;
  EXPECT_EQ(p.DescribeSlave(Packet(7, 5, "01 78 56")), "");
  EXPECT_EQ(p.DescribeMaster(Packet(7, 5, "01 78 56")), "");
  EXPECT_EQ(ResultTexts(p), std::vector<std::string>{"4660"});
  p.AnalyzeMaster = true;
  EXPECT_EQ(p.DescribeMaster(Packet(7, 5, "01 78 56")),
            "0A0B0C>>010203 ANSW type 05 : reg 01 = 22136 ");
  EXPECT_EQ(ResultTexts(p), std::vector<std::string>{"22136"});
}

TEST_F(DecodeTest, IntegersDecimalAndHex) {
  EXPECT_EQ(Answer(5, "34 12"), "4660 ");
  EXPECT_EQ(Answer(7, "80 7F"), "-128 127 ");
  EXPECT_EQ(Answer(9, "00 80 FF 7F"), "-32768 32767 ");
  EXPECT_EQ(Answer(11, "FF FF FF FF 01 00 00 00"), "4294967295 1 ");
  EXPECT_EQ(Answer(39, "FF FF FF FF FF FF FF FF"), "-1 ");
  EXPECT_EQ(Answer(40, "00 00 00 00 00 00 00 80"), "-9223372036854775808 ");
  EXPECT_EQ(Answer(33, "01 02 03"), "3.2.1 ");
  EXPECT_EQ(Answer(37, "25 1A"), "25 20 ");
  EXPECT_EQ(ResultTexts(parser), std::vector<std::string>{"25 20 "});
  for (int code : TMKPParser::HexTypeCodes) parser.HexFlagForType(code) = true;
  EXPECT_EQ(Answer(5, "34 12"), "1234 ");
  EXPECT_EQ(Answer(9, "00 80"), "8000 ");
  EXPECT_EQ(Answer(11, "01 02 03 04"), "04030201 ");
  EXPECT_EQ(Answer(39, "01 02 03 04 05 06 07 08"), "0807060504030201 ");
  EXPECT_EQ(Answer(33, "01 02 03"), "030201 ");
  EXPECT_EQ(Answer(35, "23 12 31 23 59 58 01 25"), "2312312359580125 ");
  EXPECT_EQ(Answer(31, "E8 03 07 06 05 04 03 17"), "17030405060703E8 ");
  EXPECT_EQ(Answer(1, "ab 0c"), "ab 0c ");  // the digits as they stand
}

TEST_F(DecodeTest, ShortLastValue) {
  // Decimal reads the missing bytes as 0; hex shows only the digits present.
  EXPECT_EQ(Answer(5, "34 12 78"), "4660 120 ");
  EXPECT_EQ(Answer(11, "01 02 03 04 05"), "67305985 5 ");
  parser.HexFlagForType(5) = true;
  EXPECT_EQ(Answer(5, "34 12 78"), "1234 78 ");
  EXPECT_EQ(ResultTexts(parser), (std::vector<std::string>{"1234", "78"}));
  // A lone last digit reads as 0 and shows as itself.
  EXPECT_EQ(Answer(5, "34 12 7"), "1234 7 ");
  parser.HexFlagForType(5) = false;
  EXPECT_EQ(Answer(5, "34 12 7"), "4660 0 ");
}

TEST_F(DecodeTest, RealsAndDates) {
  EXPECT_EQ(Answer(13, "64 00"), "1.000000E+0 ");
  EXPECT_EQ(Answer(15, "D2 04"), "1.234000E+0 ");
  EXPECT_EQ(Answer(25, "00 00 80 3F 00 00 C0 7F"), "1.000000E+0 0.000000E+0 ");
  EXPECT_EQ(Answer(27, "7E 7D 00 80"), "-1.250000E+1 ");
  EXPECT_EQ(Answer(31, "E8 03 07 06 05 04 03 17"), "4.3.23 5:6:7.1000 ");
  EXPECT_EQ(Answer(35, "23 12 31 23 59 58 01 25"), "2023.12.31 23:59:58.125 ");
}

// The analyser prints reals exactly as FormatDeviceReal does, ties and
// extremes included.
TEST_F(DecodeTest, RealsMatchTheDeviceRealText) {
  std::mt19937 random(5);
  auto hex = [](const std::array<std::uint8_t, 4>& b, int n) {
    std::string text;
    char pair[4];
    for (int i = 0; i < n; ++i) {
      std::snprintf(pair, sizeof pair, "%02X ", b[static_cast<std::size_t>(i)]);
      text += pair;
    }
    return text;
  };
  std::vector<std::array<std::uint8_t, 4>> samples = {
      {0, 0, 0, 0}, {0, 0, 0, 0x80}, {0, 0, 0x80, 0x7F}, {0, 0, 0x80, 0xFF}, {1, 0, 0, 0},
      {0xFF, 0xFF, 0x7F, 0x7F}, {0x7D, 0x5F, 0x3C, 0x4B}, {0xFF, 0xFF, 0xFF, 0xFF}};
  for (int i = 0; i < 8000; ++i)
    samples.push_back({static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                       static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random())});
  // Integers of eight digits ending in 5 are exact halves at seven digits.
  for (float f : {12345665.0f, 12345675.0f, 1.5f, 2.5e-3f, 98765435.0f, 99999996.0f,
                  0.99999994f, -9.9999996e-12f, 3.4028235e38f, 1.4e-45f}) {
    std::array<std::uint8_t, 4> b{};
    std::memcpy(b.data(), &f, 4);
    samples.push_back(b);
  }
  for (const auto& b : samples) {
    bool nan = false;
    ASSERT_EQ(Answer(25, hex(b, 4)), FormatDeviceReal(DecodeIeeeSingle(b, nan)) + " ");
    ASSERT_EQ(Answer(27, hex(b, 4)), FormatDeviceReal(DecodeMSingle(b)) + " ");
    std::uint16_t word = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    ASSERT_EQ(Answer(13, hex(b, 2)), FormatDeviceReal(DecodeLSingle(word)) + " ");
    ASSERT_EQ(Answer(15, hex(b, 2)), FormatDeviceReal(DecodeSSingle(word)) + " ");
  }
}

TEST_F(DecodeTest, ArrayAlignWidths) {
  parser.ArrayAlign = true;
  EXPECT_EQ(Answer(1, "07 FF"), "7   255 ");
  EXPECT_EQ(ResultTexts(parser), std::vector<std::string>{"7   255 "});
  EXPECT_EQ(Answer(5, "34 12"), "4660  ");
  EXPECT_EQ(Answer(9, "FF FF"), "-1     ");
  EXPECT_EQ(Answer(13, "64 00"), "1.000000E+0 ");  // longer than 9: not cut
  EXPECT_EQ(Answer(33, "01 02 03"), "3.2.1       ");
  EXPECT_EQ(Answer(3, "41 00"), "A ");  // strings are never padded
  EXPECT_EQ(ResultTexts(parser), std::vector<std::string>{"A"});
  parser.HexFlagForType(1) = true;
  parser.HexFlagForType(39) = true;
  EXPECT_EQ(Answer(1, "07"), "07 ");
  EXPECT_EQ(Answer(39, "01 00 00 00 00 00 00 00"), "0000000000000001 ");
  parser.HexFlagForType(39) = false;
  EXPECT_EQ(Answer(39, "01 00 00 00 00 00 00 00"), "1          ");
}

TEST_F(DecodeTest, Strings) {
  EXPECT_EQ(Answer(3, "41 42 00 43"), "AB C ");
  EXPECT_EQ(Answer(21, "41 42 00 43"), "AB ");
  EXPECT_EQ(Answer(23, "00 00"), "  ");
  EXPECT_EQ(ResultTexts(parser), (std::vector<std::string>{"", ""}));
  // Wide strings: a unit the code page cannot hold becomes "?"; a string
  // without its zero unit is dropped.
  EXPECT_EQ(Utf8(Answer(29, "41 00 2F 04 00 00 AC 20 3A 26 00 00 42 00")), "AЯ €? ");
  EXPECT_EQ(Answer(30, "00 D8 00 00"), "? ");
}

TEST_F(DecodeTest, ArraysAndStructs) {
  EXPECT_EQ(Answer(17, "05 34 12 78 56"), "arr of 05 = 4660 22136 ");
  EXPECT_EQ(Answer(17, "00 05 34 12"), "arr of 00 = <unsupported>arr of 05 = 4660 ");
  EXPECT_EQ(Answer(19, "05 01 00 03 00 34 12"), "arr of 05 [1..3] = 4660 ");
  EXPECT_EQ(Answer(19, "05 00 00 00 00"), "arr of 05 [0..-1] = ");
  EXPECT_EQ(Answer(20, "05 12 00 03 00 34 12"), "arr of 05 [12..14] = 4660 ");
  EXPECT_EQ(Answer(125, "02 01 05 07 34 12"), "struct(01 05)=(7 4660) ");
  EXPECT_EQ(ResultTexts(parser), (std::vector<std::string>{"7 ", "4660"}));
  EXPECT_EQ(Answer(126, "02 03 01 41 42 00 09 01 11"), "struct(03 01)=(AB 9) struct(11)=() ");
  EXPECT_EQ(Answer(17, "7D 01 05 34 12"), "arr of 7D = struct(05)=(4660) ");
  // Headings show the type digits as they stand.
  EXPECT_EQ(Answer(17, "7d 01 05 34 12"), "arr of 7d = struct(05)=(4660) ");
  EXPECT_EQ(Answer(125, "01 0d 34 12"), "struct(0d)=" + Answer(125, "01 0D 34 12").substr(11));
  EXPECT_EQ(Answer(0, "34 12"), "<unsupported>");
  EXPECT_EQ(Answer(41, ""), "<unsupported>");

  // A long chain of array headings neither recurses deeply nor slows down.
  std::string chain;
  for (int i = 0; i < 5000; ++i) chain += "11 ";
  std::string values = Answer(17, chain);
  EXPECT_EQ(values.size(), 5000u * std::string("arr of 11 = ").size());
}

TEST_F(DecodeTest, BadTextBoundsEndTheDescription) {
  EXPECT_EQ(Answer(20, "05 1A 00 03 00 34 12"), "<bad bounds>");
  EXPECT_EQ(Answer(20, "05 00 03 00 34 12"), "<bad bounds>");  // empty start
  EXPECT_EQ(Answer(20, "05 12"), "<bad bounds>");              // no "00": empty count
  EXPECT_EQ(Answer(17, "05 34 12 "), "arr of 05 = 4660 ");     // the parser still works
  // The "00" after a bound need not fall on a byte boundary.
  EXPECT_EQ(Answer(17, "14 05 1 00 2 00 34 12"), "arr of 14 = arr of 05 [1..2] = 4660 ");
  // Headings written before the bad bound stay.
  EXPECT_EQ(Answer(18, "14 05 1A 00"), "arr of 14 = <bad bounds>");
  std::string line;
  parser.DecodeValues(20, "05 -1 00 ZZ 00", line);
  EXPECT_EQ(line, "<bad bounds>");
}

// Each value keeps the type it was decoded with: an array's element type, a
// struct's field types, one item for a run of BYTE values.
TEST(DescribeResultTypesTest, ResultsCarryTheTypeCodeOfEachValue) {
  TMKPParser p;
  auto codes = [&](const std::string& text) {
    p.DescribePacket(text);
    std::vector<int> found;
    for (const auto& item : p.Results.Items()) found.push_back(item.Code);
    return found;
  };
  EXPECT_EQ(codes(Packet(7, 0x05, "01 34 12 78 56")), (std::vector<int>{5, 5}));
  EXPECT_EQ(codes(Packet(7, 0x06, "00 34 12")), (std::vector<int>{6}));
  EXPECT_EQ(codes(Packet(7, 0x01, "01 01 02 03")), (std::vector<int>{1}));
  EXPECT_EQ(codes(Packet(7, 0x11, "01 19 00 00 80 3F")), (std::vector<int>{0x19}));
  EXPECT_EQ(codes(Packet(7, 0x7D, "01 02 01 03 07 41 00")), (std::vector<int>{1, 3}));
  EXPECT_EQ(codes(Packet(7, 0x1E, "00 41 00 00 00")), (std::vector<int>{29}));
}

// Random packets of every type code: the line always starts with the header,
// and for the fixed-size types its values are exactly the Results in order.
TEST(DescribeRandomTest, EveryTypeCode) {
  std::mt19937 random(1234);
  TMKPParser p;
  for (int type = 0; type < 256; ++type) {
    for (int round = 0; round < 20; ++round) {
      p.ArrayAlign = random() % 2;
      for (auto& flag : p.ShowAsHex) flag = random() % 2;
      std::string data;
      int length = static_cast<int>(random() % 40);
      for (int i = 0; i < length; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", static_cast<unsigned>(random() % 256));
        data += pair;
      }
      std::string line = p.DescribePacket(Packet(7, type, (type % 2 ? "01 " : "00 ") + data));
      char prefix[64];
      std::snprintf(prefix, sizeof prefix, "0A0B0C>>010203 ANSW type %02X : reg %s = ", type,
                    type % 2 ? "01" : "\"\"");
      ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
      std::string values = line.substr(std::string(prefix).size());
      int base = type % 2 == 0 && type <= 40 ? type - 1 : type;
      if (TMKPParser::HexFlagIndex(type) >= 0 && base != 1 && base != 37) {
        std::string joined;
        for (const auto& item : p.Results.Items()) joined += item.Text + " ";
        EXPECT_EQ(values, joined) << type;
      }
    }
  }
}

// Arbitrary text never throws and always yields the address part.
TEST(DescribeRandomTest, ArbitraryText) {
  std::mt19937 random(99);
  TMKPParser p;
  const std::string alphabet = "0123456789ABCDEFabcdefXZ .-:,\t";
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    int length = static_cast<int>(random() % 200);
    for (int i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    if (round % 3 == 0) text = "010203.0A0B0C.07." + std::string(1, "0123456789"[random() % 10]) +
                               std::string(1, "0123456789ABCDEF"[random() % 16]) + ".0000 - " + text;
    p.ArrayAlign = random() % 2;
    std::string line;
    ASSERT_NO_THROW(line = p.DescribePacket(text)) << text;
    ASSERT_GE(line.size(), 15u);
    EXPECT_EQ(line.substr(6, 2), ">>");
  }
}

}  // namespace
}  // namespace mkp
