// The two operations of the Registers page that run in the window's thread
// while the automaton runs: selecting a device and transmitting new register
// values. Their waits go through a TWaiter so that the window can keep
// painting meanwhile.
#pragma once

#include <functional>
#include <string>

#include "modes/device.h"
#include "modes/registers.h"
#include "text/loadresult.h"

namespace mkp {

class TMKProtocolTransport;
class TMKPParser;
class TRegistersTable;

// The waits of the page's operations. The window implements Sleep by running
// its event loop for that long; mkptool and tests simply sleep.
class TWaiter {
public:
  virtual ~TWaiter() = default;
  virtual void Sleep(int milliseconds) = 0;
};

class TThreadWaiter : public TWaiter {
public:
  void Sleep(int milliseconds) override;
};

// Status panel texts of a transmit.
inline constexpr const char* TransmitProcessingText = "Processing...";
inline constexpr const char* TransmitBusyText = "System busy. Try again.";

struct TTransmitContext {
  TMKProtocolTransport* Transport = nullptr;
  TMKPParser* Parser = nullptr;
  TRegistersAutomat* Automat = nullptr;  // may be null (ended on its own)
  const TDeviceModel* Model = nullptr;
  const TRegistersTable* Table = nullptr;
  std::string DeviceAddress;  // destination of the writes when not empty
  TWaiter* Waiter = nullptr;
  // Shows a text in status panel 2 (optional).
  std::function<void(const std::string&)> ShowStatus;
};

enum class TTransmitResult {
  Done,  // the automaton was held and the writes went out
  Busy,  // a step did not end in time: "System busy. Try again." and nothing sent
};

// Writes one packet per row with a New value and a write template to the
// device while the automaton is held between steps. packetsSent (optional)
// receives the number of write packets sent.
TTransmitResult TransmitRegisters(const TTransmitContext& context, int* packetsSent = nullptr);

// Selecting a device description. Outside Registers mode (no automaton) only
// the model is loaded. Otherwise the automaton is held, the model loaded, the
// table rebuilt from its names (values cleared), and the automaton given a
// fresh model with the new lists and delays (TargetAddress back to none).
// Returns the loader's result; a file that yields nothing changes nothing.
TLoadResult SelectDevice(const std::string& fileName, TDeviceModel& model, TRegistersTable* table,
                         TRegistersAutomat* automat, TWaiter& waiter);

// What the last status panel shows for a device file: a blank and the file's
// name without folder and extension.
std::string DeviceStatusText(const std::string& fileName);

}  // namespace mkp
