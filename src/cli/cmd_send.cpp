// mkptool send: puts one packet on the line and, with --receive, takes one
// frame back, printing the pane lines as the window would log them.
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "analysis_options.h"
#include "command.h"
#include "port_options.h"
#include "text/cp1251.h"

namespace mkptool {

namespace {

int RunSend(const std::vector<std::string>& arguments) {
  TAnalysisOptions analysis;
  TPortOptions port;
  bool receive = false;
  TOptionTable optionTable = PortCommandOptions(analysis, port);
  optionTable.push_back(Flag("--receive", receive));
  std::vector<std::string> words;
  if (!ReadPortCommandOptions("send", arguments, optionTable, port, words)) return 2;
  // The packet text may come as several words (its groups unquoted).
  std::string text;
  for (const auto& word : words) {
    if (!text.empty()) text += ' ';
    text += word;
  }
  if (text.empty()) {
    std::cerr << "mkptool send: no packet text given\n";
    return 2;
  }

  mkp::TPacketHolder packet;
  if (!mkp::TextToPacket(mkp::Utf8ToCp1251(text), *packet)) {
    std::cerr << "mkptool send: not packet text: " << text << "\n";
    return 1;
  }

  TPortSession session;
  analysis.ApplyTo(session.Parser);
  if (!session.Open(port)) return 2;

  try {
    if (!session.Transport.SendPacket(*packet)) return 1;
    if (port.WriteInterval > 0) {
      // Paced bytes leave one per interval; the frame is on the line only
      // when the last one has gone.
      const auto bound = std::chrono::milliseconds(1000 + (mkp::FrameBufferSize + 1) * port.WriteInterval);
      if (!session.Channel.WaitPacedWrite(bound) || session.Channel.State() != mkp::psOk) {
        std::cerr << "mkptool send: the paced write failed";
        const std::string why = session.Channel.LastError();
        if (!why.empty()) std::cerr << ": " << why;
        std::cerr << "\n";
        return 1;
      }
    }
    if (receive) {
      mkp::TPacketHolder answer;
      if (!session.Transport.ReceivePacket(*answer)) return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << "mkptool send: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

const TCommandRegistrar registrar({
    "send",
    "send one packet on a serial port (and receive one frame)",
    std::string("Usage: mkptool send [PORT OPTIONS] [--receive] [--hex CODE]... [--align] TEXT\n"
                "\n"
                "Sends the packet given in its text form (\"0A0B0C.010203.06.01.0100 - 05\")\n"
                "as one frame, and with --receive then reads one frame back. The pane\n"
                "lines are printed as they are produced, each as the pane name, a tab and\n"
                "the line:\n"
                "  terminal<TAB>-> 0A0B0C.010203.06.01.0100 - 05 \n"
                "  decode<TAB>-> 010203>>0A0B0C ...\n"
                "\n"
                "Exit status: 0 sent (and received), 1 the send or the receive failed or\n"
                "TEXT is not packet text, 2 bad options or the port could not be opened\n"
                "(\"Invalid port settings!\" on standard error).\n"
                "\n"
                "Port options:\n") +
        PortOptionsHelp +
        "\nOther options:\n"
        "  --receive    after sending, receive one frame (waits about 2 s at most)\n" +
        AnalysisOptionsHelp,
    RunSend,
});

}  // namespace

}  // namespace mkptool
