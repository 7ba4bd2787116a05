// A bus scan of 256 addresses against its time budget: a simulated bus of
// three devices (the sample device at 01.02.03 and 01.02.04, the sensor at
// 01.02.20) on one end of a virtual null-modem cable, the scan on the other.
// Budget: 1.1 x 256 x (time-out + the probe's wire time) plus the answers'
// time (their latencies).
//
// Usage: tool_bus_scan [TIMEOUT_MS [BAUD]]   (30 and 9600)
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "modes/address.h"
#include "modes/busscan.h"
#include "modes/device.h"
#include "modes/simbus.h"
#include "protocol/transport.h"
#include "serial/comport.h"
#include "serial/null_modem.h"

namespace {

std::unique_ptr<mkp::TWorker<mkp::TDeviceSimulator>> Device(const std::string& file, const char* at) {
  mkp::TDeviceModel model;
  if (!mkp::LoadDeviceDescription(std::string(MKP_SOURCE_DIR) + "/examples/" + file, model))
    throw std::runtime_error("cannot load " + file);
  auto device = std::make_unique<mkp::TWorker<mkp::TDeviceSimulator>>();
  device->SetModel(model);
  device->SetAddress(*mkp::ParseBusAddress(at));
  return device;
}

}  // namespace

int main(int argc, char** argv) {
  const int timeoutMs = argc > 1 ? std::atoi(argv[1]) : 30;
  const std::string baud = argc > 2 ? argv[2] : "9600";
  try {
    mkptest::TNullModem cable;
    mkp::TCOMPortChannel busLine, scanLine;
    if (!busLine.OpenPort(cable.PathA(), baud, "1", "none", 1, 0) ||
        !scanLine.OpenPort(cable.PathB(), baud, "1", "none", 1, 0))
      throw std::runtime_error("cannot open the cable: " + busLine.LastError() + scanLine.LastError());
    mkp::TMKProtocolTransport busTransport(&busLine), scanTransport(&scanLine);
    mkp::TWorker<mkp::TSimulatedBus> bus;
    std::string error;
    bus.AddDevice(Device("device.rst", "010203"), error);
    bus.AddDevice(Device("device.rst", "010204"), error);
    bus.AddDevice(Device("sensor.rst", "010220"), error);
    bus.SetTransport(&busTransport);
    bus.Start();

    mkp::TWorker<mkp::TBusScan> scan;
    scan.SetTransport(&scanTransport);
    scan.SetRange(*mkp::ParseBusAddress("010200"), *mkp::ParseBusAddress("0102FF"));
    scan.SetTimeout(std::chrono::milliseconds(timeoutMs));
    scan.Begin();
    while (!scan.Done()) scan.Step();
    bus.Terminate();
    bus.WaitFor();

    double answers = 0;
    std::string found;
    for (const auto& find : scan.Finds()) {
      answers += find.LatencyMs;
      found += " " + mkp::BusAddressHex(find.Address) + (find.Unexpected ? "(unexpected)" : "");
    }
    // The probe: a 14-byte header, one data byte and its 4-byte checksum; ten
    // bits a byte.
    const double wireMs = 19 * 10 * 1000.0 / std::atof(baud.c_str());
    const double budget = (1.1 * 256 * (timeoutMs + wireMs) + answers) / 1000.0;
    const double strict = (1.1 * 256 * timeoutMs + answers) / 1000.0;
    const double seconds = scan.Seconds();
    std::printf("Scan of %zu addresses, time-out %d ms, %s baud (probe wire time %.1f ms; the pseudo-terminals "
                "take no wire time):\n",
                scan.Scanned(), timeoutMs, baud.c_str(), wireMs);
    std::printf("  found:%s\n", found.c_str());
    std::printf("  %.3f s; budget 1.1 x 256 x (%d + %.1f) ms + answers %.1f ms = %.3f s: %s (%.0f %% of it)\n", seconds,
                timeoutMs, wireMs, answers, budget, seconds <= budget ? "met" : "NOT MET", 100 * seconds / budget);
    std::printf("  without the wire time in the budget (1.1 x 256 x %d ms + answers) = %.3f s: %s\n", timeoutMs,
                strict, seconds <= strict ? "met" : "NOT MET");
    std::printf("  %.2f ms per address on average\n", seconds * 1000 / 256);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tool_bus_scan: %s\n", e.what());
    return 1;
  }
  return 0;
}
