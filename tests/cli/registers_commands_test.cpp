// mkptool poll and mkptool write against a device on the far side of a pty.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tool_runner.h"
#include "modes/registers_peer.h"
#include "serial/pty_pair.h"

using mkptest::RunTool;
using mkptest::TRegistersPeer;
using mkptest::TSeenPacket;

namespace {

// Answers reads of the WORD registers 1 and 2 with 1000 and 2000 (and register
// 3 with a wrong type), acknowledges writes.
std::vector<std::string> Device(const TSeenPacket& seen, int) {
  if (seen.Command == 8) return {"0A0B0C.010203.01.00.0000"};
  if (seen.Command != 6) return {};
  if (seen.First == 1) return {"0A0B0C.010203.07.05.0300 - 01 E8 03"};
  if (seen.First == 2) return {"0A0B0C.010203.07.05.0300 - 02 D0 07"};
  return {"0A0B0C.010203.07.0B.0500 - 03 01 00 00 00"};
}

class RegistersCommandsThreadTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/mkp-poll-XXXXXX";
    dir = ::mkdtemp(pattern);
    description = dir + "/dev.rst";
    // Names in Windows-1251: "Счётчик" for register 1.
    std::ofstream(description, std::ios::binary)
        << "{\xD1\xF7\xB8\xF2\xF7\xE8\xEA} #1#\r\n{second} #2#\r\n"
        << "<090909.0A0B0C.06.05.0100 - 01> [1] (SAVEDATALINES=" << dir << "/values.log)\r\n"
        << "<090909.0A0B0C.06.05.0100 - 02> [2]\r\n"
        << "<010203.0A0B0C.08.05.0300 - 01 %1:05%> #1#\r\n"
        << "@@ONESTEPDELAY=10\r\n@@ONECYCLEDELAY=10\r\n"
        << "@@REGSENDTIMEOUT1=0\r\n@@REGSENDTIMEOUT2=20\r\n@@REGSENDTIMEOUT3=0\r\n";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string dir;
  std::string description;
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

TEST_F(RegistersCommandsThreadTest, PollPrintsTheTableAfterEachCycle) {
  mkptest::TPtyPair pty;
  TRegistersPeer peer(pty, Device);
  const auto result = RunTool({"poll", "--port", pty.Path(), "--cycles", "2", "--address", "1.2.3",
                               description});
  EXPECT_EQ(result.Status, 0);
  const std::string table = "1\tСчётчик\t1000\n2\tsecond\t2000\n\n";
  EXPECT_EQ(result.Out, table + table);
  EXPECT_EQ(ReadFile(dir + "/values.log"), "1000\r\n1000\r\n");
  ASSERT_GE(peer.Count(), 4);
  EXPECT_EQ(peer.Seen()[0].Text, "010203.0A0B0C.06.05.0100 - 01 ");  // --address overrides 090909
}

TEST_F(RegistersCommandsThreadTest, PollWithPanesRestartsAfterAWrongAnswer) {
  std::ofstream(description, std::ios::binary)
      << "{one} #1#\r\n<010203.0A0B0C.06.05.0100 - 01> [1]\r\n"
      << "<010203.0A0B0C.06.05.0100 - 02> [1]\r\n";
  mkptest::TPtyPair pty;
  // The first answer to register 2 has the wrong type; later ones are right.
  TRegistersPeer peer(pty, [](const TSeenPacket& seen, int index) -> std::vector<std::string> {
    if (seen.First == 2 && index == 1) return {"0A0B0C.010203.07.0B.0500 - 02 01 00 00 00"};
    return Device(seen, index);
  });
  const auto result = RunTool({"poll", "--port=" + pty.Path(), "--panes", "--cycles", "1",
                               description});
  EXPECT_EQ(result.Status, 0);
  std::vector<std::string> requests;
  std::istringstream lines(result.Out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("terminal\t-> ", 0) == 0) requests.push_back(line.substr(std::string("terminal\t-> ").size()));
  }
  const std::string prefix = "010203.0A0B0C.06.05.0100 - ";
  EXPECT_EQ(requests, (std::vector<std::string>{prefix + "01 ", prefix + "02 ", prefix + "01 ",
                                                prefix + "02 "}));
  EXPECT_NE(result.Out.find("decode\t<- 010203>>0A0B0C ANSW type 05 : reg 02 = 2000 \n"),
            std::string::npos);
  EXPECT_NE(result.Out.find("\n1\tone\t2000\n\n"), std::string::npos) << result.Out;
}

TEST_F(RegistersCommandsThreadTest, BadArgumentsExitWithStatus2) {
  EXPECT_EQ(RunTool({"poll", "--port", "/dev/null", dir + "/missing.rst"}).Status, 2);
  EXPECT_EQ(RunTool({"poll", "--port", "/dev/null", "--cycles", "0", description}).Status, 2);
  EXPECT_EQ(RunTool({"poll", "--port", "/dev/null", "--bogus", description}).Status, 2);
  EXPECT_EQ(RunTool({"write", "--port", "/dev/null", description}).Status, 2);
  EXPECT_EQ(RunTool({"write", "--port", "/dev/null", description, "9=1"}).Status, 2);
  EXPECT_EQ(RunTool({"write", "--port", "/dev/null", description, "x"}).Status, 2);
  EXPECT_EQ(RunTool({"write", "--port", "/dev/null", "--cycles", "1", description, "1=1"}).Status, 2);
}

TEST_F(RegistersCommandsThreadTest, WriteSendsOnePacketPerFilledRow) {
  mkptest::TPtyPair pty;
  TRegistersPeer peer(pty, Device);
  const auto result = RunTool({"write", "--port", pty.Path(), "--address", "4.5.6", description,
                               "1=4660", "2=7"});
  // Register 2 has no write template: one packet, status 1.
  EXPECT_EQ(result.Status, 1);
  EXPECT_NE(result.Out.find("terminal\t-> 040506.0A0B0C.08.05.0300 - 01 34 12 \n"), std::string::npos)
      << result.Out;
  EXPECT_NE(result.Out.find("terminal\t<- 0A0B0C.010203.01.00.0000 - \n"), std::string::npos);
  peer.Stop();
  const auto seen = peer.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Command, 8);

  TRegistersPeer again(pty, Device);
  EXPECT_EQ(RunTool({"write", "--port", pty.Path(), description, "1=$10"}).Status, 0);
  again.Stop();
  ASSERT_EQ(again.Seen().size(), 1u);
  EXPECT_EQ(again.Seen()[0].Text, "010203.0A0B0C.08.05.0300 - 01 10 00 ");
}

TEST_F(RegistersCommandsThreadTest, PollStatsAndCsvFollowEachCycle) {
  mkptest::TPtyPair pty;
  // The first read of register 2 gets an answer of another type.
  TRegistersPeer peer(pty, [](const TSeenPacket& seen, int index) -> std::vector<std::string> {
    if (seen.First == 2 && index == 1) return {"0A0B0C.010203.07.0B.0500 - 02 01 00 00 00"};
    return Device(seen, index);
  });
  const std::string csv = dir + "/values.csv";
  const auto result = RunTool({"poll", "--port", pty.Path(), "--cycles", "2", "--stats", "--csv", csv, description});
  ASSERT_EQ(result.Status, 0);
  const std::string table = "1\tСчётчик\t1000\n2\tsecond\t2000\n\n";
  const std::regex stats(
      "1\tsent=2 answered=2 no_answer=0 bad_frame=0 wrong_answer=0 write_failed=0 other_traffic=0 last_ms=[0-9]+\\.[0-9] "
      "mean_ms=[0-9]+\\.[0-9] max_ms=[0-9]+\\.[0-9]\n"
      "2\tsent=2 answered=1 no_answer=0 bad_frame=0 wrong_answer=1 write_failed=0 other_traffic=0 last_ms=[0-9.]+ mean_ms=[0-9.]+ "
      "max_ms=[0-9.]+\n\n");
  // After the first cycle (reads 1, 2 refused, 1, 2) and the second; nothing more at the end.
  const std::size_t second = result.Out.rfind(table);
  ASSERT_NE(second, std::string::npos) << result.Out;
  EXPECT_EQ(result.Out.find(table), 0u);
  EXPECT_TRUE(std::regex_match(result.Out.substr(second + table.size()),
                               std::regex(std::string("1\tsent=3 answered=3 .*\n2\tsent=3 answered=2 .*\n\n"))))
      << result.Out;
  const std::string first = result.Out.substr(table.size(), second - table.size());
  EXPECT_TRUE(std::regex_match(first, stats)) << first;

  const std::string rows = ReadFile(csv);
  const std::regex row("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3},1000,2000\r\n");
  ASSERT_TRUE(rows.rfind("time,Счётчик,second\r\n", 0) == 0) << rows;
  std::istringstream lines(rows.substr(std::string("time,Счётчик,second\r\n").size()));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count)
    EXPECT_TRUE(std::regex_match(line + "\n", row)) << line;
  EXPECT_EQ(count, 2);
}

TEST_F(RegistersCommandsThreadTest, PollJsonGivesOneObjectPerCycle) {
  mkptest::TPtyPair pty;
  TRegistersPeer peer(pty, Device);
  const auto result = RunTool({"poll", "--port", pty.Path(), "--cycles", "2", "--json", description});
  ASSERT_EQ(result.Status, 0);
  std::istringstream lines(result.Out);
  std::vector<std::string> objects;
  for (std::string line; std::getline(lines, line);) objects.push_back(line);
  ASSERT_EQ(objects.size(), 2u) << result.Out;
  const std::regex object(
      "\\{\"cycle\":2,\"requests\":\\[\\{\"request\":1,\"text\":\"090909.0A0B0C.06.05.0100 - 01\",\"sent\":2,"
      "\"answered\":2,\"no_answer\":0,\"bad_frame\":0,\"wrong_answer\":0,\"write_failed\":0,\"other_traffic\":0,\"last_ms\":[0-9.]+,"
      "\"mean_ms\":[0-9.]+,\"max_ms\":[0-9.]+\\},\\{\"request\":2,.*\\}\\]\\}");
  EXPECT_TRUE(std::regex_match(objects[1], object)) << objects[1];
  EXPECT_EQ(objects[0].rfind("{\"cycle\":1,", 0), 0u);
}

TEST_F(RegistersCommandsThreadTest, DeviceMisbehaviourOptionsAreChecked) {
  for (const char* option : {"--drop-every", "--corrupt-every", "--wrong-every"}) {
    EXPECT_EQ(RunTool({"device", "--port", "/dev/null", option, "0", description}).Status, 2) << option;
    EXPECT_EQ(RunTool({"device", "--port", "/dev/null", option, "x", description}).Status, 2) << option;
  }
  EXPECT_EQ(RunTool({"device", "--port", "/dev/null", "--delay", "-1", description}).Status, 2);
  EXPECT_EQ(RunTool({"poll", "--port", "/dev/null", "--csv", "", description}).Status, 2);
}
