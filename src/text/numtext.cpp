#include "text/numtext.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <vector>

#include "text/textcut.h"

namespace mkp {

namespace {

// ---- decimal digits of a double, produced without the C locale ------------

// value = 0.d1 d2 d3 ... * 10^exponent (the classic "decimal record"), or
// zero with digits "0" and exponent 0. value must be finite.
struct TDecimal {
  bool negative = false;
  std::string digits;  // significant digits, no point
  int exponent = 0;    // digits before the decimal point
  bool IsZero() const { return digits.find_first_not_of('0') == std::string::npos; }
};

// Reads the output of std::to_chars for a non-negative value, scientific
// ("1.25e+01") or fixed ("12.50"), into digits and the exponent of the record.
TDecimal ParseChars(std::string_view s) {
  TDecimal d;
  const std::size_t e = s.find('e');
  const std::string_view mantissa = s.substr(0, e);
  const std::size_t point = mantissa.find('.');
  int exponent = static_cast<int>(point == std::string_view::npos ? mantissa.size() : point);
  for (char c : mantissa)
    if (c != '.') d.digits.push_back(c);
  if (e != std::string_view::npos) {
    std::string_view es = s.substr(e + 1);
    if (!es.empty() && es.front() == '+') es.remove_prefix(1);
    int exp10 = 0;
    std::from_chars(es.data(), es.data() + es.size(), exp10);
    exponent += exp10;
  }
  // Leading zeros shift the exponent.
  std::size_t first = 0;
  while (first + 1 < d.digits.size() && d.digits[first] == '0') {
    ++first;
    --exponent;
  }
  d.digits.erase(0, first);
  d.exponent = exponent;
  return d;
}

std::string Chars(double a, std::chars_format format, int precision) {
  // Enough for the exact expansion of any double in either format.
  std::vector<char> buf(static_cast<std::size_t>(precision) + 400);
  const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), a, format, precision);
  return std::string(buf.data(), res.ptr);
}

// Adds one unit in the last place of a digit text (a "." is stepped over);
// a carry out of the first digit puts a "1" in front.
void IncrementDigits(std::string& text) {
  for (std::size_t i = text.size(); i-- > 0;) {
    if (text[i] == '.') continue;
    if (text[i] != '9') {
      ++text[i];
      return;
    }
    text[i] = '0';
  }
  text.insert(0, 1, '1');
}

// True when the exact expansion text `exact` has, from digit position `cut`
// (counting digits only), a 5 followed by nothing but zeros.
bool IsExactTie(const std::string& exact, std::size_t cut) {
  std::size_t n = 0;
  bool seenFive = false;
  for (char c : exact) {
    if (c == '.') continue;
    if (c == 'e') break;
    if (n == cut) {
      if (c != '5') return false;
      seenFive = true;
    } else if (n > cut && c != '0') {
      return false;
    }
    ++n;
  }
  return seenFive;
}

// std::to_chars rounds an exact half to even; the classic number texts
// round it away from zero (0.125 to two digits gives 0.13). A tie can only
// show as "500" in three extra digits, and only then is the exact expansion
// of the double consulted.

// Rounded to `significant` digits (1..40).
TDecimal ToDecimalSignificant(double value, int significant) {
  const bool negative = std::signbit(value);
  const double a = std::fabs(value);
  TDecimal d;
  if (a == 0.0) {
    d.negative = negative;
    d.digits.assign(static_cast<std::size_t>(significant), '0');
    d.exponent = 1;
    return d;
  }
  const std::string probe = Chars(a, std::chars_format::scientific, significant + 2);
  if (probe.compare(static_cast<std::size_t>(significant) + 1, 3, "500") == 0) {
    const std::string exact = Chars(a, std::chars_format::scientific, 800);
    if (IsExactTie(exact, static_cast<std::size_t>(significant))) {
      d = ParseChars(exact);
      d.digits.resize(static_cast<std::size_t>(significant));
      IncrementDigits(d.digits);
      if (d.digits.size() > static_cast<std::size_t>(significant)) {
        d.digits.pop_back();
        ++d.exponent;
      }
      d.negative = negative;
      return d;
    }
  }
  d = ParseChars(Chars(a, std::chars_format::scientific, significant - 1));
  d.negative = negative;
  return d;
}

// Rounded to `decimals` digits after the point (0..40).
TDecimal ToDecimalFixed(double value, int decimals) {
  const bool negative = std::signbit(value);
  const double a = std::fabs(value);
  std::string text = Chars(a, std::chars_format::fixed, decimals + 3);
  if (text.compare(text.size() - 3, 3, "500") == 0) {
    const std::string exact = Chars(a, std::chars_format::fixed, 1100);
    const std::size_t intDigits = exact.find('.');
    if (IsExactTie(exact, intDigits + static_cast<std::size_t>(decimals))) {
      text = exact.substr(0, intDigits + (decimals > 0 ? 1 + static_cast<std::size_t>(decimals) : 0));
      IncrementDigits(text);
      TDecimal d = ParseChars(text);
      d.negative = negative;
      return d;
    }
  }
  TDecimal d = ParseChars(Chars(a, std::chars_format::fixed, decimals));
  d.negative = negative;
  return d;
}

std::string SpecialText(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

std::string ExponentText(int exponent, int minDigits, bool alwaysSign) {
  std::string out;
  if (exponent < 0)
    out.push_back('-');
  else if (alwaysSign)
    out.push_back('+');
  std::string mag = std::to_string(exponent < 0 ? -static_cast<long>(exponent) : exponent);
  if (static_cast<int>(mag.size()) < minDigits)
    mag.insert(0, static_cast<std::size_t>(minDigits) - mag.size(), '0');
  return out + mag;
}

std::string FormatGeneral(double value, int precision, int digits) {
  TDecimal d = ToDecimalSignificant(value, precision);
  if (d.IsZero()) return "0";
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  std::string out = d.negative ? "-" : "";
  const int n = static_cast<int>(d.digits.size());
  if (d.exponent > precision || d.exponent < -3) {
    out.push_back(d.digits[0]);
    if (n > 1) {
      out.push_back('.');
      out.append(d.digits, 1, std::string::npos);
    }
    out.push_back('E');
    out += ExponentText(d.exponent - 1, digits, false);
    return out;
  }
  if (d.exponent <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-d.exponent), '0');
    out += d.digits;
  } else if (d.exponent >= n) {
    out += d.digits;
    out.append(static_cast<std::size_t>(d.exponent - n), '0');
  } else {
    out.append(d.digits, 0, static_cast<std::size_t>(d.exponent));
    out.push_back('.');
    out.append(d.digits, static_cast<std::size_t>(d.exponent), std::string::npos);
  }
  return out;
}

std::string FormatExponent(double value, int precision, int digits) {
  TDecimal d = ToDecimalSignificant(value, precision);
  const bool zero = d.IsZero();
  std::string out = (d.negative && !zero) ? "-" : "";
  out.push_back(d.digits[0]);
  if (d.digits.size() > 1) {
    out.push_back('.');
    out.append(d.digits, 1, std::string::npos);
  }
  out.push_back('E');
  out += ExponentText(zero ? 0 : d.exponent - 1, std::max(digits, 1), true);
  return out;
}

// Fixed and Number: `digits` decimals, the value first rounded to `precision`
// significant digits; a value with more integer digits than `precision`
// falls back to the general form.
std::string FormatFixed(double value, int precision, int digits, bool thousands) {
  TDecimal sig = ToDecimalSignificant(value, precision);
  if (!sig.IsZero() && sig.exponent > precision) return FormatGeneral(value, precision, 0);
  // Whichever rounding is coarser wins: significant digits or decimals.
  TDecimal d;
  if (sig.IsZero() || precision - sig.exponent >= digits) {
    d = ToDecimalFixed(value, digits);
  } else {
    d = sig;
  }
  // Digits before and after the point.
  std::string intPart;
  std::string fracPart;
  const int n = static_cast<int>(d.digits.size());
  if (d.exponent > 0) {
    for (int i = 0; i < d.exponent; ++i)
      intPart.push_back(i < n ? d.digits[static_cast<std::size_t>(i)] : '0');
  } else {
    intPart = "0";
  }
  for (int k = 0; k < digits; ++k) {
    const int i = d.exponent + k;  // index into digits
    fracPart.push_back(i >= 0 && i < n ? d.digits[static_cast<std::size_t>(i)] : '0');
  }
  const std::size_t firstNonZero = intPart.find_first_not_of('0');
  intPart = firstNonZero == std::string::npos ? "0" : intPart.substr(firstNonZero);
  if (thousands && intPart.size() > 3) {
    std::string grouped;
    const std::size_t lead = intPart.size() % 3;
    for (std::size_t i = 0; i < intPart.size(); ++i) {
      if (i != 0 && (i - lead) % 3 == 0) grouped.push_back(',');
      grouped.push_back(intPart[i]);
    }
    intPart = grouped;
  }
  const bool zero = intPart.find_first_not_of("0,") == std::string::npos &&
                    fracPart.find_first_not_of('0') == std::string::npos;
  std::string out = (d.negative && !zero) ? "-" : "";
  out += intPart;
  if (digits > 0) {
    out.push_back('.');
    out += fracPart;
  }
  return out;
}

}  // namespace

// ---- Locale-independent decimal numbers ----------------------------------------

double StrToFloatDot(std::string_view text) {
  const std::string t = Trim(text);
  std::string_view s(t);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  // A second sign ("--1", "+-1") is not a number.
  if (s.empty() || s.front() == '+' || s.front() == '-')
    throw EConvertError("'" + t + "' is not a valid floating point value");
  double value = 0.0;
  const auto res = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
  if (res.ec == std::errc::invalid_argument || res.ptr != s.data() + s.size())
    throw EConvertError("'" + t + "' is not a valid floating point value");
  if (res.ec == std::errc::result_out_of_range) return 0.0;
  return negative ? -value : value;
}

std::string FloatToStrDot(double value) {
  return FloatToStrFDot(value, TFloatFormat::General, 15, 0);
}

std::string FloatToStrFDot(double value, TFloatFormat format, int precision, int digits) {
  if (!std::isfinite(value)) return SpecialText(value);
  // Beyond 18 significant digits a double carries nothing more.
  precision = std::clamp(precision, 1, 18);
  switch (format) {
    case TFloatFormat::General:
      return FormatGeneral(value, precision, std::clamp(digits, 0, 4));
    case TFloatFormat::Exponent:
      return FormatExponent(value, precision, std::clamp(digits, 0, 4));
    case TFloatFormat::Fixed:
      return FormatFixed(value, precision, std::clamp(digits, 0, 18), false);
    case TFloatFormat::Number:
      return FormatFixed(value, precision, std::clamp(digits, 0, 18), true);
  }
  return FormatGeneral(value, precision, 0);
}

std::optional<std::int32_t> DecimalToInt(std::string_view text) {
  const char* b = text.data();
  const char* e = b + text.size();
  const bool plus = b != e && *b == '+';
  if (plus) ++b;  // from_chars takes "-" only; "+-5" has one sign too many
  if (b == e || ((plus || *b != '-') && (*b < '0' || *b > '9'))) return std::nullopt;
  std::int32_t value = 0;
  auto [p, ec] = std::from_chars(b, e, value);
  if (ec != std::errc() || p != e) return std::nullopt;
  return value;
}

}  // namespace mkp
