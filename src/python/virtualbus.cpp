#include "python/virtualbus.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "serial/linestream.h"

namespace mkpy {

namespace {

// The speed the device's end counts its time-outs with; a pseudo-terminal
// has none of its own.
constexpr unsigned DeviceEndSpeed = 115200;

// The channel on the pseudo-terminal's master side, which has no path to open.
class TMasterSideChannel : public mkp::TCOMPortChannel {
public:
  explicit TMasterSideChannel(int master) : master_(master) {}

protected:
  std::unique_ptr<mkp::TLineStream> OpenStream(const std::string& portName, const mkp::TLineSettings&,
                                               std::string& devicePath) override {
    const int fd = ::fcntl(master_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) throw mkp::ECantOpenPort(std::string("Cannot use the virtual bus: ") + std::strerror(errno));
    devicePath = portName;
    return mkp::AdoptTtyStream(fd, DeviceEndSpeed);
  }

private:
  int master_;
};

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

TVirtualBus::TVirtualBus(const mkp::TSerialLine::TInterrupted& interrupted) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) throw SystemError("Cannot make a pseudo-terminal");
  char name[128];
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
    const auto error = SystemError("Cannot make a pseudo-terminal");
    ::close(master_);
    throw error;
  }
  path_ = name;
  keeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keeper_ < 0) {
    const auto error = SystemError("Cannot open " + path_);
    ::close(master_);
    throw error;
  }
  // Raw from the start, as a serial line is: no echo, no line editing.
  termios raw{};
  if (::tcgetattr(keeper_, &raw) == 0) {
    ::cfmakeraw(&raw);
    ::tcsetattr(keeper_, TCSANOW, &raw);
  }
  device_ = std::make_unique<TPortCore>(std::make_unique<TMasterSideChannel>(master_));
  // A test's traffic is what its master saw.
  device_->Log().SetRecorded(false);
  try {
    OpenDeviceEnd(interrupted);
  } catch (...) {
    device_.reset();
    ::close(keeper_);
    ::close(master_);
    throw;
  }
}

void TVirtualBus::OpenDeviceEnd(const mkp::TSerialLine::TInterrupted& interrupted) {
  if (device_->IsOpen()) return;
  if (!device_->Open("device end of " + path_, std::to_string(DeviceEndSpeed), "1", "none", 1, 0, interrupted))
    throw std::runtime_error("Cannot open the device end of the virtual bus: " + device_->LastError());
}

TVirtualBus::~TVirtualBus() { Close(); }

void TVirtualBus::Simulate(std::unique_ptr<TSimulation> simulation,
                           const mkp::TSerialLine::TInterrupted& interrupted) {
  if (closed_) throw std::runtime_error("the virtual bus is closed");
  Stop();
  OpenDeviceEnd(interrupted);
  simulation_ = std::move(simulation);
  simulator_ = std::make_unique<mkp::TWorker<mkp::TDeviceSimulator>>();
  simulator_->SetTransport(&device_->Transport());
  simulator_->SetModel(*simulation_->Model);
  if (simulation_->Table) simulator_->SetTable(simulation_->Table.get());
  for (const auto& [reg, value] : simulation_->Values) simulator_->SetValue(reg, value);
  for (const auto& [reg, step] : simulation_->Drift) simulator_->SetDrift(reg, step);
  simulator_->SetMisbehaviour(simulation_->Misbehaviour);
  simulator_->Start();
}

void TVirtualBus::Stop() {
  if (simulator_) {
    // Closing the device's end ends the read the device waits in.
    simulator_->Terminate();
    device_->Close();
    simulator_->WaitFor();
    simulator_.reset();
  }
  simulation_.reset();
}

void TVirtualBus::Close() {
  if (closed_) return;
  closed_ = true;
  Stop();
  device_->Close();
  if (keeper_ >= 0) ::close(keeper_);
  if (master_ >= 0) ::close(master_);
  keeper_ = master_ = -1;
}

}  // namespace mkpy
