#include "modes/learn.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "protocol/capture_bytes.h"

namespace {

using namespace mkp;
using mkptest::FrameOfText;

TCapturedFrame Captured(const std::string& text, TFrameDirection direction, int ms, int interface = 1) {
  TCapturedFrame frame;
  frame.Bytes = text.empty() ? mkptest::CaptureBytes{0xEE, 0xEE} : FrameOfText(text);
  frame.Direction = direction;
  frame.Time = TWallTime(std::chrono::milliseconds(ms));
  frame.Interface = interface;
  frame.Interfaces = 2;
  return frame;
}

const std::string ReqA = "010203.0A0B0C.06.05.0100 - 01";
const std::string ReqB = "010203.0A0B0C.06.05.0100 - 02";
const std::string AnsA = "0A0B0C.010203.07.05.0300 - 01 E8 03";
const std::string AnsA2 = "0A0B0C.010203.07.05.0300 - 01 E9 03";
const std::string AnsB = "0A0B0C.010203.07.05.0300 - 02 00 00";
constexpr auto Out = TFrameDirection::Out;
constexpr auto In = TFrameDirection::In;

TEST(LearnTest, AnsweredRequestsBecomeRowsOnceInFirstSeenOrder) {
  TSlaveTableLearner learner;
  for (const auto& f : {Captured(ReqA, Out, 0), Captured(AnsA, In, 10),
                        Captured(ReqB, Out, 100), Captured("", In, 105), Captured(AnsB, In, 110),  // bad bytes passed over
                        Captured(ReqA, Out, 200), Captured(AnsA, In, 210),                          // a repeat
                        Captured(ReqA, Out, 300), Captured(AnsA2, In, 310),                         // another answer
                        Captured(AnsB, In, 320)})                                                   // nobody asked
    learner.Add(f);
  learner.Finish();
  const std::vector<TSlaveRow> expected{{ReqA, AnsA}, {ReqB, AnsB}, {ReqA, AnsA2}};
  EXPECT_EQ(learner.Rows(), expected);
  EXPECT_EQ(learner.Stats().Requests, 4u);
  EXPECT_EQ(learner.Stats().Answered, 4u);
  EXPECT_EQ(learner.Stats().Repeats, 1u);
  EXPECT_EQ(learner.Stats().Unanswered, 0u);
}

TEST(LearnTest, RequestsWithoutAnAnswerInTimeOrBeforeTheNextAreLeftOut) {
  TSlaveTableLearner learner;
  for (const auto& f : {Captured(ReqA, Out, 0), Captured(ReqB, Out, 50), Captured(AnsB, In, 60),  // A: the next came first
                        Captured(ReqA, Out, 1000), Captured(AnsA, In, 1000 + 2069),              // too late
                        Captured(ReqB, Out, 5000)})                                               // the capture ends
    learner.Add(f);
  learner.Finish();
  EXPECT_EQ(learner.Rows(), (std::vector<TSlaveRow>{{ReqB, AnsB}}));
  EXPECT_EQ(learner.Stats().Requests, 4u);
  EXPECT_EQ(learner.Stats().Unanswered, 3u);
}

TEST(LearnTest, AMonitorsCaptureLearnsFromTheMastersPortAndAFileIsReadWhole) {
  TSlaveTableLearner learner({2, AnswerWindow});
  for (const auto& f : {Captured(ReqA, In, 0, 2), Captured(AnsA, In, 10, 1)}) learner.Add(f);
  EXPECT_EQ(learner.Rows(), (std::vector<TSlaveRow>{{ReqA, AnsA}}));

  char name[] = "/tmp/mkp-learn-XXXXXX";
  const std::string dir = mkdtemp(name);
  const mkptest::TCaptureBuilder b;
  auto bytes = mkptest::Joined({b.Section(), b.Interface(147), b.Packet(0, 0, FrameOfText(ReqA), 2),
                                b.Packet(0, 5000, FrameOfText(AnsA), 1), b.Packet(0, 9000, FrameOfText(ReqB), 2)});
  mkptest::WriteBytesTo(dir + "/c.pcapng", bytes);
  std::vector<TSlaveRow> rows;
  std::string error;
  TLearnStats stats;
  EXPECT_TRUE(LearnSlaveTable(dir + "/c.pcapng", rows, error, &stats));
  EXPECT_EQ(rows, (std::vector<TSlaveRow>{{ReqA, AnsA}}));
  EXPECT_EQ(stats.Unanswered, 1u);
  bytes.resize(bytes.size() - 3);
  mkptest::WriteBytesTo(dir + "/c.pcapng", bytes);
  EXPECT_FALSE(LearnSlaveTable(dir + "/c.pcapng", rows, error));
  EXPECT_EQ(error, dir + "/c.pcapng: cut off after frame 2");
  EXPECT_EQ(rows.size(), 1u);  // learned before the damage
  std::filesystem::remove_all(dir);
}

}  // namespace
