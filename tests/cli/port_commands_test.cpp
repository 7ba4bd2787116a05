// mkptool send and listen over a pseudo-terminal pair.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <regex>
#include <tuple>
#include <sstream>
#include <thread>
#include <vector>

#include "protocol/packet.h"
#include "serial/pty_pair.h"
#include "tool_process.h"

namespace {

using ByteVec = std::vector<std::uint8_t>;

using mkptest::PrimeTheOpening;
using mkptest::TToolProcess;

// Waits until the command has taken the priming bytes.
bool WaitUntilTaken(const mkptest::TPtyPair& pty) { return pty.WaitUnread(0); }

ByteVec Frame(const std::string& text) {
  mkp::TPacketHolder p;
  EXPECT_TRUE(mkp::TextToPacket(text, *p));
  ByteVec frame(mkp::FrameBufferSize);
  int len = 0;
  EXPECT_TRUE(mkp::BuildFrame(*p, frame.data(), len));
  frame.resize(static_cast<std::size_t>(len));
  return frame;
}

const std::string Request = "0A0B0C.010203.06.01.0100 - 05 ";
const std::string Answer = "010203.0A0B0C.07.01.0100 - 2A ";

TEST(PortCommandsTest, SendPutsTheFrameOnTheLineAndReceivesTheAnswer) {
  mkptest::TPtyPair pty;
  {
    TToolProcess tool({"send", "--port", pty.Path(), Request});
    EXPECT_EQ(tool.Wait(), 0) << tool.Err();
    EXPECT_EQ(pty.Read(64, 1000), Frame(Request));
    EXPECT_EQ(tool.Out().substr(0, tool.Out().find('\n') + 1), "terminal\t-> " + Request + "\n");
    EXPECT_NE(tool.Out().find("\ndecode\t-> 010203>>0A0B0C"), std::string::npos) << tool.Out();
  }
  {
    TToolProcess tool({"send", "--port", pty.Path(), "--write-interval", "2", "--receive", Request});
    EXPECT_EQ(pty.Read(19, 5000), Frame(Request));
    pty.Write(Frame(Answer));
    EXPECT_EQ(tool.Wait(), 0) << tool.Err();
    EXPECT_NE(tool.Out().find("terminal\t<- " + Answer + "\ndecode\t<- 0A0B0C>>010203"), std::string::npos)
        << tool.Out();
  }
  {
    // Nothing comes back: the receive fails silently, status 1.
    TToolProcess tool({"send", "--port", pty.Path(), "--receive", Request});
    EXPECT_EQ(tool.Wait(), 1);
    EXPECT_EQ(tool.Out().find("<-"), std::string::npos) << tool.Out();
  }
}

TEST(PortCommandsTest, SendRefusesBadTextAndBadPorts) {
  mkptest::TPtyPair pty;
  TToolProcess bad({"send", "--port", pty.Path(), "0A0B0C.01"});
  EXPECT_EQ(bad.Wait(), 1);
  EXPECT_FALSE(bad.Err().empty());
  TToolProcess missing({"send", "--port", "/dev/mkpt-no-such-port", Request});
  EXPECT_EQ(missing.Wait(), 2);
  EXPECT_EQ(missing.Err().substr(0, 23), "Invalid port settings!\n");
  EXPECT_GT(missing.Err().size(), 23u);  // the reason follows
  TToolProcess oneAndAHalf({"send", "--port", pty.Path(), "--stop", "1.5", Request});
  EXPECT_EQ(oneAndAHalf.Wait(), 2);
  TToolProcess noPort({"send", Request});
  EXPECT_EQ(noPort.Wait(), 2);
  // Parity and stop bits are checked against the names the settings use.
  TToolProcess parity({"send", "--port", pty.Path(), "--parity=bogus", Request});
  EXPECT_EQ(parity.Wait(), 2);
  EXPECT_EQ(parity.Err(), "mkptool send: --parity must be none, even, odd, mark or space, not 'bogus'\n");
  TToolProcess stop({"send", "--port", pty.Path(), "--stop", "3", Request});
  EXPECT_EQ(stop.Wait(), 2);
  EXPECT_EQ(stop.Err(), "mkptool send: --stop must be 1, 1.5 or 2, not '3'\n");
  EXPECT_TRUE(pty.ReadAvailable().empty());
}

TEST(PortCommandsTest, SettingsFileGivesThePortAndLaterOptionsOverride) {
  mkptest::TPtyPair pty;
  const std::string ini = "/tmp/mkpt_port_options_" + std::to_string(getpid()) + ".ini";
  {
    FILE* f = fopen(ini.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fprintf(f, "PortNumber=%s\r\nTransferRate=19200\r\nStopBits=1.5\r\nParity=Odd\r\n", pty.Path().c_str());
    fclose(f);
  }
  TToolProcess refused({"send", "--settings", ini, Request});  // 1.5 stop bits from the file
  EXPECT_EQ(refused.Wait(), 2);
  TToolProcess sent({"send", "--settings", ini, "--stop", "2", Request});
  EXPECT_EQ(sent.Wait(), 0) << sent.Err();
  EXPECT_EQ(pty.Read(64, 1000), Frame(Request));
  TToolProcess missing({"send", "--settings", ini + ".missing", Request});
  EXPECT_EQ(missing.Wait(), 2);
  unlink(ini.c_str());
}

TEST(PortCommandsTest, ListenLogsFramesAndBadBytesUntilTheCount) {
  mkptest::TPtyPair pty;
  ASSERT_TRUE(PrimeTheOpening(pty));
  TToolProcess tool({"listen", "--port", pty.Path(), "--count", "2", "--baud", "19200", "--parity", "even"});
  ASSERT_TRUE(WaitUntilTaken(pty));
  ByteVec noisy = Frame(Answer);
  noisy.push_back(0x99);
  // A silence on the line after each piece ends its read.
  for (const ByteVec& piece : {noisy, Frame(Answer), Frame(Request)}) {
    pty.Write(piece);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(tool.Wait(), 0) << tool.Err();
  const std::string expected =
      "terminal\t<- Missing format : 01 02 03 0A 0B 0C 07 01 01 00 ";
  EXPECT_EQ(tool.Out().substr(0, expected.size()), expected) << tool.Out();
  EXPECT_NE(tool.Out().find(" 2A 2A 00 00 00 99 \ndecode\t<- Missing format\nterminal\t<- " + Answer + "\n"),
            std::string::npos)
      << tool.Out();
  EXPECT_NE(tool.Out().find("terminal\t<- " + Request + "\ndecode\t<- 010203>>0A0B0C"), std::string::npos);
}

TEST(PortCommandsTest, ListenStopsOnTimeOrSignalAndLogsNothingForSilence) {
  mkptest::TPtyPair pty;
  auto t0 = std::chrono::steady_clock::now();
  TToolProcess timed({"listen", "--port", pty.Path(), "--seconds", "0.5"});
  EXPECT_EQ(timed.Wait(), 0) << timed.Err();
  EXPECT_EQ(timed.Out(), "");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(6));

  ASSERT_TRUE(PrimeTheOpening(pty));
  // A time too long for the clock means no limit.
  TToolProcess stopped({"listen", "--port", pty.Path(), "--seconds", "1e12"});
  ASSERT_TRUE(WaitUntilTaken(pty));
  EXPECT_TRUE(stopped.Running());
  stopped.Signal(SIGTERM);
  EXPECT_EQ(stopped.Wait(), 0) << stopped.Err();
  EXPECT_EQ(stopped.Out(), "");
}

TEST(PortCommandsTest, MonitorReadsTwoPortsInTimeOrderWithTheirTimesAndNeverWrites) {
  mkptest::TPtyPair first, second;
  ASSERT_TRUE(PrimeTheOpening(first));
  ASSERT_TRUE(PrimeTheOpening(second));
  TToolProcess tool({"monitor", "--port", first.Path(), "--port2", second.Path(), "--count", "4", "--timestamps"});
  ASSERT_TRUE(WaitUntilTaken(first));
  ASSERT_TRUE(WaitUntilTaken(second));
  // A master and a device taking turns, one direction on each port; the
  // second request comes with noise in front of it, back to back.
  ByteVec noisy{0x55, 0x66};
  const ByteVec request = Frame(Request);
  noisy.insert(noisy.end(), request.begin(), request.end());
  std::size_t lines = 0;
  for (const auto& [pty, bytes, made] :
       {std::tuple{&first, Frame(Request), 1}, std::tuple{&second, Frame(Answer), 1}, std::tuple{&first, noisy, 2},
        std::tuple{&second, Frame(Answer), 1}}) {
    pty->Write(bytes);
    lines += static_cast<std::size_t>(made);
    ASSERT_TRUE(tool.WaitForLines("terminal\t", lines));  // logged before the other side speaks
  }
  EXPECT_EQ(tool.Wait(), 0) << tool.Err();
  std::vector<std::string> terminal;
  std::istringstream out(tool.Out());
  for (std::string line; std::getline(out, line);)
    if (line.rfind("terminal\t", 0) == 0) terminal.push_back(line.substr(9));
  ASSERT_EQ(terminal.size(), 5u) << tool.Out();
  const std::string expected[] = {"<-1 " + Request, "<-2 " + Answer, "<-1 Missing format : 55 66 ",
                                  "<-1 " + Request, "<-2 " + Answer};
  for (std::size_t i = 0; i < terminal.size(); ++i) {
    // "HH:MM:SS.mmm +D.DDD " in front of each line; the first shows +0.000.
    EXPECT_TRUE(std::regex_match(terminal[i].substr(0, terminal[i].find(" <-") + 1),
                                 std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d \+\d+\.\d\d\d )")))
        << terminal[i];
    EXPECT_EQ(terminal[i].substr(terminal[i].find(" <-") + 1), expected[i]);
  }
  EXPECT_EQ(terminal[0].substr(12, 8), " +0.000 ");
  EXPECT_TRUE(first.ReadAvailable().empty());
  EXPECT_TRUE(second.ReadAvailable().empty());
}

TEST(PortCommandsTest, MonitorJsonGivesOneObjectPerFrameAndBadRead) {
  mkptest::TPtyPair pty;
  ASSERT_TRUE(PrimeTheOpening(pty));
  TToolProcess tool({"monitor", "--port", pty.Path(), "--json", "--count", "2"});
  ASSERT_TRUE(WaitUntilTaken(pty));
  ByteVec bytes = Frame(Answer);
  bytes.push_back(0x99);  // noise right after the frame, then another frame
  pty.Write(bytes);
  pty.Write(Frame(Request));
  EXPECT_EQ(tool.Wait(), 0) << tool.Err();
  std::istringstream out(tool.Out());
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u) << tool.Out();
  const std::regex good(R"re(\{"port":1,"time":"\d\d:\d\d:\d\d\.\d\d\d","mono_ms":[0-9.]+,"good":true,"text":"(.*)","decode":"(.*)"\})re");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, good)) << lines[0];
  EXPECT_EQ(m[1].str() + " ", Answer);
  EXPECT_EQ(m[2].str().rfind("0A0B0C>>010203 ANSW", 0), 0u) << m[2];
  EXPECT_NE(lines[1].find(R"("good":false,"text":"99")"), std::string::npos) << lines[1];
  ASSERT_TRUE(std::regex_match(lines[2], m, good)) << lines[2];
  EXPECT_EQ(m[1].str() + " ", Request);
}

}  // namespace
