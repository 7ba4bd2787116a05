// The plot window of the Registers page: a line per chosen register against
// time. The lines are kept up to date by appending what the history gained
// since the last refresh and letting go of what left the time span; they are
// read from the history anew only when the span, the pause or the chosen
// registers change.
#pragma once

#include <QWidget>
#include <array>
#include <vector>

#include "app/plotaxes.h"
#include "modes/valuehistory.h"

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

namespace mkp {
class TRegistersTable;
}

namespace mkpt {

class TDialogs;

class TRegistersPlot : public QWidget {
  Q_OBJECT
public:
  // The choices of the time span, in milliseconds (0: all).
  static constexpr std::array<double, 4> Spans = {10e3, 60e3, 600e3, 0};
  // What Export writes.
  enum class TExport { Csv, Png };
  // By the name's extension when it has a known one, else by the chosen
  // filter; the name gets the type's extension when it has none.
  static TExport ExportType(QString& file, const QString& chosenFilter);

  TRegistersPlot(mkp::TValueHistory& history, const mkp::TRegistersTable& names, TDialogs& dialogs,
                 QWidget* parent = nullptr);

  // Brings the lines up to date (the timer does it while the window is
  // shown).
  void Redraw();
  void SetSpanIndex(int index);
  // The "Export" button: CSV of the history of the plotted registers, or a
  // PNG of the view.
  void Export();
  bool ExportCsv(const QString& file) const;
  bool ExportPng(const QString& file);

  QChartView* ChartView = nullptr;
  QChart* Chart = nullptr;
  QComboBox* SpanBox = nullptr;
  QPushButton* PauseBtn = nullptr;
  QPushButton* ExportBtn = nullptr;
  QLabel* EmptyHint = nullptr;  // over the chart while no register is plotted
  QDateTimeAxis* TimeAxis = nullptr;
  QValueAxis* ValueAxis = nullptr;
  std::array<QLineSeries*, mkp::TValueHistory::MaxSeries> Series{};
  // Refreshes that read the lines anew (tests and the bench look at it).
  int Rebuilds = 0;

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  // What a line shows: its register and the time of its newest point.
  struct TDrawn {
    int Row = 0;
    double LastMs = 0;
  };
  void Rebuild(double from, double to);
  bool Append(std::size_t i, double from, double to, double minimumGapMs);
  void ShowRanges(const TAxisRange& time);

  mkp::TValueHistory& history_;
  const mkp::TRegistersTable& names_;
  TDialogs& dialogs_;
  QTimer* timer_ = nullptr;
  std::array<TDrawn, mkp::TValueHistory::MaxSeries> drawn_{};
  std::vector<int> drawnRows_;
  int drawnSpan_ = -1;
  bool drawnPaused_ = false;
};

}  // namespace mkpt
