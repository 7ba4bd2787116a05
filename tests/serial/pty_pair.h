// A pseudo-terminal pair for tests: the program under test opens the slave
// side by its path, the test drives the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace mkptest {

class TPtyPair {
public:
  TPtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
      throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    path_ = name;
    // Kept open so the pty lives on when the program closes its side.
    keeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keeper_ < 0) throw std::runtime_error("cannot open " + path_);
    // Raw from the start, as a serial line is: no echo, and every byte
    // written counts as waiting input at once.
    termios raw{};
    if (::tcgetattr(keeper_, &raw) == 0) {
      ::cfmakeraw(&raw);
      ::tcsetattr(keeper_, TCSANOW, &raw);
    }
  }
  ~TPtyPair() {
    CloseMaster();
    if (keeper_ >= 0) ::close(keeper_);
  }
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  const std::string& Path() const { return path_; }
  int MasterFd() const { return master_; }
  // Bytes written to the master that no reader of the terminal has taken yet.
  int Unread() const {
    int count = 0;
    return ::ioctl(keeper_, FIONREAD, &count) == 0 ? count : -1;
  }

  // Waits up to `limit` until exactly `count` bytes wait unread: 0 once the
  // program under test has taken what was written. The kernel tells no one
  // when a reader takes bytes, so this looks again every millisecond.
  bool WaitUnread(int count, std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Unread() != count) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  void Write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t r = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (r <= 0) throw std::runtime_error("master write failed");
      done += static_cast<std::size_t>(r);
    }
  }

  // Reads what arrives until `count` bytes are in or `timeoutMs` passes.
  std::vector<std::uint8_t> Read(std::size_t count, int timeoutMs) {
    std::vector<std::uint8_t> out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) left = std::chrono::milliseconds(0);
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      std::uint8_t buf[4096];
      ssize_t r = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }

  // Bytes waiting on the master side now, without waiting.
  std::vector<std::uint8_t> ReadAvailable() { return Read(1 << 20, 0); }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

private:
  int master_ = -1;
  int keeper_ = -1;
  std::string path_;
};

}  // namespace mkptest
