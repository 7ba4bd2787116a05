// The plot's axes: round value steps that keep the data's sign, and time
// ticks on round times of day.
#include "app/plotaxes.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace mkpt;

namespace {

constexpr double S = 1000, Min = 60 * S, H = 60 * Min;

// A step of 1, 2 or 5 times a power of ten, and ends on whole steps.
void ExpectRound(const TAxisRange& r) {
  const double mantissa = r.Step / std::pow(10.0, std::floor(std::log10(r.Step)));
  EXPECT_TRUE(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 || std::abs(mantissa - 5) < 1e-9)
      << r.Step;
  EXPECT_NEAR(std::remainder(r.From, r.Step), 0, 1e-9 * r.Step);
  EXPECT_EQ(r.Ticks - 1, std::lround((r.To - r.From) / r.Step));
}

}  // namespace

TEST(PlotAxesTest, ValuesKeepTheirSignAndSize) {
  TAxisRange r = ValueAxisRange(0, 2000);
  ExpectRound(r);
  EXPECT_EQ(r.From, 0);  // never below zero for values that are not
  EXPECT_GE(r.To, 2000);
  EXPECT_LE(r.To, 2500);
  EXPECT_LE(r.Ticks, 6);
  r = ValueAxisRange(1000, 1500);
  ExpectRound(r);
  EXPECT_GE(r.From, 500);
  EXPECT_LE(r.From, 1000);
  r = ValueAxisRange(-300, -10);
  ExpectRound(r);
  EXPECT_EQ(r.To, 0);
  EXPECT_LE(r.From, -300);
  r = ValueAxisRange(-5, 5);
  EXPECT_LT(r.From, -5 + 1e-9);
  EXPECT_GT(r.To, 5 - 1e-9);
  // One value: a range of its own size around it.
  r = ValueAxisRange(1000, 1000);
  ExpectRound(r);
  EXPECT_LT(r.From, 1000);
  EXPECT_GT(r.To, 1000);
  EXPECT_LE(r.To - r.From, 200);
  r = ValueAxisRange(0.003, 0.003);
  EXPECT_GT(r.From, 0);
  EXPECT_LT(r.To, 0.01);
  for (const auto& [low, high] : {std::pair{0.0, 0.0}, std::pair{HUGE_VAL, -HUGE_VAL}}) {
    r = ValueAxisRange(low, high);
    EXPECT_EQ(r.From, 0);
    EXPECT_EQ(r.To, 1);
  }
}

TEST(PlotAxesTest, TimeTicksFallOnRoundTimesOfDay) {
  const double noon = 20000 * 24 * H + 12 * H;  // a day's noon, UTC
  // 10 s: every 2 s.
  TAxisRange r = TimeAxisRange(noon + 3400, noon + 13400, 0);
  EXPECT_EQ(r.Step, 2 * S);
  EXPECT_EQ(r.From, noon + 2 * S);
  EXPECT_EQ(r.To, noon + 14 * S);
  EXPECT_EQ(r.Ticks, 7);
  EXPECT_EQ(TimeAxisFormat(r), "HH:mm:ss");
  // 60 s: every 10 s; "All" over two minutes from 12:09:37: whole half minutes.
  EXPECT_EQ(TimeAxisRange(noon + 5 * S, noon + 65 * S, 0).Step, 10 * S);
  r = TimeAxisRange(noon + 9 * Min + 37 * S, noon + 11 * Min + 34 * S, 0);
  EXPECT_EQ(r.Step, 30 * S);
  EXPECT_EQ(r.From, noon + 9 * Min + 30 * S);
  // Minutes, then hours of the local day (here 5 h 30 ahead of UTC).
  r = TimeAxisRange(noon + 3 * Min, noon + 40 * Min, 0);
  EXPECT_EQ(r.Step, 10 * Min);
  EXPECT_EQ(TimeAxisFormat(r), "HH:mm");
  r = TimeAxisRange(noon, noon + 10 * H, 5.5 * H);
  EXPECT_EQ(r.Step, 2 * H);
  EXPECT_EQ(std::fmod(r.From + 5.5 * H, 2 * H), 0);
  // Days, with the date.
  r = TimeAxisRange(noon, noon + 9 * 24 * H, 0);
  EXPECT_EQ(r.Step, 2 * 24 * H);
  EXPECT_EQ(TimeAxisFormat(r), "dd.MM HH:mm");
  // No span: one second.
  r = TimeAxisRange(noon, noon, 0);
  EXPECT_GT(r.To, r.From);
}
