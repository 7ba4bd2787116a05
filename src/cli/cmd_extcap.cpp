// mkptool extcap: a live capture for Wireshark through its extcap interface.
// Wireshark runs the launcher in its extcap folder, which runs this command:
// it lists one interface, "mkp", its link type and its options (named as
// mkptool's own port options), and captures as `mkptool monitor` does,
// never writing to the line, into the FIFO that Wireshark reads.
#include <csignal>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "analysis/parser.h"
#include "command.h"
#include "modes/monitor.h"
#include "options.h"
#include "port_options.h"
#include "protocol/capture.h"
#include "protocol/transport.h"
#include "serial/comport.h"
#include "serial/line_names.h"
#include "serial/portlist.h"
#include "signals.h"

namespace mkptool {

namespace {

using namespace std::chrono_literals;

constexpr const char* InterfaceName = "mkp";

void PrintInterfaces() {
  std::cout << "extcap {version=0.1}{help=man:mkptool(1)}\n"
            << "interface {value=" << InterfaceName << "}{display=MKP serial bus (mkptool)}\n";
}

void PrintDlts() { std::cout << "dlt {number=147}{name=USER0}{display=MKP frames}\n"; }

// The options of a capture, as Wireshark's capture dialog shows them.
void PrintConfig() {
  std::cout << "arg {number=0}{call=--port}{display=Port}{type=selector}{required=true}"
               "{tooltip=The serial port: a device path such as /dev/ttyUSB0, or COMn}\n";
  for (const std::string& port : mkp::SerialDevicesPresent())
    std::cout << "value {arg=0}{value=" << port << "}{display=" << port << "}\n";
  std::cout << "arg {number=1}{call=--port2}{display=Second port}{type=string}"
               "{tooltip=A second port read at the same time (a monitor cable with a receive line for each "
               "direction); empty for none}\n"
            << "arg {number=2}{call=--baud}{display=Baud rate}{type=selector}"
               "{tooltip=Speed in bits per second}\n";
  for (const char* speed : {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200", "230400",
                            "460800", "921600"})
    std::cout << "value {arg=2}{value=" << speed << "}{display=" << speed << "}"
              << (std::string(speed) == "9600" ? "{default=true}" : "") << "\n";
  std::cout << "arg {number=3}{call=--parity}{display=Parity}{type=selector}\n";
  for (const char* parity : {"none", "odd", "even", "mark", "space"})
    std::cout << "value {arg=3}{value=" << parity << "}{display=" << parity << "}"
              << (std::string(parity) == "none" ? "{default=true}" : "") << "\n";
  std::cout << "arg {number=4}{call=--stop}{display=Stop bits}{type=selector}\n";
  for (const char* stop : {"1", "1.5", "2"})
    std::cout << "value {arg=4}{value=" << stop << "}{display=" << stop << "}"
              << (std::string(stop) == "1" ? "{default=true}" : "") << "\n";
  std::cout << "arg {number=5}{call=--read-interval}{display=Read interval (ms)}{type=unsigned}"
               "{range=0,60000}{default=1}{tooltip=Receive byte-to-byte time-out in ms; 0 sets none}\n";
}

int Capture(const TPortOptions& port, const std::string& port2, const std::string& fifo) {
  if (port.Port.empty()) {
    std::cerr << "mkptool extcap: no port given: set the port (--port)\n";
    return 2;
  }
  if (fifo.empty()) {
    std::cerr << "mkptool extcap: no FIFO given (--fifo)\n";
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);  // Wireshark gone: the write fails and the capture ends
  InstallStopSignals();
  mkp::TCOMPortChannel channel;
  if (!channel.OpenPort(port.Port, port.Speed, port.StopBits, port.Parity, port.ReadInterval, 0)) {
    std::cerr << "mkptool extcap: cannot open " << port.Port << ": " << channel.LastError() << "\n";
    return 1;
  }
  std::unique_ptr<mkp::TCOMPortChannel> second;
  if (!port2.empty()) {
    second = std::make_unique<mkp::TCOMPortChannel>();
    if (!second->OpenPort(port2, port.Speed, port.StopBits, port.Parity, port.ReadInterval, 0)) {
      std::cerr << "mkptool extcap: cannot open " << port2 << ": " << second->LastError() << "\n";
      return 1;
    }
  }
  mkp::TCaptureWriter capture;
  std::vector<std::string> interfaces{port.Port};
  if (second) interfaces.push_back(port2);
  if (!capture.Open(fifo, interfaces, "mkptool extcap")) {
    if (StopRequested()) return 0;  // stopped before Wireshark opened its end
    std::cerr << "mkptool extcap: " << capture.Error() << "\n";
    return 1;
  }
  mkp::TMKPParser parser;
  mkp::TMKProtocolTransport transport(&channel);
  transport.SetParser(&parser);
  transport.SetFrameTap(&capture);
  auto monitor = std::make_unique<mkp::TWorker<mkp::TBusMonitor>>();
  monitor->SetTransport(&transport);
  monitor->SetLines(&channel, second.get());
  monitor->Start();
  int status = 0;
  while (!StopRequested() && !capture.Failed() && !monitor->Finished()) {
    if (channel.PortLost() || (second && second->PortLost())) {
      const mkp::TCOMPortChannel& lost = channel.PortLost() ? channel : *second;
      std::cerr << "mkptool extcap: the port was lost: " << lost.LastError() << "\n";
      status = 1;
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  monitor->Terminate();
  monitor->WaitFor();
  transport.SetFrameTap(nullptr);
  capture.Close();
  if (const auto failure = monitor->Failure()) {
    std::cerr << "mkptool extcap: " << mkp::TWorkerThread::FailureText(failure) << "\n";
    return 1;
  }
  // A reader that went away ends the capture as a stop does.
  return status;
}

int RunExtcap(const std::vector<std::string>& arguments) {
  bool interfacesWanted = false, dltsWanted = false, configWanted = false, captureWanted = false;
  std::string interface, fifo, port2;
  TPortOptions port;
  TOptionTable table;
  auto value = [&table](const char* name, std::string* into) {
    table.push_back({name, true, [into](const std::string& v, std::string&) {
                       if (into != nullptr) *into = v;
                       return true;
                     }});
  };
  table.push_back(Flag("--extcap-interfaces", interfacesWanted));
  table.push_back(Flag("--extcap-dlts", dltsWanted));
  table.push_back(Flag("--extcap-config", configWanted));
  table.push_back(Flag("--capture", captureWanted));
  value("--extcap-interface", &interface);
  value("--fifo", &fifo);
  value("--port2", &port2);
  // What Wireshark may pass besides and this capture has no use for.
  bool ignored = false;
  for (const char* name : {"--extcap-version", "--extcap-capture-filter", "--extcap-control-in",
                           "--extcap-control-out", "--extcap-reload-option", "--debug-file", "--log-level",
                           "--log-file"})
    value(name, nullptr);
  table.push_back(Flag("--debug", ignored));
  AddPortOptions(table, port);
  std::vector<std::string> words;
  if (!ReadOptions("extcap", arguments, table, words)) return 2;
  if (!words.empty()) {
    std::cerr << "mkptool extcap: unexpected argument '" << words[0] << "'\n";
    return 2;
  }
  if (interfacesWanted) {
    PrintInterfaces();
    return 0;
  }
  if (!interface.empty() && interface != InterfaceName) {
    std::cerr << "mkptool extcap: no interface '" << interface << "' (there is one: " << InterfaceName << ")\n";
    return 2;
  }
  if (dltsWanted) {
    PrintDlts();
    return 0;
  }
  if (configWanted) {
    PrintConfig();
    return 0;
  }
  if (captureWanted) return Capture(port, port2, fifo);
  std::cerr << "mkptool extcap: say what to do: --extcap-interfaces, --extcap-dlts, --extcap-config or "
               "--capture (see mkptool extcap --help)\n";
  return 2;
}

const TCommandRegistrar registrar({
    "extcap",
    "live capture in Wireshark (its extcap interface; run by Wireshark)",
    std::string("Usage: mkptool extcap --extcap-interfaces\n"
                "       mkptool extcap --extcap-interface mkp --extcap-dlts | --extcap-config\n"
                "       mkptool extcap --extcap-interface mkp --capture --fifo FIFO --port NAME\n"
                "                      [--port2 NAME] [--baud N] [--parity P] [--stop S]\n"
                "                      [--read-interval MS]\n"
                "\n"
                "Wireshark's extcap interface, which Wireshark and tshark call through the\n"
                "launcher in their extcap folder (see `mkptool wireshark-install --help`).\n"
                "It offers one interface, mkp, of link type 147 (USER0), whose options\n"
                "are the port (a list of the serial devices present; tshark takes any\n"
                "path: -o extcap.mkp.port:PATH),\n"
                "a second port, the baud rate, parity, stop bits and read interval, named\n"
                "as mkptool's own options. A capture is the monitor's (see `mkptool\n"
                "monitor --help`): it never writes to the line, and each frame goes to the\n"
                "FIFO as a pcapng block with its direction and its decode line as the\n"
                "comment; with a second port each port is an interface of its own. It\n"
                "ends cleanly on SIGTERM or SIGINT, or when Wireshark stops reading.\n"
                "  tshark -i mkp -o extcap.mkp.port:/dev/ttyUSB0 -o extcap.mkp.baud:19200\n"
                "\n"
                "Exit status 0 after a stop, 1 when a port cannot be opened or is lost,\n"
                "2 for bad options.\n"
                "\n"
                "Port options (the others of the port commands are taken and unused):\n") +
        PortOptionsHelp + "  --port2 NAME         a second port to read at the same time\n",
    RunExtcap,
});

}  // namespace

}  // namespace mkptool
