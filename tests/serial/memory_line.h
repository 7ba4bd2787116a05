// A serial line in memory for tests of the logic above the line (transport,
// slave responder, registers automaton): what the far side writes comes back
// one chunk per read, with the time it was written as its arrival, and what
// the program writes is kept for the far side. No other timing of a real line
// is imitated.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

#include "serial/line.h"

namespace mkptest {

class TMemoryLine : public mkp::TSerialLine {
public:
  using Bytes = std::vector<std::uint8_t>;

  // ---- The program's side ------------------------------------------------------
  mkp::TPortState State() const override {
    std::lock_guard lock(mutex_);
    return state_;
  }
  bool WriteBytes(const std::uint8_t* buffer, std::size_t& count) override {
    std::function<void(const Bytes&)> onWrite;
    Bytes written;
    {
      std::lock_guard lock(mutex_);
      if (state_ != mkp::psOk || buffer == nullptr || failWrites_) {
        if (failWrites_) state_ = mkp::psFailed;
        count = 0;
        return false;
      }
      written.assign(buffer, buffer + count);
      sent_.insert(sent_.end(), written.begin(), written.end());
      onWrite = onWrite_;
      changed_.notify_all();
    }
    if (onWrite) onWrite(written);
    return true;
  }
  // Gives the next chunk the far side wrote (up to maximum bytes; the rest of
  // it stays for the next read), waiting ReadWait for one to come.
  bool Read(std::uint8_t* buffer, std::size_t maximum, std::size_t& count, const TReadOptions& options) override {
    count = 0;
    const mkp::TMonoTime* deadline = options.Deadline;
    mkp::TMonoTime* firstByte = options.FirstByte;
    std::unique_lock lock(mutex_);
    if (state_ != mkp::psOk || buffer == nullptr) return false;
    ++readers_;
    changed_.notify_all();
    const auto until = deadline != nullptr ? std::min(*deadline, mkp::TMonoClock::now() + readWait_)
                                           : mkp::TMonoClock::now() + readWait_;
    changed_.wait_until(lock, until, [&] { return !chunks_.empty() || state_ != mkp::psOk; });
    --readers_;
    if (state_ != mkp::psOk) return false;
    if (chunks_.empty()) return true;
    const mkp::TMonoTime arrived = arrivals_.front();
    if (firstByte != nullptr) *firstByte = arrived;
    if (options.Arrivals != nullptr) *options.Arrivals = {{0, arrived}};
    Bytes& chunk = chunks_.front();
    count = std::min(maximum, chunk.size());
    std::copy_n(chunk.begin(), count, buffer);
    chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count));
    if (chunk.empty()) {
      chunks_.pop_front();
      arrivals_.pop_front();
    }
    return true;
  }

  // ---- The far side ----------------------------------------------------------------
  // One chunk: what one read of the program will give.
  void Write(const Bytes& chunk) {
    std::lock_guard lock(mutex_);
    chunks_.push_back(chunk);
    arrivals_.push_back(mkp::TMonoClock::now());
    changed_.notify_all();
  }
  // Waits until the program has written `count` bytes not read yet (or the
  // time is up) and takes up to that many.
  Bytes Read(std::size_t count, int timeoutMs) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return sent_.size() >= count; });
    const std::size_t n = std::min(count, sent_.size());
    Bytes out(sent_.begin(), sent_.begin() + static_cast<std::ptrdiff_t>(n));
    sent_.erase(sent_.begin(), sent_.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
  }
  Bytes ReadAvailable() { return Read(std::numeric_limits<std::size_t>::max(), 0); }
  // Called in the writing thread with each write of the program (a simulated
  // device answers from here).
  void OnWrite(std::function<void(const Bytes&)> onWrite) {
    std::lock_guard lock(mutex_);
    onWrite_ = std::move(onWrite);
  }
  // Waits until a read of the program is waiting for bytes.
  bool WaitForReader(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return readers_ > 0; });
  }
  void SetState(mkp::TPortState state) {
    std::lock_guard lock(mutex_);
    state_ = state;
    changed_.notify_all();
  }
  // Every later write fails and leaves the line psFailed.
  void FailWrites(bool fail) {
    std::lock_guard lock(mutex_);
    failWrites_ = fail;
  }
  void SetReadWait(std::chrono::milliseconds wait) {
    std::lock_guard lock(mutex_);
    readWait_ = wait;
  }

private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  mkp::TPortState state_ = mkp::psOk;
  bool failWrites_ = false;
  std::chrono::milliseconds readWait_{50};
  std::deque<Bytes> chunks_;
  std::deque<mkp::TMonoTime> arrivals_;  // when each chunk was written
  std::deque<std::uint8_t> sent_;
  int readers_ = 0;
  std::function<void(const Bytes&)> onWrite_;
};

}  // namespace mkptest
