// Several simulated devices on one line: each answers only what is addressed
// to it, never an answer, and keeps its framing whatever else passes; the
// faults of one device, counted apart.
#include "modes/simbus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "modes/address.h"
#include "modes/device.h"
#include "modes/registers_peer.h"
#include "protocol/transport.h"
#include "serial/memory_line.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using mkptest::FrameBytes;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class SimulatedBusTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* line : {"{Counter} #1#", "<010203.0A0B0C.06.05.0100 - 01> [1]"})
      mkp::ApplyDescriptionLine(line, model_);
  }

  std::unique_ptr<mkp::TWorker<mkp::TDeviceSimulator>> Device(const std::string& at, const std::string& value,
                                                              const mkp::TDeviceSimulator::TMisbehaviour& faults = {}) {
    auto device = std::make_unique<mkp::TWorker<mkp::TDeviceSimulator>>();
    device->SetModel(model_);
    mkp::TVorelAddr address;
    mkp::ApplyAddressText(at, address);
    device->SetAddress(address);
    device->SetValue(1, value);
    device->SetMisbehaviour(faults);
    return device;
  }

  mkp::TDeviceModel model_;
  mkptest::TMemoryLine line_;
  mkp::TMKProtocolTransport transport_{&line_};
  mkp::TWorker<mkp::TSimulatedBus> bus_;
};

TEST_F(SimulatedBusTest, EachDeviceAnswersItsOwnFramesOnlyAndNeverAnAnswerWhateverPassesBetween) {
  std::string error;
  ASSERT_TRUE(bus_.AddDevice(Device("1.2.3", "1000"), error));
  ASSERT_TRUE(bus_.AddDevice(Device("1.2.4", "2000"), error));
  EXPECT_FALSE(bus_.AddDevice(Device("1.2.4", "3000"), error));
  EXPECT_EQ(error, "two devices at the address 010204 (1.2.4): give each its own with @ADDRESS");
  bus_.SetTransport(&transport_);
  bus_.Start();

  const Bytes toA = FrameBytes("010203.0A0B0C.06.05.0100 - 01"), toB = FrameBytes("010204.0A0B0C.06.05.0100 - 01");
  const Bytes fromA = FrameBytes("0A0B0C.010203.07.05.0300 - 01 E8 03");
  const Bytes fromB = FrameBytes("0A0B0C.010204.07.05.0300 - 01 D0 07");
  // Back to back in one read: another device's answer, a request for B,
  // noise, a request for no device, an answer addressed to A, a request for A.
  line_.Write(Join({fromA, toB, {0x55, 0x66}, FrameBytes("010299.0A0B0C.06.05.0100 - 01"),
                    FrameBytes("010203.0A0B0C.07.05.0300 - 01 E8 03"), toA}));
  const Bytes expected = Join({fromB, fromA});
  EXPECT_EQ(line_.Read(expected.size() + 1, 1500), expected);
  EXPECT_EQ(bus_.OtherFrames(), 3u);

  // A request that comes in two pieces is still one frame.
  line_.Write(Bytes(toB.begin(), toB.begin() + 7));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the gap inside the frame
  line_.Write(Bytes(toB.begin() + 7, toB.end()));
  EXPECT_EQ(line_.Read(fromB.size(), 1500), fromB);
  bus_.Terminate();
  bus_.WaitFor();
  EXPECT_EQ(bus_.Device(0).Counters().Requests, 1u);
  EXPECT_EQ(bus_.Device(1).Counters().Requests, 2u);
}

TEST_F(SimulatedBusTest, SilenceGarbageAndSplitAnswersAreInjectedOnScheduleAndCounted) {
  mkp::TDeviceSimulator::TMisbehaviour faults;
  faults.SilentEvery = 2;
  faults.GarbageEvery = 3;
  faults.SplitMs = 30;
  faults.DelayMs = 0;
  std::string error;
  ASSERT_TRUE(bus_.AddDevice(Device("1.2.3", "1000", faults), error));
  std::vector<mkp::TMonoTime> writes;
  std::mutex lock;
  line_.OnWrite([&](const Bytes&) {
    std::lock_guard lk(lock);
    writes.push_back(mkp::TMonoClock::now());
  });
  bus_.SetTransport(&transport_);
  bus_.Start();
  const Bytes request = FrameBytes("010203.0A0B0C.06.05.0100 - 01");
  const Bytes answer = FrameBytes("0A0B0C.010203.07.05.0300 - 01 E8 03");
  // Requests 1 to 6: answered, silent, garbage first, silent, answered,
  // silent (silence wins over garbage).
  std::vector<std::size_t> extra;
  for (int i = 1; i <= 6; ++i) {
    line_.Write(request);
    if (i % 2 == 0) {
      EXPECT_TRUE(line_.Read(1, 300).empty()) << i;
      continue;
    }
    Bytes got = line_.Read(answer.size() + (i == 3 ? 8 : 0), 1500);
    if (i == 3) {
      const Bytes rest = line_.Read(answer.size() + 16 - 8 + 1, 300);  // the burst is 8 to 24 bytes
      got.insert(got.end(), rest.begin(), rest.end());
      ASSERT_GT(got.size(), answer.size() + 7);
    }
    EXPECT_EQ(Bytes(got.end() - static_cast<std::ptrdiff_t>(answer.size()), got.end()), answer) << i;
  }
  bus_.Terminate();
  bus_.WaitFor();
  const auto c = bus_.Device(0).Counters();
  EXPECT_EQ(c.Requests, 6u);
  EXPECT_EQ(c.Silent, 3u);
  EXPECT_EQ(c.Garbage, 1u);
  EXPECT_EQ(c.Answered, 3u);
  EXPECT_EQ(c.Split, 3u);
  // Each answer went out in two writes 30 ms apart.
  std::lock_guard lk(lock);
  ASSERT_GE(writes.size(), 6u);
  EXPECT_GE(writes[1] - writes[0], std::chrono::milliseconds(25));
}

}  // namespace
