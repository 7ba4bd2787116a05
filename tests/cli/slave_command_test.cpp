// mkptool slave, end to end: the tool answers on the tty side of a
// pseudo-terminal, the test plays the master on the other side.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/tool_runner.h"
#include "protocol/packet.h"
#include "serial/pty_pair.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const char* const Ping = "010203.0A0B0C.04.00.0000 - ";
const char* const Ack = "0A0B0C.010203.01.00.0000 - ";
const char* const Refusal = "0A0B0C.010203.03.00.0100 - 04 ";

Bytes Frame(const std::string& text) {
  mkp::TPacketHolder packet;
  if (!mkp::TextToPacket(text, *packet)) throw std::invalid_argument(text);
  std::uint8_t buffer[mkp::FrameBufferSize];
  int length = 0;
  mkp::BuildFrame(*packet, buffer, length);
  return Bytes(buffer, buffer + length);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// mkptool slave running in a child process, its standard output and error
// collected in a file.
class TSlaveProcess {
public:
  explicit TSlaveProcess(const std::vector<std::string>& args) {
    outPath_ = std::filesystem::temp_directory_path() / ("mkp_slave_out_" + std::to_string(::getpid()));
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      int fd = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      std::vector<char*> argv;
      std::string tool = MKPTOOL_PATH;
      argv.push_back(tool.data());
      std::vector<std::string> copy = args;
      for (auto& a : copy) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(tool.c_str(), argv.data());
      ::_exit(127);
    }
  }
  ~TSlaveProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    std::filesystem::remove(outPath_);
  }
  // Sends the signal and returns the exit status (-1 when it did not exit
  // normally within the time limit).
  int Stop(int signal) {
    ::kill(pid_, signal);
    auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  std::string Output() const {
    std::ifstream in(outPath_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

private:
  pid_t pid_ = -1;
  std::string outPath_;
};

class SlaveCommandTest : public ::testing::Test {
protected:
  void SetUp() override {
    table_ = std::filesystem::temp_directory_path() / ("mkp_slave_" + std::to_string(::getpid()) + ".smt");
  }
  void TearDown() override { std::filesystem::remove(table_); }

  // Sends the request until an answer comes (the tool needs a moment to open
  // the port) and returns the bytes of that answer: what arrives until the
  // line has been quiet for a while.
  Bytes Ask(mkptest::TPtyPair& pty, const std::string& request, int attempts = 15) {
    Bytes frame = Frame(request);
    for (int i = 0; i < attempts; ++i) {
      pty.Write(frame);
      Bytes got = pty.Read(1, 2000);
      if (got.empty()) continue;
      for (Bytes more = pty.Read(4096, 100); !more.empty(); more = pty.Read(4096, 100))
        got.insert(got.end(), more.begin(), more.end());
      return got;
    }
    return {};
  }

  // Raw mode before the tool has opened the line, so that a request sent
  // before that is not echoed back by the terminal driver.
  static void MakeRaw(mkptest::TPtyPair& pty) {
    termios t{};
    if (::tcgetattr(pty.MasterFd(), &t) == 0) {
      ::cfmakeraw(&t);
      ::tcsetattr(pty.MasterFd(), TCSANOW, &t);
    }
  }

  std::string table_;
};

TEST_F(SlaveCommandTest, AnswersOnThePortAndStopsCleanlyOnSigterm) {
  WriteFile(table_, std::string("<") + Ping + "> [" + Ack + "]\r\n<010203.0A0B0C.04.00.0000 - > [" +
                        Refusal + "]\r\n<> []\r\n");
  mkptest::TPtyPair pty;
  MakeRaw(pty);
  TSlaveProcess tool({"slave", "--port", pty.Path(), table_});
  EXPECT_EQ(Ask(pty, Ping), Frame(Ack));  // the upper of the two equal rows
  // A request no row matches stays unanswered.
  pty.Write(Frame("010203.0A0B0C.06.01.0100 - 04"));
  EXPECT_TRUE(pty.Read(1, 500).empty());
  EXPECT_EQ(Ask(pty, Ping), Frame(Ack));
  EXPECT_EQ(tool.Stop(SIGTERM), 0);
  std::string out = tool.Output();
  EXPECT_NE(out.find(std::string("terminal\t<- ") + Ping), std::string::npos) << out;
  EXPECT_NE(out.find(std::string("terminal\t-> ") + Ack), std::string::npos) << out;
  EXPECT_NE(out.find("decode\t-> 010203>>0A0B0C "), std::string::npos) << out;
}

TEST_F(SlaveCommandTest, ReloadsTheTableWhenTheFileChanges) {
  WriteFile(table_, std::string("<") + Ping + "> [" + Ack + "]\r\n");
  mkptest::TPtyPair pty;
  MakeRaw(pty);
  TSlaveProcess tool({"slave", "--reload", "--port", pty.Path(), table_});
  ASSERT_EQ(Ask(pty, Ping), Frame(Ack));
  WriteFile(table_, std::string("<") + Ping + "> [" + Refusal + "]\r\n");
  bool changed = false;
  for (int i = 0; i < 40 && !changed; ++i) changed = Ask(pty, Ping) == Frame(Refusal);
  EXPECT_TRUE(changed);
  EXPECT_EQ(tool.Stop(SIGINT), 0);
  EXPECT_NE(tool.Output().find("reloaded"), std::string::npos);
}

// A master that stops reading lets the answers fill the line until a write of
// the slave fails; the slave reopens the port and answers again once the
// master reads.
TEST_F(SlaveCommandTest, AFailedWriteReopensThePortAndTheSlaveGoesOn) {
  std::string big = "0A0B0C.010203.07.01.0008 - ";  // 2048 data bytes
  for (int i = 0; i < mkp::MaxDataLen; ++i) big += "5A ";
  WriteFile(table_, std::string("<") + Ping + "> [" + big + "]\r\n");
  mkptest::TPtyPair pty;
  MakeRaw(pty);
  TSlaveProcess tool({"slave", "--port", pty.Path(), "--baud", "115200", table_});
  ASSERT_EQ(Ask(pty, Ping), Frame(big));

  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (tool.Output().find("opening the port again") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    pty.Write(Frame(Ping));
    std::this_thread::sleep_for(50ms);  // the pace of the asking master
  }
  const std::string out = tool.Output();
  ASSERT_NE(out.find("mkptool slave: " + pty.Path() + ": Write timed out"), std::string::npos) << out;
  EXPECT_NE(out.find("terminal\t-> Transmit error!"), std::string::npos);

  while (!pty.Read(1 << 20, 500).empty()) {
  }
  EXPECT_EQ(Ask(pty, Ping), Frame(big));
  EXPECT_EQ(tool.Stop(SIGTERM), 0);
}

TEST_F(SlaveCommandTest, ATableThatCannotBeLoadedOrBadOptionsExitWithStatus2) {
  mkptest::TPtyPair pty;
  auto missing = mkptest::RunTool({"slave", "--port", pty.Path(), "/nonexistent/table.smt"}, "", true);
  EXPECT_EQ(missing.Status, 2);
  EXPECT_NE(missing.Out.find("cannot load"), std::string::npos) << missing.Out;
  WriteFile(table_, "<> []\r\n");
  EXPECT_EQ(mkptest::RunTool({"slave", "--port", pty.Path()}).Status, 2);
  EXPECT_EQ(mkptest::RunTool({"slave", "--port", pty.Path(), "--bogus", table_}).Status, 2);
  EXPECT_EQ(mkptest::RunTool({"slave", table_}).Status, 2);  // no port
}

}  // namespace
