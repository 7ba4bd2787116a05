// The plot's axes worked out as plain numbers: round steps for the values and
// round times of day for the time axis, so that the axis lines and labels
// fall on figures a reader expects.
#pragma once

#include <string>

namespace mkpt {

struct TAxisRange {
  double From = 0;
  double To = 1;
  double Step = 1;
  int Ticks = 2;  // lines of the axis, both ends included
};

// A range around [low, high] whose ends are multiples of a round step (1, 2
// or 5 times a power of ten), with at most maxIntervals steps. It keeps the
// data's sign: values that are all zero or more give a range that starts at
// zero or above, values that are all zero or less one that ends at zero or
// below. A single value gets a range of its own size around it; no data
// (low > high) gives 0 to 1.
TAxisRange ValueAxisRange(double low, double high, int maxIntervals = 5);

// The time range [fromMs, toMs] (milliseconds since the epoch) widened to
// whole steps of local time (utcOffsetMs ahead of UTC): 1, 2, 5, 10, 15 and
// 30 seconds, 1, 2, 5, 10, 15 and 30 minutes, 1, 2, 3, 6 and 12 hours, then
// whole days, whichever gives at most maxIntervals steps.
TAxisRange TimeAxisRange(double fromMs, double toMs, double utcOffsetMs, int maxIntervals = 7);

// The label format for a time axis: seconds for steps under a minute, the
// date once the range passes a day.
std::string TimeAxisFormat(const TAxisRange& range);

}  // namespace mkpt
