#include "app/panes.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QScrollBar>

#include "app/qtext.h"

namespace mkpt {

void TPaneFeed::AddLine(const std::string& line, const mkp::TLineStamp& stamp) {
  std::lock_guard lk(lock_);
  pending_.push_back({line, stamp, timer_.Next(stamp)});
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

void TPaneFeed::RestartTime() {
  std::lock_guard lk(lock_);
  timer_.Reset();
}

std::size_t TPaneFeed::Pending() {
  std::lock_guard lk(lock_);
  return pending_.size();
}

int TPaneModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant TPaneModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(lines_.size())) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
    return ShownText(index.row());
  if (role == Qt::SizeHintRole) return QSize(Extent, ItemHeight);
  return {};
}

void TPaneModel::Append(std::vector<TPaneLine> lines, std::uint64_t dropped) {
  taken_ += dropped;
  if (lines.empty()) return;
  taken_ += lines.size();
  // Adding one line at a time removes the oldest whenever more than the cap
  // are held; for a batch that is: keep at most cap + 1 lines in the end.
  const std::size_t keep = mkp::MaxPaneLines + 1;
  if (lines.size() > keep) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(keep));
  const std::size_t total = lines_.size() + lines.size();
  const std::size_t drop = total > keep ? std::min(total - keep, lines_.size()) : 0;
  if (drop > 0) {
    beginRemoveRows({}, 0, static_cast<int>(drop) - 1);
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(drop));
    endRemoveRows();
  }
  const int first = static_cast<int>(lines_.size());
  beginInsertRows({}, first, first + static_cast<int>(lines.size()) - 1);
  for (auto& line : lines) lines_.push_back(std::move(line));
  endInsertRows();
}

void TPaneModel::Clear() {
  beginResetModel();
  lines_.clear();
  endResetModel();
}

void TPaneModel::SetShowTime(bool on) {
  if (on == showTime_) return;
  showTime_ = on;
  if (!lines_.empty()) emit dataChanged(index(0), index(static_cast<int>(lines_.size()) - 1), {Qt::DisplayRole});
}

std::string TPaneModel::ShownLine(std::size_t row) const {
  const TPaneLine& line = lines_[row];
  if (!showTime_) return line.Text;
  return mkp::TimePrefix(line.Shown) + line.Text + mkp::AnswerSuffix(line.Shown);
}

QString TPaneModel::ShownText(int row) const {
  if (row < 0 || row >= static_cast<int>(lines_.size())) return {};
  return FromEngine(ShownLine(static_cast<std::size_t>(row)));
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
  setSelectionMode(QAbstractItemView::SingleSelection);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setMinimumWidth(5);
  setContextMenuPolicy(Qt::CustomContextMenu);
}

int TPaneView::VisibleLines() const { return viewport()->height() / TPaneModel::ItemHeight; }

void TPaneView::Append(std::vector<TPaneLine> lines, bool autoScroll, std::uint64_t dropped) {
  model_.Append(std::move(lines), dropped);
  if (!autoScroll) return;
  const int count = model_.rowCount();
  const int fit = VisibleLines();
  if (count > fit) scrollTo(model_.index(count - fit, 0), QAbstractItemView::PositionAtTop);
}

}  // namespace mkpt
