// The working modes and the numbered operations of the window.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace mkpt {

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
  opToggleCapture = 44,  // "Capture to file..."
  opOpenLog = 45,        // "Open log..."
  opLearnSlaveTable = 46,  // "Learn slave table..." on the Slave page
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

}  // namespace mkpt
