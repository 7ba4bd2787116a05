// How well a polled device answers: per request of the device description,
// how often it was sent and how each exchange ended, and the response times
// of the accepted answers (from the end of the request's write to the first
// byte of the answer).
//
// The registers automaton feeds it from its thread; the window and mkptool
// read snapshots from theirs, so the window and mkptool show the same figures.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace mkp {

// How one sent request ended; every sent request ends in exactly one.
enum class TStepOutcome : std::uint8_t {
  Answered,     // an answer was accepted
  NoAnswer,     // nothing arrived within the wait
  BadFrame,     // bytes arrived but formed no frame ("Missing format")
  WrongAnswer,  // a frame arrived that the automaton refused
  WriteFailed,  // the request could not be written ("Transmit error!")
};

struct TRequestStats {
  std::string Text;  // the request's packet text, as the description gives it
  std::uint64_t Sent = 0;
  std::uint64_t Answered = 0;
  std::uint64_t NoAnswer = 0;
  std::uint64_t BadFrame = 0;
  std::uint64_t WrongAnswer = 0;
  std::uint64_t WriteFailed = 0;
  // Frames of other stations seen while this request's answer was awaited
  // (passed over, not counted as an outcome).
  std::uint64_t OtherTraffic = 0;
  // Response times of accepted answers, milliseconds; none before the first.
  std::optional<double> LastMs;
  std::optional<double> MaxMs;
  double SumMs = 0;
  std::uint64_t Timed = 0;  // accepted answers with a response time
  std::optional<double> MeanMs() const {
    if (Timed == 0) return std::nullopt;
    return SumMs / static_cast<double>(Timed);
  }
};

struct TStatsTotals {
  std::uint64_t Sent = 0;
  std::uint64_t Answered = 0;
};

class TRegistersStats {
public:
  // Every counter back to zero, one row per request text (in order).
  void Reset(const std::vector<std::string>& requests);
  // Every counter back to zero; the requests stay.
  void Reset();

  // One sent request (index from 0) and how it ended; responseMs only for an
  // accepted answer whose first byte was seen. Indices outside the list are
  // passed over.
  void Record(int request, TStepOutcome outcome, std::optional<double> responseMs = std::nullopt);

  // Frames of other stations seen while the request's answer was awaited.
  void RecordOtherTraffic(int request, std::uint64_t frames);

  std::vector<TRequestStats> Snapshot() const;
  TStatsTotals Totals() const;
  // Changes with every Reset, so a view knows to rebuild its rows.
  std::uint64_t Generation() const;

private:
  mutable std::mutex lock_;
  std::vector<TRequestStats> rows_;
  std::uint64_t generation_ = 0;
};

// "12.3", or "-" for none.
std::string StatsMsText(const std::optional<double>& ms, const char* none = "-");
// "sent=N answered=N no_answer=N bad_frame=N wrong_answer=N write_failed=N
// other_traffic=N last_ms=X mean_ms=X max_ms=X", times "-" when nothing was accepted.
std::string StatsLine(const TRequestStats& stats);
// {"cycle":N,"requests":[{"request":1,"text":"...","sent":N,...},...]}, times
// null when nothing was accepted. Texts are taken as UTF-8.
// The object printed at the end, after the last full cycle, has
// "final":true after the cycle number: its figures may include an unfinished
// cycle.
std::string StatsJson(long long cycle, const std::vector<TRequestStats>& rows, bool final = false);
// A JSON string of the text (quotes, backslashes and control characters
// escaped; other bytes as they are).
std::string JsonString(const std::string& text);

}  // namespace mkp
