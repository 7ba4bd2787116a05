#include "serial/comport.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "serial/pty_pair.h"

namespace {

using mkp::TCOMPortChannel;
using mkptest::TPtyPair;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

bool OpenPty(TCOMPortChannel& ch, const TPtyPair& pty, int readInterval = 1, int writeInterval = 0) {
  return ch.OpenPort(pty.Path(), "9600", "1", "none", readInterval, writeInterval);
}

Bytes ReadChannel(TCOMPortChannel& ch, std::size_t maximum) {
  Bytes buf(maximum);
  std::size_t n = 0;
  EXPECT_TRUE(ch.ReadBytes(buf.data(), maximum, n));
  buf.resize(n);
  return buf;
}


TEST(ComPortTest, FreshChannelIsClosedAndRefusesIo) {
  TCOMPortChannel ch;
  EXPECT_EQ(ch.State(), mkp::psInvalid);
  EXPECT_EQ(ch.ReadInterval(), 1);
  EXPECT_EQ(ch.WriteInterval(), 0);
  std::uint8_t b[4] = {1, 2, 3, 4};
  std::size_t n = 4;
  EXPECT_FALSE(ch.ReadBytes(b, 4, n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(ch.State(), mkp::psInvalid);  // a refused read leaves the state
  n = 4;
  EXPECT_FALSE(ch.WriteBytes(b, n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(ch.State(), mkp::psFailed);
  EXPECT_STREQ(mkp::PortStateText(mkp::psFailed), "Last operation FAILED!");
}

TEST(ComPortTest, MissingDeviceAndUnknownNameFailToOpen) {
  TCOMPortChannel ch;
  EXPECT_FALSE(ch.OpenPort("/dev/mkpt-no-such-port", "9600", "1", "none", 1, 0));
  EXPECT_EQ(ch.State(), mkp::psInvalid);
  EXPECT_NE(ch.LastError().find("/dev/mkpt-no-such-port"), std::string::npos);
  EXPECT_EQ(ch.LastErrorBrief(), "No such device");  // short enough for a status line
  EXPECT_FALSE(ch.OpenPort("COM250", "9600", "1", "none", 1, 0));
  EXPECT_FALSE(ch.OpenPort("PORT", "9600", "1", "none", 1, 0));
  EXPECT_EQ(ch.State(), mkp::psInvalid);
  EXPECT_EQ(ch.LastErrorBrief(), "Unknown port name");
  // A file that is not a tty.
  EXPECT_FALSE(ch.OpenPort("/dev/null", "9600", "1", "none", 1, 0));
  EXPECT_EQ(ch.LastErrorBrief(), "Not a serial port");
  // Without a short form, the brief reason is the whole one.
  TPtyPair pty;
  EXPECT_FALSE(ch.OpenPort(pty.Path(), "9600", "1.5", "none", 1, 0));
  EXPECT_EQ(ch.LastErrorBrief(), ch.LastError());
  EXPECT_TRUE(ch.OpenPort(pty.Path(), "9600", "1", "none", 1, 0));
  EXPECT_EQ(ch.LastErrorBrief(), "");
}

TEST(ComPortTest, PtyOpensWithEveryParityAndStopBitsButNotOneAndAHalf) {
  TPtyPair pty;
  TCOMPortChannel ch;
  for (const char* parity : {"none", "Odd", "EVEN", "mark", "Space", "x"})
    for (const char* stop : {"1", "2"})
      EXPECT_TRUE(ch.OpenPort(pty.Path(), "9600", stop, parity, 1, 0)) << parity << " " << stop << ": "
                                                                      << ch.LastError();
  EXPECT_EQ(ch.Parity(), "X");
  EXPECT_FALSE(ch.OpenPort(pty.Path(), "9600", "1.5", "none", 1, 0));
  EXPECT_EQ(ch.State(), mkp::psInvalid);
  EXPECT_FALSE(ch.LastError().empty());
  // Speeds off the fixed table go through the kernel's free speed setting.
  for (const char* speed : {"75", "7200", "14400", " 115200 ", "250000"})
    EXPECT_TRUE(ch.OpenPort(pty.Path(), speed, "1", "none", 1, 0)) << speed << ": " << ch.LastError();
  EXPECT_EQ(ch.Speed(), "250000");
  for (const char* speed : {"abc", "", "96OO", "0", "-9600"}) {
    EXPECT_FALSE(ch.OpenPort(pty.Path(), speed, "1", "none", 1, 0)) << speed;
    EXPECT_EQ(ch.State(), mkp::psInvalid);
  }
}

TEST(ComPortTest, SecondOpenOfTheSamePortIsRefusedUntilTheFirstCloses) {
  TPtyPair pty;
  TCOMPortChannel first, second;
  ASSERT_TRUE(OpenPty(first, pty));
  EXPECT_FALSE(OpenPty(second, pty));
  EXPECT_NE(second.LastError().find("in use"), std::string::npos) << second.LastError();
  EXPECT_EQ(second.LastErrorBrief(), "Port in use by another program");
  first.ClosePort();
  EXPECT_EQ(first.State(), mkp::psInvalid);
  EXPECT_TRUE(OpenPty(second, pty)) << second.LastError();
  // Reopening by the same channel is fine: OpenPort closes first.
  EXPECT_TRUE(OpenPty(second, pty));
}

TEST(ComPortTest, OpenStartsOnAQuietLineAndDropsWhatCameBeforeIt) {
  TPtyPair pty;
  TCOMPortChannel ch;
  // On a quiet line the open waits out 2 + 255 ms for stray bytes.
  auto t0 = Clock::now();
  ASSERT_TRUE(OpenPty(ch, pty));
  EXPECT_GE(MsSince(t0), 250);
  // What the driver held before the open came at times no one knows: all of
  // it goes, however much.
  pty.Write(Bytes(300, 0x5A));
  ASSERT_TRUE(OpenPty(ch, pty));
  EXPECT_EQ(ReadChannel(ch, 300), Bytes{});
  pty.Write({1, 2, 3});
  EXPECT_EQ(ReadChannel(ch, 3), (Bytes{1, 2, 3}));
}

TEST(ComPortTest, ReadWithNothingReturnsEmptyAfterTheTotalTimeout) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty));
  auto t0 = Clock::now();
  EXPECT_TRUE(ReadChannel(ch, 100).empty());
  auto ms = MsSince(t0);
  EXPECT_GE(ms, 100);  // 2 + 100 ms
  EXPECT_LT(ms, 1000);
}

TEST(ComPortTest, ReadEndsWhenTheMaximumArrivedOrTheLineFallsSilent) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty, 20));
  pty.Write({1, 2, 3, 4, 5, 6});
  EXPECT_EQ(ReadChannel(ch, 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(ReadChannel(ch, 4), (Bytes{5, 6}));

  // A gap longer than the byte-to-byte time-out splits the bytes into two reads.
  std::thread peer([&] {
    pty.Write({0x10, 0x11, 0x12});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pty.Write({0x13, 0x14});
  });
  EXPECT_EQ(ReadChannel(ch, 2066), (Bytes{0x10, 0x11, 0x12}));
  EXPECT_EQ(ReadChannel(ch, 2066), (Bytes{0x13, 0x14}));
  peer.join();
}

TEST(ComPortTest, GapsShorterThanTheIntervalKeepOneRead) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty, 99));
  std::thread peer([&] {
    for (std::uint8_t b = 1; b <= 4; ++b) {
      pty.Write({b});
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
  });
  EXPECT_EQ(ReadChannel(ch, 2066), (Bytes{1, 2, 3, 4}));
  peer.join();
}

TEST(ComPortTest, DirectWriteReachesTheLineWhole) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty));
  Bytes data(2066);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  std::size_t n = data.size();
  EXPECT_TRUE(ch.WriteBytes(data.data(), n));
  EXPECT_EQ(n, data.size());
  EXPECT_EQ(ch.State(), mkp::psOk);
  EXPECT_EQ(pty.Read(data.size(), 2000), data);
}

TEST(ComPortTest, NullBufferFailsAndAFailedWriteBlocksReadsUntilReopened) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty));
  std::size_t n = 3;
  EXPECT_FALSE(ch.WriteBytes(nullptr, n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(ch.State(), mkp::psFailed);
  pty.Write({9});
  std::uint8_t buf[8];
  EXPECT_FALSE(ch.ReadBytes(buf, 8, n));
  EXPECT_EQ(n, 0u);
  ASSERT_TRUE(OpenPty(ch, pty));
  EXPECT_EQ(ch.State(), mkp::psOk);
}

TEST(ComPortTest, VanishingPeerFailsWritesAndReadsWithoutHanging) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty));
  pty.Write({7, 8});
  pty.CloseMaster();
  auto t0 = Clock::now();
  std::uint8_t buf[16];
  std::size_t n = 0;
  // What arrived before the hang-up may still be handed over; then reads fail.
  bool first = ch.ReadBytes(buf, 16, n);
  if (first && n > 0) first = ch.ReadBytes(buf, 16, n);
  EXPECT_FALSE(first);
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(ch.PortLost());
  std::uint8_t out[3] = {1, 2, 3};
  n = 3;
  EXPECT_FALSE(ch.WriteBytes(out, n));
  EXPECT_EQ(ch.State(), mkp::psFailed);
  EXPECT_LT(MsSince(t0), 3000);
}

TEST(ComPortThreadTest, PacedWriteReturnsAtOnceAndSendsInOrder) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty, 1, 60));
  const Bytes data{0xA1, 0xA2, 0xA3, 0xA4};
  std::size_t n = data.size();
  auto t0 = Clock::now();
  EXPECT_TRUE(ch.WriteBytes(data.data(), n));
  EXPECT_TRUE(ch.PacedWriteActive());  // the call did not wait for the bytes
  EXPECT_EQ(n, data.size());

  std::vector<long long> arrivals;
  Bytes got;
  while (got.size() < data.size()) {
    Bytes b = pty.Read(1, 2000);
    if (b.empty()) break;
    got.insert(got.end(), b.begin(), b.end());
    arrivals.push_back(MsSince(t0));
  }
  EXPECT_EQ(got, data);
  ASSERT_EQ(arrivals.size(), 4u);
  EXPECT_GE(arrivals[0], 50);                // the first tick comes one interval later
  EXPECT_GE(arrivals[3] - arrivals[0], 150);  // three more intervals of 60 ms
  EXPECT_TRUE(ch.WaitPacedWrite(std::chrono::milliseconds(1000)));
  EXPECT_FALSE(ch.PacedWriteActive());
  EXPECT_EQ(ch.State(), mkp::psOk);
}

TEST(ComPortThreadTest, PacedWritesAppendAndOversizeIsRefused) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty, 1, 2));
  Bytes a{1, 2, 3, 4, 5}, b{6, 7, 8};
  std::size_t n = a.size();
  ASSERT_TRUE(ch.WriteBytes(a.data(), n));
  n = b.size();
  ASSERT_TRUE(ch.WriteBytes(b.data(), n));
  EXPECT_EQ(pty.Read(8, 3000), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(ch.WaitPacedWrite(std::chrono::milliseconds(10000)));

  Bytes big(TCOMPortChannel::PacedCopySize + 1, 0x55);
  n = big.size();
  EXPECT_FALSE(ch.WriteBytes(big.data(), n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(ch.State(), mkp::psOk);  // refused, the port is fine
  EXPECT_FALSE(ch.PacedWriteActive());
}

TEST(ComPortThreadTest, ClosingStopsPacingAndAVanishedPeerFailsIt) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty, 1, 10));
  Bytes data(200, 0x42);
  std::size_t n = data.size();
  ASSERT_TRUE(ch.WriteBytes(data.data(), n));
  Bytes sent = pty.Read(1, 3000);  // pacing has begun
  ch.ClosePort();
  EXPECT_EQ(ch.State(), mkp::psInvalid);
  const Bytes rest = pty.Read(200, 100);
  sent.insert(sent.end(), rest.begin(), rest.end());
  EXPECT_LT(sent.size(), 200u);
  EXPECT_TRUE(pty.Read(200, 100).empty());  // nothing more after the close

  ASSERT_TRUE(OpenPty(ch, pty, 1, 5));
  n = data.size();
  ASSERT_TRUE(ch.WriteBytes(data.data(), n));
  pty.CloseMaster();
  EXPECT_TRUE(ch.WaitPacedWrite(std::chrono::milliseconds(3000)));
  EXPECT_EQ(ch.State(), mkp::psFailed);
}

TEST(ComPortThreadTest, ReadsOnOneThreadWhilePacedBytesGoOut) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty, 5, 3));
  std::atomic<std::size_t> received{0};
  std::thread reader([&] {
    auto end = Clock::now() + std::chrono::milliseconds(3000);
    std::uint8_t buf[64];
    while (received < 20 && Clock::now() < end) {
      std::size_t n = 0;
      if (ch.ReadBytes(buf, sizeof buf, n)) received += n;
    }
  });
  Bytes out(20, 0x33);
  std::size_t n = out.size();
  ASSERT_TRUE(ch.WriteBytes(out.data(), n));
  Bytes in(20, 0x44);
  pty.Write(in);
  EXPECT_EQ(pty.Read(20, 3000), out);
  reader.join();
  EXPECT_EQ(received.load(), 20u);
}

}  // namespace

TEST(ComPortTest, BytesReadLateKeepTheirArrivalAndTheSilenceBetweenThemStillEndsARead) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty));
  const auto taken = [&] { pty.WaitUnread(0, std::chrono::seconds(10)); };
  const auto sent = Clock::now();
  pty.Write({1, 2, 3});
  taken();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // a silence on the line
  pty.Write({4, 5});
  taken();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reads come late
  Bytes buf(16);
  std::size_t n = 0;
  mkp::TMonoTime first{};
  const auto readAt = Clock::now();
  ASSERT_TRUE(ch.ReadBytes(buf.data(), buf.size(), n, nullptr, &first));
  EXPECT_EQ(n, 3u);
  EXPECT_LT(first - sent, std::chrono::milliseconds(25));
  EXPECT_GE(readAt - first, std::chrono::milliseconds(60));
  EXPECT_EQ(ReadChannel(ch, 16), (Bytes{4, 5}));
  // Dropped at a mode switch: what waits unread.
  pty.Write({6, 7});
  taken();
  const auto end = Clock::now() + std::chrono::seconds(10);
  std::size_t dropped = 0;
  while ((dropped += ch.DiscardWaiting()) < 2 && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(dropped, 2u);
}

namespace {

// What the channel reads within a few seconds, up to count bytes.
Bytes ReadUpTo(TCOMPortChannel& ch, std::size_t count) {
  Bytes got;
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (got.size() < count && Clock::now() < end) {
    const Bytes part = ReadChannel(ch, 64);
    got.insert(got.end(), part.begin(), part.end());
  }
  return got;
}

}  // namespace

TEST(ComPortTest, EchoOfEachWriteIsDroppedAndWhatDiffersFromItIsKept) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ch.SetLineOptions({true, false});
  ASSERT_TRUE(OpenPty(ch, pty, 5));
  const Bytes request{0x01, 0x02, 0x03, 0x04}, answer{0xA0, 0xA1};
  // The far side hands back `echo` and then the answer, as an adapter that
  // hears its own transmission does.
  auto exchange = [&](const Bytes& echo) {
    std::size_t n = request.size();
    ASSERT_TRUE(ch.WriteBytes(request.data(), n));
    EXPECT_EQ(pty.Read(request.size(), 5000), request);
    Bytes back = echo;
    back.insert(back.end(), answer.begin(), answer.end());
    pty.Write(back);
  };
  exchange(request);
  EXPECT_EQ(ReadUpTo(ch, answer.size()), answer);
  EXPECT_EQ(ch.EchoBytesDropped(), 4u);

  // An echo that differs in its third byte is no echo: every byte is read,
  // those that matched included.
  exchange({0x01, 0x02, 0x33, 0x04});
  EXPECT_EQ(ReadUpTo(ch, 6), (Bytes{0x01, 0x02, 0x33, 0x04, 0xA0, 0xA1}));
  EXPECT_EQ(ch.EchoMismatches(), 1u);
  // No echo at all: the answer is read as it came.
  exchange({});
  EXPECT_EQ(ReadUpTo(ch, answer.size()), answer);
  EXPECT_EQ(ch.EchoMismatches(), 2u);
  // An echo that stops short is kept once it is overdue.
  std::size_t n = request.size();
  ASSERT_TRUE(ch.WriteBytes(request.data(), n));
  EXPECT_EQ(pty.Read(request.size(), 5000), request);
  pty.Write({0x01, 0x02});
  EXPECT_EQ(ReadUpTo(ch, 2), (Bytes{0x01, 0x02}));
  EXPECT_EQ(ch.EchoMismatches(), 3u);

  ch.SetLineOptions({false, false});
  exchange(request);
  EXPECT_EQ(ReadUpTo(ch, 6), (Bytes{0x01, 0x02, 0x03, 0x04, 0xA0, 0xA1}));
  EXPECT_EQ(ch.EchoBytesDropped(), 4u);
}

TEST(ComPortTest, Rs485IsAskedForAndItsAbsenceIsToldWithoutFailingTheOpen) {
  TPtyPair pty;
  TCOMPortChannel ch;
  ASSERT_TRUE(OpenPty(ch, pty));
  EXPECT_EQ(ch.LineOptionsNote(), "");
  ch.SetLineOptions({false, true});
  ASSERT_TRUE(OpenPty(ch, pty)) << ch.LastError();  // a pseudo-terminal has no RS-485 mode
  EXPECT_EQ(ch.State(), mkp::psOk);
  EXPECT_FALSE(ch.Rs485Active());
  EXPECT_EQ(ch.LineOptionsNote(), "RS-485 mode not supported by this port");
}
