#include "app/monitorpage.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/qtext.h"
#include "protocol/transport.h"
#include "serial/comport.h"
#include "serial/portlist.h"
#include "serial/portsettings.h"

namespace mkpt {

namespace {

QLabel* Counter(const char* name, const char* caption, QWidget* parent) {
  auto* label = new QLabel("0", parent);
  label->setObjectName(name);
  label->setAccessibleDescription(caption);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setMinimumWidth(label->fontMetrics().horizontalAdvance("0000000000") + 8);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

// The device a port name stands for, links followed.
QString CanonicalDevice(const std::string& name) {
  const QString path = FromEngine(mkp::PortDevicePath(name));
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? path : canonical;
}

const char* const kSecondPortHint = "A second receive line, read at the same time with the first port's line settings";

}  // namespace

TMonitorPage::TMonitorPage(std::function<mkp::TWorkerThread*()> worker, QWidget* parent)
    : QWidget(parent), worker_(std::move(worker)) {
  setObjectName("TabSheet5");
  SecondPortCBox = new QComboBox(this);
  SecondPortCBox->setObjectName("SecondPortCBox");
  SecondPortCBox->setAccessibleName("Second port");
  SecondPortCBox->setToolTip(kSecondPortHint);
  SecondPortCBox->setEditable(true);
  SecondPortCBox->setInsertPolicy(QComboBox::NoInsert);
  SecondPortCBox->setMinimumContentsLength(24);
  SecondPortCBox->addItem(QString());
  for (const std::string& name : mkp::SerialPortList()) SecondPortCBox->addItem(FromEngine(name));
  SecondPortCBox->setCurrentIndex(0);
  auto* portLabel = new QLabel("Second port", this);
  portLabel->setBuddy(SecondPortCBox);

  // A counter's text is its value; its caption is its buddy and description.
  FramesLabel = Counter("MonitorFramesLabel", "Frames seen", this);
  BadReadsLabel = Counter("MonitorBadReadsLabel", "Bad reads", this);
  RateLabel = Counter("MonitorRateLabel", "Frames per second", this);
  PauseCB = new QCheckBox("Pause", this);
  PauseCB->setObjectName("MonitorPauseCB");
  PauseCB->setAccessibleName("Pause");
  PauseCB->setToolTip("Hold the panes; lines are still taken and appear when Pause is cleared");
  ClearBtn = new QPushButton("Clear", this);
  ClearBtn->setObjectName("MonitorClearBtn");
  ClearBtn->setAccessibleName("Clear");
  ClearBtn->setToolTip("Clear both panes");

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(8, 8, 8, 8);
  grid->setHorizontalSpacing(8);
  grid->addWidget(portLabel, 0, 0);
  grid->addWidget(SecondPortCBox, 0, 1, 1, 3);
  auto caption = [this](const char* text, QWidget* buddy) {
    auto* label = new QLabel(text, this);
    label->setBuddy(buddy);
    return label;
  };
  grid->addWidget(caption("Frames seen", FramesLabel), 1, 0);
  grid->addWidget(FramesLabel, 1, 1);
  grid->addWidget(caption("Bad reads", BadReadsLabel), 1, 2);
  grid->addWidget(BadReadsLabel, 1, 3);
  grid->addWidget(caption("Frames per second", RateLabel), 1, 4);
  grid->addWidget(RateLabel, 1, 5);
  grid->addWidget(PauseCB, 0, 4);
  grid->addWidget(ClearBtn, 0, 5);
  auto* hint = new QLabel(
      "Listens to the bus and never writes. Frames that follow each other with no silence between them are told "
      "apart; bytes that start no frame are logged as \"Missing format\". With a second port (the two receive lines "
      "of a monitor cable) both are read at once, in time order, and each line shows its port: <-1 or <-2.",
      this);
  hint->setObjectName("MonitorHint");
  hint->setWordWrap(true);
  hint->setForegroundRole(QPalette::PlaceholderText);
  grid->addWidget(hint, 2, 0, 1, 7);
  grid->setColumnStretch(6, 1);
  grid->setRowStretch(3, 1);
  setTabOrder(SecondPortCBox, PauseCB);
  setTabOrder(PauseCB, ClearBtn);

  auto chosen = [this] {
    if (SecondPortCBox->currentText().trimmed() != applied_) emit SecondPortChanged();
  };
  connect(SecondPortCBox, QOverload<int>::of(&QComboBox::activated), this, chosen);
  connect(SecondPortCBox->lineEdit(), &QLineEdit::editingFinished, this, chosen);
  connect(PauseCB, &QCheckBox::toggled, this, &TMonitorPage::PauseChanged);
  connect(ClearBtn, &QPushButton::clicked, this, &TMonitorPage::ClearRequested);
}

std::unique_ptr<mkp::TWorkerThread> TMonitorPage::MakeMonitor(mkp::TMKProtocolTransport& transport,
                                                              mkp::TCOMPortChannel& first,
                                                              const mkp::TPortSettings& settings) const {
  auto monitor = std::make_unique<mkp::TWorker<mkp::TBusMonitor>>();
  monitor->SetTransport(&transport);
  monitor->SetLines(&first);
  applied_ = SecondPortCBox->currentText().trimmed();
  const std::string second = ToEngine(applied_);
  samePort_ = !second.empty() && CanonicalDevice(second) == CanonicalDevice(first.PortName());
  if (samePort_) {
    transport.AddTerminalLine("Second port " + second + " : the same port twice; " + first.PortName() +
                              " is the first port, read once");
  } else if (!second.empty()) {
    mkp::TPortOpening opening;
    opening.Name = second;
    opening.Speed = settings.GetSpeed();
    opening.StopBits = settings.GetStopBits();
    opening.Parity = settings.GetParity();
    opening.ReadInterval = settings.GetReadInterval();
    monitor->SetSecondPort(opening);
  }
  return monitor;
}

bool TMonitorPage::Paused() const { return PauseCB->isChecked(); }

mkp::TBusMonitor* TMonitorPage::Current() const {
  return dynamic_cast<mkp::TBusMonitor*>(worker_ ? worker_() : nullptr);
}

QString TMonitorPage::SecondPortProblem() const {
  const mkp::TBusMonitor* monitor = Current();
  if (monitor == nullptr || applied_.isEmpty()) return {};
  if (samePort_) return "Second port: the same port twice";
  const std::string why = monitor->SecondPortError();
  if (why.empty()) return {};
  const bool busy = why.find("in use") != std::string::npos;
  return "Second port: " + QString(busy ? "in use by another program" : "Invalid port settings!");
}

void TMonitorPage::Refresh() {
  const mkp::TBusMonitor* monitor = Current();
  const auto now = std::chrono::steady_clock::now();
  if (monitor == nullptr) {
    RateLabel->setText("0.0");
    counted_ = nullptr;
    return;
  }
  const std::uint64_t frames = monitor->Frames();
  FramesLabel->setText(QString::number(frames));
  BadReadsLabel->setText(QString::number(monitor->BadReads()));
  if (monitor == counted_ && now > lastRefresh_) {
    const double seconds = std::chrono::duration<double>(now - lastRefresh_).count();
    RateLabel->setText(QString::number(static_cast<double>(frames - lastFrames_) / seconds, 'f', 1));
  } else {
    RateLabel->setText("0.0");
  }
  counted_ = monitor;
  lastFrames_ = frames;
  lastRefresh_ = now;
  const std::string why = monitor->SecondPortError();
  SecondPortCBox->setToolTip(samePort_       ? applied_ + " is the first port itself: it is read once"
                             : why.empty() ? QString(kSecondPortHint)
                                           : "Could not be opened: " + FromEngine(why));
}

}  // namespace mkpt
