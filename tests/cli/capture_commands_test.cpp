// Captures made by mkptool and read by mkptool, and by tshark with the
// dissector and through the extcap launcher (those tests are skipped where
// tshark is not installed).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "analysis/parser.h"
#include "protocol/capture.h"
#include "protocol/capture_bytes.h"
#include "serial/pty_pair.h"
#include "text/cp1251.h"
#include "tool_process.h"
#include "tool_runner.h"

namespace {

using namespace std::chrono_literals;
using mkptest::CaptureBytes;
using mkptest::FrameOfText;
using mkptest::TToolProcess;

const std::string Request = "010203.0A0B0C.08.05.0300 - 02 34 12";
const std::string Answer = "0A0B0C.010203.07.05.0300 - 01 E8 03";

class CaptureCommandsTest : public ::testing::Test {
protected:
  void SetUp() override {
    char name[] = "/tmp/mkp-captures-XXXXXX";
    dir_ = mkdtemp(name);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static bool Have(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
  }
  // A shell command's standard output (standard error dropped).
  static std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
      char buf[4096];
      std::size_t n;
      while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      pclose(p);
    }
    return out;
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::vector<mkp::TCapturedFrame> ReadCapture(const std::string& path) {
    mkp::TCaptureReader reader;
    EXPECT_TRUE(reader.Open(path));
    std::vector<mkp::TCapturedFrame> frames;
    mkp::TCapturedFrame frame;
    while (reader.Next(frame) == mkp::TCaptureReader::TStep::Frame) frames.push_back(frame);
    EXPECT_EQ(reader.Error(), "");
    return frames;
  }
  // mkptool send of the request, answered by the test with `answer`.
  std::string SendCapture(const CaptureBytes& answer) {
    mkptest::TPtyPair pty;
    const std::string path = dir_ + "/send.pcapng";
    TToolProcess tool({"send", "--port", pty.Path(), "--receive", "--pcap", path, Request});
    EXPECT_EQ(pty.Read(FrameOfText(Request).size(), 20000), FrameOfText(Request));
    pty.Write(answer);
    EXPECT_EQ(tool.Wait(), answer == FrameOfText(Answer) ? 0 : 1) << tool.Err();
    return path;
  }
  std::string Tshark(const std::string& capture, const std::string& fields) {
    return Shell("tshark -X lua_script:" + std::string(MKP_SOURCE_DIR) + "/data/wireshark/mkp.lua -r " + capture +
                 " -T fields -E separator='|' " + fields);
  }

  std::string dir_;
};

TEST_F(CaptureCommandsTest, MonitorWithTwoPortsCapturesEachAsItsOwnInterfaceEvenWithJson) {
  mkptest::TPtyPair first, second;
  ASSERT_TRUE(mkptest::PrimeTheOpening(first));
  ASSERT_TRUE(mkptest::PrimeTheOpening(second));
  const std::string path = dir_ + "/m.pcapng";
  TToolProcess tool({"monitor", "--port", first.Path(), "--port2", second.Path(), "--count", "2", "--json",
                     "--pcap", path});
  for (auto* pty : {&first, &second}) pty->WaitUnread(0);
  first.Write(FrameOfText(Request));
  ASSERT_TRUE(tool.WaitForLines("{", 1));
  second.Write(FrameOfText(Answer));
  EXPECT_EQ(tool.Wait(), 0) << tool.Err();
  const auto frames = ReadCapture(path);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].InterfaceName, first.Path());
  EXPECT_EQ(frames[0].Interface, 1);
  EXPECT_EQ(frames[1].InterfaceName, second.Path());
  EXPECT_EQ(frames[1].Interface, 2);
  EXPECT_EQ(frames[1].Bytes, FrameOfText(Answer));
  EXPECT_EQ(frames[1].Direction, mkp::TFrameDirection::In);
  EXPECT_EQ(frames[1].Comment, "010203>>0A0B0C ANSW type 05 : reg 01 = 1000 ");
  // redecode reads it back with the capture's times, port by port.
  const auto redecoded = mkptest::RunTool({"redecode", path});
  EXPECT_EQ(redecoded.Status, 0);
  const auto lines = Lines(redecoded.Out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].substr(mkp::TimePrefixLength(lines[1])), "<-2 010203>>0A0B0C ANSW type 05 : reg 01 = 1000 ");
}

TEST_F(CaptureCommandsTest, RedecodeAndLearnTellCapturesCutOffOrOfOtherThings) {
  const std::string path = SendCapture(FrameOfText(Answer));
  const auto learned = mkptest::RunTool({"learn", path});
  EXPECT_EQ(learned.Status, 0);
  EXPECT_EQ(learned.Out, "<" + Request + "> [" + Answer + "]\n");
  EXPECT_EQ(mkptest::RunTool({"learn", "--out", dir_ + "/t.smt", path}).Status, 0);
  std::ifstream table(dir_ + "/t.smt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(table), {}), "<" + Request + "> [" + Answer + "]\r\n");

  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::ofstream(dir_ + "/cut.pcapng", std::ios::binary) << bytes.substr(0, bytes.size() - 5);
  const auto cut = mkptest::RunTool({"redecode", dir_ + "/cut.pcapng"}, "", true);
  EXPECT_EQ(cut.Status, 1);
  EXPECT_NE(cut.Out.find("-> 0A0B0C>>010203 WR type 05 : reg 02"), std::string::npos) << cut.Out;
  EXPECT_NE(cut.Out.find("mkptool redecode: " + dir_ + "/cut.pcapng: cut off after frame 1"), std::string::npos);
  std::ofstream(dir_ + "/other.pcap", std::ios::binary) << std::string("\xD4\xC3\xB2\xA1", 4);  // a pcap magic alone
  for (const auto& args : {std::vector<std::string>{"learn"}, std::vector<std::string>{"replay", "--port", "/dev/null"}}) {
    std::vector<std::string> all = args;
    all.push_back(dir_ + "/other.pcap");
    const auto other = mkptest::RunTool(all, "", true);
    EXPECT_NE(other.Out.find(dir_ + "/other.pcap: not a capture of MKP frames"), std::string::npos) << other.Out;
  }
}

TEST_F(CaptureCommandsTest, ReplayWritesTheCapturedFramesToThePort) {
  const std::string path = SendCapture(FrameOfText(Answer));
  mkptest::TPtyPair pty;
  TToolProcess tool({"replay", "--port", pty.Path(), "--direction", "out", "--speed", "4", path});
  EXPECT_EQ(pty.Read(FrameOfText(Request).size(), 20000), FrameOfText(Request));
  EXPECT_EQ(tool.Wait(), 0) << tool.Err();
  EXPECT_NE(tool.Out().find("terminal\t-> " + Request), std::string::npos) << tool.Out();
  EXPECT_TRUE(pty.ReadAvailable().empty());  // the answer was not sent
}

TEST_F(CaptureCommandsTest, TsharkReadsOurCapturesWithTheDissector) {
  if (!Have("tshark")) GTEST_SKIP() << "tshark is not installed";
  // The answer's data checksum is broken: the frame is logged as "Missing
  // format" bytes, inbound.
  CaptureBytes broken = FrameOfText(Answer);
  broken.back() ^= 0x5A;
  const std::string path = SendCapture(broken);
  const auto lines = Lines(Tshark(path, "-e frame.packet_flags_direction -e mkp.dst -e mkp.src -e mkp.cmd "
                                        "-e mkp.type -e mkp.len -e mkp.reg -e mkp.data -e mkp.hdr_checksum.status "
                                        "-e mkp.data_checksum.status -e frame.comment -e _ws.col.Info"));
  ASSERT_EQ(lines.size(), 2u);
  mkp::TPacketHolder packet;
  ASSERT_TRUE(mkp::TextToPacket(Request, *packet));
  char expected[160];
  std::snprintf(expected, sizeof expected, "0x00000002|010203|0A0B0C|0x%02x|0x%02x|%d|0x%02x|023412|1|1|",
                packet->Command, packet->DataType, packet->DataLen, packet->Data[0]);
  mkp::TMKPParser parser;
  const std::string description = mkp::Cp1251ToUtf8(parser.DescribeMaster(Request));
  EXPECT_EQ(lines[0], expected + description + "|0A0B0C>>010203 WR type 05 : reg 02");
  EXPECT_EQ(lines[1], "0x00000001|0A0B0C|010203|0x07|0x05|3|0x01|01e803|1|0|Missing format|Missing format");
  const std::string expert = Shell("tshark -X lua_script:" + std::string(MKP_SOURCE_DIR) +
                                   "/data/wireshark/mkp.lua -r " + path + " -Y mkp.data_checksum.bad");
  EXPECT_EQ(Lines(expert).size(), 1u);

  // Too short and a bad length: malformed, never a Lua error.
  const mkptest::TCaptureBuilder b;
  CaptureBytes badLength = FrameOfText(Answer);
  badLength[9] = 0x7F;
  mkptest::WriteBytesTo(dir_ + "/bad.pcapng", mkptest::Joined({b.Section(), b.Interface(147), b.Packet(0, 1, {1, 2, 3}),
                                                                b.Packet(0, 2, badLength)}));
  const std::string bad = Shell("tshark -X lua_script:" + std::string(MKP_SOURCE_DIR) + "/data/wireshark/mkp.lua -r " +
                                dir_ + "/bad.pcapng -V 2>&1");
  EXPECT_EQ(bad.find("Lua Error"), std::string::npos) << bad;
  EXPECT_NE(bad.find("too short for a header"), std::string::npos) << bad;
  EXPECT_NE(bad.find("exceeds 2048"), std::string::npos) << bad;

  // Another program's capture of the same frames (text2pcap, as pcap).
  if (!Have("text2pcap")) return;
  std::ofstream(dir_ + "/dump.txt") << Shell("tshark -r " + path + " -x");
  Shell("text2pcap -F pcap -l 147 " + dir_ + "/dump.txt " + dir_ + "/other.pcap");
  const auto redecoded = mkptest::RunTool({"redecode", dir_ + "/other.pcap"});
  EXPECT_EQ(redecoded.Status, 0);
  const auto other = Lines(redecoded.Out);
  ASSERT_EQ(other.size(), 2u);
  EXPECT_EQ(other[0].substr(mkp::TimePrefixLength(other[0])), "<- 0A0B0C>>010203 WR type 05 : reg 02 := 4660 ");
  EXPECT_EQ(other[1].substr(mkp::TimePrefixLength(other[1])), "<- Missing format");
}

// tshark -i mkp runs the launcher that wireshark-install wrote, which runs
// the extcap; it watches a line on which the simulated device answers.
TEST_F(CaptureCommandsTest, ALiveCaptureRunsThroughTheExtcapLauncher) {
  if (!Have("tshark")) GTEST_SKIP() << "tshark is not installed";
  const std::string home = dir_ + "/home";
  const std::string env = "HOME=" + mkptest::ShellQuote(home) + " XDG_CONFIG_HOME= ";
  ASSERT_EQ(std::system((env + mkptest::ShellQuote(MKPTOOL_PATH) + " wireshark-install >/dev/null").c_str()), 0);
  ASSERT_NE(Shell(env + "tshark -D").find("mkp (MKP serial bus"), std::string::npos);

  mkptest::TPtyPair device, bus;
  ASSERT_TRUE(mkptest::PrimeTheOpening(device));
  ASSERT_TRUE(mkptest::PrimeTheOpening(bus));
  TToolProcess simulated({"device", "--port", device.Path(), std::string(MKP_SOURCE_DIR) + "/examples/device.rst",
                          "--set", "1=1000"});
  const std::string out = dir_ + "/live.pcapng";
  auto tshark = std::async(std::launch::async, [&] {
    return std::system((env + "timeout 60 tshark -i mkp -o extcap.mkp.port:" + bus.Path() + " -c 4 -w " + out +
                        " >/dev/null 2>&1").c_str());
  });
  for (auto* pty : {&device, &bus}) ASSERT_TRUE(pty->WaitUnread(0, 30s));
  // Both directions of the exchange go to the watched line.
  const CaptureBytes request = FrameOfText("010203.0A0B0C.06.05.0100 - 01");
  for (int i = 0; i < 2; ++i) {
    device.Write(request);
    bus.Write(request);
    const CaptureBytes answer = device.Read(FrameOfText(Answer).size(), 20000);
    ASSERT_EQ(answer, FrameOfText("0A0B0C.010203.07.05.0300 - 01 E8 03"));
    bus.Write(answer);
  }
  ASSERT_EQ(tshark.wait_for(60s), std::future_status::ready);
  EXPECT_EQ(tshark.get(), 0);
  // The dissector that wireshark-install put in place is loaded by itself.
  const auto lines = Lines(Shell(env + "tshark -r " + out + " -T fields -E separator='|' -e mkp.cmd -e _ws.col.Info"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "0x06|0A0B0C>>010203 RD type 05 : reg 01");
  EXPECT_EQ(lines[1], "0x07|010203>>0A0B0C ANSW type 05 : reg 01");
  EXPECT_EQ(lines[3], lines[1]);
}

}  // namespace
