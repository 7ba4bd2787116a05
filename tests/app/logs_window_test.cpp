// Captures and logs in the window, on the offscreen platform against a
// pseudo-terminal bus: "Capture to file..." (read back with the engine's
// reader), a capture whose writing fails, the log window on each kind of file,
// its loading in the background and its cancelling, and "Learn slave table...".
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QStatusBar>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <unistd.h>

#include "app/capturetool.h"
#include "analysis/parser.h"
#include "app/logwindow.h"
#include "app/mainform.h"
#include "app/window_fixture.h"
#include "modes/slave.h"
#include "protocol/linetime.h"

using namespace mkpt;
using namespace std::chrono_literals;

namespace {

using mkptest::FrameOf;

const std::string Request = "010203.0A0B0C.06.05.0100 - 01 ";
const std::string Answer = "0A0B0C.010203.07.05.0300 - 01 E8 03 ";
const std::string Request2 = "010203.0A0B0C.06.05.0100 - 02 ";
const std::string Answer2 = "0A0B0C.010203.07.05.0300 - 02 10 00 ";
const mkp::TWallTime T0 = mkp::TWallTime(std::chrono::seconds(1'700'000'000));

std::vector<mkp::TCapturedFrame> ReadCapture(const QString& path, std::string* error = nullptr) {
  mkp::TCaptureReader reader;
  std::vector<mkp::TCapturedFrame> frames;
  if (!reader.Open(path.toStdString())) return frames;
  mkp::TCapturedFrame frame;
  while (reader.Next(frame) == mkp::TCaptureReader::TStep::Frame) frames.push_back(frame);
  if (error != nullptr) *error = reader.Error();
  return frames;
}

// Frames written as given: (port, sent, packet text, milliseconds after T0).
void WriteCapture(const QString& path, const std::vector<std::tuple<int, bool, std::string, int>>& frames) {
  mkp::TCaptureWriter writer;
  QVERIFY(writer.Open(path.toStdString(), {"/dev/ttyS0"}));
  for (const auto& [port, sent, text, ms] : frames) {
    const auto bytes = text.empty() ? std::vector<std::uint8_t>{0xEE, 0x01} : FrameOf(text);
    writer.Write(port, sent, bytes.data(), bytes.size(), T0 + std::chrono::milliseconds(ms), "");
  }
}

QStringList Rows(const TPaneView* pane) {
  QStringList rows;
  for (int r = 0; r < pane->model()->rowCount(); ++r) rows << pane->model()->index(r, 0).data().toString();
  return rows;
}

// Sends the packet of the Master page's fields.
void Send(TMainForm& w, const QString& header, const QString& data) {
  w.MasterPage->HdrTextLE->setText(header);
  w.MasterPage->BodyTextLE->setText(data);
  w.RunOperation(opSendPacket);
}

}  // namespace

class LogsWindowTest : public QObject {
  Q_OBJECT

private:
  mkptest::TWindowScratch scratch_;
  mkptest::TAnsweringDialogs& Dialogs() { return *scratch_.Dialogs; }
  QString Path(const QString& name) { return scratch_.Dir.filePath(name); }

  // The log window the last "Open log..." made, once it has read its file.
  TLogWindow* OpenLog(TMainForm& w, const QString& file) {
    const auto before = w.findChildren<TLogWindow*>();
    Dialogs().FileToOpen = file;
    w.RunOperation(opOpenLog);
    QPointer<TLogWindow> window;
    for (TLogWindow* candidate : w.findChildren<TLogWindow*>())
      if (!before.contains(candidate)) window = candidate;
    // A file it could not read closes the window: null then.
    (void)QTest::qWaitFor([&] { return !window || !window->Loading(); }, 10000);
    return window;
  }

private slots:
  void init() { QVERIFY(scratch_.Enter()); }
  void cleanup() { scratch_.Leave(); }

  void CaptureTakesEveryFrameUntilUncheckedWhileThePanelShowsIt() {
    TMainForm w(scratch_.Dialogs);
    QAction* item = w.MainItem("Capture to file...");
    QVERIFY(item && item->isCheckable() && !item->isChecked());
    QLabel* panel = w.StatusPanels[3];
    panel->setText("table.rtb");
    w.RunOperation(opToggleCapture);  // the dialog cancelled
    QVERIFY(!item->isChecked());

    Dialogs().FileToSave = Path("bus.pcapng");
    item->trigger();
    QVERIFY(item->isChecked());
    QVERIFY(!panel->isVisibleTo(w.statusBar()) && w.Capture->CapturePanel->isVisibleTo(w.statusBar()));
    QVERIFY(w.Capture->CapturePanel->text().contains("bus.pcapng"));
    Send(w, "010203 0A0B0C 06 05 0100", "01");
    scratch_.Pty->Write(FrameOf(Answer));
    w.RunOperation(opReceivePacket);
    panel->setText("other.rtb");  // a table loaded meanwhile

    item->trigger();
    QVERIFY(!item->isChecked());
    QVERIFY(panel->isVisibleTo(w.statusBar()) && !w.Capture->CapturePanel->isVisibleTo(w.statusBar()));
    QCOMPARE(panel->text(), QString("other.rtb"));
    Send(w, "010203 0A0B0C 04 00 0000", "");  // after the end: not captured

    const auto frames = ReadCapture(Path("bus.pcapng"));
    QCOMPARE(frames.size(), std::size_t{2});
    QCOMPARE(frames[0].Bytes, FrameOf(Request));
    QCOMPARE(frames[0].Direction, mkp::TFrameDirection::Out);
    QCOMPARE(frames[0].InterfaceName, scratch_.Pty->Path());
    QCOMPARE(frames[0].Comment, std::string("0A0B0C>>010203 RD type 05 : reg 01"));
    QCOMPARE(frames[1].Bytes, FrameOf(Answer));
    QCOMPARE(frames[1].Direction, mkp::TFrameDirection::In);
    QVERIFY(frames[0].Time <= frames[1].Time);
  }

  void AFailedWriteUnchecksTheCaptureAndSaysSoOnceWhileTheModeGoesOn() {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    QCOMPARE(pipe(fds), 0);
    TMainForm w(scratch_.Dialogs);
    Dialogs().FileToSave = QString("/proc/self/fd/%1").arg(fds[1]);
    w.RunOperation(opToggleCapture);
    ::close(fds[1]);
    QVERIFY(w.MainItem("Capture to file...")->isChecked());
    ::close(fds[0]);  // the file is gone: nobody reads any more
    Send(w, "010203 0A0B0C 04 00 0000", "");
    QTRY_VERIFY_WITH_TIMEOUT(!w.MainItem("Capture to file...")->isChecked(), 10000);
    Send(w, "010203 0A0B0C 04 00 0000", "");
    w.DrainPanes();
    const QStringList lines = Rows(w.TerminalLB);
    QCOMPARE(lines.filter("Capture to file stopped").size(), 1);
    QVERIFY(lines.filter("Capture to file stopped")[0].contains("cannot write"));
    QCOMPARE(lines.filter("-> 01 02 03 0A 0B 0C 04 00 00 00").size(), 2);
    QVERIFY(w.StatusPanels[3]->isVisibleTo(w.statusBar()));
    QVERIFY(Dialogs().Errors.isEmpty());

    // A file that cannot be made: the box, and the switch stays off.
    Dialogs().FileToSave = Path("no-such-folder/x.pcapng");
    w.RunOperation(opToggleCapture);
    QCOMPARE(Dialogs().Errors.size(), 1);
    QVERIFY(Dialogs().Errors[0].contains("cannot create"));
    QVERIFY(!w.MainItem("Capture to file...")->isChecked());
  }

  void TheMonitorsSecondPortIsAnInterfaceOfItsOwn() {
    mkptest::TPtyPair second;
    TMainForm w(scratch_.Dialogs);
    w.Arguments = {"/MONITOR", QString::fromStdString(second.Path())};
    w.ReadCommandLine();
    QTRY_COMPARE_WITH_TIMEOUT(w.MonitorPage->Current()->Ports(), 2, 10000);
    Dialogs().FileToSave = Path("monitor.pcapng");
    w.RunOperation(opToggleCapture);
    scratch_.Pty->Write(FrameOf(Request));
    QTRY_COMPARE_WITH_TIMEOUT(w.MonitorPage->Current()->Frames(), std::uint64_t{1}, 10000);
    second.Write(FrameOf(Answer));
    QTRY_COMPARE_WITH_TIMEOUT(w.MonitorPage->Current()->Frames(), std::uint64_t{2}, 10000);
    w.RunOperation(opToggleCapture);
    const auto frames = ReadCapture(Path("monitor.pcapng"));
    QCOMPARE(frames.size(), std::size_t{2});
    QCOMPARE(frames[0].Interface, 1);
    QCOMPARE(frames[0].InterfaceName, scratch_.Pty->Path());
    QCOMPARE(frames[1].Interface, 2);
    QCOMPARE(frames[1].InterfaceName, second.Path());
    QCOMPARE(frames[1].Direction, mkp::TFrameDirection::In);
  }

  void ALogWindowOpensACaptureDecodedWithTheAnalysersSettingsAndItsTimes() {
    TMainForm w(scratch_.Dialogs);
    WriteCapture(Path("poll.pcapng"), {{1, true, Request, 0}, {1, false, Answer, 12}, {1, false, "", 20}});
    w.MainItem("WORD (5) - show as hex")->trigger();
    TLogWindow* log = OpenLog(w, Path("poll.pcapng"));
    QVERIFY(log && !log->Loading());
    QCOMPARE(Rows(log->Panes->TerminalLB),
             (QStringList{QString::fromStdString("-> " + Request), QString::fromStdString("<- " + Answer),
                          "<- Missing format : EE 01 "}));
    QCOMPARE(Rows(log->Panes->DecodeTerminalLB),
             (QStringList{"-> 0A0B0C>>010203 RD type 05 : reg 01", "<- 010203>>0A0B0C ANSW type 05 : reg 01 = 03E8 ",
                          "<- Missing format"}));
    QCOMPARE(log->StatusLabel->text(), QString("3 frames."));
    QVERIFY(log->Item("Save to file")->isEnabled());
    // A switch of the main window changed later leaves the open log as it is.
    w.MainItem("WORD (5) - show as hex")->trigger();
    QVERIFY(Rows(log->Panes->DecodeTerminalLB)[1].contains("= 03E8"));

    QAction* time = log->Item("Show time");
    QVERIFY(time && !time->isChecked());
    time->trigger();
    const QString first = QString::fromStdString(mkp::LocalTimeOfDay(mkp::MonoTimeOf(T0)));
    QVERIFY(Rows(log->Panes->TerminalLB)[0].startsWith(first + " +0.000 -> "));
    QVERIFY(Rows(log->Panes->TerminalLB)[1].contains(" +12.000 <- "));
    QVERIFY(Rows(log->Panes->DecodeTerminalLB)[1].endsWith("(answer after 12.0 ms)"));
    QVERIFY(!w.MainItem("Show time")->isChecked());  // the main window's own switch

    // Find with the filter, and Save to file.
    log->Panes->DecodeTerminalLB->setFocus();
    log->Item("Find...")->trigger();
    log->Panes->FindBar->Field->setText("Missing");
    log->Panes->FindBar->FilterCB->setChecked(true);
    QCOMPARE(log->Panes->DecodeTerminalLB->model()->rowCount(), 1);
    Dialogs().FileToSave = Path("again.dmp");
    log->Item("Save to file")->trigger();
    QVERIFY(mkptest::ReadFile(Path("again.tr1")).find("+12.000 <- " + Answer + "\r\n") != std::string::npos);

    // A file with more lines than a pane keeps says so.
    TLogWindow* capped = TLogWindow::Open(Path("poll.pcapng"), std::make_unique<mkp::TMKPParser>(), scratch_.Dialogs,
                                          {false, true, 2}, nullptr);
    QTRY_VERIFY(!capped->Loading());
    QCOMPARE(Rows(capped->Panes->TerminalLB).size(), 2);
    QCOMPARE(capped->StatusLabel->text(), QString("3 frames. A pane keeps the last 2 lines: the first 1 are not shown."));
    delete capped;

    // Several at once; a file that is no capture of MKP frames says so and
    // shows no window; one that cannot be opened neither.
    QVERIFY(OpenLog(w, Path("poll.pcapng")) != nullptr);
    QCOMPARE(w.findChildren<TLogWindow*>().size(), 2);
    mkptest::WriteFile(Path("other.pcapng"), std::string("\x0A\x0D\x0D\x0A", 4));
    OpenLog(w, Path("other.pcapng"));
    QTRY_COMPARE(w.findChildren<TLogWindow*>().size(), 2);
    QCOMPARE(Dialogs().Errors.size(), 1);
    QVERIFY(Dialogs().Errors[0].contains("not a capture of MKP frames"));
    OpenLog(w, Path("missing.pcapng"));
    QCOMPARE(Dialogs().Errors.size(), 2);
    QVERIFY(Dialogs().Errors[1].contains("cannot open"));
  }

  void ALogWindowOpensTerminalAndDecodeLogs() {
    TMainForm w(scratch_.Dialogs);
    const std::string terminal = "-> " + Request + "\r\n<- " + Answer + "\r\nnote\r\n";
    for (const QString& name : {QString("run.tr1"), QString("MKPTest.trm")}) {
      mkptest::WriteFile(Path(name), terminal);
      TLogWindow* log = OpenLog(w, Path(name));
      QVERIFY(log && log->Panes->TerminalLB->isVisibleTo(log));
      QCOMPARE(Rows(log->Panes->TerminalLB).size(), 3);
      QCOMPARE(Rows(log->Panes->DecodeTerminalLB),
               (QStringList{"-> 0A0B0C>>010203 RD type 05 : reg 01", "<- 010203>>0A0B0C ANSW type 05 : reg 01 = 1000 ",
                            "note"}));
      QCOMPARE(log->StatusLabel->text(), QString("3 lines."));
      log->close();
    }
    // A decode log as it is, in the decode pane alone; written with its times,
    // it shows them until "Show time" is unchecked.
    const std::string decode = "14:03:07.215 +16.042 <- 010203>>0A0B0C ANSW type 05 : reg 01 = 1000\r\nplain\r\n";
    for (const QString& name : {QString("run.tr2"), QString("dcd_MKPTest.trm")}) {
      mkptest::WriteFile(Path(name), decode);
      TLogWindow* log = OpenLog(w, Path(name));
      QVERIFY(log && !log->Panes->TerminalLB->isVisibleTo(log));
      QCOMPARE(Rows(log->Panes->DecodeTerminalLB),
               (QStringList{"14:03:07.215 +16.042 <- 010203>>0A0B0C ANSW type 05 : reg 01 = 1000", "plain"}));
      QVERIFY(log->Item("Show time")->isChecked());
      log->Item("Show time")->trigger();
      QCOMPARE(Rows(log->Panes->DecodeTerminalLB)[0], QString("<- 010203>>0A0B0C ANSW type 05 : reg 01 = 1000"));
      // Saved: the decode pane only, no empty terminal file over another.
      Dialogs().FileToSave = Path("saved_" + name);
      log->Item("Save to file")->trigger();
      QVERIFY(QFile::exists(Path("saved_" + QFileInfo(name).completeBaseName() + ".tr2")));
      QVERIFY(!QFile::exists(Path("saved_" + QFileInfo(name).completeBaseName() + ".tr1")));
    }
  }

  void ABigCaptureShowsItsFirstLinesWhileLoadingAndCancelKeepsThem() {
    TMainForm w(scratch_.Dialogs);
    {
      mkp::TCaptureWriter writer;
      QVERIFY(writer.Open(Path("big.pcapng").toStdString(), {"/dev/ttyS0"}));
      const auto request = FrameOf(Request), answer = FrameOf(Answer);
      for (int i = 0; i < 50000; ++i) {
        writer.Write(1, true, request.data(), request.size(), T0 + std::chrono::milliseconds(50 * i), "");
        writer.Write(1, false, answer.data(), answer.size(), T0 + std::chrono::milliseconds(50 * i + 10), "");
      }
    }
    Dialogs().FileToOpen = Path("big.pcapng");
    w.RunOperation(opOpenLog);
    TLogWindow* log = w.findChild<TLogWindow*>();
    QVERIFY(log != nullptr);
    // The loader reads ahead only a few batches while the window takes none
    // (no event loop runs here), so the file is far from read when the first
    // lines are in the panes.
    for (int i = 0; i < 2000 && log->Panes->TerminalLB->model()->rowCount() == 0; ++i) {
      log->Drain();
      QThread::msleep(5);
    }
    QVERIFY(log->Panes->TerminalLB->model()->rowCount() > 0);
    QVERIFY(log->Loading() && log->Progress->isVisibleTo(log) && log->CancelBtn->isEnabled());
    QTest::mouseClick(log->CancelBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!log->Loading(), 10000);
    QVERIFY(log->StatusLabel->text().startsWith("Loading cancelled"));
    const int kept = log->Panes->TerminalLB->model()->rowCount();
    QVERIFY(kept > 0 && kept < 100000);
    QCOMPARE(log->Panes->DecodeTerminalLB->model()->rowCount(), kept);
    QVERIFY(!log->Progress->isVisibleTo(log));

    // Closing a window that is loading ends its reading.
    w.RunOperation(opOpenLog);
    QCOMPARE(w.findChildren<TLogWindow*>().size(), 2);
    w.findChildren<TLogWindow*>().last()->close();
    QTRY_COMPARE_WITH_TIMEOUT(w.findChildren<TLogWindow*>().size(), 1, 10000);
  }

  void LearningFillsTheSlaveTableAfterAConfirmation() {
    TMainForm w(scratch_.Dialogs);
    WriteCapture(Path("pairs.pcapng"), {{1, true, Request, 0},
                                        {1, false, Answer, 10},
                                        {1, true, Request2, 100},
                                        {1, false, Answer2, 110},
                                        {1, true, Request, 200},
                                        {1, false, Answer, 210},
                                        {1, true, Request2, 300}});
    w.ModePageControl->setCurrentIndex(1);  // Slave: the responder runs
    QCOMPARE(w.CurrentMode, wmSlave);
    w.SlavePage->Rows.SetCell(1, 0, "kept");
    Dialogs().FileToOpen = Path("pairs.pcapng");
    Dialogs().AnswerYes = false;
    QTest::mouseClick(w.SlavePage->LearnBtn, Qt::LeftButton);
    QCOMPARE(Dialogs().Questions.size(), 1);
    QVERIFY(Dialogs().Questions[0].contains("2 rows learned from pairs.pcapng (4 requests, 3 answered)"));
    QVERIFY(Dialogs().Questions[0].contains("Replace the 1 rows"));
    QCOMPARE(w.SlavePage->Rows.Cell(1, 0), std::string("kept"));

    Dialogs().AnswerYes = true;
    QTest::mouseClick(w.SlavePage->LearnBtn, Qt::LeftButton);
    const auto trimmed = [](const std::string& text) { return text.substr(0, text.size() - 1); };
    QCOMPARE(w.SlavePage->Rows.RowCount(), 3);
    QCOMPARE(w.SlavePage->Rows.Cell(1, 0), trimmed(Request));
    QCOMPARE(w.SlavePage->Rows.Cell(1, 1), trimmed(Answer));
    QCOMPARE(w.SlavePage->Rows.Cell(2, 1), trimmed(Answer2));
    QCOMPARE(w.SlavePage->Rows.Cell(3, 0), std::string());
    // The responder answers from the new rows.
    scratch_.Pty->Write(FrameOf(Request2));
    QCOMPARE(scratch_.Pty->Read(FrameOf(Answer2).size(), 5000), FrameOf(Answer2));

    // A monitor's capture: the user tells the master's port.
    WriteCapture(Path("monitor.pcapng"), {{1, false, Request2, 0}, {2, false, Answer2, 10}});
    Dialogs().FileToOpen = Path("monitor.pcapng");
    w.RunOperation(opLearnSlaveTable);
    QVERIFY(Dialogs().Questions.last().contains("Replace the 2 rows"));
    QVERIFY(Dialogs().Questions[Dialogs().Questions.size() - 2].contains("port 1"));
    QCOMPARE(w.SlavePage->Rows.RowCount(), 2);
    QCOMPARE(w.SlavePage->Rows.Cell(1, 0), trimmed(Request2));
    QVERIFY(Dialogs().Errors.isEmpty());
  }
};

QTEST_MAIN(LogsWindowTest)
#include "logs_window_test.moc"
