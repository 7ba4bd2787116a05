#include "app/panes.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QScrollBar>
#include <algorithm>

#include "app/panecolour.h"
#include "app/qtext.h"

namespace mkpt {

void TPaneFeed::AddLine(const TPaneLine& line) {
  std::lock_guard lk(lock_);
  pending_.push_back(line);
  if (pending_.size() > mkp::MaxPaneLines + 1) {
    pending_.pop_front();
    ++dropped_;
  }
}

std::vector<TPaneLine> TPaneFeed::Take(std::uint64_t* dropped) {
  std::deque<TPaneLine> held;
  {
    std::lock_guard lk(lock_);
    held.swap(pending_);
    if (dropped != nullptr) *dropped = dropped_;
    dropped_ = 0;
  }
  return {std::make_move_iterator(held.begin()), std::make_move_iterator(held.end())};
}

std::size_t TPaneFeed::Pending() {
  std::lock_guard lk(lock_);
  return pending_.size();
}

int TPaneModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

QVariant TPaneModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return ShownText(LineOfRow(index.row()));
  if (role == Qt::SizeHintRole) return QSize(Extent, ItemHeight);
  return {};
}

QString TPaneModel::ShownText(std::size_t line) const { return FromEngine(ShownLine(line)); }

std::size_t TPaneModel::LineOfRow(int row) const {
  return Filtering() ? matches_.MatchLine(static_cast<std::size_t>(row)) : static_cast<std::size_t>(row);
}

int TPaneModel::RowOfLine(std::size_t line) const {
  if (line >= lines_.size()) return -1;
  if (!Filtering()) return static_cast<int>(line);
  return matches_.LineMatches(line) ? static_cast<int>(matches_.MatchesBefore(line)) : -1;
}

int TPaneModel::RowsWanted() const {
  return static_cast<int>(Filtering() ? matches_.MatchCount() : lines_.size());
}

void TPaneModel::Append(std::vector<TPaneLine> lines, std::uint64_t dropped) {
  taken_ += dropped;
  if (lines.empty()) return;
  taken_ += lines.size();
  // Adding one line at a time removes the oldest whenever more than the cap
  // are held; for a batch that is: keep at most cap + 1 lines in the end.
  const std::size_t keep = keep_;
  if (lines.size() > keep) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(keep));
  const std::size_t total = lines_.size() + lines.size();
  const std::size_t drop = total > keep ? std::min(total - keep, lines_.size()) : 0;
  if (drop > 0) {
    const int rowsGone = Filtering() ? static_cast<int>(matches_.MatchesBefore(drop)) : static_cast<int>(drop);
    if (rowsGone > 0) beginRemoveRows({}, 0, rowsGone - 1);
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(drop));
    matches_.DropFront(drop);
    if (rowsGone > 0) {
      rows_ -= rowsGone;
      endRemoveRows();
    }
  }
  // The new lines go in first (a row count that has not changed yet keeps the
  // view on the old rows), then the rows they make are announced.
  const std::size_t firstNew = lines_.size();
  for (auto& line : lines) lines_.push_back(std::move(line));
  const TLineMatcher* matcher = Matcher();
  for (std::size_t i = firstNew; i < lines_.size(); ++i)
    matches_.Push(matcher && matcher->Matches(ShownText(i).toUtf8().toStdString()));
  const int wanted = RowsWanted();
  if (wanted > rows_) {
    beginInsertRows({}, rows_, wanted - 1);
    rows_ = wanted;
    endInsertRows();
  }
}

void TPaneModel::Clear() {
  beginResetModel();
  lines_.clear();
  matches_.Reset(taken_);
  rows_ = 0;
  endResetModel();
}

void TPaneModel::Rebuild(bool wasFiltering) {
  matches_.Reset(matches_.FirstSeq());
  const TLineMatcher* matcher = Matcher();
  for (std::size_t i = 0; i < lines_.size(); ++i)
    matches_.Push(matcher && matcher->Matches(ShownText(i).toUtf8().toStdString()));
  if (wasFiltering || Filtering()) {
    beginResetModel();
    rows_ = RowsWanted();
    endResetModel();
  } else if (rows_ > 0) {
    emit dataChanged(index(0), index(rows_ - 1), {Qt::DisplayRole});
  }
}

void TPaneModel::SetMatcher(std::shared_ptr<const TLineMatcher> matcher) {
  const bool before = Filtering();
  matcher_ = std::move(matcher);
  Rebuild(before);
}

void TPaneModel::SetFilter(bool on) {
  if (on == filter_) return;
  const bool before = Filtering();
  filter_ = on;
  if (before == Filtering()) return;
  beginResetModel();
  rows_ = RowsWanted();
  endResetModel();
}

void TPaneModel::SetShowTime(bool on) {
  if (on == showTime_) return;
  showTime_ = on;
  // Find and filter go by the text as shown, which has changed.
  Rebuild(Filtering());
}

std::string TPaneModel::ShownLine(std::size_t index) const {
  const TPaneLine& line = lines_[index];
  return mkp::ShownLine(line, showTime_ && line.Shown.Time != mkp::TMonoTime{});
}

std::string TPaneModel::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    text += ShownLine(i);
    text += "\r\n";
  }
  return text;
}

namespace {

QFont PaneFont() {
  QFont font("Courier New");
  if (!QFontInfo(font).exactMatch() || !QFontInfo(font).fixedPitch())
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPixelSize(11);
  return font;
}

}  // namespace

TPaneView::TPaneView(QWidget* parent) : QListView(parent), model_(this) {
  setModel(&model_);
  setFont(PaneFont());
  setUniformItemSizes(true);
  // A click selects one line; Shift and Ctrl extend the selection for copying.
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  delegate_ = new TPaneDelegate(this);
  setItemDelegate(delegate_);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setMinimumWidth(5);
  setContextMenuPolicy(Qt::CustomContextMenu);
}

int TPaneView::VisibleLines() const { return viewport()->height() / TPaneModel::ItemHeight; }

QString TPaneView::SelectedText() const {
  QList<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedIndexes()) rows << index.row();
  std::sort(rows.begin(), rows.end());
  QStringList lines;
  for (int row : rows)
    if (row >= 0 && row < model_.rowCount()) lines << model_.ShownText(model_.LineOfRow(row));
  return lines.join('\n');
}

void TPaneView::CopySelection() {
  if (!selectionModel()->hasSelection()) return;
  QApplication::clipboard()->setText(SelectedText());
}

long long TPaneView::CurrentLine() const {
  const QModelIndex current = currentIndex();
  if (!current.isValid() || current.row() >= model_.rowCount()) return -1;
  return static_cast<long long>(model_.LineOfRow(current.row()));
}

void TPaneView::GoToLine(std::size_t line) {
  const int row = model_.RowOfLine(line);
  if (row < 0) return;
  const QModelIndex index = model_.index(row);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  scrollTo(index, QAbstractItemView::EnsureVisible);
}

void TPaneView::SetColoured(bool on) {
  delegate_->Coloured = on;
  viewport()->update();
}

bool TPaneView::Coloured() const { return delegate_->Coloured; }

void TPaneView::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) {
    CopySelection();
    event->accept();
    return;
  }
  QListView::keyPressEvent(event);
}

void TPaneView::Append(std::vector<TPaneLine> lines, bool autoScroll, std::uint64_t dropped) {
  model_.Append(std::move(lines), dropped);
  if (!autoScroll) return;
  const int count = model_.rowCount();
  const int fit = VisibleLines();
  if (count > fit) scrollTo(model_.index(count - fit, 0), QAbstractItemView::PositionAtTop);
}

}  // namespace mkpt
