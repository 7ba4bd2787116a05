// The Python port object, shared with the device binding.
#pragma once

#include <memory>
#include <string>

#include "python/common.h"
#include "python/portcore.h"

namespace mkpy {

struct TPyPort {
  std::unique_ptr<TPortCore> Core;
  std::string Name, Speed, Parity, Stop;
  int ReadInterval = 1;
  int WriteInterval = 0;

  ~TPyPort();
  // PortError unless the port is open.
  void RequireOpen() const;
  // PortError: what + the port's name + why the line failed.
  [[noreturn]] void RaiseFailure(const std::string& what) const;
  // Port.exchange: the answer's Frame object, or None.
  py::object Exchange(const TPacketValue& request, int timeoutMs);
};

// A time-out argument in milliseconds; None gives a frame read's time-out.
int TimeoutArg(const py::handle& timeout);

}  // namespace mkpy
