#include "serial/portlist.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

TEST(PortNameTest, ComNamesMapToTtySAndPathsStayAsWritten) {
  EXPECT_EQ(mkp::PortDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(mkp::PortDevicePath("com12"), "/dev/ttyS11");
  EXPECT_EQ(mkp::PortDevicePath("/dev/serial/by-id/usb-Ab_Cd"), "/dev/serial/by-id/usb-Ab_Cd");
  EXPECT_EQ(mkp::PortDevicePath("COM0"), "");
  EXPECT_EQ(mkp::PortDevicePath("COMX"), "");
  EXPECT_EQ(mkp::PortDevicePath("ttyUSB0"), "");
  auto list = mkp::SerialPortList();
  ASSERT_GE(list.size(), 256u);
  EXPECT_EQ(list[0], "COM1");
  EXPECT_EQ(list[255], "COM256");
}

TEST(PortNameTest, PresentDevicesListStableNamesFirstAndOnlyUartsThatExist) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("mkp-devs-" + std::to_string(::getpid()));
  const auto touch = [](const fs::path& path, const std::string& text = {}) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  };
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS10", "tty0", "null"})
    touch(root / "dev" / name);
  touch(root / "dev/serial/by-id/usb-Maker_Adapter-if00-port0");
  touch(root / "sys/ttyS0/type", "4\n");
  touch(root / "sys/ttyS1/type", "0\n");  // no UART behind it
  EXPECT_EQ(mkp::SerialDevicesUnder((root / "dev").string(), (root / "sys").string()),
            (std::vector<std::string>{(root / "dev/serial/by-id/usb-Maker_Adapter-if00-port0").string(),
                                      (root / "dev/ttyUSB2").string(), (root / "dev/ttyUSB10").string(),
                                      (root / "dev/ttyACM0").string(), (root / "dev/ttyS0").string()}));
  fs::remove_all(root);
}

}  // namespace
