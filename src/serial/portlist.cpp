#include "serial/portlist.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "text/textcut.h"

namespace mkp {

namespace {

// Compares names so that embedded numbers sort by value: ttyUSB2 < ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t i2 = i, j2 = j;
      while (i2 < a.size() && a[i2] == '0') ++i2;
      while (j2 < b.size() && b[j2] == '0') ++j2;
      std::size_t ie = i2, je = j2;
      while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
      while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
      if (ie - i2 != je - j2) return ie - i2 < je - j2;
      int c = a.compare(i2, ie - i2, b, j2, je - j2);
      if (c != 0) return c < 0;
      i = ie;
      j = je;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

}  // namespace

std::vector<std::string> SerialDevicesPresent() { return SerialDevicesUnder("/dev", "/sys/class/tty"); }

std::vector<std::string> SerialDevicesUnder(const std::string& dev, const std::string& sysTty) {
  namespace fs = std::filesystem;
  std::vector<std::string> byId, usb, acm, uart;
  std::error_code ec;
  for (fs::directory_iterator it(dev + "/serial/by-id", ec), end; !ec && it != end; it.increment(ec))
    byId.push_back(it->path().string());
  ec.clear();
  for (fs::directory_iterator it(dev, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("ttyUSB", 0) == 0) {
      usb.push_back(it->path().string());
    } else if (name.rfind("ttyACM", 0) == 0) {
      acm.push_back(it->path().string());
    } else if (name.rfind("ttyS", 0) == 0) {
      // The kernel makes ttyS nodes for every possible UART; only those whose
      // type is known (not 0) have a port behind them.
      std::ifstream type(sysTty + "/" + name + "/type");
      int code = 0;
      if (type >> code && code != 0) uart.push_back(it->path().string());
    }
  }
  std::vector<std::string> devices;
  for (auto* group : {&byId, &usb, &acm, &uart}) {
    std::sort(group->begin(), group->end(), NaturalLess);
    devices.insert(devices.end(), group->begin(), group->end());
  }
  return devices;
}

std::vector<std::string> SerialPortList() {
  std::vector<std::string> list;
  list.reserve(256);
  for (int i = 1; i <= 256; ++i) list.push_back("COM" + std::to_string(i));
  auto devices = SerialDevicesPresent();
  list.insert(list.end(), devices.begin(), devices.end());
  return list;
}

std::string PortDevicePath(const std::string& portName) {
  if (portName.find('/') != std::string::npos) return portName;
  std::string name = UpperCase(Trim(portName));
  if (name.size() < 4 || name.size() > 8 || name.compare(0, 3, "COM") != 0) return {};
  unsigned n = 0;
  auto [p, ec] = std::from_chars(name.data() + 3, name.data() + name.size(), n);
  if (ec != std::errc() || p != name.data() + name.size() || n < 1) return {};
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace mkp
