#include "protocol/capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "analysis/parser.h"
#include "protocol/capture_bytes.h"
#include "protocol/linetime.h"
#include "serial/memory_line.h"
#include "text/cp1251.h"

namespace {

using namespace mkp;
using mkptest::CaptureBytes;
using mkptest::FrameOfText;
using mkptest::Joined;
using mkptest::TCaptureBuilder;

std::string TempDir() {
  char name[] = "/tmp/mkp-capture-XXXXXX";
  return mkdtemp(name);
}

CaptureBytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return CaptureBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TReadBack {
  std::vector<TCapturedFrame> Frames;
  TCaptureReader::TStep Last = TCaptureReader::TStep::End;
  std::string Error;
};

TReadBack ReadBack(const CaptureBytes& bytes) {
  TCaptureReader reader;
  reader.OpenMemory(bytes.data(), bytes.size(), "FILE");
  TReadBack out;
  TCapturedFrame frame;
  while ((out.Last = reader.Next(frame)) == TCaptureReader::TStep::Frame) out.Frames.push_back(frame);
  out.Error = reader.Error();
  return out;
}

const TWallTime T0 = TWallTime(std::chrono::seconds(1'700'000'000)) + std::chrono::microseconds(123456);

TEST(CaptureTest, FramesComeBackWithTheirPortDirectionTimeBytesAndComment) {
  const std::string dir = TempDir();
  const std::string path = dir + "/a.pcapng";
  const CaptureBytes request = FrameOfText("010203.0A0B0C.06.05.0100 - 01");
  const CaptureBytes answer = FrameOfText("0A0B0C.010203.07.05.0300 - 01 E8 03");
  TCaptureWriter writer;
  ASSERT_TRUE(writer.Open(path, {"/dev/ttyUSB0", "/dev/ttyUSB1"}));
  EXPECT_TRUE(writer.Write(1, true, request.data(), request.size(), T0, "0A0B0C>>010203 RD type 05 : reg 01"));
  EXPECT_TRUE(writer.Write(2, false, answer.data(), answer.size(), T0 + std::chrono::nanoseconds(12'345'678), ""));
  // A port without an interface gets one.
  EXPECT_TRUE(writer.Write(3, false, answer.data(), 5, T0, "Missing format"));
  // ... or the name given for it meanwhile.
  writer.SetInterfaceName(4, "/dev/ttyS9");
  EXPECT_TRUE(writer.Write(4, false, answer.data(), answer.size(), T0, ""));
  writer.Close();
  EXPECT_EQ(writer.Frames(), 4u);

  const TReadBack back = ReadBack(ReadFile(path));
  ASSERT_EQ(back.Last, TCaptureReader::TStep::End) << back.Error;
  ASSERT_EQ(back.Frames.size(), 4u);
  const auto& f = back.Frames;
  EXPECT_EQ(f[0].Bytes, request);
  EXPECT_EQ(f[0].Direction, TFrameDirection::Out);
  EXPECT_EQ(f[0].Interface, 1);
  EXPECT_EQ(f[0].InterfaceName, "/dev/ttyUSB0");
  EXPECT_EQ(f[0].Time, T0);
  EXPECT_EQ(f[0].Comment, "0A0B0C>>010203 RD type 05 : reg 01");
  EXPECT_EQ(f[1].Bytes, answer);
  EXPECT_EQ(f[1].Direction, TFrameDirection::In);
  EXPECT_EQ(f[1].Interface, 2);
  EXPECT_EQ(f[1].Interfaces, 2);
  EXPECT_EQ(f[1].Time, T0 + std::chrono::microseconds(12'345));  // microseconds in the file
  EXPECT_TRUE(f[1].Comment.empty());
  EXPECT_EQ(f[2].InterfaceName, "port 3");
  EXPECT_EQ(f[2].Interfaces, 3);
  EXPECT_EQ(f[2].Bytes, CaptureBytes(answer.begin(), answer.begin() + 5));
  EXPECT_EQ(f[3].InterfaceName, "/dev/ttyS9");
  EXPECT_EQ(f[3].Interface, 4);
  std::filesystem::remove_all(dir);
}

TEST(CaptureTest, TheTransportsFramesGoInWithTheirDecodeLineAndMissingFormatBytesInbound) {
  const std::string dir = TempDir();
  mkptest::TMemoryLine line;
  TMKPParser parser;
  TMKProtocolTransport transport(&line);
  transport.SetParser(&parser);
  TCaptureWriter writer;
  ASSERT_TRUE(writer.Open(dir + "/t.pcapng", {"COM1"}));
  transport.SetFrameTap(&writer);
  TPacketHolder request, got;
  ASSERT_TRUE(TextToPacket("010203.0A0B0C.06.06.0300 - D0 E0 00", *request));  // a name in Windows-1251
  ASSERT_TRUE(transport.SendPacket(*request));
  line.Write(FrameOfText("0A0B0C.010203.07.05.0300 - 01 E8 03"));
  ASSERT_TRUE(transport.ReceivePacket(*got));
  line.Write({0xEE, 0x01});
  EXPECT_FALSE(transport.ReceivePacket(*got));
  transport.SetFrameTap(nullptr);

  const TReadBack back = ReadBack(ReadFile(dir + "/t.pcapng"));
  ASSERT_EQ(back.Frames.size(), 3u);
  EXPECT_EQ(back.Frames[0].Direction, TFrameDirection::Out);
  EXPECT_EQ(back.Frames[0].Comment, Cp1251ToUtf8(parser.DescribeMaster("010203.0A0B0C.06.06.0300 - D0 E0 00 ")));
  EXPECT_EQ(back.Frames[0].Comment, "0A0B0C>>010203 RD type 06 : reg \"Ра\"");
  EXPECT_EQ(back.Frames[1].Direction, TFrameDirection::In);
  EXPECT_EQ(back.Frames[1].Comment, "010203>>0A0B0C ANSW type 05 : reg 01 = 1000 ");
  EXPECT_EQ(back.Frames[2].Direction, TFrameDirection::In);
  EXPECT_EQ(back.Frames[2].Comment, "Missing format");
  EXPECT_EQ(back.Frames[2].Bytes, (CaptureBytes{0xEE, 0x01}));
  // The line's time, on the wall clock, in order.
  const auto now = std::chrono::system_clock::now();
  EXPECT_LE(back.Frames[0].Time, back.Frames[1].Time);
  EXPECT_LE(back.Frames[1].Time, back.Frames[2].Time);
  EXPECT_LT(now - back.Frames[0].Time, std::chrono::seconds(60));
  std::filesystem::remove_all(dir);
}

TEST(CaptureTest, AFailedWriteIsToldOnceAndEndsTheCapture) {
  std::signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  TCaptureWriter writer;
  ASSERT_TRUE(writer.Open("/proc/self/fd/" + std::to_string(fds[1]), {"COM1"}));
  close(fds[1]);
  int told = 0;
  std::string why;
  writer.SetOnFailure([&](const std::string& w) {
    ++told;
    why = w;
  });
  close(fds[0]);  // nobody reads any more
  const CaptureBytes frame = FrameOfText("010203.0A0B0C.04.00.0000");
  EXPECT_FALSE(writer.Write(1, true, frame.data(), frame.size(), T0, ""));
  EXPECT_FALSE(writer.Write(1, true, frame.data(), frame.size(), T0, ""));
  EXPECT_EQ(told, 1);
  EXPECT_TRUE(writer.Failed());
  EXPECT_NE(why.find("cannot write"), std::string::npos);
  EXPECT_FALSE(writer.Open("/nonexistent-folder/x.pcapng", {}));
  EXPECT_NE(writer.Error().find("cannot create"), std::string::npos);
}

// A capture of three frames, cut after any number of bytes: the frames wholly
// before the cut, then "cut off after frame N" (or a clean end at a block's
// end); a cut inside or right after the section header is no capture at all.
TEST(CaptureReaderTest, ACaptureCutAnywhereGivesTheFramesBeforeAndSaysWhere) {
  const TCaptureBuilder b;
  const CaptureBytes frame = FrameOfText("010203.0A0B0C.06.05.0100 - 01");
  const CaptureBytes header = Joined({b.Section(), b.Interface(147, "COM1")});
  std::vector<std::size_t> ends{header.size()};
  CaptureBytes file = header;
  for (int i = 0; i < 3; ++i) {
    const CaptureBytes packet = b.Packet(0, 1000 + i, frame, 1, "c");
    file.insert(file.end(), packet.begin(), packet.end());
    ends.push_back(file.size());
  }
  const std::size_t sectionEnd = b.Section().size();
  for (std::size_t cut = 0; cut <= file.size(); ++cut) {
    const TReadBack back = ReadBack(CaptureBytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut)));
    std::size_t whole = 0;
    bool atEnd = false;
    for (std::size_t k = 0; k < ends.size(); ++k) {
      if (ends[k] <= cut) whole = k;
      if (ends[k] == cut) atEnd = true;
    }
    SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
    EXPECT_EQ(back.Frames.size(), cut < header.size() ? 0 : whole);
    if (cut <= sectionEnd) {  // no MKP interface described yet
      EXPECT_EQ(back.Error, "FILE: not a capture of MKP frames");
    } else if (atEnd) {
      EXPECT_EQ(back.Last, TCaptureReader::TStep::End);
    } else {
      EXPECT_EQ(back.Error, "FILE: cut off after frame " + std::to_string(cut < header.size() ? 0 : whole));
    }
  }
}

TEST(CaptureReaderTest, WrongLengthsOtherLinkTypesAndOtherFilesAreTold) {
  const TCaptureBuilder b;
  const CaptureBytes frame = FrameOfText("010203.0A0B0C.04.00.0000");
  const CaptureBytes good = Joined({b.Section(), b.Interface(147), b.Packet(0, 1, frame)});
  auto errorOf = [](const CaptureBytes& bytes) { return ReadBack(bytes).Error; };

  CaptureBytes bad = Joined({good, b.Packet(0, 2, frame)});
  bad[good.size() + 4] = 0x2A;  // a length that is no multiple of 4
  EXPECT_EQ(errorOf(bad), "FILE: cut off after frame 1");
  bad = Joined({good, b.Packet(0, 2, frame)});
  bad[bad.size() - 4] ^= 0x04;  // the trailing length differs
  EXPECT_EQ(errorOf(bad), "FILE: cut off after frame 1");
  bad = Joined({good, b.Packet(0, 2, frame)});
  bad[good.size() + 20] = 0xFF;  // captured length beyond the block
  EXPECT_EQ(errorOf(bad), "FILE: cut off after frame 1");
  EXPECT_EQ(errorOf(Joined({good, b.Packet(7, 2, frame)})), "FILE: cut off after frame 1");  // no interface 7
  bad = Joined({good, b.Packet(0, 2, frame)});
  for (int i = 4; i < 8; ++i) bad[good.size() + static_cast<std::size_t>(i)] = 0xFF;  // 4 GB announced
  EXPECT_EQ(errorOf(bad), "FILE: cut off after frame 1");

  // Other link types: a pcap of Ethernet, a pcapng whose packets are all
  // Ethernet; MKP frames among others are read and the others passed over.
  EXPECT_EQ(errorOf(Joined({b.PcapHeader(1), b.PcapRecord(1, 0, frame)})), "FILE: not a capture of MKP frames");
  EXPECT_EQ(errorOf(Joined({b.Section(), b.Interface(1), b.Packet(0, 1, frame)})), "FILE: not a capture of MKP frames");
  const TReadBack mixed = ReadBack(Joined({b.Section(), b.Interface(1), b.Interface(147), b.Packet(0, 1, frame),
                                           b.Packet(1, 2, frame)}));
  EXPECT_EQ(mixed.Last, TCaptureReader::TStep::End);
  EXPECT_EQ(mixed.Frames.size(), 1u);
  // Not captures at all.
  const std::string text = "-> 010203.0A0B0C.04.00.0000 - \r\n";
  EXPECT_EQ(errorOf(CaptureBytes(text.begin(), text.end())), "FILE: not a capture of MKP frames");
  EXPECT_EQ(errorOf({}), "FILE: not a capture of MKP frames");
  EXPECT_EQ(errorOf({0x0A, 0x0D, 0x0D, 0x0A, 28, 0, 0, 0, 1, 2, 3, 4}), "FILE: not a capture of MKP frames");
}

TEST(CaptureReaderTest, PcapOfEitherByteOrderAndSeveralSectionsAreRead) {
  const CaptureBytes frame = FrameOfText("010203.0A0B0C.04.00.0000");
  for (bool big : {false, true}) {
    const TCaptureBuilder b(big);
    const TReadBack us = ReadBack(Joined({b.PcapHeader(147), b.PcapRecord(1'700'000'000, 123456, frame)}));
    ASSERT_EQ(us.Frames.size(), 1u) << us.Error;
    EXPECT_EQ(us.Frames[0].Time, T0);
    EXPECT_EQ(us.Frames[0].Direction, TFrameDirection::Unknown);
    EXPECT_EQ(us.Frames[0].Bytes, frame);
    const TReadBack ns = ReadBack(Joined({b.PcapHeader(147, true), b.PcapRecord(1'700'000'000, 123456789, frame)}));
    ASSERT_EQ(ns.Frames.size(), 1u);
    EXPECT_EQ(ns.Frames[0].Time, TWallTime(std::chrono::seconds(1'700'000'000)) + std::chrono::nanoseconds(123456789));
  }
  // A little-endian section with two ports, then a big-endian one with one
  // port in nanoseconds: the interfaces count anew in each section.
  const TCaptureBuilder le, be(true);
  const TReadBack two = ReadBack(Joined({le.Section(), le.Interface(147, "a"), le.Interface(147, "b"),
                                         le.Packet(1, 5, frame, 2), be.Section(), be.Interface(147, "c", 9),
                                         be.Packet(0, 1'700'000'000'123'456'789ull, frame, 1, "x")}));
  ASSERT_EQ(two.Frames.size(), 2u) << two.Error;
  EXPECT_EQ(two.Frames[0].Interface, 2);
  EXPECT_EQ(two.Frames[0].InterfaceName, "b");
  EXPECT_EQ(two.Frames[0].Direction, TFrameDirection::Out);
  EXPECT_EQ(two.Frames[0].Time, TWallTime(std::chrono::microseconds(5)));
  EXPECT_EQ(two.Frames[1].Interface, 1);
  EXPECT_EQ(two.Frames[1].Interfaces, 1);
  EXPECT_EQ(two.Frames[1].Comment, "x");
  EXPECT_EQ(two.Frames[1].Time, TWallTime(std::chrono::seconds(1'700'000'000)) + std::chrono::nanoseconds(123456789));
}

TEST(CaptureReaderTest, TheWallClockOfALineMapsBackToItsMonotonicTime) {
  const TMonoTime now = TMonoClock::now();
  EXPECT_EQ(MonoTimeOf(WallClockOf(now)), now);
  EXPECT_EQ(LocalTimeOfDay(MonoTimeOf(WallClockOf(now))), LocalTimeOfDay(now));
}

}  // namespace
