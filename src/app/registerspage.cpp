#include "app/registerspage.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QEventLoop>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "app/addressform.h"
#include "app/dialogs.h"
#include "app/mainform.h"
#include "app/qtext.h"
#include "app/registersgrid.h"
#include "modes/registers.h"
#include "modes/registers_table.h"
#include "text/csv.h"

namespace mkpt {

namespace {

QPushButton* PageButton(const QString& caption, const char* name, const QString& hint, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setAccessibleName(caption);
  if (!hint.isEmpty()) button->setToolTip(hint);
  return button;
}

// The waits of the page's operations: the window's loop runs meanwhile.
class TEventLoopWaiter : public mkp::TWaiter {
public:
  void Sleep(int milliseconds) override {
    QEventLoop loop;
    QTimer::singleShot(std::max(milliseconds, 0), &loop, &QEventLoop::quit);
    loop.exec();
  }
};

// Colours of the plotted lines, told apart also on a dark palette.
const std::array<QColor, mkp::TValueHistory::MaxSeries> kSeriesColours = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
    QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

constexpr int ValueTicks = 5;

// A range around [low, high] that starts and ends on a round step (1, 2 or 5
// times a power of ten) for the given number of ticks.
std::pair<double, double> NiceRange(double low, double high, int ticks) {
  const double raw = (high - low) / std::max(ticks - 1, 1);
  if (!(raw > 0) || !std::isfinite(raw)) return {low, high};
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude * 10;
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (raw <= factor * magnitude) {
      step = factor * magnitude;
      break;
    }
  }
  double from = std::floor(low / step) * step;
  double to = from + step * (ticks - 1);
  while (to < high) {  // the range did not fit: the next step up
    step *= 2;
    from = std::floor(low / step) * step;
    to = from + step * (ticks - 1);
  }
  return {from, to};
}

// Points drawn per line at most; more than the plot has pixels.
constexpr std::size_t kMaxDrawnPoints = 1000;

const char* const kStatisticsHeaders[TStatisticsModel::ColumnCount] = {
    "Request", "Sent", "Answered", "No answer", "Bad frame", "Wrong answer", "Write failed",
    "Other traffic", "Last, ms", "Mean, ms", "Max, ms"};

}  // namespace

// ---- TStatisticsModel ---------------------------------------------------------------

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
  if (role != Qt::DisplayRole) return {};
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
  return QString(kStatisticsHeaders[section]);
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

// ---- TRegistersPlot ---------------------------------------------------------------------

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
  timeAxis_ = new QDateTimeAxis(Chart);
  timeAxis_->setFormat("HH:mm:ss");
  timeAxis_->setTickCount(7);
  valueAxis_ = new QValueAxis(Chart);
  valueAxis_->setLabelFormat("%.6g");
  valueAxis_->setTickCount(ValueTicks);
  Chart->addAxis(timeAxis_, Qt::AlignBottom);
  Chart->addAxis(valueAxis_, Qt::AlignLeft);
  for (std::size_t i = 0; i < Series.size(); ++i) {
    auto* series = new QLineSeries(Chart);
    series->setColor(kSeriesColours[i]);
    Chart->addSeries(series);
    series->attachAxis(timeAxis_);
    series->attachAxis(valueAxis_);
    series->setVisible(false);
    Series[i] = series;
  }
  ChartView = new QChartView(Chart, this);
  ChartView->setObjectName("PlotView");
  ChartView->setAccessibleName("Plot of register values");
  // Plain lines: antialiased ones cost the window thread several times more.
  ChartView->setRenderHint(QPainter::Antialiasing, false);

  auto* spanLabel = new QLabel("Time span", this);
  SpanBox = new QComboBox(this);
  SpanBox->setObjectName("PlotSpan");
  SpanBox->setAccessibleName("Time span");
  SpanBox->addItems({"10 s", "60 s", "10 min", "All"});
  spanLabel->setBuddy(SpanBox);
  PauseBtn = PageButton("Pause", "PlotPauseBtn", "Freeze the view; polling goes on", this);
  PauseBtn->setCheckable(true);
  ExportBtn = PageButton("Export", "PlotExportBtn", "Save the plotted values (CSV) or the view (PNG)", this);

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
  timer_->setInterval(250);
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

void TRegistersPlot::SetSpanIndex(int index) { SpanBox->setCurrentIndex(index); }

void TRegistersPlot::Redraw() {
  const int spanIndex = std::clamp(SpanBox->currentIndex(), 0, static_cast<int>(Spans.size()) - 1);
  auto [from, to] = history_.VisibleRange(Spans[static_cast<std::size_t>(spanIndex)], mkp::WallClockMs());
  if (to - from < 1000) from = to - 1000;
  const std::vector<int> chosen = history_.Chosen();
  double low = HUGE_VAL, high = -HUGE_VAL;
  for (std::size_t i = 0; i < Series.size(); ++i) {
    QLineSeries* series = Series[i];
    if (i >= chosen.size()) {
      if (series->isVisible()) {
        series->clear();
        series->setVisible(false);
      }
      continue;
    }
    const int row = chosen[i];
    const QString name = FromEngine(names_.Cell(row, mkp::TRegistersTable::ColName));
    const QString legend = name.isEmpty() ? QString("Register %1").arg(row) : name;
    if (series->name() != legend) series->setName(legend);
    QList<QPointF> points;
    for (const mkp::TPlotPoint& p : history_.Visible(row, from, to, kMaxDrawnPoints)) {
      points.append(QPointF(p.TimeMs, p.Value));
      if (p.TimeMs >= from && p.TimeMs <= to) {
        low = std::min(low, p.Value);
        high = std::max(high, p.Value);
      }
    }
    series->replace(points);
    series->setVisible(true);
  }
  timeAxis_->setFormat(to - from > 3600e3 ? "dd.MM HH:mm" : "HH:mm:ss");
  timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(from)),
                      QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(to)));
  if (low > high) {
    low = 0;
    high = 1;
  }
  const double margin = high > low ? (high - low) * 0.05 : std::max(std::abs(high) * 0.05, 1.0);
  // Round figures on the axis, worked out here: the axis's own rounding lays
  // every line out a second time.
  const auto [from_, to_] = NiceRange(low - margin, high + margin, ValueTicks);
  if (valueAxis_->min() != from_ || valueAxis_->max() != to_) valueAxis_->setRange(from_, to_);
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
  const QString file = dialogs_.SaveFile("Export", "CSV files (*.csv);;PNG images (*.png);;All files (*)", "csv");
  if (file.isEmpty()) return;
  const bool png = file.endsWith(".png", Qt::CaseInsensitive);
  if (!(png ? ExportPng(file) : ExportCsv(file))) dialogs_.Error("Cannot write the file " + file);
}

// ---- TRegistersPage -----------------------------------------------------------------------

TRegistersPage::TRegistersPage(TMainForm& form, TDialogs& dialogs, QWidget* page)
    : QObject(page), form_(form), dialogs_(dialogs) {
  RegistersTable = new QTableView(page);
  RegistersTable->setObjectName("RegistersTable");
  RegistersTable->setAccessibleName("Registers");
  RegistersTable->verticalHeader()->hide();
  RegistersTable->setModel(new TRegistersGridModel(form.RegisterRows, RegistersTable));
  // A click on a New value cell opens its editor; other cells cannot be edited.
  RegistersTable->setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::SelectedClicked |
                                  QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  RegistersTable->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(RegistersTable, &QWidget::customContextMenuRequested, this, &TRegistersPage::GridMenu);
  RegistersBtns[0] = PageButton("Selecr device", "RegistersBtn1", "Load device model from file", page);
  RegistersBtns[1] = PageButton("Transmit", "RegistersBtn2", "Send to device", page);
  RegistersBtns[2] = PageButton("Change sddress", "RegistersBtn3", "Change the Vorel-address of device", page);
  connect(RegistersBtns[0], &QPushButton::clicked, &form, [&form] { form.RunOperation(opSelectDevice); });
  connect(RegistersBtns[1], &QPushButton::clicked, &form, [&form] { form.RunOperation(opTransmitRegisters); });
  connect(RegistersBtns[2], &QPushButton::clicked, &form, [&form] { form.RunOperation(opChangeAddress); });

  ResetStatsBtn = PageButton("Reset statistics", "RegistersResetStatsBtn", "Start the request counters again", page);
  connect(ResetStatsBtn, &QPushButton::clicked, this, &TRegistersPage::ResetStatistics);
  PlotBtn = PageButton("Plot", "RegistersPlotBtn", "Show the plot of the chosen registers", page);
  connect(PlotBtn, &QPushButton::clicked, this, &TRegistersPage::ShowPlot);

  StatisticsTable = new QTableView(page);
  StatisticsTable->setObjectName("RegistersStatsTable");
  StatisticsTable->setAccessibleName("Request statistics");
  StatisticsTable->verticalHeader()->hide();
  StatisticsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StatisticsTable->setSelectionMode(QAbstractItemView::NoSelection);
  StatisticsTable->setWordWrap(false);
  StatisticsTable->setTextElideMode(Qt::ElideMiddle);
  StatisticsModel = new TStatisticsModel(Stats, StatisticsTable);
  StatisticsTable->setModel(StatisticsModel);
  StatisticsTable->verticalHeader()->setDefaultSectionSize(StatisticsTable->fontMetrics().height() + 6);

  PlotItem = new QAction("Plot", this);
  PlotItem->setCheckable(true);

  Plot = new TRegistersPlot(History, form.RegisterRows, dialogs, &form);
  Plot->hide();
}

void TRegistersPage::Arrange(const TLayout& l) {
  auto apply = [](QWidget* widget, const TRect& r) { widget->setGeometry(r.Left, r.Top, r.Width, r.Height); };
  apply(RegistersBtns[0], l.SelectDevice);
  apply(RegistersBtns[2], l.ChangeAddress);
  apply(RegistersBtns[1], l.Transmit);
  apply(RegistersTable, l.RegistersTable);
  RegistersTable->setColumnWidth(0, l.RegisterColumnWidth);
  RegistersTable->setColumnWidth(1, l.ValueColumnWidth);
  RegistersTable->setColumnWidth(2, l.ValueColumnWidth);
  apply(ResetStatsBtn, l.ResetStatistics);
  apply(PlotBtn, l.PlotButton);
  apply(StatisticsTable, l.StatisticsTable);
  // The request text takes what the counters leave.
  const QFontMetrics metrics = StatisticsTable->fontMetrics();
  int counters = 0;
  for (int c = 1; c < TStatisticsModel::ColumnCount; ++c) {
    const int width = std::max(metrics.horizontalAdvance(kStatisticsHeaders[c]), metrics.horizontalAdvance("000000")) + 12;
    StatisticsTable->setColumnWidth(c, width);
    counters += width;
  }
  const int client = l.StatisticsTable.Width - 2 * StatisticsTable->frameWidth() - 2;
  StatisticsTable->setColumnWidth(0, std::max(client - counters, metrics.horizontalAdvance("0A0B0C.0102") + 12));
}

void TRegistersPage::Refresh(bool registersMode) {
  StatisticsModel->Refresh();
  if (!registersMode || deviceText_.isEmpty()) return;
  const mkp::TStatsTotals totals = Stats.Totals();
  form_.StatusPanels[3]->setText(deviceText_ + QString("  %1 sent, %2 answered").arg(totals.Sent).arg(totals.Answered));
}

void TRegistersPage::SelectDevice() {
  QString file = form_.CmdLineDeviceFile;
  if (!form_.CmdLineDeviceGiven) {
    file = dialogs_.OpenFile("Open", "Device description files (*.rst);;All files (*)", "rst");
    if (file.isEmpty()) return;
  }
  const bool registers = form_.CurrentMode == wmRegisters;
  TEventLoopWaiter waiter;
  mkp::SelectDevice(ToEngine(file), form_.DeviceModel, registers ? &form_.RegisterRows : nullptr, form_.Automat(),
                    waiter)
      .ThrowIfNothingUsable();  // a file with nothing usable: the box, and the device stays
  if (!registers) return;
  History.Clear();  // the rows belong to another device now
  Plot->Redraw();
  StatisticsModel->Refresh();
  form_.ArrangeControls();
  deviceText_ = FromEngine(mkp::DeviceStatusText(ToEngine(file)));
  form_.StatusPanels[3]->setText(deviceText_);
}

void TRegistersPage::ChangeAddress() {
  if (form_.CurrentMode != wmRegisters) return;
  form_.VORELAddrForm->SetAddressText(form_.DeviceAddress);
  if (!dialogs_.Run(*form_.VORELAddrForm)) return;
  form_.DeviceAddress = form_.VORELAddrForm->AddressText().substr(0, 255);
  if (!form_.DeviceAddress.empty())
    if (mkp::TRegistersAutomat* automat = form_.Automat()) automat->SetTargetAddress(form_.DeviceAddress);
}

void TRegistersPage::ResetStatistics() {
  Stats.Reset();
  Refresh(form_.CurrentMode == wmRegisters);
}

bool TRegistersPage::CanPlot(int row) const {
  return row >= 1 && row <= form_.RegisterRows.RowCount() &&
         mkp::TValueHistory::NumericValue(form_.RegisterRows.CurrentValue(row)).has_value() &&
         (History.IsChosen(row) || static_cast<int>(History.Chosen().size()) < mkp::TValueHistory::MaxSeries);
}

bool TRegistersPage::SetPlotted(int row, bool plotted) {
  if (plotted && !History.IsChosen(row) && !CanPlot(row)) return false;
  if (!History.Choose(row, plotted)) return false;
  Plot->Redraw();
  return true;
}

void TRegistersPage::ShowPlot() {
  Plot->show();
  Plot->raise();
  Plot->activateWindow();
}

void TRegistersPage::GridMenu(const QPoint& at) {
  const QModelIndex index = RegistersTable->indexAt(at);
  if (!index.isValid()) return;
  const int row = index.row() + 1;
  PlotItem->setChecked(History.IsChosen(row));
  PlotItem->setEnabled(History.IsChosen(row) || CanPlot(row));
  QMenu menu(RegistersTable);
  menu.addAction(PlotItem);
  if (menu.exec(RegistersTable->viewport()->mapToGlobal(at)) != PlotItem) return;
  if (SetPlotted(row, PlotItem->isChecked()) && History.IsChosen(row)) ShowPlot();
}

}  // namespace mkpt
