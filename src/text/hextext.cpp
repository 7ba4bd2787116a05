#include "text/hextext.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <vector>

namespace mkp {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }


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

// An empty marker never occurs.
std::size_t FindMarker(std::string_view text, std::string_view marker, std::size_t from = 0) {
  if (marker.empty() || from > text.size()) return std::string_view::npos;
  return text.find(marker, from);
}

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() &&
         std::string_view(text).substr(text.size() - tail.size()) == tail;
}

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

// ---- Cutting and searching text ------------------------------------------------

std::string Trim(std::string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && IsBlankOrControl(text[b])) ++b;
  while (e > b && IsBlankOrControl(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string TrimLeft(std::string_view text) {
  std::size_t b = 0;
  while (b < text.size() && IsBlankOrControl(text[b])) ++b;
  return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text) {
  std::size_t e = text.size();
  while (e > 0 && IsBlankOrControl(text[e - 1])) --e;
  return std::string(text.substr(0, e));
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

void RemoveAll(std::string& text, std::string_view marker) {
  if (marker.empty() || text.find(marker) == std::string::npos) return;
  // One pass: a marker completed at the end of what is kept is dropped at
  // once, which is exactly what deleting the leftmost occurrence again and
  // again leaves behind.
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out.push_back(c);
    if (c == marker.back() && EndsWith(out, marker)) out.resize(out.size() - marker.size());
  }
  text = std::move(out);
}

void ReplaceAll(std::string& text, std::string_view old, std::string_view replacement) {
  if (old.empty() || old == replacement) return;
  if (text.find(old) == std::string::npos) return;
  if (replacement.find(old) != std::string_view::npos) {
    // Repeating would never end: replace each original occurrence once.
    std::string out;
    std::size_t pos = 0;
    for (std::size_t hit = text.find(old); hit != std::string::npos;
         hit = text.find(old, pos)) {
      out.append(text, pos, hit - pos);
      out.append(replacement);
      pos = hit + old.size();
    }
    out.append(text, pos, std::string::npos);
    text = std::move(out);
    return;
  }
  // Leftmost first until none is left. The kept text never holds an
  // occurrence; the replacement is fed back in front of the rest, so an
  // occurrence it forms with its neighbours is found next, as a restart from
  // the beginning would find it. A rewrite that keeps growing stops after a
  // bounded amount of work instead of running forever.
  const std::size_t workLimit = (text.size() + 1) * 64 + 1'000'000;
  std::size_t work = 0;
  std::string out;
  out.reserve(text.size());
  std::string pending;  // characters to read before text[i], last one first
  std::size_t i = 0;
  while (!pending.empty() || i < text.size()) {
    char c = 0;
    if (!pending.empty()) {
      c = pending.back();
      pending.pop_back();
    } else {
      c = text[i++];
    }
    out.push_back(c);
    if (c == old.back() && EndsWith(out, old)) {
      out.resize(out.size() - old.size());
      work += replacement.size() + 1;
      if (work > workLimit) {
        out.append(replacement);
        break;
      }
      pending.append(replacement.rbegin(), replacement.rend());
    }
  }
  out.append(pending.rbegin(), pending.rend());
  if (i < text.size()) out.append(text, i, std::string::npos);
  text = std::move(out);
}

void SqueezeBlanks(std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(c);
  }
  text = std::move(out);
}

void RemoveSpans(std::string& text, std::string_view opening, std::string_view closing) {
  if (opening.empty() || closing.empty() || text.find(opening) == std::string::npos) return;
  // Each step deletes from the first opening marker through the end of the
  // first closing marker that ends after the opening one begins (in "A(*)B"
  // the "*)" overlaps the "(*", and "(*)" goes). The text is rebuilt in one
  // pass: kept holds the text before the last deletion point, which never
  // contains a whole opening marker, and rest is what is still to be seen.
  // A marker can only straddle the two within a few characters of the join.
  const std::string_view source = text;
  std::string kept;
  kept.reserve(text.size());
  std::size_t rest = 0;  // start of the unseen part of source
  auto size = [&] { return kept.size() + (source.size() - rest); };
  auto at = [&](std::size_t k) { return k < kept.size() ? kept[k] : source[rest + k - kept.size()]; };
  auto find = [&](std::string_view marker, std::size_t from) -> std::size_t {
    for (std::size_t k = from; k < kept.size(); ++k) {  // a few positions at most
      if (k + marker.size() > size()) return std::string::npos;
      std::size_t j = 0;
      while (j < marker.size() && at(k + j) == marker[j]) ++j;
      if (j == marker.size()) return k;
    }
    const std::size_t first = std::max(from, kept.size());
    const std::size_t found = source.find(marker, rest + (first - kept.size()));
    return found == std::string_view::npos ? std::string::npos : found - rest + kept.size();
  };
  for (;;) {
    const std::size_t open = find(opening, kept.size() >= opening.size() ? kept.size() - opening.size() + 1 : 0);
    if (open == std::string::npos) break;
    const std::size_t close = find(closing, open >= closing.size() ? open - closing.size() + 1 : 0);
    if (close == std::string::npos) break;
    const std::size_t end = close + closing.size();  // past the deleted span, > open
    const std::size_t keptSize = kept.size();
    if (end <= keptSize) {
      kept.erase(open, end - open);
    } else {
      if (open >= keptSize)
        kept.append(source.substr(rest, open - keptSize));
      else
        kept.resize(open);
      rest += end - keptSize;
    }
  }
  kept.append(source.substr(rest));
  text = std::move(kept);
}

void CutLineComment(std::string& text) {
  const std::size_t pos = text.find("//");
  if (pos != std::string::npos) text.erase(pos);
}

std::string FirstTwoChars(std::string_view text) { return std::string(text.substr(0, 2)); }

bool DropTwoChars(std::string& text) {
  const bool hadTwo = text.size() >= 2;
  text.erase(0, 2);
  text = TrimLeft(text);
  return hadTwo;
}

std::string FirstWord(std::string_view text) {
  const std::string t = TrimLeft(text);
  const std::size_t blank = t.find(' ');
  return blank == std::string::npos ? t : t.substr(0, blank);
}

bool DropFirstWord(std::string& text) {
  text = TrimLeft(text);
  if (text.empty()) return false;
  const std::size_t blank = text.find(' ');
  if (blank == std::string::npos) {
    text.clear();
  } else {
    text = TrimLeft(std::string_view(text).substr(blank + 1));
  }
  return true;
}

std::string TextBefore(std::string_view text, std::string_view separator) {
  const std::size_t pos = FindMarker(text, separator);
  return std::string(pos == std::string_view::npos ? text : text.substr(0, pos));
}

bool DropThrough(std::string& text, std::string_view separator) {
  const std::size_t pos = FindMarker(text, separator);
  if (pos == std::string::npos) {
    text.clear();
    return false;
  }
  text.erase(0, pos + separator.size());
  return true;
}

void SplitAtFirst(std::string_view text, std::string_view separator, std::string& left,
                  std::string& right) {
  const std::size_t pos = FindMarker(text, separator);
  if (pos == std::string_view::npos) {
    left.clear();
    right.clear();
    return;
  }
  left = std::string(text.substr(0, pos));
  right = std::string(text.substr(pos + separator.size()));
}

std::string TextBetween(std::string_view text, std::string_view start, std::string_view end) {
  const std::size_t s = FindMarker(text, start);
  if (s != std::string_view::npos) text.remove_prefix(s + start.size());
  const std::size_t e = FindMarker(text, end);
  if (e != std::string_view::npos) text = text.substr(0, e);
  return std::string(text);
}

bool HasTextBetween(std::string_view text, std::string_view start, std::string_view end) {
  const std::size_t s = FindMarker(text, start);
  if (s == std::string_view::npos) return false;
  return FindMarker(text, end, s + start.size()) != std::string_view::npos;
}

std::string PadToWidth(std::string_view text, std::string_view fill, std::size_t width) {
  std::string out(text);
  if (fill.empty()) return out;
  while (out.size() < width) out.append(fill);
  return out;
}

std::string PadShortLeft(std::string_view text, std::string_view fill, std::size_t width) {
  constexpr std::size_t kShortMax = 255;
  std::string out(text);
  if (fill.empty()) return out;
  const std::size_t target = std::min(width, kShortMax);
  std::string prefix;
  while (out.size() + prefix.size() < target) prefix.append(fill);
  return prefix + out;
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
