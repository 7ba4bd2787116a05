#include "app/slavegrid.h"

#include <QEvent>
#include <QTableView>
#include <numeric>

#include "app/qtext.h"

namespace mkpt {

TColumnFit::TColumnFit(QTableView* grid) : QObject(grid), grid_(grid), viewport_(grid->viewport()) {
  setObjectName("ColumnFit");
  viewport_->installEventFilter(this);
}

TColumnFit* TColumnFit::For(QTableView* grid) {
  if (auto* fit = grid->findChild<TColumnFit*>("ColumnFit", Qt::FindDirectChildrenOnly)) return fit;
  return new TColumnFit(grid);
}

void TColumnFit::SetWidths(std::vector<int> widths) {
  widths_ = std::move(widths);
  Apply();
}

bool TColumnFit::eventFilter(QObject* watched, QEvent* event) {
  // Only the viewport's own pointer here: the filter also sees the events of
  // the grid's destruction, when the grid is no scroll area any more.
  if (watched == viewport_ && event->type() == QEvent::Resize) Apply();
  return false;
}

void TColumnFit::Apply() {
  const int total = std::accumulate(widths_.begin(), widths_.end(), 0);
  const int room = grid_->viewport()->width();
  int used = 0;
  for (std::size_t c = 0; c < widths_.size(); ++c) {
    int width = widths_[c];
    if (total > room && room > 0 && total > 0) {
      width = c + 1 == widths_.size() ? room - used : widths_[c] * room / total;
      used += width;
    }
    grid_->setColumnWidth(static_cast<int>(c), std::max(width, 0));
  }
}

TSlaveGridModel::TSlaveGridModel(mkp::TSlaveTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table), rows_(table.RowCount()) {
  table_.SetOnChange([this] { TableChanged(); });
}

int TSlaveGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int TSlaveGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant TSlaveGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
  return FromEngine(table_.Cell(index.row() + 1, index.column()));
}

bool TSlaveGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole) return false;
  // The table keeps an empty row at the end; the change reaches the view
  // through TableChanged.
  table_.SetCell(index.row() + 1, index.column(), ToEngine(value.toString()));
  return true;
}

Qt::ItemFlags TSlaveGridModel::flags(const QModelIndex& index) const {
  return QAbstractTableModel::flags(index) | Qt::ItemIsEditable;
}

QVariant TSlaveGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return section == 0 ? QString("Received packet") : QString("Packet to answer");
  return section + 1;
}

void TSlaveGridModel::TableChanged() {
  const int rows = table_.RowCount();
  if (rows > rows_) {
    beginInsertRows({}, rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
  } else if (rows < rows_) {
    beginRemoveRows({}, rows, rows_ - 1);
    rows_ = rows;
    endRemoveRows();
  }
  if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, 1));
}

}  // namespace mkpt
