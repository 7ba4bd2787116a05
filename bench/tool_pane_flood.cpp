// Pane flood: a worker adds lines to both panes as fast as it can while the
// window runs on the offscreen platform. Prints the lines per second the panes
// took, the lines lost, the delay of events posted to the window's thread
// meanwhile (p50, p99, max) and the peak memory. With --time, the panes show
// each line's time ("Show time" on) and the lines carry their times.
//   tool_pane_flood [SECONDS] [--time]
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "app/mainform.h"

namespace {

class TSilentDialogs : public mkpt::TDialogs {
public:
  void Error(const QString&) override {}
  void Information(const QString&) override {}
  bool AskYesNo(const QString&) override { return false; }
  QString OpenFile(const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFile(const QString&, const QString&, const QString&) override { return {}; }
  bool Run(QDialog&) override { return false; }
};

using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  double seconds = 10.0;
  bool showTime = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--time")
      showTime = true;
    else
      seconds = std::atof(argv[i]);
  }
  QApplication app(argc, argv);
  QTemporaryDir dir;
  QDir::setCurrent(dir.path());  // no mkpt.ini: the default port, which may not open
  mkpt::TMainForm window(std::make_shared<TSilentDialogs>());
  window.show();
  window.RunOperation(mkpt::opToggleAutoscroll);  // the costlier case: every batch scrolls
  if (showTime) window.RunOperation(mkpt::opToggleShowTime);

  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> made{0};
  std::mutex delaysLock;
  std::vector<double> delays;  // ms

  std::thread worker([&] {
    char line[160];
    std::uint64_t n = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      std::snprintf(line, sizeof line, "<- 010203.0A0B0C.07.05.0300 - 01 E8 03  line %llu",
                    static_cast<unsigned long long>(n));
      window.Transport.AddTerminalLine(line);
      window.Transport.AddDecodeLine(line);
      made.fetch_add(2, std::memory_order_relaxed);
      ++n;
    }
  });
  // Events posted to the window's thread every 10 ms; their delay shows how
  // the flood holds up the rest of the window (timers, input, painting).
  std::thread prober([&] {
    while (!stop.load()) {
      const auto posted = Clock::now();
      QMetaObject::invokeMethod(
          &window,
          [posted, &delays, &delaysLock] {
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - posted).count();
            std::lock_guard lk(delaysLock);
            delays.push_back(ms);
          },
          Qt::QueuedConnection);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const auto start = Clock::now();
  QTimer::singleShot(static_cast<int>(seconds * 1000), [&] {
    stop = true;
    worker.join();
    prober.join();
    window.DrainPanes();
    app.quit();
  });
  app.exec();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  const std::uint64_t taken = window.TerminalLB->Model().Taken() + window.DecodeTerminalLB->Model().Taken();
  const std::uint64_t produced = made.load();
  std::sort(delays.begin(), delays.end());
  auto at = [&](double q) { return delays.empty() ? 0.0 : delays[static_cast<std::size_t>(q * (delays.size() - 1))]; };
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("pane flood, %.1f s, both panes, autoscroll on, time %s\n", elapsed, showTime ? "shown" : "not shown");
  std::printf("  lines taken:  %llu (%.0f lines/s)\n", static_cast<unsigned long long>(taken), taken / elapsed);
  std::printf("  lines lost:   %llu\n", static_cast<unsigned long long>(produced - taken));
  std::printf("  lines held:   %d + %d (cap %zu each)\n", window.TerminalLB->Model().rowCount(),
              window.DecodeTerminalLB->Model().rowCount(), mkp::MaxPaneLines + 1);
  std::printf("  event delay:  p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu events)\n", at(0.5), at(0.99),
              delays.empty() ? 0.0 : delays.back(), delays.size());
  std::printf("  peak memory:  %.1f MiB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
