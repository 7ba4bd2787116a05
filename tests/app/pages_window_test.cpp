// The pages as a user meets them, on the offscreen platform: what a screen
// reader reads of the values, the find bar's Escape, the parse table in every
// mode, the monitor's second port in the status bar, speeds above 115200, the
// plot's hints, export and refresh, and captions with a larger font.
#include <QAccessible>
#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

#include "app/mainform.h"
#include "app/portframe.h"
#include "app/registersplot.h"
#include "app/window_fixture.h"
#include "serial/pty_pair.h"

using namespace mkpt;
using mkptest::FrameOf;
using mkptest::ReadFile;
using mkptest::WriteFile;

namespace {

QString Read(QObject* control, QAccessible::Text what) {
  QAccessibleInterface* it = QAccessible::queryAccessibleInterface(control);
  return it ? it->text(what) : QString("(no interface)");
}

// The captions a screen reader gives a control: the labels related to it.
QStringList LabelsOf(QWidget* control) {
  QStringList labels;
  for (const auto& [label, relation] :
       QAccessible::queryAccessibleInterface(control)->relations(QAccessible::Label))
    labels << label->text(QAccessible::Name);
  return labels;
}

}  // namespace

class PagesWindowTest : public QObject {
  Q_OBJECT

private:
  mkptest::TWindowScratch scratch_;
  QTemporaryDir& dir_ = scratch_.Dir;
  std::shared_ptr<mkptest::TAnsweringDialogs>& dialogs_ = scratch_.Dialogs;
  std::unique_ptr<mkptest::TPtyPair>& pty_ = scratch_.Pty;

  std::unique_ptr<TMainForm> Window() {
    auto w = std::make_unique<TMainForm>(dialogs_);
    w->resize(1022, 653);
    w->show();
    return w;
  }

private slots:
  void init() { QVERIFY(scratch_.Enter()); }
  void cleanup() { scratch_.Leave(); }

  void AScreenReaderReadsEachValueWithItsCaption() {
    auto w = Window();
    TMasterPage& master = *w->MasterPage;
    master.HdrTextLE->setText("0A0B0C 010203 06 01 0100");
    // The checksums: the value is the name, the caption its description.
    QCOMPARE(Read(master.HdrCSPanel, QAccessible::Name), master.HdrCSPanel->text());
    QVERIFY(master.HdrCSPanel->text() != "FF FF FF FF");
    QCOMPARE(Read(master.HdrCSPanel, QAccessible::Description), QString("Header checksum"));
    QCOMPARE(Read(master.BodyCSPanel, QAccessible::Name), QString("FF FF FF FF"));
    QCOMPARE(Read(master.BodyCSPanel, QAccessible::Description), QString("Data block checksum"));
    QCOMPARE(Read(master.AllPacketTextLE, QAccessible::Name), QString("Full packet"));
    QCOMPARE(Read(master.AllPacketTextLE, QAccessible::Value), master.AllPacketTextLE->text());
    // The four status panels.
    w->RunOperation(opRefreshStatus);
    const QStringList captions = {"Time", "Mode", "Port state", "File"};
    for (std::size_t i = 0; i < 4; ++i)
      QCOMPARE(Read(w->StatusPanels[i], QAccessible::Description), captions[static_cast<int>(i)]);
    QCOMPARE(Read(w->StatusPanels[1], QAccessible::Name), QString("MASTER"));
    QCOMPARE(Read(w->StatusPanels[2], QAccessible::Name), QString("Port settings OK"));
    QCOMPARE(Read(w->StatusPanels[0], QAccessible::Name), w->StatusPanels[0]->text());

    // The Monitor page's counters, with the caption labels that name them.
    w->ModePageControl->setCurrentIndex(MainFormMonitorPage());
    pty_->Write(FrameOf("010203.0A0B0C.06.05.0100 - 01"));
    QTRY_COMPARE_WITH_TIMEOUT(w->MonitorPage->Current()->Frames(), std::uint64_t{1}, 10000);
    w->RunOperation(opRefreshStatus);
    QCOMPARE(Read(w->MonitorPage->FramesLabel, QAccessible::Name), QString("1"));
    QCOMPARE(LabelsOf(w->MonitorPage->FramesLabel), QStringList{"Frames seen"});
    QCOMPARE(Read(w->MonitorPage->BadReadsLabel, QAccessible::Name), QString("0"));
    QCOMPARE(Read(w->MonitorPage->RateLabel, QAccessible::Description), QString("Frames per second"));

    // A cell of the Registers statistics with its column's caption.
    TRegistersPage& registers = *w->RegistersPage;
    registers.Stats.Reset({"010203.0A0B0C.06.05.0100 - 01"});
    registers.Stats.Record(0, mkp::TStepOutcome::Answered, 21.8);
    registers.Refresh();
    QAccessibleTableInterface* table =
        QAccessible::queryAccessibleInterface(registers.StatisticsTable)->tableInterface();
    QVERIFY(table != nullptr);
    QAccessibleInterface* cell = table->cellAt(0, 2);
    QCOMPARE(cell->text(QAccessible::Name), QString("1"));
    QCOMPARE(cell->tableCellInterface()->columnIndex(), 2);
    QCOMPARE(table->columnDescription(2), QString("Answered"));
    QCOMPARE(table->cellAt(0, 8)->text(QAccessible::Name), QString("21.8"));
  }

  void EscapeInAPaneClosesTheFindBar() {
    auto w = Window();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    w->TerminalLB->Append({{"-> one", {}, {}}, {"<- two", {}, {}}}, false);
    w->TerminalLB->setFocus();
    w->RunOperation(opFindInPane);
    QVERIFY(w->FindBar->isVisible());
    w->TerminalLB->setFocus();
    QTest::keyClick(w->TerminalLB, Qt::Key_Escape);
    QVERIFY(w->FindBar->isHidden());
    // From the bar's own field too; with the bar hidden Escape does nothing.
    w->RunOperation(opFindInPane);
    QTest::keyClick(w->FindBar->Field, Qt::Key_Escape);
    QVERIFY(w->FindBar->isHidden());
    QTest::keyClick(w->TerminalLB, Qt::Key_Escape);
    QVERIFY(w->FindBar->isHidden());
  }

  void TheParseTableLoadsInEveryMode() {
    WriteFile(dir_.filePath("words.rtb"), "command=7; reg=5; mask=asis\r\n");
    dialogs_->FileToOpen = dir_.filePath("words.rtb");
    auto w = Window();
    for (int page : {2, MainFormMonitorPage(), 1, 0}) {
      w->ModePageControl->setCurrentIndex(page);
      w->Parser.TableFileName.clear();
      w->MainItem("Load parse table...")->trigger();
      QCOMPARE(w->Parser.TableFileName, std::string("words.rtb"));
      QCOMPARE(w->StatusPanels[3]->text(), QString("words.rtb"));
    }
    QVERIFY(dialogs_->Errors.isEmpty());
  }

  void TheStatusBarTellsWhatIsWrongWithTheSecondPort() {
    auto w = Window();
    // The first port named again.
    w->Arguments = {"/MONITOR", QString::fromStdString(pty_->Path())};
    w->ReadCommandLine();
    QTRY_VERIFY_WITH_TIMEOUT(w->MonitorPage->Current() && w->MonitorPage->Current()->Ports() == 1, 10000);
    w->RunOperation(opRefreshStatus);
    QVERIFY2(w->StatusPanels[2]->text().contains("Second port: the same port twice"),
             qPrintable(w->StatusPanels[2]->text()));
    QTRY_VERIFY_WITH_TIMEOUT((w->DrainPanes(), !w->TerminalLB->Model().Lines().empty() &&
                              w->TerminalLB->Model().Lines().back().Text.find("the same port twice") !=
                                  std::string::npos),
                             5000);
    // One that cannot be opened.
    w->MonitorPage->SecondPortCBox->setEditText("/dev/mkpt-no-such-port");
    emit w->MonitorPage->SecondPortChanged();
    QTRY_VERIFY_WITH_TIMEOUT(w->MonitorPage->Current() && !w->MonitorPage->Current()->SecondPortError().empty(),
                             10000);
    w->RunOperation(opRefreshStatus);
    QVERIFY2(w->StatusPanels[2]->text().startsWith("Port settings OK; Second port: Invalid port settings!"),
             qPrintable(w->StatusPanels[2]->text()));
    // None: the port state alone.
    w->MonitorPage->SecondPortCBox->setEditText("");
    emit w->MonitorPage->SecondPortChanged();
    w->RunOperation(opRefreshStatus);
    QCOMPARE(w->StatusPanels[2]->text(), QString("Port settings OK"));
  }

  void SpeedsAbove115200AreListedAndKeptFromTheSettingsFile() {
    for (const char* speed : {"921600", "250000"}) {
      std::string ini = mkptest::IniFor(pty_->Path());
      ini.replace(ini.find("9600"), 4, speed);
      WriteFile("mkpt.ini", ini);
      auto w = Window();
      QCOMPARE(w->PortSetupF->SpeedCBox->currentText(), QString(speed));
      QCOMPARE(w->Channel.State(), mkp::psOk);
      QCOMPARE(w->Channel.Speed(), std::string(speed));
      dialogs_->AnswerYes = true;
      w->close();
      QVERIFY(ReadFile("mkpt.ini").find("TransferRate=" + std::string(speed) + "\r\n") != std::string::npos);
    }
    WriteFile("mkpt.ini", mkptest::IniFor(pty_->Path()));
    auto w = Window();
    QComboBox* speeds = w->PortSetupF->SpeedCBox;
    QCOMPARE(speeds->itemText(speeds->findText("115200") + 1), QString("230400"));
    QCOMPARE(speeds->itemText(speeds->count() - 1), QString("4000000"));
    // A speed typed into the list.
    speeds->lineEdit()->setText("1843200");
    emit speeds->lineEdit()->editingFinished();
    QCOMPARE(w->PortSetupF->Settings().GetSpeed(), std::string("1843200"));
    QCOMPARE(w->Channel.Speed(), std::string("1843200"));
  }

  void ThePlotHintsAppendsAndExportsAsTheFilterSays() {
    auto w = Window();
    TRegistersPage& page = *w->RegistersPage;
    TRegistersPlot& plot = *page.Plot;
    page.ShowPlot();
    QVERIFY(plot.EmptyHint->isVisible());  // nothing plotted: the hint says how
    page.Rows.SetRowCount(9);
    QVERIFY(page.PlotRefusal(1).startsWith("No value yet"));
    page.Rows.SetCurrentValue(1, "ABC");
    QVERIFY(page.PlotRefusal(1).startsWith("Not a number"));
    const double start = mkp::WallClockMs() - 5000;
    for (int row = 1; row <= 9; ++row) {
      page.Rows.SetCurrentValue(row, "5");
      if (row <= 8) QVERIFY(page.SetPlotted(row, true));
      for (int i = 0; i < 10; ++i)
        page.History.Add(row, std::to_string(i * 200), start + i * 100, static_cast<std::uint64_t>(i));
    }
    QVERIFY(page.PlotRefusal(9).startsWith("8 registers are plotted already"));
    QVERIFY(!page.SetPlotted(9, true));
    plot.Redraw();
    QVERIFY(!plot.EmptyHint->isVisible());
    // The value axis keeps the data's sign; the time axis runs over whole 10 s.
    QCOMPARE(plot.ValueAxis->min(), 0.0);
    QVERIFY(plot.ValueAxis->max() >= 1800);
    QCOMPARE(plot.TimeAxis->min().time().second() % 10, 0);
    QCOMPARE(plot.TimeAxis->min().time().msec(), 0);

    // A refresh appends what came since; the lines are not read anew.
    const int rebuilds = plot.Rebuilds;
    const qsizetype before = plot.Series[0]->count();
    page.History.Add(1, "7", mkp::WallClockMs() - 10, 11);
    plot.Redraw();
    QCOMPARE(plot.Rebuilds, rebuilds);
    QCOMPARE(plot.Series[0]->count(), before + 1);
    QCOMPARE(plot.Series[0]->points().back().y(), 7.0);
    plot.SetSpanIndex(0);  // a new span reads them anew
    QCOMPARE(plot.Rebuilds, rebuilds + 1);

    // The chosen filter decides the type of a name without an extension.
    QString name = "view";
    QVERIFY(TRegistersPlot::ExportType(name, "PNG images (*.png)") == TRegistersPlot::TExport::Png);
    QCOMPARE(name, QString("view.png"));
    name = "values";
    QVERIFY(TRegistersPlot::ExportType(name, "CSV files (*.csv)") == TRegistersPlot::TExport::Csv);
    QCOMPARE(name, QString("values.csv"));
    name = "shot.PNG";
    QVERIFY(TRegistersPlot::ExportType(name, "CSV files (*.csv)") == TRegistersPlot::TExport::Png);
    dialogs_->FileToSave = dir_.filePath("view");
    dialogs_->FilterToSave = "PNG images (*.png)";
    plot.Export();
    QVERIFY(!QImage(dir_.filePath("view.png")).isNull());
    QVERIFY(!QFile::exists(dir_.filePath("view.csv")));
  }

  void WithALargerFontOrFusionNoCaptionIsCut() {
    auto statistics = [](TMainForm& w) {
      w.ModePageControl->setCurrentIndex(2);
      TRegistersPage& page = *w.RegistersPage;
      page.Stats.Reset(std::vector<std::string>(30, "010203.0A0B0C.06.05.0100 - 01"));
      page.Refresh();
      return page.StatisticsTable;
    };
    {
      // Many requests: the vertical scroll bar takes its room from the
      // request column, and the last column stays in sight.
      auto w = Window();
      QTableView* stats = statistics(*w);
      QTRY_VERIFY(stats->verticalScrollBar()->isVisible());
      const int last = stats->model()->columnCount() - 1;
      QTRY_VERIFY(stats->columnViewportPosition(last) + stats->columnWidth(last) <= stats->viewport()->width());
      QVERIFY(!stats->horizontalScrollBar()->isVisible());
    }
    const QFont normal = QApplication::font();
    const QString style = QApplication::style()->name();
    QFont larger = normal;
    larger.setPointSizeF(normal.pointSizeF() * 1.5);
    QApplication::setFont(larger);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    {
      auto w = Window();
      QTableView* stats = statistics(*w);
      w->RunOperation(opFindInPane);
      QCoreApplication::processEvents();
      // Each word of a caption fits its column; two-word captions take two lines.
      const QFontMetrics captions = stats->horizontalHeader()->fontMetrics();
      for (int c = 0; c < stats->model()->columnCount(); ++c)
        for (const QString& word : stats->model()->headerData(c, Qt::Horizontal).toString().split(' '))
          QVERIFY2(stats->columnWidth(c) > captions.horizontalAdvance(word), qPrintable(word));
      QVERIFY(stats->horizontalHeader()->height() >= 2 * captions.lineSpacing());
      // The labels of the port settings and the find bar's check boxes keep their room.
      for (QLabel* label : w->PortSetupF->findChildren<QLabel*>())
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
      QVERIFY(w->PortSetupF->geometry().right() <= w->PortSetupPanel->width());
      for (QCheckBox* box : w->PortSetupF->findChildren<QCheckBox*>() + w->FindBar->findChildren<QCheckBox*>())
        QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(box->text()));
      for (QPushButton* button : w->RegistersPage->findChildren<QPushButton*>())
        QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
      // On the Master page "Receive" keeps clear of the interval's caption.
      w->ModePageControl->setCurrentIndex(0);
      const auto* caption = w->MasterPage->findChild<QLabel*>("AutoIntervalEditLabel");
      QVERIFY(w->MasterPage->ReceiveBtn->geometry().right() < caption->geometry().left());
      QVERIFY(w->MasterPage->ReceiveBtn->geometry().left() > w->MasterPage->SendBtn->geometry().right());
    }
    QApplication::setStyle(style);
    QApplication::setFont(normal);
  }

private:
  static int MainFormMonitorPage() { return TMainForm::MonitorPageIndex; }
};

QTEST_MAIN(PagesWindowTest)
#include "pages_window_test.moc"

