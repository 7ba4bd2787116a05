#include "modes/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Waits (generously) until the condition holds.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Counts its iterations and whether it is inside one; the iteration body is
// supplied by the test.
class TCountingLoop : public mkp::TWorkerThread {
public:
  explicit TCountingLoop(std::function<void()> body = [] { std::this_thread::sleep_for(1ms); })
      : body_(std::move(body)) {}

  std::atomic<int> Iterations{0};
  std::atomic<bool> Inside{false};
  std::atomic<bool> InsideWhilePaused{false};
  std::atomic<bool>* PauseFlag = nullptr;

protected:
  void Execute() override {
    for (;;) {
      Inside = true;
      if (PauseFlag && *PauseFlag) InsideWhilePaused = true;
      body_();
      ++Iterations;
      Inside = false;
      if (!SafePoint()) return;
    }
  }

private:
  std::function<void()> body_;
};
using TCountingWorker = mkp::TWorker<TCountingLoop>;

TEST(WorkerThreadTest, TerminateEndsTheLoopAndLaterRequestsAreHarmless) {
  std::atomic<int> finishedCalls{0};
  TCountingWorker w;
  w.SetOnFinished([&](std::exception_ptr failure) {
    EXPECT_FALSE(failure);
    ++finishedCalls;
  });
  EXPECT_FALSE(w.Finished());
  w.Start();
  w.Start();
  ASSERT_TRUE(Eventually([&] { return w.Iterations > 2; }));
  w.Terminate();
  w.WaitFor();
  EXPECT_TRUE(w.Finished());
  EXPECT_EQ(finishedCalls, 1);
  int done = w.Iterations;
  w.Terminate();
  EXPECT_TRUE(w.Pause(0ms));
  w.Resume();
  w.WaitFor();
  EXPECT_EQ(w.Iterations, done);
  EXPECT_EQ(finishedCalls, 1);
}

TEST(WorkerThreadTest, PauseHoldsBetweenIterationsUntilResume) {
  std::atomic<bool> paused{false};
  TCountingWorker w([] { std::this_thread::sleep_for(2ms); });
  w.PauseFlag = &paused;
  w.Start();
  ASSERT_TRUE(Eventually([&] { return w.Iterations > 0; }));
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(w.Pause(10s));
    paused = true;
    EXPECT_FALSE(w.Inside);
    int held = w.Iterations;
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(w.Iterations, held);
    EXPECT_TRUE(w.Held());
    paused = false;
    w.Resume();
    ASSERT_TRUE(Eventually([&] { return w.Iterations > held; }));
  }
  EXPECT_FALSE(w.InsideWhilePaused);
}

TEST(WorkerThreadTest, PauseBeforeStartHoldsAtTheFirstSafePoint) {
  TCountingWorker w;
  EXPECT_TRUE(w.Pause(0ms));
  w.Start();
  ASSERT_TRUE(Eventually([&] { return w.Held(); }));
  EXPECT_EQ(w.Iterations, 0);
  w.Resume();
  ASSERT_TRUE(Eventually([&] { return w.Iterations > 0; }));
}

TEST(WorkerThreadTest, PauseTimesOutOnALongIterationAndHoldsAfterIt) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> entered{false};
  TCountingWorker w([&] {
    entered = true;
    released.wait();
  });
  w.Start();
  ASSERT_TRUE(Eventually([&] { return entered.load(); }));
  EXPECT_FALSE(w.Pause(20ms));
  release.set_value();
  ASSERT_TRUE(Eventually([&] { return w.Held(); }));
  EXPECT_EQ(w.Iterations, 1);
  w.Resume();
  ASSERT_TRUE(Eventually([&] { return w.Iterations > 1; }));
}

TEST(WorkerThreadTest, HandOverWaitsInTheNewThreadForTheOldOneToEnd) {
  std::atomic<int> users{0};  // workers inside an iteration: the "transport"
  std::atomic<bool> overlap{false};
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> oldEntered{false};
  std::atomic<bool> oldFinished{false};

  auto use = [&](const std::function<void()>& inside) {
    if (++users > 1) overlap = true;
    inside();
    --users;
  };
  auto old = std::make_unique<TCountingWorker>([&] {
    use([&] {
      oldEntered = true;
      released.wait();  // a long receive wait
    });
  });
  old->SetOnFinished([&](std::exception_ptr) { oldFinished = true; });
  old->Start();
  ASSERT_TRUE(Eventually([&] { return oldEntered.load(); }));

  TCountingWorker next([&] { use([] { std::this_thread::sleep_for(1ms); }); });
  next.HandOverFrom(std::move(old));
  next.Start();  // returns although the old worker is still inside its iteration
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(next.Iterations, 0);
  EXPECT_FALSE(oldFinished);

  release.set_value();
  ASSERT_TRUE(Eventually([&] { return next.Iterations > 3; }));
  EXPECT_TRUE(oldFinished);
  EXPECT_FALSE(overlap);
}

TEST(WorkerThreadTest, AnExceptionThatEndsTheWorkerIsHandedToItsOwner) {
  class TThrowing : public mkp::TWorkerThread {
  protected:
    void Execute() override { throw std::runtime_error("boom"); }
  };
  std::string handed;
  std::atomic<bool> called{false};
  mkp::TWorker<TThrowing> w;
  w.SetOnFinished([&](std::exception_ptr failure) {
    handed = mkp::TWorkerThread::FailureText(failure);
    called = true;
  });
  w.Start();
  ASSERT_TRUE(Eventually([&] { return called.load(); }));
  EXPECT_EQ(handed, "boom");
  EXPECT_TRUE(w.Finished());
  EXPECT_EQ(mkp::TWorkerThread::FailureText(w.Failure()), "boom");
  EXPECT_EQ(mkp::TWorkerThread::FailureText(std::make_exception_ptr(42)), "unknown error");
  // An ended worker takes every request harmlessly.
  EXPECT_TRUE(w.Pause(0ms));
  w.Resume();
  w.Terminate();
  w.WaitFor();
  w.WaitFor();
}

TEST(WorkerThreadTest, DestroyingAPausedOrSleepingWorkerEndsIt) {
  auto paused = std::make_unique<TCountingWorker>();
  paused->Start();
  ASSERT_TRUE(paused->Pause(10s));
  paused.reset();  // must not hang on the held worker

  class TSleeper : public mkp::TWorkerThread {
  public:
    std::atomic<bool> Asleep{false};
    std::atomic<bool> Woken{false};

  protected:
    void Execute() override {
      Asleep = true;
      if (!SleepFor(60s)) Woken = true;
    }
  };
  mkp::TWorker<TSleeper> sleeper;
  sleeper.Start();
  ASSERT_TRUE(Eventually([&] { return sleeper.Asleep.load(); }));
  auto before = std::chrono::steady_clock::now();
  sleeper.Terminate();
  sleeper.WaitFor();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 30s);
  EXPECT_TRUE(sleeper.Woken);

  TCountingWorker neverStarted;
  neverStarted.Terminate();
  neverStarted.WaitFor();
  EXPECT_FALSE(neverStarted.Finished());
}

}  // namespace
