// mkptool listen: receives frames in a loop and prints the pane lines.
#include <charconv>
#include <chrono>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis_options.h"
#include "command.h"
#include "port_options.h"
#include "signals.h"

namespace mkptool {

namespace {

int RunListen(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  TAnalysisOptions analysis;
  TPortOptions port;
  if (!ExtractPortCommandOptions("listen", args, analysis, port)) return 2;
  long long count = 0;  // 0: no limit
  double seconds = 0;   // 0: no limit
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i], value;
    bool hasValue = false;
    if (auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
      hasValue = true;
    }
    if (a != "--count" && a != "--seconds") {
      std::cerr << "mkptool listen: unexpected argument '" << args[i] << "'\n";
      return 2;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        std::cerr << "mkptool listen: " << a << " needs a value\n";
        return 2;
      }
      value = args[++i];
    }
    if (a == "--count") {
      auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), count);
      if (value.empty() || ec != std::errc() || p != value.data() + value.size() || count <= 0) {
        std::cerr << "mkptool listen: --count must be a positive whole number\n";
        return 2;
      }
    } else {
      try {
        std::size_t used = 0;
        seconds = std::stod(value, &used);
        if (used != value.size() || !(seconds > 0) || !std::isfinite(seconds)) throw std::invalid_argument("");
      } catch (const std::exception&) {
        std::cerr << "mkptool listen: --seconds must be a positive number\n";
        return 2;
      }
    }
  }

  TPortSession session;
  analysis.ApplyTo(session.Parser);
  if (!session.Open(port)) return 2;
  InstallStopSignals();

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(seconds > 0 ? seconds : 0));
  long long received = 0;
  try {
    while (!StopRequested()) {
      if (count > 0 && received >= count) break;
      if (seconds > 0 && Clock::now() >= deadline) break;
      mkp::TPacketHolder packet;
      if (session.Transport.ReceivePacket(*packet)) {
        ++received;
      } else if (session.Channel.PortLost()) {
        std::cerr << "mkptool listen: the port was lost: " << session.Channel.LastError() << "\n";
        return 1;
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "mkptool listen: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

const TCommandRegistrar registrar({
    "listen",
    "receive frames on a serial port and print the pane lines",
    std::string("Usage: mkptool listen [PORT OPTIONS] [--count N] [--seconds S] [--hex CODE]... [--align]\n"
                "\n"
                "Receives one frame after another and prints the pane lines as they are\n"
                "produced, each as the pane name, a tab and the line:\n"
                "  terminal<TAB><- 0A0B0C.010203.07.01.0100 - 05 \n"
                "  decode<TAB><- 0A0B0C>>010203 ...\n"
                "A read that does not form exactly one valid frame logs\n"
                "\"<- Missing format : \" and its bytes; silence logs nothing.\n"
                "Stops after N valid frames, after S seconds (checked between reads, each\n"
                "read waiting about 2 s at most), or on SIGINT or SIGTERM; all of these\n"
                "exit with status 0. Exit status 1 when the port is lost, 2 for bad\n"
                "options or a port that could not be opened (\"Invalid port settings!\").\n"
                "\n"
                "Port options:\n") +
        PortOptionsHelp +
        "\nOther options:\n"
        "  --count N    stop after N valid frames\n"
        "  --seconds S  stop after S seconds (a decimal number)\n" +
        AnalysisOptionsHelp,
    RunListen,
});

}  // namespace

}  // namespace mkptool
