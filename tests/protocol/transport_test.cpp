#include "protocol/transport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/parser.h"
#include "serial/comport.h"
#include "serial/memory_line.h"
#include "serial/pty_pair.h"
#include "text/controlchars.h"
#include "text/cp1251.h"
#include "text/hextext.h"

namespace {

using namespace mkp;
using ByteVec = std::vector<std::uint8_t>;

// Records the lines of both panes in one sequence, tagged with the pane.
struct TRecorder {
  std::mutex lock;
  std::vector<std::string> terminal, decode, both;
};

class TRecordingPane : public TLogPane {
public:
  TRecordingPane(TRecorder& rec, bool terminal) : rec_(rec), terminal_(terminal) {}
  void AddLine(const mkp::TPaneLine& record) override {
    const std::string& line = record.Text;
    std::lock_guard lk(rec_.lock);
    (terminal_ ? rec_.terminal : rec_.decode).push_back(line);
    rec_.both.push_back((terminal_ ? "T " : "D ") + line);
  }

private:
  TRecorder& rec_;
  bool terminal_;
};

void SetPacket(TMKPPacket& p, std::uint8_t command, std::uint8_t type, ByteVec data) {
  p.DstAddr = MakeVorelAddr(0x0A, 0x0B, 0x0C);
  p.SrcAddr = MakeVorelAddr(0x01, 0x02, 0x03);
  p.Command = command;
  p.DataType = type;
  p.DataLen = static_cast<std::int32_t>(data.size());
  for (std::size_t i = 0; i < data.size(); ++i) p.Data[i] = data[i];
}

ByteVec FrameOf(const TMKPPacket& p) {
  ByteVec frame(FrameBufferSize);
  int len = 0;
  EXPECT_TRUE(BuildFrame(p, frame.data(), len));
  frame.resize(static_cast<std::size_t>(len));
  return frame;
}

std::string Hex(const ByteVec& bytes) {
  return BytesToHexText(bytes.data(), bytes.size(), static_cast<long>(bytes.size()));
}

class TransportTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(channel_.OpenPort(pty_.Path(), "9600", "1", "none", 1, 0)) << channel_.LastError();
    transport_.SetTerminalBox(&terminalPane_);
    transport_.SetDecodeBox(&decodePane_);
    transport_.SetParser(&parser_);
    transport_.DecodeEnabled = true;
  }

  mkptest::TPtyPair pty_;
  TCOMPortChannel channel_;
  TMKPParser parser_;
  TMKPParser expectParser_;  // for the expected descriptions
  TRecorder rec_;
  TRecordingPane terminalPane_{rec_, true};
  TRecordingPane decodePane_{rec_, false};
  TMKProtocolTransport transport_{&channel_};
};

TEST_F(TransportTest, ValidFrameWithoutDataIsLoggedAndLeavesTheDataBlock) {
  TPacketHolder sent, got;
  SetPacket(*sent, CmdRead, 1, {});
  got->Data[0] = 0x77;
  pty_.Write(FrameOf(*sent));
  ASSERT_TRUE(transport_.ReceivePacket(*got));
  EXPECT_TRUE(SamePacket(*sent, *got));
  EXPECT_EQ(got->Data[0], 0x77);
  const std::string text = "0A0B0C.010203.06.01.0000 - ";
  EXPECT_EQ(rec_.terminal, std::vector<std::string>{"<- " + text});
  EXPECT_EQ(rec_.decode, std::vector<std::string>{"<- " + expectParser_.DescribeSlave(text)});
}

TEST_F(TransportTest, LargestFrameIsReceivedWhole) {
  TPacketHolder sent, got;
  ByteVec data(MaxDataLen);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  SetPacket(*sent, CmdAnswer, 17, data);
  pty_.Write(FrameOf(*sent));
  ASSERT_TRUE(transport_.ReceivePacket(*got));
  EXPECT_TRUE(SamePacket(*sent, *got));
  ASSERT_EQ(rec_.terminal.size(), 1u);
  EXPECT_EQ(rec_.terminal[0], "<- " + PacketToText(*sent));
}

TEST_F(TransportTest, ExtraByteOrBadChecksumIsMissingFormatWithAllBytes) {
  TPacketHolder sent, got;
  SetPacket(*sent, CmdAnswer, 1, {0x05});
  ByteVec frame = FrameOf(*sent);
  frame.push_back(0xEE);
  pty_.Write(frame);
  EXPECT_FALSE(transport_.ReceivePacket(*got));

  ByteVec bad = FrameOf(*sent);
  bad[3] ^= 0x01;
  pty_.Write(bad);
  EXPECT_FALSE(transport_.ReceivePacket(*got));

  ByteVec truncated = FrameOf(*sent);
  truncated.pop_back();
  transport_.DecodeEnabled = false;
  pty_.Write(truncated);
  EXPECT_FALSE(transport_.ReceivePacket(*got));

  EXPECT_EQ(rec_.terminal, (std::vector<std::string>{"<- Missing format : " + Hex(frame),
                                                     "<- Missing format : " + Hex(bad),
                                                     "<- Missing format : " + Hex(truncated)}));
  EXPECT_EQ(rec_.terminal[0].substr(rec_.terminal[0].size() - 4), " EE ");
  EXPECT_EQ(rec_.decode, (std::vector<std::string>{"<- Missing format", "<- Missing format"}));
}

// Real lines hand a frame over in bursts with silences far longer than the
// default read interval of 1 ms inside it.
TEST_F(TransportTest, AFrameArrivingInBurstsIsOneGoodPacketButNoiseStaysMissingFormat) {
  TPacketHolder sent, got;
  ByteVec data(100);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  SetPacket(*sent, CmdAnswer, 1, data);
  const ByteVec frame = FrameOf(*sent);
  // Writes the frame in pieces of `piece` bytes, one piece every `every`.
  auto paced = [&](std::size_t piece, std::chrono::microseconds every) {
    return std::thread([this, &frame, piece, every] {
      auto at = std::chrono::steady_clock::now();
      for (std::size_t i = 0; i < frame.size(); i += piece) {
        std::this_thread::sleep_until(at += every);
        pty_.Write(ByteVec(frame.begin() + static_cast<std::ptrdiff_t>(i),
                           frame.begin() + static_cast<std::ptrdiff_t>(std::min(frame.size(), i + piece))));
      }
    });
  };
  for (auto [piece, every] : {std::pair{std::size_t{1}, std::chrono::microseconds(1040)},  // a 16550 at 9600 baud
                              std::pair{std::size_t{16}, std::chrono::microseconds(16000)}}) {  // a USB adapter
    std::thread writer = paced(piece, every);
    const bool ok = transport_.ReceivePacket(*got);
    writer.join();
    ASSERT_TRUE(ok) << "pieces of " << piece;
    EXPECT_TRUE(SamePacket(*sent, *got));
  }
  EXPECT_EQ(rec_.terminal, std::vector<std::string>(2, "<- " + PacketToText(*sent)));

  // A short burst of noise is still one read and one line.
  rec_.terminal.clear();
  pty_.Write({0x55, 0xAA, 0x01});
  EXPECT_FALSE(transport_.ReceivePacket(*got));
  EXPECT_EQ(rec_.terminal, std::vector<std::string>{"<- Missing format : 55 AA 01 "});

  // The frame test itself.
  EXPECT_TRUE(FrameUnfinished(frame.data(), 13));
  EXPECT_TRUE(FrameUnfinished(frame.data(), frame.size() - 1));
  EXPECT_FALSE(FrameUnfinished(frame.data(), frame.size()));
  ByteVec badHeader = frame;
  badHeader[12] ^= 0x40;
  EXPECT_FALSE(FrameUnfinished(badHeader.data(), 20));
  ByteVec tooLong = frame;
  tooLong[9] = 0x08;
  tooLong[8] = 0x01;  // 2049 bytes of data
  EXPECT_FALSE(FrameUnfinished(tooLong.data(), 10));
}

TEST_F(TransportTest, SilenceAndClosedPortLogNothing) {
  TPacketHolder got;
  EXPECT_FALSE(transport_.ReceivePacket(*got));  // waits the total time-out, ~2 s
  channel_.ClosePort();
  EXPECT_FALSE(transport_.ReceivePacket(*got));
  TMKProtocolTransport unbound;
  unbound.SetTerminalBox(&terminalPane_);
  EXPECT_FALSE(unbound.ReceivePacket(*got));
  EXPECT_TRUE(rec_.both.empty());
}

TEST_F(TransportTest, SentPacketIsOnTheLineAndLogged) {
  TPacketHolder p;
  SetPacket(*p, CmdRead, 1, {0x05});
  ASSERT_TRUE(transport_.SendPacket(*p));
  EXPECT_EQ(pty_.Read(19, 2000), FrameOf(*p));
  const std::string text = "0A0B0C.010203.06.01.0100 - 05 ";
  EXPECT_EQ(rec_.both, (std::vector<std::string>{"T -> " + text, "D -> " + expectParser_.DescribeMaster(text)}));

  // With the analyser's master switch off the decode line is the bare prefix.
  parser_.AnalyzeMaster = false;
  rec_.both.clear();
  ASSERT_TRUE(transport_.SendPacket(*p));
  EXPECT_EQ(rec_.both, (std::vector<std::string>{"T -> " + text, "D -> "}));
}

TEST_F(TransportTest, SendOnClosedPortOrBadPacketIsTransmitError) {
  TPacketHolder p;
  SetPacket(*p, CmdRead, 1, {});
  channel_.ClosePort();
  EXPECT_FALSE(transport_.SendPacket(*p));
  channel_.OpenPort(pty_.Path(), "9600", "1", "none", 1, 0);
  p->DataLen = MaxDataLen + 1;
  EXPECT_FALSE(transport_.SendPacket(*p));
  EXPECT_TRUE(pty_.ReadAvailable().empty());
  transport_.DecodeEnabled = false;
  transport_.SetChannel(nullptr);
  EXPECT_FALSE(transport_.SendPacket(*p));
  EXPECT_EQ(rec_.both, (std::vector<std::string>{"T -> Transmit error!", "D -> Transmit error!",
                                                 "T -> Transmit error!", "D -> Transmit error!",
                                                 "T -> Transmit error!"}));
}

class TransportAutosaveTest : public TransportTest {
protected:
  void SetUp() override {
    TransportTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() / ("mkpt_autosave_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    transport_.TerminalAutosaveFile = (dir_ / TerminalAutosaveName).string();
    transport_.DecodeAutosaveFile = DecodeFileNameFor(transport_.TerminalAutosaveFile);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  static std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::filesystem::path dir_;
};

TEST_F(TransportAutosaveTest, DecodeFileNameHasThePrefixOnItsFileNamePart) {
  EXPECT_EQ(DecodeFileNameFor("MKPTest.trm"), "dcd_MKPTest.trm");
  EXPECT_EQ(DecodeFileNameFor("logs/run.trm"), "logs/dcd_run.trm");
  EXPECT_EQ(DecodeFileNameFor("/var/a.b/c"), "/var/a.b/dcd_c");
  EXPECT_EQ(transport_.DecodeAutosaveFile, (dir_ / "dcd_MKPTest.trm").string());
}

TEST_F(TransportAutosaveTest, LoggedPacketsAppendCrLfLinesOnlyWhileAutosaveIsOn) {
  TPacketHolder p, got;
  SetPacket(*p, CmdError, 1, {0x02});
  ASSERT_TRUE(transport_.SendPacket(*p));
  EXPECT_FALSE(std::filesystem::exists(transport_.TerminalAutosaveFile));
  EXPECT_FALSE(std::filesystem::exists(transport_.DecodeAutosaveFile));

  transport_.Autosave = true;
  ASSERT_TRUE(transport_.SendPacket(*p));
  pty_.Write(FrameOf(*p));
  ASSERT_TRUE(transport_.ReceivePacket(*got));
  pty_.Write({1, 2, 3});
  EXPECT_FALSE(transport_.ReceivePacket(*got));  // a bad frame goes to the panes only
  channel_.ClosePort();
  EXPECT_FALSE(transport_.SendPacket(*p));  // so does a transmit error

  const std::string text = PacketToText(*p);
  EXPECT_EQ(Slurp(transport_.TerminalAutosaveFile), "-> " + text + "\r\n<- " + text + "\r\n");
  const std::string decoded = "-> " + expectParser_.DescribeMaster(text) + "\r\n<- " +
                              expectParser_.DescribeSlave(text) + "\r\n";
  EXPECT_EQ(Slurp(transport_.DecodeAutosaveFile), decoded);
  // The analyser's Russian text is stored in Windows-1251, one byte a letter.
  EXPECT_NE(Slurp(transport_.DecodeAutosaveFile).find(Utf8ToCp1251("ОШИБКА")), std::string::npos);
}

TEST_F(TransportAutosaveTest, UnwritableAutosaveFileThrowsAfterThePaneLine) {
  transport_.Autosave = true;
  transport_.TerminalAutosaveFile = (dir_ / "missing" / "x.trm").string();
  EXPECT_THROW(transport_.AppendLogLine(transport_.TerminalAutosaveFile, "x"), EAutosaveError);
  TPacketHolder p;
  SetPacket(*p, CmdRead, 1, {});
  try {
    transport_.SendPacket(*p);
    ADD_FAILURE() << "no exception";
  } catch (const EAutosaveError& e) {
    EXPECT_NE(std::string(e.what()).find("x.trm"), std::string::npos);
  }
  EXPECT_EQ(rec_.terminal.size(), 1u);
  transport_.Autosave = false;
  EXPECT_NO_THROW(transport_.AppendLogLine(transport_.TerminalAutosaveFile, "x"));
}

class TransportThreadTest : public TransportTest {};

TEST_F(TransportThreadTest, LinesOfOneCallStayTogether) {
  auto sender = [&](std::uint8_t command) {
    TPacketHolder p;
    SetPacket(*p, command, 1, {command});
    for (int i = 0; i < 40; ++i) transport_.SendPacket(*p);
  };
  std::thread drain([&] { pty_.Read(80 * 19, 5000); });
  std::thread a(sender, CmdRead), b(sender, CmdWrite);
  a.join();
  b.join();
  drain.join();
  ASSERT_EQ(rec_.both.size(), 160u);
  for (std::size_t i = 0; i < rec_.both.size(); i += 2) {
    ASSERT_EQ(rec_.both[i].substr(0, 2), "T ");
    ASSERT_EQ(rec_.both[i + 1].substr(0, 2), "D ");
    // The decode line belongs to the terminal line before it.
    const std::string text = rec_.both[i].substr(5);
    EXPECT_EQ(rec_.both[i + 1], "D -> " + expectParser_.DescribeMaster(text));
  }
}

// A line added from the window's thread never waits for a worker that sits
// in its receive.
TEST(TransportLockTest, APaneLineDoesNotWaitForAReceiveInProgress) {
  mkptest::TMemoryLine line;
  line.SetReadWait(std::chrono::seconds(60));
  TRecorder rec;
  TRecordingPane pane(rec, true);
  TMKProtocolTransport transport(&line);
  transport.SetTerminalBox(&pane);
  std::atomic<bool> received{false};
  std::thread worker([&] {
    TPacketHolder got;
    transport.ReceivePacket(*got);
    received = true;
  });
  ASSERT_TRUE(line.WaitForReader(std::chrono::seconds(30)));
  transport.AddTerminalLine("from the window");
  EXPECT_FALSE(received);
  line.Write({0x01});  // ends the receive
  worker.join();
  EXPECT_EQ(rec.terminal, (std::vector<std::string>{"from the window", "<- Missing format : 01 "}));
}

}  // namespace

namespace {

struct TTapRecord {
  bool Sent, Good;
  ByteVec Bytes;
  std::string Decode;
};
class TRecordingTap : public TFrameTap {
public:
  void Frame(const TFrameRecord& frame) override {
    frames.push_back({frame.Sent, frame.Good, ByteVec(frame.Bytes, frame.Bytes + frame.Count), frame.Decode->Text});
  }
  std::vector<TTapRecord> frames;
};

TEST_F(TransportTest, RawSendsAndEveryFrameMovedReachTheTapWithTheirDecodeLine) {
  TRecordingTap tap;
  transport_.SetFrameTap(&tap);
  TPacketHolder p, got;
  SetPacket(*p, CmdRead, 5, {0x01});
  const ByteVec frame = FrameOf(*p);
  ASSERT_TRUE(transport_.SendRaw(frame.data(), frame.size(), "-> typed text", "-> described"));
  EXPECT_EQ(pty_.Read(frame.size(), 2000), frame);
  pty_.Write(frame);
  ASSERT_TRUE(transport_.ReceivePacket(*got));
  pty_.Write({0xEE, 0xEE});
  EXPECT_FALSE(transport_.ReceivePacket(*got));
  transport_.SetFrameTap(nullptr);
  EXPECT_EQ(rec_.terminal[0], "-> typed text");
  EXPECT_EQ(rec_.decode[0], "-> described");
  ASSERT_EQ(tap.frames.size(), 3u);
  EXPECT_TRUE(tap.frames[0].Sent && tap.frames[0].Good);
  EXPECT_EQ(tap.frames[0].Bytes, frame);
  EXPECT_EQ(tap.frames[0].Decode, "-> described");
  EXPECT_FALSE(tap.frames[1].Sent);
  EXPECT_EQ(tap.frames[1].Decode, rec_.decode[1]);
  EXPECT_FALSE(tap.frames[2].Good);
  EXPECT_EQ(tap.frames[2].Bytes, (ByteVec{0xEE, 0xEE}));
  // A refused raw write logs nothing.
  channel_.ClosePort();
  const std::size_t lines = rec_.both.size();
  EXPECT_FALSE(transport_.SendRaw(frame.data(), frame.size(), "-> x", "-> x"));
  EXPECT_EQ(rec_.both.size(), lines);
}

// A caller that wants to end a wait for pieces (Ctrl+C in an interactive
// program) is asked while the line is read, and the wait ends soon after it
// says so, long before the deadline.
TEST_F(TransportTest, AWaitForPiecesEndsSoonAfterTheCallerInterruptsIt) {
  std::atomic<bool> stop{false};
  std::atomic<int> asked{0};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
  });
  const auto start = std::chrono::steady_clock::now();
  const bool got = transport_.ReceivePieces(
      start + std::chrono::seconds(20), [](const TBusPiece&, const TMKPPacket*) { return true; },
      [&] {
        ++asked;
        return stop.load();
      });
  const auto waited = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_FALSE(got);
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_GT(asked.load(), 1);
  EXPECT_TRUE(rec_.both.empty());

  // Not interrupted, a frame that comes still arrives whole.
  TPacketHolder packet;
  SetPacket(*packet, 7, 5, {1, 0xE8, 0x03});
  pty_.Write(FrameOf(*packet));
  std::vector<bool> good;
  EXPECT_TRUE(transport_.ReceivePieces(
      std::chrono::steady_clock::now() + std::chrono::seconds(5),
      [&](const TBusPiece& piece, const TMKPPacket*) {
        good.push_back(piece.Good);
        return true;
      },
      [] { return false; }));
  EXPECT_EQ(good, std::vector<bool>{true});
}

TEST_F(TransportTest, ALineBreakInsideADecodedTextStaysOneVisibleLine) {
  transport_.AddDecodeLine("<- name\r\nnext\x7F \\x41");
  EXPECT_EQ(rec_.decode.back(), "<- name\\x0D\\x0Anext\\x7F \\x5Cx41");
  EXPECT_EQ(HideControlChars(rec_.decode.back()), "<- name\r\nnext\x7F \\x41");
}

}  // namespace
