#include "modes/valuehistory.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <set>

#include "text/csv.h"
#include "text/textcut.h"

namespace mkp {

double WallClockMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TValueHistory::TValueHistory(std::size_t limit) : limit_(std::max<std::size_t>(limit, 8)) {}

std::optional<double> TValueHistory::NumericValue(const std::string& text) {
  std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return std::nullopt;
  const std::size_t end = text.find_last_not_of(' ') + 1;
  const std::string word = text.substr(begin, end - begin);
  // Digits, one sign, one point and an exponent only: no hexadecimal, no
  // "inf" or "nan", nothing locale-dependent.
  if (word.find_first_not_of("0123456789+-.eE") != std::string::npos) return std::nullopt;
  if (word.find_first_of("0123456789") == std::string::npos) return std::nullopt;
  char* stop = nullptr;
  const double value = std::strtod(word.c_str(), &stop);
  if (stop != word.c_str() + word.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

bool TValueHistory::Choose(int row, bool chosen) {
  std::lock_guard guard(lock_);
  const auto found = std::find(chosen_.begin(), chosen_.end(), row);
  if (chosen) {
    if (found != chosen_.end()) return true;
    if (static_cast<int>(chosen_.size()) >= MaxSeries) return false;
    chosen_.push_back(row);
    series_[row];
  } else {
    if (found == chosen_.end()) return true;
    chosen_.erase(found);
    series_.erase(row);
  }
  ++generation_;
  return true;
}

bool TValueHistory::IsChosen(int row) const {
  std::lock_guard guard(lock_);
  return std::find(chosen_.begin(), chosen_.end(), row) != chosen_.end();
}

std::vector<int> TValueHistory::Chosen() const {
  std::lock_guard guard(lock_);
  return chosen_;
}

void TValueHistory::Clear() {
  std::lock_guard guard(lock_);
  chosen_.clear();
  series_.clear();
  ++generation_;
}

void TValueHistory::Thin(TSeries& series) {
  // Every second point of the older half goes; the newer half stays whole.
  std::deque<TValuePoint>& points = series.Points;
  const std::size_t older = points.size() / 2;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < older; i += 2) points[kept++] = std::move(points[i]);
  points.erase(points.begin() + static_cast<std::ptrdiff_t>(kept), points.begin() + static_cast<std::ptrdiff_t>(older));
}

void TValueHistory::Add(int row, const std::string& text, double timeMs, std::uint64_t cycle) {
  std::lock_guard guard(lock_);
  const auto found = series_.find(row);
  if (found == series_.end()) return;
  const auto value = NumericValue(text);
  if (!value) return;
  TSeries& series = found->second;
  series.Points.push_back({timeMs, *value, cycle, text});
  if (series.Points.size() >= limit_) Thin(series);
  ++generation_;
}

std::size_t TValueHistory::Count(int row) const {
  std::lock_guard guard(lock_);
  const auto found = series_.find(row);
  return found == series_.end() ? 0 : found->second.Points.size();
}

std::vector<TValuePoint> TValueHistory::Points(int row) const {
  std::lock_guard guard(lock_);
  const auto found = series_.find(row);
  if (found == series_.end()) return {};
  return {found->second.Points.begin(), found->second.Points.end()};
}

void TValueHistory::SetPaused(bool paused, double nowMs) {
  std::lock_guard guard(lock_);
  if (paused && !paused_) pausedAt_ = nowMs;
  paused_ = paused;
  ++generation_;
}

bool TValueHistory::Paused() const {
  std::lock_guard guard(lock_);
  return paused_;
}

std::pair<double, double> TValueHistory::VisibleRange(double spanMs, double nowMs) const {
  std::lock_guard guard(lock_);
  const double to = paused_ ? pausedAt_ : nowMs;
  if (spanMs > 0) return {to - spanMs, to};
  double from = to;
  for (const auto& [row, series] : series_) {
    if (!series.Points.empty()) from = std::min(from, series.Points.front().TimeMs);
  }
  return {from, to};
}

std::vector<TPlotPoint> TValueHistory::Visible(int row, double from, double to, std::size_t maxPoints) const {
  std::lock_guard guard(lock_);
  std::vector<TPlotPoint> out;
  const auto found = series_.find(row);
  if (found == series_.end() || maxPoints == 0 || !(from <= to)) return out;  // an empty span shows nothing
  const std::deque<TValuePoint>& points = found->second.Points;
  auto first = std::lower_bound(points.begin(), points.end(), from,
                                [](const TValuePoint& p, double t) { return p.TimeMs < t; });
  auto last = std::upper_bound(points.begin(), points.end(), to,
                               [](double t, const TValuePoint& p) { return t < p.TimeMs; });
  if (first != points.begin()) --first;
  if (last != points.end()) ++last;
  const std::size_t count = static_cast<std::size_t>(last - first);
  if (count == 0) return out;
  const std::size_t step = (count + maxPoints - 1) / maxPoints;
  out.reserve(count / step + 2);
  for (std::size_t i = 0; i < count; i += step) out.push_back({first[i].TimeMs, first[i].Value});
  if ((count - 1) % step != 0) out.push_back({first[count - 1].TimeMs, first[count - 1].Value});
  return out;
}

std::uint64_t TValueHistory::Generation() const {
  std::lock_guard guard(lock_);
  return generation_;
}

std::vector<std::vector<std::string>> TValueHistory::Table(const std::vector<std::string>& names) const {
  std::lock_guard guard(lock_);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> header{"time"};
  for (const int row : chosen_) {
    header.push_back(row >= 1 && static_cast<std::size_t>(row) <= names.size() ? names[row - 1]
                                                                                : std::to_string(row));
  }
  rows.push_back(std::move(header));
  // One row per cycle, at the time of the last value read in it.
  struct TCycleRow {
    double TimeMs = 0;
    std::vector<std::string> Values;
  };
  std::map<std::uint64_t, TCycleRow> cycles;
  for (std::size_t c = 0; c < chosen_.size(); ++c) {
    const auto found = series_.find(chosen_[c]);
    if (found == series_.end()) continue;
    for (const TValuePoint& point : found->second.Points) {
      TCycleRow& row = cycles[point.Cycle];
      row.Values.resize(chosen_.size());
      row.Values[c] = Trim(point.Text);  // a cell holds the value, not the pane's padding
      row.TimeMs = std::max(row.TimeMs, point.TimeMs);
    }
  }
  for (auto& [cycle, row] : cycles) {
    std::vector<std::string> line{LocalIsoTime(row.TimeMs)};
    line.insert(line.end(), row.Values.begin(), row.Values.end());
    rows.push_back(std::move(line));
  }
  return rows;
}

}  // namespace mkp
