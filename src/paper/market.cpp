#include "paper/market.h"

#include <algorithm>
#include <cmath>

#include "paper/codes.h"

namespace brv::paper {
namespace {

// name, description, path, category, base, profit, margin currency, calc mode, digits,
// base price, daily volatility, spread (points), contract, margin rate, ticks per minute,
// session hours, volume min, max, step, selected at start
const std::vector<SymbolSpec> kCatalogue = {
    {0, "EURUSD", "Euro vs US Dollar", "Forex\\Majors\\EURUSD", "Forex", "EUR", "USD", "EUR", kCalcForex, 5,
     1.0850, 0.005, 12, 100000, 1, 14, true, 0.01, 100, 0.01, true},
    {1, "GBPUSD", "Great Britain Pound vs US Dollar", "Forex\\Majors\\GBPUSD", "Forex", "GBP", "USD", "GBP",
     kCalcForex, 5, 1.2650, 0.006, 15, 100000, 1, 12, true, 0.01, 100, 0.01, true},
    {2, "USDJPY", "US Dollar vs Japanese Yen", "Forex\\Majors\\USDJPY", "Forex", "USD", "JPY", "USD", kCalcForex,
     3, 149.50, 0.006, 14, 100000, 1, 12, true, 0.01, 100, 0.01, true},
    {3, "USDCHF", "US Dollar vs Swiss Franc", "Forex\\Majors\\USDCHF", "Forex", "USD", "CHF", "USD", kCalcForex, 5,
     0.8850, 0.005, 16, 100000, 1, 9, true, 0.01, 100, 0.01, false},
    {4, "AUDUSD", "Australian Dollar vs US Dollar", "Forex\\Majors\\AUDUSD", "Forex", "AUD", "USD", "AUD",
     kCalcForex, 5, 0.6550, 0.007, 14, 100000, 1, 9, true, 0.01, 100, 0.01, false},
    {5, "USDCAD", "US Dollar vs Canadian Dollar", "Forex\\Majors\\USDCAD", "Forex", "USD", "CAD", "USD",
     kCalcForex, 5, 1.3550, 0.005, 18, 100000, 1, 9, true, 0.01, 100, 0.01, false},
    {6, "NZDUSD", "New Zealand Dollar vs US Dollar", "Forex\\Majors\\NZDUSD", "Forex", "NZD", "USD", "NZD",
     kCalcForex, 5, 0.6050, 0.007, 20, 100000, 1, 7, true, 0.01, 100, 0.01, false},
    {7, "EURGBP", "Euro vs Great Britain Pound", "Forex\\Crosses\\EURGBP", "Forex", "EUR", "GBP", "EUR",
     kCalcForex, 5, 0.8580, 0.004, 16, 100000, 1, 8, true, 0.01, 100, 0.01, false},
    {8, "EURJPY", "Euro vs Japanese Yen", "Forex\\Crosses\\EURJPY", "Forex", "EUR", "JPY", "EUR", kCalcForex, 3,
     162.20, 0.006, 20, 100000, 1, 9, true, 0.01, 100, 0.01, false},
    {9, "GBPJPY", "Great Britain Pound vs Japanese Yen", "Forex\\Crosses\\GBPJPY", "Forex", "GBP", "JPY", "GBP",
     kCalcForex, 3, 189.10, 0.007, 28, 100000, 1, 9, true, 0.01, 100, 0.01, false},
    {10, "XAUUSD", "Gold vs US Dollar", "Metals\\XAUUSD", "Metals", "XAU", "USD", "XAU", kCalcCfd, 2, 2050.00,
     0.009, 30, 100, 1, 14, true, 0.01, 50, 0.01, true},
    {11, "XAGUSD", "Silver vs US Dollar", "Metals\\XAGUSD", "Metals", "XAG", "USD", "XAG", kCalcCfd, 3, 23.500,
     0.014, 25, 5000, 1, 9, true, 0.01, 50, 0.01, false},
    {12, "US500", "US 500 Cash Index", "Indices\\US500", "Indices", "USD", "USD", "USD", kCalcCfd, 2, 5000.00,
     0.010, 50, 10, 5, 16, true, 0.1, 500, 0.1, true},
    {13, "DE40", "Germany 40 Cash Index", "Indices\\DE40", "Indices", "EUR", "EUR", "EUR", kCalcCfd, 2, 17000.00,
     0.011, 150, 1, 5, 14, true, 0.1, 500, 0.1, false},
    {14, "BTCUSD", "Bitcoin vs US Dollar", "Crypto\\BTCUSD", "Crypto", "BTC", "USD", "BTC", kCalcCfd, 2,
     42000.00, 0.030, 1500, 1, 50, 20, false, 0.01, 10, 0.01, true},
    {15, "ETHUSD", "Ethereum vs US Dollar", "Crypto\\ETHUSD", "Crypto", "ETH", "USD", "ETH", kCalcCfd, 2, 2300.00,
     0.035, 150, 1, 50, 16, false, 0.01, 100, 0.01, false},
};

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t Hash(uint64_t a, uint64_t b, uint64_t c, uint64_t d = 0) {
  return Mix(a ^ Mix(b * 0xD6E8FEB86659FD93ull ^ c * 0x9E3779B97F4A7C15ull ^ d * 0xC2B2AE3D27D4EB4Full));
}

double Unit(uint64_t h) { return double(h >> 11) * 0x1.0p-53; }   // [0, 1)
double Signed(uint64_t h) { return 2.0 * Unit(h) - 1.0; }          // [-1, 1)
// A standard normal deviate, near enough: the sum of four 16-bit uniforms
// of one hash (Irwin-Hall), centred and scaled to unit variance.
double Normal(uint64_t h) {
  double sum = double(h & 0xFFFF) + double((h >> 16) & 0xFFFF) + double((h >> 32) & 0xFFFF) + double(h >> 48);
  return (sum / 65536.0 - 2.0) * 1.7320508075688772;
}

const double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

// Relative activity by hour of day (UTC): Asian, European and American
// sessions add up; the quiet hours after the American close stay low.
double SessionFactor(int hour) {
  double f = 0.35;
  if (hour < 8) f += 0.35;
  if (hour >= 7 && hour < 16) f += 0.6;
  if (hour >= 12 && hour < 21) f += 0.6;
  return f;
}

constexpr int kScales = 11;  // 4^0 .. 4^10 minutes (about two years)

double AnchorLog(uint64_t seed, const SymbolSpec& instrument, int64_t minute) {
  // The last anchor computed in this thread: consecutive minutes share one.
  thread_local uint64_t cached_seed = 0;
  thread_local int64_t cached_minute = 0;
  thread_local double cached = 0;
  if (cached_seed == seed && cached_minute == minute && seed != 0) return cached;
  const double sigma = instrument.daily_vol / 37.94733192202055;  // per minute: sqrt(1440)
  double total = 0;
  for (int k = 0; k < kScales; ++k) {
    int shift = 2 * k;
    int64_t j = minute >> shift;  // floor division by 4^k
    int64_t rest = minute - j * (int64_t(1) << shift);
    double g0 = Signed(Hash(seed, 100 + k, uint64_t(j)));
    double g = g0;
    if (rest != 0) {
      double f = double(rest) / double(int64_t(1) << shift);
      double s = f * f * (3.0 - 2.0 * f);
      g += (Signed(Hash(seed, 100 + k, uint64_t(j + 1))) - g0) * s;
    }
    total += 0.6 * sigma * double(int64_t(1) << k) * g;  // amplitude grows with sqrt(4^k) = 2^k
  }
  cached_seed = seed;
  cached_minute = minute;
  cached = total;
  return total;
}

}  // namespace

double SymbolSpec::point() const { return 1.0 / kPow10[digits]; }

const std::vector<SymbolSpec>& Catalogue() { return kCatalogue; }

std::u16string SymbolName(const SymbolSpec& instrument) {
  std::u16string s;
  for (const char* p = instrument.name; *p; ++p) s += char16_t(*p);
  return s;
}

const SymbolSpec* FindSymbol(const std::u16string& name) {
  for (const auto& instrument : kCatalogue) {
    if (SymbolName(instrument) == name) return &instrument;
  }
  return nullptr;
}

double RoundPrice(double price, int digits) {
  double scale = digits >= 0 && digits <= 8 ? kPow10[digits] : std::pow(10.0, digits);
  return std::round(price * scale) / scale;
}

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

void Aggregate::Merge(const Aggregate& later) {
  if (later.ticks == 0) return;
  if (ticks == 0) {
    *this = later;
    return;
  }
  high = std::max(high, later.high);
  low = std::min(low, later.low);
  ask_high = std::max(ask_high, later.ask_high);
  ask_low = std::min(ask_low, later.ask_low);
  last_high = std::max(last_high, later.last_high);
  last_low = std::min(last_low, later.last_low);
  spread_min = std::min(spread_min, later.spread_min);
  close = later.close;
  ticks += later.ticks;
  if (later.trades > 0) {
    if (trades == 0) {
      volume_high = later.volume_high;
      volume_low = later.volume_low;
    } else {
      volume_high = std::max(volume_high, later.volume_high);
      volume_low = std::min(volume_low, later.volume_low);
    }
  }
  trades += later.trades;
  volume += later.volume;
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

// ---- the model -----------------------------------------------------------

uint64_t Market::SymbolSeed(const SymbolSpec& instrument) const {
  uint64_t h = 1469598103934665603ull;  // FNV-1a of the name
  for (const char* p = instrument.name; *p; ++p) h = (h ^ uint8_t(*p)) * 1099511628211ull;
  return Hash(seed_, h, 0x5EED);
}

double Market::AnchorMid(const SymbolSpec& instrument, int64_t minute) const {
  return instrument.base_price * std::exp(AnchorLog(SymbolSeed(instrument), instrument, minute));
}

void Market::MinuteTicks(const SymbolSpec& instrument, int64_t minute, std::vector<Tick>* out) const {
  out->clear();
  const uint64_t seed = SymbolSeed(instrument);
  const uint64_t m = uint64_t(minute);
  double factor = 1.0;
  if (instrument.session_hours) factor = SessionFactor(int(FloorDiv(minute, 60) - FloorDiv(minute, 1440) * 24));
  double mean = std::max(1.0, instrument.ticks_per_minute * factor);
  int n = 1 + int(Unit(Hash(seed, m, 1)) * 2.0 * (mean - 1.0) + 0.5);
  n = std::min(n, 250);

  int32_t offsets[256];
  offsets[0] = 0;
  for (int i = 1; i < n; ++i) offsets[i] = int32_t(1 + Hash(seed, m, 2, uint64_t(i)) % 59999);
  std::sort(offsets + 1, offsets + n);
  n = int(std::unique(offsets, offsets + n) - offsets);

  const double a = AnchorLog(seed, instrument, minute);
  const double b = AnchorLog(seed, instrument, minute + 1);
  const double sigma = instrument.daily_vol / 37.94733192202055 * 0.5;
  // A Brownian bridge from a to b over the minute, sampled at the offsets.
  double walk[256];
  walk[0] = 0;
  for (int i = 1; i < n; ++i) {
    walk[i] = walk[i - 1] + Normal(Hash(seed, m, 3, uint64_t(i))) * sigma *
                                std::sqrt(double(offsets[i] - offsets[i - 1]) / 60000.0);
  }
  double end = walk[n - 1] + Normal(Hash(seed, m, 3, uint64_t(n))) * sigma *
                                 std::sqrt(double(60000 - offsets[n - 1]) / 60000.0);

  const double scale = kPow10[instrument.digits];
  double prev_bid = 0, prev_ask = 0, prev_last = 0;
  for (int i = 0; i < n; ++i) {
    double f = offsets[i] / 60000.0;
    double mid = instrument.base_price * std::exp(a + (b - a) * f + walk[i] - f * end);
    uint64_t h = Hash(seed, m, 4, uint64_t(i));
    int32_t spread = int32_t(std::max(1.0, std::round(instrument.spread * (0.75 + 0.5 * Unit(h)))));
    Tick t;
    t.time_msc = minute * 60000 + offsets[i];
    t.spread = spread;
    // Bid and ask in whole points, then as prices of the symbol's digits.
    double bid_points = std::round(mid * scale - spread / 2.0);
    t.bid = bid_points / scale;
    t.ask = (bid_points + spread) / scale;
    t.flags = 0;
    if (i == 0 || t.bid != prev_bid) t.flags |= kTickBid;
    if (i == 0 || t.ask != prev_ask) t.flags |= kTickAsk;
    bool trade = i == 0 || t.flags == 0 || Unit(Mix(h)) < 0.4;
    if (trade) {
      bool buy = (Mix(h ^ 0x55) & 1) != 0;
      t.last = buy ? t.ask : t.bid;
      t.volume = 1 + Mix(h ^ 0xAA) % 10;
      t.flags |= kTickLast | kTickVolume | (buy ? kTickBuy : kTickSell);
    } else {
      t.last = prev_last;
      t.volume = 0;
    }
    t.volume_real = double(t.volume);
    prev_bid = t.bid;
    prev_ask = t.ask;
    prev_last = t.last;
    out->push_back(t);
  }
}

Tick Market::LastTick(const SymbolSpec& instrument, int64_t now_ms) const {
  std::vector<Tick> ticks;
  MinuteTicks(instrument, FloorDiv(now_ms, 60000), &ticks);
  Tick last = ticks.front();  // at :00.000, never after now
  for (const Tick& t : ticks) {
    if (t.time_msc > now_ms) break;
    last = t;
  }
  return last;
}

Aggregate Market::Day(const SymbolSpec& instrument, int64_t day) const {
  uint64_t key = (uint64_t(instrument.index) << 40) ^ uint64_t(day);
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = days_.find(key);
    if (it != days_.end()) return it->second;
  }
  Aggregate agg;
  std::vector<Tick> ticks;
  for (int64_t i = 0; i < 1440; ++i) {
    MinuteTicks(instrument, day * 1440 + i, &ticks);
    for (const Tick& t : ticks) agg.Add(t);
  }
  std::lock_guard<std::mutex> lock(mu_);
  days_[key] = agg;
  return agg;
}

Aggregate Market::Range(const SymbolSpec& instrument, int64_t from_ms, int64_t to_ms) const {
  Aggregate agg;
  int64_t t = std::max(from_ms, kHistoryStart * 1000);
  std::vector<Tick> ticks;
  while (t < to_ms) {
    int64_t day = FloorDiv(t, 86400000);
    if (t == day * 86400000 && to_ms >= (day + 1) * 86400000) {
      agg.Merge(Day(instrument, day));
      t = (day + 1) * 86400000;
      continue;
    }
    int64_t minute = FloorDiv(t, 60000);
    MinuteTicks(instrument, minute, &ticks);
    for (const Tick& k : ticks) {
      if (k.time_msc >= t && k.time_msc < to_ms) agg.Add(k);
    }
    t = (minute + 1) * 60000;
  }
  return agg;
}

void Market::Bars(const SymbolSpec& instrument, int32_t timeframe, int64_t first, int64_t last, int64_t now_ms,
                  std::vector<Bar>* out) const {
  for (int64_t i = first; i <= last; ++i) {
    int64_t start = BarStart(timeframe, i);
    if (start * 1000 > now_ms) break;
    int64_t end_ms = std::min(BarStart(timeframe, i + 1) * 1000, now_ms + 1);
    Aggregate agg = Range(instrument, start * 1000, end_ms);
    if (agg.ticks == 0) continue;
    out->push_back(Bar{start, agg.open, agg.high, agg.low, agg.close, agg.ticks, agg.spread_min, agg.volume});
  }
}

void Market::Ticks(const SymbolSpec& instrument, int64_t from_ms, int64_t to_ms, int32_t selection, size_t limit,
                   int64_t now_ms, std::vector<Tick>* out) const {
  int64_t from = std::max(from_ms, kHistoryStart * 1000);
  int64_t to = std::min(to_ms, now_ms);
  std::vector<Tick> ticks;
  for (int64_t minute = FloorDiv(from, 60000); minute * 60000 <= to && out->size() < limit; ++minute) {
    MinuteTicks(instrument, minute, &ticks);
    for (const Tick& t : ticks) {
      if (t.time_msc < from || t.time_msc > to) continue;
      if (selection == kCopyTicksQuotes && !(t.flags & (kTickBid | kTickAsk))) continue;
      if (selection == kCopyTicksTrades && !(t.flags & kTickLast)) continue;
      out->push_back(t);
      if (out->size() >= limit) break;
    }
  }
}

}  // namespace brv::paper
