#include "app/registersplot.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "app/dialogs.h"
#include "app/plotaxes.h"
#include "app/qtext.h"
#include "modes/registers_table.h"
#include "text/csv.h"

namespace mkpt {

namespace {

// Colours of the plotted lines, told apart also on a dark palette.
const std::array<QColor, mkp::TValueHistory::MaxSeries> kSeriesColours = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
    QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

// Points drawn per line at most; more than the plot has pixels.
constexpr std::size_t kMaxDrawnPoints = 1000;

QPushButton* PlotButton(const QString& caption, const char* name, const QString& hint, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setToolTip(hint);
  return button;
}

double UtcOffsetMs() { return QDateTime::currentDateTime().offsetFromUtc() * 1000.0; }

}  // namespace

TRegistersPlot::TRegistersPlot(mkp::TValueHistory& history, const mkp::TRegistersTable& names, TDialogs& dialogs,
                               QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history), names_(names), dialogs_(dialogs) {
  setObjectName("RegistersPlot");
  setWindowTitle("Registers plot");
  setAccessibleName("Registers plot");
  resize(760, 420);

  Chart = new QChart();
  // The chart's own colours follow a dark palette of the window.
  if (QApplication::palette().color(QPalette::Window).lightness() < 128) Chart->setTheme(QChart::ChartThemeDark);
  Chart->legend()->setAlignment(Qt::AlignBottom);
  Chart->setMargins(QMargins(4, 4, 4, 4));
  TimeAxis = new QDateTimeAxis(Chart);
  TimeAxis->setFormat("HH:mm:ss");
  ValueAxis = new QValueAxis(Chart);
  ValueAxis->setLabelFormat("%.6g");
  Chart->addAxis(TimeAxis, Qt::AlignBottom);
  Chart->addAxis(ValueAxis, Qt::AlignLeft);
  for (std::size_t i = 0; i < Series.size(); ++i) {
    auto* series = new QLineSeries(Chart);
    series->setColor(kSeriesColours[i]);
    Chart->addSeries(series);
    series->attachAxis(TimeAxis);
    series->attachAxis(ValueAxis);
    series->setVisible(false);
    Series[i] = series;
  }
  ChartView = new QChartView(Chart, this);
  ChartView->setObjectName("PlotView");
  ChartView->setAccessibleName("Plot of register values");
  // Plain lines: antialiased ones cost the window thread several times more.
  ChartView->setRenderHint(QPainter::Antialiasing, false);
  EmptyHint = new QLabel(
      "No register is plotted yet.\nRight-click a register that shows a number in the Registers grid and "
      "choose \"Plot\" (up to 8 registers).",
      ChartView);
  EmptyHint->setObjectName("PlotEmptyHint");
  EmptyHint->setAlignment(Qt::AlignCenter);
  EmptyHint->setWordWrap(true);
  EmptyHint->setAttribute(Qt::WA_TransparentForMouseEvents);

  auto* spanLabel = new QLabel("Time span", this);
  SpanBox = new QComboBox(this);
  SpanBox->setObjectName("PlotSpan");
  SpanBox->setAccessibleName("Time span");
  SpanBox->addItems({"10 s", "60 s", "10 min", "All"});
  spanLabel->setBuddy(SpanBox);
  PauseBtn = PlotButton("Pause", "PlotPauseBtn", "Freeze the view; polling goes on", this);
  PauseBtn->setCheckable(true);
  ExportBtn = PlotButton("Export", "PlotExportBtn", "Save the plotted values (CSV) or the view (PNG)", this);

  auto* bar = new QHBoxLayout;
  bar->addWidget(spanLabel);
  bar->addWidget(SpanBox);
  bar->addStretch(1);
  bar->addWidget(PauseBtn);
  bar->addWidget(ExportBtn);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(bar);
  layout->addWidget(ChartView, 1);

  SpanBox->setCurrentIndex(1);  // the last 60 s
  connect(SpanBox, &QComboBox::currentIndexChanged, this, [this] { Redraw(); });
  connect(PauseBtn, &QPushButton::toggled, this, [this](bool paused) {
    history_.SetPaused(paused, mkp::WallClockMs());
    Redraw();
  });
  connect(ExportBtn, &QPushButton::clicked, this, &TRegistersPlot::Export);
  timer_ = new QTimer(this);
  timer_->setInterval(500);  // twice a second: a poll's values come every 100 ms or more
  connect(timer_, &QTimer::timeout, this, &TRegistersPlot::Redraw);
}

void TRegistersPlot::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  timer_->start();
  Redraw();
}

void TRegistersPlot::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  timer_->stop();
}

void TRegistersPlot::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  EmptyHint->setGeometry(ChartView->rect().adjusted(24, 24, -24, -24));
}

void TRegistersPlot::SetSpanIndex(int index) { SpanBox->setCurrentIndex(index); }

void TRegistersPlot::Redraw() {
  const int spanIndex = std::clamp(SpanBox->currentIndex(), 0, static_cast<int>(Spans.size()) - 1);
  auto [from, to] = history_.VisibleRange(Spans[static_cast<std::size_t>(spanIndex)], mkp::WallClockMs());
  if (to - from < 1000) from = to - 1000;
  // The axis runs over whole steps of time; the lines fill it.
  const TAxisRange time = TimeAxisRange(from, to, UtcOffsetMs());
  const std::vector<int> chosen = history_.Chosen();
  EmptyHint->setVisible(chosen.empty());
  bool rebuild = chosen != drawnRows_ || spanIndex != drawnSpan_ || history_.Paused() != drawnPaused_;
  const double gap = (time.To - time.From) / kMaxDrawnPoints;
  // The lines end at the visible range's end (now, or the moment of the
  // pause), however far the axis runs on.
  for (std::size_t i = 0; i < chosen.size() && !rebuild; ++i) rebuild = !Append(i, time.From, to, gap);
  if (rebuild) {
    Rebuild(time.From, to);
    drawnRows_ = chosen;
    drawnSpan_ = spanIndex;
    drawnPaused_ = history_.Paused();
  }
  ShowRanges(time);
}

void TRegistersPlot::Rebuild(double from, double to) {
  ++Rebuilds;
  const std::vector<int> chosen = history_.Chosen();
  for (std::size_t i = 0; i < Series.size(); ++i) {
    QLineSeries* series = Series[i];
    if (i >= chosen.size()) {
      if (series->isVisible()) {
        series->clear();
        series->setVisible(false);
      }
      drawn_[i] = {};
      continue;
    }
    const int row = chosen[i];
    const QString name = FromEngine(names_.Cell(row, mkp::TRegistersTable::ColName));
    const QString legend = name.isEmpty() ? QString("Register %1").arg(row) : name;
    if (series->name() != legend) series->setName(legend);
    QList<QPointF> points;
    for (const mkp::TPlotPoint& p : history_.Visible(row, from, to, kMaxDrawnPoints))
      points.append(QPointF(p.TimeMs, p.Value));
    series->replace(points);
    series->setVisible(true);
    drawn_[i] = {row, points.isEmpty() ? 0.0 : points.back().x()};
  }
}

bool TRegistersPlot::Append(std::size_t i, double from, double to, double minimumGapMs) {
  QLineSeries* series = Series[i];
  TDrawn& drawn = drawn_[i];
  QList<QPointF> points = series->points();
  bool changed = false;
  if (drawn.LastMs < to) {
    for (const mkp::TPlotPoint& p : history_.Visible(drawn.Row, drawn.LastMs, to, kMaxDrawnPoints)) {
      // As dense as the line read anew would be.
      if (p.TimeMs <= drawn.LastMs || (!points.isEmpty() && p.TimeMs < drawn.LastMs + minimumGapMs)) continue;
      points.append(QPointF(p.TimeMs, p.Value));
      drawn.LastMs = p.TimeMs;
      changed = true;
    }
  }
  // What left the span goes, but for the point that carries the line to the
  // left edge.
  qsizetype before = 0;
  while (before < points.size() && points[before].x() < from) ++before;
  if (before > 1) {
    points.remove(0, before - 1);
    changed = true;
  }
  if (points.size() > static_cast<qsizetype>(2 * kMaxDrawnPoints)) return false;  // thinned anew
  if (changed) series->replace(points);
  return true;
}

void TRegistersPlot::ShowRanges(const TAxisRange& time) {
  const QString format = QString::fromStdString(TimeAxisFormat(time));
  if (TimeAxis->format() != format) TimeAxis->setFormat(format);
  if (TimeAxis->tickCount() != time.Ticks) TimeAxis->setTickCount(time.Ticks);
  const QDateTime start = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(time.From));
  const QDateTime end = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(time.To));
  if (TimeAxis->min() != start || TimeAxis->max() != end) TimeAxis->setRange(start, end);

  double low = HUGE_VAL, high = -HUGE_VAL;
  for (QLineSeries* series : Series) {
    if (!series->isVisible()) continue;
    for (const QPointF& p : series->points())
      if (p.x() >= time.From && p.x() <= time.To) {
        low = std::min(low, p.y());
        high = std::max(high, p.y());
      }
  }
  // Round figures on the axis, worked out here: the axis's own rounding lays
  // every line out a second time.
  const TAxisRange values = ValueAxisRange(low, high);
  if (ValueAxis->tickCount() != values.Ticks) ValueAxis->setTickCount(values.Ticks);
  if (ValueAxis->min() != values.From || ValueAxis->max() != values.To) ValueAxis->setRange(values.From, values.To);
}

TRegistersPlot::TExport TRegistersPlot::ExportType(QString& file, const QString& chosenFilter) {
  const QString suffix = QFileInfo(file).suffix().toLower();
  if (suffix == "png") return TExport::Png;
  if (suffix == "csv") return TExport::Csv;
  const TExport type = chosenFilter.contains("*.png", Qt::CaseInsensitive) ? TExport::Png : TExport::Csv;
  if (suffix.isEmpty() && !file.endsWith('.')) file += type == TExport::Png ? ".png" : ".csv";
  return type;
}

bool TRegistersPlot::ExportCsv(const QString& file) const {
  std::vector<std::string> names;
  for (int row = 1; row <= names_.RowCount(); ++row) names.push_back(names_.Cell(row, mkp::TRegistersTable::ColName));
  std::string text;
  for (const auto& line : history_.Table(names)) text += mkp::CsvLine(line);
  QFile out(file);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const bool written = out.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
  out.close();
  return written && out.error() == QFileDevice::NoError;
}

bool TRegistersPlot::ExportPng(const QString& file) { return ChartView->grab().save(file, "PNG"); }

void TRegistersPlot::Export() {
  QString filter;
  QString file = dialogs_.SaveFile("Export", "CSV files (*.csv);;PNG images (*.png);;All files (*)", "csv", &filter);
  if (file.isEmpty()) return;
  const bool written = ExportType(file, filter) == TExport::Png ? ExportPng(file) : ExportCsv(file);
  if (!written) dialogs_.Error("Cannot write the file " + file);
}

}  // namespace mkpt
