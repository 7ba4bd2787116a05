// Bytes and hexadecimal text: hex digits and bytes, byte runs as hex text,
// and four-byte IEEE singles. Hexadecimal output is always upper case.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mkp {

// ---- Bytes and hexadecimal text -------------------------------------------

// Two upper-case hex digits, leading zero kept: 5 -> "05", 26 -> "1A".
std::string ByteToHex(std::uint8_t value);
// Value of a hex digit of either case, or -1.
inline constexpr std::array<std::int8_t, 256> HexDigitValues = [] {
  std::array<std::int8_t, 256> values{};
  for (auto& v : values) v = -1;
  for (int c = '0'; c <= '9'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
  return values;
}();
inline int HexDigitValue(char c) { return HexDigitValues[static_cast<unsigned char>(c)]; }

// Trims blanks (and control characters) at both ends, upper-cases, and reads the
// first two characters as a hex byte. Fewer than two characters or a
// non-hex character among the first two gives 0; the rest is ignored.
std::uint8_t HexToByte(std::string_view text);
// As HexToByte, but the value is first digit * 10 + second digit (A..F
// counting 10..15), kept to its low 8 bits: binary-coded decimal.
std::uint8_t DecPairToByte(std::string_view text);
// The first count bytes (clamped to size; negative gives none), each as two
// hex digits followed by one blank.
std::string BytesToHexText(const std::uint8_t* bytes, std::size_t size, long count);
// Sets bytes 0..lastIndex (lastIndex + 1 bytes) to zero.
void ZeroBytes(std::uint8_t* buffer, std::size_t lastIndex);
// Exchanges elements i and j when both lie within the array.
void SwapBytes(long i, long j, std::uint8_t* array, std::size_t size);

// ---- Four-byte IEEE singles, most significant byte first -------------------

// noValue is set (and value 0) when the bytes form a NaN; infinities pass.
void BytesToSingleBE(const std::array<std::uint8_t, 4>& bytes, double& value, bool& noValue);
// With noValue set gives 7F FF FF FF; otherwise the value rounded to single.
std::array<std::uint8_t, 4> SingleBEToBytes(double value, bool noValue);

}  // namespace mkp
