#include "text/hextext.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "text/textcut.h"

namespace mkp {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The two leading digit values of the trimmed, upper-cased text; false when
// there are fewer than two characters or either is not a hex digit.
bool LeadingDigitPair(std::string_view text, int& high, int& low) {
  if (text.size() >= 2) {  // the usual case: two digits at the start, nothing to trim
    high = HexDigitValue(text[0]);
    low = HexDigitValue(text[1]);
    if (high >= 0 && low >= 0) return true;
  }
  const std::string t = UpperCase(Trim(text));
  if (t.size() < 2) return false;
  high = HexDigitValue(t[0]);
  low = HexDigitValue(t[1]);
  return high >= 0 && low >= 0;
}

}  // namespace

// ---- Bytes and hexadecimal text ---------------------------------------------

std::string ByteToHex(std::uint8_t value) {
  return std::string{kHexDigits[value / 16], kHexDigits[value % 16]};
}

std::uint8_t HexToByte(std::string_view text) {
  int high = 0;
  int low = 0;
  if (!LeadingDigitPair(text, high, low)) return 0;
  return static_cast<std::uint8_t>(high * 16 + low);
}

std::uint8_t DecPairToByte(std::string_view text) {
  int high = 0;
  int low = 0;
  if (!LeadingDigitPair(text, high, low)) return 0;
  return static_cast<std::uint8_t>((high * 10 + low) & 0xFF);
}

std::string BytesToHexText(const std::uint8_t* bytes, std::size_t size, long count) {
  if (count <= 0 || bytes == nullptr) return {};
  const std::size_t n = std::min(size, static_cast<std::size_t>(count));
  std::string out;
  out.reserve(n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(kHexDigits[bytes[i] / 16]);
    out.push_back(kHexDigits[bytes[i] % 16]);
    out.push_back(' ');
  }
  return out;
}

void ZeroBytes(std::uint8_t* buffer, std::size_t lastIndex) {
  if (buffer == nullptr) return;
  std::fill(buffer, buffer + lastIndex + 1, std::uint8_t{0});
}

void SwapBytes(long i, long j, std::uint8_t* array, std::size_t size) {
  if (array == nullptr || i < 0 || j < 0) return;
  if (static_cast<std::size_t>(i) >= size || static_cast<std::size_t>(j) >= size) return;
  std::swap(array[i], array[j]);
}

// ---- Four-byte IEEE singles ----------------------------------------------------

void BytesToSingleBE(const std::array<std::uint8_t, 4>& bytes, double& value, bool& noValue) {
  const bool exponentAllOnes = (bytes[0] & 0x7F) == 0x7F && (bytes[1] & 0x80) != 0;
  const bool mantissaSet = (bytes[1] & 0x7F) != 0 || bytes[2] != 0 || bytes[3] != 0;
  if (exponentAllOnes && mantissaSet) {
    noValue = true;
    value = 0.0;
    return;
  }
  noValue = false;
  const std::uint32_t bits = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                             (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
  value = static_cast<double>(std::bit_cast<float>(bits));
}

std::array<std::uint8_t, 4> SingleBEToBytes(double value, bool noValue) {
  if (noValue) return {0x7F, 0xFF, 0xFF, 0xFF};
  float f = 0.0F;
  constexpr double kMax = std::numeric_limits<float>::max();
  if (std::isfinite(value) && std::fabs(value) > kMax) {
    // Round to nearest by hand: the largest single is odd, so the half-way
    // point (max + half an ulp) already rounds to infinity.
    const double halfUlp = std::ldexp(1.0, 103);
    const float mag = std::fabs(value) < kMax + halfUlp ? std::numeric_limits<float>::max()
                                                        : std::numeric_limits<float>::infinity();
    f = value < 0 ? -mag : mag;
  } else {
    f = static_cast<float>(value);
  }
  const auto bits = std::bit_cast<std::uint32_t>(f);
  return {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
          static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
}

}  // namespace mkp
