// The Registers page's statistics table, status totals and plot window on the
// offscreen platform, against a device on the far side of a pseudo-terminal.
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <sstream>

#include "app/window_fixture.h"
#include "app/mainform.h"
#include "app/registersplot.h"
#include "app/registerspage.h"
#include "modes/registers_peer.h"
#include "serial/pty_pair.h"

using namespace mkpt;

namespace {

using TQuietDialogs = mkptest::TAnsweringDialogs;
using mkptest::ReadFile;
using mkptest::WriteFile;

}  // namespace

class RegistersPageTest : public QObject {
  Q_OBJECT

private:
  QTemporaryDir dir_;
  QString previous_;
  std::shared_ptr<TQuietDialogs> dialogs_;
  std::unique_ptr<mkptest::TPtyPair> pty_;
  std::unique_ptr<mkptest::TRegistersPeer> device_;
  int counter_ = 1000;
  int levelReads_ = 0;

  // The window in Registers mode with a device of two WORD registers, the
  // second one answered with a wrong type on every third read.
  std::unique_ptr<TMainForm> RegistersWindow() {
    WriteFile(dir_.filePath("pump.rst"),
              "{Counter} #1#\r\n{Name} #2#\r\n{Level, m} #3#\r\n"
              "<010203.0A0B0C.06.05.0100 - 01> [1]\r\n"
              "<010203.0A0B0C.06.03.0100 - 02> [2]\r\n"
              "<010203.0A0B0C.06.05.0100 - 03> [3]\r\n"
              "@@ OneStepDelay = 0\r\n@@ OneCycleDelay = 0\r\n");
    device_ = std::make_unique<mkptest::TRegistersPeer>(*pty_, [this](const mkptest::TSeenPacket& seen, int) {
      char text[80];
      if (seen.First == 1) {
        const int v = counter_++;
        std::snprintf(text, sizeof text, "0A0B0C.010203.07.05.0300 - 01 %02X %02X", v & 0xFF, (v >> 8) & 0xFF);
        return std::vector<std::string>{text};
      }
      if (seen.First == 2) return std::vector<std::string>{"0A0B0C.010203.07.03.0400 - 02 41 42 43"};
      if (++levelReads_ % 3 == 1) return std::vector<std::string>{"0A0B0C.010203.07.0B.0300 - 03 05 00"};
      return std::vector<std::string>{"0A0B0C.010203.07.05.0300 - 03 05 00"};
    });
    device_->GapMs = 0;
    auto w = std::make_unique<TMainForm>(dialogs_);
    w->Arguments = QStringList{"/REG", dir_.filePath("pump.rst")};
    w->resize(1022, 653);
    w->show();
    return w;
  }

private slots:
  void init() {
    previous_ = QDir::currentPath();
    QVERIFY(dir_.isValid());
    QDir::setCurrent(dir_.path());
    dialogs_ = std::make_shared<TQuietDialogs>();
    pty_ = std::make_unique<mkptest::TPtyPair>();
    counter_ = 1000;
    levelReads_ = 0;
    WriteFile("mkpt.ini", "PortNumber=" + pty_->Path() +
                              "\r\nTransferRate=9600\r\nStopBits=1\r\nParity=NONE\r\n"
                              "ReadIntervalTimeout=1\r\nWriteIntervalTimeout=0\r\n");
  }
  void cleanup() {
    device_.reset();
    QDir::setCurrent(previous_);
  }

  void StatisticsTableCountsEachRequestAndResets() {
    auto w = RegistersWindow();
    QTRY_COMPARE_WITH_TIMEOUT(w->CurrentMode, wmRegisters, 5000);
    TRegistersPage& page = *w->RegistersPage;
    QAbstractItemModel* stats = page.StatisticsTable->model();
    QTRY_COMPARE_WITH_TIMEOUT(stats->rowCount(), 3, 5000);
    QCOMPARE(stats->headerData(5, Qt::Horizontal).toString(), QString("Wrong answer"));
    QCOMPARE(stats->index(0, 0).data().toString(), QString("010203.0A0B0C.06.05.0100 - 01"));
    // The table follows the engine's figures with the status bar, each second.
    QTRY_VERIFY_WITH_TIMEOUT(stats->index(2, 5).data().toInt() >= 1, 15000);
    const auto rows = page.Stats.Snapshot();
    QCOMPARE(rows[2].WrongAnswer + rows[2].Answered, rows[2].Sent);
    QVERIFY(stats->index(0, 2).data().toInt() >= 1);
    QVERIFY(stats->index(0, 8).data().toString().contains('.'));  // mean, ms
    QCOMPARE(stats->index(1, 7).data().toString().isEmpty(), false);
    QTRY_VERIFY_WITH_TIMEOUT(w->StatusPanels[3]->text().startsWith(" pump  "), 3000);
    QVERIFY(w->StatusPanels[3]->text().contains(" sent, "));
    QVERIFY(w->StatusPanels[3]->text().endsWith(" answered"));

    QTest::mouseClick(page.ResetStatsBtn, Qt::LeftButton);
    QVERIFY(page.Stats.Totals().Sent <= 1);  // one step may end meanwhile
    QVERIFY(stats->index(2, 5).data().toInt() <= 1);
    // Geometry: the statistics under the grid, the new buttons under Transmit,
    // all inside the page.
    QVERIFY(page.StatisticsTable->geometry().top() > page.RegistersTable->geometry().bottom());
    QCOMPARE(page.StatisticsTable->geometry().left(), page.RegistersTable->geometry().left());
    QVERIFY(page.ResetStatsBtn->geometry().top() > w->RegistersPage->RegistersBtns[1]->geometry().bottom());
    const QRect pageArea = w->TabSheets[2]->rect();
    for (QWidget* widget : {static_cast<QWidget*>(page.StatisticsTable), static_cast<QWidget*>(page.PlotBtn)})
      QVERIFY(pageArea.contains(widget->geometry()));
  }

  void PlotDrawsChosenNumericRegistersAndExports() {
    auto w = RegistersWindow();
    QTRY_COMPARE_WITH_TIMEOUT(w->CurrentMode, wmRegisters, 5000);
    TRegistersPage& page = *w->RegistersPage;
    const QAbstractItemModel* grid = page.RegistersTable->model();
    QTRY_COMPARE_WITH_TIMEOUT(grid->index(1, 1).data().toString(), QString("ABC"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!grid->index(0, 1).data().toString().isEmpty(), 10000);
    QVERIFY(!page.CanPlot(2));  // text: not offered
    QVERIFY(!page.SetPlotted(2, true));
    QVERIFY(page.SetPlotted(1, true));
    QTRY_VERIFY_WITH_TIMEOUT(!grid->index(2, 1).data().toString().isEmpty(), 10000);
    QVERIFY(page.SetPlotted(3, true));

    QTest::mouseClick(page.PlotBtn, Qt::LeftButton);
    TRegistersPlot& plot = *page.Plot;
    QVERIFY(plot.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(plot.Series[0]->count() >= 3, 10000);
    QCOMPARE(plot.Series[0]->name(), QString("Counter"));
    QCOMPARE(plot.Series[1]->name(), QString("Level, m"));
    QVERIFY(!plot.Series[2]->isVisible());
    QCOMPARE(plot.SpanBox->currentText(), QString("60 s"));
    // The counter rises by one each read.
    const QPointF a = plot.Series[0]->at(0), b = plot.Series[0]->at(1);
    QCOMPARE(b.y() - a.y(), 1.0);
    QVERIFY(b.x() > a.x());

    // Pause: the view stays while the history grows.
    QTest::mouseClick(plot.PauseBtn, Qt::LeftButton);
    QVERIFY(page.History.Paused());
    const int frozen = plot.Series[0]->count();
    const std::size_t before = page.History.Count(1);
    QTRY_VERIFY_WITH_TIMEOUT(page.History.Count(1) > before + 2, 10000);
    plot.Redraw();
    QVERIFY(plot.Series[0]->count() <= frozen + 1);  // at most the one point past the edge
    QTest::mouseClick(plot.PauseBtn, Qt::LeftButton);
    QVERIFY(!page.History.Paused());

    // Export: the history as CSV (one row per cycle), the view as PNG.
    dialogs_->FileToSave = dir_.filePath("plot.csv");
    QTest::mouseClick(plot.ExportBtn, Qt::LeftButton);
    const std::string csv = ReadFile(dir_.filePath("plot.csv"));
    QVERIFY2(csv.rfind("time,Counter,\"Level, m\"\r\n", 0) == 0, csv.c_str());
    QVERIFY(csv.find(",5\r\n") != std::string::npos);
    dialogs_->FileToSave = dir_.filePath("plot.png");
    QTest::mouseClick(plot.ExportBtn, Qt::LeftButton);
    QVERIFY(dialogs_->Errors.isEmpty());
    QImage picture(dir_.filePath("plot.png"));
    QVERIFY(!picture.isNull() && picture.width() > 100);

    // Taken off the plot; a new device lets every register go.
    QVERIFY(page.SetPlotted(1, false));
    plot.Redraw();
    QCOMPARE(plot.Series[0]->name(), QString("Level, m"));
    dialogs_->FileToOpen = dir_.filePath("pump.rst");
    w->RegistersPage->CmdLineDeviceGiven = false;
    w->RunOperation(opSelectDevice);
    QVERIFY(page.History.Chosen().empty());
  }
};

QTEST_MAIN(RegistersPageTest)
#include "registers_window_test.moc"
