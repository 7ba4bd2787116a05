// Find and filter on a full pane (8,097 decode lines of a polling session),
// through the pane view and model as the window uses them, on the offscreen
// platform, the view's layout and a repaint included: the target is under
// 50 ms for each of them.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <memory>
#include <string>
#include <vector>

#include "app/linematch.h"
#include "app/panes.h"

namespace {

// Decode lines as the Registers page makes them: requests and answers of
// several registers, with a message now and then.
std::vector<mkpt::TPaneLine> PollingLines(int count) {
  std::vector<mkpt::TPaneLine> lines;
  for (int i = 0; i < count; ++i) {
    const int reg = i / 2 % 16;
    char regText[8];
    std::snprintf(regText, sizeof regText, "%02d", reg);
    std::string text;
    if (i % 97 == 96)
      text = "<- Missing format : 0A 0B 0C 01 02 03 07 05 03 00 5F 1D 2C 3B 01 E8 03 00 00";
    else if (i % 2 == 0)
      text = "-> 010203>>0A0B0C: READ reg " + std::string(regText) + " WORD (5), 1 value";
    else
      text = "<- 0A0B0C>>010203: ANSWER reg " + std::string(regText) + " WORD (5) = " + std::to_string(1000 + i) +
             " [02 E8 03] checksum 5F 1D 2C 3B";
    lines.push_back({text, {}, {}});
  }
  return lines;
}

struct TFullPane {
  mkpt::TPaneView view;
  mkpt::TPaneModel& model = view.Model();
  TFullPane() {
    view.resize(500, 300);
    view.show();
    model.Append(PollingLines(8097));
    Settle();
  }
  // What the window's loop does next: lay the rows out and paint.
  void Settle() {
    view.viewport()->repaint();
    QCoreApplication::processEvents();
  }
};

std::shared_ptr<mkpt::TLineMatcher> Matcher(const std::string& text, bool regex) {
  return std::make_shared<mkpt::TLineMatcher>(mkpt::TFindQuery{text, regex, false});
}

void Report(benchmark::State& state, const mkpt::TPaneModel& model) {
  state.counters["lines"] = static_cast<double>(model.Lines().size());
  state.counters["matches"] = static_cast<double>(model.Matches().MatchCount());
}

// A text typed into the find bar: every line looked at and counted.
void BM_FindText(benchmark::State& state) {
  TFullPane pane;
  for (auto _ : state) {
    pane.model.SetMatcher(Matcher(state.range(0) ? "010203>>" : "reg 04", false));
    pane.Settle();
  }
  Report(state, pane.model);
}
BENCHMARK(BM_FindText)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FindRegex(benchmark::State& state) {
  TFullPane pane;
  for (auto _ : state) {
    pane.model.SetMatcher(Matcher(R"(reg 0[45]\b.*= 1\d{3}\b)", true));
    pane.Settle();
  }
  Report(state, pane.model);
}
BENCHMARK(BM_FindRegex)->Unit(benchmark::kMillisecond);

// The filter on a text already found: on and off again.
void BM_FilterOnOff(benchmark::State& state) {
  TFullPane pane;
  pane.model.SetMatcher(Matcher("reg 04", false));
  for (auto _ : state) {
    pane.model.SetFilter(true);
    pane.Settle();
    pane.model.SetFilter(false);
    pane.Settle();
  }
  Report(state, pane.model);
}
BENCHMARK(BM_FilterOnOff)->Unit(benchmark::kMillisecond);

// Typing with the filter on: a new text filters the full pane again.
void BM_FilterNewText(benchmark::State& state) {
  TFullPane pane;
  pane.model.SetFilter(true);
  bool flip = false;
  for (auto _ : state) {
    pane.model.SetMatcher(Matcher((flip = !flip) ? "reg 04" : "reg 05", false));
    pane.Settle();
  }
  Report(state, pane.model);
}
BENCHMARK(BM_FilterNewText)->Unit(benchmark::kMillisecond);

// A batch of 100 lines into the full, filtered pane (the oldest go).
void BM_AppendWhileFiltered(benchmark::State& state) {
  TFullPane pane;
  pane.model.SetMatcher(Matcher("reg 04", false));
  pane.model.SetFilter(true);
  const auto batch = PollingLines(100);
  for (auto _ : state) {
    pane.view.Append(batch, true);
    pane.Settle();
  }
  Report(state, pane.model);
}
BENCHMARK(BM_AppendWhileFiltered)->Unit(benchmark::kMicrosecond);

// An expression that backtracks without end on every line: the work limit
// per line bounds it.
void BM_CostlyRegex(benchmark::State& state) {
  TFullPane pane;
  for (auto _ : state) {
    pane.model.SetMatcher(Matcher(R"((\w+\s?)+!)", true));
    pane.Settle();
  }
  Report(state, pane.model);
}
BENCHMARK(BM_CostlyRegex)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
