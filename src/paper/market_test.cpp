// The price model: determinism, ticks that make up their minute, aggregates
// that agree however they are computed, and calendar bar numbering.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "check.h"
#include "paper/codes.h"
#include "paper/market.h"

using namespace brv::paper;

namespace {

const int64_t kDay = 1672617600;  // 2023-01-02 00:00 UTC, a Monday

// FNV-1a over the bytes of the values served.
struct Digest {
  uint64_t h = 1469598103934665603ull;
  void Add(const void* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
  }
  void Add(double v) { Add(&v, sizeof v); }
  void Add(uint64_t v) { Add(&v, sizeof v); }
  void Add(const Tick& t) {
    for (uint64_t v : {uint64_t(t.time_msc), t.volume, uint64_t(t.flags), uint64_t(t.spread)}) Add(v);
    for (double v : {t.bid, t.ask, t.last, t.volume_real}) Add(v);
  }
};

}  // namespace

TEST(paper_minute_ticks_are_ordered_rounded_continuous_and_open_the_minute) {
  Market market(1);
  std::vector<Tick> ticks;
  for (const SymbolSpec& instrument : Catalogue()) {
    double scale = std::pow(10.0, instrument.digits), last = 0;
    for (int64_t m = kDay / 60; m < kDay / 60 + 240; ++m) {
      market.MinuteTicks(instrument, m, &ticks);
      CHECK(!ticks.empty() && ticks[0].time_msc == m * 60000);
      if (ticks.empty()) continue;
      if (m > kDay / 60) CHECK(std::fabs(ticks.front().bid - last) / last < 0.5 * instrument.daily_vol);
      last = ticks.back().bid;
      for (size_t i = 0; i < ticks.size(); ++i) {
        const Tick& t = ticks[i];
        CHECK(t.time_msc >= m * 60000 && t.time_msc < (m + 1) * 60000);
        if (i > 0) CHECK(t.time_msc > ticks[i - 1].time_msc);
        CHECK(t.bid > 0 && t.ask > t.bid && t.flags != 0);
        CHECK(std::fabs(t.bid * scale - std::round(t.bid * scale)) < 1e-6);
        CHECK(t.spread == int32_t(std::lround((t.ask - t.bid) * scale)));
        if (t.flags & kTickLast) CHECK(t.volume > 0 && t.last == ((t.flags & kTickBuy) ? t.ask : t.bid));
      }
    }
  }
}

TEST(paper_prices_stay_plausible_over_years) {
  Market market(1);
  for (const SymbolSpec& instrument : Catalogue()) {
    std::vector<Bar> weeks;  // fifteen years
    int64_t first = BarIndex(kTimeframeW1, kHistoryStart);
    market.Bars(instrument, kTimeframeW1, first, first + 15 * 52, (kHistoryStart + 15 * 365 * 86400LL) * 1000, &weeks);
    CHECK(weeks.size() == 15 * 52 + 1);
    for (const Bar& w : weeks) CHECK(w.low > instrument.base_price / 4 && w.high < instrument.base_price * 4);
  }
}

TEST(paper_served_data_is_the_same_from_version_to_version) {
  // Digests of day bars, a day's full aggregate, and the ticks of minutes
  // years apart, as the model served them since days are drawn before their
  // minutes: the same seed must give the same data, to the last bit.
  const uint64_t expected[] = {
      0xed1a82b55dee1906ull, 0x82f08c28675a5402ull, 0xf9080956c281bd8aull, 0xdbc22ed86610ab3full,
      0x54892d739ec98610ull, 0xaa6b0797395cbadeull, 0x4ea5eed4cc0d70eaull, 0x5b34393725ff3c3dull,
      0x20f9c43e154a1bd3ull, 0x59a35383b3b0b1d2ull, 0xa1ce12d34ca04019ull, 0x032d880a93b4b08aull,
      0x0fe33ff0b385b4d8ull, 0x5e0f6b2f3b926bc5ull, 0xc20b905d2c9de7ecull, 0x39bcbee0fc9a036aull,
  };
  CHECK(Catalogue().size() == sizeof expected / sizeof expected[0]);
  for (const SymbolSpec& instrument : Catalogue()) {
    Market market(7);
    Digest digest;
    std::vector<Bar> bars;
    int64_t first = BarIndex(1440, kDay);
    market.Bars(instrument, 1440, first, first + 19, (kDay + 30 * 86400) * 1000, &bars);
    for (const Bar& b : bars) {
      digest.Add(uint64_t(b.time));
      for (double v : {b.open, b.high, b.low, b.close}) digest.Add(v);
      for (uint64_t v : {b.tick_volume, uint64_t(b.spread), b.real_volume}) digest.Add(v);
    }
    Aggregate day = market.Range(instrument, (kDay + 86400) * 1000, (kDay + 2 * 86400) * 1000);
    for (double v : {day.ask_high, day.ask_low, day.last_high, day.last_low}) digest.Add(v);
    for (uint64_t v : {day.trades, day.volume_high, day.volume_low}) digest.Add(v);
    std::vector<Tick> ticks;
    for (int64_t m = kDay / 60 - 3; m < kDay / 60 + 5000000; m += 99991) {
      market.MinuteTicks(instrument, m, &ticks);
      for (const Tick& t : ticks) digest.Add(t);
      digest.Add(market.LastTick(instrument, m * 60000 + 31234));
    }
    // Twenty days from a Monday: three Saturdays without a bar, but for crypto.
    CHECK(bars.size() == (std::strcmp(instrument.category, "Crypto") == 0 ? 20u : 17u));
    CHECK(digest.h == expected[instrument.index]);
  }
  std::vector<Tick> a, b;  // another seed, another market
  Market(7).MinuteTicks(Catalogue()[0], kDay / 60, &a), Market(8).MinuteTicks(Catalogue()[0], kDay / 60, &b);
  CHECK(a.front().bid != b.front().bid);
}

TEST(paper_bars_are_partial_up_to_now) {
  Market market(1);
  int64_t now_ms = (kDay + 3600 + 90) * 1000 + 500;  // 90.5 s into an hour
  std::vector<Bar> bars;
  market.Bars(Catalogue()[0], 60, BarIndex(60, kDay), BarIndex(60, kDay) + 5, now_ms, &bars);
  CHECK(bars.size() == 2 && bars[1].time == kDay + 3600);
  Aggregate partial = market.Range(Catalogue()[0], (kDay + 3600) * 1000, now_ms + 1);
  CHECK(bars[1].tick_volume == partial.ticks && bars[1].close == partial.close);
  CHECK(market.LastTick(Catalogue()[0], now_ms).bid == partial.close);
}

TEST(paper_day_bars_are_their_minutes_and_ticks_and_weeks_their_days) {
  // A week from a Monday (Friday's close, a Saturday, Sunday's open): a day bar, drawn from the
  // day alone, is the aggregate of its refined minutes and of their ticks, a week bar of its days.
  Market market(3);
  const int64_t monday = kDay / 86400, now_ms = (kDay + 30 * 86400) * 1000LL;
  auto total = [](const std::vector<Bar>& parts) {
    Bar s = parts.front();
    for (size_t i = 1; i < parts.size(); ++i) {
      const Bar& p = parts[i];
      s = Bar{0, s.open, std::max(s.high, p.high), std::min(s.low, p.low), p.close, s.tick_volume + p.tick_volume,
              std::min(s.spread, p.spread), s.real_volume + p.real_volume};
    }
    return std::make_tuple(s.open, s.high, s.low, s.close, s.tick_volume, s.spread, s.real_volume);
  };
  for (const SymbolSpec& instrument : Catalogue()) {
    std::vector<Bar> days, week;
    market.Bars(instrument, 1440, monday, monday + 6, now_ms, &days);
    market.Bars(instrument, kTimeframeW1, BarIndex(kTimeframeW1, kDay), BarIndex(kTimeframeW1, kDay), now_ms, &week);
    CHECK(total(week) == total(days));
    for (const Bar& day : days) {
      if (day.time < kDay + 4 * 86400) continue;  // Friday to Sunday
      std::vector<Bar> minutes;
      market.Bars(instrument, 1, day.time / 60, day.time / 60 + 1439, now_ms, &minutes);
      Aggregate t = market.Range(instrument, day.time * 1000, (day.time + 86400) * 1000);
      CHECK(total({day}) == total(minutes));
      CHECK(total({day}) == total({Bar{0, t.open, t.high, t.low, t.close, t.ticks, t.spread_min, t.volume}}));
    }
  }
}

TEST(paper_calendar_bars) {
  // 2024-02-15 12:00 UTC lies in the week of Monday 2024-02-12 and in February.
  int64_t t = 1707998400;
  CHECK(BarStart(kTimeframeW1, BarIndex(kTimeframeW1, t)) == 1707696000);
  CHECK(BarStart(kTimeframeMN1, BarIndex(kTimeframeMN1, t)) == 1706745600);      // 2024-02-01
  CHECK(BarStart(kTimeframeMN1, BarIndex(kTimeframeMN1, t) + 1) == 1709251200);  // 2024-03-01
  CHECK(BarStart(kTimeframeMN1, BarIndex(kTimeframeMN1, t) - 2) == 1701388800);  // 2023-12-01
  CHECK(BarStart(240, BarIndex(240, t)) == t);
  CHECK(BarIndex(60, -1) == -1 && FloorDiv(-1, 60) == -1);
  CHECK(ValidTimeframe(43200) && !ValidTimeframe(7) && !ValidTimeframe(0));
}
