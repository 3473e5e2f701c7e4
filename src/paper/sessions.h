// Trading hours of the paper market: forex, metals and indices close for the
// weekend, from Friday 22:00 to Sunday 22:00 UTC, and have neither ticks nor
// bars then; crypto trades every day, around the clock.
#pragma once

#include <cstdint>

#include "paper/bars.h"
#include "paper/catalogue.h"

namespace brv::paper {

// Whether the symbol trades during the minute (minutes since 1970-01-01 UTC).
bool MarketOpen(const SymbolSpec& instrument, int64_t minute);
// The latest minute at or before `minute` in which the symbol trades.
int64_t LastOpenMinute(const SymbolSpec& instrument, int64_t minute);

// The minutes of the day (days since 1970-01-01 UTC) in which the symbol
// trades, [*first, *end); false on a day without trading. A day's trading
// is one unbroken stretch: all day, or up to the Friday close, or from the
// Sunday open.
bool DayOpenSpan(const SymbolSpec& instrument, int64_t day, int64_t* first, int64_t* end);

// Whether the bar `index` of the timeframe holds at least one open minute.
bool BarOpen(const SymbolSpec& instrument, int32_t timeframe, int64_t index);
// The latest bar at or before `index` that holds an open minute.
int64_t LastOpenBar(const SymbolSpec& instrument, int32_t timeframe, int64_t index);
// The open bar `n` open bars before the open bar `index` (n >= 0): the first
// of the n + 1 open bars that end at `index`.
int64_t OpenBarsBack(const SymbolSpec& instrument, int32_t timeframe, int64_t index, int64_t n);

}  // namespace brv::paper
