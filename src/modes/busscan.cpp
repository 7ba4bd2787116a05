#include "modes/busscan.h"

#include <algorithm>

#include "analysis/parser.h"
#include "modes/address.h"
#include "modes/device.h"
#include "modes/slave.h"
#include "protocol/transport.h"

namespace mkp {

namespace {

// How many recent probes keep their write time for timing a late answer.
constexpr std::size_t RecentProbes = 1024;

}  // namespace

TBusScan::TBusScan() { TextToPacket(DefaultProbe, probe_.Packet); }

bool TBusScan::SetProbe(const std::string& text) {
  TPacketHolder probe;
  if (!TextToPacket(text, *probe)) return false;
  return TextToPacket(text, probe_.Packet);
}

bool TBusScan::SetProbeFromModel(const TDeviceModel& model) {
  for (int i = 0; i < model.Requests.Count(); ++i)
    if (SetProbe(TDeviceModel::ItemText(model.Requests, i))) return true;
  return false;
}

std::string TBusScan::ProbeText() const { return PacketToText(probe_.Packet); }

void TBusScan::SetRange(const TVorelAddr& from, const TVorelAddr& to) {
  std::uint32_t a = BusAddressNumber(from), b = BusAddressNumber(to);
  if (a > b) std::swap(a, b);
  from_ = a;
  count_ = static_cast<std::size_t>(b - a) + 1;
}

std::size_t TBusScan::Scanned() const {
  std::lock_guard lk(lock_);
  return scanned_;
}

std::vector<TScanFind> TBusScan::Finds() const {
  std::lock_guard lk(lock_);
  return finds_;
}

double TBusScan::Seconds() const {
  std::lock_guard lk(lock_);
  return std::chrono::duration<double>(ended_ - began_).count();
}

void TBusScan::Begin() {
  next_ = 0;
  splitter_ = TFrameSplitter();
  recent_.clear();
  found_.clear();
  unexpected_.clear();
  std::lock_guard lk(lock_);
  finds_.clear();
  scanned_ = 0;
  began_ = ended_ = TMonoClock::now();
}

void TBusScan::Record(TScanFind find) {
  {
    std::lock_guard lk(lock_);
    finds_.push_back(find);
  }
  if (onFind_) onFind_(find);
}

bool TBusScan::OnPiece(const TMKPPacket& packet, const TBusPiece& piece, TMonoTime written) {
  // Only answers to the prober count; the rest is others' traffic (or the
  // probe's own echo).
  if (!(packet.DstAddr == probe_->SrcAddr)) return false;
  const std::uint32_t source = BusAddressNumber(packet.SrcAddr);
  const std::uint32_t probed = from_ + static_cast<std::uint32_t>(next_);
  if (found_.count(source) != 0) return source == probed;
  TScanFind find;
  find.Address = packet.SrcAddr;
  find.Probed = BusAddressFromNumber(probed);
  find.Text = PacketToText(packet);
  if (parser_ != nullptr) {
    try {
      find.Decode = parser_->DescribeSlave(find.Text);
    } catch (const std::exception&) {
    }
  }
  const bool wasProbed = source >= from_ && source <= probed;
  if (!wasProbed) {
    if (!unexpected_.insert(source).second) return false;
    find.Unexpected = true;
    find.LatencyMs = std::chrono::duration<double, std::milli>(piece.FirstByte - written).count();
    Record(std::move(find));
    return false;
  }
  TMonoTime sent = written;
  for (const auto& [address, time] : recent_)
    if (address == source) sent = time;
  find.LatencyMs = std::chrono::duration<double, std::milli>(piece.FirstByte - sent).count();
  found_.insert(source);
  Record(std::move(find));
  return source == probed;
}

void TBusScan::Step() {
  if (Done() || transport_ == nullptr) return;
  const TVorelAddr address = BusAddressFromNumber(from_ + static_cast<std::uint32_t>(next_));
  if (onProbe_) onProbe_(address, next_, count_);
  probe_->DstAddr = address;
  TMonoTime written{};
  if (transport_->SendPacket(*probe_, &written)) {
    recent_.emplace_back(BusAddressNumber(address), written);
    if (recent_.size() > RecentProbes) recent_.pop_front();
    transport_->ReceivePieces(
        written + timeout_,
        [&](const TBusPiece& piece, const TMKPPacket* packet) {
          return packet != nullptr && OnPiece(*packet, piece, written);
        },
        splitter_);
  } else {
    // The line does not take the probe ("-> Transmit error!"): the address
    // still takes its time, so a scan of a broken line does not race by.
    SleepFor(timeout_);
  }
  ++next_;
  std::lock_guard lk(lock_);
  scanned_ = next_;
  ended_ = TMonoClock::now();
}

void TBusScan::Retry() {
  if (next_ == 0) return;
  --next_;
  std::lock_guard lk(lock_);
  scanned_ = next_;
}

void TBusScan::Execute() {
  Begin();
  while (!Done()) {
    Step();
    if (!SafePoint()) return;
  }
}

}  // namespace mkp
