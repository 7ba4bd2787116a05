#include "app/portframe.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyleOptionFrame>

#include <algorithm>
#include <cstring>

#include "app/qtext.h"

namespace mkpt {

namespace {

void Fill(QComboBox* box, const std::vector<std::string>& items, int index) {
  box->clear();
  for (const auto& item : items) box->addItem(FromEngine(item));
  box->setCurrentIndex(index);
}

QLabel* LabelFor(const QString& text, QWidget* control, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(control);
  control->setAccessibleName(text.trimmed());
  return label;
}

}  // namespace

QString ShownPortName(const QString& path, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(path) <= width) return path;
  QString name = path;
  for (const char* folder : {"/dev/serial/by-id/", "/dev/serial/by-path/", "/dev/"})
    if (name.startsWith(folder) && name.size() > static_cast<int>(std::strlen(folder))) {
      name = name.mid(static_cast<int>(std::strlen(folder)));
      break;
    }
  return metrics.elidedText(name, Qt::ElideMiddle, width);
}

QRect TPortLineEdit::TextArea() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
  r = r.marginsRemoved(textMargins());
  return r.adjusted(2, 0, -2, 0);  // the field's own margin beside the text
}

QString TPortLineEdit::ShownText() const {
  if (hasFocus()) return text();
  return ShownPortName(text(), fontMetrics(), TextArea().width());
}

void TPortLineEdit::paintEvent(QPaintEvent* event) {
  const QString shown = ShownText();
  if (shown == text()) {
    QLineEdit::paintEvent(event);
    return;
  }
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  painter.setPen(palette().color(isEnabled() ? QPalette::Normal : QPalette::Disabled, QPalette::Text));
  painter.drawText(TextArea(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

TPortSetupFrame::TPortSetupFrame(QWidget* parent) : QWidget(parent) {
  setObjectName("PortSetupF");
  PortNumCBox = new QComboBox(this);
  PortNumCBox->setObjectName("PortNumCBox");
  // The list offers COM names and the serial devices present; a device path
  // may also be typed.
  PortNumCBox->setEditable(true);
  PortNumCBox->setLineEdit(new TPortLineEdit(PortNumCBox));
  PortNumCBox->setInsertPolicy(QComboBox::NoInsert);
  // The drop-down shows whole paths; the field's tool tip the chosen one.
  PortNumCBox->view()->setTextElideMode(Qt::ElideNone);
  connect(PortNumCBox, &QComboBox::currentTextChanged, PortNumCBox, &QWidget::setToolTip);
  PortNumCBox->setMinimumContentsLength(12);
  SpeedCBox = new QComboBox(this);
  SpeedCBox->setObjectName("SpeedCBox");
  StopBitCBox = new QComboBox(this);
  StopBitCBox->setObjectName("StopBitCBox");
  ParityCBox = new QComboBox(this);
  ParityCBox->setObjectName("ParityCBox");
  auto twoDigits = [this](const char* name) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,2}"), edit));
    edit->setMaxLength(2);
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance("000") + 12);
    return edit;
  };
  ReadIntervalEd = twoDigits("ReadIntervalEd");
  WriteIntervalEd = twoDigits("WriteIntervalEd");

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(4, 4, 4, 4);
  row->addWidget(LabelFor("Port", PortNumCBox, this));
  row->addWidget(PortNumCBox);
  row->addWidget(LabelFor("Baudrate", SpeedCBox, this));
  row->addWidget(SpeedCBox);
  row->addWidget(LabelFor("Stop bit", StopBitCBox, this));
  row->addWidget(StopBitCBox);
  row->addWidget(LabelFor("Parity", ParityCBox, this));
  row->addWidget(ParityCBox);
  row->addWidget(LabelFor("Receive : byte-to-byte timeout, ms", ReadIntervalEd, this));
  row->addWidget(ReadIntervalEd);
  row->addWidget(LabelFor("Send : byte-to-byte timeout, ms", WriteIntervalEd, this));
  row->addWidget(WriteIntervalEd);
  setTabOrder(PortNumCBox, SpeedCBox);
  setTabOrder(SpeedCBox, StopBitCBox);
  setTabOrder(StopBitCBox, ParityCBox);
  setTabOrder(ParityCBox, ReadIntervalEd);
  setTabOrder(ReadIntervalEd, WriteIntervalEd);

  auto chosen = [this](QComboBox* box, void (mkp::TPortSettings::*set)(int)) {
    connect(box, qOverload<int>(&QComboBox::activated), this, [this, set](int index) {
      if (!refreshing_) (settings_.*set)(index);
    });
  };
  chosen(PortNumCBox, &mkp::TPortSettings::SetPortIndex);
  chosen(SpeedCBox, &mkp::TPortSettings::SetSpeedIndex);
  chosen(StopBitCBox, &mkp::TPortSettings::SetStopBitIndex);
  chosen(ParityCBox, &mkp::TPortSettings::SetParityIndex);
  connect(PortNumCBox->lineEdit(), &QLineEdit::editingFinished, this, &TPortSetupFrame::PortTyped);
  connect(ReadIntervalEd, &QLineEdit::textEdited, this,
          [this](const QString& text) { settings_.SetReadIntervalText(ToEngine(text)); });
  connect(WriteIntervalEd, &QLineEdit::textEdited, this,
          [this](const QString& text) { settings_.SetWriteIntervalText(ToEngine(text)); });
  Refresh();
}

void TPortSetupFrame::PortTyped() {
  if (refreshing_) return;
  const std::string typed = ToEngine(PortNumCBox->currentText().trimmed());
  if (typed.empty() || typed == settings_.GetPortName()) return;
  // A typed path is kept as written and added to the list; a COM name must be
  // one of the list. What the list shows afterwards is the selection.
  settings_.SelectPort(typed);
  Refresh();
}

void TPortSetupFrame::Refresh() {
  refreshing_ = true;
  Fill(PortNumCBox, settings_.PortItems(), settings_.PortIndex());
  int widest = 0;
  for (int i = 0; i < PortNumCBox->count(); ++i)
    widest = std::max(widest, PortNumCBox->view()->fontMetrics().horizontalAdvance(PortNumCBox->itemText(i)));
  PortNumCBox->view()->setMinimumWidth(widest + 40);
  PortNumCBox->setToolTip(PortNumCBox->currentText());
  Fill(SpeedCBox, settings_.SpeedItems(), settings_.SpeedIndex());
  Fill(StopBitCBox, settings_.StopBitItems(), settings_.StopBitIndex());
  Fill(ParityCBox, settings_.ParityItems(), settings_.ParityIndex());
  ReadIntervalEd->setText(FromEngine(settings_.ReadIntervalText()));
  WriteIntervalEd->setText(FromEngine(settings_.WriteIntervalText()));
  refreshing_ = false;
}

}  // namespace mkpt
