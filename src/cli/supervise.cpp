#include "supervise.h"

#include <chrono>
#include <iostream>
#include <thread>

#include "signals.h"

namespace mkptool {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto Turn = 20ms;
constexpr auto ReopenSpacing = 1s;

}  // namespace

bool ReconnectNetworkPort(mkp::TCOMPortChannel& channel, const TPortOptions& port, const std::string& command) {
  auto report = [&command](const std::string& text) {
    const std::string line = "mkptool " + command + ": " + text + "\n";
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cerr.flush();
  };
  report(port.Port + ": " + channel.LastError() + "; connecting again");
  std::string told;
  while (!StopRequested()) {
    if (channel.OpenPort(port.Port, port.Speed, port.StopBits, port.Parity, port.ReadInterval, port.WriteInterval)) {
      report(port.Port + ": connected again");
      return true;
    }
    if (const std::string why = channel.LastError(); why != told) {
      report("cannot connect to " + port.Port + " again: " + why + "; trying every second");
      told = why;
    }
    for (auto until = Clock::now() + ReopenSpacing; Clock::now() < until && !StopRequested();)
      std::this_thread::sleep_for(Turn);
  }
  return false;
}

int SuperviseWorker(const TSupervision& s) {
  mkp::TCOMPortChannel& channel = s.Session->Channel;
  const std::string prefix = "mkptool " + s.Command + ": ";
  // Each message goes out in one write, so that it never mixes with the pane
  // lines when both streams go to one file.
  auto report = [&prefix](const std::string& text) {
    const std::string line = prefix + text + "\n";
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cerr.flush();
  };
  auto nextReopen = Clock::now();
  while (!StopRequested()) {
    std::this_thread::sleep_for(Turn);
    if (s.Worker->Finished()) {
      if (StopRequested()) break;  // ended after its last cycle
      const std::string why = mkp::TWorkerThread::FailureText(s.Worker->Failure());
      if (!why.empty()) report(why);
      return 1;
    }
    if (channel.PortLost() && channel.NetworkPort()) {
      // A line over the network comes back; the worker is held meanwhile.
      mkp::TWorkerPause hold(s.Worker);
      ReconnectNetworkPort(channel, s.Port, s.Command);
      continue;
    }
    if (channel.PortLost()) {
      report("the port was lost: " + channel.LastError());
      return 1;
    }
    if (channel.State() == mkp::psFailed && Clock::now() >= nextReopen) {
      report(s.Port.Port + ": " + channel.LastError() + "; opening the port again");
      bool opened;
      {
        // Off the line while it is reopened.
        mkp::TWorkerPause hold(s.Worker);
        opened = channel.OpenPort(s.Port.Port, s.Port.Speed, s.Port.StopBits, s.Port.Parity,
                                  s.Port.ReadInterval, s.Port.WriteInterval);
      }
      if (!opened) {
        report("cannot open " + s.Port.Port + " again: " + channel.LastError());
        return 1;
      }
      nextReopen = Clock::now() + ReopenSpacing;
    }
    if (s.OnTurn) s.OnTurn();
  }
  return 0;
}

}  // namespace mkptool
