// The main window: owner of the channel, the transport and the analyser,
// binding the widgets to them. Every user action and timer tick becomes a
// numbered operation run by RunOperation.
#pragma once

#include <QMainWindow>
#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "analysis/parser.h"
#include "app/dialogs.h"
#include "app/layout.h"
#include "app/panes.h"
#include "protocol/transport.h"
#include "serial/comport.h"
#include "serial/portsettings.h"
#include "modes/slavetable.h"
#include "modes/worker.h"
#include "modes/device.h"
#include "modes/registers.h"
#include "modes/registers_ops.h"
#include "modes/registers_table.h"
#include "modes/monitor.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTimer;

namespace mkpt {

class TMonitorPage;
class TFindBar;
class TPortSetupFrame;
class TRegistersPage;
class TVORELAddrForm;

// wmMonitor is the listener of the fifth page ("Monitor"), beside the three
// modes of the other pages.
enum TWorkMode : std::uint8_t { wmMaster = 0, wmSlave = 1, wmRegisters = 2, wmMonitor = 3 };

enum TOperationCode : std::uint8_t {
  opApplyPortSettings = 0,
  opSendPacket = 2,
  opReceivePacket = 3,
  opSaveTerminal = 4,
  opToggleAutoscroll = 5,
  opFullPacketEdited = 6,
  opHeaderEdited = 7,
  opDataBlockEdited = 8,
  opRefreshStatus = 9,
  opClearTerminal = 10,
  opSwitchMode = 11,
  opLoadSlaveTable = 12,
  opSaveSlaveTable = 13,
  opToggleAnalyzeMaster = 14,
  opToggleAnalyzeSlave = 15,
  opToggleArrayAlign = 16,
  opLoadParseTable = 17,
  opToggleAutosave = 18,
  opSelectDevice = 19,
  opTransmitRegisters = 20,
  opChangeAddress = 21,
  opToggleHexFirst = 22,  // 22..35: one show-as-hex switch each
  opToggleHexLast = 35,
  opQuit = 36,
  // Beside the dispatcher's table:
  opToggleShowTime = 40,
  // Beside the numbered table, with codes of their own: the pane tools.
  opFindInPane = 60,
  opCopyLines = 61,
  opToggleLineColours = 62,
  opAbout = 63,
};

// A rejected input (the repeat interval field).
class EOperationError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TMainForm : public QMainWindow {
  Q_OBJECT
public:
  static constexpr const char* Caption = "Mirt Kalvora Protocol - Debugger 1.1.90.0004e";
  static constexpr const char* SettingsFile = "mkpt.ini";
  static constexpr const char* TerminalAutosaveFile = "MKPTest.trm";

  // Without dialogs the window shows real boxes.
  explicit TMainForm(std::shared_ptr<TDialogs> dialogs = nullptr, QWidget* parent = nullptr);
  ~TMainForm() override;

  void RunOperation(int code);
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
  TWorkMode CurrentMode = wmMaster;
  TWorkMode RequestedMode = wmMaster;
  mkp::TSlaveTable SlaveRows;  // the cells of the Slave page
  mkp::TRegistersTable RegisterRows;  // the cells of the Registers page
  mkp::TDeviceModel DeviceModel;      // the device description of Registers mode
  std::string DeviceAddress;          // "A.B.C" or empty
  bool CmdLineDeviceGiven = false;
  QString CmdLineDeviceFile;
  bool AutosaveEnabled = false;
  double TerminalSplitRatio = 0.5;
  bool Busy() const { return busy_; }
  // The command line's switches as given (tests set them before the first tick).
  QStringList Arguments;
  // The worker of the mode in force (the Slave responder), or null.
  mkp::TWorkerThread* Worker() const { return worker_.get(); }
  // The running registers automaton in Registers mode, or null.
  mkp::TRegistersAutomat* Automat() const;
  // The running bus monitor in Monitor mode, or null.
  mkp::TBusMonitor* Monitor() const;

  // ---- Controls (named as the window's description names them) ---------------
  QTabWidget* ModePageControl = nullptr;
  std::array<QWidget*, 4> TabSheets{};
  QFrame* OutboxPanel = nullptr;
  QLineEdit* HdrTextLE = nullptr;
  QLabel* HdrCSPanel = nullptr;
  QLineEdit* BodyTextLE = nullptr;
  QLabel* BodyCSPanel = nullptr;
  QLineEdit* AllPacketTextLE = nullptr;
  QPushButton* SendBtn = nullptr;
  QPushButton* ReceiveBtn = nullptr;
  QCheckBox* AutoCB = nullptr;
  QLineEdit* AutoIntervalEdit = nullptr;
  QTableView* SlaveTable = nullptr;
  std::array<QPushButton*, 4> SlaveBtns{};
  QTableView* RegistersTable = nullptr;
  std::array<QPushButton*, 3> RegistersBtns{};
  TRegistersPage* RegistersPage = nullptr;  // the Registers page's binding
  QPlainTextEdit* SymbolTerminal = nullptr;
  TMonitorPage* MonitorPage = nullptr;  // the fifth page
  QWidget* TerminalPanel = nullptr;
  QSplitter* TerminalSplitter = nullptr;
  TPaneView* TerminalLB = nullptr;
  TPaneView* DecodeTerminalLB = nullptr;
  TFindBar* FindBar = nullptr;  // under the panes, shown by "Find..."
  QFrame* PortSetupPanel = nullptr;
  TPortSetupFrame* PortSetupF = nullptr;
  std::array<QLabel*, 4> StatusPanels{};
  QTimer* InfoTimer = nullptr;
  QTimer* AutoTimer = nullptr;
  QTimer* ReconfigureTimer = nullptr;
  QTimer* PaneTimer = nullptr;
  QMenu* TerminalPopupMenu = nullptr;
  TVORELAddrForm* VORELAddrForm = nullptr;  // the bus address dialog, made hidden at start

  // The menu items by caption, main menu first, then the pop-up twin (or null).
  QAction* MainItem(const QString& caption) const;
  QAction* PopupItem(const QString& caption) const;

protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void CreateControls();
  void CreateMenus();
  // Find, copy, line colours and About (mainmenus.cpp).
  void RunPaneTool(int code);
  void SetUpKeyboard();
  void OnChangePortSettings(mkp::TPortSettings::TControl sender);
  void OnPageChanged(int index);
  void OnAutoClicked();
  void OnAutoIntervalChanged();
  void OnAutoTimer();
  void RunBody(int code);
  // The dispatcher's one error box.
  void ShowOperationError(const QString& message);
  void ApplyPortSettings();
  void HeaderOrDataEdited(bool header);
  void SendPacket();
  void ReceivePacket();
  void SaveTerminal();
  void SwitchMode();
  void LoadSlaveTable();
  void SaveSlaveTable();
  void LoadParseTable();
  int SlaveCurrentRow() const;
  void TransmitRegisters();
  // A new monitor takes over from the running one (another second port, other
  // line settings).
  void RestartMonitor();
  // Starts a monitor that takes over from the given worker (or none).
  void StartMonitor(std::unique_ptr<mkp::TWorkerThread> old);
  // Shows the error that ended a worker (from the worker's thread).
  void WorkerFinished(std::exception_ptr failure);
  void UpdateCheckMarks();
  // Runs a blocking exchange off the window's thread; painting and timers go
  // on, and the input that could overlap it is held until it ends.
  void WaitFor(const std::function<void()>& work);

  std::shared_ptr<TDialogs> dialogs_;
  std::unique_ptr<mkp::TWorkerThread> worker_;
  // Workers asked to stop that may still be in a receive; freed once ended.
  std::vector<std::unique_ptr<mkp::TWorkerThread>> retired_;
  TPaneFeed terminalFeed_, decodeFeed_;
  std::vector<QAction*> mainItems_, popupItems_;
  bool busy_ = false;
  bool closeAfterWait_ = false;
  std::atomic<bool> abortTransmit_{false};
  bool arranging_ = false;
};

}  // namespace mkpt
