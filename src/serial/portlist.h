// The port names the system offers, and the device behind a port name.
#pragma once

#include <string>
#include <vector>

namespace mkp {

// "COM1" .. "COM256" followed by the serial devices present now.
std::vector<std::string> SerialPortList();
// Only the serial devices present now (the tail of SerialPortList): the
// stable /dev/serial/by-id names first, then ttyUSB, ttyACM and the ttyS
// ports that have a UART behind them, each group in natural order.
std::vector<std::string> SerialDevicesPresent();
// The same, looked up under other folders than /dev and /sys/class/tty.
std::vector<std::string> SerialDevicesUnder(const std::string& dev, const std::string& sysTty);
// The device path for a port name: "com3" -> "/dev/ttyS2"; a name with "/"
// unchanged; anything else empty.
std::string PortDevicePath(const std::string& portName);

}  // namespace mkp
