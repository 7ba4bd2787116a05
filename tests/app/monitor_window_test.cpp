// The window's time display and the Monitor page, on the offscreen platform
// against a pseudo-terminal bus.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <sstream>

#include "app/window_fixture.h"
#include "app/dialogs.h"
#include "app/mainform.h"
#include "app/monitorpage.h"
#include "protocol/packet.h"
#include "serial/pty_pair.h"

using namespace mkpt;
using namespace std::chrono_literals;

namespace {

using TQuietDialogs = mkptest::TAnsweringDialogs;
using mkptest::FrameOf;
using mkptest::ReadFile;

const std::string Request = "010203.0A0B0C.06.05.0100 - 01 ";
const std::string Answer = "0A0B0C.010203.07.05.0300 - 01 E8 03 ";
const QRegularExpression TimePrefix(R"(^\d\d:\d\d:\d\d\.\d\d\d \+\d+\.\d\d\d )");

}  // namespace

class MonitorWindowTest : public QObject {
  Q_OBJECT

private:
  QTemporaryDir dir_;
  QString previous_;
  std::shared_ptr<TQuietDialogs> dialogs_;
  std::unique_ptr<mkptest::TPtyPair> pty_;

private slots:
  void init() {
    previous_ = QDir::currentPath();
    QVERIFY(dir_.isValid());
    QDir::setCurrent(dir_.path());
    dialogs_ = std::make_shared<TQuietDialogs>();
    pty_ = std::make_unique<mkptest::TPtyPair>();
    mkptest::WriteFile("mkpt.ini", mkptest::IniFor(pty_->Path()));
  }
  void cleanup() { QDir::setCurrent(previous_); }

  void ShowTimeShowsAndHidesTheTimeOfEveryLineAndTheFilesFollow() {
    TMainForm w(dialogs_);
    QAction* item = w.MainItem("Show time");
    QVERIFY(item && w.PopupItem("Show time"));
    QVERIFY(item->isCheckable() && !item->isChecked());  // off at start
    const auto t0 = mkp::TMonoClock::now();
    w.Transport.AddTerminalLine("-> sent", {t0, mkp::TLineKind::Sent});
    w.Transport.AddDecodeLine("-> sent", {t0, mkp::TLineKind::Sent});
    w.Transport.AddTerminalLine("<- answer", {t0 + 16042us, mkp::TLineKind::Received});
    w.Transport.AddDecodeLine("<- answer", {t0 + 16042us, mkp::TLineKind::Received});
    w.DrainPanes();
    TPaneModel& terminal = w.TerminalLB->Model();
    TPaneModel& decode = w.DecodeTerminalLB->Model();
    QCOMPARE(terminal.index(1).data().toString(), QString("<- answer"));

    dialogs_->FileToSave = dir_.filePath("plain.dmp");
    w.RunOperation(opSaveTerminal);
    QCOMPARE(ReadFile(dir_.filePath("plain.tr1")), std::string("-> sent\r\n<- answer\r\n"));

    w.RunOperation(opToggleShowTime);
    QVERIFY(item->isChecked() && w.PopupItem("Show time")->isChecked());
    // The lines already there show the time they were made with.
    const QString first = terminal.index(0).data().toString(), second = terminal.index(1).data().toString();
    QVERIFY2(TimePrefix.match(first).hasMatch(), qPrintable(first));
    QVERIFY2(first.endsWith(" +0.000 -> sent"), qPrintable(first));
    QVERIFY2(second.endsWith(" +16.042 <- answer"), qPrintable(second));
    QCOMPARE(first.left(12), QString::fromStdString(mkp::LocalTimeOfDay(t0)));
    // The answer's decode line also tells how long it took; the terminal's does not.
    QVERIFY2(decode.index(1).data().toString().endsWith(" +16.042 <- answer (answer after 16.0 ms)"),
             qPrintable(decode.index(1).data().toString()));

    dialogs_->FileToSave = dir_.filePath("timed.dmp");
    w.RunOperation(opSaveTerminal);
    const std::string timed = ReadFile(dir_.filePath("timed.tr1"));
    QCOMPARE(timed, first.toStdString() + "\r\n" + second.toStdString() + "\r\n");
    QVERIFY(ReadFile(dir_.filePath("timed.tr2")).find("(answer after 16.0 ms)\r\n") != std::string::npos);

    // The autosave files get the lines as shown too.
    w.RunOperation(opToggleAutosave);
    const std::string text = "0A0B0C.010203.07.05.0100 - 01 ";
    mkp::TPacketHolder packet;
    QVERIFY(mkp::TextToPacket(text, *packet));
    const mkp::TBusPiece piece{true, FrameOf(text), t0 + 20042us};
    w.Transport.LogPiece(piece, &*packet, "<- ");
    const std::string saved = ReadFile(dir_.filePath("MKPTest.trm"));
    QCOMPARE(saved, mkp::LocalTimeOfDay(t0 + 20042us) + " +4.000 <- " + text + "\r\n");
    w.RunOperation(opToggleShowTime);
    w.Transport.LogPiece(piece, &*packet, "<- ");
    QCOMPARE(ReadFile(dir_.filePath("MKPTest.trm")), saved + "<- " + text + "\r\n");
    w.RunOperation(opToggleAutosave);
    w.DrainPanes();
    QCOMPARE(terminal.index(1).data().toString(), QString("<- answer"));
    // After Clear the next line is a pane's first again.
    w.RunOperation(opClearTerminal);
    w.Transport.AddTerminalLine("later");
    w.DrainPanes();
    w.RunOperation(opToggleShowTime);
    QVERIFY(terminal.index(0).data().toString().endsWith(" +0.000 later"));
  }

  void TheMonitorLogsTheBusNeverWritesAndItsPauseLosesNothing() {
    TMainForm w(dialogs_);
    QCOMPARE(w.Channel.State(), mkp::psOk);
    QCOMPARE(w.ModePageControl->count(), 5);
    QCOMPARE(w.ModePageControl->tabText(4), QString("Monitor"));
    QVERIFY(w.MonitorPage->SecondPortCBox->currentText().isEmpty());
    w.ModePageControl->setCurrentIndex(4);
    QCOMPARE(w.CurrentMode, wmMonitor);
    QVERIFY(w.MonitorPage->Current() != nullptr);
    w.RunOperation(opRefreshStatus);
    QCOMPARE(w.StatusPanels[1]->text(), QString("MONITOR"));

    std::vector<std::uint8_t> both = FrameOf(Request);
    const auto answer = FrameOf(Answer);
    both.insert(both.end(), answer.begin(), answer.end());
    pty_->Write(both);  // back to back
    QTRY_COMPARE_WITH_TIMEOUT((w.DrainPanes(), w.TerminalLB->Model().rowCount()), 2, 10000);
    QCOMPARE(w.TerminalLB->Model().Lines()[0].Text, "<- " + Request);
    QCOMPARE(w.TerminalLB->Model().Lines()[1].Text, "<- " + Answer);

    // Whatever is clicked, nothing goes onto the line.
    w.MasterPage->HdrTextLE->setText("010203 0A0B0C 04 00 0000");
    w.RunOperation(opSendPacket);
    w.RunOperation(opReceivePacket);
    w.RunOperation(opTransmitRegisters);
    QVERIFY(pty_->ReadAvailable().empty());

    // Held panes take nothing in; the lines wait and all come when Pause is cleared.
    w.MonitorPage->PauseCB->setChecked(true);
    for (int i = 0; i < 5; ++i) pty_->Write(FrameOf(Request));
    QTRY_COMPARE_WITH_TIMEOUT(w.MonitorPage->Current()->Frames(), std::uint64_t{7}, 10000);
    w.DrainPanes();
    QCOMPARE(w.TerminalLB->Model().rowCount(), 2);
    w.MonitorPage->PauseCB->setChecked(false);
    QTRY_COMPARE_WITH_TIMEOUT((w.DrainPanes(), w.TerminalLB->Model().rowCount()), 7, 10000);
    QCOMPARE(w.DecodeTerminalLB->Model().rowCount(), 7);
    w.RunOperation(opRefreshStatus);
    QCOMPARE(w.MonitorPage->FramesLabel->text(), QString("7"));
    QCOMPARE(w.MonitorPage->BadReadsLabel->text(), QString("0"));

    QTest::mouseClick(w.MonitorPage->ClearBtn, Qt::LeftButton);
    QCOMPARE(w.TerminalLB->Model().rowCount(), 0);
    QCOMPARE(w.DecodeTerminalLB->Model().rowCount(), 0);

    // Leaving the page stops the monitor.
    w.ModePageControl->setCurrentIndex(0);
    QCOMPARE(w.CurrentMode, wmMaster);
    QVERIFY(w.MonitorPage->Current() == nullptr);
    QVERIFY(pty_->ReadAvailable().empty());
  }

  void ASecondPortIsReadTooAndEachLineShowsItsPort() {
    mkptest::TPtyPair second;
    TMainForm w(dialogs_);
    w.Arguments = {"/MONITOR", QString::fromStdString(second.Path())};
    w.ReadCommandLine();
    QCOMPARE(w.CurrentMode, wmMonitor);
    QCOMPARE(w.ModePageControl->currentIndex(), 4);
    QTRY_COMPARE_WITH_TIMEOUT(w.MonitorPage->Current()->Ports(), 2, 10000);
    pty_->Write(FrameOf(Request));
    QTRY_COMPARE_WITH_TIMEOUT(w.MonitorPage->Current()->Frames(), std::uint64_t{1}, 10000);
    second.Write(FrameOf(Answer));
    QTRY_COMPARE_WITH_TIMEOUT((w.DrainPanes(), w.TerminalLB->Model().rowCount()), 2, 10000);
    QCOMPARE(w.TerminalLB->Model().Lines()[0].Text, "<-1 " + Request);
    QCOMPARE(w.TerminalLB->Model().Lines()[1].Text, "<-2 " + Answer);
    QVERIFY(second.ReadAvailable().empty());

    // A second port that cannot be opened is said so; the first goes on alone.
    w.MonitorPage->SecondPortCBox->setEditText("/dev/mkpt-no-such-port");
    emit w.MonitorPage->SecondPortChanged();
    QTRY_VERIFY_WITH_TIMEOUT(w.MonitorPage->Current() && !w.MonitorPage->Current()->SecondPortError().empty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT((w.DrainPanes(), w.TerminalLB->Model().Lines().back().Text.rfind(
                                                  "Second port /dev/mkpt-no-such-port : Invalid port settings!", 0) == 0),
                             10000);
    pty_->Write(FrameOf(Request));
    QTRY_VERIFY_WITH_TIMEOUT((w.DrainPanes(), w.TerminalLB->Model().Lines().back().Text == "<- " + Request), 10000);
  }
};

QTEST_MAIN(MonitorWindowTest)
#include "monitor_window_test.moc"
