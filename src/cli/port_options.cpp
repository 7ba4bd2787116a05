#include "port_options.h"

#include <charconv>
#include <functional>
#include <iostream>
#include <utility>

#include "serial/line_names.h"
#include "serial/portsettings.h"

namespace mkptool {

const char* const PortOptionsHelp =
    "  --port NAME          serial port: COM1..COM256 (COMn is /dev/ttyS(n-1)), a\n"
    "                       device path such as /dev/ttyUSB0, or a port of a serial\n"
    "                       device server: tcp://HOST:PORT (raw TCP) or\n"
    "                       rfc2217://HOST:PORT (Telnet; the speed, parity and stop\n"
    "                       bits are set on the server's port) (required)\n"
    "  --baud N             speed in bits per second (9600)\n"
    "  --parity P           none, odd, even, mark or space (none)\n"
    "  --stop S             stop bits: 1, 1.5 or 2 (1); Linux refuses 1.5\n"
    "  --read-interval MS   receive byte-to-byte time-out, ms (1); 0 sets none\n"
    "  --write-interval MS  send one byte per MS ms; 0 sends at once (0)\n"
    "  --settings FILE      take all six settings from a mkpt.ini file; options\n"
    "                       after it override it; a file that names none of its\n"
    "                       keys is refused (\"no port settings found\"); its\n"
    "                       Echo=1 and RS485=1 act as --echo and --rs485\n"
    "  --echo               the adapter hands back every byte written (two-wire\n"
    "                       RS-485): drop that echo after each write; bytes that\n"
    "                       do not repeat the write are kept and read as received\n"
    "  --rs485              ask the driver for RS-485 direction control (RTS on\n"
    "                       while sending); where it has none, say so and go on\n"
    "  --timestamps         each pane line after the tab starts with its local time\n"
    "                       and the ms since the previous line of that pane:\n"
    "                       \"14:03:07.215 +16.042 \"; an answer's decode line ends\n"
    "                       with \" (answer after N.N ms)\"\n"
    "  --pcap FILE          also write every frame sent or received to FILE, a\n"
    "                       pcapng capture that Wireshark reads (link type 147,\n"
    "                       the direction and the decode line with each frame)\n";

namespace {

bool ParseMs(const std::string& text, int& value) {
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && p == text.data() + text.size() && value >= 0 &&
         value <= 60000;
}

// "a, b or c" of the names of a table, in lower case.
template <class TNames>
std::string NameChoice(const TNames& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    for (char c : names[i].Name) text += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return text;
}

}  // namespace

void AddPortOptions(TOptionTable& table, TPortOptions& options) {
  auto option = [&table](const char* name, std::function<bool(const std::string&, std::string&)> take) {
    table.push_back({name, true, std::move(take)});
  };
  table.push_back(Text("--port", options.Port, "port name"));
  option("--baud", [&options](const std::string& value, std::string&) {
    options.Speed = value;  // the channel decides whether the driver takes it
    return true;
  });
  option("--parity", [&options](const std::string& value, std::string& error) {
    if (!mkp::ParityFromText(value)) {
      error = "--parity must be " + NameChoice(mkp::ParityNames) + ", not '" + value + "'";
      return false;
    }
    options.Parity = value;
    return true;
  });
  option("--stop", [&options](const std::string& value, std::string& error) {
    if (!mkp::StopBitsFromText(value)) {
      error = "--stop must be " + NameChoice(mkp::StopBitNames) + ", not '" + value + "'";
      return false;
    }
    options.StopBits = value;
    return true;
  });
  for (const auto& [name, target] : {std::pair{"--read-interval", &TPortOptions::ReadInterval},
                                     std::pair{"--write-interval", &TPortOptions::WriteInterval}}) {
    option(name, [&options, name = std::string(name), target](const std::string& value, std::string& error) {
      if (!ParseMs(value, options.*target)) {
        error = name + " must be a whole number of milliseconds (0..60000), not '" + value + "'";
        return false;
      }
      return true;
    });
  }
  option("--settings", [&options](const std::string& value, std::string& error) {
    mkp::TPortSettings settings;
    const mkp::TLoadResult loaded = settings.LoadSettings(value);
    if (loaded.NothingUsable()) {
      error = loaded.Message();
      return false;
    }
    if (!loaded) {
      error = "cannot use the settings file '" + value +
              "': it is missing or unreadable, or holds an interval that is not a number";
      return false;
    }
    options.Port = settings.GetPortName();
    options.Speed = settings.GetSpeed();
    options.StopBits = settings.GetStopBits();
    options.Parity = settings.GetParity();
    options.ReadInterval = settings.GetReadInterval();
    options.WriteInterval = settings.GetWriteInterval();
    // The line options of the file add to --echo and --rs485.
    options.Echo = options.Echo || settings.GetEcho();
    options.Rs485 = options.Rs485 || settings.GetRs485();
    return true;
  });
  table.push_back(Flag("--echo", options.Echo));
  table.push_back(Flag("--rs485", options.Rs485));
  table.push_back(Flag("--timestamps", options.Timestamps));
  table.push_back(Text("--pcap", options.Pcap, "file name"));
}

TOptionTable PortCommandOptions(TAnalysisOptions& analysis, TPortOptions& port) {
  TOptionTable table;
  AddAnalysisOptions(table, analysis);
  AddPortOptions(table, port);
  return table;
}

bool ReadPortCommandOptions(const std::string& command, const std::vector<std::string>& args,
                            const TOptionTable& table, const TPortOptions& port,
                            std::vector<std::string>& positionals) {
  if (!ReadOptions(command, args, table, positionals)) return false;
  if (port.Port.empty()) {
    std::cerr << "mkptool " << command << ": no port given: use --port NAME or --settings FILE\n";
    return false;
  }
  return true;
}

TPortSession::TPortSession() {
  Parser.AnalyzeMaster = true;
  Parser.AnalyzeSlave = true;
  Transport.SetTerminalBox(&Terminal);
  Transport.SetDecodeBox(&Decode);
  Transport.SetParser(&Parser);
  Transport.DecodeEnabled = true;
}

TPortSession::~TPortSession() { Transport.SetFrameTap(nullptr); }

bool TPortSession::Open(const TPortOptions& options, const std::string& port2) {
  Terminal.SetTimestamps(options.Timestamps);
  Decode.SetTimestamps(options.Timestamps);
  Channel.SetLineOptions({options.Echo, options.Rs485});
  if (!Channel.OpenPort(options.Port, options.Speed, options.StopBits, options.Parity, options.ReadInterval,
                        options.WriteInterval)) {
    std::cerr << "Invalid port settings!\n";
    const std::string why = Channel.LastError();
    if (!why.empty()) std::cerr << why << "\n";
    std::cerr.flush();
    return false;
  }
  if (const std::string note = Channel.LineOptionsNote(); !note.empty()) {
    std::cerr << options.Port << ": " << note << "\n";
    std::cerr.flush();
  }
  if (options.Pcap.empty()) return true;
  std::vector<std::string> interfaces{options.Port};
  if (!port2.empty()) interfaces.push_back(port2);
  if (!Capture.Open(options.Pcap, interfaces, "mkptool")) {
    std::cerr << "mkptool: " << Capture.Error() << "\n";
    return false;
  }
  Capture.SetOnFailure([](const std::string& why) {
    std::cerr << "mkptool: " << why << "; the capture ends here\n";
    std::cerr.flush();
  });
  Transport.SetFrameTap(&Capture);
  return true;
}

}  // namespace mkptool
