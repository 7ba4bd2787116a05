// The cost of a capture: a frame written to a pcapng file (one write to the
// file per frame, the decode line converted to UTF-8 for its comment), and
// the transport's logging of a received frame with and without the capture.
// The writing must cost well under 2 us of CPU per frame beyond the logging.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "analysis/parser.h"
#include "protocol/capture.h"
#include "protocol/framesplit.h"
#include "protocol/transport.h"
#include "text/cp1251.h"

namespace {

std::vector<std::uint8_t> AnswerFrame() {
  mkp::TPacketHolder p;
  mkp::TextToPacket("0A0B0C.010203.07.05.0300 - 01 E8 03", *p);
  std::vector<std::uint8_t> frame(mkp::FrameBufferSize);
  int n = 0;
  mkp::BuildFrame(*p, frame.data(), n);
  frame.resize(static_cast<std::size_t>(n));
  return frame;
}

std::string TempDir() {
  char name[] = "/tmp/mkp-bench-capture-XXXXXX";
  return mkdtemp(name);
}

// The capture's part alone: one frame record (as the transport hands it) to
// the file.
void BM_CaptureFrame(benchmark::State& state) {
  const std::string dir = TempDir();
  mkp::TCaptureWriter writer;
  writer.Open(dir + "/b.pcapng", {"/dev/ttyUSB0"});
  const auto frame = AnswerFrame();
  const mkp::TPaneLine decode{mkp::Utf8ToCp1251("<- 010203>>0A0B0C ANSW type 05 : reg 01 = 1000 "),
                              mkp::TLineStamp::Now(mkp::TLineKind::Received), {}};
  const mkp::TFrameRecord record{1, false, true, frame.data(), frame.size(), mkp::TMonoClock::now(), &decode};
  for (auto _ : state) writer.Frame(record);
  if (writer.Failed()) state.SkipWithError(writer.Error().c_str());
  state.SetItemsProcessed(static_cast<std::int64_t>(writer.Frames()));
  writer.Close();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CaptureFrame);

// A received frame logged by the transport (described, no panes), without
// (0) and with (1) a capture: the difference is what capturing adds.
void BM_LogReceivedFrame(benchmark::State& state) {
  const std::string dir = TempDir();
  mkp::TMKPParser parser;
  mkp::TMKProtocolTransport transport;
  transport.SetParser(&parser);
  transport.DecodeEnabled = true;
  mkp::TCaptureWriter writer;
  if (state.range(0) == 1) {
    writer.Open(dir + "/b.pcapng", {"/dev/ttyUSB0"});
    transport.SetFrameTap(&writer);
  }
  mkp::TBusPiece piece{true, AnswerFrame(), mkp::TMonoClock::now()};
  std::vector<std::uint8_t> buffer(mkp::FrameBufferSize, 0);
  std::copy(piece.Bytes.begin(), piece.Bytes.end(), buffer.begin());
  mkp::TPacketHolder packet;
  mkp::ParseFrame(buffer.data(), *packet);
  for (auto _ : state) transport.LogPiece(piece, &packet.Packet, "<- ");
  transport.SetFrameTap(nullptr);
  writer.Close();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LogReceivedFrame)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
