// TDeviceSimulator: a simulated device on the serial line, the other end of
// Registers mode. It plays the device that a device description (.rst)
// describes:
//
// - a read request of the description, sent to the device's address, gets the
//   answer the automaton expects: command 7, the request's data type, the
//   request's first data byte, then the value of each row of the request's row
//   list, encoded for the data type as a write template would encode it;
// - a write packet that fits a write template (same command and data type,
//   same bytes before the first placeholder) stores the written value, read
//   back the way the decode pane reads it, and is acknowledged with command 1;
// - any other packet is answered from the slave table, when one is given, as
//   the Slave responder answers it;
// - failing that, a ping (04) to the device's address is acknowledged (01)
//   and a read (06) of a register it does not have gets an error answer (03,
//   code 04 "no such variable"), as a device on a bus does, so that a bus
//   scan finds it whatever it probes with.
//
// On purpose, for tests of a master: it may drop, keep silent at, corrupt or
// mis-answer every Nth read request it receives, put a burst of random bytes
// on the line before an answer, answer after a chosen delay, and write its
// answers in two parts with a gap between them.
//
// It reads the line frame by frame (TFrameSplitter, the split carried from
// read to read), so frames that follow each other closely, or that others
// send, never cost it its framing. Several devices share one line as a
// TSimulatedBus (simbus.h).
//
// Registers may drift: each read moves the value by a step, ten steps up and
// then ten down, so a master sees values change. Created as
// TWorker<TDeviceSimulator> (see worker.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "analysis/parser.h"
#include "modes/device.h"
#include "modes/registers_table.h"
#include "modes/slave.h"
#include "modes/worker.h"
#include "protocol/framesplit.h"
#include "protocol/packet.h"

namespace mkp {

class TMKProtocolTransport;

class TDeviceSimulator : public TWorkerThread {
public:
  // Pause after a packet before the answer goes out, as the Slave responder.
  static constexpr int AnswerDelayMs = 5;
  // Steps a drifting value goes one way before it turns back.
  static constexpr int DriftSteps = 10;
  // The error code of the answer to a read of a register the device lacks.
  static constexpr std::uint8_t ErrorNoSuchVariable = 4;

  TDeviceSimulator() = default;

  // Faults on purpose. On the Nth, 2Nth, ... read request received (counted
  // from 1; 0 never): no answer (Drop), an answer whose data checksum is
  // broken (Corrupt), or an answer with another data type (Wrong); when two
  // fall on the same request the first of these wins. DelayMs: the pause
  // before each answer.
  // Then SilentEvery: no answer, as Drop, but counted apart; GarbageEvery: a
  // burst of random bytes on the line before the answer. The order in which
  // they win: Drop, Silent, Corrupt, Wrong, Garbage. SplitMs > 0: every answer
  // goes out in two parts that many ms apart.
  struct TMisbehaviour {
    int DropEvery = 0;
    int CorruptEvery = 0;
    int WrongEvery = 0;
    int DelayMs = AnswerDelayMs;
    int SilentEvery = 0;
    int GarbageEvery = 0;
    int SplitMs = 0;
  };
  void SetMisbehaviour(const TMisbehaviour& misbehaviour) { misbehaviour_ = misbehaviour; }

  // Set all of these before Start(); none of the pointers is owned.
  void SetTransport(TMKProtocolTransport* transport) { transport_ = transport; }
  // The description; the device's address is the destination of its first
  // request unless SetAddress names another.
  void SetModel(const TDeviceModel& model);
  void SetAddress(const TVorelAddr& address) { address_ = address; }
  void SetTable(const TSlaveTable* table) { table_ = table; }
  // A register's value, as a value text of the Registers page ("1000",
  // "21.5", "MKP-1", "5 6" for BYTE values).
  void SetValue(int reg, const std::string& value);
  // Each read of the register moves its value by step (integer or real).
  void SetDrift(int reg, double step) { drift_[reg] = TDrift{step, 0}; }

  std::string Value(int reg) const { return values_.CurrentValue(reg); }
  TVorelAddr Address() const { return address_; }

  // The answer to one received packet, or false when the device keeps quiet.
  // Values of drifting registers move when they are read.
  bool Answer(const TMKPPacket& received, TMKPPacket& answer);

  // What becomes of the answer to the next read request, by the
  // misbehaviour's schedule (counts the read request).
  enum class TFault { None, Drop, Corrupt, Wrong, Silent, Garbage };
  TFault NextReadFault();

  // Answers one packet received (when it answers it at all), with the
  // misbehaviour of the schedule, through the transport.
  void Handle(const TMKPPacket& received);

  // What the device did, for checking a master against it (any thread).
  struct TCounters {
    std::uint64_t Requests = 0;   // read requests received
    std::uint64_t Answered = 0;   // answers written (the faulty ones included)
    std::uint64_t Dropped = 0;    // read requests left unanswered by --drop-every
    std::uint64_t Silent = 0;     // ... by --silent-every
    std::uint64_t Corrupted = 0;  // answers with a broken checksum
    std::uint64_t Wrong = 0;      // answers with another data type
    std::uint64_t Garbage = 0;    // bursts of random bytes before an answer
    std::uint64_t Split = 0;      // answers written in two parts
  };
  TCounters Counters() const;

  // How long one turn of the loop reads the line at most (a stop or a pause
  // is seen between two turns).
  static constexpr std::chrono::milliseconds ReadSlice{100};
  // One turn of a loop that serves the line: reads it for a slice at most
  // (until a read brings a frame), the splitter carried from turn to turn,
  // then hands each frame read to onFrame, in order. When the line is not
  // usable, waits out the slice so that the loop does not spin.
  static void ServeLine(TMKProtocolTransport& transport, TFrameSplitter& splitter, std::chrono::milliseconds slice,
                        const std::function<void(const TMKPPacket& frame)>& onFrame);

protected:
  void Execute() override;

private:
  struct TDrift {
    double Step = 0;
    int Count = 0;  // steps taken; the direction turns every DriftSteps
  };
  // Only the bytes a packet is matched on are kept, not a whole data block
  // each: a description may hold many thousands of requests and templates.
  struct TRequest {
    std::uint8_t Command = 0;            // the request as written
    std::uint8_t DataType = 0;
    std::vector<std::uint8_t> Data;
    std::vector<int> Rows;               // rows that receive the answer's values
  };
  struct TWriteTemplate {
    std::uint8_t Command = 0;
    std::uint8_t DataType = 0;
    std::vector<std::uint8_t> Prefix;    // the bytes before the first placeholder
    std::vector<int> Rows;               // the rows of its placeholders, in order
  };
  bool AnswerRead(const TMKPPacket& received, TMKPPacket& answer);
  bool AnswerWrite(const TMKPPacket& received, TMKPPacket& answer);
  void Drift(int reg);
  // Writes the answer's frame with its last checksum byte changed (corrupt),
  // in two parts SplitMs apart when SplitMs > 0.
  void SendFaulty(const TMKPPacket& answer, bool corrupt);
  void SendGarbage();
  void Count(std::uint64_t TCounters::*counter);

  TMKProtocolTransport* transport_ = nullptr;
  std::vector<TRequest> requests_;
  std::vector<TWriteTemplate> writes_;
  TVorelAddr address_{};
  const TSlaveTable* table_ = nullptr;
  TRegistersTable values_;
  std::map<int, TDrift> drift_;
  TMKPParser parser_;  // reads written values; the worker's own
  TMisbehaviour misbehaviour_;
  long long reads_ = 0;      // read requests received
  mutable std::mutex countersLock_;
  TCounters counters_;
  std::uint32_t garbageSeed_ = 0;  // the random bytes, the same on every run
  bool lastWasRead_ = false;  // the last answer made was to a read request
};

}  // namespace mkp
