#include "paper/bars.h"

#include <algorithm>

#include "paper/codes.h"

namespace brv::paper {

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// ---- aggregates ----------------------------------------------------------

void Aggregate::Add(const Tick& t) {
  if (ticks == 0) {
    open = high = low = t.bid;
    ask_high = ask_low = t.ask;
    last_high = last_low = t.last;
    spread_min = t.spread;
  } else {
    high = std::max(high, t.bid);
    low = std::min(low, t.bid);
    ask_high = std::max(ask_high, t.ask);
    ask_low = std::min(ask_low, t.ask);
    last_high = std::max(last_high, t.last);
    last_low = std::min(last_low, t.last);
    spread_min = std::min(spread_min, t.spread);
  }
  close = t.bid;
  ++ticks;
  if (t.flags & kTickVolume) {
    if (trades == 0) {
      volume_high = volume_low = t.volume;
    } else {
      volume_high = std::max(volume_high, t.volume);
      volume_low = std::min(volume_low, t.volume);
    }
    ++trades;
    volume += t.volume;
  }
}

// ---- timeframes ----------------------------------------------------------

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = FloorDiv(y, 400);
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int64_t* m) {
  z += 719468;
  int64_t era = FloorDiv(z, 146097);
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = yoe + era * 400 + (*m <= 2);
}

constexpr int64_t kMondayOrigin = 4 * 86400;  // 1970-01-05, the first Monday

}  // namespace

bool ValidTimeframe(int32_t timeframe) {
  for (int32_t tf : kTimeframes) {
    if (tf == timeframe) return true;
  }
  return false;
}

int64_t BarIndex(int32_t timeframe, int64_t t) {
  if (timeframe == kTimeframeMN1) {
    int64_t y, m;
    CivilFromDays(FloorDiv(t, 86400), &y, &m);
    return y * 12 + (m - 1);
  }
  int64_t origin = timeframe == kTimeframeW1 ? kMondayOrigin : 0;
  return FloorDiv(t - origin, int64_t(timeframe) * 60);
}

int64_t BarStart(int32_t timeframe, int64_t index) {
  if (timeframe == kTimeframeMN1) {
    int64_t y = FloorDiv(index, 12);
    return DaysFromCivil(y, index - y * 12 + 1, 1) * 86400;
  }
  int64_t origin = timeframe == kTimeframeW1 ? kMondayOrigin : 0;
  return origin + index * int64_t(timeframe) * 60;
}

}  // namespace brv::paper
