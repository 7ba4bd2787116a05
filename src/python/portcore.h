// The serial port of the Python module as plain C++: a channel, its
// transport and analyser, the pane lines it logged, and exchanges bounded by
// a time-out. Nothing here touches Python, so it runs with the interpreter's
// lock released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/parser.h"
#include "protocol/packet.h"
#include "python/packetvalue.h"
#include "protocol/panes.h"
#include "protocol/transport.h"
#include "serial/comport.h"

namespace mkpy {

enum class TPane { Terminal = 0, Decode = 1 };

// The pane lines of one port for Python: both panes in the order the
// transport made them, each pane keeping its last lines as the window's panes
// do. Lines come from whatever thread moved the frame.
class TPaneLog {
public:
  // Each pane keeps this many lines, as a pane of the window does.
  static constexpr std::size_t PaneLimit = mkp::MaxPaneLines + 1;

  explicit TPaneLog(std::string port = {});
  TPaneLog(const TPaneLog&) = delete;
  TPaneLog& operator=(const TPaneLog&) = delete;

  mkp::TLogPane* Terminal() { return &terminal_; }
  mkp::TLogPane* Decode() { return &decode_; }

  // The lines so far, oldest first, as the panes show them with their time
  // (Windows-1251).
  std::vector<std::pair<TPane, std::string>> Lines() const;
  void Clear();
  // The text (without time) of the last line of a pane, "" before the first.
  std::string LastText(TPane pane) const;
  void SetPortName(std::string port);
  // Whether a recording (below) gets the lines; on at the start.
  void SetRecorded(bool recorded);

private:
  class TSink : public mkp::TLogPane {
  public:
    TSink(TPaneLog& log, TPane pane) : log_(log), pane_(pane) {}
    void AddLine(const mkp::TPaneLine& line) override { log_.Add(pane_, line); }

  private:
    TPaneLog& log_;
    TPane pane_;
  };
  struct TEntry {
    std::uint64_t Sequence = 0;
    std::string Shown;
  };
  void Add(TPane pane, const mkp::TPaneLine& line);

  mutable std::mutex lock_;
  std::string port_;
  std::deque<TEntry> panes_[2];
  std::string last_[2];
  std::uint64_t sequence_ = 0;
  bool recorded_ = true;
  TSink terminal_{*this, TPane::Terminal};
  TSink decode_{*this, TPane::Decode};
};

// The lines of every port while a recording is on (the pytest plugin records
// the traffic of each test): port name, pane, the line as shown with its time.
struct TRecordedLine {
  std::string Port;
  TPane Pane = TPane::Terminal;
  std::string Shown;
};
void StartRecording();
std::vector<TRecordedLine> TakeRecording();
void StopRecording();

// A frame as the module hands it out: a frame read back, or bytes that formed
// none, with its time and its two pane lines.
struct TFrameResult {
  bool Good = false;
  std::vector<std::uint8_t> Raw;
  std::optional<TPacketValue> Packet;  // the frame read back (Good only)
  mkp::TMonoTime FirstByte{};
  std::optional<double> LatencyMs;  // an answer: from the end of the write
  std::string Text;    // the terminal line, Windows-1251
  std::string Decode;  // the decode line, Windows-1251
};

// Why bytes are not one whole frame ("" when they are).
std::string FrameProblem(const std::uint8_t* bytes, std::size_t count);

// The serial port: a channel (a TCOMPortChannel unless given one of another
// kind), its transport and analyser, and the pane log.
class TPortCore {
public:
  explicit TPortCore(std::unique_ptr<mkp::TCOMPortChannel> channel = nullptr);
  ~TPortCore();
  TPortCore(const TPortCore&) = delete;
  TPortCore& operator=(const TPortCore&) = delete;

  bool Open(const std::string& name, const std::string& speed, const std::string& stopBits,
            const std::string& parity, int readInterval, int writeInterval,
            const mkp::TSerialLine::TInterrupted& interrupted = nullptr);
  void Close();
  bool IsOpen() const { return channel_->State() == mkp::psOk; }
  // Why the last open, read or write failed.
  std::string LastError() const;

  // Sends a packet; false when it could not be written. written receives the
  // end of the write.
  bool Send(const mkp::TMKPPacket& packet, mkp::TMonoTime* written = nullptr);
  // Writes bytes as they are, logged as the Master page logs a raw send.
  bool SendRaw(const std::vector<std::uint8_t>& bytes, const std::string& terminal, const std::string& decode);

  // The next piece (a frame, or bytes that formed none) within the time-out:
  // pieces read earlier come first. None after the time-out, an interruption,
  // or a line that failed (lineFailed then set).
  std::optional<TFrameResult> Receive(int timeoutMs, const mkp::TSerialLine::TInterrupted& interrupted,
                                      bool& lineFailed);
  // Sends the request and waits for its answer: the first frame addressed to
  // the request's sender, or the first bytes that form no frame. Frames of
  // other stations are logged and passed over (otherTraffic counts them);
  // pieces that waited from before the request are dropped (they stay in the
  // log). sent tells whether the request went out.
  std::optional<TFrameResult> Exchange(const mkp::TMKPPacket& request, int timeoutMs,
                                       const mkp::TSerialLine::TInterrupted& interrupted, bool& sent,
                                       bool& lineFailed, std::uint64_t* otherTraffic = nullptr);

  TPaneLog& Log() { return log_; }
  mkp::TCOMPortChannel& Channel() { return *channel_; }
  mkp::TMKProtocolTransport& Transport() { return transport_; }

private:
  // Reads pieces until take says one is wanted; the pieces after it in the
  // same read wait for the next Receive.
  std::optional<TFrameResult> Await(mkp::TMonoTime deadline, const mkp::TSerialLine::TInterrupted& interrupted,
                                    const std::function<bool(const TFrameResult&)>& take, bool& lineFailed);
  TFrameResult MakeFrame(const mkp::TBusPiece& piece, const mkp::TMKPPacket* packet);

  std::unique_ptr<mkp::TCOMPortChannel> channel_;
  mkp::TMKPParser parser_;
  TPaneLog log_;
  mkp::TMKProtocolTransport transport_;
  std::mutex pendingLock_;
  std::deque<TFrameResult> pending_;
};

// Wall-clock time of a moment of the monotonic clock.
std::chrono::system_clock::time_point WallTime(mkp::TMonoTime time);

}  // namespace mkpy
