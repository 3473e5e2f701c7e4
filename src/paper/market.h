// The simulated market: a fixed catalogue of symbols and a deterministic
// price model. Every price is a pure function of (seed, symbol, time), so
// years of minute history are served without storing any of it:
//
//  * a mid price is anchored at every minute boundary by multi-scale value
//    noise (hashed lattice values at scales of 1 to 4^10 minutes, smoothly
//    interpolated, amplitudes growing with the square root of the scale);
//  * inside minute m the ticks are derived from (symbol, m) alone: a tick at
//    :00.000 and a few more at hashed milliseconds, their mid prices a
//    Brownian bridge between the anchors of m and m + 1;
//  * a minute bar is the aggregate of its ticks, a longer bar the aggregate
//    of its minutes (whole days are aggregated once and cached).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace brv::paper {

struct SymbolSpec {
  int index;
  const char* name;
  const char* description;
  const char* path;
  const char* category;
  const char* base;
  const char* profit;
  const char* margin;
  uint32_t calc_mode;
  int digits;
  double base_price;    // centre of the price model
  double daily_vol;     // typical relative move per day
  double spread;        // typical spread in points
  double contract;      // contract size
  double margin_rate;   // margin = volume * contract * price / leverage * margin_rate
  double ticks_per_minute;
  bool session_hours;   // activity follows the trading sessions of the day
  double volume_min, volume_max, volume_step;
  bool selected;        // in the watch list at start
  double point() const;
};

const std::vector<SymbolSpec>& Catalogue();
const SymbolSpec* FindSymbol(const std::u16string& name);
std::u16string SymbolName(const SymbolSpec& instrument);

struct Tick {
  int64_t time_msc;
  double bid, ask, last;
  uint64_t volume;
  uint32_t flags;
  double volume_real;
  int32_t spread;  // points
};

// Aggregate of a run of ticks; empty when ticks == 0.
struct Aggregate {
  uint64_t ticks = 0;
  double open = 0, high = 0, low = 0, close = 0;  // bid
  double ask_high = 0, ask_low = 0;
  double last_high = 0, last_low = 0;
  uint64_t volume = 0;       // sum of the trade volumes
  uint64_t trades = 0;       // ticks that carry a trade
  uint64_t volume_high = 0;  // largest and smallest trade volume
  uint64_t volume_low = 0;
  int32_t spread_min = 0;

  void Add(const Tick& t);
  void Merge(const Aggregate& later);
};

struct Bar {
  int64_t time;
  double open, high, low, close;
  uint64_t tick_volume;
  int32_t spread;
  uint64_t real_volume;
};

bool ValidTimeframe(int32_t timeframe);
// Bars are numbered: index of the bar holding time t, start of bar i.
int64_t BarIndex(int32_t timeframe, int64_t t);
int64_t BarStart(int32_t timeframe, int64_t index);

int64_t FloorDiv(int64_t a, int64_t b);

class Market {
 public:
  explicit Market(uint64_t seed) : seed_(seed) {}

  // Mid price anchored at the start of a minute.
  double AnchorMid(const SymbolSpec& instrument, int64_t minute) const;
  // All ticks of a minute, in time order (the first at :00.000).
  void MinuteTicks(const SymbolSpec& instrument, int64_t minute, std::vector<Tick>* out) const;
  // The latest tick at or before now (ms).
  Tick LastTick(const SymbolSpec& instrument, int64_t now_ms) const;
  // Aggregate of the ticks with from_ms <= time < to_ms (history only).
  Aggregate Range(const SymbolSpec& instrument, int64_t from_ms, int64_t to_ms) const;

  // Bars with index first..last (inclusive), only those that hold ticks up
  // to now, oldest first.
  void Bars(const SymbolSpec& instrument, int32_t timeframe, int64_t first, int64_t last, int64_t now_ms,
            std::vector<Bar>* out) const;

  // Ticks with time >= from_ms (and <= to_ms, <= now_ms) that pass the
  // selection, at most `limit` of them, oldest first.
  void Ticks(const SymbolSpec& instrument, int64_t from_ms, int64_t to_ms, int32_t selection, size_t limit,
             int64_t now_ms, std::vector<Tick>* out) const;

  uint64_t seed() const { return seed_; }

 private:
  // Aggregate of a whole past day, from the cache or computed and cached.
  Aggregate Day(const SymbolSpec& instrument, int64_t day) const;
  // Computes and caches the days first_day <= day < end_day not yet cached.
  void CacheDays(const SymbolSpec& instrument, int64_t first_day, int64_t end_day) const;
  uint64_t SymbolSeed(const SymbolSpec& instrument) const;

  uint64_t seed_;
  mutable std::mutex mu_;
  mutable std::unordered_map<uint64_t, Aggregate> days_;
};

// Minimal distance of stops from the market (or from a pending order's
// price), in points: twice the symbol's typical spread.
int32_t StopsLevel(const SymbolSpec& instrument);

// Price rounded to the symbol's digits.
double RoundPrice(double price, int digits);

}  // namespace brv::paper
