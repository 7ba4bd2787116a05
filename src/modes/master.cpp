#include "modes/master.h"

#include "protocol/packet.h"
#include "text/hextext.h"
#include "text/textcut.h"

namespace mkp {

std::vector<std::string> NormaliseHexPairs(std::string_view text, std::string_view separators) {
  std::string rest;
  for (char c : Trim(text))
    if (separators.find(c) == std::string_view::npos) rest.push_back(c);
  rest = UpperCase(rest);
  std::vector<std::string> pairs;
  pairs.reserve(rest.size() / 2 + 1);
  std::size_t i = 0;
  for (; i + 1 < rest.size(); i += 2) pairs.push_back(rest.substr(i, 2));
  if (i < rest.size()) pairs.push_back(std::string("0") + rest[i]);
  return pairs;
}

std::string ChecksumText(std::string_view fieldText) {
  const auto pairs = NormaliseHexPairs(fieldText, " ");
  if (pairs.size() > static_cast<std::size_t>(MaxDataLen)) return "00 00 00 00";
  std::vector<std::uint8_t> bytes;
  bytes.reserve(pairs.size());
  for (const auto& p : pairs) bytes.push_back(HexToByte(p));
  const long n = static_cast<long>(bytes.size());
  const std::uint32_t sum = n == 0 ? 0 : ComputeChecksum(bytes.data(), n, 0, n);
  std::string text;
  for (int k = 0; k < 4; ++k) {
    if (k) text.push_back(' ');
    text += ByteToHex(static_cast<std::uint8_t>(sum >> (8 * k)));
  }
  return text;
}

std::string ComposeFullPacket(std::string_view headerText, std::string_view dataText,
                              std::string_view headerChecksumText, std::string_view dataChecksumText) {
  std::string text;
  for (const auto& p : NormaliseHexPairs(headerText, " ")) {
    text += p;
    text.push_back(' ');
  }
  text.push_back(' ');
  text += headerChecksumText;
  const auto data = NormaliseHexPairs(dataText, " ");
  if (!data.empty()) {
    text += " - ";
    for (const auto& p : data) {
      text += p;
      text.push_back(' ');
    }
    text.push_back(' ');
    text += dataChecksumText;
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> FullPacketBytes(std::string_view fullPacketText) {
  const auto pairs = NormaliseHexPairs(fullPacketText, " .,-()");
  if (pairs.size() > static_cast<std::size_t>(FrameBufferSize)) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(pairs.size());
  for (const auto& p : pairs) bytes.push_back(HexToByte(p));
  return bytes;
}

std::string MasterDecodeInput(std::string_view headerText, std::string_view dataText) {
  std::string text(headerText);
  text += " - ";
  text += dataText;
  return Trim(text);
}

}  // namespace mkp
