// A big capture opened in a log window, on the offscreen platform: a 200 MB
// capture of a master polling a device (the traffic of tool_redecode_big),
// made in a scratch folder that is removed afterwards. Prints the time to the
// first lines in the panes, the time to the whole file, the frames and the
// lines the panes keep, the longest wait of a 10 ms timer of the window's
// thread meanwhile (how long the window could not answer), and the memory
// (resident set) before, at its peak and after the window is closed.
//   tool_logwindow_big [MEGABYTES] [--time] [--find TEXT] [--text]
// --time: "Show time" on; --find: a filter on the decode pane while loading;
// --text: a terminal log (MKPTest.trm) of the same traffic instead.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

#include "analysis/parser.h"
#include "app/dialogs.h"
#include "app/findbar.h"
#include "app/logpanes.h"
#include "app/logwindow.h"
#include "big_traffic.h"
#include "memory.h"

using mkpbench::ResidentMiB;
using mkpbench::PeakMiB;

namespace {

class TSilentDialogs : public mkpt::TDialogs {
public:
  void Error(const QString& text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
  void Information(const QString&) override {}
  bool AskYesNo(const QString&) override { return false; }
  QString OpenFile(const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFile(const QString&, const QString&, const QString&, QString*) override { return {}; }
  bool Run(QDialog&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  double megabytes = 200;
  bool showTime = false, text = false;
  QString find;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--time") == 0) showTime = true;
    else if (std::strcmp(argv[i], "--find") == 0 && i + 1 < argc) find = argv[++i];
    else if (std::strcmp(argv[i], "--text") == 0) text = true;
    else megabytes = std::atof(argv[i]);
  }
  char folder[] = "/tmp/mkp-logwindow-big-XXXXXX";
  const std::string dir = mkdtemp(folder);
  const std::string path = dir + (text ? "/MKPTest.trm" : "/big.pcapng");
  const auto bytes = static_cast<std::uint64_t>(megabytes * 1e6);
  const std::uint64_t frames = text ? benchtraffic::WriteTerminalLog(path, bytes) : benchtraffic::WriteCapture(path, bytes);

  QApplication app(argc, argv);
  const double before = ResidentMiB();
  QElapsedTimer clock;
  clock.start();
  mkpt::TLogWindow* window = mkpt::TLogWindow::Open(QString::fromStdString(path), std::make_unique<mkp::TMKPParser>(),
                                                    std::make_shared<TSilentDialogs>(), {showTime, true}, nullptr);
  if (!find.isEmpty()) {
    window->Panes->DecodeTerminalLB->setFocus();
    window->Panes->FindBar->Open();
    window->Panes->FindBar->Field->setText(find);
    window->Panes->FindBar->FilterCB->setChecked(true);
  }
  double firstLines = -1, total = 0, longestWait = 0, lastTick = 0;
  QEventLoop loop;  // (quitting the application would close the window)
  QTimer ticks;
  ticks.setInterval(10);
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    const double now = clock.nsecsElapsed() / 1e6;
    longestWait = std::max(longestWait, now - lastTick);
    lastTick = now;
    if (firstLines < 0 && window->Panes->TerminalLB->model()->rowCount() > 0) firstLines = now;
    if (!window->Loading()) {
      total = now;
      loop.quit();
    }
  });
  ticks.start();
  loop.exec();
  const auto& terminal = window->Panes->TerminalLB->Model();
  const auto& decode = window->Panes->DecodeTerminalLB->Model();
  std::printf("log window on a %.0f MB %s (%llu %s)%s%s:\n", std::filesystem::file_size(path) / 1e6,
              text ? "terminal log" : "capture", static_cast<unsigned long long>(frames), text ? "lines" : "frames", showTime ? ", time shown" : "",
              find.isEmpty() ? "" : ", filtered while loading");
  std::printf("  first lines after %.0f ms, whole file after %.2f s; longest wait of the window's thread %.0f ms\n",
              firstLines, total / 1000.0, longestWait);
  std::printf("  panes keep %zu terminal and %zu decode lines (cap %zu); %s\n", terminal.Lines().size(),
              decode.Lines().size(), mkpt::TLogWindow::DefaultPaneCap, qPrintable(window->StatusLabel->text()));
  const double peak = PeakMiB();
  delete window;
  QCoreApplication::processEvents();  // what the window leaves to do once gone
  std::printf("  memory: %.0f MB before, peak %.0f MB, %.0f MB after the window is closed\n", before, peak,
              ResidentMiB());
  std::filesystem::remove_all(dir);
  return 0;
}
