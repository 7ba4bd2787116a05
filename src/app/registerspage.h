// The Registers page: the registers grid and its three buttons, the request
// statistics under the grid with "Reset statistics", and the plot of chosen
// registers in a window of its own ("Plot", or the grid's pop-up item). The
// figures live in the engine (TRegistersStats, TValueHistory), which the
// registers automaton feeds; this class only shows them.
#pragma once

#include <QAbstractTableModel>
#include <QObject>
#include <QWidget>
#include <array>
#include <memory>

#include "app/layout.h"
#include "modes/regstats.h"
#include "modes/valuehistory.h"

class QAction;
class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLineSeries;
class QPushButton;
class QTableView;
class QTimer;
class QValueAxis;

namespace mkp {
class TRegistersTable;
}

namespace mkpt {

class TDialogs;
class TMainForm;

// The statistics table: one row per request of the description.
class TStatisticsModel : public QAbstractTableModel {
  Q_OBJECT
public:
  static constexpr int ColumnCount = 11;
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

// The plot window: a line per chosen register against time.
class TRegistersPlot : public QWidget {
  Q_OBJECT
public:
  // The choices of the time span, in milliseconds (0: all).
  static constexpr std::array<double, 4> Spans = {10e3, 60e3, 600e3, 0};
  TRegistersPlot(mkp::TValueHistory& history, const mkp::TRegistersTable& names, TDialogs& dialogs,
                 QWidget* parent = nullptr);

  // Draws the visible part of the history again (the timer does it while
  // the window is shown).
  void Redraw();
  void SetSpanIndex(int index);
  // The "Export" button: CSV of the history of the plotted registers, or a
  // PNG of the view when the chosen name ends in .png.
  void Export();
  bool ExportCsv(const QString& file) const;
  bool ExportPng(const QString& file);

  QChartView* ChartView = nullptr;
  QChart* Chart = nullptr;
  QComboBox* SpanBox = nullptr;
  QPushButton* PauseBtn = nullptr;
  QPushButton* ExportBtn = nullptr;
  std::array<QLineSeries*, mkp::TValueHistory::MaxSeries> Series{};

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

private:
  mkp::TValueHistory& history_;
  const mkp::TRegistersTable& names_;
  TDialogs& dialogs_;
  QDateTimeAxis* timeAxis_ = nullptr;
  QValueAxis* valueAxis_ = nullptr;
  QTimer* timer_ = nullptr;
};

class TRegistersPage : public QObject {
  Q_OBJECT
public:
  TRegistersPage(TMainForm& form, TDialogs& dialogs, QWidget* page);

  mkp::TRegistersStats Stats;
  mkp::TValueHistory History;

  // The Parts' controls (the window keeps its own pointers to them too).
  QTableView* RegistersTable = nullptr;
  std::array<QPushButton*, 3> RegistersBtns{};
  // Beside them.
  QPushButton* ResetStatsBtn = nullptr;
  QPushButton* PlotBtn = nullptr;
  QTableView* StatisticsTable = nullptr;
  TStatisticsModel* StatisticsModel = nullptr;
  QAction* PlotItem = nullptr;  // the grid's pop-up item
  TRegistersPlot* Plot = nullptr;

  void Arrange(const TLayout& layout);
  // Once a second with the status bar: the statistics table, and in Registers
  // mode the totals after the device name in status panel 3.
  void Refresh(bool registersMode);
  // What the window's opSelectDevice does (in its own thread).
  void SelectDevice();
  void ChangeAddress();
  void ResetStatistics();
  // Adds a register (row from 1) to the plot or takes it off; false when it
  // cannot be plotted (not a number, or MaxSeries plotted already).
  bool SetPlotted(int row, bool plotted);
  bool CanPlot(int row) const;
  void ShowPlot();

private:
  void GridMenu(const QPoint& at);

  TMainForm& form_;
  TDialogs& dialogs_;
  QString deviceText_;  // status panel 3: a blank and the device file's name
};

}  // namespace mkpt
