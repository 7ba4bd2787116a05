// TWorkerThread: the worker-thread base of the Slave responder and the
// Registers automaton.
//
// A derived class overrides Execute() with its loop and calls SafePoint()
// between two iterations:
//
//   void Execute() override {
//     for (;;) {
//       ...one iteration: receive, answer, ...
//       if (!SafePoint()) return;  // stop requested
//     }
//   }
//
// A worker class is always created as TWorker<T> (a TSlaveAutoRepeater is
// made as TWorker<TSlaveAutoRepeater>): its destructor stops and joins the
// thread before any member of T goes away, so T's own destructor needs no
// care. A T on its own is abstract and cannot be created.
//
// The owner (the window, or mkptool) keeps the worker in a std::unique_ptr:
//
//   auto worker = std::make_unique<TWorker<TSlaveAutoRepeater>>();
//   worker->SetOnFinished(...);        // optional, before Start
//   worker->HandOverFrom(std::move(previousWorker));  // optional, before Start
//   worker->Start();
//   ...
//   worker->Pause(timeout); change data; worker->Resume();
//   ...
//   worker->Terminate();               // does not wait
//   worker.reset();                    // or WaitFor(): joins
//
// Safe points. Execute() runs only after a first safe point, and it is "busy"
// from there up to its next SafePoint() call. Pause() asks the worker to hold
// at its next safe point and returns once it is not busy: held there, not yet
// started, still waiting for its predecessor, or ended. Until Resume() it
// does not enter another iteration. Terminate() also releases a held worker:
// SafePoint() then returns false and the loop ends.
//
// Hand-over. A worker asked to stop may still be inside its last receive
// wait (up to about two seconds). HandOverFrom(old) terminates the old worker
// and makes the new one wait for it in the new worker's own thread before its
// first safe point, so the caller never blocks and the old worker no longer
// touches the transport once the new one runs. The new worker owns the old one
// from then on and frees it after it has ended.
//
// Failure. An exception that escapes Execute() ends the worker; it is kept
// (Failure()) and handed to the finish handler, so the owner can show it.
//
// Every request (Terminate, Pause, Resume, WaitFor) is harmless on a worker
// that was never started or has already ended on its own, and may be repeated.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace mkp {

class TWorkerThread {
public:
  TWorkerThread() = default;
  virtual ~TWorkerThread();
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

  // Called once in the worker thread when its body has ended (also after a stop
  // request), with the exception that ended it or null. The window marshals it
  // to its own thread. Set it before Start().
  using TFinishHandler = std::function<void(std::exception_ptr failure)>;
  void SetOnFinished(TFinishHandler onFinished);
  // Called once in the worker thread when its predecessor has let go of the
  // line (at once when it has none), before its first safe point: what a new
  // mode does before it reads. Set it before Start().
  void SetOnTakeOver(std::function<void()> onTakeOver);

  // Terminates the given worker and makes this one wait for it to end (in this
  // worker's thread) before its first safe point. Call before Start(). A null
  // predecessor is ignored.
  void HandOverFrom(std::unique_ptr<TWorkerThread> predecessor);

  // Starts the thread; later calls do nothing.
  void Start();

  // Sets the stop flag and releases a paused worker; does not wait.
  void Terminate();
  bool Terminated() const { return terminate_.load(std::memory_order_acquire); }

  // Asks the worker to hold at its next safe point. True once it is not busy
  // (held, not started, waiting for its predecessor, or ended); false when the
  // timeout passed first, in which case the request stays in force and the
  // worker holds as soon as it reaches a safe point. Pair every Pause() with a
  // Resume(), whatever it returned.
  bool Pause(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // Lets a paused worker go on.
  void Resume();
  // True while a Pause() request is in force and the worker holds at a safe
  // point (not while it is still finishing an iteration).
  bool Held() const;

  // Waits until the thread has ended and joins it. Does nothing when it never
  // started, or when called from the worker thread itself.
  void WaitFor();
  // True once the body has ended (or the worker ended before its first safe
  // point). A worker that never started is not finished.
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  // The exception that escaped Execute(), or null; set once Finished().
  std::exception_ptr Failure() const;
  // The message of an exception: what() of a standard exception, otherwise
  // "unknown error"; empty for null.
  static std::string FailureText(const std::exception_ptr& failure);

protected:
  // The loop. Runs in the worker thread after the first safe point.
  virtual void Execute() = 0;

  // Marks the end of an iteration. Holds here while paused; false when a stop
  // has been requested (the loop must then end), true to go on.
  bool SafePoint();

  // Sleeps for the given time or until a stop is requested; false when stopped.
  bool SleepFor(std::chrono::milliseconds duration);

  // Terminate() and WaitFor().
  void Shutdown();

private:
  template <class T>
  friend class TWorker;
  // Only TWorker<T> overrides it: a worker class is abstract on its own.
  virtual void CreatedAsTWorker() = 0;

  void ThreadMain();

  std::atomic<bool> terminate_{false};
  std::atomic<bool> finished_{false};

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false;
  bool busy_ = false;
  bool pauseRequested_ = false;
  bool held_ = false;
  TFinishHandler onFinished_;
  std::function<void()> onTakeOver_;
  std::exception_ptr failure_;
  std::unique_ptr<TWorkerThread> predecessor_;

  std::mutex joinMutex_;  // two threads never join at once
  std::thread thread_;
};

// The worker class T as it is created: the thread ends before T is destroyed.
template <class T>
class TWorker final : public T {
public:
  template <class... TArgs>
  explicit TWorker(TArgs&&... args) : T(std::forward<TArgs>(args)...) {}
  ~TWorker() override { this->Shutdown(); }

private:
  void CreatedAsTWorker() override {}
};

// Holds a worker paused for the life of the guard (a null worker is allowed);
// the constructor waits as Pause() does.
class TWorkerPause {
public:
  explicit TWorkerPause(TWorkerThread* worker,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
      : worker_(worker) {
    if (worker_) held_ = worker_->Pause(timeout);
  }
  ~TWorkerPause() {
    if (worker_) worker_->Resume();
  }
  TWorkerPause(const TWorkerPause&) = delete;
  TWorkerPause& operator=(const TWorkerPause&) = delete;
  // Whether the worker was known to be off its data when the guard was taken.
  bool Held() const { return held_; }

private:
  TWorkerThread* worker_;
  bool held_ = true;
};

}  // namespace mkp
