#include "app/registersgrid.h"

#include "app/qtext.h"

namespace mkpt {

TRegistersGridModel::TRegistersGridModel(mkp::TRegistersTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table), rows_(table.RowCount()) {
  table_.SetOnChange([this](int, int) {
    QMetaObject::invokeMethod(this, [this] { TableChanged(); }, Qt::QueuedConnection);
  });
}

int TRegistersGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int TRegistersGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : mkp::TRegistersTable::ColumnCount;
}

QVariant TRegistersGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
  return FromEngine(table_.Cell(index.row() + 1, index.column()));
}

bool TRegistersGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || index.column() != mkp::TRegistersTable::ColNew) return false;
  table_.SetNewValue(index.row() + 1, ToEngine(value.toString()));
  return true;
}

Qt::ItemFlags TRegistersGridModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(index);
  if (index.column() == mkp::TRegistersTable::ColNew) flags |= Qt::ItemIsEditable;
  return flags;
}

QVariant TRegistersGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  static const char* const captions[] = {"Register", "Current value", "New value"};
  return section >= 0 && section < 3 ? QString(captions[section]) : QString();
}

void TRegistersGridModel::TableChanged() {
  const int rows = table_.RowCount();
  if (rows != rows_) {
    beginResetModel();
    rows_ = rows;
    endResetModel();
  } else if (rows_ > 0) {
    emit dataChanged(index(0, 0), index(rows_ - 1, mkp::TRegistersTable::ColumnCount - 1));
  }
}

}  // namespace mkpt
