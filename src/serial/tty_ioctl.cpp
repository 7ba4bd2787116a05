#include "serial/tty_ioctl.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <algorithm>

namespace mkp::serial_detail {

bool SetLineSpeed(int fd, unsigned speed) {
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = speed;
  tio.c_ospeed = speed;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

bool GetLineSpeed(int fd, unsigned& speed) {
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  speed = tio.c_ospeed;
  return true;
}

bool RequestLowLatency(int fd) {
  serial_struct info{};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0) return false;
  if (info.flags & ASYNC_LOW_LATENCY) return true;
  info.flags |= ASYNC_LOW_LATENCY;
  return ioctl(fd, TIOCSSERIAL, &info) == 0;
}

bool EnableRs485(int fd, std::vector<unsigned char>& previous) {
  serial_rs485 current{};
  if (ioctl(fd, TIOCGRS485, &current) != 0) return false;
  serial_rs485 wanted = current;
  wanted.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  wanted.flags &= ~SER_RS485_RTS_AFTER_SEND;
  if (ioctl(fd, TIOCSRS485, &wanted) != 0) return false;
  serial_rs485 back{};
  if (ioctl(fd, TIOCGRS485, &back) != 0 || !(back.flags & SER_RS485_ENABLED)) {
    ioctl(fd, TIOCSRS485, &current);
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(&current);
  previous.assign(bytes, bytes + sizeof current);
  return true;
}

void RestoreRs485(int fd, const std::vector<unsigned char>& previous) {
  if (previous.size() != sizeof(serial_rs485)) return;
  serial_rs485 settings{};
  std::copy(previous.begin(), previous.end(), reinterpret_cast<unsigned char*>(&settings));
  ioctl(fd, TIOCSRS485, &settings);
}

}  // namespace mkp::serial_detail
