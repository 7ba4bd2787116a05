// A serial line in memory for tests of the logic above the line (transport,
// slave responder, registers automaton): what the far side writes comes back
// one chunk per read, and what the program writes is kept for the far side.
// No timing of a real line is imitated.
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
  bool ReadBytes(std::uint8_t* buffer, std::size_t maximum, std::size_t& count,
                 const TUnfinished& = nullptr, mkp::TMonoTime* firstByte = nullptr) override {
    count = 0;
    std::unique_lock lock(mutex_);
    if (state_ != mkp::psOk || buffer == nullptr) return false;
    ++readers_;
    changed_.notify_all();
    changed_.wait_for(lock, readWait_, [&] { return !chunks_.empty() || state_ != mkp::psOk; });
    --readers_;
    if (state_ != mkp::psOk) return false;
    if (chunks_.empty()) return true;
    if (firstByte != nullptr) *firstByte = mkp::TMonoClock::now();
    Bytes& chunk = chunks_.front();
    count = std::min(maximum, chunk.size());
    std::copy_n(chunk.begin(), count, buffer);
    chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count));
    if (chunk.empty()) chunks_.pop_front();
    return true;
  }

  bool CanWaitForInput() const override { return true; }
  std::optional<mkp::TMonoTime> WaitForInput(std::chrono::milliseconds timeout) override {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return !chunks_.empty() || state_ != mkp::psOk; })) return std::nullopt;
    if (chunks_.empty()) return std::nullopt;
    return mkp::TMonoClock::now();
  }

  // ---- The far side ----------------------------------------------------------------
  // One chunk: what one read of the program will give.
  void Write(const Bytes& chunk) {
    std::lock_guard lock(mutex_);
    chunks_.push_back(chunk);
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
  std::deque<std::uint8_t> sent_;
  int readers_ = 0;
  std::function<void(const Bytes&)> onWrite_;
};

}  // namespace mkptest
