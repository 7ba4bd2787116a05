// The simulated register device: what it answers to reads, writes and other
// packets, and how drifting values move.
#include "modes/simdevice.h"

#include <gtest/gtest.h>

#include <string>

#include "modes/device.h"
#include "modes/slavetable.h"
#include "protocol/packet.h"

namespace {

using mkp::TPacketHolder;

class DeviceSimulatorTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* line : {"{Counter} #1#", "{Temperature} #2#", "{Name} #3#",
                             "<010203.0A0B0C.06.05.0100 - 01> [1]",
                             "<010203.0A0B0C.06.0D.0100 - 02> [2]",
                             "<010203.0A0B0C.06.03.0100 - 03> [3]",
                             "<010203.0A0B0C.06.05.0100 - 07> [1, 0, 3; two values]",
                             "<010203.0A0B0C.08.05.0300 - 01 %1:05%> #1#",
                             "<010203.0A0B0C.08.0D.0300 - 02 %2:0D%> #2#"})
      mkp::ApplyDescriptionLine(line, model_);
    device_.SetModel(model_);
    device_.SetValue(1, "1000");
    device_.SetValue(2, "21.5");
    device_.SetValue(3, "MKP-1");
  }

  // The answer's text, or "" when the device keeps quiet.
  std::string AnswerTo(const std::string& text) {
    TPacketHolder received, answer;
    EXPECT_TRUE(mkp::TextToPacket(text, *received)) << text;
    return device_.Answer(*received, *answer) ? mkp::PacketToText(*answer) : std::string();
  }

  mkp::TDeviceModel model_;
  mkp::TWorker<mkp::TDeviceSimulator> device_;
};

TEST_F(DeviceSimulatorTest, ReadsAreAnsweredWithTheValuesEncodedForTheRequestsType) {
  EXPECT_EQ(AnswerTo("010203.0A0B0C.06.05.0100 - 01"), "0A0B0C.010203.07.05.0300 - 01 E8 03 ");
  EXPECT_EQ(AnswerTo("010203.0A0B0C.06.0D.0100 - 02"), "0A0B0C.010203.07.0D.0300 - 02 D7 04 ");
  EXPECT_EQ(AnswerTo("010203.0A0B0C.06.03.0100 - 03"), "0A0B0C.010203.07.03.0600 - 03 4D 4B 50 2D 31 ");
  // A row list entry outside 1..65535 takes no value; the rest after ";" is a comment.
  EXPECT_EQ(AnswerTo("010203.0A0B0C.06.05.0100 - 07"), "0A0B0C.010203.07.05.0500 - 07 E8 03 00 00 ");
  // Answers go back to whoever asked.
  EXPECT_EQ(AnswerTo("010203.112233.06.05.0100 - 01"), "112233.010203.07.05.0300 - 01 E8 03 ");
  // Another address: silence. Another register, or another type: the error
  // "no such variable"; a ping: an acknowledgement.
  EXPECT_EQ(AnswerTo("010204.0A0B0C.06.05.0100 - 01"), "");
  EXPECT_EQ(AnswerTo("010203.0A0B0C.06.05.0100 - 05"), "0A0B0C.010203.03.00.0100 - 04 ");
  EXPECT_EQ(AnswerTo("010203.0A0B0C.06.0B.0100 - 01"), "0A0B0C.010203.03.00.0100 - 04 ");
  EXPECT_EQ(AnswerTo("010203.0A0B0C.04.00.0000"), "0A0B0C.010203.01.00.0000 - ");
  EXPECT_EQ(AnswerTo("010204.0A0B0C.04.00.0000"), "");
}

TEST_F(DeviceSimulatorTest, WritesStoreTheValueAndAreAcknowledged) {
  EXPECT_EQ(AnswerTo("010203.0A0B0C.08.05.0300 - 01 D2 04"), "0A0B0C.010203.01.00.0000 - ");
  EXPECT_EQ(device_.Value(1), "1234");
  EXPECT_EQ(AnswerTo("010203.0A0B0C.06.05.0100 - 01"), "0A0B0C.010203.07.05.0300 - 01 D2 04 ");
  // A real value comes back in the form the decode pane shows, and reads back the same.
  EXPECT_EQ(AnswerTo("010203.0A0B0C.08.0D.0300 - 02 C0 04"), "0A0B0C.010203.01.00.0000 - ");
  EXPECT_EQ(AnswerTo("010203.0A0B0C.06.0D.0100 - 02"), "0A0B0C.010203.07.0D.0300 - 02 C0 04 ");
  // A write of a register the description has no template for is not acknowledged.
  EXPECT_EQ(AnswerTo("010203.0A0B0C.08.05.0300 - 03 01 00"), "");
  EXPECT_EQ(device_.Value(3), "MKP-1");
}

TEST_F(DeviceSimulatorTest, OtherPacketsAreAnsweredFromTheTableAndTheAddressCanBeMoved) {
  mkp::TSlaveTable table;
  table.SetRows({{"010203.0A0B0C.10.00.0000", "0A0B0C.010203.11.00.0000"},
                 {"010203.0A0B0C.04.00.0000", "0A0B0C.010203.01.00.0100 - 77"}});
  EXPECT_EQ(AnswerTo("010203.0A0B0C.10.00.0000"), "");
  device_.SetTable(&table);
  EXPECT_EQ(AnswerTo("010203.0A0B0C.10.00.0000"), "0A0B0C.010203.11.00.0000 - ");
  EXPECT_EQ(AnswerTo("010203.0A0B0C.04.00.0000"), "0A0B0C.010203.01.00.0100 - 77 ");  // the table before the ping's own

  device_.SetAddress(mkp::MakeVorelAddr(1, 2, 9));
  EXPECT_EQ(AnswerTo("010203.0A0B0C.06.05.0100 - 01"), "");
  EXPECT_EQ(AnswerTo("010209.0A0B0C.06.05.0100 - 01"), "0A0B0C.010209.07.05.0300 - 01 E8 03 ");
}

TEST_F(DeviceSimulatorTest, DriftingValuesGoTenStepsUpThenTenDown) {
  device_.SetDrift(1, 1);
  device_.SetDrift(2, 0.25);
  std::string counter, temperature;
  for (int read = 0; read < 25; ++read) {
    counter += device_.Value(1) + " ";
    AnswerTo("010203.0A0B0C.06.05.0100 - 01");
    AnswerTo("010203.0A0B0C.06.0D.0100 - 02");
  }
  EXPECT_EQ(counter,
            "1000 1001 1002 1003 1004 1005 1006 1007 1008 1009 1010 1009 1008 1007 1006 1005 1004 1003 1002 "
            "1001 1000 1001 1002 1003 1004 ");
  EXPECT_EQ(device_.Value(2), "22.75");  // 21.5 + 5 x 0.25 after a full turn
  // A value that is not a number does not move.
  device_.SetDrift(3, 1);
  AnswerTo("010203.0A0B0C.06.03.0100 - 03");
  EXPECT_EQ(device_.Value(3), "MKP-1");
}

}  // namespace
