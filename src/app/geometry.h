// Placing controls: at a rectangle of the window's layout, or in rows of a
// small bar that wraps when its width runs short.
#pragma once

#include <QBoxLayout>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "app/layout.h"

namespace mkpt {

inline void Apply(QWidget* widget, const TRect& r) { widget->setGeometry(r.Left, r.Top, r.Width, r.Height); }

// Lays the owner's controls out anew in the rows given, top to bottom; the
// stretching control takes a row's spare width, a row without it ends in
// empty space. The controls stay the owner's children.
inline void LayOutRows(QWidget* owner, const std::vector<std::vector<QWidget*>>& rows, const QMargins& margins,
                       QWidget* stretching = nullptr) {
  delete owner->layout();
  auto* column = new QVBoxLayout(owner);
  column->setContentsMargins(margins);
  column->setSpacing(2);
  for (const auto& controls : rows) {
    auto* row = new QHBoxLayout;
    bool stretched = false;
    for (QWidget* control : controls) {
      row->addWidget(control, control == stretching ? 1 : 0);
      stretched = stretched || control == stretching;
    }
    if (!stretched) row->addStretch(1);
    column->addLayout(row);
  }
}

// The least width of the controls side by side in one row of LayOutRows: a
// control's minimum width where one is set, else its minimum size hint (as
// the layout takes them).
inline int OneRowWidth(const std::vector<QWidget*>& controls, const QMargins& margins, int spacing) {
  int width = margins.left() + margins.right() + spacing * (static_cast<int>(controls.size()) - 1);
  for (const QWidget* control : controls)
    width += control->minimumWidth() > 0 ? control->minimumWidth() : control->minimumSizeHint().width();
  return width;
}

}  // namespace mkpt
