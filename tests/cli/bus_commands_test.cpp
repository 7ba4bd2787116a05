// A simulated bus of several devices (mkptool device with several
// descriptions) on one end of a virtual null-modem cable: the bus scan, the
// address rules, and a master polling all devices while they misbehave.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/tool_process.h"
#include "cli/tool_runner.h"
#include "serial/null_modem.h"

namespace {

using mkptest::RunTool;
using mkptest::TToolProcess;

const std::string Examples = std::string(MKP_SOURCE_DIR) + "/examples/";

class BusCommandsTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/mkp-bus-XXXXXX";
    dir_ = ::mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Waits until the device at the address answers a ping over the cable.
  static bool DeviceAnswers(const std::string& port, const std::string& address) {
    for (int attempt = 0; attempt < 10; ++attempt) {
      const auto r = RunTool({"send", "--port", port, "--receive", address + ".0A0B0C.04.00.0000"});
      if (r.Status == 0) return true;
    }
    return false;
  }

  std::string dir_;
};

// The NAME=N figures of the lines that match `row`, by the row's first
// group; a later line replaces an earlier one.
std::map<std::string, std::map<std::string, long long>> Figures(const std::string& text, const std::string& row) {
  std::map<std::string, std::map<std::string, long long>> figures;
  std::istringstream lines(text);
  std::string line;
  const std::regex rowPattern(row), field(R"((\w+)=(\d+))");
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, rowPattern)) continue;
    auto& found = figures[m[1]];
    for (std::sregex_iterator it(line.begin(), line.end(), field), end; it != end; ++it)
      found[(*it)[1]] = std::stoll((*it)[2]);
  }
  return figures;
}

TEST_F(BusCommandsTest, ScanFindsExactlyTheDevicesOfABusOfThreeAndReportsAnUnexpectedOne) {
  // A fourth device, at 010230, answers from a table with the source 0999FF:
  // a device at a wrong address.
  const std::string wrong =
      Write("wrong.smt", "<010230.0A0B0C.06.01.0100 - 01> [0A0B0C.0999FF.07.01.0200 - 01 05]\r\n");
  mkptest::TNullModem cable;
  TToolProcess bus({"device", "--port", cable.PathA(), Examples + "device.rst", Examples + "device.rst@010204",
                    Examples + "sensor.rst", Examples + "sensor.rst@1.2.48", "--table", wrong});
  ASSERT_TRUE(DeviceAnswers(cable.PathB(), "010220"));

  const auto text = RunTool({"scan", "--port", cable.PathB(), "--range", "010200-01023F", "--timeout", "30"});
  EXPECT_EQ(text.Status, 0);
  const std::regex expected(
      "010203\\t[0-9.]+ ms\\t010203>>0A0B0C \\S+ 04 : .*\\n"
      "010204\\t[0-9.]+ ms\\t010204>>0A0B0C \\S+ 04 : .*\\n"
      "010220\\t[0-9.]+ ms\\t010220>>0A0B0C \\S+ 04 : .*\\n"
      "0999FF\\tunexpected \\(while probing 010230\\)\\t0999FF>>0A0B0C ANSW type 01 : reg 01 = 5\\n");
  EXPECT_TRUE(std::regex_match(text.Out, expected)) << text.Out;

  // The JSON form, probing with the sensor's first request.
  const auto json = RunTool({"scan", "--port", cable.PathB(), "--range", "1.2.3-1.2.4", "--description",
                             Examples + "sensor.rst", "--json"});
  EXPECT_EQ(json.Status, 0);
  const std::regex objects(
      "\\{\"address\":\"010203\",\"latency_ms\":[0-9.]+,\"decode\":\"010203>>0A0B0C [^\"]+\"\\}\\n"
      "\\{\"address\":\"010204\",\"latency_ms\":[0-9.]+,\"decode\":\"[^\"]+\"\\}\\n"
      "\\{\"scanned\":2,\"found\":\\[\"010203\",\"010204\"\\],\"seconds\":[0-9.]+\\}\\n");
  EXPECT_TRUE(std::regex_match(json.Out, objects)) << json.Out;

  // Nothing at the addresses: status 1, an empty list.
  const auto none = RunTool({"scan", "--port", cable.PathB(), "--range", "0A0000-0A0001", "--json"});
  EXPECT_EQ(none.Status, 1);
  EXPECT_NE(none.Out.find("{\"scanned\":2,\"found\":[],\"seconds\":"), std::string::npos) << none.Out;
  bus.Signal(SIGTERM);
  EXPECT_EQ(bus.Wait(), 0) << bus.Err();
}

TEST_F(BusCommandsTest, DevicesNeedAddressesOfTheirOwnAndGoodOptions) {
  const std::string rst = Examples + "device.rst";
  auto r = RunTool({"device", "--port", "/dev/null", rst, rst}, "", true);
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Out.find("two devices at the address 010203 (1.2.3)"), std::string::npos) << r.Out;
  r = RunTool({"device", "--port", "/dev/null", rst + "@01020X"}, "", true);
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Out.find("'01020X' in"), std::string::npos) << r.Out;
  for (const char* option : {"--silent-every", "--garbage-every"}) {
    r = RunTool({"device", "--port", "/dev/null", rst, option, "0"}, "", true);
    EXPECT_EQ(r.Status, 2) << option;
  }
  r = RunTool({"scan", "--port", "/dev/null", "--range", "01020-0102FF"}, "", true);
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Out.find("--range FROM-TO"), std::string::npos) << r.Out;
}

TEST_F(BusCommandsTest, ThreeMisbehavingDevicesUnderAPollingMasterKeepTheirFramingAndEveryFaultIsCounted) {
  const std::string description =
      Write("bus.rst", "{a} #1#\r\n{b} #2#\r\n{c} #3#\r\n"
                       "<010203.0A0B0C.06.05.0100 - 01> [1]\r\n"
                       "<010204.0A0B0C.06.05.0100 - 01> [2]\r\n"
                       "<010220.0A0B0C.06.19.0100 - 01> [3]\r\n"
                       "@@OneStepDelay=0\r\n@@OneCycleDelay=0\r\n");
  mkptest::TNullModem cable;
  // Options before the first description apply to all three; each device
  // misbehaves its own way, one of them writing its answers in two parts.
  // (Every failed step costs the master a frame read's time-out or two while
  // it empties the line, so the faults are few.)
  TToolProcess bus({"device", "--port", cable.PathA(), "--set", "1=7", Examples + "device.rst", "--drop-every", "6",
                    "--split-ms", "8", Examples + "device.rst@010204", "--wrong-every", "5", "--silent-every", "7",
                    Examples + "sensor.rst", "--corrupt-every", "5", "--garbage-every", "4"});
  ASSERT_TRUE(DeviceAnswers(cable.PathB(), "010220"));
  const auto poll =
      RunTool({"poll", "--port", cable.PathB(), "--cycles", "4", "--stats", "--panes", description}, "", false);
  EXPECT_EQ(poll.Status, 0);
  bus.Signal(SIGTERM);
  EXPECT_EQ(bus.Wait(), 0);

  // Every answer came from the device the request went to.
  std::istringstream lines(poll.Out);
  std::string line, lastDestination;
  int answers = 0;
  const std::regex sent(R"(^terminal\t-> ([0-9A-F]{6})\.0A0B0C\..*)"), got(R"(^terminal\t<- 0A0B0C\.([0-9A-F]{6})\..*)");
  while (std::getline(lines, line)) {
    std::smatch m;
    if (std::regex_match(line, m, sent)) lastDestination = m[1];
    if (std::regex_match(line, m, got)) {
      EXPECT_EQ(m[1], lastDestination) << line;
      ++answers;
    }
  }
  EXPECT_GE(answers, 12);

  // poll's last statistics line of each request, and what each device did.
  auto stats = Figures(poll.Out, R"(^(\d+)\tsent=.*)");
  auto counters = Figures(bus.Err(), R"(^mkptool device: ([0-9A-F]{6}): requests=.*)");
  ASSERT_EQ(stats.size(), 3u) << poll.Out;
  ASSERT_EQ(counters.size(), 3u) << bus.Err();
  const char* const addresses[] = {"010203", "010204", "010220"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(addresses[i]);
    auto s = stats.at(std::to_string(i + 1));
    auto c = counters.at(addresses[i]);
    // No request was lost to framing, and every fault shows where it belongs.
    EXPECT_EQ(s["sent"], c["requests"]);
    EXPECT_EQ(s["no_answer"], c["dropped"] + c["silent"]);
    EXPECT_EQ(s["bad_frame"], c["corrupted"] + c["garbage"]);
    EXPECT_EQ(s["wrong_answer"], c["wrong"]);
    EXPECT_EQ(s["answered"], c["requests"] - c["dropped"] - c["silent"] - c["corrupted"] - c["garbage"] - c["wrong"]);
    EXPECT_GE(s["answered"], 4);
  }
  EXPECT_GT(counters.at("010203")["dropped"], 0);
  EXPECT_EQ(counters.at("010203")["split"], counters.at("010203")["answered"]);
  EXPECT_GT(counters.at("010204")["wrong"], 0);
  EXPECT_GT(counters.at("010220")["garbage"] + counters.at("010220")["corrupted"], 0);
}

}  // namespace
