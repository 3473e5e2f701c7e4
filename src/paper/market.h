// The simulated market: the catalogue of symbols (catalogue.h), the price
// model of each (price_model.h) and the bars and ticks served from it. Every
// price is a pure function of (seed, symbol, time): a day's bar is drawn
// from the day alone, and a day is refined into minutes and ticks only when
// they are asked for, so that bars of every timeframe and the ticks agree.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "paper/bars.h"
#include "paper/catalogue.h"
#include "paper/price_model.h"

namespace brv::paper {

class Market {
 public:
  explicit Market(uint64_t seed) : seed_(seed) {}

  // All ticks of a minute, in time order (the first at :00.000).
  void MinuteTicks(const SymbolSpec& instrument, int64_t minute, std::vector<Tick>* out) const;
  // The latest tick at or before now (ms).
  Tick LastTick(const SymbolSpec& instrument, int64_t now_ms) const;
  // Aggregate of the ticks with from_ms <= time < to_ms, tick by tick (for
  // spans of a day at most, such as today's figures).
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
  // The bar of a whole day, from the cache or drawn and cached.
  PointBar Day(PriceModel& model, int64_t day) const;
  // Draws and caches the days first_day <= day < end_day not yet cached.
  void CacheDays(const SymbolSpec& instrument, int64_t first_day, int64_t end_day) const;
  // The bar of the ticks with from_ms <= time < to_ms; from_ms is the start
  // of a minute.
  PointBar Span(PriceModel& model, int64_t from_ms, int64_t to_ms) const;

  uint64_t seed_;
  mutable std::mutex mu_;
  mutable std::unordered_map<uint64_t, PointBar> days_;
};

}  // namespace brv::paper
