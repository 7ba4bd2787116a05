#include "text/numtext.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace mkp {
namespace {

TEST(FloatTextTest, StrToFloatDotReadsDotTextsAndTrims) {
  EXPECT_EQ(StrToFloatDot("1.5"), 1.5);
  EXPECT_EQ(StrToFloatDot("  -0.25\t"), -0.25);
  EXPECT_EQ(StrToFloatDot("+3"), 3.0);
  EXPECT_EQ(StrToFloatDot("1E3"), 1000.0);
  EXPECT_EQ(StrToFloatDot("2.5e-1"), 0.25);
  EXPECT_EQ(StrToFloatDot(".5"), 0.5);
  EXPECT_EQ(StrToFloatDot("0.29"), 0.29);
  EXPECT_EQ(StrToFloatDot("1e400"), 0.0);   // overflow
  EXPECT_EQ(StrToFloatDot("-1e400"), 0.0);
  EXPECT_EQ(StrToFloatDot("1e-400"), 0.0);  // underflow
  // The texts FloatToStrDot gives for the special values read back.
  EXPECT_TRUE(std::isinf(StrToFloatDot("INF")));
  EXPECT_LT(StrToFloatDot(" -INF "), 0.0);
  EXPECT_TRUE(std::isnan(StrToFloatDot("NAN")));
}

TEST(FloatTextTest, StrToFloatDotRejectsWhatIsNotANumber) {
  for (const char* bad : {"", "   ", "abc", "1,5", "1.5x", "1 5", "--1", "+-1", "-", "1e", "0x10"})
    EXPECT_THROW(StrToFloatDot(bad), EConvertError) << '"' << bad << '"';
}

TEST(FloatTextTest, FloatToStrDotUsesTheGeneralForm) {
  EXPECT_EQ(FloatToStrDot(0.0), "0");
  EXPECT_EQ(FloatToStrDot(-0.0), "0");
  EXPECT_EQ(FloatToStrDot(1.5), "1.5");
  EXPECT_EQ(FloatToStrDot(0.1), "0.1");
  EXPECT_EQ(FloatToStrDot(-2.5), "-2.5");
  EXPECT_EQ(FloatToStrDot(100.0), "100");
  EXPECT_EQ(FloatToStrDot(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(FloatToStrDot(2.0 / 3.0), "0.666666666666667");
  EXPECT_EQ(FloatToStrDot(123456789012345.0), "123456789012345");
  EXPECT_EQ(FloatToStrDot(1e15), "1E15");
  EXPECT_EQ(FloatToStrDot(1e20), "1E20");
  EXPECT_EQ(FloatToStrDot(0.0001), "0.0001");
  EXPECT_EQ(FloatToStrDot(0.00001), "1E-5");
  EXPECT_EQ(FloatToStrDot(1e-7), "1E-7");
  EXPECT_EQ(FloatToStrDot(1.5e-7), "1.5E-7");
  EXPECT_EQ(FloatToStrDot(-1.25e300), "-1.25E300");
  EXPECT_EQ(FloatToStrDot(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FloatToStrDot(-std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(FloatToStrDot(std::numeric_limits<double>::quiet_NaN()), "NAN");
  for (double x : {0.29, 12.5, -7.125, 1e-3, 98765.4321})
    EXPECT_EQ(StrToFloatDot(FloatToStrDot(x)), x);
}

TEST(FloatTextTest, FloatToStrFDotFormats) {
  using F = TFloatFormat;
  EXPECT_EQ(FloatToStrFDot(12.5, F::Exponent, 7, 1), "1.250000E+1");
  EXPECT_EQ(FloatToStrFDot(0.05, F::Exponent, 7, 1), "5.000000E-2");
  EXPECT_EQ(FloatToStrFDot(0.0, F::Exponent, 7, 1), "0.000000E+0");
  EXPECT_EQ(FloatToStrFDot(-3.0, F::Exponent, 7, 1), "-3.000000E+0");
  EXPECT_EQ(FloatToStrFDot(9.99999999, F::Exponent, 7, 1), "1.000000E+1");
  EXPECT_EQ(FloatToStrFDot(1.5e-7, F::Exponent, 4, 3), "1.500E-007");
  EXPECT_EQ(FloatToStrFDot(1.5e123, F::Exponent, 2, 1), "1.5E+123");

  EXPECT_EQ(FloatToStrFDot(3.14159, F::Fixed, 15, 2), "3.14");
  EXPECT_EQ(FloatToStrFDot(0.5, F::Fixed, 15, 3), "0.500");
  EXPECT_EQ(FloatToStrFDot(2.0, F::Fixed, 15, 0), "2");
  EXPECT_EQ(FloatToStrFDot(-0.001, F::Fixed, 15, 2), "0.00");
  EXPECT_EQ(FloatToStrFDot(1.23456789, F::Fixed, 4, 6), "1.235000");
  EXPECT_EQ(FloatToStrFDot(1234567.891, F::Number, 15, 2), "1,234,567.89");
  EXPECT_EQ(FloatToStrFDot(-123.0, F::Number, 15, 1), "-123.0");

  // Exact halves round away from zero, as the classic texts do.
  EXPECT_EQ(FloatToStrFDot(0.125, F::General, 2, 0), "0.13");
  EXPECT_EQ(FloatToStrFDot(-0.125, F::Fixed, 15, 2), "-0.13");
  EXPECT_EQ(FloatToStrFDot(2.5, F::Fixed, 15, 0), "3");
  EXPECT_EQ(FloatToStrFDot(9.5, F::Exponent, 1, 1), "1E+1");
  EXPECT_EQ(FloatToStrFDot(8388608.5, F::Exponent, 7, 1), "8.388609E+6");
  EXPECT_EQ(FloatToStrFDot(0.1245, F::Fixed, 15, 3), "0.124");  // 0.1245 lies just below the half

  const double inf = std::numeric_limits<double>::infinity();
  for (F f : {F::General, F::Exponent, F::Fixed, F::Number}) {
    EXPECT_EQ(FloatToStrFDot(inf, f, 7, 1), "INF");
    EXPECT_EQ(FloatToStrFDot(-inf, f, 7, 1), "-INF");
    EXPECT_EQ(FloatToStrFDot(std::nan(""), f, 7, 1), "NAN");
  }
}

// Texts must not follow a locale whose decimal separator is ",".
TEST(FloatTextTest, TextsIgnoreACommaLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const char* found = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "ru_RU.UTF-8", "ru_RU.utf8", "fr_FR.UTF-8",
                           "de_DE", "ru_RU"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      found = name;
      break;
    }
  }
  if (found == nullptr) GTEST_SKIP() << "no locale with a comma separator is installed";
  const bool comma = std::localeconv()->decimal_point[0] == ',';
  const double read = StrToFloatDot("1.5");
  const std::string general = FloatToStrDot(2.25);
  const std::string exponent = FloatToStrFDot(12.5, TFloatFormat::Exponent, 7, 1);
  const std::string fixed = FloatToStrFDot(1234.5, TFloatFormat::Number, 15, 2);
  std::setlocale(LC_ALL, saved.c_str());
  ASSERT_TRUE(comma) << found;
  EXPECT_EQ(read, 1.5);
  EXPECT_EQ(general, "2.25");
  EXPECT_EQ(exponent, "1.250000E+1");
  EXPECT_EQ(fixed, "1,234.50");
}

TEST(NumberTextTest, DecimalToIntTakesOneOptionalSign) {
  EXPECT_EQ(DecimalToInt("+5"), 5);
  EXPECT_EQ(DecimalToInt("-5"), -5);
  EXPECT_EQ(DecimalToInt("2147483647"), 2147483647);
  for (const char* bad : {"+-5", "-+5", "--5", "+", "-", "", " 5", "5 ", "2147483648", "0x10"})
    EXPECT_FALSE(DecimalToInt(bad).has_value()) << bad;
}

}  // namespace
}  // namespace mkp
