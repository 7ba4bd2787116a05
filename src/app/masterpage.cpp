#include "app/masterpage.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

#include "analysis/parser.h"
#include "app/dispatcher.h"
#include "app/geometry.h"
#include "app/pagehost.h"
#include "app/qtext.h"
#include "modes/master.h"
#include "protocol/transport.h"

namespace mkpt {

namespace {

QLineEdit* LabelledEdit(const QString& label, const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setAccessibleName(label);
  auto* caption = new QLabel(label, parent);
  caption->setObjectName(QString(name) + "Label");
  caption->setBuddy(edit);
  return edit;
}

// A checksum shown as the panel's text; a screen reader gets the caption as
// its description.
QLabel* ChecksumPanel(const char* name, const QString& caption, QWidget* parent) {
  auto* panel = new QLabel("FF FF FF FF", parent);
  panel->setObjectName(name);
  panel->setAccessibleDescription(caption);
  panel->setToolTip(caption);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAlignment(Qt::AlignCenter);
  panel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return panel;
}

QPushButton* Button(const QString& caption, const char* name, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  return button;
}

void PlaceLabelOf(QWidget* edit) {
  if (auto* label = edit->parentWidget()->findChild<QLabel*>(edit->objectName() + "Label")) {
    label->adjustSize();
    label->move(edit->x(), edit->y() - label->height() - 1);
  }
}

}  // namespace

TMasterPage::TMasterPage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheet1");
  OutboxPanel = new QFrame(this);
  OutboxPanel->setObjectName("OutboxPanel");
  OutboxPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  OutboxPanel->setLineWidth(1);
  HdrTextLE = LabelledEdit("Header", "HdrTextLE", OutboxPanel);
  HdrCSPanel = ChecksumPanel("HdrCSPanel", "Header checksum", OutboxPanel);
  BodyTextLE = LabelledEdit("Data block", "BodyTextLE", OutboxPanel);
  BodyCSPanel = ChecksumPanel("BodyCSPanel", "Data block checksum", OutboxPanel);
  AllPacketTextLE = LabelledEdit("Full packet", "AllPacketTextLE", OutboxPanel);
  SendBtn = Button("Send", "SendBtn", this);
  ReceiveBtn = Button("Receive", "ReceiveBtn", this);
  AutoCB = new QCheckBox("Automatic", this);
  AutoCB->setObjectName("AutoCB");
  AutoIntervalEdit = new QLineEdit(this);
  AutoIntervalEdit->setObjectName("AutoIntervalEdit");
  AutoIntervalEdit->setAccessibleName("Timeout, ms");
  auto* intervalLabel = new QLabel("Timeout, ms ", this);
  intervalLabel->setObjectName("AutoIntervalEditLabel");
  intervalLabel->setBuddy(AutoIntervalEdit);
  AutoTimer = new QTimer(this);
  AutoTimer->setObjectName("AutoTimer");
  AutoTimer->setInterval(1000);

  SendBtn->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
  new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), SendBtn, SendBtn, &QPushButton::animateClick);
  SendBtn->setToolTip("Send the full packet (Ctrl+Enter)");
  ReceiveBtn->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  ReceiveBtn->setToolTip("Wait for one reply (Ctrl+R)");

  TDispatcher& dispatcher = host_.Dispatcher();
  dispatcher.Add(opSendPacket, [this] {
    if (host_.Mode() != wmMonitor) SendPacket();  // a monitor never writes
  });
  dispatcher.Add(opReceivePacket, [this] {
    if (host_.Mode() != wmMonitor) ReceivePacket();  // the monitor reads the line
  });
  dispatcher.Add(opHeaderEdited, [this] { HeaderOrDataEdited(true); });
  dispatcher.Add(opDataBlockEdited, [this] { HeaderOrDataEdited(false); });
  // opFullPacketEdited does nothing: it is left out of the table.
  connect(HdrTextLE, &QLineEdit::textChanged, this, [&dispatcher] { dispatcher.Run(opHeaderEdited); });
  connect(BodyTextLE, &QLineEdit::textChanged, this, [&dispatcher] { dispatcher.Run(opDataBlockEdited); });
  connect(AllPacketTextLE, &QLineEdit::textChanged, this, [&dispatcher] { dispatcher.Run(opFullPacketEdited); });
  connect(SendBtn, &QPushButton::clicked, this, [&dispatcher] { dispatcher.Run(opSendPacket); });
  connect(ReceiveBtn, &QPushButton::clicked, this, [&dispatcher] { dispatcher.Run(opReceivePacket); });
  connect(AutoCB, &QCheckBox::clicked, this, &TMasterPage::OnAutoClicked);
  connect(AutoIntervalEdit, &QLineEdit::textChanged, this, &TMasterPage::OnAutoIntervalChanged);
  connect(AutoTimer, &QTimer::timeout, this, &TMasterPage::OnAutoTimer);
  AutoTimer->stop();
  AutoIntervalEdit->setText("1000");
}

QList<QWidget*> TMasterPage::TabChain() const {
  // As the controls stand: the three edits, then the row of Automatic, Send,
  // Receive and the interval from left to right.
  return {HdrTextLE, BodyTextLE, AllPacketTextLE, AutoCB, SendBtn, ReceiveBtn, AutoIntervalEdit};
}

void TMasterPage::Measure(TLayoutInput& in) const {
  const QFontMetrics metrics = fontMetrics();
  in.PanelBorder = OutboxPanel->frameWidth();
  in.LabelHeight = metrics.height();
  in.EditHeight = HdrTextLE->sizeHint().height();
  in.HeaderEditWidth = metrics.horizontalAdvance("00 00 00 00 00 00 00 00 00 00") + 24;
  in.HeaderChecksumWidth = metrics.horizontalAdvance("FF FF FF FF") + 28;
  in.DataChecksumWidth = in.HeaderChecksumWidth;
  in.ButtonHeight = SendBtn->sizeHint().height();
  in.AutoIntervalWidth = metrics.horizontalAdvance("1000000") + 16;
  if (const auto* label = findChild<QLabel*>("AutoIntervalEditLabel"))
    in.AutoIntervalLabelWidth = label->sizeHint().width();
  in.CheckBoxWidth = AutoCB->sizeHint().width();
  in.CheckBoxHeight = AutoCB->sizeHint().height();
}

void TMasterPage::Arrange(const TLayout& l) {
  Apply(OutboxPanel, l.OutboxPanel);
  const int border = OutboxPanel->frameWidth();
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
  if (auto* label = findChild<QLabel*>("AutoIntervalEditLabel")) {
    label->adjustSize();
    label->move(AutoIntervalEdit->x() - label->width() - 2,
                AutoIntervalEdit->y() + (AutoIntervalEdit->height() - label->height()) / 2);
  }
}

void TMasterPage::HeaderOrDataEdited(bool header) {
  QLineEdit* field = header ? HdrTextLE : BodyTextLE;
  QLabel* checksum = header ? HdrCSPanel : BodyCSPanel;
  checksum->setText(FromEngine(mkp::ChecksumText(ToEngine(field->text()))));
  AllPacketTextLE->setText(FromEngine(mkp::ComposeFullPacket(ToEngine(HdrTextLE->text()), ToEngine(BodyTextLE->text()),
                                                             ToEngine(HdrCSPanel->text()),
                                                             ToEngine(BodyCSPanel->text()))));
}

void TMasterPage::SendPacket() {
  const std::string shown = ToEngine(AllPacketTextLE->text());
  const auto bytes = mkp::FullPacketBytes(shown);
  if (!bytes) throw std::runtime_error("the full packet does not fit the 2066-byte send buffer");
  const std::string decodeInput = mkp::MasterDecodeInput(ToEngine(HdrTextLE->text()), ToEngine(BodyTextLE->text()));
  const std::string decodeLine = "-> " + host_.Parser().DescribeMaster(decodeInput);
  mkp::TMKProtocolTransport& transport = host_.Transport();
  // A refused write logs nothing: the channel's state shows in the status bar.
  host_.WaitFor([&] { transport.SendRaw(bytes->data(), bytes->size(), "-> " + shown, decodeLine); });
}

void TMasterPage::ReceivePacket() {
  mkp::TMKProtocolTransport& transport = host_.Transport();
  host_.WaitFor([&transport] {
    mkp::TPacketHolder packet;
    transport.ReceivePacket(*packet);
  });
}

void TMasterPage::OnAutoClicked() {
  const bool on = AutoCB->isChecked();
  SendBtn->setEnabled(!on);
  ReceiveBtn->setEnabled(!on);
  if (on)
    AutoTimer->start();
  else
    AutoTimer->stop();
}

void TMasterPage::OnAutoIntervalChanged() {
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

void TMasterPage::OnAutoTimer() {
  if (host_.Mode() != wmMaster || host_.Busy()) return;
  AutoTimer->stop();
  host_.Dispatcher().Run(opSendPacket);
  host_.Dispatcher().Run(opReceivePacket);
  if (AutoCB->isChecked()) AutoTimer->start();
}

}  // namespace mkpt
