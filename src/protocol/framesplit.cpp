#include "protocol/framesplit.h"

#include "protocol/packet.h"

namespace mkp {

namespace {

std::uint32_t StoredChecksum(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace

TFrameStart FrameStartAt(const std::uint8_t* bytes, std::size_t count, std::size_t& length) {
  constexpr std::size_t HeaderSize = 14;
  if (count < 10) return TFrameStart::More;
  const std::size_t dataLength = bytes[8] + bytes[9] * 256u;
  if (dataLength > static_cast<std::size_t>(MaxDataLen)) return TFrameStart::None;
  if (count < HeaderSize) return TFrameStart::More;
  if (ComputeChecksum(bytes, static_cast<long>(HeaderSize), 0, 10) != StoredChecksum(bytes + 10))
    return TFrameStart::None;
  const std::size_t need = dataLength == 0 ? HeaderSize : dataLength + 18;
  if (count < need) return TFrameStart::More;
  if (dataLength > 0 && ComputeChecksum(bytes, static_cast<long>(need), static_cast<long>(HeaderSize),
                                        static_cast<long>(dataLength)) != StoredChecksum(bytes + HeaderSize + dataLength))
    return TFrameStart::None;
  length = need;
  return TFrameStart::Frame;
}

void TFrameSplitter::Feed(const std::uint8_t* bytes, std::size_t count, TMonoTime arrived) {
  if (count == 0) return;
  held_.insert(held_.end(), bytes, bytes + count);
  times_.insert(times_.end(), count, arrived);
  Scan(/*final=*/false);
}

void TFrameSplitter::Flush() { Scan(/*final=*/true); }

std::optional<TMonoTime> TFrameSplitter::HeldSince() const {
  if (times_.empty()) return std::nullopt;
  return times_.front();
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
