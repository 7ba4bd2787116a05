// Cycle time of the registers automaton over a pseudo-terminal against a
// device thread that answers every read at once, compared with
//   n x (100 ms + reply time) + (n - 1) x StepDelay + CycleDelay.
// The reply time is the time one receive of an answer already on the line
// takes, measured on the same line beforehand.
//
// Usage: tool_registers_cycle [CYCLES]   (default 10 per configuration)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analysis/parser.h"
#include "modes/registers.h"
#include "modes/registers_peer.h"
#include "modes/registers_table.h"
#include "protocol/transport.h"
#include "serial/comport.h"

using namespace mkp;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string Request(int reg) {
  char text[64];
  std::snprintf(text, sizeof text, "010203.0A0B0C.06.05.0100 - %02X", reg);
  return text;
}

std::vector<std::string> Answer(const mkptest::TSeenPacket& seen, int) {
  if (seen.Command != 6) return {};
  char text[64];
  std::snprintf(text, sizeof text, "0A0B0C.010203.07.05.0300 - %02X %02X 00", seen.First, seen.First);
  return {text};
}

// Mean duration of a receive of an answer that is already on the line.
double ReplyTime(TMKProtocolTransport& transport, int samples) {
  double total = 0;
  for (int i = 0; i < samples; ++i) {
    TPacketHolder request;
    TPacketHolder reply;
    TextToPacket(Request(1), *request);
    transport.SendPacket(*request);
    std::this_thread::sleep_for(std::chrono::milliseconds(TRegistersAutomat::ReplyWaitMs));
    const auto start = Clock::now();
    transport.ReceivePacket(*reply);
    total += Ms(Clock::now() - start);
  }
  return total / samples;
}

struct TResult {
  double Expected = 0;
  double Mean = 0;
  double Min = 0;
  double Max = 0;
};

TResult Measure(TMKProtocolTransport& transport, TMKPParser& parser, int stepDelay, int cycleDelay,
                int cycles, double replyTime) {
  constexpr int Requests = 3;
  TDeviceModel model;
  TRegistersTable table;
  for (int r = 1; r <= Requests; ++r) {
    model.RegisterNames.Add(r, "r" + std::to_string(r), 0);
    model.Requests.AddText(Request(r));
    model.RequestRows.AddText(std::to_string(r));
    model.RequestSaves.AddText("");
  }
  model.OneStepDelay = stepDelay;
  model.OneCycleDelay = cycleDelay;
  table.LoadNames(model.RegisterNames);

  std::mutex lock;
  std::vector<Clock::time_point> ends;
  auto automat = MakeRegistersAutomat(transport, parser, table, model, "");
  TRegistersAutomat* self = automat.get();
  automat->SetOnCycle([&] {
    std::lock_guard guard(lock);
    ends.push_back(Clock::now());
    if (static_cast<int>(ends.size()) > cycles) self->Terminate();
  });
  automat->Start();
  automat->WaitFor();

  TResult result;
  result.Expected = Requests * (TRegistersAutomat::ReplyWaitMs + replyTime) +
                    (Requests - 1) * stepDelay + cycleDelay;
  std::vector<double> times;
  for (std::size_t i = 1; i < ends.size(); ++i) times.push_back(Ms(ends[i] - ends[i - 1]));
  if (times.empty()) return result;
  double sum = 0;
  for (double t : times) sum += t;
  result.Mean = sum / times.size();
  result.Min = *std::min_element(times.begin(), times.end());
  result.Max = *std::max_element(times.begin(), times.end());
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
  mkptest::TPtyPair pty;
  TCOMPortChannel channel;
  if (!channel.OpenPort(pty.Path(), "115200", "1", "none", 1, 0)) {
    std::fprintf(stderr, "cannot open %s: %s\n", pty.Path().c_str(), channel.LastError().c_str());
    return 1;
  }
  TMKPParser parser;
  TMKProtocolTransport transport(&channel);
  transport.SetParser(&parser);
  transport.DecodeEnabled = true;
  mkptest::TRegistersPeer peer(pty, Answer);

  const double replyTime = ReplyTime(transport, 10);
  std::printf("reply time (one receive of a waiting answer): %.2f ms\n", replyTime);
  std::printf("%-22s %10s %10s %10s %10s %10s %8s\n", "StepDelay/CycleDelay", "expected", "mean",
              "min", "max", "mean dev", "verdict");
  bool allWithin = true;
  for (const auto& [step, cycle] : std::vector<std::pair<int, int>>{{0, 0}, {50, 200}, {100, 1000}}) {
    const TResult r = Measure(transport, parser, step, cycle, cycles, replyTime);
    const double deviation = r.Mean - r.Expected;
    const double allowed = 0.02 * r.Expected + 5.0;
    const bool within = std::fabs(deviation) <= allowed;
    allWithin = allWithin && within;
    char label[32];
    std::snprintf(label, sizeof label, "%d / %d ms", step, cycle);
    std::printf("%-22s %10.2f %10.2f %10.2f %10.2f %+10.2f %8s\n", label, r.Expected, r.Mean, r.Min,
                r.Max, deviation, within ? "ok" : "OUT");
  }
  std::printf("target: |mean - expected| <= 2%% + 5 ms, 3 requests, %d cycles each\n", cycles);
  return allWithin ? 0 : 1;
}
