// Master page routines: the hex text of the "Header" and "Data block" fields,
// their checksum texts and the "Full packet" text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mkp {

// Trims blanks and control characters at both ends, deletes every character
// of `separators`, and cuts the rest into upper-cased pairs; a single last
// character becomes "0" and that character. Characters are not validated.
std::vector<std::string> NormaliseHexPairs(std::string_view text, std::string_view separators);

// The checksum of the field's bytes as four hex bytes, lowest first, separated
// by blanks ("43 6E 00 00"). More than MaxDataLen bytes give "00 00 00 00".
std::string ChecksumText(std::string_view fieldText);

// Header pairs each followed by a blank, a blank and the header checksum text;
// then, when the data block holds anything, " - ", its pairs each followed by
// a blank, a blank and the data checksum text.
std::string ComposeFullPacket(std::string_view headerText, std::string_view dataText,
                              std::string_view headerChecksumText, std::string_view dataChecksumText);

// The bytes that "Send" writes for the full-packet text (blanks, ".", ",",
// "-", "(" and ")" dropped). None when they would not fit the 2066-byte send
// buffer: such a packet is refused rather than cut.
std::optional<std::vector<std::uint8_t>> FullPacketBytes(std::string_view fullPacketText);

// The text the analyser describes for a raw send: header, " - ", data block,
// blanks trimmed at both ends.
std::string MasterDecodeInput(std::string_view headerText, std::string_view dataText);

}  // namespace mkp
