// Speed of the packet description: it must grow in proportion to the data.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/parser.h"

namespace {

std::string Hex(std::uint8_t b) {
  static const char* const digits = "0123456789ABCDEF";
  return {digits[b >> 4], digits[b & 15]};
}

// An answer of the given type whose data block holds `total` bytes: the
// register byte and the values, in the transport's text form.
std::string AnswerText(int type, int total) {
  const int size = total - 1;
  std::vector<std::uint8_t> data;
  std::uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<std::uint8_t>(seed >> 16);
  };
  while (static_cast<int>(data.size()) < size) {
    if (type == 3) {  // strings of 15 characters
      for (int i = 0; i < 15; ++i) data.push_back(static_cast<std::uint8_t>('A' + i));
      data.push_back(0);
    } else if (type == 125) {  // struct(01 05 0B 03): BYTE, WORD, DWORD, string
      for (std::uint8_t b : {4, 1, 5, 11, 3}) data.push_back(b);
      for (int i = 0; i < 7; ++i) data.push_back(next());
      for (std::uint8_t b : {0x61, 0x62, 0x63, 0x00}) data.push_back(b);
    } else {
      data.push_back(next());
    }
  }
  data.resize(static_cast<std::size_t>(size));
  std::string text = "010203.0A0B0C.07." + Hex(static_cast<std::uint8_t>(type)) + "." +
                     Hex(static_cast<std::uint8_t>(total & 0xFF)) +
                     Hex(static_cast<std::uint8_t>(total >> 8)) + " - 01 ";
  for (std::uint8_t b : data) text += Hex(b) + " ";
  return text;
}

void Describe(benchmark::State& state, int type) {
  const std::string text = AnswerText(type, static_cast<int>(state.range(0)));
  mkp::TMKPParser parser;
  for (auto _ : state) {
    std::string line = parser.DescribePacket(text);
    benchmark::DoNotOptimize(line);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_DescribeWord(benchmark::State& s) { Describe(s, 5); }
void BM_DescribeQWord(benchmark::State& s) { Describe(s, 39); }
void BM_DescribeIeeeSingle(benchmark::State& s) { Describe(s, 25); }
void BM_DescribeStrings(benchmark::State& s) { Describe(s, 3); }
void BM_DescribeStruct(benchmark::State& s) { Describe(s, 125); }

}  // namespace

BENCHMARK(BM_DescribeWord)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DescribeQWord)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DescribeIeeeSingle)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DescribeStrings)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DescribeStruct)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
