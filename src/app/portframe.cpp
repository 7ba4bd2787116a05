#include "app/portframe.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyleOptionFrame>

#include <algorithm>
#include <cstring>

#include "app/geometry.h"
#include "app/qtext.h"

namespace mkpt {

namespace {

constexpr const char* EchoHint =
    "Drop the echo of each write: for adapters that hand back every byte sent (two-wire RS-485)";
constexpr const char* Rs485Hint = "Ask the driver for RS-485 direction control (RTS on while sending)";

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
  // As wide as 12 characters, not as the longest path: the field shows a long
  // path shortened, the drop-down list whole.
  PortNumCBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  SpeedCBox = new QComboBox(this);
  SpeedCBox->setObjectName("SpeedCBox");
  // A speed off the list may be typed; the port decides whether it takes it.
  SpeedCBox->setEditable(true);
  SpeedCBox->setInsertPolicy(QComboBox::NoInsert);
  SpeedCBox->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{1,7}"), SpeedCBox));
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

  pairs_ = {{LabelFor("Port", PortNumCBox, this), PortNumCBox},
            {LabelFor("Baudrate", SpeedCBox, this), SpeedCBox},
            {LabelFor("Stop bit", StopBitCBox, this), StopBitCBox},
            {LabelFor("Parity", ParityCBox, this), ParityCBox},
            {LabelFor("Receive : byte-to-byte timeout, ms", ReadIntervalEd, this), ReadIntervalEd},
            {LabelFor("Send : byte-to-byte timeout, ms", WriteIntervalEd, this), WriteIntervalEd}};
  auto option = [this](const char* caption, const char* name, const char* hint, void (mkp::TPortSettings::*set)(bool)) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(name);
    box->setToolTip(hint);
    box->setAccessibleDescription(hint);
    connect(box, &QCheckBox::toggled, this, [this, set](bool on) {
      if (!refreshing_) (settings_.*set)(on);
    });
    return box;
  };
  EchoCB = option("Echo", "EchoCB", EchoHint, &mkp::TPortSettings::SetEcho);
  Rs485CB = option("RS-485", "Rs485CB", Rs485Hint, &mkp::TPortSettings::SetRs485);
  PlaceControls(false);
  setTabOrder(PortNumCBox, SpeedCBox);
  setTabOrder(SpeedCBox, StopBitCBox);
  setTabOrder(StopBitCBox, ParityCBox);
  setTabOrder(ParityCBox, ReadIntervalEd);
  setTabOrder(ReadIntervalEd, WriteIntervalEd);
  setTabOrder(WriteIntervalEd, EchoCB);
  setTabOrder(EchoCB, Rs485CB);

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
  connect(SpeedCBox->lineEdit(), &QLineEdit::editingFinished, this, &TPortSetupFrame::SpeedTyped);
  connect(ReadIntervalEd, &QLineEdit::textEdited, this,
          [this](const QString& text) { settings_.SetReadIntervalText(ToEngine(text)); });
  connect(WriteIntervalEd, &QLineEdit::textEdited, this,
          [this](const QString& text) { settings_.SetWriteIntervalText(ToEngine(text)); });
  Refresh();
  // The lists may narrow down to their shortest useful text, so that in one
  // row the captions never have to.
  for (auto [box, text] : {std::pair{PortNumCBox, "COM256"}, std::pair{SpeedCBox, "4000000"},
                           std::pair{StopBitCBox, "1.5"}, std::pair{ParityCBox, "Space"}})
    box->setMinimumWidth(std::min(box->sizeHint().width(),
                                  box->fontMetrics().horizontalAdvance(text) + 2 * box->fontMetrics().height()));
}

void TPortSetupFrame::PlaceControls(bool twoRows) {
  // One row; or two rows of three settings and one option, each row as wide
  // as it needs.
  std::vector<std::vector<QWidget*>> rows(twoRows ? 2 : 1);
  for (std::size_t i = 0; i < pairs_.size(); ++i) {
    auto& row = rows[twoRows ? i / 3 : 0];
    row.push_back(pairs_[i].first);
    row.push_back(pairs_[i].second);
  }
  rows.front().push_back(EchoCB);
  rows.back().push_back(Rs485CB);
  LayOutRows(this, rows, QMargins(4, 4, 4, 4));
  twoRows_ = twoRows;
}

void TPortSetupFrame::FitWidth(int width) {
  std::vector<QWidget*> controls;
  for (const auto& [caption, control] : pairs_) controls.insert(controls.end(), {caption, control});
  controls.insert(controls.end(), {EchoCB, Rs485CB});
  const int spacing = std::max(style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, this), 6);
  const bool twoRows = OneRowWidth(controls, QMargins(4, 4, 4, 4), spacing) > width;
  if (twoRows == twoRows_) return;
  PlaceControls(twoRows);
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

void TPortSetupFrame::SpeedTyped() {
  if (refreshing_) return;
  const std::string typed = ToEngine(SpeedCBox->currentText().trimmed());
  if (typed.empty() || typed == settings_.GetSpeed()) return;
  settings_.SelectSpeed(typed);  // a speed off the list joins it
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
  EchoCB->setChecked(settings_.GetEcho());
  Rs485CB->setChecked(settings_.GetRs485());
  refreshing_ = false;
}

void TPortSetupFrame::ShowLineOptionsNote(const QString& note) {
  Rs485CB->setToolTip(note.isEmpty() ? QString(Rs485Hint) : QString(Rs485Hint) + "\n" + note);
  Rs485CB->setAccessibleDescription(Rs485CB->toolTip());
}

}  // namespace mkpt
