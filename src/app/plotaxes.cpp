#include "app/plotaxes.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace mkpt {

namespace {

// Multiples of step below and above, forgiving the rounding of the division.
double Below(double value, double step) { return std::floor(value / step + 1e-9) * step; }
double Above(double value, double step) { return std::ceil(value / step - 1e-9) * step; }

int Intervals(double from, double to, double step) { return static_cast<int>(std::lround((to - from) / step)); }

constexpr double Second = 1000, Minute = 60 * Second, Hour = 60 * Minute, Day = 24 * Hour;

}  // namespace

TAxisRange ValueAxisRange(double low, double high, int maxIntervals) {
  maxIntervals = std::max(maxIntervals, 1);
  if (!(low <= high) || !std::isfinite(low) || !std::isfinite(high)) return {0, 1, 0.2, 6};  // no data
  const bool noneBelowZero = low >= 0, noneAboveZero = high <= 0;
  double margin = (high - low) * 0.05;
  if (margin == 0) margin = low == 0 ? 1 : std::abs(low) * 0.05;  // one value: a range of its size
  double from = low - margin, to = high + margin;
  if (noneBelowZero) from = std::max(from, 0.0);
  if (noneAboveZero) to = std::min(to, 0.0);
  if (to <= from) to = from + 1;  // all values zero
  const double raw = (to - from) / maxIntervals;
  double step = std::pow(10.0, std::floor(std::log10(raw)));
  for (int factor = 0;; factor = (factor + 1) % 3) {
    if (step >= raw && Intervals(Below(from, step), Above(to, step), step) <= maxIntervals) break;
    step *= factor == 1 ? 2.5 : 2;  // 1, 2, 5, 10, ...
  }
  TAxisRange range;
  range.Step = step;
  range.From = Below(from, step);
  range.To = Above(to, step);
  if (range.To <= range.From) range.To = range.From + step;
  range.Ticks = Intervals(range.From, range.To, step) + 1;
  return range;
}

TAxisRange TimeAxisRange(double fromMs, double toMs, double utcOffsetMs, int maxIntervals) {
  maxIntervals = std::max(maxIntervals, 1);
  if (!(toMs > fromMs)) toMs = fromMs + Second;
  TAxisRange range;
  auto fits = [&](double step) {
    range.Step = step;
    range.From = Below(fromMs + utcOffsetMs, step) - utcOffsetMs;
    range.To = Above(toMs + utcOffsetMs, step) - utcOffsetMs;
    if (range.To <= range.From) range.To = range.From + step;
    range.Ticks = Intervals(range.From, range.To, step) + 1;
    return range.Ticks - 1 <= maxIntervals;
  };
  for (double step : {Second, 2 * Second, 5 * Second, 10 * Second, 15 * Second, 30 * Second, Minute, 2 * Minute,
                      5 * Minute, 10 * Minute, 15 * Minute, 30 * Minute, Hour, 2 * Hour, 3 * Hour, 6 * Hour,
                      12 * Hour})
    if (fits(step)) return range;
  for (double days = 1;; days *= 2)
    if (fits(days * Day)) return range;
}

std::string TimeAxisFormat(const TAxisRange& range) {
  if (range.To - range.From > Day) return "dd.MM HH:mm";
  return range.Step < Minute ? "HH:mm:ss" : "HH:mm";
}

}  // namespace mkpt
