#include "protocol/framesplit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <vector>

#include "modes/monitor.h"
#include "protocol/packet.h"

namespace {

using namespace mkp;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t command, Bytes data) {
  TPacketHolder p;
  p->DstAddr = MakeVorelAddr(0x0A, 0x0B, 0x0C);
  p->SrcAddr = MakeVorelAddr(0x01, 0x02, 0x03);
  p->Command = command;
  p->DataType = 5;
  p->DataLen = static_cast<std::int32_t>(data.size());
  std::copy(data.begin(), data.end(), p->Data.get());
  Bytes frame(FrameBufferSize);
  int length = 0;
  EXPECT_TRUE(BuildFrame(*p, frame.data(), length));
  frame.resize(static_cast<std::size_t>(length));
  return frame;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const TMonoTime T0 = TMonoClock::now();

struct TSplit {
  TFrameSplitter splitter;
  std::vector<TBusPiece> pieces;
  void Feed(const Bytes& bytes, TMonoTime at = T0) {
    splitter.Feed(bytes.data(), bytes.size(), at);
    Collect();
  }
  void Flush() {
    splitter.Flush();
    Collect();
  }
  void Collect() {
    for (auto& piece : splitter.Take()) pieces.push_back(std::move(piece));
  }
};

TEST(FrameSplitterTest, FramesBackToBackInOneReadComeApart) {
  const Bytes a = Frame(6, {0x05}), b = Frame(7, {0x01, 0xE8, 0x03}), c = Frame(4, {});
  TSplit s;
  s.Feed(Join({a, b, c}));
  ASSERT_EQ(s.pieces.size(), 3u);  // all complete: nothing waits for the silence
  EXPECT_EQ(s.pieces[0].Bytes, a);
  EXPECT_EQ(s.pieces[1].Bytes, b);
  EXPECT_EQ(s.pieces[2].Bytes, c);
  for (const auto& piece : s.pieces) EXPECT_TRUE(piece.Good);
  EXPECT_FALSE(s.splitter.Unfinished());
}

TEST(FrameSplitterTest, AFrameCutByTheEndOfAReadIsCompletedByTheNext) {
  const Bytes a = Frame(7, {1, 2, 3, 4, 5, 6}), b = Frame(6, {9});
  const Bytes all = Join({a, b});
  for (std::size_t cut : {std::size_t{3}, std::size_t{10}, std::size_t{13}, std::size_t{14}, a.size() - 1,
                          a.size() + 5}) {
    TSplit s;
    s.Feed(Bytes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(cut)), T0);
    EXPECT_TRUE(s.splitter.Unfinished()) << cut;
    s.Feed(Bytes(all.begin() + static_cast<std::ptrdiff_t>(cut), all.end()), T0 + 5ms);
    ASSERT_EQ(s.pieces.size(), 2u) << cut;
    EXPECT_EQ(s.pieces[0].Bytes, a);
    EXPECT_EQ(s.pieces[1].Bytes, b);
    // Each frame carries the time its first byte came.
    EXPECT_EQ(s.pieces[0].FirstByte, T0);
    EXPECT_EQ(s.pieces[1].FirstByte, cut > a.size() ? T0 : T0 + 5ms) << cut;
  }
}

TEST(FrameSplitterTest, GarbageBetweenFramesIsOneBadPiece) {
  const Bytes a = Frame(6, {0x05}), b = Frame(7, {0x01});
  const Bytes noise = {0xFF, 0x00, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  TSplit s;
  s.Feed(Join({a, noise, b}));
  ASSERT_EQ(s.pieces.size(), 3u);
  EXPECT_TRUE(s.pieces[0].Good);
  EXPECT_FALSE(s.pieces[1].Good);
  EXPECT_EQ(s.pieces[1].Bytes, noise);
  EXPECT_EQ(s.pieces[2].Bytes, b);
}

TEST(FrameSplitterTest, GarbageThenAFrameInOneReadAndGarbageAtTheEndWaitsForTheSilence) {
  const Bytes a = Frame(6, {0x05});
  TSplit s;
  s.Feed(Join({{0x01, 0x02, 0x03}, a, {0xAA, 0xBB}}));
  ASSERT_EQ(s.pieces.size(), 2u);
  EXPECT_EQ(s.pieces[0].Bytes, (Bytes{0x01, 0x02, 0x03}));
  EXPECT_EQ(s.pieces[1].Bytes, a);
  // Two bytes could still start a frame: held until the line falls silent.
  EXPECT_TRUE(s.splitter.Unfinished());
  ASSERT_TRUE(s.splitter.HeldSince().has_value());
  s.Flush();
  ASSERT_EQ(s.pieces.size(), 3u);
  EXPECT_FALSE(s.pieces[2].Good);
  EXPECT_EQ(s.pieces[2].Bytes, (Bytes{0xAA, 0xBB}));
  EXPECT_FALSE(s.splitter.HeldSince().has_value());
}

TEST(FrameSplitterTest, ATruncatedFrameBeforeAWholeOneGivesBadBytesThenTheFrame) {
  // The first frame lost its tail: its header announces more bytes than come
  // before the next frame, which must still be found inside them.
  const Bytes cut = Frame(7, Bytes(40, 0x5A)), b = Frame(6, {0x05});
  const Bytes truncated(cut.begin(), cut.begin() + 20);
  TSplit s;
  s.Feed(Join({truncated, b}));
  EXPECT_TRUE(s.pieces.empty());  // it may still be the first frame's data
  s.Flush();                      // the line fell silent
  ASSERT_EQ(s.pieces.size(), 2u);
  EXPECT_EQ(s.pieces[0].Bytes, truncated);
  EXPECT_FALSE(s.pieces[0].Good);
  EXPECT_EQ(s.pieces[1].Bytes, b);
  EXPECT_TRUE(s.pieces[1].Good);
}

TEST(FrameSplitterTest, AWrongDataChecksumStartsNoFrameAndAnOverlongRunOfNoiseIsCut) {
  Bytes broken = Frame(7, {1, 2, 3});
  broken.back() ^= 0xFF;
  const Bytes good = Frame(6, {5});
  TSplit s;
  s.Feed(Join({broken, good}));
  ASSERT_EQ(s.pieces.size(), 2u);
  EXPECT_EQ(s.pieces[0].Bytes, broken);
  EXPECT_FALSE(s.pieces[0].Good);
  EXPECT_EQ(s.pieces[1].Bytes, good);

  TSplit noise;
  noise.Feed(Bytes(5000, 0xFF));  // a length field of 0xFFFF: never a frame
  noise.Flush();
  std::size_t total = 0;
  for (const auto& piece : noise.pieces) {
    EXPECT_FALSE(piece.Good);
    EXPECT_LE(piece.Bytes.size(), static_cast<std::size_t>(FrameBufferSize));
    total += piece.Bytes.size();
  }
  EXPECT_EQ(total, 5000u);
}

TEST(FrameSplitterTest, RandomChunksOfFramesBackToBackLoseAndMergeNothing) {
  std::mt19937 random(7);
  std::vector<Bytes> frames;
  Bytes stream;
  for (int i = 0; i < 300; ++i) {
    Bytes data(random() % 300);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    frames.push_back(Frame(static_cast<std::uint8_t>(random()), data));
    stream.insert(stream.end(), frames.back().begin(), frames.back().end());
  }
  TSplit s;
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t n = std::min<std::size_t>(1 + random() % 700, stream.size() - at);
    s.Feed(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.begin() + static_cast<std::ptrdiff_t>(at + n)));
    at += n;
  }
  s.Flush();
  ASSERT_EQ(s.pieces.size(), frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_TRUE(s.pieces[i].Good) << i;
    EXPECT_EQ(s.pieces[i].Bytes, frames[i]) << i;
  }
}

TEST(PieceMergerTest, TwoPortsComeOutInTimeOrderOnceTheOtherPortHasGotPast) {
  TPieceMerger merger(2);
  auto piece = [](int ms) {
    TBusPiece p;
    p.Good = true;
    p.FirstByte = T0 + std::chrono::milliseconds(ms);
    return p;
  };
  merger.Add(1, piece(10));
  merger.Add(1, piece(30));
  // Port 2 has said nothing yet: it may still bring something earlier.
  EXPECT_TRUE(merger.TakeReady().empty());
  merger.Add(2, piece(20));
  merger.SetWatermark(2, T0 + 25ms);
  auto ready = merger.TakeReady();
  ASSERT_EQ(ready.size(), 2u);  // 10 (port 1), 20 (port 2); 30 waits for port 2
  EXPECT_EQ(ready[0].Port, 1);
  EXPECT_EQ(ready[1].Port, 2);
  EXPECT_EQ(ready[1].Piece.FirstByte, T0 + 20ms);
  merger.SetWatermark(2, T0 + 40ms);
  ready = merger.TakeReady();
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].Piece.FirstByte, T0 + 30ms);
  // A watermark never goes back, and at the end everything comes out in order.
  merger.SetWatermark(2, T0);
  merger.Add(2, piece(50));
  merger.Add(1, piece(45));
  ready = merger.TakeAll();
  ASSERT_EQ(ready.size(), 2u);
  EXPECT_EQ(ready[0].Port, 1);
  EXPECT_EQ(ready[1].Port, 2);
  EXPECT_TRUE(merger.Empty());
}

}  // namespace
