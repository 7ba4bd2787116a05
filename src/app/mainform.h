// The main window: owner of the channel, the transport and the analyser, and
// of the parts that all pages share (the panes, the port settings, the status
// bar, the menus and the dispatcher). It creates the pages, switches modes
// and wires them together; each page binds its own controls.
#pragma once

#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "analysis/parser.h"
#include "app/dialogs.h"
#include "app/dispatcher.h"
#include "app/operations.h"
#include "app/portkeeper.h"
#include "modes/worker.h"
#include "protocol/transport.h"
#include "serial/comport.h"
#include "serial/portsettings.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QTimer;

namespace mkpt {

class TCaptureTool;
class TFindBar;
class TLogPanes;
class TMasterPage;
class TMonitorPage;
class TPageHost;
class TPaneView;
class TPortSetupFrame;
class TRegistersPage;
class TSlavePage;

class TMainForm : public QMainWindow {
  Q_OBJECT
public:
  static constexpr const char* Caption = "Mirt Kalvora Protocol - Debugger 1.1.90.0004e";
  static constexpr const char* SettingsFile = "mkpt.ini";
  static constexpr const char* TerminalAutosaveFile = "MKPTest.trm";
  static constexpr int MonitorPageIndex = 4;

  // Without dialogs the window shows real boxes.
  explicit TMainForm(std::shared_ptr<TDialogs> dialogs = nullptr, QWidget* parent = nullptr);
  ~TMainForm() override;

  void RunOperation(int code) { Dispatcher->Run(code); }
  // Places every control (on resize and after a page or mode change).
  void ArrangeControls();
  // Moves the lines the feeds hold into the panes (the drain timer does it),
  // unless the panes are held.
  void DrainPanes();
  // Empties both panes and what their feeds still hold.
  void ClearPanes();
  // Whether the panes are held (the Monitor page's Pause): lines wait in the
  // feeds.
  bool PanesHeld() const;
  // The command line, read once at the first tick of ReconfigureTimer.
  void ReadCommandLine();

  // ---- State ------------------------------------------------------------------
  mkp::TCOMPortChannel Channel;
  mkp::TMKPParser Parser;
  mkp::TMKProtocolTransport Transport{&Channel};
  // Opens the port and brings a lost network line back; the transport uses its line.
  TPortKeeper PortKeeper{Channel, Transport};
  TWorkMode CurrentMode = wmMaster;
  TWorkMode RequestedMode = wmMaster;
  bool AutosaveEnabled = false;
  double TerminalSplitRatio = 0.5;
  bool Busy() const { return busy_; }
  // The command line's switches as given (tests set them before the first tick).
  QStringList Arguments;
  // The worker of the mode in force, or null.
  mkp::TWorkerThread* Worker() const { return worker_.get(); }

  // ---- The pages and the shared parts ------------------------------------------
  TDispatcher* Dispatcher = nullptr;
  QTabWidget* ModePageControl = nullptr;
  std::array<QWidget*, 4> TabSheets{};  // Master, Slave, Registers, Terminal
  TMasterPage* MasterPage = nullptr;
  TSlavePage* SlavePage = nullptr;
  TRegistersPage* RegistersPage = nullptr;
  QPlainTextEdit* SymbolTerminal = nullptr;  // the Terminal page: free text
  TMonitorPage* MonitorPage = nullptr;       // the fifth page
  TLogPanes* TerminalPanel = nullptr;
  QSplitter* TerminalSplitter = nullptr;
  TPaneView* TerminalLB = nullptr;
  TPaneView* DecodeTerminalLB = nullptr;
  TFindBar* FindBar = nullptr;  // under the panes, shown by "Find..."
  QFrame* PortSetupPanel = nullptr;
  TPortSetupFrame* PortSetupF = nullptr;
  std::array<QLabel*, 4> StatusPanels{};
  QTimer* InfoTimer = nullptr;
  QTimer* ReconfigureTimer = nullptr;
  QTimer* PaneTimer = nullptr;
  QMenu* TerminalPopupMenu = nullptr;
  TCaptureTool* Capture = nullptr;  // "Capture to file..."

  // The menu items by caption, main menu first, then the pop-up twin (or null).
  QAction* MainItem(const QString& caption) const;
  QAction* PopupItem(const QString& caption) const;

protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  class THost;
  void CreateControls();
  // The operations of the menus' switches and pane tools (mainmenus.cpp).
  void AddMenuOperations();
  void CreateMenus();
  // "Capture to file..." and "Open log..." (logtools.cpp).
  void AddLogTools();
  // Tab goes through the page in force, the panes, the find bar and the port settings.
  void SetTabOrder();
  void AddOperations();
  void OnChangePortSettings(mkp::TPortSettings::TControl sender);
  void ApplyPortSettings();
  void RefreshStatus();
  void SaveTerminal();
  void LoadParseTable();
  void OnPageChanged(int index);
  // Shows a page from code (no page change is raised) and switches to its mode.
  void ShowPage(int index, TWorkMode mode);
  void SwitchMode();
  // A worker for a mode, not started (none for Master).
  std::unique_ptr<mkp::TWorkerThread> MakeWorker(TWorkMode mode);
  // Starts the worker of the mode in force, once the old one has let go.
  void StartWorker(std::unique_ptr<mkp::TWorkerThread> worker, std::unique_ptr<mkp::TWorkerThread> old);
  // Shows the error that ended a worker (from the worker's thread).
  void WorkerFinished(std::exception_ptr failure);
  void WaitFor(const std::function<void()>& work);

  std::shared_ptr<TDialogs> dialogs_;
  std::unique_ptr<THost> host_;
  std::unique_ptr<mkp::TWorkerThread> worker_;
  // Workers asked to stop that may still be in a receive; freed once ended.
  std::vector<std::unique_ptr<mkp::TWorkerThread>> retired_;
  std::vector<QAction*> mainItems_, popupItems_;
  bool busy_ = false;
  bool closeAfterWait_ = false;
  bool arranging_ = false;
};

}  // namespace mkpt
