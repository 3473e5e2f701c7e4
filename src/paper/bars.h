// Ticks, their aggregates and bars, and the numbering of bars in time.
#pragma once

#include <cstdint>

namespace brv::paper {

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

}  // namespace brv::paper
