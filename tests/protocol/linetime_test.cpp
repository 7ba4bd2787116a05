#include "protocol/linetime.h"

#include <gtest/gtest.h>

#include <clocale>
#include <regex>

namespace {

using namespace mkp;
using namespace std::chrono_literals;

TEST(LineTimeTest, PrefixIsTimeOfDayThenMillisecondsSinceThePreviousLineOfThePane) {
  TLineTimer pane;
  const TMonoTime t0 = TMonoClock::now();
  const TShownTime first = pane.Next({t0, TLineKind::Sent});
  const TShownTime second = pane.Next({t0 + 16042us, TLineKind::Received});
  const TShownTime late = pane.Next({t0 + 16042us + 1234567890us, TLineKind::Other});
  EXPECT_TRUE(std::regex_match(TimePrefix(first), std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d \+0\.000 )")))
      << TimePrefix(first);
  EXPECT_EQ(TimePrefix(second).substr(12), " +16.042 ");
  EXPECT_EQ(TimePrefix(late).substr(12), " +1234567.890 ");  // no thousands separator
  // The time of day moves with the monotonic time.
  const std::string a = LocalTimeOfDay(t0), b = LocalTimeOfDay(t0 + 1500ms);
  const auto ms = [](const std::string& t) {
    return ((std::stoi(t.substr(0, 2)) * 60 + std::stoi(t.substr(3, 2))) * 60 + std::stoi(t.substr(6, 2))) * 1000 +
           std::stoi(t.substr(9, 3));
  };
  EXPECT_EQ((ms(b) - ms(a) + 86400000) % 86400000, 1500);
  // After a reset the next line is a pane's first again.
  pane.Reset();
  EXPECT_EQ(TimePrefix(pane.Next({t0 + 5s, TLineKind::Other})).substr(12), " +0.000 ");
}

TEST(LineTimeTest, DecimalsIgnoreACommaLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "ru_RU.UTF-8"))
    GTEST_SKIP() << "no locale with a decimal comma";
  TShownTime shown;
  shown.SincePreviousMs = 2.5;
  shown.AnswerAfterMs = 12.26;
  EXPECT_EQ(TimePrefix(shown).substr(12), " +2.500 ");
  EXPECT_EQ(AnswerSuffix(shown), " (answer after 12.3 ms)");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(LineTimeTest, OnlyAReceivedLineRightAfterASentOneWithinTheWindowIsAnAnswer) {
  const TMonoTime t0 = TMonoClock::now();
  const TLineStamp sent{t0, TLineKind::Sent};
  EXPECT_EQ(AnswerSuffix(ShownTimeAfter(&sent, {t0 + 12340us, TLineKind::Received}, true)),
            " (answer after 12.3 ms)");
  EXPECT_EQ(AnswerSuffix(ShownTimeAfter(&sent, {t0 + 12340us, TLineKind::Received}, false)), "");  // terminal pane
  EXPECT_EQ(AnswerSuffix(ShownTimeAfter(&sent, {t0 + 2069ms, TLineKind::Received}, true)), "");   // too late
  EXPECT_EQ(AnswerSuffix(ShownTimeAfter(&sent, {t0 + 5ms, TLineKind::Other}, true)), "");
  const TLineStamp received{t0, TLineKind::Received};
  EXPECT_EQ(AnswerSuffix(ShownTimeAfter(&received, {t0 + 5ms, TLineKind::Received}, true)), "");
  EXPECT_EQ(AnswerSuffix(ShownTimeAfter(nullptr, {t0, TLineKind::Received}, true)), "");
}

TEST(LineTimeTest, TimePrefixIsRecognisedOnlyInItsExactForm) {
  EXPECT_EQ(TimePrefixLength("14:03:07.215 +16.042 <- 0A0B0C"), 21u);
  EXPECT_EQ(TimePrefixLength("14:03:07.215 +0.000 -> x"), 20u);
  EXPECT_EQ(TimePrefixLength("14:03:07.215 +1234567.890 x"), 26u);
  for (const char* line : {"<- 0A0B0C.010203.07.05.0300 - 01", "14:03:07.215 16.042 x", "14:03:07 +1.000 x",
                           "14:03:07.215 +16.04 x", "14:03:07.215 +16.042", "1:03:07.215 +16.042 x", ""})
    EXPECT_EQ(TimePrefixLength(line), 0u) << line;
}

}  // namespace

namespace {

TEST(LineTimeTest, TheAnswerIsTheFirstFrameAddressedToTheSenderWhateverComesBetween) {
  using namespace mkp;
  TLineTimer pane(/*answers=*/true);
  const TMonoTime t0 = TMonoClock::now();
  auto frame = [&](std::chrono::microseconds at, TLineKind kind, std::uint32_t src, std::uint32_t dst) {
    TLineStamp stamp{t0 + at, kind};
    stamp.Source = src;
    stamp.Destination = dst;
    return pane.Next(stamp);
  };
  frame(0us, TLineKind::Sent, 0x0A0B0C, 0x010203);
  EXPECT_FALSE(frame(3000us, TLineKind::Received, 0x111111, 0x222222).AnswerAfterMs);  // another station's
  EXPECT_EQ(frame(12000us, TLineKind::Received, 0x010203, 0x0A0B0C).AnswerAfterMs, 12.0);
  EXPECT_FALSE(frame(13000us, TLineKind::Received, 0x010203, 0x0A0B0C).AnswerAfterMs);  // answered already
}

}  // namespace
