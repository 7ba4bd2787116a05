#include "serial/portsettings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using mkp::TPortSettings;
using TControl = TPortSettings::TControl;

class PortSettingsTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("mkpt_settings_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    settings_.SetDevicePaths({});
    settings_.ResetToDefaults();
    settings_.OnSettingsChange = [this](TControl sender) {
      ++calls_;
      lastSender_ = sender;
    };
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& content) {
    std::string path = (dir_ / "mkpt.ini").string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void ExpectDefaults() {
    EXPECT_EQ(settings_.GetPortName(), "COM1");
    EXPECT_EQ(settings_.GetSpeed(), "9600");
    EXPECT_EQ(settings_.GetStopBits(), "1");
    EXPECT_EQ(settings_.GetParity(), "NONE");
    EXPECT_EQ(settings_.GetReadInterval(), 1);
    EXPECT_EQ(settings_.GetWriteInterval(), 0);
  }

  std::filesystem::path dir_;
  TPortSettings settings_;
  int calls_ = 0;
  TControl lastSender_ = TControl::Port;
};

TEST_F(PortSettingsTest, DefaultsListsAndSavedDefaultFile) {
  ExpectDefaults();
  ASSERT_EQ(settings_.PortItems().size(), 256u);
  EXPECT_EQ(settings_.PortItems().back(), "COM256");
  // The first version's 17 speeds, then the standard higher ones.
  ASSERT_EQ(settings_.SpeedItems().size(), 27u);
  EXPECT_EQ(settings_.SpeedItems()[10], "7200");
  EXPECT_EQ(settings_.SpeedItems()[16], "115200");
  EXPECT_EQ(settings_.SpeedItems()[17], "230400");
  EXPECT_EQ(settings_.SpeedItems()[21], "921600");
  EXPECT_EQ(settings_.SpeedItems().back(), "4000000");
  EXPECT_EQ(settings_.ParityItems(), (std::vector<std::string>{"none", "Even", "Odd", "Mark", "Space"}));
  std::string path = (dir_ / "out.ini").string();
  ASSERT_TRUE(settings_.SaveSettings(path));
  EXPECT_EQ(Read(path),
            "PortNumber=COM1\r\nTransferRate=9600\r\nStopBits=1\r\nParity=NONE\r\n"
            "ReadIntervalTimeout=1\r\nWriteIntervalTimeout=0\r\n");
}

TEST_F(PortSettingsTest, LoadReadsKeysInAnyCaseAndNotifiesOnce) {
  auto path = Write(
      "portnumber=com5\r\nTRANSFERRATE=19200\r\nstopbits=2\nparity=even\r\n"
      "DTRControl=1\r\nRTSControl=2\r\nReadTotalTimeoutConstant=7\r\nWriteTimeOutMultiplier=x\r\n"
      "some line without equals\r\nUnknown=5\r\n"
      "ReadIntervalTimeout= 12 \r\nWriteIntervalTimeout=3\r\n");
  EXPECT_TRUE(settings_.LoadSettings(path));
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(lastSender_, TControl::Frame);
  EXPECT_EQ(settings_.GetPortName(), "COM5");
  EXPECT_EQ(settings_.GetSpeed(), "19200");
  EXPECT_EQ(settings_.GetStopBits(), "2");
  EXPECT_EQ(settings_.GetParity(), "EVEN");
  EXPECT_EQ(settings_.GetReadInterval(), 12);
  EXPECT_EQ(settings_.GetWriteInterval(), 3);
}

TEST_F(PortSettingsTest, BlankBeforeEqualsIsNoKeyAndLastLineWins) {
  auto path = Write("Parity =MARK\r\nTransferRate=4800\r\nTransferRate=12345\r\nStopBits=1.5\r\n"
                    "StopBits=3\r\nPortNumber=COM2\r\nPortNumber=COM7\r\n");
  EXPECT_TRUE(settings_.LoadSettings(path));
  EXPECT_EQ(settings_.GetParity(), "NONE");     // not recognised
  EXPECT_EQ(settings_.GetSpeed(), "12345");     // a speed off the list is kept; the port decides
  EXPECT_EQ(settings_.GetStopBits(), "1.5");    // 3 matches no item
  EXPECT_EQ(settings_.GetPortName(), "COM7");
}

TEST_F(PortSettingsTest, ASpeedOffTheListIsKeptOnceAndSavedAsRead) {
  EXPECT_TRUE(settings_.LoadSettings(Write("TransferRate=921600\r\n")));
  EXPECT_EQ(settings_.GetSpeed(), "921600");
  const std::size_t listed = settings_.SpeedItems().size();
  EXPECT_TRUE(settings_.LoadSettings(Write("TransferRate= 250000 \r\n")));
  EXPECT_TRUE(settings_.LoadSettings(Write("TransferRate=250000\r\n")));
  EXPECT_EQ(settings_.GetSpeed(), "250000");
  EXPECT_EQ(settings_.SpeedItems().size(), listed + 1);  // added once
  for (const char* other : {"fast", "0", "-9600", "4000001", "96OO", ""}) {
    settings_.SelectSpeed(other);
    EXPECT_EQ(settings_.GetSpeed(), "250000") << other;
  }
  const std::string path = (dir_ / "saved.ini").string();
  ASSERT_TRUE(settings_.SaveSettings(path));
  EXPECT_NE(Read(path).find("TransferRate=250000\r\n"), std::string::npos);
}

TEST_F(PortSettingsTest, LineOptionsReadTheirWordsAndAreWrittenOnlyWhenOn) {
  // Alone in a file, they are port settings of their own.
  EXPECT_TRUE(settings_.LoadSettings(Write("Echo=Yes\r\nrs485=ON\r\n")));
  EXPECT_TRUE(settings_.GetEcho() && settings_.GetRs485());
  EXPECT_TRUE(settings_.LoadSettings(Write("Echo=maybe\r\nRS485=0\r\n")));  // not a switch word: kept
  EXPECT_TRUE(settings_.GetEcho());
  EXPECT_FALSE(settings_.GetRs485());
  calls_ = 0;
  settings_.SetEcho(true);
  settings_.SetRs485(true);
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(lastSender_, TControl::Rs485);
  const std::string path = (dir_ / "saved.ini").string();
  ASSERT_TRUE(settings_.SaveSettings(path));
  const std::string saved = Read(path);
  EXPECT_EQ(saved.substr(saved.find("WriteIntervalTimeout")), "WriteIntervalTimeout=0\r\nEcho=1\r\nRS485=1\r\n");
  settings_.ResetToDefaults();
  EXPECT_FALSE(settings_.GetEcho() || settings_.GetRs485());
}

TEST_F(PortSettingsTest, OnlyThePortLineLeavesTheRestAsTheyWere) {
  settings_.SelectSpeed("57600");
  settings_.SelectParity("odd");
  calls_ = 0;
  EXPECT_TRUE(settings_.LoadSettings(Write("PortNumber=COM3")));
  EXPECT_EQ(settings_.GetPortName(), "COM3");
  EXPECT_EQ(settings_.GetSpeed(), "57600");
  EXPECT_EQ(settings_.GetParity(), "ODD");
  EXPECT_EQ(calls_, 1);
}

TEST_F(PortSettingsTest, BadIntervalOrMissingFileResetsEverything) {
  EXPECT_FALSE(settings_.LoadSettings(Write("PortNumber=COM9\r\nTransferRate=300\r\nReadIntervalTimeout=abc\r\n")));
  ExpectDefaults();
  EXPECT_EQ(calls_, 1);

  settings_.SelectPort("COM4");
  calls_ = 0;
  EXPECT_FALSE(settings_.LoadSettings(Write("WriteIntervalTimeout=\r\n")));
  ExpectDefaults();
  settings_.SelectPort("COM4");
  EXPECT_FALSE(settings_.LoadSettings((dir_ / "missing.ini").string()));
  ExpectDefaults();
  EXPECT_EQ(calls_, 3);  // one per load, plus the SelectPort
}

TEST_F(PortSettingsTest, AFileWithoutAKeyKeepsTheSettings) {
  settings_.SelectPort("COM4");
  settings_.SelectSpeed("19200");
  calls_ = 0;
  std::string noise;
  for (int i = 0; i < 2000; ++i) noise += static_cast<char>((i * 40503u + 7u) >> 3);
  for (const std::string& content : {noise, std::string(), std::string("[Port]\r\nport=COM2\r\n"),
                                     std::string("Parity =EVEN\r\n"), std::string("<010203> [x]\r\n")}) {
    const std::string path = Write(content);
    const mkp::TLoadResult result = settings_.LoadSettings(path);
    EXPECT_TRUE(result.NothingUsable()) << content;
    EXPECT_EQ(result.Message(), path + ": no port settings found");
    EXPECT_EQ(settings_.GetPortName(), "COM4");
    EXPECT_EQ(settings_.GetSpeed(), "19200");
    EXPECT_EQ(settings_.GetParity(), "NONE");
  }
  EXPECT_EQ(calls_, 5);  // still once per load
  // A key that is read over is a key of the file: it loads, and changes nothing.
  EXPECT_TRUE(settings_.LoadSettings(Write("DTRControl=1\r\n")));
  EXPECT_EQ(settings_.GetPortName(), "COM4");
}

TEST_F(PortSettingsTest, DevicePathIsKeptAsWrittenAndAddedToTheList) {
  const std::string dev = "/dev/serial/by-id/usb-Maker_Adapter_a1B2-if00";
  EXPECT_TRUE(settings_.LoadSettings(Write("PortNumber=" + dev + "\r\nParity=Space\r\n")));
  EXPECT_EQ(settings_.GetPortName(), dev);
  EXPECT_EQ(settings_.PortItems().back(), dev);
  EXPECT_EQ(settings_.PortItems().size(), 257u);
  std::string out = (dir_ / "out.ini").string();
  ASSERT_TRUE(settings_.SaveSettings(out));
  EXPECT_EQ(Read(out).substr(0, 11 + dev.size() + 2), "PortNumber=" + dev + "\r\n");
  EXPECT_NE(Read(out).find("Parity=SPACE\r\n"), std::string::npos);
  // Loading it again does not add it twice.
  EXPECT_TRUE(settings_.LoadSettings(out));
  EXPECT_EQ(settings_.PortItems().size(), 257u);
}

TEST_F(PortSettingsTest, SelectorsAndEditsNotifyOnlyOnChange) {
  settings_.SelectParity("MARK");
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(lastSender_, TControl::Parity);
  settings_.SelectParity("mark");
  settings_.SelectSpeed("96O1");  // no speed
  EXPECT_EQ(calls_, 1);
  settings_.SetReadIntervalText("7x5");
  EXPECT_EQ(settings_.ReadIntervalText(), "75");
  EXPECT_EQ(lastSender_, TControl::ReadInterval);
  settings_.SetWriteIntervalText("");
  EXPECT_EQ(settings_.GetWriteInterval(), 0);
  settings_.SetReadInterval(150);  // the edit holds two digits
  EXPECT_EQ(settings_.GetReadInterval(), 99);
  settings_.SetPortIndex(300);     // out of range: ignored
  EXPECT_EQ(settings_.GetPortName(), "COM1");
  EXPECT_EQ(TPortSettings::IndexOfText(settings_.ParityItems(), "EVEN"), -1);
  EXPECT_EQ(TPortSettings::IndexOfTextNoCase(settings_.ParityItems(), "EVEN"), 1);
  std::string out = (dir_ / "out.ini").string();
  ASSERT_TRUE(settings_.SaveSettings(out));
  EXPECT_NE(Read(out).find("Parity=MARK\r\nReadIntervalTimeout=99\r\nWriteIntervalTimeout=0\r\n"),
            std::string::npos);
  EXPECT_FALSE(settings_.SaveSettings((dir_ / "no" / "such" / "dir.ini").string()));
}

}  // namespace
