// TSimulatedBus: several simulated devices (TDeviceSimulator) sharing one
// line, as devices share a two-wire bus.
//
// One worker reads the line frame by frame (the split carried from read to
// read, so the frames of others never cost it its framing) and hands each
// frame to the device whose address is its destination; that device answers
// as it would alone, with its own misbehaviour. A frame addressed to no
// device, and any answer (command 07) or acknowledgement (01), is passed
// over: a device never answers an answer, its own or another's. Each device
// answers from its slave table only packets addressed to it.
//
// Created as TWorker<TSimulatedBus> (see worker.h); set everything up before
// Start().
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modes/simdevice.h"
#include "modes/worker.h"
#include "protocol/framesplit.h"

namespace mkp {

class TMKProtocolTransport;

class TSimulatedBus : public TWorkerThread {
public:
  TSimulatedBus() = default;

  // The transport of the line, given to every device as well. Not owned.
  void SetTransport(TMKProtocolTransport* transport);

  // Puts a device on the bus at the address it has now (its model and
  // address set); the bus owns it from then on. False with the reason when
  // another device already has that address.
  bool AddDevice(std::unique_ptr<TWorker<TDeviceSimulator>> device, std::string& error);
  std::size_t DeviceCount() const { return devices_.size(); }
  TDeviceSimulator& Device(std::size_t index) { return *devices_.at(index); }
  const TDeviceSimulator& Device(std::size_t index) const { return *devices_.at(index); }

  // The device at the address, if one is on the bus.
  TDeviceSimulator* DeviceAt(const TVorelAddr& address);

  // Frames seen on the line addressed to no device of the bus (other traffic).
  std::uint64_t OtherFrames() const { return otherFrames_.load(); }

protected:
  void Execute() override;

private:
  TMKProtocolTransport* transport_ = nullptr;
  std::vector<std::unique_ptr<TWorker<TDeviceSimulator>>> devices_;
  std::atomic<std::uint64_t> otherFrames_{0};
};

}  // namespace mkp
