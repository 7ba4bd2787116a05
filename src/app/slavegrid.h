// The Slave page's grid over the engine's slave table: the table is the one
// store of the cells, which the responder reads while the user edits.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "modes/slavetable.h"

class QTableView;

namespace mkpt {

// Column widths for a grid that fit its visible width: the widths given,
// narrowed in proportion when the vertical scroll bar takes its room, so that
// no horizontal scroll bar appears.
class TColumnFit : public QObject {
  Q_OBJECT
public:
  // The grid's fitter (made on first use).
  static TColumnFit* For(QTableView* grid);
  void SetWidths(std::vector<int> widths);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  explicit TColumnFit(QTableView* grid);
  void Apply();
  QTableView* grid_;
  QObject* viewport_;
  std::vector<int> widths_;
};

class TSlaveGridModel : public QAbstractTableModel {
  Q_OBJECT
public:
  TSlaveGridModel(mkp::TSlaveTable& table, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
  void TableChanged();
  mkp::TSlaveTable& table_;
  int rows_ = 0;
};

}  // namespace mkpt
