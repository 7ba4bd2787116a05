// Measures the serial channel and the transport over a pseudo-terminal pair:
// the receive latency (last byte written by the peer to ReceivePacket
// returning, ReadInterval 1 ms), the accuracy of the total read time-out
// (2 + n ms), the byte-to-byte time-out and the spacing of paced bytes.
// Prints figures; checks nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "protocol/transport.h"
#include "serial/comport.h"
#include "serial/pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct TStats {
  std::vector<double> v;
  void Add(double x) { v.push_back(x); }
  void Print(const char* what) {
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5))]; };
    double sum = 0;
    for (double x : v) sum += x;
    std::printf("%-46s n=%-4zu min %8.3f  median %8.3f  mean %8.3f  p95 %8.3f  max %8.3f ms\n", what, v.size(),
                v.front(), at(0.5), sum / v.size(), at(0.95), v.back());
  }
};

std::vector<std::uint8_t> FrameOf(int dataLen) {
  mkp::TPacketHolder p;
  p->DstAddr = mkp::MakeVorelAddr(0x0A, 0x0B, 0x0C);
  p->SrcAddr = mkp::MakeVorelAddr(1, 2, 3);
  p->Command = mkp::CmdAnswer;
  p->DataType = 1;
  p->DataLen = dataLen;
  for (int i = 0; i < dataLen; ++i) p->Data[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> frame(mkp::FrameBufferSize);
  int len = 0;
  mkp::BuildFrame(*p, frame.data(), len);
  frame.resize(static_cast<std::size_t>(len));
  return frame;
}

void ReceiveLatency(int dataLen, int rounds) {
  mkptest::TPtyPair pty;
  mkp::TCOMPortChannel channel;
  if (!channel.OpenPort(pty.Path(), "115200", "1", "none", 1, 0)) {
    std::printf("cannot open %s: %s\n", pty.Path().c_str(), channel.LastError().c_str());
    return;
  }
  mkp::TMKProtocolTransport transport(&channel);
  const auto frame = FrameOf(dataLen);
  TStats stats;
  for (int i = 0; i < rounds; ++i) {
    Clock::time_point written;
    std::thread peer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      pty.Write(frame);
      written = Clock::now();
    });
    mkp::TPacketHolder packet;
    bool ok = transport.ReceivePacket(*packet);
    auto returned = Clock::now();
    peer.join();
    if (ok) stats.Add(Ms(returned - written));
  }
  char what[96];
  std::snprintf(what, sizeof what, "receive latency, %zu-byte frame, interval 1 ms", frame.size());
  if (stats.v.empty())
    std::printf("%s: no frame received\n", what);
  else
    stats.Print(what);
}

void TotalTimeout(std::size_t n, int rounds) {
  mkptest::TPtyPair pty;
  mkp::TCOMPortChannel channel;
  channel.OpenPort(pty.Path(), "9600", "1", "none", 1, 0);
  std::vector<std::uint8_t> buf(n);
  TStats error;
  for (int i = 0; i < rounds; ++i) {
    std::size_t count = 0;
    auto t0 = Clock::now();
    channel.ReadBytes(buf.data(), n, count);
    error.Add(Ms(Clock::now() - t0) - static_cast<double>(2 + n));
  }
  char what[96];
  std::snprintf(what, sizeof what, "total time-out overrun, n=%zu (expected %zu ms)", n, 2 + n);
  error.Print(what);
}

void IntervalTimeout(int interval, int rounds) {
  mkptest::TPtyPair pty;
  mkp::TCOMPortChannel channel;
  channel.OpenPort(pty.Path(), "9600", "1", "none", interval, 0);
  std::vector<std::uint8_t> buf(2066);
  TStats error;
  for (int i = 0; i < rounds; ++i) {
    Clock::time_point written;
    std::thread peer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
      pty.Write({0x55});
      written = Clock::now();
    });
    std::size_t count = 0;
    channel.ReadBytes(buf.data(), buf.size(), count);
    auto returned = Clock::now();
    peer.join();
    error.Add(Ms(returned - written) - interval);
  }
  char what[96];
  std::snprintf(what, sizeof what, "byte-to-byte time-out overrun, interval %d ms", interval);
  error.Print(what);
}

void PacedSpacing(int interval, int bytes) {
  mkptest::TPtyPair pty;
  mkp::TCOMPortChannel channel;
  channel.OpenPort(pty.Path(), "9600", "1", "none", 1, interval);
  std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes), 0x77);
  std::size_t count = data.size();
  channel.WriteBytes(data.data(), count);
  TStats spacing;
  Clock::time_point last{};
  for (int i = 0; i < bytes; ++i) {
    if (pty.Read(1, 2000).empty()) break;
    auto now = Clock::now();
    if (i > 0) spacing.Add(Ms(now - last));
    last = now;
  }
  char what[96];
  std::snprintf(what, sizeof what, "paced byte spacing, interval %d ms", interval);
  spacing.Print(what);
}

}  // namespace

int main() {
  std::printf("Serial channel and transport over a pseudo-terminal\n");
  ReceiveLatency(0, 200);
  ReceiveLatency(1, 200);
  ReceiveLatency(2048, 50);
  TotalTimeout(1, 50);
  TotalTimeout(14, 50);
  TotalTimeout(100, 20);
  TotalTimeout(2066, 5);
  IntervalTimeout(1, 100);
  IntervalTimeout(5, 50);
  IntervalTimeout(20, 30);
  PacedSpacing(1, 100);
  PacedSpacing(10, 50);
  return 0;
}
