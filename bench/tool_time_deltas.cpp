// How exact the line times are: a peer process writes frames with known gaps
// (16, 50 and 300 ms, each timed by the peer's own clock at the write), and
// the times of the lines are compared with them, for a receive of the
// transport (as listen and the Master page use it) and for the bus monitor.
// Then a peer answers each request after a known delay (20 ms, timed by the
// peer), and the answer times are compared with it: the Master page's
// exchange with Receive pressed 0.8 s after Send, and the registers
// automaton (the Registers page and mkptool poll).
// Prints the errors; checks nothing.
//   tool_time_deltas [ROUNDS]
#include <poll.h>
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

#include "analysis/parser.h"
#include "modes/device.h"
#include "modes/monitor.h"
#include "modes/registers.h"
#include "modes/registers_table.h"
#include "modes/regstats.h"
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

constexpr auto AnswerDelay = std::chrono::milliseconds(20);

// The answering peer: each frame that arrives (a silence of 2 ms ends it) is
// answered AnswerDelay after its last byte came; the delay it really kept
// goes into shared memory.
pid_t StartAnswerer(int fd, int count, double* kept) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const auto answer = Frame();
  std::vector<std::uint8_t> got;
  for (int i = 0; i < count;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, got.empty() ? 1000 : 2) > 0) {
      std::uint8_t buffer[512];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) got.insert(got.end(), buffer, buffer + n);
      continue;
    }
    if (got.empty()) continue;
    got.clear();
    // The request's last byte came 2 ms ago (the silence that ended it).
    const auto arrived = Clock::now() - std::chrono::milliseconds(2);
    std::this_thread::sleep_until(arrived + AnswerDelay);
    const auto at = Clock::now();
    if (::write(fd, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size())) _exit(1);
    kept[i++] = std::chrono::duration<double, std::milli>(at - arrived).count();
  }
  _exit(0);
}

void ReportAnswers(const char* what, const std::vector<double>& measured, const double* kept) {
  double worst = 0, sum = 0;
  for (std::size_t i = 0; i < measured.size(); ++i) {
    const double error = measured[i] - kept[i];
    worst = std::max(worst, std::fabs(error));
    sum += std::fabs(error);
  }
  double mean = 0;
  for (double m : measured) mean += m;
  std::printf("%-10s answer after %.0f ms: measured mean %.2f ms, error mean %.3f ms, max %.3f ms (%zu answers)\n",
              what, std::chrono::duration<double, std::milli>(AnswerDelay).count(),
              measured.empty() ? 0 : mean / static_cast<double>(measured.size()),
              measured.empty() ? 0 : sum / static_cast<double>(measured.size()), worst, measured.size());
}

class TAnswerTimes : public mkp::TLogPane {
public:
  void AddLine(const mkp::TPaneLine& record) override {
    std::lock_guard lk(lock);
    if (record.Shown.AnswerAfterMs) times.push_back(*record.Shown.AnswerAfterMs);
  }
  std::mutex lock;
  std::vector<double> times;
};

void RunAnswers(bool registers, int count) {
  auto* kept = static_cast<double*>(
      mmap(nullptr, sizeof(double) * count, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  mkptest::TPtyPair pty;
  mkp::TCOMPortChannel channel;
  if (!channel.OpenPort(pty.Path(), "115200", "1", "none", 1, 0)) {
    std::printf("cannot open %s\n", pty.Path().c_str());
    return;
  }
  mkp::TMKPParser parser;
  TAnswerTimes decode;
  mkp::TMKProtocolTransport transport(&channel);
  transport.SetParser(&parser);
  transport.SetDecodeBox(&decode);
  transport.DecodeEnabled = true;
  const pid_t peer = StartAnswerer(pty.MasterFd(), count, kept);
  mkp::TPacketHolder request;
  mkp::TextToPacket("010203.0A0B0C.06.05.0100 - 01", *request);
  std::vector<double> measured;
  if (registers) {
    mkp::TDeviceModel model;
    model.Requests.AddText("010203.0A0B0C.06.05.0100 - 01");
    model.RequestRows.AddText("");
    model.RequestSaves.AddText("");
    mkp::TRegistersTable table;
    mkp::TRegistersStats stats;
    auto automat = mkp::MakeRegistersAutomat(transport, parser, table, model, "", &stats);
    std::mutex lock;
    automat->SetOnCycle([&] {
      std::lock_guard lk(lock);
      if (const auto last = stats.Snapshot().at(0).LastMs) measured.push_back(*last);
    });
    automat->Start();
    for (;;) {
      {
        std::lock_guard lk(lock);
        if (static_cast<int>(measured.size()) >= count) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    automat->Terminate();
    automat->WaitFor();
    measured.resize(static_cast<std::size_t>(count));
  } else {
    for (int i = 0; i < count; ++i) {
      mkp::TPacketHolder reply;
      transport.SendPacket(*request);
      std::this_thread::sleep_for(std::chrono::milliseconds(800));  // Receive pressed late
      transport.ReceivePacket(*reply);
    }
    std::lock_guard lk(decode.lock);
    measured = decode.times;
  }
  waitpid(peer, nullptr, 0);
  ReportAnswers(registers ? "registers" : "master", measured, kept);
  munmap(kept, sizeof(double) * count);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  Run(false, rounds);
  Run(true, rounds);
  RunAnswers(false, std::max(1, rounds / 2));
  RunAnswers(true, rounds);
  return 0;
}
