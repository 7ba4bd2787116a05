// TRegistersAutomat: the worker of Registers mode. It sends the read requests
// of a device description one after the other in an endless cycle, checks
// each answer, puts the decoded values into the Current value cells of the
// registers table and appends them to the request's log files.
//
// Each step is announced through a named step event (set at its start, reset
// at its end), which the register transmit tests without waiting. Pausing,
// resuming, stopping and the hand-over between workers are those of
// TWorkerThread; the automaton holds at a safe point between steps and within
// its pauses between steps. Created as TWorker<TRegistersAutomat>; an error
// that ends it is written to the terminal pane and handed to the owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "modes/device.h"
#include "modes/regstats.h"
#include "modes/valuehistory.h"
#include "modes/worker.h"
#include "protocol/linetime.h"
#include "protocol/packet.h"
#include "text/paramlist.h"

namespace mkp {

class TMKProtocolTransport;
class TMKPParser;
class TRegistersTable;

// Leaves the automaton's loop when a stop has been requested.
class EThreadMustTerminate : public std::runtime_error {
public:
  EThreadMustTerminate() : std::runtime_error("") {}
};

// The address text that means "no override": requests keep the destination
// written in the device description.
inline constexpr const char* NoTargetAddress = "255.255.255";

class TRegistersAutomat : public TWorkerThread {
public:
  // The wait between sending a request and reading its answer.
  static constexpr int ReplyWaitMs = 100;
  static constexpr int DefaultStepDelay = 100;
  static constexpr int DefaultCycleDelay = 0;

  TRegistersAutomat();
  ~TRegistersAutomat() override;

  // Fresh empty lists, StepDelay 100, CycleDelay 0, TargetAddress
  // "255.255.255", and a new step event named after the current moment. A
  // model still held is released first.
  void PrepareModel();
  // Frees the lists and releases the step event.
  void ReleaseModel();
  // Copies the four lists of the device model (names, requests, row lists,
  // save commands) and its two delays where they are not DelayUnset.
  void CopyModel(const TDeviceModel& model);

  // The table whose Current value cells the automaton fills (not owned; may
  // be null).
  void SetTables(TRegistersTable* table);

  // Reads packet text into a record prepared with InitPacket and applies the
  // TargetAddress override to its destination. The result of the reading.
  bool RequestTextToPacket(std::string_view text, TMKPPacket& packet) const;

  // Device address "A.B.C" for requests, or "255.255.255" for none; cut to
  // 255 characters. May be changed while the automaton runs.
  void SetTargetAddress(const std::string& address);
  std::string TargetAddress() const;

  std::atomic<std::int32_t> StepDelay{DefaultStepDelay};
  std::atomic<std::int32_t> CycleDelay{DefaultCycleDelay};

  // Set before Start(); not owned.
  TMKProtocolTransport* Transport = nullptr;
  // The analyser bound to Transport, whose Results hold the values of an answer.
  TMKPParser* Parser = nullptr;

  // Where the automaton reports how each request ended and the values it
  // accepted (either may be null; not owned). Set before Start(); the
  // statistics start again at zero with every CopyModel.
  void SetObservers(TRegistersStats* stats, TValueHistory* history);
  // Completed cycles since the start (the row number of a value export).
  std::uint64_t CycleCount() const { return cycles_.load(); }

  // Called in the automaton's thread after each step that completed a cycle
  // (the last request answered well). Set before Start().
  void SetOnCycle(std::function<void()> onCycle);

  // The name of the current step event ("" while no model is held).
  std::string StepEventName() const;
  // True while a step is in progress (the step event exists and is set).
  bool IsStepInProgress() const;

  // Lists of the model (null while none is held); for inspection.
  int RequestCount() const;

protected:
  void Execute() override;

private:
  struct TStep {
    std::string Request;
    std::string Rows;
    std::string Saves;
    std::string EventName;
    TRegistersTable* Table = nullptr;
  };
  // True when the step succeeded; throws EThreadMustTerminate on a stop.
  bool RunStep(const TStep& step);
  void DistributeValues(std::string rows, TRegistersTable* table, const std::vector<std::string>& values);
  // How the wait for a request's answer ended.
  struct TAnswer {
    std::optional<TMonoTime> Time;    // the answer's first byte; none: no answer
    std::vector<std::string> Values;  // the decoded values of the answer
    bool BadBytes = false;            // bytes that formed no frame came first
    std::uint64_t OtherTraffic = 0;   // other stations' frames passed over
  };
  // Reads until the answer to the request (a frame addressed to its sender)
  // comes, into reply; throws EThreadMustTerminate on a stop.
  TAnswer AwaitAnswer(const TMKPPacket& request, TMKPPacket& reply);
  void RunSaveCommands(std::string saves, const std::vector<std::string>& values);
  void EmptyLine(TMKPPacket& reply);
  // A fault that does not stop polling: one terminal line when it first
  // appears; it shows again only after ClearFault.
  void ReportFault(const std::string& key, const std::string& line);
  void ClearFault(const std::string& key);
  // Waits the pause after a step, holding at safe points meanwhile; false
  // when a stop has been requested.
  bool PauseBetweenSteps(std::int32_t milliseconds);

  mutable std::mutex modelLock_;
  std::unique_ptr<TParamList> registerNames_;
  std::unique_ptr<TParamList> requests_;
  std::unique_ptr<TParamList> requestRows_;
  std::unique_ptr<TParamList> requestSaves_;
  std::string stepEventName_;
  std::string targetAddress_ = NoTargetAddress;
  TRegistersTable* table_ = nullptr;
  std::uint64_t generation_ = 0;  // changes with every new model or copy

  // Automaton thread only.
  std::set<std::string> faults_;
  int stepIndex_ = 0;  // next request to run

  std::function<void()> onCycle_;
  TRegistersStats* stats_ = nullptr;
  TValueHistory* history_ = nullptr;
  std::atomic<std::uint64_t> cycles_{0};
};

// Builds a registers automaton as entering Registers mode does: prepared,
// bound to the transport, analyser and table, given the device model's lists
// and delays and, when deviceAddress is not empty, that address as its
// TargetAddress. Not started.
std::unique_ptr<TWorker<TRegistersAutomat>> MakeRegistersAutomat(TMKProtocolTransport& transport,
                                                                 TMKPParser& parser,
                                                                 TRegistersTable& table,
                                                                 const TDeviceModel& model,
                                                                 const std::string& deviceAddress,
                                                                 TRegistersStats* stats = nullptr,
                                                                 TValueHistory* history = nullptr);

}  // namespace mkp
