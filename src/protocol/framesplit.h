// TFrameSplitter: cuts the bytes a listener reads from a busy bus into frames.
//
// Frames may follow each other with no silence between them, and one read may
// hold several, or end inside one. From the start of the bytes held:
//   - a header whose checksum is right and whose length fits starts a frame;
//     the frame is taken once all its bytes and a right data checksum are
//     there (a wrong data checksum: the header started no frame after all);
//   - bytes that start no frame are gathered into one piece of "bad" bytes, up
//     to the next frame start (or FrameBufferSize bytes at most);
//   - bytes at the end that may still become a frame (fewer than a header, or
//     a header waiting for the rest of its frame) are held for the next read.
// When the line falls silent (Flush), what is held is settled: frames found in
// it are taken, the rest becomes bad bytes.
//
// Each piece carries the time its first byte arrived (the time of the read
// that brought it). Not thread-safe: one reader feeds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/packet.h"
#include "serial/line.h"
#include "serial/monotime.h"

namespace mkp {

struct TBusPiece {
  bool Good = false;                // a whole frame; false: bytes that formed none
  std::vector<std::uint8_t> Bytes;  // the frame, or the bad bytes
  TMonoTime FirstByte{};
};

class TFrameSplitter {
public:
  // Bytes that arrived at the given time, in order after those fed before.
  void Feed(const std::uint8_t* bytes, std::size_t count, TMonoTime arrived);
  // The bytes of a read from `fed` up to `count`, each run with the time it
  // arrived as the line reported it (arrivals; without them: now); `fed`
  // moves on to count.
  void FeedRead(const std::uint8_t* bytes, std::size_t& fed, std::size_t count,
                const std::vector<TSerialLine::TArrival>& arrivals);
  // The line fell silent: nothing more belongs to the bytes held.
  void Flush();
  // Whether the bytes held may still become a frame (a read should ride out a
  // short silence of the line rather than end).
  bool Unfinished() const { return held_.size() > scanned_; }
  // The arrival of the oldest byte held, if any: no piece still to come from
  // this splitter starts earlier.
  std::optional<TMonoTime> HeldSince() const;
  // The arrival of the newest byte held, if any.
  std::optional<TMonoTime> HeldUntil() const;
  // The pieces complete so far, oldest first.
  std::vector<TBusPiece> Take();
  bool HasPieces() const { return !pieces_.empty(); }

private:
  // Settles as much of the held bytes as can be; with `final`, all of them.
  void Scan(bool final);
  void Emit(bool good, std::size_t from, std::size_t to);

  std::vector<std::uint8_t> held_;
  std::vector<TMonoTime> times_;  // arrival of each held byte
  std::size_t scanned_ = 0;       // held bytes known to start no frame
  std::vector<TBusPiece> pieces_;
};

}  // namespace mkp
