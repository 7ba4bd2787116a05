// How exact the line times are: a peer process writes frames with known gaps
// (16, 50 and 300 ms, each timed by the peer's own clock at the write), and
// the times of the lines are compared with them, for a receive of the
// transport (as listen and the Master page use it) and for the bus monitor.
// Prints the error of the measured gaps; checks nothing.
//   tool_time_deltas [ROUNDS]
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modes/monitor.h"
#include "protocol/packet.h"
#include "protocol/transport.h"
#include "serial/comport.h"
#include "serial/pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;

class TTimes : public mkp::TLogPane {
public:
  void AddLine(const mkp::TPaneLine& record) override {
    const mkp::TLineStamp& stamp = record.Stamp;
    std::lock_guard lk(lock);
    times.push_back(stamp.Time);
  }
  std::mutex lock;
  std::vector<mkp::TMonoTime> times;
};

std::vector<std::uint8_t> Frame() {
  mkp::TPacketHolder p;
  p->DstAddr = mkp::MakeVorelAddr(0x0A, 0x0B, 0x0C);
  p->SrcAddr = mkp::MakeVorelAddr(1, 2, 3);
  p->Command = 7;
  p->DataType = 5;
  p->DataLen = 3;
  p->Data[0] = 1;
  p->Data[1] = 0xE8;
  p->Data[2] = 3;
  std::vector<std::uint8_t> frame(mkp::FrameBufferSize);
  int n = 0;
  mkp::BuildFrame(*p, frame.data(), n);
  frame.resize(static_cast<std::size_t>(n));
  return frame;
}

const int Gaps[] = {16, 50, 300};

// The peer: writes the frame, waits a gap, again; the write times go into
// shared memory (steady_clock is the same clock in both processes).
pid_t StartPeer(int fd, int rounds, Clock::time_point* written) {
  const auto frame = Frame();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto next = Clock::now();
  for (int i = 0; i <= rounds * 3; ++i) {
    std::this_thread::sleep_until(next);
    written[i] = Clock::now();
    if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) _exit(1);
    next = written[i] + std::chrono::milliseconds(Gaps[i % 3]);
  }
  _exit(0);
}

void Report(const char* what, const std::vector<mkp::TMonoTime>& got, const Clock::time_point* written, int count) {
  if (static_cast<int>(got.size()) < count) {
    std::printf("%s: only %zu of %d lines\n", what, got.size(), count);
    return;
  }
  for (int g = 0; g < 3; ++g) {
    double worst = 0, sum = 0;
    int n = 0;
    for (int i = g; i + 1 < count; i += 3) {
      const double sent = std::chrono::duration<double, std::milli>(written[i + 1] - written[i]).count();
      const double seen = std::chrono::duration<double, std::milli>(got[static_cast<std::size_t>(i) + 1] - got[static_cast<std::size_t>(i)]).count();
      worst = std::max(worst, std::fabs(seen - sent));
      sum += std::fabs(seen - sent);
      ++n;
    }
    std::printf("%-10s gap %3d ms: error mean %.3f ms, max %.3f ms (%d gaps)\n", what, Gaps[g], sum / n, worst, n);
  }
}

void Run(bool monitor, int rounds) {
  const int count = rounds * 3 + 1;
  auto* written = static_cast<Clock::time_point*>(mmap(nullptr, sizeof(Clock::time_point) * count, PROT_READ | PROT_WRITE,
                                                       MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  mkptest::TPtyPair pty;
  mkp::TCOMPortChannel channel;
  if (!channel.OpenPort(pty.Path(), "115200", "1", "none", 1, 0)) {
    std::printf("cannot open %s\n", pty.Path().c_str());
    return;
  }
  TTimes times;
  mkp::TMKProtocolTransport transport(&channel);
  transport.SetTerminalBox(&times);
  const pid_t peer = StartPeer(pty.MasterFd(), rounds, written);
  if (monitor) {
    auto worker = std::make_unique<mkp::TWorker<mkp::TBusMonitor>>();
    worker->SetTransport(&transport);
    worker->SetLines(&channel);
    worker->Start();
    waitpid(peer, nullptr, 0);
    while (worker->Frames() < static_cast<std::uint64_t>(count)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    worker.reset();
  } else {
    for (int received = 0; received < count;) {
      mkp::TPacketHolder packet;
      if (transport.ReceivePacket(*packet)) ++received;
    }
    waitpid(peer, nullptr, 0);
  }
  Report(monitor ? "monitor" : "receive", times.times, written, count);
  munmap(written, sizeof(Clock::time_point) * count);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  Run(false, rounds);
  Run(true, rounds);
  return 0;
}
