// The Registers page's grid over the engine's registers table. The automaton
// writes Current values from its thread; the grid hears of each change in
// the window's thread. Only the New value cells of data rows can be edited.
#pragma once

#include <QAbstractTableModel>

#include "modes/registers_table.h"

namespace mkpt {

class TRegistersGridModel : public QAbstractTableModel {
  Q_OBJECT
public:
  TRegistersGridModel(mkp::TRegistersTable& table, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
  void TableChanged();
  mkp::TRegistersTable& table_;
  int rows_ = 0;
};

}  // namespace mkpt
