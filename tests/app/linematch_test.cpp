// Finding pane lines: the query rules, the bound on a costly expression, the
// marked pieces of a line, the index of matching lines as the pane's oldest
// lines go, and the kinds of lines that the colours follow.
#include "app/linematch.h"

#include <gtest/gtest.h>

#include <random>

using namespace mkpt;

namespace {

TFindQuery Query(std::string text, bool regex = false, bool matchCase = false) {
  return TFindQuery{std::move(text), regex, matchCase};
}

}  // namespace

TEST(LineMatcherTest, PlainTextIsTakenLiterallyAndCaseIsFoldedUnlessAsked) {
  const std::string decoded = "-> 010203>>0A0B0C: reg 04 = 17";
  TLineMatcher address(Query("010203>>"));
  EXPECT_TRUE(address.Matches(decoded));
  EXPECT_FALSE(address.Matches("<- 0A0B0C>>010203: reg 04 = 17"));
  // Characters of regular expressions mean themselves in plain text.
  TLineMatcher dots(Query("0A.0B"));
  EXPECT_FALSE(dots.Matches("0A 0B"));
  EXPECT_TRUE(TLineMatcher(Query("(")).Matches("a (b"));
  EXPECT_TRUE(TLineMatcher(Query("REG 04")).Matches(decoded));
  EXPECT_FALSE(TLineMatcher(Query("REG 04", false, true)).Matches(decoded));
  // Cyrillic folds too (the analyser's messages are Russian).
  EXPECT_TRUE(TLineMatcher(Query("ОШИБКА")).Matches("<- ошибка формата"));
  EXPECT_FALSE(TLineMatcher(Query("ОШИБКА", false, true)).Matches("<- ошибка формата"));
  // No text: nothing to look for, and no error.
  TLineMatcher empty(Query(""));
  EXPECT_FALSE(empty.Valid());
  EXPECT_TRUE(empty.Error().empty());
  EXPECT_FALSE(empty.Matches(decoded));
}

TEST(LineMatcherTest, RegularExpressionsMatchOrSayWhyNot) {
  TLineMatcher reg(Query(R"(reg 0[45]\b)", true));
  ASSERT_TRUE(reg.Valid());
  EXPECT_TRUE(reg.Matches("x reg 05 = 1"));
  EXPECT_FALSE(reg.Matches("x reg 06 = 1"));
  EXPECT_FALSE(reg.Matches("x reg 045"));
  TLineMatcher anchored(Query("^<-[12]? ", true));
  EXPECT_TRUE(anchored.Matches("<-2 0A"));
  EXPECT_FALSE(anchored.Matches("-> <- 0A"));

  for (const char* bad : {"reg (04", "[a-", "*x", "a{2,1}"}) {
    TLineMatcher matcher(Query(bad, true));
    EXPECT_FALSE(matcher.Valid()) << bad;
    EXPECT_NE(matcher.Error().find("at character"), std::string::npos) << matcher.Error();
    EXPECT_FALSE(matcher.Matches("reg (04 [a- *x"));
  }
}

TEST(LineMatcherTest, ACostlyExpressionGivesUpOnALineInsteadOfHanging) {
  TLineMatcher matcher(Query("(a+)+$", true));
  const std::string line = std::string(40, 'a') + "!";
  EXPECT_FALSE(matcher.Matches(line));
  EXPECT_GT(matcher.GivenUp(), 0u);
  // The same matcher still answers the next line.
  EXPECT_TRUE(matcher.Matches("aaa"));
  // A backreference nightmare on a long line: given up, no crash.
  TLineMatcher nested(Query("(x*)*(y|\\1)*z", true));
  EXPECT_FALSE(nested.Matches(std::string(5000, 'x')));
}

TEST(LineMatcherTest, SpansMarkEveryPieceInOrderAndSurviveEmptyMatches) {
  TLineMatcher matcher(Query("0a"));
  const auto spans = matcher.Spans("0A0B 0a 00");
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0], (std::pair<std::size_t, std::size_t>{0, 2}));
  EXPECT_EQ(spans[1], (std::pair<std::size_t, std::size_t>{5, 2}));
  // Byte offsets in UTF-8: "ф" takes two bytes.
  const auto cyrillic = TLineMatcher(Query("б")).Spans("абаб");
  ASSERT_EQ(cyrillic.size(), 2u);
  EXPECT_EQ(cyrillic[0].first, 2u);
  EXPECT_EQ(cyrillic[1].first, 6u);
  // An expression that may match nothing moves on and never loops.
  const auto stars = TLineMatcher(Query("x*", true)).Spans("axxbx\xD1\x84");
  ASSERT_EQ(stars.size(), 2u);
  EXPECT_EQ(stars[0], (std::pair<std::size_t, std::size_t>{1, 2}));
  EXPECT_EQ(stars[1], (std::pair<std::size_t, std::size_t>{4, 1}));
  EXPECT_EQ(TLineMatcher(Query("a")).Spans(std::string(1000, 'a'), 10).size(), 10u);
}

TEST(MatchIndexTest, FollowsThePaneAsItsOldestLinesGo) {
  // Against a plain list of flags, through random pushes and drops.
  std::mt19937 random(7);
  TMatchIndex index;
  std::deque<bool> flags;
  for (int step = 0; step < 3000; ++step) {
    if (random() % 4 == 0 && !flags.empty()) {
      const std::size_t n = random() % std::min<std::size_t>(flags.size(), 5) + 1;
      std::size_t matched = 0;
      for (std::size_t i = 0; i < n; ++i) {
        matched += flags.front();
        flags.pop_front();
      }
      EXPECT_EQ(index.DropFront(n), matched);
    } else {
      const bool match = random() % 3 == 0;
      index.Push(match);
      flags.push_back(match);
    }
    ASSERT_EQ(index.LineCount(), flags.size());
  }
  std::size_t k = 0;
  for (std::size_t line = 0; line < flags.size(); ++line) {
    EXPECT_EQ(index.LineMatches(line), flags[line]);
    EXPECT_EQ(index.MatchesBefore(line), k);
    if (flags[line]) {
      EXPECT_EQ(index.MatchLine(k++), line);
    }
  }
  EXPECT_EQ(index.MatchCount(), k);
  // Dropping more than there is empties it.
  index.DropFront(flags.size() + 10);
  EXPECT_EQ(index.LineCount(), 0u);
  EXPECT_EQ(index.MatchCount(), 0u);
}

TEST(LineKindTest, DirectionFromTheStartErrorsAndMessagesFromTheText) {
  EXPECT_EQ(KindOfLine("-> 0A0B0C.010203.06.01.0100 - 05"), TLineKind::Sent);
  EXPECT_EQ(KindOfLine("<- 010203.0A0B0C.07.01.0100 - 2A "), TLineKind::Received);
  EXPECT_EQ(KindOfLine("<-1 010203.0A0B0C.07.01.0100 - 2A "), TLineKind::Received);
  EXPECT_EQ(KindOfLine("<-2 010203>>0A0B0C"), TLineKind::Received);
  EXPECT_EQ(KindOfLine("<- Missing format : 01 02"), TLineKind::Message);
  EXPECT_EQ(KindOfLine("-> Transmit error!"), TLineKind::Message);
  EXPECT_EQ(KindOfLine("Cycle 3: no answer"), TLineKind::Message);
  EXPECT_EQ(KindOfLine("<-x"), TLineKind::Message);
  EXPECT_EQ(KindOfLine("->"), TLineKind::Message);
  EXPECT_EQ(KindOfLine(""), TLineKind::Message);
}
