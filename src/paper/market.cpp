#include "paper/market.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>
#include <type_traits>

#include "paper/codes.h"
#include "paper/sessions.h"

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

inline uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

inline uint64_t Hash(uint64_t a, uint64_t b, uint64_t c, uint64_t d = 0) {
  return Mix(a ^ Mix(b * 0xD6E8FEB86659FD93ull ^ c * 0x9E3779B97F4A7C15ull ^ d * 0xC2B2AE3D27D4EB4Full));
}

double Unit(uint64_t h) { return double(h >> 11) * 0x1.0p-53; }   // [0, 1)
double Signed(uint64_t h) { return 2.0 * Unit(h) - 1.0; }          // [-1, 1)
// A standard normal deviate, near enough: the sum of four 16-bit uniforms
// of one hash (Irwin-Hall), centred and scaled to unit variance.
double Normal(uint64_t h) {
  double sum = double(int64_t((h & 0xFFFF) + ((h >> 16) & 0xFFFF) + ((h >> 32) & 0xFFFF) + (h >> 48)));
  return (sum / 65536.0 - 2.0) * 1.7320508075688772;
}

const double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

#if defined(__GNUC__)
#define BRV_VECTOR_RANK 1
// Four 32-bit integers in a vector register (a GCC and Clang extension).
typedef int32_t Int4 __attribute__((vector_size(16)));
#endif

// a if the condition holds, else b: a selection by mask, without a branch.
template <class T>
T Choose(bool condition, T a, T b) {
  using Bits = std::make_unsigned_t<T>;
  Bits mask = Bits(0) - Bits(condition);
  return T((Bits(a) & mask) | (Bits(b) & ~mask));
}

// A tick without a price move is a trade, and any other with probability
// 0.4: Unit(h) < 0.4 exactly when h >> 11 < 0.4 * 2^53 (a whole number).
constexpr uint64_t kTradeBelow = uint64_t(0.4 * 0x1p53);
static_assert(0.4 * 0x1p53 == double(kTradeBelow), "0.4 * 2^53 is whole");

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

// The log of the anchor (mid / base price) at a minute boundary: the sum over
// the scales 4^k of value noise, lattice values hashed every 4^k minutes and
// blended by a smoothstep in between. Each scale keeps the lattice values at
// both ends of the cell of the last minute asked, so walking minutes in
// increasing order hashes about one new value per minute instead of up to
// two per scale; the result does not depend on the order of the calls.
class AnchorNoise {
 public:
  AnchorNoise() : AnchorNoise(0, 0.0) {}
  AnchorNoise(uint64_t seed, const SymbolSpec& instrument) : AnchorNoise(seed, instrument.daily_vol) {}
  AnchorNoise(uint64_t seed, double daily_vol) : seed_(seed) {
    const double sigma = daily_vol / 37.94733192202055;  // per minute: sqrt(1440)
    for (int k = 0; k < kScales; ++k) {
      amplitude_[k] = 0.6 * sigma * double(int64_t(1) << k);  // grows with sqrt(4^k) = 2^k
      inverse_[k] = 1.0 / double(int64_t(1) << (2 * k));       // exact: a power of two
    }
  }

  double At(int64_t minute) {
    double total = 0;
    total += amplitude_[0] * Lattice(0, minute);  // scale 1: a lattice value at every minute
    for (int k = 1; k < kScales; ++k) {
      int64_t j = minute >> (2 * k);  // floor division by 4^k
      Cell& cell = cells_[k];
      if (!cell.valid || cell.index != j) Enter(k, j);
      // At a lattice point (rest 0) the smoothstep is 0 and g is g0 exactly.
      int64_t rest = minute - j * (int64_t(1) << (2 * k));
      double f = double(rest) * inverse_[k];
      double s = f * f * (3.0 - 2.0 * f);
      double g = cell.g0 + cell.step * s;
      total += amplitude_[k] * g;
    }
    return total;
  }

 private:
  struct Cell {
    bool valid = false;
    int64_t index = 0;
    double g0 = 0, g1 = 0;  // lattice values at index and index + 1
    double step = 0;        // g1 - g0
  };

  double Lattice(int k, int64_t j) const { return Signed(Hash(seed_, 100 + k, uint64_t(j))); }

  // Moves scale k to cell j; the next cell starts where the last one ended.
  void Enter(int k, int64_t j) {
    Cell& cell = cells_[k];
    cell.g0 = cell.valid && j == cell.index + 1 ? cell.g1 : Lattice(k, j);
    cell.g1 = Lattice(k, j + 1);
    cell.step = cell.g1 - cell.g0;
    cell.index = j;
    cell.valid = true;
  }

  uint64_t seed_;
  double amplitude_[kScales];
  double inverse_[kScales];
  Cell cells_[kScales];
};

// Forex is a system of currencies: each has a value against a common
// numeraire, the exponential of a sum of value noises (its own, and a regional
// factor shared by the European currencies or by the commodity currencies),
// and a pair's anchor is the ratio of its two currencies' values. So crosses
// follow their legs exactly at every anchor (EURJPY = EURUSD x USDJPY,
// EURGBP = EURUSD / GBPUSD), and the majors are correlated through USD and
// the regional factors (EURUSD and USDCHF strongly negative, AUDUSD and
// NZDUSD strongly positive). Other symbols have a noise of their own.
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

class PriceNoise {
 public:
  PriceNoise(uint64_t symbol_seed, uint64_t market_seed, const SymbolSpec& instrument) {
    const CurrencyModel* base = FindCurrency(instrument.base);
    const CurrencyModel* quote = FindCurrency(instrument.profit);
    if (instrument.calc_mode != kCalcForex || base == nullptr || quote == nullptr) {
      Add(AnchorNoise(symbol_seed, instrument), 1.0);
      return;
    }
    offset_ = std::log(base->value / quote->value / instrument.base_price);
    for (const auto* c : {base, quote}) {
      double sign = c == base ? 1.0 : -1.0;
      Add(AnchorNoise(Hash(market_seed, 0xC0, uint64_t(c - kCurrencies)), c->own_vol), sign);
      if (c->region >= 0) {
        Add(AnchorNoise(Hash(market_seed, 0xE0, uint64_t(c->region)), kRegionVol[c->region]), sign * c->loading);
      }
    }
  }

  double At(int64_t minute) {
    double total = offset_;
    for (int i = 0; i < count_; ++i) total += weight_[i] * factor_[i].At(minute);
    return total;
  }

 private:
  void Add(const AnchorNoise& noise, double weight) {
    factor_[count_] = noise;
    weight_[count_++] = weight;
  }
  AnchorNoise factor_[4];
  double weight_[4] = {};
  int count_ = 0;
  double offset_ = 0;
};

// std::round for 0 <= v < 2^52, without a library call or a branch: v
// minus its integer part is exact, so the comparison with a half is too.
double RoundNonNegative(double v) {
  double whole = double(int64_t(v));
  return whole + double(int(v - whole >= 0.5));
}

// The bid of a tick in whole points: by definition
//   std::round(base * std::exp(x) * scale - spread / 2)
// with x the log of the mid. Within a minute x stays within a few
// thousandths of the minute's opening anchor a, so exp(x) = exp(a) *
// exp(x - a) with exp(a) computed once and the second factor from its
// Taylor series to the 4th power (error below 1e-14 for |x - a| < 1/256).
// With every rounding counted, this estimate and the double that the
// definition rounds both lie within 2e-14 (relative) of the exact value:
// when the estimate is farther than 1e-13 from a half point, both round to
// the same whole number. Otherwise, about once in a million ticks, the
// definition decides.
class BidPoints {
 public:
  explicit BidPoints(const SymbolSpec& instrument)
      : base_(instrument.base_price), scale_(kPow10[instrument.digits]) {}

  void SetAnchor(double a) {
    anchor_ = a;
    factor_ = base_ * scale_ * std::exp(a);
    // At least 1e-13 of the estimate from a half point, as the estimate is
    // at most factor_ * 1.004.
    within_ = 0.5 - factor_ * 1.004e-13;
  }

  int64_t operator()(double x, int32_t spread) const {
    double d = x - anchor_;
    if (std::fabs(d) < 1.0 / 256) {
      double d2 = d * d;  // the terms paired so that they are computed side by side
      double y = factor_ * ((1 + d) + d2 * ((1.0 / 2 + d * (1.0 / 6)) + d2 * (1.0 / 24))) - spread / 2.0;
      if (y >= 1 && y < 0x1p52) {
        int64_t nearest = int64_t(y + 0.5);  // y + 0.5 is exact but within an ulp of a half
        if (std::fabs(y - double(nearest)) < within_) return nearest;
      }
    }
    return int64_t(std::round(base_ * std::exp(x) * scale_ - spread / 2.0));
  }

 private:
  double base_, scale_;
  double anchor_ = 0, factor_ = 0, within_ = 0;
};

// The ticks of one minute in whole points, as drawn: tick i is at
// offset[i] milliseconds into the minute; its ask is bid + spread.
struct DrawnTicks {
  int64_t minute = 0;
  int count = 0;
  int32_t offset[256];
  int32_t spread[256];
  int64_t bid[256], ask[256], last[256];
  uint32_t flags[256];
  uint64_t volume[256];  // 0 without a trade
};

// The ticks of one symbol, minute by minute. The anchor at the end of a
// minute is the one at the start of the next: walking minutes in order
// computes each anchor once, and the noise reuses its lattice values.
//
// Ticks are drawn in points (bid, ask and last as whole numbers of points)
// and priced by dividing by 10^digits. The division keeps the order and
// tells distinct whole numbers apart, so comparisons and extremes in points
// give the same ticks and aggregates as in prices.
class TickSource {
 public:
  TickSource(uint64_t seed, uint64_t market_seed, const SymbolSpec& instrument)
      : seed_(seed), instrument_(instrument), scale_(kPow10[instrument.digits]), noise_(seed, market_seed, instrument),
        bid_points_(instrument) {}

  // The ticks of the minute, in time order (the first at :00.000).
  void Draw(int64_t minute, DrawnTicks* out);

  double Price(int64_t points) const { return double(points) / scale_; }

  Tick Priced(const DrawnTicks& d, int i) const {
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

 private:
  uint64_t seed_;
  const SymbolSpec& instrument_;
  double scale_;
  PriceNoise noise_;
  BidPoints bid_points_;
  bool has_end_ = false;  // the anchor at the end of the last minute drawn
  int64_t end_minute_ = 0;
  double end_anchor_ = 0;
};

void TickSource::Draw(int64_t minute, DrawnTicks* out) {
  const SymbolSpec& instrument = instrument_;
  out->minute = minute;
  if (!MarketOpen(instrument, minute)) {  // no ticks while the market is closed
    out->count = 0;
    return;
  }
  const uint64_t seed = seed_;
  const uint64_t m = uint64_t(minute);
  double factor = 1.0;
  if (instrument.session_hours) factor = SessionFactor(int(FloorDiv(minute, 60) - FloorDiv(minute, 1440) * 24));
  double mean = std::max(1.0, instrument.ticks_per_minute * factor);
  int n = 1 + int(Unit(Hash(seed, m, 1)) * 2.0 * (mean - 1.0) + 0.5);
  n = std::min(n, 250);

  // Tick times: hashed milliseconds after the one at :00.000, sorted. A
  // comparison sort would mispredict a branch at nearly every tick; instead
  // each offset's rank is the number of smaller ones, counted for 16 offsets
  // at a time in vector registers.
  int32_t keys[256 + 16];  // offset * 256 + draw number: all distinct
  keys[0] = 0;
  for (int i = 1; i < n; ++i) keys[i] = int32_t(1 + Hash(seed, m, 2, uint64_t(i)) % 59999) * 256 + i;
  for (int k = 0; k < 16; ++k) keys[n + k] = INT32_MAX;  // padding, ranked n and beyond
  int32_t sorted[256 + 16];
#if BRV_VECTOR_RANK
  for (int i = 0; i < n; i += 16) {
    Int4 k0, k1, k2, k3, r0 = {}, r1 = {}, r2 = {}, r3 = {};
    std::memcpy(&k0, keys + i, sizeof k0);
    std::memcpy(&k1, keys + i + 4, sizeof k1);
    std::memcpy(&k2, keys + i + 8, sizeof k2);
    std::memcpy(&k3, keys + i + 12, sizeof k3);
    for (int j = 0; j < n; ++j) {
      Int4 key = {keys[j], keys[j], keys[j], keys[j]};
      r0 -= key < k0;  // a true comparison is -1
      r1 -= key < k1;
      r2 -= key < k2;
      r3 -= key < k3;
    }
    for (int k = 0; k < 4; ++k) {
      sorted[r0[k]] = keys[i + k] >> 8;
      sorted[r1[k]] = keys[i + 4 + k] >> 8;
      sorted[r2[k]] = keys[i + 8 + k] >> 8;
      sorted[r3[k]] = keys[i + 12 + k] >> 8;
    }
  }
#else
  // The same ranks without vector types (other compilers).
  for (int i = 0; i < n; ++i) {
    int rank = 0;
    for (int j = 0; j < n; ++j) rank += keys[j] < keys[i] ? 1 : 0;
    sorted[rank] = keys[i] >> 8;
  }
#endif

  // A Brownian bridge from anchor to anchor over the minute, sampled at the
  // offsets (a millisecond drawn twice holds one tick).
  const double sigma = instrument.daily_vol / 37.94733192202055 * 0.5;
  int32_t* offsets = out->offset;
  double walk[256];
  offsets[0] = 0;
  walk[0] = 0;
  int count = 1;
  for (int i = 1; i < n; ++i) {
    if (sorted[i] == offsets[count - 1]) continue;
    offsets[count] = sorted[i];
    walk[count] = walk[count - 1] + Normal(Hash(seed, m, 3, uint64_t(count))) * sigma *
                                        std::sqrt(double(offsets[count] - offsets[count - 1]) / 60000.0);
    ++count;
  }
  n = count;
  double end = walk[n - 1] + Normal(Hash(seed, m, 3, uint64_t(n))) * sigma *
                                 std::sqrt(double(60000 - offsets[n - 1]) / 60000.0);

  const double a = has_end_ && end_minute_ == minute ? end_anchor_ : noise_.At(minute);
  const double b = noise_.At(minute + 1);
  has_end_ = true;
  end_minute_ = minute + 1;
  end_anchor_ = b;
  bid_points_.SetAnchor(a);

  // Each tick's spread and bid in whole points. The ticks are independent
  // here, so the processor works on several at once.
  out->minute = minute;
  out->count = n;
  uint64_t draws[256];
  for (int i = 0; i < n; ++i) {
    uint64_t h = Hash(seed, m, 4, uint64_t(i));
    draws[i] = h;
    out->spread[i] = int32_t(std::max(1.0, RoundNonNegative(instrument.spread * (0.75 + 0.5 * Unit(h)))));
  }
  for (int i = 0; i < n; ++i) {
    double f = offsets[i] / 60000.0;
    double x = a + (b - a) * f + walk[i] - f * end;  // log of the mid
    out->bid[i] = bid_points_(x, out->spread[i]);
    out->ask[i] = out->bid[i] + out->spread[i];
  }

  // Flags and trades, which depend on the tick before. A trade is a coin
  // toss at every tick, so the choices that depend on it are selections
  // rather than branches (which would be mispredicted half the time).
  int64_t prev_bid = -1, prev_ask = -1, prev_last = 0;
  for (int i = 0; i < n; ++i) {
    uint64_t h = draws[i];
    int64_t bid = out->bid[i];
    int64_t ask = out->ask[i];
    uint32_t flags = (bid != prev_bid ? kTickBid : 0) | (ask != prev_ask ? kTickAsk : 0);  // both at i == 0
    bool trade = (i == 0) | (flags == 0) | (Mix(h) >> 11 < kTradeBelow);
    bool buy = (Mix(h ^ 0x55) & 1) != 0;
    uint64_t volume = 1 + Mix(h ^ 0xAA) % 10;
    int64_t last = Choose(trade, Choose(buy, ask, bid), prev_last);
    out->last[i] = last;
    out->volume[i] = Choose(trade, volume, uint64_t(0));
    out->flags[i] = flags | Choose(trade, kTickLast | kTickVolume | Choose(buy, kTickBuy, kTickSell), 0u);
    prev_bid = bid;
    prev_ask = ask;
    prev_last = last;
  }
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

int32_t StopsLevel(const SymbolSpec& instrument) { return int32_t(std::ceil(2 * instrument.spread)); }

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
  return instrument.base_price * std::exp(PriceNoise(SymbolSeed(instrument), seed_, instrument).At(minute));
}

void Market::MinuteTicks(const SymbolSpec& instrument, int64_t minute, std::vector<Tick>* out) const {
  TickSource source(SymbolSeed(instrument), seed_, instrument);
  DrawnTicks drawn;
  source.Draw(minute, &drawn);
  out->clear();
  for (int i = 0; i < drawn.count; ++i) out->push_back(source.Priced(drawn, i));
}

Tick Market::LastTick(const SymbolSpec& instrument, int64_t now_ms) const {
  TickSource source(SymbolSeed(instrument), seed_, instrument);
  DrawnTicks drawn;
  int64_t minute = FloorDiv(now_ms, 60000);
  if (!MarketOpen(instrument, minute)) {
    // Closed: the last tick before the close.
    source.Draw(LastOpenMinute(instrument, minute), &drawn);
    return source.Priced(drawn, drawn.count - 1);
  }
  source.Draw(minute, &drawn);
  int last = 0;  // the first tick, at :00.000, is never after now
  while (last + 1 < drawn.count && drawn.minute * 60000 + drawn.offset[last + 1] <= now_ms) ++last;
  return source.Priced(drawn, last);
}

namespace {

uint64_t DayKey(const SymbolSpec& instrument, int64_t day) { return (uint64_t(instrument.index) << 40) ^ uint64_t(day); }

// The aggregate of a day's 1,440 minutes: the sums and extremes of
// Aggregate::Add, kept in points. Every open minute opens with a trade, so the
// day has a first tick and trades.
Aggregate DayOfTicks(uint64_t seed, uint64_t market_seed, const SymbolSpec& instrument, int64_t day) {
  TickSource source(seed, market_seed, instrument);
  DrawnTicks drawn;
  int64_t open = 0, close = 0, high = INT64_MIN, low = INT64_MAX, ask_high = INT64_MIN, ask_low = INT64_MAX;
  int64_t last_high = INT64_MIN, last_low = INT64_MAX;
  uint64_t ticks = 0, volume = 0, trades = 0, volume_high = 0, volume_low = UINT64_MAX;
  int32_t spread_min = INT32_MAX;
  for (int64_t minute = day * 1440; minute < (day + 1) * 1440; ++minute) {
    source.Draw(minute, &drawn);
    if (drawn.count == 0) continue;  // market closed
    if (ticks == 0) open = drawn.bid[0];
    for (int i = 0; i < drawn.count; ++i) {
      high = std::max(high, drawn.bid[i]);
      low = std::min(low, drawn.bid[i]);
      ask_high = std::max(ask_high, drawn.ask[i]);
      ask_low = std::min(ask_low, drawn.ask[i]);
      last_high = std::max(last_high, drawn.last[i]);
      last_low = std::min(last_low, drawn.last[i]);
      spread_min = std::min(spread_min, drawn.spread[i]);
      bool trade = (drawn.flags[i] & kTickVolume) != 0;
      trades += uint64_t(trade);
      volume += drawn.volume[i];
      volume_high = std::max(volume_high, drawn.volume[i]);
      volume_low = std::min(volume_low, trade ? drawn.volume[i] : UINT64_MAX);
    }
    ticks += uint64_t(drawn.count);
    close = drawn.bid[drawn.count - 1];
  }
  Aggregate agg;
  if (ticks == 0) return agg;
  agg.ticks = ticks;
  agg.open = source.Price(open);
  agg.high = source.Price(high);
  agg.low = source.Price(low);
  agg.close = source.Price(close);
  agg.ask_high = source.Price(ask_high);
  agg.ask_low = source.Price(ask_low);
  agg.last_high = source.Price(last_high);
  agg.last_low = source.Price(last_low);
  agg.volume = volume;
  agg.trades = trades;
  agg.volume_high = volume_high;
  agg.volume_low = volume_low;
  agg.spread_min = spread_min;
  return agg;
}

// Below this many missing days one thread does the work.
constexpr size_t kParallelDays = 16;

}  // namespace

Aggregate Market::Day(const SymbolSpec& instrument, int64_t day) const {
  uint64_t key = DayKey(instrument, day);
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = days_.find(key);
    if (it != days_.end()) return it->second;
  }
  Aggregate agg = DayOfTicks(SymbolSeed(instrument), seed_, instrument, day);
  std::lock_guard<std::mutex> lock(mu_);
  days_[key] = agg;
  return agg;
}

void Market::CacheDays(const SymbolSpec& instrument, int64_t first_day, int64_t end_day) const {
  std::vector<int64_t> missing;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (int64_t day = first_day; day < end_day; ++day) {
      if (days_.count(DayKey(instrument, day)) == 0) missing.push_back(day);
    }
  }
  if (missing.empty()) return;
  // The days are independent: the caller and one helper thread take them in
  // turn, without the lock, and the results enter the cache at the end.
  const uint64_t seed = SymbolSeed(instrument);
  std::vector<Aggregate> found(missing.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < missing.size(); i = next++) found[i] = DayOfTicks(seed, seed_, instrument, missing[i]);
  };
  std::thread helper;
  if (missing.size() >= kParallelDays && std::thread::hardware_concurrency() > 1) {
    try {
      helper = std::thread(work);
    } catch (const std::system_error&) {
      // No thread to spare: the caller does every day.
    }
  }
  work();
  if (helper.joinable()) helper.join();
  std::lock_guard<std::mutex> lock(mu_);
  for (size_t i = 0; i < missing.size(); ++i) days_.emplace(DayKey(instrument, missing[i]), found[i]);
}

Aggregate Market::Range(const SymbolSpec& instrument, int64_t from_ms, int64_t to_ms) const {
  Aggregate agg;
  int64_t t = std::max(from_ms, kHistoryStart * 1000);
  TickSource source(SymbolSeed(instrument), seed_, instrument);
  DrawnTicks drawn;
  while (t < to_ms) {
    int64_t day = FloorDiv(t, 86400000);
    if (t == day * 86400000 && to_ms >= (day + 1) * 86400000) {
      agg.Merge(Day(instrument, day));
      t = (day + 1) * 86400000;
      continue;
    }
    int64_t minute = FloorDiv(t, 60000);
    source.Draw(minute, &drawn);
    for (int i = 0; i < drawn.count; ++i) {
      int64_t time_msc = minute * 60000 + drawn.offset[i];
      if (time_msc >= t && time_msc < to_ms) agg.Add(source.Priced(drawn, i));
    }
    t = (minute + 1) * 60000;
  }
  return agg;
}

void Market::Bars(const SymbolSpec& instrument, int32_t timeframe, int64_t first, int64_t last, int64_t now_ms,
                  std::vector<Bar>* out) const {
  if (timeframe >= 1440 && first <= last) {
    // Bars of whole days: the past days they span are computed up front, in parallel.
    int64_t from_ms = std::max(BarStart(timeframe, first), kHistoryStart) * 1000;
    int64_t to_ms = std::min(BarStart(timeframe, last + 1) * 1000, now_ms + 1);
    CacheDays(instrument, FloorDiv(from_ms + 86399999, 86400000), FloorDiv(to_ms, 86400000));
  }
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
  TickSource source(SymbolSeed(instrument), seed_, instrument);
  DrawnTicks drawn;
  for (int64_t minute = FloorDiv(from, 60000); minute * 60000 <= to && out->size() < limit; ++minute) {
    source.Draw(minute, &drawn);
    for (int i = 0; i < drawn.count; ++i) {
      Tick t = source.Priced(drawn, i);
      if (t.time_msc < from || t.time_msc > to) continue;
      if (selection == kCopyTicksQuotes && !(t.flags & (kTickBid | kTickAsk))) continue;
      if (selection == kCopyTicksTrades && !(t.flags & kTickLast)) continue;
      out->push_back(t);
      if (out->size() >= limit) break;
    }
  }
}

}  // namespace brv::paper
