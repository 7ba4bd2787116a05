// When a pane line happened: a monotonic time taken where the bytes are
// handled (the first byte of a received frame, the end of a write), its kind,
// and the form in which it is shown:
//
//   "HH:MM:SS.mmm +D.DDD "   local time of day to the millisecond, then the
//                            milliseconds since the previous line of the same
//                            pane (the first line of a pane shows +0.000)
//
// and, after the decode line of a received frame that answers the frame sent
// just before it, " (answer after N.N ms)".
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/monotime.h"

namespace mkp {

enum class TLineKind : std::uint8_t {
  Other = 0,  // errors, "Transmit error!", the workers' messages
  Sent,       // a frame written to the line
  Received,   // a frame, or a "Missing format" read, from the line
};

struct TLineStamp {
  // An address a line does not carry (addresses have 24 bits).
  static constexpr std::uint32_t NoAddress = 0xFFFFFFFF;

  TMonoTime Time{};
  TLineKind Kind = TLineKind::Other;
  // The source address of a sent frame and the destination of a received
  // one, where the line is such a frame: a received frame answers the frame
  // sent before it when it is addressed to that frame's sender.
  std::uint32_t Source = NoAddress;
  std::uint32_t Destination = NoAddress;

  static TLineStamp Now(TLineKind kind = TLineKind::Other) { return {TMonoClock::now(), kind}; }
};

// The longest wait for an answer after a write that still counts as answering
// it: the total read time-out of a frame read (2 + 2066 ms).
inline constexpr std::chrono::milliseconds AnswerWindow{2068};

// What a line shows beside its text, worked out from the line before it in
// the same pane (none for the first line).
struct TShownTime {
  TMonoTime Time{};
  double SincePreviousMs = 0;
  std::optional<double> AnswerAfterMs;  // decode pane: a received frame answering a sent one
};

// `answers`: whether the pane is one where answer latencies are shown (the
// decode pane).
TShownTime ShownTimeAfter(const TLineStamp* previous, const TLineStamp& line, bool answers);

// "14:03:07.215" in local time.
std::string LocalTimeOfDay(TMonoTime time);
// The wall-clock moment of a monotonic time, by the same mapping that
// LocalTimeOfDay uses, and back: a time read from a file maps to the
// monotonic time whose LocalTimeOfDay is that moment's.
std::chrono::system_clock::time_point WallClockOf(TMonoTime time);
TMonoTime MonoTimeOf(std::chrono::system_clock::time_point wall);
// Milliseconds of the monotonic clock (for machine-readable output).
double MonoMilliseconds(TMonoTime time);
// "14:03:07.215 +16.042 "
std::string TimePrefix(const TShownTime& shown);
// " (answer after 12.3 ms)", or empty.
std::string AnswerSuffix(const TShownTime& shown);

// The length of the time prefix at the start of a line ("14:03:07.215 +16.042 "),
// or 0 when the line does not start with one.
std::size_t TimePrefixLength(std::string_view line);

// One pane's running sequence of lines: the shown time of each new line.
// In a pane that shows answers, a received line answers the last frame sent
// when it comes within AnswerWindow of it, is the first to do so, and is
// addressed to that frame's sender (lines without addresses: when it follows
// the sent line directly), so that other stations' frames in between neither
// take nor hide the answer.
class TLineTimer {
public:
  explicit TLineTimer(bool answers = false) : answers_(answers) {}
  TShownTime Next(const TLineStamp& line);
  void Reset() {
    havePrevious_ = false;
    awaitingAnswer_ = false;
  }

private:
  bool answers_;
  bool havePrevious_ = false;
  TLineStamp previous_;
  bool awaitingAnswer_ = false;  // lastSent_ has no answer yet
  TLineStamp lastSent_;
};

}  // namespace mkp
