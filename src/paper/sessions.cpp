#include "paper/sessions.h"

#include <algorithm>
#include <cstring>

namespace brv::paper {
namespace {

constexpr int64_t kWeek = 10080;           // minutes
constexpr int64_t kMondayOffset = 4320;    // 1970-01-01 was a Thursday: minute 0 is Thursday 00:00
constexpr int64_t kCloseAt = 4 * 1440 + 22 * 60;  // Friday 22:00, minutes since Monday 00:00
constexpr int64_t kOpenAt = 6 * 1440 + 22 * 60;   // Sunday 22:00

bool Weekends(const SymbolSpec& instrument) { return std::strcmp(instrument.category, "Crypto") != 0; }

int64_t WeekMinute(int64_t minute) { return minute + kMondayOffset - FloorDiv(minute + kMondayOffset, kWeek) * kWeek; }

// Timeframes whose bars repeat every week (their length divides a week and
// they never straddle Monday 00:00); W1 and MN1 bars always hold open minutes.
bool Weekly(int32_t timeframe) { return timeframe < int32_t(kWeek) && kWeek % timeframe == 0; }

}  // namespace

bool MarketOpen(const SymbolSpec& instrument, int64_t minute) {
  if (!Weekends(instrument)) return true;
  int64_t m = WeekMinute(minute);
  return m < kCloseAt || m >= kOpenAt;
}

int64_t LastOpenMinute(const SymbolSpec& instrument, int64_t minute) {
  if (MarketOpen(instrument, minute)) return minute;
  return minute - (WeekMinute(minute) - kCloseAt) - 1;  // Friday 21:59
}

bool DayOpenSpan(const SymbolSpec& instrument, int64_t day, int64_t* first, int64_t* end) {
  const int64_t start = day * 1440;
  if (!Weekends(instrument)) {
    *first = start;
    *end = start + 1440;
    return true;
  }
  // The week's trading hours are [Monday 00:00, Friday 22:00) and
  // [Sunday 22:00, Monday 00:00); a day meets one of them at most.
  const int64_t w = WeekMinute(start);
  for (int64_t open_from : {int64_t(0), kOpenAt}) {
    int64_t open_to = open_from == 0 ? kCloseAt : kWeek;
    int64_t from = std::max(w, open_from), to = std::min(w + 1440, open_to);
    if (from < to) {
      *first = start + (from - w);
      *end = start + (to - w);
      return true;
    }
  }
  return false;
}

bool BarOpen(const SymbolSpec& instrument, int32_t timeframe, int64_t index) {
  if (!Weekends(instrument) || !Weekly(timeframe)) return true;
  int64_t start = WeekMinute(index * timeframe);
  return !(start >= kCloseAt && start + timeframe <= kOpenAt);
}

int64_t LastOpenBar(const SymbolSpec& instrument, int32_t timeframe, int64_t index) {
  while (!BarOpen(instrument, timeframe, index)) --index;
  return index;
}

int64_t OpenBarsBack(const SymbolSpec& instrument, int32_t timeframe, int64_t index, int64_t n) {
  if (!Weekends(instrument) || !Weekly(timeframe)) return index - n;
  // Whole weeks at once, then bar by bar.
  const int64_t per_week = kWeek / timeframe;
  int64_t open_per_week = 0;
  for (int64_t i = 0; i < per_week; ++i) open_per_week += BarOpen(instrument, timeframe, index - i);
  int64_t weeks = n / open_per_week;
  index -= weeks * per_week;
  n -= weeks * open_per_week;
  while (n > 0) {
    --index;
    if (BarOpen(instrument, timeframe, index)) --n;
  }
  return index;
}

}  // namespace brv::paper
