// Loading the user's files: device descriptions, slave tables and parse
// tables must load in time proportional to their size, so the time per row
// printed here stays flat from 25,000 to 100,000 rows. The start-up of
// `mkptool device` (load, then the simulated device takes the model) and of
// `mkptool poll` (load, the registers table named, the automaton given the
// lists) is measured on the same descriptions.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "analysis/parser.h"
#include "modes/device.h"
#include "modes/registers.h"
#include "modes/registers_table.h"
#include "modes/simdevice.h"
#include "modes/slavetable.h"
#include "modes/worker.h"

namespace {

std::string Hex2(int value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

// A description of `rows` lines: per register a name and a write template,
// and one read request for every ten registers.
std::string DescriptionText(int rows) {
  std::string text;
  int lines = 0;
  for (int k = 1; lines < rows; k += 10) {
    text += "<010203.0A0B0C.06.05.0100 - " + Hex2(k) + "> [";
    for (int r = k; r < k + 10; ++r) text += std::to_string(r) + (r + 1 < k + 10 ? ", " : "");
    text += "] \r\n";
    ++lines;
    for (int r = k; r < k + 10 && lines < rows; ++r) {
      text += "{Register " + std::to_string(r) + "} #" + std::to_string(r) + "#\r\n";
      if (++lines < rows) {
        text += "<010203.0A0B0C.08.05.0300 - " + Hex2(r) + " %" + std::to_string(r) + ":05%> #" +
                std::to_string(r) + "#\r\n";
        ++lines;
      }
    }
  }
  return text;
}

std::string SlaveTableText(int rows) {
  std::string text;
  for (int i = 0; i < rows; ++i) {
    text += "<010203.0A0B0C.06.05.0100 - " + Hex2(i) + "> [0A0B0C.010203.07.05.0300 - " + Hex2(i) + " " +
            Hex2(i >> 8) + " " + Hex2(i >> 16) + "]\r\n";
  }
  return text;
}

std::string ParseTableText(int rows) {
  std::string text;
  for (int i = 0; i < rows; ++i) {
    text += "COMMAND=" + std::to_string(i % 127) + "; REG=" + std::to_string((i / 127) % 256) +
            "; SUBIDX=2; RANK=" + std::to_string(i % 7) + "; MASK=asis { row " + std::to_string(i) + " }\r\n";
  }
  return text;
}

std::map<std::string, std::string>& Files() {
  static std::map<std::string, std::string> files;
  return files;
}

// The file of a kind and size, written once per run.
const std::string& File(const std::string& kind, int rows) {
  std::map<std::string, std::string>& files = Files();
  const std::string key = kind + std::to_string(rows);
  auto found = files.find(key);
  if (found != files.end()) return found->second;
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("mkp_bench_" + std::to_string(::getpid()) + "_" + key + "." + kind))
                               .string();
  const std::string text = kind == "rst" ? DescriptionText(rows) : kind == "smt" ? SlaveTableText(rows)
                                                                                 : ParseTableText(rows);
  std::ofstream(path, std::ios::binary) << text;
  return files.emplace(key, path).first->second;
}

void Rows(benchmark::State& state) {
  state.counters["rows"] = static_cast<double>(state.range(0));
  // Seconds per row (printed with an SI prefix: 370n is 370 ns).
  state.counters["per_row"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                 benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

void BM_LoadDeviceDescription(benchmark::State& state) {
  const std::string& file = File("rst", static_cast<int>(state.range(0)));
  for (auto _ : state) {
    mkp::TDeviceModel model;
    if (!mkp::LoadDeviceDescription(file, model)) state.SkipWithError("the description did not load");
    benchmark::DoNotOptimize(model.RegisterNames.Count());
  }
  Rows(state);
}

void BM_LoadSlaveTable(benchmark::State& state) {
  const std::string& file = File("smt", static_cast<int>(state.range(0)));
  mkp::TSlaveTable table;
  for (auto _ : state) {
    if (!mkp::LoadSlaveTable(table, file)) state.SkipWithError("the table did not load");
    benchmark::DoNotOptimize(table.RowCount());
  }
  Rows(state);
}

void BM_LoadParseTable(benchmark::State& state) {
  const std::string& file = File("rtb", static_cast<int>(state.range(0)));
  mkp::TMKPParser parser;
  for (auto _ : state) {
    if (!parser.LoadTable(file)) state.SkipWithError("the parse table did not load");
    benchmark::DoNotOptimize(parser.ParseTables[0].Count());
  }
  Rows(state);
}

// What `mkptool device` does before it answers: load, then the simulated
// device reads the model.
void BM_DeviceStartUp(benchmark::State& state) {
  const std::string& file = File("rst", static_cast<int>(state.range(0)));
  for (auto _ : state) {
    mkp::TDeviceModel model;
    if (!mkp::LoadDeviceDescription(file, model)) state.SkipWithError("the description did not load");
    mkp::TWorker<mkp::TDeviceSimulator> device;
    device.SetModel(model);
    benchmark::DoNotOptimize(device.Address());
  }
  Rows(state);
}

// What `mkptool poll` does before its first request: load, name the rows of
// the registers table, hand the lists to the automaton.
void BM_PollStartUp(benchmark::State& state) {
  const std::string& file = File("rst", static_cast<int>(state.range(0)));
  for (auto _ : state) {
    mkp::TDeviceModel model;
    if (!mkp::LoadDeviceDescription(file, model)) state.SkipWithError("the description did not load");
    mkp::TRegistersTable table;
    table.LoadNames(model.RegisterNames);
    mkp::TWorker<mkp::TRegistersAutomat> automat;
    automat.PrepareModel();
    automat.CopyModel(model);
    benchmark::DoNotOptimize(table.RowCount());
  }
  Rows(state);
}

}  // namespace

BENCHMARK(BM_LoadDeviceDescription)->Arg(25000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSlaveTable)->Arg(25000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadParseTable)->Arg(25000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeviceStartUp)->Arg(25000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollStartUp)->Arg(25000)->Arg(100000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& [key, path] : Files()) std::filesystem::remove(path);
  return 0;
}
