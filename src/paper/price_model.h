// The price model of one symbol. Every price is a pure function of the
// market's seed, the symbol and the time, so years of history are served
// without storing any of it. The model works from the top down:
//
//  * a day's bar (open, high, low and close in points of the bid, its tick
//    count and volume) is drawn from the day alone: its open and close sit
//    on the slow noise of the currency system (or of the symbol), its high
//    and low are drawn as the extremes of a Brownian bridge between them;
//  * a day is refined into minutes only when they are asked for: the mid
//    prices at the minute boundaries (anchors) are a bridge from the day's
//    open through its high and low to its close, and each minute's bar is
//    drawn from its two anchors, so that the minutes add up to the day;
//  * a minute's ticks are drawn to hit the minute's bar exactly.
//
// A cross (a forex pair without USD) is refined from its legs: its anchors
// are the product or ratio of theirs, and its day bar is the aggregate of
// its minutes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "paper/bars.h"
#include "paper/catalogue.h"

namespace brv::paper {

// A bar in whole points of the bid, with what its ticks add up to.
struct PointBar {
  uint64_t ticks = 0;  // 0: no trading in it
  int64_t open = 0, high = 0, low = 0, close = 0;
  uint64_t trades = 0;       // ticks that carry a trade
  uint64_t volume = 0;       // sum of the trade volumes
  int32_t spread = 0;        // the narrowest spread
  int32_t close_spread = 0;  // the spread of the last tick

  void Merge(const PointBar& later);
};

// The ticks of one minute in whole points: tick i is at offset[i]
// milliseconds into the minute; its ask is bid + spread.
struct DrawnTicks {
  static constexpr int kMaxTicks = 250;
  int64_t minute = 0;
  int count = 0;
  int32_t offset[kMaxTicks];
  int32_t spread[kMaxTicks];
  int64_t bid[kMaxTicks], ask[kMaxTicks], last[kMaxTicks];
  uint32_t flags[kMaxTicks];
  uint64_t volume[kMaxTicks];  // 0 without a trade
};

// Not thread-safe: it keeps the day it refined last, so that walking the
// minutes or ticks of a day refines it once.
class PriceModel {
 public:
  PriceModel(uint64_t market_seed, const SymbolSpec& instrument);
  ~PriceModel();
  PriceModel(const PriceModel&) = delete;
  PriceModel& operator=(const PriceModel&) = delete;

  const SymbolSpec& instrument() const { return instrument_; }

  // The bar of a whole day (days since 1970-01-01 UTC).
  PointBar Day(int64_t day);
  // The bar of a minute (minutes since 1970-01-01 UTC).
  PointBar Minute(int64_t minute);
  // The ticks of a minute in time order, the first at :00.000 (none while
  // the market is closed).
  void Ticks(int64_t minute, DrawnTicks* out);

  double Price(int64_t points) const { return double(points) / scale_; }
  Tick Priced(const DrawnTicks& drawn, int i) const;

 private:
  struct Counts {
    uint64_t ticks, trades, volume;
  };
  struct MinuteSpreads {
    int32_t open, close;
  };
  // The day's open, high, low and close, and the anchors they come from.
  struct DayShape {
    double open_anchor, close_anchor, high_anchor, low_anchor;  // logs of the mid over the base price
    PointBar bar;
  };

  // Relative activity of the hour (the trading sessions), minutes since 1970.
  double Activity(int64_t hour) const;
  // What the ticks of an hour add up to, drawn for the hour, and its split
  // into the hour's minutes.
  Counts HourCounts(int64_t hour) const;
  void SplitHour(int64_t hour, Counts minutes[60]) const;
  MinuteSpreads Spreads(int64_t minute, bool opens_day) const;
  int64_t BidPoints(double anchor, int32_t spread) const;
  // Typical extent of the wander of the mid inside a minute (log).
  double MinuteVol() const;
  DayShape Shape(int64_t day, int64_t first, int64_t end) const;
  // Highest and lowest mid (logs) of a minute between its anchors.
  void MinuteExtremes(int64_t minute, double from, double to, double* high, double* low) const;
  // The day of a cross, from its anchors.
  PointBar CrossDay(int64_t day);
  PointBar MinuteFromAnchors(int64_t minute, const Counts& counts, double from, double to, bool opens_day) const;
  // Fills refined_ with the day's anchors, and with its minute bars unless
  // only the anchors are needed (by a cross of which this is a leg).
  void Refine(int64_t day, bool with_minutes);
  void RefineAnchors(int64_t day);

  uint64_t seed_;         // of the symbol
  uint64_t counts_seed_;  // of the hours' tick counts
  const SymbolSpec& instrument_;
  double scale_;          // 10^digits
  int32_t narrowest_spread_, widest_spread_;
  double day_noise_offset_ = 0;  // the currency system's value at the model's centre
  struct Factor;
  std::vector<Factor> factors_;  // slow noises, summed at day boundaries

  // A cross: its anchors are leg_sign_[0] * leg 0 + leg_sign_[1] * leg 1 +
  // cross_offset_ (logs).
  std::unique_ptr<PriceModel> leg_[2];
  double leg_sign_[2] = {0, 0};
  double cross_offset_ = 0;

  struct Refined {
    int64_t day = INT64_MIN;
    bool open = false;
    bool minutes_ready = false;
    int64_t first = 0;            // first open minute
    std::vector<double> anchors;  // at the open minutes' starts, and the end of the last
    std::vector<PointBar> minutes;
  } refined_;
};

}  // namespace brv::paper
