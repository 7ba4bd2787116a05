#include "modes/logfile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <thread>

#include "analysis/parser.h"
#include "protocol/capture_bytes.h"
#include "text/cp1251.h"

namespace {

using namespace mkp;
using mkptest::FrameOfText;
using mkptest::Joined;
using mkptest::TCaptureBuilder;

class LogFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    char name[] = "/tmp/mkp-logfile-XXXXXX";
    dir_ = mkdtemp(name);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& text) {
    mkptest::WriteBytesTo(dir_ + "/" + name, mkptest::CaptureBytes(text.begin(), text.end()));
    return dir_ + "/" + name;
  }
  std::vector<TLogEntry> ReadAll(const std::string& path, std::string* error = nullptr) {
    TLogFileReader reader(parser_);
    EXPECT_TRUE(reader.Open(path));
    std::vector<TLogEntry> entries;
    TLogEntry entry;
    while (reader.Next(entry)) {
      entries.push_back(entry);
      entries.back().Frame = nullptr;
    }
    if (error != nullptr) *error = reader.Error();
    return entries;
  }

  std::string dir_;
  TMKPParser parser_;
};

TEST_F(LogFileTest, ACaptureGivesBothPanesWithItsTimesPortsAndAnswers) {
  const TCaptureBuilder b;
  const auto request = FrameOfText("010203.0A0B0C.06.05.0100 - 01");
  const auto answer = FrameOfText("0A0B0C.010203.07.05.0300 - 01 E8 03");
  const std::uint64_t t = 1'700'000'000'000'000ull;  // microseconds
  const auto path = dir_ + "/c.pcapng";
  mkptest::WriteBytesTo(path, Joined({b.Section(), b.Interface(147, "COM1"), b.Packet(0, t, request, 2),
                                      b.Packet(0, t + 12'300, answer, 1), b.Packet(0, t + 20'000, {0xEE, 0x01}, 1),
                                      b.Section(), b.Interface(147), b.Interface(147), b.Packet(1, t + 30'000, answer)}));
  std::string error;
  const auto entries = ReadAll(path, &error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].Terminal.Text, "-> 010203.0A0B0C.06.05.0100 - 01 ");
  EXPECT_EQ(entries[0].Decode.Text, "-> " + parser_.DescribeMaster("010203.0A0B0C.06.05.0100 - 01 "));
  EXPECT_EQ(entries[1].Decode.Text, "<- 010203>>0A0B0C ANSW type 05 : reg 01 = 1000 ");
  EXPECT_EQ(entries[2].Terminal.Text, "<- Missing format : EE 01 ");
  EXPECT_EQ(entries[2].Decode.Text, "<- Missing format");
  EXPECT_EQ(entries[3].Decode.Text.substr(0, 4), "<-2 ");  // two ports in that section
  // The times as the panes show them: the capture's time of day, the time
  // since the line before, the answer's latency.
  EXPECT_TRUE(entries[1].Timed);
  EXPECT_EQ(LocalTimeOfDay(entries[0].Decode.Shown.Time),
            LocalTimeOfDay(MonoTimeOf(TWallTime(std::chrono::microseconds(t)))));
  EXPECT_NEAR(entries[1].Decode.Shown.SincePreviousMs, 12.3, 1e-6);
  ASSERT_TRUE(entries[1].Decode.Shown.AnswerAfterMs.has_value());
  EXPECT_NEAR(*entries[1].Decode.Shown.AnswerAfterMs, 12.3, 1e-6);
  EXPECT_FALSE(entries[1].Terminal.Shown.AnswerAfterMs.has_value());
  EXPECT_NEAR(entries[3].Terminal.Shown.SincePreviousMs, 10.0, 1e-6);
}

TEST_F(LogFileTest, TerminalLogsAreDecodedDecodeLogsShownAsTheyAreAndTheKindComesFromTheFile) {
  const std::string text = "-> 010203.0A0B0C.06.05.0100 - 01 \r\n"
                           "14:03:07.215 +16.042 <-1 0A0B0C.010203.07.05.0300 - 01 E8 03 \r\n"
                           "<- Missing format : EE \r\n"
                           "a note\n";
  const auto entries = ReadAll(Write("MKPTest.trm", text));
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].Decode.Text, "-> 0A0B0C>>010203 RD type 05 : reg 01");
  EXPECT_EQ(entries[1].WrittenTime, "14:03:07.215 +16.042 ");
  EXPECT_EQ(entries[1].Terminal.Text, "<-1 0A0B0C.010203.07.05.0300 - 01 E8 03 ");
  EXPECT_EQ(entries[1].Decode.Text, "<-1 010203>>0A0B0C ANSW type 05 : reg 01 = 1000 ");
  EXPECT_EQ(entries[2].Decode.Text, "<- Missing format");
  EXPECT_EQ(entries[3].Decode.Text, "a note");
  EXPECT_FALSE(entries[0].Timed);

  const auto decoded = ReadAll(Write("dcd_MKPTest.trm", text));
  ASSERT_EQ(decoded.size(), 4u);
  EXPECT_FALSE(decoded[0].HasTerminal);
  EXPECT_EQ(decoded[0].Decode.Text, "-> 010203.0A0B0C.06.05.0100 - 01 ");
  EXPECT_EQ(LogFileKindOf(Write("run.TR2", "x")), TLogFileKind::DecodeLog);
  EXPECT_EQ(LogFileKindOf(Write("run.tr1", "x")), TLogFileKind::TerminalLog);
  // A capture is told by its first bytes, whatever its name.
  const TCaptureBuilder b;
  mkptest::WriteBytesTo(dir_ + "/dcd_x.tr2", b.PcapHeader(147));
  EXPECT_EQ(LogFileKindOf(dir_ + "/dcd_x.tr2"), TLogFileKind::Capture);
}

TEST_F(LogFileTest, LongLinesComeInPiecesAndCancelEndsTheReading) {
  const std::string path = Write("long.trm", std::string(TLogFileReader::LineLimit + 10, 'x') + "\nlast");
  const auto entries = ReadAll(path);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Terminal.Text.size(), TLogFileReader::LineLimit);
  EXPECT_EQ(entries[1].Terminal.Text, std::string(10, 'x'));
  EXPECT_EQ(entries[2].Terminal.Text, "last");

  TLogFileReader reader(parser_);
  ASSERT_TRUE(reader.Open(path));
  EXPECT_EQ(reader.Size(), TLogFileReader::LineLimit + 15);
  TLogEntry entry;
  ASSERT_TRUE(reader.Next(entry));
  EXPECT_GE(reader.Position(), TLogFileReader::LineLimit);
  std::thread([&] { reader.Cancel(); }).join();
  EXPECT_FALSE(reader.Next(entry));
  EXPECT_TRUE(reader.Cancelled());
  EXPECT_FALSE(TLogFileReader(parser_).Open(dir_ + "/missing.trm"));
}

}  // namespace
