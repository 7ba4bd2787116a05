// The window on the offscreen platform: dispatcher, menus, panes, port
// settings, start-up and shutdown, and the Master page against a
// pseudo-terminal peer.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTableView>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <sstream>
#include <chrono>
#include <thread>

#include "app/window_fixture.h"
#include "app/addressform.h"
#include "app/mainform.h"
#include "app/portframe.h"
#include "protocol/packet.h"
#include "modes/named_event.h"
#include "modes/registers_peer.h"
#include "serial/pty_pair.h"

using namespace mkpt;
using mkptest::FrameOf;
using mkptest::IniFor;
using mkptest::ReadFile;
using mkptest::TAnsweringDialogs;
using mkptest::WriteFile;

namespace {

std::vector<TPaneLine> Lines(int first, int count) {
  std::vector<TPaneLine> lines;
  for (int i = first; i < first + count; ++i) lines.push_back({"line " + std::to_string(i), {}, {}});
  return lines;
}

// Asks the slave on the other end of the line and waits for its answer.
std::vector<std::uint8_t> Ask(mkptest::TPtyPair& pty, const std::string& request, const std::string& answer) {
  pty.Write(FrameOf(request));
  return pty.Read(FrameOf(answer).size(), 10000);
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

private:
  QTemporaryDir dir_;
  QString previous_;
  std::shared_ptr<TAnsweringDialogs> dialogs_;
  std::unique_ptr<mkptest::TPtyPair> pty_;

  std::unique_ptr<TMainForm> Window() { return std::make_unique<TMainForm>(dialogs_); }

private slots:
  void init() {
    previous_ = QDir::currentPath();
    QVERIFY(dir_.isValid());
    QDir::setCurrent(dir_.path());
    QFile::remove("mkpt.ini");
    dialogs_ = std::make_shared<TAnsweringDialogs>();
    pty_ = std::make_unique<mkptest::TPtyPair>();
    WriteFile("mkpt.ini", IniFor(pty_->Path()));
  }
  void cleanup() { QDir::setCurrent(previous_); }

  void StartUpOpensThePortFromTheSettingsFileAndShutdownAsks() {
    {
      auto w = Window();
      QCOMPARE(w->windowTitle(), QString("Mirt Kalvora Protocol - Debugger 1.1.90.0004e"));
      QCOMPARE(w->Channel.State(), mkp::psOk);
      QVERIFY(dialogs_->Errors.isEmpty());
      QCOMPARE(w->StatusPanels[1]->text(), QString("MASTER"));
      QCOMPARE(w->StatusPanels[2]->text(), QString("Port settings OK"));
      QCOMPARE(w->PortSetupF->PortNumCBox->currentText(), QString::fromStdString(pty_->Path()));
      QCOMPARE(w->ModePageControl->currentIndex(), 0);
      QCOMPARE(w->MasterPage->HdrCSPanel->text(), QString("FF FF FF FF"));
      QCOMPARE(w->MasterPage->AutoIntervalEdit->text(), QString("1000"));
      // No: the settings file stays as it was.
      w->PortSetupF->SpeedCBox->setCurrentIndex(13);
      w->PortSetupF->Settings().SetSpeedIndex(13);
      dialogs_->AnswerYes = false;
      w->close();
      QCOMPARE(dialogs_->Questions, QStringList{"Save configuration?"});
      QCOMPARE(ReadFile("mkpt.ini"), IniFor(pty_->Path()));
    }
    {
      auto w = Window();
      w->PortSetupF->Settings().SetSpeedIndex(13);  // 19200
      dialogs_->AnswerYes = true;
      w->close();
      QVERIFY(ReadFile("mkpt.ini").find("TransferRate=19200\r\n") != std::string::npos);
    }
  }

  void ThePortFrameReopensThePortOnEveryChange() {
    auto w = Window();
    TPortSetupFrame& frame = *w->PortSetupF;
    QCOMPARE(frame.ParityCBox->count(), 5);
    QCOMPARE(frame.ParityCBox->itemText(1), QString("Even"));
    QCOMPARE(frame.SpeedCBox->currentText(), QString("9600"));
    // A user's choice in a list reopens the port with all six settings.
    frame.SpeedCBox->setCurrentIndex(13);
    emit frame.SpeedCBox->activated(13);
    QCOMPARE(frame.Settings().GetSpeed(), std::string("19200"));
    QCOMPARE(w->Channel.State(), mkp::psOk);
    // Only digits, at most two, in the interval edits.
    QTest::keyClicks(frame.ReadIntervalEd, "x7");
    QCOMPARE(frame.ReadIntervalEd->text(), QString("17"));
    QCOMPARE(frame.Settings().GetReadInterval(), 17);
    // A path typed into the port list is taken as written; a missing one
    // shows the box and the status line says why.
    frame.PortNumCBox->lineEdit()->setText("/dev/mkpt-no-such-port");
    emit frame.PortNumCBox->lineEdit()->editingFinished();
    QCOMPARE(frame.PortNumCBox->currentText(), QString("/dev/mkpt-no-such-port"));
    QCOMPARE(dialogs_->Errors, QStringList{"Invalid port settings!\nNo such device"});
    dialogs_->AnswerYes = true;
    w->close();
    QVERIFY(ReadFile("mkpt.ini").find("PortNumber=/dev/mkpt-no-such-port\r\nTransferRate=19200\r\n") !=
            std::string::npos);
    QVERIFY(ReadFile("mkpt.ini").find("ReadIntervalTimeout=17\r\n") != std::string::npos);
  }

  void AMissingPortShowsTheBoxAndTheReasonAndTheWindowGoesOn() {
    WriteFile("mkpt.ini", IniFor("/dev/mkpt-no-such-port"));
    auto w = Window();
    // The box comes once the window's loop runs, the short reason on its second line.
    QVERIFY(dialogs_->Errors.isEmpty());
    QTRY_COMPARE(dialogs_->Errors, QStringList{"Invalid port settings!\nNo such device"});
    QCOMPARE(w->StatusPanels[2]->text(), QString("Invalid port settings!  No such device"));
    // The whole reason in the panel's tool tip.
    QCOMPARE(w->StatusPanels[2]->toolTip(),
             QString("Invalid port settings!  Cannot open /dev/mkpt-no-such-port: No such file or directory"));
    w->MasterPage->HdrTextLE->setText("ab");
    QCOMPARE(w->MasterPage->AllPacketTextLE->text(), QString("AB  AB 00 00 00"));
  }

  void TheDispatcherShowsAFailureInItsOneBox() {
    auto w = Window();
    w->MasterPage->AllPacketTextLE->setText(QString("00 ").repeated(2067));
    w->RunOperation(opSendPacket);
    QCOMPARE(dialogs_->Errors.size(), 1);
    QVERIFY(dialogs_->Errors[0].startsWith(QString::fromUtf8("Ошибочное действие : ")));
    for (int code : {1, 6, 37, 200}) w->RunOperation(code);  // nothing happens
    QCOMPARE(dialogs_->Errors.size(), 1);
  }

  void MenuItemsAndTheirPopupTwinsKeepOneCheckMark() {
    auto w = Window();
    QVERIFY(w->MainItem("Analize master packets")->isChecked());
    QVERIFY(!w->MainItem("Autoscroll")->isChecked());
    w->PopupItem("BYTE (1)- show as hex")->trigger();
    QVERIFY(w->MainItem("BYTE (1) - show as hex")->isChecked());
    QVERIFY(w->Parser.HexFlagForType(1));
    w->MainItem("Autoscroll")->trigger();
    QVERIFY(w->PopupItem("Autoscrolling")->isChecked());
    w->PopupItem("Terminal autosave")->trigger();
    QVERIFY(w->MainItem("Terminal autosave")->isChecked());
    QVERIFY(w->Transport.Autosave.load());
    // Entering Registers mode switches autoscroll on; Terminal changes no mode.
    w->MainItem("Autoscroll")->trigger();
    w->ModePageControl->setCurrentIndex(2);
    QCOMPARE(w->StatusPanels[1]->text().isEmpty(), false);
    QVERIFY(w->MainItem("Autoscroll")->isChecked() && w->PopupItem("Autoscrolling")->isChecked());
    w->ModePageControl->setCurrentIndex(3);
    QCOMPARE(w->CurrentMode, wmRegisters);
  }

  void PanesKeepTheirCapScrollAndSave() {
    auto w = Window();
    w->resize(1022, 653);
    w->show();
    TPaneView& pane = *w->TerminalLB;
    pane.Append(Lines(0, 8097), false);
    pane.Append(Lines(8097, 1), false);
    QCOMPARE(pane.Model().rowCount(), 8097);
    QCOMPARE(pane.Model().Lines().front().Text, std::string("line 1"));
    QCOMPARE(pane.indexAt(QPoint(2, 2)).row(), 0);  // autoscroll off: the view stays
    pane.Append(Lines(8098, 1), true);
    const int fit = pane.VisibleLines();
    QCOMPARE(pane.indexAt(QPoint(2, 2)).row(), 8097 - fit);

    // Lines made in another thread arrive in order.
    std::thread maker([&] {
      for (int i = 0; i < 5000; ++i) w->Transport.AddDecodeLine("made " + std::to_string(i));
    });
    maker.join();
    w->DrainPanes();
    const auto& decoded = w->DecodeTerminalLB->Model().Lines();
    QCOMPARE(decoded.size(), std::size_t{5000});
    for (std::size_t i = 0; i < decoded.size(); ++i) QCOMPARE(decoded[i].Text, "made " + std::to_string(i));

    dialogs_->FileToSave = dir_.filePath("run.dmp");
    w->RunOperation(opSaveTerminal);
    QCOMPARE(ReadFile(dir_.filePath("run.tr2")).substr(0, 15), std::string("made 0\r\nmade 1\r"));
    QVERIFY(ReadFile(dir_.filePath("run.tr1")).find("line 8098\r\n") != std::string::npos);
    QVERIFY(!QFile::exists(dir_.filePath("run.dmp")));
    w->RunOperation(opClearTerminal);
    QCOMPARE(pane.Model().rowCount(), 0);
  }

  void MasterPageSendsTheFullPacketAndLogsTheReply() {
    auto w = Window();
    w->MasterPage->HdrTextLE->setText("0A0B0C 010203 06 01 0100");
    w->MasterPage->BodyTextLE->setText("05");
    QCOMPARE(w->MasterPage->AllPacketTextLE->text(),
             QString("0A 0B 0C 01 02 03 06 01 01 00  ") + w->MasterPage->HdrCSPanel->text() + " - 05  05 00 00 00");
    QTest::mouseClick(w->MasterPage->SendBtn, Qt::LeftButton);
    mkp::TPacketHolder request;
    QVERIFY(mkp::TextToPacket("0A0B0C.010203.06.01.0100 - 05", *request));
    const auto sent = pty_->Read(19, 5000);
    QCOMPARE(sent.size(), std::size_t{19});
    w->DrainPanes();
    QCOMPARE(w->TerminalLB->Model().Lines().back().Text.substr(0, 3), std::string("-> "));
    QVERIFY(w->DecodeTerminalLB->Model().Lines().back().Text.find("-> 010203>>0A0B0C") == 0);

    // The reply arrives while Receive waits; the window keeps running.
    mkp::TPacketHolder reply;
    QVERIFY(mkp::TextToPacket("010203.0A0B0C.07.01.0100 - 2A", *reply));
    std::vector<std::uint8_t> frame(mkp::FrameBufferSize);
    int length = 0;
    QVERIFY(mkp::BuildFrame(*reply, frame.data(), length));
    frame.resize(static_cast<std::size_t>(length));
    bool ticked = false;
    QTimer::singleShot(50, [&] {
      ticked = true;
      QVERIFY(w->Busy());
      QVERIFY(!w->ModePageControl->isEnabled());
      pty_->Write(frame);
    });
    w->RunOperation(opReceivePacket);
    QVERIFY(ticked);
    QVERIFY(w->ModePageControl->isEnabled());
    QCOMPARE(w->TerminalLB->Model().Lines().back().Text, std::string("<- 010203.0A0B0C.07.01.0100 - 2A "));
  }

  void TheSlavePageAnswersFromTheLoadedTableAndFromAnEditedCell() {
    const std::string ping = "010203.0A0B0C.04.00.0000";
    const std::string ack = "0A0B0C.010203.01.00.0000";
    const std::string refusal = "0A0B0C.010203.03.00.0100 - 05";
    WriteFile(dir_.filePath("device.smt"), "<" + ping + "> [" + ack + "]\r\n");
    auto w = Window();
    dialogs_->FileToOpen = dir_.filePath("device.smt");
    w->RunOperation(opLoadSlaveTable);
    QAbstractItemModel* table = w->SlavePage->SlaveTable->model();
    QCOMPARE(table->rowCount(), 1);  // nothing follows the entry in the file
    QCOMPARE(table->index(0, 1).data().toString(), QString::fromStdString(ack));
    w->ModePageControl->setCurrentIndex(1);
    QCOMPARE(w->CurrentMode, wmSlave);
    QVERIFY(w->Worker() != nullptr);
    QCOMPARE(Ask(*pty_, ping, ack), FrameOf(ack));

    // An edited cell counts for the next packet; the table keeps an empty row.
    QVERIFY(table->setData(table->index(0, 1), QString::fromStdString(refusal)));
    QCOMPARE(Ask(*pty_, ping, refusal), FrameOf(refusal));
    QVERIFY(table->setData(table->index(1, 0), "x"));
    QCOMPARE(table->rowCount(), 3);

    // Master stops the responder; coming back starts a fresh one.
    w->ModePageControl->setCurrentIndex(0);
    QVERIFY(w->Worker() == nullptr);
    w->ModePageControl->setCurrentIndex(1);
    QVERIFY(w->Worker() != nullptr);
    QCOMPARE(Ask(*pty_, ping, refusal), FrameOf(refusal));
    // The responder logs its answer after writing it, so the line may come a moment later.
    QTRY_VERIFY_WITH_TIMEOUT((w->DrainPanes(), !w->TerminalLB->Model().Lines().empty() &&
                              w->TerminalLB->Model().Lines().back().Text.rfind("-> 0A0B0C.010203.03", 0) == 0),
                             5000);

    dialogs_->FileToSave = dir_.filePath("saved.smt");
    w->RunOperation(opSaveSlaveTable);
    QCOMPARE(ReadFile(dir_.filePath("saved.smt")),
             "<" + ping + "> [" + refusal + "]\r\n<x> []\r\n<> []\r\n");
  }

  void RegSimplePollsTheDeviceAndTransmitWritesTheTypedValue() {
    WriteFile(dir_.filePath("counter.rst"),
              "{Counter} #1#\r\n"
              "<010203.0A0B0C.06.05.0100 - 01> [1]\r\n"
              "<010203.0A0B0C.08.05.0300 - 01 %1:05%> #1#\r\n"
              "@@ OneStepDelay = 20\r\n@@ OneCycleDelay = 50\r\n"
              "@@ RegSendTimeout1 = 50\r\n@@ RegSendTimeout2 = 50\r\n@@ RegSendTimeout3 = 50\r\n");
    mkptest::TRegistersPeer device(*pty_, [](const mkptest::TSeenPacket& seen, int) {
      if (seen.Command == 6) return std::vector<std::string>{"0A0B0C.010203.07.05.0300 - 01 E8 03"};
      return std::vector<std::string>{"0A0B0C.010203.01.00.0000"};
    });
    auto w = Window();
    w->Arguments = QStringList{"/regsimple", " " + dir_.filePath("counter.rst") + " "};
    w->show();
    QTRY_COMPARE_WITH_TIMEOUT(w->CurrentMode, wmRegisters, 5000);
    QVERIFY(!w->RegistersPage->RegistersBtns[0]->isVisible());  // no "Selecr device"
    QVERIFY(w->StatusPanels[3]->text().startsWith(" counter"));  // the totals follow each second
    QVERIFY(w->MainItem("Autoscroll")->isChecked());
    QAbstractItemModel* grid = w->RegistersPage->RegistersTable->model();
    QTRY_COMPARE_WITH_TIMEOUT(grid->rowCount(), 1, 5000);  // the grid follows the table a moment later
    QCOMPARE(grid->index(0, 0).data().toString(), QString("Counter"));
    QTRY_COMPARE_WITH_TIMEOUT(grid->index(0, 1).data().toString(), QString("1000"), 10000);

    QVERIFY(!grid->setData(grid->index(0, 1), "5"));  // only New value cells take text
    QVERIFY(grid->setData(grid->index(0, 2), "7"));
    w->RunOperation(opTransmitRegisters);
    QVERIFY(dialogs_->Infos.isEmpty());
    bool written = false;
    for (const auto& seen : device.Seen())
      if (seen.Command == 8) written = seen.Text == "010203.0A0B0C.08.05.0300 - 01 07 00 ";
    QVERIFY(written);
    QVERIFY(w->RegistersPage->RegistersBtns[1]->isEnabled());

    // The address dialog: it shows the last address (255s when none), and OK
    // sends the requests and the writes to the address entered.
    dialogs_->Answer = [](QDialog& dialog) {
      auto& form = static_cast<TVORELAddrForm&>(dialog);
      if (form.AddrEditA->value() != 255 || form.AddrEditC->value() != 255) return false;
      form.AddrEditA->setValue(1);
      form.AddrEditB->setValue(2);
      form.AddrEditC->setValue(9);
      QTest::mouseClick(form.OKBtn, Qt::LeftButton);
      return true;
    };
    w->RunOperation(opChangeAddress);
    QCOMPARE(w->RegistersPage->DeviceAddress, std::string("1.2.9"));
    QCOMPARE(w->RegistersPage->Automat()->TargetAddress(), std::string("1.2.9"));
    const int before = device.Count();
    QTRY_VERIFY_WITH_TIMEOUT(device.Count() > before + 1, 10000);
    QCOMPARE(device.Seen().back().Dst.Bytes[2], std::uint8_t{9});
    dialogs_->Answer = nullptr;  // Cancel changes nothing
    w->RunOperation(opChangeAddress);
    QCOMPARE(w->RegistersPage->DeviceAddress, std::string("1.2.9"));
  }

  void TheAddressDialogNormalisesWhatItIsGiven() {
    TVORELAddrForm form;
    QCOMPARE(form.windowTitle(), QString::fromUtf8("Vorel адрес"));
    form.SetAddressText("");
    QCOMPARE(form.AddrEditB->value(), 255);
    form.SetAddressText("10.20");
    QCOMPARE(form.AddressText(), std::string("10.20.255"));
    form.SetAddressText("1.2.3.4");
    QCOMPARE(form.AddressText(), std::string("1.2.255"));
    form.SetAddressText(" 1 . 2 . 3 ");
    QCOMPARE(form.AddressText(), std::string("1.2.3"));
    auto w = Window();
    w->RunOperation(opChangeAddress);  // not in Registers mode: no dialog
    QCOMPARE(dialogs_->DialogsShown, 0);
  }

  void ClosingDuringATransmitEndsItAtItsNextWait() {
    // Three rows to write, slow timing, and a device that answers only reads:
    // the transmit would take many seconds.
    WriteFile(dir_.filePath("slow.rst"),
              "{A} #1#\r\n{B} #2#\r\n{C} #3#\r\n"
              "<010203.0A0B0C.06.05.0100 - 01> [1]\r\n"
              "<010203.0A0B0C.08.05.0300 - 01 %1:05%> #1#\r\n"
              "<010203.0A0B0C.08.05.0300 - 02 %2:05%> #2#\r\n"
              "<010203.0A0B0C.08.05.0300 - 03 %3:05%> #3#\r\n"
              "@@ OneStepDelay = 20\r\n@@ OneCycleDelay = 50\r\n"
              "@@ RegSendTimeout1 = 1000\r\n@@ RegSendTimeout2 = 1000\r\n@@ RegSendTimeout3 = 1000\r\n");
    mkptest::TRegistersPeer device(*pty_, [](const mkptest::TSeenPacket& seen, int) {
      if (seen.Command == 6) return std::vector<std::string>{"0A0B0C.010203.07.05.0300 - 01 E8 03"};
      return std::vector<std::string>{};
    });
    auto w = Window();
    w->Arguments = QStringList{"/REG", dir_.filePath("slow.rst")};
    w->ReadCommandLine();
    QAbstractItemModel* grid = w->RegistersPage->RegistersTable->model();
    QTRY_COMPARE(grid->rowCount(), 3);
    for (int row = 0; row < 3; ++row) QVERIFY(grid->setData(grid->index(row, 2), "7"));
    bool painted = false;
    QTimer::singleShot(300, [&] {
      painted = w->Busy();  // the window's loop runs during the transmit
      w->close();
    });
    const auto start = std::chrono::steady_clock::now();
    w->RunOperation(opTransmitRegisters);
    QVERIFY(painted);
    QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(6));  // not the 10 s of the writes
    QVERIFY(dialogs_->Infos.isEmpty());
    QTRY_COMPARE(dialogs_->Questions, QStringList{"Save configuration?"});
  }

  void TransmitWhileAStepIsUnderWaySendsNothing() {
    WriteFile(dir_.filePath("busy.rst"),
              "{A} #1#\r\n<010203.0A0B0C.06.05.0100 - 01> [1]\r\n"
              "<010203.0A0B0C.08.05.0300 - 01 %1:05%> #1#\r\n"
              "@@ OneStepDelay = 8000\r\n@@ OneCycleDelay = 8000\r\n");
    mkptest::TRegistersPeer device(*pty_, [](const mkptest::TSeenPacket& seen, int) {
      if (seen.Command == 6) return std::vector<std::string>{"0A0B0C.010203.07.05.0300 - 01 E8 03"};
      return std::vector<std::string>{"0A0B0C.010203.01.00.0000"};
    });
    auto w = Window();
    w->Arguments = QStringList{"/REG", dir_.filePath("busy.rst")};
    w->ReadCommandLine();
    QAbstractItemModel* grid = w->RegistersPage->RegistersTable->model();
    QTRY_COMPARE_WITH_TIMEOUT(grid->index(0, 1).data().toString(), QString("1000"), 10000);
    QVERIFY(grid->setData(grid->index(0, 2), "7"));
    // The automaton now pauses for seconds; its step event, set from outside,
    // shows a step under way that does not end within the two seconds.
    const std::string step = w->RegistersPage->Automat()->StepEventName();
    mkp::SetNamedEvent(step);
    const int before = device.Count();
    w->RunOperation(opTransmitRegisters);
    mkp::ResetNamedEvent(step);
    QCOMPARE(dialogs_->Infos, QStringList{"System busy. Try again."});
    QCOMPARE(device.Count(), before);
    QVERIFY(w->RegistersPage->RegistersBtns[1]->isEnabled());
  }

  void TheCommandLineIgnoresOtherSwitches() {
    for (const char* other : {"/REG2", "REG", "/slavex"}) {
      auto w = Window();
      w->Arguments = QStringList{other};
      w->ReadCommandLine();
      QCOMPARE(w->CurrentMode, wmMaster);
    }
    auto w = Window();
    w->Arguments = QStringList{"/Slave", "ignored.rst"};
    w->ReadCommandLine();
    QCOMPARE(w->CurrentMode, wmSlave);
    QCOMPARE(w->ModePageControl->currentIndex(), 1);
  }

  void AModeChangeDuringAReceiveAndAParseTable() {
    auto w = Window();
    w->ModePageControl->setCurrentIndex(1);  // a responder goes into its receive
    const auto start = std::chrono::steady_clock::now();
    w->ModePageControl->setCurrentIndex(2);  // the automaton takes over once it lets go
    w->ModePageControl->setCurrentIndex(0);
    QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500));  // never the 2 s receive
    QCOMPARE(w->CurrentMode, wmMaster);
    QVERIFY(w->Worker() == nullptr);

    WriteFile(dir_.filePath("words.rtb"), "command=7; reg=5; mask=asis\r\n");
    dialogs_->FileToOpen = dir_.filePath("words.rtb");
    w->MainItem("Load parse table...")->trigger();
    QCOMPARE(w->StatusPanels[3]->text(), QString("words.rtb"));
  }

  void TheRepeatIntervalRefusesBadValues() {
    auto w = Window();
    for (const char* bad : {"0", "-5", "100001", "abc"}) {
      w->MasterPage->AutoIntervalEdit->setText(bad);
      QCOMPARE(w->MasterPage->AutoIntervalEdit->palette().color(QPalette::Text), QColor(Qt::red));
      QCOMPARE(w->MasterPage->AutoTimer->interval(), 1000);
    }
    w->MasterPage->AutoIntervalEdit->setText("100000");
    QCOMPARE(w->MasterPage->AutoTimer->interval(), 100000);
    QVERIFY(w->MasterPage->AutoIntervalEdit->palette().color(QPalette::Text) != QColor(Qt::red));
    QTest::mouseClick(w->MasterPage->AutoCB, Qt::LeftButton);
    QVERIFY(!w->MasterPage->SendBtn->isEnabled() && !w->MasterPage->ReceiveBtn->isEnabled());
    QVERIFY(w->MasterPage->AutoTimer->isActive());
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
