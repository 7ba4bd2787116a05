#include <gtest/gtest.h>

#include "modes/master.h"

using namespace mkp;

TEST(MasterChecksumText, WorkedExamples) {
  EXPECT_EQ(ChecksumText("61 62 63"), "43 6E 00 00");
  EXPECT_EQ(ChecksumText("ab"), "AB 00 00 00");
  EXPECT_EQ(ChecksumText("01 02"), "02 01 00 00");
  EXPECT_EQ(ChecksumText(""), "00 00 00 00");
  EXPECT_EQ(ChecksumText("0g"), "00 00 00 00");
  EXPECT_EQ(ChecksumText("0A 0B 0C 01 02 03 06 01 01 00"), "20 4D B8 A6");
  // "abc" is AB 0C, not 0A BC.
  EXPECT_EQ(ChecksumText("abc"), ChecksumText("AB 0C"));
  EXPECT_NE(ChecksumText("abc"), ChecksumText("0A BC"));
  // Control characters at the ends are trimmed.
  EXPECT_EQ(ChecksumText("\t61 62 63\r\n"), "43 6E 00 00");
}

TEST(MasterChecksumText, LimitOf2048Bytes) {
  std::string field;
  for (int i = 0; i < 2048; ++i) field += (i % 3 ? "01 " : "A7 ");
  EXPECT_NE(ChecksumText(field), "00 00 00 00");
  field += "01";
  EXPECT_EQ(ChecksumText(field), "00 00 00 00");
}

TEST(MasterComposeFullPacket, Forms) {
  EXPECT_EQ(ComposeFullPacket("ab", "", ChecksumText("ab"), "FF FF FF FF"), "AB  AB 00 00 00");
  EXPECT_EQ(ComposeFullPacket("", "", "00 00 00 00", "00 00 00 00"), " 00 00 00 00");
  EXPECT_EQ(ComposeFullPacket("01 02", "0a", "02 01 00 00", "0A 00 00 00"),
            "01 02  02 01 00 00 - 0A  0A 00 00 00");
  // A data block of blanks only adds nothing.
  EXPECT_EQ(ComposeFullPacket("01", "   ", "01 00 00 00", "00 00 00 00"), "01  01 00 00 00");
}

TEST(MasterFullPacketBytes, SeparatorsAndLimit) {
  auto bytes = FullPacketBytes("01.02-03 (04),05");
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  auto odd = FullPacketBytes("1 2 3");  // "123" -> 12 03
  ASSERT_TRUE(odd);
  EXPECT_EQ(*odd, (std::vector<std::uint8_t>{0x12, 0x03}));
  EXPECT_TRUE(FullPacketBytes(std::string(2066 * 2, 'A')));
  EXPECT_FALSE(FullPacketBytes(std::string(2067 * 2, 'A')));
  EXPECT_EQ(MasterDecodeInput(" 01 02 ", ""), "01 02  -");
}
