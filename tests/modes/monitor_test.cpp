#include "modes/monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analysis/parser.h"
#include "protocol/packet.h"
#include "protocol/panes.h"
#include "protocol/transport.h"
#include "serial/memory_line.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

const char* const Request = "010203.0A0B0C.06.05.0100 - 01 ";
const char* const Answer = "0A0B0C.010203.07.05.0300 - 01 E8 03 ";
const char* const Ping = "010203.0A0B0C.04.00.0000 - ";

Bytes Frame(const std::string& text) {
  mkp::TPacketHolder packet;
  EXPECT_TRUE(mkp::TextToPacket(text, *packet));
  std::uint8_t buffer[mkp::FrameBufferSize];
  int length = 0;
  EXPECT_TRUE(mkp::BuildFrame(*packet, buffer, length));
  return Bytes(buffer, buffer + length);
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class TLines : public mkp::TLogPane {
public:
  void AddLine(const mkp::TPaneLine& record) override {
    const std::string& line = record.Text;
    const mkp::TLineStamp& stamp = record.Stamp;
    std::lock_guard lk(lock_);
    lines_.push_back(line);
    stamps_.push_back(stamp);
  }
  std::vector<std::string> Lines() const {
    std::lock_guard lk(lock_);
    return lines_;
  }
  std::vector<mkp::TLineStamp> Stamps() const {
    std::lock_guard lk(lock_);
    return stamps_;
  }

private:
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
  std::vector<mkp::TLineStamp> stamps_;
};

struct TMonitorRig {
  mkptest::TMemoryLine first, second;
  mkp::TMKPParser parser;
  TLines terminal, decode;
  mkp::TMKProtocolTransport transport{&first};
  std::unique_ptr<mkp::TWorker<mkp::TBusMonitor>> monitor = std::make_unique<mkp::TWorker<mkp::TBusMonitor>>();

  explicit TMonitorRig(bool twoPorts) {
    parser.AnalyzeMaster = parser.AnalyzeSlave = true;
    transport.SetTerminalBox(&terminal);
    transport.SetDecodeBox(&decode);
    transport.SetParser(&parser);
    transport.DecodeEnabled = true;
    // Any write on either line fails and leaves it failed.
    first.FailWrites(true);
    second.FailWrites(true);
    monitor->SetTransport(&transport);
    monitor->SetLines(&first, twoPorts ? &second : nullptr);
    monitor->Start();
  }
  bool Seen(std::uint64_t frames, std::uint64_t bad = 0) {
    return Eventually([&] { return monitor->Frames() >= frames && monitor->BadReads() >= bad; });
  }
};

TEST(MonitorThreadTest, LogsEveryFrameOfABusyLineAndNeverWrites) {
  TMonitorRig rig(false);
  rig.first.Write(Frame(Request));
  rig.first.Write(Join({Frame(Answer), Frame(Ping)}));  // back to back in one read
  rig.first.Write({0xDE, 0xAD});
  ASSERT_TRUE(rig.Seen(3, 1));
  rig.monitor.reset();

  const auto lines = rig.terminal.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], std::string("<- ") + Request);
  EXPECT_EQ(lines[1], std::string("<- ") + Answer);
  EXPECT_EQ(lines[2], std::string("<- ") + Ping);
  EXPECT_EQ(lines[3], "<- Missing format : DE AD ");
  const auto decoded = rig.decode.Lines();
  ASSERT_EQ(decoded.size(), 4u);
  EXPECT_EQ(decoded[1].rfind("<- 010203>>0A0B0C ANSW", 0), 0u) << decoded[1];
  EXPECT_EQ(decoded[3], "<- Missing format");
  for (const auto& stamp : rig.terminal.Stamps()) EXPECT_EQ(stamp.Kind, mkp::TLineKind::Received);
  // Not one byte went out, and no write was even tried (it would have failed
  // the line).
  EXPECT_TRUE(rig.first.ReadAvailable().empty());
  EXPECT_EQ(rig.first.State(), mkp::psOk);
}

TEST(MonitorThreadTest, TwoPortsAreLoggedInOneSequenceByTimeWithTheirPort) {
  TMonitorRig rig(true);
  // Each direction in turn, as a master and a device take turns on a link.
  for (int exchange = 0; exchange < 3; ++exchange) {
    rig.first.Write(Frame(Request));
    ASSERT_TRUE(rig.Seen(2u * exchange + 1));
    rig.second.Write(Frame(Answer));
    ASSERT_TRUE(rig.Seen(2u * exchange + 2));
  }
  rig.monitor.reset();
  const auto lines = rig.terminal.Lines();
  ASSERT_EQ(lines.size(), 6u);
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    EXPECT_EQ(lines[i], std::string("<-1 ") + Request);
    EXPECT_EQ(lines[i + 1], std::string("<-2 ") + Answer);
  }
  const auto stamps = rig.terminal.Stamps();
  for (std::size_t i = 1; i < stamps.size(); ++i) EXPECT_LE(stamps[i - 1].Time, stamps[i].Time);
  EXPECT_EQ(rig.first.State(), mkp::psOk);
  EXPECT_EQ(rig.second.State(), mkp::psOk);
}

TEST(MonitorThreadTest, APausedMonitorGoesOnReadingAndLogsEverythingWhenResumed) {
  TMonitorRig rig(false);
  rig.first.Write(Frame(Ping));
  ASSERT_TRUE(rig.Seen(1));
  {
    mkp::TWorkerPause hold(rig.monitor.get());
    ASSERT_TRUE(hold.Held());
    for (int i = 0; i < 20; ++i) rig.first.Write(Frame(Request));
    EXPECT_EQ(rig.terminal.Lines().size(), 1u);  // held: nothing logged while paused
  }
  ASSERT_TRUE(rig.Seen(21));
  rig.monitor.reset();
  EXPECT_EQ(rig.terminal.Lines().size(), 21u);
}

}  // namespace
