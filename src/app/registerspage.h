// The Registers page: the registers grid and its three buttons, the request
// statistics under the grid with "Reset statistics", and the plot of chosen
// registers in a window of its own ("Plot", or the grid's pop-up item). The
// page owns what only Registers mode uses: the device model, the table of
// register values, the device's bus address and the address dialog. The
// figures live in the engine (TRegistersStats, TValueHistory), which the
// registers automaton feeds; the page shows them.
#pragma once

#include <QWidget>
#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "app/layout.h"
#include "modes/device.h"
#include "modes/registers_table.h"
#include "modes/regstats.h"
#include "modes/valuehistory.h"

class QAction;
class QPushButton;
class QTableView;

namespace mkp {
class TRegistersAutomat;
class TWorkerThread;
}  // namespace mkp

namespace mkpt {

class TPageHost;
class TRegistersPlot;
class TScanDialog;
class TStatisticsModel;
class TVORELAddrForm;

class TRegistersPage : public QWidget {
  Q_OBJECT
public:
  explicit TRegistersPage(TPageHost& host, QWidget* parent = nullptr);

  // An automaton for the device model, writing into the table, the
  // statistics and the history; not started.
  std::unique_ptr<mkp::TWorkerThread> MakeAutomat();
  // The running automaton in Registers mode, or null.
  mkp::TRegistersAutomat* Automat() const;
  void Measure(TLayoutInput& in) const;
  void Arrange(const TLayout& layout);
  QList<QWidget*> TabChain() const;
  // Once a second with the status bar: the statistics table, and in Registers
  // mode the totals after the device name in status panel 3.
  void Refresh();
  // The device file of the command line: taken by "Selecr device" without
  // asking; with lock, "Selecr device" is hidden (/REGSIMPLE).
  void SetCommandLineDevice(const QString& file, bool lock);
  // A transmit under way ends at its next wait (the window is closing).
  void AbortTransmit() { abortTransmit_ = true; }

  void ResetStatistics();
  // Adds a register (row from 1) to the plot or takes it off; false when it
  // cannot be plotted.
  bool SetPlotted(int row, bool plotted);
  bool CanPlot(int row) const;
  // Why a register cannot be plotted, or empty when it can.
  QString PlotRefusal(int row) const;
  void ShowPlot();
  // "Scan bus...": the scan dialog, modal to the window; the automaton holds
  // while a scan runs.
  void ScanBus();
  // The device address as "Change sddress" sets it ("A.B.C"): for Transmit
  // and, when not empty, for the running automaton's requests.
  void SetDeviceAddress(const std::string& address);

  mkp::TRegistersTable Rows;  // the grid's cells
  mkp::TDeviceModel Model;    // the device description
  std::string DeviceAddress;  // "A.B.C" or empty
  bool CmdLineDeviceGiven = false;
  QString CmdLineDeviceFile;
  mkp::TRegistersStats Stats;
  mkp::TValueHistory History;

  // The Parts' controls.
  QTableView* RegistersTable = nullptr;
  std::array<QPushButton*, 3> RegistersBtns{};
  TVORELAddrForm* VORELAddrForm = nullptr;  // the bus address dialog, hidden until asked for
  // Beside them.
  QPushButton* ResetStatsBtn = nullptr;
  QPushButton* PlotBtn = nullptr;
  QTableView* StatisticsTable = nullptr;
  TStatisticsModel* StatisticsModel = nullptr;
  QAction* PlotItem = nullptr;  // the grid's pop-up item
  TRegistersPlot* Plot = nullptr;
  QPushButton* ScanBtn = nullptr;       // "Scan bus..."
  TScanDialog* ScanDialog = nullptr;    // made at the first scan, kept with its finds

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void SelectDevice();
  void TransmitRegisters();
  void ChangeAddress();
  void GridMenu(const QPoint& at);
  void FitStatisticsColumns();

  TPageHost& host_;
  QString deviceText_;  // status panel 3: a blank and the device file's name
  std::atomic<bool> abortTransmit_{false};
};

}  // namespace mkpt
