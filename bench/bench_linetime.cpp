// The cost of a line's time: working out the time since the previous line and
// writing the "HH:MM:SS.mmm +D.DDD " prefix, per line.
#include <benchmark/benchmark.h>

#include <string>

#include "protocol/linetime.h"

namespace {

void BM_TimePrefixPerLine(benchmark::State& state) {
  mkp::TLineTimer pane(/*answers=*/true);
  mkp::TMonoTime t = mkp::TMonoClock::now();
  const std::string text = "<- 0A0B0C.010203.07.05.0300 - 01 E8 03 ";
  for (auto _ : state) {
    t += std::chrono::microseconds(16042);
    const mkp::TShownTime shown = pane.Next({t, mkp::TLineKind::Received});
    std::string line = mkp::TimePrefix(shown) + text + mkp::AnswerSuffix(shown);
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(BM_TimePrefixPerLine);

void BM_LineWithoutTime(benchmark::State& state) {
  const std::string text = "<- 0A0B0C.010203.07.05.0300 - 01 E8 03 ";
  for (auto _ : state) {
    std::string line = text;
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(BM_LineWithoutTime);

}  // namespace

BENCHMARK_MAIN();
