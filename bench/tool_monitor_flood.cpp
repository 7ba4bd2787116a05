// The bus monitor on a busy line: a peer process writes 20,000 frames of mixed
// sizes back to back, with no gap, in chunks of random size, to a
// pseudo-terminal that the monitor reads (both panes decoded, as the window
// does). Paced at 921600 baud (92160 bytes/s) and then as fast as the
// pseudo-terminal takes them. Prints the frames per second, the monitor's CPU
// time per frame, and what was lost, merged or logged as "Missing format".
// With --pcap every frame also goes to a capture in a scratch folder (as
// `mkptool monitor --pcap` does), which is read back and counted.
//   tool_monitor_flood [FRAMES] [--pcap]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analysis/parser.h"
#include "modes/monitor.h"
#include "protocol/capture.h"
#include "protocol/packet.h"
#include "protocol/transport.h"
#include "serial/comport.h"
#include "serial/pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;

// Frame i: a data block of a size drawn from 0..300 whose first two bytes
// carry i, so the order can be checked.
std::vector<std::uint8_t> StreamOf(int frames, std::vector<std::size_t>& sizes) {
  std::mt19937 random(20000);
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < frames; ++i) {
    mkp::TPacketHolder p;
    p->DstAddr = mkp::MakeVorelAddr(0x0A, 0x0B, 0x0C);
    p->SrcAddr = mkp::MakeVorelAddr(1, 2, 3);
    p->Command = 7;
    p->DataType = 1;
    const int length = random() % 4 == 0 ? 0 : 2 + static_cast<int>(random() % 299);
    p->DataLen = length;
    for (int k = 0; k < length; ++k) p->Data[k] = static_cast<std::uint8_t>(random());
    if (length >= 2) {
      p->Data[0] = static_cast<std::uint8_t>(i);
      p->Data[1] = static_cast<std::uint8_t>(i >> 8);
    }
    std::vector<std::uint8_t> frame(mkp::FrameBufferSize);
    int n = 0;
    mkp::BuildFrame(*p, frame.data(), n);
    stream.insert(stream.end(), frame.begin(), frame.begin() + n);
    sizes.push_back(static_cast<std::size_t>(n));
  }
  return stream;
}

// Counts the lines; keeps nothing.
class TCountingPane : public mkp::TLogPane {
public:
  void AddLine(const mkp::TPaneLine& record) override {
    const std::string& line = record.Text;
    if (line.rfind("<- Missing format", 0) == 0) ++missing;
    ++lines;
  }
  std::atomic<std::uint64_t> lines{0}, missing{0};
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Run(int frames, double bytesPerSecond, bool pcap) {
  std::vector<std::size_t> sizes;
  const auto stream = StreamOf(frames, sizes);
  mkptest::TPtyPair pty;
  mkp::TCOMPortChannel channel;
  if (!channel.OpenPort(pty.Path(), "921600", "1", "none", 1, 0)) {
    std::printf("cannot open %s: %s\n", pty.Path().c_str(), channel.LastError().c_str());
    return;
  }
  mkp::TMKPParser parser;
  parser.AnalyzeMaster = parser.AnalyzeSlave = true;
  TCountingPane terminal, decode;
  mkp::TMKProtocolTransport transport(&channel);
  transport.SetTerminalBox(&terminal);
  transport.SetDecodeBox(&decode);
  transport.SetParser(&parser);
  transport.DecodeEnabled = true;
  char folder[] = "/tmp/mkp-flood-XXXXXX";
  const std::string capturePath = pcap ? std::string(mkdtemp(folder)) + "/flood.pcapng" : std::string();
  mkp::TCaptureWriter capture;
  if (pcap) {
    capture.Open(capturePath, {pty.Path()});
    transport.SetFrameTap(&capture);
  }

  std::mutex lock;
  std::vector<std::size_t> seen;  // frame lengths in order
  int outOfOrder = 0;
  int lastNumber = -1;
  auto monitor = std::make_unique<mkp::TWorker<mkp::TBusMonitor>>();
  monitor->SetTransport(&transport);
  monitor->SetLines(&channel);
  monitor->SetOnPiece([&](int, const mkp::TBusPiece& piece, const mkp::TMKPPacket* packet) {
    if (packet == nullptr) return;
    std::lock_guard lk(lock);
    seen.push_back(piece.Bytes.size());
    if (packet->DataLen >= 2) {
      const int number = packet->Data[0] | packet->Data[1] << 8;
      if (number <= lastNumber) ++outOfOrder;
      lastNumber = number;
    }
  });
  monitor->Start();

  const double cpu0 = CpuSeconds();
  const auto start = Clock::now();
  // The peer is a process of its own, so the CPU time measured here is the
  // monitor's.
  const pid_t writer = fork();
  if (writer == 0) {
    std::mt19937 random(7);
    const auto begin = Clock::now();
    std::size_t at = 0;
    while (at < stream.size()) {
      const std::size_t n = std::min<std::size_t>(1 + random() % 600, stream.size() - at);
      if (bytesPerSecond > 0) {
        const auto due = begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(at / bytesPerSecond));
        std::this_thread::sleep_until(due);
      }
      // No allocation in the child of a process with threads: plain writes.
      std::size_t done = 0;
      while (done < n) {
        const ssize_t r = ::write(pty.MasterFd(), stream.data() + at + done, n - done);
        if (r <= 0) _exit(1);
        done += static_cast<std::size_t>(r);
      }
      at += n;
    }
    _exit(0);
  }
  int status = 0;
  waitpid(writer, &status, 0);
  // Wait for the last frame, or give up when nothing more comes.
  std::uint64_t before = 0;
  auto quiet = Clock::now();
  while (monitor->Frames() + monitor->BadReads() < static_cast<std::uint64_t>(frames)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::uint64_t now = monitor->Frames() + monitor->BadReads();
    if (now != before) {
      before = now;
      quiet = Clock::now();
    } else if (Clock::now() - quiet > std::chrono::seconds(3)) {
      break;
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = CpuSeconds() - cpu0;
  monitor->Terminate();
  monitor->WaitFor();

  std::size_t merged = 0;
  {
    std::lock_guard lk(lock);
    for (std::size_t i = 0; i < seen.size() && i < sizes.size(); ++i)
      if (seen[i] != sizes[i]) ++merged;
  }
  const std::uint64_t got = monitor->Frames();
  std::printf("%s: %d frames, %zu bytes in %.2f s\n",
              bytesPerSecond > 0 ? "paced at 921600 baud" : "as fast as the pseudo-terminal takes", frames,
              stream.size(), elapsed);
  std::printf("  frames logged      %llu (lost %lld, out of order %d, length mismatches %zu)\n",
              static_cast<unsigned long long>(got), static_cast<long long>(frames) - static_cast<long long>(got),
              outOfOrder, merged);
  std::printf("  Missing format     %llu lines\n", static_cast<unsigned long long>(terminal.missing.load()));
  std::printf("  frames per second  %.0f\n", got / elapsed);
  std::printf("  CPU per frame      %.2f us (monitor, decode included%s)\n", got ? cpu / got * 1e6 : 0.0,
              pcap ? ", capture included" : "");
  if (pcap) {
    transport.SetFrameTap(nullptr);
    capture.Close();
    mkp::TCaptureReader reader;
    reader.Open(capturePath);
    mkp::TCapturedFrame frame;
    std::uint64_t captured = 0, good = 0;
    while (reader.Next(frame) == mkp::TCaptureReader::TStep::Frame) {
      ++captured;
      std::size_t length = 0;
      if (mkp::FrameStartAt(frame.Bytes.data(), frame.Bytes.size(), length) == mkp::TFrameStart::Frame &&
          length == frame.Bytes.size())
        ++good;
    }
    std::printf("  capture            %llu blocks, %llu whole frames (lost %lld)%s%s\n",
                static_cast<unsigned long long>(captured), static_cast<unsigned long long>(good),
                static_cast<long long>(frames) - static_cast<long long>(good), capture.Failed() ? ", " : "",
                capture.Failed() ? capture.Error().c_str() : "");
    std::filesystem::remove_all(std::filesystem::path(capturePath).parent_path());
  }
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  int frames = 20000;
  bool pcap = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--pcap") pcap = true;
    else frames = std::atoi(argv[i]);
  }
  Run(frames, 92160.0, pcap);
  Run(frames, 0, pcap);
  return 0;
}
