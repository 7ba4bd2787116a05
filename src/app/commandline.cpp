// The window's command line: "/REG" or "/REGSIMPLE" with a device
// description, or "/SLAVE" (case ignored), read once 100 ms after start; and,
// beside them, "/MONITOR" with an optional second port.
#include <QComboBox>
#include <QFileInfo>
#include <QTabWidget>
#include <QTimer>

#include "app/mainform.h"
#include "app/monitorpage.h"
#include "app/registerspage.h"

namespace mkpt {

void TMainForm::ReadCommandLine() {
  ReconfigureTimer->stop();
  const QString first = Arguments.value(0).trimmed().toUpper();
  const QString second = Arguments.value(1).trimmed();
  if (first == "/REG" || first == "/REGSIMPLE") {
    ShowPage(2, wmRegisters);
    RegistersPage->SetCommandLineDevice(QFileInfo(second).isFile() ? second : QString(), first == "/REGSIMPLE");
  } else if (first == "/MONITOR") {
    if (!second.isEmpty()) MonitorPage->SecondPortCBox->setEditText(second);
    ShowPage(MonitorPageIndex, wmMonitor);
  } else if (first == "/SLAVE") {
    ShowPage(1, wmSlave);
  }
}

void TMainForm::ShowPage(int index, TWorkMode mode) {
  // A page shown from code raises no page change.
  RequestedMode = mode;
  {
    const QSignalBlocker quiet(ModePageControl);
    ModePageControl->setCurrentIndex(index);
  }
  RunOperation(opSwitchMode);
  ArrangeControls();
}

}  // namespace mkpt
