#include "modes/replay.h"

#include <optional>

#include "analysis/parser.h"
#include "modes/logfile.h"
#include "protocol/transport.h"

namespace mkp {

std::string TCaptureReplay::Error() const {
  std::lock_guard lk(errorLock_);
  return error_;
}

bool TCaptureReplay::Selected(const TCapturedFrame& frame) const {
  switch (options_.Direction) {
    case TReplayDirection::In:
      return frame.Received();
    case TReplayDirection::Out:
      return !frame.Received();
    case TReplayDirection::All:
      break;
  }
  return true;
}

bool TCaptureReplay::WaitUntil(TMonoTime due) {
  for (;;) {
    const auto now = TMonoClock::now();
    if (now >= due) return !Terminated();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now);
    if (!SleepFor(left)) return false;
  }
}

void TCaptureReplay::Execute() {
  if (transport_ == nullptr || parser_ == nullptr) return;
  const double speed = options_.Speed > 0 ? options_.Speed : 1.0;
  auto scaled = [speed](TWallTime::duration gap) {
    if (gap.count() < 0) gap = TWallTime::duration::zero();
    return std::chrono::duration_cast<TMonoClock::duration>(std::chrono::duration<double, std::nano>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(gap).count() / speed));
  };
  std::optional<TMonoClock::duration> roundPause;
  TMonoTime nextRound = TMonoClock::now();
  TCapturedFrame frame;
  for (;;) {
    TCaptureReader reader;
    if (!reader.Open(capture_)) {
      std::lock_guard lk(errorLock_);
      error_ = reader.Error();
      return;
    }
    std::optional<TWallTime> first;
    std::optional<TWallTime> second;
    TMonoTime start = nextRound;
    std::uint64_t roundFrames = 0;
    TMonoTime lastWrite = start;
    for (;;) {
      const TCaptureReader::TStep step = reader.Next(frame);
      if (step == TCaptureReader::TStep::End) break;
      if (step == TCaptureReader::TStep::Failed) {
        std::lock_guard lk(errorLock_);
        error_ = reader.Error();
        break;
      }
      if (!Selected(frame)) continue;
      if (!first) first = frame.Time;
      else if (!second) second = frame.Time;
      if (!WaitUntil(start + scaled(frame.Time - *first))) return;
      const TFrameTexts texts = FrameLineTexts(frame.Bytes.data(), frame.Bytes.size(), true, "-> ", *parser_);
      if (transport_->SendRaw(frame.Bytes.data(), frame.Bytes.size(), texts.Terminal, texts.Decode, &lastWrite)) {
        ++written_;
      } else {
        ++failures_;
        transport_->AddTerminalLine("-> Transmit error!");
        transport_->AddDecodeLine("-> Transmit error!");
        lastWrite = TMonoClock::now();
      }
      ++roundFrames;
      if (!SafePoint()) return;
    }
    if (!options_.Loop || roundFrames == 0 || !Error().empty()) return;
    if (!roundPause)
      roundPause = second ? scaled(*second - *first) : std::chrono::duration_cast<TMonoClock::duration>(RoundPause);
    nextRound = lastWrite + *roundPause;
  }
}

}  // namespace mkp
