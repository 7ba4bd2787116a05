#include "app/findbar.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>

#include "app/geometry.h"
#include "app/linematch.h"
#include "app/panes.h"

namespace mkpt {

TFindBar::TFindBar(std::array<TPaneView*, 2> panes, QWidget* parent)
    : QWidget(parent), panes_(panes), pane_(panes[0]), lastFocused_(panes[0]) {
  setObjectName("FindBar");
  setAccessibleName("Find bar");
  PaneLabel = new QLabel(this);
  PaneLabel->setObjectName("FindPaneLabel");
  Field = new QLineEdit(this);
  Field->setObjectName("FindField");
  Field->setAccessibleName("Find text");
  Field->setClearButtonEnabled(true);
  Field->setMinimumWidth(fontMetrics().horizontalAdvance("0") * 24);
  Field->installEventFilter(this);
  PaneLabel->setBuddy(Field);
  fieldPalette_ = Field->palette();
  auto check = [this](const QString& caption, const char* name) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(name);
    box->setAccessibleName(QString(caption).remove('&'));
    return box;
  };
  RegexCB = check("Regular e&xpression", "FindRegexCB");
  CaseCB = check("Match &case", "FindCaseCB");
  FilterCB = check("F&ilter", "FindFilterCB");
  FilterCB->setToolTip("Show only the lines that match");
  PreviousBtn = new QPushButton("Previous", this);
  PreviousBtn->setObjectName("FindPreviousBtn");
  PreviousBtn->setToolTip("Previous match (Shift+F3)");
  NextBtn = new QPushButton("Next", this);
  NextBtn->setObjectName("FindNextBtn");
  NextBtn->setToolTip("Next match (F3)");
  CountLabel = new QLabel(this);
  CountLabel->setObjectName("FindCountLabel");
  CountLabel->setAccessibleName("Matching lines");
  CountLabel->setMinimumWidth(fontMetrics().horizontalAdvance("8097 of 8097") + 8);
  CloseBtn = new QToolButton(this);
  CloseBtn->setObjectName("FindCloseBtn");
  CloseBtn->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
  CloseBtn->setAutoRaise(true);
  CloseBtn->setToolTip("Close (Escape)");
  CloseBtn->setAccessibleName("Close the find bar");

  PlaceControls(false);
  setTabOrder(Field, PreviousBtn);
  setTabOrder(PreviousBtn, NextBtn);
  setTabOrder(NextBtn, RegexCB);
  setTabOrder(RegexCB, CaseCB);
  setTabOrder(CaseCB, FilterCB);
  setTabOrder(FilterCB, CloseBtn);

  connect(Field, &QLineEdit::textChanged, this, &TFindBar::QueryChanged);
  connect(RegexCB, &QCheckBox::toggled, this, &TFindBar::QueryChanged);
  connect(CaseCB, &QCheckBox::toggled, this, &TFindBar::QueryChanged);
  connect(FilterCB, &QCheckBox::toggled, this, &TFindBar::FilterChanged);
  connect(NextBtn, &QPushButton::clicked, this, &TFindBar::Next);
  connect(PreviousBtn, &QPushButton::clicked, this, &TFindBar::Previous);
  connect(CloseBtn, &QToolButton::clicked, this, &TFindBar::Close);
  // F3 and Shift+F3 anywhere in the window while the bar is shown.
  auto* next = new QShortcut(QKeySequence(Qt::Key_F3), this, this, &TFindBar::Next, Qt::WindowShortcut);
  auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this, this, &TFindBar::Previous,
                                 Qt::WindowShortcut);
  next->setObjectName("FindNextShortcut");
  previous->setObjectName("FindPreviousShortcut");
  // Escape in the bar or in the panes above it, while the bar is shown.
  escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), parent ? parent : this, this, &TFindBar::Close,
                          Qt::WidgetWithChildrenShortcut);
  escape_->setObjectName("FindCloseShortcut");
  escape_->setEnabled(false);

  // The pane last given the focus is the one searched.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    for (TPaneView* pane : panes_)
      if (now == pane) {
        lastFocused_ = pane;
        if (isVisible()) SetPane(pane);
      }
  });
  for (TPaneView* pane : panes_) {
    QAbstractItemModel* model = &pane->Model();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
      connect(model, signal, this, [this, pane] {
        if (pane == pane_ && isVisible()) ShowCount();
      });
    connect(model, &QAbstractItemModel::modelReset, this, [this, pane] {
      if (pane == pane_ && isVisible()) ShowCount();
    });
    connect(pane->selectionModel(), &QItemSelectionModel::currentChanged, this, [this, pane] {
      if (pane == pane_ && isVisible()) ShowCount();
    });
  }
  ShowPaneName();
  hide();
}

void TFindBar::ShowPaneName() {
  PaneLabel->setText(pane_ == panes_[0] ? "&Find in terminal log:" : "&Find in decode log:");
}

void TFindBar::Open(TPaneView* pane) {
  for (TPaneView* candidate : panes_)
    if (!pane && candidate->window()->focusWidget() == candidate) pane = candidate;
  SetPane(pane ? pane : lastFocused_);
  if (isHidden()) {
    show();
    escape_->setEnabled(true);
    emit Toggled();
    QueryChanged();
  }
  Field->setFocus(Qt::ShortcutFocusReason);
  Field->selectAll();
}

void TFindBar::Close() {
  if (isHidden()) return;
  TPaneView* pane = pane_;
  Detach();
  hide();
  escape_->setEnabled(false);
  emit Toggled();
  if (pane) pane->setFocus(Qt::OtherFocusReason);
}

void TFindBar::Detach() {
  if (!pane_) return;
  const long long current = pane_->CurrentLine();
  pane_->Model().SetFilter(false);
  pane_->Model().SetMatcher(nullptr);
  if (current >= 0) pane_->GoToLine(static_cast<std::size_t>(current));
}

void TFindBar::SetPane(TPaneView* pane) {
  if (!pane || pane == pane_) return;
  if (isVisible()) Detach();
  pane_ = pane;
  ShowPaneName();
  if (isVisible()) {
    pane_->Model().SetMatcher(matcher_);
    FilterChanged();
  }
}

namespace {

const QMargins kBarMargins(4, 2, 4, 2);

}  // namespace

std::vector<QWidget*> TFindBar::OneRow() const {
  return {PaneLabel, Field, PreviousBtn, NextBtn, RegexCB, CaseCB, FilterCB, CountLabel, CloseBtn};
}

void TFindBar::PlaceControls(bool twoRows) {
  // One row; where it does not fit, the options and the count go to a second.
  if (twoRows)
    LayOutRows(this, {{PaneLabel, Field, PreviousBtn, NextBtn, CloseBtn}, {RegexCB, CaseCB, FilterCB, CountLabel}},
               kBarMargins, Field);
  else
    LayOutRows(this, {OneRow()}, kBarMargins, Field);
  twoRows_ = twoRows;
}

int TFindBar::Place(int width, int height) {
  if (isHidden()) return height;
  const int spacing = style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, this);
  if (const bool twoRows = OneRowWidth(OneRow(), kBarMargins, std::max(spacing, 6)) > width; twoRows != twoRows_)
    PlaceControls(twoRows);
  const int h = std::min(sizeHint().height(), height);
  setGeometry(0, height - h, width, h);
  return height - h;
}

void TFindBar::QueryChanged() {
  if (isHidden() || !pane_) return;
  TFindQuery query;
  query.Text = Field->text().toStdString();
  query.Regex = RegexCB->isChecked();
  query.MatchCase = CaseCB->isChecked();
  if (!matcher_ || !(matcher_->Query() == query)) matcher_ = std::make_shared<const TLineMatcher>(query);
  QPalette palette = fieldPalette_;
  if (!matcher_->Error().empty()) {
    // Red, blended into the base colour: the theme's text stays readable on
    // it, dark on a light theme and light on a dark one.
    const QColor base = fieldPalette_.color(QPalette::Base);
    QColor red(220, 40, 40);
    palette.setColor(QPalette::Base, QColor((base.red() + 2 * red.red()) / 3, (base.green() + 2 * red.green()) / 3,
                                            (base.blue() + 2 * red.blue()) / 3));
    Field->setToolTip("Not a regular expression: " + QString::fromStdString(matcher_->Error()));
  } else {
    Field->setToolTip(RegexCB->isChecked() ? "A regular expression" : "The text to find");
  }
  Field->setPalette(palette);
  const long long current = pane_->CurrentLine();
  pane_->Model().SetMatcher(matcher_);
  FilterChanged();
  // As the text is typed: the current line if it matches, else the next match.
  const TMatchIndex& matches = pane_->Model().Matches();
  if (matches.MatchCount() > 0 && (current < 0 || !matches.LineMatches(static_cast<std::size_t>(current)))) {
    std::size_t k = current < 0 ? 0 : matches.MatchesBefore(static_cast<std::size_t>(current));
    if (k >= matches.MatchCount()) k = 0;
    pane_->GoToLine(matches.MatchLine(k));
  }
  ShowCount();
}

void TFindBar::FilterChanged() {
  if (isHidden() || !pane_) return;
  const long long current = pane_->CurrentLine();
  pane_->Model().SetFilter(FilterCB->isChecked());
  if (current >= 0) {
    if (pane_->Model().RowOfLine(static_cast<std::size_t>(current)) >= 0) {
      pane_->GoToLine(static_cast<std::size_t>(current));
    } else {
      // The current line is filtered out: the next match takes its place.
      const TMatchIndex& matches = pane_->Model().Matches();
      const std::size_t k = matches.MatchesBefore(static_cast<std::size_t>(current));
      if (k < matches.MatchCount()) pane_->GoToLine(matches.MatchLine(k));
      else if (k > 0) pane_->GoToLine(matches.MatchLine(k - 1));
    }
  }
  ShowCount();
}

void TFindBar::ShowCount() {
  if (!pane_ || !matcher_) return;
  const TPaneModel& model = pane_->Model();
  if (!matcher_->Error().empty()) {
    CountLabel->setText("Bad expression");
    return;
  }
  if (!model.Matcher()) {
    CountLabel->clear();
    return;
  }
  const TMatchIndex& matches = model.Matches();
  const std::size_t total = matches.MatchCount();
  if (total == 0) {
    CountLabel->setText("No match");
    return;
  }
  const long long current = pane_->CurrentLine();
  const bool onMatch = current >= 0 && matches.LineMatches(static_cast<std::size_t>(current));
  const QString rank =
      onMatch ? QString::number(matches.MatchesBefore(static_cast<std::size_t>(current)) + 1) : QString("-");
  CountLabel->setText(QString("%1 of %2").arg(rank).arg(total));
}

void TFindBar::Step(bool forward) {
  if (isHidden()) {
    Open();
    return;
  }
  if (!pane_) return;
  const TMatchIndex& matches = pane_->Model().Matches();
  const std::size_t total = matches.MatchCount();
  if (total == 0) return;
  const long long current = pane_->CurrentLine();
  std::size_t k;
  if (forward) {
    k = current < 0 ? 0 : matches.MatchesBefore(static_cast<std::size_t>(current) + 1);
    if (k >= total) k = 0;  // round to the first
  } else {
    const std::size_t before = current < 0 ? total : matches.MatchesBefore(static_cast<std::size_t>(current));
    k = before == 0 ? total - 1 : before - 1;
  }
  pane_->GoToLine(matches.MatchLine(k));
  ShowCount();
}

void TFindBar::Next() { Step(true); }
void TFindBar::Previous() { Step(false); }

bool TFindBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Field && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      Step(!(key->modifiers() & Qt::ShiftModifier));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace mkpt
