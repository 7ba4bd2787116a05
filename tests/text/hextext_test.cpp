#include "text/hextext.h"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace mkp {
namespace {

TEST(HexTextTest, ByteToHexKeepsTwoUpperCaseDigits) {
  EXPECT_EQ(ByteToHex(0), "00");
  EXPECT_EQ(ByteToHex(5), "05");
  EXPECT_EQ(ByteToHex(26), "1A");
  EXPECT_EQ(ByteToHex(255), "FF");
  for (int b = 0; b < 256; ++b) {
    const std::string hex = ByteToHex(static_cast<std::uint8_t>(b));
    ASSERT_EQ(hex.size(), 2u);
    EXPECT_EQ(HexToByte(hex), b) << hex;
  }
}

TEST(HexTextTest, HexToByteReadsOnlyTheFirstTwoDigitsOrGivesZero) {
  EXPECT_EQ(HexToByte(" ff "), 255);
  EXPECT_EQ(HexToByte("\tff\r\n"), 255);
  EXPECT_EQ(HexToByte("1f"), 0x1F);
  EXPECT_EQ(HexToByte("1F3"), 0x1F);
  EXPECT_EQ(HexToByte("F"), 0);
  EXPECT_EQ(HexToByte("5"), 0);
  EXPECT_EQ(HexToByte(""), 0);
  EXPECT_EQ(HexToByte("   "), 0);
  EXPECT_EQ(HexToByte("0x"), 0);
  EXPECT_EQ(HexToByte("9Z"), 0);
  EXPECT_EQ(HexToByte("G1"), 0);
  EXPECT_EQ(HexToByte("\xC0\xC1"), 0);  // high bytes are not digits
}

TEST(HexTextTest, DecPairToByteIsBinaryCodedDecimal) {
  EXPECT_EQ(DecPairToByte("99"), 99);
  EXPECT_EQ(DecPairToByte("42"), 42);
  EXPECT_EQ(DecPairToByte("A5"), 105);
  EXPECT_EQ(DecPairToByte("FF"), 165);
  EXPECT_EQ(DecPairToByte(" 07 "), 7);
  EXPECT_EQ(DecPairToByte("7"), 0);
  EXPECT_EQ(DecPairToByte("x1"), 0);
}

TEST(HexTextTest, BytesToHexTextClampsTheCount) {
  const std::uint8_t bytes[] = {0x01, 0xA0, 0xFF};
  EXPECT_EQ(BytesToHexText(bytes, 3, 3), "01 A0 FF ");
  EXPECT_EQ(BytesToHexText(bytes, 3, 2), "01 A0 ");
  EXPECT_EQ(BytesToHexText(bytes, 3, 0), "");
  EXPECT_EQ(BytesToHexText(bytes, 3, -4), "");
  EXPECT_EQ(BytesToHexText(bytes, 3, 100), "01 A0 FF ");
  EXPECT_EQ(BytesToHexText(nullptr, 0, 5), "");
}

TEST(HexTextTest, ZeroAndSwapStayInsideTheArray) {
  std::array<std::uint8_t, 6> buf{1, 2, 3, 4, 5, 6};
  ZeroBytes(buf.data(), 3);  // last index, not a length
  EXPECT_EQ(buf, (std::array<std::uint8_t, 6>{0, 0, 0, 0, 5, 6}));

  std::array<std::uint8_t, 3> a{10, 20, 30};
  SwapBytes(0, 2, a.data(), a.size());
  EXPECT_EQ(a, (std::array<std::uint8_t, 3>{30, 20, 10}));
  SwapBytes(0, 3, a.data(), a.size());
  SwapBytes(-1, 1, a.data(), a.size());
  EXPECT_EQ(a, (std::array<std::uint8_t, 3>{30, 20, 10}));
}

TEST(HexTextTest, BigEndianSinglesAndTheirNaNFlag) {
  double v = -1;
  bool noValue = true;
  BytesToSingleBE({0x3F, 0x80, 0x00, 0x00}, v, noValue);
  EXPECT_EQ(v, 1.0);
  EXPECT_FALSE(noValue);

  BytesToSingleBE({0x7F, 0xC0, 0x00, 0x00}, v, noValue);
  EXPECT_TRUE(noValue);
  EXPECT_EQ(v, 0.0);
  BytesToSingleBE({0xFF, 0x80, 0x00, 0x01}, v, noValue);  // lowest mantissa bit only
  EXPECT_TRUE(noValue);

  BytesToSingleBE({0x7F, 0x80, 0x00, 0x00}, v, noValue);
  EXPECT_FALSE(noValue);
  EXPECT_TRUE(std::isinf(v) && v > 0);
  BytesToSingleBE({0xFF, 0x80, 0x00, 0x00}, v, noValue);
  EXPECT_FALSE(noValue);
  EXPECT_TRUE(std::isinf(v) && v < 0);

  EXPECT_EQ(SingleBEToBytes(1.0, false), (std::array<std::uint8_t, 4>{0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(SingleBEToBytes(-2.5, false), (std::array<std::uint8_t, 4>{0xC0, 0x20, 0x00, 0x00}));
  EXPECT_EQ(SingleBEToBytes(1.0, true), (std::array<std::uint8_t, 4>{0x7F, 0xFF, 0xFF, 0xFF}));
  // Doubles beyond the single range round as the hardware would.
  EXPECT_EQ(SingleBEToBytes(1e300, false), (std::array<std::uint8_t, 4>{0x7F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(SingleBEToBytes(-1e300, false), (std::array<std::uint8_t, 4>{0xFF, 0x80, 0x00, 0x00}));
  EXPECT_EQ(SingleBEToBytes(std::numeric_limits<float>::max() * 1.0000000001, false),
            (std::array<std::uint8_t, 4>{0x7F, 0x7F, 0xFF, 0xFF}));

  for (double x : {0.1, -123.456, 3.0e-20, 6.5e30}) {
    BytesToSingleBE(SingleBEToBytes(x, false), v, noValue);
    EXPECT_EQ(v, static_cast<double>(static_cast<float>(x)));
  }
}

// ---- decimal numbers -----------------------------------------------------------

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

// ---- cutting and searching -------------------------------------------------------

TEST(CutTextTest, TrimAndUpperCase) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a \x01"), "  a");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // high bytes are text, not blanks
  EXPECT_EQ(UpperCase("abz09{\xE0"), "ABZ09{\xE0");
}

TEST(CutTextTest, RemoveAllRepeatsUntilNoneIsLeft) {
  std::string s = "---";
  RemoveAll(s, "--");
  EXPECT_EQ(s, "-");
  s = "aabbxab";
  RemoveAll(s, "ab");  // removing the inner pair forms a new one
  EXPECT_EQ(s, "x");
  s = "ababa";
  RemoveAll(s, "aba");  // leftmost first
  EXPECT_EQ(s, "ba");
  s = "keep";
  RemoveAll(s, "");
  EXPECT_EQ(s, "keep");
}

TEST(CutTextTest, ReplaceAllLeftmostUntilGone) {
  std::string s = "a.b.c";
  ReplaceAll(s, ".", " ");
  EXPECT_EQ(s, "a b c");
  s = "aaaa";
  ReplaceAll(s, "aa", "a");  // repeats until no "aa" is left
  EXPECT_EQ(s, "a");
  s = "ababc";
  ReplaceAll(s, "abc", "cx");  // the replacement joins with what stands before it
  EXPECT_EQ(s, "cxx");
  s = "x";
  ReplaceAll(s, "x", "x");
  EXPECT_EQ(s, "x");
  ReplaceAll(s, "", "y");
  EXPECT_EQ(s, "x");
  s = "a-b-c";
  ReplaceAll(s, "-", "--");  // contains old: once per occurrence, and it ends
  EXPECT_EQ(s, "a--b--c");
}

TEST(CutTextTest, LongTextsAreHandledInOnePass) {
  std::string s(200000, ' ');
  SqueezeBlanks(s);
  EXPECT_EQ(s, " ");
  s.assign(100000, '-');
  RemoveAll(s, "--");
  EXPECT_EQ(s, "");
  s.assign(100000, 'a');
  ReplaceAll(s, "a", "b");
  EXPECT_EQ(s, std::string(100000, 'b'));
  s.clear();
  for (int i = 0; i < 20000; ++i) s += "x{c}";
  RemoveSpans(s, "{", "}");
  EXPECT_EQ(s, std::string(20000, 'x'));
}

TEST(CutTextTest, SqueezeBlanksKeepsOneOfEachRun) {
  std::string s = "  a   b c  ";
  SqueezeBlanks(s);
  EXPECT_EQ(s, " a b c ");
}

TEST(CutTextTest, RemoveSpansDeletesBlockCommentsAndAlwaysEnds) {
  std::string s = "a(*x*)b(*y*)c";
  RemoveSpans(s, "(*", "*)");
  EXPECT_EQ(s, "abc");
  s = "1 {two} 3 {four";
  RemoveSpans(s, "{", "}");
  EXPECT_EQ(s, "1  3 {four");  // an unclosed block stays
  s = "a } b { c";
  RemoveSpans(s, "{", "}");  // closing before opening: nothing to remove
  EXPECT_EQ(s, "a } b { c");
  s = "} a {x} b";
  RemoveSpans(s, "{", "}");  // the stray closing marker stays, the span goes
  EXPECT_EQ(s, "} a  b");
  s = "((*x*)*y*)z";
  RemoveSpans(s, "(*", "*)");  // the join forms a new opening marker
  EXPECT_EQ(s, "z");
  s = "(* a (* b *) c *)";
  RemoveSpans(s, "(*", "*)");  // no nesting: the first closing marker ends it
  EXPECT_EQ(s, " c *)");
  s = "A(*)B";
  RemoveSpans(s, "(*", "*)");  // the closing marker may overlap the opening one
  EXPECT_EQ(s, "AB");
  s.clear();
  for (int i = 0; i < 800000; ++i) s += "{}";
  RemoveSpans(s, "{", "}");  // a hostile line is handled in one pass
  EXPECT_EQ(s, "");
}

// The rule as stated, one deletion at a time.
std::string RemoveSpansLiterally(std::string text, std::string_view opening, std::string_view closing) {
  for (;;) {
    const std::size_t open = text.find(opening);
    if (open == std::string::npos) return text;
    const std::size_t from = open >= closing.size() ? open - closing.size() + 1 : 0;
    const std::size_t close = text.find(closing, from);
    if (close == std::string::npos) return text;
    text.erase(open, close + closing.size() - open);
  }
}

TEST(CutTextTest, RemoveSpansAgreesWithTheRuleOnRandomText) {
  const std::pair<std::string_view, std::string_view> markers[] = {
      {"(*", "*)"}, {"{", "}"}, {"ab", "ba"}, {"aa", "aa"}, {"a", "aba"}, {"abc", "c"}};
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (const auto& [opening, closing] : markers) {
    for (int round = 0; round < 3000; ++round) {
      const std::string alphabet = std::string(opening) + std::string(closing) + "x";
      std::string text;
      const int length = static_cast<int>(next() % 24);
      for (int i = 0; i < length; ++i) text += alphabet[(next() >> 8) % alphabet.size()];
      std::string fast = text;
      RemoveSpans(fast, opening, closing);
      ASSERT_EQ(fast, RemoveSpansLiterally(text, opening, closing))
          << "text \"" << text << "\" markers " << opening << " " << closing;
    }
  }
}

TEST(CutTextTest, CommentsAndLeadingPairs) {
  std::string s = "01 02 // note";
  CutLineComment(s);
  EXPECT_EQ(s, "01 02 ");
  s = "no comment / here";
  CutLineComment(s);
  EXPECT_EQ(s, "no comment / here");

  // Reading a run of hex pairs from the left.
  s = "0A  1b\tFF";
  std::string bytes;
  while (!s.empty()) {
    bytes += ByteToHex(HexToByte(FirstTwoChars(s)));
    EXPECT_TRUE(DropTwoChars(s));
  }
  EXPECT_EQ(bytes, "0A1BFF");
  EXPECT_EQ(FirstTwoChars("A"), "A");
  s = "A";
  EXPECT_FALSE(DropTwoChars(s));
  EXPECT_EQ(s, "");
}

TEST(CutTextTest, Words) {
  EXPECT_EQ(FirstWord("   alpha beta"), "alpha");
  EXPECT_EQ(FirstWord(" alone"), "alone");
  EXPECT_EQ(FirstWord("   "), "");
  std::string s = "  alpha   beta gamma";
  EXPECT_TRUE(DropFirstWord(s));
  EXPECT_EQ(s, "beta gamma");
  s = "last";
  EXPECT_TRUE(DropFirstWord(s));
  EXPECT_EQ(s, "");
  s = "   ";
  EXPECT_FALSE(DropFirstWord(s));
  EXPECT_EQ(s, "");
}

TEST(CutTextTest, SeparatorsWalkAList) {
  EXPECT_EQ(TextBefore("a;b;c", ";"), "a");
  EXPECT_EQ(TextBefore("abc", ";"), "abc");
  EXPECT_EQ(TextBefore("abc", ""), "abc");

  std::string s = "1;22;333";
  std::string items;
  bool more = true;
  while (more) {
    items += "[" + TextBefore(s, ";") + "]";
    more = DropThrough(s, ";");
  }
  EXPECT_EQ(items, "[1][22][333]");
  EXPECT_EQ(s, "");
  s = "none";
  EXPECT_FALSE(DropThrough(s, ";"));
  EXPECT_EQ(s, "");

  std::string left = "x";
  std::string right = "y";
  SplitAtFirst("A=B=C", "=", left, right);
  EXPECT_EQ(left, "A");
  EXPECT_EQ(right, "B=C");
  SplitAtFirst("key:=value", ":=", left, right);
  EXPECT_EQ(left, "key");
  EXPECT_EQ(right, "value");
  SplitAtFirst("novalue", "=", left, right);
  EXPECT_EQ(left, "");
  EXPECT_EQ(right, "");
}

TEST(CutTextTest, TextBetweenAndHasTextBetween) {
  EXPECT_EQ(TextBetween("x[abc]y", "[", "]"), "abc");
  EXPECT_EQ(TextBetween("abc]y", "[", "]"), "abc");   // no start: only the end cut
  EXPECT_EQ(TextBetween("x[abc", "[", "]"), "abc");   // no end: the rest
  EXPECT_EQ(TextBetween("]x[abc", "[", "]"), "abc");  // an end before the start is gone with it
  EXPECT_EQ(TextBetween("<<a>>", "<<", ">>"), "a");

  EXPECT_TRUE(HasTextBetween("x[abc]y", "[", "]"));
  EXPECT_TRUE(HasTextBetween("[]", "[", "]"));
  EXPECT_FALSE(HasTextBetween("]x[", "[", "]"));
  EXPECT_FALSE(HasTextBetween("abc", "[", "]"));
  EXPECT_FALSE(HasTextBetween("|", "|", "|"));  // the end must follow the start
  EXPECT_TRUE(HasTextBetween("||", "|", "|"));
}

TEST(CutTextTest, Padding) {
  EXPECT_EQ(PadToWidth("12", "0", 4), "1200");
  EXPECT_EQ(PadToWidth("12345", "0", 4), "12345");
  EXPECT_EQ(PadToWidth("1", "ab", 4), "1abab");  // whole fills, may pass the width
  EXPECT_EQ(PadToWidth("1", "", 4), "1");
  EXPECT_EQ(PadShortLeft("7", "0", 2), "07");
  EXPECT_EQ(PadShortLeft("123", "0", 2), "123");
  EXPECT_EQ(PadShortLeft("", "0", 3), "000");
  EXPECT_EQ(PadShortLeft("x", "0", 1000).size(), 255u);
  EXPECT_EQ(PadShortLeft("x", "", 5), "x");
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
