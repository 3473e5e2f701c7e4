// The price model: ticks that make up their minute, data that stays the same
// for a seed, partial and missing bars, and calendar bar numbering.
#include <cmath>
#include <cstring>
#include <vector>

#include "check.h"
#include "paper/codes.h"
#include "paper/market.h"

using namespace brv::paper;

namespace {
const int64_t kDay = 1672617600;  // 2023-01-02 00:00 UTC, a Monday
}  // namespace

TEST(paper_minute_ticks_are_ordered_rounded_and_open_the_minute) {
  Market market(1);
  std::vector<Tick> ticks;
  for (const SymbolSpec& instrument : Catalogue()) {
    double scale = std::pow(10.0, instrument.digits);
    for (int64_t m = kDay / 60; m < kDay / 60 + 120; ++m) {
      market.MinuteTicks(instrument, m, &ticks);
      CHECK(!ticks.empty() && ticks[0].time_msc == m * 60000);
      for (size_t i = 0; i < ticks.size(); ++i) {
        const Tick& t = ticks[i];
        CHECK(t.time_msc >= m * 60000 && t.time_msc < (m + 1) * 60000);
        if (i > 0) CHECK(t.time_msc > ticks[i - 1].time_msc);
        CHECK(t.bid > 0 && t.ask > t.bid);
        CHECK(std::fabs(t.bid * scale - std::round(t.bid * scale)) < 1e-6);
        CHECK(t.spread == int32_t(std::lround((t.ask - t.bid) * scale)));
        CHECK(t.flags != 0);
        if (t.flags & kTickLast) CHECK(t.volume > 0 && (t.last == t.bid || t.last == t.ask));
      }
    }
  }
}

TEST(paper_prices_are_continuous_and_stay_plausible_over_years) {
  Market market(1);
  std::vector<Tick> ticks, next;
  for (const SymbolSpec& instrument : Catalogue()) {
    for (int64_t m = kDay / 60; m < kDay / 60 + 240; ++m) {
      market.MinuteTicks(instrument, m, &ticks);
      market.MinuteTicks(instrument, m + 1, &next);
      double gap = std::fabs(next.front().bid - ticks.back().bid) / ticks.back().bid;
      CHECK(gap < 20 * instrument.daily_vol / std::sqrt(1440.0));
    }
    for (int64_t day = 0; day < 15 * 365; day += 7) {
      double mid = market.AnchorMid(instrument, (kHistoryStart / 60) + day * 1440);
      CHECK(mid > instrument.base_price / 4 && mid < instrument.base_price * 4);
    }
  }
}

// FNV-1a over the bytes of the values served.
struct Digest {
  uint64_t h = 1469598103934665603ull;
  void Add(const void* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
  }
  void Add(double v) { Add(&v, sizeof v); }
  void Add(uint64_t v) { Add(&v, sizeof v); }
  void Add(const Tick& t) {
    Add(uint64_t(t.time_msc));
    for (double v : {t.bid, t.ask, t.last}) Add(v);
    for (uint64_t v : {t.volume, uint64_t(t.flags)}) Add(v);
    Add(t.volume_real);
    Add(uint64_t(t.spread));
  }
};

TEST(paper_served_data_is_the_same_from_version_to_version) {
  // Digests of day bars (cached in parallel), a day's full aggregate, and the
  // ticks of minutes years apart, as the model served them since forex,
  // metals and indices close at weekends and forex pairs are ratios of
  // currency values (crypto's are those first published): the same seed
  // must give the same data, to the last bit.
  const uint64_t expected[] = {
      0x66958ccdb57d1cc4ull, 0xd79f7f06b654db8full, 0x495f92fd4ff2be11ull, 0x4568044af9681516ull,
      0xac5f1906788de4f5ull, 0xdaf3cc4432127a0eull, 0x2065eb78b6bde65aull, 0x0eaf44ebeedfef00ull,
      0xe08d0dc4ff894128ull, 0xc634b864614cc0a3ull, 0x6b7ecf1458f50927ull, 0xe327758345fe822cull,
      0x5b63d4e515dd1d20ull, 0x4baae7a9cf7d4b59ull, 0x3e37f37816ee52fdull, 0x1277966ca8fde1b3ull,
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
}

TEST(paper_bars_are_partial_up_to_now_and_absent_before_history) {
  Market market(1);
  const SymbolSpec& instrument = Catalogue()[0];
  int64_t now_ms = (kDay + 3600 + 90) * 1000 + 500;  // 90.5 s into an hour
  std::vector<Bar> bars;
  market.Bars(instrument, 60, BarIndex(60, kDay), BarIndex(60, kDay) + 5, now_ms, &bars);
  CHECK(bars.size() == 2 && bars[1].time == kDay + 3600);
  Aggregate partial = market.Range(instrument, (kDay + 3600) * 1000, now_ms + 1);
  CHECK(bars[1].tick_volume == partial.ticks && bars[1].close == partial.close);
  CHECK(market.LastTick(instrument, now_ms).bid == partial.close);
  bars.clear();
  market.Bars(instrument, 1440, BarIndex(1440, kHistoryStart) - 3, BarIndex(1440, kHistoryStart), now_ms, &bars);
  CHECK(bars.size() == 1 && bars[0].time == kHistoryStart);
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
