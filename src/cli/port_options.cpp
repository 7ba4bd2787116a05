#include "port_options.h"

#include <charconv>
#include <iostream>

#include "serial/portsettings.h"

namespace mkptool {

const char* const PortOptionsHelp =
    "  --port NAME          serial port: COM1..COM256 (COMn is /dev/ttyS(n-1)) or a\n"
    "                       device path such as /dev/ttyUSB0 (required)\n"
    "  --baud N             speed in bits per second (9600)\n"
    "  --parity P           none, odd, even, mark or space (none)\n"
    "  --stop S             stop bits: 1, 1.5 or 2 (1); Linux refuses 1.5\n"
    "  --read-interval MS   receive byte-to-byte time-out, ms (1); 0 sets none\n"
    "  --write-interval MS  send one byte per MS ms; 0 sends at once (0)\n"
    "  --settings FILE      take all six settings from a mkpt.ini file; options\n"
    "                       after it override it\n";

namespace {

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool ParseMs(const std::string& text, int& value) {
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && p == text.data() + text.size() && value >= 0 &&
         value <= 60000;
}

}  // namespace

bool ExtractPortOptions(std::vector<std::string>& args, TPortOptions& options, std::string& error) {
  static const char* const names[] = {"--port",          "--baud",           "--parity",  "--stop",
                                      "--read-interval", "--write-interval", "--settings"};
  std::vector<std::string> rest;
  bool havePort = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string name, value;
    bool matched = false;
    for (const char* n : names) {
      const std::string opt = n;
      if (a == opt) {
        if (i + 1 >= args.size()) {
          error = opt + " needs a value";
          return false;
        }
        name = opt;
        value = args[++i];
        matched = true;
      } else if (a.rfind(opt + "=", 0) == 0) {
        name = opt;
        value = a.substr(opt.size() + 1);
        matched = true;
      }
      if (matched) break;
    }
    if (!matched) {
      rest.push_back(a);
      continue;
    }
    if (name == "--port") {
      if (value.empty()) {
        error = "--port needs a port name";
        return false;
      }
      options.Port = value;
      havePort = true;
    } else if (name == "--baud") {
      options.Speed = value;  // the channel decides whether the driver takes it
    } else if (name == "--parity") {
      const std::string p = Lower(value);
      if (p != "none" && p != "odd" && p != "even" && p != "mark" && p != "space") {
        error = "--parity must be none, odd, even, mark or space, not '" + value + "'";
        return false;
      }
      options.Parity = p;
    } else if (name == "--stop") {
      if (value != "1" && value != "1.5" && value != "2") {
        error = "--stop must be 1, 1.5 or 2, not '" + value + "'";
        return false;
      }
      options.StopBits = value;
    } else if (name == "--read-interval" || name == "--write-interval") {
      int ms = 0;
      if (!ParseMs(value, ms)) {
        error = name + " must be a whole number of milliseconds (0..60000), not '" + value + "'";
        return false;
      }
      (name == "--read-interval" ? options.ReadInterval : options.WriteInterval) = ms;
    } else if (name == "--settings") {
      mkp::TPortSettings settings;
      if (!settings.LoadSettings(value)) {
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
      havePort = true;
    }
  }
  if (!havePort) {
    error = "no port given: use --port NAME or --settings FILE";
    return false;
  }
  args = std::move(rest);
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

bool TPortSession::Open(const TPortOptions& options) {
  if (Channel.OpenPort(options.Port, options.Speed, options.StopBits, options.Parity, options.ReadInterval,
                       options.WriteInterval))
    return true;
  std::cerr << "Invalid port settings!\n";
  const std::string why = Channel.LastError();
  if (!why.empty()) std::cerr << why << "\n";
  std::cerr.flush();
  return false;
}

bool ExtractPortCommandOptions(const std::string& command, std::vector<std::string>& args,
                               TAnalysisOptions& analysis, TPortOptions& port) {
  std::string error;
  if (ExtractAnalysisOptions(args, analysis, error) && ExtractPortOptions(args, port, error)) return true;
  std::cerr << "mkptool " << command << ": " << error << "\n";
  return false;
}

}  // namespace mkptool
