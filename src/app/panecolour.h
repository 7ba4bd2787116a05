// The colours of the panes: sent, received and message lines, and the marks
// of the find text, all worked out from the pane's palette so that a dark
// desktop theme stays as readable as a light one.
#pragma once

#include <QColor>
#include <QPalette>
#include <QStyledItemDelegate>

#include "app/linematch.h"

namespace mkpt {

struct TPaneColours {
  QColor Sent, Received, Message;
  QColor Match;      // background of a found piece of text
  QColor MatchText;  // its text
  QColor For(TLineKind kind) const;
};

// Colours readable on the palette's base colour (a contrast of at least 4.5
// to 1), each of its own hue: sent lines take the hue of the palette's links.
TPaneColours PaneColoursFor(const QPalette& palette);
// The contrast ratio of two colours (1 to 21).
double Contrast(const QColor& a, const QColor& b);

// Paints a pane line: its colour, and the pieces that match the find text.
class TPaneDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  bool Coloured = true;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
  mutable qint64 paletteKey_ = -1;
  mutable TPaneColours colours_;
};

}  // namespace mkpt
