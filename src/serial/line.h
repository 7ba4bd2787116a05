// The serial line as the transport sees it: an open state, writes, and single
// reads bounded by time-outs. TCOMPortChannel is the real one; tests of the
// protocol logic above it use a line in memory.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/monotime.h"

namespace mkp {

enum TPortState { psOk = 0, psInvalid = 1, psFailed = 2 };

// The status bar text of a state: "Port settings OK", "Invalid port settings!",
// "Last operation FAILED!".
const char* PortStateText(TPortState state);

class TSerialLine {
public:
  // Whether the bytes read so far are the unfinished start of something
  // longer (a frame whose header announces more bytes than have come). While
  // it says so, a read is not ended by a short silence of the line; see
  // TCOMPortChannel::ReadBytes.
  using TUnfinished = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;
  // Whether the caller wants a read to end now (an interactive program whose
  // user pressed Ctrl+C). Called from the reading thread.
  using TInterrupted = std::function<bool()>;
  // How often a read asks TInterrupted while it waits.
  static constexpr std::chrono::milliseconds InterruptCheck{40};

  virtual ~TSerialLine() = default;

  virtual TPortState State() const = 0;
  // Writes count bytes (or queues them when the line paces its writes); on
  // return count holds the bytes written or queued, 0 on failure.
  virtual bool WriteBytes(const std::uint8_t* buffer, std::size_t& count) = 0;
  // How much longer the bytes written so far take to go out (a line that
  // paces its writes); zero when they are out.
  virtual std::chrono::nanoseconds PendingWriteTime() const { return std::chrono::nanoseconds(0); }
  // When the bytes of a read arrived: each run of bytes that came together,
  // from its offset in the read on.
  struct TArrival {
    std::size_t Offset = 0;
    TMonoTime Time{};
  };
  struct TReadOptions {
    // Lets the read ride out the silences inside an unfinished frame.
    TUnfinished Unfinished;
    // Receives the moment the first byte of the read arrived (left alone when
    // none did).
    TMonoTime* FirstByte = nullptr;
    // Replaces the read's total time-out.
    const TMonoTime* Deadline = nullptr;
    // Receives the arrival of each run of bytes of the read (cleared first).
    std::vector<TArrival>* Arrivals = nullptr;
    // Asked at least every InterruptCheck while the read waits; when it says
    // so, the read ends at once with what it has.
    TInterrupted Interrupted = nullptr;
  };
  // One read of up to maximum bytes; true with count 0 when nothing arrived in
  // time, false when the line is not usable.
  virtual bool Read(std::uint8_t* buffer, std::size_t maximum, std::size_t& count, const TReadOptions& options) = 0;
  bool ReadBytes(std::uint8_t* buffer, std::size_t maximum, std::size_t& count,
                 const TUnfinished& unfinished = nullptr, TMonoTime* firstByte = nullptr,
                 const TMonoTime* deadline = nullptr) {
    return Read(buffer, maximum, count, {unfinished, firstByte, deadline, nullptr});
  }
  // Drops the bytes that arrived before the given moment and wait unread; how
  // many (with those dropped earlier for want of room and not yet told).
  virtual std::size_t DiscardWaiting(TMonoTime arrivedBefore = TMonoTime::max()) {
    (void)arrivedBefore;
    return 0;
  }
  // Bytes dropped for want of room since the last call (a line that keeps
  // unread bytes has a limit).
  virtual std::size_t TakeDropped() { return 0; }
  // The longest silence inside an unfinished frame that a read rides out.
  virtual std::chrono::microseconds FrameGap() const { return std::chrono::milliseconds(20); }
  // Once after a line over the network was lost: the line to show for it
  // ("Connection lost"); empty otherwise.
  virtual std::string TakeLostReport() { return {}; }
};

}  // namespace mkp
