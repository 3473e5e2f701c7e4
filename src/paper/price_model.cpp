#include "paper/price_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "paper/codes.h"
#include "paper/sessions.h"

namespace brv::paper {
namespace {

// ---- deterministic draws -------------------------------------------------

inline uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

inline uint64_t Hash(uint64_t a, uint64_t b, uint64_t c, uint64_t d = 0) {
  return Mix(a ^ Mix(b * 0xD6E8FEB86659FD93ull ^ c * 0x9E3779B97F4A7C15ull ^ d * 0xC2B2AE3D27D4EB4Full));
}

double Unit(uint64_t h) { return double(h >> 11) * 0x1.0p-53; }  // [0, 1)
double Signed(uint64_t h) { return 2.0 * Unit(h) - 1.0; }         // [-1, 1)
// Two uniforms of one hash, each in (0, 1): never 0, so their logs are finite.
double HighHalf(uint64_t h) { return (double(h >> 32) + 0.5) * 0x1.0p-32; }
double LowHalf(uint64_t h) { return (double(h & 0xFFFFFFFFu) + 0.5) * 0x1.0p-32; }
// A standard normal deviate, near enough: the sum of four 16-bit uniforms
// of one hash (Irwin-Hall), centred and scaled to unit variance.
double Normal(uint64_t h) {
  double sum = double(int64_t((h & 0xFFFF) + ((h >> 16) & 0xFFFF) + ((h >> 32) & 0xFFFF) + (h >> 48)));
  return (sum / 65536.0 - 2.0) * 1.7320508075688772;
}

// Tags that keep the draws of different purposes apart.
enum Draw : uint64_t {
  kDrawCounts = 1,
  kDrawOffsets = 2,
  kDrawTickWalk = 3,
  kDrawTick = 4,
  kDrawSpreads = 5,
  kDrawMinuteExtremes = 6,
  kDrawKeyTicks = 7,
  kDrawDayExtremes = 10,
  kDrawDayExtremeTimes = 11,
  kDrawDayWalk = 12,
};

// The extreme of a Brownian bridge from 0 to c with variance sigma^2 over
// its length: P(max > m) = exp(-2 m (m - c) / sigma^2) for m >= max(0, c),
// so the maximum for a uniform u in (0, 1) is the root below, and the
// minimum its mirror image.
double BridgeMax(double c, double sigma, double u) { return (c + std::sqrt(c * c - 2 * sigma * sigma * std::log(u))) / 2; }
double BridgeMin(double c, double sigma, double u) { return (c - std::sqrt(c * c - 2 * sigma * sigma * std::log(u))) / 2; }

constexpr double kSqrtMinutesPerDay = 37.94733192202055;  // sqrt(1440)
// The intraday wander relative to the symbol's daily volatility, so that a
// day's range is about 1.7 times the typical move from close to close.
constexpr double kIntradayVol = 0.6;

// Relative activity by hour of day (UTC): Asian, European and American
// sessions add up; the quiet hours after the American close stay low.
double SessionFactor(int hour) {
  double f = 0.35;
  if (hour < 8) f += 0.35;
  if (hour >= 7 && hour < 16) f += 0.6;
  if (hour >= 12 && hour < 21) f += 0.6;
  return f;
}

// ---- the slow noise at day boundaries --------------------------------------

constexpr int kScales = 11;  // 4^0 .. 4^10 minutes (about two years)

// Multi-scale value noise: the sum over the scales 4^k minutes of lattice
// values hashed every 4^k minutes and blended by a smoothstep in between,
// with amplitudes growing with the square root of the scale. It wanders like
// a random walk over days but stays within a plausible band over years.
double ValueNoise(uint64_t seed, double daily_vol, int64_t minute) {
  const double sigma = daily_vol / kSqrtMinutesPerDay;  // per minute
  double total = 0.6 * sigma * Signed(Hash(seed, 100, uint64_t(minute)));
  for (int k = 1; k < kScales; ++k) {
    int64_t j = minute >> (2 * k);  // floor division by 4^k
    double f = double(minute - j * (int64_t(1) << (2 * k))) / double(int64_t(1) << (2 * k));
    double s = f * f * (3.0 - 2.0 * f);
    double g0 = Signed(Hash(seed, 100 + k, uint64_t(j)));
    double g1 = Signed(Hash(seed, 100 + k, uint64_t(j + 1)));
    total += 0.6 * sigma * double(int64_t(1) << k) * (g0 + (g1 - g0) * s);
  }
  return total;
}

// Forex is a system of currencies: each has a value against a common
// numeraire, the exponential of a sum of value noises (its own, and a
// regional factor shared by the European currencies or by the commodity
// currencies), and a pair's day anchors are the ratio of its currencies'
// values. So the majors are correlated from day to day through USD and the
// regional factors (EURUSD and USDCHF strongly negative, AUDUSD and NZDUSD
// strongly positive). Other symbols have a noise of their own.
struct CurrencyModel {
  const char* code;
  double value;     // in USD, at the centre of the model
  double own_vol;   // daily, of its own factor
  int region;       // index in kRegionVol, or -1
  double loading;   // of the regional factor
};
const CurrencyModel kCurrencies[] = {
    {"USD", 1.0, 0.0030, -1, 0},          {"EUR", 1.0850, 0.0018, 0, 1.0},
    {"GBP", 1.2650, 0.0030, 0, 0.6},      {"JPY", 1 / 149.50, 0.0035, -1, 0},
    {"CHF", 1 / 0.8850, 0.0020, 0, 0.9},  {"AUD", 0.6550, 0.0030, 1, 1.0},
    {"NZD", 0.6050, 0.0030, 1, 1.0},      {"CAD", 1 / 1.3550, 0.0022, 1, 0.5},
};
const double kRegionVol[] = {0.0025, 0.0030};  // Europe, commodity currencies

const CurrencyModel* FindCurrency(const char* code) {
  for (const auto& c : kCurrencies) {
    if (std::strcmp(c.code, code) == 0) return &c;
  }
  return nullptr;
}

bool IsCurrencyPair(const SymbolSpec& instrument) {
  return instrument.calc_mode == kCalcForex && FindCurrency(instrument.base) != nullptr &&
         FindCurrency(instrument.profit) != nullptr;
}

// The pair of the catalogue that quotes the currency against USD, and the
// sign that turns its log price into the currency's log value in USD.
const SymbolSpec* DollarLeg(const char* currency, double* sign) {
  for (const SymbolSpec& s : Catalogue()) {
    if (s.calc_mode != kCalcForex) continue;
    if (std::strcmp(s.base, currency) == 0 && std::strcmp(s.profit, "USD") == 0) {
      *sign = 1;
      return &s;
    }
    if (std::strcmp(s.base, "USD") == 0 && std::strcmp(s.profit, currency) == 0) {
      *sign = -1;
      return &s;
    }
  }
  return nullptr;
}

}  // namespace

struct PriceModel::Factor {
  uint64_t seed;
  double daily_vol;
  double weight;
};

void PointBar::Merge(const PointBar& later) {
  if (later.ticks == 0) return;
  if (ticks == 0) {
    *this = later;
    return;
  }
  high = std::max(high, later.high);
  low = std::min(low, later.low);
  close = later.close;
  close_spread = later.close_spread;
  ticks += later.ticks;
  trades += later.trades;
  volume += later.volume;
  spread = std::min(spread, later.spread);
}

PriceModel::PriceModel(uint64_t market_seed, const SymbolSpec& instrument)
    : instrument_(instrument), scale_(PowerOfTen(instrument.digits)) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a of the name
  for (const char* p = instrument.name; *p; ++p) h = (h ^ uint8_t(*p)) * 1099511628211ull;
  seed_ = Hash(market_seed, h, 0x5EED);
  counts_seed_ = Hash(seed_, kDrawCounts, 1);
  narrowest_spread_ = std::max(1, int32_t(std::lround(instrument.spread * 0.75)));
  widest_spread_ = std::max(narrowest_spread_, int32_t(std::lround(instrument.spread * 1.25)));

  if (!IsCurrencyPair(instrument)) {
    factors_.push_back(Factor{seed_, instrument.daily_vol, 1.0});
    return;
  }
  const CurrencyModel* base = FindCurrency(instrument.base);
  const CurrencyModel* quote = FindCurrency(instrument.profit);
  if (std::strcmp(base->code, "USD") != 0 && std::strcmp(quote->code, "USD") != 0) {
    // A cross: log(cross) = log(base in USD) - log(quote in USD).
    double base_sign = 0, quote_sign = 0;
    const SymbolSpec* base_leg = DollarLeg(base->code, &base_sign);
    const SymbolSpec* quote_leg = DollarLeg(quote->code, &quote_sign);
    if (base_leg != nullptr && quote_leg != nullptr) {
      leg_[0].reset(new PriceModel(market_seed, *base_leg));
      leg_[1].reset(new PriceModel(market_seed, *quote_leg));
      leg_sign_[0] = base_sign;
      leg_sign_[1] = -quote_sign;
      cross_offset_ = leg_sign_[0] * std::log(base_leg->base_price) + leg_sign_[1] * std::log(quote_leg->base_price) -
                      std::log(instrument.base_price);
      return;
    }
  }
  day_noise_offset_ = std::log(base->value / quote->value / instrument.base_price);
  for (const auto* c : {base, quote}) {
    double sign = c == base ? 1.0 : -1.0;
    factors_.push_back(Factor{Hash(market_seed, 0xC0, uint64_t(c - kCurrencies)), c->own_vol, sign});
    if (c->region >= 0) {
      factors_.push_back(Factor{Hash(market_seed, 0xE0, uint64_t(c->region)), kRegionVol[c->region], sign * c->loading});
    }
  }
}

PriceModel::~PriceModel() = default;

double PriceModel::MinuteVol() const { return 0.5 * kIntradayVol * instrument_.daily_vol / kSqrtMinutesPerDay; }

int64_t PriceModel::BidPoints(double anchor, int32_t spread) const {
  return int64_t(std::round(instrument_.base_price * std::exp(anchor) * scale_ - spread / 2.0));
}

// ---- what a minute holds, before its prices --------------------------------

double PriceModel::Activity(int64_t hour) const {
  if (!instrument_.session_hours) return 1.0;
  return SessionFactor(int(FloorDiv(hour, 60) - FloorDiv(hour, 1440) * 24));
}

PriceModel::Counts PriceModel::HourCounts(int64_t hour) const {
  // At least four ticks a minute (the open, the high, the low and the
  // close), on average the symbol's rate in the hour's activity; about 40 %
  // of the ticks are trades, the first of every minute among them, of 1 to
  // 10 lots each. One hash gives the three uniforms (21 bits each).
  // (At most 60 on average: then no minute gets more than 4 + 1.5 * 56 * 2
  // ticks, well within DrawnTicks::kMaxTicks.)
  const double mean = std::min(60.0, std::max(4.0, instrument_.ticks_per_minute * Activity(hour)));
  const uint64_t h = Mix(counts_seed_ ^ uint64_t(hour) * 0x9E3779B97F4A7C15ull);
  const double u_ticks = double(h & 0x1FFFFF) * 0x1.0p-21;
  const double u_trades = double((h >> 21) & 0x1FFFFF) * 0x1.0p-21;
  const double u_volume = double((h >> 42) & 0x1FFFFF) * 0x1.0p-21;
  Counts c;
  c.ticks = 60 * 4 + uint64_t(60 * (mean - 4) * (0.5 + u_ticks));
  c.trades = 60 + uint64_t(0.8 * double(c.ticks - 60) * u_trades + 0.5);
  c.volume = c.trades + uint64_t(9 * double(c.trades) * u_volume);
  return c;
}

void PriceModel::SplitHour(int64_t hour, Counts minutes[60]) const {
  // Shares of the hour's extra ticks by hashed weights (1 to 2), then the
  // extra trades by the minutes' extra ticks and the extra volume by their
  // trades: the differences of the rounded-down running shares, so that
  // they add up exactly and no minute gets more trades than ticks or more
  // than 10 lots a trade.
  const Counts total = HourCounts(hour);
  uint64_t weight[61] = {0};  // running sums
  for (int k = 0; k < 60; ++k) weight[k + 1] = weight[k] + 1024 + (Hash(seed_, uint64_t(hour + k), kDrawCounts) & 1023);
  auto share = [](uint64_t amount, const uint64_t* running, int k) {
    return amount * running[k + 1] / running[60] - amount * running[k] / running[60];
  };
  for (int k = 0; k < 60; ++k) minutes[k].ticks = 4 + share(total.ticks - 240, weight, k);
  for (int k = 0; k < 60; ++k) weight[k + 1] = weight[k] + minutes[k].ticks - 1;
  for (int k = 0; k < 60; ++k) minutes[k].trades = 1 + share(total.trades - 60, weight, k);
  for (int k = 0; k < 60; ++k) weight[k + 1] = weight[k] + minutes[k].trades;
  for (int k = 0; k < 60; ++k) minutes[k].volume = minutes[k].trades + share(total.volume - total.trades, weight, k);
}

PriceModel::MinuteSpreads PriceModel::Spreads(int64_t minute, bool opens_day) const {
  // The first tick has the minute's narrowest spread: the symbol's
  // narrowest in most minutes, and always in the first minute of a day,
  // so that a day's narrowest spread is known without its minutes.
  uint64_t h = Hash(seed_, uint64_t(minute), kDrawSpreads);
  double u = Unit(h);
  int32_t extra = u < 0.6 ? 0 : u < 0.9 ? 1 : 2;
  MinuteSpreads s;
  s.open = opens_day ? narrowest_spread_ : std::min(widest_spread_, narrowest_spread_ + extra);
  s.close = s.open + int32_t(Unit(Mix(h)) * (widest_spread_ - s.open + 1));
  return s;
}

// ---- days ------------------------------------------------------------------

PriceModel::DayShape PriceModel::Shape(int64_t day, int64_t first, int64_t end) const {
  DayShape shape;
  double open = day_noise_offset_, close = day_noise_offset_;
  for (const Factor& f : factors_) {
    open += f.weight * ValueNoise(f.seed, f.daily_vol, first);
    close += f.weight * ValueNoise(f.seed, f.daily_vol, end);
  }
  const double sigma = kIntradayVol * instrument_.daily_vol * std::sqrt(double(end - first) / 1440.0);
  uint64_t h = Hash(seed_, uint64_t(day), kDrawDayExtremes);
  shape.open_anchor = open;
  shape.close_anchor = close;
  shape.high_anchor = open + BridgeMax(close - open, sigma, HighHalf(h));
  shape.low_anchor = open + BridgeMin(close - open, sigma, LowHalf(h));
  PointBar& bar = shape.bar;
  bar.open = BidPoints(open, Spreads(first, true).open);
  bar.close_spread = Spreads(end - 1, end - 1 == first).close;
  bar.close = BidPoints(close, bar.close_spread);
  // The anchors stay between the high and low anchors; the day's extremes
  // lie a little beyond them, where a minute's wander reaches (three times
  // its typical extent, so that other minutes seldom come as far). The high
  // tick has the narrowest spread and the low tick the widest, so that no
  // anchor between the extremes gives a bid beyond them.
  const double reach = 3 * MinuteVol();
  bar.high = std::max({bar.open, bar.close, BidPoints(shape.high_anchor + reach, narrowest_spread_)});
  bar.low = std::min({bar.open, bar.close, BidPoints(shape.low_anchor - reach, widest_spread_)});
  bar.spread = narrowest_spread_;
  return shape;
}

PointBar PriceModel::Day(int64_t day) {
  int64_t first, end;
  if (!DayOpenSpan(instrument_, day, &first, &end)) return PointBar();
  PointBar bar = leg_[0] ? CrossDay(day) : Shape(day, first, end).bar;
  for (int64_t hour = first; hour < end; hour += 60) {  // trading starts and stops on the hour
    Counts c = HourCounts(hour);
    bar.ticks += c.ticks;
    bar.trades += c.trades;
    bar.volume += c.volume;
  }
  return bar;
}

// ---- refinement into minutes -------------------------------------------------

void PriceModel::RefineAnchors(int64_t day) {
  if (refined_.day == day) return;
  refined_.day = day;
  refined_.minutes_ready = false;
  refined_.minutes.clear();
  refined_.anchors.clear();
  int64_t first, end;
  refined_.open = DayOpenSpan(instrument_, day, &first, &end);
  if (!refined_.open) return;
  refined_.first = first;
  const int n = int(end - first);
  std::vector<double>& x = refined_.anchors;
  x.resize(size_t(n) + 1);

  if (leg_[0]) {  // a cross follows its legs at every anchor
    leg_[0]->RefineAnchors(day);
    leg_[1]->RefineAnchors(day);
    const std::vector<double>& a = leg_[0]->refined_.anchors;
    const std::vector<double>& b = leg_[1]->refined_.anchors;
    for (int k = 0; k <= n; ++k) x[size_t(k)] = leg_sign_[0] * a[size_t(k)] + leg_sign_[1] * b[size_t(k)] + cross_offset_;
    return;
  }

  // A bridge from the open to the close, through the high and the low at
  // drawn minutes: Brownian bridges between these key points, reflected at
  // the extremes so that no anchor passes them.
  const DayShape shape = Shape(day, first, end);
  struct Key {
    int at;
    double value;
  };
  Key keys[4] = {{0, shape.open_anchor}, {n, shape.close_anchor}, {0, 0}, {0, 0}};
  int key_count = 2;
  if (n >= 3) {
    uint64_t h = Hash(seed_, uint64_t(day), kDrawDayExtremeTimes);
    int high_at = 1 + int((h >> 32) % uint64_t(n - 1));
    int low_at = 1 + (high_at + int((h & 0xFFFFFFFFu) % uint64_t(n - 2))) % (n - 1);  // another minute
    keys[key_count++] = {high_at, shape.high_anchor};
    keys[key_count++] = {low_at, shape.low_anchor};
    std::sort(keys, keys + key_count, [](const Key& a, const Key& b) { return a.at < b.at; });
  }
  const double top = shape.high_anchor, bottom = shape.low_anchor;
  const double sigma = kIntradayVol * instrument_.daily_vol / kSqrtMinutesPerDay;
  const uint64_t walk_seed = Hash(seed_, uint64_t(day), kDrawDayWalk);
  for (int i = 0; i + 1 < key_count; ++i) {
    const Key from = keys[i], to = keys[i + 1];
    double walk = 0;
    x[size_t(from.at)] = 0;
    for (int k = from.at + 1; k <= to.at; ++k) {
      walk += Normal(Mix(walk_seed ^ uint64_t(k) * 0x9E3779B97F4A7C15ull)) * sigma;
      x[size_t(k)] = walk;  // the walk for now; the bridge below
    }
    const double end_walk = walk, per_minute = 1.0 / double(to.at - from.at);
    for (int k = from.at; k <= to.at; ++k) {
      double f = double(k - from.at) * per_minute;
      double v = from.value + (to.value - from.value) * f + x[size_t(k)] - f * end_walk;
      v = std::min(v, 2 * top - v);     // reflected at the top: 2 * top - v is the lower when v > top
      v = std::max(v, 2 * bottom - v);  // and at the bottom
      x[size_t(k)] = std::min(top, std::max(bottom, v));
    }
  }
  x[0] = shape.open_anchor;
  x[size_t(n)] = shape.close_anchor;
}

void PriceModel::MinuteExtremes(int64_t minute, double from, double to, double* high, double* low) const {
  // Inside the minute the mid wanders like a bridge between its anchors. The
  // extremes are never inside the anchors, also not by a rounding.
  const double sigma = MinuteVol();
  uint64_t h = Hash(seed_, uint64_t(minute), kDrawMinuteExtremes);
  *high = std::max({from, to, from + BridgeMax(to - from, sigma, HighHalf(h))});
  *low = std::min({from, to, from + BridgeMin(to - from, sigma, LowHalf(h))});
}

PointBar PriceModel::MinuteFromAnchors(int64_t minute, const Counts& c, double from, double to, bool opens_day) const {
  MinuteSpreads s = Spreads(minute, opens_day);
  PointBar bar;
  bar.ticks = c.ticks;
  bar.trades = c.trades;
  bar.volume = c.volume;
  bar.spread = s.open;
  bar.close_spread = s.close;
  bar.open = BidPoints(from, s.open);
  bar.close = BidPoints(to, s.close);
  // The high tick has the narrowest spread and the low tick the widest: as
  // the extremes lie beyond both anchors, they are the minute's extremes,
  // whatever the spreads of its first and last ticks.
  double high, low;
  MinuteExtremes(minute, from, to, &high, &low);
  bar.high = std::max({bar.open, bar.close, BidPoints(high, narrowest_spread_)});
  bar.low = std::min({bar.open, bar.close, BidPoints(low, widest_spread_)});
  return bar;
}

PointBar PriceModel::CrossDay(int64_t day) {
  // The aggregate of the cross's minutes, without drawing each: a minute's
  // high is the bid of its highest mid (see MinuteFromAnchors), which lies
  // at most 3.4 minute volatilities above its higher anchor (the largest
  // draw of BridgeMax). Only minutes whose anchors come that close to the
  // day's highest anchor can hold the day's high; likewise for the low.
  RefineAnchors(day);
  const std::vector<double>& x = refined_.anchors;
  const int n = int(x.size()) - 1;
  const int64_t first = refined_.first;
  const double reach = 4 * MinuteVol();
  const double top = *std::max_element(x.begin(), x.end()), bottom = *std::min_element(x.begin(), x.end());
  double high = top, low = bottom;
  for (int k = 0; k < n; ++k) {
    double upper = std::max(x[size_t(k)], x[size_t(k) + 1]), lower = std::min(x[size_t(k)], x[size_t(k) + 1]);
    if (upper < top - reach && lower > bottom + reach) continue;
    double minute_high, minute_low;
    MinuteExtremes(first + k, x[size_t(k)], x[size_t(k) + 1], &minute_high, &minute_low);
    high = std::max(high, minute_high);
    low = std::min(low, minute_low);
  }
  PointBar bar;
  bar.open = BidPoints(x[0], Spreads(first, true).open);
  bar.close_spread = Spreads(first + n - 1, n == 1).close;
  bar.close = BidPoints(x[size_t(n)], bar.close_spread);
  bar.high = std::max({bar.open, bar.close, BidPoints(high, narrowest_spread_)});
  bar.low = std::min({bar.open, bar.close, BidPoints(low, widest_spread_)});
  bar.spread = narrowest_spread_;
  return bar;
}

void PriceModel::Refine(int64_t day, bool with_minutes) {
  RefineAnchors(day);
  if (!with_minutes || refined_.minutes_ready || !refined_.open) return;
  const std::vector<double>& x = refined_.anchors;
  const int n = int(x.size()) - 1;
  std::vector<PointBar>& minutes = refined_.minutes;
  minutes.resize(size_t(n));
  Counts counts[60];
  for (int k = 0; k < n; ++k) {
    if (k % 60 == 0) SplitHour(refined_.first + k, counts);
    minutes[size_t(k)] = MinuteFromAnchors(refined_.first + k, counts[k % 60], x[size_t(k)], x[size_t(k) + 1], k == 0);
  }
  refined_.minutes_ready = true;
  if (leg_[0]) return;  // a cross's day is the aggregate of its minutes, whatever they are

  // The day's extremes are reached exactly, at the minutes of the key
  // points; a minute whose own wander would pass them stops there.
  const PointBar day_bar = Shape(day, refined_.first, refined_.first + n).bar;
  for (PointBar& m : minutes) {
    m.high = std::min(m.high, day_bar.high);
    m.low = std::max(m.low, day_bar.low);
  }
  int high_at = 0, low_at = n - 1;
  if (n >= 3) {
    uint64_t h = Hash(seed_, uint64_t(day), kDrawDayExtremeTimes);
    high_at = 1 + int((h >> 32) % uint64_t(n - 1));
    low_at = 1 + (high_at + int((h & 0xFFFFFFFFu) % uint64_t(n - 2))) % (n - 1);
  }
  minutes[size_t(high_at)].high = day_bar.high;
  minutes[size_t(low_at)].low = day_bar.low;
}

PointBar PriceModel::Minute(int64_t minute) {
  Refine(FloorDiv(minute, 1440), true);
  if (!refined_.open) return PointBar();
  int64_t k = minute - refined_.first;
  if (k < 0 || k >= int64_t(refined_.minutes.size())) return PointBar();
  return refined_.minutes[size_t(k)];
}

// ---- ticks -------------------------------------------------------------------

void PriceModel::Ticks(int64_t minute, DrawnTicks* out) {
  out->minute = minute;
  out->count = 0;
  const PointBar bar = Minute(minute);
  if (bar.ticks == 0) return;  // market closed
  const int n = int(bar.ticks);
  const uint64_t m = uint64_t(minute);
  out->count = n;

  // Times: the first at :00.000, the others at hashed milliseconds, sorted
  // and pushed apart where two fall on the same millisecond.
  int32_t* offset = out->offset;
  offset[0] = 0;
  for (int i = 1; i < n; ++i) offset[i] = int32_t(1 + Hash(seed_, m, kDrawOffsets, uint64_t(i)) % 59999);
  std::sort(offset + 1, offset + n);
  for (int i = 2; i < n; ++i) offset[i] = std::max(offset[i], offset[i - 1] + 1);
  for (int i = n - 1, limit = 59999; i >= 1; --i, --limit) {
    offset[i] = std::min(offset[i], limit);
    limit = offset[i];
  }

  // Bids: the open on the first tick, the close on the last, the high and
  // the low on two drawn ticks between; the others a bridge in points
  // between these, kept inside the bar.
  int64_t* bid = out->bid;
  uint64_t hk = Hash(seed_, m, kDrawKeyTicks);
  int high_at = 1 + int((hk >> 32) % uint64_t(n - 2));
  int low_at = 1 + (high_at + int((hk & 0xFFFFFFFFu) % uint64_t(n - 3))) % (n - 2);
  struct Key {
    int at;
    int64_t value;
  };
  Key keys[4] = {{0, bar.open}, {high_at, bar.high}, {low_at, bar.low}, {n - 1, bar.close}};
  std::sort(keys, keys + 4, [](const Key& a, const Key& b) { return a.at < b.at; });
  const double amplitude = 0.5 * std::max(1.0, double(bar.high - bar.low));
  double walk[DrawnTicks::kMaxTicks];
  for (int i = 0; i < 3; ++i) {
    const Key from = keys[i], to = keys[i + 1];
    walk[from.at] = 0;
    for (int k = from.at + 1; k <= to.at; ++k) {
      walk[k] = walk[k - 1] + Normal(Hash(seed_, m, kDrawTickWalk, uint64_t(k))) * amplitude *
                                  std::sqrt(double(offset[k] - offset[k - 1]) / 60000.0);
    }
    const double span = double(offset[to.at] - offset[from.at]);
    for (int k = from.at; k <= to.at; ++k) {
      double f = double(offset[k] - offset[from.at]) / span;
      double v = double(from.value) + double(to.value - from.value) * f + walk[k] - f * walk[to.at];
      bid[k] = std::min(bar.high, std::max(bar.low, int64_t(std::llround(v))));
    }
  }
  for (const Key& key : keys) bid[key.at] = key.value;

  // Spreads, trades and flags. The first tick is a trade, and so are
  // (trades - 1) of the others, chosen one by one with the probability
  // that leaves exactly that many; the minute's volume is shared out
  // among them as evenly as it goes (1 to 10 each).
  int trades_left = int(bar.trades) - 1;
  const uint64_t extra = bar.volume - bar.trades;
  int trade_index = 0;
  int64_t prev_bid = -1, prev_ask = -1, prev_last = 0;
  for (int i = 0; i < n; ++i) {
    uint64_t h = Hash(seed_, m, kDrawTick, uint64_t(i));
    int32_t spread = i == 0       ? bar.spread
                     : i == n - 1 ? bar.close_spread
                                  : bar.spread + int32_t(Unit(h) * (widest_spread_ - bar.spread + 1));
    bool trade = i == 0;
    if (i > 0 && trades_left > 0) {
      trade = Unit(Mix(h ^ 0x33)) * double(n - i) < double(trades_left);
      trades_left -= int(trade);
    }
    int64_t ask = bid[i] + spread;
    uint32_t flags = (bid[i] != prev_bid ? kTickBid : 0) | (ask != prev_ask ? kTickAsk : 0);
    if (flags == 0 && !trade) {  // a tick that is no trade changes the quote: the ask moves up a point
      ++spread;
      ++ask;
      flags = kTickAsk;
    }
    out->spread[i] = spread;
    out->ask[i] = ask;
    uint64_t volume = 0;
    if (trade) {
      uint64_t t = uint64_t(trade_index++);
      volume = 1 + (t + 1) * extra / bar.trades - t * extra / bar.trades;
      bool buy = (Mix(h ^ 0x55) & 1) != 0;
      prev_last = buy ? ask : bid[i];
      flags |= kTickLast | kTickVolume | (buy ? kTickBuy : kTickSell);
    }
    out->last[i] = prev_last;
    out->volume[i] = volume;
    out->flags[i] = flags;
    prev_bid = bid[i];
    prev_ask = ask;
  }
}

Tick PriceModel::Priced(const DrawnTicks& d, int i) const {
  Tick t;
  t.time_msc = d.minute * 60000 + d.offset[i];
  t.bid = Price(d.bid[i]);
  t.ask = Price(d.ask[i]);
  t.last = Price(d.last[i]);
  t.volume = d.volume[i];
  t.flags = d.flags[i];
  t.volume_real = double(d.volume[i]);
  t.spread = d.spread[i];
  return t;
}

}  // namespace brv::paper
