// mkptool's Master exchange (send), poll and monitor through a real serial
// device server (ser2net on 127.0.0.1, serving a pseudo-terminal) with
// tcp:// and rfc2217:// port names, and what they do when the network fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli/tool_process.h"
#include "cli/tool_runner.h"
#include "modes/registers_peer.h"
#include "serial/ser2net_server.h"

namespace {

using mkptest::RunTool;
using mkptest::TRegistersPeer;
using mkptest::TSeenPacket;
using mkptest::TSer2Net;
using mkptest::TToolProcess;
using Clock = std::chrono::steady_clock;

#define REQUIRE_SER2NET() \
  if (!TSer2Net::Available()) GTEST_SKIP() << "ser2net is not installed"

// Answers reads of register 1 with 1000 and of register 2 with 2000.
std::vector<std::string> Device(const TSeenPacket& seen, int) {
  if (seen.Command != 6) return {};
  if (seen.First == 1) return {"0A0B0C.010203.07.05.0300 - 01 E8 03"};
  return {"0A0B0C.010203.07.05.0300 - 02 D0 07"};
}

class NetworkCommandsTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/mkp-net-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    description_ = dir_ + "/dev.rst";
    std::ofstream(description_, std::ios::binary)
        << "{one} #1#\r\n{two} #2#\r\n<010203.0A0B0C.06.05.0100 - 01> [1]\r\n<010203.0A0B0C.06.05.0100 - 02> [2]\r\n"
        << "@@ONESTEPDELAY=10\r\n@@ONECYCLEDELAY=10\r\n";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string dir_, description_;
};

TEST_F(NetworkCommandsTest, SendPollAndMonitorWorkThroughTheServerWithBothKinds) {
  REQUIRE_SER2NET();
  for (const bool telnet : {false, true}) {
    SCOPED_TRACE(telnet ? "rfc2217" : "tcp");
    mkptest::TPtyPair pty;
    TSer2Net server(pty.Path(), telnet);
    {
      TRegistersPeer peer(pty, Device);
      const auto send = RunTool({"send", "--port", server.Url(), "--receive", "010203.0A0B0C.06.05.0100 - 01"});
      EXPECT_EQ(send.Status, 0);
      EXPECT_EQ(send.Out,
                "terminal\t-> 010203.0A0B0C.06.05.0100 - 01 \n"
                "decode\t-> 0A0B0C>>010203 RD type 05 : reg 01\n"
                "terminal\t<- 0A0B0C.010203.07.05.0300 - 01 E8 03 \n"
                "decode\t<- 010203>>0A0B0C ANSW type 05 : reg 01 = 1000 \n");
      const auto poll = RunTool({"poll", "--port", server.Url(), "--baud", "19200", "--cycles", "2", description_});
      EXPECT_EQ(poll.Status, 0);
      EXPECT_EQ(poll.Out, "1\tone\t1000\n2\ttwo\t2000\n\n1\tone\t1000\n2\ttwo\t2000\n\n");
    }
    // The monitor only listens: frames that a station puts on the line reach
    // it through the server.
    TToolProcess monitor({"monitor", "--port", server.Url(), "--count", "2"});
    const auto frame = mkptest::FrameBytes("0A0B0C.010203.07.05.0300 - 01 E8 03");
    const auto end = Clock::now() + std::chrono::seconds(20);
    // Frames written before the monitor's connection reach nobody: one more
    // each time none came out within 300 ms.
    while (monitor.Running() && Clock::now() < end) {
      pty.Write(frame);
      monitor.WaitForLines("terminal\t<- ", 2, std::chrono::milliseconds(300));
    }
    EXPECT_EQ(monitor.Wait(), 0) << monitor.Err();
    EXPECT_NE(monitor.Out().find("terminal\t<- 0A0B0C.010203.07.05.0300 - 01 E8 03 \n"), std::string::npos)
        << monitor.Out();
  }
}

TEST_F(NetworkCommandsTest, AServerKilledMidPollIsReportedAndPollingGoesOnWhenItIsBack) {
  REQUIRE_SER2NET();
  mkptest::TPtyPair pty;
  TSer2Net server(pty.Path(), true);
  TRegistersPeer peer(pty, Device);
  TToolProcess poll({"poll", "--port", server.Url(), description_});
  ASSERT_TRUE(poll.WaitForLines("1\tone\t1000", 2));
  server.Kill();
  ASSERT_TRUE(poll.WaitForError(": Connection lost: 127.0.0.1:" + std::to_string(server.Port())));
  ASSERT_TRUE(poll.WaitForError("Connection refused; trying every second"));
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(poll.WaitForError(server.Url() + ": connected again"));
  const auto before = poll.OutSoFar().size();
  EXPECT_TRUE(poll.WaitForOutput("1\tone\t1000", before));
  poll.Signal(SIGINT);
  EXPECT_EQ(poll.Wait(), 0) << poll.Err();
}

TEST_F(NetworkCommandsTest, RefusedAndSilentServersAreReportedAndNothingHangs) {
  const std::string closed = "tcp://127.0.0.1:" + std::to_string(TSer2Net::FreePort());
  auto r = RunTool({"send", "--port", closed, "010203.0A0B0C.06.05.0100 - 01"}, "", true);
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Out.find("Invalid port settings!\nCannot connect to 127.0.0.1:"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find(": Connection refused"), std::string::npos) << r.Out;

  // A server that takes the connection and never answers: the requests go
  // unanswered, counted so, and a stop ends the poll at once.
  const mkptest::TSilentServer server;
  const std::string& silent = server.Where();
  TToolProcess poll({"poll", "--port", "tcp://" + silent, "--stats", "--panes", description_});
  ASSERT_TRUE(poll.WaitForLines("terminal\t-> ", 2));  // the first went unanswered
  const auto stopped = Clock::now();
  poll.Signal(SIGINT);
  EXPECT_EQ(poll.Wait(), 0) << poll.Err();
  EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(6));
  EXPECT_TRUE(std::regex_search(poll.Out(), std::regex("1\tsent=[1-9][0-9]* answered=0 no_answer=[1-9]")))
      << poll.Out();
  r = RunTool({"send", "--port", "rfc2217://" + silent, "010203.0A0B0C.06.05.0100 - 01"}, "", true);
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Out.find("did not answer the RFC 2217 line settings"), std::string::npos) << r.Out;
}

}  // namespace
