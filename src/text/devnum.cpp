#include "text/devnum.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "text/hextext.h"
#include "text/numtext.h"

namespace mkp {

namespace {

// mantissa * 10^exponent, correctly rounded. Up to 10^22 a power of ten is
// exact in a double, and so is a mantissa below 2^53: one multiplication or
// division is then correctly rounded. Beyond, the decimal text is read back
// instead of using a power of ten that a double cannot hold exactly.
double ScaledDecimal(std::uint32_t mantissa, int exponent) {
  if (mantissa == 0) return 0.0;
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (exponent >= 0 && exponent <= 22) return mantissa * kPowers[exponent];
  if (exponent < 0 && exponent >= -22) return mantissa / kPowers[-exponent];
  char text[32];
  char* end = std::to_chars(text, text + sizeof text, mantissa).ptr;
  *end++ = 'e';
  end = std::to_chars(end, text + sizeof text, exponent).ptr;
  double value = 0.0;
  std::from_chars(text, end, value);
  return value;
}

int DecimalDigitCount(std::uint32_t value) {
  int count = 1;
  while (value >= 10) {
    value /= 10;
    ++count;
  }
  return count;
}

constexpr int kLMinExponent = -32;
constexpr int kLMaxExponent = 31;

std::uint16_t LSingleWord(int mantissa, int exponent) {
  return static_cast<std::uint16_t>(((static_cast<unsigned>(exponent) & 0x3Fu) << 10) |
                                    (static_cast<unsigned>(mantissa) & 0x3FFu));
}

}  // namespace

double DecodeLSingle(std::uint16_t word) {
  int exponent = (word >> 10) & 0x3F;
  if (exponent >= 32) exponent -= 64;
  const std::uint32_t mantissa = word & 0x3FFu;
  return ScaledDecimal(mantissa, exponent - 2);
}

// The three leading decimal digits are taken from the shortest decimal text
// that reads back as x, that is from the digits the user typed, so 0.29 keeps
// 290 and 1000 becomes 100 with exponent 3; the digits after the third are
// dropped. Working in binary (a logarithm, then 100 * x / 10^e) would lose
// the last digit of values such as 0.29 and push 1000 out of 100..999.
//
// Values the form cannot hold: 0, a negative value and a NaN give the word
// 0; a value below 1.00E-32 gives 0 as well (the nearest the form holds);
// a value of 1.00E+32 or more, infinity included, gives the largest value,
// 999 with exponent 31.
std::uint16_t EncodeLSingle(double x) {
  if (std::isnan(x) || !(x > 0.0)) return 0;
  if (std::isinf(x)) return LSingleWord(999, kLMaxExponent);
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  const std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
  const std::size_t ePos = text.find('e');
  int mantissa = 0;
  int taken = 0;
  for (std::size_t i = 0; i < ePos && taken < 3; ++i) {
    if (text[i] == '.') continue;
    mantissa = mantissa * 10 + (text[i] - '0');
    ++taken;
  }
  while (taken < 3) {
    mantissa *= 10;
    ++taken;
  }
  std::string_view expText = text.substr(ePos + 1);
  if (!expText.empty() && expText.front() == '+') expText.remove_prefix(1);
  int exponent = 0;
  std::from_chars(expText.data(), expText.data() + expText.size(), exponent);
  if (exponent < kLMinExponent) return 0;
  if (exponent > kLMaxExponent) return LSingleWord(999, kLMaxExponent);
  return LSingleWord(mantissa, exponent);
}

double DecodeSSingle(std::uint16_t word) {
  int exponent = (word >> 11) & 0x1F;
  if (exponent >= 16) exponent -= 32;
  const std::uint32_t digits = word & 0x7FFu;
  return ScaledDecimal(digits, exponent - (DecimalDigitCount(digits) - 1));
}

double DecodeMSingle(const std::array<std::uint8_t, 4>& bytes) {
  const int exponent = static_cast<int>(bytes[0]) - 127;
  const std::uint32_t mantissa = std::uint32_t{bytes[1]} | (std::uint32_t{bytes[2]} << 8) |
                                 ((std::uint32_t{bytes[3]} & 0x7Fu) << 16);
  const double value = ScaledDecimal(mantissa, exponent);
  return (bytes[3] & 0x80) != 0 && value != 0.0 ? -value : value;
}

double DecodeIeeeSingle(const std::array<std::uint8_t, 4>& bytes, bool& notANumber) {
  double value = 0.0;
  BytesToSingleBE({bytes[3], bytes[2], bytes[1], bytes[0]}, value, notANumber);
  return value;
}

std::string FormatDeviceReal(double value) {
  return FloatToStrFDot(value, TFloatFormat::Exponent, 7, 1);
}

}  // namespace mkp
