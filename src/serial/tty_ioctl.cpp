#include "serial/tty_ioctl.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

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

}  // namespace mkp::serial_detail
