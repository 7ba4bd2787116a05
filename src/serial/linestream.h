// The byte stream under a serial channel: what carries the line's bytes (a
// local serial device, or a connection to a serial device server). The
// channel (TCOMPortChannel) does everything above it the same way for every
// kind: the reader that stamps bytes as they arrive, the reads with their
// time-outs, paced writes and the port state.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/monotime.h"

namespace mkp {

// A step of opening the port failed (used inside the channel only).
class ECantOpenPort : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
  // With the short form of the reason that a narrow status line can show.
  ECantOpenPort(const std::string& what, std::string brief) : std::runtime_error(what), brief_(std::move(brief)) {}
  const std::string& Brief() const { return brief_; }

private:
  std::string brief_;
};

class TLineStream {
public:
  virtual ~TLineStream() = default;

  // The descriptor that becomes readable when bytes arrive (and writable when
  // the stream takes more); the channel waits on it.
  virtual int Descriptor() const = 0;
  // Takes what has arrived, without waiting, and appends the line's bytes to
  // `out` (a stream with a protocol of its own keeps that protocol's bytes to
  // itself). False when the line is gone or failed; `failure` then says why.
  virtual bool ReadAvailable(std::vector<std::uint8_t>& out, std::string& failure) = 0;
  // Writes all bytes, waiting until the deadline at most for the stream to
  // take them. False with the reason otherwise; `lost` is set when the line
  // is gone (hang-up) rather than merely slow.
  virtual bool WriteAll(const std::uint8_t* bytes, std::size_t count, TMonoTime deadline, std::string& failure,
                        bool& lost) = 0;
  // Drops what arrived before reading starts (bytes whose arrival time no one
  // knows); how many bytes went.
  virtual std::size_t DiscardQueuedInput() { return 0; }
  // Drops what a failed write left unsent, so that closing does not wait
  // for it.
  virtual void DiscardQueuedOutput() {}
  // The bit rate of the line, for the time a byte takes.
  virtual unsigned BitRate() const = 0;
  // The longest silence inside an unfinished frame that a read rides out.
  virtual std::chrono::microseconds FrameGap() const = 0;
  // The short reason that a narrow status line shows when the line is gone
  // ("Connection lost" for a network line); empty: the failure's own text.
  virtual std::string LostBrief() const { return {}; }
  // What the far end said in plain text right after the connection was made
  // (a server turning it away says why: "Port's device already in use"), or
  // empty.
  virtual std::string Greeting() const { return {}; }
  // Asks the driver for RS-485 direction control (RTS on while sending).
  // False where the line has no such mode.
  virtual bool EnableRs485() { return false; }
  // How long the line's own echo of a write may take beyond the write's wire
  // time (a network line adds its round trip).
  virtual std::chrono::milliseconds EchoAllowance() const { return std::chrono::milliseconds(100); }
};

// The line settings of an open, as the port settings give them.
struct TLineSettings {
  std::string Speed;     // decimal bits per second
  std::string StopBits;  // "1", "1.5", "2"
  std::string Parity;    // "none", "Odd", "Even", "Mark", "Space" (any case)
};

// Whether the port name names a line over the network: "tcp://HOST:PORT" (raw
// bytes to a serial device server) or "rfc2217://HOST:PORT" (Telnet with the
// com-port control option, which sets the server's line); letter case of the
// scheme ignored.
bool IsNetworkPortName(const std::string& portName);

// Connects to the serial device server a network port name names, within
// the connect time-out, and (rfc2217://) sets the server's line to these
// settings. Throws ECantOpenPort with the reason ("Connection refused",
// "Host not found", ...).
std::unique_ptr<TLineStream> OpenNetworkStream(const std::string& portName, const TLineSettings& settings);

// Opens a local serial device (or pseudo-terminal) for the port name, locked
// for this program alone and set to a raw 8-bit line with these settings.
// Throws ECantOpenPort (serial/comport.h) with the reason.
std::unique_ptr<TLineStream> OpenTtyStream(const std::string& portName, const TLineSettings& settings,
                                           std::string& devicePath);

// A stream on a terminal descriptor the caller opened and set up (the master
// side of a pseudo-terminal pair: the far end of a virtual bus). The stream
// owns the descriptor from then on and makes it non-blocking; bitRate is the
// speed its time-outs count with.
std::unique_ptr<TLineStream> AdoptTtyStream(int fd, unsigned bitRate);

}  // namespace mkp
