#include "text/cp1251.h"

#include <gtest/gtest.h>

#include <string>

namespace mkp {
namespace {

TEST(Cp1251Test, EveryAssignedByteSurvivesTheRoundTrip) {
  for (int b = 1; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    const std::string utf8 = Cp1251ToUtf8(one);
    if (b == 0x98) {
      EXPECT_EQ(utf8, "?");
      continue;
    }
    EXPECT_EQ(Utf8ToCp1251(utf8), one) << "byte " << b;
    if (b < 0x80)
      EXPECT_EQ(utf8, one);
    else
      EXPECT_GE(utf8.size(), 2u) << "byte " << b;
  }
  std::string all;
  for (int b = 0; b < 256; ++b)
    if (b != 0x98) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
}

TEST(Cp1251Test, KnownCharacters) {
  EXPECT_EQ(Cp1251ToUtf8("\xC0\xFF\xA8\xB8"), "\u0410\u044F\u0401\u0451");
  EXPECT_EQ(Cp1251ToUtf8("\x88\xB9\x96\xA0"), "\u20AC\u2116\u2013\u00A0");
  EXPECT_EQ(UnicodeToCp1251(U'\u0416'), '\xC6');
  EXPECT_EQ(UnicodeToCp1251(U'\u2122'), '\x99');
  EXPECT_EQ(UnicodeToCp1251(U'A'), 'A');
  EXPECT_EQ(UnicodeToCp1251(U'\u00E9'), '?');   // Latin e acute is not in the page
  EXPECT_EQ(UnicodeToCp1251(U'\u0098'), '?');   // nor the C1 control at 0x98
  EXPECT_EQ(UnicodeToCp1251(U'\xD800'), '?');   // a lone surrogate unit
}

TEST(Cp1251Test, RussianText) {
  const std::string utf8 = "Ошибочное действие : Неверный формат числа №5";
  const std::string cp = Utf8ToCp1251(utf8);
  EXPECT_EQ(cp.substr(0, 7), "\xCE\xF8\xE8\xE1\xEE\xF7\xED");
  EXPECT_EQ(cp.size(), 45u);
  EXPECT_EQ(Cp1251ToUtf8(cp), utf8);
}

TEST(Cp1251Test, WhatCannotBeMappedBecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1251("a\u4E2Db"), "a?b");            // outside the page
  EXPECT_EQ(Utf8ToCp1251("x\U0001F600y"), "x?y");        // four-byte sequence
  EXPECT_EQ(Utf8ToCp1251("a\xFF" "b"), "a?b");           // never valid
  EXPECT_EQ(Utf8ToCp1251("a\xD0"), "a?");                // cut short at the end
  EXPECT_EQ(Utf8ToCp1251("\xD0" "A"), "?A");             // cut short, text resumes
  EXPECT_EQ(Utf8ToCp1251("\xC0\x80"), "??");             // overlong
  EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "???");        // encoded surrogate
  EXPECT_EQ(Utf8ToCp1251("\x80\xBF"), "??");             // stray continuations
  EXPECT_EQ(Utf8ToCp1251(std::string("a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace mkp
