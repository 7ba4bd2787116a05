#include "modes/regstats.h"

#include <algorithm>
#include <cstdio>

namespace mkp {

void TRegistersStats::Reset(const std::vector<std::string>& requests) {
  std::lock_guard guard(lock_);
  rows_.assign(requests.size(), TRequestStats{});
  for (std::size_t i = 0; i < requests.size(); ++i) rows_[i].Text = requests[i];
  ++generation_;
}

void TRegistersStats::Reset() {
  std::lock_guard guard(lock_);
  for (TRequestStats& row : rows_) {
    std::string text = std::move(row.Text);
    row = TRequestStats{};
    row.Text = std::move(text);
  }
  ++generation_;
}

void TRegistersStats::Record(int request, TStepOutcome outcome, std::optional<double> responseMs) {
  std::lock_guard guard(lock_);
  if (request < 0 || static_cast<std::size_t>(request) >= rows_.size()) return;
  TRequestStats& row = rows_[static_cast<std::size_t>(request)];
  ++row.Sent;
  switch (outcome) {
    case TStepOutcome::Answered:
      ++row.Answered;
      if (responseMs) {
        const double ms = std::max(*responseMs, 0.0);
        row.LastMs = ms;
        row.MaxMs = row.MaxMs ? std::max(*row.MaxMs, ms) : ms;
        row.SumMs += ms;
        ++row.Timed;
      }
      break;
    case TStepOutcome::NoAnswer: ++row.NoAnswer; break;
    case TStepOutcome::BadFrame: ++row.BadFrame; break;
    case TStepOutcome::WrongAnswer: ++row.WrongAnswer; break;
    case TStepOutcome::WriteFailed: ++row.WriteFailed; break;
  }
}

void TRegistersStats::RecordOtherTraffic(int request, std::uint64_t frames) {
  std::lock_guard guard(lock_);
  if (request < 0 || static_cast<std::size_t>(request) >= rows_.size()) return;
  rows_[static_cast<std::size_t>(request)].OtherTraffic += frames;
}

std::vector<TRequestStats> TRegistersStats::Snapshot() const {
  std::lock_guard guard(lock_);
  return rows_;
}

TStatsTotals TRegistersStats::Totals() const {
  std::lock_guard guard(lock_);
  TStatsTotals totals;
  for (const TRequestStats& row : rows_) {
    totals.Sent += row.Sent;
    totals.Answered += row.Answered;
  }
  return totals;
}

std::uint64_t TRegistersStats::Generation() const {
  std::lock_guard guard(lock_);
  return generation_;
}

std::string StatsMsText(const std::optional<double>& ms, const char* none) {
  if (!ms) return none;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", *ms);
  return buffer;
}

std::string StatsLine(const TRequestStats& s) {
  return "sent=" + std::to_string(s.Sent) + " answered=" + std::to_string(s.Answered) +
         " no_answer=" + std::to_string(s.NoAnswer) + " bad_frame=" + std::to_string(s.BadFrame) +
         " wrong_answer=" + std::to_string(s.WrongAnswer) + " write_failed=" + std::to_string(s.WriteFailed) +
         " other_traffic=" + std::to_string(s.OtherTraffic) + " last_ms=" + StatsMsText(s.LastMs) + " mean_ms=" + StatsMsText(s.MeanMs()) +
         " max_ms=" + StatsMsText(s.MaxMs);
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string StatsJson(long long cycle, const std::vector<TRequestStats>& rows, bool final) {
  std::string out = "{\"cycle\":" + std::to_string(cycle) + (final ? ",\"final\":true" : "") + ",\"requests\":[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TRequestStats& s = rows[i];
    if (i > 0) out += ',';
    out += "{\"request\":" + std::to_string(i + 1) + ",\"text\":" + JsonString(s.Text) +
           ",\"sent\":" + std::to_string(s.Sent) + ",\"answered\":" + std::to_string(s.Answered) +
           ",\"no_answer\":" + std::to_string(s.NoAnswer) + ",\"bad_frame\":" + std::to_string(s.BadFrame) +
           ",\"wrong_answer\":" + std::to_string(s.WrongAnswer) +
           ",\"write_failed\":" + std::to_string(s.WriteFailed) +
           ",\"other_traffic\":" + std::to_string(s.OtherTraffic) + ",\"last_ms\":" + StatsMsText(s.LastMs, "null") +
           ",\"mean_ms\":" + StatsMsText(s.MeanMs(), "null") + ",\"max_ms\":" + StatsMsText(s.MaxMs, "null") + "}";
  }
  return out + "]}";
}

}  // namespace mkp
