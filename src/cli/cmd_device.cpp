// mkptool device: plays the device that a device description (.rst)
// describes, so that Registers mode (the window's, or mkptool poll) has a
// device to poll and to write without hardware.
#include <charconv>
#include <filesystem>
#include <memory>
#include <tuple>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis_options.h"
#include "command.h"
#include "modes/address.h"
#include "modes/device.h"
#include "modes/simbus.h"
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

// What one device of the line is made of: its description and the device
// options that apply to it.
struct TDeviceSetup {
  std::string File;
  std::optional<mkp::TVorelAddr> At;  // @ADDR of the description, or --address
  std::string AddressText;           // --address in the old dotted form
  std::string TableFile;
  std::vector<std::pair<int, std::string>> Values;
  std::vector<std::pair<int, double>> Drifts;
  mkp::TDeviceSimulator::TMisbehaviour Misbehaviour;
};

// The device options, for the setup that `current` points to when they are read.
void AddDeviceOptions(TOptionTable& table, TDeviceSetup*& current) {
  for (const auto& [name, least, field] :
       {std::tuple{"--drop-every", 1, &mkp::TDeviceSimulator::TMisbehaviour::DropEvery},
        std::tuple{"--corrupt-every", 1, &mkp::TDeviceSimulator::TMisbehaviour::CorruptEvery},
        std::tuple{"--wrong-every", 1, &mkp::TDeviceSimulator::TMisbehaviour::WrongEvery},
        std::tuple{"--silent-every", 1, &mkp::TDeviceSimulator::TMisbehaviour::SilentEvery},
        std::tuple{"--garbage-every", 1, &mkp::TDeviceSimulator::TMisbehaviour::GarbageEvery},
        std::tuple{"--delay", 0, &mkp::TDeviceSimulator::TMisbehaviour::DelayMs},
        std::tuple{"--split-ms", 0, &mkp::TDeviceSimulator::TMisbehaviour::SplitMs}}) {
    table.push_back({name, true, [&current, name = std::string(name), least = least, field = field](
                                     const std::string& value, std::string& error) {
                       int number = 0;
                       TOption option = CountOption(name, least, number);
                       if (!option.Take(value, error)) return false;
                       current->Misbehaviour.*field = number;
                       return true;
                     }});
  }
  table.push_back({"--table", true, [&current](const std::string& value, std::string&) {
                     current->TableFile = value;
                     return true;
                   }});
  table.push_back({"--address", true, [&current](const std::string& value, std::string&) {
                     current->At = mkp::ParseBusAddress(value);
                     current->AddressText = current->At ? std::string() : mkp::SetAddressText(value);
                     return true;
                   }});
  table.push_back({"--set", true, [&current](const std::string& value, std::string& error) {
                     const auto assignment = Assignment(value);
                     if (!assignment) {
                       error = "--set takes K=VALUE, K a register number";
                       return false;
                     }
                     current->Values.emplace_back(assignment->first, mkp::Utf8ToCp1251(assignment->second));
                     return true;
                   }});
  table.push_back({"--drift", true, [&current](const std::string& value, std::string& error) {
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
                     current->Drifts.emplace_back(assignment->first, *step);
                     return true;
                   }});
}

// Cuts the arguments at each description: the words before the first one,
// then the words after each. An option's value never counts as a description.
std::vector<std::vector<std::string>> CutAtDescriptions(const std::vector<std::string>& args,
                                                        const TOptionTable& table, std::vector<std::string>& files) {
  std::vector<std::vector<std::string>> groups(1);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--") {
      for (++i; i < args.size(); ++i) {
        files.push_back(args[i]);
        groups.emplace_back();
      }
      break;
    }
    if (word.size() > 2 && word.rfind("--", 0) == 0) {
      groups.back().push_back(word);
      const std::size_t eq = word.find('=');
      const std::string name = word.substr(0, eq);
      for (const TOption& option : table)
        if (option.Name == name && option.TakesValue && eq == std::string::npos && i + 1 < args.size())
          groups.back().push_back(args[++i]);
      continue;
    }
    files.push_back(word);
    groups.emplace_back();
  }
  return groups;
}

// "A.rst@0A0B0C" or "A.rst@10.11.12": the file and the address. A word whose
// part after the last "@" is no address is a file name as a whole when such
// a file exists.
bool SplitDescription(const std::string& word, TDeviceSetup& setup, std::string& error) {
  const std::size_t at = word.rfind('@');
  setup.File = word;
  if (at == std::string::npos || std::filesystem::exists(word)) return true;
  const auto address = mkp::ParseBusAddress(word.substr(at + 1));
  if (!address) {
    error = "'" + word.substr(at + 1) + "' in '" + word +
            "' is no bus address: give six hex digits (0A0B0C) or three numbers 0..255 (10.11.12)";
    return false;
  }
  setup.File = word.substr(0, at);
  setup.At = address;
  return true;
}

// Sets a device up from its description and options; false after a message.
bool MakeDevice(const TDeviceSetup& setup, mkp::TWorker<mkp::TDeviceSimulator>& device,
                std::vector<std::unique_ptr<mkp::TSlaveTable>>& tables) {
  mkp::TDeviceModel model;
  const mkp::TLoadResult loaded = mkp::LoadDeviceDescription(setup.File, model);
  if (ReportNothingUsable("device", loaded)) return false;
  if (!loaded) {
    std::cerr << "mkptool device: cannot load the device description '" << setup.File << "'\n";
    return false;
  }
  device.SetModel(model);
  if (setup.At) {
    device.SetAddress(*setup.At);
  } else if (!setup.AddressText.empty()) {
    mkp::TVorelAddr own = device.Address();
    mkp::ApplyAddressText(setup.AddressText, own);
    device.SetAddress(own);
  }
  if (!setup.TableFile.empty()) {
    auto table = std::make_unique<mkp::TSlaveTable>();
    const mkp::TLoadResult tableLoaded = mkp::LoadSlaveTable(*table, setup.TableFile);
    if (ReportNothingUsable("device", tableLoaded)) return false;
    if (!tableLoaded) {
      std::cerr << "mkptool device: cannot load the slave table '" << setup.TableFile << "'\n";
      return false;
    }
    device.SetTable(table.get());
    tables.push_back(std::move(table));
  }
  for (const auto& [reg, value] : setup.Values) device.SetValue(reg, value);
  for (const auto& [reg, step] : setup.Drifts) device.SetDrift(reg, step);
  device.SetMisbehaviour(setup.Misbehaviour);
  return true;
}

// "mkptool device: 010203: requests=N answered=N dropped=N ..." for a device.
void ReportCounters(const mkp::TDeviceSimulator& device) {
  const auto c = device.Counters();
  std::cerr << "mkptool device: " << mkp::BusAddressHex(device.Address()) << ": requests=" << c.Requests
            << " answered=" << c.Answered << " dropped=" << c.Dropped << " silent=" << c.Silent
            << " corrupted=" << c.Corrupted << " wrong=" << c.Wrong << " garbage=" << c.Garbage
            << " split=" << c.Split << std::endl;
}

int RunDevice(const std::vector<std::string>& arguments) {
  TAnalysisOptions analysis;
  TPortOptions port;
  TDeviceSetup common;
  TDeviceSetup* current = &common;
  TOptionTable optionTable = PortCommandOptions(analysis, port);
  AddDeviceOptions(optionTable, current);

  std::vector<std::string> words;
  const auto groups = CutAtDescriptions(arguments, optionTable, words);
  std::vector<std::string> stray;
  if (!ReadOptions("device", groups[0], optionTable, stray)) return 2;
  std::vector<TDeviceSetup> setups;
  for (std::size_t i = 0; i < words.size(); ++i) {
    TDeviceSetup setup = common;  // options before the first description apply to all
    std::string error;
    if (!SplitDescription(words[i], setup, error)) {
      std::cerr << "mkptool device: " << error << "\n";
      return 2;
    }
    setups.push_back(std::move(setup));
  }
  for (std::size_t i = 0; i < setups.size(); ++i) {
    current = &setups[i];
    if (!ReadOptions("device", groups[i + 1], optionTable, stray)) return 2;
  }
  if (port.Port.empty()) {
    std::cerr << "mkptool device: no port given: use --port NAME or --settings FILE\n";
    return 2;
  }
  if (setups.empty()) {
    std::cerr << "mkptool device: give a device description file (.rst), or several\n";
    return 2;
  }

  std::vector<std::unique_ptr<mkp::TSlaveTable>> tables;
  TPortSession session;
  analysis.ApplyTo(session.Parser);

  // One description: the device alone, as it always was (its slave table
  // answers whatever it matches). Several: a bus.
  mkp::TWorker<mkp::TDeviceSimulator> single;
  mkp::TWorker<mkp::TSimulatedBus> bus;
  std::vector<const mkp::TDeviceSimulator*> devices;
  if (setups.size() == 1) {
    if (!MakeDevice(setups[0], single, tables)) return 2;
    devices.push_back(&single);
  } else {
    for (const TDeviceSetup& setup : setups) {
      auto device = std::make_unique<mkp::TWorker<mkp::TDeviceSimulator>>();
      if (!MakeDevice(setup, *device, tables)) return 2;
      devices.push_back(device.get());
      std::string error;
      if (!bus.AddDevice(std::move(device), error)) {
        std::cerr << "mkptool device: " << error << "\n";
        return 2;
      }
    }
  }
  mkp::TWorkerThread& worker = setups.size() == 1 ? static_cast<mkp::TWorkerThread&>(single) : bus;
  InstallStopSignals();
  if (!session.Open(port)) return 2;
  single.SetTransport(&session.Transport);
  bus.SetTransport(&session.Transport);
  worker.Start();
  TSupervision supervision{"device", &session, port, &worker, nullptr};
  const int status = SuperviseWorker(supervision);
  worker.Terminate();
  worker.WaitFor();
  for (const mkp::TDeviceSimulator* device : devices) ReportCounters(*device);
  return status;
}

const TCommandRegistrar registrar({
    "device",
    "play the devices of device descriptions (.rst) on a serial port",
    std::string("Usage: mkptool device [PORT OPTIONS] [DEVICE OPTIONS] DEVICE.rst[@ADDR] [DEVICE OPTIONS]\n"
                "                      [DEVICE2.rst[@ADDR] [DEVICE OPTIONS]]...\n"
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
                "Several descriptions make a bus: each is a device of its own on the same\n"
                "line, at the address of its description or at @ADDR (six hex digits,\n"
                "0A0B0C, or three numbers, 10.11.12). Device options after a description\n"
                "apply to that device alone; those before the first description apply to\n"
                "all. Each device answers only packets addressed to it (its slave table\n"
                "included) and never an answer (07) or acknowledgement (01); the line is\n"
                "cut into frames, so the frames of the others never cost a device its\n"
                "framing. Two devices with one address are refused.\n"
                "\n"
                "The pane lines are printed as they are produced (see `mkptool listen\n"
                "--help`). Runs until SIGINT or SIGTERM; exit status as for `mkptool slave`.\n"
                "At the end one line per device on standard error tells what it did:\n"
                "  mkptool device: 010203: requests=N answered=N dropped=N silent=N\n"
                "  corrupted=N wrong=N garbage=N split=N\n"
                "(requests: read requests received; the others: the faults injected).\n"
                "\n"
                "Port options:\n") +
        PortOptionsHelp +
        "\nDevice options:\n"
        "  --address ADDR    the device's bus address, as @ADDR (default: the\n"
        "                    destination of the description's first request)\n"
        "  --set K=VALUE     the starting value of register K, as the Registers page\n"
        "                    writes it (1000, 21.5, MKP-1, \"5 6\" for BYTE values);\n"
        "                    registers not set start empty (zero)\n"
        "  --drift K=STEP    each read of register K moves its value by STEP, ten\n"
        "                    steps up, then ten down\n"
        "  --table FILE.smt  answers for the packets the description does not cover\n"
        "  --drop-every N    misbehave on purpose, on the Nth, 2Nth, ... read request\n"
        "  --silent-every N  received (counted from 1): no answer (drop; silent is\n"
        "  --corrupt-every N the same, counted apart), an answer whose data checksum\n"
        "  --wrong-every N   is broken (corrupt), an answer with another data type\n"
        "  --garbage-every N (wrong), or a burst of random bytes on the line before\n"
        "                    the answer (garbage); drop wins over silent, silent over\n"
        "                    corrupt, corrupt over wrong, wrong over garbage\n"
        "  --split-ms MS     write every answer in two parts MS ms apart (a master\n"
        "                    must ride out the gap inside the frame)\n"
        "  --delay MS        the pause before each answer (default 5)\n" +
        AnalysisOptionsHelp,
    RunDevice,
});

}  // namespace

}  // namespace mkptool
