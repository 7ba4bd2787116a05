// The window's hold on its port: it opens the channel with the settings of
// the port settings frame (line options included), says in the status bar
// what became of them, and brings a line over the network back after its
// connection broke.
//
// A lost connection is taken up by whatever uses the line next: the
// transport of every page and worker reads and writes through TReopeningLine,
// which opens the port again with the same settings before a send or a
// receive (a Master exchange, a mode's next step, a probe of the bus scan);
// the status bar's tick does the same, in a thread of its own, for a line
// that nobody uses. Attempts are at least a second apart, and each is bounded
// by the connect time-out, so nothing waits long on a server that is gone.
#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "serial/comport.h"
#include "serial/line.h"

namespace mkp {
class TMKProtocolTransport;
class TPortSettings;
}  // namespace mkp

namespace mkpt {

// The settings an open takes, as the frame gave them.
struct TOpenSettings {
  std::string Port, Speed, StopBits, Parity;
  int ReadInterval = 1, WriteInterval = 0;
  mkp::TLineOptions Options;
};

// The channel as the transport sees it, opening a lost network line again
// before it is used. Every operation may be called from any thread.
class TReopeningLine final : public mkp::TSerialLine {
public:
  TReopeningLine(mkp::TCOMPortChannel& channel, mkp::TMKProtocolTransport& transport)
      : channel_(channel), transport_(transport) {}

  static constexpr std::chrono::seconds Spacing{1};

  // Opens the channel with these settings (the frame's, or a test's) and
  // remembers them for the next reopening; true when it opened.
  bool Open(const TOpenSettings& settings);
  // Whether the connection of a network port that was open has broken and
  // not come back yet.
  bool Lost() const { return armed_.load() && channel_.PortLost(); }
  // When the line is lost: says so in the terminal pane (once, unless a
  // receive has said it already) and opens it again with the same settings,
  // unless the last attempt was less than Spacing ago. True when the line is
  // usable afterwards.
  bool ReopenIfLost();
  // Why the last attempt to connect again failed, or empty.
  std::string ReopenFailure() const;

  mkp::TPortState State() const override { return channel_.State(); }
  bool WriteBytes(const std::uint8_t* buffer, std::size_t& count) override;
  std::chrono::nanoseconds PendingWriteTime() const override { return channel_.PendingWriteTime(); }
  bool Read(std::uint8_t* buffer, std::size_t maximum, std::size_t& count, const TReadOptions& options) override;
  std::size_t DiscardWaiting(mkp::TMonoTime arrivedBefore) override { return channel_.DiscardWaiting(arrivedBefore); }
  std::size_t TakeDropped() override { return channel_.TakeDropped(); }
  std::chrono::microseconds FrameGap() const override { return channel_.FrameGap(); }
  std::string TakeLostReport() override { return channel_.TakeLostReport(); }

private:
  bool OpenLocked(const TOpenSettings& settings);

  mkp::TCOMPortChannel& channel_;
  mkp::TMKProtocolTransport& transport_;
  // Held by every open, so that an open of new settings never crosses a
  // reopening with the old ones.
  mutable std::mutex lock_;
  TOpenSettings settings_;
  std::chrono::steady_clock::time_point nextAttempt_{};
  std::string failure_;
  // Set by a successful open of a network port: its loss is taken up.
  std::atomic<bool> armed_{false};
};

class TPageHost;

class TPortKeeper {
public:
  TPortKeeper(mkp::TCOMPortChannel& channel, mkp::TMKProtocolTransport& transport);
  ~TPortKeeper();
  TPortKeeper(const TPortKeeper&) = delete;
  TPortKeeper& operator=(const TPortKeeper&) = delete;

  // The line the transport is to use.
  TReopeningLine& Line() { return line_; }
  // Opens the port with the frame's settings and line options; true when it
  // opened (else the channel's LastErrorBrief says why). Given the window, a
  // port over the network is opened off its thread (it may take the connect
  // time-out), unless an exchange is under way.
  bool Open(const mkp::TPortSettings& settings, TPageHost* window = nullptr);
  // Once a second: a lost line nobody uses is taken up in a thread of its own.
  void Tick();
  // Status panel 2: the port's state, "Connection lost" while a broken
  // network connection has not come back, and what became of the line
  // options; tip gets the whole story for the panel's tool tip.
  QString StatusText(QString& tip) const;
  // What the open port did with the line options ("RS-485 mode not
  // supported by this port"), or empty (also while the port is not open).
  QString OptionsNote() const;

private:
  mkp::TCOMPortChannel& channel_;
  TReopeningLine line_;
  std::thread ticker_;
  std::atomic<bool> ticking_{false};
};

}  // namespace mkpt
