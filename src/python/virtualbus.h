// A virtual bus: a pseudo-terminal pair whose one end a master opens as its
// port, while the simulated device of a device description plays on the
// other end in a thread of its own, as `mkptool device` plays it on a line.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "modes/device.h"
#include "modes/simdevice.h"
#include "modes/slavetable.h"
#include "modes/worker.h"
#include "python/portcore.h"

namespace mkpy {

// What the simulated device plays.
struct TSimulation {
  std::unique_ptr<mkp::TDeviceModel> Model;
  std::vector<std::pair<int, std::string>> Values;  // register, value text (Windows-1251)
  std::vector<std::pair<int, double>> Drift;        // register, step
  mkp::TDeviceSimulator::TMisbehaviour Misbehaviour;
  std::unique_ptr<mkp::TSlaveTable> Table;          // answers for other packets, or none
};

class TVirtualBus {
public:
  // Makes the pair and opens the device's end; throws std::runtime_error.
  // interrupted may cut short the wait of the open (the bus is made all the
  // same).
  explicit TVirtualBus(const mkp::TSerialLine::TInterrupted& interrupted = nullptr);
  ~TVirtualBus();
  TVirtualBus(const TVirtualBus&) = delete;
  TVirtualBus& operator=(const TVirtualBus&) = delete;

  // The device path a master opens.
  const std::string& Port() const { return path_; }
  bool Closed() const { return closed_; }

  // Plays the simulation from now on, in place of the one playing before.
  void Simulate(std::unique_ptr<TSimulation> simulation,
                const mkp::TSerialLine::TInterrupted& interrupted = nullptr);
  // Stops the device; the next Simulate opens the device's end again.
  void Stop();
  // Stops the device and closes both ends.
  void Close();

  // The device end's pane lines.
  TPaneLog& Log() { return device_->Log(); }

private:
  void OpenDeviceEnd(const mkp::TSerialLine::TInterrupted& interrupted);

  int master_ = -1;
  int keeper_ = -1;  // the master's end held open, so the pair outlives a master's close
  std::string path_;
  bool closed_ = false;
  std::unique_ptr<TPortCore> device_;
  std::unique_ptr<TSimulation> simulation_;
  std::unique_ptr<mkp::TWorker<mkp::TDeviceSimulator>> simulator_;
};

}  // namespace mkpy
