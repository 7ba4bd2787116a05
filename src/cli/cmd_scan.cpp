// mkptool scan: finds the devices on a bus by probing each address of a
// range and waiting for an answer from it.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "analysis_options.h"
#include "command.h"
#include "modes/address.h"
#include "modes/busscan.h"
#include "modes/device.h"
#include "modes/regstats.h"
#include "port_options.h"
#include "signals.h"
#include "supervise.h"
#include "text/cp1251.h"
#include "text/textcut.h"

namespace mkptool {

namespace {

// "010200-0102FF", "1.2.0-1.2.255", or one address.
bool ReadRange(const std::string& text, mkp::TVorelAddr& from, mkp::TVorelAddr& to) {
  const std::size_t dash = text.find('-');
  const auto a = mkp::ParseBusAddress(text.substr(0, dash));
  const auto b = dash == std::string::npos ? a : mkp::ParseBusAddress(text.substr(dash + 1));
  if (!a || !b) return false;
  from = *a;
  to = *b;
  return true;
}

std::string Milliseconds(double ms) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", std::round(ms * 10) / 10);
  return buffer;
}

int RunScan(const std::vector<std::string>& arguments) {
  TAnalysisOptions analysis;
  TPortOptions port;
  std::string range, probe, description;
  int timeout = mkp::TBusScan::DefaultTimeoutMs;
  bool json = false, panes = false;
  TOptionTable optionTable = PortCommandOptions(analysis, port);
  optionTable.push_back({"--range", true, [&](const std::string& value, std::string&) {
                           range = value;
                           return true;
                         }});
  optionTable.push_back({"--probe", true, [&](const std::string& value, std::string&) {
                           probe = value;
                           return true;
                         }});
  optionTable.push_back({"--description", true, [&](const std::string& value, std::string&) {
                           description = value;
                           return true;
                         }});
  optionTable.push_back({"--timeout", true, [&](const std::string& value, std::string& error) {
                           const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), timeout);
                           if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
                               timeout < 1 || timeout > 60000) {
                             error = "--timeout must be a whole number of milliseconds (1..60000), not '" + value + "'";
                             return false;
                           }
                           return true;
                         }});
  optionTable.push_back(Flag("--json", json));
  optionTable.push_back(Flag("--panes", panes));
  std::vector<std::string> words;
  if (!ReadPortCommandOptions("scan", arguments, optionTable, port, words)) return 2;
  if (!words.empty()) {
    std::cerr << "mkptool scan: unexpected argument '" << words[0] << "'\n";
    return 2;
  }
  mkp::TVorelAddr from, to;
  if (range.empty() || !ReadRange(range, from, to)) {
    std::cerr << "mkptool scan: give the addresses to probe as --range FROM-TO, each six hex digits (010200-0102FF)"
                 " or three numbers 0..255 (1.2.0-1.2.255)\n";
    return 2;
  }
  if (!probe.empty() && !description.empty()) {
    std::cerr << "mkptool scan: give --probe or --description, not both\n";
    return 2;
  }

  mkp::TWorker<mkp::TBusScan> scan;
  if (!probe.empty() && !scan.SetProbe(mkp::Utf8ToCp1251(probe))) {
    std::cerr << "mkptool scan: --probe is not packet text: " << probe << "\n";
    return 2;
  }
  if (!description.empty()) {
    mkp::TDeviceModel model;
    const mkp::TLoadResult loaded = mkp::LoadDeviceDescription(description, model);
    if (ReportNothingUsable("scan", loaded)) return 2;
    if (!loaded || !scan.SetProbeFromModel(model)) {
      std::cerr << "mkptool scan: the device description '" << description << "' gives no read request to probe with\n";
      return 2;
    }
  }

  TPortSession session;
  analysis.ApplyTo(session.Parser);
  if (!panes) {
    session.Transport.SetTerminalBox(nullptr);
    session.Transport.SetDecodeBox(nullptr);
  }
  InstallStopSignals();
  if (!session.Open(port)) return 2;

  scan.SetTransport(&session.Transport);
  scan.SetParser(&session.Parser);
  scan.SetRange(from, to);
  scan.SetTimeout(std::chrono::milliseconds(timeout));
  scan.SetOnFind([&](const mkp::TScanFind& find) {
    const std::string address = mkp::BusAddressHex(find.Address);
    const std::string decode = mkp::Cp1251ToUtf8(mkp::TrimRight(find.Decode));
    std::string line;
    if (json) {
      line = find.Unexpected ? "{\"unexpected\":\"" + address + "\",\"probed\":\"" + mkp::BusAddressHex(find.Probed) +
                                   "\",\"latency_ms\":" + Milliseconds(find.LatencyMs) +
                                   ",\"decode\":" + mkp::JsonString(decode) + "}"
                             : "{\"address\":\"" + address + "\",\"latency_ms\":" + Milliseconds(find.LatencyMs) +
                                   ",\"decode\":" + mkp::JsonString(decode) + "}";
    } else if (find.Unexpected) {
      line = address + "\tunexpected (while probing " + mkp::BusAddressHex(find.Probed) + ")\t" + decode;
    } else {
      line = address + "\t" + Milliseconds(find.LatencyMs) + " ms\t" + decode;
    }
    std::cout << line << "\n" << std::flush;
  });
  bool lost = false;
  scan.Begin();
  while (!scan.Done() && !StopRequested()) {
    scan.Step();
    if (session.Channel.PortLost()) {
      // The address in hand is probed again once the line is back.
      if (!session.Channel.NetworkPort()) {
        std::cerr << "mkptool scan: the port was lost: " << session.Channel.LastError() << "\n";
        lost = true;
        break;
      }
      if (!ReconnectNetworkPort(session.Channel, port, "scan")) break;
      scan.Retry();
    }
  }

  std::vector<std::string> found;
  std::size_t unexpected = 0;
  for (const mkp::TScanFind& find : scan.Finds()) {
    if (find.Unexpected)
      ++unexpected;
    else
      found.push_back(mkp::BusAddressHex(find.Address));
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", scan.Seconds());
  if (json) {
    std::string list;
    for (const auto& address : found) list += (list.empty() ? "\"" : ",\"") + address + "\"";
    std::cout << "{\"scanned\":" << scan.Scanned() << ",\"found\":[" << list << "],\"seconds\":" << seconds << "}\n"
              << std::flush;
  } else {
    std::cerr << "mkptool scan: " << scan.Scanned() << " addresses probed in " << seconds << " s: " << found.size()
              << " found, " << unexpected << " unexpected\n";
  }
  return lost || (found.empty() && unexpected == 0) ? 1 : 0;
}

const TCommandRegistrar registrar({
    "scan",
    "find the devices on a bus: probe each address of a range",
    std::string(
        "Usage: mkptool scan [PORT OPTIONS] --range FROM-TO [--probe TEXT | --description D.rst]\n"
        "                    [--timeout MS] [--json] [--panes]\n"
        "\n"
        "For each address of the range (six hex digits, 010200-0102FF, or three\n"
        "numbers, 1.2.0-1.2.255; counted with the first byte most significant)\n"
        "sends a probe to that address and waits up to the time-out for a frame\n"
        "whose source is that address. The probe: the packet text of --probe, or\n"
        "the first read request of the description, with its destination replaced\n"
        "by the address; by default a read (06) of register 1, type 1, from\n"
        "0A0B0C (" +
        std::string(mkp::TBusScan::DefaultProbe) +
        ").\n"
        "\n"
        "Each address that answers is printed as it is found: the address, a tab,\n"
        "the latency (from the end of the probe's write to the answer's first\n"
        "byte), a tab and the answer's decode line:\n"
        "  010203<TAB>6.2 ms<TAB>0A0B0C>>010203 ANSW ...\n"
        "A frame addressed to the prober from an address that was not probed (a\n"
        "device at a wrong address) is printed once as\n"
        "  0999FF<TAB>unexpected (while probing 010210)<TAB>...\n"
        "An answer that comes after its time-out still counts for its address.\n"
        "With --json, one object per find as it is found, and a closing summary:\n"
        "  {\"address\":\"010203\",\"latency_ms\":6.2,\"decode\":\"...\"}\n"
        "  {\"unexpected\":\"0999FF\",\"probed\":\"010210\",\"latency_ms\":5.9,...}\n"
        "  {\"scanned\":256,\"found\":[\"010203\",...],\"seconds\":12.9}\n"
        "(without --json that summary goes to standard error as one line).\n"
        "SIGINT or SIGTERM stops the scan after the address in hand; the summary\n"
        "still comes. Exit status 0 when something answered, 1 when nothing did,\n"
        "2 for bad options or a port that could not be opened.\n"
        "\n"
        "Port options:\n") +
        PortOptionsHelp +
        "\nOther options:\n"
        "  --range FROM-TO     the addresses to probe (required)\n"
        "  --probe TEXT        the probe as packet text (its destination is replaced)\n"
        "  --description D.rst probe with the first read request of a description\n"
        "  --timeout MS        how long to wait for each address (50)\n"
        "  --json              one JSON object per find and a summary\n"
        "  --panes             also print the pane lines (see `mkptool listen --help`)\n" +
        AnalysisOptionsHelp,
    RunScan,
});

}  // namespace

}  // namespace mkptool
