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

#include "big_traffic.h"
#include "protocol/capture.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

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

  const std::uint64_t frames = benchtraffic::WriteCapture(capturePath, target);
  const std::uint64_t lines = benchtraffic::WriteTerminalLog(logPath, target);

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
