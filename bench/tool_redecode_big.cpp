// mkptool redecode on big files: a 200 MB capture and a 200 MB terminal log
// of the same kind of traffic (a master polling a device, now and then a long
// answer and bytes that formed no frame), made in a scratch folder that is
// removed afterwards. Prints the time and the peak memory (resident set) of
// each run: redecode reads as it prints, so the peak must not grow with the
// file.
//   tool_redecode_big [MEGABYTES]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "protocol/capture.h"
#include "protocol/packet.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The frames of the traffic, in turn: request, answer, ...
class TTraffic {
public:
  // The next frame and whether the master sent it.
  std::vector<std::uint8_t> Next(bool& sent) {
    sent = (count_++ % 2) == 0;
    mkp::TPacketHolder p;
    p->DstAddr = sent ? mkp::MakeVorelAddr(1, 2, 3) : mkp::MakeVorelAddr(10, 11, 12);
    p->SrcAddr = sent ? mkp::MakeVorelAddr(10, 11, 12) : mkp::MakeVorelAddr(1, 2, 3);
    p->Command = sent ? 6 : 7;
    p->DataType = 5;
    const int reg = 1 + static_cast<int>(random_() % 40);
    if (sent) {
      p->DataLen = 1;
      p->Data[0] = static_cast<std::uint8_t>(reg);
    } else if (random_() % 50 == 0) {
      p->DataType = 1;
      p->DataLen = 301;  // a long answer: 300 BYTE values
      for (int i = 0; i < 301; ++i) p->Data[i] = static_cast<std::uint8_t>(random_());
      p->Data[0] = static_cast<std::uint8_t>(reg);
    } else {
      p->DataLen = 3;
      p->Data[0] = static_cast<std::uint8_t>(reg);
      p->Data[1] = static_cast<std::uint8_t>(random_());
      p->Data[2] = static_cast<std::uint8_t>(random_());
    }
    std::vector<std::uint8_t> frame(mkp::FrameBufferSize);
    int n = 0;
    mkp::BuildFrame(*p, frame.data(), n);
    frame.resize(static_cast<std::size_t>(n));
    if (!sent && random_() % 200 == 0) frame.resize(frame.size() - 2);  // cut short: "Missing format"
    return frame;
  }

private:
  std::mt19937 random_{24};
  std::uint64_t count_ = 0;
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (auto b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
    text += ' ';
  }
  return text;
}

// The terminal line the transport logs for a frame.
std::string TerminalLine(const std::vector<std::uint8_t>& frame, bool sent) {
  std::vector<std::uint8_t> buffer(mkp::FrameBufferSize, 0);
  std::copy(frame.begin(), frame.end(), buffer.begin());
  mkp::TPacketHolder p;
  std::size_t length = 0;
  if (mkp::FrameStartAt(frame.data(), frame.size(), length) == mkp::TFrameStart::Frame && length == frame.size() &&
      mkp::ParseFrame(buffer.data(), *p))
    return (sent ? "-> " : "<- ") + mkp::PacketToText(*p);
  return "<- Missing format : " + Hex(frame);
}

struct TRun {
  double Seconds = 0;
  long PeakKb = 0;
  int Status = -1;
};

TRun Redecode(const std::string& file) {
  const std::string tool = MKPTOOL_PATH;
  std::vector<std::string> args{tool, "redecode", file};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  TRun run;
  if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ) != 0) return run;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.PeakKb = usage.ru_maxrss;
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 200;
  const std::uint64_t target = static_cast<std::uint64_t>(megabytes * 1e6);
  char folder[] = "/tmp/mkp-redecode-big-XXXXXX";
  const std::string dir = mkdtemp(folder);
  const std::string capturePath = dir + "/big.pcapng", logPath = dir + "/MKPTest.trm";

  std::uint64_t frames = 0;
  {
    mkp::TCaptureWriter writer;
    writer.Open(capturePath, {"/dev/ttyUSB0"});
    TTraffic traffic;
    auto time = std::chrono::system_clock::now() - std::chrono::hours(24);
    while (std::filesystem::file_size(capturePath) < target || frames % 1000 != 0) {
      bool sent = false;
      const auto frame = traffic.Next(sent);
      time += std::chrono::milliseconds(sent ? 45 : 5);
      writer.Write(1, sent, frame.data(), frame.size(), time, sent ? "0A0B0C>>010203 RD type 05 : reg 01" : "");
      ++frames;
    }
  }
  std::uint64_t lines = 0;
  {
    std::FILE* log = std::fopen(logPath.c_str(), "wb");
    TTraffic traffic;
    std::uint64_t written = 0;
    while (written < target) {
      bool sent = false;
      const std::string line = TerminalLine(traffic.Next(sent), sent) + "\r\n";
      std::fwrite(line.data(), 1, line.size(), log);
      written += line.size();
      ++lines;
    }
    std::fclose(log);
  }

  const TRun capture = Redecode(capturePath);
  const TRun text = Redecode(logPath);
  std::printf("redecode of a %.0f MB capture (%llu frames): %.2f s, peak RSS %.1f MB, exit status %d\n",
              std::filesystem::file_size(capturePath) / 1e6, static_cast<unsigned long long>(frames), capture.Seconds,
              capture.PeakKb / 1024.0, capture.Status);
  std::printf("redecode of a %.0f MB terminal log (%llu lines): %.2f s, peak RSS %.1f MB, exit status %d\n",
              std::filesystem::file_size(logPath) / 1e6, static_cast<unsigned long long>(lines), text.Seconds,
              text.PeakKb / 1024.0, text.Status);
  std::filesystem::remove_all(dir);
  return 0;
}
