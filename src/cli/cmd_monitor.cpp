// mkptool monitor: watches the bus on one or two ports, never writing, and
// prints each frame's pane lines (or one JSON object per frame).
#include <atomic>
#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef MKP_HAVE_JSON
#include <nlohmann/json.hpp>
#endif

#include "analysis_options.h"
#include "command.h"
#include "limit_options.h"
#include "modes/monitor.h"
#include "port_options.h"
#include "signals.h"
#include "text/cp1251.h"
#include "text/hextext.h"
#include "text/textcut.h"

namespace mkptool {

namespace {

#ifdef MKP_HAVE_JSON
// {"port":1,"time":"14:03:07.215","mono_ms":123456.789,"good":true,"text":...,"decode":...}
std::string PieceJson(int port, const mkp::TBusPiece& piece, const mkp::TMKPPacket* packet,
                      mkp::TMKPParser& parser) {
  nlohmann::ordered_json object;
  object["port"] = port;
  object["time"] = mkp::LocalTimeOfDay(piece.FirstByte);
  object["mono_ms"] = std::round(mkp::MonoMilliseconds(piece.FirstByte) * 1000.0) / 1000.0;
  object["good"] = packet != nullptr;
  if (packet != nullptr) {
    const std::string text = mkp::PacketToText(*packet);
    object["text"] = mkp::Cp1251ToUtf8(mkp::TrimRight(text));
    object["decode"] = mkp::Cp1251ToUtf8(mkp::TrimRight(parser.DescribeSlave(text)));
  } else {
    object["text"] = mkp::TrimRight(mkp::BytesToHexText(piece.Bytes.data(), piece.Bytes.size(), static_cast<long>(piece.Bytes.size())));
    object["decode"] = "Missing format";
  }
  return object.dump();
}
#endif

int RunMonitor(const std::vector<std::string>& arguments) {
  TAnalysisOptions analysis;
  TPortOptions port;
  TRunLimits limits;
  std::string port2;
  bool json = false;
  TOptionTable optionTable = PortCommandOptions(analysis, port);
  AddRunLimitOptions(optionTable, limits);
  optionTable.push_back(Text("--port2", port2, "port name"));
  optionTable.push_back(Flag("--json", json));
  std::vector<std::string> words;
  if (!ReadPortCommandOptions("monitor", arguments, optionTable, port, words)) return 2;
  if (!words.empty()) {
    std::cerr << "mkptool monitor: unexpected argument '" << words[0] << "'\n";
    return 2;
  }
#ifndef MKP_HAVE_JSON
  if (json) {
    std::cerr << "mkptool monitor: --json is not available in this build\n";
    return 2;
  }
#endif

  TPortSession session;
  analysis.ApplyTo(session.Parser);
  InstallStopSignals();
  if (!session.Open(port, port2)) return 2;
  // The second receive line takes the first port's line settings.
  std::unique_ptr<mkp::TCOMPortChannel> second;
  if (!port2.empty()) {
    second = std::make_unique<mkp::TCOMPortChannel>();
    TPortOptions other = port;
    other.Port = port2;
    if (!second->OpenPort(other.Port, other.Speed, other.StopBits, other.Parity, other.ReadInterval, 0)) {
      std::cerr << "Invalid port settings!\n";
      if (const std::string why = second->LastError(); !why.empty()) std::cerr << port2 << ": " << why << "\n";
      return 2;
    }
  }

  std::atomic<long long> frames{0};
  auto monitor = std::make_unique<mkp::TWorker<mkp::TBusMonitor>>();
  monitor->SetTransport(&session.Transport);
  monitor->SetLines(&session.Channel, second.get());
  // With --json the pane lines are not printed; a capture still gets every
  // frame through the transport's logging.
  if (json && !port.Pcap.empty()) {
    session.Transport.SetTerminalBox(nullptr);
    session.Transport.SetDecodeBox(nullptr);
    session.Transport.DecodeEnabled = false;
  }
  monitor->SetLogging(!json || !port.Pcap.empty());
  monitor->SetOnPiece([&](int number, const mkp::TBusPiece& piece, const mkp::TMKPPacket* packet) {
    if (packet != nullptr) ++frames;
#ifdef MKP_HAVE_JSON
    if (json) {
      const std::string line = PieceJson(number, piece, packet, session.Parser) + "\n";
      std::cout << line << std::flush;
    }
#else
    (void)number;
    (void)piece;
#endif
  });
  monitor->Start();

  using Clock = std::chrono::steady_clock;
  const auto deadline = limits.Deadline(Clock::now());
  int status = 0;
  // A port over the network whose connection broke is connected again every
  // second; the monitor reads on once it is back.
  struct TReconnect {
    mkp::TCOMPortChannel* Channel;
    std::string Name;
    bool Told = false;
    Clock::time_point Next{};
  };
  std::vector<TReconnect> reconnects{{&session.Channel, port.Port}};
  if (second) reconnects.push_back({second.get(), port2});
  auto reconnect = [&](TReconnect& r) {
    if (!r.Channel->PortLost() || !r.Channel->NetworkPort()) return false;
    if (!r.Told) {
      std::cerr << "mkptool monitor: " << r.Name << ": " << r.Channel->LastError() << "; connecting again" << std::endl;
      r.Told = true;
    }
    if (Clock::now() >= r.Next) {
      r.Next = Clock::now() + std::chrono::seconds(1);
      if (r.Channel->OpenPort(r.Name, port.Speed, port.StopBits, port.Parity, port.ReadInterval, 0)) {
        std::cerr << "mkptool monitor: " << r.Name << ": connected again" << std::endl;
        r.Told = false;
      }
    }
    return true;
  };
  while (!StopRequested()) {
    if (limits.Count > 0 && frames.load() >= limits.Count) break;
    if (deadline && Clock::now() >= *deadline) break;
    if (monitor->Finished()) break;
    bool reconnecting = false;
    for (auto& r : reconnects) reconnecting = reconnect(r) || reconnecting;
    if (reconnecting) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    if (session.Channel.PortLost() || (second && second->PortLost())) {
      const mkp::TCOMPortChannel& lost = session.Channel.PortLost() ? session.Channel : *second;
      std::cerr << "mkptool monitor: the port " << lost.PortName() << " was lost: " << lost.LastError() << "\n";
      status = 1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  monitor->Terminate();
  monitor->WaitFor();
  if (const auto failure = monitor->Failure()) {
    std::cerr << "mkptool monitor: " << mkp::TWorkerThread::FailureText(failure) << "\n";
    return 1;
  }
  return status;
}

const TCommandRegistrar registrar({
    "monitor",
    "watch the bus on one or two ports without ever writing, and print each frame",
    std::string("Usage: mkptool monitor [PORT OPTIONS] [--port2 NAME] [--count N] [--seconds S]\n"
                "                       [--hex CODE]... [--align] [--json]\n"
                "\n"
                "Listens to a bus that other stations drive and never writes to it. Frames\n"
                "that follow each other with no silence between them are told apart: a\n"
                "header with a right checksum and a length that fits starts a frame, and\n"
                "the frame is taken once all its bytes and a right data checksum are\n"
                "there. Bytes that start no frame are logged as one \"<- Missing format\"\n"
                "line up to the next frame. Each frame prints its pane lines:\n"
                "  terminal<TAB><- 0A0B0C.010203.07.01.0100 - 05 \n"
                "  decode<TAB><- 0A0B0C>>010203 ...\n"
                "With --port2 a second receive line (a monitor cable of a point-to-point\n"
                "link has one for each direction) is read at the same time, with the\n"
                "first port's line settings; the frames of both come in one sequence\n"
                "ordered by time and their lines start \"<-1 \" or \"<-2 \". With --pcap\n"
                "each port is an interface of its own in the capture.\n"
                "With --json each frame is one JSON object instead:\n"
                "  {\"port\":1,\"time\":\"14:03:07.215\",\"mono_ms\":123456.789,\"good\":true,\n"
                "   \"text\":\"0A0B0C.010203...\",\"decode\":\"0A0B0C>>010203 ...\"}\n"
                "(bytes that formed no frame: \"good\":false and \"text\" the bytes in hex).\n"
                "Stops after N valid frames, after S seconds, or on SIGINT or SIGTERM\n"
                "(exit status 0); 1 when a port is lost (a network port whose connection\n"
                "broke is connected again every second instead), 2 for bad options or a\n"
                "port that could not be opened.\n"
                "\n"
                "Port options:\n") +
        PortOptionsHelp +
        "\nOther options:\n"
        "  --port2 NAME  a second port to read at the same time\n" +
        RunLimitOptionsHelp + "  --json        one JSON object per frame instead of the pane lines\n" +
        AnalysisOptionsHelp,
    RunMonitor,
});

}  // namespace

}  // namespace mkptool
