// mkptool poll: Registers mode without the window. Loads a device description
// (.rst), runs the registers automaton on the serial line and prints the
// registers table after every completed cycle.
#include <charconv>
#include <chrono>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "analysis_options.h"
#include "command.h"
#include "modes/address.h"
#include "modes/device.h"
#include "modes/registers.h"
#include "modes/registers_table.h"
#include "port_options.h"
#include "registers_options.h"
#include "signals.h"
#include "supervise.h"
#include "text/cp1251.h"
#include "text/csv.h"
#include "text/textcut.h"
#include <fstream>

namespace mkptool {

namespace {

using namespace std::chrono_literals;

// Without --panes the traffic lines are dropped, but what the automaton itself
// reports in the terminal pane (a save file it cannot write, ...) goes to
// standard error. The error that stops it is reported with its end.
class TReportPane : public mkp::TLogPane {
public:
  void AddLine(const mkp::TPaneLine& record) override {
    const std::string& line = record.Text;
    if (line.rfind("-> ", 0) == 0 || line.rfind("<- ", 0) == 0) return;
    if (line.rfind("Registers automaton stopped: ", 0) == 0) return;
    if (line == "Connection lost") return;  // the supervision tells it, with the port
    std::cerr << "mkptool poll: " << mkp::Cp1251ToUtf8(line) << std::endl;
  }
};

std::string TableText(const mkp::TRegistersTable& table) {
  std::string text;
  int k = 0;
  for (const auto& [name, value] : table.Snapshot()) {
    text += std::to_string(++k) + '\t' + mkp::Cp1251ToUtf8(name) + '\t' + mkp::Cp1251ToUtf8(value) + '\n';
  }
  return text + '\n';
}

// The statistics of every request: a line each ("N<TAB>sent=..."), or one
// JSON object.
std::string StatsText(const mkp::TRegistersStats& stats, bool json, long long cycle, bool final = false) {
  const std::vector<mkp::TRequestStats> rows = stats.Snapshot();
  if (json) {
    std::vector<mkp::TRequestStats> shown = rows;
    for (auto& row : shown) row.Text = mkp::Cp1251ToUtf8(row.Text);
    return mkp::StatsJson(cycle, shown, final) + '\n';
  }
  std::string text;
  for (std::size_t i = 0; i < rows.size(); ++i) text += std::to_string(i + 1) + '\t' + mkp::StatsLine(rows[i]) + '\n';
  return text + '\n';
}

// One CSV row per completed cycle: the time and the current value of every
// register.
std::vector<std::string> CsvRow(const mkp::TRegistersTable& table) {
  std::vector<std::string> row{mkp::LocalIsoTime(std::chrono::system_clock::now())};
  for (const auto& [name, value] : table.Snapshot()) row.push_back(mkp::Trim(value));  // no pane padding
  return row;
}

int RunPoll(const std::vector<std::string>& arguments) {
  TAnalysisOptions analysis;
  TPortOptions port;
  TRegistersOptions options;
  bool stats = false;
  bool json = false;
  std::string csvFile;
  TOptionTable optionTable = PortCommandOptions(analysis, port);
  AddRegistersOptions(optionTable, options, /*allowCycles=*/true);
  optionTable.push_back(Flag("--stats", stats));
  optionTable.push_back(Flag("--json", json));
  optionTable.push_back({"--csv", true, [&csvFile](const std::string& value, std::string& error) {
                           if (value.empty()) {
                             error = "--csv takes a file name";
                             return false;
                           }
                           csvFile = value;
                           return true;
                         }});
  std::vector<std::string> args;
  if (!ReadPortCommandOptions("poll", arguments, optionTable, port, args)) return 2;
  if (args.size() != 1) {
    std::cerr << "mkptool poll: give exactly one device description file (.rst)\n";
    return 2;
  }
  const std::string deviceFile = args[0];

  mkp::TDeviceModel model;
  const mkp::TLoadResult loaded = mkp::LoadDeviceDescription(deviceFile, model);
  if (ReportNothingUsable("poll", loaded)) return 2;
  if (!loaded) {
    std::cerr << "mkptool poll: cannot load the device description '" << deviceFile << "'\n";
    return 2;
  }
  mkp::TRegistersTable table;
  table.LoadNames(model.RegisterNames);
  if (json) stats = true;

  std::ofstream csv;
  if (!csvFile.empty()) {
    csv.open(csvFile, std::ios::binary | std::ios::trunc);
    std::vector<std::string> header{"time"};
    for (const auto& [name, value] : table.Snapshot()) header.push_back(name);
    if (csv) csv << mkp::CsvLine(header) << std::flush;
    if (!csv) {
      std::cerr << "mkptool poll: cannot write the file '" << csvFile << "'\n";
      return 2;
    }
  }

  TPortSession session;
  analysis.ApplyTo(session.Parser);
  TReportPane reports;
  if (!options.Panes) {
    session.Transport.SetTerminalBox(&reports);
    session.Transport.SetDecodeBox(nullptr);
  }
  InstallStopSignals();  // a stop asked for while the port opens counts too
  if (!session.Open(port)) return 2;

  mkp::TRegistersStats statistics;
  auto automat = mkp::MakeRegistersAutomat(session.Transport, session.Parser, table, model,
                                           options.DeviceAddress, &statistics);
  mkp::TRegistersAutomat* self = automat.get();
  long long cycles = 0;
  std::uint64_t printedAt = 0;  // the sent total when the statistics were last printed
  bool csvFailed = false;
  automat->SetOnCycle([&, self] {
    // Runs in the automaton's thread, as do the pane lines, so the table
    // never mixes with them.
    if (!json) std::cout << TableText(table);
    if (stats) {
      std::cout << StatsText(statistics, json, self->CycleCount());
      printedAt = statistics.Totals().Sent;
    }
    std::cout.flush();
    if (csv.is_open() && !csvFailed) {
      csv << mkp::CsvLine(CsvRow(table)) << std::flush;
      if (!csv) {
        csvFailed = true;
        std::cerr << "mkptool poll: cannot write the file '" << csvFile << "'\n";
      }
    }
    if (options.Cycles > 0 && ++cycles >= options.Cycles) {
      self->Terminate();
      RequestStop();
    }
  });
  automat->Start();

  const int status = SuperviseWorker({"poll", &session, port, automat.get(), nullptr});
  // The automaton ends after the step in hand (one receive wait at most).
  automat->Terminate();
  automat->WaitFor();
  automat->ReleaseModel();
  if (stats && statistics.Totals().Sent != printedAt) {
    std::cout << StatsText(statistics, json, self->CycleCount(), /*final=*/true);
    std::cout.flush();
  }
  return status;
}

const TCommandRegistrar registrar({
    "poll",
    "poll the registers of a device from a device description (.rst)",
    std::string(
        "Usage: mkptool poll [PORT OPTIONS] [--hex CODE]... [--align] [--address A.B.C]\n"
        "                    [--cycles N] [--panes] [--stats] [--json] [--csv FILE]\n"
        "                    DEVICE.rst\n"
        "\n"
        "Registers mode without the window: sends the read requests of the device\n"
        "description one after the other in an endless cycle, waits 100 ms for each\n"
        "answer and accepts it only with command 07, the request's data type and its\n"
        "first data byte. The decoded values go to the \"Current value\" of the rows\n"
        "named by the request's row list, and the request's save commands append\n"
        "them to their files, as in the window. A failed step empties the line and\n"
        "starts the cycle again at the first request.\n"
        "\n"
        "After each completed cycle the registers table is printed: one line per\n"
        "register, its number, a tab, its name, a tab and its current value, then an\n"
        "empty line. Runs until SIGINT or SIGTERM (or N cycles), then stops after the\n"
        "step in hand and exits with status 0. When a request cannot be written\n"
        "(\"-> Transmit error!\"), the port and the cause go to standard error and\n"
        "the port is opened again with the same settings. Exit status 1 when the\n"
        "port is lost or cannot be opened again, or an error stops the automaton\n"
        "(told on standard error), 2 for bad options, a description that cannot be\n"
        "loaded, or a port that could not be opened.\n"
        "\n"
        "Port options:\n") +
        PortOptionsHelp +
        "\nOther options:\n"
        "  --address A.B.C  send the requests to this device address instead of the\n"
        "                   destination written in the description\n"
        "  --cycles N       stop after N completed cycles\n"
        "  --panes          also print the pane lines as they are produced (the pane\n"
        "                   name, a tab and the line, as `mkptool listen` does)\n"
        "  --stats          after each cycle and at the end, one line per request:\n"
        "                   its number, a tab and sent=N answered=N no_answer=N\n"
        "                   bad_frame=N wrong_answer=N write_failed=N\n"
        "                   other_traffic=N last_ms=X mean_ms=X max_ms=X (other\n"
        "                   traffic: frames of other stations passed over while\n"
        "                   the answer was awaited; response times from the end of the\n"
        "                   request's write to the answer's first byte; - before an\n"
        "                   answer was accepted), then an empty line\n"
        "  --json           the statistics as one JSON object per cycle (and one at\n"
        "                   the end, with \"final\":true after the cycle) instead, and no\n"
        "                   table: {\"cycle\":N,\"requests\":\n"
        "                   [{\"request\":1,\"text\":\"...\",\"sent\":N,...}]}, times null\n"
        "                   before an answer was accepted\n"
        "  --csv FILE       write one row per completed cycle to FILE: the local time\n"
        "                   (2026-12-10T14:03:07.215) and the value of every register,\n"
        "                   headed by their names (UTF-8, quoted as RFC 4180 says)\n" +
        AnalysisOptionsHelp,
    RunPoll,
});

}  // namespace

}  // namespace mkptool
