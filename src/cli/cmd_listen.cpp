// mkptool listen: receives frames in a loop and prints the pane lines.
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "analysis_options.h"
#include "command.h"
#include "limit_options.h"
#include "port_options.h"
#include "signals.h"

namespace mkptool {

namespace {

int RunListen(const std::vector<std::string>& arguments) {
  TAnalysisOptions analysis;
  TPortOptions port;
  TRunLimits limits;
  TOptionTable optionTable = PortCommandOptions(analysis, port);
  AddRunLimitOptions(optionTable, limits);
  std::vector<std::string> words;
  if (!ReadPortCommandOptions("listen", arguments, optionTable, port, words)) return 2;
  if (!words.empty()) {
    std::cerr << "mkptool listen: unexpected argument '" << words[0] << "'\n";
    return 2;
  }

  TPortSession session;
  analysis.ApplyTo(session.Parser);
  InstallStopSignals();  // a stop asked for while the port opens counts too
  if (!session.Open(port)) return 2;

  using Clock = std::chrono::steady_clock;
  const auto deadline = limits.Deadline(Clock::now());
  long long received = 0;
  try {
    while (!StopRequested()) {
      if (limits.Count > 0 && received >= limits.Count) break;
      if (deadline && Clock::now() >= *deadline) break;
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
        "\nOther options:\n" + RunLimitOptionsHelp + AnalysisOptionsHelp,
    RunListen,
});

}  // namespace

}  // namespace mkptool
