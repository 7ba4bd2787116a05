// mkptool device: plays the device that a device description (.rst)
// describes, so that Registers mode (the window's, or mkptool poll) has a
// device to poll and to write without hardware.
#include <charconv>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis_options.h"
#include "command.h"
#include "modes/address.h"
#include "modes/device.h"
#include "modes/simdevice.h"
#include "modes/slavetable.h"
#include "port_options.h"
#include "registers_options.h"
#include "signals.h"
#include "supervise.h"
#include "text/cp1251.h"
#include "text/numtext.h"
#include "text/textcut.h"

namespace mkptool {

namespace {

// "K=VALUE" with K a register number in 1..65535.
std::optional<std::pair<int, std::string>> Assignment(const std::string& text) {
  auto assignment = ReadAssignment(text);
  if (assignment && (assignment->first < 1 || assignment->first > 65535)) return std::nullopt;
  return assignment;
}

// A whole number of at least `least` for a numeric option.
TOption CountOption(const std::string& name, int least, int& target) {
  return {name, true, [name, least, &target](const std::string& value, std::string& error) {
            int number = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
            if (value.empty() || ec != std::errc() || end != value.data() + value.size() || number < least) {
              error = name + (least > 0 ? " must be a positive whole number" : " must be a whole number, 0 or more");
              return false;
            }
            target = number;
            return true;
          }};
}

int RunDevice(const std::vector<std::string>& arguments) {
  TAnalysisOptions analysis;
  TPortOptions port;
  std::string tableFile;
  std::string address;
  std::vector<std::pair<int, std::string>> values;
  std::vector<std::pair<int, double>> drifts;
  mkp::TDeviceSimulator::TMisbehaviour misbehaviour;
  TOptionTable optionTable = PortCommandOptions(analysis, port);
  optionTable.push_back(CountOption("--drop-every", 1, misbehaviour.DropEvery));
  optionTable.push_back(CountOption("--corrupt-every", 1, misbehaviour.CorruptEvery));
  optionTable.push_back(CountOption("--wrong-every", 1, misbehaviour.WrongEvery));
  optionTable.push_back(CountOption("--delay", 0, misbehaviour.DelayMs));
  optionTable.push_back({"--table", true, [&](const std::string& value, std::string&) {
                           tableFile = value;
                           return true;
                         }});
  optionTable.push_back({"--address", true, [&](const std::string& value, std::string&) {
                           address = mkp::SetAddressText(value);
                           return true;
                         }});
  optionTable.push_back({"--set", true, [&](const std::string& value, std::string& error) {
                           const auto assignment = Assignment(value);
                           if (!assignment) {
                             error = "--set takes K=VALUE, K a register number";
                             return false;
                           }
                           values.emplace_back(assignment->first, mkp::Utf8ToCp1251(assignment->second));
                           return true;
                         }});
  optionTable.push_back({"--drift", true, [&](const std::string& value, std::string& error) {
                           const auto assignment = Assignment(value);
                           std::optional<double> step;
                           try {
                             if (assignment) step = mkp::StrToFloatDot(mkp::Trim(assignment->second));
                           } catch (const mkp::EConvertError&) {
                           }
                           if (!step) {
                             error = "--drift takes K=STEP, K a register number and STEP a number";
                             return false;
                           }
                           drifts.emplace_back(assignment->first, *step);
                           return true;
                         }});
  std::vector<std::string> files;
  if (!ReadPortCommandOptions("device", arguments, optionTable, port, files)) return 2;
  if (files.size() != 1) {
    std::cerr << "mkptool device: give exactly one device description file (.rst)\n";
    return 2;
  }
  mkp::TDeviceModel model;
  const mkp::TLoadResult loaded = mkp::LoadDeviceDescription(files[0], model);
  if (ReportNothingUsable("device", loaded)) return 2;
  if (!loaded) {
    std::cerr << "mkptool device: cannot load the device description '" << files[0] << "'\n";
    return 2;
  }
  mkp::TSlaveTable table;
  const mkp::TLoadResult tableLoaded = tableFile.empty() ? mkp::TLoadResult(true) : mkp::LoadSlaveTable(table, tableFile);
  if (ReportNothingUsable("device", tableLoaded)) return 2;
  if (!tableLoaded) {
    std::cerr << "mkptool device: cannot load the slave table '" << tableFile << "'\n";
    return 2;
  }

  TPortSession session;
  analysis.ApplyTo(session.Parser);
  InstallStopSignals();
  if (!session.Open(port)) return 2;

  mkp::TWorker<mkp::TDeviceSimulator> device;
  device.SetTransport(&session.Transport);
  device.SetModel(model);
  if (!address.empty()) {
    mkp::TVorelAddr own = device.Address();
    mkp::ApplyAddressText(address, own);
    device.SetAddress(own);
  }
  if (!tableFile.empty()) device.SetTable(&table);
  for (const auto& [reg, value] : values) device.SetValue(reg, value);
  for (const auto& [reg, step] : drifts) device.SetDrift(reg, step);
  device.SetMisbehaviour(misbehaviour);
  device.Start();

  TSupervision supervision{"device", &session, port, &device, nullptr};
  const int status = SuperviseWorker(supervision);
  device.Terminate();
  device.WaitFor();
  return status;
}

const TCommandRegistrar registrar({
    "device",
    "play the device of a device description (.rst) on a serial port",
    std::string("Usage: mkptool device [PORT OPTIONS] [--address A.B.C] [--set K=VALUE]...\n"
                "                      [--drift K=STEP]... [--table TABLE.smt]\n"
                "                      [--drop-every N] [--corrupt-every N] [--wrong-every N]\n"
                "                      [--delay MS] DEVICE.rst\n"
                "\n"
                "Plays the device that the description describes, so that Registers mode\n"
                "has something to poll and to write without hardware:\n"
                "- a read request of the description that is sent to the device's address\n"
                "  is answered with command 07, the request's data type and first data\n"
                "  byte, then the value of each register of the request's row list,\n"
                "  encoded for the data type as a write template encodes it;\n"
                "- a packet that fits a write template (same command and data type, same\n"
                "  bytes before the first placeholder) stores the written value and is\n"
                "  acknowledged with command 01;\n"
                "- any other packet is answered from the slave table, when one is given,\n"
                "  as `mkptool slave` answers it.\n"
                "Each answer goes out 5 ms after the packet (--delay changes that).\n"
                "\n"
                "The pane lines are printed as they are produced (see `mkptool listen\n"
                "--help`). Runs until SIGINT or SIGTERM; exit status as for `mkptool slave`.\n"
                "\n"
                "Port options:\n") +
        PortOptionsHelp +
        "\nOther options:\n"
        "  --address A.B.C   the device's bus address (default: the destination of\n"
        "                    the description's first request)\n"
        "  --set K=VALUE     the starting value of register K, as the Registers page\n"
        "                    writes it (1000, 21.5, MKP-1, \"5 6\" for BYTE values);\n"
        "                    registers not set start empty (zero)\n"
        "  --drift K=STEP    each read of register K moves its value by STEP, ten\n"
        "                    steps up, then ten down\n"
        "  --table FILE.smt  answers for the packets the description does not cover\n"
        "  --drop-every N    misbehave on purpose, on the Nth, 2Nth, ... read request\n"
        "  --corrupt-every N received (counted from 1): no answer (drop), an answer\n"
        "  --wrong-every N   whose data checksum is broken (corrupt), or an answer\n"
        "                    with another data type (wrong); drop wins over corrupt,\n"
        "                    corrupt over wrong\n"
        "  --delay MS        the pause before each answer (default 5)\n" +
        AnalysisOptionsHelp,
    RunDevice,
});

}  // namespace

}  // namespace mkptool
