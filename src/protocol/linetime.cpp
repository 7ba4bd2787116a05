#include "protocol/linetime.h"

#include "protocol/panes.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace mkp {

namespace {

// The wall clock as it stood against the monotonic one when the program first
// needed it: every line maps to the time of day by the same offset, so the
// times shown and the differences between them agree.
struct TClockAnchor {
  TMonoTime Mono = TMonoClock::now();
  std::chrono::system_clock::time_point Wall = std::chrono::system_clock::now();
};

const TClockAnchor& Anchor() {
  static const TClockAnchor anchor;
  return anchor;
}

// Fixed decimals, "." whatever the locale.
std::string Fixed(double value, int decimals) {
  char text[40];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
  return std::string(text, end);
}

}  // namespace

TShownTime ShownTimeAfter(const TLineStamp* previous, const TLineStamp& line, bool answers) {
  TShownTime shown;
  shown.Time = line.Time;
  if (previous == nullptr) return shown;
  shown.SincePreviousMs = std::chrono::duration<double, std::milli>(line.Time - previous->Time).count();
  if (answers && line.Kind == TLineKind::Received && previous->Kind == TLineKind::Sent && line.Time >= previous->Time &&
      line.Time - previous->Time <= AnswerWindow)
    shown.AnswerAfterMs = shown.SincePreviousMs;
  return shown;
}

std::chrono::system_clock::time_point WallClockOf(TMonoTime time) {
  return Anchor().Wall + std::chrono::duration_cast<std::chrono::system_clock::duration>(time - Anchor().Mono);
}

TMonoTime MonoTimeOf(std::chrono::system_clock::time_point wall) {
  return Anchor().Mono + std::chrono::duration_cast<TMonoClock::duration>(wall - Anchor().Wall);
}

std::string LocalTimeOfDay(TMonoTime time) {
  const auto wall = WallClockOf(time);
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(wall.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  const int milli = static_cast<int>(ms - static_cast<long long>(seconds) * 1000);
  // The conversion to local time is the dear part; lines come many to a second.
  thread_local std::time_t cachedSecond = -1;
  thread_local char cachedText[16] = {};
  if (seconds != cachedSecond) {
    std::tm local{};
    localtime_r(&seconds, &local);
    std::snprintf(cachedText, sizeof cachedText, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    cachedSecond = seconds;
  }
  char text[24];
  std::snprintf(text, sizeof text, "%s.%03d", cachedText, milli);
  return text;
}

double MonoMilliseconds(TMonoTime time) {
  return std::chrono::duration<double, std::milli>(time.time_since_epoch()).count();
}

std::string TimePrefix(const TShownTime& shown) {
  std::string prefix = LocalTimeOfDay(shown.Time);
  prefix += " +";
  prefix += Fixed(shown.SincePreviousMs < 0 ? 0.0 : shown.SincePreviousMs, 3);
  prefix += ' ';
  return prefix;
}

std::string AnswerSuffix(const TShownTime& shown) {
  if (!shown.AnswerAfterMs) return {};
  return " (answer after " + Fixed(*shown.AnswerAfterMs, 1) + " ms)";
}

std::size_t TimePrefixLength(std::string_view line) {
  auto digits = [&](std::size_t at, std::size_t count) {
    if (at + count > line.size()) return false;
    for (std::size_t i = at; i < at + count; ++i)
      if (line[i] < '0' || line[i] > '9') return false;
    return true;
  };
  // HH:MM:SS.mmm
  if (!digits(0, 2) || line.size() < 14 || line[2] != ':' || !digits(3, 2) || line[5] != ':' || !digits(6, 2) ||
      line[8] != '.' || !digits(9, 3) || line[12] != ' ' || line[13] != '+')
    return 0;
  // +D.DDD and a blank
  std::size_t at = 14;
  const std::size_t whole = at;
  while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
  if (at == whole || at >= line.size() || line[at] != '.' || !digits(at + 1, 3)) return 0;
  at += 4;
  if (at >= line.size() || line[at] != ' ') return 0;
  return at + 1;
}

TShownTime TLineTimer::Next(const TLineStamp& line) {
  TShownTime shown = ShownTimeAfter(havePrevious_ ? &previous_ : nullptr, line, /*answers=*/false);
  if (answers_ && line.Kind == TLineKind::Sent) {
    lastSent_ = line;
    awaitingAnswer_ = true;
  } else if (answers_ && line.Kind == TLineKind::Received && awaitingAnswer_ && line.Time >= lastSent_.Time &&
             line.Time - lastSent_.Time <= AnswerWindow) {
    const bool addressed = line.Destination != TLineStamp::NoAddress && lastSent_.Source != TLineStamp::NoAddress;
    const bool answers = addressed ? line.Destination == lastSent_.Source
                                   : havePrevious_ && previous_.Kind == TLineKind::Sent;
    if (answers) {
      shown.AnswerAfterMs = std::chrono::duration<double, std::milli>(line.Time - lastSent_.Time).count();
      awaitingAnswer_ = false;
    }
  }
  previous_ = line;
  havePrevious_ = true;
  return shown;
}

std::string ShownLine(const TPaneLine& line, bool withTime) {
  if (!withTime) return line.Text;
  return TimePrefix(line.Shown) + line.Text + AnswerSuffix(line.Shown);
}

}  // namespace mkp
