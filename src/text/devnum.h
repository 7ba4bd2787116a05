// The device's own real-number formats: L_SINGLE, S_SINGLE, M_SINGLE and the
// IEEE-754 single as packets carry it, and the one text form of device reals.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace mkp {

// Bits 15..10: exponent e (6-bit two's complement); bits 9..0: mantissa m.
// Value = m / 100 * 10^e.
double DecodeLSingle(std::uint16_t word);
// Keeps the three leading decimal digits of x as written in decimal
// (truncating the rest) as the mantissa 100..999 with its exponent: 0.29
// gives 290 with exponent -1, 1000 gives 100 with exponent 3. 0, negative
// values, NaN and values below 1.00E-32 give 0; values of 1.00E+32 and more
// (infinity included) give the largest, 999 with exponent 31.
std::uint16_t EncodeLSingle(double x);
// Bits 15..11: exponent e (5-bit two's complement); bits 10..0: digits m,
// read with the decimal point after the first digit.
double DecodeSSingle(std::uint16_t word);
// Byte 1: exponent biased by 127; bytes 2..4: 23-bit mantissa, low first, and
// the sign in the top bit of byte 4.
double DecodeMSingle(const std::array<std::uint8_t, 4>& bytes);
// The IEEE single stored low byte first. A NaN gives 0 and sets notANumber.
double DecodeIeeeSingle(const std::array<std::uint8_t, 4>& bytes, bool& notANumber);
// Exponent form with seven significant digits: 12.5 -> "1.250000E+1";
// infinities give "INF"/"-INF", a NaN "NAN".
std::string FormatDeviceReal(double value);

}  // namespace mkp
