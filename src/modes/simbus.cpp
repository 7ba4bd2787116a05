#include "modes/simbus.h"

#include <algorithm>
#include <exception>

#include "modes/address.h"
#include "modes/slave.h"
#include "protocol/transport.h"

namespace mkp {

void TSimulatedBus::SetTransport(TMKProtocolTransport* transport) {
  transport_ = transport;
  for (auto& device : devices_) device->SetTransport(transport);
}

bool TSimulatedBus::AddDevice(std::unique_ptr<TWorker<TDeviceSimulator>> device, std::string& error) {
  if (!device) return false;
  if (DeviceAt(device->Address()) != nullptr) {
    error = "two devices at the address " + BusAddressHex(device->Address()) + " (" +
            BusAddressDotted(device->Address()) + "): give each its own with @ADDRESS";
    return false;
  }
  device->SetTransport(transport_);
  devices_.push_back(std::move(device));
  return true;
}

TDeviceSimulator* TSimulatedBus::DeviceAt(const TVorelAddr& address) {
  for (auto& device : devices_)
    if (device->Address() == address) return device.get();
  return nullptr;
}

void TSimulatedBus::Execute() {
  TFrameSplitter splitter;
  auto dispatch = [this](const TMKPPacket& received) {
    TDeviceSimulator* device = DeviceAt(received.DstAddr);
    if (device == nullptr || received.Command == CmdAnswer || received.Command == CmdAck) {
      ++otherFrames_;
      return;
    }
    device->Handle(received);
  };
  for (;;) {
    if (transport_ != nullptr) {
      try {
        TDeviceSimulator::ServeLine(*transport_, splitter, TDeviceSimulator::ReadSlice, dispatch);
      } catch (const std::exception& e) {
        transport_->AddTerminalLine(TSlaveAutoRepeater::ErrorLine(e.what()));
      }
    }
    if (!SafePoint()) return;
  }
}

}  // namespace mkp
