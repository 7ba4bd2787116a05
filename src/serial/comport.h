// TCOMPortChannel: the one serial port of the system.
//
// Port names: "COMn" (any case) is /dev/ttyS(n-1); "tcp://HOST:PORT" is a
// raw TCP connection to a serial device server and "rfc2217://HOST:PORT" a
// Telnet connection to one whose line the open sets (speed, parity, stop
// bits); any other name containing "/" is a device path used exactly as
// written (/dev/ttyUSB0, /dev/serial/by-id/..., a pseudo-terminal). All three
// kinds of line carry their bytes through a TLineStream; everything below is
// the same for them. A network line that breaks while working is lost like a
// pulled adapter: PortLost(), LastErrorBrief() "Connection lost", and the next
// OpenPort connects again.
//
// Line options (SetLineOptions). Echo: some two-wire RS-485 adapters hand back
// every byte written; after each write the reader drops the bytes that repeat
// it exactly, as they come, so no read ever sees them. Bytes that differ from
// what was written (or an echo that stops short) are kept and read as
// received, those already matched included: nothing is lost silently. RS-485:
// the open asks the driver for RS-485 direction control (RTS on while
// sending); where the driver has none the port still opens and
// LineOptionsNote() says "RS-485 mode not supported by this port".
//
// Opening sets a raw 8-bit line with the chosen speed, parity and stop bits,
// asks the driver for low-latency delivery where it has it, and discards what
// arrives within 2 + 255 ms (up to 255 bytes), so that an open always starts
// on a quiet line. What the driver had queued before the open is dropped
// whole (no one knows when it came) and counts towards those 255 bytes.
//
// Arrival times. While the port is open a reader thread of the channel takes
// every byte as it arrives and stamps it with that moment; the bytes wait in
// order, with their times, until a read takes them (up to WaitingLimit bytes:
// beyond it the oldest are dropped and counted). A read therefore gives the
// time its first byte arrived however late it is made, and the time-out
// rules below are judged by the bytes' arrival times: two frames that came
// with a silence between them are never one read, whenever they are read.
//
// Reads are single reads bounded by time-outs measured in milliseconds: a read
// of up to n bytes returns when n bytes have arrived, when more than
// ReadInterval ms pass between two bytes once a first byte has arrived, or
// after 2 + n ms in all (or at an explicit deadline). A ReadInterval of 0 sets
// no byte-to-byte limit (the read then ends only at n bytes or at the total
// time-out), as the serial drivers of the system's first platform treat a
// zero interval.
//
// Real lines deliver a frame in bursts (a UART at its FIFO trigger level, a
// USB adapter at its latency timer), with silences far longer than a
// millisecond inside one frame. A read given an "unfinished" test therefore
// rides out silences up to FrameGap() (20 ms plus 16 character times, or
// ReadInterval when that is longer) while the test says the bytes so far are
// an unfinished frame; once it says otherwise the ReadInterval rule applies
// again, and the total time-out always does.
//
// Writes go out at once (WriteInterval 0) or paced, one byte per WriteInterval
// ms, by a pacing thread of the channel's own; the caller never waits for a
// paced write.
//
// Thread safety: every public operation may be called from any thread. Reads
// are serialised among themselves, writes (direct and paced bytes) among
// themselves; opening and closing wait for a write in progress and end a
// read in progress.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serial/line.h"
#include "serial/linestream.h"
#include "serial/portlist.h"

namespace mkp {

// A read or write was refused or failed (used inside the channel only).
class EInvalidPortOperation : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Options of the line beyond the port settings.
struct TLineOptions {
  bool Echo = false;   // drop the echo of each write
  bool Rs485 = false;  // ask for RS-485 direction control at the open
};

// What LineOptionsNote() says when the driver has no RS-485 mode.
inline constexpr const char* Rs485UnsupportedText = "RS-485 mode not supported by this port";

class TCOMPortChannel : public TSerialLine {
public:
  static constexpr std::size_t PacedCopySize = 32832;
  // The most bytes that wait unread; beyond it the oldest are dropped.
  static constexpr std::size_t WaitingLimit = 1 << 20;

  TCOMPortChannel();
  ~TCOMPortChannel() override;
  TCOMPortChannel(const TCOMPortChannel&) = delete;
  TCOMPortChannel& operator=(const TCOMPortChannel&) = delete;

  // Closes the port and opens it anew with these settings. Speed is a decimal
  // number of bits per second; stop bits "1", "1.5" (refused by Linux: a failed
  // open) or "2"; parity "none", "Odd", "Even", "Mark", "Space" (case ignored).
  // A parity or stop-bit text matching none of these leaves that parameter as
  // the driver had it. A speed that is not a number makes the open fail. True
  // exactly when State() is psOk afterwards; on failure LastError() tells why.
  // interrupted, when given, may cut short the wait in which an open discards
  // what arrives (see TSerialLine::TReadOptions); the port is open all the same.
  bool OpenPort(const std::string& portName, const std::string& speed, const std::string& stopBits,
                const std::string& parity, int readInterval, int writeInterval,
                const TInterrupted& interrupted = nullptr);
  // Stops the reader and pacing, closes the port; State() = psInvalid.
  void ClosePort();

  // WriteInterval 0: writes all count bytes now. WriteInterval > 0: queues
  // them for the pacing thread and returns at once (a paced write arriving
  // while one is still under way is appended to it; more than PacedCopySize
  // bytes in all is refused). On return count holds the bytes written or
  // queued (0 on failure). A failed write sets psFailed.
  bool WriteBytes(const std::uint8_t* buffer, std::size_t& count) override;
  // One read of up to maximum bytes (see the time-outs above; `unfinished`,
  // when given, lets the read ride out the silences inside a frame). True
  // with count 0 when nothing arrived in time; false (count 0) when the port
  // is not psOk or the device failed. The state does not change.
  bool Read(std::uint8_t* buffer, std::size_t maximum, std::size_t& count, const TReadOptions& options) override;
  std::size_t DiscardWaiting(TMonoTime arrivedBefore = TMonoTime::max()) override;
  std::size_t TakeDropped() override;

  // Waits until no paced byte is pending (or the timeout passes); true when
  // the pacing queue is empty.
  bool WaitPacedWrite(std::chrono::milliseconds timeout);
  // The paced bytes still to go, one WriteInterval each.
  std::chrono::nanoseconds PendingWriteTime() const override;
  bool PacedWriteActive() const;

  TPortState State() const override { return state_.load(); }
  int ReadInterval() const { return readInterval_.load(); }
  int WriteInterval() const { return writeInterval_.load(); }
  // The longest silence inside an unfinished frame that a read rides out, for
  // the line as it was opened.
  std::chrono::microseconds FrameGap() const override { return frameGap_.load(); }
  // Settings of the last successful open, upper-cased (a device path as written).
  std::string PortName() const;
  std::string Speed() const;
  std::string StopBits() const;
  std::string Parity() const;
  std::string DevicePath() const;
  // Why the last open, read or write failed; empty after a successful open.
  // An open refused for lack of permission names the dialout group.
  std::string LastError() const;
  // The reason a port did not open, short enough for a status line ("No such
  // device", "Port in use by another program", ...); LastError() otherwise.
  std::string LastErrorBrief() const;
  // True once the device reported a hang-up or an I/O error (an adapter pulled
  // out, the far side of a pseudo-terminal closed) or the network connection
  // broke; cleared by OpenPort.
  bool PortLost() const { return lost_.load(); }
  // Whether the port of the last open is a line over the network.
  bool NetworkPort() const { return network_.load(); }
  std::string TakeLostReport() override;

  // Echo takes effect at once; RS-485 at the next OpenPort. Any thread.
  void SetLineOptions(const TLineOptions& options);
  TLineOptions LineOptions() const;
  // After an open: what became of the line options that the port could not
  // take (Rs485UnsupportedText), or empty.
  std::string LineOptionsNote() const;
  // Whether the driver took RS-485 mode at the last open.
  bool Rs485Active() const { return rs485Active_.load(); }
  // Echo bytes dropped, and echoes that did not match what was written (their
  // bytes kept), since the open.
  std::uint64_t EchoBytesDropped() const { return echoDropped_.load(); }
  std::uint64_t EchoMismatches() const { return echoMismatches_.load(); }

protected:
  // Opens the stream for the port name; throws ECantOpenPort. A channel on a
  // stream of another kind (the far end of a virtual bus) overrides it.
  virtual std::unique_ptr<TLineStream> OpenStream(const std::string& portName, const TLineSettings& settings,
                                                  std::string& devicePath);

private:
  struct TChunk {
    std::vector<std::uint8_t> Bytes;
    TMonoTime Arrived{};
  };
  // Reads and discards what arrives right after an open, up to 255 bytes with
  // those already discarded.
  void DiscardInput(std::size_t discarded, const TInterrupted& interrupted);
  // One read from the bytes waiting (the read lock is held): ends at maximum
  // bytes, at the total deadline, or at a silence longer than the interval
  // (0: no limit) between the arrival of two bytes.
  bool ReadLocked(std::uint8_t* buffer, std::size_t maximum, std::size_t& count, const TReadOptions& options,
                  TMonoTime total, int intervalMs);
  void StartReader();
  void StopReader();
  void ReaderLoop(TLineStream* stream, int wake);
  void StopPacing();
  void PacingLoop();
  bool WriteAllLocked(const std::uint8_t* buffer, std::size_t count);
  void SetLastError(std::string text, std::string brief = {});

  // The reader's bytes, past the echo filter, onto the waiting queue (the
  // waiting lock is held).
  void QueueLocked(std::vector<std::uint8_t> bytes, TMonoTime arrived);
  // Takes the echo of a write out of the bytes that arrived; what is left to
  // queue (the waiting lock is held).
  void FilterEchoLocked(std::vector<std::uint8_t>& bytes, TMonoTime arrived);
  // The bytes of an echo matched so far go to the waiting queue as received,
  // and no more echo is awaited (the waiting lock is held).
  void ReleaseEchoLocked();
  void ExpectEcho(const std::uint8_t* bytes, std::size_t count);

  // Held shared by writes, exclusively by open and close, so the stream never
  // changes under a write.
  mutable std::shared_mutex handleLock_;
  std::unique_ptr<TLineStream> stream_;

  std::mutex readLock_;   // one read at a time
  std::mutex writeLock_;  // one write sequence at a time (direct or paced byte)

  // What the reader took, waiting for reads.
  std::mutex waitingLock_;
  std::condition_variable arrived_;
  std::deque<TChunk> waiting_;
  std::size_t waitingFront_ = 0;  // bytes of the first chunk already read
  std::size_t waitingBytes_ = 0;
  std::size_t dropped_ = 0;       // bytes dropped at the limit, not yet told
  bool readerEnded_ = true;       // no more bytes will come (closed, or the line failed)
  std::string readerFailure_;     // why the reader ended, when the line failed
  std::string readerBrief_;       // its short form
  // The echo still awaited, the bytes of it matched so far and when it is
  // overdue.
  std::deque<std::uint8_t> echoExpected_;
  std::vector<TChunk> echoHeld_;
  TMonoTime echoDeadline_{};
  std::thread reader_;
  int wakeFd_ = -1;  // ends the reader's wait

  std::atomic<TPortState> state_{psInvalid};
  std::atomic<int> readInterval_{1};
  std::atomic<int> writeInterval_{0};
  std::atomic<bool> lost_{false};
  std::atomic<bool> lostReported_{false};
  std::atomic<bool> network_{false};
  std::atomic<bool> echo_{false};
  std::atomic<bool> rs485_{false};
  std::atomic<bool> rs485Active_{false};
  std::atomic<std::uint64_t> echoDropped_{0};
  std::atomic<std::uint64_t> echoMismatches_{0};
  std::atomic<std::chrono::milliseconds> echoAllowance_{std::chrono::milliseconds(100)};
  std::atomic<std::chrono::microseconds> frameGap_{std::chrono::milliseconds(20)};
  std::atomic<unsigned> baud_{9600};

  mutable std::mutex infoLock_;
  std::string portName_, speed_, stopBits_, parity_, devicePath_, lastError_, lastBrief_, optionsNote_;

  // Paced writing.
  mutable std::mutex paceLock_;
  std::condition_variable paceCv_;
  std::vector<std::uint8_t> paced_;  // at most PacedCopySize bytes
  std::size_t pacedNext_ = 0;
  bool paceStop_ = false;
  std::thread paceThread_;
};

}  // namespace mkp
