#include "modes/worker.h"

#include <utility>

namespace mkp {

TWorkerThread::~TWorkerThread() { Shutdown(); }

void TWorkerThread::SetOnFinished(TFinishHandler onFinished) {
  std::lock_guard lock(mutex_);
  onFinished_ = std::move(onFinished);
}

void TWorkerThread::HandOverFrom(std::unique_ptr<TWorkerThread> predecessor) {
  if (!predecessor) return;
  predecessor->Terminate();
  std::unique_ptr<TWorkerThread> previous;
  {
    std::lock_guard lock(mutex_);
    if (started_) {
      // Too late to wait in our own thread: keep the old worker off the
      // transport by letting it end here instead.
      previous = std::move(predecessor);
    } else {
      previous = std::move(predecessor_);
      predecessor_ = std::move(predecessor);
    }
  }
  // previous (if any) is destroyed here, which joins it.
}

void TWorkerThread::Start() {
  std::lock_guard lock(mutex_);
  if (started_) return;
  started_ = true;
  thread_ = std::thread([this] { ThreadMain(); });
}

void TWorkerThread::Terminate() {
  terminate_.store(true, std::memory_order_release);
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

bool TWorkerThread::Pause(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  pauseRequested_ = true;
  changed_.notify_all();
  return changed_.wait_for(lock, timeout, [this] { return !busy_; });
}

void TWorkerThread::Resume() {
  std::lock_guard lock(mutex_);
  pauseRequested_ = false;
  changed_.notify_all();
}

bool TWorkerThread::Held() const {
  std::lock_guard lock(mutex_);
  return held_;
}

void TWorkerThread::WaitFor() {
  std::lock_guard joinLock(joinMutex_);
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) return;
  thread_.join();
}

bool TWorkerThread::SafePoint() {
  std::unique_lock lock(mutex_);
  busy_ = false;
  changed_.notify_all();
  while (pauseRequested_ && !Terminated()) {
    held_ = true;
    changed_.notify_all();
    changed_.wait(lock);
  }
  held_ = false;
  if (Terminated()) return false;
  busy_ = true;
  return true;
}

bool TWorkerThread::SleepFor(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, duration, [this] { return Terminated(); });
}

void TWorkerThread::Shutdown() {
  Terminate();
  WaitFor();
}

void TWorkerThread::SetOnTakeOver(std::function<void()> onTakeOver) {
  std::lock_guard lock(mutex_);
  onTakeOver_ = std::move(onTakeOver);
}

void TWorkerThread::ThreadMain() {
  std::unique_ptr<TWorkerThread> predecessor;
  {
    std::lock_guard lock(mutex_);
    predecessor = std::move(predecessor_);
  }
  if (predecessor) {
    predecessor->WaitFor();
    predecessor.reset();
  }
  std::exception_ptr failure;
  try {
    std::function<void()> onTakeOver;
    {
      std::lock_guard lock(mutex_);
      onTakeOver = onTakeOver_;
    }
    if (onTakeOver && !Terminated()) onTakeOver();
    if (SafePoint()) Execute();
  } catch (...) {
    failure = std::current_exception();
  }
  TFinishHandler onFinished;
  {
    std::lock_guard lock(mutex_);
    busy_ = false;
    held_ = false;
    failure_ = failure;
    onFinished = onFinished_;
    changed_.notify_all();
  }
  finished_.store(true, std::memory_order_release);
  if (onFinished) {
    try {
      onFinished(failure);
    } catch (...) {
      // The handler is the owner's; an error in it must not end the program.
    }
  }
}

std::exception_ptr TWorkerThread::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

std::string TWorkerThread::FailureText(const std::exception_ptr& failure) {
  if (!failure) return {};
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return "unknown error";
}

}  // namespace mkp
