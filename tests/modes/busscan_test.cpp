// The bus scan: the probe goes to each address in turn; an answer counts for
// the address it comes from, even late; a frame from an address not probed
// is unexpected, once.
#include "modes/busscan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "modes/address.h"
#include "modes/registers_peer.h"
#include "protocol/transport.h"
#include "serial/memory_line.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(BusScanTest, AnswersCountForTheirSourceLateOnesTooAndStrangersAreUnexpectedOnce) {
  mkptest::TMemoryLine line;
  mkp::TMKProtocolTransport transport(&line);
  std::vector<std::string> probes;
  std::thread late;
  line.OnWrite([&](const Bytes& frame) {
    Bytes copy(mkp::FrameBufferSize, 0);
    std::copy(frame.begin(), frame.end(), copy.begin());
    mkp::TPacketHolder probe;
    ASSERT_TRUE(mkp::ParseFrame(copy.data(), *probe));
    probes.push_back(mkp::PacketToText(*probe));
    const std::string to = mkp::BusAddressHex(probe->DstAddr);
    if (to == "010201" || to == "010204") line.Write(mkptest::FrameBytes("0A0B0C.0999FF.07.01.0200 - 01 05"));
    if (to == "010202") line.Write(mkptest::FrameBytes("0A0B0C.010202.07.01.0200 - 01 07"));
    if (to == "010203")  // answers after its time-out, while 010204 is probed
      late = std::thread([&line] {
        std::this_thread::sleep_for(std::chrono::milliseconds(70));
        line.Write(mkptest::FrameBytes("0A0B0C.010203.03.00.0100 - 04"));
      });
  });
  mkp::TWorker<mkp::TBusScan> scan;
  scan.SetTransport(&transport);
  ASSERT_FALSE(scan.SetProbe("not a packet"));
  ASSERT_TRUE(scan.SetProbe("FFFFFF.0A0B0C.06.01.0100 - 09"));
  scan.SetRange(*mkp::ParseBusAddress("010204"), *mkp::ParseBusAddress("1.2.1"));  // either way round
  scan.SetTimeout(std::chrono::milliseconds(50));
  std::vector<std::string> seen;
  scan.SetOnProbe([&](const mkp::TVorelAddr& a, std::size_t index, std::size_t count) {
    seen.push_back(mkp::BusAddressHex(a) + " " + std::to_string(index) + "/" + std::to_string(count));
  });
  scan.Begin();
  while (!scan.Done()) scan.Step();
  late.join();

  EXPECT_EQ(seen, (std::vector<std::string>{"010201 0/4", "010202 1/4", "010203 2/4", "010204 3/4"}));
  EXPECT_EQ(probes.front(), "010201.0A0B0C.06.01.0100 - 09 ");
  const auto finds = scan.Finds();
  ASSERT_EQ(finds.size(), 3u);
  EXPECT_EQ(mkp::BusAddressHex(finds[0].Address), "0999FF");
  EXPECT_TRUE(finds[0].Unexpected);
  EXPECT_EQ(mkp::BusAddressHex(finds[0].Probed), "010201");
  EXPECT_EQ(mkp::BusAddressHex(finds[1].Address), "010202");
  EXPECT_FALSE(finds[1].Unexpected);
  EXPECT_LT(finds[1].LatencyMs, 50);
  EXPECT_EQ(mkp::BusAddressHex(finds[2].Address), "010203");
  EXPECT_FALSE(finds[2].Unexpected);
  EXPECT_GE(finds[2].LatencyMs, 60);  // timed from its own probe
  EXPECT_EQ(scan.Scanned(), 4u);
}

}  // namespace
