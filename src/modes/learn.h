// A slave table learned from a capture: the device's side of a recorded
// conversation, so that Slave mode answers the recorded master as the
// recorded device did.
//
// The rule: every whole frame sent (the master's request) that was answered,
// its answer being the next whole frame received within the read time-out of
// a frame (AnswerWindow) and before the next request, becomes a row: the
// request as "Received packet", the answer as "Packet to answer", both in
// the packet text form (without its trailing blank). A pair seen before is
// not added again; rows keep the order in which their pairs were first seen.
// Bytes that formed no frame are passed over.
//
// A capture made by a monitor holds received frames only: the master's frames
// are then those of one port (MasterInterface).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "modes/slavetable.h"
#include "protocol/capture.h"
#include "protocol/linetime.h"

namespace mkp {

struct TLearnOptions {
  // 0: the requests are the frames sent. N: they are the frames captured on
  // the capture's MKP interface N (a monitor's port N), the answers those of
  // the other interfaces.
  int MasterInterface = 0;
  std::chrono::milliseconds Window = AnswerWindow;
};

struct TLearnStats {
  std::uint64_t Requests = 0;    // whole frames sent
  std::uint64_t Answered = 0;    // requests that got an answer
  std::uint64_t Unanswered = 0;  // requests that got none in time
  std::uint64_t Repeats = 0;     // answered pairs already in the table
};

class TSlaveTableLearner {
public:
  explicit TSlaveTableLearner(TLearnOptions options = {}) : options_(options) {}
  // The frames of a capture, in its order.
  void Add(const TCapturedFrame& frame);
  // After the last frame: a request still waiting counts as unanswered.
  void Finish();
  const std::vector<TSlaveRow>& Rows() const { return rows_; }
  const TLearnStats& Stats() const { return stats_; }

private:
  TLearnOptions options_;
  std::optional<std::pair<std::string, TWallTime>> pending_;
  std::set<std::pair<std::string, std::string>> seen_;
  std::vector<TSlaveRow> rows_;
  TLearnStats stats_;
};

// Reads the capture and learns its table. False with the reader's text in
// error when the file is no capture of MKP frames, is cut off (the rows
// learned before the damage are kept), or the reading was cancelled (error
// empty).
bool LearnSlaveTable(const std::string& capture, std::vector<TSlaveRow>& rows, std::string& error,
                     TLearnStats* stats = nullptr, TLearnOptions options = {},
                     const std::atomic<bool>* cancel = nullptr);

}  // namespace mkp
