#include "modes/replay.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "analysis/parser.h"
#include "protocol/capture_bytes.h"
#include "protocol/transport.h"
#include "serial/memory_line.h"

namespace {

using namespace mkp;
using namespace std::chrono_literals;
using mkptest::FrameOfText;

class ReplayTest : public ::testing::Test {
protected:
  void SetUp() override {
    char name[] = "/tmp/mkp-replay-XXXXXX";
    dir_ = mkdtemp(name);
    const mkptest::TCaptureBuilder b;
    // Sent at 0 ms, received at 100 ms, sent at 300 ms.
    mkptest::WriteBytesTo(dir_ + "/c.pcapng",
                          mkptest::Joined({b.Section(), b.Interface(147), b.Packet(0, 5'000'000, a_, 2),
                                           b.Packet(0, 5'100'000, answer_, 1), b.Packet(0, 5'300'000, c_, 2)}));
    line_.OnWrite([this](const mkptest::TMemoryLine::Bytes& bytes) {
      std::lock_guard lk(lock_);
      writes_.push_back({TMonoClock::now(), bytes});
      changed_.notify_all();
    });
    transport_.SetParser(&parser_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Replays and waits for `count` writes; the worker is stopped afterwards.
  void Replay(TReplayOptions options, std::size_t count) {
    TWorker<TCaptureReplay> replay;
    replay.SetTransport(&transport_);
    replay.SetParser(&parser_);
    replay.SetCapture(dir_ + "/c.pcapng");
    replay.SetOptions(options);
    replay.Start();
    std::unique_lock lk(lock_);
    changed_.wait_for(lk, 20s, [&] { return writes_.size() >= count; });
    lk.unlock();
    replay.Terminate();
    replay.WaitFor();
    EXPECT_EQ(replay.Error(), "");
  }
  double GapMs(std::size_t i) const {
    return std::chrono::duration<double, std::milli>(writes_[i].first - writes_[i - 1].first).count();
  }

  std::string dir_;
  const mkptest::CaptureBytes a_ = FrameOfText("010203.0A0B0C.06.05.0100 - 01");
  const mkptest::CaptureBytes answer_ = FrameOfText("0A0B0C.010203.07.05.0300 - 01 E8 03");
  const mkptest::CaptureBytes c_ = FrameOfText("010203.0A0B0C.06.05.0100 - 03");
  mkptest::TMemoryLine line_;
  TMKPParser parser_;
  TMKProtocolTransport transport_{&line_};
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::pair<TMonoTime, mkptest::TMemoryLine::Bytes>> writes_;
};

TEST_F(ReplayTest, FramesGoOutAsCapturedWithTheirGapsScaledBySpeed) {
  Replay({TReplayDirection::All, 2.0, false}, 3);
  ASSERT_EQ(writes_.size(), 3u);
  EXPECT_EQ(writes_[0].second, a_);
  EXPECT_EQ(writes_[1].second, answer_);
  EXPECT_EQ(writes_[2].second, c_);
  EXPECT_GE(GapMs(1), 40.0);  // 100 ms at twice the speed
  EXPECT_LT(GapMs(1), 250.0);
  EXPECT_GE(GapMs(2), 90.0);  // 200 ms
  EXPECT_LT(GapMs(2), 300.0);
}

TEST_F(ReplayTest, ADirectionSelectsFramesAndALoopStartsOverAfterTheFirstGap) {
  Replay({TReplayDirection::Out, 4.0, true}, 4);
  ASSERT_GE(writes_.size(), 4u);
  EXPECT_EQ(writes_[1].second, c_);
  EXPECT_EQ(writes_[2].second, a_);
  EXPECT_EQ(writes_[3].second, c_);
  EXPECT_GE(GapMs(1), 65.0);  // 300 ms at four times the speed
  EXPECT_GE(GapMs(2), 65.0);  // the first gap again between two rounds
  EXPECT_LT(GapMs(2), 400.0);
}

}  // namespace
