// Checksum and frame speed. A 2066-byte frame takes 22.4 ms on the wire even
// at 921600 baud; the work here must stay a small fraction of that.
#include <benchmark/benchmark.h>

#include <cstring>

#include "protocol/packet.h"

namespace {

void BM_ComputeChecksum2048(benchmark::State& state) {
  std::uint8_t buffer[2048];
  for (int i = 0; i < 2048; ++i) buffer[i] = static_cast<std::uint8_t>(i * 31 + 7);
  for (auto _ : state) {
    benchmark::DoNotOptimize(buffer);
    benchmark::DoNotOptimize(mkp::ComputeChecksum(buffer, 2048, 0, 2048));
  }
  state.SetBytesProcessed(state.iterations() * 2048);
}
BENCHMARK(BM_ComputeChecksum2048);

void BM_BuildAndParseFrame2066(benchmark::State& state) {
  mkp::TPacketHolder packet;
  packet->DstAddr = mkp::MakeVorelAddr(1, 2, 3);
  packet->SrcAddr = mkp::MakeVorelAddr(10, 11, 12);
  packet->Command = 7;
  packet->DataType = 5;
  packet->DataLen = mkp::MaxDataLen;
  for (int i = 0; i < mkp::MaxDataLen; ++i) packet->Data[i] = static_cast<std::uint8_t>(i);
  mkp::TPacketHolder back;
  std::uint8_t frame[mkp::FrameBufferSize];
  for (auto _ : state) {
    int length = 0;
    bool ok = mkp::BuildFrame(*packet, frame, length);
    ok = ok && mkp::ParseFrame(frame, *back);
    if (!ok || length != mkp::FrameBufferSize) state.SkipWithError("frame round trip failed");
    benchmark::DoNotOptimize(frame);
  }
  state.SetBytesProcessed(state.iterations() * mkp::FrameBufferSize);
}
BENCHMARK(BM_BuildAndParseFrame2066);

}  // namespace

BENCHMARK_MAIN();
