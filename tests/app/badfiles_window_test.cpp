// The window given files that yield nothing: a slave table, a device
// description, a parse table and the settings file at start-up. Each is told
// in the dispatcher's error box, naming the file, and what the window had
// stays.
#include <QDir>
#include <QLabel>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "app/window_fixture.h"
#include "app/mainform.h"
#include "app/portframe.h"
#include "protocol/packet.h"
#include "serial/pty_pair.h"

using namespace mkpt;

namespace {

using TRecordingDialogs = mkptest::TAnsweringDialogs;
using mkptest::FrameOf;
using mkptest::WriteFile;

// Bytes of no text form at all.
std::string Noise() {
  std::string noise;
  std::uint32_t seed = 99;
  for (int i = 0; i < 4096; ++i) {
    seed = seed * 1664525u + 1013904223u;
    noise += static_cast<char>(seed >> 24);
  }
  return noise;
}

QString Refusal(const QString& file, const char* what) {
  return QString::fromUtf8("Ошибочное действие : ") + file + ": " + what;
}

const std::string Ping = "010203.0A0B0C.04.00.0000";
const std::string Ack = "0A0B0C.010203.01.00.0000";

}  // namespace

class BadFilesTest : public QObject {
  Q_OBJECT

private:
  QTemporaryDir dir_;
  QString previous_;
  std::shared_ptr<TRecordingDialogs> dialogs_;
  std::unique_ptr<mkptest::TPtyPair> pty_;

  std::unique_ptr<TMainForm> Window() { return std::make_unique<TMainForm>(dialogs_); }
  QString File(const QString& name, const std::string& content) {
    const QString path = dir_.filePath(name);
    WriteFile(path, content);
    return path;
  }

private slots:
  void init() {
    previous_ = QDir::currentPath();
    QVERIFY(dir_.isValid());
    QDir::setCurrent(dir_.path());
    dialogs_ = std::make_shared<TRecordingDialogs>();
    pty_ = std::make_unique<mkptest::TPtyPair>();
    WriteFile("mkpt.ini", "PortNumber=" + pty_->Path() + "\r\nReadIntervalTimeout=1\r\n");
  }
  void cleanup() { QDir::setCurrent(previous_); }

  void TheSlaveTableStaysAndTheResponderGoesOn() {
    auto w = Window();
    dialogs_->FileToOpen = File("good.smt", "<" + Ping + "> [" + Ack + "]\r\n");
    w->RunOperation(opLoadSlaveTable);
    QVERIFY(dialogs_->Errors.isEmpty());
    w->ModePageControl->setCurrentIndex(1);
    QCOMPARE(w->CurrentMode, wmSlave);

    for (const QString& bad : {File("noise.smt", Noise()), File("empty.smt", ""),
                               File("settings.smt", "PortNumber=COM1\r\nParity=NONE\r\n")}) {
      dialogs_->Errors.clear();
      dialogs_->FileToOpen = bad;
      w->RunOperation(opLoadSlaveTable);
      QCOMPARE(dialogs_->Errors, QStringList{Refusal(bad, "no slave table rows found")});
      QCOMPARE(w->SlavePage->SlaveTable->model()->rowCount(), 1);
      QCOMPARE(w->SlavePage->SlaveTable->model()->index(0, 0).data().toString(), QString::fromStdString(Ping));
    }
    // The responder was let go after the refused load and answers from the table.
    pty_->Write(FrameOf(Ping));
    QCOMPARE(pty_->Read(FrameOf(Ack).size(), 10000), FrameOf(Ack));
  }

  void TheDeviceStaysOnTheRegistersPage() {
    auto w = Window();
    w->ModePageControl->setCurrentIndex(2);
    QCOMPARE(w->CurrentMode, wmRegisters);
    dialogs_->FileToOpen = File("pump.rst", "{Flow} #1#\r\n{Level} #2#\r\n<010203.0A0B0C.06.05.0100 - 01> [1]\r\n");
    w->RunOperation(opSelectDevice);
    QVERIFY(dialogs_->Errors.isEmpty());
    QCOMPARE(w->StatusPanels[3]->text(), QString(" pump"));
    QTRY_COMPARE(w->RegistersPage->RegistersTable->model()->rowCount(), 2);  // the grid follows the table
    const QString event = QString::fromStdString(w->RegistersPage->Automat()->StepEventName());

    const QString bad = File("page.rst", "<html>\r\n<body>{no} registers</body>\r\n@@ONESTEPDELAY=5\r\n");
    dialogs_->FileToOpen = bad;
    w->RunOperation(opSelectDevice);
    QCOMPARE(dialogs_->Errors, QStringList{Refusal(bad, "no requests or registers found")});
    QCoreApplication::processEvents();  // a change of the table would reach the grid now
    QCOMPARE(w->RegistersPage->Rows.RowCount(), 2);
    QCOMPARE(w->RegistersPage->RegistersTable->model()->rowCount(), 2);
    QCOMPARE(w->RegistersPage->RegistersTable->model()->index(1, 0).data().toString(), QString("Level"));
    QVERIFY(w->StatusPanels[3]->text().startsWith(" pump"));  // the totals follow each second
    QCOMPARE(QString::fromStdString(w->RegistersPage->Automat()->StepEventName()), event);
    QCOMPARE(w->RegistersPage->Model.OneStepDelay, 0);
    QVERIFY(w->RegistersPage->RegistersBtns[0]->isEnabled());
  }

  void TheParseTableStays() {
    auto w = Window();
    dialogs_->FileToOpen = File("good.rtb", "COMMAND=7;REG=1;MASK=word\r\n");
    w->RunOperation(opLoadParseTable);
    QCOMPARE(w->StatusPanels[3]->text(), QString("good.rtb"));
    const QString bad = File("noise.rtb", Noise());
    dialogs_->FileToOpen = bad;
    w->RunOperation(opLoadParseTable);
    QCOMPARE(dialogs_->Errors, QStringList{Refusal(bad, "no parse table entries found")});
    QCOMPARE(w->StatusPanels[3]->text(), QString("good.rtb"));
    QCOMPARE(w->Parser.TableFileName, std::string("good.rtb"));
    QCOMPARE(w->Parser.ParseTables[7].Count(), 2);
  }

  void AGarbageSettingsFileIsToldAtStartUp() {
    WriteFile("mkpt.ini", Noise());
    auto w = Window();
    // Told once the window runs, after the port has been opened with the defaults.
    const QString told = Refusal("mkpt.ini", "no port settings found") + "\nThe port uses the default settings.";
    QTRY_VERIFY_WITH_TIMEOUT(dialogs_->Errors.contains(told), 5000);
    QCOMPARE(dialogs_->Errors.count(told), 1);
    QCOMPARE(w->PortSetupF->PortNumCBox->currentText(), QString("COM1"));
    QCOMPARE(w->PortSetupF->Settings().GetSpeed(), std::string("9600"));
  }
};

QTEST_MAIN(BadFilesTest)
#include "badfiles_window_test.moc"
