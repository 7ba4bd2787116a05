#include "app/registerspage.h"

#include <QEvent>
#include <QEventLoop>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <algorithm>

#include "app/addressform.h"
#include "app/dialogs.h"
#include "app/dispatcher.h"
#include "app/geometry.h"
#include "app/pagehost.h"
#include "app/qtext.h"
#include "app/registersgrid.h"
#include "app/registersplot.h"
#include "app/scandialog.h"
#include "modes/address.h"
#include "modes/registers.h"
#include "modes/registers_ops.h"
#include "modes/worker.h"

namespace mkpt {

namespace {

QPushButton* PageButton(const QString& caption, const char* name, const QString& hint, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setToolTip(hint);
  return button;
}

// The waits of selecting a device: the window's loop runs meanwhile.
class TEventLoopWaiter : public mkp::TWaiter {
public:
  void Sleep(int milliseconds) override {
    QEventLoop loop;
    QTimer::singleShot(std::max(milliseconds, 0), &loop, &QEventLoop::quit);
    loop.exec();
  }
};

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

TRegistersPage::TRegistersPage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheet3");
  RegistersTable = new QTableView(this);
  RegistersTable->setObjectName("RegistersTable");
  RegistersTable->setAccessibleName("Registers table");
  RegistersTable->verticalHeader()->hide();
  RegistersTable->setModel(new TRegistersGridModel(Rows, RegistersTable));
  RegistersTable->setTabKeyNavigation(false);  // the arrow keys move between cells
  // A click on a New value cell opens its editor; other cells cannot be edited.
  RegistersTable->setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::SelectedClicked |
                                  QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  RegistersTable->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(RegistersTable, &QWidget::customContextMenuRequested, this, &TRegistersPage::GridMenu);
  RegistersBtns[0] = PageButton("Selecr device", "RegistersBtn1", "Load device model from file", this);
  RegistersBtns[1] = PageButton("Transmit", "RegistersBtn2", "Send to device", this);
  RegistersBtns[2] = PageButton("Change sddress", "RegistersBtn3", "Change the Vorel-address of device", this);
  TDispatcher& dispatcher = host_.Dispatcher();
  dispatcher.Add(opSelectDevice, [this] { SelectDevice(); });
  dispatcher.Add(opTransmitRegisters, [this] { TransmitRegisters(); });
  dispatcher.Add(opChangeAddress, [this] { ChangeAddress(); });
  const int codes[] = {opSelectDevice, opTransmitRegisters, opChangeAddress};
  for (std::size_t i = 0; i < RegistersBtns.size(); ++i)
    connect(RegistersBtns[i], &QPushButton::clicked, this, [&dispatcher, code = codes[i]] { dispatcher.Run(code); });
  VORELAddrForm = new TVORELAddrForm(this);
  VORELAddrForm->hide();

  ResetStatsBtn = PageButton("Reset statistics", "RegistersResetStatsBtn", "Start the request counters again", this);
  connect(ResetStatsBtn, &QPushButton::clicked, this, &TRegistersPage::ResetStatistics);
  PlotBtn = PageButton("Plot", "RegistersPlotBtn",
                       "Show the plot window; a register is added to it with \"Plot\" in the grid's pop-up menu", this);
  connect(PlotBtn, &QPushButton::clicked, this, &TRegistersPage::ShowPlot);

  StatisticsTable = new QTableView(this);
  StatisticsTable->setObjectName("RegistersStatsTable");
  StatisticsTable->setAccessibleName("Request statistics");
  StatisticsTable->verticalHeader()->hide();
  StatisticsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StatisticsTable->setSelectionMode(QAbstractItemView::NoSelection);
  StatisticsTable->setWordWrap(false);
  StatisticsTable->setTextElideMode(Qt::ElideMiddle);
  StatisticsModel = new TStatisticsModel(Stats, StatisticsTable);
  StatisticsTable->setModel(StatisticsModel);
  StatisticsTable->verticalHeader()->setDefaultSectionSize(StatisticsTable->fontMetrics().height() + 6);
  // Two-word captions take two lines rather than the request's room.
  StatisticsTable->horizontalHeader()->setDefaultAlignment(Qt::Alignment(Qt::AlignCenter | Qt::TextWordWrap));
  // The request column takes what the counters leave of the visible width,
  // also when a scroll bar comes or goes.
  StatisticsTable->viewport()->installEventFilter(this);

  ScanBtn = PageButton("Scan bus...", "RegistersScanBtn",
                       "Find the devices on the bus: probe each address of a range and list those that answer", this);
  connect(ScanBtn, &QPushButton::clicked, this, &TRegistersPage::ScanBus);

  PlotItem = new QAction("Plot", this);
  PlotItem->setCheckable(true);
  Plot = new TRegistersPlot(History, Rows, host_.Dialogs(), this);
  Plot->hide();
}

std::unique_ptr<mkp::TWorkerThread> TRegistersPage::MakeAutomat() {
  return mkp::MakeRegistersAutomat(host_.Transport(), host_.Parser(), Rows, Model, DeviceAddress, &Stats, &History);
}

mkp::TRegistersAutomat* TRegistersPage::Automat() const {
  return host_.Mode() == wmRegisters ? dynamic_cast<mkp::TRegistersAutomat*>(host_.Worker()) : nullptr;
}

QList<QWidget*> TRegistersPage::TabChain() const {
  return {RegistersBtns[0], RegistersBtns[2], RegistersBtns[1], RegistersTable, ResetStatsBtn, PlotBtn,
          ScanBtn, StatisticsTable};
}

void TRegistersPage::Measure(TLayoutInput& in) const {
  int widest = 100;
  for (const QPushButton* button :
       {RegistersBtns[0], RegistersBtns[1], RegistersBtns[2], ResetStatsBtn, PlotBtn, ScanBtn})
    widest = std::max(widest, button->fontMetrics().horizontalAdvance(button->text()) + 24);
  in.ButtonWidth = std::max(in.ButtonWidth, widest);
}

void TRegistersPage::Arrange(const TLayout& l) {
  Apply(RegistersBtns[0], l.SelectDevice);
  Apply(RegistersBtns[2], l.ChangeAddress);
  Apply(RegistersBtns[1], l.Transmit);
  Apply(RegistersTable, l.RegistersTable);
  RegistersTable->setColumnWidth(0, l.RegisterColumnWidth);
  RegistersTable->setColumnWidth(1, l.ValueColumnWidth);
  RegistersTable->setColumnWidth(2, l.ValueColumnWidth);
  Apply(ResetStatsBtn, l.ResetStatistics);
  Apply(PlotBtn, l.PlotButton);
  Apply(ScanBtn, l.ScanBus);
  Apply(StatisticsTable, l.StatisticsTable);
  FitStatisticsColumns();
}

void TRegistersPage::FitStatisticsColumns() {
  // The counters as wide as six digits or the longest word of their
  // captions, which wrap in the header; the request text takes the rest of
  // the visible width.
  QHeaderView* header = StatisticsTable->horizontalHeader();
  const QFontMetrics cells = StatisticsTable->fontMetrics(), captions = header->fontMetrics();
  const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 8;
  int counters = 0;
  for (int c = 1; c < TStatisticsModel::ColumnCount; ++c) {
    int width = cells.horizontalAdvance("000000");
    for (const QString& word : QString(TStatisticsModel::Headers[c]).split(' '))
      width = std::max(width, captions.horizontalAdvance(word));
    StatisticsTable->setColumnWidth(c, width + margin);
    counters += width + margin;
  }
  header->setMinimumHeight(2 * captions.lineSpacing() + margin);
  const int request = std::max(header->sectionSizeHint(0), cells.horizontalAdvance("0A0B0C.0102") + 12);
  StatisticsTable->setColumnWidth(0, std::max(StatisticsTable->viewport()->width() - counters, request));
}

bool TRegistersPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == StatisticsTable->viewport() && event->type() == QEvent::Resize) FitStatisticsColumns();
  return QWidget::eventFilter(watched, event);
}

void TRegistersPage::Refresh() {
  StatisticsModel->Refresh();
  if (host_.Mode() != wmRegisters || deviceText_.isEmpty()) return;
  const mkp::TStatsTotals totals = Stats.Totals();
  host_.ShowStatus(3, deviceText_ + QString("  %1 sent, %2 answered").arg(totals.Sent).arg(totals.Answered));
}

void TRegistersPage::SetCommandLineDevice(const QString& file, bool lock) {
  CmdLineDeviceGiven = !file.isEmpty();
  CmdLineDeviceFile = file.left(255);
  host_.Dispatcher().Run(opSelectDevice);
  if (lock) {
    RegistersBtns[0]->setEnabled(false);
    RegistersBtns[0]->hide();
  }
}

void TRegistersPage::SelectDevice() {
  QString file = CmdLineDeviceFile;
  if (!CmdLineDeviceGiven) {
    file = host_.Dialogs().OpenFile("Open", "Device description files (*.rst);;All files (*)", "rst");
    if (file.isEmpty()) return;
  }
  const bool registers = host_.Mode() == wmRegisters;
  TEventLoopWaiter waiter;
  mkp::SelectDevice(ToEngine(file), Model, registers ? &Rows : nullptr, Automat(), waiter)
      .ThrowIfNothingUsable();  // a file with nothing usable: the box, and the device stays
  if (!registers) return;
  History.Clear();  // the rows belong to another device now
  Plot->Redraw();
  StatisticsModel->Refresh();
  host_.Rearrange();
  deviceText_ = FromEngine(mkp::DeviceStatusText(ToEngine(file)));
  host_.ShowStatus(3, deviceText_);
}

void TRegistersPage::TransmitRegisters() {
  if (host_.Mode() != wmRegisters || host_.Busy()) return;
  // The writes and their replies run off the window's thread (a reply read may
  // wait two seconds); the window paints on, and its input is held until the
  // writes end.
  abortTransmit_ = false;
  TTransmitWaiter waiter(abortTransmit_);
  mkp::TTransmitContext context;
  context.Transport = &host_.Transport();
  context.Parser = &host_.Parser();
  context.Automat = Automat();
  context.Model = &Model;
  context.Table = &Rows;
  context.DeviceAddress = DeviceAddress;
  context.Waiter = &waiter;
  context.ShowStatus = [this](const std::string& text) { host_.ShowStatus(2, FromEngine(text)); };
  mkp::TTransmitResult result = mkp::TTransmitResult::Done;
  bool aborted = false;
  host_.WaitFor([&] {
    try {
      result = mkp::TransmitRegisters(context);
    } catch (const TTransmitWaiter::TTransmitAborted&) {
      aborted = true;
    }
  });
  if (!aborted && result == mkp::TTransmitResult::Busy) host_.Dialogs().Information(mkp::TransmitBusyText);
}

void TRegistersPage::ChangeAddress() {
  if (host_.Mode() != wmRegisters) return;
  VORELAddrForm->SetAddressText(DeviceAddress);
  if (!host_.Dialogs().Run(*VORELAddrForm)) return;
  SetDeviceAddress(VORELAddrForm->AddressText());
}

void TRegistersPage::SetDeviceAddress(const std::string& address) {
  DeviceAddress = address.substr(0, 255);
  if (!DeviceAddress.empty())
    if (mkp::TRegistersAutomat* automat = Automat()) automat->SetTargetAddress(DeviceAddress);
}

void TRegistersPage::ScanBus() {
  // The range around the device: the address set, else the one the
  // description's first request goes to, else 000000.
  std::optional<mkp::TVorelAddr> device = mkp::ParseBusAddress(DeviceAddress);
  std::string probe;
  for (int i = 0; i < Model.Requests.Count() && probe.empty(); ++i) {
    mkp::TPacketHolder request;
    if (const std::string text = mkp::TDeviceModel::ItemText(Model.Requests, i); mkp::TextToPacket(text, *request)) {
      probe = text;
      if (!device) device = request->DstAddr;
    }
  }
  if (ScanDialog == nullptr) {  // made when first asked for, then kept with its finds
    ScanDialog = new TScanDialog(this);
    connect(ScanDialog, &TScanDialog::AddressChosen, this,
            [this](const QString& dotted) { SetDeviceAddress(ToEngine(dotted)); });
  }
  ScanDialog->SetLine(&host_.Transport(), &host_.Parser(), Automat());
  ScanDialog->Prepare(device.value_or(mkp::TVorelAddr{}), probe);
  host_.Dialogs().Run(*ScanDialog);
  ScanDialog->StopAndWait();  // nothing scans once the dialog is gone
}

void TRegistersPage::ResetStatistics() {
  Stats.Reset();
  Refresh();
}

QString TRegistersPage::PlotRefusal(int row) const {
  if (row < 1 || row > Rows.RowCount()) return "No such register";
  if (History.IsChosen(row)) return {};
  const std::string value = Rows.CurrentValue(row);
  if (value.empty()) return "No value yet: a register can be plotted once the device has answered with a number";
  if (!mkp::TValueHistory::NumericValue(value)) return "Not a number: only numeric values can be plotted";
  if (static_cast<int>(History.Chosen().size()) >= mkp::TValueHistory::MaxSeries)
    return QString("%1 registers are plotted already: take one off the plot first")
        .arg(mkp::TValueHistory::MaxSeries);
  return {};
}

bool TRegistersPage::CanPlot(int row) const { return PlotRefusal(row).isEmpty(); }

bool TRegistersPage::SetPlotted(int row, bool plotted) {
  if (plotted && !History.IsChosen(row) && !CanPlot(row)) return false;
  if (!History.Choose(row, plotted)) return false;
  Plot->Redraw();
  return true;
}

void TRegistersPage::ShowPlot() {
  Plot->show();
  Plot->raise();
  Plot->activateWindow();
}

void TRegistersPage::GridMenu(const QPoint& at) {
  const QModelIndex index = RegistersTable->indexAt(at);
  if (!index.isValid()) return;
  const int row = index.row() + 1;
  const QString refusal = PlotRefusal(row);
  PlotItem->setChecked(History.IsChosen(row));
  PlotItem->setEnabled(refusal.isEmpty());
  PlotItem->setToolTip(refusal.isEmpty() ? QString("Show this register's values in the plot window") : refusal);
  QMenu menu(RegistersTable);
  menu.setToolTipsVisible(true);
  menu.addAction(PlotItem);
  if (menu.exec(RegistersTable->viewport()->mapToGlobal(at)) != PlotItem) return;
  if (SetPlotted(row, PlotItem->isChecked()) && History.IsChosen(row)) ShowPlot();
}

}  // namespace mkpt
