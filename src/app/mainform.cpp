#include "app/mainform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTime>
#include <QTimer>

#include "app/findbar.h"
#include "app/geometry.h"
#include "app/logpanes.h"
#include "app/masterpage.h"
#include "app/monitorpage.h"
#include "app/offthread.h"
#include "app/pagehost.h"
#include "app/portframe.h"
#include "app/qtext.h"
#include "app/registerspage.h"
#include "app/slavepage.h"
#include "app/statuspanels.h"

namespace mkpt {

static constexpr const char* kModeNames[] = {"MASTER", "SLAVE", "REGISTERS", "MONITOR"};

// What the pages get of the form.
class TMainForm::THost final : public TPageHost {
public:
  explicit THost(TMainForm& form) : form_(form) {}
  mkp::TMKProtocolTransport& Transport() override { return form_.Transport; }
  mkp::TMKPParser& Parser() override { return form_.Parser; }
  TDispatcher& Dispatcher() override { return *form_.Dispatcher; }
  TDialogs& Dialogs() override { return *form_.dialogs_; }
  TWorkMode Mode() const override { return form_.CurrentMode; }
  mkp::TWorkerThread* Worker() const override { return form_.worker_.get(); }
  void ShowStatus(int panel, const QString& text) override {
    QLabel* label = form_.StatusPanels.at(static_cast<std::size_t>(panel));
    QMetaObject::invokeMethod(label, [label, text] { label->setText(text); }, Qt::AutoConnection);
  }
  void WaitFor(const std::function<void()>& work) override { form_.WaitFor(work); }
  bool Busy() const override { return form_.busy_; }
  void Rearrange() override { form_.ArrangeControls(); }

private:
  TMainForm& form_;
};

TMainForm::TMainForm(std::shared_ptr<TDialogs> dialogs, QWidget* parent)
    : QMainWindow(parent),
      dialogs_(dialogs ? std::move(dialogs) : std::make_shared<TQtDialogs>(this)),
      host_(std::make_unique<THost>(*this)) {
  setObjectName("MainForm");
  Arguments = QCoreApplication::arguments().mid(1);
  Dispatcher = new TDispatcher(*dialogs_, this);
  AddOperations();
  AddMenuOperations();
  CreateControls();
  CreateMenus();
  SetTabOrder();

  // Start-up, in this order: caption; the port from "mkpt.ini" before anything
  // else exists; analyser; transport; switches; timers.
  QApplication::setApplicationName(Caption);
  setWindowTitle(Caption);
  Transport.SetChannel(&PortKeeper.Line());
  mkp::TPortSettings& settings = PortSetupF->Settings();
  settings.ResetToDefaults();
  settings.OnSettingsChange = [this](mkp::TPortSettings::TControl sender) { OnChangePortSettings(sender); };
  if (const mkp::TLoadResult loaded = settings.LoadSettings(SettingsFile); loaded.NothingUsable())  // told when shown
    QTimer::singleShot(0, this, [this, text = FromEngine(loaded.Message())] {
      Dispatcher->ShowError(text + "\nThe port uses the default settings."); });

  Parser.AnalyzeMaster = true;
  Parser.AnalyzeSlave = true;
  Transport.SetTerminalBox(&TerminalPanel->TerminalFeed());
  Transport.SetDecodeBox(&TerminalPanel->DecodeFeed());
  Transport.AutoScroll = false;
  Transport.SetParser(&Parser);
  Transport.DecodeEnabled = true;
  Transport.TerminalAutosaveFile = TerminalAutosaveFile;
  Transport.DecodeAutosaveFile = mkp::DecodeFileNameFor(TerminalAutosaveFile);
  Transport.Autosave = false;
  AutosaveEnabled = false;
  Dispatcher->UpdateCheckMarks();
  {
    const QSignalBlocker quiet(ModePageControl);
    ModePageControl->setCurrentIndex(0);
  }
  TerminalSplitRatio = 0.5;
  ReconfigureTimer->start();
  InfoTimer->start();
  PaneTimer->start();
  RunOperation(opRefreshStatus);

  resize(1022, 653);
  setMinimumSize(797, 554);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

TMainForm::~TMainForm() {
  // The workers end (a receive under way ends within its time-out) before
  // anything they use goes away.
  worker_.reset();
  retired_.clear();
  Transport.SetTerminalBox(nullptr);
  Transport.SetDecodeBox(nullptr);
}

void TMainForm::CreateControls() {
  auto* client = new QWidget(this);
  setCentralWidget(client);
  ModePageControl = new QTabWidget(client);
  ModePageControl->setObjectName("ModePageControl");
  ModePageControl->setAccessibleName("Mode pages");
  MasterPage = new TMasterPage(*host_, ModePageControl);
  SlavePage = new TSlavePage(*host_, ModePageControl);
  RegistersPage = new TRegistersPage(*host_, ModePageControl);
  auto* terminal = new QWidget(ModePageControl);
  terminal->setObjectName("TabSheet4");
  SymbolTerminal = new QPlainTextEdit(terminal);  // free text, connected to nothing
  SymbolTerminal->setObjectName("SymbolTerminal");
  SymbolTerminal->setAccessibleName("Free text");
  TabSheets = {MasterPage, SlavePage, RegistersPage, terminal};
  const char* pageNames[] = {"Master", "Slave", "Registers", "Terminal"};
  for (std::size_t i = 0; i < TabSheets.size(); ++i) ModePageControl->addTab(TabSheets[i], pageNames[i]);

  // Monitor page: a listener that never writes.
  MonitorPage = new TMonitorPage([this] { return CurrentMode == wmMonitor ? worker_.get() : nullptr; });
  ModePageControl->addTab(MonitorPage, "Monitor");
  connect(MonitorPage, &TMonitorPage::SecondPortChanged, this, [this] {
    if (CurrentMode == wmMonitor) StartWorker(MakeWorker(wmMonitor), std::move(worker_));
  });
  connect(MonitorPage, &TMonitorPage::PauseChanged, this, [this] { DrainPanes(); });
  connect(MonitorPage, &TMonitorPage::ClearRequested, this, [this] { RunOperation(opClearTerminal); });
  connect(ModePageControl, &QTabWidget::currentChanged, this, &TMainForm::OnPageChanged);

  TerminalPanel = new TLogPanes(client);
  TerminalSplitter = TerminalPanel->Splitter;
  TerminalLB = TerminalPanel->TerminalLB;
  DecodeTerminalLB = TerminalPanel->DecodeTerminalLB;
  FindBar = TerminalPanel->FindBar;
  connect(TerminalPanel, &TLogPanes::FindBarToggled, this, &TMainForm::ArrangeControls);
  connect(TerminalPanel, &TLogPanes::SplitMoved, this, [this](double ratio) { TerminalSplitRatio = ratio; });

  PortSetupPanel = new QFrame(client);
  PortSetupPanel->setObjectName("PortSetupPanel");
  PortSetupPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PortSetupF = new TPortSetupFrame(PortSetupPanel);
  StatusPanels = CreateStatusPanels(statusBar());

  auto timer = [this](const char* name, int interval, auto onTick) {
    auto* t = new QTimer(this);
    t->setObjectName(name);
    t->setInterval(interval);
    connect(t, &QTimer::timeout, this, onTick);
    return t;
  };
  InfoTimer = timer("InfoTimer", 1000, [this] { RunOperation(opRefreshStatus); });
  ReconfigureTimer = timer("ReconfigureTimer", 100, [this] { ReadCommandLine(); });
  ReconfigureTimer->setSingleShot(true);
  PaneTimer = timer("PaneTimer", 30, [this] { DrainPanes(); });  // the engine's lines reach the panes in batches
}

// ---- Operations ------------------------------------------------------------------------

void TMainForm::AddOperations() {
  TDispatcher& d = *Dispatcher;
  d.Add(opApplyPortSettings, [this] { ApplyPortSettings(); });
  d.Add(opRefreshStatus, [this] { RefreshStatus(); });
  d.Add(opSwitchMode, [this] { SwitchMode(); });
  d.Add(opSaveTerminal, [this] { SaveTerminal(); });
  d.Add(opClearTerminal, [this] { ClearPanes(); });
  d.Add(opLoadParseTable, [this] { LoadParseTable(); });
  d.Add(opQuit, [this] { close(); });
}

void TMainForm::OnChangePortSettings(mkp::TPortSettings::TControl sender) {
  if (sender == mkp::TPortSettings::TControl::Frame) PortSetupF->Refresh();
  RunOperation(opApplyPortSettings);
}

void TMainForm::ApplyPortSettings() {
  const mkp::TPortSettings& s = PortSetupF->Settings();
  const bool opened = PortKeeper.Open(s, InfoTimer->isActive() ? host_.get() : nullptr);  // start-up: at once
  PortSetupF->ShowLineOptionsNote(PortKeeper.OptionsNote());
  if (!opened) {
    const QString text = "Invalid port settings!\n" + FromEngine(Channel.LastErrorBrief());
    // At start-up the box comes once the window is there.
    if (InfoTimer->isActive()) dialogs_->Error(text);
    else QTimer::singleShot(0, this, [this, text] { dialogs_->Error(text); });
  }
  // The second port follows the settings.
  if (CurrentMode == wmMonitor) StartWorker(MakeWorker(wmMonitor), std::move(worker_));
  if (InfoTimer) RefreshStatus();
}

void TMainForm::RefreshStatus() {
  std::erase_if(retired_, [](const auto& w) { return w->Finished(); });
  StatusPanels[0]->setText(StatusTimeText(QTime::currentTime()));
  StatusPanels[1]->setText(kModeNames[CurrentMode]);
  PortKeeper.Tick();  // a lost network line nobody uses is taken up
  QString tip, port = PortKeeper.StatusText(tip);
  if (CurrentMode == wmMonitor)
    if (const QString second = MonitorPage->SecondPortProblem(); !second.isEmpty()) {
      port += "; " + second;
      tip = (tip.isEmpty() ? StatusPanels[2]->text() : tip) + "\n" + MonitorPage->SecondPortCBox->toolTip();
    }
  StatusPanels[2]->setText(port);
  StatusPanels[2]->setToolTip(tip.isEmpty() ? port : tip);
  MonitorPage->Refresh();
  RegistersPage->Refresh();
}

void TMainForm::LoadParseTable() {
  const QString file = dialogs_->OpenFile("Open", "Table files (*.rtb);;All files (*)", "rtb");
  if (file.isEmpty()) return;
  // The worker of any mode describes packets with the table: it holds meanwhile.
  mkp::TWorkerPause hold(worker_.get());
  Parser.LoadTable(ToEngine(file)).ThrowIfNothingUsable();
  StatusPanels[3]->setText(FromEngine(Parser.TableFileName));
}

// ---- Panes -------------------------------------------------------------------------------

void TMainForm::DrainPanes() {
  if (!PanesHeld()) TerminalPanel->Drain(Transport.AutoScroll.load());
}

bool TMainForm::PanesHeld() const { return CurrentMode == wmMonitor && MonitorPage->Paused(); }

void TMainForm::ClearPanes() {
  // The next line is a pane's first: the transport's one timer starts again.
  Transport.RestartLineTimes();
  TerminalPanel->Clear();
}

void TMainForm::SaveTerminal() {
  const QString chosen =
      dialogs_->SaveFile("Save terminal data to file", "terminal files (*.dmp);;all files (*)", "dmp");
  if (chosen.isEmpty()) return;
  DrainPanes();
  TerminalPanel->Save(chosen);
}

// ---- Modes -------------------------------------------------------------------------------

void TMainForm::OnPageChanged(int index) {
  if (index >= 0 && index <= 2) RequestedMode = static_cast<TWorkMode>(index);
  if (index == MonitorPageIndex) RequestedMode = wmMonitor;
  RunOperation(opSwitchMode);
  ArrangeControls();
}

void TMainForm::SwitchMode() {
  if (CurrentMode == RequestedMode) return;
  // The old worker is asked to stop; it may still be inside a receive. The new
  // worker takes it over, drops what waited unread (a new mode never starts on
  // the old one's leftovers) and starts once the old one has let go of the line.
  std::unique_ptr<mkp::TWorkerThread> old = std::move(worker_);
  if (old) old->Terminate();
  auto worker = MakeWorker(RequestedMode);
  if (!worker) Transport.DropWaiting();
  else worker->SetOnTakeOver([this, now = mkp::TMonoClock::now()] { Transport.DropWaiting(now); });
  StartWorker(std::move(worker), std::move(old));
  CurrentMode = RequestedMode;
  // Registers mode and the monitor follow the traffic: autoscroll on.
  if ((CurrentMode == wmRegisters || CurrentMode == wmMonitor) && !Transport.AutoScroll.load())
    Dispatcher->RunBody(opToggleAutoscroll);
}

std::unique_ptr<mkp::TWorkerThread> TMainForm::MakeWorker(TWorkMode mode) {
  switch (mode) {
    case wmSlave: return SlavePage->MakeResponder();
    case wmRegisters: return RegistersPage->MakeAutomat();
    case wmMonitor: return MonitorPage->MakeMonitor(Transport, Channel, PortSetupF->Settings());
    case wmMaster: break;
  }
  return nullptr;
}

void TMainForm::StartWorker(std::unique_ptr<mkp::TWorkerThread> worker, std::unique_ptr<mkp::TWorkerThread> old) {
  if (worker) {
    worker->SetOnFinished([this](std::exception_ptr failure) { WorkerFinished(failure); });
    if (old) worker->HandOverFrom(std::move(old));
    worker->Start();
  }
  if (old) retired_.push_back(std::move(old));
  worker_ = std::move(worker);
}

void TMainForm::WorkerFinished(std::exception_ptr failure) {
  if (!failure) return;
  const QString text = FromEngine(mkp::TWorkerThread::FailureText(failure));
  QMetaObject::invokeMethod(this, [this, text] { Dispatcher->ShowError(text); }, Qt::QueuedConnection);
}

void TMainForm::WaitFor(const std::function<void()>& work) {
  busy_ = true;
  // Held while the exchange runs: the page controls and the port settings.
  const bool pagesEnabled = ModePageControl->isEnabled();
  ModePageControl->setEnabled(false);
  PortSetupPanel->setEnabled(false);
  const std::exception_ptr failure = RunOffThread(work);
  ModePageControl->setEnabled(pagesEnabled);
  PortSetupPanel->setEnabled(true);
  busy_ = false;
  DrainPanes();
  if (closeAfterWait_) QTimer::singleShot(0, this, &QWidget::close);
  if (failure) std::rethrow_exception(failure);
}

// ---- Layout and closing -----------------------------------------------------------------

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ArrangeControls();
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  ArrangeControls();
  // Once more after the pages have their first geometry.
  QTimer::singleShot(0, this, &TMainForm::ArrangeControls);
}

void TMainForm::ArrangeControls() {
  if (arranging_ || !centralWidget()) return;
  arranging_ = true;
  TLayoutInput in;
  in.OuterWidth = frameGeometry().width();
  in.ClientWidth = centralWidget()->width();
  in.ClientHeight = centralWidget()->height() + statusBar()->height();
  in.Mode = CurrentMode == wmRegisters ? TLayoutMode::Registers
            : CurrentMode == wmSlave   ? TLayoutMode::Slave
                                       : TLayoutMode::Master;
  in.SplitRatio = TerminalSplitRatio;
  // The page control's frame and tabs, as the style draws them: measured once
  // the control has its pages laid out, estimated before.
  in.PageFrameWidth = 4;
  in.PageFrameHeight = ModePageControl->tabBar()->sizeHint().height() + 4;
  if (const QWidget* page = ModePageControl->currentWidget();
      page && page->width() > 0 && ModePageControl->width() > page->width()) {
    in.PageFrameWidth = ModePageControl->width() - page->width();
    in.PageFrameHeight = ModePageControl->height() - page->height();
  }
  in.ButtonWidth = std::max(fontMetrics().horizontalAdvance("Change sddress") + 24, 100);
  MasterPage->Measure(in);
  SlavePage->Measure(in);
  RegistersPage->Measure(in);
  PortSetupF->FitWidth(in.ClientWidth);
  in.PortFrameWidth = std::min(PortSetupF->sizeHint().width(), in.ClientWidth);
  in.PortFrameHeight = PortSetupF->sizeHint().height();
  in.PortPanelBevel = PortSetupPanel->frameWidth();
  in.StatusBarHeight = statusBar()->height();
  in.GridLineWidth = 1;
  in.SplitterWidth = TerminalSplitter->handleWidth();
  in.MinimumPaneHeight = 10 * TPaneModel::ItemHeight + TerminalLB->horizontalScrollBar()->sizeHint().height() +
                         2 * TerminalLB->frameWidth();
  const TLayout l = mkpt::ArrangeControls(in);

  Apply(ModePageControl, l.PageControl);
  MasterPage->Arrange(l);
  SlavePage->Arrange(l);
  RegistersPage->Arrange(l);
  Apply(SymbolTerminal, l.SymbolTerminal);
  Apply(PortSetupPanel, l.PortPanel);
  Apply(PortSetupF, l.PortFrame);
  Apply(TerminalPanel, l.TerminalPanel);
  TerminalPanel->Place(l.TerminalPanel.Width, l.TerminalPanel.Height, l.TerminalPane.Width, l.DecodePane.Width);
  arranging_ = false;
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (busy_) {  // an exchange is under way: close when it ends
    closeAfterWait_ = true;
    RegistersPage->AbortTransmit();  // a transmit ends at its next wait
    event->ignore();
    return;
  }
  PaneTimer->stop();
  MasterPage->AutoTimer->stop();
  if (worker_) worker_->Terminate();
  if (dialogs_->AskYesNo("Save configuration?")) PortSetupF->Settings().SaveSettings(SettingsFile);
  event->accept();
}

}  // namespace mkpt
