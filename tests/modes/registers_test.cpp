// The registers automaton against a simulated device: on a line in memory, or
// on the far side of a pty where the timing of the line matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "analysis/parser.h"
#include "modes/named_event.h"
#include "modes/registers.h"
#include "modes/registers_ops.h"
#include "modes/registers_peer.h"
#include "modes/registers_table.h"
#include "protocol/transport.h"
#include "serial/comport.h"

using namespace mkp;
using mkptest::FrameBytes;
using mkptest::TRegistersPeer;
using mkptest::TSeenPacket;
using namespace std::chrono_literals;

namespace {

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

class TLinePane : public TLogPane {
public:
  void AddLine(const mkp::TPaneLine& record) override {
    const std::string& line = record.Text;
    std::lock_guard guard(lock_);
    lines_.push_back(line);
  }
  std::vector<std::string> Lines() const {
    std::lock_guard guard(lock_);
    return lines_;
  }
  int CountContaining(const std::string& part) const {
    const auto lines = Lines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.find(part) != std::string::npos;
    }));
  }

private:
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The device's answer to a read of a WORD register: the register and the values.
std::string WordAnswer(int reg, const std::vector<int>& values) {
  char text[64];
  std::snprintf(text, sizeof text, "0A0B0C.010203.07.05.%02X00 - %02X", 1 + 2 * static_cast<int>(values.size()), reg);
  std::string answer = text;
  for (int v : values) {
    std::snprintf(text, sizeof text, " %02X %02X", v & 0xFF, (v >> 8) & 0xFF);
    answer += text;
  }
  return answer;
}

std::string WordRequest(int reg, const char* destination = "010203") {
  char text[64];
  std::snprintf(text, sizeof text, "%s.0A0B0C.06.05.0100 - %02X", destination, reg);
  return text;
}

class RegistersThreadTest : public ::testing::Test {
protected:
  void SetUp() override {
    transport.SetParser(&parser);
    transport.SetTerminalBox(&terminal);
    transport.SetDecodeBox(&decode);
    transport.DecodeEnabled = true;
    char pattern[] = "/tmp/mkp-registers-XXXXXX";
    dir = ::mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  void AddRequest(const std::string& text, const std::string& rows = "",
                  const std::string& saves = "") {
    model.Requests.AddText(text);
    model.RequestRows.AddText(rows);
    model.RequestSaves.AddText(saves);
  }
  void Names(int count) {
    for (int i = 1; i <= count; ++i) model.RegisterNames.Add(i, "reg" + std::to_string(i), 0);
    table.LoadNames(model.RegisterNames);
  }
  std::unique_ptr<TWorker<TRegistersAutomat>> Automat(const std::string& address = "") {
    auto automat = MakeRegistersAutomat(transport, parser, table, model, address);
    return automat;
  }
  // Ends the automaton after the given number of completed cycles.
  void StopAfterCycles(TRegistersAutomat& automat, int cycles) {
    automat.SetOnCycle([&automat, this, cycles] {
      if (++cyclesDone >= cycles) automat.Terminate();
    });
  }

  // Moves the automaton's line onto a pseudo-terminal.
  void UsePty() {
    ASSERT_TRUE(channel.OpenPort(pty.Path(), "115200", "1", "none", 1, 0)) << channel.LastError();
    transport.SetChannel(&channel);
  }

  mkptest::TMemoryLine line;
  mkptest::TPtyPair pty;
  TCOMPortChannel channel;
  TMKPParser parser;
  TMKProtocolTransport transport{&line};
  TLinePane terminal;
  TLinePane decode;
  TRegistersTable table;
  TDeviceModel model;
  std::string dir;
  std::atomic<int> cyclesDone{0};
};

}  // namespace

TEST(RegistersAutomatTest, PrepareCopyAndRequestText) {
  TWorker<TRegistersAutomat> automat;
  EXPECT_EQ(automat.StepEventName(), "");
  automat.PrepareModel();
  const std::string firstEvent = automat.StepEventName();
  EXPECT_EQ(firstEvent.rfind("_MKPTEST_REGISTERSA_EVENT", 0), 0u);
  EXPECT_TRUE(NamedEventExists(firstEvent));
  EXPECT_FALSE(automat.IsStepInProgress());
  EXPECT_EQ(automat.StepDelay, 100);
  EXPECT_EQ(automat.CycleDelay, 0);
  EXPECT_EQ(automat.TargetAddress(), "255.255.255");

  TDeviceModel model;
  model.Requests.AddText("x");
  model.OneStepDelay = DelayUnset;
  model.OneCycleDelay = 700;
  automat.CopyModel(model);
  EXPECT_EQ(automat.RequestCount(), 1);
  EXPECT_EQ(automat.StepDelay, 100);
  EXPECT_EQ(automat.CycleDelay, 700);

  TPacketHolder packet;
  EXPECT_TRUE(automat.RequestTextToPacket("090807.0A0B0C.06.05.0100 - 01", *packet));
  EXPECT_EQ(packet->DstAddr, MakeVorelAddr(9, 8, 7));
  automat.SetTargetAddress("1.2.3");
  EXPECT_TRUE(automat.RequestTextToPacket("090807.0A0B0C.06.05.0100 - 01", *packet));
  EXPECT_EQ(packet->DstAddr, MakeVorelAddr(1, 2, 3));
  automat.SetTargetAddress("4.x.6");
  EXPECT_TRUE(automat.RequestTextToPacket("090807.0A0B0C.06.05.0100 - 01", *packet));
  EXPECT_EQ(packet->DstAddr, MakeVorelAddr(4, 8, 7));
  EXPECT_FALSE(automat.RequestTextToPacket("090807.0A0B0C.06.05.0200 - 01", *packet));

  // A new model: new event, defaults back.
  automat.PrepareModel();
  EXPECT_NE(automat.StepEventName(), "");
  EXPECT_FALSE(NamedEventExists(firstEvent));
  EXPECT_EQ(automat.TargetAddress(), "255.255.255");
  EXPECT_EQ(automat.RequestCount(), 0);
  automat.ReleaseModel();
  EXPECT_EQ(automat.StepEventName(), "");
}

TEST_F(RegistersThreadTest, ValuesLandInTheRowsOfTheRowListAndSaveFilesAreWritten) {
  Names(5);
  table.SetCurrentValue(1, "untouched");
  const std::string lines = dir + "/lines.txt";
  const std::string row = dir + "/row.txt";
  const std::string col = dir + "/col.txt";
  AddRequest(WordRequest(1, "090909"), "0, 3,2;9",
             "SAVEDATALINES=" + lines + " OTHER=x SAVEDATAROW=" + row + "  SAVEDATACOL=" + col);
  TRegistersPeer peer(line, [](const TSeenPacket& seen, int index) {
    if (seen.Command != 6) return std::vector<std::string>{};
    return std::vector<std::string>{WordAnswer(seen.First, {1000, index + 1})};
  });
  auto automat = Automat("1.2.3");
  StopAfterCycles(*automat, 2);
  automat->Start();
  ASSERT_TRUE(Eventually([&] { return automat->Finished(); }));

  EXPECT_EQ(table.CurrentValue(3), "1000");
  EXPECT_EQ(table.CurrentValue(2), "2");
  EXPECT_EQ(table.CurrentValue(1), "untouched");
  EXPECT_EQ(ReadFile(lines), "1000 1\r\n1000 2\r\n");
  EXPECT_EQ(ReadFile(row), "1000 1 1000 2 ");
  EXPECT_EQ(ReadFile(col), "1000 \r\n1 \r\n1000 \r\n2 \r\n");
  const auto seen = peer.Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Dst, MakeVorelAddr(1, 2, 3));  // the target address overrides the file's
  EXPECT_FALSE(automat->IsStepInProgress());
}

TEST_F(RegistersThreadTest, FaultsThatDoNotEndPollingAreReportedOnce) {
  Names(3);
  AddRequest(WordRequest(1), "1, 2 ,3", "SAVEDATALINES= SAVEDATACOL=" + dir + "/no/such/dir.txt");
  TRegistersPeer peer(line, [](const TSeenPacket& seen, int) {
    return std::vector<std::string>{WordAnswer(seen.First, {1000, 5})};
  });
  auto automat = Automat();
  StopAfterCycles(*automat, 3);
  automat->Start();
  ASSERT_TRUE(Eventually([&] { return automat->Finished(); }));
  EXPECT_EQ(cyclesDone, 3);
  // "2 " is not a number: passed over without using a value.
  EXPECT_EQ(table.CurrentValue(1), "1000");
  EXPECT_EQ(table.CurrentValue(2), "");
  EXPECT_EQ(table.CurrentValue(3), "5");
  EXPECT_EQ(terminal.CountContaining("row list entry \"2 \""), 1);
  EXPECT_EQ(terminal.CountContaining("\"SAVEDATALINES=\" has no file name"), 1);
  EXPECT_EQ(terminal.CountContaining("cannot write the save file"), 1);
}

namespace {

struct TWrongAnswer {
  const char* Name;
  const char* Text;
};

class RegistersFailureThreadTest : public RegistersThreadTest,
                                   public ::testing::WithParamInterface<TWrongAnswer> {};

}  // namespace

TEST_P(RegistersFailureThreadTest, WrongReplyEmptiesTheLineAndRestartsAtRequestZero) {
  Names(3);
  AddRequest(WordRequest(1), "1");
  AddRequest(WordRequest(2), "2");
  AddRequest(WordRequest(3), "3");
  model.OneStepDelay = 0;
  model.OneCycleDelay = 0;
  const std::string wrong = GetParam().Text;
  TRegistersPeer peer(line, [&wrong](const TSeenPacket& seen, int) {
    if (seen.First == 2) {
      // A wrong answer, then a late good one that the line emptying must eat.
      return std::vector<std::string>{wrong, WordAnswer(2, {22})};
    }
    return std::vector<std::string>{WordAnswer(seen.First, {seen.First * 11})};
  });
  auto automat = Automat();
  automat->Start();
  ASSERT_TRUE(Eventually([&] { return peer.Count() >= 4; }, 30s));
  automat->Terminate();
  automat->WaitFor();
  const auto seen = peer.Seen();
  std::vector<int> registers;
  for (const auto& packet : seen) registers.push_back(packet.First);
  EXPECT_EQ(std::vector<int>(registers.begin(), registers.begin() + 4), (std::vector<int>{1, 2, 1, 2}))
      << GetParam().Name;
  EXPECT_EQ(table.CurrentValue(1), "11");
  EXPECT_EQ(table.CurrentValue(2), "");  // neither the wrong nor the late answer counted
  EXPECT_EQ(table.CurrentValue(3), "");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RegistersFailureThreadTest,
    ::testing::Values(TWrongAnswer{"error command", "0A0B0C.010203.03.00.0100 - 04"},
                      TWrongAnswer{"other type", "0A0B0C.010203.07.0B.0500 - 02 16 00 00 00"},
                      TWrongAnswer{"other first byte", "0A0B0C.010203.07.05.0300 - 09 16 00"}),
    [](const auto& info) {
      std::string name = info.param.Name;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST_F(RegistersThreadTest, TransmitWritesOnePacketPerFilledRowBetweenSteps) {
  Names(4);
  AddRequest(WordRequest(1), "1");
  model.WriteTemplates.AddText("010203.0A0B0C.08.05.0300 - 01 %1:05%");
  model.WriteTemplates.AddText("010203.0A0B0C.08.05.0300 - 02 %2:05%");
  model.WriteTemplates.AddText("010203.0A0B0C.08.01.0200 - 03 %3%");
  model.RegSendTimeout1 = 50;
  model.RegSendTimeout2 = 30;
  model.RegSendTimeout3 = 30;
  model.OneCycleDelay = 20;
  TRegistersPeer peer(line, [](const TSeenPacket& seen, int) {
    if (seen.Command == 8) return std::vector<std::string>{"0A0B0C.010203.01.00.0000"};
    return std::vector<std::string>{WordAnswer(seen.First, {7})};
  });
  auto automat = Automat();
  automat->Start();
  ASSERT_TRUE(Eventually([&] { return table.CurrentValue(1) == "7"; }));

  table.SetNewValue(1, "4660");
  table.SetNewValue(3, " 9 ");
  table.SetNewValue(4, "5");  // no template for register 4
  std::vector<std::string> status;
  TThreadWaiter waiter;
  TTransmitContext context;
  context.Transport = &transport;
  context.Parser = &parser;
  context.Automat = automat.get();
  context.Model = &model;
  context.Table = &table;
  context.DeviceAddress = "4.5.6";
  context.Waiter = &waiter;
  context.ShowStatus = [&](const std::string& text) { status.push_back(text); };
  int sent = -1;
  EXPECT_EQ(TransmitRegisters(context, &sent), TTransmitResult::Done);
  EXPECT_EQ(sent, 2);
  EXPECT_EQ(status, (std::vector<std::string>{"Processing..."}));
  const int afterTransmit = peer.Count();
  ASSERT_TRUE(Eventually([&] { return peer.Count() > afterTransmit; }));  // polling goes on
  automat->Terminate();
  automat->WaitFor();

  std::vector<TSeenPacket> writes;
  int firstWrite = -1;
  int lastWrite = -1;
  const auto seen = peer.Seen();
  for (int i = 0; i < static_cast<int>(seen.size()); ++i) {
    if (seen[i].Command != 8) continue;
    writes.push_back(seen[i]);
    if (firstWrite < 0) firstWrite = i;
    lastWrite = i;
  }
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(lastWrite - firstWrite, 1);  // no request between the writes
  EXPECT_EQ(writes[0].Dst, MakeVorelAddr(4, 5, 6));
  EXPECT_EQ(writes[0].Text, "040506.0A0B0C.08.05.0300 - 01 34 12 ");
  EXPECT_EQ(writes[1].Text, "040506.0A0B0C.08.01.0200 - 03 09 ");
  // The New value cells stay.
  EXPECT_EQ(table.NewValue(1), "4660");
}

TEST_F(RegistersThreadTest, TransmitReportsBusyWhileAStepHangs) {
  Names(1);
  AddRequest(WordRequest(1), "1");
  model.WriteTemplates.AddText("010203.0A0B0C.08.05.0300 - 01 %1:05%");
  model.RegSendTimeout1 = 0;
  UsePty();
  // Other stations' frames keep the step waiting for its answer, then
  // emptying the line.
  TRegistersPeer peer(pty, [](const TSeenPacket& seen, int index) {
    std::vector<std::string> answers;
    if (index == 0 && seen.Command == 6) {
      for (int i = 0; i < 70; ++i) answers.push_back("0D0E0F.010203.01.00.0000");
    }
    return answers;
  });
  peer.GapMs = 60;
  auto automat = Automat();
  automat->Start();
  ASSERT_TRUE(Eventually([&] { return terminal.CountContaining("<- 0D0E0F.010203.01") >= 3; }));
  ASSERT_TRUE(automat->IsStepInProgress());
  table.SetNewValue(1, "1");
  std::vector<std::string> status;
  TThreadWaiter waiter;
  TTransmitContext context;
  context.Transport = &transport;
  context.Parser = &parser;
  context.Automat = automat.get();
  context.Model = &model;
  context.Table = &table;
  context.Waiter = &waiter;
  context.ShowStatus = [&](const std::string& text) { status.push_back(text); };
  const auto start = std::chrono::steady_clock::now();
  int sent = -1;
  EXPECT_EQ(TransmitRegisters(context, &sent), TTransmitResult::Busy);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(status, (std::vector<std::string>{"System busy. Try again."}));
  automat->Terminate();
  automat->WaitFor();
  peer.Stop();
  for (const auto& packet : peer.Seen()) EXPECT_NE(packet.Command, 8);
}

TEST_F(RegistersThreadTest, SelectDeviceReplacesTheModelOfARunningAutomaton) {
  Names(2);
  AddRequest(WordRequest(1), "1");
  TRegistersPeer peer(line, [](const TSeenPacket& seen, int) {
    return std::vector<std::string>{WordAnswer(seen.First, {seen.First})};
  });
  auto automat = Automat("7.7.7");
  automat->Start();
  ASSERT_TRUE(Eventually([&] { return table.CurrentValue(1) == "1"; }));
  const std::string oldEvent = automat->StepEventName();

  const std::string file = dir + "/other.rst";
  std::ofstream(file, std::ios::binary) << "{four} #4#\r\n<010203.0A0B0C.06.05.0100 - 04> [4]\r\n"
                                           "@@ONECYCLEDELAY=10\r\n";
  TThreadWaiter waiter;
  ASSERT_TRUE(SelectDevice(file, model, &table, automat.get(), waiter));
  EXPECT_EQ(table.RowCount(), 4);
  EXPECT_EQ(table.Cell(4, 0), "four");
  EXPECT_EQ(automat->TargetAddress(), "255.255.255");
  EXPECT_NE(automat->StepEventName(), oldEvent);
  EXPECT_EQ(automat->CycleDelay, 10);
  ASSERT_TRUE(Eventually([&] { return table.CurrentValue(4) == "4"; }));
  EXPECT_EQ(table.CurrentValue(1), "");

  // A file that yields nothing changes nothing: the model, the table and the
  // running automaton stay as they were.
  const std::string garbage = dir + "/page.rst";
  std::ofstream(garbage, std::ios::binary) << "<html><body>no description</body></html>\r\n@@ONECYCLEDELAY=99\r\n";
  const std::string event = automat->StepEventName();
  const TLoadResult refused = SelectDevice(garbage, model, &table, automat.get(), waiter);
  EXPECT_TRUE(refused.NothingUsable());
  EXPECT_EQ(refused.Message(), garbage + ": no requests or registers found");
  EXPECT_EQ(table.Cell(4, 0), "four");
  EXPECT_EQ(table.CurrentValue(4), "4");
  EXPECT_EQ(automat->StepEventName(), event);
  EXPECT_EQ(model.OneCycleDelay, 10);
  EXPECT_EQ(model.Requests.Count(), 1);
  automat->Terminate();
  automat->WaitFor();
  EXPECT_EQ(peer.Seen().back().First, 4);
  EXPECT_EQ(peer.Seen().back().Dst, MakeVorelAddr(1, 2, 3));

  // Outside Registers mode only the model is loaded.
  TDeviceModel other;
  EXPECT_TRUE(SelectDevice(file, other, nullptr, nullptr, waiter));
  EXPECT_EQ(other.Requests.Count(), 1);
  EXPECT_EQ(DeviceStatusText(file), " other");
}

TEST_F(RegistersThreadTest, StopDoesNotWaitAndPauseHoldsBetweenSteps) {
  Names(1);
  AddRequest(WordRequest(1), "1");
  model.OneCycleDelay = 2000;
  std::atomic<bool> paused{false};
  std::atomic<int> duringPause{0};
  TRegistersPeer peer(line, [&](const TSeenPacket& seen, int) {
    if (paused) ++duringPause;
    return std::vector<std::string>{WordAnswer(seen.First, {1})};
  });
  auto automat = Automat();
  automat->Start();
  // Into the long cycle delay after the first answer.
  ASSERT_TRUE(Eventually([&] { return table.CurrentValue(1) == "1" && !automat->IsStepInProgress(); }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(automat->Pause(2s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);  // held within the delay
  paused = true;
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(duringPause, 0);
  paused = false;
  automat->Resume();
  ASSERT_TRUE(Eventually([&] { return peer.Count() >= 2; }));
  const auto stopAsked = std::chrono::steady_clock::now();
  automat->Terminate();
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, 1s);
  ASSERT_TRUE(Eventually([&] { return automat->Finished(); }, 5s));
}

namespace {

TEST_F(RegistersThreadTest, OtherStationsFramesArePassedOverAndPollingNeverStalls) {
  Names(1);
  AddRequest(WordRequest(1), "1");
  model.OneCycleDelay = 0;
  // A second station talks all the time; the device's first answer is wrong.
  TRegistersPeer peer(line, [](const TSeenPacket& seen, int index) {
    if (seen.Command != 6) return std::vector<std::string>{};
    return std::vector<std::string>{index == 0 ? "0A0B0C.010203.01.00.0000" : WordAnswer(seen.First, {7})};
  });
  std::atomic<bool> talking{true};
  std::thread station([&] {
    for (int i = 0; talking && i < 3000; ++i) {
      line.Write(FrameBytes(i % 2 ? "111111.222222.06.05.0100 - 01" : "222222.111111.07.05.0300 - 01 05 00"));
      std::this_thread::sleep_for(10ms);  // the station's own pace on the line
    }
  });
  TRegistersStats stats;
  auto automat = MakeRegistersAutomat(transport, parser, table, model, "", &stats);
  automat->Start();
  // Two answers taken after the wrong one: the second had the station's frames
  // of the first's wait before it.
  const bool polled = Eventually([&] { return stats.Snapshot().at(0).Answered >= 2; }, 15s);
  automat->Terminate();
  automat->WaitFor();
  talking = false;
  station.join();
  ASSERT_TRUE(polled) << peer.Count() << " requests sent";
  const TRequestStats row = stats.Snapshot().at(0);
  EXPECT_EQ(table.CurrentValue(1), "7");
  EXPECT_EQ(row.WrongAnswer, 1u);
  EXPECT_GT(row.OtherTraffic, 0u);
  EXPECT_GT(decode.CountContaining("<- 222222>>111111"), 0);  // every frame is logged
}

}  // namespace
