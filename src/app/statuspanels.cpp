#include "app/statuspanels.h"

#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTime>
#include <algorithm>

namespace mkpt {

QString StatusTimeText(const QTime& time) {
  QString format = QLocale::system().timeFormat(QLocale::LongFormat);
  format.remove(QRegularExpression("\\s*t+\\s*"));
  return time.toString(format.trimmed());
}

std::array<QLabel*, 4> CreateStatusPanels(QStatusBar* bar) {
  bar->setObjectName("MainStatusBar");
  bar->setSizeGripEnabled(false);
  QFont bold = bar->font();
  bold.setBold(true);
  bar->setFont(bold);
  const QFontMetrics metrics(bold);
  const int widths[] = {std::max(80, metrics.horizontalAdvance(StatusTimeText(QTime(23, 59, 59))) + 12),
                        std::max(100, metrics.horizontalAdvance("REGISTERS") + 16), 400, 50};
  const Qt::Alignment alignments[] = {Qt::AlignCenter, Qt::AlignCenter, Qt::AlignLeft | Qt::AlignVCenter,
                                      Qt::AlignLeft | Qt::AlignVCenter};
  const char* captions[] = {"Time", "Mode", "Port state", "File"};
  std::array<QLabel*, 4> panels{};
  for (std::size_t i = 0; i < panels.size(); ++i) {
    auto* panel = new QLabel(bar);
    panel->setObjectName(QString("StatusPanel%1").arg(i));
    panel->setFont(bold);
    panel->setAlignment(alignments[i]);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAccessibleDescription(captions[i]);
    if (i < 3) panel->setFixedWidth(widths[i]); else panel->setMinimumWidth(widths[i]);
    bar->addWidget(panel, i == 3 ? 1 : 0);
    panels[i] = panel;
  }
  return panels;
}

}  // namespace mkpt
