// TBusScan: finds the devices on a bus. For each address of a range it sends
// a probe (a packet whose destination is that address) and waits up to the
// time-out for a frame whose source is that address; each address that
// answers is a find, with its latency (from the end of the probe's write to
// the first byte of the answer) and the answer's description. A frame
// addressed to the prober from an address that was not probed is a find of
// its own, marked unexpected: a device at a wrong address is what a scan is
// for. An answer that comes after its time-out, while a later address is
// probed, still counts for the address that sent it.
//
// The line is read frame by frame, the split carried from probe to probe, so
// an answer cut by a time-out is not lost. Every frame moved is logged
// through the transport, as in the other modes.
//
// Two ways to run it: step by step in the caller's thread (Begin, then Step
// until Done; mkptool does so), or as a worker (TWorker<TBusScan>, Start;
// Terminate stops it after the probe in hand; a window drives it so, with the
// callbacks below marshalled to its thread and the finish handler of the
// worker telling it the scan ended). Set everything up before Begin or Start.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "modes/worker.h"
#include "protocol/framesplit.h"
#include "protocol/packet.h"

namespace mkp {

class TMKProtocolTransport;
class TMKPParser;
struct TDeviceModel;

struct TScanFind {
  TVorelAddr Address;      // the answer's source
  double LatencyMs = 0;    // from the end of the probe's write to the answer's first byte
  std::string Text;        // the answer's packet text (engine text)
  std::string Decode;      // its description by the analyser (engine text); empty without one
  bool Unexpected = false;  // its source was not (yet) probed
  TVorelAddr Probed;       // the address probed when it came
};

class TBusScan : public TWorkerThread {
public:
  static constexpr int DefaultTimeoutMs = 50;
  // The probe unless another is given: a read (06) of register 1, type 1
  // (BYTE by number), from the master 0A.0B.0C.
  static constexpr const char* DefaultProbe = "000000.0A0B0C.06.01.0100 - 01";

  TBusScan();

  // Neither is owned. Without an analyser the finds carry no description.
  void SetTransport(TMKProtocolTransport* transport) { transport_ = transport; }
  void SetParser(TMKPParser* parser) { parser_ = parser; }
  // The probe as packet text; its destination is replaced by each address.
  // False (the probe unchanged) when the text is not packet text.
  bool SetProbe(const std::string& text);
  // The first read request of a device description as the probe; false when
  // it has none that is packet text.
  bool SetProbeFromModel(const TDeviceModel& model);
  std::string ProbeText() const;
  // The addresses from..to, both included, counted with the first byte most
  // significant (010200-0102FF: 256 addresses); given the wrong way round they
  // are swapped.
  void SetRange(const TVorelAddr& from, const TVorelAddr& to);
  void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
  std::chrono::milliseconds Timeout() const { return timeout_; }

  // Called in the scanning thread: before each probe (the address, its index
  // from 0 and the count), and with each find as it is made.
  using TProbeHandler = std::function<void(const TVorelAddr& address, std::size_t index, std::size_t count)>;
  using TFindHandler = std::function<void(const TScanFind& find)>;
  void SetOnProbe(TProbeHandler handler) { onProbe_ = std::move(handler); }
  void SetOnFind(TFindHandler handler) { onFind_ = std::move(handler); }

  void Begin();
  bool Done() const { return next_ >= count_; }
  // Probes the next address and waits for its answer.
  void Step();
  // The last address probed is probed again by the next Step (its line was
  // lost meanwhile and is back).
  void Retry();

  std::size_t Count() const { return count_; }
  // Addresses probed so far (any thread).
  std::size_t Scanned() const;
  // The finds so far, in the order made (any thread).
  std::vector<TScanFind> Finds() const;
  // Seconds from Begin to the end of the last probe's wait.
  double Seconds() const;

protected:
  void Execute() override;

private:
  bool OnPiece(const TMKPPacket& packet, const TBusPiece& piece, TMonoTime written);
  void Record(TScanFind find);

  TMKProtocolTransport* transport_ = nullptr;
  TMKPParser* parser_ = nullptr;
  TPacketHolder probe_;
  std::uint32_t from_ = 0;
  std::size_t count_ = 0;
  std::size_t next_ = 0;
  std::chrono::milliseconds timeout_{DefaultTimeoutMs};
  TProbeHandler onProbe_;
  TFindHandler onFind_;
  TFrameSplitter splitter_;
  // When the recent probes were written, to time an answer that comes late.
  std::deque<std::pair<std::uint32_t, TMonoTime>> recent_;
  std::set<std::uint32_t> found_, unexpected_;
  TMonoTime began_{}, ended_{};

  mutable std::mutex lock_;  // what other threads read
  std::vector<TScanFind> finds_;
  std::size_t scanned_ = 0;
};

}  // namespace mkp
