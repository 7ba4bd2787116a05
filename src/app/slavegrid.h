// The Slave page's grid over the engine's slave table: the table is the one
// store of the cells, which the responder reads while the user edits.
#pragma once

#include <QAbstractTableModel>

#include "modes/slavetable.h"

namespace mkpt {

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
