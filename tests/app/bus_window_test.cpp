// The window on a bus as it really is, on the offscreen platform: the line
// options of the port settings frame and their mkpt.ini keys, a port over
// the network that breaks and comes back, and the bus scan dialog against a
// simulated bus of devices (mkptool device) at the far end of a virtual cable.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/mainform.h"
#include "app/portframe.h"
#include "app/scandialog.h"
#include "app/window_fixture.h"
#include "cli/tool_process.h"
#include "cli/tool_runner.h"
#include "modes/registers.h"
#include "serial/null_modem.h"

using namespace mkpt;
using mkptest::ReadFile;
using mkptest::WriteFile;

namespace {

const std::string Examples = std::string(MKP_SOURCE_DIR) + "/examples/";

// A serial device server that takes connections on 127.0.0.1 and can drop
// them, go away and come back on the same port.
class TTcpServer {
public:
  TTcpServer() { Listen(0); }
  ~TTcpServer() {
    Drop();
    Stop();
  }
  int Port() const { return port_; }
  std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
  bool Listen(int port) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 4) != 0) return false;
    socklen_t size = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    return true;
  }
  // Takes a waiting connection (the last one wins); true when one is held.
  bool Accept() {
    for (int fd; (fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
      Drop();
      client_ = fd;
    }
    return client_ >= 0;
  }
  std::string Received() {
    char buffer[4096];
    for (ssize_t n; client_ >= 0 && (n = ::read(client_, buffer, sizeof buffer)) > 0;)
      received_.append(buffer, static_cast<std::size_t>(n));
    return received_;
  }
  void Drop() {
    if (client_ >= 0) ::close(client_);
    client_ = -1;
  }
  void Stop() {
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }

private:
  int listener_ = -1, client_ = -1, port_ = 0;
  std::string received_;
};

int CountLines(TMainForm& w, const std::string& text) {
  w.DrainPanes();
  int count = 0;
  for (const auto& line : w.TerminalLB->Model().Lines()) count += line.Text == text ? 1 : 0;
  return count;
}

}  // namespace

class BusWindowTest : public QObject {
  Q_OBJECT

private:
  mkptest::TWindowScratch scratch_;

  std::unique_ptr<TMainForm> Window(const QStringList& arguments = {}) {
    auto w = std::make_unique<TMainForm>(scratch_.Dialogs);
    w->Arguments = arguments;
    w->show();
    return w;
  }

private slots:
  void init() { QVERIFY(scratch_.Enter()); }
  void cleanup() { scratch_.Leave(); }

  void LineOptionsAreSavedOnlyWhenOnAndReadBack() {
    scratch_.Dialogs->AnswerYes = true;
    const std::string ini = ReadFile("mkpt.ini");
    {
      auto w = Window();
      QVERIFY(!w->PortSetupF->EchoCB->isChecked() && !w->PortSetupF->Rs485CB->isChecked());
      w->close();
      QCOMPARE(ReadFile("mkpt.ini"), ini);  // both off: the file of the first version
    }
    {
      auto w = Window();
      QTest::mouseClick(w->PortSetupF->EchoCB, Qt::LeftButton);
      QTest::mouseClick(w->PortSetupF->Rs485CB, Qt::LeftButton);
      // A pseudo-terminal has no RS-485 mode: said, and the port is open all the same.
      QCOMPARE(w->Channel.State(), mkp::psOk);
      QVERIFY(w->Channel.LineOptions().Echo && w->Channel.LineOptions().Rs485);
      const QString note = mkp::Rs485UnsupportedText;
      QVERIFY(w->StatusPanels[2]->text().startsWith("Port settings OK"));
      QVERIFY(w->StatusPanels[2]->text().contains(note));
      QVERIFY(w->PortSetupF->Rs485CB->toolTip().contains(note));
      QVERIFY(scratch_.Dialogs->Errors.isEmpty());
      w->close();
      QCOMPARE(ReadFile("mkpt.ini"), ini + "Echo=1\r\nRS485=1\r\n");
    }
    WriteFile("mkpt.ini", ini + "echo=yes\r\n");
    auto w = Window();
    QVERIFY(w->PortSetupF->EchoCB->isChecked() && !w->PortSetupF->Rs485CB->isChecked());
    QVERIFY(w->Channel.LineOptions().Echo);
    QVERIFY(!w->StatusPanels[2]->text().contains("RS-485"));
  }

  void NetworkPortRefusedLostAndReopened() {
    TTcpServer server;
    const int port = server.Port();
    server.Stop();
    WriteFile("mkpt.ini", mkptest::IniFor("tcp://127.0.0.1:" + std::to_string(port)));
    {
      // Refused at the open: the box with the short reason, as for a local port.
      auto w = Window();
      QTRY_COMPARE(scratch_.Dialogs->Errors.size(), 1);
      const QString box = scratch_.Dialogs->Errors[0];
      QVERIFY2(box.startsWith("Invalid port settings!\n") && box.contains("refused"), qPrintable(box));
      QCOMPARE(w->PortSetupF->PortNumCBox->currentText(), QString::fromStdString(server.Url()));
    }
    scratch_.Dialogs->Errors.clear();
    QVERIFY(server.Listen(port));
    auto w = Window();
    QTRY_VERIFY(server.Accept());
    QCOMPARE(w->Channel.State(), mkp::psOk);
    w->MasterPage->HdrTextLE->setText("010203 0A0B0C 04 00 0000");

    // The server goes away: said in the status bar and once in the pane,
    // however often the window tries again meanwhile.
    server.Drop();
    server.Stop();
    QTRY_VERIFY_WITH_TIMEOUT(w->StatusPanels[2]->text() == "Connection lost", 5000);
    QTRY_COMPARE_WITH_TIMEOUT(CountLines(*w, "Connection lost"), 1, 5000);
    QTest::mouseClick(w->MasterPage->SendBtn, Qt::LeftButton);  // refused again: nothing hangs
    QCOMPARE(w->StatusPanels[2]->text(), QString("Connection lost"));
    QVERIFY(scratch_.Dialogs->Errors.isEmpty());

    // Back: the next send connects again with the same settings and goes out.
    w->InfoTimer->stop();
    QVERIFY(server.Listen(port));
    const std::vector<std::uint8_t> frame = mkptest::FrameOf("010203.0A0B0C.04.00.0000");
    QTRY_VERIFY_WITH_TIMEOUT((QTest::mouseClick(w->MasterPage->SendBtn, Qt::LeftButton), server.Accept() &&
                              server.Received().size() >= frame.size()), 5000);
    QCOMPARE(w->Channel.State(), mkp::psOk);
    w->RunOperation(opRefreshStatus);
    QCOMPARE(w->StatusPanels[2]->text(), QString("Port settings OK"));
    QCOMPARE(CountLines(*w, "Connection lost"), 1);

    // Lost again while nobody uses the line: the status tick takes it up.
    w->InfoTimer->start();
    server.Drop();
    QTRY_VERIFY_WITH_TIMEOUT(server.Accept(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(w->StatusPanels[2]->text(), QString("Port settings OK"), 5000);
    QCOMPARE(CountLines(*w, "Connection lost"), 2);
    scratch_.Dialogs->AnswerYes = true;
    w->close();
    QCOMPARE(ReadFile("mkpt.ini"), mkptest::IniFor(server.Url()));  // kept like a device path
  }

  void ScanDialogFindsTheDevicesAndSetsTheAddress() {
    // Two devices and a third that answers from a wrong address (0999FF).
    const std::string wrong = scratch_.Dir.filePath("wrong.smt").toStdString();
    WriteFile(QString::fromStdString(wrong), "<010230.0A0B0C.06.01.0100 - 01> [0A0B0C.0999FF.07.01.0200 - 01 05]\r\n");
    mkptest::TNullModem cable;
    mkptest::TToolProcess bus({"device", "--port", cable.PathB(), Examples + "device.rst",
                               Examples + "sensor.rst@010210", Examples + "sensor.rst@1.2.48", "--table", wrong});
    bool up = false;
    for (int attempt = 0; attempt < 20 && !up; ++attempt)
      up = mkptest::RunTool({"send", "--port", cable.PathA(), "--receive", "010210.0A0B0C.04.00.0000"}).Status == 0;
    QVERIFY(up);
    WriteFile("mkpt.ini", mkptest::IniFor(cable.PathA()));
    auto w = Window({"/REG", QString::fromStdString(Examples + "device.rst")});
    QTRY_COMPARE_WITH_TIMEOUT(w->CurrentMode, wmRegisters, 5000);
    auto* automat = dynamic_cast<mkp::TRegistersAutomat*>(w->Worker());
    QVERIFY(automat != nullptr);

    bool heldWhileScanning = false;
    scratch_.Dialogs->Answer = [&](QDialog& dialog) {
      auto& scan = dynamic_cast<TScanDialog&>(dialog);
      dialog.show();
      // The defaults: the device's range, the description's first request.
      if (scan.FromEdit->text() != "010200" || scan.ToEdit->text() != "0102FF" ||
          !scan.ProbeCBox->currentText().startsWith("010203.0A0B0C.06.")) return false;
      // Each control tells a screen reader what it is.
      for (QWidget* control : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (control->focusPolicy() != Qt::NoFocus && control->isVisible() &&
            QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty()) {
          qWarning() << "no accessible name:" << control;
          return false;
        }
      scan.ToEdit->setText("1.2.63");
      scan.TimeoutEdit->setValue(30);
      scan.ProbeCBox->setCurrentIndex(1);  // the default read of register 1
      QTest::mouseClick(scan.ScanBtn, Qt::LeftButton);
      heldWhileScanning = QTest::qWaitFor([&] { return automat->Held(); }, 5000) && scan.Scanning();
      if (!QTest::qWaitFor([&] { return !scan.Scanning(); }, 20000)) return false;
      if (scan.FoundList->topLevelItemCount() != 3) return false;
      QTreeWidgetItem* sensor = scan.FoundList->topLevelItem(1);
      if (scan.FoundList->topLevelItem(0)->text(0) != "010203 (1.2.3)" || sensor->text(0) != "010210 (1.2.16)" ||
          scan.FoundList->topLevelItem(2)->text(0) != "0999FF (9.153.255) unexpected" ||
          !sensor->text(1).endsWith(" ms") || sensor->text(2).isEmpty())
        return false;
      if (!scan.ProbingLabel->text().startsWith("64 of 64 addresses probed in ")) return false;
      const QRect row = scan.FoundList->visualItemRect(sensor);
      // A view takes a double click on the item it was pressed on.
      QTest::mouseClick(scan.FoundList->viewport(), Qt::LeftButton, {}, row.center());
      QTest::mouseDClick(scan.FoundList->viewport(), Qt::LeftButton, {}, row.center());
      return dialog.result() == QDialog::Accepted;
    };
    QTest::mouseClick(w->RegistersPage->ScanBtn, Qt::LeftButton);
    QCOMPARE(scratch_.Dialogs->DialogsShown, 1);
    QVERIFY(heldWhileScanning);
    QCOMPARE(w->RegistersPage->DeviceAddress, std::string("1.2.16"));
    QCOMPARE(automat->TargetAddress(), std::string("1.2.16"));
    QVERIFY(QTest::qWaitFor([&] { return !automat->Held(); }, 5000));  // going on after the scan
    // The probes and answers are in the panes, as in every mode.
    w->DrainPanes();
    bool probed = false;
    for (const auto& line : w->TerminalLB->Model().Lines()) probed = probed || line.Text.rfind("-> 010230.", 0) == 0;
    QVERIFY(probed);
  }
};

QTEST_MAIN(BusWindowTest)
#include "bus_window_test.moc"
