#include "app/scandialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

#include "app/portkeeper.h"
#include "app/qtext.h"
#include "modes/address.h"
#include "protocol/transport.h"
#include "text/textcut.h"

namespace mkpt {

namespace {

enum TColumn { ColAddress, ColLatency, ColAnswer };
constexpr int AddressRole = Qt::UserRole;

QString AddressText(const mkp::TVorelAddr& address) {
  return QString("%1 (%2)").arg(FromEngine(mkp::BusAddressHex(address)), FromEngine(mkp::BusAddressDotted(address)));
}

QLabel* CaptionFor(const QString& text, QWidget* control, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(control);
  control->setAccessibleName(QString(text).remove('&'));
  return label;
}

}  // namespace

// The scan as the window runs it: when a line over the network breaks under
// it, it waits for the line to come back and probes that address again.
class TScanDialog::TWindowScan : public mkp::TBusScan {
public:
  explicit TWindowScan(TReopeningLine* line) : line_(line) {}

protected:
  void Execute() override {
    Begin();
    while (!Done()) {
      Step();
      if (line_ != nullptr && line_->Lost()) {
        while (!line_->ReopenIfLost())
          if (!SleepFor(std::chrono::milliseconds(100))) return;
        Retry();
      }
      if (!SafePoint()) return;
    }
  }

private:
  TReopeningLine* line_;
};

TScanDialog::TScanDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("ScanDialog");
  setWindowTitle("Scan bus");
  setWindowModality(Qt::WindowModal);
  setSizeGripEnabled(true);

  FromEdit = new QLineEdit(this);
  FromEdit->setObjectName("ScanFromEdit");
  ToEdit = new QLineEdit(this);
  ToEdit->setObjectName("ScanToEdit");
  const QString addressHint = "Six hex digits (010200) or three numbers (1.2.0)";
  for (QLineEdit* edit : {FromEdit, ToEdit}) {
    edit->setToolTip(addressHint);
    edit->setAccessibleDescription(addressHint);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance("255.255.255") + 16);
  }
  TimeoutEdit = new QSpinBox(this);
  TimeoutEdit->setObjectName("ScanTimeoutEdit");
  TimeoutEdit->setRange(1, 60000);
  TimeoutEdit->setValue(mkp::TBusScan::DefaultTimeoutMs);
  TimeoutEdit->setToolTip("How long to wait for the answer of each address");
  ProbeCBox = new QComboBox(this);
  ProbeCBox->setObjectName("ScanProbeCBox");
  ProbeCBox->setEditable(true);
  ProbeCBox->setInsertPolicy(QComboBox::NoInsert);
  ProbeCBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  ProbeCBox->setMinimumContentsLength(30);
  const QString probeHint =
      "The packet sent to each address, as packet text; its destination is replaced by the address";
  ProbeCBox->setToolTip(probeHint);
  ProbeCBox->setAccessibleDescription(probeHint);

  Progress = new QProgressBar(this);
  Progress->setObjectName("ScanProgress");
  Progress->setAccessibleName("Addresses probed");
  Progress->setFormat("%v of %m");
  Progress->setRange(0, 1);
  Progress->setValue(0);
  ProbingLabel = new QLabel(this);
  ProbingLabel->setObjectName("ScanProbingLabel");
  ProbingLabel->setWordWrap(true);
  ProbingLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  ProbingLabel->setAccessibleName("Scan state");

  FoundList = new QTreeWidget(this);
  FoundList->setObjectName("ScanFoundList");
  FoundList->setRootIsDecorated(false);
  FoundList->setUniformRowHeights(true);
  FoundList->setAllColumnsShowFocus(true);
  FoundList->setHeaderLabels({"Address", "Latency", "Answer"});
  FoundList->header()->setStretchLastSection(true);
  FoundList->header()->setSectionResizeMode(ColAddress, QHeaderView::ResizeToContents);
  FoundList->header()->setSectionResizeMode(ColLatency, QHeaderView::ResizeToContents);
  const QString listHint = "Double-click an address (or press \"Set as device address\") to make it the device address";
  FoundList->setAccessibleDescription(listHint);
  FoundList->setToolTip(listHint);
  auto* hint = new QLabel(listHint, this);
  hint->setWordWrap(true);

  auto button = [this](const QString& caption, const char* name) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
  };
  ScanBtn = button("&Scan", "ScanBtn");
  ScanBtn->setDefault(true);
  ScanBtn->setToolTip("Probe each address of the range");
  StopBtn = button("S&top", "ScanStopBtn");
  StopBtn->setToolTip("End the scan after the address in hand");
  SetAddressBtn = button("Set as &device address", "ScanSetAddressBtn");
  SetAddressBtn->setToolTip("Make the chosen address the device address of the Registers page");
  CloseBtn = button("Close", "ScanCloseBtn");

  auto* grid = new QGridLayout(this);
  auto* range = new QHBoxLayout;
  range->addWidget(FromEdit);
  range->addWidget(CaptionFor("t&o", ToEdit, this));
  range->addWidget(ToEdit);
  range->addStretch(1);
  grid->addWidget(CaptionFor("&Range", FromEdit, this), 0, 0);
  FromEdit->setAccessibleName("Range from");
  ToEdit->setAccessibleName("Range to");
  grid->addLayout(range, 0, 1);
  auto* timeout = new QHBoxLayout;
  timeout->addWidget(TimeoutEdit);
  timeout->addStretch(1);
  grid->addWidget(CaptionFor("T&ime-out, ms", TimeoutEdit, this), 1, 0);
  grid->addLayout(timeout, 1, 1);
  grid->addWidget(CaptionFor("&Probe", ProbeCBox, this), 2, 0);
  grid->addWidget(ProbeCBox, 2, 1);
  grid->addWidget(Progress, 3, 0, 1, 2);
  grid->addWidget(ProbingLabel, 4, 0, 1, 2);
  grid->addWidget(CaptionFor("&Found addresses", FoundList, this), 5, 0, 1, 2);
  grid->addWidget(FoundList, 6, 0, 1, 2);
  grid->addWidget(hint, 7, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(SetAddressBtn);
  buttons->addStretch(1);
  for (QPushButton* b : {ScanBtn, StopBtn, CloseBtn}) buttons->addWidget(b);
  grid->addLayout(buttons, 8, 0, 1, 2);
  grid->setRowStretch(6, 1);
  grid->setColumnStretch(1, 1);

  holdTimer_ = new QTimer(this);
  holdTimer_->setInterval(20);
  connect(holdTimer_, &QTimer::timeout, this, [this] {
    if (hold_ == nullptr || hold_->Pause(std::chrono::milliseconds(0))) Begin();
  });
  connect(ScanBtn, &QPushButton::clicked, this, &TScanDialog::StartScan);
  connect(StopBtn, &QPushButton::clicked, this, &TScanDialog::StopScan);
  connect(CloseBtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(SetAddressBtn, &QPushButton::clicked, this, [this] { ChooseRow(FoundList->currentItem()); });
  connect(FoundList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { ChooseRow(item); });
  connect(FoundList, &QTreeWidget::currentItemChanged, this, &TScanDialog::UpdateButtons);
  UpdateButtons();

  // Room for a decode line of about 80 characters, within the screen.
  const QFontMetrics metrics = fontMetrics();
  QSize size(std::max(sizeHint().width(), metrics.horizontalAdvance('0') * 80), metrics.lineSpacing() * 28);
  if (const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
  resize(size);
}

TScanDialog::~TScanDialog() {
  // Normally over before (StopAndWait); the held worker may be gone by now.
  if (scan_) scan_->Terminate();
  scan_.reset();
}

void TScanDialog::SetLine(mkp::TMKProtocolTransport* transport, mkp::TMKPParser* parser, mkp::TWorkerThread* hold) {
  transport_ = transport;
  parser_ = parser;
  hold_ = hold;
}

void TScanDialog::Prepare(const mkp::TVorelAddr& device, const std::string& descriptionProbe) {
  mkp::TVorelAddr from = device, to = device;
  from.Bytes[2] = 0x00;
  to.Bytes[2] = 0xFF;
  FromEdit->setText(FromEngine(mkp::BusAddressHex(from)));
  ToEdit->setText(FromEngine(mkp::BusAddressHex(to)));
  ProbeCBox->clear();
  if (!descriptionProbe.empty()) ProbeCBox->addItem(FromEngine(descriptionProbe));
  ProbeCBox->addItem(mkp::TBusScan::DefaultProbe);
  ProbeCBox->setCurrentIndex(0);
  if (ProbingLabel->text().isEmpty()) {  // no scan yet
    Tell("Press Scan to probe each address of the range.");
    Progress->setRange(0, 256);
    Progress->setValue(0);
  }
  ScanBtn->setFocus();
}

void TScanDialog::Tell(const QString& text) { ProbingLabel->setText(text); }

void TScanDialog::UpdateButtons() {
  const bool scanning = Scanning();
  ScanBtn->setEnabled(!scanning);
  StopBtn->setEnabled(scanning);
  for (QWidget* field : std::initializer_list<QWidget*>{FromEdit, ToEdit, TimeoutEdit, ProbeCBox})
    field->setEnabled(!scanning);
  SetAddressBtn->setEnabled(FoundList->currentItem() != nullptr);
}

void TScanDialog::StartScan() {
  if (Scanning() || transport_ == nullptr) return;
  const auto from = mkp::ParseBusAddress(ToEngine(FromEdit->text()));
  const auto to = mkp::ParseBusAddress(ToEngine(ToEdit->text()));
  if (!from || !to) {
    Tell(QString("The range's %1 address does not read: six hex digits (010200) or three numbers 0..255 (1.2.0).")
             .arg(!from ? "first" : "last"));
    (!from ? FromEdit : ToEdit)->setFocus();
    return;
  }
  auto scan = std::make_unique<mkp::TWorker<TWindowScan>>(dynamic_cast<TReopeningLine*>(transport_->Channel()));
  if (!scan->SetProbe(ToEngine(ProbeCBox->currentText().trimmed()))) {
    Tell("The probe is not packet text (for example " + QString(mkp::TBusScan::DefaultProbe) + ").");
    ProbeCBox->setFocus();
    return;
  }
  scan->SetTransport(transport_);
  scan->SetParser(parser_);
  scan->SetRange(*from, *to);
  scan->SetTimeout(std::chrono::milliseconds(TimeoutEdit->value()));
  // The scan's thread tells the dialog, in order, through its event queue.
  scan->SetOnProbe([this](const mkp::TVorelAddr& address, std::size_t index, std::size_t count) {
    QMetaObject::invokeMethod(this, [=, this] { ShowProbe(address, index, count); }, Qt::QueuedConnection);
  });
  scan->SetOnFind([this](const mkp::TScanFind& find) {
    QMetaObject::invokeMethod(this, [find, this] { AddFind(find); }, Qt::QueuedConnection);
  });
  scan->SetOnFinished([this](std::exception_ptr failure) {
    const QString why = FromEngine(mkp::TWorkerThread::FailureText(failure));
    QMetaObject::invokeMethod(this, [this, why] { Ended(why); }, Qt::QueuedConnection);
  });
  FoundList->clear();
  found_ = unexpected_ = 0;
  Progress->setRange(0, static_cast<int>(scan->Count()));
  Progress->setValue(0);
  scanView_ = scan.get();
  scan_ = std::move(scan);
  // The Registers automaton holds between two steps: the scan starts once it does.
  holding_ = hold_ != nullptr;
  waiting_ = true;
  UpdateButtons();
  if (hold_ != nullptr && !hold_->Pause(std::chrono::milliseconds(0))) {
    Tell("Waiting for the Registers page to finish the request in hand...");
    holdTimer_->start();
    return;
  }
  Begin();
}

void TScanDialog::Begin() {
  holdTimer_->stop();
  waiting_ = false;
  if (scan_) scan_->Start();
}

void TScanDialog::StopScan() {
  if (waiting_) {  // not started: it ends here
    holdTimer_->stop();
    waiting_ = false;
    Ended();
    return;
  }
  if (scan_) {
    scan_->Terminate();
    Tell("Stopping after the address in hand...");
  }
}

void TScanDialog::StopAndWait() {
  StopScan();
  while (Scanning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

void TScanDialog::ShowProbe(const mkp::TVorelAddr& address, std::size_t index, std::size_t count) {
  Progress->setRange(0, static_cast<int>(count));
  Progress->setValue(static_cast<int>(index));
  Tell("Probing " + AddressText(address));
}

void TScanDialog::AddFind(const mkp::TScanFind& find) {
  auto* item = new QTreeWidgetItem(FoundList);
  QString address = AddressText(find.Address);
  const QString answer = FromEngine(mkp::TrimRight(find.Decode.empty() ? find.Text : find.Decode));
  item->setText(ColLatency, QString::number(find.LatencyMs, 'f', 1) + " ms");
  item->setText(ColAnswer, answer);
  item->setToolTip(ColAnswer, FromEngine(find.Text) + "\n" + answer);
  item->setData(ColAddress, AddressRole, FromEngine(mkp::BusAddressDotted(find.Address)));
  if (find.Unexpected) {
    ++unexpected_;
    address += " unexpected";
    const QString why = "Not probed: it answered while " + FromEngine(mkp::BusAddressHex(find.Probed)) +
                        " was probed (a device at a wrong address?)";
    item->setToolTip(ColAddress, why);
    QFont italic = item->font(ColAddress);
    italic.setItalic(true);
    for (int c = ColAddress; c <= ColAnswer; ++c) item->setFont(c, italic);
  } else {
    ++found_;
  }
  item->setText(ColAddress, address);
  if (FoundList->currentItem() == nullptr) FoundList->setCurrentItem(item);
}

void TScanDialog::Ended(const QString& failure) {
  if (scanView_ != nullptr) {
    LastScanned = scanView_->Scanned();
    LastSeconds = scanView_->Seconds();
    const bool complete = scanView_->Done();
    Progress->setValue(static_cast<int>(LastScanned));
    Tell(QString("%1%2 of %3 addresses probed in %4 s: %5 found, %6 unexpected.")
             .arg(complete ? "" : "Stopped: ")
             .arg(LastScanned)
             .arg(scanView_->Count())
             .arg(LastSeconds, 0, 'f', 2)
             .arg(found_)
             .arg(unexpected_) +
         (failure.isEmpty() ? QString() : "\nThe scan ended on an error: " + failure));
  }
  scanView_ = nullptr;
  scan_.reset();
  if (holding_ && hold_ != nullptr) hold_->Resume();
  holding_ = false;
  UpdateButtons();
  if (pendingResult_ >= 0) {
    const int result = pendingResult_;
    pendingResult_ = -1;
    QDialog::done(result);
  }
}

QString TScanDialog::RowAddress(const QTreeWidgetItem* item) {
  return item != nullptr ? item->data(ColAddress, AddressRole).toString() : QString();
}

void TScanDialog::ChooseRow(QTreeWidgetItem* item) {
  const QString dotted = RowAddress(item);
  if (dotted.isEmpty()) return;
  emit AddressChosen(dotted);
  Tell("Device address: " + dotted);
  done(QDialog::Accepted);
}

void TScanDialog::done(int result) {
  if (Scanning()) {  // the scan ends first; the dialog closes when it has
    pendingResult_ = result;
    StopScan();
    return;
  }
  QDialog::done(result);
}

}  // namespace mkpt
