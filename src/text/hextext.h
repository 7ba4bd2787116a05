// Hexadecimal and number text helpers.
//
// Every text here is an 8-bit (Windows-1251) string; positions count from 1
// where a helper speaks of positions, comparisons are by character code.
// Hexadecimal output is always upper case.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mkp {

// Raised by StrToFloatDot for a text that is not a number.
class EConvertError : public std::invalid_argument {
public:
  using std::invalid_argument::invalid_argument;
};

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

// ---- Locale-independent decimal numbers -------------------------------------

// "." is the decimal separator whatever the locale. Leading and trailing
// blanks are allowed, as are one leading sign and an exponent ("-1.5E3");
// "INF", "-INF" and "NAN" (any case), which FloatToStrDot writes, read back.
// Overflow or underflow gives 0. A text that is not a number throws
// EConvertError.
double StrToFloatDot(std::string_view text);
// General format with 15 significant digits ("1.5", "0.1", "1E20", "1E-7").
std::string FloatToStrDot(double value);

enum class TFloatFormat { General, Exponent, Fixed, Number };
// Conversion with an explicit format, precision and digit count, always with
// "." as separator; an exact half rounds away from zero.
// General: precision significant digits, trailing zeros dropped, exponent
// form ("1.5E-7", at least `digits` exponent digits) below 0.0001 or with
// more than precision integer digits. Exponent: "d.dddE+x" with precision
// significant digits and at least `digits` exponent digits. Fixed: `digits`
// decimals of the value rounded to precision significant digits (the general
// form when it has more integer digits than that). Number: as Fixed, with ","
// between thousands. Infinities give "INF"/"-INF", NaN "NAN"; a result that
// shows only zeros carries no "-".
std::string FloatToStrFDot(double value, TFloatFormat format, int precision, int digits);

// A signed decimal integer: an optional "+" or "-", then digits only, within
// 32 bits; no blanks. None for anything else.
std::optional<std::int32_t> DecimalToInt(std::string_view text);

// ---- Cutting and searching text ----------------------------------------------
// An empty marker or separator never occurs.

// Trims characters at or below the blank at both ends (blanks, control chars).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
// ASCII letters upper-cased, other bytes unchanged.
std::string UpperCase(std::string_view text);

// Deletes every occurrence of marker, repeating until none is left.
void RemoveAll(std::string& text, std::string_view marker);
// Replaces old by replacement, leftmost first, until old no longer occurs.
// Nothing happens when old equals replacement, or when old is empty. A
// replacement that contains old is replaced once per original occurrence.
// A rewrite that would grow without end stops after a bounded amount of work.
void ReplaceAll(std::string& text, std::string_view old, std::string_view replacement);
// Every run of blanks becomes one blank.
void SqueezeBlanks(std::string& text);
// While both markers occur, deletes from the first opening marker through the
// end of the first closing marker that follows it. A closing marker standing
// before every opening marker is left in the text.
void RemoveSpans(std::string& text, std::string_view opening, std::string_view closing);
// If "//" occurs, deletes from it to the end.
void CutLineComment(std::string& text);
// The first two characters (fewer if the text is shorter).
std::string FirstTwoChars(std::string_view text);
// Deletes the first two characters and the blanks after them; true when the
// text had at least two characters.
bool DropTwoChars(std::string& text);
// Leading blanks trimmed; the part before the first blank.
std::string FirstWord(std::string_view text);
// Leading blanks trimmed; deletes through the first blank and trims again, or
// empties the text when there is no blank. True when the text was not empty
// after the first trim.
bool DropFirstWord(std::string& text);
// The part before the first separator; the whole text without one.
std::string TextBefore(std::string_view text, std::string_view separator);
// Deletes through the first separator and returns true; without one empties
// the text and returns false.
bool DropThrough(std::string& text, std::string_view separator);
// Left and right of the first separator; both empty when it does not occur.
void SplitAtFirst(std::string_view text, std::string_view separator, std::string& left,
                  std::string& right);
// Deletes through the end of the first start marker (when it occurs), then
// from the first end marker onward (when it occurs in what is left).
std::string TextBetween(std::string_view text, std::string_view start, std::string_view end);
// True when start occurs and end occurs somewhere after the end of it.
bool HasTextBetween(std::string_view text, std::string_view start, std::string_view end);
// Appends fill until the length is at least width.
std::string PadToWidth(std::string_view text, std::string_view fill, std::size_t width);
// Puts fill in front until the length is at least width or reaches 255
// (a longer text comes back unchanged; nothing is cut off).
std::string PadShortLeft(std::string_view text, std::string_view fill, std::size_t width);

}  // namespace mkp
