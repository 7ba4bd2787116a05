// TBusMonitor: a listener that watches the bus and never writes to it.
//
// Each port (one, or two for a monitor cable with a receive line for each
// direction of a point-to-point link) is read by a thread of its own and cut
// into frames and bad bytes (TFrameSplitter). The pieces of all ports are put
// into one sequence ordered by the time of their first byte (TPieceMerger) and
// logged through the transport, in the monitor's own thread, as received
// frames are: "<- " and the packet text (with two ports "<-1 " / "<-2 "), its
// description, and "Missing format" for bytes that formed no frame.
//
// Created as TWorker<TBusMonitor> (see worker.h). A pause holds the logging;
// the port threads go on reading meanwhile, so no byte is lost.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "modes/worker.h"
#include "protocol/framesplit.h"
#include "protocol/packet.h"

namespace mkp {

class TMKProtocolTransport;
class TSerialLine;
class TCOMPortChannel;

// How to open a port: name and line settings (as TCOMPortChannel::OpenPort
// takes them).
struct TPortOpening {
  std::string Name;
  std::string Speed = "9600";
  std::string StopBits = "1";
  std::string Parity = "none";
  int ReadInterval = 1;
};

struct TPortPiece {
  int Port = 1;  // from 1
  TBusPiece Piece;
};

// Puts the pieces of several ports into one sequence ordered by time. Each
// port adds its pieces in its own order and tells how far it has got (its
// watermark: no piece still to come from it starts earlier); a piece is ready
// once no other port can still bring an earlier one. Not thread-safe.
class TPieceMerger {
public:
  explicit TPieceMerger(int ports);
  void Add(int port, TBusPiece piece);
  void SetWatermark(int port, TMonoTime time);
  // The ready pieces, oldest first (equal times: the lower port first).
  std::vector<TPortPiece> TakeReady();
  // Everything held, in time order (the ports have ended).
  std::vector<TPortPiece> TakeAll();
  bool Empty() const;

private:
  std::vector<TPortPiece> Take(bool all);

  std::vector<std::deque<TBusPiece>> queues_;
  std::vector<TMonoTime> watermarks_;
};

class TBusMonitor : public TWorkerThread {
public:
  // How long a piece may wait for a slower port before it is taken as the
  // earliest: more than a port thread needs to wake up with its bytes.
  static constexpr std::chrono::milliseconds MergeMargin{20};
  // The most bytes one read of a port asks for.
  static constexpr std::size_t ReadSize = 512;
  // The direction prefix of the lines of a piece.
  static std::string Prefix(int port, int ports);
  // The line reported when logging a piece fails (an autosave file, ...).
  static std::string ErrorLine(const std::string& what);

  TBusMonitor();
  ~TBusMonitor() override;

  // None is owned; set before Start(). Without a first line the monitor idles.
  void SetTransport(TMKProtocolTransport* transport) { transport_ = transport; }
  void SetLines(TSerialLine* first, TSerialLine* second = nullptr);
  // A second port that the monitor opens itself, in its own thread once it
  // runs, and closes when it ends (instead of a second line given above). When
  // it cannot be opened, the monitor says so in the terminal pane and reads
  // the first port alone.
  void SetSecondPort(TPortOpening opening) { secondOpening_ = std::move(opening); }
  // Why the second port could not be opened; empty when it could (any thread).
  std::string SecondPortError() const;
  // The line of that failure in the terminal pane.
  static std::string SecondPortErrorLine(const std::string& port, const std::string& why);
  // Whether pieces are logged through the transport (on by default).
  void SetLogging(bool on) { logging_ = on; }
  // Called in the monitor's thread with each piece, in order, before it is
  // logged; packet is the frame read back (null for bad bytes). Set before
  // Start().
  using TPieceHandler = std::function<void(int port, const TBusPiece& piece, const TMKPPacket* packet)>;
  void SetOnPiece(TPieceHandler handler) { onPiece_ = std::move(handler); }

  // Frames and bad reads logged so far (any thread).
  std::uint64_t Frames() const { return frames_.load(); }
  std::uint64_t BadReads() const { return badReads_.load(); }
  // The ports read (set once the monitor runs).
  int Ports() const { return ports_.load(); }

protected:
  void Execute() override;

private:
  struct TPortReader;
  void ReadPort(TPortReader& reader);
  void Deliver(const TPortPiece& piece);

  TMKProtocolTransport* transport_ = nullptr;
  TSerialLine* lines_[2] = {nullptr, nullptr};
  std::optional<TPortOpening> secondOpening_;
  std::unique_ptr<TCOMPortChannel> ownSecond_;
  std::atomic<int> ports_{1};
  mutable std::mutex errorLock_;
  std::string secondError_;
  bool logging_ = true;
  TPieceHandler onPiece_;
  std::atomic<std::uint64_t> frames_{0};
  std::atomic<std::uint64_t> badReads_{0};

  // Shared by the port threads and the monitor's thread.
  std::mutex lock_;
  std::condition_variable changed_;
  std::atomic<bool> stopReading_{false};
};

}  // namespace mkp
