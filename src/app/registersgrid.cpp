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

// ---- TStatisticsModel ---------------------------------------------------------------

const char* const TStatisticsModel::Headers[ColumnCount] = {
    "Request", "Sent", "Answered", "No answer", "Bad frame", "Wrong answer", "Write failed",
    "Other traffic", "Last, ms", "Mean, ms", "Max, ms"};

TStatisticsModel::TStatisticsModel(const mkp::TRegistersStats& stats, QObject* parent)
    : QAbstractTableModel(parent), stats_(stats) {}

int TStatisticsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TStatisticsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TStatisticsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const mkp::TRequestStats& s = rows_[static_cast<std::size_t>(index.row())];
  if (role == Qt::ToolTipRole && index.column() == 0) return FromEngine(s.Text);
  if (role == Qt::TextAlignmentRole)
    return index.column() == 0 ? QVariant() : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  switch (index.column()) {
    case 0: return FromEngine(s.Text);
    case 1: return QString::number(s.Sent);
    case 2: return QString::number(s.Answered);
    case 3: return QString::number(s.NoAnswer);
    case 4: return QString::number(s.BadFrame);
    case 5: return QString::number(s.WrongAnswer);
    case 6: return QString::number(s.WriteFailed);
    case 7: return QString::number(s.OtherTraffic);
    case 8: return QString::fromStdString(mkp::StatsMsText(s.LastMs));
    case 9: return QString::fromStdString(mkp::StatsMsText(s.MeanMs()));
    case 10: return QString::fromStdString(mkp::StatsMsText(s.MaxMs));
  }
  return {};
}

QVariant TStatisticsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
  return QString(Headers[section]);
}

void TStatisticsModel::Refresh() {
  const std::uint64_t generation = stats_.Generation();
  std::vector<mkp::TRequestStats> rows = stats_.Snapshot();
  if (generation != generation_ || rows.size() != rows_.size()) {
    beginResetModel();
    rows_ = std::move(rows);
    generation_ = generation;
    endResetModel();
  } else {
    rows_ = std::move(rows);
    if (!rows_.empty()) emit dataChanged(index(0, 1), index(static_cast<int>(rows_.size()) - 1, ColumnCount - 1));
  }
}

}  // namespace mkpt
