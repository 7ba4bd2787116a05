// Pane flood: a worker adds lines to both panes as fast as it can while the
// window runs on the offscreen platform. Prints the lines per second the panes
// took, the lines lost, the delay of events posted to the window's thread
// meanwhile (p50, p99, max), the CPU time the window's thread spent per
// second in the flood and in 4 s without it after (which load from other
// programs does not change) and the peak memory. With --time, the panes show
// each line's time ("Show time" on). With --plot, the Registers page's plot
// window is open on 8 registers whose values come at a 10 Hz poll, after a day
// of them at that rate (the history bounded); the memory is told before and
// after that day is added, and what a refresh, a new span and painting cost.
//   tool_pane_flood [SECONDS] [--time] [--plot]
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
#include "app/panes.h"
#include "app/registersplot.h"
#include "app/registerspage.h"
#include <QChartView>
#include "modes/registers_table.h"
#include "memory.h"
#include <cstring>
#include <time.h>
#include <unistd.h>

using mkpbench::ResidentMiB;

namespace {

class TSilentDialogs : public mkpt::TDialogs {
public:
  void Error(const QString&) override {}
  void Information(const QString&) override {}
  bool AskYesNo(const QString&) override { return false; }
  QString OpenFile(const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFile(const QString&, const QString&, const QString&, QString*) override { return {}; }
  bool Run(QDialog&) override { return false; }
};

using Clock = std::chrono::steady_clock;

// The CPU time of the calling thread.
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  double seconds = 10.0;
  bool showTime = false;
  bool plot = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--plot") == 0) plot = true;
    else if (std::strcmp(argv[i], "--time") == 0) showTime = true;
    else seconds = std::atof(argv[i]);
  }
  QApplication app(argc, argv);
  QTemporaryDir dir;
  QDir::setCurrent(dir.path());  // no mkpt.ini: the default port, which may not open
  mkpt::TMainForm window(std::make_shared<TSilentDialogs>());
  window.show();
  window.RunOperation(mkpt::opToggleAutoscroll);  // the costlier case: every batch scrolls
  if (showTime) window.RunOperation(mkpt::opToggleShowTime);

  std::atomic<bool> stop{false}, pollerStop{false};
  std::thread poller;
  double memoryBefore = 0, memoryAfterDay = 0;
  constexpr int Registers = 8;
  if (plot) {
    mkpt::TRegistersPage& page = *window.RegistersPage;
    window.RegistersPage->Rows.SetRowCount(Registers);
    for (int row = 1; row <= Registers; ++row) {
      window.RegistersPage->Rows.SetCell(row, 0, "Register " + std::to_string(row));
      page.History.Choose(row, true);
    }
    memoryBefore = ResidentMiB();
    // A day at 10 Hz, ending now.
    const double now = mkp::WallClockMs();
    constexpr int DayPoints = 24 * 3600 * 10;
    for (int i = 0; i < DayPoints; ++i) {
      const double t = now - (DayPoints - i) * 100.0;
      for (int row = 1; row <= Registers; ++row)
        page.History.Add(row, std::to_string(1000 + (i + row) % 500), t, static_cast<std::uint64_t>(i));
    }
    memoryAfterDay = ResidentMiB();
    page.ShowPlot();
    // The automaton's feed: every register once per 100 ms cycle.
    poller = std::thread([&page, &pollerStop] {
      std::uint64_t cycle = 0;
      while (!pollerStop.load()) {
        ++cycle;
        for (int row = 1; row <= Registers; ++row)
          page.History.Add(row, std::to_string(1000 + (cycle * row) % 500), mkp::WallClockMs(), cycle);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
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
  const double windowCpuStart = ThreadCpuMs();  // the window's thread: this one
  int runRebuilds = 0;
  double elapsed = 0, windowCpuMs = 0, quietCpuMs = 0;
  QTimer::singleShot(static_cast<int>(seconds * 1000), [&] {
    if (plot) runRebuilds = window.RegistersPage->Plot->Rebuilds;
    stop = true;
    worker.join();
    prober.join();
    window.DrainPanes();
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    windowCpuMs = ThreadCpuMs() - windowCpuStart;
    // Then 4 s without the flood: what the window's thread spends on its own
    // (with --plot, the plot kept up to date as the poll goes on).
    const double quietStart = ThreadCpuMs();
    QTimer::singleShot(4000, [&, quietStart] {
      quietCpuMs = (ThreadCpuMs() - quietStart) / 4;
      pollerStop = true;
      if (poller.joinable()) poller.join();
      app.quit();
    });
  });
  app.exec();

  const std::uint64_t taken = window.TerminalLB->Model().Taken() + window.DecodeTerminalLB->Model().Taken();
  const std::uint64_t produced = made.load();
  std::sort(delays.begin(), delays.end());
  auto at = [&](double q) { return delays.empty() ? 0.0 : delays[static_cast<std::size_t>(q * (delays.size() - 1))]; };
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("pane flood, %.1f s, both panes, autoscroll on, time %s%s\n", elapsed,
              showTime ? "shown" : "not shown", plot ? ", plot of 8 registers at a 10 Hz poll" : "");
  if (plot) {
    // What the plot costs the window's thread: a refresh, which appends what
    // the history gained; reading the lines anew, as a change of the time
    // span does; and painting them.
    mkpt::TRegistersPlot& view = *window.RegistersPage->Plot;
    mkpt::TRegistersPage& page = *window.RegistersPage;
    double refreshMs = 0;
    for (int i = 0; i < 20; ++i) {  // a new value of every register before each refresh, as the poll brings them
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      for (int row = 1; row <= Registers; ++row)
        page.History.Add(row, std::to_string(1000 + (i * row) % 500), mkp::WallClockMs(), 1000000 + i);
      const auto refreshStart = Clock::now();
      view.Redraw();
      refreshMs += std::chrono::duration<double, std::milli>(Clock::now() - refreshStart).count() / 20;
    }
    const auto rebuildStart = Clock::now();
    for (int i = 0; i < 20; ++i) view.SetSpanIndex(i % 2);  // 10 s and 60 s in turn
    const double rebuildMs = std::chrono::duration<double, std::milli>(Clock::now() - rebuildStart).count() / 20;
    const auto paintStart = Clock::now();
    for (int i = 0; i < 20; ++i) view.ChartView->grab();
    const double paintMs = std::chrono::duration<double, std::milli>(Clock::now() - paintStart).count() / 20;
    std::printf("  plot refresh: %.2f ms to bring 8 lines up to date (every 500 ms; read anew %d times in the run),\n"
                "                %.2f ms to read them anew (a new span), %.2f ms to paint them\n",
                refreshMs, runRebuilds, rebuildMs, paintMs);
    std::printf("  plot history: %zu points per register after a day and the run (limit %zu)\n",
                window.RegistersPage->History.Count(1), mkp::TValueHistory::DefaultLimit);
    std::printf("  memory:       %.1f MiB before the day of values, %.1f MiB after, %.1f MiB at the end\n",
                memoryBefore, memoryAfterDay, ResidentMiB());
  }
  std::printf("  lines taken:  %llu (%.0f lines/s)\n", static_cast<unsigned long long>(taken), taken / elapsed);
  std::printf("  lines lost:   %llu\n", static_cast<unsigned long long>(produced - taken));
  std::printf("  lines held:   %d + %d (cap %zu each)\n", window.TerminalLB->Model().rowCount(),
              window.DecodeTerminalLB->Model().rowCount(), mkp::MaxPaneLines + 1);
  std::printf("  event delay:  p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu events)\n", at(0.5), at(0.99),
              delays.empty() ? 0.0 : delays.back(), delays.size());
  std::printf("  window thread: %.0f ms of CPU per second in the flood, %.1f ms per second without it\n",
              windowCpuMs / elapsed, quietCpuMs);
  std::printf("  peak memory:  %.1f MiB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
