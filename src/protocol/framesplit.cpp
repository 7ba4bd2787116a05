#include "protocol/framesplit.h"

#include <algorithm>

#include "protocol/packet.h"

namespace mkp {

void TFrameSplitter::Feed(const std::uint8_t* bytes, std::size_t count, TMonoTime arrived) {
  if (count == 0) return;
  held_.insert(held_.end(), bytes, bytes + count);
  times_.insert(times_.end(), count, arrived);
  Scan(/*final=*/false);
}

void TFrameSplitter::FeedRead(const std::uint8_t* bytes, std::size_t& fed, std::size_t count,
                              const std::vector<TSerialLine::TArrival>& arrivals) {
  for (std::size_t a = 0; a < arrivals.size() && fed < count; ++a) {
    const std::size_t end = a + 1 < arrivals.size() ? std::min(arrivals[a + 1].Offset, count) : count;
    if (end <= fed) continue;
    Feed(bytes + fed, end - fed, arrivals[a].Time);
    fed = end;
  }
  if (count > fed) {
    Feed(bytes + fed, count - fed, TMonoClock::now());
    fed = count;
  }
}

void TFrameSplitter::Flush() { Scan(/*final=*/true); }

std::optional<TMonoTime> TFrameSplitter::HeldSince() const {
  if (times_.empty()) return std::nullopt;
  return times_.front();
}

std::optional<TMonoTime> TFrameSplitter::HeldUntil() const {
  if (times_.empty()) return std::nullopt;
  return times_.back();
}

std::vector<TBusPiece> TFrameSplitter::Take() {
  std::vector<TBusPiece> taken;
  taken.swap(pieces_);
  return taken;
}

void TFrameSplitter::Emit(bool good, std::size_t from, std::size_t to) {
  TBusPiece piece;
  piece.Good = good;
  piece.Bytes.assign(held_.begin() + static_cast<std::ptrdiff_t>(from), held_.begin() + static_cast<std::ptrdiff_t>(to));
  piece.FirstByte = times_[from];
  pieces_.push_back(std::move(piece));
}

void TFrameSplitter::Scan(bool final) {
  const std::size_t n = held_.size();
  std::size_t base = 0;  // the first byte not yet part of a piece
  std::size_t pos = scanned_;
  while (pos < n) {
    std::size_t length = 0;
    const TFrameStart start = FrameStartAt(held_.data() + pos, n - pos, length);
    if (start == TFrameStart::More && !final) break;
    if (start == TFrameStart::Frame) {
      if (pos > base) Emit(false, base, pos);
      Emit(true, pos, pos + length);
      pos += length;
      base = pos;
      continue;
    }
    ++pos;  // no frame starts here (or none can, the line being silent)
    if (pos - base >= static_cast<std::size_t>(FrameBufferSize)) {
      Emit(false, base, pos);
      base = pos;
    }
  }
  if (final && pos > base) {
    Emit(false, base, pos);
    base = pos;
  }
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(base));
  times_.erase(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(base));
  scanned_ = pos - base;
}

}  // namespace mkp
