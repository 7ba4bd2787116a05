// The Registers page's grids: the registers over the engine's registers
// table, and the request statistics over the engine's figures. The automaton
// writes Current values from its thread; the grid hears of each change in
// the window's thread. Only the New value cells of data rows can be edited.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "modes/registers_table.h"
#include "modes/regstats.h"

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

// The statistics table: one row per request of the description.
class TStatisticsModel : public QAbstractTableModel {
  Q_OBJECT
public:
  static constexpr int ColumnCount = 11;
  static const char* const Headers[ColumnCount];
  explicit TStatisticsModel(const mkp::TRegistersStats& stats, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Takes a new snapshot of the figures.
  void Refresh();

private:
  const mkp::TRegistersStats& stats_;
  std::vector<mkp::TRequestStats> rows_;
  std::uint64_t generation_ = ~std::uint64_t{0};
};

}  // namespace mkpt
