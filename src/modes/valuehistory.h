// The values of chosen registers over time, for the Registers page's plot and
// its export: up to MaxSeries registers, each with a bounded history (the
// newest points kept as they came, older ones thinned to every second point
// whenever the limit is reached, so memory stays flat however long the
// device is polled), and the plot's view (its time span and pause).
//
// The registers automaton adds the values it accepts from its thread; the
// window reads from its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace mkp {

struct TValuePoint {
  double TimeMs = 0;  // wall clock, milliseconds since the epoch
  double Value = 0;
  std::uint64_t Cycle = 0;  // the automaton's cycle that read it
  std::string Text;         // as the grid shows it
};

struct TPlotPoint {
  double TimeMs = 0;
  double Value = 0;
};

class TValueHistory {
public:
  static constexpr int MaxSeries = 8;
  static constexpr std::size_t DefaultLimit = 100000;

  explicit TValueHistory(std::size_t limit = DefaultLimit);

  // The number a value text stands for, when it is one (integers, reals in
  // the exponent form the grid shows); none for texts, several BYTE values,
  // date and time, hexadecimal forms.
  static std::optional<double> NumericValue(const std::string& text);

  // Chooses a register (row from 1) for the plot, or lets it go (its points
  // go too). False when MaxSeries are chosen already.
  bool Choose(int row, bool chosen);
  bool IsChosen(int row) const;
  // The chosen rows, in the order they were chosen.
  std::vector<int> Chosen() const;
  // No register chosen, no points (a new device).
  void Clear();

  // A value the automaton accepted for a row; kept when the row is chosen
  // and the text is a number.
  void Add(int row, const std::string& text, double timeMs, std::uint64_t cycle);

  std::size_t Count(int row) const;
  std::vector<TValuePoint> Points(int row) const;

  // The view: Pause freezes the visible range at the moment of the pause
  // while values go on being added.
  void SetPaused(bool paused, double nowMs);
  bool Paused() const;
  // The visible time range [from, to] for a span in milliseconds (0: all
  // points) at nowMs.
  std::pair<double, double> VisibleRange(double spanMs, double nowMs) const;
  // The row's points inside [from, to], at most maxPoints (evenly thinned);
  // the points just outside are included so that lines reach the edges.
  std::vector<TPlotPoint> Visible(int row, double from, double to, std::size_t maxPoints) const;

  // Changes with every added point and every change of the choice.
  std::uint64_t Generation() const;

  // One CSV table of the chosen registers: a header row ("time" and the
  // names, by row from 1, of the chosen registers), then one row per cycle
  // that read any of them, the values as the grid showed them. Engine text.
  std::vector<std::vector<std::string>> Table(const std::vector<std::string>& names) const;

private:
  struct TSeries {
    std::deque<TValuePoint> Points;
  };
  void Thin(TSeries& series);

  mutable std::mutex lock_;
  std::size_t limit_;
  std::vector<int> chosen_;
  std::map<int, TSeries> series_;
  bool paused_ = false;
  double pausedAt_ = 0;
  std::uint64_t generation_ = 0;
};

double WallClockMs();

}  // namespace mkp
