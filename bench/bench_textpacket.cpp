// Speed of reading packet text (the panes' form) into a packet: what the
// slave does for every table row it compares and mkptool for every input.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "protocol/packet.h"

namespace {

std::string PacketText(int dataBytes) {
  static const char* const digits = "0123456789ABCDEF";
  std::string text = "010203.0A0B0C.07.05.";
  for (int b : {dataBytes & 0xFF, dataBytes >> 8}) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  text += " - ";
  for (int i = 0; i < dataBytes; ++i) {
    const auto b = static_cast<std::uint8_t>(i * 37 + 11);
    text += digits[b >> 4];
    text += digits[b & 15];
    text += ' ';
  }
  return text;
}

void BM_TextToPacket(benchmark::State& state) {
  const std::string text = PacketText(static_cast<int>(state.range(0)));
  mkp::TPacketHolder packet;
  for (auto _ : state) {
    bool ok = mkp::TextToPacket(text, *packet);
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_TextToPacket)->Arg(256)->Arg(2048);

}  // namespace

BENCHMARK_MAIN();
