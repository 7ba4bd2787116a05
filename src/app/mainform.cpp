#include "app/mainform.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTime>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <thread>

#include "app/addressform.h"
#include "app/monitorpage.h"
#include "app/findbar.h"
#include "app/portframe.h"
#include "app/slavegrid.h"
#include "app/registerspage.h"
#include "modes/slave.h"
#include "app/qtext.h"
#include "modes/master.h"

namespace mkpt {

namespace {

constexpr const char* kModeNames[] = {"MASTER", "SLAVE", "REGISTERS", "MONITOR"};
constexpr int kMonitorPage = 4;

QLineEdit* LabelledEdit(const QString& label, const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setAccessibleName(label);
  auto* caption = new QLabel(label, parent);
  caption->setObjectName(QString(name) + "Label");
  caption->setBuddy(edit);
  return edit;
}

QLabel* ChecksumPanel(const char* name, QWidget* parent) {
  auto* panel = new QLabel("FF FF FF FF", parent);
  panel->setObjectName(name);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAlignment(Qt::AlignCenter);
  panel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return panel;
}

QPushButton* Button(const QString& caption, const char* name, const QString& hint, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  if (!hint.isEmpty()) button->setToolTip(hint);
  return button;
}

void PlaceLabelOf(QWidget* edit) {
  if (auto* label = edit->parentWidget()->findChild<QLabel*>(edit->objectName() + "Label")) {
    label->adjustSize();
    label->move(edit->x(), edit->y() - label->height() - 1);
  }
}

// The system's long time format without the time zone, which the 80-pixel
// panel has no room for.
QString TimeFormat() {
  QString format = QLocale::system().timeFormat(QLocale::LongFormat);
  format.remove(QRegularExpression("\\s*t+\\s*"));
  return format.trimmed();
}

void Apply(QWidget* widget, const TRect& r) { widget->setGeometry(r.Left, r.Top, r.Width, r.Height); }

}  // namespace

TMainForm::TMainForm(std::shared_ptr<TDialogs> dialogs, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs ? std::move(dialogs) : std::make_shared<TQtDialogs>(this)) {
  setObjectName("MainForm");
  Arguments = QCoreApplication::arguments().mid(1);
  CreateControls();
  CreateMenus();
  SetUpKeyboard();

  // Start-up, in this order: caption; the port from "mkpt.ini" before anything
  // else exists; analyser; transport; switches; timers.
  QApplication::setApplicationName(Caption);
  setWindowTitle(Caption);
  mkp::TPortSettings& settings = PortSetupF->Settings();
  settings.ResetToDefaults();
  settings.OnSettingsChange = [this](mkp::TPortSettings::TControl sender) { OnChangePortSettings(sender); };
  if (const mkp::TLoadResult loaded = settings.LoadSettings(SettingsFile); loaded.NothingUsable())  // told when shown
    QTimer::singleShot(0, this, [this, text = FromEngine(loaded.Message())] {
      ShowOperationError(text + "\nThe port uses the default settings."); });

  Parser.AnalyzeMaster = true;
  Parser.AnalyzeSlave = true;
  Transport.SetTerminalBox(&terminalFeed_);
  Transport.SetDecodeBox(&decodeFeed_);
  Transport.AutoScroll = false;
  Transport.SetParser(&Parser);
  Transport.DecodeEnabled = true;
  Transport.TerminalAutosaveFile = TerminalAutosaveFile;
  Transport.DecodeAutosaveFile = mkp::DecodeFileNameFor(TerminalAutosaveFile);
  Transport.Autosave = false;

  AutoTimer->stop();
  AutoIntervalEdit->setText("1000");
  AutosaveEnabled = false;
  UpdateCheckMarks();
  {
    const QSignalBlocker quiet(ModePageControl);
    ModePageControl->setCurrentIndex(0);
  }
  TerminalSplitRatio = 0.5;
  ReconfigureTimer->start();
  InfoTimer->start();
  PaneTimer->start();
  RunOperation(opRefreshStatus);

  VORELAddrForm = new TVORELAddrForm(this);
  VORELAddrForm->hide();

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
  const char* pageNames[] = {"Master", "Slave", "Registers", "Terminal"};
  for (int i = 0; i < 4; ++i) {
    TabSheets[static_cast<std::size_t>(i)] = new QWidget;
    TabSheets[static_cast<std::size_t>(i)]->setObjectName(QString("TabSheet%1").arg(i + 1));
    ModePageControl->addTab(TabSheets[static_cast<std::size_t>(i)], pageNames[i]);
  }

  // Master page.
  QWidget* master = TabSheets[0];
  OutboxPanel = new QFrame(master);
  OutboxPanel->setObjectName("OutboxPanel");
  OutboxPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  OutboxPanel->setLineWidth(1);
  HdrTextLE = LabelledEdit("Header", "HdrTextLE", OutboxPanel);
  HdrCSPanel = ChecksumPanel("HdrCSPanel", OutboxPanel);
  BodyTextLE = LabelledEdit("Data block", "BodyTextLE", OutboxPanel);
  BodyCSPanel = ChecksumPanel("BodyCSPanel", OutboxPanel);
  AllPacketTextLE = LabelledEdit("Full packet", "AllPacketTextLE", OutboxPanel);
  SendBtn = Button("Send", "SendBtn", {}, master);
  ReceiveBtn = Button("Receive", "ReceiveBtn", {}, master);
  AutoCB = new QCheckBox("Automatic", master);
  AutoCB->setObjectName("AutoCB");
  AutoIntervalEdit = new QLineEdit(master);
  AutoIntervalEdit->setObjectName("AutoIntervalEdit");
  AutoIntervalEdit->setAccessibleName("Timeout, ms");
  auto* intervalLabel = new QLabel("Timeout, ms ", master);
  intervalLabel->setObjectName("AutoIntervalEditLabel");
  intervalLabel->setBuddy(AutoIntervalEdit);
  connect(HdrTextLE, &QLineEdit::textChanged, this, [this] { RunOperation(opHeaderEdited); });
  connect(BodyTextLE, &QLineEdit::textChanged, this, [this] { RunOperation(opDataBlockEdited); });
  connect(AllPacketTextLE, &QLineEdit::textChanged, this, [this] { RunOperation(opFullPacketEdited); });
  connect(SendBtn, &QPushButton::clicked, this, [this] { RunOperation(opSendPacket); });
  connect(ReceiveBtn, &QPushButton::clicked, this, [this] { RunOperation(opReceivePacket); });
  connect(AutoCB, &QCheckBox::clicked, this, &TMainForm::OnAutoClicked);
  connect(AutoIntervalEdit, &QLineEdit::textChanged, this, &TMainForm::OnAutoIntervalChanged);

  // Slave page.
  QWidget* slave = TabSheets[1];
  SlaveTable = new QTableView(slave);
  SlaveTable->setObjectName("SlaveTable");
  SlaveTable->verticalHeader()->hide();
  SlaveTable->setModel(new TSlaveGridModel(SlaveRows, SlaveTable));
  SlaveTable->setCurrentIndex(SlaveTable->model()->index(0, 0));
  const char* slaveButtons[] = {"Add", "Delete", "Load", "Save"};
  for (int i = 0; i < 4; ++i)
    SlaveBtns[static_cast<std::size_t>(i)] =
        Button(slaveButtons[i], QString("SlaveBtn%1").arg(i + 1).toLatin1().constData(), {}, slave);
  connect(SlaveBtns[0], &QPushButton::clicked, this, [this] { SlaveRows.Add(SlaveCurrentRow()); });
  connect(SlaveBtns[1], &QPushButton::clicked, this, [this] { SlaveRows.Delete(SlaveCurrentRow()); });
  connect(SlaveBtns[2], &QPushButton::clicked, this, [this] { RunOperation(opLoadSlaveTable); });
  connect(SlaveBtns[3], &QPushButton::clicked, this, [this] { RunOperation(opSaveSlaveTable); });

  // Registers page.
  RegistersPage = new TRegistersPage(*this, *dialogs_, TabSheets[2]);
  RegistersTable = RegistersPage->RegistersTable;
  RegistersBtns = RegistersPage->RegistersBtns;

  // Terminal page: free text, connected to nothing.
  SymbolTerminal = new QPlainTextEdit(TabSheets[3]);
  SymbolTerminal->setObjectName("SymbolTerminal");

  // Monitor page: a listener that never writes.
  MonitorPage = new TMonitorPage([this] { return Monitor(); });
  ModePageControl->addTab(MonitorPage, "Monitor");
  connect(MonitorPage, &TMonitorPage::SecondPortChanged, this, [this] {
    if (CurrentMode == wmMonitor) RestartMonitor();
  });
  connect(MonitorPage, &TMonitorPage::PauseChanged, this, [this] { DrainPanes(); });
  connect(MonitorPage, &TMonitorPage::ClearRequested, this, [this] { RunOperation(opClearTerminal); });

  connect(ModePageControl, &QTabWidget::currentChanged, this, &TMainForm::OnPageChanged);

  // The panes.
  TerminalPanel = new QWidget(client);
  TerminalPanel->setObjectName("TerminalPanel");
  TerminalSplitter = new QSplitter(Qt::Horizontal, TerminalPanel);
  TerminalSplitter->setObjectName("TerminalSplitter");
  TerminalSplitter->setHandleWidth(4);
  TerminalSplitter->setChildrenCollapsible(false);
  TerminalSplitter->setOpaqueResize(true);
  TerminalLB = new TPaneView(TerminalSplitter);
  TerminalLB->setObjectName("TerminalLB");
  TerminalLB->setAccessibleName("Terminal log");
  DecodeTerminalLB = new TPaneView(TerminalSplitter);
  DecodeTerminalLB->setObjectName("DecodeTerminalLB");
  DecodeTerminalLB->setAccessibleName("Decode log");
  FindBar = new TFindBar({TerminalLB, DecodeTerminalLB}, TerminalPanel);
  connect(FindBar, &TFindBar::Toggled, this, &TMainForm::ArrangeControls);
  connect(TerminalSplitter, &QSplitter::splitterMoved, this, [this] {
    const QList<int> sizes = TerminalSplitter->sizes();
    if (sizes.size() == 2) TerminalSplitRatio = SplitRatioOf(sizes[0], sizes[1]);
  });

  // The port settings.
  PortSetupPanel = new QFrame(client);
  PortSetupPanel->setObjectName("PortSetupPanel");
  PortSetupPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PortSetupF = new TPortSetupFrame(PortSetupPanel);

  // The status bar: bold, four panels.
  QStatusBar* bar = statusBar();
  bar->setObjectName("MainStatusBar");
  bar->setSizeGripEnabled(false);
  QFont bold = bar->font();
  bold.setBold(true);
  bar->setFont(bold);
  const int widths[] = {80, 100, 400, 50};
  const Qt::Alignment alignments[] = {Qt::AlignCenter, Qt::AlignCenter, Qt::AlignLeft | Qt::AlignVCenter,
                                      Qt::AlignLeft | Qt::AlignVCenter};
  for (int i = 0; i < 4; ++i) {
    auto* panel = new QLabel(bar);
    panel->setObjectName(QString("StatusPanel%1").arg(i));
    panel->setFont(bold);
    panel->setAlignment(alignments[i]);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (i < 3) panel->setFixedWidth(widths[i]); else panel->setMinimumWidth(widths[i]);
    bar->addWidget(panel, i == 3 ? 1 : 0);
    StatusPanels[static_cast<std::size_t>(i)] = panel;
  }

  // Timers.
  InfoTimer = new QTimer(this);
  InfoTimer->setObjectName("InfoTimer");
  InfoTimer->setInterval(1000);
  connect(InfoTimer, &QTimer::timeout, this, [this] { RunOperation(opRefreshStatus); });
  AutoTimer = new QTimer(this);
  AutoTimer->setObjectName("AutoTimer");
  AutoTimer->setInterval(1000);
  connect(AutoTimer, &QTimer::timeout, this, &TMainForm::OnAutoTimer);
  ReconfigureTimer = new QTimer(this);
  ReconfigureTimer->setObjectName("ReconfigureTimer");
  ReconfigureTimer->setInterval(100);
  ReconfigureTimer->setSingleShot(true);
  connect(ReconfigureTimer, &QTimer::timeout, this, &TMainForm::ReadCommandLine);
  // Lines made by the engine reach the panes in batches.
  PaneTimer = new QTimer(this);
  PaneTimer->setInterval(30);
  connect(PaneTimer, &QTimer::timeout, this, &TMainForm::DrainPanes);
}

// ---- The dispatcher ---------------------------------------------------------------

void TMainForm::ShowOperationError(const QString& message) {
  dialogs_->Error(QString::fromUtf8("Ошибочное действие : ") + message);
}

void TMainForm::RunOperation(int code) {
  try {
    RunBody(code);
  } catch (const std::exception& e) {
    ShowOperationError(FromEngine(e.what()));
  }
}

void TMainForm::RunBody(int code) {
  switch (code) {
    case opApplyPortSettings: ApplyPortSettings(); break;
    case opSendPacket:
      if (CurrentMode != wmMonitor) SendPacket();  // a monitor never writes
      break;
    case opReceivePacket:
      if (CurrentMode != wmMonitor) ReceivePacket();  // the monitor reads the line
      break;
    case opSaveTerminal: SaveTerminal(); break;
    case opToggleAutoscroll:
      Transport.AutoScroll = !Transport.AutoScroll.load();
      UpdateCheckMarks();
      break;
    case opHeaderEdited: HeaderOrDataEdited(true); break;
    case opDataBlockEdited: HeaderOrDataEdited(false); break;
    case opRefreshStatus: {
      std::erase_if(retired_, [](const auto& w) { return w->Finished(); });
      StatusPanels[0]->setText(QTime::currentTime().toString(TimeFormat()));
      StatusPanels[1]->setText(kModeNames[CurrentMode]);
      QString port, tip;
      switch (Channel.State()) {
        case mkp::psOk: port = "Port settings OK"; break;
        case mkp::psInvalid: {
          port = "Invalid port settings!";
          const std::string why = Channel.LastError();
          if (!why.empty()) {  // the short reason in the panel, the whole one in its tool tip
            tip = port + "  " + FromEngine(why);
            port += "  " + FromEngine(Channel.LastErrorBrief());
          }
          break;
        }
        case mkp::psFailed: port = "Last operation FAILED!"; break;
      }
      StatusPanels[2]->setText(port);
      StatusPanels[2]->setToolTip(tip.isEmpty() ? port : tip);
      MonitorPage->Refresh();
      RegistersPage->Refresh(CurrentMode == wmRegisters);
      break;
    }
    case opClearTerminal:
      ClearPanes();
      break;
    case opToggleShowTime: {
      const bool on = !TerminalLB->Model().ShowTime();
      TerminalLB->Model().SetShowTime(on);
      DecodeTerminalLB->Model().SetShowTime(on);
      Transport.AutosaveTimes = on;
      UpdateCheckMarks();
      break;
    }
    case opSwitchMode: SwitchMode(); break;
    case opLoadSlaveTable: LoadSlaveTable(); break;
    case opSaveSlaveTable: SaveSlaveTable(); break;
    case opSelectDevice: RegistersPage->SelectDevice(); break;
    case opLoadParseTable: LoadParseTable(); break;
    case opTransmitRegisters: TransmitRegisters(); break;
    case opChangeAddress: RegistersPage->ChangeAddress(); break;
    case opToggleAnalyzeMaster: Parser.AnalyzeMaster = !Parser.AnalyzeMaster; UpdateCheckMarks(); break;
    case opToggleAnalyzeSlave: Parser.AnalyzeSlave = !Parser.AnalyzeSlave; UpdateCheckMarks(); break;
    case opToggleArrayAlign: Parser.ArrayAlign = !Parser.ArrayAlign; UpdateCheckMarks(); break;
    case opToggleAutosave:
      AutosaveEnabled = !AutosaveEnabled;
      Transport.Autosave = AutosaveEnabled;
      UpdateCheckMarks();
      break;
    case opQuit: close(); break;
    default:
      if (code >= opToggleHexFirst && code <= opToggleHexLast) {
        bool& flag = Parser.ShowAsHex[static_cast<std::size_t>(code - opToggleHexFirst)];
        flag = !flag;
        UpdateCheckMarks();
      } else {
        RunPaneTool(code);
      }
      // 1, 6 and codes outside the table do nothing; the Slave and Registers
      // operations come with their pages.
      break;
  }
}

// ---- Port ---------------------------------------------------------------------------

void TMainForm::OnChangePortSettings(mkp::TPortSettings::TControl sender) {
  if (sender == mkp::TPortSettings::TControl::Frame) PortSetupF->Refresh();
  RunOperation(opApplyPortSettings);
}

void TMainForm::ApplyPortSettings() {
  const mkp::TPortSettings& s = PortSetupF->Settings();
  const bool opened = Channel.OpenPort(s.GetPortName(), s.GetSpeed(), s.GetStopBits(), s.GetParity(),
                                       s.GetReadInterval(), s.GetWriteInterval());
  if (!opened) {
    const QString text = "Invalid port settings!\n" + FromEngine(Channel.LastErrorBrief());
    // At start-up the box comes once the window is there.
    if (InfoTimer->isActive()) dialogs_->Error(text);
    else QTimer::singleShot(0, this, [this, text] { dialogs_->Error(text); });
  }
  if (CurrentMode == wmMonitor) RestartMonitor();  // the second port follows the settings
  if (InfoTimer) RunBody(opRefreshStatus);
}

// ---- Master page ----------------------------------------------------------------------

void TMainForm::HeaderOrDataEdited(bool header) {
  QLineEdit* field = header ? HdrTextLE : BodyTextLE;
  QLabel* checksum = header ? HdrCSPanel : BodyCSPanel;
  checksum->setText(FromEngine(mkp::ChecksumText(ToEngine(field->text()))));
  AllPacketTextLE->setText(FromEngine(mkp::ComposeFullPacket(ToEngine(HdrTextLE->text()), ToEngine(BodyTextLE->text()),
                                                             ToEngine(HdrCSPanel->text()),
                                                             ToEngine(BodyCSPanel->text()))));
}

void TMainForm::WaitFor(const std::function<void()>& work) {
  busy_ = true;
  // Held while the exchange runs: the Master page, the mode pages and the
  // port settings.
  const bool pagesEnabled = ModePageControl->isEnabled();
  ModePageControl->setEnabled(false);
  PortSetupPanel->setEnabled(false);
  std::exception_ptr failure;
  std::atomic<bool> done{false};
  QEventLoop loop;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  if (!done) loop.exec();
  worker.join();
  ModePageControl->setEnabled(pagesEnabled);
  PortSetupPanel->setEnabled(true);
  busy_ = false;
  DrainPanes();
  if (closeAfterWait_) QTimer::singleShot(0, this, &QWidget::close);
  if (failure) std::rethrow_exception(failure);
}

void TMainForm::SendPacket() {
  const std::string shown = ToEngine(AllPacketTextLE->text());
  const auto bytes = mkp::FullPacketBytes(shown);
  if (!bytes) throw std::runtime_error("the full packet does not fit the 2066-byte send buffer");
  const std::string decodeInput = mkp::MasterDecodeInput(ToEngine(HdrTextLE->text()), ToEngine(BodyTextLE->text()));
  const std::string decodeLine = "-> " + Parser.DescribeMaster(decodeInput);
  std::exception_ptr failure;
  WaitFor([&] {
    // A refused write logs nothing: the channel's state shows in the status bar.
    try {
      Transport.SendRaw(bytes->data(), bytes->size(), "-> " + shown, decodeLine);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  DrainPanes();
  if (failure) std::rethrow_exception(failure);
}

void TMainForm::ReceivePacket() {
  WaitFor([this] {
    mkp::TPacketHolder packet;
    Transport.ReceivePacket(*packet);
  });
}

void TMainForm::OnAutoClicked() {
  const bool on = AutoCB->isChecked();
  SendBtn->setEnabled(!on);
  ReceiveBtn->setEnabled(!on);
  if (on)
    AutoTimer->start();
  else
    AutoTimer->stop();
}

void TMainForm::OnAutoIntervalChanged() {
  QPalette palette = AutoIntervalEdit->palette();
  try {
    bool ok = false;
    const int value = AutoIntervalEdit->text().trimmed().toInt(&ok);
    if (!ok || value < 1 || value > 100000) throw EOperationError("not an interval");
    AutoTimer->setInterval(value);
    palette.setColor(QPalette::Text, QApplication::palette().color(QPalette::WindowText));
  } catch (const EOperationError&) {
    palette.setColor(QPalette::Text, Qt::red);
  }
  AutoIntervalEdit->setPalette(palette);
}

void TMainForm::OnAutoTimer() {
  if (CurrentMode != wmMaster || busy_) return;
  AutoTimer->stop();
  RunOperation(opSendPacket);
  RunOperation(opReceivePacket);
  if (AutoCB->isChecked()) AutoTimer->start();
}

// ---- Panes ----------------------------------------------------------------------------

void TMainForm::DrainPanes() {
  if (PanesHeld()) return;
  const bool scroll = Transport.AutoScroll.load();
  for (auto [feed, pane] : {std::pair{&terminalFeed_, TerminalLB}, std::pair{&decodeFeed_, DecodeTerminalLB}}) {
    std::uint64_t dropped = 0;
    auto lines = feed->Take(&dropped);
    if (!lines.empty() || dropped != 0) pane->Append(std::move(lines), scroll, dropped);
  }
}

bool TMainForm::PanesHeld() const { return CurrentMode == wmMonitor && MonitorPage->Paused(); }

void TMainForm::ClearPanes() {
  // What the feeds still hold goes too, and the next line is a pane's first.
  Transport.RestartLineTimes();
  for (TPaneFeed* feed : {&terminalFeed_, &decodeFeed_}) feed->Take();
  TerminalLB->Model().Clear();
  DecodeTerminalLB->Model().Clear();
}

void TMainForm::SaveTerminal() {
  const QString chosen = dialogs_->SaveFile("Save terminal data to file", "terminal files (*.dmp);;all files (*)", "dmp");
  if (chosen.isEmpty()) return;
  QString base = chosen;
  const QFileInfo info(chosen);
  if (!info.suffix().isEmpty() || info.fileName().endsWith('.'))
    base.chop(info.fileName().size() - info.fileName().lastIndexOf('.'));
  DrainPanes();
  for (const auto& [pane, extension] : {std::pair{TerminalLB, ".tr1"}, std::pair{DecodeTerminalLB, ".tr2"}}) {
    const std::string name = (base + extension).toStdString();
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    const std::string text = pane->Model().Text();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + mkp::Utf8ToCp1251(name));
  }
}

// ---- Modes and layout ---------------------------------------------------------------

void TMainForm::OnPageChanged(int index) {
  if (index >= 0 && index <= 2) RequestedMode = static_cast<TWorkMode>(index);
  if (index == kMonitorPage) RequestedMode = wmMonitor;
  RunOperation(opSwitchMode);
  ArrangeControls();
}

void TMainForm::SwitchMode() {
  if (CurrentMode == RequestedMode) return;
  // The old worker is asked to stop; it may still be inside a receive. A new
  // worker takes it over and starts only once it has let go of the transport.
  std::unique_ptr<mkp::TWorkerThread> old = std::move(worker_);
  if (old) old->Terminate();
  switch (RequestedMode) {
    case wmMaster:
      break;
    case wmSlave: {
      auto responder = std::make_unique<mkp::TWorker<mkp::TSlaveAutoRepeater>>();
      responder->SetTransport(&Transport);
      responder->SetTables(&SlaveRows);
      responder->SetOnFinished([this](std::exception_ptr failure) { WorkerFinished(failure); });
      if (old) responder->HandOverFrom(std::move(old));
      responder->Start();
      worker_ = std::move(responder);
      break;
    }
    case wmRegisters: {
      auto automat = mkp::MakeRegistersAutomat(Transport, Parser, RegisterRows, DeviceModel, DeviceAddress,
                                               &RegistersPage->Stats, &RegistersPage->History);
      automat->SetOnFinished([this](std::exception_ptr failure) { WorkerFinished(failure); });
      if (old) automat->HandOverFrom(std::move(old));
      automat->Start();
      worker_ = std::move(automat);
      if (!Transport.AutoScroll.load()) RunBody(opToggleAutoscroll);
      break;
    }
    case wmMonitor:
      StartMonitor(std::move(old));
      // A monitor follows the traffic, as Registers mode does.
      if (!Transport.AutoScroll.load()) RunBody(opToggleAutoscroll);
      break;
  }
  if (old) retired_.push_back(std::move(old));
  CurrentMode = RequestedMode;
}

void TMainForm::WorkerFinished(std::exception_ptr failure) {
  if (!failure) return;
  const QString text = FromEngine(mkp::TWorkerThread::FailureText(failure));
  QMetaObject::invokeMethod(
      this, [this, text] { ShowOperationError(text); },
      Qt::QueuedConnection);
}

mkp::TBusMonitor* TMainForm::Monitor() const {
  return CurrentMode == wmMonitor ? dynamic_cast<mkp::TBusMonitor*>(worker_.get()) : nullptr;
}

void TMainForm::RestartMonitor() { StartMonitor(std::move(worker_)); }

void TMainForm::StartMonitor(std::unique_ptr<mkp::TWorkerThread> old) {
  auto monitor = MonitorPage->MakeMonitor(Transport, Channel, PortSetupF->Settings());
  monitor->SetOnFinished([this](std::exception_ptr failure) { WorkerFinished(failure); });
  if (old) monitor->HandOverFrom(std::move(old));
  monitor->Start();
  worker_ = std::move(monitor);
}

mkp::TRegistersAutomat* TMainForm::Automat() const {
  return CurrentMode == wmRegisters ? dynamic_cast<mkp::TRegistersAutomat*>(worker_.get()) : nullptr;
}

namespace {

// The waits of a transmit, in its own thread; a window that is closing ends
// the transmit at its next wait.
class TTransmitWaiter : public mkp::TThreadWaiter {
public:
  explicit TTransmitWaiter(const std::atomic<bool>& abort) : abort_(abort) {}
  void Sleep(int milliseconds) override {
    if (abort_.load()) throw TTransmitAborted{};
    mkp::TThreadWaiter::Sleep(milliseconds);
  }
  struct TTransmitAborted {};

private:
  const std::atomic<bool>& abort_;
};

}  // namespace

void TMainForm::TransmitRegisters() {
  if (CurrentMode != wmRegisters || busy_) return;
  // The writes and their replies run off the window's thread (a reply read may
  // wait two seconds); the window paints on, and its input is held until the
  // writes end.
  abortTransmit_ = false;
  TTransmitWaiter waiter(abortTransmit_);
  mkp::TTransmitContext context;
  context.Transport = &Transport;
  context.Parser = &Parser;
  context.Automat = Automat();
  context.Model = &DeviceModel;
  context.Table = &RegisterRows;
  context.DeviceAddress = DeviceAddress;
  context.Waiter = &waiter;
  context.ShowStatus = [this](const std::string& text) {
    const QString shown = FromEngine(text);
    QMetaObject::invokeMethod(this, [this, shown] { StatusPanels[2]->setText(shown); }, Qt::QueuedConnection);
  };
  mkp::TTransmitResult result = mkp::TTransmitResult::Done;
  bool aborted = false;
  WaitFor([&] {
    try {
      result = mkp::TransmitRegisters(context);
    } catch (const TTransmitWaiter::TTransmitAborted&) {
      aborted = true;
    }
  });
  if (!aborted && result == mkp::TTransmitResult::Busy) dialogs_->Information(mkp::TransmitBusyText);
}

void TMainForm::ReadCommandLine() {
  ReconfigureTimer->stop();
  const QString first = Arguments.value(0).trimmed().toUpper();
  if (first.isEmpty()) return;
  const QString second = Arguments.value(1).trimmed();
  if (first == "/REG" || first == "/REGSIMPLE") {
    RequestedMode = wmRegisters;
    {
      const QSignalBlocker quiet(ModePageControl);
      ModePageControl->setCurrentIndex(2);
    }
    RunOperation(opSwitchMode);
    ArrangeControls();
    CmdLineDeviceGiven = !second.isEmpty() && QFileInfo(second).isFile();
    CmdLineDeviceFile = CmdLineDeviceGiven ? second.left(255) : QString();
    RunOperation(opSelectDevice);
    if (first == "/REGSIMPLE") {
      RegistersBtns[0]->setEnabled(false);
      RegistersBtns[0]->hide();
    }
  } else if (first == "/MONITOR") {
    // Beside the switches of the command line: the Monitor page, with the
    // second port when one is given.
    if (!second.isEmpty()) MonitorPage->SecondPortCBox->setEditText(second);
    RequestedMode = wmMonitor;
    {
      const QSignalBlocker quiet(ModePageControl);
      ModePageControl->setCurrentIndex(kMonitorPage);
    }
    RunOperation(opSwitchMode);
    ArrangeControls();
  } else if (first == "/SLAVE") {
    RequestedMode = wmSlave;
    {
      const QSignalBlocker quiet(ModePageControl);
      ModePageControl->setCurrentIndex(1);
    }
    RunOperation(opSwitchMode);
    ArrangeControls();
  }
}

int TMainForm::SlaveCurrentRow() const {
  const QModelIndex current = SlaveTable->currentIndex();
  return current.isValid() ? current.row() + 1 : 1;
}

void TMainForm::LoadSlaveTable() {
  const QString file = dialogs_->OpenFile("Open", "Table files (*.smt);;All files (*)", "smt");
  if (file.isEmpty()) return;
  // The responder holds at a safe point while the rows change.
  mkp::TWorkerPause hold(CurrentMode == wmSlave ? worker_.get() : nullptr);
  mkp::LoadSlaveTable(SlaveRows, ToEngine(file)).ThrowIfNothingUsable();
}

void TMainForm::LoadParseTable() {
  const QString file = dialogs_->OpenFile("Open", "Table files (*.rtb);;All files (*)", "rtb");
  if (file.isEmpty()) return;
  if (CurrentMode == wmMaster) {
    Parser.LoadTable(ToEngine(file)).ThrowIfNothingUsable();
  } else if (CurrentMode == wmSlave) {
    mkp::TWorkerPause hold(worker_.get());  // the responder describes packets with the table
    Parser.LoadTable(ToEngine(file)).ThrowIfNothingUsable();
  }
  StatusPanels[3]->setText(FromEngine(Parser.TableFileName));
}

void TMainForm::SaveSlaveTable() {
  const QString file = dialogs_->SaveFile("Save", "Table files (*.smt);;All files (*)", "smt");
  if (file.isEmpty()) return;
  mkp::SaveSlaveTable(SlaveRows, ToEngine(file));
}

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
  in.PanelBorder = OutboxPanel->frameWidth();
  in.LabelHeight = fontMetrics().height();
  in.EditHeight = HdrTextLE->sizeHint().height();
  in.HeaderEditWidth = fontMetrics().horizontalAdvance("00 00 00 00 00 00 00 00 00 00") + 24;
  in.HeaderChecksumWidth = fontMetrics().horizontalAdvance("FF FF FF FF") + 28;
  in.DataChecksumWidth = in.HeaderChecksumWidth;
  in.ButtonWidth = std::max(fontMetrics().horizontalAdvance("Change sddress") + 24, 100);
  in.ButtonHeight = SendBtn->sizeHint().height();
  in.AutoIntervalWidth = fontMetrics().horizontalAdvance("1000000") + 16;
  in.CheckBoxWidth = AutoCB->sizeHint().width();
  in.CheckBoxHeight = AutoCB->sizeHint().height();
  in.PortFrameWidth = std::min(PortSetupF->sizeHint().width(), in.ClientWidth);
  in.PortFrameHeight = PortSetupF->sizeHint().height();
  in.PortPanelBevel = PortSetupPanel->frameWidth();
  in.StatusBarHeight = statusBar()->height();
  in.GridLineWidth = 1;
  in.GridFrame = 2 * SlaveTable->frameWidth();
  in.SplitterWidth = TerminalSplitter->handleWidth();
  in.MinimumPaneHeight = 10 * TPaneModel::ItemHeight + TerminalLB->horizontalScrollBar()->sizeHint().height() +
                         2 * TerminalLB->frameWidth();
  const TLayout l = mkpt::ArrangeControls(in);

  Apply(ModePageControl, l.PageControl);
  Apply(OutboxPanel, l.OutboxPanel);
  const int border = in.PanelBorder;
  auto inOutbox = [border](TRect r) {
    r.Left += border;
    r.Top += border;
    return r;
  };
  Apply(HdrTextLE, inOutbox(l.HeaderEdit));
  Apply(HdrCSPanel, inOutbox(l.HeaderChecksum));
  Apply(BodyTextLE, inOutbox(l.DataEdit));
  Apply(BodyCSPanel, inOutbox(l.DataChecksum));
  Apply(AllPacketTextLE, inOutbox(l.FullPacketEdit));
  for (QWidget* edit : {static_cast<QWidget*>(HdrTextLE), static_cast<QWidget*>(BodyTextLE),
                        static_cast<QWidget*>(AllPacketTextLE)})
    PlaceLabelOf(edit);
  Apply(SendBtn, l.SendButton);
  Apply(ReceiveBtn, l.ReceiveButton);
  Apply(AutoCB, l.AutoCheck);
  Apply(AutoIntervalEdit, l.AutoInterval);
  if (auto* label = TabSheets[0]->findChild<QLabel*>("AutoIntervalEditLabel")) {
    label->adjustSize();
    label->move(AutoIntervalEdit->x() - label->width() - 2,
                AutoIntervalEdit->y() + (AutoIntervalEdit->height() - label->height()) / 2);
  }

  Apply(SlaveBtns[0], l.SlaveAdd);
  Apply(SlaveBtns[1], l.SlaveDelete);
  Apply(SlaveBtns[2], l.SlaveLoad);
  Apply(SlaveBtns[3], l.SlaveSave);
  Apply(SlaveTable, l.SlaveTable);
  TColumnFit::For(SlaveTable)->SetWidths({l.SlaveColumnWidth, l.SlaveColumnWidth});
  RegistersPage->Arrange(l);
  Apply(SymbolTerminal, l.SymbolTerminal);

  Apply(PortSetupPanel, l.PortPanel);
  Apply(PortSetupF, l.PortFrame);
  Apply(TerminalPanel, l.TerminalPanel);
  const int paneHeight = FindBar->Place(l.TerminalPanel.Width, l.TerminalPanel.Height);  // the find bar below
  TerminalSplitter->setGeometry(0, 0, l.TerminalPanel.Width, paneHeight);
  TerminalSplitter->setSizes({l.TerminalPane.Width, l.DecodePane.Width});
  arranging_ = false;
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (busy_) {  // an exchange is under way: close when it ends
    closeAfterWait_ = true;
    abortTransmit_ = true;  // a transmit ends at its next wait
    event->ignore();
    return;
  }
  PaneTimer->stop();
  AutoTimer->stop();
  if (worker_) worker_->Terminate();
  if (dialogs_->AskYesNo("Save configuration?")) PortSetupF->Settings().SaveSettings(SettingsFile);
  event->accept();
}

}  // namespace mkpt
