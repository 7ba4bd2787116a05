#include "serial/comport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>

#include "serial/line_params.h"
#include "serial/tty_ioctl.h"
#include "text/textcut.h"

namespace mkp {

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC

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

std::chrono::nanoseconds Remaining(Clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
}

timespec ToTimespec(std::chrono::nanoseconds d) {
  if (d.count() < 0) d = std::chrono::nanoseconds(0);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(d.count() / 1000000000);
  ts.tv_nsec = static_cast<long>(d.count() % 1000000000);
  return ts;
}

}  // namespace

const char* PortStateText(TPortState state) {
  switch (state) {
    case psOk:
      return "Port settings OK";
    case psInvalid:
      return "Invalid port settings!";
    case psFailed:
      return "Last operation FAILED!";
  }
  return "Invalid port settings!";
}

TCOMPortChannel::TCOMPortChannel() = default;

TCOMPortChannel::~TCOMPortChannel() { ClosePort(); }

void TCOMPortChannel::SetLastError(std::string text, std::string brief) {
  std::lock_guard lk(infoLock_);
  lastError_ = std::move(text);
  lastBrief_ = std::move(brief);
}

std::string TCOMPortChannel::LastError() const {
  std::lock_guard lk(infoLock_);
  return lastError_;
}

std::string TCOMPortChannel::LastErrorBrief() const {
  std::lock_guard lk(infoLock_);
  return lastBrief_.empty() ? lastError_ : lastBrief_;
}
std::string TCOMPortChannel::PortName() const {
  std::lock_guard lk(infoLock_);
  return portName_;
}
std::string TCOMPortChannel::Speed() const {
  std::lock_guard lk(infoLock_);
  return speed_;
}
std::string TCOMPortChannel::StopBits() const {
  std::lock_guard lk(infoLock_);
  return stopBits_;
}
std::string TCOMPortChannel::Parity() const {
  std::lock_guard lk(infoLock_);
  return parity_;
}
std::string TCOMPortChannel::DevicePath() const {
  std::lock_guard lk(infoLock_);
  return devicePath_;
}

bool TCOMPortChannel::OpenPort(const std::string& portName, const std::string& speed,
                               const std::string& stopBits, const std::string& parity, int readInterval,
                               int writeInterval) {
  ClosePort();
  try {
    readInterval_ = std::max(0, readInterval);
    writeInterval_ = std::max(0, writeInterval);
    OpenOrThrow(portName, speed, stopBits, parity);
  } catch (const ECantOpenPort& e) {
    SetLastError(e.what(), e.Brief());
    state_ = psInvalid;
    return false;
  } catch (const std::exception& e) {
    SetLastError(e.what());
    state_ = psInvalid;
    return false;
  }
  DiscardInput();
  return true;
}

namespace {

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

}  // namespace

void TCOMPortChannel::OpenOrThrow(const std::string& portName, const std::string& speedText,
                                  const std::string& stopBitsText, const std::string& parityText) {
  std::unique_lock hl(handleLock_);
  const std::string path = PortDevicePath(portName);
  if (path.empty())
    throw ECantOpenPort("Unknown port name \"" + portName + "\": use COM1..COM256 or a device path",
                        "Unknown port name");

  TFdGuard guard = OpenDevice(path);
  LockDevice(guard.fd, path);
  termios original{};
  if (tcgetattr(guard.fd, &original) != 0) throw ECantOpenPort(path + " is not a serial port", "Not a serial port");

  std::string error;
  const auto parameters = MakeLineParameters(speedText, stopBitsText, parityText, error);
  if (!parameters) throw ECantOpenPort(error);
  bool standardSpeed = false;
  const termios wanted = RawLineSettings(original, *parameters, standardSpeed);
  if (tcsetattr(guard.fd, TCSANOW, &wanted) != 0)
    throw ECantOpenPort("The driver of " + path + " refused the line settings: " + ErrnoText(errno));
  if (!standardSpeed && !serial_detail::SetLineSpeed(guard.fd, parameters->Speed))
    throw ECantOpenPort("The driver of " + path + " refused the speed " + Trim(speedText));

  // tcsetattr succeeds when any part of the request was taken: read back.
  termios back{};
  if (tcgetattr(guard.fd, &back) != 0) throw ECantOpenPort("Cannot read back the settings of " + path);
  unsigned actual = 0;
  const std::string mismatch =
      ReadBackMismatch(wanted, back, IsPseudoTerminal(guard.fd), parameters->Speed,
                       serial_detail::GetLineSpeed(guard.fd, actual) ? std::optional(actual) : std::nullopt);
  if (!mismatch.empty()) throw ECantOpenPort("The driver of " + path + " " + mismatch);
  serial_detail::RequestLowLatency(guard.fd);  // a best effort

  fd_ = guard.Release();
  baud_ = parameters->Speed;
  frameGap_ = FrameGapFloor(parameters->Speed, back.c_cflag);
  {
    std::lock_guard lk(infoLock_);
    portName_ = path == portName ? portName : UpperCase(Trim(portName));
    speed_ = UpperCase(Trim(speedText));
    stopBits_ = UpperCase(Trim(stopBitsText));
    parity_ = UpperCase(Trim(parityText));
    devicePath_ = path;
    lastError_.clear();
    lastBrief_.clear();
  }
  lost_ = false;
  state_ = psOk;
}

void TCOMPortChannel::DiscardInput() {
  // Up to 255 bytes, waiting at most 2 + 255 ms, with no byte-to-byte limit;
  // a failure here is no failure of the open.
  std::uint8_t bytes[255];
  std::size_t count = 0;
  std::string failure;
  std::lock_guard rl(readLock_);
  std::shared_lock hl(handleLock_);
  if (fd_ < 0) return;
  ReadLocked(bytes, sizeof bytes, count, Clock::now() + std::chrono::milliseconds(2 + sizeof bytes),
             std::chrono::microseconds(0), nullptr, nullptr, failure);
}

void TCOMPortChannel::CloseHandleLocked(bool discardOutput) {
  if (fd_ >= 0) {
    // Bytes of a write that failed would hold up the close of a real port
    // (it waits for the output to drain) and are stale anyway.
    if (discardOutput) tcflush(fd_, TCOFLUSH);
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also drops the flock
    fd_ = -1;
  }
}

void TCOMPortChannel::StopPacing() {
  {
    std::lock_guard pl(paceLock_);
    paceStop_ = true;
    paced_.clear();
    pacedNext_ = 0;
  }
  paceCv_.notify_all();
  if (paceThread_.joinable()) paceThread_.join();
  std::lock_guard pl(paceLock_);
  paceStop_ = false;
}

void TCOMPortChannel::ClosePort() {
  bool failed;
  {
    std::lock_guard pl(paceLock_);
    failed = state_.exchange(psInvalid) == psFailed;  // refuses new paced writes from here on
  }
  StopPacing();
  std::unique_lock hl(handleLock_);
  CloseHandleLocked(failed);
  state_ = psInvalid;
}

bool TCOMPortChannel::WriteAllLocked(const std::uint8_t* buffer, std::size_t count) {
  // No write time-out is asked for; a line held up by flow control or a pty
  // whose other side never reads still must not block forever.
  const auto limit = std::chrono::milliseconds(2000 + static_cast<long long>(count) * 11000 / std::max(1u, baud_));
  const auto deadline = Clock::now() + limit;
  std::size_t done = 0;
  while (done < count) {
    ssize_t r = ::write(fd_, buffer + done, count - done);
    if (r > 0) {
      done += static_cast<std::size_t>(r);
      continue;
    }
    int err = r < 0 ? errno : EAGAIN;
    if (err == EINTR) continue;
    if (err == EAGAIN) {
      auto left = Remaining(deadline);
      if (left.count() <= 0) {
        SetLastError("Write timed out: the line does not take the bytes");
        return false;
      }
      pollfd p{fd_, POLLOUT, 0};
      timespec ts = ToTimespec(left);
      int pr = ppoll(&p, 1, &ts, nullptr);
      if (pr > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
        lost_ = true;
        SetLastError("The port was lost (hang-up)");
        return false;
      }
      continue;
    }
    if (err == EIO || err == ENXIO || err == ENODEV) lost_ = true;
    SetLastError("Write failed: " + ErrnoText(err));
    return false;
  }
  return true;
}

bool TCOMPortChannel::WriteBytes(const std::uint8_t* buffer, std::size_t& count) {
  if (writeInterval_.load() > 0) {
    std::lock_guard pl(paceLock_);
    if (state_.load() != psOk || buffer == nullptr) {
      count = 0;
      state_ = psFailed;
      return false;
    }
    const std::size_t pending = paced_.size() - pacedNext_;
    if (pending + count > PacedCopySize) {
      SetLastError("Paced write refused: more than " + std::to_string(PacedCopySize) + " bytes pending");
      count = 0;
      return false;
    }
    paced_.erase(paced_.begin(), paced_.begin() + static_cast<std::ptrdiff_t>(pacedNext_));
    pacedNext_ = 0;
    paced_.insert(paced_.end(), buffer, buffer + count);
    if (!paceThread_.joinable()) paceThread_ = std::thread(&TCOMPortChannel::PacingLoop, this);
    paceCv_.notify_all();
    return true;
  }

  std::shared_lock hl(handleLock_);
  if (state_.load() != psOk || fd_ < 0 || buffer == nullptr) {
    count = 0;
    state_ = psFailed;
    return false;
  }
  std::lock_guard wl(writeLock_);
  if (!WriteAllLocked(buffer, count)) {
    count = 0;
    state_ = psFailed;
    return false;
  }
  state_ = psOk;
  return true;
}

void TCOMPortChannel::PacingLoop() {
  std::unique_lock pl(paceLock_);
  const auto interval = std::chrono::milliseconds(std::max(1, writeInterval_.load()));
  auto tick = Clock::now() + interval;
  while (!paceStop_) {
    if (pacedNext_ >= paced_.size()) {
      // The timer is off until the next paced write; it then ticks first one
      // interval later.
      paceCv_.wait(pl, [&] { return paceStop_ || pacedNext_ < paced_.size(); });
      tick = Clock::now() + interval;
      continue;
    }
    if (paceCv_.wait_until(pl, tick, [&] { return paceStop_; })) break;
    const std::uint8_t byte = paced_[pacedNext_];
    pl.unlock();
    bool ok;
    {
      std::shared_lock hl(handleLock_);
      std::lock_guard wl(writeLock_);
      ok = fd_ >= 0 && WriteAllLocked(&byte, 1);
    }
    pl.lock();
    if (paceStop_) break;
    if (!ok) {
      state_ = psFailed;
      paced_.clear();
      pacedNext_ = 0;
    } else {
      state_ = psOk;
      ++pacedNext_;  // appends only compact the bytes before this one
    }
    if (pacedNext_ >= paced_.size()) {
      paced_.clear();
      pacedNext_ = 0;
      paceCv_.notify_all();
    }
    tick += interval;
    if (tick < Clock::now()) tick = Clock::now() + interval;  // a late tick does not bunch the rest
  }
}

bool TCOMPortChannel::WaitPacedWrite(std::chrono::milliseconds timeout) {
  std::unique_lock pl(paceLock_);
  return paceCv_.wait_for(pl, timeout, [&] { return pacedNext_ >= paced_.size(); });
}

std::chrono::nanoseconds TCOMPortChannel::PendingWriteTime() const {
  std::lock_guard pl(paceLock_);
  const std::size_t pending = paced_.size() - pacedNext_;
  return std::chrono::milliseconds(std::max(1, writeInterval_.load())) * static_cast<long long>(pending);
}

bool TCOMPortChannel::PacedWriteActive() const {
  std::lock_guard pl(paceLock_);
  return pacedNext_ < paced_.size();
}

bool TCOMPortChannel::ReadLocked(std::uint8_t* buffer, std::size_t maximum, std::size_t& count,
                                 Clock::time_point total, std::chrono::microseconds interval,
                                 const TUnfinished& unfinished, TMonoTime* firstByte, std::string& failure) {
  const std::chrono::microseconds frameGap = std::max(interval, frameGap_.load());
  Clock::time_point lastByte{};
  bool inFrame = false;  // the bytes so far are an unfinished frame
  count = 0;
  while (count < maximum) {
    auto deadline = total;
    if (count > 0 && interval.count() > 0) deadline = std::min(deadline, lastByte + (inFrame ? frameGap : interval));
    auto left = Remaining(deadline);
    if (left.count() <= 0) break;
    // The kernel lets a long poll overrun by 0.1 % of its time-out; short
    // waits keep the total time-out within a fraction of a millisecond.
    left = std::min<std::chrono::nanoseconds>(left, std::chrono::milliseconds(50));
    pollfd p{fd_, POLLIN, 0};
    timespec ts = ToTimespec(left);
    int r = ppoll(&p, 1, &ts, nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      failure = "Read failed: " + ErrnoText(errno);
      return false;
    }
    if (r == 0) continue;
    if (p.revents & POLLIN) {
      ssize_t k = ::read(fd_, buffer + count, maximum - count);
      if (k > 0) {
        lastByte = Clock::now();
        if (count == 0 && firstByte != nullptr) *firstByte = lastByte;
        count += static_cast<std::size_t>(k);
        inFrame = unfinished && unfinished(buffer, count);
        continue;
      }
      if (k < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      failure = k == 0 ? std::string("The port was lost (hang-up)") : "Read failed: " + ErrnoText(errno);
      return false;
    }
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
      failure = "The port was lost (hang-up)";
      return false;
    }
  }
  return true;
}

std::optional<TMonoTime> TCOMPortChannel::WaitForInput(std::chrono::milliseconds timeout) {
  std::lock_guard rl(readLock_);
  std::shared_lock hl(handleLock_);
  if (state_.load() != psOk || fd_ < 0) return std::nullopt;
  pollfd p{fd_, POLLIN, 0};
  timespec ts = ToTimespec(std::max<std::chrono::nanoseconds>(timeout, std::chrono::nanoseconds(0)));
  if (ppoll(&p, 1, &ts, nullptr) > 0 && (p.revents & POLLIN)) return TMonoClock::now();
  return std::nullopt;
}

bool TCOMPortChannel::ReadBytes(std::uint8_t* buffer, std::size_t maximum, std::size_t& count,
                                const TUnfinished& unfinished, TMonoTime* firstByte) {
  count = 0;
  if (buffer == nullptr) return false;
  std::lock_guard rl(readLock_);
  std::shared_lock hl(handleLock_);
  if (state_.load() != psOk || fd_ < 0) return false;
  if (maximum == 0) return true;

  const auto total = Clock::now() + std::chrono::milliseconds(2 + static_cast<long long>(maximum));
  std::string failure;
  if (ReadLocked(buffer, maximum, count, total, std::chrono::milliseconds(readInterval_.load()), unfinished,
                 firstByte, failure))
    return true;

  lost_ = true;
  SetLastError(failure);
  if (count > 0) return true;  // hand over what arrived; the next read reports the failure
  // A vanished device fails every read at once; wait out the read's time-out
  // so that callers polling in a loop do not spin.
  hl.unlock();
  std::this_thread::sleep_until(total);
  return false;
}

}  // namespace mkp
