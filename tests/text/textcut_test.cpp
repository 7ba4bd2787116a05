#include "text/textcut.h"
#include "text/hextext.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace mkp {
namespace {

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

}  // namespace
}  // namespace mkp
