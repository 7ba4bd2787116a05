// Fuzz target: the packet description with random text and switches.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "analysis/parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  mkp::TMKPParser parser;
  parser.ArrayAlign = data[0] & 1;
  parser.AnalyzeMaster = data[0] & 2;
  parser.AnalyzeSlave = data[0] & 4;
  const unsigned hexBits = static_cast<unsigned>(data[1]) | (static_cast<unsigned>(data[2]) << 8);
  for (std::size_t i = 0; i < parser.ShowAsHex.size(); ++i) parser.ShowAsHex[i] = (hexBits >> i) & 1;
  const std::string text(reinterpret_cast<const char*>(data + 3), size - 3);

  const std::string line = parser.DescribePacket(text);
  // The address part always comes first: six digits, ">>", six digits, a blank.
  if (line.size() < 15 || line.compare(6, 2, ">>") != 0 || line[14] != ' ') std::abort();

  parser.DescribeMaster(text);
  parser.DescribeSlave(text);

  // The value decoder alone, with the type taken from the switches byte.
  std::string values;
  parser.DecodeValues(data[0] >> 1, text, values);
  return 0;
}
