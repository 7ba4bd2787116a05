// A virtual null-modem cable for tests: two pseudo-terminals whose far sides
// a thread joins, so that two programs (or two channels) that open the two
// paths talk to each other as over a cable.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "serial/pty_pair.h"

namespace mkptest {

class TNullModem {
public:
  TNullModem() : relay_([this] { Relay(); }) {}
  ~TNullModem() {
    stop_ = true;
    relay_.join();
  }
  TNullModem(const TNullModem&) = delete;
  TNullModem& operator=(const TNullModem&) = delete;

  const std::string& PathA() const { return a_.Path(); }
  const std::string& PathB() const { return b_.Path(); }

private:
  void Relay() {
    while (!stop_) {
      pollfd p[2] = {{a_.MasterFd(), POLLIN, 0}, {b_.MasterFd(), POLLIN, 0}};
      if (::poll(p, 2, 20) <= 0) continue;
      Copy(p[0], a_, b_);
      Copy(p[1], b_, a_);
    }
  }
  static void Copy(const pollfd& p, TPtyPair& from, TPtyPair& to) {
    if (!(p.revents & POLLIN)) return;
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(from.MasterFd(), buffer, sizeof buffer);
    for (ssize_t done = 0; n > 0 && done < n;) {
      const ssize_t w = ::write(to.MasterFd(), buffer + done, static_cast<std::size_t>(n - done));
      if (w <= 0) break;
      done += w;
    }
  }

  TPtyPair a_, b_;
  std::atomic<bool> stop_{false};
  std::thread relay_;  // last: starts once the pairs exist
};

}  // namespace mkptest
