// The line parameters an open asks for, worked out without a device.
#include "serial/line_params.h"

#include <gtest/gtest.h>

#include "serial/portsettings.h"

namespace {

using namespace mkp;

TEST(LineParametersTest, TextsOfTheSettingsBecomeParameters) {
  std::string error;
  auto p = MakeLineParameters(" 19200 ", "2", "eVeN ", error);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->Speed, 19200u);
  EXPECT_EQ(p->Parity, TParity::Even);
  EXPECT_EQ(p->StopBits, TStopBits::Two);
  // Texts that name no setting leave the driver's as it was.
  p = MakeLineParameters("9600", "3", "x", error);
  ASSERT_TRUE(p);
  EXPECT_FALSE(p->Parity);
  EXPECT_FALSE(p->StopBits);
  for (const char* speed : {"", "abc", "96OO", "0", "-9600", "1e4"}) {
    EXPECT_FALSE(MakeLineParameters(speed, "1", "none", error)) << speed;
    EXPECT_NE(error.find("speed"), std::string::npos);
  }
  EXPECT_FALSE(MakeLineParameters("9600", "1.5", "none", error));
  EXPECT_NE(error.find("1.5"), std::string::npos);
}

TEST(LineParametersTest, RawLineCarriesParityStopBitsAndSpeedOverWhatTheDriverHad) {
  termios driver{};
  driver.c_iflag = IXON | ICRNL;
  driver.c_lflag = ICANON | ECHO;
  driver.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS;
  bool standard = false;
  std::string error;
  const struct {
    const char* Parity;
    tcflag_t Bits;
  } cases[] = {{"none", 0},
               {"Odd", PARENB | PARODD},
               {"Even", PARENB},
               {"Mark", PARENB | PARODD | CMSPAR},
               {"Space", PARENB | CMSPAR},
               {"?", PARENB}};  // as the driver had it
  for (const auto& c : cases) {
    termios t = RawLineSettings(driver, *MakeLineParameters("9600", "1", c.Parity, error), standard);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.Bits) << c.Parity;
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | CRTSCTS), CS8 | CRTSCTS) << c.Parity;
    EXPECT_EQ(t.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_TRUE(standard);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  }
  RawLineSettings(driver, *MakeLineParameters("250000", "x", "none", error), standard);
  EXPECT_FALSE(standard);
  EXPECT_TRUE(RawLineSettings(driver, *MakeLineParameters("9600", "x", "none", error), standard).c_cflag & CSTOPB);
}

TEST(LineParametersTest, ReadBackAndFrameGap) {
  termios wanted{}, back{};
  wanted.c_cflag = back.c_cflag = CS8 | PARENB;
  EXPECT_EQ(ReadBackMismatch(wanted, back, false, 9600, 9600u), "");
  EXPECT_EQ(ReadBackMismatch(wanted, back, false, 9600, 9700u), "");  // within 3 %
  EXPECT_NE(ReadBackMismatch(wanted, back, false, 9600, 19200u), "");
  back.c_cflag = CS8;  // parity dropped: refused on a real port, usual on a pty
  EXPECT_NE(ReadBackMismatch(wanted, back, false, 9600, std::nullopt), "");
  EXPECT_EQ(ReadBackMismatch(wanted, back, true, 9600, std::nullopt), "");
  back.c_cflag |= CSTOPB;
  EXPECT_NE(ReadBackMismatch(wanted, back, true, 9600, std::nullopt), "");

  // 20 ms plus 16 characters of 10, 11 or 12 bits.
  using std::chrono::microseconds;
  EXPECT_EQ(FrameGapFloor(9600, CS8), microseconds(20000 + 16 * 1041));
  EXPECT_EQ(FrameGapFloor(1200, CS8 | PARENB | CSTOPB), microseconds(20000 + 16 * 10000));
  EXPECT_EQ(FrameGapFloor(115200, CS8 | PARENB), microseconds(20000 + 16 * 95));
}

TEST(LineParametersTest, TheSettingsFrameListsTheSameNames) {
  TPortSettings settings;
  EXPECT_EQ(settings.ParityItems(), (std::vector<std::string>{"none", "Even", "Odd", "Mark", "Space"}));
  EXPECT_EQ(settings.StopBitItems(), (std::vector<std::string>{"1", "1.5", "2"}));
  for (const auto& item : settings.ParityItems()) EXPECT_TRUE(ParityFromText(item)) << item;
}

}  // namespace
