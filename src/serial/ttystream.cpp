// The local serial device under a channel: a tty (a UART, a USB adapter or a
// pseudo-terminal) opened exclusively as a raw 8-bit line.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "serial/line_params.h"
#include "serial/linestream.h"
#include "serial/portlist.h"
#include "serial/tty_ioctl.h"
#include "text/textcut.h"

namespace mkp {

namespace {

std::string ErrnoText(int err) { return std::generic_category().message(err); }

// Pseudo-terminal slaves (Unix98 and legacy) drop parity and character size.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  unsigned maj = major(st.st_rdev);
  return (maj >= 136 && maj <= 143) || maj == 3;
}

// Closes a descriptor unless released.
struct TFdGuard {
  int fd;
  ~TFdGuard() {
    if (fd >= 0) ::close(fd);
  }
  int Release() {
    int f = fd;
    fd = -1;
    return f;
  }
};

// The device for reading and writing, not as the controlling terminal, and
// never blocking in the driver.
TFdGuard OpenDevice(const std::string& path) {
  TFdGuard guard{::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
  if (guard.fd >= 0) return guard;
  const int err = errno;
  if (err == EACCES || err == EPERM)
    throw ECantOpenPort("Permission denied for " + path +
                            ": the account needs to be a member of the dialout group "
                            "(usermod -aG dialout USER, then log in again)",
                        "Permission denied: add the account to the dialout group");
  if (err == EBUSY) throw ECantOpenPort(path + " is in use by another program", "Port in use by another program");
  if (err == ENOENT || err == ENODEV || err == ENXIO)
    throw ECantOpenPort("Cannot open " + path + ": " + ErrnoText(err), "No such device");
  throw ECantOpenPort("Cannot open " + path + ": " + ErrnoText(err));
}

// The port is this program's alone: an advisory lock that other serial tools
// honour, and the tty's exclusive mode, which refuses further opens (root
// excepted; the lock covers that).
void LockDevice(int fd, const std::string& path) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EWOULDBLOCK)
      throw ECantOpenPort(path + " is in use by another program", "Port in use by another program");
    throw ECantOpenPort("Cannot lock " + path + ": " + ErrnoText(err));
  }
  ioctl(fd, TIOCEXCL);
}

class TTtyStream : public TLineStream {
public:
  TTtyStream(int fd, unsigned baud, std::chrono::microseconds frameGap) : fd_(fd), baud_(baud), frameGap_(frameGap) {}
  ~TTtyStream() override {
    if (!rs485Previous_.empty()) serial_detail::RestoreRs485(fd_, rs485Previous_);
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also drops the flock
  }

  int Descriptor() const override { return fd_; }
  unsigned BitRate() const override { return baud_; }
  std::chrono::microseconds FrameGap() const override { return frameGap_; }
  std::size_t DiscardQueuedInput() override {
    int queued = 0;
    if (ioctl(fd_, FIONREAD, &queued) != 0) queued = 0;
    tcflush(fd_, TCIFLUSH);
    return static_cast<std::size_t>(std::max(queued, 0));
  }
  void DiscardQueuedOutput() override { tcflush(fd_, TCOFLUSH); }
  bool EnableRs485() override { return serial_detail::EnableRs485(fd_, rs485Previous_); }

  bool ReadAvailable(std::vector<std::uint8_t>& out, std::string& failure) override {
    std::uint8_t buffer[4096];
    for (;;) {
      const ssize_t k = ::read(fd_, buffer, sizeof buffer);
      if (k > 0) {
        out.insert(out.end(), buffer, buffer + k);
        if (static_cast<std::size_t>(k) < sizeof buffer) return true;
        continue;
      }
      if (k < 0 && errno == EINTR) continue;
      if (k < 0 && errno == EAGAIN) return true;
      failure = k == 0 ? std::string("The port was lost (hang-up)") : "Read failed: " + ErrnoText(errno);
      return false;
    }
  }

  bool WriteAll(const std::uint8_t* bytes, std::size_t count, TMonoTime deadline, std::string& failure,
                bool& lost) override {
    std::size_t done = 0;
    while (done < count) {
      const ssize_t r = ::write(fd_, bytes + done, count - done);
      if (r > 0) {
        done += static_cast<std::size_t>(r);
        continue;
      }
      const int err = r < 0 ? errno : EAGAIN;
      if (err == EINTR) continue;
      if (err == EAGAIN) {
        const auto left = deadline - TMonoClock::now();
        if (left.count() <= 0) {
          failure = "Write timed out: the line does not take the bytes";
          return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        const timespec ts = ToTimespec(left);
        const int pr = ppoll(&p, 1, &ts, nullptr);
        if (pr > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
          lost = true;
          failure = "The port was lost (hang-up)";
          return false;
        }
        continue;
      }
      if (err == EIO || err == ENXIO || err == ENODEV) lost = true;
      failure = "Write failed: " + ErrnoText(err);
      return false;
    }
    return true;
  }

private:
  int fd_;
  unsigned baud_;
  std::chrono::microseconds frameGap_;
  std::vector<unsigned char> rs485Previous_;  // what the driver had, while RS-485 mode is ours
};

}  // namespace

std::unique_ptr<TLineStream> OpenTtyStream(const std::string& portName, const TLineSettings& settings,
                                           std::string& devicePath) {
  const std::string path = PortDevicePath(portName);
  if (path.empty())
    throw ECantOpenPort("Unknown port name \"" + portName + "\": use COM1..COM256 or a device path",
                        "Unknown port name");

  TFdGuard guard = OpenDevice(path);
  LockDevice(guard.fd, path);
  termios original{};
  if (tcgetattr(guard.fd, &original) != 0) throw ECantOpenPort(path + " is not a serial port", "Not a serial port");

  std::string error;
  const auto parameters = MakeLineParameters(settings.Speed, settings.StopBits, settings.Parity, error);
  if (!parameters) throw ECantOpenPort(error);
  bool standardSpeed = false;
  const termios wanted = RawLineSettings(original, *parameters, standardSpeed);
  if (tcsetattr(guard.fd, TCSANOW, &wanted) != 0)
    throw ECantOpenPort("The driver of " + path + " refused the line settings: " + ErrnoText(errno));
  if (!standardSpeed && !serial_detail::SetLineSpeed(guard.fd, parameters->Speed))
    throw ECantOpenPort("The driver of " + path + " refused the speed " + Trim(settings.Speed));

  // tcsetattr succeeds when any part of the request was taken: read back.
  termios back{};
  if (tcgetattr(guard.fd, &back) != 0) throw ECantOpenPort("Cannot read back the settings of " + path);
  unsigned actual = 0;
  const std::string mismatch =
      ReadBackMismatch(wanted, back, IsPseudoTerminal(guard.fd), parameters->Speed,
                       serial_detail::GetLineSpeed(guard.fd, actual) ? std::optional(actual) : std::nullopt);
  if (!mismatch.empty()) throw ECantOpenPort("The driver of " + path + " " + mismatch);
  serial_detail::RequestLowLatency(guard.fd);  // a best effort

  devicePath = path;
  return std::make_unique<TTtyStream>(guard.Release(), parameters->Speed,
                                      FrameGapFloor(parameters->Speed, back.c_cflag));
}

std::unique_ptr<TLineStream> AdoptTtyStream(int fd, unsigned bitRate) {
  TFdGuard guard{fd};
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
    throw ECantOpenPort("Cannot use the descriptor " + std::to_string(fd) + ": " + ErrnoText(errno));
  termios settings{};
  const tcflag_t cflag = tcgetattr(fd, &settings) == 0 ? settings.c_cflag : tcflag_t{CS8};
  return std::make_unique<TTtyStream>(guard.Release(), bitRate, FrameGapFloor(bitRate, cflag));
}

}  // namespace mkp
