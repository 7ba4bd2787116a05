// The main window's capture switch and the log windows it opens.
#include <QComboBox>
#include <QStatusBar>

#include "analysis/parser.h"
#include "app/capturetool.h"
#include "app/logwindow.h"
#include "app/mainform.h"
#include "app/monitorpage.h"
#include "app/panes.h"
#include "app/portframe.h"
#include "app/qtext.h"

namespace mkpt {

void TMainForm::AddLogTools() {
  // The interfaces of a capture: the port, and the monitor's second port.
  auto ports = [this] {
    return std::pair{mkp::Cp1251ToUtf8(PortSetupF->Settings().GetPortName()),
                     MonitorPage->SecondPortCBox->currentText().trimmed().toStdString()};
  };
  Capture = new TCaptureTool(Transport, *Dispatcher, *dialogs_, statusBar(), StatusPanels[3], ports, this);
  connect(MonitorPage, &TMonitorPage::SecondPortChanged, Capture, &TCaptureTool::SecondPortChanged);

  Dispatcher->Add(opOpenLog, [this] {
    const QString file = dialogs_->OpenFile("Open log", TLogWindow::FileFilter, QString());
    if (file.isEmpty()) return;
    // The decode pane made anew as the main window's analyser would make it now.
    auto parser = std::make_unique<mkp::TMKPParser>();
    parser->CopySettingsFrom(Parser);
    const TLogWindow::TOptions options{TerminalLB->Model().ShowTime(), TerminalLB->Coloured(),
                                       TLogWindow::DefaultPaneCap};
    TLogWindow::Open(file, std::move(parser), dialogs_, options, this);
  });
}

}  // namespace mkpt
