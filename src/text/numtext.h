// Locale-independent decimal numbers: "." is the decimal separator whatever
// the locale.
#pragma once

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

}  // namespace mkp
